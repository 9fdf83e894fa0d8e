// Video ads end to end on the manual clock: a reply that caches its video, the cached video
// played to its end with its countdown and tracking, each end action, the button commands,
// the ad view's replay of a cached video, and a damaged cached file downloaded again.
#include "MeridianTestSupport.h"

#include <fstream>
#include <functional>

#include "meridian/MRJSONAd.h"
#include "meridian/MRJSONAdView.h"
#include "meridian/MRJSONVideoAdView.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/FileManager.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

using namespace meridiantest;
using meridian::MRJSONAd;
using meridian::MRJSONAdView;
using meridian::MRJSONVideoAdView;
using meridian::MRURLDownload;
using meridian::MRVideoCache;

namespace {

class RecordingVideoDelegate : public meridian::MRJSONAdViewDelegate {
public:
    explicit RecordingVideoDelegate(Events events) : events_(std::move(events)) {}
    void jsonAdViewTransitionAnimationWillBegin(MRJSONAdView&) override { add("begin"); }
    void jsonAdViewRequestSucceeded(MRJSONAdView&) override { add("succeeded"); }
    void jsonAdViewRequestFailed(MRJSONAdView&) override { add("failed"); }
    void jsonAdViewWantsToOpenURL(MRJSONAdView&, const platform::URL& url) override {
        add("open:" + url.absoluteString());
    }
    void jsonAdViewVideoAdWillDisappear(MRJSONAdView&) override { add("willDisappear"); }
    void jsonAdViewVideoAdWillAppear(MRJSONAdView&) override { add("willAppear"); }
    void jsonAdViewVideoAdDidAppear(MRJSONAdView&) override { add("didAppear"); }
    void jsonAdViewWillPlayChachedVideo(MRJSONAdView&) override { add("willPlayCached"); }
    void jsonAdViewWillLoadVideoURL(MRJSONAdView&) override { add("willLoadVideo"); }
    bool jsonAdViewWantToShowOverlayWithHTML(MRJSONAdView&, meridian::MRJSONVideoAdView&, const std::string& html,
                                             int orientation, bool open, bool close) override {
        add("overlayHTML:" + html + flags(orientation, open, close));
        return overlayOpens;
    }
    bool jsonAdViewWantToShowOverlayWithRequest(MRJSONAdView&, meridian::MRJSONVideoAdView&,
                                                const platform::URLRequest& r, int orientation, bool open,
                                                bool close) override {
        add("overlayRequest:" + r.url().absoluteString() + flags(orientation, open, close));
        return overlayOpens;
    }

