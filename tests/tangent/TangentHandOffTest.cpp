// Ways out of a Tangent ad against the loopback Tangent service: a page that hands its ad over
// to the rich-media engine takes its shade or overlay with it; a future ad that a page moves
// into a state it cannot reach before display is reported to the host; and a banner that
// leaves its window stops the click in progress.
#include <gtest/gtest.h>

#include "TangentWidgetFixture.h"
#include "support/ReplyGate.h"
#include "tangent/TGActionController.h"
#include "tangent/TGModalViewController.h"
#include "tangent/TGOverlayComponent.h"
#include "tangent/TGShadeView.h"
#include "tangent/TGWebComponent.h"

using namespace tangent;

namespace {

struct HandOffFixture : tangenttest::WidgetFixture<tangenttest::RecordingWidgetHost> {
    // Whether anything of the ad still covers the window: a touch in the middle of the
    // screen reaches the window itself.
    bool screenIsFree() {
        const platform::Point middle{160, 240};
        return window->hitTest(middle, nullptr) == window && !platform::Application::shared().isIgnoringInteractionEvents();
    }
};

constexpr std::string_view kHandOff = "window.location.href = 'vellum:launchAd?adID=x';";

} // namespace

TEST(TangentHandOff, AHandOffTakesTheShadeOrTheOverlayOffTheScreen) {
    // Without the rich-media engine the hand-off ends the ad; whatever the replaced component
    // put on screen must go with it.
    {
        SCOPED_TRACE("expanded banner");
        HandOffFixture f;
        f.host->publisher = std::string(services::kTangentExpandingPublisher);
        auto widget = f.shownWidget({0, 430});
        auto ad = widget->currentAdView();
        auto component = std::dynamic_pointer_cast<TGWebComponent>(ad->adWrapper());
        ASSERT_TRUE(component);
        ASSERT_TRUE(ad->adWebView()->clickLinkWithId("tgExpand"));
        ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
        f.clock.advance(TGShadeView::kAnimationSeconds);
        ASSERT_TRUE(f.waitFor([&] { return !component->onAnimation(); }));
        auto shadeView = component->shadeView();
        ASSERT_EQ(shadeView->superview(), f.window);
        ASSERT_FALSE(f.screenIsFree());

        ad->evalJS(kHandOff);
        ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() == nullptr; }));
        EXPECT_EQ(ad->actualViewState(), dismissedState);
        EXPECT_FALSE(shadeView->superview());
        EXPECT_FALSE(ad->adWebView());
        EXPECT_TRUE(f.screenIsFree());
        // The host heard the interaction end, so it no longer counts a modal view.
        EXPECT_EQ(f.host->events, (std::vector<std::string>{"begin", "end"}));
        EXPECT_EQ(widget->syncStateDepth(), 0);
        // Released by its owner, the widget leaves nothing behind.
        widget->removeFromSuperview();
        widget.reset();
        EXPECT_TRUE(f.screenIsFree());
        EXPECT_EQ(f.window->subviews().size(), 0u);
    }
    for (const bool withController : {true, false}) {
        SCOPED_TRACE(withController ? "interstitial over the host's screen" : "interstitial on the window");
        HandOffFixture f;
        auto widget = f.shownInterstitial(withController);
        auto ad = widget->currentAdView();
        auto overlay = std::dynamic_pointer_cast<TGOverlayComponent>(ad->adWrapper());
        ASSERT_TRUE(overlay);
        auto modal = overlay->modalViewController();
        ASSERT_TRUE(f.waitFor([&] { return modal->inModalView() && widget->syncStateDepth() == 0; }));

        ad->evalJS(kHandOff);
        ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() == nullptr; }));
        EXPECT_EQ(ad->actualViewState(), dismissedState);
        EXPECT_FALSE(modal->inModalView());
        EXPECT_FALSE(overlay->window());
        if (withController) {
            EXPECT_FALSE(f.host->controller->modalViewController());
        }
        EXPECT_EQ(f.host->events.back(), "endInterstitial");
        EXPECT_EQ(widget->syncStateDepth(), 0);
    }
}

TEST(TangentHandOff, AFutureAdClickingWhileItLoadsIsReportedAsNotShown) {
    HandOffFixture f;
    // The page asks to open a link before it has loaded, which moves the future ad into a click.
    f.services.setFault(std::string(services::kTangentAdPath),
                        services::Fault::reply(200,
                                               "<p>ad</p><script>window.location.href = "
                                               "'tgc://tangent/openUri:contentType:options:?"
                                               "http%3A%2F%2F127.0.0.1%3A1%2Fx&&%7B%7D';</script>",
                                               "text/html"));
    auto widget = TGAdWidget::create(f.host, false);
    widget->setFrame(platform::Rect{0, 0, 320, 50});
    f.window->addSubview(widget);
    widget->loadRequest();
    ASSERT_TRUE(f.waitFor([&] { return !f.host->events.empty(); }));
    EXPECT_EQ(f.host->events, std::vector<std::string>{"failedToShow"});
    EXPECT_FALSE(widget->futureAdView());
    EXPECT_FALSE(widget->currentAdView());
    EXPECT_FALSE(widget->request());
}

TEST(TangentHandOff, LeavingTheWindowStopsAClickInProgress) {
    HandOffFixture f;
    // The click's redirect is held on the server, so the click is still in progress when the
    // banner leaves its window.
    auto gate = std::make_shared<fwtest::ReplyGate>();
    f.services.handle("GET", std::string(services::kTangentClickPath),
                      gate->holding({302, "", "text/plain", {{"Location", std::string(services::kTangentLandingPath)}}}));
    auto widget = f.shownWidget({0, 430});
    auto ad = widget->currentAdView();
    ASSERT_TRUE(ad->adWebView()->clickLinkWithId("tgAdText"));
    ASSERT_TRUE(f.waitFor([&] { return ad->actionController()->redirectFollower() != nullptr; }));
    EXPECT_EQ(ad->currentActionState(), clickingState);

    widget->removeFromSuperview();
    EXPECT_FALSE(ad->actionController()->redirectFollower());
    EXPECT_EQ(ad->currentActionState(), inactiveState);
    EXPECT_FALSE(ad->actionController()->browserView());
    EXPECT_EQ(widget->syncStateDepth(), 0);
    gate->open();
}
