// The slot view's display paths: populating from a host web view, the slot type's frame
// reaching the controller, the container transforms, the interstitial's dismissal and the
// click-through through the promo slider, and the ad's own page staying inside its folder.
#include <gtest/gtest.h>

#include <fstream>
#include <numbers>

#include "AdDisplayFixture.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "vellum/richmedia/MRAdNetworkPromoSlider.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace richmediatest {
namespace {

using vellum::VellumAdView;

// Keeps the order of the delegate messages it receives.
struct Journal : vellum::VellumAdViewDelegate {
    std::vector<std::string> calls;
    void adViewWillDisplayInterstitial(VellumAdView&) override { calls.push_back("willDisplayInterstitial"); }
    void adViewDidDisplayInterstitial(VellumAdView&) override { calls.push_back("didDisplayInterstitial"); }
    void adViewWillDismissInterstitial(VellumAdView&) override { calls.push_back("willDismissInterstitial"); }
    void adViewDidDismissInterstitial(VellumAdView&) override { calls.push_back("didDismissInterstitial"); }
    void adViewWillDisplayEmbeddedBrowser(VellumAdView&) override { calls.push_back("willDisplayBrowser"); }
    void adViewDidDisplayEmbeddedBrowser(VellumAdView&) override { calls.push_back("didDisplayBrowser"); }
    void adViewWillDismissEmbeddedBrowser(VellumAdView&) override { calls.push_back("willDismissBrowser"); }
    void adViewDidDismissEmbeddedBrowser(VellumAdView&) override { calls.push_back("didDismissBrowser"); }
    std::size_t indexOf(const std::string& call) const {
        return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
    }
};

class SlotDisplayTest : public AdDisplayFixture {
protected:
    // A portrait interstitial of 320 by 480 with the built-in close button.
    void storeInterstitial(const std::string& id, int slotType = 5, platform::Dictionary extra = {}) {
        extra["mainFile"] = "index.html";
        const bool landscape = slotType == 6;
        extra["width"] = landscape ? 480 : 320;
        extra["height"] = landscape ? 320 : 480;
        extra["adSlotType"] = slotType;
        extra["avcClassName"] = kControllerClass;
        extra["displaysCloseButton"] = true;
        storeAd(id, extra);
    }
};

TEST_F(SlotDisplayTest, MainFileOutsideTheAdFolderIsNeverLoaded) {
    std::filesystem::create_directories(cacheFolder() / "elsewhere");
    std::ofstream(cacheFolder() / "elsewhere" / "secret.html") << "<html><title>secret</title></html>";
    storeAd("ad-up", {{"mainFile", "../elsewhere/secret.html"}, {"width", 320}, {"height", 50},
                      {"adSlotType", 3}, {"avcClassName", kControllerClass}});
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-up", std::nullopt));
    auto c = view->adVC();
    ASSERT_TRUE(c->loaded());
    EXPECT_FALSE(c->webView());
}

// The ad must match the host web view's own frame (the slot-type registration records no
// size), and a YES shows the ad inside that web view.
TEST_F(SlotDisplayTest, PopulatingComparesWithTheHostWebViewAndShowsTheAdInIt) {
    storeBanner("ad-1");
    struct Case {
        const char* name;
        platform::Rect hostFrame;
        bool shown;
    };
    const Case cases[] = {{"same size", {0, 0, 320, 50}, true}, {"box", {0, 0, 300, 250}, false}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto host = std::make_shared<platform::WebView>(tc.hostFrame);
        window->addSubview(host);
        vellum::VellumAdManager::sharedInstance()->registerWebView(3, "home", std::nullopt, std::nullopt,
                                   vellum::VellumAdServer::webViewDescription(host.get()));
        auto view = std::make_shared<VellumAdView>();
        EXPECT_EQ(view->populateWithadID(*host, "ad-1"), tc.shown);
        EXPECT_EQ(view->adKeyValuePairs(), std::nullopt);
        if (tc.shown) {
            ASSERT_TRUE(view->webPageView());
            EXPECT_TRUE(view->webPageView()->isDescendantOf(host.get()));
            EXPECT_TRUE(view->isDescendantOf(host.get()));
            EXPECT_EQ(view->adSlotKey(), "home");
            EXPECT_EQ(view->frame().size, (platform::Size{320, 50}));
        } else {
            EXPECT_FALSE(view->webPageView());
            EXPECT_FALSE(view->adVC());
        }
        host->removeFromSuperview();
    }
}

TEST_F(SlotDisplayTest, SlotTypeFrameReachesTheControllerViewAndItsTouchRectangle) {
    storeBanner("ad-1");
    auto view = std::make_shared<VellumAdView>(platform::Rect(0, 0, 320, 50));
    window->addSubview(view);
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    auto c = view->adVC();
    c->view();
    view->setAdSlotType(5);
    EXPECT_EQ(c->view()->frame(), platform::Rect(0, 0, 320, 480));
    auto entries = vellum::TouchTracking::entriesForView(c->view().get());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.front().rect, platform::Rect(0, 0, 320, 480));
}

