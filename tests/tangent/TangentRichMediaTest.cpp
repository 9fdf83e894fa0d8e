// The rich-media component: a Tangent page that hands a Vellum ad over. Without the engine the
// hand-off ends the ad; with the engine started by TGAdWidget::initializeAdService, the demo
// rich-media ad that the embedded services serve is shown inside the Tangent banner, its
// expansion and click-through become the Tangent ad's states, and the widget moves on to the
// next ad when it is refreshed.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/net/URLConnection.h"
#include "platform/runloop/BackgroundWork.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "services/TangentEndpoints.h"
#include "services/TrackingEndpoints.h"
#include "services/VellumAdEndpoints.h"
#include "support/LoopbackServices.h"
#include "tangent/TangentTestSupport.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGAdWidgetDelegate.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGEventManager.h"
#include "tangent/TGEventRecord.h"
#include "tangent/TGMRComponent.h"
#include "tangent/TGWebComponent.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/richmedia/MRModalAdViewController.h"
#include "vellum/richmedia/RichMediaFixture.h"
#include "vellum/richmedia/VellumAdViewController.h"
#include "vellum/richmedia/VellumJSBridge.h"

using namespace tangent;

namespace {

constexpr const char* kRichAdID = "vellum-rich-ad";
// The close button the demo ad shows; the ad is shown only once that has arrived too.
constexpr const char* kRichAdCloseButton = "PageCurlCornerCloseAd1";

class RichMediaHost : public TGAdWidgetDelegate {
public:
    std::optional<std::string> publisherId(TGAdWidgetWorker&) override { return publisher; }
    std::optional<std::string> site(TGAdWidgetWorker&) override { return std::string("drive"); }
    std::optional<std::string> adSpot(TGAdWidgetWorker&) override { return std::string("top"); }
    std::optional<bool> isInterstitial(TGAdWidgetWorker&) override { return interstitial; }
    void beginDisplayingInterstitial(TGAdWidgetWorker&) override { events.push_back("beginInterstitial"); }
    void endDisplayingInterstitial(TGAdWidgetWorker&) override { events.push_back("endInterstitial"); }
    void beginAdInteraction(TGAdWidgetWorker&) override { events.push_back("begin"); }
    void endAdInteraction(TGAdWidgetWorker&) override { events.push_back("end"); }
    void adWidgetDidFailToShowAd(TGAdWidgetWorker&, const std::optional<platform::Error>&) override {
        events.push_back("failedToShow");
    }
    std::string publisher = std::string(services::kTangentVellumPublisher);
    bool interstitial = false;
    std::vector<std::string> events;
};

class TangentRichMedia : public richmediatest::RichMediaFixture {
protected:
    TangentRichMedia() : tracking(services.host()) {
        services::installVellumAdEndpoints(services.host());
        services::installTangentEndpoints(services.host());
        vellum::VellumAdViewController::resetForTesting();
        vellum::VellumJSBridge::resetForTesting();
        TGAdWidgetWorker::resetForTesting();
        window->makeKeyAndVisible();
    }
    ~TangentRichMedia() override {
        window->setHidden(true);
        platform::URLConnection::cancelAllForTesting();
        TGAdWidgetWorker::resetForTesting();
        vellum::VellumAdViewController::resetForTesting();
        vellum::VellumJSBridge::resetForTesting();
    }
    // Runs the run loop and moves the manual clock on in small steps until `done`.
    // Moves the clock in short steps until `done`; before each step the replies and
    // background work in flight arrive, so how fast the machine is never decides what the
    // clock has reached.
    template <typename F> bool settle(F done) {
        auto atRest = [&] {
            return done() || (platform::URLConnection::runningCount() == 0 &&
                              platform::BackgroundWork::pendingCount() == 0);
        };
        for (int step = 0; step < 200; ++step) {
            clock.runUntil(atRest, 10.0);
            if (done())
                return true;
            clock.advance(0.05);
        }
        return done();
    }
    std::shared_ptr<TGAdWidgetWorker> widgetInWindow() {
        auto widget = TGAdWidget::create(host, false);
        widget->setFrame(platform::Rect{0, 100, 320, 50});
        window->addSubview(widget);
        widget->loadRequest();
        return widget;
    }
    // Lets the started engine fetch the demo rich ad and its close button (it asks for its
    // cache 5 s after starting), then places a banner whose page hands that ad over; nullptr
    // when the ad, its close button or the banner's ad view never came.
    std::shared_ptr<TGAdWidgetWorker> bannerWithTheDemoRichAd() {
        clock.advance(5.0);
        auto server = vellum::VellumAdServer::existing();
        if (!server || !clock.runUntil([&] {
                return server->adDB()->haveAdWithID(kRichAdID) &&
                       !server->blockedByCloseButtonNameAvailability(std::string(kRichAdCloseButton));
            }))
            return nullptr;
        auto widget = widgetInWindow();
        if (!settle([&] { return widget->currentAdView() != nullptr; }))
            return nullptr;
        return widget;
    }

