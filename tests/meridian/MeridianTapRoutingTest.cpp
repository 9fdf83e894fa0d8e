// Where a tap on a Meridian ad leads and how the ad view hosts the landing-page overlay: the
// platform's browser or the overlay by link, the host's modal notices in pairs, presentation
// by a view controller or by the overlay itself, the refresh timer, the status bar, leaving
// the application from the overlay, and the mediation slot's modal mark.
#include "MeridianTestSupport.h"
#include "support/SharedReply.h"

#include "mediation/MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "meridian/SwitchboardAdapterMeridian.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

using namespace meridiantest;
using meridian::MRGenericAdView;
using meridian::MROverlayView;

namespace {

constexpr std::string_view kLandingPath = "/meridian/landing";

class MeridianTapRouting : public MeridianFixture {
protected:
    MeridianTapRouting() {
        window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        window->makeKeyAndVisible();
        services.handle("GET", std::string(kLandingPath), [](const services::LoggedRequest&) {
            return services::ServiceReply{200, "<p>landing</p>", "text/html", {}};
        });
        // Banner pages that leave clicks to the ad view (no "X-Openinbrowser").
        services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
            return services::ServiceReply{200, "<a id='ad' href='/x'>ad</a>", "text/html", {}};
        });
    }
    ~MeridianTapRouting() override { window->setHidden(true); }

    // A window whose content is a screen: overlays are presented by it.
    std::shared_ptr<platform::ViewController> withRootController() {
        auto root = std::make_shared<platform::ViewController>();
        window->setRootViewController(root);
        return root;
    }
    // A window whose content is a plain view: overlays add themselves.
    std::shared_ptr<platform::View> withRootView() {
        auto view = std::make_shared<platform::View>(window->bounds());
        window->addSubview(view);
        return view;
    }
    std::shared_ptr<MRGenericAdView> loadedBanner() {
        delegate->refresh = 20;
        auto view = banner(1, true, true);
        EXPECT_TRUE(waitForEvent("succeeded"));
        clock.drain();
        events->clear();
        return view;
    }
    void tap(MRGenericAdView& view, std::string_view url) {
        auto request = platform::URLRequest::withURLString(url);
        ASSERT_TRUE(request);
        view.htmlAdViewWasTapped(*view.htmlAdView(), *request);
    }
    std::string landing() { return services.url(kLandingPath); }

    std::shared_ptr<platform::Window> window;
};

} // namespace

TEST_F(MeridianTapRouting, TapsGoToTheOverlayOrLeaveTheApplication) {
    struct Case {
        std::string url;
        bool openInBrowser;
        std::string opened; // empty: the overlay opens
    };
    const Case cases[] = {
        {"LANDING", false, ""},
        {"tel:5551234", false, "tel:5551234"},
        {"sms:5551234", false, "sms:5551234"},
        {"mrbrowser://http://site.test/page?a=1", false, "http://site.test/page?a=1"},
        // Scheme tests are exact: these are landing pages.
        {"TEL:5551234", false, ""},
        {"MRBROWSER://http://site.test/", false, ""},
        // Ads marked to open in the browser never open the overlay.
        {"LANDING", true, "LANDING"},
    };
    withRootView();
    auto view = loadedBanner();
    for (const auto& c : cases) {
        std::string url = c.url == "LANDING" ? landing() : c.url;
        std::string opened = c.opened == "LANDING" ? landing() : c.opened;
        SCOPED_TRACE(url);
        const auto& opens = platform::Application::shared().openedURLs();
        std::size_t before = opens.size();
        events->clear();
        view->startTimer();
        if (c.openInBrowser) {
            services.handle(
                "GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
                    return services::ServiceReply{200, "<p>ad</p>", "text/html", {{"X-Openinbrowser", "1"}}};
                });
            view->refreshAd();
            ASSERT_TRUE(waitForEvent("succeeded"));
            ASSERT_TRUE(view->openClickInBrowser());
            events->clear();
        }
        tap(*view, url);
        EXPECT_FALSE(view->isRefreshTimerRunning());
        if (opened.empty()) {
            ASSERT_NE(view->overlayView(), nullptr);
            EXPECT_TRUE(view->overlayView()->isShowing());
            EXPECT_EQ(*events, (std::vector<std::string>{"tapped", "modalWillAppear", "modalDidAppear"}));
            EXPECT_EQ(opens.size(), before);
            view->closeOverlay();
            EXPECT_EQ(view->overlayView(), nullptr);
            EXPECT_EQ(events->back(), "modalDismissed");
        } else {
            EXPECT_EQ(view->overlayView(), nullptr);
            EXPECT_EQ(*events, (std::vector<std::string>{"tapped", "terminate"}));
            EXPECT_EQ(
                std::vector<std::string>(opens.begin() + static_cast<std::ptrdiff_t>(before), opens.end()),
                std::vector<std::string>{opened});
        }
    }
    view->disableAdRefresh();
}