    // Whether the landing page a video asks for opens.
    bool overlayOpens = true;
    void jsonAdViewVideoCacheFailed(MRJSONAdView&) override { add("cacheFailed"); }
    void jsonAdViewVideoCacheSucceeded(MRJSONAdView&) override { add("cacheSucceeded"); }
    void jsonAdViewVideoAdFailed(MRJSONAdView&) override { add("videoFailed"); }
    void jsonAdViewVideoAdSucceeded(MRJSONAdView&) override { add("videoSucceeded"); }
    void jsonAdViewVideoAdFinishedPlaying(MRJSONAdView&, bool startTimer) override {
        add(std::string("finished:") + (startTimer ? "timer" : "noTimer"));
    }

private:
    static std::string flags(int orientation, bool open, bool close) {
        return "|" + std::to_string(orientation) + (open ? "|open" : "|-") + (close ? "|close" : "|-");
    }
    void add(std::string e) { events_->push_back(std::move(e)); }
    Events events_;
};

class MeridianVideoPlayback : public MeridianFixture {
protected:
    MeridianVideoPlayback() {
        window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        window->makeKeyAndVisible();
        for (auto name : {"MRCachingBeganNotification", "MRCachingEndedNotification"})
            platform::NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const platform::Notification&) { events->push_back(std::string("posted:") + name); });
        recorder = std::make_shared<RecordingVideoDelegate>(events);
        container = MRJSONAdView::create(platform::Rect(0, 0, 320, 50), recorder);
    }
    ~MeridianVideoPlayback() override {
        MRURLDownload::cancelAllForTesting();
        window->setHidden(true);
    }

    // A video reply for the services' 30-second spot.
    std::string reply(std::string extra = {}, std::string id = "spot") {
        std::string base = services.baseURL();
        return R"({"type":"video","video":{"id":")" + id + R"(","content-url":")" + base +
               R"(/meridian/videos/spot.avi","expiration":"2030-01-01 00:00:00 +0000","duration":30,
               "showCountdownHUD":true,"startActivity":[")" + base + R"(/meridian/track/start"],
               "endActivity":[")" + base + R"(/meridian/track/end"],
               "log":[{"time":"0","urls":[")" + base + R"(/meridian/track/0s"]},
                      {"time":"5","urls":[")" + base + R"(/meridian/track/5s"]},
                      {"time":15,"urls":[")" + base + R"(/meridian/track/15s"]}],
               "buttons":[{"image":")" + base + R"(/meridian/images/button-close.png","url":"mrsdk://endVideo",
                           "activity":[")" + base + R"(/meridian/track/close"],"appearanceDelay":2}])" +
               extra + "}}";
    }
    void load(const std::string& text) {
        container->loadWithAdContents(platform::Data(text.begin(), text.end()));
    }
    // Caches the video of `text`; answers its record.
    std::shared_ptr<MRVideoCache> cache(const std::string& text, std::string id = "spot") {
        load(text);
        EXPECT_TRUE(waitForEvent("cacheSucceeded"));
        auto record = MRVideoCache::loadFromArchive(id);
        EXPECT_NE(record, nullptr);
        events->clear();
        return record;
    }
    std::shared_ptr<MRJSONVideoAdView> video() { return container->videoAdView(); }
    // Lets the player load and start on the current turn of the clock.
    void settle() { clock.drain(); }

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<RecordingVideoDelegate> recorder;
    std::shared_ptr<MRJSONAdView> container;
};

} // namespace

TEST_F(MeridianVideoPlayback, AFirstReplyCachesItsVideoAndNothingPlays) {
    load(reply());
    EXPECT_EQ(*events, (std::vector<std::string>{"willLoadVideo", "posted:MRCachingBeganNotification",
                                                 "videoFailed", "begin"}));
    EXPECT_EQ(video()->player(), nullptr);
    EXPECT_FALSE(video()->isHidden());
    EXPECT_TRUE(container->imageAdView()->isHidden());
    ASSERT_TRUE(waitForEvent("cacheSucceeded"));
    EXPECT_EQ(countOf(*events, "posted:MRCachingEndedNotification"), 1u);
    auto record = MRVideoCache::loadFromArchive("spot");
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->isDownloadComplete());
    EXPECT_TRUE(meridian::MRHandshake::sharedHandshake().lastVideoRequestMadeAt().has_value());
    // The button picture was fetched once, while caching.
    EXPECT_EQ(services.requestCount("/meridian/images/button-close.png"), 1u);
    // The same reply again plays at once from the cache.
    events->clear();
    load(reply());
    ASSERT_NE(video()->player(), nullptr);
    EXPECT_EQ(countOf(*events, "videoSucceeded"), 1u);
    EXPECT_EQ(countOf(*events, "videoFailed"), 0u);
    EXPECT_EQ(services.requestCount("/meridian/images/button-close.png"), 1u);
}

