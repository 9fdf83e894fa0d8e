#pragma once
// Installs a manual clock and a clean main run loop for the length of a test, and restores
// the system clock afterwards. Timers then fire only through advance().
#include <memory>

#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"

namespace fwtest {

class ManualClockScope {
public:
    ManualClockScope() : clock_(std::make_shared<platform::ManualClock>()) {
        platform::RunLoop::resetMainForTesting();
        platform::Clock::setCurrent(clock_);
    }
    ~ManualClockScope() {
        platform::RunLoop::resetMainForTesting();
        platform::Clock::setCurrent(nullptr);
    }
    ManualClockScope(const ManualClockScope&) = delete;
    ManualClockScope& operator=(const ManualClockScope&) = delete;

    platform::ManualClock& clock() { return *clock_; }
    // Moves time forward on the main run loop, firing what falls due.
    void advance(double seconds) { platform::RunLoop::main().advance(seconds); }
    // Runs every task that is ready now.
    void drain() { platform::RunLoop::main().drain(); }
    // Waits (in real time, up to `limit` seconds) for work from other threads, such as
    // network replies, until `done` holds.
    template <typename F> bool runUntil(F done, double limit = 10.0) {
        return platform::RunLoop::main().runUntil(done, limit);
    }

private:
    std::shared_ptr<platform::ManualClock> clock_;
};

} // namespace fwtest