TEST_F(MeridianTapRouting, ATapActsOnTheAdShownUntilTheNextHasLoaded) {
    withRootView();
    auto reply = std::make_shared<fwtest::SharedReply>(
        services::ServiceReply{200, "<a id=\"go\" href=\"" + landing() + "\">go</a>", "text/html", {}});
    services.handle("GET", std::string(services::kMeridianAdPath), reply->handler());
    auto view = loadedBanner();
    auto shown = view->htmlAdView()->getAd();
    ASSERT_NE(shown, nullptr);
    // The next reply cannot be read: it never replaces the ad on screen.
    reply->set({200, "<p>\xff\xfe</p>", "text/html", {}});
    view->refreshAd();
    ASSERT_TRUE(waitForEvent("failed"));
    clock.drain();
    EXPECT_EQ(view->htmlAdView()->getAd(), shown);
    ASSERT_TRUE(view->htmlAdView()->showingWebView()->webView()->clickLinkWithId("go"));
    ASSERT_TRUE(waitForEvent("tapped"));
    ASSERT_NE(view->overlayView(), nullptr);
    EXPECT_EQ(view->overlayView()->type(), MROverlayView::kFullScreen);
    view->closeOverlay();
    view->disableAdRefresh();
}

TEST_F(MeridianTapRouting, AnAdsOwnWishToOpenAURLIsNoTap) {
    withRootView();
    auto view = loadedBanner();
    view->htmlAdViewWantsToOpenURL(*view->htmlAdView(), *platform::URL::parse("tel:555"));
    EXPECT_EQ(*events, std::vector<std::string>{"terminate"});
    EXPECT_TRUE(view->isRefreshTimerRunning());
    view->htmlAdViewWantsToOpenURL(*view->htmlAdView(), *platform::URL::parse(landing()));
    EXPECT_EQ(*events, (std::vector<std::string>{"terminate", "modalWillAppear", "modalDidAppear"}));
    EXPECT_FALSE(view->isRefreshTimerRunning());
    view->closeOverlay();
    view->disableAdRefresh();
}

TEST_F(MeridianTapRouting, AClickOnTheBannerOpensTheOverlayWithTheAdsSettings) {
    auto rootView = withRootView();
    services.handle("GET", std::string(services::kMeridianAdPath), [this](const services::LoggedRequest&) {
        return services::ServiceReply{200,
                                      "<a id='ad' href='" + landing() +
                                          "'>ad</a><script>function overlayTitle() { return 'Meridian'; }"
                                          "function shouldShowTitlebar() { return 'true'; } function "
                                          "overlayTransition() { return 'SlideLeft'; }"
                                          "function transitionDuration() { return '0.8'; }</script>",
                                      "text/html",
                                      {}};
    });
    auto view = loadedBanner();
    clock.advance(1);
    auto ad = view->htmlAdView()->getAd();
    ASSERT_NE(ad, nullptr);
    ASSERT_TRUE(ad->webView()->clickLinkWithId("ad"));
    ASSERT_TRUE(waitForEvent("modalDidAppear"));
    auto overlay = view->overlayView();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->superview(), rootView);
    EXPECT_EQ(overlay->headerTitle(), "Meridian");
    EXPECT_TRUE(overlay->showTitlebar());
    EXPECT_EQ(overlay->transition(), std::optional<std::string>("SlideLeft"));
    EXPECT_DOUBLE_EQ(overlay->transitionDuration(), 0.8);
    EXPECT_EQ(overlay->parentViewController(), nullptr);
    // The banner's own close request reaches the overlay.
    EXPECT_TRUE(ad->isClosePollRunning());
    ASSERT_TRUE(waitFor([&] { return !overlay->webView()->isLoading(); }));
    platform::NotificationCenter::defaultCenter().post("CloseMROverlay");
    EXPECT_EQ(*events,
              (std::vector<std::string>{"tapped", "modalWillAppear", "modalDidAppear", "modalDismissed"}));
    EXPECT_EQ(view->overlayView(), nullptr);
    EXPECT_EQ(overlay->superview(), nullptr);
    EXPECT_TRUE(view->isRefreshTimerRunning());
    view->disableAdRefresh();
}