TEST_F(MeridianVideoPlayback, ACachedVideoPlaysToItsEndWithCountdownAndTracking) {
    auto record = cache(reply());
    platform::Application::shared().setStatusBarHidden(false);
    container->playVideoAdWithCache(record);
    EXPECT_EQ(*events, (std::vector<std::string>{"willPlayCached", "videoSucceeded", "willAppear", "didAppear",
                                                 "begin"}));
    EXPECT_EQ(MRVideoCache::loadFromArchive("spot")->numPlays(), 1);
    auto player = video()->player();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->view()->superview(), window);
    // Turned a quarter to landscape: its bounds are the window's, width and height exchanged.
    EXPECT_EQ(player->view()->bounds().size, (platform::Size{window->bounds().height(), window->bounds().width()}));
    EXPECT_TRUE(platform::Application::shared().isStatusBarHidden());
    auto overlay = video()->videoControlOverlay();
    ASSERT_NE(overlay, nullptr);
    ASSERT_NE(overlay->countdownLabel(), nullptr);
    EXPECT_EQ(overlay->countdownLabel()->text(), "30 seconds remaining...");

    settle();
    EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Playing);
    ASSERT_TRUE(waitForRequests("/meridian/track/start", 1));
    // One second less per tick, none skipped: each tick counts the second that is ending.
    for (int second = 1; second <= 29; ++second) {
        clock.advance(1);
        EXPECT_EQ(overlay->countdownLabel()->text(), std::to_string(30 - second) + " seconds remaining...")
            << second;
    }
    ASSERT_TRUE(waitForRequests("/meridian/track/0s", 1));
    ASSERT_TRUE(waitForRequests("/meridian/track/5s", 1));
    clock.advance(2);
    ASSERT_TRUE(waitForRequests("/meridian/track/end", 1));
    // Each timed entry was requested once, second 0 included; "time" given as a number never
    // matches.
    EXPECT_EQ(services.requestCount("/meridian/track/0s"), 1u);
    EXPECT_EQ(services.requestCount("/meridian/track/5s"), 1u);
    EXPECT_EQ(services.requestCount("/meridian/track/15s"), 0u);
    EXPECT_EQ(video()->player(), nullptr);
    EXPECT_EQ(player->view()->superview(), nullptr);
    EXPECT_FALSE(platform::Application::shared().isStatusBarHidden());
    EXPECT_EQ(countOf(*events, "willDisappear"), 1u);
    EXPECT_EQ(countOf(*events, "finished:timer"), 1u);
    clock.advance(1);
    EXPECT_FALSE(video()->isPlaybackTimerRunning());
}

