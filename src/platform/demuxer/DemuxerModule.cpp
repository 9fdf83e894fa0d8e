// The media demuxer module, loaded on first use (see platform/media/Demuxer.h). It holds every
// call into the container library, so nothing else in the process links it.
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/media/AudioTypes.h"
#include "platform/media/Demuxer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace platform {
namespace {

constexpr int kMaximumPictureSide = 16384;
constexpr int kMaximumChannels = 64;
constexpr int kMaximumSampleRate = 1'536'000;
constexpr std::size_t kMaximumPackets = 1u << 22;
constexpr std::uint32_t kMaximumPacketBytes = 1u << 20;
constexpr std::size_t kMaximumCookieBytes = 1u << 16;

// An open container, closed on every path.
struct Container {
    AVFormatContext* context = nullptr;
    ~Container() {
        if (context)
            avformat_close_input(&context);
    }

    // Opens `path` as a plain file with one of `formats`' demuxers and reads its streams.
    // Answers 0, or -1 when no demuxer knows the file, -2 when its streams cannot be read.
    int open(const std::string& path, const char* formats) {
        // The demuxers' own messages would only repeat what the caller is told; once per process.
        static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
        (void)quiet;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "format_whitelist", formats, 0);
        // "file:" makes the path a plain file whatever characters it holds.
        std::string source = "file:" + path;
        int opened = avformat_open_input(&context, source.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (opened < 0)
            return -1;
        return avformat_find_stream_info(context, nullptr) < 0 ? -2 : 0;
    }
};

double streamDuration(const AVStream& stream) {
    if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0)
        return 0;
    return double(stream.duration) * av_q2d(stream.time_base);
}

std::optional<DemuxedMovie> readMovie(const std::string& path, const char* formats, std::string& why) {
    Container container;
    switch (container.open(path, formats)) {
    case -1:
        why = "no known container";
        return std::nullopt;
    case -2:
        why = "its streams cannot be read";
        return std::nullopt;
    default:
        break;
    }
    const AVFormatContext& format = *container.context;
    DemuxedMovie movie;
    double longest = 0;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        const AVCodecParameters& codec = *stream.codecpar;
        if (codec.codec_type == AVMEDIA_TYPE_VIDEO && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (!movie.hasVideo && codec.width > 0 && codec.height > 0 && codec.width <= kMaximumPictureSide &&
                codec.height <= kMaximumPictureSide) {
                movie.hasVideo = true;
                movie.naturalSize = Size{double(codec.width), double(codec.height)};
            }
        } else if (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.ch_layout.nb_channels > 0) {
            movie.hasAudio = true;
        } else {
            continue;
        }
        longest = std::max(longest, streamDuration(stream));
    }
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0)
        movie.duration = double(format.duration) / AV_TIME_BASE;
    else
        movie.duration = longest;
    return movie;
}

std::optional<CompressedSound> readCompressedSound(const std::string& path, const char* formats) {
    Container container;
    if (container.open(path, formats) != 0)
        return std::nullopt;
    AVFormatContext* context = container.context;
    int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return std::nullopt;
    const AVCodecParameters& codec = *context->streams[index]->codecpar;
    CompressedSound sound;
    if (codec.codec_id == AV_CODEC_ID_MP3) {
        sound.formatID = fourCharCode(".mp3");
        sound.framesPerPacket = 1152;
    } else if (codec.codec_id == AV_CODEC_ID_AAC) {
        sound.formatID = fourCharCode("aac ");
        sound.framesPerPacket = 1024;
    } else {
        return std::nullopt;
    }
    if (codec.frame_size > 0)
        sound.framesPerPacket = std::uint32_t(codec.frame_size);
    if (codec.sample_rate <= 0 || codec.sample_rate > kMaximumSampleRate || codec.ch_layout.nb_channels <= 0 ||
        codec.ch_layout.nb_channels > kMaximumChannels)
        return std::nullopt;
    sound.sampleRate = codec.sample_rate;
    sound.channels = codec.ch_layout.nb_channels;

    // Every packet's place is checked against the file's own bytes, since the caller reads
    // the packets straight from the file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    AVPacket* packet = av_packet_alloc();
    std::vector<std::uint8_t> check;
    bool ok = packet != nullptr;
    while (ok && av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == index) {
            ok = packet->pos >= 0 && packet->size > 0 && std::uint32_t(packet->size) <= kMaximumPacketBytes &&
                 sound.packets.size() < kMaximumPackets;
            if (ok) {
                check.resize(std::size_t(packet->size));
                ok = ::pread(fd, check.data(), check.size(), packet->pos) == ssize_t(check.size()) &&
                     std::memcmp(check.data(), packet->data, check.size()) == 0;
            }
            if (ok) {
                sound.packets.push_back(PacketPlace{packet->pos, std::uint32_t(packet->size)});
                sound.largestPacket = std::max(sound.largestPacket, std::uint32_t(packet->size));
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    ::close(fd);
    if (!ok || sound.packets.empty())
        return std::nullopt;
    if (codec.extradata && codec.extradata_size > 0 && std::size_t(codec.extradata_size) <= kMaximumCookieBytes)
        sound.cookie.assign(codec.extradata, codec.extradata + codec.extradata_size);
    return sound;
}

constexpr DemuxerEntryPoints kEntryPoints{readMovie, readCompressedSound};

} // namespace
} // namespace platform

extern "C" __attribute__((visibility("default"))) const platform::DemuxerEntryPoints* fw_demuxer_entry_points() {
    return &platform::kEntryPoints;
}
