#include "platform/foundation/ReadableFolder.h"

#include <iterator>
#include <system_error>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/URL.h"

namespace platform {
namespace {

// Whether `folder`, when it lies in the device home, is reached through a link: some folder on
// the way down from the home (the folder itself included) is a link. The app's folders there
// are its own making, so a link among them was put there by someone else. The check is the one
// every writer of the app's folders makes (FileManager::isReachedWithoutLinks), asked for an
// entry inside the folder.
bool reachedThroughLink(const std::filesystem::path& folder) {
    const auto home = DeviceHome::root().lexically_normal();
    const auto below = folder.lexically_normal().lexically_relative(home);
    if (below.empty() || below == "." || *below.begin() == "..")
        return false;
    return !DeviceHome::reachesWithoutLinks(folder / "entry");
}

} // namespace

ReadableFolder::ReadableFolder(std::filesystem::path folder) {
    if (!folder.empty() && folder.is_absolute())
        folder_ = std::move(folder);
}

bool ReadableFolder::isInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (f->empty() && std::next(f) == folder.end())
            break; // a trailing separator
        if (p == path.end() || *p != *f)
            return false;
    }
    return true;
}

std::optional<std::filesystem::path> ReadableFolder::resolve(const std::filesystem::path& path) const {
    if (!folder_ || path.empty() || !path.is_absolute())
        return std::nullopt;
    // A NUL would cut the path short in the system calls that open it.
    if (path.native().find('\0') != std::string::npos)
        return std::nullopt;
    if (reachedThroughLink(*folder_))
        return std::nullopt;
    std::error_code ec;
    const auto folder = std::filesystem::weakly_canonical(*folder_, ec);
    if (ec)
        return std::nullopt;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (ec || !isInside(resolved, folder))
        return std::nullopt;
    return resolved;
}

std::optional<std::filesystem::path> ReadableFolder::resolve(const URL& url) const {
    if (!url.isFileURL())
        return std::nullopt;
    return resolve(url.filePath());
}

} // namespace platform