TEST_F(MeridianTapRouting, AScreenOnTheResponderChainPresentsTheOverlay) {
    auto root = withRootController();
    auto view = loadedBanner();
    tap(*view, landing());
    auto overlay = view->overlayView();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->parentViewController(), root);
    auto presented =
        std::dynamic_pointer_cast<meridian::MROverlayViewController>(root->presentedViewController());
    ASSERT_NE(presented, nullptr);
    EXPECT_EQ(presented->view(), overlay);
    EXPECT_EQ(presented->modalTransitionStyle(), platform::ModalTransitionStyle::CoverVertical);
    EXPECT_EQ(*events, (std::vector<std::string>{"tapped", "modalWillAppear", "modalDidAppear"}));
    clock.advance(platform::kModalTransitionDuration);
    EXPECT_EQ(overlay->window(), window);

    overlay->close();
    EXPECT_EQ(events->back(), "modalDismissed");
    EXPECT_EQ(view->overlayView(), nullptr);
    clock.advance(platform::kModalTransitionDuration);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(overlay->window(), nullptr);
    view->disableAdRefresh();
}

TEST_F(MeridianTapRouting, TransparentAndModalOverlaysAreNeverPresentedByAScreen) {
    struct Case {
        std::string name;
        std::string script;
        int type;
    };
    const Case cases[] = {
        {"transparent", "function shouldMakeOverlayTransparent() { return 'true'; }",
         MROverlayView::kFullScreen},
        {"modal", "function shouldShowModal() { return 'true'; }", MROverlayView::kModal},
    };
    auto root = withRootController();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        services.handle("GET", std::string(services::kMeridianAdPath), [c](const services::LoggedRequest&) {
            return services::ServiceReply{200, "<p>ad</p><script>" + c.script + "</script>", "text/html", {}};
        });
        auto view = loadedBanner();
        clock.advance(1);
        tap(*view, landing());
        auto overlay = view->overlayView();
        ASSERT_NE(overlay, nullptr);
        EXPECT_EQ(overlay->type(), c.type);
        EXPECT_EQ(root->presentedViewController(), nullptr);
        EXPECT_EQ(overlay->parentViewController(), nullptr);
        EXPECT_NE(overlay->window(), nullptr);
        // The banner stays reachable: a second tap replaces the overlay, closing the first.
        tap(*view, landing());
        EXPECT_NE(view->overlayView(), overlay);
        EXPECT_EQ(overlay->superview(), nullptr);
        EXPECT_EQ(countOf(*events, "modalWillAppear"), 2u);
        EXPECT_EQ(countOf(*events, "modalDismissed"), 1u);
        view->closeOverlay();
        EXPECT_EQ(countOf(*events, "modalDismissed"), 2u);
        view->disableAdRefresh();
    }
}

TEST_F(MeridianTapRouting, StatusBarReturnsToItsStateBeforeTheOverlay) {
    for (bool hiddenBefore : {false, true}) {
        SCOPED_TRACE(hiddenBefore);
        withRootView();
        auto& app = platform::Application::shared();
        app.setStatusBarHidden(hiddenBefore);
        auto view = loadedBanner();
        tap(*view, landing());
        app.setStatusBarHidden(true);
        view->closeOverlay();
        EXPECT_EQ(app.isStatusBarHidden(), hiddenBefore);
        EXPECT_EQ(view->isStatusBarHiddenBeforeOverlay(), hiddenBefore);
        view->disableAdRefresh();
    }
}

