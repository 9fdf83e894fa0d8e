// The landing-page overlay on its own: navigation routing, full-screen and modal presentation
// with their notifications, the bars and their notifications, the page polls and closing,
// with landing pages served by the loopback services.
#include "MeridianTestSupport.h"

#include <cmath>

#include "meridian/MROverlayView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

using namespace meridiantest;
using meridian::MROverlayView;

namespace {

constexpr std::string_view kLandingPath = "/meridian/landing";

class RecordingOverlayDelegate : public meridian::MROverlayDelegate {
public:
    explicit RecordingOverlayDelegate(Events events) : events_(std::move(events)) {}
    void overlayWillAppear(MROverlayView&) override { events_->push_back("willAppear"); }
    void overlayDidAppear(MROverlayView&) override { events_->push_back("didAppear"); }
    void overlayWillDisappear(MROverlayView&) override { events_->push_back("willDisappear"); }
    void overlayDidDisappear(MROverlayView&) override { events_->push_back("didDisappear"); }
    void overlayWantsToTerminateAppToOpenURL(MROverlayView&, const platform::URL& url) override {
        events_->push_back("leave:" + url.absoluteString());
    }

private:
    Events events_;
};

class MeridianOverlay : public MeridianFixture {
protected:
    MeridianOverlay() {
        platform::AnimationLog::resetForTesting();
        window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        root = std::make_shared<platform::View>(platform::Screen::main().bounds());
        window->addSubview(root);
        window->makeKeyAndVisible();
        recorder = std::make_shared<RecordingOverlayDelegate>(events);
        for (auto name : {"MROverlayWillClose", "MRUpdateStatusBarVisibility"})
            platform::NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const platform::Notification& n) {
                    std::string text = std::string("posted:") + name;
                    if (const auto* v = std::any_cast<platform::Value>(&n.object))
                        text += "=" + v->toJSON();
                    events->push_back(text);
                });
    }

    std::shared_ptr<MROverlayView> overlay(int type = MROverlayView::kFullScreen) {
        return MROverlayView::create(type, recorder);
    }
    void serveLanding(std::string body) {
        services.handle("GET", std::string(kLandingPath), [body](const services::LoggedRequest&) {
            return services::ServiceReply{200, body, "text/html", {}};
        });
    }
    platform::URLRequest landing() { return platform::URLRequest(services.urlFor(kLandingPath)); }
    bool waitForLoad(MROverlayView& o) {
        return waitFor([&] { return !o.webView()->isLoading() && !o.isSpinnerAnimating(); });
    }

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::View> root;
    std::shared_ptr<RecordingOverlayDelegate> recorder;
};

} // namespace

TEST_F(MeridianOverlay, NavigationRouting) {
    struct Case {
        std::string url;
        bool loads;
        std::string handedOver; // empty: nothing goes to the delegate
    };
    const Case cases[] = {
        {"http://ads.test/meridian/handleClick.php5?id=1", true, ""},
        // The click path wins over a leaving scheme and a store host.
        {"itms://store.example.com/meridian/handleClick.php5", true, ""},
        {"http://maps.example.com/?q=a&next=http://b.test/", false,
         "maps://maps.example.com/?q=a&next=maps://b.test/"},
        {"itms://app/12", false, "itms://app/12"},
        {"sms:5551234", false, "sms:5551234"},
        {"tel:5551234", false, "tel:5551234"},
        {"mrbrowser://http://site.test/page?a=mrbrowser://x", false, "http://site.test/page?a=x"},
        {"http://store.example.com/app/1", false, "http://store.example.com/app/1"},
        {"https://apps.example.com/x", false, "https://apps.example.com/x"},
        {"http://landing.test/page", true, ""},
        // Scheme tests are case-sensitive.
        {"MRBROWSER://site.test", true, ""},
        {"TEL:555", true, ""},
    };
    auto o = overlay();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        events->clear();
        o->loadingDone();
        auto request = platform::URLRequest::withURLString(c.url);
        ASSERT_TRUE(request);
        EXPECT_EQ(o->webViewShouldStartLoadWithRequestNavigationType(
                      *o->webView(), *request, platform::WebViewNavigationType::LinkClicked),
                  c.loads);
        EXPECT_TRUE(o->isSpinnerAnimating());
        if (c.handedOver.empty())
            EXPECT_TRUE(events->empty());
        else
            EXPECT_EQ(*events, std::vector<std::string>{"leave:" + c.handedOver});
    }
    // Without a delegate a leaving link is still refused.
    auto orphan = MROverlayView::create(MROverlayView::kFullScreen, {});
    EXPECT_FALSE(orphan->webViewShouldStartLoadWithRequestNavigationType(
        *orphan->webView(), *platform::URLRequest::withURLString("tel:1"),
        platform::WebViewNavigationType::Other));
}

