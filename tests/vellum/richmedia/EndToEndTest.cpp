// The engine end to end against the embedded services: the tracking session and the ad
// server start, the slot-zero reply brings the demo rich-media ad and its close button, the
// bundle is downloaded and unpacked, the ad is selected for a slot and shown in it, its page
// taps through to the mini browser, expands and collapses, plays its sound and its movie, the
// ad closes, and its tracking pixel and ad event, with what the page did, reach the services.
#include <gtest/gtest.h>

#include "AdDisplayFixture.h"
#include "platform/ui/Application.h"
#include "services/TrackingEndpoints.h"
#include "services/VellumAdEndpoints.h"
#include "support/LoopbackServices.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/richmedia/MRModalAdViewController.h"
#include "vellum/tracking/MRBroadcaster.h"
#include "vellum/tracking/VellumEventKeys.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"

namespace richmediatest {
namespace {

class EndToEndTest : public AdDisplayFixture {
protected:
    EndToEndTest() : tracking(services.host()) { services::installVellumAdEndpoints(services.host()); }
    // Runs the run loop and moves the manual clock on in small steps until `done`.
    template <typename F> bool settle(F done) {
        for (int step = 0; step < 100; ++step) {
            if (clock.runUntil(done, 0.05))
                return true;
            clock.advance(0.1);
        }
        return done();
    }
    bool tap(vellum::VellumAdViewController& c, const char* id) {
        return c.webView()->clickLinkWithId(id);
    }
    fwtest::LoopbackServices services;
    services::TrackingService tracking;
};

TEST_F(EndToEndTest, DemoRichAdFromDownloadToItsTrackedEvent) {
    struct Host : vellum::VellumAdViewDelegate {
        std::vector<std::string> calls;
        void adViewDidExpand(vellum::VellumAdView&) override { calls.push_back("expanded"); }
        void adViewDidCollapse(vellum::VellumAdView&) override { calls.push_back("collapsed"); }
        void adViewDidDisplayEmbeddedBrowser(vellum::VellumAdView&) override { calls.push_back("browser"); }
        void adViewDidDismissEmbeddedBrowser(vellum::VellumAdView&) override { calls.push_back("browser closed"); }
    };
    // Start-up: the server asks for the cache after 5 s and downloads what it is offered.
    vellum::VellumAdManager::sharedInstance();
    clock.advance(5.0);
    auto server = vellum::VellumAdServer::existing();
    ASSERT_TRUE(server);
    ASSERT_TRUE(clock.runUntil([&] {
        return server->adDB()->haveAdWithID("vellum-rich-ad") &&
               vellum::VellumCachedCloseButtonDatabase::create()->closebuttonWithName("PageCurlCornerCloseAd1");
    }));
    EXPECT_TRUE(std::filesystem::exists(cacheFolder() / "vellum-rich-ad" / "mrbridge.js"));

    // Selection and display in a slot: the demo banner without an end date does not qualify,
    // so the draw picks the rich ad.
    auto host = std::make_shared<Host>();
    auto view = std::make_shared<vellum::VellumAdView>(platform::Rect(0, 100, 320, 50));
    view->setAdSlotKey("home");
    view->setAdSlotType(3);
    view->setDelegate(host);
    window->addSubview(view);
    ASSERT_TRUE(view->loadAd());
    auto c = view->adVC();
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->ad());
    EXPECT_EQ(c->ad()->adID, "vellum-rich-ad");
    ASSERT_TRUE(clock.runUntil([&] {
        auto w = c->webView();
        return w && !w->isLoading() &&
               w->stringByEvaluatingJavaScriptFromString("window.got.join('|')").find("sdk:2.4.6") == std::string::npos &&
               w->stringByEvaluatingJavaScriptFromString("Device.available") == "true";
    }));
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/vellum/pixel") == 1; }));

