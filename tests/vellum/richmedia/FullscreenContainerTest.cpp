// The full-screen container: its stack of pushed views with the enter and exit notices and
// the former key window, key status taken back while something shows, and the root view's
// turns to an interface orientation, following the device when asked to.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "AdDisplayFixture.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "vellum/richmedia/MRFullscreenContainer.h"

namespace richmediatest {
namespace {

using vellum::MRFullscreenContainer;

class FullscreenContainerTest : public AdDisplayFixture {
protected:
    FullscreenContainerTest() {
        platform::AnimationLog::resetForTesting();
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name :
             {vellum::MRFullscreenContainerDidEnterFullscreen, vellum::MRFullscreenContainerDidExitFullscreen})
            tokens.push_back(center.addObserver(name, [this](const platform::Notification& n) {
                notices.push_back(n.name);
            }));
        container = MRFullscreenContainer::sharedContainer();
    }
    ~FullscreenContainerTest() override {
        for (auto& token : tokens)
            platform::NotificationCenter::defaultCenter().removeObserver(token);
        platform::AnimationLog::resetForTesting();
    }
    static std::shared_ptr<platform::View> makeView() {
        return std::make_shared<platform::View>(platform::Rect(5, 5, 10, 10));
    }
    std::vector<platform::View*> stack() const {
        std::vector<platform::View*> v;
        for (const auto& view : container->views())
            v.push_back(view.get());
        return v;
    }

    std::shared_ptr<MRFullscreenContainer> container;
    std::vector<platform::NotificationCenter::ObserverToken> tokens;
    std::vector<std::string> notices;
};

TEST_F(FullscreenContainerTest, PushAndPopKeepAStackAndHandKeyStatusBack) {
    auto& app = platform::Application::shared();
    auto a = makeView(), b = makeView(), stranger = makeView();
    window->addSubview(a);
    EXPECT_GT(container->window()->windowLevel(), window->windowLevel());
    EXPECT_LT(container->window()->windowLevel(), platform::kWindowLevelAlert);

    container->pushView(a);
    EXPECT_EQ(a->superview(), container->rootView()); // taken out of its former place
    EXPECT_EQ(a->frame(), container->rootView()->bounds());
    EXPECT_EQ(app.keyWindow(), container->window());
    EXPECT_FALSE(container->window()->isHidden());
    container->pushView(b);
    container->pushView(b); // already on top: nothing
    EXPECT_EQ(stack(), (std::vector<platform::View*>{b.get(), a.get()}));
    EXPECT_EQ(container->rootView()->subviews().back(), b);
    EXPECT_EQ(notices, (std::vector<std::string>{vellum::MRFullscreenContainerDidEnterFullscreen}));

    container->popView(stranger.get()); // never pushed: nothing
    container->popView(a.get());         // from deeper in the stack
    EXPECT_EQ(stack(), (std::vector<platform::View*>{b.get()}));
    EXPECT_FALSE(a->superview());
    EXPECT_EQ(app.keyWindow(), container->window());

    container->popTopView();
    EXPECT_TRUE(container->views().empty());
    EXPECT_FALSE(b->superview());
    EXPECT_TRUE(container->window()->isHidden());
    EXPECT_EQ(app.keyWindow(), window);
    EXPECT_EQ(notices, (std::vector<std::string>{vellum::MRFullscreenContainerDidEnterFullscreen,
                                                 vellum::MRFullscreenContainerDidExitFullscreen}));
    container->popTopView(); // empty: nothing
    EXPECT_EQ(notices.size(), 2u);
}

TEST_F(FullscreenContainerTest, KeyStatusIsTakenBackWhileSomethingIsPushed) {
    auto& app = platform::Application::shared();
    auto other = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    container->pushView(makeView());
    other->makeKeyAndVisible();
    EXPECT_EQ(app.keyWindow(), other);
    clock.advance(0.05);
    EXPECT_EQ(app.keyWindow(), other);
    clock.advance(0.06);
    EXPECT_EQ(app.keyWindow(), container->window());

    // With nothing pushed the window lets key status go.
    container->popTopView();
    other->makeKeyAndVisible();
    clock.advance(1.0);
    EXPECT_EQ(app.keyWindow(), other);
    other->setHidden(true);
}

// Each row: a turn from one orientation to another, the root bounds and rotation after it,
// and how long it animates while a view shows (0: no turn at all).
TEST_F(FullscreenContainerTest, TurnsRotateTheRootAndTakeLongerToTheOppositeSide) {
    struct Case {
        int from, to;
        bool landscape;
        double angle;
        double duration;
    };
    constexpr double kTurn = MRFullscreenContainer::kOrientationAnimationDuration;
    const Case cases[] = {
        {1, 2, false, std::numbers::pi, 2 * kTurn},
        {1, 3, true, std::numbers::pi / 2, kTurn},
        {1, 4, true, -std::numbers::pi / 2, kTurn},
        {3, 4, true, -std::numbers::pi / 2, 2 * kTurn},
        {4, 1, false, 0, kTurn},
        {2, 2, false, std::numbers::pi, 0},  // the current one
        {1, 5, false, 0, 0},                  // out of range
        {1, 0, false, 0, 0},
    };
    const auto windowSize = container->window()->bounds().size;
    container->pushView(makeView());
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::to_string(tc.from) + " to " + std::to_string(tc.to));
        container->setOrientation(tc.from, false);
        platform::AnimationLog::shared().clear();
        container->setOrientation(tc.to);
        const auto root = container->rootView();
        const auto size = tc.landscape ? platform::Size(windowSize.height, windowSize.width) : windowSize;
        EXPECT_EQ(root->bounds(), platform::Rect({0, 0}, size));
        const auto t = root->transform();
        EXPECT_NEAR(std::atan2(t.b, t.a), tc.angle, 1e-9);
        EXPECT_EQ(container->orientation(), tc.duration > 0 ? tc.to : tc.from);
        const auto turns = platform::AnimationLog::shared().recordsFor(*root, "transform");
        if (tc.duration > 0) {
            ASSERT_FALSE(turns.empty());
            EXPECT_DOUBLE_EQ(turns.back().duration, tc.duration);
        } else {
            EXPECT_TRUE(turns.empty());
        }
    }
    // Nothing pushed: the turn is immediate.
    container->popTopView();
    platform::AnimationLog::shared().clear();
    container->setOrientation(3);
    EXPECT_TRUE(platform::AnimationLog::shared().records().empty());
    EXPECT_EQ(container->orientation(), 3);
}

