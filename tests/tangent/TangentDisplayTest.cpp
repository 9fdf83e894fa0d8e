// The Tangent display components against the loopback Tangent service: the shade's target
// frames, a banner that grows over the application and shrinks back, the resize rules, the
// modal presentation styles, and an interstitial's view states through the widget.
#include <gtest/gtest.h>

#include "TangentWidgetFixture.h"
#include "platform/foundation/Log.h"
#include "platform/ui/TextRenderer.h"
#include "tangent/TangentTestSupport.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGEventRecord.h"
#include "tangent/TGModalViewController.h"
#include "tangent/TGOverlayComponent.h"
#include "tangent/TGShadeView.h"
#include "tangent/TGTimer.h"
#include "tangent/TGWebComponent.h"

using namespace tangent;

namespace {

class DisplayHost : public tangenttest::RecordingWidgetHost {
public:
    DisplayHost() { publisher = std::string(services::kTangentExpandingPublisher); }
    void adWidgetOrientationHasChangedTo(TGAdWidgetWorker&, int orientation) override {
        events.push_back("orientation " + std::to_string(orientation));
    }
    std::vector<std::string> quietSelectorNames() const override { return {"interstitialInterval:"}; }
    int interstitialInterval(TGAdWidgetWorker&) override { return 6; }
};

// Records the view states an ad view reports, through the widget it watches.
struct DisplayFixture : tangenttest::WidgetFixture<DisplayHost> {
    std::string eval(TGAdView& view, std::string_view script) { return view.evalJS(script); }
    // The "units" of every dismiss report the services got, in order.
    std::vector<std::string> dismissReports() {
        TGEventManager::instance().operationQueue().waitUntilAllOperationsAreFinished();
        std::vector<std::string> units;
        for (const auto& report : services.requestsTo(services::kTangentReportPath))
            if (report.queryValue("event") == TGEventTypeDismiss)
                units.push_back(report.queryValue("units").value_or("-"));
        return units;
    }
};

} // namespace

// ---- Shade geometry ----

