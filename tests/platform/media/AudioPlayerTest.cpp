#include "platform/media/AudioPlayer.h"
#include "MediaTestSupport.h"
#include "platform/media/AudioSession.h"
#include "platform/media/SystemSound.h"

using namespace platform;

namespace {

class FinishLog : public AudioPlayerDelegate {
public:
    void audioPlayerDidFinishPlaying(AudioPlayer&, bool successfully) override {
        ends.push_back(successfully);
    }
    std::vector<bool> ends;
};

class AudioPlayerTest : public mediatest::MediaTest {
protected:
    std::shared_ptr<AudioPlayer> tone() {
        Error error;
        auto player = AudioPlayer::create(URL::fileURL(mediatest::sampleMedia("sample-tone.aiff")),
                                          mediatest::sampleFolder(), &error);
        EXPECT_TRUE(player) << error.description();
        if (player)
            player->setDelegate(log);
        return player;
    }
    std::shared_ptr<FinishLog> log = std::make_shared<FinishLog>();
};

TEST_F(AudioPlayerTest, PlaysPausesAndFinishesOnTheClock) {
    auto player = tone();
    ASSERT_TRUE(player);
    EXPECT_DOUBLE_EQ(player->duration(), 1.5);
    EXPECT_TRUE(player->prepareToPlay());
    EXPECT_TRUE(player->play());
    clock_.advance(1.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), 1.0);
    player->pause();
    clock_.advance(20);
    EXPECT_DOUBLE_EQ(player->currentTime(), 1.0);
    EXPECT_TRUE(log->ends.empty());
    player->play();
    clock_.advance(0.49);
    EXPECT_TRUE(player->isPlaying());
    clock_.advance(0.02);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(log->ends, (std::vector<bool>{true}));
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.0) << "back at the start after the natural end";

    // An audio interruption pauses the sound.
    AudioSession::resetForTesting();
    player->play();
    clock_.advance(0.25);
    AudioSession::shared().beginInterruption();
    EXPECT_FALSE(player->isPlaying());
    clock_.advance(5);
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.25);
    AudioSession::shared().endInterruption();
    AudioSession::resetForTesting();
    player->setCurrentTime(0);

    // stop keeps the time and reports nothing; setCurrentTime rewinds.
    player->play();
    clock_.advance(0.5);
    player->stop();
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.5);
    player->setCurrentTime(0);
    clock_.advance(5);
    EXPECT_EQ(log->ends.size(), 1u);
}

TEST_F(AudioPlayerTest, LoopCounts) {
    struct Case {
        int loops;
        double endsAfter; // < 0: never
    } cases[] = {{0, 1.5}, {2, 4.5}, {-1, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loops);
        log->ends.clear();
        auto player = tone();
        player->setNumberOfLoops(c.loops);
        player->play();
        if (c.endsAfter < 0) {
            clock_.advance(100);
            EXPECT_TRUE(player->isPlaying());
            EXPECT_TRUE(log->ends.empty());
            player->stop();
            continue;
        }
        clock_.advance(c.endsAfter - 0.01);
        EXPECT_TRUE(player->isPlaying());
        clock_.advance(0.02);
        EXPECT_FALSE(player->isPlaying());
        EXPECT_EQ(log->ends.size(), 1u);
    }
}

TEST_F(AudioPlayerTest, NoPlayerForWhatIsNoSoundAndNoReportAfterRelease) {
    auto garbage = home_ / "noise.wav";
    mediatest::writeFile(garbage, "RIFF....WAVEjunk");
    for (const auto& path : {home_ / "missing.wav", garbage}) {
        SCOPED_TRACE(path.string());
        Error error;
        EXPECT_EQ(AudioPlayer::create(URL::fileURL(path), ReadableFolder(home_), &error), nullptr);
        EXPECT_EQ(error.domain, AudioPlayer::kErrorDomain);
        EXPECT_NE(error.code, 0);
    }
    auto player = tone();
    player->setVolume(3.0f);
    EXPECT_EQ(player->volume(), 1.0f);
    player->play();
    player.reset();
    clock_.advance(5);
    EXPECT_TRUE(log->ends.empty());
    EXPECT_EQ(RunLoop::main().pendingTimerCount(), 0u);
}

class AudioSessionTest : public mediatest::MediaTest {
protected:
    AudioSessionTest() { AudioSession::resetForTesting(); }
    ~AudioSessionTest() override { AudioSession::resetForTesting(); }
};

TEST_F(AudioSessionTest, CategoryActivationAndTheOutsideWorld) {
    auto& session = AudioSession::shared();
    std::uint32_t value = 0;
    EXPECT_EQ(session.setActive(true), kAudioSessionNotInitialized);
    EXPECT_EQ(session.getProperty(kAudioSessionPropertyOtherAudioIsPlaying, &value),
              kAudioSessionNotInitialized);

    std::vector<std::uint32_t> interruptions;
    ASSERT_EQ(session.initialize([&](std::uint32_t state) { interruptions.push_back(state); }),
              kAudioNoError);
    EXPECT_EQ(session.initialize(), kAudioSessionAlreadyInitialized);
    ASSERT_EQ(session.getProperty(kAudioSessionPropertyAudioCategory, &value), kAudioNoError);
    EXPECT_EQ(value, kAudioSessionCategorySoloAmbientSound);
    EXPECT_EQ(session.setProperty(kAudioSessionPropertyAudioCategory, kAudioSessionCategoryAmbientSound),
              kAudioNoError);
    EXPECT_EQ(session.category(), kAudioSessionCategoryAmbientSound);
    EXPECT_EQ(session.setProperty(kAudioSessionPropertyAudioCategory, fourCharCode("nope")),
              kAudioSessionIncompatibleCategory);
    EXPECT_EQ(session.setProperty(kAudioSessionPropertyOtherAudioIsPlaying, 1),
              kAudioSessionUnsupportedPropertyError);

    ASSERT_EQ(session.getProperty(kAudioSessionPropertyOtherAudioIsPlaying, &value), kAudioNoError);
    EXPECT_EQ(value, 0u);
    session.setOtherAudioIsPlaying(true);
    ASSERT_EQ(session.getProperty(kAudioSessionPropertyOtherAudioIsPlaying, &value), kAudioNoError);
    EXPECT_EQ(value, 1u);

    std::string route;
    ASSERT_EQ(session.getProperty(kAudioSessionPropertyAudioRoute, &route), kAudioNoError);
    EXPECT_EQ(route, "Speaker");
    session.setAudioRoute("Headphone");
    ASSERT_EQ(session.getProperty(kAudioSessionPropertyAudioRoute, &route), kAudioNoError);
    EXPECT_EQ(route, "Headphone");

    ASSERT_EQ(session.setActive(true), kAudioNoError);
    session.beginInterruption();
    EXPECT_FALSE(session.isActive()) << "an interruption deactivates the session";
    EXPECT_TRUE(interruptions.empty()) << "the listener hears it on a later turn";
    session.endInterruption();
    clock_.drain();
    EXPECT_EQ(interruptions,
              (std::vector<std::uint32_t>{kAudioSessionBeginInterruption, kAudioSessionEndInterruption}));
}

TEST(SystemSound, VibrationIsRecorded) {
    resetSystemSoundsForTesting();
    AudioServicesPlaySystemSound(kSystemSoundIDVibrate);
    AudioServicesPlaySystemSound(1007);
    EXPECT_EQ(playedSystemSounds(), (std::vector<SystemSoundID>{4095, 1007}));
    EXPECT_EQ(vibrationCount(), 1u);
    resetSystemSoundsForTesting();
}

} // namespace
