#include "app/DocumentList.h"

#include <algorithm>
#include <array>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Strings.h"

namespace app {
namespace {

// The size steps: a figure above `threshold` in the unit before is shown with `format`.
struct SizeStep {
    std::uint64_t threshold;
    const char* format;
};
constexpr std::array<SizeStep, 3> kSizeSteps{{
    {1023, "%.1f KB"},
    {1024, "%.1f MB"},
    {1024, "%.1f GB"},
}};
constexpr float kPerThousandTwentyFour = 1.0f / 1024.0f;

constexpr char kExtensionSeparator = '.';

} // namespace

std::string typeLabel(std::string_view name, bool isDirectory) {
    if (name == kSavedDataFileName)
        return std::string(kNoFileLabel);
    std::string_view second;
    if (auto first = name.find(kExtensionSeparator); first != std::string_view::npos) {
        second = name.substr(first + 1);
        second = second.substr(0, second.find(kExtensionSeparator));
    }
    if (second.empty())
        return std::string(isDirectory ? kFolderLabel : kPlainFileLabel);
    return platform::toUpper(second) + " File";
}

std::string sizeText(std::uint64_t bytes) {
    std::string text = platform::formatString("%llu Bytes", static_cast<unsigned long long>(bytes));
    std::uint64_t whole = bytes;
    for (const SizeStep& step : kSizeSteps) {
        if (whole <= step.threshold)
            break;
        // Single precision, as the figures have always been computed; each step goes on from
        // the truncated figure of the step before.
        float figure = static_cast<float>(whole) * kPerThousandTwentyFour;
        text = platform::formatString(step.format, static_cast<double>(figure));
        whole = static_cast<std::uint64_t>(figure);
    }
    return text;
}

std::string nameWithoutExtension(std::string_view name) {
    if (name == kSavedDataFileName)
        return std::string(kNoFileLabel);
    std::string_view stem = name.substr(0, name.find(kExtensionSeparator));
    // A leading dot marks a hidden file, not an extension: such a name is shown whole.
    return std::string(stem.empty() ? name : stem);
}

bool alphabeticSort(std::string_view a, std::string_view b, int reverseSort) {
    if (reverseSort == 0)
        std::swap(a, b);
    auto order = platform::caseInsensitiveCompare(a, b);
    if (order != std::weak_ordering::equivalent)
        return order == std::weak_ordering::less;
    return a < b;
}

std::vector<DocumentFile> listDocuments(const std::filesystem::path& folder, int reverseSort) {
    std::vector<DocumentFile> files;
    auto names = platform::FileManager::contentsOfDirectory(folder);
    if (!names)
        return files;
    files.reserve(names->size());
    for (std::string& name : *names) {
        auto attributes = platform::FileManager::attributesOfItem(folder / name);
        if (!attributes)
            continue; // removed since the folder was read
        files.push_back(DocumentFile{std::move(name), attributes->type == platform::FileType::Directory,
                                     attributes->size, attributes->modificationDate});
    }
    std::sort(files.begin(), files.end(), [reverseSort](const DocumentFile& x, const DocumentFile& y) {
        return alphabeticSort(x.name, y.name, reverseSort);
    });
    return files;
}

DocumentDateFormatter::DocumentDateFormatter(platform::TimeZone zone)
    : formatter_(kDocumentDatePattern, zone) {}

} // namespace app