TEST_F(MeridianOverlay, DefaultsAndTransitionStyles) {
    auto full = overlay();
    EXPECT_EQ(full->headerTitle(), "Advertisement");
    EXPECT_DOUBLE_EQ(full->transitionDuration(), 0.5);
    EXPECT_TRUE(full->notifyOpenDelegates());
    EXPECT_TRUE(full->notifyCloseDelegates());
    EXPECT_DOUBLE_EQ(overlay(MROverlayView::kModal)->transitionDuration(), 0.3);

    using Style = platform::ModalTransitionStyle;
    const std::pair<std::optional<std::string>, Style> cases[] = {
        {"Curl", Style::PartialCurl},        {"CurlUp", Style::PartialCurl},
        {"CurlDown", Style::PartialCurl},    {"Dissolve", Style::CrossDissolve},
        {"Flip", Style::FlipHorizontal},     {"FlipRight", Style::FlipHorizontal},
        {"FlipLeft", Style::FlipHorizontal}, {"SlideUp", Style::CoverVertical},
        {"curl", Style::CoverVertical},      {std::nullopt, Style::CoverVertical},
    };
    for (const auto& [name, style] : cases) {
        full->setTransition(name);
        EXPECT_EQ(full->transitionStyle(), style) << name.value_or("(none)");
    }

    full->setMakeOverlayTransparent(true);
    EXPECT_FALSE(full->isOpaque());
    EXPECT_FALSE(full->webView()->isOpaque());
    full->setMakeOverlayTransparent(false);
    EXPECT_TRUE(full->isOpaque());
    EXPECT_TRUE(full->webView()->isOpaque());
}

TEST_F(MeridianOverlay, FullScreenOpensAndClosesOnceWithItsNotifications) {
    serveLanding("<p>landing</p>");
    auto o = overlay();
    o->setShowTitlebar(true);
    o->setShowBottomBar(true);
    o->setEnableBottomBar(true);
    o->showWithRequest(landing());
    EXPECT_EQ(*events, (std::vector<std::string>{"willAppear", "posted:MRUpdateStatusBarVisibility=false",
                                                 "didAppear"}));
    // The window holds one view: the overlay goes into it, below the 20-point status bar.
    EXPECT_EQ(o->superview(), root);
    auto screen = platform::Screen::main().bounds();
    double w = screen.width(), h = screen.height() - 20;
    EXPECT_EQ(o->frame(), platform::Rect(0, 20, w, h));
    ASSERT_NE(o->titleBar(), nullptr);
    EXPECT_EQ(o->titleBar()->frame(), platform::Rect(0, 0, w, 44));
    EXPECT_EQ(o->webView()->frame(), platform::Rect(0, 44, w, h - 88));
    ASSERT_NE(o->bottomBar(), nullptr);
    EXPECT_EQ(o->bottomBar()->frame(), platform::Rect(0, h - 44, w, 44));
    // With a title bar, the bottom bar carries no close item.
    EXPECT_EQ(o->closeItem(), nullptr);

    // A second presentation does nothing.
    events->clear();
    o->showFullScreenOverlay();
    EXPECT_TRUE(events->empty());

    ASSERT_TRUE(waitForLoad(*o));
    o->close();
    EXPECT_EQ(*events,
              (std::vector<std::string>{"willDisappear", "posted:MROverlayWillClose", "didDisappear"}));
    EXPECT_FALSE(o->isClosePollRunning());
    // The fade takes 0.3 s, then the overlay leaves the screen.
    EXPECT_EQ(o->superview(), root);
    clock.advance(0.3);
    clock.drain();
    EXPECT_EQ(o->superview(), nullptr);

    // Every later close request finds nothing open.
    events->clear();
    o->close();
    platform::NotificationCenter::defaultCenter().post("CloseMROverlay");
    EXPECT_TRUE(events->empty());
}

