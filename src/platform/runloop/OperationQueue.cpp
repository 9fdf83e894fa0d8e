#include "platform/runloop/OperationQueue.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"

namespace platform {
namespace {

// One lock and one condition for the state of every operation and queue: readiness depends
// on operations of other queues, and a single lock keeps that simple and free of lock-order
// problems. Work itself (main(), completion blocks) always runs outside the lock.
std::mutex gMutex;
std::condition_variable gChanged;
OperationQueue* gMainQueue = nullptr;

thread_local OperationQueue* tlsCurrentQueue = nullptr;

// How long the main thread runs its loop per turn while it waits for the main queue.
constexpr double kMainWaitTurnSeconds = 0.01;

} // namespace

// ---- Operation ----

Operation::~Operation() = default;

void Operation::start() {
    {
        std::lock_guard lock(gMutex);
        if (enqueued_ || executing_ || finished_)
            return;
        executing_ = true;
    }
    run();
}

void Operation::cancel() {
    {
        std::lock_guard lock(gMutex);
        if (finished_ || cancelled_)
            return;
        cancelled_ = true;
        if (gMainQueue)
            gMainQueue->dispatchLocked();
    }
    gChanged.notify_all();
}

bool Operation::isCancelled() const {
    std::lock_guard lock(gMutex);
    return cancelled_;
}
bool Operation::isExecuting() const {
    std::lock_guard lock(gMutex);
    return executing_;
}
bool Operation::isFinished() const {
    std::lock_guard lock(gMutex);
    return finished_;
}
bool Operation::isReady() const {
    std::lock_guard lock(gMutex);
    return readyLocked();
}

bool Operation::readyLocked() const {
    if (executing_ || finished_)
        return false;
    if (cancelled_)
        return true;
    return std::all_of(dependencies_.begin(), dependencies_.end(), [](const auto& d) { return d->finished_; });
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation || operation.get() == this)
        return;
    std::lock_guard lock(gMutex);
    if (executing_ || finished_)
        return;
    if (std::find(dependencies_.begin(), dependencies_.end(), operation) == dependencies_.end())
        dependencies_.push_back(operation);
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
    {
        std::lock_guard lock(gMutex);
        std::erase(dependencies_, operation);
        if (gMainQueue)
            gMainQueue->dispatchLocked();
    }
    gChanged.notify_all();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(gMutex);
    return dependencies_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(gMutex);
    completionBlock_ = std::move(block);
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(gMutex);
    gChanged.wait(lock, [this] { return finished_; });
}

void Operation::run() {
    bool cancelled;
    {
        std::lock_guard lock(gMutex);
        cancelled = cancelled_;
    }
    if (!cancelled)
        callGuarded("Operation", [this] { main(); });
    std::function<void()> completion;
    {
        std::lock_guard lock(gMutex);
        executing_ = false;
        finished_ = true;
        completion = std::move(completionBlock_);
        completionBlock_ = nullptr;
        dependencies_.clear(); // nothing waits on them any more
        if (gMainQueue)
            gMainQueue->dispatchLocked();
    }
    gChanged.notify_all();
    if (completion)
        callGuarded("Operation completion", completion);
}

// ---- BlockOperation ----

std::shared_ptr<BlockOperation> BlockOperation::create(std::function<void()> block) {
    return std::shared_ptr<BlockOperation>(new BlockOperation(std::move(block)));
}

void BlockOperation::main() {
    if (block_)
        block_();
}

// ---- OperationQueue ----

OperationQueue::OperationQueue() = default;

OperationQueue::OperationQueue(MainTag) : isMain_(true), name_("main"), maxConcurrent_(1) {}

OperationQueue::~OperationQueue() {
    waitUntilAllOperationsAreFinished();
    {
        std::lock_guard lock(gMutex);
        stopping_ = true;
    }
    gChanged.notify_all();
    for (auto& worker : workers_)
        worker.join();
}

OperationQueue& OperationQueue::mainQueue() {
    static OperationQueue* queue = [] {
        auto* q = new OperationQueue(MainTag{});
        std::lock_guard lock(gMutex);
        gMainQueue = q;
        return q;
    }();
    return *queue;
}

