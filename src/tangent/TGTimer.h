#pragma once
// TGTimer: a one-shot timer in whole seconds for the Tangent widget's refresh, render and
// auto-dismiss waits. startTimer() with an interval above 0 (re)schedules a platform timer on
// the current run loop; with 0 it performs the action at once, synchronously. When the timer
// fires it performs the action with itself as argument, then stops.
//
// Ownership: the widget owns its timers. The delegate is held weakly (the action is dropped
// once the delegate is gone), and the platform timer holds the TGTimer weakly, so a timer
// that is freed never fires. stopTimer() (or freeing) ends a scheduled wait; no action follows.
#include <functional>
#include <memory>

namespace platform {
class Timer;
}

namespace tangent {

class TGTimer : public std::enable_shared_from_this<TGTimer> {
public:
    using Action = std::function<void(TGTimer&)>;

    // The action is sent to `delegate` while it lives.
    template <typename T>
    static std::shared_ptr<TGTimer> create(std::weak_ptr<T> delegate, void (T::*action)(TGTimer&)) {
        return std::shared_ptr<TGTimer>(new TGTimer([delegate, action](TGTimer& timer) {
            if (auto target = delegate.lock())
                ((*target).*action)(timer);
        }));
    }
    ~TGTimer();
    TGTimer(const TGTimer&) = delete;
    TGTimer& operator=(const TGTimer&) = delete;

    int interval() const { return interval_; }
    // Negative values are stored as 0; storing 0 stops a running timer.
    void setInterval(int seconds);
    void startTimer();
    void stopTimer();
    bool isActive() const;
    // The platform timer's callback: performs the action, then stops.
    void fireTimer();

private:
    explicit TGTimer(Action action) : action_(std::move(action)) {}

    Action action_;
    std::shared_ptr<platform::Timer> timer_;
    int interval_ = 0;
};

} // namespace tangent
