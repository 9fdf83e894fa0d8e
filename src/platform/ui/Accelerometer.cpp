#include "platform/ui/Accelerometer.h"

#include <cmath>

#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"

namespace platform {

Accelerometer& Accelerometer::sharedAccelerometer() {
    static auto* shared = new Accelerometer();
    return *shared;
}

void Accelerometer::resetForTesting() {
    auto& a = sharedAccelerometer();
    a.clearPending();
    a.delegate_.reset();
    a.updateInterval_ = 0;
}

void Accelerometer::setUpdateInterval(double seconds) {
    updateInterval_ = seconds;
}

double Accelerometer::effectiveInterval() const {
    if (!std::isfinite(updateInterval_) || updateInterval_ < kMinimumUpdateInterval)
        return kMinimumUpdateInterval;
    return updateInterval_;
}

void Accelerometer::setDelegate(std::weak_ptr<AccelerometerDelegate> delegate) {
    const bool same = !delegate.owner_before(delegate_) && !delegate_.owner_before(delegate);
    delegate_ = std::move(delegate);
    if (same && !delegate_.expired())
        return;
    // A new listener starts with a fresh sensor: readings meant for the previous one go.
    clearPending();
}

void Accelerometer::injectAcceleration(double x, double y, double z) {
    if (!hasDelegate())
        return;
    if (pending_.size() >= kMaximumPendingReadings)
        pending_.pop_front();
    pending_.push_back(Acceleration{x, y, z, 0});
    schedule();
}

void Accelerometer::schedule() {
    if (timer_ && timer_->isValid())
        return;
    if (pending_.empty())
        return;
    timer_ = Timer::create(effectiveInterval(), false, [this](Timer&) { deliverNext(); });
    RunLoop::main().add(timer_);
}

void Accelerometer::deliverNext() {
    timer_.reset();
    auto target = delegate_.lock();
    if (!target) {
        pending_.clear();
        return;
    }
    if (pending_.empty())
        return;
    Acceleration reading = pending_.front();
    pending_.pop_front();
    reading.timestamp = Clock::current().monotonic();
    callGuarded("Accelerometer delegate", [&] { target->accelerometerDidAccelerate(*this, reading); });
    // Scheduled after the call, so an interval or delegate changed by it holds for the rest.
    schedule();
}

void Accelerometer::clearPending() {
    pending_.clear();
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
}

} // namespace platform