OperationQueue* OperationQueue::currentQueue() { return tlsCurrentQueue; }

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
    if (!operation)
        return;
    {
        std::lock_guard lock(gMutex);
        if (operation->enqueued_ || operation->executing_ || operation->finished_) {
            logLine("OperationQueue: refused an operation that is already queued, running or finished");
            return;
        }
        operation->enqueued_ = true;
        operations_.push_back(operation);
        dispatchLocked();
    }
    gChanged.notify_all();
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
    addOperation(BlockOperation::create(std::move(block)));
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished) {
    for (const auto& operation : operations)
        addOperation(operation);
    if (waitUntilFinished)
        for (const auto& operation : operations)
            if (operation)
                operation->waitUntilFinished();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    std::lock_guard lock(gMutex);
    return operations_;
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(gMutex);
    return operations_.size();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(gMutex);
    return maxConcurrent_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    if (isMain_)
        return; // the main queue runs one operation at a time
    {
        std::lock_guard lock(gMutex);
        maxConcurrent_ = count > 0 ? count : kDefaultMaxConcurrentOperationCount;
        dispatchLocked();
    }
    gChanged.notify_all();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(gMutex);
    return suspended_;
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(gMutex);
        suspended_ = suspended;
        dispatchLocked();
    }
    gChanged.notify_all();
}

void OperationQueue::cancelAllOperations() {
    // cancel() may be overridden and may take its own locks: call it outside ours.
    for (const auto& operation : operations())
        operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (isMain_ && RunLoop::isMainThread()) {
        // The main queue's operations run on this very thread: keep its loop turning.
        while (operationCount() > 0)
            RunLoop::main().runOnce(kMainWaitTurnSeconds);
        return;
    }
    std::unique_lock lock(gMutex);
    gChanged.wait(lock, [this] { return operations_.empty(); });
}

int OperationQueue::concurrencyLocked() const {
    return maxConcurrent_ > 0 ? maxConcurrent_ : kDefaultWorkerLimit;
}

// Starts what can start now. Worker queues: make sure enough workers exist (they pick the
// operations themselves). The main queue: post its next ready operation to the main loop.
void OperationQueue::dispatchLocked() {
    if (suspended_ || stopping_)
        return;
    if (!isMain_) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::size_t>(static_cast<std::size_t>(concurrencyLocked()), operations_.size()));
        while (workers_.size() < wanted)
            workers_.emplace_back([this] { workerLoop(); });
        return;
    }
    if (running_ > 0)
        return;
    for (const auto& operation : operations_) {
        if (operation->readyLocked()) {
            operation->executing_ = true;
            ++running_;
            RunLoop::main().perform([operation] { OperationQueue::mainQueue().runOnMain(operation); });
            return;
        }
    }
}

void OperationQueue::runOnMain(const std::shared_ptr<Operation>& operation) {
    tlsCurrentQueue = this;
    operation->run();
    tlsCurrentQueue = nullptr;
    {
        std::lock_guard lock(gMutex);
        --running_;
        std::erase(operations_, operation);
        dispatchLocked();
    }
    gChanged.notify_all();
}

void OperationQueue::workerLoop() {
    tlsCurrentQueue = this;
    std::unique_lock lock(gMutex);
    for (;;) {
        std::shared_ptr<Operation> next;
        gChanged.wait(lock, [&] {
            if (stopping_)
                return true;
            if (suspended_ || running_ >= concurrencyLocked())
                return false;
            for (const auto& operation : operations_)
                if (operation->readyLocked()) {
                    next = operation;
                    return true;
                }
            return false;
        });
        if (stopping_)
            return;
        next->executing_ = true;
        ++running_;
        lock.unlock();
        next->run();
        lock.lock();
        --running_;
        std::erase(operations_, next);
        lock.unlock();
        gChanged.notify_all();
        next.reset(); // the operation may go away here, outside the lock
        lock.lock();
    }
}

} // namespace platform
