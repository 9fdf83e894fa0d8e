// The mini browser: its own navigation router (bridge commands, launched ads, outside
// destinations, other applications and the page's fallback) and its load-failure rules.
#include <gtest/gtest.h>

#include <fstream>

#include "AdDisplayFixture.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace richmediatest {
namespace {

using T = platform::WebViewNavigationType;
using vellum::MREmbeddedBrowserController;

class BrowserTest : public AdDisplayFixture {
protected:
    void SetUp() override {
        storeBanner("ad-1");
        const auto folder = cacheFolder() / "ad-1";
        std::ofstream(folder / "landing.html") << "<html><head><title>landing</title></head><body>x</body></html>";
        std::ofstream(folder / "alt.html") << "<html><head><title>alt</title></head><body>y</body></html>";
        landing = platform::URL::fileURL(folder / "landing.html").absoluteString();
        alt = platform::URL::fileURL(folder / "alt.html").absoluteString();
        view = slotView();
        ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
        c = view->adVC();
        ASSERT_TRUE(pageLoaded(*c));
        auto& app = platform::Application::shared();
        app.setInstalledSchemes({"http", "https", "mailto", "tel", "sms", "myapp"});
        browser = MREmbeddedBrowserController::sharedInstance();
        c->showClickThroughInMiniBrowser(landing);
        ASSERT_TRUE(clock.runUntil([&] { return shown("landing"); }));
        EXPECT_FALSE(app.isIgnoringInteractionEvents());
    }
    bool shown(const char* title) {
        return browser->isViewLoaded() && browser->webView() && !browser->webView()->isLoading() &&
               browser->webView()->title() == title && !browser->firstPass() && !browser->isIndicatorAnimating();
    }
    bool navigate(const std::string& url, T type = T::LinkClicked) {
        auto request = platform::URLRequest::withURLString(url);
        EXPECT_TRUE(request) << url;
        return browser->webViewShouldStartLoadWithRequestNavigationType(*browser->webView(), *request, type);
    }
    double counter(const char* key) { return number(*browser->event(), key).value_or(0); }

    std::string landing, alt;
    std::shared_ptr<vellum::VellumAdView> view;
    std::shared_ptr<vellum::VellumAdViewController> c;
    std::shared_ptr<MREmbeddedBrowserController> browser;
};

// Each row: a navigation inside the browser, whether the browser loads it, the counter it
// raises, whether it is handed to the platform, and what it records as the last request.
TEST_F(BrowserTest, RouterRulesInOrder) {
    struct Case {
        const char* url;
        bool loads;
        const char* counter;
        bool handedOut;
        bool recorded; // the ad view controller's strRequest becomes the URL
    };
    const Case cases[] = {
        {"mrbridge:setTrackingEventString?key=where&val=browser", false, nullptr, false, true},
        {"MRBRIDGE:setTrackingEventString?key=case&val=upper", false, nullptr, false, true},
        {"http://music.example.com/album", false, vellum::MRAdClickThru_MusicStore, true, true},
        {"https://apps.example.com/app/1", false, vellum::MRAdClickThru_AppStore, true, true},
        {"mailto:someone@example.com", false, vellum::MRAdClickThru_Email, true, true},
        {"sms:5550100", false, vellum::MRAdClickThru_SMS, true, true},
        {"xtelx:5550100", false, vellum::MRAdClickThru_Phone, true, true},
        {"http://example.com/next", true, nullptr, false, false},
        // A local page loads only when it is one of the ad's own (see HostilePageTest).
        {"file:///tmp/page.html", false, nullptr, false, false},
        // Another application: counted only when the platform opens it.
        {"myapp:open", false, vellum::MRAdClickThru_ExternalApp, true, true},
        {"other:open", true, nullptr, true, true},
        // A scheme shorter than three characters is compared whole.
        {"ht:x", true, nullptr, true, true},
        // Other "vellum" commands go on to the later rules.
        {"vellum://somethingElse", true, nullptr, true, true},
    };
    auto& app = platform::Application::shared();
    std::size_t crumbs = browser->event()->breadcrumbs().size();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.url);
        c->setTHEStrRequest("before");
        const double before = tc.counter ? counter(tc.counter) : 0;
        const auto opened = app.openedURLs().size();
        EXPECT_EQ(navigate(tc.url), tc.loads);
        if (tc.counter) {
            EXPECT_EQ(counter(tc.counter), before + 1);
        }
        EXPECT_EQ(app.openedURLs().size(), opened + (tc.handedOut ? 1 : 0));
        EXPECT_EQ(c->strRequest(), tc.recorded ? tc.url : "before");
        // Every navigation is a breadcrumb, and the browser stays open.
        EXPECT_EQ(browser->event()->breadcrumbs().size(), ++crumbs);
        EXPECT_TRUE(browser->isViewLoaded());
        EXPECT_EQ(browser->currentURLString(), landing);
    }
    // The commands ran with the browser as their page: the ad's event got the values.
    EXPECT_EQ(string(*browser->event(), "where"), "browser");
    EXPECT_EQ(string(*browser->event(), "case"), "upper");
}