TEST_F(SlotDisplayTest, ControllerNotificationsCarryTheAdEvent) {
    storeBanner("ad-1");
    auto view = slotView();
    std::vector<std::shared_ptr<vellum::VellumEvent>> carried;
    auto& center = platform::NotificationCenter::defaultCenter();
    auto token = center.addObserver(vellum::AdVCDidLoad, [&](const platform::Notification& n) {
        carried.push_back(n.objectAs<vellum::VellumEvent>());
    });
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    center.removeObserver(token);
    ASSERT_EQ(carried.size(), 1u);
    EXPECT_EQ(carried.front(), view->adVC()->event());
}

// A click-through from an interstitial ends the interstitial before the mini browser opens.
TEST_F(SlotDisplayTest, ClickThroughDismissesTheInterstitialBeforeTheBrowserOpens) {
    auto journal = std::make_shared<Journal>();
    storeInterstitial("full");
    auto view = std::make_shared<VellumAdView>();
    view->setDelegate(journal);
    ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
    view->displayInterstitial();
    clock.advance(VellumAdView::kInterstitialAnimationSeconds);
    auto c = view->adVC();
    c->performClickThrough("http://example.com/landing");
    const auto dismiss = journal->indexOf("willDismissInterstitial");
    const auto browser = journal->indexOf("willDisplayBrowser");
    ASSERT_LT(dismiss, journal->calls.size());
    ASSERT_LT(browser, journal->calls.size());
    EXPECT_LT(dismiss, browser);
    EXPECT_EQ(string(*c->event(), vellum::MRAdUrlStringKey), "http://example.com/landing");
    EXPECT_EQ(number(*c->event(), vellum::MRAdExitKey), vellum::MRAdExitCode::kClickThrough);
    EXPECT_EQ(vellum::MREmbeddedBrowserController::sharedInstance()->currentURLString(), "http://example.com/landing");
}

// Closing an interstitial goes through the promo slider, which reports back at once while
// promotions are off; the page slides away by orientation.
TEST_F(SlotDisplayTest, DismissSlidesThePageByOrientation) {
    struct Case {
        platform::InterfaceOrientation orientation;
        platform::Point origin;
    };
    const Case cases[] = {{platform::InterfaceOrientation::Portrait, {320, 0}},
                          {platform::InterfaceOrientation::LandscapeRight, {0, 480}},
                          {platform::InterfaceOrientation::LandscapeLeft, {0, -480}}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(static_cast<int>(tc.orientation));
        storeInterstitial("full");
        auto journal = std::make_shared<Journal>();
        auto view = std::make_shared<VellumAdView>();
        view->setDelegate(journal);
        ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
        platform::Application::shared().setStatusBarOrientation(platform::InterfaceOrientation::Portrait);
        view->displayInterstitial();
        clock.advance(VellumAdView::kInterstitialAnimationSeconds);
        platform::Application::shared().setStatusBarOrientation(tc.orientation);
        auto page = VellumAdView::interstitialPageView();
        ASSERT_TRUE(page);
        const auto before = page->frame();
        view->dismissInterstitial();
        EXPECT_EQ(page->frame().origin, tc.origin) << before.x() << "," << before.y() << " " << before.width();
        EXPECT_EQ(page->alpha(), 0);
        EXPECT_EQ(journal->calls.back(), "willDismissInterstitial");
        clock.advance(VellumAdView::kInterstitialAnimationSeconds);
        EXPECT_EQ(journal->calls.back(), "didDismissInterstitial");
        EXPECT_FALSE(VellumAdView::interstitialPageView());
        EXPECT_TRUE(view->promoSlider());
        EXPECT_FALSE(view->promoSlider()->superview()); // promotions off: never shown
    }
    platform::Application::shared().setStatusBarOrientation(platform::InterfaceOrientation::Portrait);
}

TEST_F(SlotDisplayTest, PromoSliderReportsOnceForEveryDisplayAndOnlyToItsDelegate) {
    struct Delegate : vellum::MRAdNetworkPromoSliderDelegate {
        std::vector<std::optional<platform::Dictionary>> seen;
        void promoDidDisplay(vellum::MRAdNetworkPromoSlider& s) override { seen.push_back(s.userInfo()); }
    };
    auto slider = vellum::MRAdNetworkPromoSlider::create({0, 0, 320, 50});
    EXPECT_EQ(slider->scrollDuration(), 0.20000000298023224);
    EXPECT_EQ(slider->removeIdleDuration(), 0.5);
    slider->displayPromoAnimated(true); // no delegate: nothing
    auto delegate = std::make_shared<Delegate>();
    slider->setDelegate(delegate);
    platform::View host({0, 0, 100, 100});
    slider->addToView(host, 2);
    EXPECT_TRUE(host.subviews().empty());
    slider->setUserInfo(platform::Dictionary{{"clickThroughURLString", "u1"}});
    slider->displayPromoAnimated(false);
    slider->setUserInfo(std::nullopt);
    slider->displayPromoAnimated(true);
    ASSERT_EQ(delegate->seen.size(), 2u);
    EXPECT_EQ(delegate->seen[0], (platform::Dictionary{{"clickThroughURLString", "u1"}}));
    EXPECT_EQ(delegate->seen[1], std::nullopt);
}

