// The slot view and its ad view controller: a cached ad shown from its bundle on disk,
// visibility with impressions and tracking pixels, the ad event at the end of the ad, the
// full-screen count, URL macros and the process-wide event hook.
#include <gtest/gtest.h>

#include "AdDisplayFixture.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "support/LoopbackServices.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEventKeys.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"

namespace richmediatest {
namespace {

using vellum::VellumAdView;
using vellum::VellumAdViewController;
namespace exit_code = vellum::MRAdExitCode;

class AdViewTest : public AdDisplayFixture {};

TEST_F(AdViewTest, CachedAdShowsItsBundlePageInTheSlot) {
    storeBanner("ad-1");
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    auto c = view->adVC();
    ASSERT_TRUE(c);
    EXPECT_TRUE(view->adIsCurrentlyLoaded());
    EXPECT_TRUE(c->loaded());
    EXPECT_EQ(c->ad()->adID, "ad-1");
    EXPECT_TRUE(c->view()->isDescendantOf(view.get()));
    ASSERT_TRUE(pageLoaded(*c));
    EXPECT_EQ(c->webView()->title(), "ad");
    // The page got the start-up call with the bridge version.
    EXPECT_NE(got(*c->webView()).find("init:1.1,"), std::string::npos) << got(*c->webView());

    auto event = c->event();
    ASSERT_TRUE(event);
    EXPECT_EQ(event->eventKey(), "MRAdViewed");
    EXPECT_EQ(string(*event, vellum::MRAdIDKey), "ad-1");
    EXPECT_EQ(string(*event, vellum::MRAdSlotKey), "banner-top");
    EXPECT_EQ(number(*event, vellum::MRAdExitKey), exit_code::kLoaded);
}

TEST_F(AdViewTest, UnknownAdLeavesTheSlotEmptyAndWaitsForADownload) {
    auto view = slotView();
    EXPECT_FALSE(view->loadAdWithID("missing", std::nullopt));
    EXPECT_FALSE(view->adVC());
    EXPECT_TRUE(view->isWatchingForAd());
}

TEST_F(AdViewTest, FirstSightRecordsImpressionAndFiresPixelsOnce) {
    fwtest::LoopbackServices services;
    storeBanner("ad-px", {{"trackingPixels",
                           platform::Array{services.url("/pixel?d=[MR_DEVICEID]&e=[MR_DEVICEID]&r=[MR_RANDOM]")}}});
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-px", std::nullopt));
    auto c = view->adVC();
    EXPECT_TRUE(c->visible());
    EXPECT_TRUE(c->firstView());
    EXPECT_EQ(c->ad()->impressions, 1);
    ASSERT_TRUE(clock.runUntil(
        [&] { return services.requestCount("/pixel") == 1 && platform::URLConnection::runningCount() == 0; }));
    const auto pixel = services.requestsTo("/pixel").front();
    const std::string id = vellum::VellumAnalyticsManager::deviceID();
    EXPECT_EQ(pixel.rawQuery, "d=" + id + "&e=" + id + "&r=" + std::to_string(c->ad()->randomValue));
    // Later ticks do not repeat the first display.
    clock.advance(1.0);
    EXPECT_EQ(c->ad()->impressions, 1);
}

TEST_F(AdViewTest, CoveringTheAdHidesItUntilUncovered) {
    storeBanner("ad-1");
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    auto c = view->adVC();
    ASSERT_TRUE(c->visible());
    int appeared = 0, disappeared = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    auto t1 = center.addObserver(vellum::AdVCDidAppear, [&](const platform::Notification&) { ++appeared; });
    auto t2 = center.addObserver(vellum::AdVCDidDisappear, [&](const platform::Notification&) { ++disappeared; });

    auto cover = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 480));
    window->addSubview(cover);
    clock.advance(VellumAdViewController::kVisibilityInterval);
    EXPECT_FALSE(c->visible());
    clock.advance(VellumAdViewController::kVisibilityInterval * 3);
    EXPECT_EQ(disappeared, 1);
    cover->removeFromSuperview();
    clock.advance(VellumAdViewController::kVisibilityInterval);
    EXPECT_TRUE(c->visible());
    EXPECT_EQ(appeared, 1);
    EXPECT_EQ(disappeared, 1);
    center.removeObserver(t1);
    center.removeObserver(t2);
}

