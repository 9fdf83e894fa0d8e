#include "cobalt/CBPaths.h"

#include <atomic>
#include <cmath>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Device.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

std::atomic<std::int64_t>& sessionStartValue() {
    static std::atomic<std::int64_t> value{
        static_cast<std::int64_t>(std::floor(platform::Clock::current().now() * 1000.0))};
    return value;
}

} // namespace

std::int64_t CBPaths::sessionStart() { return sessionStartValue().load(); }

void CBPaths::setSessionStartForTesting(std::int64_t milliseconds) { sessionStartValue().store(milliseconds); }

std::string CBPaths::deviceUID() { return platform::Device::current().uniqueIdentifier(); }

std::string CBPaths::deviceName() {
    auto& device = platform::Device::current();
    std::string name = device.model() + " - " + device.systemVersion();
    std::string out;
    for (char c : name)
        if (c != ' ')
            out += c;
    return out;
}

fs::path CBPaths::localFileBasePath() { return platform::DeviceHome::documents(); }

std::string CBPaths::localFileBaseURL() { return platform::URL::fileURL(localFileBasePath()).absoluteString(); }

fs::path CBPaths::cbBaseDir() { return localFileBasePath() / "CB"; }

fs::path CBPaths::cbContentDir() { return cbBaseDir() / "Content"; }

fs::path CBPaths::cbCacheDir() { return platform::DeviceHome::caches() / "CB"; }

fs::path CBPaths::transientZipPath() { return cbCacheDir() / kTransientZipName; }

namespace {

// A folder the scripts write under: a real folder, or nothing yet (it is made as a folder).
// A link, or a file at its name, is not used.
bool usableFolder(const fs::path& folder) {
    std::error_code ec;
    const auto type = fs::symlink_status(folder, ec).type();
    return type == fs::file_type::directory || type == fs::file_type::not_found;
}

std::optional<fs::path> confinedPath(std::string_view relative, bool allowTransientZip) {
    // The scripts' "temp.zip" is the engine's own file, whatever stands at that name in
    // Documents: decided on the name alone, before any link there is followed.
    if (relative.find('\0') == std::string_view::npos &&
        fs::path(relative).lexically_normal() == CBPaths::kTransientZipName)
        return allowTransientZip ? std::optional<fs::path>(CBPaths::transientZipPath()) : std::nullopt;
    auto inDocuments = platform::FileManager::pathInside(CBPaths::localFileBasePath(), relative);
    if (!inDocuments)
        return std::nullopt;
    const fs::path normal = inDocuments->lexically_normal();
    const fs::path base = CBPaths::cbContentDir().lexically_normal();
    const auto rel = normal.lexically_relative(base);
    if (rel.empty() || rel == "." || *rel.begin() == "..")
        return std::nullopt;
    if (!usableFolder(CBPaths::cbBaseDir()) || !usableFolder(base))
        return std::nullopt;
    // Resolved once more under the content folder, so a link inside it cannot lead out.
    return platform::FileManager::pathInside(base, rel.string());
}

} // namespace

std::optional<fs::path> CBPaths::confinedScriptPath(std::string_view relative) {
    return confinedPath(relative, true);
}

std::optional<fs::path> CBPaths::confinedScriptFolder(std::string_view relative) {
    return confinedPath(relative, false);
}

} // namespace cobalt
