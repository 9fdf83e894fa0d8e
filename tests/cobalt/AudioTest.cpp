// The ads' sound: the shared audio engine against the platform's players and audio session
// (music, effects, volumes, loops, suspend and resume with the fail-safe on the manual
// clock), and the BridgeAudio commands arriving from a real page through the bridge, with
// sound names confined to the ad's folder.
#include "CobaltTestSupport.h"
#include "cobalt/CBAdManager.h"
#include "cobalt/CBAudioCommandHandler.h"
#include "cobalt/CBAudioEngine.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBJavascriptBridge.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/media/AudioPlayer.h"
#include "platform/media/AudioSession.h"
#include "platform/ui/Application.h"
#include "platform/web/WebView.h"

namespace {

using namespace cobalt;
using platform::AudioSession;
namespace fs = std::filesystem;

constexpr double kToneSeconds = 1.5; // the bundle's sample tone

class AudioTest : public cobalttest::CobaltTest {
protected:
    AudioTest() {
        AudioSession::resetForTesting();
        adFolder = fs::path(CBAdManager::adRootDir()) / "slot" / "123";
        fs::create_directories(adFolder);
        const auto tone = platform::Bundle::main().pathForResource("sample-tone.wav");
        if (!tone)
            throw std::runtime_error("the sample tone is not in the bundle");
        for (const char* name : {"music.wav", "pop.wav", "click.wav"})
            fs::copy_file(*tone, adFolder / name);
        write(adFolder / "broken.wav", "not a sound");
    }

    std::string sound(const char* name) const { return (adFolder / name).string(); }
    static CBAudioEngine& engine() {
        CBAudioEngine::startup();
        return *CBAudioEngine::sharedAudioEngine();
    }
    static platform::AudioPlayer& playerOf(const std::string& path) {
        return *CBAudioEngine::sharedAudioEngine()->audioCache().at(path).player;
    }