TEST_F(AdViewTest, VisibilityCheckSwitchedOffCountsTheAdAsShownWithoutHitTests) {
    defaults().setBool(VellumAdViewController::kAdVisibilityCheckDisabledKey, true);
    storeBanner("ad-1");
    auto view = slotView();
    view->setHidden(true);
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    EXPECT_TRUE(view->adVC()->firstView());
    EXPECT_FALSE(view->adVC()->visible());
}

// How an ad ends, and the exit code its event reports with "MRADAdViewedNotification".
TEST_F(AdViewTest, EndingTheAdReportsItsEventOnceWithTheExitCode) {
    struct Case {
        const char* name;
        std::function<void(AdViewTest&, VellumAdView&)> end;
        int exit;
    };
    const Case cases[] = {
        {"banner dismissed by the host", [](AdViewTest&, VellumAdView& v) { v.dismissWebViewAd(); },
         exit_code::kReportedWhileShown},
        {"another ad replaces it", [](AdViewTest&, VellumAdView& v) { v.loadAdWithID("ad-2", std::nullopt); },
         exit_code::kReportedWhileShown},
        {"application terminates", [](AdViewTest&, VellumAdView&) { platform::Application::shared().terminate(); },
         exit_code::kApplicationTerminated},
        {"page asks to dismiss", [](AdViewTest& t, VellumAdView& v) {
             v.adVC()->dismissAd();
             t.clock.advance(1.0);
         },
         exit_code::kDismissed},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        resetEngine();
        vellum::VellumAdViewController::resetForTesting();
        manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
        platform::Application::resetForTesting();
        storeBanner("ad-1");
        storeBanner("ad-2");
        auto view = slotView();
        ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
        AdViewedRecorder recorder;
        clock.advance(2.0);
        tc.end(*this, *view);
        ASSERT_EQ(recorder.events.size(), 1u);
        auto& e = *recorder.events.front();
        EXPECT_EQ(string(e, vellum::MRAdIDKey), "ad-1");
        EXPECT_EQ(number(e, vellum::MRAdExitKey), tc.exit);
        view->removeFromSuperview();
    }
}

TEST_F(AdViewTest, ReportedEventIsQueuedByTheTrackingSessionWithItsViewDuration) {
    storeBanner("ad-1");
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    clock.advance(3.0);
    view->dismissWebViewAd();
    auto db = manager()->trackedEventDB();
    ASSERT_TRUE(db);
    auto queued = db->retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(queued);
    int adEvents = 0;
    for (const auto& ev : *queued)
        if (ev->eventType == "MRAdViewed") {
            ++adEvents;
            EXPECT_EQ(ev->adID, "ad-1");
            EXPECT_EQ(ev->adExit, exit_code::kReportedWhileShown);
            EXPECT_GE(ev->userDuration, 2u);
        }
    EXPECT_EQ(adEvents, 1);
}

TEST_F(AdViewTest, HostRefusingTheHideKeepsTheAdButItsExitIsDismissed) {
    struct Refuser : vellum::VellumAdViewDelegate {
        std::optional<bool> adViewShouldHide(VellumAdView&) override { return false; }
    };
    auto refuser = std::make_shared<Refuser>();
    storeBanner("ad-1");
    auto view = slotView();
    view->setDelegate(refuser);
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    auto c = view->adVC();
    c->dismissAd();
    clock.advance(1.0);
    EXPECT_TRUE(c->loaded());
    AdViewedRecorder recorder;
    view->dismissWebViewAd();
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(number(*recorder.events.front(), vellum::MRAdExitKey), exit_code::kDismissed);
}

