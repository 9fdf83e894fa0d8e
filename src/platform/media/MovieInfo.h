#pragma once
// What a movie file holds, read from the real media by a demuxer: its duration, the natural
// size of its picture and which kinds of streams it carries. The movie player reads it before
// it reports a movie playable; nothing here decodes pictures or sound.
//
// The file is opened read-only, only as a plain file (no other protocol) and only by the
// demuxers of self-contained container formats, so a crafted file cannot make the reader
// open anything else. Any thread; no shared state.
#include <filesystem>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/ReadableFolder.h"
#include "platform/ui/Geometry.h"

namespace platform {

struct MovieInfo {
    double duration = 0; // seconds
    Size naturalSize;    // of the first picture stream; zero for sound only
    bool hasVideo = false;
    bool hasAudio = false;

    // Reads the movie at `path`, which must lie inside `readable` (ReadableFolder.h). Errors:
    // kURLErrorFileDoesNotExist (-1100) for a missing file, kURLErrorNoPermissionsToReadFile
    // (-1102) for one that cannot be read or lies outside `readable`, and
    // kMoviePlayerErrorCannotPlay (-50, domain kMoviePlayerErrorDomain) for a file that is
    // no movie this player can play (no container it knows, no picture or sound stream, no
    // length).
    static std::optional<MovieInfo> read(const std::filesystem::path& path, const ReadableFolder& readable,
                                         Error* error = nullptr);
};

// The movie player's own error domain and the code of unplayable content.
inline constexpr const char* kMoviePlayerErrorDomain = "MoviePlayerErrorDomain";
inline constexpr std::int64_t kMoviePlayerErrorCannotPlay = -50;

} // namespace platform