TEST_F(MeridianOverlay, SlideTransitionsStartOffScreenAndMoveIn) {
    struct Case {
        std::string transition;
        double dx, dy; // start offset in overlay widths and heights
    };
    const Case cases[] = {
        {"SlideUp", 0, 1}, {"SlideDown", 0, -1}, {"SlideRight", -1, 0}, {"SlideLeft", 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.transition);
        platform::AnimationLog::shared().clear();
        auto o = overlay();
        o->setTransition(c.transition);
        o->showWithHTML("<p>x</p>");
        auto frames = platform::AnimationLog::shared().recordsFor(*o, "frame");
        ASSERT_EQ(frames.size(), 1u);
        auto end = std::get<platform::Rect>(frames[0].to);
        auto start = std::get<platform::Rect>(frames[0].from);
        EXPECT_EQ(start, platform::Rect(end.x() + c.dx * end.width(), end.y() + c.dy * end.height(),
                                        end.width(), end.height()));
        EXPECT_DOUBLE_EQ(frames[0].duration, 0.5);
        EXPECT_EQ(frames[0].name, "ShowAdOverlayView");
        o->closeWithAnimation(false);
        EXPECT_EQ(o->superview(), nullptr);
    }
}

TEST_F(MeridianOverlay, WindowWithSeveralViewsTakesTheOverlayAndCurlTransition) {
    auto extra = std::make_shared<platform::View>(platform::Rect(0, 0, 10, 10));
    window->addSubview(extra);
    auto o = overlay();
    o->setTransition(std::string("CurlUp"));
    o->showWithHTML("<p>x</p>");
    EXPECT_EQ(o->superview(), window);
    auto transitions = platform::AnimationLog::shared().recordsFor(*window, "transition");
    ASSERT_EQ(transitions.size(), 1u);
    EXPECT_EQ(transitions[0].transitionType, "curlUp");
    o->closeWithAnimation(false);
}

