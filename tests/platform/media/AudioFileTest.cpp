#include <cstring>
#include <set>
#include <vector>

#include "MediaTestSupport.h"
#include "platform/media/AudioFile.h"

using namespace platform;

namespace {

constexpr std::uint32_t kToneFrames = 66150; // 1.5 s at 44,100 Hz

struct OpenFile {
    AudioFileID id = nullptr;
    explicit OpenFile(const std::filesystem::path& path) {
        EXPECT_EQ(AudioFileOpenURL(URL::fileURL(path), kAudioFileReadPermission, kAudioFileWAVEType, &id,
                                   ReadableFolder(path.parent_path())),
                  kAudioNoError);
    }
    ~OpenFile() { AudioFileClose(id); }
};

std::vector<std::uint8_t> readAll(AudioFileID file, std::uint32_t packetsPerRead, std::size_t* reads) {
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> buffer(packetsPerRead * 4);
    std::int64_t packet = 0;
    for (*reads = 0;; ++*reads) {
        std::uint32_t bytes = std::uint32_t(buffer.size());
        std::uint32_t packets = packetsPerRead;
        EXPECT_EQ(AudioFileReadPackets(file, false, &bytes, nullptr, packet, &packets, buffer.data()),
                  kAudioNoError);
        if (packets == 0)
            break;
        EXPECT_EQ(bytes, packets * 4);
        all.insert(all.end(), buffer.begin(), buffer.begin() + bytes);
        packet += packets;
    }
    return all;
}

TEST(AudioFile, WavAndAiffDecodeToTheSameStream) {
    std::vector<std::uint8_t> decoded[2];
    const char* names[] = {"sample-tone.wav", "sample-tone.aiff"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        OpenFile file(mediatest::sampleMedia(names[i]));
        AudioStreamDescription format;
        std::uint32_t size = sizeof format;
        ASSERT_EQ(AudioFileGetProperty(file.id, kAudioFilePropertyDataFormat, &size, &format), kAudioNoError);
        EXPECT_EQ(size, 40u);
        EXPECT_EQ(format.sampleRate, 44100.0);
        EXPECT_EQ(format.formatID, kAudioFormatLinearPCM);
        EXPECT_EQ(format.formatFlags, AudioFormatFlags::IsSignedInteger | AudioFormatFlags::IsPacked);
        EXPECT_EQ(format.channelsPerFrame, 2u);
        EXPECT_EQ(format.bitsPerChannel, 16u);
        EXPECT_EQ(format.bytesPerPacket, 4u);
        EXPECT_EQ(format.framesPerPacket, 1u);
        EXPECT_EQ(format.bytesPerFrame, 4u);

        std::uint32_t upperBound = 0;
        size = sizeof upperBound;
        ASSERT_EQ(AudioFileGetProperty(file.id, kAudioFilePropertyPacketSizeUpperBound, &size, &upperBound),
                  kAudioNoError);
        EXPECT_EQ(upperBound, 4u);
        std::uint32_t cookieSize = 99, writable = 99;
        ASSERT_EQ(
            AudioFileGetPropertyInfo(file.id, kAudioFilePropertyMagicCookieData, &cookieSize, &writable),
            kAudioNoError);
        EXPECT_EQ(cookieSize, 0u) << "decoded PCM has no cookie";
        EXPECT_EQ(writable, 0u);
        std::uint64_t packets = 0;
        size = sizeof packets;
        ASSERT_EQ(AudioFileGetProperty(file.id, kAudioFilePropertyAudioDataPacketCount, &size, &packets),
                  kAudioNoError);
        EXPECT_EQ(packets, kToneFrames);

        std::size_t reads = 0;
        decoded[i] = readAll(file.id, 16384, &reads);
        EXPECT_EQ(decoded[i].size(), kToneFrames * 4u);
        EXPECT_EQ(reads, 5u);
    }
    EXPECT_TRUE(decoded[0] == decoded[1]) << "big-endian AIFF samples arrive in the same native order";
    std::int16_t first[4];
    std::memcpy(first, decoded[0].data() + 4 * 100, sizeof first);
    EXPECT_NE(first[0], 0) << "real samples, not silence";
}

TEST(AudioFile, Mp3IsReadAsItsOwnPacketsOfVaryingSize) {
    OpenFile file(mediatest::sampleMedia("sample-silence.mp3"));
    AudioStreamDescription format;
    std::uint32_t size = sizeof format;
    ASSERT_EQ(AudioFileGetProperty(file.id, kAudioFilePropertyDataFormat, &size, &format), kAudioNoError);
    EXPECT_EQ(format.formatID, kAudioFormatMPEGLayer3);
    EXPECT_EQ(format.sampleRate, 44100.0);
    EXPECT_EQ(format.channelsPerFrame, 2u);
    EXPECT_EQ(format.framesPerPacket, 1152u);
    EXPECT_EQ(format.bytesPerPacket, 0u) << "packets vary in size";
    std::uint32_t upperBound = 0;
    size = sizeof upperBound;
    ASSERT_EQ(AudioFileGetProperty(file.id, kAudioFilePropertyPacketSizeUpperBound, &size, &upperBound),
              kAudioNoError);
    EXPECT_EQ(upperBound, 418u);
    std::uint64_t packets = 0;
    size = sizeof packets;
    ASSERT_EQ(AudioFileGetProperty(file.id, kAudioFilePropertyAudioDataPacketCount, &size, &packets),
              kAudioNoError);
    EXPECT_EQ(packets, 40u);
    std::uint32_t cookieSize = 99;
    ASSERT_EQ(AudioFileGetPropertyInfo(file.id, kAudioFilePropertyMagicCookieData, &cookieSize, nullptr),
              kAudioNoError);
    EXPECT_EQ(cookieSize, 0u);

    // Whole packets only, each described where it lies in the buffer.
    std::vector<std::uint8_t> buffer(1000);
    AudioPacketDescription descriptions[8];
    std::uint32_t bytes = std::uint32_t(buffer.size()), count = 8;
    ASSERT_EQ(AudioFileReadPackets(file.id, false, &bytes, descriptions, 0, &count, buffer.data()),
              kAudioNoError);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(descriptions[0].startOffset, 0);
    EXPECT_EQ(descriptions[0].dataByteSize, 417u) << "the first frame needs no padding";
    EXPECT_EQ(descriptions[1].startOffset, 417);
    EXPECT_EQ(descriptions[1].dataByteSize, 418u);
    EXPECT_EQ(bytes, 835u);
    EXPECT_EQ(buffer[417], 0xFF) << "the second packet starts with its frame header";
    EXPECT_EQ(buffer[418], 0xFB);

    std::vector<std::uint8_t> all(20000);
    std::vector<AudioPacketDescription> allDescriptions(64);
    bytes = std::uint32_t(all.size());
    count = 64;
    ASSERT_EQ(AudioFileReadPackets(file.id, false, &bytes, allDescriptions.data(), 0, &count, all.data()),
              kAudioNoError);
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(bytes, std::filesystem::file_size(mediatest::sampleMedia("sample-silence.mp3")));
    std::set<std::uint32_t> sizes;
    for (std::uint32_t i = 0; i < count; ++i)
        sizes.insert(allDescriptions[i].dataByteSize);
    EXPECT_EQ(sizes, (std::set<std::uint32_t>{417, 418}));
}

TEST(AudioFile, ReadsStopAtTheCallersBufferAndDescribePackets) {
    OpenFile file(mediatest::sampleMedia("sample-tone.wav"));
    std::uint8_t buffer[10];
    AudioPacketDescription descriptions[8];
    std::uint32_t bytes = sizeof buffer, packets = 8;
    ASSERT_EQ(AudioFileReadPackets(file.id, false, &bytes, descriptions, 0, &packets, buffer), kAudioNoError);
    EXPECT_EQ(packets, 2u) << "only two 4-byte packets fit in 10 bytes";
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(descriptions[1].startOffset, 4);
    EXPECT_EQ(descriptions[1].dataByteSize, 4u);

    bytes = sizeof buffer;
    packets = 2;
    ASSERT_EQ(AudioFileReadPackets(file.id, false, &bytes, nullptr, kToneFrames - 1, &packets, buffer),
              kAudioNoError);
    EXPECT_EQ(packets, 1u) << "the last packet";
    bytes = sizeof buffer;
    packets = 2;
    ASSERT_EQ(AudioFileReadPackets(file.id, false, &bytes, nullptr, kToneFrames, &packets, buffer),
              kAudioNoError);
    EXPECT_EQ(packets, 0u) << "the end of the file";
    EXPECT_EQ(bytes, 0u);
    packets = 2;
    bytes = sizeof buffer;
    EXPECT_EQ(AudioFileReadPackets(file.id, false, &bytes, nullptr, -1, &packets, buffer),
              kAudioFileInvalidPacketOffsetError);
}

TEST(AudioFile, ErrorsAreStatusesNeverCrashes) {
    auto folder = uitest::makeTemporaryFolder("fw-audio");
    auto garbage = folder / "noise.wav";
    mediatest::writeFile(garbage, std::string(2000, '\x55'));
    struct Case {
        const char* what;
        URL url;
        AudioFilePermissions permissions;
        OSStatus status;
    } opens[] = {
        {"missing", URL::fileURL(folder / "none.wav"), kAudioFileReadPermission, kAudioFileFileNotFoundError},
        {"folder", URL::fileURL(folder), kAudioFileReadPermission, kAudioFileFileNotFoundError},
        {"not a file URL", *URL::parse("http://example.com/a.wav"), kAudioFileReadPermission,
         kAudioFileFileNotFoundError},
        {"no sound", URL::fileURL(garbage), kAudioFileReadPermission, kAudioFileUnsupportedFileTypeError},
        {"write access", URL::fileURL(mediatest::sampleMedia("sample-tone.wav")),
         kAudioFileReadWritePermission, kAudioFilePermissionsError},
    };
    for (const auto& c : opens) {
        SCOPED_TRACE(c.what);
        AudioFileID id = reinterpret_cast<AudioFileID>(1);
        EXPECT_EQ(AudioFileOpenURL(c.url, c.permissions, kAudioFileCAFType, &id,
                                   ReadableFolder(c.url.filePath().parent_path())),
                  c.status);
        EXPECT_EQ(id, nullptr);
    }

    AudioFileID id = nullptr;
    ASSERT_EQ(AudioFileOpenURL(URL::fileURL(mediatest::sampleMedia("sample-tone.wav")),
                               kAudioFileReadPermission, kAudioFileMP3Type, &id, mediatest::sampleFolder()),
              kAudioNoError)
        << "the hint does not matter, the contents do";
    AudioStreamDescription format;
    std::uint32_t small = 8;
    EXPECT_EQ(AudioFileGetProperty(id, kAudioFilePropertyDataFormat, &small, &format),
              kAudioFileBadPropertySizeError);
    std::uint32_t size = 4;
    EXPECT_EQ(AudioFileGetProperty(id, fourCharCode("zzzz"), &size, &format),
              kAudioFileUnsupportedPropertyError);
    EXPECT_EQ(AudioFileClose(id), kAudioNoError);
    EXPECT_EQ(AudioFileClose(id), kAudioFileNotOpenError) << "closed twice";
    size = sizeof format;
    EXPECT_EQ(AudioFileGetProperty(id, kAudioFilePropertyDataFormat, &size, &format), kAudioFileNotOpenError);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

} // namespace