    // Tap through to the mini browser, then close it.
    auto& app = platform::Application::shared();
    ASSERT_TRUE(tap(*c, "more"));
    auto browser = vellum::MREmbeddedBrowserController::sharedInstance();
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView() && browser->webView()->title() == "Vellum landing"; }));
    clock.advance(vellum::MREmbeddedBrowserController::kRevealDelay);
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    EXPECT_EQ(number(*c->event(), vellum::MRAdClickThru_Browser).value_or(0), 0); // the ad's own URL, not a link
    EXPECT_EQ(string(*c->event(), vellum::MRAdUrlStringKey), services.url("/vellum/landing"));
    browser->dismiss();
    clock.advance(vellum::MREmbeddedBrowserController::kSlideSeconds);
    EXPECT_FALSE(browser->isViewLoaded());

    // Expand, then collapse from the expanded page.
    ASSERT_TRUE(tap(*c, "expand"));
    ASSERT_TRUE(clock.runUntil([&] { return c->modalAdVC() != nullptr; }));
    auto modal = c->modalAdVC();
    ASSERT_TRUE(settle([&] { return std::count(host->calls.begin(), host->calls.end(), "expanded") == 1; }));
    // The panel rises from the bottom of the screen, the expanded size of the ad.
    EXPECT_EQ(modal->webView()->frame(), platform::Rect(0, 480 - 300, 320, 300));
    EXPECT_EQ(modal->view()->frame(), platform::Rect(0, 0, 320, 480));
    EXPECT_EQ(modal->webView()->stringByEvaluatingJavaScriptFromString("document.getElementById('panel').innerHTML"),
              "Expanded for home");
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    ASSERT_TRUE(modal->webView()->clickLinkWithId("close"));
    ASSERT_TRUE(settle([&] { return std::count(host->calls.begin(), host->calls.end(), "collapsed") == 1; }));
    EXPECT_FALSE(c->modalAdVC());
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    EXPECT_EQ(view->blockers(), 0);

    // The page's sound plays to its end.
    ASSERT_TRUE(tap(*c, "sound"));
    auto bridge = vellum::VellumJSBridge::sharedInstance();
    ASSERT_TRUE(clock.runUntil([&] { return bridge->audioPlayer() != nullptr; }));
    ASSERT_TRUE(settle([&] { return bridge->audioPlayer() == nullptr; }));

    // The page's movie, from the bundle, plays over the ad until Done.
    ASSERT_TRUE(tap(*c, "video"));
    ASSERT_TRUE(clock.runUntil([&] { return c->embeddedMoviePlayer() != nullptr; }));
    EXPECT_EQ(c->embeddedMoviePlayer()->contentURL()->absoluteString(),
              platform::URL::fileURL(cacheFolder() / "vellum-rich-ad" / "movie.mov").absoluteString());
    EXPECT_GT(std::filesystem::file_size(cacheFolder() / "vellum-rich-ad" / "movie.mov"), 0u);
    c->doneButtonAction();
    EXPECT_FALSE(c->embeddedMoviePlayer());

    // Close the ad: its event is queued and reaches the tracking endpoint.
    view->dismissWebViewAd();
    auto queued = manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(queued);
    vellum::MRBroadcaster::sharedInstance()->sendEvents(*queued);
    std::optional<services::TrackingUpload> upload;
    ASSERT_TRUE(clock.runUntil([&] {
        for (const auto& u : tracking.uploads())
            if (!u.adEventIDs.empty())
                upload = u;
        return upload.has_value();
    }));
    // The uploaded ad event is this ad's, with what the page and the user did.
    ASSERT_EQ(upload->adEventIDs.size(), 1u);
    for (const std::string& part : {std::string("vellum-rich-ad"), std::string("MRPlayVideo_demo"),
                                   services.url("/vellum/landing"), std::string("home")})
        EXPECT_NE(upload->description.find(part), std::string::npos) << part << " in " << upload->description;
    EXPECT_EQ(host->calls, (std::vector<std::string>{"browser", "browser closed", "expanded", "collapsed"}));
}

} // namespace
} // namespace richmediatest