TEST_F(MeridianOverlay, ModalPanelSizesItselfAndBouncesIn) {
    auto app = platform::Screen::main().applicationFrame();
    struct Case {
        std::string name;
        platform::Size size;
        platform::Point location;
        platform::Rect expected;
    };
    const double dw = app.width() - 20, dh = app.height() - 20;
    const Case cases[] = {
        {"defaults", {}, {}, {app.x() + 10, app.y() + 10, dw, dh}},
        // One zero dimension drops the whole size.
        {"half-size", {200, 0}, {}, {app.x() + 10, app.y() + 10, dw, dh}},
        {"sized",
         {200, 100},
         {},
         {app.x() + std::ceil(app.width() / 2) - 100, app.y() + std::ceil(app.height() / 2) - 50, 200, 100}},
        {"placed", {200, 100}, {5, 7}, {5, 7, 200, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        auto o = overlay(MROverlayView::kModal);
        o->setModalSize(c.size);
        o->setModalLocation(c.location);
        o->showWithHTML("<p>panel</p>");
        EXPECT_EQ(*events, (std::vector<std::string>{"willAppear", "didAppear"}));
        EXPECT_EQ(o->superview(), window);
        o->setTransform(platform::AffineTransform::identity());
        EXPECT_EQ(o->frame(), c.expected);
        EXPECT_EQ(o->webView()->frame(),
                  platform::Rect(11, 10, c.expected.width() - 22, c.expected.height() - 21));
        o->closeWithAnimation(false);
    }

    // With a title: the "X" button closes the panel; the bounce ends at full size.
    events->clear();
    auto o = overlay(MROverlayView::kModal);
    o->setShowTitlebar(true);
    o->showWithHTML("<p>panel</p>");
    clock.advance(0.3 / 1.5);
    clock.advance(0.15);
    clock.advance(0.15);
    clock.drain();
    auto stages = platform::AnimationLog::shared().recordsFor(*o, "transform");
    ASSERT_EQ(stages.size(), 3u);
    const double scales[][2] = {{0.001, 1.1}, {1.1, 0.9}, {0.9, 1.0}};
    const double durations[] = {0.2, 0.15, 0.15};
    for (std::size_t i = 0; i < stages.size(); ++i) {
        EXPECT_NEAR(std::get<platform::AffineTransform>(stages[i].from).a, scales[i][0], 1e-9) << i;
        EXPECT_NEAR(std::get<platform::AffineTransform>(stages[i].to).a, scales[i][1], 1e-9) << i;
        EXPECT_NEAR(stages[i].duration, durations[i], 1e-9) << i;
    }
    EXPECT_TRUE(o->transform().isIdentity());
    ASSERT_NE(o->modalCloseButton(), nullptr);
    EXPECT_EQ(o->modalCloseButton()->currentTitle(), "X");
    o->modalCloseButton()->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_EQ(*events, (std::vector<std::string>{"willAppear", "didAppear", "willDisappear",
                                                 "posted:MROverlayWillClose", "didDisappear"}));
    clock.advance(0.3);
    clock.drain();
    EXPECT_EQ(o->superview(), nullptr);
}

TEST_F(MeridianOverlay, EveryOverlayHearsTheCloseAndBarNotifications) {
    auto first = overlay();
    auto second = overlay();
    for (const auto& o : {first, second}) {
        o->setShowBottomBar(true);
        o->showWithHTML("<p>x</p>");
    }
    double height = first->webView()->frame().height();
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{"MRBottomBarToBeShown", platform::Value(false), nullptr, {}});
    for (const auto& o : {first, second}) {
        EXPECT_EQ(o->bottomBar(), nullptr);
        EXPECT_DOUBLE_EQ(o->webView()->frame().height(), height + 44);
        EXPECT_FALSE(o->showBottomBar());
    }
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{"MRBottomBarToBeShown", platform::Value(true), nullptr, {}});
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{"MRBottomBarToBeEnabled", platform::Value(true), nullptr, {}});
    for (const auto& o : {first, second}) {
        ASSERT_NE(o->bottomBar(), nullptr);
        ASSERT_NE(o->closeItem(), nullptr);
        EXPECT_TRUE(o->closeItem()->isEnabled());
        // Nothing to go back or forward to yet.
        EXPECT_FALSE(o->backItem()->isEnabled());
        EXPECT_FALSE(o->forwardItem()->isEnabled());
        ASSERT_NE(o->backItem()->image(), nullptr);
        EXPECT_EQ(o->backItem()->image()->size(), (platform::Size{30, 30}));
    }
    platform::NotificationCenter::defaultCenter().post("CloseMROverlay");
    EXPECT_EQ(countOf(*events, "didDisappear"), 2u);
    EXPECT_FALSE(first->isShowing());
    EXPECT_FALSE(second->isShowing());
}

TEST_F(MeridianOverlay, BarShownAfterANavigationIsShownOnce) {
    services.handle("GET", "/meridian/second", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>second</p>", "text/html", {}};
    });
    serveLanding("<a id=\"next\" href=\"/meridian/second\">next</a>");
    auto o = overlay();
    o->setShowBottomBar(false);
    o->showWithRequest(landing());
    ASSERT_TRUE(waitForLoad(*o));
    ASSERT_EQ(o->bottomBar(), nullptr);
    double full = o->webView()->frame().height();

    ASSERT_TRUE(o->webView()->clickLinkWithId("next"));
    ASSERT_TRUE(waitFor([&] { return o->webView()->canGoBack() && !o->webView()->isLoading(); }));
    ASSERT_NE(o->bottomBar(), nullptr);
    EXPECT_TRUE(o->showBottomBar());
    EXPECT_DOUBLE_EQ(o->webView()->frame().height(), full - 44);
    // A later wish to show the bar finds it shown: the page keeps its height.
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{"MRBottomBarToBeShown", platform::Value(true), nullptr, {}});
    EXPECT_DOUBLE_EQ(o->webView()->frame().height(), full - 44);
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{"MRBottomBarToBeShown", platform::Value(false), nullptr, {}});
    EXPECT_EQ(o->bottomBar(), nullptr);
    EXPECT_DOUBLE_EQ(o->webView()->frame().height(), full);
    o->closeWithAnimation(false);
}

