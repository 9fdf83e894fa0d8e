#include <sys/stat.h>

#include "MediaTestSupport.h"
#include "platform/media/AudioSession.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/media/MoviePlayerViewController.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/ViewController.h"
#include "support/LoopbackServices.h"

using namespace platform;
using mediatest::MovieLog;

namespace {

constexpr const char* kLoadState = MPMoviePlayerLoadStateDidChangeNotification;
constexpr const char* kPrepared = MPMediaPlaybackIsPreparedToPlayDidChangeNotification;
constexpr const char* kPreload = MPMoviePlayerContentPreloadDidFinishNotification;
constexpr const char* kState = MPMoviePlayerPlaybackStateDidChangeNotification;
constexpr const char* kFinish = MPMoviePlayerPlaybackDidFinishNotification;

class MoviePlayerTest : public mediatest::MediaTest {
protected:
    std::shared_ptr<MoviePlayerController> samplePlayer(bool autoplay = false) {
        auto player = MoviePlayerController::create(URL::fileURL(mediatest::sampleMedia("sample-movie.mov")),
                                                    mediatest::sampleFolder());
        player->setShouldAutoplay(autoplay);
        return player;
    }
};

TEST_F(MoviePlayerTest, LoadsOnALaterTurnAndReadsTheRealMedia) {
    auto player = samplePlayer();
    MovieLog log(player);
    EXPECT_EQ(player->loadState(), MovieLoadState::Unknown);
    EXPECT_TRUE(log.entries.empty()) << "loading waits for a later turn, so callers can observe first";
    clock_.drain();
    EXPECT_EQ(log.names(), (std::vector<std::string>{kLoadState, kPrepared, kPreload}));
    EXPECT_EQ(player->loadState(), MovieLoadState::Playable | MovieLoadState::PlaythroughOK);
    EXPECT_TRUE(player->isPreparedToPlay());
    EXPECT_DOUBLE_EQ(player->duration(), 2.5);
    EXPECT_EQ(player->naturalSize(), (Size{64, 48}));
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped) << "no autoplay asked";
}

TEST_F(MoviePlayerTest, PlayPauseAndEndOnTheClock) {
    auto player = samplePlayer();
    MovieLog log(player);
    player->play(); // before loading: playback starts once the movie is loaded
    clock_.drain();
    ASSERT_EQ(player->playbackState(), MoviePlaybackState::Playing);
    EXPECT_EQ(log.names(), (std::vector<std::string>{kLoadState, kPrepared, kPreload, kState}));
    log.clear();

    clock_.advance(1.0);
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 1.0);
    player->pause();
    clock_.advance(10.0);
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Paused);
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 1.0) << "time stands still while paused";

    player->play();
    clock_.advance(1.4);
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Playing);
    clock_.advance(0.2);
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped);
    ASSERT_EQ(log.names(), (std::vector<std::string>{kState, kState, kState, kFinish}));
    EXPECT_EQ(log.entries[0].state, MoviePlaybackState::Paused);
    EXPECT_EQ(log.entries[1].state, MoviePlaybackState::Playing);
    EXPECT_EQ(log.entries[2].state, MoviePlaybackState::Stopped);
    EXPECT_EQ(log.entries[3].reason, std::int64_t(MovieFinishReason::PlaybackEnded));
    EXPECT_FALSE(log.entries[3].error);
    EXPECT_DOUBLE_EQ(log.entries[3].time, 2.5);

    // Playing again starts from the beginning; the finish is reported once per playback.
    log.clear();
    player->play();
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0.0);
    clock_.advance(3.0);
    EXPECT_EQ(log.names(), (std::vector<std::string>{kState, kState, kFinish}));
}

TEST_F(MoviePlayerTest, AutoplaySeekAndStop) {
    auto player = samplePlayer(true);
    MovieLog log(player);
    clock_.drain();
    ASSERT_EQ(player->playbackState(), MoviePlaybackState::Playing) << "autoplay starts once loaded";
    player->setCurrentPlaybackTime(2.0);
    clock_.advance(0.25);
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 2.25);
    log.clear();

    player->stop();
    ASSERT_EQ(log.names(), (std::vector<std::string>{kState, kFinish}));
    EXPECT_EQ(log.entries[1].reason, std::int64_t(MovieFinishReason::UserExited));
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0.0);
    player->stop();
    clock_.advance(5.0);
    EXPECT_EQ(log.entries.size(), 2u) << "a stopped player reports nothing more";
}

TEST_F(MoviePlayerTest, AnAudioInterruptionHoldsThePlayingMovie) {
    AudioSession::resetForTesting();
    auto player = samplePlayer(true);
    clock_.drain();
    clock_.advance(0.5);
    MovieLog log(player);
    AudioSession::shared().beginInterruption();
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Interrupted);
    clock_.advance(10);
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0.5);
    AudioSession::shared().endInterruption();
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Paused);
    player->play();
    clock_.advance(2.0);
    EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped);
    ASSERT_EQ(log.names(), (std::vector<std::string>{kState, kState, kState, kState, kFinish}));
    EXPECT_EQ(log.entries[0].state, MoviePlaybackState::Interrupted);
    EXPECT_EQ(log.entries[4].reason, std::int64_t(MovieFinishReason::PlaybackEnded));
    AudioSession::resetForTesting();
}