TEST_F(MeridianVideoPlayback, EndActions) {
    struct Case {
        std::string name;
        std::string onCompletion;
        bool playerStays;
        std::vector<std::string> expected;
        bool overlayOpens = true;
    };
    std::string landing = services.url("/landing/banner.html");
    // Without a landing page to go to, the player closes with refresh on, as a plain end does.
    const std::vector<std::string> plainEnd = {"willDisappear", "finished:timer"};
    const Case cases[] = {
        {"none", "", false, plainEnd},
        {"stay", R"(,"onCompletion":{"stayInPlayer":true})", true, {"finished:noTimer"}},
        {"url", R"(,"onCompletion":{"url":")" + landing + R"("})", false,
         {"overlayRequest:" + landing + "|3|-|close", "finished:noTimer"}},
        {"html", R"(,"onCompletion":{"html":"<p>thanks</p>"})", false,
         {"overlayHTML:<p>thanks</p>|3|-|close", "finished:noTimer"}},
        {"empty", R"(,"onCompletion":{})", false, plainEnd},
        {"leave", R"(,"onCompletion":{"stayInPlayer":false})", false, plainEnd},
        {"badurl", R"(,"onCompletion":{"url":""})", false, plainEnd},
        {"notext", R"(,"onCompletion":{"url":7,"html":false})", false, plainEnd},
        {"unopened", R"(,"onCompletion":{"url":")" + landing + R"("})", false,
         {"overlayRequest:" + landing + "|3|-|close", "willDisappear", "finished:timer"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        recorder->overlayOpens = c.overlayOpens;
        auto id = "spot-" + c.name;
        auto record = cache(reply(c.onCompletion, id), id);
        container->playVideoAdWithCache(record);
        settle();
        events->clear();
        auto endsBefore = services.requestCount("/meridian/track/end");
        clock.advance(31);
        ASSERT_TRUE(waitForRequests("/meridian/track/end", endsBefore + 1));
        EXPECT_EQ(*events, c.expected);
        EXPECT_EQ(video()->player() != nullptr, c.playerStays);
        if (!c.playerStays)
            continue;
        // Every button is shown; closing through "mrsdk://endVideo" reports the end again
        // without its tracking.
        auto overlay = video()->videoControlOverlay();
        ASSERT_TRUE(overlay && overlay->isVideoFinishedPlaying());
        ASSERT_EQ(overlay->buttons().size(), 1u);
        EXPECT_EQ(overlay->buttons()[0].button->superview(), overlay);
        events->clear();
        overlay->buttons()[0].button->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
        EXPECT_EQ(*events, (std::vector<std::string>{"willDisappear", "finished:timer"}));
        ASSERT_TRUE(waitForRequests("/meridian/track/close", 1));
        clock.drain();
        EXPECT_EQ(services.requestCount("/meridian/track/end"), endsBefore + 1);
        EXPECT_EQ(video()->player(), nullptr);
    }
}

TEST_F(MeridianVideoPlayback, ButtonCommands) {
    std::string landing = services.url("/landing/banner.html");
    auto record = cache(reply());
    container->playVideoAdWithCache(record);
    settle();
    auto player = video()->player();
    auto press = [&](std::string address) {
        auto json = platform::Dictionary{{"url", address}, {"title", "go"}};
        auto button = meridian::MRJSONVideoButton::initWithJSONButton(json);
        container->videoButtonWasPressed(*video(), *button);
    };
    clock.advance(3);
    press("mrsdk://pauseVideo");
    EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Paused);
    EXPECT_FALSE(video()->isPlaybackTimerRunning());
    press("mrsdk://playVideo");
    EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Playing);
    EXPECT_TRUE(video()->isPlaybackTimerRunning());
    press("mrsdk://restartVideo");
    EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), 0);
    EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Playing);
    events->clear();
    press("sms:5551234");
    EXPECT_EQ(*events, std::vector<std::string>{"open:sms:5551234"});
    EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Paused);
    events->clear();
    press(landing);
    EXPECT_EQ(*events, std::vector<std::string>{"overlayRequest:" + landing + "|3|-|-"});
    // The landing page's close lets the video play on.
    platform::NotificationCenter::defaultCenter().post("MROverlayWillClose");
    EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Playing);
    events->clear();
    press("mrsdk://endVideo");
    EXPECT_EQ(*events, (std::vector<std::string>{"willDisappear", "finished:timer"}));
    EXPECT_EQ(video()->player(), nullptr);
}

TEST_F(MeridianVideoPlayback, AnUnplayableCachedFileIsDownloadedAgain) {
    auto record = cache(reply());
    {
        std::ofstream damaged(record->localPath(), std::ios::binary | std::ios::trunc);
        damaged << "not a movie";
    }
    container->playVideoAdWithCache(record);
    ASSERT_TRUE(waitForEvent("cacheSucceeded"));
    EXPECT_EQ(video()->player(), nullptr);
    EXPECT_EQ(countOf(*events, "finished:timer") + countOf(*events, "finished:noTimer"), 0u);
    auto replaced = platform::FileManager::contentsAtPath(record->localPath());
    ASSERT_TRUE(replaced);
    EXPECT_GT(replaced->size(), 1000u);
}

TEST_F(MeridianVideoPlayback, OrientationForVideo) {
    struct Case {
        platform::InterfaceOrientation statusBar;
        int expected;
    };
    const Case cases[] = {{platform::InterfaceOrientation::Portrait, 3},
                          {platform::InterfaceOrientation::PortraitUpsideDown, 3},
                          {platform::InterfaceOrientation::LandscapeRight, 3},
                          {platform::InterfaceOrientation::LandscapeLeft, 4}};
    for (const auto& c : cases) {
        platform::Application::shared().setStatusBarOrientation(c.statusBar);
        EXPECT_EQ(MRJSONVideoAdView::orientationForVideo(), c.expected);
    }
}

