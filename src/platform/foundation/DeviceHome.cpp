#include "platform/foundation/DeviceHome.h"

#include <mutex>
#include <system_error>
#include <unistd.h>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"

namespace platform {
namespace {

std::mutex& homeMutex() {
    static std::mutex m;
    return m;
}

std::filesystem::path& homePath() {
    static std::filesystem::path p;
    return p;
}

bool createFolders(const std::filesystem::path& root) {
    std::error_code ec;
    for (const char* sub : {"Documents", "Library/Caches", "Library/Preferences", "tmp"}) {
        std::filesystem::create_directories(root / sub, ec);
        if (ec)
            return false;
    }
    return true;
}

} // namespace

bool DeviceHome::setCurrent(const std::filesystem::path& root) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(root, ec);
    if (ec || !createFolders(absolute))
        return false;
    std::lock_guard lock(homeMutex());
    homePath() = absolute;
    return true;
}

const std::filesystem::path& DeviceHome::root() {
    std::lock_guard lock(homeMutex());
    if (homePath().empty()) {
        std::error_code ec;
        auto fallback = std::filesystem::temp_directory_path(ec) / ("ferrowick-home-" + std::to_string(getpid()));
        createFolders(fallback);
        homePath() = fallback;
    }
    return homePath();
}

bool DeviceHome::makeOwnFolder(const std::filesystem::path& folder) {
    Error error;
    if (FileManager::createRealFolder(folder, root(), &error))
        return true;
    logLine("not using " + folder.string() + ": " + error.localizedDescription);
    return false;
}

bool DeviceHome::isOwnFolder(const std::filesystem::path& folder) { return FileManager::isRealFolder(folder, root()); }

bool DeviceHome::reachesWithoutLinks(const std::filesystem::path& item) {
    return FileManager::isReachedWithoutLinks(item, root());
}

} // namespace platform
