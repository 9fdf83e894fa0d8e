#pragma once
// The device's shared accelerometer. Whoever wants readings sets the update interval and
// makes itself the delegate; clearing the delegate stops the readings. There is no motion
// sensor here: readings are injected by tests and by the runner (`injectAcceleration`), and
// each injected reading reaches the delegate at the update interval on the main run loop's
// clock, one reading per interval, in the order injected. A device at rest produces no
// readings, so nothing runs while nothing is injected.
//
// Ownership: one process-wide instance (`sharedAccelerometer`); the delegate is held weakly.
// Main thread only. Readings still waiting when the delegate is cleared (or goes away) are
// dropped, as a live sensor's would be; a reading injected while there is no delegate is
// dropped at once.
#include <cstddef>
#include <deque>
#include <memory>

#include "platform/runloop/RunLoop.h"

namespace platform {

class Accelerometer;

// One reading, in units of gravity, with the monotonic time it was taken.
struct Acceleration {
    double x = 0;
    double y = 0;
    double z = 0;
    double timestamp = 0;
};

class AccelerometerDelegate {
public:
    virtual ~AccelerometerDelegate() = default;
    virtual void accelerometerDidAccelerate(Accelerometer& accelerometer, const Acceleration& acceleration) = 0;
};

class Accelerometer {
public:
    // The fastest the sensor reports; shorter intervals read as this one.
    static constexpr double kMinimumUpdateInterval = 0.01;
    // Readings waiting beyond this many are dropped (oldest first), so a runaway injector
    // cannot grow the queue without bound.
    static constexpr std::size_t kMaximumPendingReadings = 10000;

    static Accelerometer& sharedAccelerometer();
    // No delegate, the default interval, nothing pending.
    static void resetForTesting();

    // The interval as set (seconds); the platform's default is 0.
    double updateInterval() const { return updateInterval_; }
    void setUpdateInterval(double seconds);

    std::shared_ptr<AccelerometerDelegate> delegate() const { return delegate_.lock(); }
    // The same delegate given again leaves the schedule as it is.
    void setDelegate(std::weak_ptr<AccelerometerDelegate> delegate);
    bool hasDelegate() const { return !delegate_.expired(); }

    // Queues one reading for delivery at the next interval.
    void injectAcceleration(double x, double y, double z);
    std::size_t pendingReadingCount() const { return pending_.size(); }

private:
    Accelerometer() = default;
    double effectiveInterval() const;
    void schedule();
    void deliverNext();
    void clearPending();

    double updateInterval_ = 0;
    std::weak_ptr<AccelerometerDelegate> delegate_;
    std::deque<Acceleration> pending_;
    std::shared_ptr<Timer> timer_;
};

} // namespace platform
