// Expanded ads that go wrong: an expanded page that cannot be shown while an interstitial is
// up, and an expanded page whose slot has no delegate.
#include <gtest/gtest.h>

#include <fstream>

#include "AdDisplayFixture.h"
#include "platform/ui/Application.h"
#include "vellum/richmedia/MRModalAdViewController.h"

namespace richmediatest {
namespace {

using vellum::VellumAdView;

struct FullScreenRecorder : vellum::VellumAdViewDelegate {
    std::vector<std::string> calls;
    void adViewWillStartFullScreen(VellumAdView&) override { calls.push_back("willStart"); }
    void adViewDidStartFullScreen(VellumAdView&) override { calls.push_back("didStart"); }
    void adViewWillEndFullScreen(VellumAdView&) override { calls.push_back("willEnd"); }
    void adViewDidEndFullScreen(VellumAdView&) override { calls.push_back("didEnd"); }
    void adViewWillCollapse(VellumAdView&) override { calls.push_back("willCollapse"); }
    void adViewDidCollapse(VellumAdView&) override { calls.push_back("didCollapse"); }
};

class ExpansionTest : public AdDisplayFixture {};

// The interstitial's page asks to expand into a page that is not in the bundle: the expansion
// ends at once, without telling the host of a collapse it never heard begin, so the
// interstitial's full screen goes on and the application answers touches.
TEST_F(ExpansionTest, FailedExpandedPageLeavesTheInterstitialsFullScreen) {
    auto recorder = std::make_shared<FullScreenRecorder>();
    storeAd("full", {{"mainFile", "index.html"}, {"width", 320}, {"height", 480}, {"adSlotType", 5},
                     {"avcClassName", kControllerClass}, {"displaysCloseButton", true},
                     {"expandedMainFile", "missing.html"}, {"expandedWidth", 320}, {"expandedHeight", 300}});
    auto view = std::make_shared<VellumAdView>();
    view->setDelegate(recorder);
    ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
    view->displayInterstitial();
    clock.advance(VellumAdView::kInterstitialAnimationSeconds);
    ASSERT_EQ(recorder->calls, (std::vector<std::string>{"willStart", "didStart"}));
    ASSERT_EQ(view->blockers(), 1);

    auto c = view->adVC();
    ASSERT_TRUE(c);
    auto request = platform::URLRequest::withURLString("mrbridge:expandAd");
    EXPECT_FALSE(c->webViewShouldStartLoadWithRequestNavigationType(*c->webView(), *request,
                                                                    platform::WebViewNavigationType::Other));
    ASSERT_TRUE(clock.runUntil([&] { return !c->modalAdVC(); }));
    clock.advance(1.0);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"willStart", "didStart"}));
    EXPECT_EQ(view->blockers(), 1);
    EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());
    EXPECT_TRUE(VellumAdView::interstitialPageView());
}

// A slot without a delegate: the expanded page may navigate nowhere, but its "dismissAd"
// closes it, in any letter case.
TEST_F(ExpansionTest, ExpandedPageWithoutASlotDelegateClosesOnlyThroughDismissAd) {
    storeBanner("ad-1", {{"expandedMainFile", "expand.html"}, {"expandedWidth", 320}, {"expandedHeight", 300}});
    std::ofstream(cacheFolder() / "ad-1" / "expand.html") << "<html><head><title>expanded</title></head></html>";
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    auto c = view->adVC();
    ASSERT_TRUE(pageLoaded(*c));
    c->expandAd();
    auto modal = c->modalAdVC();
    ASSERT_TRUE(modal);
    ASSERT_TRUE(clock.runUntil([&] {
        return modal->webView() && !modal->webView()->isLoading() && modal->webView()->title() == "expanded";
    }));
    clock.advance(1.0);
    auto& app = platform::Application::shared();
    EXPECT_FALSE(app.isIgnoringInteractionEvents());

    const auto navigate = [&](const char* url) {
        auto request = platform::URLRequest::withURLString(url);
        return modal->webViewShouldStartLoadWithRequestNavigationType(*modal->webView(), *request,
                                                                      platform::WebViewNavigationType::Other);
    };
    const auto opened = app.openedURLs().size();
    for (const char* refused : {"http://example.com/page", "mrbridge:getSDKVersion", "mrbridge:expandAd",
                                "tel:5550100", "mrbridge:dismissAdLater"}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(navigate(refused));
        clock.advance(1.0);
        EXPECT_EQ(c->modalAdVC(), modal) << "still expanded";
    }
    EXPECT_EQ(app.openedURLs().size(), opened);

    EXPECT_FALSE(navigate("MRBRIDGE:DISMISSAD"));
    ASSERT_TRUE(clock.runUntil([&] { return !c->modalAdVC(); }));
    clock.advance(1.0);
    EXPECT_FALSE(modal->view()->superview()) << "the expanded page is gone";
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    EXPECT_TRUE(c->loaded()) << "the banner stays";
}

} // namespace
} // namespace richmediatest