TEST(TangentShade, TargetFramesGrowAwayFromTheNearerEdgeAndStayOnScreen) {
    struct Case {
        const char* name;
        platform::Rect banner; // in the window
        double height;
        int generation;
        platform::Rect expected; // in the shade view, below the status bar unless generation 0
    };
    const Case cases[] = {
        {"top banner grows down", {0, 20, 320, 50}, 300, 10, {0, 0, 320, 300}},
        {"bottom banner grows up, bottom edge fixed", {0, 430, 320, 50}, 300, 10, {0, 160, 320, 300}},
        {"taller than the screen is cut to the screen", {0, 430, 320, 50}, 1000, 10, {0, 0, 320, 460}},
        {"more room below but not enough: pushed up", {0, 120, 320, 50}, 400, 10, {0, 60, 320, 400}},
        {"sticking out on the right: pushed left", {100, 20, 300, 50}, 300, 10, {20, 0, 300, 300}},
        {"generation 0 keeps the status bar area", {0, 0, 320, 50}, 300, 0, {0, 0, 320, 300}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::Application::resetForTesting();
        TGDeviceInfo::resetForTesting();
        TGDeviceInfo::instance().tgSystemVersion = c.generation;
        auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        window->makeKeyAndVisible();
        auto holder = std::make_shared<platform::View>(c.banner);
        auto shade = std::make_shared<platform::View>(platform::Rect{0, 0, c.banner.size.width, c.banner.size.height});
        holder->addSubview(shade);
        window->addSubview(holder);
        auto shadeView = TGShadeView::initShade(shade, holder, {});
        window->addSubview(shadeView);
        shadeView->updateFrame();
        EXPECT_EQ(shadeView->frame().origin.y, c.generation == 0 ? 0 : 20);
        EXPECT_EQ(shadeView->expandedFrameForView(*holder, c.height, *shadeView), c.expected);
        shadeView->removeFromSuperview();
    }
    TGDeviceInfo::resetForTesting();
    platform::Application::resetForTesting();
}

// ---- Banner expansion ----

TEST(TangentBanner, ExpandsOverTheApplicationAndShrinksBack) {
    DisplayFixture f;
    auto widget = f.shownWidget({0, 430});
    auto ad = widget->currentAdView();
    auto component = std::dynamic_pointer_cast<TGWebComponent>(ad->adWrapper());
    ASSERT_TRUE(component);
    auto web = ad->adWebView();
    auto& app = platform::Application::shared();

    ASSERT_TRUE(web->clickLinkWithId("tgExpand"));
    ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
    // During the animation: no touches, the ad in interaction and protected.
    EXPECT_TRUE(app.isIgnoringInteractionEvents());
    EXPECT_EQ(ad->currentViewState(), activeState);
    EXPECT_EQ(component->status, 1);
    auto shadeView = component->shadeView();
    EXPECT_TRUE(shadeView->shadeIsInside());
    EXPECT_EQ(shadeView->superview(), f.window);
    // A bottom banner grows upwards with its bottom edge where the banner's is.
    EXPECT_EQ(web->frame(), platform::Rect(0, 160, 320, 300));
    auto grow = platform::AnimationLog::shared().recordsNamed(TGShadeView::kOpenAnimation);
    ASSERT_FALSE(grow.empty());
    EXPECT_DOUBLE_EQ(grow.back().duration, TGShadeView::kAnimationSeconds);
    EXPECT_EQ(shadeView->shadeBackground()->backgroundColor(), platform::Color::blackColor());
    EXPECT_EQ(f.eval(*ad, "document.getElementById('tgAd').className"), "expanded");

    f.clock.advance(TGShadeView::kAnimationSeconds);
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    EXPECT_FALSE(component->onAnimation());
    EXPECT_EQ(widget->syncStateDepth(), 1); // still in interaction
    EXPECT_EQ(f.host->events, std::vector<std::string>{"begin"});

    ASSERT_TRUE(web->clickLinkWithId("tgRestore"));
    ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
    EXPECT_EQ(component->status, 0);
    // The collapse turns the page's transition into the shade view's.
    std::string collapseTransition;
    for (const auto& r : platform::AnimationLog::shared().recordsNamed(TGShadeView::kCloseAnimation))
        if (r.kind == platform::AnimationKind::ViewTransition)
            collapseTransition = r.transitionType;
    EXPECT_EQ(collapseTransition, "curlUp");
    f.clock.advance(TGShadeView::kAnimationSeconds);
    ASSERT_TRUE(f.waitFor([&] { return !component->onAnimation(); }));
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    // The web view is back in the banner, the shade view off screen, the ad at rest.
    EXPECT_EQ(web->superview(), component);
    EXPECT_EQ(web->frame(), platform::Rect(0, 0, 320, 50));
    EXPECT_FALSE(shadeView->superview());
    EXPECT_EQ(ad->currentViewState(), inactiveState);
    EXPECT_EQ(widget->syncStateDepth(), 0);
    EXPECT_EQ(f.eval(*ad, "document.getElementById('tgAd').className"), "collapsed");
    EXPECT_EQ(f.host->events, (std::vector<std::string>{"begin", "end"}));
}

TEST(TangentBanner, RotationTellsTheHostAndThePageAndReplacesTheShade) {
    DisplayFixture f;
    auto widget = f.shownWidget({0, 430});
    widget->setAutorotate(true);
    auto ad = widget->currentAdView();
    auto component = std::dynamic_pointer_cast<TGWebComponent>(ad->adWrapper());
    ASSERT_TRUE(component);
    auto web = ad->adWebView();
    f.eval(*ad, "window.onorientationchange = function () { window.seen = (window.seen || '') + window.orientation + ';'; };");
    ASSERT_TRUE(web->clickLinkWithId("tgExpand"));
    ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
    f.clock.advance(TGShadeView::kAnimationSeconds);
    ASSERT_TRUE(f.waitFor([&] { return !component->onAnimation(); }));
    ASSERT_EQ(web->frame(), platform::Rect(0, 160, 320, 300));
    f.host->events.clear();

    // The host lays the banner out at the top for the new orientation; the shade follows only
    // when the rotation arrives.
    widget->setFrame(platform::Rect{0, 20, 320, 50});
    EXPECT_EQ(web->frame(), platform::Rect(0, 160, 320, 300));
    struct Turn {
        platform::InterfaceOrientation statusBar;
        platform::DeviceOrientation device;
        const char* seen; // the page's orientation values so far
        std::vector<std::string> hostEvents;
    };
    const Turn turns[] = {
        {platform::InterfaceOrientation::LandscapeRight, platform::DeviceOrientation::LandscapeRight, "90;",
         {"orientation 3"}},
        // The same orientation again changes nothing.
        {platform::InterfaceOrientation::LandscapeRight, platform::DeviceOrientation::LandscapeRight, "90;",
         {"orientation 3"}},
        {platform::InterfaceOrientation::PortraitUpsideDown, platform::DeviceOrientation::PortraitUpsideDown,
         "90;180;", {"orientation 3", "orientation 2"}},
    };
    auto& device = platform::Device::current();
    device.beginGeneratingDeviceOrientationNotifications();
    for (const auto& turn : turns) {
        platform::Application::shared().setStatusBarOrientation(turn.statusBar);
        device.setOrientation(turn.device);
        EXPECT_EQ(f.eval(*ad, "window.seen"), turn.seen);
        EXPECT_EQ(f.host->events, turn.hostEvents);
        // A top banner's shade grows down from the top of the shade view.
        EXPECT_EQ(web->frame(), platform::Rect(0, 0, 320, 300));
    }
    device.endGeneratingDeviceOrientationNotifications();
    // Shrunk again, the ad gives back the protection that kept the widget alive.
    ASSERT_TRUE(web->clickLinkWithId("tgRestore"));
    ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
    f.clock.advance(TGShadeView::kAnimationSeconds);
    ASSERT_TRUE(f.waitFor([&] { return ad->currentViewState() == inactiveState; }));
    EXPECT_EQ(widget->syncStateDepth(), 0);
}

TEST(TangentOverlay, RotationLaysTheInterstitialOutAndTellsItsPage) {
    DisplayFixture f;
    f.host->publisher = "pub-1";
    auto widget = f.shownInterstitial(false);
    widget->setAutorotate(true);
    auto ad = widget->currentAdView();
    auto overlay = std::dynamic_pointer_cast<TGOverlayComponent>(ad->adWrapper());
    ASSERT_TRUE(overlay);
    ASSERT_TRUE(f.waitFor([&] { return overlay->modalViewController()->inModalView() && widget->syncStateDepth() == 0; }));
    // The page's own layout function gets the web view's size; its orientation handler the angle.
    f.eval(*ad, "window.rotate = function (w, h) { window.laidOut = w + 'x' + h; };"
                "window.onorientationchange = function () { window.angle = String(window.orientation); };");
    auto& device = platform::Device::current();
    device.beginGeneratingDeviceOrientationNotifications();
    platform::Application::shared().setStatusBarOrientation(platform::InterfaceOrientation::LandscapeLeft);
    device.setOrientation(platform::DeviceOrientation::LandscapeRight);
    device.endGeneratingDeviceOrientationNotifications();
    // The overlay asks for layout; the next layout pass (as drawing the screen makes) runs the
    // page's function.
    EXPECT_EQ(f.eval(*ad, "String(window.laidOut)"), "undefined");
    platform::Application::shared().keyWindow()->layoutIfNeeded();
    const auto size = overlay->webContent()->frame().size;
    EXPECT_EQ(f.eval(*ad, "window.laidOut"),
              std::to_string(static_cast<int>(size.width)) + "x" + std::to_string(static_cast<int>(size.height)));
    EXPECT_EQ(f.eval(*ad, "window.angle"), "-90");
    EXPECT_EQ(f.host->events, (std::vector<std::string>{"beginInterstitial", "orientation 4"}));
    EXPECT_EQ(overlay->webContent()->frame().origin.y, TGOverlayComponent::kNavBarHeight);
    overlay->dismissButtonClicked();
    ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() == nullptr; }));
}

