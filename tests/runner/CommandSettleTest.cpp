// Each command of `ferrowick` settles before the next is read: what it started runs out (its
// animations and the timers it set for the next moments included), while an animation that
// repeats for long, a chain of timers that re-arms itself or a timer far off cannot hold it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <deque>
#include <string>

#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/WaitingMessages.h"
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

// As a banner does when its landing page closes: 3 s later it is shown again, fading out
// while its page queues messages that a poll every half second carries on one at a time; the
// last fades it back in. The command that closed the page ends with the banner back, and the
// next command finds nothing left to move the clock for.
TEST_F(CommandSettle, WhatACommandsTimersSetOffRunsOutBeforeTheNextCommand) {
    auto banner = std::make_shared<platform::View>(platform::Rect(0, 400, 320, 50));
    window_->addSubview(banner);
    std::deque<std::function<void()>> pageQueue;
    auto poll = platform::Timer::scheduled(0.5, true, [&](platform::Timer&) {
        if (pageQueue.empty())
            return;
        auto message = std::move(pageQueue.front());
        pageQueue.pop_front();
        message();
    });
    auto holds = platform::WaitingMessages::add([&] { return !pageQueue.empty(); });
    int carried = 0;
    addButton("Close", {0, 200, 120, 40}, [&] {
        platform::RunLoop::main().performAfter(3.0, [&] {
            platform::View::animate(0.5, [&] { banner->setAlpha(0); });
            for (int i = 0; i < 3; ++i)
                pageQueue.push_back([&] { ++carried; });
            pageQueue.push_back([&] {
                ++carried;
                platform::View::animate(0.5, [&] { banner->setAlpha(1); });
            });
        });
    });

    const double start = now();
    auto closed = runner::runCommand(interpreter_, "tap Close");
    EXPECT_TRUE(closed.ok);
    EXPECT_EQ(closed.output, "") << "the command ran out";
    EXPECT_EQ(carried, 4);
    EXPECT_EQ(banner->alpha(), 1.0) << "the banner is back";
    EXPECT_LT(now() - start, runner::kSettleChainLimitSeconds);

    const double before = now();
    EXPECT_EQ(runner::runCommand(interpreter_, "screen").output.find("note:"), std::string::npos);
    EXPECT_NEAR(now() - before, 0.0, 1e-6) << "nothing was left to move the clock for";
    poll->invalidate();
}

// Work that keeps setting itself off (two kinds of delayed call, each setting the other a
// second later) cannot hold a command for good: it stops at the limit and says so.
TEST_F(CommandSettle, ACommandStoppedAtTheLimitSaysSo) {
    int target = 0;
    std::function<void()> tick, tock;
    tick = [&] { platform::RunLoop::main().performAfter(1.0, [&] { tock(); }, &target, "tock"); };
    tock = [&] { platform::RunLoop::main().performAfter(1.0, [&] { tick(); }, &target, "tick"); };
    addButton("Start", {0, 200, 120, 40}, [&] { tick(); });

    const double start = now();
    auto started = runner::runCommand(interpreter_, "tap Start");
    EXPECT_TRUE(started.ok);
    EXPECT_NE(started.output.find("note: stopped settling"), std::string::npos) << started.output;
    EXPECT_NE(started.output.find("the screen may still change"), std::string::npos) << started.output;
    EXPECT_LE(now() - start, runner::kSettleChainLimitSeconds + 1e-6);
    EXPECT_GE(now() - start, runner::kSettleChainLimitSeconds - 1.0 - 1e-6);
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
