#include "platform/media/MovieInfo.h"

#include <cmath>
#include <system_error>
#include <unistd.h>

#include "platform/media/Demuxer.h"

namespace platform {
namespace {

// Containers whose demuxers read only the file they are given. Playlists, concatenation
// lists and image sequences are left out: they name further files to open.
constexpr const char* kAllowedFormats =
    "mov,mp4,m4a,3gp,3g2,mj2,avi,matroska,webm,mpegts,mpeg,flv,wav,aiff,mp3,aac,ogg,nut";
// The longest length taken as real; anything beyond is a corrupt header.
constexpr double kMaximumDuration = 7 * 24 * 3600.0;

Error makeError(std::int64_t code, const char* domain, std::string description) {
    return Error{domain, code, std::move(description), {}};
}

} // namespace

std::optional<MovieInfo> MovieInfo::read(const std::filesystem::path& given, const ReadableFolder& readable,
                                         Error* error) {
    auto fail = [&](Error e) -> std::optional<MovieInfo> {
        if (error)
            *error = std::move(e);
        return std::nullopt;
    };
    const auto resolved = readable.resolve(given);
    if (!resolved)
        return fail(
            makeError(kURLErrorNoPermissionsToReadFile, kURLErrorDomain,
                      "The file \"" + given.filename().string() + "\" lies outside the readable folder."));
    const std::filesystem::path& path = *resolved;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return fail(makeError(kURLErrorFileDoesNotExist, kURLErrorDomain,
                              "The file \"" + path.filename().string() + "\" does not exist."));
    if (::access(path.c_str(), R_OK) != 0)
        return fail(makeError(kURLErrorNoPermissionsToReadFile, kURLErrorDomain,
                              "The file \"" + path.filename().string() + "\" cannot be read."));

    auto unplayable = [&](const std::string& why) {
        return fail(makeError(kMoviePlayerErrorCannotPlay, kMoviePlayerErrorDomain,
                              "The movie \"" + path.filename().string() + "\" cannot be played: " + why));
    };

    std::string why;
    auto movie = demuxMovie(path, readable, kAllowedFormats, why);
    if (!movie)
        return unplayable(why);
    if (!movie->hasVideo && !movie->hasAudio)
        return unplayable("no picture or sound");
    if (!std::isfinite(movie->duration) || movie->duration <= 0 || movie->duration > kMaximumDuration)
        return unplayable("no length");
    MovieInfo info;
    info.duration = movie->duration;
    info.naturalSize = movie->naturalSize;
    info.hasVideo = movie->hasVideo;
    info.hasAudio = movie->hasAudio;
    return info;
}

} // namespace platform
