// Writes the bundle's sample media into the folder given as the only argument: a short movie
// ("sample-movie.mov": 64 by 48 pictures, 4 per second, with a sound track, 2.5 seconds) and
// a short tone as WAV and AIFF files ("sample-tone.wav", "sample-tone.aiff": 16-bit stereo at
// 44,100 Hz, 1.5 seconds), and a short MP3 file ("sample-silence.mp3": 40 frames of silence
// at 128 kbit/s, 44,100 Hz, stereo; the frames are 417 or 418 bytes long, so its packets vary
// in size). Run by the build, so the media are made from this source. The
// movie's streams are stored uncompressed (raw pictures, raw sound), which needs no encoder.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sndfile.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {

constexpr int kMovieWidth = 64;
constexpr int kMovieHeight = 48;
constexpr int kMovieFramesPerSecond = 4;
constexpr int kMovieFrames = 10; // 2.5 seconds
constexpr int kMovieSampleRate = 8000;

constexpr int kToneSampleRate = 44100;
constexpr int kToneChannels = 2;
constexpr double kToneSeconds = 1.5;
constexpr double kPi = 3.14159265358979323846;

bool fail(const std::string& what) {
    std::fprintf(stderr, "media generator: %s\n", what.c_str());
    return false;
}

bool writePacket(AVFormatContext* format, AVStream* stream, const std::vector<std::uint8_t>& bytes,
                 std::int64_t pts, std::int64_t duration) {
    AVPacket* packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, int(bytes.size())) < 0) {
        av_packet_free(&packet);
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), packet->data);
    packet->stream_index = stream->index;
    packet->pts = packet->dts = pts;
    packet->duration = duration;
    packet->flags |= AV_PKT_FLAG_KEY;
    bool ok = av_interleaved_write_frame(format, packet) >= 0;
    av_packet_free(&packet);
    return ok;
}

bool writeMovie(const std::filesystem::path& path) {
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, "mov", path.c_str()) < 0 || !format)
        return fail("no movie muxer");
    bool ok = false;
    do {
        AVStream* video = avformat_new_stream(format, nullptr);
        AVStream* audio = avformat_new_stream(format, nullptr);
        if (!video || !audio)
            break;
        video->time_base = AVRational{1, kMovieFramesPerSecond};
        video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
        video->codecpar->format = AV_PIX_FMT_RGB24;
        video->codecpar->width = kMovieWidth;
        video->codecpar->height = kMovieHeight;
        video->codecpar->bits_per_coded_sample = 24;
        audio->time_base = AVRational{1, kMovieSampleRate};
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        audio->codecpar->sample_rate = kMovieSampleRate;
        av_channel_layout_default(&audio->codecpar->ch_layout, 1);
        audio->codecpar->bits_per_coded_sample = 16;
        audio->codecpar->block_align = 2;
        if (avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
            fail("cannot write " + path.string());
            break;
        }
        if (avformat_write_header(format, nullptr) < 0) {
            fail("the movie header was refused");
            break;
        }
        ok = true;
        const int samplesPerFrame = kMovieSampleRate / kMovieFramesPerSecond;
        for (int frame = 0; frame < kMovieFrames && ok; ++frame) {
            // A bar that moves across a gradient, one position per picture.
            std::vector<std::uint8_t> picture(std::size_t(kMovieWidth * kMovieHeight * 3));
            for (int y = 0; y < kMovieHeight; ++y)
                for (int x = 0; x < kMovieWidth; ++x) {
                    std::uint8_t* p = &picture[std::size_t((y * kMovieWidth + x) * 3)];
                    bool bar = x / 6 == frame;
                    p[0] = bar ? 255 : std::uint8_t(x * 4);
                    p[1] = bar ? 255 : std::uint8_t(y * 5);
                    p[2] = bar ? 255 : 96;
                }
            ok = writePacket(format, video, picture, frame, 1);
            std::vector<std::uint8_t> sound(std::size_t(samplesPerFrame * 2));
            for (int i = 0; i < samplesPerFrame; ++i) {
                double t = double(frame * samplesPerFrame + i) / kMovieSampleRate;
                auto sample = std::int16_t(std::lround(8000 * std::sin(2 * kPi * 440 * t)));
                sound[std::size_t(i * 2)] = std::uint8_t(sample & 0xff);
                sound[std::size_t(i * 2 + 1)] = std::uint8_t((sample >> 8) & 0xff);
            }
            ok = ok &&
                 writePacket(format, audio, sound, std::int64_t(frame) * samplesPerFrame, samplesPerFrame);
        }
        ok = ok && av_write_trailer(format) >= 0;
    } while (false);
    if (format->pb)
        avio_closep(&format->pb);
    avformat_free_context(format);
    return ok || fail("cannot write the movie");
}

// MPEG-1 Layer III frames whose side information is all zero: every granule is silent, so
// no encoder is needed. A frame holds 1152 samples; at 128 kbit/s and 44,100 Hz it is
// 144 * 128000 / 44100 = 417.96 bytes, so frames carry a padding byte whenever the fractions
// add up to a whole one.
bool writeSilentMp3(const std::filesystem::path& path) {
    constexpr int kFrames = 40;
    constexpr long kBytesTimesRate = 144L * 128000;
    constexpr long kRate = 44100;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return fail("cannot write " + path.string());
    long remainder = 0;
    bool ok = true;
    for (int i = 0; i < kFrames && ok; ++i) {
        remainder += kBytesTimesRate % kRate;
        bool padding = remainder >= kRate;
        if (padding)
            remainder -= kRate;
        std::vector<std::uint8_t> frame(std::size_t(kBytesTimesRate / kRate + (padding ? 1 : 0)), 0);
        frame[0] = 0xFF;                  // sync
        frame[1] = 0xFB;                  // sync, MPEG-1, Layer III, no checksum
        frame[2] = padding ? 0x92 : 0x90; // 128 kbit/s, 44,100 Hz, padding
        frame[3] = 0x00;                  // stereo
        ok = std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
    }
    ok = std::fclose(out) == 0 && ok;
    return ok || fail("cannot write " + path.string());
}

bool writeTone(const std::filesystem::path& path, int container) {
    SF_INFO info{};
    info.samplerate = kToneSampleRate;
    info.channels = kToneChannels;
    info.format = container | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return fail("cannot write " + path.string() + ": " + sf_strerror(nullptr));
    const auto frames = sf_count_t(kToneSampleRate * kToneSeconds);
    std::vector<short> samples(std::size_t(frames * kToneChannels));
    for (sf_count_t i = 0; i < frames; ++i) {
        double t = double(i) / kToneSampleRate;
        // A falling envelope, so the level meter sees loud and quiet parts.
        double envelope = 1.0 - t / kToneSeconds;
        samples[std::size_t(i * 2)] = short(std::lround(20000 * envelope * std::sin(2 * kPi * 440 * t)));
        samples[std::size_t(i * 2 + 1)] = short(std::lround(10000 * envelope * std::sin(2 * kPi * 660 * t)));
    }
    bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok || fail("cannot write the samples of " + path.string());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    bool ok = writeMovie(folder / "sample-movie.mov");
    ok = writeTone(folder / "sample-tone.wav", SF_FORMAT_WAV) && ok;
    ok = writeTone(folder / "sample-tone.aiff", SF_FORMAT_AIFF) && ok;
    ok = writeSilentMp3(folder / "sample-silence.mp3") && ok;
    return ok ? 0 : 1;
}
