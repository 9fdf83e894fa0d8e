// The full-screen screens: the web-app screen's "onshow"/"onhide" calls and page settings, a
// browser opened from a screen telling the delegates nothing, the browser's toolbar and the
// button pictures.
#include <gtest/gtest.h>

#include "LumenTestSupport.h"
#include "lumen/IntrinsicImages.h"
#include "lumen/Screens.h"
#include "support/ReplyGate.h"

using lumentest::LumenFixture;

class LumenScreensTest : public LumenFixture {
protected:
    std::shared_ptr<lumen::LMNOpener> opener() {
        auto o = std::make_shared<lumen::LMNOpener>();
        o->delegateManager_ = manager;
        o->viewController_ = rootController;
        return o;
    }
    std::shared_ptr<lumen::LMNDelegateManager> manager = [this] {
        auto m = std::make_shared<lumen::LMNDelegateManager>();
        m->addDelegate(delegate, {});
        return m;
    }();
};

TEST_F(LumenScreensTest, WebAppShowsOncePerAppearanceAndNestedBrowserTellsNothing) {
    opener()->openWebApp(services.urlFor("/lumen/webapp.html"), lumen::kOrientationAny);
    EXPECT_EQ(*events, std::vector<std::string>{"willPresent"});
    clock.advance(1);
    auto screen =
        std::dynamic_pointer_cast<lumen::LMNWebAppViewController>(rootController->presentedViewController());
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(waitFor([&] {
        auto log = screen->webView()->elementById("log");
        return log &&
               !screen->webView()->stringByEvaluatingJavaScriptFromString("received.join(',')").empty();
    }));
    clock.drain();
    EXPECT_EQ(screen->webView()->stringByEvaluatingJavaScriptFromString("received.join(',')"),
              "onshow:luma-sdk-i-v4.0.2")
        << "once, after the page finished loading";
    ASSERT_NE(screen->closeButton(), nullptr);
    EXPECT_EQ(screen->closeButton()->frame().size.width, 25) << "the 50-pixel picture at scale 2";

    // "settings" from the page: a known code is taken, an unknown one keeps the current code.
    ASSERT_TRUE(screen->webView()->clickLinkWithId("settings"));
    clock.drain();
    clock.drain();
    EXPECT_EQ(screen->supportedOrientations(), lumen::kOrientationLandscape);
    EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait));
    ASSERT_TRUE(screen->webView()->clickLinkWithId("settings-none"));
    clock.drain();
    clock.drain();
    EXPECT_EQ(screen->supportedOrientations(), lumen::kOrientationLandscape);

    // A browser opened from the screen tells the delegates nothing.
    auto nested = std::make_shared<lumen::LMNOpener>();
    nested->delegateManager_ = manager;
    nested->viewController_ = screen;
    nested->openBrowserToURL(services.urlFor("/lumen/landing.html"), lumen::kOrientationAny);
    clock.advance(1);
    auto browser = std::dynamic_pointer_cast<lumen::LMNBrowserController>(screen->presentedViewController());
    ASSERT_NE(browser, nullptr);
    browser->relinquishScreen();
    clock.advance(1);
    EXPECT_EQ(*events, std::vector<std::string>{"willPresent"});

    // The page's close message ends the screen: onhide, then didDismiss.
    ASSERT_TRUE(screen->webView()->clickLinkWithId("close"));
    clock.advance(1);
    ASSERT_TRUE(waitFor([&] { return lumentest::countOf(*events, "didDismiss") == 1; }, 2))
        << testing::PrintToString(*events);
    EXPECT_EQ(*events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
    // The nested browser covered the screen once: one more disappearance and appearance.
    EXPECT_EQ(screen->webView()->stringByEvaluatingJavaScriptFromString("received.join(',')"),
              "onshow:luma-sdk-i-v4.0.2,onhide,onshow:luma-sdk-i-v4.0.2,onhide");
}