TEST_F(FullscreenContainerTest, TrackingFollowsTheDeviceUntilSwitchedOff) {
    auto& app = platform::Application::shared();
    auto& device = platform::Device::current();
    device.beginGeneratingDeviceOrientationNotifications();
    app.setStatusBarOrientation(platform::InterfaceOrientation::LandscapeRight);
    container->setTracksDeviceOrientation(true);
    EXPECT_EQ(container->orientation(), static_cast<int>(platform::InterfaceOrientation::LandscapeRight));
    struct Case {
        platform::DeviceOrientation device;
        int expected;
    };
    const Case cases[] = {
        {platform::DeviceOrientation::PortraitUpsideDown, 2},
        {platform::DeviceOrientation::FaceUp, 2}, // not an interface orientation: no turn
        {platform::DeviceOrientation::LandscapeLeft, 3},
        {platform::DeviceOrientation::Portrait, 1},
    };
    for (const auto& tc : cases) {
        platform::Device::current().setOrientation(tc.device);
        EXPECT_EQ(container->orientation(), tc.expected);
    }
    platform::Device::current().setOrientation(platform::DeviceOrientation::LandscapeLeft);
    container->setTracksDeviceOrientation(false);
    EXPECT_EQ(container->orientation(), 1);
    platform::Device::current().setOrientation(platform::DeviceOrientation::LandscapeRight);
    EXPECT_EQ(container->orientation(), 1);
    device.endGeneratingDeviceOrientationNotifications();
}

} // namespace
} // namespace richmediatest
