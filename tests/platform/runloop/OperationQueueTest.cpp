#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/RunLoop.h"
#include "support/ManualClockScope.h"

using namespace platform;

namespace {

// A gate operations wait at until the test opens it; the test can wait until a number of
// operations are inside. No sleeps: everything is a condition.
class Gate {
public:
    void enter() {
        std::unique_lock lock(mutex_);
        ++inside_;
        maxInside_ = std::max(maxInside_, inside_);
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_ > 0; });
        --open_;
        --inside_;
    }
    void waitForInside(int n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return inside_ >= n; });
    }
    void release(int n) {
        std::lock_guard lock(mutex_);
        open_ += n;
        changed_.notify_all();
    }
    int maxInside() {
        std::lock_guard lock(mutex_);
        return maxInside_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int inside_ = 0, maxInside_ = 0, open_ = 0;
};

// Records the order things happen in, from any thread.
class Log {
public:
    void add(std::string s) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(s));
    }
    std::vector<std::string> entries() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> entries_;
};

// Like a report operation that keeps its work when cancelled: its own cancel() takes the
// payload (without marking the operation cancelled), and main() sends only what is left.
class KeepOnCancel : public Operation {
public:
    KeepOnCancel(std::string payload, Log& sent, Log& kept) : payload_(std::move(payload)), sent_(sent), kept_(kept) {}
    void main() override {
        if (auto p = take())
            sent_.add(*p);
    }
    void cancel() override {
        if (auto p = take())
            kept_.add(*p);
    }

private:
    std::optional<std::string> take() {
        std::lock_guard lock(mutex_);
        auto p = std::move(payload_);
        payload_.reset();
        return p;
    }
    std::mutex mutex_;
    std::optional<std::string> payload_;
    Log& sent_;
    Log& kept_;
};

} // namespace

TEST(OperationQueue, RunsAtMostTheMaximumAtOnceAndEverythingEnds) {
    for (int limit : {1, 2, 3}) {
        Gate gate;
        std::atomic<int> done{0};
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(limit);
        EXPECT_EQ(queue.maxConcurrentOperationCount(), limit);
        for (int i = 0; i < 7; ++i)
            queue.addOperationWithBlock([&] {
                gate.enter();
                ++done;
            });
        gate.waitForInside(limit);
        EXPECT_EQ(queue.operationCount(), 7u);
        gate.release(7);
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_EQ(done, 7);
        EXPECT_EQ(gate.maxInside(), limit) << "limit " << limit;
        EXPECT_EQ(queue.operationCount(), 0u);
    }
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(0);
    EXPECT_EQ(queue.maxConcurrentOperationCount(), OperationQueue::kDefaultMaxConcurrentOperationCount);
}

TEST(OperationQueue, DependenciesAcrossQueuesAndOrderOfASerialQueue) {
    Log log;
    Gate gate;
    OperationQueue serial;
    serial.setMaxConcurrentOperationCount(1);
    OperationQueue other;

    auto first = BlockOperation::create([&] {
        gate.enter();
        log.add("first");
    });
    auto second = BlockOperation::create([&] { log.add("second"); });
    auto last = BlockOperation::create([&] { log.add("last"); });
    auto later = BlockOperation::create([&] { log.add("later"); });
    last->addDependency(first);
    last->addDependency(second);
    last->addDependency(last); // ignored
    EXPECT_EQ(last->dependencies().size(), 2u);
    EXPECT_FALSE(last->isReady());

    serial.addOperation(last);  // waits for both, on another queue
    serial.addOperation(later); // ready at once: a waiting operation does not hold up the next
    other.addOperation(first);
    other.addOperation(second);
    serial.addOperation(first); // already queued elsewhere: refused
    gate.waitForInside(1);
    later->waitUntilFinished();
    second->waitUntilFinished();
    EXPECT_FALSE(last->isReady());
    EXPECT_FALSE(last->isFinished());
    gate.release(1);
    serial.waitUntilAllOperationsAreFinished();
    other.waitUntilAllOperationsAreFinished();

    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2], "first");
    EXPECT_EQ(entries[3], "last");
    EXPECT_TRUE(last->dependencies().empty()); // released once it finished
}