TEST_F(MeridianTapRouting, LeavingFromTheOverlayClosesItFirst) {
    withRootView();
    auto view = loadedBanner();
    tap(*view, landing());
    auto overlay = view->overlayView();
    ASSERT_NE(overlay, nullptr);
    events->clear();
    EXPECT_FALSE(overlay->webViewShouldStartLoadWithRequestNavigationType(
        *overlay->webView(), *platform::URLRequest::withURLString("mrbrowser://http://site.test/x"),
        platform::WebViewNavigationType::LinkClicked));
    clock.advance(0.49);
    EXPECT_TRUE(events->empty());
    clock.advance(0.01);
    EXPECT_EQ(*events, std::vector<std::string>{"modalDismissed"});
    EXPECT_EQ(view->overlayView(), nullptr);
    EXPECT_EQ(overlay->superview(), nullptr);
    EXPECT_TRUE(platform::Application::shared().openedURLs().empty());
    clock.advance(0.2);
    EXPECT_EQ(*events, (std::vector<std::string>{"modalDismissed", "terminate"}));
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://site.test/x"});
    view->disableAdRefresh();
}

TEST_F(MeridianTapRouting, AdViewGoneTakesItsOverlayOffTheScreen) {
    auto rootView = withRootView();
    auto view = loadedBanner();
    tap(*view, landing());
    auto overlay = view->overlayView();
    ASSERT_NE(overlay, nullptr);
    view->disableAdRefresh();
    view.reset();
    EXPECT_EQ(overlay->superview(), nullptr);
    EXPECT_FALSE(overlay->isShowing());
    EXPECT_EQ(countOf(*events, "modalDismissed"), 0u);
}

namespace {

class MeridianTapRoutingSlot : public MeridianTapRouting {
protected:
    MeridianTapRoutingSlot() { mediationtest::registerProgramTypes(registry); }
    std::shared_ptr<meridian::SwitchboardAdapterMeridian> loadedAdapter() {
        platform::Dictionary ration{{"type", 6},   {"nid", "n6"},   {"nname", "meridian"},
                                    {"weight", 1}, {"priority", 1}, {"key", "pub"}};
        auto entry =
            mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
        auto adapter = mediation::SwitchboardAdNetworkAdapter::create<meridian::SwitchboardAdapterMeridian>(
            host, slot, nullptr, entry);
        adapter->getAd();
        EXPECT_TRUE(waitForEvent("slot:didReceiveAdView"));
        events->clear();
        return adapter;
    }
    mediation::SwitchboardAdNetworkRegistry registry;
    std::shared_ptr<mediationtest::MinimalHost> host = std::make_shared<mediationtest::MinimalHost>();
    std::shared_ptr<mediationtest::RecordingSlot> slot =
        std::make_shared<mediationtest::RecordingSlot>(events);
};

} // namespace

TEST_F(MeridianTapRoutingSlot, TheOverlayHoldsTheSlotsModalMarkUntilItCloses) {
    withRootView();
    auto adapter = loadedAdapter();
    auto banner = std::dynamic_pointer_cast<MRGenericAdView>(adapter->adNetworkView());
    ASSERT_NE(banner, nullptr);
    tap(*banner, landing());
    EXPECT_EQ(countOf(*events, "slot:modal=YES"), 1u);
    EXPECT_TRUE(slot->showingModalView());
    banner->overlayView()->close();
    EXPECT_EQ(countOf(*events, "slot:modal=NO"), 1u);
    EXPECT_FALSE(slot->showingModalView());

    // Detached with an overlay open: the overlay closes and the mark ends.
    tap(*banner, landing());
    EXPECT_TRUE(slot->showingModalView());
    adapter->stopBeingDelegate();
    EXPECT_FALSE(slot->showingModalView());
    EXPECT_EQ(banner->overlayView(), nullptr);
    EXPECT_EQ(countOf(*events, "slot:modal=YES"), 2u);
    EXPECT_EQ(countOf(*events, "slot:modal=NO"), 2u);
}
