#include "platform/runloop/Thread.h"

#include <pthread.h>

#include <future>

namespace platform {
namespace {

// Names the thread for debuggers and crash logs (at most 15 bytes on Linux).
void nameThread(const std::string& name) { pthread_setname_np(pthread_self(), name.substr(0, 15).c_str()); }

} // namespace

std::unique_ptr<Thread> Thread::start(std::string name, std::function<void()> onStart) {
    return startWithMain(std::move(name), [onStart = std::move(onStart)](RunLoop& loop) {
        if (onStart)
            loop.perform(onStart);
        loop.run();
    });
}

std::unique_ptr<Thread> Thread::startWithMain(std::string name, std::function<void(RunLoop&)> main) {
    std::unique_ptr<Thread> t(new Thread(std::move(name)));
    std::promise<RunLoop*> ready;
    auto loopReady = ready.get_future();
    t->thread_ = std::thread([&ready, main = std::move(main), shared = t->shared_, threadName = t->name_] {
        nameThread(threadName);
        RunLoop& loop = RunLoop::current();
        loop.threadId_ = std::this_thread::get_id();
        ready.set_value(&loop);
        main(loop);
        std::lock_guard lock(shared->mutex);
        loop.reset();
        shared->finished = true;
    });
    t->loop_ = loopReady.get();
    return t;
}

void Thread::stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->finished)
            loop_->stop();
    }
    thread_.join();
}

Thread::~Thread() { stop(); }

} // namespace platform