TEST_F(LumenScreensTest, BrowserLoadsWithTheReferrerAndKeepsItsToolbarCurrent) {
    auto o = opener();
    o->referringURL_ = *platform::URL::parse("http://banner.test/ad");
    o->openBrowserToURL(services.urlFor("/lumen/landing.html"), lumen::kOrientationPortrait);
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(waitFor([&] { return browser->webView()->elementById("landing") != nullptr; }));
    clock.drain();
    EXPECT_EQ(services.requestsTo(services::kLumenLandingPath).at(0).header("Referer"),
              "http://banner.test/ad");
    EXPECT_FALSE(
        browser->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::LandscapeLeft));
    ASSERT_NE(browser->toolbar(), nullptr);
    const auto& items = browser->toolbar()->items();
    ASSERT_EQ(items.size(), 9u);
    EXPECT_FALSE(items[0]->isEnabled()) << "no history to go back to";
    EXPECT_EQ(items[4]->systemItem(), platform::BarButtonSystemItem::Refresh)
        << "not loading: the reload item";
    EXPECT_TRUE(items[6]->isEnabled());
    items[6]->press(); // open in the system browser
    clock.drain();
    EXPECT_EQ(platform::Application::shared().openedURLs().back(), services.url("/lumen/landing.html"));
    EXPECT_EQ(lumentest::countOf(*events, "willLeave"), 1u);
    items[8]->press(); // Done
    clock.advance(1);
    EXPECT_EQ(lumentest::countOf(*events, "didDismiss"), 1u);
}

TEST_F(LumenScreensTest, AScreenThatOutlivesItsBannerNamesNoBanner) {
    class ViewRecorder : public lumen::LMNBannerViewDelegate {
    public:
        void adViewWillPresentScreen(lumen::LMNBannerView* v) override { seen.push_back(v); }
        void adViewWillDismissScreen(lumen::LMNBannerView* v) override { seen.push_back(v); }
        void adViewDidDismissScreen(lumen::LMNBannerView* v) override { seen.push_back(v); }
        void adViewWillLeaveApplication(lumen::LMNBannerView* v) override { seen.push_back(v); }
        std::vector<lumen::LMNBannerView*> seen;
    };
    auto recorder = std::make_shared<ViewRecorder>();
    auto banner = makeBanner();
    banner->setDelegate(recorder);
    auto o = std::make_shared<lumen::LMNOpener>();
    o->delegateManager_ = banner->privateObject().delegateManager();
    o->viewController_ = rootController;
    o->openBrowserToURL(services.urlFor("/lumen/landing.html"), lumen::kOrientationAny);
    ASSERT_EQ(recorder->seen, std::vector<lumen::LMNBannerView*>{banner.get()});
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(waitFor([&] { return browser->webView()->elementById("landing") != nullptr; }));
    clock.drain();

    // The host lets the banner go while the browser is up.
    banner->removeFromSuperview();
    banner.reset();
    recorder->seen.clear();
    browser->toolbar()->items()[6]->press(); // open in the system browser: leaves the application
    browser->toolbar()->items()[8]->press(); // Done
    clock.advance(1);
    EXPECT_EQ(recorder->seen, (std::vector<lumen::LMNBannerView*>(3, nullptr)));
}