TEST(TangentBanner, AnExpandedBannerKeepsItsNameSoAPersonCanTouchItBack) {
    DisplayFixture f;
    // The host names the place of its banner, as the application's ad view does.
    auto slot = std::make_shared<platform::View>(platform::Rect{0, 430, 320, 50});
    slot->setAccessibilityLabel("Ad");
    f.window->addSubview(slot);
    auto widget = TGAdWidget::create(f.host, false);
    widget->setFrame(platform::Rect{0, 0, 320, 50});
    slot->addSubview(widget);
    widget->loadRequest();
    ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() != nullptr; }));
    auto ad = widget->currentAdView();
    auto web = ad->adWebView();
    auto component = std::dynamic_pointer_cast<TGWebComponent>(ad->adWrapper());
    ASSERT_TRUE(component);

    // A touch on the banner grows it over the application.
    ASSERT_TRUE(platform::TextRenderer::tap("Ad"));
    ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
    f.clock.advance(TGShadeView::kAnimationSeconds);
    ASSERT_TRUE(f.waitFor([&] { return !component->onAnimation() && ad->currentViewState() == activeState; }));
    ASSERT_TRUE(component->shadeView()->shadeIsInside());
    EXPECT_EQ(web->accessibilityLabel(), "Ad");

    // The grown ad is found by the same name; a touch shrinks it and the application is free.
    ASSERT_TRUE(platform::TextRenderer::tap("Ad"));
    ASSERT_TRUE(f.waitFor([&] { return component->onAnimation(); }));
    f.clock.advance(TGShadeView::kAnimationSeconds);
    ASSERT_TRUE(f.waitFor([&] { return !component->onAnimation() && ad->currentViewState() == inactiveState; }));
    EXPECT_EQ(web->superview(), component);
    EXPECT_EQ(web->accessibilityLabel(), "");
    EXPECT_FALSE(component->shadeView()->superview());
    EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());
}