TEST_F(BrowserTest, AnApplicationThatWillNotOpenFallsBackToThePagesAlternate) {
    vellum::VellumJSBridge::sharedInstance()->setAlternateURL(alt);
    EXPECT_TRUE(navigate("other:open"));
    EXPECT_TRUE(browser->redirectPass());
    EXPECT_EQ(browser->currentURLString(), alt);
    EXPECT_FALSE(vellum::VellumJSBridge::sharedInstance()->alternateURL());
    ASSERT_TRUE(clock.runUntil([&] { return shown("alt"); }));
    // The next navigation ends the redirect pass.
    EXPECT_TRUE(navigate("http://example.com/next"));
    EXPECT_FALSE(browser->redirectPass());
}

TEST_F(BrowserTest, LaunchedAdLoadsTheChildOrOpensTheAlternate) {
    storeBanner("child");
    EXPECT_FALSE(navigate("vellum://launchAd?adID=missing&alternate=" + alt));
    EXPECT_EQ(browser->currentURLString(), alt);
    ASSERT_TRUE(clock.runUntil([&] { return shown("alt"); }));
    EXPECT_FALSE(navigate("vellum://launchAd?adID=child"));
    ASSERT_TRUE(view->adVC()->ad());
    EXPECT_EQ(view->adVC()->ad()->adID, "child");
    EXPECT_EQ(string(*view->adVC()->event(), vellum::MRAdParentAdID), "ad-1");
}

TEST_F(BrowserTest, RefusedNavigationClosesTheBrowser) {
    struct Refuser : vellum::VellumAdViewDelegate {
        std::optional<bool> adViewCustomInteractionInterrogator(vellum::VellumAdView&, const platform::URLRequest&,
                                                                const std::string&, const std::string&, unsigned,
                                                                const std::string&) override {
            return false;
        }
    };
    auto refuser = std::make_shared<Refuser>();
    view->setDelegate(refuser);
    EXPECT_FALSE(navigate("myapp:claimed"));
    EXPECT_EQ(counter(vellum::MRAdClickThru_CustomApp), 1);
    EXPECT_EQ(c->strRequest(), "myapp:claimed");
    clock.advance(1.0);
    EXPECT_FALSE(browser->isViewLoaded());
    EXPECT_TRUE(browser->dismissed());
    EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());
}

// Each row: a failed load's description, whether the page is then revealed as finished,
// and whether the "Couldn't load web page" alert comes up.
TEST_F(BrowserTest, LoadFailureRules) {
    struct Case {
        const char* description;
        bool finished;
        bool alert;
    };
    const Case cases[] = {
        {"Frame load interrupted", false, false},
        {"Plug-in handled load", true, false},
        {"", false, false},
        {"The network connection was lost.", true, true},
    };
    auto& app = platform::Application::shared();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.description);
        auto& webView = *browser->webView();
        browser->webViewDidStartLoad(webView);
        ASSERT_TRUE(browser->isIndicatorAnimating());
        platform::Error error{platform::kURLErrorDomain, platform::kURLErrorUnknown, tc.description, {}};
        browser->webViewDidFailLoadWithError(webView, error);
        EXPECT_EQ(browser->firstPass(), !tc.finished);
        EXPECT_EQ(browser->isIndicatorAnimating(), !tc.finished); // unfinished: it keeps turning
        const auto alerts = app.visibleAlerts();
        ASSERT_EQ(alerts.size(), tc.alert ? 1u : 0u);
        if (tc.alert) {
            EXPECT_EQ(alerts[0]->title(), "Couldn't load web page");
            EXPECT_EQ(alerts[0]->message(), tc.description);
            alerts[0]->dismissWithClickedButtonIndex(0, false);
            clock.advance(1.0);
            EXPECT_FALSE(browser->isViewLoaded()); // the alert closes the browser
        }
    }
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
}