TEST_F(AdViewTest, VisibilityTimerRunsWhileAnyControllerIsMonitored) {
    storeBanner("ad-1");
    storeBanner("ad-2");
    auto a = slotView();
    auto b = slotView();
    ASSERT_TRUE(a->loadAdWithID("ad-1", std::nullopt));
    ASSERT_TRUE(b->loadAdWithID("ad-2", std::nullopt));
    EXPECT_EQ(VellumAdViewController::monitoredAdCount(), 2u);
    a->dismissWebViewAd();
    EXPECT_TRUE(VellumAdViewController::visibilityTimerRunning());
    b->dismissWebViewAd();
    EXPECT_FALSE(VellumAdViewController::visibilityTimerRunning());
}

TEST_F(AdViewTest, FullScreenCountTellsTheDelegateOnlyTheFirstRiseAndLastFall) {
    struct Counter : vellum::VellumAdViewDelegate {
        std::vector<std::string> calls;
        void adViewWillStartFullScreen(VellumAdView&) override { calls.push_back("willStart"); }
        void adViewDidStartFullScreen(VellumAdView&) override { calls.push_back("didStart"); }
        void adViewWillEndFullScreen(VellumAdView&) override { calls.push_back("willEnd"); }
        void adViewDidEndFullScreen(VellumAdView&) override { calls.push_back("didEnd"); }
    };
    auto counter = std::make_shared<Counter>();
    auto view = slotView();
    view->setDelegate(counter);
    view->willDisplayInterstitialAd();
    view->didDisplayInterstitialAd();
    view->willDisplayEmbeddedBrowser();
    view->didDisplayEmbeddedBrowser();
    EXPECT_EQ(view->blockers(), 2);
    view->willDismissEmbeddedBrowser();
    view->didDismissEmbeddedBrowser();
    view->willDismissInterstitialAd();
    view->didDismissInterstitialAd();
    EXPECT_EQ(counter->calls, (std::vector<std::string>{"willStart", "didStart", "willEnd", "didEnd"}));
    // Sound does not move the count; a fall without a rise is not counted.
    view->didStartAudioInAd();
    view->didFinishAudioInAd();
    view->didCollapse();
    EXPECT_EQ(view->blockers(), 0);
    EXPECT_EQ(counter->calls.size(), 4u);
}

TEST_F(AdViewTest, InterstitialShowsFullScreenAndCloseButtonDismissesIt) {
    struct Recorder : vellum::VellumAdViewDelegate {
        std::vector<std::string> calls;
        void adViewWillDisplayInterstitial(VellumAdView&) override { calls.push_back("willDisplay"); }
        void adViewDidDisplayInterstitial(VellumAdView&) override { calls.push_back("didDisplay"); }
        void adViewWillDismissInterstitial(VellumAdView&) override { calls.push_back("willDismiss"); }
        void adViewDidDismissInterstitial(VellumAdView&) override { calls.push_back("didDismiss"); }
    };
    auto recorder = std::make_shared<Recorder>();
    storeAd("full", {{"mainFile", "index.html"}, {"width", 320}, {"height", 480}, {"adSlotType", 5},
                     {"avcClassName", kControllerClass}, {"displaysCloseButton", true}});
    auto view = std::make_shared<VellumAdView>();
    view->setDelegate(recorder);
    ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
    view->displayInterstitial();
    auto page = VellumAdView::interstitialPageView();
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->isDescendantOf(window.get()));
    EXPECT_TRUE(platform::Application::shared().isStatusBarHidden());
    clock.advance(VellumAdView::kInterstitialAnimationSeconds);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"willDisplay", "didDisplay"}));

    AdViewedRecorder viewed;
    // The close button sits in the page's lower right corner.
    auto hit = platform::Application::shared().simulateTap({315, 475});
    ASSERT_TRUE(std::dynamic_pointer_cast<platform::Button>(hit));
    clock.advance(VellumAdView::kInterstitialAnimationSeconds);
    EXPECT_FALSE(VellumAdView::interstitialPageView());
    EXPECT_FALSE(page->superview());
    EXPECT_FALSE(view->adVC());
    EXPECT_FALSE(platform::Application::shared().isStatusBarHidden());
    EXPECT_EQ(recorder->calls.back(), "didDismiss");
    EXPECT_EQ(viewed.events.size(), 1u);
}

