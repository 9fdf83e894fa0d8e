#include "app/DocumentList.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Strings.h"

namespace app {
namespace {

// The size steps: a figure above `threshold` in the unit before is shown in `unit`.
struct SizeStep {
    std::uint64_t threshold;
    std::string_view unit;
};
constexpr std::array<SizeStep, 3> kSizeSteps{{
    {1023, " KB"},
    {1024, " MB"},
    {1024, " GB"},
}};
constexpr std::string_view kBytesUnit = " Bytes";
constexpr float kPerThousandTwentyFour = 1.0f / 1024.0f;

constexpr char kExtensionSeparator = '.';

// A name's place in the list, mostly decided without reading the name: its first 16 bytes
// with ASCII letters lowered, packed big-endian into two numbers, so that comparing the
// numbers orders names as caseInsensitiveCompare orders those bytes. A name shorter than 16
// bytes is padded with zero bytes, which no name holds, so it sorts before any longer name
// it begins. Names whose keys are equal are compared in full with alphabeticSort.
struct SortKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint32_t index = 0;
};

// ASCII letters lowered, every other byte as it is: as caseInsensitiveCompare compares.
constexpr std::uint64_t lowerLetter(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

SortKey sortKeyOf(std::string_view name, std::uint32_t index) {
    SortKey key;
    key.index = index;
    const std::size_t n = std::min<std::size_t>(name.size(), 16);
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint64_t byte = i < n ? lowerLetter(static_cast<unsigned char>(name[i])) : 0;
        (i < 8 ? key.high : key.low) |= byte << (8 * (7 - i % 8));
    }
    return key;
}

// How far ahead the passes over sorted files ask for the memory they will read.
constexpr std::size_t kLookAhead = 8;

// The folder's entries as files, in the order of alphabeticSort: sorted by key first, then
// each entry is moved once into its place.
std::vector<DocumentFile> sortedFiles(std::vector<platform::DirectoryEntry>& entries, int reverseSort) {
    std::vector<SortKey> keys;
    keys.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        keys.push_back(sortKeyOf(entries[i].name, static_cast<std::uint32_t>(i)));
    const bool ascending = reverseSort != 0;
    std::sort(keys.begin(), keys.end(), [&](const SortKey& x, const SortKey& y) {
        if (x.high != y.high)
            return ascending ? x.high < y.high : y.high < x.high;
        if (x.low != y.low)
            return ascending ? x.low < y.low : y.low < x.low;
        return alphabeticSort(entries[x.index].name, entries[y.index].name, reverseSort);
    });
    std::vector<DocumentFile> files;
    files.reserve(entries.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        // The entries are read in sorted order, scattered through memory: ask for the ones a
        // few steps ahead early, so their loads overlap instead of each waiting its turn.
        if (i + kLookAhead < keys.size())
            __builtin_prefetch(&entries[keys[i + kLookAhead].index]);
        auto& entry = entries[keys[i].index];
        files.push_back(DocumentFile{std::move(entry.name), entry.attributes.type == platform::FileType::Directory,
                                     entry.attributes.size, entry.attributes.modificationDate});
    }
    return files;
}

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
    constexpr std::string_view kFileSuffix = " File";
    std::string label;
    label.reserve(second.size() + kFileSuffix.size());
    label.append(second);
    for (char& c : label)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; // ASCII only, as toUpper
    label.append(kFileSuffix);
    return label;
}

std::string sizeText(std::uint64_t bytes) {
    // The figure is carried through the steps first and written once, in its final unit.
    std::uint64_t whole = bytes;
    float figure = 0;
    const SizeStep* last = nullptr;
    for (const SizeStep& step : kSizeSteps) {
        if (whole <= step.threshold)
            break;
        // Single precision, as the figures have always been computed; each step goes on from
        // the truncated figure of the step before.
        figure = static_cast<float>(whole) * kPerThousandTwentyFour;
        whole = static_cast<std::uint64_t>(figure);
        last = &step;
    }
    // Room for 20 digits, a point and a decimal, or a float's widest fixed form; to_chars
    // writes what printf's "%llu" and "%.1f" write.
    char digits[64];
    auto written = last ? std::to_chars(digits, digits + sizeof digits, static_cast<double>(figure),
                                        std::chars_format::fixed, 1)
                        : std::to_chars(digits, digits + sizeof digits, bytes);
    const std::string_view unit = last ? last->unit : kBytesUnit;
    std::string text;
    text.reserve(static_cast<std::size_t>(written.ptr - digits) + unit.size());
    text.append(digits, written.ptr);
    text.append(unit);
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
    // One pass over the open folder; an entry removed before its attributes were read is
    // left out. No order is needed from the listing: the sort decides it alone.
    auto entries = platform::FileManager::contentsOfDirectoryWithAttributes(folder);
    if (!entries)
        return {};
    return sortedFiles(*entries, reverseSort);
}

DocumentDateFormatter::DocumentDateFormatter(platform::TimeZone zone)
    : formatter_(kDocumentDatePattern, zone) {}

} // namespace app
