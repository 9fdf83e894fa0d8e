#include "tangent/TGTimer.h"

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"

namespace tangent {

TGTimer::~TGTimer() {
    stopTimer();
}

void TGTimer::setInterval(int seconds) {
    interval_ = seconds < 0 ? 0 : seconds;
    if (interval_ == 0)
        stopTimer();
}

void TGTimer::startTimer() {
    if (interval_ <= 0) {
        auto keepAlive = shared_from_this();
        action_(*this);
        return;
    }
    stopTimer();
    std::weak_ptr<TGTimer> weakSelf = weak_from_this();
    timer_ = platform::Timer::scheduled(static_cast<double>(interval_), false, [weakSelf](platform::Timer&) {
        if (auto self = weakSelf.lock())
            platform::callGuarded("Tangent timer", [&] { self->fireTimer(); });
    });
}

void TGTimer::fireTimer() {
    auto keepAlive = shared_from_this();
    action_(*this);
    // The action may have rescheduled the timer; only the wait that fired is over.
    if (timer_ && !timer_->isValid())
        timer_.reset();
}

void TGTimer::stopTimer() {
    if (!timer_)
        return;
    timer_->invalidate();
    timer_.reset();
}

bool TGTimer::isActive() const {
    return timer_ && timer_->isValid();
}

} // namespace tangent
