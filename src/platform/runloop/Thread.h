#pragma once
// A worker thread with its own run loop. start() returns once the thread runs; work reaches
// it through runLoop().perform() or a RunLoopSource attached to its loop, and it hands results
// back with performOnMain() or the asker's own loop. The owner holds the Thread; stop() (or
// destruction) asks the loop to stop after the work in progress and joins the thread; tasks
// and sources still on the loop then are dropped. stop() is safe from any thread but the
// worker itself, and more than once.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/runloop/RunLoop.h"

namespace platform {

class Thread {
public:
    // `onStart` runs first, on the new thread, inside its run loop.
    static std::unique_ptr<Thread> start(std::string name, std::function<void()> onStart = {});
    // A thread whose body is `main` instead of the plain run loop: `main` drives the loop
    // itself (RunLoop::runInMode) and must return once the loop answers RunResult::Stopped.
    static std::unique_ptr<Thread> startWithMain(std::string name, std::function<void(RunLoop&)> main);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    const std::string& name() const { return name_; }
    RunLoop& runLoop() { return *loop_; }
    void stop();

private:
    explicit Thread(std::string name) : name_(std::move(name)) {}
    // What the worker and stop() share: the worker marks its end under the lock before its
    // loop goes away, so stop() never reaches a loop that no longer exists.
    struct Shared {
        std::mutex mutex;
        bool finished = false;
    };
    std::string name_;
    RunLoop* loop_ = nullptr;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::thread thread_;
};

} // namespace platform
