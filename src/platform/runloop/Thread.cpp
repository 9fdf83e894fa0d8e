#include "platform/runloop/Thread.h"

#include <future>

namespace platform {

std::unique_ptr<Thread> Thread::start(std::string name, std::function<void()> onStart) {
    std::unique_ptr<Thread> t(new Thread(std::move(name)));
    std::promise<RunLoop*> ready;
    auto loopReady = ready.get_future();
    t->thread_ = std::thread([&ready, onStart = std::move(onStart)] {
        RunLoop& loop = RunLoop::current();
        loop.threadId_ = std::this_thread::get_id();
        if (onStart)
            loop.perform(onStart);
        ready.set_value(&loop);
        loop.run();
        loop.reset();
    });
    t->loop_ = loopReady.get();
    return t;
}

void Thread::stop() {
    if (!thread_.joinable())
        return;
    loop_->stop();
    thread_.join();
}

Thread::~Thread() { stop(); }

} // namespace platform