TEST_F(MeridianVideoPlayback, TheAdViewPlaysAFinishedDownloadInsteadOfRequesting) {
    auto view = banner(1, true, false, std::string("fw-meridian"));
    ASSERT_TRUE(waitForEvent("caching"));
    EXPECT_EQ(*events, (std::vector<std::string>{"posted:MRCachingBeganNotification", "failed", "caching"}));
    EXPECT_FALSE(view->enableManualAdRefresh());
    ASSERT_TRUE(waitFor([] { return platform::FileManager::fileExists(MRVideoCache::markerPath()); }));
    ASSERT_TRUE(waitFor([&] { return view->enableManualAdRefresh(); }));
    auto requests = services.requestCount(services::kMeridianAdPath);

    events->clear();
    view->refreshAd();
    EXPECT_EQ(services.requestCount(services::kMeridianAdPath), requests);
    EXPECT_FALSE(platform::FileManager::fileExists(MRVideoCache::markerPath()));
    EXPECT_EQ(*events, (std::vector<std::string>{"refresh", "succeeded", "modalWillAppear", "modalDidAppear"}));
    clock.drain();
    ASSERT_TRUE(waitForRequests("/meridian/track/start", 1));
    clock.advance(31);
    ASSERT_TRUE(waitForRequests("/meridian/track/end", 1));
    EXPECT_EQ(countOf(*events, "modalDismissed"), 1u);
    EXPECT_EQ(MRVideoCache::loadFromArchive("fw-spot-1")->numPlays(), 1);
}

TEST_F(MeridianVideoPlayback, APlaybackErrorOtherThanUnplayableEndsTheVideoAndRefreshGoesOn) {
    auto record = cache(reply());
    container->playVideoAdWithCache(record);
    settle();
    auto player = video()->player();
    ASSERT_NE(player, nullptr);
    events->clear();
    platform::Error error{platform::kURLErrorDomain, platform::kURLErrorCannotConnectToHost, "gone", {}};
    platform::NotificationCenter::defaultCenter().post(
        platform::MPMoviePlayerPlaybackDidFinishNotification, player,
        platform::Dictionary{{platform::MPMoviePlayerPlaybackDidFinishReasonUserInfoKey,
                              static_cast<std::int64_t>(platform::MovieFinishReason::PlaybackError)},
                             {platform::kMoviePlayerErrorUserInfoKey, platform::movieErrorValue(error)}});
    // The player closes and its end restarts the refresh; a video that did not play through
    // sends no end tracking, and its file is not downloaded again.
    EXPECT_EQ(*events, (std::vector<std::string>{"willDisappear", "finished:timer"}));
    EXPECT_EQ(video()->player(), nullptr);
    EXPECT_EQ(MRURLDownload::runningCount(), 0u);
    clock.drain();
    EXPECT_EQ(services.requestCount("/meridian/track/end"), 0u);
}

TEST_F(MeridianVideoPlayback, BackgroundPausesAndForegroundResumesPlayback) {
    auto record = cache(reply());
    container->playVideoAdWithCache(record);
    settle();
    auto player = video()->player();
    ASSERT_NE(player, nullptr);
    clock.advance(3);
    auto& center = platform::NotificationCenter::defaultCenter();
    for (auto leaving : {platform::kApplicationWillResignActiveNotification,
                         platform::kApplicationDidEnterBackgroundNotification}) {
        SCOPED_TRACE(leaving);
        center.post(leaving);
        EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Paused);
        EXPECT_FALSE(video()->isPlaybackTimerRunning());
        double held = player->currentPlaybackTime();
        auto label = video()->videoControlOverlay()->countdownLabel()->text();
        clock.advance(10);
        // Time stands still in the background: no tracking, no countdown.
        EXPECT_DOUBLE_EQ(player->currentPlaybackTime(), held);
        EXPECT_EQ(video()->videoControlOverlay()->countdownLabel()->text(), label);
        center.post(platform::kApplicationWillEnterForegroundNotification);
        EXPECT_EQ(player->playbackState(), platform::MoviePlaybackState::Playing);
        EXPECT_TRUE(video()->isPlaybackTimerRunning());
    }
    // It plays on to its end, counted in playback time.
    clock.advance(28);
    ASSERT_TRUE(waitForRequests("/meridian/track/end", 1));
    // Each tracking request has its own connection: the earlier one may arrive later.
    ASSERT_TRUE(waitForRequests("/meridian/track/5s", 1));
    EXPECT_EQ(services.requestCount("/meridian/track/5s"), 1u);
    EXPECT_EQ(video()->player(), nullptr);
}

