#pragma once
// A worker thread with its own run loop. start() returns once the thread runs; work reaches
// it through runLoop().perform(), and it hands results back with performOnMain() or the
// asker's own loop. The owner holds the Thread; stop() (or destruction) ends the loop after
// the task in progress and joins the thread; tasks still queued then are dropped.
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/runloop/RunLoop.h"

namespace platform {

class Thread {
public:
    // `onStart` runs first, on the new thread, inside its run loop.
    static std::unique_ptr<Thread> start(std::string name, std::function<void()> onStart = {});
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    const std::string& name() const { return name_; }
    RunLoop& runLoop() { return *loop_; }
    void stop();

private:
    explicit Thread(std::string name) : name_(std::move(name)) {}
    std::string name_;
    RunLoop* loop_ = nullptr;
    std::thread thread_;
};

} // namespace platform
