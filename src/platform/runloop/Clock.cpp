#include "platform/runloop/Clock.h"

#include <atomic>
#include <chrono>
#include <vector>

namespace platform {
namespace {

std::mutex& currentMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Clock>& currentClock() {
    static std::shared_ptr<Clock> c = std::make_shared<SystemClock>();
    return c;
}

} // namespace

Clock& Clock::current() {
    std::lock_guard lock(currentMutex());
    return *currentClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    // Threads that outlive a test (process-wide workers) may still be reading the clock that
    // is being replaced through the reference current() handed out. A replaced clock is
    // therefore kept for the life of the process: a few dozen bytes per installation.
    static std::vector<std::shared_ptr<Clock>> retired;
    std::lock_guard lock(currentMutex());
    retired.push_back(std::move(currentClock()));
    currentClock() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

double SystemClock::monotonic() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double SystemClock::now() const {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double ManualClock::monotonic() const {
    std::lock_guard lock(mutex_);
    return monotonic_;
}

double ManualClock::now() const {
    std::lock_guard lock(mutex_);
    return wallOffset_ + (monotonic_ - 1000.0);
}

void ManualClock::advance(double seconds) {
    if (seconds <= 0)
        return;
    std::lock_guard lock(mutex_);
    monotonic_ += seconds;
}

void ManualClock::setNow(double secondsSince1970) {
    std::lock_guard lock(mutex_);
    wallOffset_ = secondsSince1970 - (monotonic_ - 1000.0);
}

} // namespace platform
