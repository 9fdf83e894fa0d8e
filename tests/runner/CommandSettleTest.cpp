// Each command of `ferrowick` settles before the next is read: what it started runs out (its
// animations and the timers it set for the next moments included), while an animation that
// repeats for long, a chain of timers that re-arms itself or a timer far off cannot hold it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace {

class CommandSettle : public ::testing::Test {
protected:
    CommandSettle() {
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::AnimationLog::resetForTesting();
        window_ = std::make_shared<platform::Window>();
        window_->makeKeyAndVisible();
    }
    ~CommandSettle() override {
        platform::AnimationLog::resetForTesting();
        platform::Application::resetForTesting();
    }

    // A button that runs `action` when tapped.
    void addButton(const std::string& title, platform::Rect frame, std::function<void()> action) {
        auto button = std::make_shared<platform::Button>(frame);
        button->setTitle(title);
        button->addAction([action](platform::Control&) { action(); }, platform::ControlEvent::TouchUpInside);
        window_->addSubview(button);
    }

    double now() const { return platform::Clock::current().monotonic(); }

    fwtest::TemporaryHome home_;
    fwtest::ManualClockScope clock_;
    std::shared_ptr<platform::Window> window_;
    runner::CommandInterpreter interpreter_{[](double seconds) { runner::waitFor(seconds, true); }};
};

TEST_F(CommandSettle, ACommandsAnimationsEndBeforeTheNextCommandButALongRepeatDoesNotHoldIt) {
    auto panel = std::make_shared<platform::View>(platform::Rect(0, 0, 100, 100));
    window_->addSubview(panel);
    bool slid = false;
    addButton("Slide", {0, 200, 120, 40}, [&] {
        platform::View::animate(0.7, [&] { panel->setFrame({0, 300, 100, 100}); },
                                [&](const std::string&, bool finished) { slid = finished; });
    });
    addButton("Blink", {0, 400, 120, 40}, [&] {
        platform::AnimationOptions forever("blink", 1.0);
        forever.repeatCount = 1e6;
        platform::View::animate(forever, [&] { panel->setAlpha(0.1); });
    });

    double before = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "tap Slide").ok);
    EXPECT_TRUE(slid) << "the command's own animation ran out before the command ended";
    EXPECT_LT(now() - before, 1.0);

    before = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "tap Blink").ok);
    EXPECT_LE(now() - before, runner::kAnimationSettleLimitSeconds + 0.5);
}

TEST_F(CommandSettle, ACommandsTimersForTheNextMomentsRunBeforeTheNextCommand) {
    int target = 0;
    bool soon = false, late = false, before = false;
    int checks = 0;
    // A check that looks again every tenth of a second for good, as a progress bar does.
    std::function<void()> check = [&] {
        ++checks;
        platform::RunLoop::main().performAfter(
            0.1, [&check] { check(); }, &target, "check");
    };
    addButton("Soon", {0, 200, 120, 40},
              [&] { platform::RunLoop::main().performAfter(1.5, [&] { soon = true; }); });
    addButton("Late", {0, 250, 120, 40}, [&] {
        platform::RunLoop::main().performAfter(runner::kTimerSettleLimitSeconds + 1, [&] { late = true; });
    });
    addButton("Check", {0, 300, 120, 40}, [&] {
        platform::RunLoop::main().performAfter(
            0.1, [&check] { check(); }, &target, "check");
    });

    double start = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "tap Soon").ok);
    EXPECT_TRUE(soon) << "a delayed call the command set has run";
    EXPECT_NEAR(now() - start, 1.5, 1e-6) << "and the clock went no further";

    start = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "tap Late").ok);
    EXPECT_FALSE(late) << "one past the limit is not waited for";
    EXPECT_NEAR(now() - start, 0.0, 1e-6);

    // A timer set before the command is not the command's.
    platform::RunLoop::main().performAfter(1.0, [&] { before = true; });
    start = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "screen").ok);
    EXPECT_FALSE(before);
    EXPECT_NEAR(now() - start, 0.0, 1e-6);

    // A chain that re-arms itself counts once: the command waits for its first link only.
    start = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "tap Check").ok);
    EXPECT_EQ(checks, 1);
    EXPECT_LT(now() - start, 0.2);
    start = now();
    EXPECT_TRUE(runner::runCommand(interpreter_, "screen").ok);
    EXPECT_NEAR(now() - start, 0.0, 1e-6) << "the chain's later links hold no command";
    platform::RunLoop::main().cancelPerforms(&target);
}

TEST_F(CommandSettle, TapWaitsAMomentForItsLabelThenGivesUp) {
    // A button that shows up 2 s after a tap, as a page's Done button does.
    addButton("Ad", {0, 200, 120, 40}, [&] {
        platform::RunLoop::main().performAfter(2.0, [&] { addButton("Done", {150, 200, 120, 40}, [] {}); });
    });
    EXPECT_TRUE(runner::runCommand(interpreter_, "tap Ad").ok);
    auto done = runner::runCommand(interpreter_, "tap Done");
    EXPECT_TRUE(done.ok) << done.output;

    double before = now();
    auto missing = runner::runCommand(interpreter_, "tap Nowhere");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.output, "error: nothing labelled \"Nowhere\" on screen\n");
    EXPECT_GE(now() - before, 5.0);
    EXPECT_LT(now() - before, 6.0);
}

} // namespace