TEST_F(AdViewTest, BannerIsNotAnInterstitial) {
    storeBanner("ad-1");
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    view->displayInterstitial();
    EXPECT_FALSE(VellumAdView::interstitialPageView());
}

TEST_F(AdViewTest, SlotTypeSizesTheViewOnlyOnce) {
    auto view = std::make_shared<VellumAdView>(platform::Rect(10, 20, 1, 1));
    view->setAdSlotType(5);
    EXPECT_EQ(view->frame(), platform::Rect(10, 20, 320, 480));
    view->setAdSlotType(6);
    EXPECT_EQ(view->adSlotType(), 5);
    EXPECT_EQ(view->frame(), platform::Rect(10, 20, 320, 480));
}

TEST_F(AdViewTest, KeyValuePairsBecomeMacrosAndWinOverTheBuiltInOnes) {
    struct Case {
        const char* key;
        const char* macro;
    };
    const Case cases[] = {{"word", "$$_word_$$"}, {"$$_a_$$", "$$_a_$$"}, {"$$_b", "$$_b_$$"}, {"c_$$", "$$_c_$$"}};
    platform::Dictionary pairs;
    for (const auto& c : cases)
        pairs[c.key] = "v";
    auto prepared = VellumAdView::prepareKeyValuePairs(pairs);
    ASSERT_TRUE(prepared);
    for (const auto& c : cases)
        EXPECT_TRUE(prepared->count(c.macro)) << c.key;

    storeBanner("ad-1");
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    view->setAdKeyValuePairs(VellumAdView::prepareKeyValuePairs(platform::Dictionary{{"word", "W"}, {"ADID", "X"}, {"n", 7}}));
    EXPECT_EQ(view->updateURLWithKeyValuePairs("$$_word_$$ $$_ADID_$$ $$_n_$$ $$_SLOTNAME_$$ $$_ADWIDTH_$$"),
              "W X 7 banner-top 320");
    view->setAdSlotKey(std::string(VellumAdView::kMaxSlotNameLength + 1, 's'));
    EXPECT_EQ(view->updateURLWithKeyValuePairs("$$_SLOTNAME_$$"), "$$_SLOTNAME_$$");
}

// Every event reaches the dispatch the hook replaced; only touch events are kept.
TEST_F(AdViewTest, EventHookKeepsTheLatestTouchAndPassesEveryEventOn) {
    ASSERT_TRUE(vellum::VellumEventHook::isInstalled());
    int taps = 0;
    auto button = std::make_shared<platform::Button>(platform::Rect(0, 0, 100, 100));
    button->addAction([&](platform::Control&) { ++taps; }, platform::ControlEvent::TouchUpInside);
    window->addSubview(button);

    struct Case {
        const char* name;
        platform::Event::Type type;
        bool kept;
    };
    const Case cases[] = {{"touch", platform::Event::Type::Touches, true},
                          {"motion", platform::Event::Type::Motion, false},
                          {"remote control", platform::Event::Type::RemoteControl, false}};
    // A dispatch installed later on top of the hook, passing events on as it should.
    int passedOn = 0;
    platform::Application::EventDispatch previous;
    previous = platform::Application::replaceEventDispatch([&](platform::Application& app, const platform::Event& e) {
        ++passedOn;
        previous(app, e);
    });
    vellum::VellumEventHook::resetStoredEventForTesting();
    platform::Application::shared().simulateTap({50, 50}, window);
    EXPECT_EQ(taps, 1);
    auto stored = vellum::VellumEventHook::storedEvent();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type(), platform::Event::Type::Touches);
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        platform::Event event(tc.type, 1.0 + static_cast<int>(tc.type));
        platform::Application::shared().sendEvent(event);
        auto now = vellum::VellumEventHook::storedEvent();
        ASSERT_TRUE(now);
        EXPECT_EQ(now->timestamp() == event.timestamp(), tc.kept);
    }
    EXPECT_EQ(passedOn, 2 + 3); // the tap's began and ended, and the three events
    platform::Application::replaceEventDispatch(previous);
}

} // namespace
} // namespace richmediatest
