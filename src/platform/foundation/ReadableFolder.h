#pragma once
// The one folder a reader of local files may read from: the web view and its pages, the movie
// and audio players, the audio file reader and the media demuxer each hold one, given by the
// code that made them. A default ReadableFolder grants nothing, so a reader nobody named a
// folder for reads no local file at all, whatever route (a page, a reply field, a redirect, a
// delegate's answer) brought the file: URL to it.
//
// A path is inside when, with every link and ".." resolved, it is the folder or lies below it
// (the folder itself resolved the same way): a link inside the folder that leads out, or a
// path that climbs out, is outside. Readers open the resolved path they were answered, not
// the one they were given. A granted folder inside the device home that is reached through a
// link (the folder, or one above it below the home, is a link) grants nothing: the app never
// reads its own folders through a link someone else put there. A plain value, safe to copy
// between threads.
#include <filesystem>
#include <optional>

namespace platform {

class URL;

class ReadableFolder {
public:
    // Grants nothing.
    ReadableFolder() = default;
    // Grants `folder` and what lies below it; an empty or relative path grants nothing.
    explicit ReadableFolder(std::filesystem::path folder);

    // The granted folder as given (nullopt: nothing is granted).
    const std::optional<std::filesystem::path>& folder() const { return folder_; }
    bool grantsNothing() const { return !folder_; }

    // The resolved path of `path` when it lies inside the folder, else nullopt. The path need
    // not exist (a missing file inside reads as missing); the part of it that exists is
    // resolved through its links.
    std::optional<std::filesystem::path> resolve(const std::filesystem::path& path) const;
    // The same for the path of a file: URL; nullopt for any other URL.
    std::optional<std::filesystem::path> resolve(const URL& url) const;
    bool allows(const URL& url) const { return resolve(url).has_value(); }

    // True when resolved `path` is `folder` or lies below it (both already resolved).
    static bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder);

private:
    std::optional<std::filesystem::path> folder_;
};

} // namespace platform