// The container transforms of the landscape interstitial and the tablet full-screen ads.
TEST_F(SlotDisplayTest, ContainerTransformsFollowTheTable) {
    struct Case {
        const char* name;
        int slotType, width, height;
        platform::InterfaceOrientation orientation;
        double quarterTurns, tx, ty;
    };
    using O = platform::InterfaceOrientation;
    // Portrait content is 320 wide: a 480-wide landscape slot is "not equal".
    const Case cases[] = {
        {"landscape, not equal", 6, 480, 320, O::Portrait, 1, -80, 80},
        {"landscape, equal", 6, 480, 320, O::LandscapeRight, 1, 80, 80},
        {"landscape, equal, landscape right", 6, 480, 320, O::LandscapeLeft, 3, -80, -80},
        {"portrait interstitial", 5, 320, 480, O::Portrait, 0, 0, 0},
        // Tablet full-screen ads of any slot type, on a tablet (content 768 by 1024).
        {"tablet 1024 wide, equal, landscape right", 0, 1024, 768, O::LandscapeLeft, 3, -128, -128},
        {"tablet 1024 wide, equal, other landscape", 0, 1024, 768, O::LandscapeRight, 1, 128, 128},
        {"tablet 1024 wide, not equal", 0, 1024, 768, O::Portrait, 1, 128, 128},
        {"tablet 768 wide, upside down", 0, 768, 1024, O::PortraitUpsideDown, 2, 0, 0},
        {"tablet 768 wide, portrait", 0, 768, 1024, O::Portrait, 0, 0, 0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        const bool tablet = tc.width == 1024 || tc.height == 1024;
        platform::Device::setProfile(tablet ? platform::DeviceProfile::Tablet : platform::DeviceProfile::Phone);
        if (tablet)
            storeAd("full", {{"mainFile", "index.html"}, {"width", tc.width}, {"height", tc.height},
                             {"adSlotType", tc.slotType}, {"avcClassName", kControllerClass},
                             {"displaysCloseButton", true}});
        else
            storeInterstitial("full", tc.slotType);
        platform::Application::shared().setStatusBarOrientation(tc.orientation);
        auto view = std::make_shared<VellumAdView>();
        ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
        view->displayInterstitial();
        auto container = view->superview();
        ASSERT_TRUE(container);
        const auto expected = platform::AffineTransform::makeRotation(tc.quarterTurns * std::numbers::pi / 2)
                                  .translated(tc.tx, tc.ty);
        const auto actual = container->transform();
        EXPECT_NEAR(actual.a, expected.a, 1e-9);
        EXPECT_NEAR(actual.b, expected.b, 1e-9);
        EXPECT_NEAR(actual.tx, expected.tx, 1e-9);
        EXPECT_NEAR(actual.ty, expected.ty, 1e-9);
        view->dismissInterstitialAnimated(false);
    }
    platform::Device::setProfile(platform::DeviceProfile::Phone);
    platform::Application::shared().setStatusBarOrientation(platform::InterfaceOrientation::Portrait);
}

TEST_F(SlotDisplayTest, ContentSizeFollowsTheStatusBarOrientation) {
    using O = platform::InterfaceOrientation;
    const std::pair<O, platform::Size> cases[] = {{O::Portrait, {320, 480}},
                                                  {O::PortraitUpsideDown, {320, 480}},
                                                  {O::LandscapeLeft, {480, 320}},
                                                  {O::LandscapeRight, {480, 320}}};
    for (const auto& [orientation, size] : cases) {
        platform::Application::shared().setStatusBarOrientation(orientation);
        EXPECT_EQ(VellumAdView::contentViewSizeForCurrentOrientation(), size);
    }
    platform::Application::shared().setStatusBarOrientation(O::Portrait);
}

TEST_F(SlotDisplayTest, EveryMacroGroupIsFilled) {
    storeBanner("ad-1", {{"userAgent", "AgentX"}});
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    const std::string text = view->updateURLWithKeyValuePairs(
        "$$_USERAGENT_$$|$$_LAT_$$|$$_LON_$$|$$_OSVER_$$|$$_SCREENRES_$$|$$_APPRES_$$|$$_APPVER_$$|$$_APPID_$$");
    EXPECT_EQ(text, "AgentX|0.000000|0.000000|" + platform::Device::current().systemVersion() +
                        "|320x480|320x480|1.0|" + manager()->appIdentifier().value_or("?"));
}

} // namespace
} // namespace richmediatest