TEST_F(LumenScreensTest, TheBrowserTimesItsLandingPageAndCountsItsNavigations) {
    auto& statistics = lumen::LMNStatistics::sharedStatistics();
    opener()->openBrowserToURL(services.urlFor("/lumen/landing.html"), lumen::kOrientationAny);
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(statistics.timingNamed("plpl")) << "the first load started the load timing";
    ASSERT_TRUE(waitFor([&] { return browser->webView()->elementById("landing") != nullptr; }));
    clock.drain();
    ASSERT_TRUE(statistics.timingNamed("plpd")) << "the first finished load starts the stay";
    EXPECT_FALSE(statistics.timingNamed("plpl")->isActive());
    EXPECT_TRUE(statistics.timingNamed("plpd")->isActive());

    // Links and forms count by scheme; other navigations count nothing.
    auto delegate = browser->webView()->delegate();
    using Nav = platform::WebViewNavigationType;
    const std::pair<const char*, Nav> navigations[] = {{"http://a.test/1", Nav::LinkClicked},
                                                       {"http://a.test/2", Nav::FormSubmitted},
                                                       {"https://a.test/3", Nav::LinkClicked},
                                                       {"http://a.test/4", Nav::Other},
                                                       {"https://a.test/5", Nav::Reload}};
    for (const auto& [url, type] : navigations)
        delegate->webViewShouldStartLoadWithRequestNavigationType(
            *browser->webView(), platform::URLRequest(*platform::URL::parse(url)), type);
    // A later page's load moves neither timing.
    const double stayStart = statistics.timingNamed("plpd")->startSeconds();
    browser->webView()->loadRequest(platform::URLRequest(services.urlFor("/lumen/landing.html")));
    ASSERT_TRUE(waitFor([&] { return !browser->webView()->isLoading(); }));
    clock.drain();
    EXPECT_EQ(statistics.timingNamed("plpd")->startSeconds(), stayStart);

    clock.advance(2);
    browser->relinquishScreen();
    clock.advance(1);
    EXPECT_FALSE(statistics.timingNamed("plpd")->isActive()) << "the stay ends when the screen has gone";
    auto figures = statistics.parameters();
    EXPECT_EQ(figures.at("plpnc").intOr(0), 2);
    EXPECT_EQ(figures.at("plpsnc").intOr(0), 1);
    EXPECT_EQ(figures.count("plpl"), 1u);
    EXPECT_GE(std::stoi(figures.at("plpd").stringOr("0")), 2000)
        << "from the first finished load to the disappearance";
}

TEST_F(LumenScreensTest, TheRootViewIsBlackAndOnlyFullScreenPresentationsHideTheStatusBar) {
    auto screen = std::make_shared<lumen::LMNBrowserController>();
    auto root = screen->view();
    EXPECT_EQ(root->autoresizingMask(), 18u);
    EXPECT_TRUE(root->isOpaque());
    EXPECT_EQ(root->backgroundColor(), platform::Color::blackColor());
    EXPECT_TRUE(root->clipsToBounds());

    auto& application = platform::Application::shared();
    using Style = platform::ModalPresentationStyle;
    for (Style style : {Style::FormSheet, Style::FullScreen}) {
        SCOPED_TRACE(static_cast<int>(style));
        application.setStatusBarHidden(false, false);
        auto shown = std::make_shared<lumen::LMNBrowserController>();
        shown->setModalPresentationStyle(style);
        shown->setDelegateManager(manager);
        shown->presentFromViewController(rootController);
        EXPECT_EQ(application.isStatusBarHidden(), style == Style::FullScreen);
        clock.advance(1);
        EXPECT_TRUE(shown->view()->isUserInteractionEnabled()) << "appeared";
        shown->relinquishScreen();
        clock.advance(1);
        EXPECT_FALSE(application.isStatusBarHidden());
    }
}