TEST(TangentBanner, ResizeRules) {
    DisplayFixture f;
    tangenttest::TGLogScope logLevel(2);
    platform::LogCapture log;
    auto widget = f.shownWidget({0, 20});
    auto ad = widget->currentAdView();
    auto component = std::dynamic_pointer_cast<TGWebComponent>(ad->adWrapper());
    ASSERT_TRUE(component);
    auto web = ad->adWebView();
    auto& app = platform::Application::shared();

    // A second request while the first animates is dropped with its callback.
    component->changeSizeWidth(320, 250, 0, "window.first = 1;");
    component->changeSizeWidth(320, 200, 0, "window.second = 1;");
    // A top banner grows downwards with its top edge fixed.
    EXPECT_EQ(web->frame(), platform::Rect(0, 0, 320, 250));
    f.clock.advance(TGShadeView::kAnimationSeconds);
    EXPECT_EQ(f.eval(*ad, "typeof window.first"), "number");
    EXPECT_EQ(f.eval(*ad, "typeof window.second"), "undefined");
    EXPECT_FALSE(app.isIgnoringInteractionEvents());

    // The same height again finishes at once, running its callback.
    component->changeSizeWidth(320, 250, 0, "window.again = 1;");
    EXPECT_TRUE(log.contains("Shade already at the expanded height"));
    EXPECT_FALSE(component->onAnimation());
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    EXPECT_EQ(f.eval(*ad, "typeof window.again"), "number");
    EXPECT_EQ(widget->syncStateDepth(), 1); // the expansion's interaction only

    // Stopping during an expansion puts the web view back with its first transform and gives
    // the touches back.
    component->changeSizeWidth(320, 400, 0, "");
    ASSERT_TRUE(component->onAnimation());
    web->setTransform(platform::AffineTransform::makeTranslation(5, 5));
    std::weak_ptr<TGAdWidgetWorker> weakWidget = widget;
    ad->endDisplay();
    EXPECT_EQ(web->superview(), component);
    EXPECT_EQ(web->transform(), platform::AffineTransform::identity());
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
    EXPECT_EQ(widget->syncStateDepth(), 0);
    f.clock.advance(TGShadeView::kAnimationSeconds);
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
}

// ---- Modal presentation ----

namespace {

struct ModalRecorder : TGModalViewControllerDelegate {
    std::vector<std::string> calls;
    void modalViewWillAppear(bool) override { calls.push_back("willAppear"); }
    void modalViewDidAppear(bool) override { calls.push_back("didAppear"); }
    void modalViewWillDisappear(bool) override { calls.push_back("willDisappear"); }
    void modalViewDidDisappear(bool) override { calls.push_back("didDisappear"); }
    void modalViewBeganAnimation() override { calls.push_back("began"); }
    void modalViewFinishedAnimation() override { calls.push_back("finished"); }
};

} // namespace