TEST_F(MoviePlayerTest, StopOrPauseWhileLoadingKeepsTheLoadedMovieStill) {
    auto stopped = samplePlayer(true);
    MovieLog log(stopped);
    stopped->stop();
    clock_.drain();
    EXPECT_TRUE(stopped->isPreparedToPlay());
    EXPECT_EQ(stopped->playbackState(), MoviePlaybackState::Stopped);
    EXPECT_EQ(log.names(), (std::vector<std::string>{kFinish, kLoadState, kPrepared, kPreload}));

    auto paused = samplePlayer(true);
    paused->play();
    paused->pause();
    clock_.drain();
    EXPECT_TRUE(paused->isPreparedToPlay());
    EXPECT_EQ(paused->playbackState(), MoviePlaybackState::Stopped);
}

TEST_F(MoviePlayerTest, UnplayableContentFinishesWithAnError) {
    auto garbage = home_ / "garbage.mov";
    mediatest::writeFile(garbage, std::string(4096, 'x'));
    auto empty = home_ / "empty.mp4";
    mediatest::writeFile(empty, "");
    struct Case {
        const char* what;
        URL url;
        std::int64_t code;
    } cases[] = {
        {"not a movie", URL::fileURL(garbage), kMoviePlayerErrorCannotPlay},
        {"empty file", URL::fileURL(empty), kMoviePlayerErrorCannotPlay},
        {"missing file", URL::fileURL(home_ / "nowhere.mov"), kURLErrorFileDoesNotExist},
        {"folder", URL::fileURL(home_), kURLErrorFileDoesNotExist},
        {"other scheme", *URL::parse("ftp://example.com/a.mov"), kURLErrorUnsupportedURL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto player = MoviePlayerController::create(c.url, ReadableFolder(home_));
        MovieLog log(player);
        player->play();
        clock_.drain();
        ASSERT_EQ(log.names(), (std::vector<std::string>{kFinish, kPreload}));
        EXPECT_EQ(log.entries[0].reason, std::int64_t(MovieFinishReason::PlaybackError));
        ASSERT_TRUE(log.entries[0].error);
        EXPECT_EQ(log.entries[0].error->code, c.code);
        ASSERT_TRUE(log.entries[1].error);
        EXPECT_EQ(log.entries[1].error->code, c.code);
        EXPECT_EQ(player->loadState(), MovieLoadState::Unknown);
        EXPECT_FALSE(player->isPreparedToPlay());
        EXPECT_EQ(player->playbackState(), MoviePlaybackState::Stopped);
        player->play();
        clock_.advance(5);
        EXPECT_EQ(log.entries.size(), 2u) << "a failed movie does not try again by itself";
    }
}

TEST_F(MoviePlayerTest, AReleasedPlayerStopsAndSendsNothingMore) {
    auto window = makeKeyWindow();
    auto player = samplePlayer(true);
    window->addSubview(player->view());
    std::weak_ptr<MoviePlayerView> view = player->view();
    int posted = 0;
    auto token =
        NotificationCenter::defaultCenter().addObserver(kFinish, [&](const Notification&) { ++posted; });
    clock_.drain();
    ASSERT_EQ(player->playbackState(), MoviePlaybackState::Playing);
    player.reset();
    EXPECT_TRUE(view.expired()) << "the view leaves the screen with its player";
    clock_.advance(10);
    EXPECT_EQ(posted, 0);
    EXPECT_EQ(RunLoop::main().pendingTimerCount(), 0u);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(MoviePlayerTest, NewContentEndsThePreviousMovieSilently) {
    auto player = samplePlayer(true);
    MovieLog log(player);
    clock_.drain();
    log.clear();
    player->setContentURL(URL::fileURL(mediatest::sampleMedia("sample-tone.wav")));
    EXPECT_EQ(player->loadState(), MovieLoadState::Unknown);
    clock_.drain();
    EXPECT_EQ(log.names(), (std::vector<std::string>{kLoadState, kPrepared, kPreload, kState}));
    EXPECT_DOUBLE_EQ(player->duration(), 1.5) << "a sound file plays too";
    EXPECT_EQ(player->naturalSize(), (Size{0, 0}));
    clock_.advance(2.0);
    EXPECT_EQ(log.entries.back().name, kFinish);
    EXPECT_EQ(log.entries.size(), 6u) << "only the new movie's end is reported";
}

TEST_F(MoviePlayerTest, FullscreenCoversTheKeyWindowAndComesBack) {
    auto window = makeKeyWindow();
    auto holder = std::make_shared<View>(Rect{10, 20, 200, 100});
    window->addSubview(holder);
    auto player = samplePlayer();
    holder->addSubview(player->view());
    player->view()->setFrame(Rect{0, 0, 200, 100});
    clock_.drain();
    MovieLog log(player);

    player->setFullscreen(true, true);
    EXPECT_TRUE(player->isFullscreen());
    EXPECT_EQ(player->view()->superview(), window);
    EXPECT_EQ(player->view()->frame(), window->bounds());
    EXPECT_EQ(log.names(), (std::vector<std::string>{MPMoviePlayerWillEnterFullscreenNotification}));
    clock_.advance(MoviePlayerController::kFullscreenAnimationDuration);
    EXPECT_EQ(log.names().back(), MPMoviePlayerDidEnterFullscreenNotification);
    player->setFullscreen(true);
    EXPECT_EQ(log.entries.size(), 2u) << "no change, no notice";

    player->setFullscreen(false);
    EXPECT_EQ(player->view()->superview(), holder);
    EXPECT_EQ(player->view()->frame(), (Rect{0, 0, 200, 100}));
    EXPECT_EQ(log.names().back(), MPMoviePlayerDidExitFullscreenNotification);
}

TEST_F(MoviePlayerTest, TheTextScreenShowsNameStateAndTime) {
    auto window = makeKeyWindow();
    auto player = samplePlayer();
    player->view()->setFrame(Rect{0, 0, 320, 100});
    window->addSubview(player->view());
    EXPECT_NE(TextRenderer::renderScreen().find("[sample-movie.mov loading]"), std::string::npos)
        << TextRenderer::renderScreen();
    player->play();
    clock_.drain();
    clock_.advance(1.25);
    EXPECT_NE(TextRenderer::renderScreen().find("[sample-movie.mov playing 0:01/0:02]"), std::string::npos)
        << TextRenderer::renderScreen();
}

TEST_F(MoviePlayerTest, ViewControllerPresentsThePlayerAndDoneLeavesIt) {
    auto window = makeKeyWindow();
    auto root = std::make_shared<ViewController>();
    window->setRootViewController(root);
    auto screen = MoviePlayerViewController::create(URL::fileURL(mediatest::sampleMedia("sample-movie.mov")),
                                                    mediatest::sampleFolder());
    auto player = screen->moviePlayer();
    EXPECT_EQ(player->controlStyle(), MovieControlStyle::Fullscreen);
    MovieLog log(player);

    presentMoviePlayerViewControllerAnimated(*root, screen, false);
    EXPECT_EQ(root->presentedViewController(), screen);
    EXPECT_EQ(player->view()->superview(), screen->view());
    clock_.drain();
    ASSERT_EQ(player->playbackState(), MoviePlaybackState::Playing);

    ASSERT_TRUE(TextRenderer::tap("Done"));
    ASSERT_EQ(log.entries.back().name, kFinish);
    EXPECT_EQ(log.entries.back().reason, std::int64_t(MovieFinishReason::UserExited));

    dismissMoviePlayerViewControllerAnimated(*root, false);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    dismissMoviePlayerViewControllerAnimated(*root, false); // nothing left to dismiss
    EXPECT_TRUE(root->isViewLoaded());
}

TEST_F(MoviePlayerTest, RemoteMovieIsDownloadedWithinItsCap) {
    fwtest::LoopbackServices services;
    std::string movie;
    {
        std::ifstream in(mediatest::sampleMedia("sample-movie.mov"), std::ios::binary);
        movie.assign(std::istreambuf_iterator<char>(in), {});
    }
    services.handle("GET", "/media/clip.mov", [movie](const services::LoggedRequest&) {
        return services::ServiceReply{200, movie, "video/quicktime", {}};
    });
    services.handle("GET", "/media/missing.mov", [](const services::LoggedRequest&) {
        return services::ServiceReply{404, "not here", "text/plain", {}};
    });

    auto player = MoviePlayerController::create(services.urlFor("/media/clip.mov"));
    MovieLog log(player);
    player->play();
    ASSERT_TRUE(clock_.runUntil([&] { return player->playbackState() == MoviePlaybackState::Playing; }));
    EXPECT_DOUBLE_EQ(player->duration(), 2.5);
    auto download = player->localFile();
    EXPECT_EQ(download.parent_path(), DeviceHome::tmp());
    EXPECT_TRUE(std::filesystem::exists(download));
    player.reset();
    EXPECT_FALSE(std::filesystem::exists(download)) << "the downloaded copy goes with its player";

    struct Case {
        const char* what;
        const char* path;
        std::int64_t cap;
        std::int64_t code;
    } failures[] = {
        {"error status", "/media/missing.mov", MoviePlayerController::kMaximumRemoteMovieLength,
         kURLErrorBadServerResponse},
        {"over the cap", "/media/clip.mov", 1000, kURLErrorDataLengthExceedsMaximum},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.what);
        auto failing = MoviePlayerController::create(services.urlFor(c.path));
        failing->setMaximumRemoteMovieLength(c.cap);
        MovieLog failLog(failing);
        ASSERT_TRUE(clock_.runUntil([&] { return failing->loadError().has_value(); }));
        ASSERT_FALSE(failLog.entries.empty());
        EXPECT_EQ(failLog.entries[0].reason, std::int64_t(MovieFinishReason::PlaybackError));
        ASSERT_TRUE(failLog.entries[0].error);
        EXPECT_EQ(failLog.entries[0].error->code, c.code);
    }
}

} // namespace