TEST(OperationQueue, CancelledOperationsFinishWithoutRunningAndWaitReturns) {
    Log sent, kept, completions;
    OperationQueue queue;
    queue.setSuspended(true);
    std::vector<std::shared_ptr<Operation>> plain;
    for (int i = 0; i < 3; ++i) {
        auto op = BlockOperation::create([&] { sent.add("plain"); });
        op->setCompletionBlock([&, i] { completions.add(std::to_string(i)); });
        plain.push_back(op);
        queue.addOperation(op);
    }
    for (const char* payload : {"a", "b"})
        queue.addOperation(std::make_shared<KeepOnCancel>(payload, sent, kept));
    EXPECT_EQ(queue.operationCount(), 5u);

    queue.cancelAllOperations();
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sent.entries().empty());
    EXPECT_EQ(kept.entries(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(completions.entries().size(), 3u);
    for (const auto& op : plain)
        EXPECT_TRUE(op->isCancelled() && op->isFinished() && !op->isExecuting());

    // A running operation is only told; it ends when its work returns.
    Gate gate;
    std::atomic<bool> sawCancel{false};
    std::shared_ptr<Operation> running;
    running = BlockOperation::create([&] {
        gate.enter();
        sawCancel = running->isCancelled();
    });
    queue.addOperation(running);
    gate.waitForInside(1);
    EXPECT_TRUE(running->isExecuting());
    queue.cancelAllOperations();
    gate.release(1);
    running->waitUntilFinished();
    EXPECT_TRUE(sawCancel);
    queue.waitUntilAllOperationsAreFinished();
    running.reset();
}

TEST(OperationQueue, FailuresStillFinishAndAQueueWaitsForItsWorkWhenDestroyed) {
    std::atomic<int> ran{0};
    std::atomic<bool> completed{false};
    {
        OperationQueue queue;
        auto throwing = BlockOperation::create([] { throw std::runtime_error("boom"); });
        throwing->setCompletionBlock([&] { completed = true; });
        queue.addOperation(throwing);
        for (int i = 0; i < 20; ++i)
            queue.addOperationWithBlock([&] { ++ran; });
        queue.addOperation(throwing); // refused: already queued
    }
    EXPECT_EQ(ran, 20);
    EXPECT_TRUE(completed);

    // An operation in no queue runs on the caller's thread, once.
    int direct = 0;
    auto op = BlockOperation::create([&] { ++direct; });
    op->start();
    op->start();
    EXPECT_EQ(direct, 1);
    EXPECT_TRUE(op->isFinished());
}

TEST(OperationQueue, TheMainQueueRunsOnTheMainLoopOneAtATime) {
    fwtest::ManualClockScope clock;
    Log log;
    OperationQueue worker;
    auto& main = OperationQueue::mainQueue();
    EXPECT_EQ(&main, &OperationQueue::mainQueue());

    std::atomic<bool> onMain{true};
    auto background = BlockOperation::create([&] {
        log.add("background");
        EXPECT_EQ(OperationQueue::currentQueue(), &worker);
    });
    auto afterBackground = BlockOperation::create([&] {
        log.add("after background");
        onMain = onMain && RunLoop::isMainThread();
    });
    afterBackground->addDependency(background);
    main.addOperation(afterBackground);
    main.addOperationWithBlock([&] {
        log.add("plain");
        onMain = onMain && RunLoop::isMainThread() && OperationQueue::currentQueue() == &main;
    });
    // Nothing runs inside the call that adds it.
    EXPECT_TRUE(log.entries().empty());
    worker.addOperation(background);
    main.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(onMain);
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 3u);
    // The plain block is ready first; the dependent one runs only after the background one.
    EXPECT_LT(std::find(entries.begin(), entries.end(), "background") - entries.begin(),
              std::find(entries.begin(), entries.end(), "after background") - entries.begin());
    EXPECT_EQ(OperationQueue::currentQueue(), nullptr);
}