TEST_F(LumenScreensTest, APresentationByTheParentIsReportedOnce) {
    // No root controller in the key window: the parent, whose view is in it, presents.
    auto parent = std::make_shared<platform::ViewController>();
    window->setRootViewController(nullptr);
    window->addSubview(parent->view());
    auto screen = std::make_shared<lumen::LMNBrowserController>();
    screen->setDelegateManager(manager);
    screen->presentFromViewController(parent);
    EXPECT_EQ(parent->presentedViewController(), screen);
    clock.advance(lumen::LMNViewController::kAppearanceFallbackSeconds + 1);
    EXPECT_TRUE(screen->view()->isUserInteractionEnabled());
    screen->relinquishScreen();
    clock.advance(1);
    EXPECT_EQ(*events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}

TEST_F(LumenScreensTest, EachScreenSpinsWhileItsPageLoads) {
    // Both pages are held until the screen has been seen while its page loads.
    auto webAppPage = std::make_shared<fwtest::ReplyGate>();
    services.handle("GET", "/lumen/webapp.html",
                    webAppPage->holdingFile(services.host(), "/lumen/webapp.html", "text/html"));
    auto landingPage = std::make_shared<fwtest::ReplyGate>();
    const std::string landing(services::kLumenLandingPath);
    services.handle("GET", landing, landingPage->holdingFile(services.host(), landing, "text/html"));
    using platform::ActivityIndicatorView;

    // The web-app screen: a white spinner centred over the web view until the first finish.
    opener()->openWebApp(services.urlFor("/lumen/webapp.html"), lumen::kOrientationAny);
    clock.advance(1);
    auto webApp =
        std::dynamic_pointer_cast<lumen::LMNWebAppViewController>(rootController->presentedViewController());
    ASSERT_NE(webApp, nullptr);
    auto loading = webApp->loadingSpinner();
    ASSERT_NE(loading, nullptr);
    EXPECT_EQ(loading->superviewPointer(), webApp->webView().get());
    EXPECT_TRUE(loading->isAnimating());
    EXPECT_EQ(loading->activityIndicatorViewStyle(), platform::ActivityIndicatorViewStyle::White);
    EXPECT_EQ(loading->autoresizingMask(), 5u);
    const auto bounds = webApp->view()->bounds();
    EXPECT_EQ(loading->frame(),
              platform::Rect((bounds.size.width - 20) / 2, (bounds.size.height - 20) / 2, 20, 20));
    webAppPage->open();
    ASSERT_TRUE(waitFor([&] { return webApp->loadingSpinner() == nullptr; }));
    EXPECT_EQ(loading->superviewPointer(), nullptr) << "removed once the page has finished";
    webApp->relinquishScreen();
    clock.advance(1);

    // The browser: the spinner item spins in the middle of the toolbar while the page loads,
    // and the reload item stands there once it has loaded.
    opener()->openBrowserToURL(services.urlFor("/lumen/landing.html"), lumen::kOrientationAny);
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(browser->webView()->isLoading());
    const auto& items = browser->toolbar()->items();
    ASSERT_EQ(items.size(), 9u);
    auto spinner = std::dynamic_pointer_cast<ActivityIndicatorView>(items[4]->customView());
    ASSERT_NE(spinner, nullptr);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_EQ(spinner->frame().size, platform::Size(20, 20));
    EXPECT_FALSE(items[6]->isEnabled()) << "no system browser while loading";
    landingPage->open();
    ASSERT_TRUE(waitFor([&] { return !browser->webView()->isLoading(); }));
    clock.drain();
    EXPECT_EQ(browser->toolbar()->items()[4]->systemItem(), platform::BarButtonSystemItem::Refresh);
    EXPECT_FALSE(spinner->isAnimating());
    EXPECT_TRUE(spinner->isHidden());
    browser->relinquishScreen();
    clock.advance(1);
}

TEST(LumenIntrinsicImages, ButtonPicturesDecodeAtDoubleScale) {
    const std::pair<std::shared_ptr<platform::Image>, int> images[] = {
        {lumen::LMNIntrinsicImages::closeButton(), 50},
        {lumen::LMNIntrinsicImages::browserBackButton(), 54},
        {lumen::LMNIntrinsicImages::browserForwardButton(), 54},
    };
    for (const auto& [image, pixels] : images) {
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->pixelWidth(), pixels);
        EXPECT_EQ(image->scale(), 2.0);
        EXPECT_EQ(image->size().width, pixels / 2.0);
    }
    EXPECT_EQ(lumen::LMNIntrinsicImages::createImageFromEncoding("not base64!"), nullptr);
}
