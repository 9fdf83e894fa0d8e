#pragma once
// Operations and the queues that run them.
//
// An Operation is one piece of work (override main(), or use BlockOperation). It may depend
// on other operations, on any queue: it becomes ready when every dependency has finished.
// cancel() marks it cancelled (subclasses may override it to do their own clean-up, and
// decide whether to call the base); a cancelled operation that has not started becomes
// ready at once and finishes without running main(); one that is running is only told
// (isCancelled()) and ends when its main() returns. An operation runs once, on one queue.
//
// An OperationQueue runs the operations added to it on worker threads of its own, at most
// maxConcurrentOperationCount at a time (kDefaultMaxConcurrentOperationCount lets the queue
// pick, up to kDefaultWorkerLimit), in the order they were added among those that are ready.
// A suspended queue starts nothing new. cancelAllOperations cancels every operation still in
// the queue; waitUntilAllOperationsAreFinished blocks until the queue is empty.
//
// The main queue (mainQueue()) runs its operations one at a time on the main run loop, each
// on its own turn; waiting for it from the main thread runs the main run loop meanwhile.
//
// Threads and ownership: queues and operations are thread-safe. The queue holds each
// operation strongly until it finishes; the completion block runs on the thread that ran the
// operation, after it is marked finished. Destroying a queue waits for the operations it
// holds to finish (cancel them first to make that quick). An exception thrown by main() or
// by a completion block is caught and logged; the operation still finishes.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
public:
    virtual ~Operation();

    // Runs the operation on the calling thread now: main(), unless it was cancelled, then
    // the completion block. Only for operations in no queue; does nothing a second time.
    void start();
    // The work; runs on a queue's thread.
    virtual void main() {}
    // Marks the operation cancelled (see the file comment).
    virtual void cancel();

    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    // Not yet started, and every dependency finished (or the operation cancelled).
    bool isReady() const;

    // Dependencies are held strongly until this operation finishes. Adding one after this
    // operation started changes nothing; an operation never depends on itself.
    void addDependency(const std::shared_ptr<Operation>& operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    void setCompletionBlock(std::function<void()> block);
    // Blocks until the operation has finished. Never call it from the operation itself.
    void waitUntilFinished();

private:
    friend class OperationQueue;
    struct State;
    bool readyLocked() const;
    void run(); // main() (unless cancelled) and the completion block; marks finished

    bool cancelled_ = false;
    bool executing_ = false;
    bool finished_ = false;
    bool enqueued_ = false;
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::function<void()> completionBlock_;
};

// An operation that runs one function.
class BlockOperation : public Operation {
public:
    static std::shared_ptr<BlockOperation> create(std::function<void()> block);
    void main() override;

private:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    std::function<void()> block_;
};

class OperationQueue {
public:
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;
    // The most worker threads a queue starts when it picks its own concurrency.
    static constexpr int kDefaultWorkerLimit = 8;

    OperationQueue();
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // The queue of the main run loop.
    static OperationQueue& mainQueue();
    // The queue running the calling code, or nullptr outside any queue's operation.
    static OperationQueue* currentQueue();

    // Adds an operation that is in no queue and has not run; anything else is refused (logged).
    void addOperation(const std::shared_ptr<Operation>& operation);
    void addOperationWithBlock(std::function<void()> block);
    void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);

    // Operations added and not yet finished, in the order added.
    std::vector<std::shared_ptr<Operation>> operations() const;
    std::size_t operationCount() const;

    int maxConcurrentOperationCount() const;
    // 0 or less than -1 reads as the default.
    void setMaxConcurrentOperationCount(int count);
    bool isSuspended() const;
    void setSuspended(bool suspended);
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();

private:
    friend class Operation;
    struct MainTag {};
    explicit OperationQueue(MainTag);
    int concurrencyLocked() const;
    void dispatchLocked();
    void workerLoop();
    void runOnMain(const std::shared_ptr<Operation>& operation);

    const bool isMain_ = false;
    std::string name_;
    int maxConcurrent_ = kDefaultMaxConcurrentOperationCount;
    bool suspended_ = false;
    bool stopping_ = false;
    int running_ = 0;
    std::vector<std::shared_ptr<Operation>> operations_;
    std::vector<std::thread> workers_;
};

} // namespace platform
