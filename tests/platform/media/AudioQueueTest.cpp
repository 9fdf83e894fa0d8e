#include <cmath>
#include <cstring>
#include <vector>

#include "MediaTestSupport.h"
#include "platform/media/AudioFile.h"
#include "platform/media/AudioQueue.h"

using namespace platform;

namespace {

// Streams a sound file through an output queue with three rotating buffers of half a second
// (at most 64 KiB), refilled by the output callback until the end of the file, then stops
// after the queued sound, as a streaming player does.
class Streamer {
public:
    explicit Streamer(const std::filesystem::path& path) {
        EXPECT_EQ(AudioFileOpenURL(URL::fileURL(path), kAudioFileReadPermission, kAudioFileWAVEType, &file,
                                   ReadableFolder(path.parent_path())),
                  kAudioNoError);
        std::uint32_t size = sizeof format;
        EXPECT_EQ(AudioFileGetProperty(file, kAudioFilePropertyDataFormat, &size, &format), kAudioNoError);
        std::uint32_t upper = 0;
        size = sizeof upper;
        EXPECT_EQ(AudioFileGetProperty(file, kAudioFilePropertyPacketSizeUpperBound, &size, &upper),
                  kAudioNoError);
        bufferBytes = std::uint32_t(format.sampleRate / format.framesPerPacket * 0.5 * upper);
        if (bufferBytes > 65536 && bufferBytes > upper)
            bufferBytes = 65536;
        else if (bufferBytes < 16384)
            bufferBytes = 16384;
        packetsPerRead = bufferBytes / upper;
        EXPECT_EQ(
            AudioQueueNewOutput(
                format,
                [](void* me, AudioQueueRef, AudioQueueBufferRef b) { static_cast<Streamer*>(me)->fill(b); },
                this, &RunLoop::main(), 0, &queue),
            kAudioNoError);
        EXPECT_EQ(AudioQueueAddPropertyListener(
                      queue, kAudioQueuePropertyIsRunning,
                      [](void* me, AudioQueueRef q, AudioQueuePropertyID) {
                          std::uint32_t running = 0, size = sizeof running;
                          AudioQueueGetProperty(q, kAudioQueuePropertyIsRunning, &running, &size);
                          static_cast<Streamer*>(me)->runningReports.push_back(running);
                      },
                      this),
                  kAudioNoError);
        std::uint32_t on = 1;
        EXPECT_EQ(AudioQueueSetProperty(queue, kAudioQueuePropertyEnableLevelMetering, &on, sizeof on),
                  kAudioNoError);
    }
    ~Streamer() {
        AudioQueueDispose(queue, true);
        AudioFileClose(file);
    }

    bool variablePackets() const { return format.bytesPerPacket == 0 || format.framesPerPacket == 0; }

    void play() {
        for (int i = 0; i < 3 && !done; ++i) {
            AudioQueueBufferRef b = nullptr;
            if (variablePackets())
                ASSERT_EQ(
                    AudioQueueAllocateBufferWithPacketDescriptions(queue, bufferBytes, packetsPerRead, &b),
                    kAudioNoError);
            else
                ASSERT_EQ(AudioQueueAllocateBuffer(queue, bufferBytes, &b), kAudioNoError);
            fill(b);
        }
        ASSERT_EQ(AudioQueueStart(queue), kAudioNoError);
    }

    void fill(AudioQueueBufferRef b) {
        ++callbacks;
        if (done)
            return;
        std::uint32_t bytes = b->audioDataBytesCapacity, packets = packetsPerRead;
        AudioFileReadPackets(file, false, &bytes, b->packetDescriptions, nextPacket, &packets, b->audioData);
        if (packets > 0) {
            b->audioDataByteSize = bytes;
            EXPECT_EQ(
                AudioQueueEnqueueBuffer(queue, b, b->packetDescriptions ? packets : 0, b->packetDescriptions),
                kAudioNoError);
            nextPacket += packets;
        } else {
            done = true;
            AudioQueueStop(queue, false);
        }
    }