TEST_F(BrowserTest, FailureDuringTheRedirectPassCountsAsFinished) {
    vellum::VellumJSBridge::sharedInstance()->setAlternateURL(alt);
    ASSERT_TRUE(navigate("other:open"));
    auto& webView = *browser->webView();
    browser->webViewDidStartLoad(webView);
    browser->webViewDidFailLoadWithError(webView, {platform::kURLErrorDomain, platform::kURLErrorUnknown, "gone", {}});
    EXPECT_FALSE(browser->redirectPass());
    EXPECT_FALSE(browser->firstPass());
    EXPECT_TRUE(platform::Application::shared().visibleAlerts().empty());
}

// The browser, opened once and closed, opens again on a link whose load never starts (it is
// sent outside): the 2-second fallback reveals it, the application answers touches again, and
// the close button closes it. The first opening reveals a page that never finishes the same way.
TEST_F(BrowserTest, ReopeningOnALinkThatNeverLoadsRevealsAClosableBrowser) {
    auto& app = platform::Application::shared();
    browser->dismiss();
    clock.advance(1.0);
    ASSERT_FALSE(browser->isViewLoaded());
    ASSERT_FALSE(app.isIgnoringInteractionEvents());

    const char* links[] = {"tel:5550100", "mailto:someone@example.com", "https://apps.example.com/app/1"};
    for (const char* link : links) {
        SCOPED_TRACE(link);
        const auto opened = app.openedURLs().size();
        c->showClickThroughInMiniBrowser(link);
        clock.advance(vellum::MREmbeddedBrowserController::kRevealDelay - 0.1);
        EXPECT_EQ(app.openedURLs().size(), opened + 1) << "the link went outside";
        EXPECT_TRUE(app.isIgnoringInteractionEvents()) << "not revealed before the fallback";
        clock.advance(0.2);
        EXPECT_FALSE(app.isIgnoringInteractionEvents());
        ASSERT_TRUE(browser->isViewLoaded());
        EXPECT_FALSE(browser->firstPass());
        ASSERT_TRUE(clock.runUntil([&] { return browser->toolbarView()->alpha() == 1; }));
        ASSERT_TRUE(browser->dismissButton());
        ASSERT_TRUE(browser->dismissButton()->simulateTap());
        ASSERT_TRUE(clock.runUntil([&] { return !browser->isViewLoaded(); }));
        EXPECT_FALSE(app.isIgnoringInteractionEvents());
    }
}

TEST_F(BrowserTest, SpinnerTurnsWhileAPageLoadsAndClosingTwiceIsHarmless) {
    auto spinner = browser->activityInd();
    ASSERT_TRUE(spinner);
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), platform::ActivityIndicatorViewStyle::WhiteLarge);
    EXPECT_TRUE(spinner->isHidden()); // stopped once the landing page finished
    browser->webView()->loadRequest(platform::URLRequest(*platform::URL::parse(alt)));
    ASSERT_TRUE(clock.runUntil([&] { return spinner->isAnimating(); }));
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_FALSE(browser->loadingMessage()->isHidden());
    ASSERT_TRUE(clock.runUntil([&] { return shown("alt"); }));
    EXPECT_TRUE(spinner->isHidden());
    EXPECT_TRUE(browser->loadingMessage()->isHidden());

    browser->dismiss();
    browser->dismiss();
    clock.advance(1.0);
    EXPECT_FALSE(browser->isViewLoaded());
    EXPECT_TRUE(browser->dismissed());
    EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());
}

} // namespace
} // namespace richmediatest
