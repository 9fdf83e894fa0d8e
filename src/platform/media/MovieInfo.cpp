#include "platform/media/MovieInfo.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace platform {
namespace {

// Containers whose demuxers read only the file they are given. Playlists, concatenation
// lists and image sequences are left out: they name further files to open.
constexpr const char* kAllowedFormats =
    "mov,mp4,m4a,3gp,3g2,mj2,avi,matroska,webm,mpegts,mpeg,flv,wav,aiff,mp3,aac,ogg,nut";
// The longest length taken as real; anything beyond is a corrupt header.
constexpr double kMaximumDuration = 7 * 24 * 3600.0;
constexpr int kMaximumPictureSide = 16384;

Error makeError(std::int64_t code, const char* domain, std::string description) {
    return Error{domain, code, std::move(description), {}};
}

struct FormatContext {
    AVFormatContext* context = nullptr;
    ~FormatContext() {
        if (context)
            avformat_close_input(&context);
    }
};

struct Options {
    AVDictionary* dictionary = nullptr;
    ~Options() { av_dict_free(&dictionary); }
};

double streamDuration(const AVStream& stream) {
    if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0)
        return 0;
    return double(stream.duration) * av_q2d(stream.time_base);
}

} // namespace

std::optional<MovieInfo> MovieInfo::read(const std::filesystem::path& path, Error* error) {
    auto fail = [&](Error e) -> std::optional<MovieInfo> {
        if (error)
            *error = std::move(e);
        return std::nullopt;
    };
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

    // The demuxers' own messages would only repeat what the caller is told; once per process.
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    Options options;
    av_dict_set(&options.dictionary, "protocol_whitelist", "file", 0);
    av_dict_set(&options.dictionary, "format_whitelist", kAllowedFormats, 0);
    FormatContext format;
    // "file:" makes the path a plain file whatever characters it holds.
    std::string source = "file:" + path.string();
    if (avformat_open_input(&format.context, source.c_str(), nullptr, &options.dictionary) < 0)
        return unplayable("no known container");
    if (avformat_find_stream_info(format.context, nullptr) < 0)
        return unplayable("its streams cannot be read");

    MovieInfo info;
    double longest = 0;
    for (unsigned i = 0; i < format.context->nb_streams; ++i) {
        const AVStream& stream = *format.context->streams[i];
        const AVCodecParameters& codec = *stream.codecpar;
        if (codec.codec_type == AVMEDIA_TYPE_VIDEO && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (!info.hasVideo && codec.width > 0 && codec.height > 0 && codec.width <= kMaximumPictureSide &&
                codec.height <= kMaximumPictureSide) {
                info.hasVideo = true;
                info.naturalSize = Size{double(codec.width), double(codec.height)};
            }
        } else if (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.ch_layout.nb_channels > 0) {
            info.hasAudio = true;
        } else {
            continue;
        }
        longest = std::max(longest, streamDuration(stream));
    }
    if (!info.hasVideo && !info.hasAudio)
        return unplayable("no picture or sound");
    if (format.context->duration != AV_NOPTS_VALUE && format.context->duration > 0)
        info.duration = double(format.context->duration) / AV_TIME_BASE;
    else
        info.duration = longest;
    if (!std::isfinite(info.duration) || info.duration <= 0 || info.duration > kMaximumDuration)
        return unplayable("no length");
    return info;
}

} // namespace platform