    std::vector<AudioLevelMeterState> levels() const {
        std::vector<AudioLevelMeterState> out(format.channelsPerFrame);
        std::uint32_t size = std::uint32_t(out.size() * sizeof(AudioLevelMeterState));
        EXPECT_EQ(AudioQueueGetProperty(queue, kAudioQueuePropertyCurrentLevelMeter, out.data(), &size),
                  kAudioNoError);
        return out;
    }
    bool running() const {
        std::uint32_t value = 0, size = sizeof value;
        AudioQueueGetProperty(queue, kAudioQueuePropertyIsRunning, &value, &size);
        return value != 0;
    }

    AudioFileID file = nullptr;
    AudioQueueRef queue = nullptr;
    AudioStreamDescription format;
    std::uint32_t bufferBytes = 0, packetsPerRead = 0;
    std::int64_t nextPacket = 0;
    bool done = false;
    int callbacks = 0;
    std::vector<std::uint32_t> runningReports;
};

class AudioQueueTest : public mediatest::MediaTest {};

TEST_F(AudioQueueTest, PullsBuffersFromAWavFileUntilItsEnd) {
    Streamer s(mediatest::sampleMedia("sample-tone.wav"));
    EXPECT_EQ(s.bufferBytes, 65536u) << "88,200 bytes of half a second, cut to 64 KiB";
    EXPECT_EQ(s.packetsPerRead, 16384u);
    s.play();
    EXPECT_EQ(s.callbacks, 3) << "three buffers primed";
    EXPECT_TRUE(s.running());
    clock_.drain();
    EXPECT_EQ(s.runningReports, (std::vector<std::uint32_t>{1}));

    // 66,150 frames: four full buffers of 16,384 and one of 614, 1.5 s in all.
    auto start = s.levels();
    EXPECT_GT(start[0].peakPower, 0.5f);
    EXPECT_GT(start[0].averagePower, start[1].averagePower) << "the left channel is louder";
    EXPECT_LE(start[0].averagePower, start[0].peakPower);
    clock_.advance(1.2);
    EXPECT_TRUE(s.running());
    EXPECT_LT(s.levels()[0].peakPower, start[0].peakPower) << "the tone fades";
    clock_.advance(0.29);
    EXPECT_TRUE(s.running()) << "the last sound is still playing";
    clock_.advance(0.02);
    EXPECT_FALSE(s.running());
    EXPECT_TRUE(s.done);
    EXPECT_EQ(s.nextPacket, 66150);
    clock_.drain();
    EXPECT_EQ(s.runningReports, (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(s.levels()[0].peakPower, 0.0f) << "a stopped queue is silent";
    clock_.advance(5);
    EXPECT_EQ(s.runningReports.size(), 2u);
}

TEST_F(AudioQueueTest, PullsMp3PacketsWithTheirDescriptions) {
    Streamer s(mediatest::sampleMedia("sample-silence.mp3"));
    EXPECT_EQ(s.bufferBytes, 16384u) << "8,000 bytes of half a second, raised to 16 KiB";
    EXPECT_EQ(s.packetsPerRead, 39u);
    s.play();
    EXPECT_EQ(s.callbacks, 3) << "39 packets, 1 packet, then the end";
    EXPECT_TRUE(s.done);
    // 40 packets of 1152 frames: 1.0449 s.
    clock_.advance(1.04);
    EXPECT_TRUE(s.running());
    EXPECT_EQ(s.levels()[0].peakPower, 0.0f) << "compressed sound is not measured";
    clock_.advance(0.01);
    EXPECT_FALSE(s.running());
    EXPECT_EQ(s.nextPacket, 40);
    clock_.drain();
    EXPECT_EQ(s.runningReports, (std::vector<std::uint32_t>{1, 0}));
}

TEST_F(AudioQueueTest, AFileShorterThanOneBufferPlaysOnceAndStops) {
    auto path = home_ / "short.wav";
    mediatest::writeWav(path, 4410, 1, 44100, 1000); // 0.1 s
    Streamer s(path);
    EXPECT_EQ(s.bufferBytes, 44100u);
    s.play();
    EXPECT_EQ(s.callbacks, 2) << "one buffer filled, the second read finds the end";
    EXPECT_TRUE(s.done);
    clock_.advance(0.099);
    EXPECT_TRUE(s.running());
    clock_.advance(0.002);
    EXPECT_FALSE(s.running());
    clock_.drain();
    EXPECT_EQ(s.runningReports, (std::vector<std::uint32_t>{1, 0}));
}

TEST_F(AudioQueueTest, PauseHoldsAndImmediateStopDropsTheQueuedSound) {
    Streamer s(mediatest::sampleMedia("sample-tone.wav"));
    s.play();
    clock_.advance(0.2);
    ASSERT_EQ(AudioQueuePause(s.queue), kAudioNoError);
    int callbacks = s.callbacks;
    clock_.advance(30);
    EXPECT_EQ(s.callbacks, callbacks) << "nothing plays while paused";
    EXPECT_TRUE(s.running()) << "a paused queue still runs";
    ASSERT_EQ(AudioQueueStart(s.queue), kAudioNoError);
    clock_.advance(0.17);
    EXPECT_EQ(s.callbacks, callbacks) << "the first buffer has 0.372 s and played 0.2 before the pause";
    clock_.advance(0.01);
    EXPECT_EQ(s.callbacks, callbacks + 1);

    ASSERT_EQ(AudioQueueStop(s.queue, true), kAudioNoError);
    EXPECT_FALSE(s.running());
    clock_.advance(5);
    EXPECT_EQ(s.callbacks, callbacks + 1) << "dropped buffers are not handed back";
    EXPECT_EQ(s.runningReports, (std::vector<std::uint32_t>{1, 0}));
}

TEST_F(AudioQueueTest, BadCallsAnswerErrors) {
    AudioStreamDescription pcm{44100,
                               kAudioFormatLinearPCM,
                               AudioFormatFlags::IsSignedInteger | AudioFormatFlags::IsPacked,
                               2,
                               1,
                               2,
                               1,
                               16,
                               0};
    auto callback = [](void*, AudioQueueRef, AudioQueueBufferRef) {};
    AudioQueueRef queue = nullptr;
    struct FormatCase {
        const char* what;
        AudioStreamDescription format;
    } formats[] = {
        {"unknown compression", {44100, fourCharCode("alac"), 0, 0, 4096, 0, 2, 0, 0}},
        {"MP3 without frames per packet", {44100, kAudioFormatMPEGLayer3, 0, 0, 0, 0, 2, 0, 0}},
        {"no rate", {0, kAudioFormatLinearPCM, AudioFormatFlags::IsSignedInteger, 2, 1, 2, 1, 16, 0}},
        {"frame size wrong",
         {44100, kAudioFormatLinearPCM, AudioFormatFlags::IsSignedInteger, 3, 1, 3, 1, 16, 0}},
        {"no channels", {44100, kAudioFormatLinearPCM, AudioFormatFlags::IsSignedInteger, 0, 1, 0, 0, 16, 0}},
    };
    for (const auto& c : formats) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AudioQueueNewOutput(c.format, callback, nullptr, nullptr, 0, &queue),
                  kAudioFormatUnsupportedDataFormatError);
        EXPECT_EQ(queue, nullptr);
    }

    ASSERT_EQ(AudioQueueNewOutput(pcm, callback, nullptr, nullptr, 0, &queue), kAudioNoError);
    AudioQueueBufferRef buffer = nullptr;
    ASSERT_EQ(AudioQueueAllocateBuffer(queue, 64, &buffer), kAudioNoError);
    EXPECT_EQ(AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr), kAudioQueueErrBufferEmpty);
    buffer->audioDataByteSize = 65;
    EXPECT_EQ(AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr), kAudioQueueErrInvalidParameter);
    AudioQueueBuffer stranger;
    stranger.audioDataByteSize = 2;
    EXPECT_EQ(AudioQueueEnqueueBuffer(queue, &stranger, 0, nullptr), kAudioQueueErrInvalidBuffer);
    buffer->audioDataByteSize = 64;
    EXPECT_EQ(AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr), kAudioNoError);
    EXPECT_EQ(AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr), kAudioQueueErrInvalidBuffer)
        << "already queued";
    EXPECT_EQ(AudioQueueSetParameter(queue, kAudioQueueParamVolume, 1.5f), kAudioQueueErrInvalidParameter);
    EXPECT_EQ(AudioQueueSetParameter(queue, kAudioQueueParamVolume, 0.5f), kAudioNoError);
    AudioLevelMeterState level;
    std::uint32_t size = sizeof level;
    EXPECT_EQ(AudioQueueGetProperty(queue, kAudioQueuePropertyCurrentLevelMeter, &level, &size),
              kAudioQueueErrInvalidProperty)
        << "metering is off";
    std::uint32_t running = 1;
    EXPECT_EQ(AudioQueueSetProperty(queue, kAudioQueuePropertyIsRunning, &running, sizeof running),
              kAudioQueueErrInvalidProperty)
        << "read only";
    std::uint8_t cookie[3] = {1, 2, 3}, back[3] = {};
    EXPECT_EQ(AudioQueueSetProperty(queue, kAudioQueuePropertyMagicCookie, cookie, 3), kAudioNoError);
    size = 2;
    EXPECT_EQ(AudioQueueGetProperty(queue, kAudioQueuePropertyMagicCookie, back, &size),
              kAudioQueueErrInvalidPropertySize);
    size = 3;
    EXPECT_EQ(AudioQueueGetProperty(queue, kAudioQueuePropertyMagicCookie, back, &size), kAudioNoError);
    EXPECT_EQ(std::memcmp(cookie, back, 3), 0);
    EXPECT_EQ(AudioQueueStop(queue, false), kAudioNoError);
    EXPECT_EQ(AudioQueueEnqueueBuffer(queue, buffer, 0, nullptr), kAudioQueueErrEnqueueDuringReset);

    ASSERT_EQ(AudioQueueDispose(queue, true), kAudioNoError);
    EXPECT_EQ(AudioQueueStart(queue), kAudioQueueErrInvalidQueue);

    // Compressed buffers need the descriptions of their packets, inside the buffer.
    AudioStreamDescription mp3{44100, kAudioFormatMPEGLayer3, 0, 0, 1152, 0, 2, 0, 0};
    AudioQueueRef compressed = nullptr;
    ASSERT_EQ(AudioQueueNewOutput(mp3, callback, nullptr, nullptr, 0, &compressed), kAudioNoError);
    ASSERT_EQ(AudioQueueAllocateBufferWithPacketDescriptions(compressed, 1000, 2, &buffer), kAudioNoError);
    buffer->audioDataByteSize = 800;
    EXPECT_EQ(AudioQueueEnqueueBuffer(compressed, buffer, 0, nullptr), kAudioQueueErrInvalidParameter);
    AudioPacketDescription outside[] = {{0, 0, 400}, {400, 0, 401}};
    EXPECT_EQ(AudioQueueEnqueueBuffer(compressed, buffer, 2, outside), kAudioQueueErrInvalidParameter);
    AudioPacketDescription inside[] = {{0, 0, 400}, {400, 0, 400}};
    EXPECT_EQ(AudioQueueEnqueueBuffer(compressed, buffer, 2, inside), kAudioNoError);
    EXPECT_EQ(AudioQueueDispose(compressed, true), kAudioNoError);
    EXPECT_EQ(AudioQueueDispose(queue, true), kAudioQueueErrInvalidQueue);
    EXPECT_EQ(AudioQueueAllocateBuffer(queue, 64, &buffer), kAudioQueueErrInvalidQueue);
}

} // namespace