    fs::path adFolder;
};

TEST_F(AudioTest, MusicStaysSilentWhileAnotherApplicationPlays) {
    AudioSession::shared().setOtherAudioIsPlaying(true);
    auto& e = engine();
    EXPECT_TRUE(e.isMediaPlaying());
    EXPECT_EQ(AudioSession::shared().category(), platform::kAudioSessionCategoryAmbientSound)
        << "mixes with it";
    EXPECT_TRUE(AudioSession::shared().isActive());

    EXPECT_FALSE(e.playBackgroundMusicNamed(sound("music.wav")));
    EXPECT_FALSE(e.currentBackgroundMusic());
    EXPECT_TRUE(e.playSoundEffectNamed(sound("pop.wav")));
    EXPECT_TRUE(playerOf(sound("pop.wav")).isPlaying());

    // The other application stops: the next session update takes the solo category, and
    // music plays again.
    AudioSession::shared().setOtherAudioIsPlaying(false);
    e.updateSession();
    EXPECT_FALSE(e.isMediaPlaying());
    EXPECT_EQ(AudioSession::shared().category(), platform::kAudioSessionCategorySoloAmbientSound);
    EXPECT_TRUE(e.playBackgroundMusicNamed(sound("music.wav")));
    EXPECT_TRUE(playerOf(sound("music.wav")).isPlaying());
}

TEST_F(AudioTest, VolumesActOnWhatPlaysNow) {
    auto& e = engine();
    ASSERT_TRUE(e.playBackgroundMusicNamed(sound("music.wav")));
    ASSERT_TRUE(e.playSoundEffectNamed(sound("pop.wav"), 0, 0.5f));
    EXPECT_FLOAT_EQ(playerOf(sound("pop.wav")).volume(), 0.5f) << "master × effects × the play's own volume";

    e.setSoundEffectVolume(0.5f);
    e.setMasterVolume(0.5f);
    EXPECT_FLOAT_EQ(playerOf(sound("music.wav")).volume(), 0.5f);
    EXPECT_FLOAT_EQ(playerOf(sound("pop.wav")).volume(), 0.25f) << "the play's own factor is not kept";
    ASSERT_TRUE(e.playSoundEffectNamed(sound("click.wav"), 0, 0.5f));
    EXPECT_FLOAT_EQ(playerOf(sound("click.wav")).volume(), 0.125f);

    e.setSoundEffectVolume(0);
    EXPECT_FALSE(e.playSoundEffectNamed(sound("pop.wav"))) << "a silent effect volume refuses effects";
    EXPECT_TRUE(playerOf(sound("music.wav")).isPlaying());
}

TEST_F(AudioTest, SwitchesAndStopsEndWhatTheyCover) {
    auto& e = engine();
    ASSERT_TRUE(e.playSoundEffectNamed(sound("pop.wav")));
    ASSERT_TRUE(e.playSoundEffectNamed(sound("click.wav")));
    time.advance(0.5);
    EXPECT_TRUE(e.stopSoundEffects());
    for (const char* name : {"pop.wav", "click.wav"}) {
        EXPECT_FALSE(playerOf(sound(name)).isPlaying()) << name;
        EXPECT_DOUBLE_EQ(playerOf(sound(name)).currentTime(), 0.0) << name;
    }
    EXPECT_TRUE(e.currentSoundEffects().empty());

    ASSERT_TRUE(e.playSoundEffectNamed(sound("pop.wav")));
    ASSERT_TRUE(e.playSoundEffectNamed(sound("click.wav")));
    EXPECT_TRUE(e.stopSoundEffectNamed(sound("pop.wav")));
    EXPECT_FALSE(playerOf(sound("pop.wav")).isPlaying());
    EXPECT_TRUE(playerOf(sound("click.wav")).isPlaying());
    EXPECT_EQ(e.currentSoundEffects().size(), 1u);
    e.setSoundEnabled(false);
    EXPECT_FALSE(playerOf(sound("click.wav")).isPlaying());
    EXPECT_FALSE(e.playSoundEffectNamed(sound("pop.wav")));

    ASSERT_TRUE(e.playBackgroundMusicNamed(sound("music.wav")));
    e.setMusicEnabled(false);
    EXPECT_FALSE(playerOf(sound("music.wav")).isPlaying());
    EXPECT_FALSE(e.currentBackgroundMusic());
    EXPECT_FALSE(e.playBackgroundMusicNamed(sound("music.wav")));

    // A file that is no sound is cached without a player; plays of it do nothing.
    e.setSoundEnabled(true);
    EXPECT_FALSE(e.playSoundEffectNamed(sound("broken.wav")));
    ASSERT_TRUE(e.audioCache().contains(sound("broken.wav")));
    EXPECT_FALSE(e.audioCache().at(sound("broken.wav")).player);
    e.releaseAll();
    EXPECT_TRUE(e.audioCache().empty());
}

TEST_F(AudioTest, LoopCountsFollowThePlayer) {
    struct Case {
        int loops;
        double stillPlayingAt; // seconds after the start
        std::optional<double> endedBy;
    };
    const Case cases[] = {
        {0, kToneSeconds - 0.1, kToneSeconds + 0.1},
        {2, 3 * kToneSeconds - 0.1, 3 * kToneSeconds + 0.1},
        {-1, 20 * kToneSeconds, std::nullopt},
    };
    auto& e = engine();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loops);
        ASSERT_TRUE(e.playSoundEffectNamed(sound("pop.wav"), c.loops));
        auto& player = playerOf(sound("pop.wav"));
        time.advance(c.stillPlayingAt);
        EXPECT_TRUE(player.isPlaying());
        if (c.endedBy) {
            time.advance(*c.endedBy - c.stillPlayingAt);
            EXPECT_FALSE(player.isPlaying());
        }
        e.stopSoundEffects();
    }
}

TEST_F(AudioTest, SuspendKeepsTheTrackAndResumeRestartsItWithTheFailsafe) {
    auto& e = engine();
    ASSERT_TRUE(e.playBackgroundMusicNamed(sound("music.wav"), 0));
    ASSERT_TRUE(e.playSoundEffectNamed(sound("pop.wav")));
    auto& music = playerOf(sound("music.wav"));
    time.advance(0.5);

    // The application going inactive suspends the engine.
    platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillResignActiveNotification);
    EXPECT_TRUE(e.isSuspended());
    EXPECT_FALSE(music.isPlaying());
    EXPECT_FALSE(playerOf(sound("pop.wav")).isPlaying());
    EXPECT_EQ(e.currentBackgroundMusic().get(), &music) << "the track is kept";
    EXPECT_FALSE(e.playSoundEffectNamed(sound("pop.wav")));
    EXPECT_FALSE(e.playBackgroundMusicNamed(sound("music.wav")))
        << "and a new one is refused, which drops it";
    ASSERT_TRUE(e.currentBackgroundMusic() == nullptr);

    // Again with a kept track: resume plays it from where it stopped.
    e.resume();
    ASSERT_TRUE(e.playBackgroundMusicNamed(sound("music.wav"), 0));
    time.advance(0.5);
    e.suspend();
    platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
    EXPECT_FALSE(e.isSuspended());
    EXPECT_TRUE(music.isPlaying());
    EXPECT_DOUBLE_EQ(music.currentTime(), 0.5);
    // It ends (one second left), and the fail-safe plays it once more 2.0 s after the resume.
    time.advance(1.5);
    EXPECT_FALSE(music.isPlaying());
    time.advance(0.5);
    EXPECT_TRUE(music.isPlaying());

    // A second resume without a suspend does nothing: no second fail-safe.
    music.stop();
    e.resume();
    EXPECT_FALSE(music.isPlaying());
    time.advance(CBAudioEngine::kResumeFailsafeDelay + 0.1);
    EXPECT_FALSE(music.isPlaying());
}