TEST_F(MeridianOverlay, TheBarsArrowsAreTappedByTheirNames) {
    services.handle("GET", "/meridian/second", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>second page</p>", "text/html", {}};
    });
    serveLanding("<p>first page</p><a id=\"next\" href=\"/meridian/second\">next</a>");
    auto o = overlay();
    o->setShowBottomBar(true);
    o->setEnableBottomBar(true);
    o->showWithRequest(landing());
    ASSERT_TRUE(waitForLoad(*o));
    ASSERT_NE(o->bottomBar(), nullptr);
    auto screen = [] { return platform::TextRenderer::renderScreen(); };
    // Nothing to go back or forward to yet: the arrows show by their names, disabled.
    EXPECT_NE(screen().find("Back"), std::string::npos) << screen();
    EXPECT_NE(screen().find("Forward"), std::string::npos) << screen();
    EXPECT_FALSE(platform::TextRenderer::tap("Back"));

    ASSERT_TRUE(o->webView()->clickLinkWithId("next"));
    ASSERT_TRUE(waitFor([&] { return o->webView()->canGoBack() && !o->webView()->isLoading(); }));
    ASSERT_NE(screen().find("second page"), std::string::npos) << screen();
    ASSERT_TRUE(platform::TextRenderer::tap("Back")) << screen();
    ASSERT_TRUE(waitFor([&] { return o->webView()->canGoForward() && !o->webView()->isLoading(); }));
    EXPECT_NE(screen().find("first page"), std::string::npos) << screen();
    ASSERT_TRUE(platform::TextRenderer::tap("Forward")) << screen();
    ASSERT_TRUE(waitFor([&] { return o->webView()->canGoBack() && !o->webView()->isLoading(); }));
    EXPECT_NE(screen().find("second page"), std::string::npos) << screen();
    o->closeWithAnimation(false);
}

TEST_F(MeridianOverlay, PagePollsDriveTheBarAndTheClose) {
    serveLanding("<script>var closeNow = false; var enable = false;"
                 "function shouldCloseOverlay() { return closeNow ? 'true' : 'false'; }"
                 "function shouldEnableBottomBar() { return enable ? 'true' : 'false'; }"
                 "function shouldShowBottomBar() { return 'false'; }</script><p>landing</p>");
    auto enabledPosts = std::make_shared<int>(0);
    platform::NotificationCenter::defaultCenter().addObserver(
        "MRBottomBarToBeEnabled", [enabledPosts](const platform::Notification&) { ++*enabledPosts; });
    auto o = overlay();
    o->setShowBottomBar(true);
    o->setEnableBottomBar(true);
    o->showWithRequest(landing());
    double shown = o->webView()->frame().height();
    ASSERT_TRUE(waitForLoad(*o));
    // The first page hides the bar and disables it.
    EXPECT_EQ(o->bottomBar(), nullptr);
    EXPECT_DOUBLE_EQ(o->webView()->frame().height(), shown + 44);
    EXPECT_FALSE(o->enableBottomBar());
    EXPECT_TRUE(o->isClosePollRunning());
    EXPECT_TRUE(o->isEnablePollRunning());
    EXPECT_TRUE(o->isShowPollRunning());

    clock.advance(1);
    EXPECT_TRUE(o->isShowing());
    EXPECT_EQ(*enabledPosts, 0);
    o->webView()->stringByEvaluatingJavaScriptFromString("enable = true");
    clock.advance(1);
    EXPECT_EQ(*enabledPosts, 1);
    EXPECT_FALSE(o->isEnablePollRunning());

    o->webView()->stringByEvaluatingJavaScriptFromString("closeNow = true");
    clock.advance(1);
    EXPECT_FALSE(o->isShowing());
    EXPECT_EQ(countOf(*events, "didDisappear"), 1u);
    EXPECT_FALSE(o->isClosePollRunning());
    EXPECT_FALSE(o->isShowPollRunning());
}

TEST_F(MeridianOverlay, PageWithoutFunctionsStopsThePolls) {
    serveLanding("<p>plain</p>");
    auto o = overlay();
    o->showWithRequest(landing());
    ASSERT_TRUE(waitForLoad(*o));
    clock.advance(1);
    EXPECT_FALSE(o->isClosePollRunning());
    EXPECT_FALSE(o->isEnablePollRunning());
    EXPECT_FALSE(o->isShowPollRunning());
    EXPECT_TRUE(o->isShowing());
    o->closeWithAnimation(false);
}

