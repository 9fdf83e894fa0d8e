#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "support/ManualClockScope.h"

using namespace platform;

TEST(RunLoop, TimersFireInDueOrderOnTheManualClock) {
    fwtest::ManualClockScope time;
    std::vector<std::string> order;
    auto& loop = RunLoop::main();
    loop.performAfter(3.0, [&] { order.push_back("c@3"); });
    loop.performAfter(1.0, [&] { order.push_back("a@1"); });
    loop.performAfter(1.0, [&] { order.push_back("b@1"); }); // same time: scheduling order
    auto repeating = Timer::scheduled(2.0, true, [&](Timer&) { order.push_back("r"); });

    time.advance(0.999);
    EXPECT_TRUE(order.empty());
    time.advance(0.001);
    EXPECT_EQ(order, (std::vector<std::string>{"a@1", "b@1"}));
    time.advance(4.0); // t = 5: r@2, c@3, r@4
    EXPECT_EQ(order, (std::vector<std::string>{"a@1", "b@1", "r", "c@3", "r"}));
    repeating->invalidate();
    time.advance(10.0);
    EXPECT_EQ(order.size(), 5u);
    EXPECT_EQ(loop.pendingTimerCount(), 0u);
}

TEST(RunLoop, CancelByTargetAndName) {
    fwtest::ManualClockScope time;
    int a = 0, b = 0;
    int targetA, targetB;
    auto& loop = RunLoop::main();
    loop.performAfter(1, [&] { ++a; }, &targetA, "refresh");
    loop.performAfter(1, [&] { ++a; }, &targetA, "other");
    loop.performAfter(1, [&] { ++b; }, &targetB, "refresh");
    loop.cancelPerforms(&targetA, "refresh");
    time.advance(2);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);

    loop.performAfter(1, [&] { ++a; }, &targetA, "x");
    loop.performAfter(1, [&] { ++a; }, &targetA, "y");
    loop.cancelPerforms(&targetA);
    time.advance(2);
    EXPECT_EQ(a, 1);
}

// What those who wait for an action's timers read of each scheduled one-shot timer: when it
// was scheduled, and whether it is the next link of a chain that re-arms itself.
struct ScheduledOneShot {
    std::uint64_t serial;
    bool rearms;
};
std::vector<ScheduledOneShot> scheduledOneShots(const RunLoop& loop) {
    std::vector<ScheduledOneShot> out;
    loop.nextFireTime([&out](const Timer& timer) {
        if (!timer.repeats())
            out.push_back({timer.scheduleSerial(), timer.rearmsItself()});
        return false;
    });
    return out;
}

TEST(RunLoop, ATimerThatSchedulesOneOfItsOwnKindFromItsFiringReArmsItself) {
    fwtest::ManualClockScope time;
    auto& loop = RunLoop::main();
    int target = 0;
    // A check that looks again every second, started by a first call from outside any timer.
    std::function<void()> check;
    check = [&] {
        loop.performAfter(
            1.0, [&check] { check(); }, &target, "check");
    };
    const std::uint64_t before = Timer::lastScheduleSerial();
    check();
    auto first = scheduledOneShots(loop);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_GT(first[0].serial, before);
    EXPECT_EQ(first[0].serial, Timer::lastScheduleSerial());
    EXPECT_FALSE(first[0].rearms) << "the first link is new work";
    time.advance(1.0);
    auto second = scheduledOneShots(loop);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_GT(second[0].serial, first[0].serial);
    EXPECT_TRUE(second[0].rearms);
    time.advance(1.0);
    ASSERT_EQ(scheduledOneShots(loop).size(), 1u);
    EXPECT_TRUE(scheduledOneShots(loop)[0].rearms) << "and so is every later one";
    loop.cancelPerforms(&target);

    // A timer's firing that schedules another kind (another name, another callback) sets off
    // new work; so does a repeating timer, whatever it schedules.
    auto next = [&](const char* name) {
        loop.performAfter(
            1.0, [] {}, &target, name);
    };
    loop.performAfter(
        1.0, [&] { next("other"); }, &target, "first");
    time.advance(1.0);
    ASSERT_EQ(scheduledOneShots(loop).size(), 1u);
    EXPECT_FALSE(scheduledOneShots(loop)[0].rearms);
    loop.cancelPerforms(&target);
    std::function<void(Timer&)> tick;
    tick = [&](Timer&) {
        auto timer = Timer::create(0.5, false, tick);
        loop.add(timer);
    };
    auto repeating = Timer::scheduled(1.0, true, tick);
    time.advance(1.0);
    auto fromRepeating = scheduledOneShots(loop);
    ASSERT_EQ(fromRepeating.size(), 1u);
    EXPECT_FALSE(fromRepeating[0].rearms);
    repeating->invalidate();
}