TEST_F(AudioTest, TheFailsafeNeverOutlivesASuspendOrATeardown) {
    {
        auto& e = engine();
        ASSERT_TRUE(e.playBackgroundMusicNamed(sound("music.wav"), 0));
        e.suspend();
        e.resume();
        e.suspend();
        time.advance(CBAudioEngine::kResumeFailsafeDelay + 0.1); // the tone would still play then
        EXPECT_FALSE(playerOf(sound("music.wav")).isPlaying()) << "suspended again before the fail-safe";
    }
    auto& e = engine();
    e.resume();
    std::shared_ptr<platform::AudioPlayer> music = e.currentBackgroundMusic();
    ASSERT_TRUE(music && music->isPlaying());
    auto kept = CBAudioEngine::sharedAudioEngine(); // the engine outlives its teardown here
    CBAudioEngine::teardown();
    EXPECT_FALSE(CBAudioEngine::sharedAudioEngine());
    EXPECT_FALSE(music->isPlaying());
    EXPECT_FALSE(AudioSession::shared().isActive());
    time.advance(CBAudioEngine::kResumeFailsafeDelay + 0.1);
    EXPECT_FALSE(music->isPlaying()) << "no fail-safe after the teardown";
    kept.reset();

    // A later start-up is a fresh engine with the default volumes.
    engine().setMasterVolume(0.2f);
    CBAudioEngine::teardown();
    EXPECT_FLOAT_EQ(engine().masterVolume(), 1.0f);
    // The controller tears the engine down when the full-screen display closes.
    CBController::sharedController()->fullScreenAdDisplayWillClose();
    EXPECT_FALSE(CBAudioEngine::sharedAudioEngine());
}

// BridgeAudio on a real page.
class AudioBridgeTest : public AudioTest {
protected:
    void SetUp() override {
        webView = std::make_shared<platform::WebView>();
        handler = std::make_shared<CBAudioCommandHandler>();
        bridge = CBJavascriptBridge::bridgeInMode(CBJavascriptBridge::kBG, webView, handler);
        bridge->loadJavascriptString("var loaded = 1;", "", platform::URL::parse("file:///tmp/"));
        ASSERT_TRUE(waitFor([&] { return !bridge->isLoading() && bridge->isCBJSLoaded(); }, 0.01));
    }
    void TearDown() override { bridge->halt(); }
    // Runs page script and then every command it queued.
    void run(const std::string& script) {
        webView->stringByEvaluatingJavaScriptFromString(script);
        while (bridge->poll() > 0) {
        }
    }
    std::shared_ptr<platform::WebView> webView;
    std::shared_ptr<CBAudioCommandHandler> handler;
    std::shared_ptr<CBJavascriptBridge> bridge;
};

TEST_F(AudioBridgeTest, CommandsBeforeTheAdIsNamedDoNothing) {
    platform::LogCapture log;
    run("BridgeAudio.playSoundEffectNamed('pop.wav'); BridgeAudio.setMasterVolume('0.5');"
        "BridgeAudio.playBackgroundMusicNamed('music.wav'); BridgeAudio.suspend(); BridgeAudio.resume();"
        "BridgeAudio.preloadAudioNamed('pop.wav'); BridgeAudio.releaseAll();");
    EXPECT_FALSE(CBAudioEngine::sharedAudioEngine());
    EXPECT_TRUE(handler->resourcePath().empty());
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
}

