// Sources that one thread signals to wake another thread's run loop, and worker threads that
// drive their own loop and are stopped and joined.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

using namespace platform;

namespace {

// Long enough that a missed wake-up shows as a failure, never reached when all is well.
constexpr double kWorkerSleepSeconds = 60.0;
constexpr auto kPatience = std::chrono::seconds(20);

// A worker that sleeps in runInMode until signalled, then does its "work": it records each
// wake-up and, the first time, blocks until the test lets it go on.
struct Worker {
    std::shared_ptr<RunLoopSource> source = RunLoopSource::create([this] { ++performs; });
    std::atomic<int> performs{0};
    std::mutex mutex;
    std::vector<RunLoop::RunResult> results;
    std::promise<void> busy, release;
    std::promise<void> secondWake;
    std::unique_ptr<Thread> thread;

    void start() {
        thread = Thread::startWithMain("test worker", [this](RunLoop& loop) {
            loop.addSource(source);
            int wakes = 0;
            for (;;) {
                const auto result = loop.runInMode(kWorkerSleepSeconds, true);
                {
                    std::lock_guard lock(mutex);
                    results.push_back(result);
                }
                if (result == RunLoop::RunResult::Stopped)
                    return;
                ++wakes;
                if (wakes == 1) {
                    busy.set_value();
                    release.get_future().wait();
                } else if (wakes == 2) {
                    secondWake.set_value();
                }
            }
        });
    }
};

} // namespace

TEST(RunLoopSource, SignalArrivingWhileBusyWakesTheNextRunAtOnce) {
    Worker worker;
    worker.start();
    worker.source->signal();
    ASSERT_EQ(worker.busy.get_future().wait_for(kPatience), std::future_status::ready);
    // Signalled twice while the worker is busy: one perform on its next run, without sleeping.
    worker.source->signal();
    worker.source->signal();
    worker.release.set_value();
    ASSERT_EQ(worker.secondWake.get_future().wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(worker.performs.load(), 2);

    worker.thread->stop();
    std::lock_guard lock(worker.mutex);
    EXPECT_EQ(worker.results, (std::vector<RunLoop::RunResult>{RunLoop::RunResult::HandledSource,
                                                               RunLoop::RunResult::HandledSource,
                                                               RunLoop::RunResult::Stopped}));
    // The ended loop let go of the source; a later signal reaches nothing.
    EXPECT_EQ(worker.source->runLoop(), nullptr);
    worker.source->signal();
}

TEST(RunLoopSource, InvalidatedSourceIsNeverPerformed) {
    RunLoop loop;
    int performs = 0;
    auto source = RunLoopSource::create([&] { ++performs; });
    loop.addSource(source);
    EXPECT_EQ(loop.sourceCount(), 1u);
    source->signal();
    source->invalidate();
    EXPECT_EQ(loop.sourceCount(), 0u);
    EXPECT_EQ(loop.runInMode(0.0, true), RunLoop::RunResult::TimedOut);
    EXPECT_EQ(performs, 0);

    // A source signalled before it is attached runs on the loop's first turn.
    auto early = RunLoopSource::create([&] { ++performs; });
    early->signal();
    loop.addSource(early);
    EXPECT_EQ(loop.runInMode(kWorkerSleepSeconds, true), RunLoop::RunResult::HandledSource);
    EXPECT_EQ(performs, 1);
}

TEST(RunLoopSource, StopEndsAWorkerThatSleepsAndJoinsIt) {
    std::atomic<bool> ended{false};
    auto thread = Thread::startWithMain("sleeper", [&](RunLoop& loop) {
        while (loop.runInMode(kWorkerSleepSeconds, true) != RunLoop::RunResult::Stopped) {
        }
        ended = true;
    });
    thread->stop();
    EXPECT_TRUE(ended.load());
    thread->stop(); // a second stop does nothing

    // A worker whose body returned on its own is joined just the same.
    auto quick = Thread::startWithMain("quick", [](RunLoop&) {});
    quick.reset();
}