TEST_F(MeridianVideoPlayback, ARefusedVideoReplyKeepsTheAdViewsRefreshRunning) {
    // A host whose own refresh timer is on; the reply names a video the cache refuses.
    delegate->refresh = 30;
    std::string refused = reply("", "../escape");
    services.handle("GET", std::string(services::kMeridianAdPath), [refused](const services::LoggedRequest&) {
        return services::ServiceReply{200, refused, "application/json", {}};
    });
    auto view = banner(1, true, true);
    ASSERT_TRUE(waitForEvent("failed"));
    EXPECT_TRUE(view->isRefreshTimerRunning());
    EXPECT_TRUE(view->enableManualAdRefresh());
    auto requests = services.requestCount(services::kMeridianAdPath);
    clock.advance(31);
    ASSERT_TRUE(waitForRequests(services::kMeridianAdPath, requests + 1));
    view->disableAdRefresh();
}

TEST_F(MeridianVideoPlayback, CachingEndsForEveryViewEvenWhenTheOneThatStartedItIsGone) {
    auto other = banner(1, false, false);
    load(reply());
    EXPECT_FALSE(other->enableManualAdRefresh());
    // The view that started the download goes away before it ends.
    container.reset();
    ASSERT_TRUE(waitFor([] { return MRURLDownload::runningCount() == 0; }));
    EXPECT_EQ(countOf(*events, "posted:MRCachingEndedNotification"), 1u);
    EXPECT_TRUE(other->enableManualAdRefresh());
    EXPECT_TRUE(MRVideoCache::loadFromArchive("spot")->isDownloadComplete());
}

TEST_F(MeridianVideoPlayback, AReplayTooLateOrOfAnExpiredRecordAsksTheServerInstead) {
    waitForHandshake();
    struct Case {
        std::string name;
        std::function<void(MRVideoCache&)> age;
    };
    const Case cases[] = {
        // The handshake's deferred-view time-out (1800 s) has passed since the video request.
        {"deferred time-out", [this](MRVideoCache&) { clock.advance(1801); }},
        {"expired record",
         [](MRVideoCache& record) {
             record.setExperation(platform::Date{platform::Clock::current().now() - 1});
             record.save();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto id = "late-" + std::to_string(&c - cases);
        auto record = cache(reply("", id), id);
        ASSERT_TRUE(platform::FileManager::fileExists(MRVideoCache::markerPath()));
        c.age(*record);
        // A reply the view can show, so the request's outcome is plain.
        services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
            return services::ServiceReply{200, "<p>ad</p>", "text/html", {}};
        });
        auto requests = services.requestCount(services::kMeridianAdPath);
        auto view = banner(1, true, false);
        ASSERT_TRUE(waitForEvent("succeeded"));
        EXPECT_EQ(services.requestCount(services::kMeridianAdPath), requests + 1);
        EXPECT_FALSE(platform::FileManager::fileExists(MRVideoCache::markerPath()));
        EXPECT_EQ(countOf(*events, "modalWillAppear"), 0u);
        EXPECT_EQ(view->jsonAdView()->videoAdView()->player(), nullptr);
        events->clear();
    }
}