TEST(TangentModal, TransitionStyles) {
    struct Case {
        int style;
        bool mainController;
        const char* presentation; // the presentation's recorded style, "" when none
        bool pageCurl;
    };
    const Case cases[] = {
        {2, true, "coverVertical", true},  {3, true, "flipHorizontal", false}, {4, true, "coverVertical", false},
        {5, true, "crossDissolve", false}, {6, true, "", false},              {0, true, "coverVertical", false},
        {9, true, "coverVertical", false}, {4, false, "", false},             {2, false, "", true},
    };
    const std::vector<std::string> fullCycle = {"willAppear", "didAppear", "willDisappear", "didDisappear"};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.style) + (c.mainController ? " over a controller" : " on the window"));
        fwtest::ManualClockScope clock;
        platform::Application::resetForTesting();
        platform::AnimationLog::resetForTesting();
        auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        std::shared_ptr<platform::ViewController> main;
        if (c.mainController) {
            main = std::make_shared<platform::ViewController>();
            window->setRootViewController(main);
        }
        window->makeKeyAndVisible();
        auto recorder = std::make_shared<ModalRecorder>();
        auto content = std::make_shared<platform::View>(platform::Rect{0, 0, 320, 480});
        auto modal = TGModalViewController::create(main, content, recorder);

        modal->showModalView(true, c.style);
        clock.advance(TGModalViewController::kPageCurlSeconds);
        EXPECT_TRUE(modal->inModalView());
        EXPECT_TRUE(content->window());
        std::string presented;
        bool curled = false;
        for (const auto& r : platform::AnimationLog::shared().records()) {
            if (r.kind == platform::AnimationKind::Presentation && r.name != "dismiss")
                presented = r.duration > 0 ? r.transitionType : "";
            if (r.kind == platform::AnimationKind::ViewTransition && r.transitionType == "curlDown")
                curled = true;
        }
        EXPECT_EQ(presented, c.presentation);
        EXPECT_EQ(curled, c.pageCurl);
        // A second show is refused.
        modal->showModalView(true, c.style);

        modal->hideModalView(true, c.style);
        clock.advance(TGModalViewController::kPageCurlSeconds);
        EXPECT_FALSE(modal->inModalView());
        EXPECT_FALSE(content->window());
        modal->hideModalView(true, c.style);

        std::vector<std::string> expected = fullCycle;
        if (c.pageCurl)
            expected = {"began", "willAppear", "didAppear", "finished", "began", "willDisappear", "didDisappear",
                        "finished"};
        EXPECT_EQ(recorder->calls, expected);
    }
    platform::Application::resetForTesting();
}

TEST(TangentModal, StatusBarIsPutBackAsItWas) {
    struct Case {
        bool hiddenBefore;
        bool shouldHide;
        int generation;
        bool hiddenWhileShown;
    };
    const Case cases[] = {
        {false, true, 10, true}, {true, true, 10, true}, {false, false, 10, false}, {false, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.hiddenBefore) + std::to_string(c.shouldHide) + std::to_string(c.generation));
        fwtest::ManualClockScope clock;
        platform::Application::resetForTesting();
        TGDeviceInfo::resetForTesting();
        TGDeviceInfo::instance().tgSystemVersion = c.generation;
        auto& app = platform::Application::shared();
        app.setStatusBarHidden(c.hiddenBefore, false);
        auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        window->makeKeyAndVisible();
        auto modal = TGModalViewController::create(nullptr, nullptr, {});
        modal->setShouldHideStatusBar(c.shouldHide);
        EXPECT_EQ(modal->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait), false);
        modal->showModalView(false, TGModalViewController::kNoAnimation);
        EXPECT_EQ(app.isStatusBarHidden(), c.hiddenBefore || c.hiddenWhileShown);
        modal->hideModalView(false, TGModalViewController::kNoAnimation);
        EXPECT_EQ(app.isStatusBarHidden(), c.hiddenBefore);
    }
    TGDeviceInfo::resetForTesting();
    platform::Application::resetForTesting();
}

// ---- Interstitials ----

