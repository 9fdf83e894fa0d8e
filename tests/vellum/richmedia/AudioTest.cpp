// The audio player: buffer sizing for the formats a page may play, and a real WAV file played
// through the page's "playsound" command on the manual clock.
#include <gtest/gtest.h>

#include <cmath>

#include <cstring>
#include <fstream>

#include "AdDisplayFixture.h"
#include "platform/media/AudioSession.h"
#include "platform/media/SystemSound.h"
#include "vellum/richmedia/MRAudioPlayer.h"

namespace richmediatest {
namespace {

using vellum::MRAudioPlayer;

// A 16-bit linear PCM WAV file of `frames` frames.
void writeWav(const std::filesystem::path& path, std::uint32_t frames, std::uint16_t channels = 2,
              std::uint32_t rate = 44100) {
    const std::uint32_t dataBytes = frames * channels * 2;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(static_cast<std::uint16_t>(channels * 2));
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    for (std::uint32_t i = 0; i < frames * channels; ++i)
        u16(static_cast<std::uint16_t>((i * 37) & 0x3fff));
}

TEST(AudioBufferSizing, HalfASecondWithinTheBounds) {
    struct Case {
        const char* name;
        double rate;
        std::uint32_t framesPerPacket, bytesPerPacket, maxPacket;
        std::uint32_t bytes, packets;
    };
    const Case cases[] = {
        {"16-bit stereo PCM", 44100, 1, 4, 4, 65536, 16384},
        {"MP3 frames", 44100, 1152, 0, 1044, 19982, 19},
        {"varying frames, large packets", 44100, 0, 0, 100000, 100000, 1},
        {"tiny mono file", 8000, 1, 1, 1, 16384, 16384},
        // A packet larger than the cap still fits one packet per buffer.
        {"packet beyond the cap", 44100, 1, 0, 200000, 200000, 1},
        // Rates from a crafted file: the product saturates before the caps apply.
        {"rate beyond 32 bits", 1e300, 1, 0, 4, 65536, 16384},
        {"rate not a number", std::nan(""), 1, 0, 4, 16384, 4096},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        platform::AudioStreamDescription format;
        format.sampleRate = tc.rate;
        format.framesPerPacket = tc.framesPerPacket;
        format.bytesPerPacket = tc.bytesPerPacket;
        auto sizing = MRAudioPlayer::calculateBufferSize(format, tc.maxPacket);
        ASSERT_TRUE(sizing);
        EXPECT_EQ(sizing->bufferByteSize, tc.bytes);
        EXPECT_EQ(sizing->numPacketsToRead, tc.packets);
    }
    // No packet bound: refused rather than divided by.
    EXPECT_FALSE(MRAudioPlayer::calculateBufferSize({}, 0));
}

TEST(AudioBufferSizing, TypeHintByExactExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/s.mp3", "MPG3"}, {"/a/s.m4a", "m4af"}, {"/a/s.aiff", "AIFF"}, {"/a/s.wav", "caff"},
        {"/a/s.MP3", "caff"}, {"/a/noext", "caff"},
    };
    for (const auto& [path, code] : cases)
        EXPECT_EQ(platform::fourCharCodeText(MRAudioPlayer::fileTypeHint(platform::URL::fileURL(path))), code) << path;
}

class AudioTest : public ShownBannerFixture {
protected:
    void SetUp() override {
        platform::AudioSession::resetForTesting();
        platform::resetSystemSoundsForTesting();
        storeBanner("ad-1");
        showBanner();
    }
};

// A file shorter than one buffer: one buffer is filled, the queue stops after it and the
// bridge forgets the player once the queue reports it stopped.
TEST_F(AudioTest, ShortSoundPlaysOneBufferAndIsForgottenWhenItStops) {
    writeWav(cacheFolder() / "ad-1" / "ping.wav", 4410);
    auto bridge = vellum::VellumJSBridge::sharedInstance();
    EXPECT_FALSE(command("mrbridge:playsound?file=ping.wav"));
    auto player = bridge->audioPlayer();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->allocatedBufferCount(), 1);
    EXPECT_TRUE(player->donePlayingFile());
    EXPECT_EQ(platform::AudioSession::shared().category(), platform::kAudioSessionCategoryMediaPlayback);
    EXPECT_TRUE(platform::AudioSession::shared().isActive());
    clock.advance(0.05);
    EXPECT_TRUE(player->isRunning());
    clock.advance(1.0);
    EXPECT_FALSE(player->isRunning());
    ASSERT_TRUE(clock.runUntil([&] { return !bridge->audioPlayer(); }));
}

TEST_F(AudioTest, LongSoundStreamsThroughThreeBuffersAndANewCommandStopsIt) {
    writeWav(cacheFolder() / "ad-1" / "song.wav", 44100 * 5);
    auto bridge = vellum::VellumJSBridge::sharedInstance();
    EXPECT_FALSE(command("mrbridge:playsound?file=song.wav"));
    auto player = bridge->audioPlayer();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->allocatedBufferCount(), MRAudioPlayer::kNumberOfBuffers);
    EXPECT_EQ(player->bufferByteSize(), 65536u);
    EXPECT_FALSE(player->hasPacketDescriptions());
    clock.advance(1.0);
    EXPECT_TRUE(player->isRunning());
    EXPECT_GT(player->startingPacketNumber(), 3 * 16384);
    // playsound without a file, or "undefined", stops the sound and starts none.
    for (const char* stop : {"mrbridge:playsound", "mrbridge:playsound?file=undefined"}) {
        SCOPED_TRACE(stop);
        EXPECT_FALSE(command("mrbridge:playsound?file=song.wav"));
        EXPECT_FALSE(command(stop));
        EXPECT_FALSE(bridge->audioPlayer());
    }
}

TEST_F(AudioTest, FilesOutsideTheAdFolderOrUnreadableAreNotPlayed) {
    std::filesystem::create_directories(cacheFolder() / "other");
    writeWav(cacheFolder() / "other" / "x.wav", 100);
    std::ofstream(cacheFolder() / "ad-1" / "bad.wav") << "not a sound";
    auto bridge = vellum::VellumJSBridge::sharedInstance();
    for (const char* url : {"mrbridge:playsound?file=..%2Fother%2Fx.wav", "mrbridge:playsound?file=bad.wav",
                            "mrbridge:playsound?file=missing.wav"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(command(url));
        EXPECT_FALSE(bridge->audioPlayer());
    }
}

TEST_F(AudioTest, PageReportsAudioToTheHostAndVibrates) {
    struct Listener : vellum::VellumAdViewDelegate {
        int started = 0, finished = 0;
        void adViewDidStartPlayingAudio(vellum::VellumAdView&) override { ++started; }
        void adViewDidFinishPlayingAudio(vellum::VellumAdView&) override { ++finished; }
    };
    auto listener = std::make_shared<Listener>();
    view->setDelegate(listener);
    EXPECT_FALSE(command("mrbridge:audioPlayBackDidStart"));
    EXPECT_FALSE(command("mrbridge:audioPlayBackDidFinish"));
    EXPECT_EQ(listener->started, 1);
    EXPECT_EQ(listener->finished, 1);
    EXPECT_EQ(view->blockers(), 0);
    EXPECT_FALSE(command("mrbridge:vibrate"));
    EXPECT_EQ(platform::vibrationCount(), 1u);
}

} // namespace
} // namespace richmediatest