    tangenttest::TGLogScope logLevel{2};
    fwtest::LoopbackServices services;
    services::TrackingService tracking;
    std::shared_ptr<platform::Window> window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    std::shared_ptr<RichMediaHost> host = std::make_shared<RichMediaHost>();
};

} // namespace

TEST(TangentRichMediaHandOff, ParsesTheHandOffURL) {
    struct Case {
        const char* text;
        const char* command;
        std::optional<std::string> adID;
        std::optional<std::string> slotType;
    };
    const Case cases[] = {
        {"launchAd?adID=ad-1&adSlotType=3", "launchAd", "ad-1", "3"},
        {"launchVellumAd?adSlotType=3&adID=ad-2", "launchVellumAd", "ad-2", "3"},
        {"launchAd?adID=&adSlotType=3", "launchAd", std::nullopt, "3"},
        {"launchAd?=x&adID=a%20b", "launchAd", "a%20b", std::nullopt}, // values as they stand
        {"launchAd", "launchAd", std::nullopt, std::nullopt},
        {"showAd?adID=ad-1", "showAd", std::nullopt, std::nullopt},
        {"//launchAd?adID=ad-1", "//launchAd", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto handOff = TGMRComponent::parseHandOff(c.text);
        EXPECT_EQ(handOff.command, c.command);
        EXPECT_EQ(handOff.adID, c.adID);
        EXPECT_EQ(handOff.adSlotType, c.slotType);
    }
}

TEST_F(TangentRichMedia, WithoutTheEngineAHandOffEndsTheAd) {
    ASSERT_FALSE(TGAdWidgetWorker::vellumInitialized());
    auto widget = widgetInWindow();
    ASSERT_TRUE(settle([&] { return host->events.size() == 1; }));
    EXPECT_EQ(host->events, std::vector<std::string>{"failedToShow"});
    EXPECT_FALSE(widget->currentAdView());
    EXPECT_FALSE(widget->futureAdView());
    EXPECT_TRUE(log.contains("Vellum Ad not rendering because the Vellum library is not initialized"));
}

TEST_F(TangentRichMedia, AHandOffWithoutAnAdIdEndsTheAdOnlyWithoutTheEngine) {
    struct NullListener : TGStateListener {
        void tgAdViewDidUpdateSyncState(TGAdView&, int) override {}
        void tgAdViewDidTransitionFromViewState(TGAdView&, int, int, const std::optional<platform::Error>&) override {}
    };
    auto listener = std::make_shared<NullListener>();
    for (const bool engine : {false, true}) {
        SCOPED_TRACE(engine ? "engine started" : "engine off");
        if (engine) {
            platform::Bundle::main().setInfoDictionaryValue("TGMAppId", "fw-drive");
            TGAdWidget::initializeAdService(false);
            ASSERT_TRUE(TGAdWidgetWorker::vellumInitialized());
        }
        auto ad = TGAdView::create({0, 0, 320, 50}, std::make_shared<TGDelegateAdaptorImmutable>(), listener);
        ASSERT_TRUE(ad->loadAdContent("<p id='ad'>Tangent</p>"));
        ASSERT_TRUE(settle([&] { return ad->actualViewState() == loadedState; }));
        ASSERT_TRUE(std::dynamic_pointer_cast<TGWebComponent>(ad->adWrapper()));
        ad->evalJS("window.location.href = 'vellum:launchAd?adID=&adSlotType=3';");
        ASSERT_TRUE(settle([&] { return std::dynamic_pointer_cast<TGMRComponent>(ad->adWrapper()) != nullptr; }));
        clock.advance(0.1);
        ASSERT_TRUE(ad->adWebView());
        EXPECT_EQ(ad->adWebView()->request()->url().scheme(), "file"); // the hand-off is never loaded
        EXPECT_EQ(ad->actualViewState(), engine ? loadedState : dismissedState);
        if (engine) {
            // The replaced component left the page attached to the ad: its bridge still works.
            ad->evalJS("Lantern.beginDisplay(); Lantern.log('still here');");
            EXPECT_TRUE(settle([&] { return log.contains("LanternLog: still here"); }));
        }
    }
}

TEST_F(TangentRichMedia, TheDemoRichAdShowsInsideATangentBannerAndGivesWayToTheNextAd) {
    // No application id: the engine stays off.
    TGAdWidget::initializeAdService(false);
    EXPECT_FALSE(TGAdWidgetWorker::vellumInitialized());
    EXPECT_TRUE(log.contains("No TGMAppId found, not initializing Vellum library."));

    platform::Bundle::main().setInfoDictionaryValue("TGMAppId", "fw-drive");
    TGAdWidget::initializeAdService(false);
    ASSERT_TRUE(TGAdWidgetWorker::vellumInitialized());
    EXPECT_EQ(platform::Bundle::main().objectForInfoDictionaryKey("VellumUseTestServers"), platform::Value(false));
    // The Tangent page hands the demo ad over; it is shown in the banner's web view.
    auto widget = bannerWithTheDemoRichAd();
    ASSERT_TRUE(widget);
    auto ad = widget->currentAdView();
    auto component = std::dynamic_pointer_cast<TGMRComponent>(ad->adWrapper());
    ASSERT_TRUE(component);
    EXPECT_EQ(component->adSlotName(), "vellum-drive-top");
    EXPECT_EQ(ad->currentViewState(), inactiveState);
    auto vellumView = component->vellumAdView();
    ASSERT_TRUE(vellumView);
    auto controller = vellumView->adVC();
    ASSERT_TRUE(controller);
    auto web = component->webView();
    EXPECT_EQ(web->superview(), widget);
    EXPECT_TRUE(controller->view()->isDescendantOf(web.get()));
    EXPECT_EQ(web->request()->url().scheme(), "file"); // the hand-off URL was never loaded
    ASSERT_TRUE(settle([&] {
        auto w = controller->webView();
        return w && !w->isLoading() && w->stringByEvaluatingJavaScriptFromString("Device.available") == "true";
    }));

    // The rich ad expands and collapses: the Tangent ad is in interaction meanwhile.
    ASSERT_TRUE(controller->webView()->clickLinkWithId("expand"));
    ASSERT_TRUE(settle([&] { return ad->currentViewState() == activeState; }));
    EXPECT_EQ(widget->syncStateDepth(), 1);
    ASSERT_TRUE(settle([&] { return controller->modalAdVC() != nullptr; }));
    auto modal = controller->modalAdVC();
    ASSERT_TRUE(settle([&] { return modal->webView() && !modal->webView()->isLoading(); }));
    ASSERT_TRUE(modal->webView()->clickLinkWithId("close"));
    ASSERT_TRUE(settle([&] { return ad->currentViewState() == inactiveState; }));
    EXPECT_EQ(widget->syncStateDepth(), 0);
    EXPECT_EQ(host->events, (std::vector<std::string>{"begin", "end"}));

    // A click-through opens the engine's browser: the Tangent ad is clicking, then clicked,
    // and idle again when the browser closes; the click's URL is recorded.
    ASSERT_TRUE(settle([&] { return !controller->modalAdVC(); }));
    ASSERT_TRUE(controller->webView()->clickLinkWithId("more"));
    auto browser = vellum::MREmbeddedBrowserController::sharedInstance();
    ASSERT_TRUE(settle([&] { return ad->currentActionState() == clickedState; }));
    EXPECT_EQ(ad->currentViewState(), clickedState);
    browser->dismiss();
    ASSERT_TRUE(settle([&] { return ad->currentActionState() == inactiveState; }));
    EXPECT_EQ(ad->currentViewState(), inactiveState);
    // The completed click's record is listed for the report with the URL it went to.
    std::string clickMessage;
    for (const auto& record : ad->adEventCollection()->eventCollection())
        clickMessage += record->detail("message").value_or("");
    EXPECT_NE(clickMessage.find("url="), std::string::npos) << clickMessage;
    EXPECT_NE(clickMessage.find("vellum%2Flanding"), std::string::npos) << clickMessage;

    // The next ad (a plain banner) takes the slot: the rich ad is dismissed and its web view
    // leaves the widget.
    host->publisher = "pub-1";
    widget->refreshAd();
    ASSERT_TRUE(settle([&] { return widget->currentAdView() != ad && widget->currentAdView() != nullptr; }));
    EXPECT_TRUE(std::dynamic_pointer_cast<TGWebComponent>(widget->currentAdView()->adWrapper()));
    EXPECT_EQ(ad->actualViewState(), dismissedState);
    EXPECT_FALSE(web->superview());
    EXPECT_FALSE(component->vellumAdView());
    EXPECT_TRUE(widget->currentAdView()->adWebView()->window());
}

TEST_F(TangentRichMedia, HandingAShownRichAdOverAgainKeepsItShownAndReplacesTheFirstRichView) {
    platform::Bundle::main().setInfoDictionaryValue("TGMAppId", "fw-drive");
    TGAdWidget::initializeAdService(false);
    auto widget = bannerWithTheDemoRichAd();
    ASSERT_TRUE(widget);
    auto ad = widget->currentAdView();
    auto first = std::dynamic_pointer_cast<TGMRComponent>(ad->adWrapper());
    ASSERT_TRUE(first);
    auto firstRichView = first->vellumAdView();
    ASSERT_TRUE(firstRichView);
    ASSERT_EQ(ad->currentViewState(), inactiveState);

    // The page hands the same ad over once more while it is on screen.
    ad->evalJS("window.location.href = 'vellum:launchAd?adID=vellum-rich-ad&adSlotType=3';");
    ASSERT_TRUE(settle([&] { return ad->adWrapper() != first; }));
    auto second = std::dynamic_pointer_cast<TGMRComponent>(ad->adWrapper());
    ASSERT_TRUE(second);
    ASSERT_TRUE(settle([&] { return second->vellumAdView() && second->vellumAdView()->adVC(); }));
    // Still shown, never loading again; the first rich view is gone from the page.
    EXPECT_EQ(ad->actualViewState(), inactiveState);
    EXPECT_EQ(ad->currentViewState(), inactiveState);
    EXPECT_FALSE(first->vellumAdView());
    EXPECT_NE(second->vellumAdView(), firstRichView);
    if (auto oldController = firstRichView->adVC()) {
        EXPECT_FALSE(oldController->view()->isDescendantOf(second->webView().get()));
    }
    EXPECT_EQ(second->webView()->superview(), widget);

    // The slot still takes the next ad.
    host->publisher = "pub-1";
    widget->refreshAd();
    ASSERT_TRUE(settle([&] { return widget->currentAdView() != ad && widget->currentAdView() != nullptr; }));
    EXPECT_EQ(ad->actualViewState(), dismissedState);
    EXPECT_FALSE(log.contains("Skipping load request"));
}

TEST_F(TangentRichMedia, ARichInterstitialShowsFullScreenAndCountsTheUsersDismissal) {
    platform::Bundle::main().setInfoDictionaryValue("TGMAppId", "fw-drive");
    TGAdWidget::initializeAdService(false);
    ASSERT_TRUE(TGAdWidgetWorker::vellumInitialized());
    // A full-screen rich ad in the engine's cache, and a Tangent interstitial that hands it over.
    storeAd("vellum-full", {{"mainFile", "index.html"}, {"width", 320}, {"height", 480}, {"adSlotType", 5},
                            {"avcClassName", "MRHTMLAdViewController"}, {"displaysCloseButton", true}});
    services.setFault(std::string(services::kTangentAdPath),
                      services::Fault::reply(200,
                                             "<script>window.location.href = "
                                             "'vellum:launchAd?adID=vellum-full&adSlotType=5';</script>",
                                             "text/html"));
    host->interstitial = true;
    auto widget = TGAdWidget::create(host, false);
    window->addSubview(widget);
    widget->loadRequest();
    ASSERT_TRUE(settle([&] { return widget->currentAdView() != nullptr; }));
    auto ad = widget->currentAdView();
    auto component = std::dynamic_pointer_cast<TGMRComponent>(ad->adWrapper());
    ASSERT_TRUE(component);
    EXPECT_TRUE(component->interstitial());
    auto vellumView = component->vellumAdView();
    ASSERT_TRUE(vellumView);
    // Shown full screen by the engine: the ad is in interaction meanwhile.
    ASSERT_TRUE(settle([&] { return vellum::VellumAdView::interstitialPageView() != nullptr; }));
    clock.advance(vellum::VellumAdView::kInterstitialAnimationSeconds);
    EXPECT_EQ(ad->currentViewState(), activeState);
    EXPECT_EQ(host->events, std::vector<std::string>{"beginInterstitial"});

    // The user closes it: one dismissal counted; the ad passes through 4, 8 and 9.
    vellumView->dismissInterstitial();
    ASSERT_TRUE(settle([&] { return widget->currentAdView() == nullptr; }));
    EXPECT_EQ(ad->actualViewState(), dismissedState);
    EXPECT_FALSE(vellum::VellumAdView::interstitialPageView());
    EXPECT_EQ(host->events, (std::vector<std::string>{"beginInterstitial", "end", "endInterstitial"}));
    EXPECT_EQ(widget->syncStateDepth(), 0);
    // The dismiss report carries the one dismissal.
    TGEventManager::instance().operationQueue().waitUntilAllOperationsAreFinished();
    std::vector<std::string> dismissals;
    for (const auto& report : services.requestsTo(services::kTangentReportPath))
        if (report.queryValue("event") == TGEventTypeDismiss)
            dismissals.push_back(report.queryValue("units").value_or("-"));
    EXPECT_EQ(dismissals, std::vector<std::string>{"1"});
}
