#pragma once
// The time source of the process. Two readings: a monotonic one for intervals and time-outs,
// and wall-clock time for dates. The system clock reads the real clocks; tests install a
// ManualClock and move time forward themselves, so a 15-second time-out takes no real time.
// Every RunLoop schedules its timers on Clock::current().
#include <memory>
#include <mutex>

#include "platform/foundation/Value.h"

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic scale with an arbitrary origin; never goes backwards.
    virtual double monotonic() const = 0;
    // Wall-clock time, seconds since 1970.
    virtual double now() const = 0;
    Date date() const { return Date{now()}; }

    virtual bool isManual() const { return false; }

    // The installed clock. The reference stays valid for the life of the process, even after
    // another clock is installed, so a thread may keep reading it without a lock.
    static Clock& current();
    // Installs a clock for the whole process; nullptr restores the system clock.
    static void setCurrent(std::shared_ptr<Clock> clock);
};

class SystemClock final : public Clock {
public:
    double monotonic() const override;
    double now() const override;
};

// A clock that moves only when told to. Thread-safe.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double wallStart = 1'700'000'000.0) : wallOffset_(wallStart) {}
    double monotonic() const override;
    double now() const override;
    bool isManual() const override { return true; }

    // Moves both readings forward. Prefer RunLoop::advance, which also fires the timers
    // that fall due on the way.
    void advance(double seconds);
    // Sets the wall-clock reading without moving the monotonic one.
    void setNow(double secondsSince1970);

private:
    mutable std::mutex mutex_;
    double monotonic_ = 1000.0;
    double wallOffset_;
};

} // namespace platform