TEST_F(AudioBridgeTest, PageCommandsDriveTheEngineInTheAdFolder) {
    run("BridgeAudio.initializeWithSlotNameDlTime('slot', 123);");
    ASSERT_TRUE(CBAudioEngine::sharedAudioEngine());
    EXPECT_EQ(handler->resourcePath(), adFolder.string());
    auto& e = *CBAudioEngine::sharedAudioEngine();

    // The script's one-argument effect repeats until stopped, unlike the engine's own.
    run("BridgeAudio.playSoundEffectNamed('pop.wav');"
        "BridgeAudio.playSoundEffectNamedLoopCountVolume('click.wav', 2, '0.5');"
        "BridgeAudio.playBackgroundMusicNamedLoopCount('music.wav', '0');");
    EXPECT_EQ(playerOf(sound("pop.wav")).numberOfLoops(), -1);
    EXPECT_EQ(playerOf(sound("click.wav")).numberOfLoops(), 2);
    EXPECT_FLOAT_EQ(playerOf(sound("click.wav")).volume(), 0.5f);
    EXPECT_EQ(e.currentBackgroundMusic(), e.audioCache().at(sound("music.wav")).player);
    EXPECT_EQ(playerOf(sound("music.wav")).numberOfLoops(), 0);

    run("BridgeAudio.setMasterVolume('0.5'); BridgeAudio.setBackgroundMusicVolume('0.5');"
        "BridgeAudio.setSoundEffectVolume(1);");
    EXPECT_FLOAT_EQ(playerOf(sound("music.wav")).volume(), 0.25f);
    EXPECT_FLOAT_EQ(playerOf(sound("pop.wav")).volume(), 0.5f);

    run("BridgeAudio.stopSoundEffectNamed('./pop.wav');");
    EXPECT_FALSE(playerOf(sound("pop.wav")).isPlaying()) << "the same file by another spelling";
    run("BridgeAudio.suspend();");
    EXPECT_TRUE(e.isSuspended());
    EXPECT_FALSE(playerOf(sound("music.wav")).isPlaying());
    run("BridgeAudio.resume(); BridgeAudio.stopSoundEffects(); BridgeAudio.stopBackgroundMusic();");
    EXPECT_FALSE(e.isSuspended());
    EXPECT_TRUE(e.currentSoundEffects().empty());
    EXPECT_FALSE(e.currentBackgroundMusic());

    // Preload and release reach the same entries as play and stop.
    run("BridgeAudio.releaseAudioNamed('pop.wav');");
    EXPECT_FALSE(e.audioCache().contains(sound("pop.wav")));
    run("BridgeAudio.preloadAudioNamed('pop.wav');");
    EXPECT_TRUE(e.audioCache().contains(sound("pop.wav")));
    run("BridgeAudio.releaseAll();");
    EXPECT_TRUE(e.audioCache().empty());
}

TEST_F(AudioBridgeTest, SoundNamesThatLeaveTheAdFolderAreRefused) {
    fs::create_directories(documents() / "private");
    fs::copy_file(adFolder / "pop.wav", documents() / "private" / "secret.wav");
    fs::copy_file(adFolder / "pop.wav", adFolder.parent_path() / "other.wav");
    fs::create_directory_symlink(documents() / "private", adFolder / "escape");
    run("BridgeAudio.initializeWithSlotNameDlTime('slot', '123');");
    auto& e = *CBAudioEngine::sharedAudioEngine();

    const std::string refused[] = {
        "../other.wav",
        "../../../../private/secret.wav",
        (documents() / "private" / "secret.wav").string(),
        "escape/secret.wav",
        "",
    };
    for (const auto& name : refused) {
        SCOPED_TRACE(name);
        platform::LogCapture log;
        const std::string quoted = CBJSON::stringWithObject(platform::Value(name));
        run("BridgeAudio.playSoundEffectNamed(" + quoted + "); BridgeAudio.playBackgroundMusicNamed(" +
            quoted + "); BridgeAudio.preloadAudioNamed(" + quoted + ");");
        EXPECT_TRUE(e.audioCache().empty());
        EXPECT_TRUE(e.currentSoundEffects().empty());
        EXPECT_FALSE(e.currentBackgroundMusic());
        EXPECT_TRUE(log.contains("BridgeAudio: refused sound name")) << name;
    }
    // ".." that comes back into the folder is the same file.
    run("BridgeAudio.playSoundEffectNamed('../123/pop.wav');");
    EXPECT_TRUE(e.audioCache().contains(sound("pop.wav")));

    // A slot name that is no single path component names no ad.
    auto other = std::make_shared<CBAudioCommandHandler>();
    for (const char* slot : {"..", "a/b", ""}) {
        SCOPED_TRACE(slot);
        EXPECT_TRUE(other->invoke("bridge_initializeWithSlotName:dlTime:",
                                  {platform::Value(slot), platform::Value("1")}));
        EXPECT_TRUE(other->resourcePath().empty());
    }
}

} // namespace