TEST_F(MeridianOverlay, FailedLoadClosesTheOverlay) {
    services.handle("GET", std::string(kLandingPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{500, "broken", "text/html", {}};
    });
    auto o = overlay();
    o->showWithRequest(landing());
    ASSERT_TRUE(waitFor([&] { return !o->isShowing(); }));
    EXPECT_EQ(countOf(*events, "didDisappear"), 1u);
    EXPECT_FALSE(o->isSpinnerAnimating());
}

TEST_F(MeridianOverlay, TransparentOverlayMakesThePageTransparent) {
    serveLanding("<body style='background-color: red'><p>x</p></body>");
    auto o = overlay();
    o->setMakeOverlayTransparent(true);
    o->showWithRequest(landing());
    ASSERT_TRUE(waitForLoad(*o));
    EXPECT_EQ(o->webView()->stringByEvaluatingJavaScriptFromString("document.body.style.backgroundColor"),
              "transparent");
    o->closeWithAnimation(false);
}

TEST_F(MeridianOverlay, DestroyedOverlayLeavesNoObserverOrPoll) {
    serveLanding("<script>function shouldCloseOverlay() { return 'false'; }</script>");
    auto o = overlay();
    o->showWithRequest(landing());
    ASSERT_TRUE(waitForLoad(*o));
    o->closeWithAnimation(false);
    std::weak_ptr<MROverlayView> weak = o;
    o.reset();
    EXPECT_TRUE(weak.expired());
    platform::NotificationCenter::defaultCenter().post("CloseMROverlay");
    clock.advance(2);
    EXPECT_EQ(countOf(*events, "didDisappear"), 1u);
}

TEST_F(MeridianOverlay, LoadFailuresCloseUnlessNoContentOrReplaced) {
    const std::pair<std::int64_t, bool> cases[] = {{-1011, true}, {-1003, true}, {204, false}, {-999, false}};
    for (const auto& [code, closes] : cases) {
        SCOPED_TRACE(code);
        auto o = overlay();
        o->showWithHTML("<p>x</p>");
        o->webViewDidFailLoadWithError(*o->webView(),
                                       platform::Error{"NSURLErrorDomain", code, "failed", {}});
        EXPECT_FALSE(o->isSpinnerAnimating());
        EXPECT_EQ(o->isShowing(), !closes);
        o->closeWithAnimation(false);
    }
}

TEST_F(MeridianOverlay, ALandingPageGetsReadingsOnlyWithPermissionAndUntilItCloses) {
    const std::string page = "<script>var got = []; function shouldAccelerate() { return 'true'; }"
                             "function didAccelerate(x, y, z) { got.push(y.toFixed(2)); }</script>";
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    for (bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        auto o = overlay();
        o->setIsAccelerometerEnabled(enabled);
        o->showWithHTML(page);
        ASSERT_TRUE(waitForLoad(*o));
        EXPECT_TRUE(o->shouldAccelerate());
        EXPECT_EQ(accelerometer.hasDelegate(), enabled);
        accelerometer.injectAcceleration(0, 2, 0);
        clock.advance(0.1);
        EXPECT_EQ(o->webView()->stringByEvaluatingJavaScriptFromString("got.join(' ')"), enabled ? "0.20" : "");
        o->closeWithAnimation(false);
        EXPECT_FALSE(accelerometer.hasDelegate());
    }
}

