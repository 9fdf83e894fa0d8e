#pragma once
// The device home: the application's sandbox folder with Documents, Library, Library/Caches,
// Library/Preferences and tmp. `ferrowick --home DIR` picks it; tests make a temporary one.
// Every path of the application is derived from here, so nothing writes outside it.
#include <filesystem>
#include <string>

namespace platform {

class DeviceHome {
public:
    // Makes `root` the home and creates its standard folders. Answers false (and keeps the
    // previous home) when the folders cannot be created.
    static bool setCurrent(const std::filesystem::path& root);
    // The current home; before setCurrent, a folder under the system's temporary directory.
    static const std::filesystem::path& root();

    static std::filesystem::path documents() { return root() / "Documents"; }
    static std::filesystem::path library() { return root() / "Library"; }
    static std::filesystem::path caches() { return root() / "Library" / "Caches"; }
    static std::filesystem::path preferences() { return root() / "Library" / "Preferences"; }
    static std::filesystem::path tmp() { return root() / "tmp"; }

    // The guard of every folder the app writes or deletes under (see FileManager::isRealFolder),
    // with the home as the root: a link or a file at the folder's name or at any parent's name
    // below the home makes it unusable, and its owner runs without it.
    //   makeOwnFolder: creates what is missing (never through a link) and answers whether the
    //                  folder is usable;
    //   isOwnFolder:   the same check without creating anything;
    //   reachesWithoutLinks: whether a write or deletion of `item` passes through real folders only.
    static bool makeOwnFolder(const std::filesystem::path& folder);
    static bool isOwnFolder(const std::filesystem::path& folder);
    static bool reachesWithoutLinks(const std::filesystem::path& item);
};

} // namespace platform