TEST(TangentOverlay, AnInterstitialThroughTheWidget) {
    struct Case {
        const char* name;
        bool withController;
    };
    for (const Case c : {Case{"over the host's screen", true}, Case{"straight on the window", false}}) {
        SCOPED_TRACE(c.name);
        DisplayFixture f;
        f.host->publisher = "pub-1";
        auto widget = f.shownInterstitial(c.withController);
        auto ad = widget->currentAdView();
        auto overlay = std::dynamic_pointer_cast<TGOverlayComponent>(ad->adWrapper());
        ASSERT_TRUE(overlay);
        ASSERT_TRUE(f.waitFor([&] { return overlay->modalViewController()->inModalView() && widget->syncStateDepth() == 0; }));
        EXPECT_EQ(ad->currentViewState(), inactiveState);
        EXPECT_EQ(f.host->events, std::vector<std::string>{"beginInterstitial"});
        if (c.withController) {
            EXPECT_EQ(f.host->controller->modalViewController(), overlay->modalViewController());
        }
        // The bar over the page, the page below it.
        EXPECT_EQ(overlay->navBar()->topItem()->title(), "Advertisement");
        EXPECT_EQ(overlay->dismissButton()->title(), "Dismiss");
        EXPECT_EQ(overlay->webContent()->frame(), platform::Rect(0, 48, 320, 480 - 48));
        EXPECT_TRUE(overlay->webContent()->window());
        // A first display starts no auto-dismiss timer.
        EXPECT_FALSE(widget->autoDismissTimer()->isActive());

        // A click's target is up: Dismiss does nothing; when it closes the timer starts.
        ad->setCurrentActionState(clickingState);
        ad->setCurrentActionState(clickedState);
        overlay->dismissButtonClicked();
        EXPECT_EQ(ad->currentViewState(), clickedState);
        ad->setCurrentActionState(inactiveState);
        EXPECT_TRUE(widget->autoDismissTimer()->isActive());

        // The page's own dismissal is not counted; the user's is.
        ASSERT_TRUE(overlay->webContent()->clickLinkWithId("tgClose"));
        ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() == nullptr; }));
        EXPECT_EQ(f.dismissReports(), std::vector<std::string>{"1"});
        EXPECT_FALSE(overlay->modalViewController());
        EXPECT_FALSE(overlay->webContent()->window());
        EXPECT_EQ(ad->actualViewState(), dismissedState);
        EXPECT_EQ(widget->syncStateDepth(), 0);
        EXPECT_EQ(f.host->events, (std::vector<std::string>{"beginInterstitial", "begin", "end", "endInterstitial"}));
        if (c.withController) {
            EXPECT_FALSE(f.host->controller->modalViewController());
        }
    }
}

TEST(TangentOverlay, AutoDismissAndAutomaticDismissal) {
    DisplayFixture f;
    f.host->publisher = "pub-1";
    auto widget = f.shownInterstitial(false);
    auto ad = widget->currentAdView();
    auto overlay = std::dynamic_pointer_cast<TGOverlayComponent>(ad->adWrapper());
    ASSERT_TRUE(overlay);
    ad->setCurrentActionState(clickingState);
    ad->setCurrentActionState(clickedState);
    ad->setCurrentActionState(inactiveState);
    ASSERT_TRUE(widget->autoDismissTimer()->isActive());
    EXPECT_EQ(widget->autoDismissTimer()->interval(), 6);
    f.clock.advance(6);
    ASSERT_TRUE(f.waitFor([&] { return widget->currentAdView() == nullptr; }));
    EXPECT_EQ(ad->actualViewState(), dismissedState);

    // The page's automatic dismissal ("true") is not counted either.
    auto next = f.shownWidget({0, 0});
    auto nextOverlay = std::dynamic_pointer_cast<TGOverlayComponent>(next->currentAdView()->adWrapper());
    ASSERT_TRUE(nextOverlay);
    next->currentAdView()->bridgeUrl(*platform::URL::parse("tgc://tangent/dismiss:?true"));
    ASSERT_TRUE(f.waitFor([&] { return next->currentAdView() == nullptr; }));
    // Neither automatic dismissal is counted: no dismiss record was made.
    EXPECT_TRUE(f.dismissReports().empty());
}