TEST(RunLoop, NextTurnPerformsRunAfterTheCurrentTurn) {
    fwtest::ManualClockScope time;
    std::vector<int> order;
    auto& loop = RunLoop::main();
    loop.perform([&] {
        order.push_back(1);
        loop.perform([&] { order.push_back(3); });
        order.push_back(2);
    });
    EXPECT_TRUE(order.empty()); // nothing runs inline
    loop.runOnce(0);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    loop.runOnce(0);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoop, TimerInvalidatedByAnEarlierCallbackOfTheSameTurnDoesNotFire) {
    fwtest::ManualClockScope time;
    int fired = 0;
    std::shared_ptr<Timer> second;
    auto first = Timer::scheduled(1, false, [&](Timer&) { second->invalidate(); });
    second = Timer::scheduled(1, false, [&](Timer&) { ++fired; });
    time.advance(1);
    EXPECT_EQ(fired, 0);
}

TEST(RunLoop, WorkPostedFromAnotherThreadRunsOnTheLoopThread) {
    fwtest::ManualClockScope time;
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    std::thread poster([&] {
        performOnMain([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    EXPECT_TRUE(time.runUntil([&] { return ran.load(); }, 10));
    poster.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(RunLoop, PerformOnMainAndWaitRunsInlineOnTheMainThread) {
    fwtest::ManualClockScope time;
    bool ran = false;
    performOnMain([&] { ran = true; }, /*waitUntilDone=*/true);
    EXPECT_TRUE(ran);
}

TEST(RunLoop, WorkerThreadHasItsOwnLoopAndHandsResultsBack) {
    fwtest::ManualClockScope time;
    std::atomic<int> result{0};
    auto worker = Thread::start("worker");
    std::thread::id workerId;
    worker->runLoop().perform([&] {
        workerId = std::this_thread::get_id();
        EXPECT_FALSE(RunLoop::isMainThread());
        performOnMain([&] { result = 42; });
    });
    EXPECT_TRUE(time.runUntil([&] { return result.load() == 42; }, 10));
    EXPECT_NE(workerId, std::this_thread::get_id());
    // Waiting on another thread's loop blocks until it ran there.
    int value = 0;
    worker->runLoop().performAndWait([&] { value = 7; });
    EXPECT_EQ(value, 7);
    worker->stop();
}

TEST(RunLoop, ExceptionInACallbackIsLoggedAndDoesNotEscape) {
    fwtest::ManualClockScope time;
    LogCapture log;
    bool after = false;
    RunLoop::main().perform([] { throw std::runtime_error("boom"); });
    RunLoop::main().perform([&] { after = true; });
    time.drain();
    EXPECT_TRUE(after);
    EXPECT_TRUE(log.contains("boom"));
}

TEST(RunLoop, RunUntilGivesUpAfterItsRealTimeLimit) {
    fwtest::ManualClockScope time;
    EXPECT_FALSE(time.runUntil([] { return false; }, 0.05));
}

TEST(Clock, AReplacedClockStaysReadableByThreadsThatHoldIt) {
    // A worker that outlives a test holds the clock it was handed while the test installs
    // another and drops its own share of the first: the first must stay readable.
    Clock* held = nullptr;
    {
        auto manual = std::make_shared<ManualClock>();
        manual->advance(5.0);
        Clock::setCurrent(manual);
        held = &Clock::current();
    }
    std::atomic<double> seen = 0.0;
    std::thread reader([&] { seen = held->monotonic(); });
    Clock::setCurrent(nullptr);
    reader.join();
    EXPECT_EQ(seen.load(), 1005.0);
    EXPECT_EQ(held->monotonic(), 1005.0) << "read after the clock was replaced";
    EXPECT_FALSE(Clock::current().isManual());
}