TEST_F(MeridianOverlay, TheModalPanelDrawsItsBorderTitleStripAndOutline) {
    using Kind = platform::DrawOp::Kind;
    const platform::Color grayBorder = platform::Color::rgba(0.3, 0.3, 0.3, 0.8);
    const platform::Color outline = platform::Color::rgba(0.3, 0.3, 0.3, 1.0);
    struct Case {
        std::string name;
        platform::Color border;
        double alpha;
        bool title;
        platform::Color fill;
    };
    const Case cases[] = {
        {"black border", platform::Color::blackColor(), 0.5, false, grayBorder},
        {"white border", platform::Color::whiteColor(), 0.0, false, grayBorder},
        {"red border", platform::Color::rgba(1, 0, 0, 1), 0.5, false, platform::Color::rgba(1, 0, 0, 0.5)},
        {"with title", platform::Color::rgba(0, 0, 1, 1), 1.0, true, platform::Color::rgba(0, 0, 1, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto o = overlay(MROverlayView::kModal);
        o->setModalBorderColor(c.border);
        o->setAlphaForModalBorder(c.alpha);
        o->setShowTitlebar(c.title);
        o->setTitlebarColor(platform::Color::rgba(0, 0.5, 0, 1));
        o->showWithHTML("<p>panel</p>");
        o->display();
        auto ops = o->lastDrawing().paintOps();
        ASSERT_FALSE(ops.empty());
        // The rounded border, moved by half a point up and left.
        EXPECT_EQ(ops[0].kind, Kind::FillPath);
        EXPECT_EQ(ops[0].color, c.fill);
        auto bounds = o->bounds();
        double x = std::ceil(bounds.x() + 10), y = std::ceil(bounds.y() + 10), w = bounds.width() - 20;
        double web = o->webView()->frame().height();
        std::size_t strokes = 0;
        for (const auto& op : ops)
            if (op.kind == Kind::StrokePath) {
                ++strokes;
                EXPECT_DOUBLE_EQ(op.lineWidth, 2);
            }
        if (!c.title) {
            ASSERT_EQ(ops.size(), 5u);
            EXPECT_EQ(strokes, 4u);
            EXPECT_EQ(ops[1].color, outline);
            // The top line of the outline round the page.
            EXPECT_EQ(ops[1].path.points(), (std::vector<platform::Point>{{x + 0.5, y - 0.5}, {x + w, y - 0.5}}));
            EXPECT_EQ(ops[2].path.points(),
                      (std::vector<platform::Point>{{x + 0.5, y + web + 1 - 0.5}, {x + w - 0.5, y + web + 1 - 0.5}}));
        } else {
            double strip = o->modalTitleLabel()->frame().height();
            // The strip filled and outlined in the title colour, then the page outlined.
            ASSERT_EQ(ops.size(), 10u);
            EXPECT_EQ(ops[1].kind, Kind::FillPath);
            EXPECT_EQ(ops[1].color, platform::Color::rgba(0, 0.5, 0, 1));
            EXPECT_EQ(ops[2].color, platform::Color::rgba(0, 0.5, 0, 1));
            EXPECT_EQ(ops[6].color, outline);
            EXPECT_EQ(ops[6].path.points(),
                      (std::vector<platform::Point>{{x + 0.5, y + strip - 0.5}, {x + w, y + strip - 0.5}}));
        }
        o->closeWithAnimation(false);
    }
    // A full-screen overlay draws nothing of its own.
    auto full = overlay();
    full->display();
    EXPECT_TRUE(full->lastDrawing().paintOps().empty());
}

TEST_F(MeridianOverlay, TheSpinnerTurnsCentredOnThePageUntilItHasLoaded) {
    serveLanding("<p>landing</p>");
    for (int type : {MROverlayView::kFullScreen, MROverlayView::kModal}) {
        SCOPED_TRACE(type);
        auto o = overlay(type);
        o->setShowTitlebar(true);
        o->showWithRequest(landing());
        auto spinner = o->spinner();
        ASSERT_NE(spinner, nullptr);
        EXPECT_EQ(spinner->superview(), o);
        EXPECT_EQ(spinner->activityIndicatorViewStyle(), platform::ActivityIndicatorViewStyle::WhiteLarge);
        EXPECT_TRUE(spinner->isAnimating());
        EXPECT_FALSE(spinner->isHidden());
        EXPECT_EQ(spinner->frame().size, platform::Size(37, 37));
        // Centred on the page as it was laid out when the overlay appeared, above it.
        auto page = o->webView()->frame();
        if (type == MROverlayView::kFullScreen)
            page = platform::Rect(0, 0, o->frame().width(), o->frame().height());
        EXPECT_EQ(spinner->center(), platform::Point(page.midX(), page.midY()));
        auto& subviews = o->subviews();
        auto at = [&](const platform::View* v) {
            return std::find_if(subviews.begin(), subviews.end(), [v](const auto& s) { return s.get() == v; });
        };
        EXPECT_GT(at(spinner.get()), at(o->webView().get()));
        ASSERT_TRUE(waitForLoad(*o));
        EXPECT_TRUE(spinner->isHidden());
        o->closeWithAnimation(false);
        clock.drain();
    }
}
