#include "platform/runloop/RunLoop.h"

#include <chrono>
#include <future>
#include <limits>
#include <vector>

#include "platform/foundation/LaterTurn.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"

namespace platform {
namespace {

// The thread that runs static initialisation is the main thread.
const std::thread::id kMainThreadId = std::this_thread::get_id();

// The foundation's work for later turns (such as the user defaults' writes) runs on the main
// run loop once this loop is part of the program.
[[maybe_unused]] const bool kLaterTurnsInstalled = [] {
    setLaterMainTurnPerformer([](std::function<void()> task) { RunLoop::main().perform(std::move(task)); });
    return true;
}();

// A loop that keeps re-queueing work forever must not hang drain() or advance().
constexpr int kMaxTurnsPerDrain = 1'000'000;

thread_local RunLoop* tlsCurrent = nullptr;
// The timer whose callback runs on this thread now, if any: what it schedules may re-arm it.
thread_local const Timer* tlsFiringTimer = nullptr;

std::atomic<std::uint64_t> g_lastScheduleSerial{0};

// Runs a timer's callback with the timer noted as the one firing on this thread.
void runFiring(const Timer& timer, const std::function<void()>& call) {
    const Timer* previous = tlsFiringTimer;
    tlsFiringTimer = &timer;
    callGuarded("run loop: callback", call);
    tlsFiringTimer = previous;
}

// An exception never crosses a run-loop callback: it is logged and dropped here.
template <typename F> void runGuarded(F&& f) { callGuarded("run loop: callback", f); }

double infinity() { return std::numeric_limits<double>::infinity(); }

} // namespace

// ---- Timer ----

std::shared_ptr<Timer> Timer::create(double interval, bool repeats, Callback callback) {
    return std::shared_ptr<Timer>(new Timer(interval < 0 ? 0 : interval, repeats, std::move(callback)));
}

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Callback callback) {
    auto t = create(interval, repeats, std::move(callback));
    RunLoop::current().add(t);
    return t;
}

void Timer::invalidate() {
    if (!valid_)
        return;
    valid_ = false;
    if (loop_)
        loop_->remove(this);
    // Release what the callback captured, as the platform releases an invalidated timer's target.
    Callback dropped = std::move(callback_);
    callback_ = nullptr;
}

void Timer::fire() {
    if (!valid_)
        return;
    auto self = shared_from_this();
    Callback cb = callback_;
    if (!repeats_)
        invalidate();
    if (cb)
        runFiring(*self, [&] { cb(*self); });
}

std::uint64_t Timer::lastScheduleSerial() {
    return g_lastScheduleSerial.load();
}

bool Timer::isSameKind(const Timer& other) const {
    // A delayed perform is known by its target and name (what cancels it); any other timer
    // by the type of its callback.
    if (target_ || other.target_)
        return target_ == other.target_ && name_ == other.name_;
    return *kind_ == *other.kind_;
}

// ---- RunLoopSource ----

std::shared_ptr<RunLoopSource> RunLoopSource::create(std::function<void()> perform) {
    return std::shared_ptr<RunLoopSource>(new RunLoopSource(std::move(perform)));
}

void RunLoopSource::signal() {
    if (!valid_.load())
        return;
    signalled_.store(true);
    // The loop's lock is taken to notify, after the mark is set: a loop that checked the
    // marks and is about to sleep holds that lock until it sleeps, so it hears this wake-up.
    std::lock_guard lock(mutex_);
    if (loop_)
        loop_->wakeUp();
}

void RunLoopSource::invalidate() {
    valid_.store(false);
    RunLoop* loop = nullptr;
    {
        std::lock_guard lock(mutex_);
        loop = loop_;
        loop_ = nullptr;
    }
    if (loop)
        loop->detachSource(this);
}

RunLoop* RunLoopSource::runLoop() const {
    std::lock_guard lock(mutex_);
    return loop_;
}

// ---- RunLoop ----

RunLoop::RunLoop() : threadId_(std::this_thread::get_id()) {}

RunLoop::~RunLoop() { reset(); }

RunLoop& RunLoop::main() {
    static RunLoop* loop = [] {
        auto* l = new RunLoop();
        l->threadId_ = kMainThreadId;
        return l;
    }();
    return *loop;
}

RunLoop& RunLoop::current() {
    if (std::this_thread::get_id() == kMainThreadId)
        return main();
    if (!tlsCurrent) {
        thread_local RunLoop own;
        tlsCurrent = &own;
    }
    return *tlsCurrent;
}

bool RunLoop::isMainThread() { return std::this_thread::get_id() == kMainThreadId; }

void RunLoop::resetMainForTesting() { main().reset(); }

void RunLoop::reset() {
    std::deque<Task> tasks;
    std::map<TimerKey, std::shared_ptr<Timer>> timers;
    std::vector<std::shared_ptr<RunLoopSource>> sources;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
        timers.swap(timers_);
        sources.swap(sources_);
        stopRequested_ = false;
    }
    for (auto& source : sources) {
        std::lock_guard lock(source->mutex_);
        if (source->loop_ == this)
            source->loop_ = nullptr;
    }
    for (auto& [key, t] : timers) {
        t->loop_ = nullptr;
        t->invalidate();
    }
}

void RunLoop::add(const std::shared_ptr<Timer>& timer) {
    if (!timer || !timer->valid_)
        return;
    if (timer->loop_)
        timer->loop_->remove(timer.get());
    timer->loop_ = this;
    timer->scheduleSerial_ = ++g_lastScheduleSerial;
    const Timer* firing = tlsFiringTimer;
    timer->rearmsItself_ = firing && firing != timer.get() && !firing->repeats_ && firing->isSameKind(*timer);
    timer->originSerial_ =
        firing && firing != timer.get() && !firing->repeats_ ? firing->originSerial_ : timer->scheduleSerial_;
    reschedule(timer, Clock::current().monotonic() + timer->interval_);
}

void RunLoop::reschedule(const std::shared_ptr<Timer>& timer, double fireTime) {
    std::lock_guard lock(mutex_);
    timer->fireTime_ = fireTime;
    timer->sequence_ = nextSequence_++;
    timers_[{fireTime, timer->sequence_}] = timer;
    wake_.notify_all();
}

void RunLoop::remove(Timer* timer) {
    std::shared_ptr<Timer> keep; // released outside the lock
    std::lock_guard lock(mutex_);
    auto it = timers_.find({timer->fireTime_, timer->sequence_});
    if (it != timers_.end() && it->second.get() == timer) {
        keep = std::move(it->second);
        timers_.erase(it);
    }
    timer->loop_ = nullptr;
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source) {
    if (!source || !source->isValid())
        return;
    RunLoop* previous = source->runLoop();
    if (previous == this)
        return;
    if (previous)
        previous->detachSource(source.get());
    {
        std::lock_guard sourceLock(source->mutex_);
        source->loop_ = this;
    }
    std::lock_guard lock(mutex_);
    sources_.push_back(source);
    wake_.notify_all();
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source) {
    if (!source)
        return;
    {
        std::lock_guard sourceLock(source->mutex_);
        if (source->loop_ != this)
            return;
        source->loop_ = nullptr;
    }
    detachSource(source.get());
}

void RunLoop::detachSource(RunLoopSource* source) {
    std::shared_ptr<RunLoopSource> keep; // released outside the lock
    std::lock_guard lock(mutex_);
    for (auto it = sources_.begin(); it != sources_.end(); ++it)
        if (it->get() == source) {
            keep = std::move(*it);
            sources_.erase(it);
            break;
        }
}

std::size_t RunLoop::sourceCount() const {
    std::lock_guard lock(mutex_);
    return sources_.size();
}

void RunLoop::wakeUp() {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

bool RunLoop::performSignalledSources() {
    std::vector<std::shared_ptr<RunLoopSource>> sources;
    {
        std::lock_guard lock(mutex_);
        sources = sources_;
    }
    bool handled = false;
    for (auto& source : sources) {
        if (!source->isValid() || !source->signalled_.exchange(false))
            continue;
        handled = true;
        if (source->perform_)
            runGuarded(source->perform_);
    }
    return handled;
}

void RunLoop::perform(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
}

void RunLoop::performAfter(double delay, Task task, const void* target, std::string name) {
    const std::type_info& kind = task.target_type();
    auto timer = Timer::create(delay, false, [task = std::move(task)](Timer&) { task(); });
    timer->kind_ = &kind;
    timer->target_ = target;
    timer->name_ = std::move(name);
    add(timer);
}

void RunLoop::cancelPerforms(const void* target) {
    std::vector<std::shared_ptr<Timer>> cancelled;
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, t] : timers_)
            if (t->target_ && t->target_ == target)
                cancelled.push_back(t);
    }
    for (auto& t : cancelled)
        t->invalidate();
}

void RunLoop::cancelPerforms(const void* target, std::string_view name) {
    std::vector<std::shared_ptr<Timer>> cancelled;
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, t] : timers_)
            if (t->target_ && t->target_ == target && t->name_ == name)
                cancelled.push_back(t);
    }
    for (auto& t : cancelled)
        t->invalidate();
}

void RunLoop::performAndWait(Task task) {
    if (std::this_thread::get_id() == threadId_) {
        runGuarded(task);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    perform([task = std::move(task), done] {
        runGuarded(task);
        done->set_value();
    });
    finished.wait();
}

double RunLoop::nextFireTime() const {
    std::lock_guard lock(mutex_);
    return timers_.empty() ? infinity() : timers_.begin()->first.first;
}

double RunLoop::nextFireTime(const std::function<bool(const Timer&)>& accept) const {
    std::lock_guard lock(mutex_);
    for (const auto& [key, timer] : timers_)
        if (timer->valid_ && accept(*timer))
            return key.first;
    return infinity();
}

bool RunLoop::fireDueTimers() {
    double now = Clock::current().monotonic();
    std::vector<std::shared_ptr<Timer>> due;
    {
        std::lock_guard lock(mutex_);
        while (!timers_.empty() && timers_.begin()->first.first <= now) {
            due.push_back(std::move(timers_.begin()->second));
            timers_.erase(timers_.begin());
        }
    }
    for (auto& t : due) {
        if (!t->valid_ || t->loop_ != this)
            continue; // invalidated, or moved elsewhere, by an earlier callback of this turn
        if (t->repeats_) {
            // Next firing one interval after this one; a timer that fell behind skips ahead.
            double next = t->fireTime_ + (t->interval_ > 0 ? t->interval_ : 0.0001);
            if (next <= now)
                next = now + (t->interval_ > 0 ? t->interval_ : 0.0001);
            reschedule(t, next);
        } else {
            t->loop_ = nullptr;
        }
        Timer::Callback cb = t->callback_;
        if (!t->repeats_)
            t->invalidate();
        if (cb)
            runFiring(*t, [&] { cb(*t); });
    }
    return !due.empty();
}

RunLoop::TurnResult RunLoop::turn() {
    RunLoop* previous = tlsCurrent;
    tlsCurrent = this;
    std::deque<Task> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(tasks_);
    }
    TurnResult result;
    result.ran = !batch.empty();
    for (auto& task : batch)
        runGuarded(task);
    batch.clear();
    result.ran = fireDueTimers() || result.ran;
    result.handledSource = performSignalledSources();
    result.ran = result.ran || result.handledSource;
    tlsCurrent = previous;
    return result;
}

void RunLoop::waitForWork(double maxWaitSeconds) {
    std::unique_lock lock(mutex_);
    double wait = maxWaitSeconds;
    if (!Clock::current().isManual() && !timers_.empty()) {
        double untilTimer = timers_.begin()->first.first - Clock::current().monotonic();
        if (untilTimer < wait)
            wait = untilTimer < 0 ? 0 : untilTimer;
    }
    bool signalled = false;
    for (const auto& source : sources_)
        signalled = signalled || source->isSignalled();
    if (tasks_.empty() && !signalled && !stopRequested_ && wait > 0)
        wake_.wait_for(lock, std::chrono::duration<double>(wait));
}

bool RunLoop::runOnce(double maxWaitSeconds) {
    const bool ran = turn().ran;
    if (!ran && maxWaitSeconds > 0)
        waitForWork(maxWaitSeconds);
    return ran;
}

RunLoop::RunResult RunLoop::runInMode(double seconds, bool returnAfterSourceHandled) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopRequested_) {
                stopRequested_ = false;
                return RunResult::Stopped;
            }
        }
        const TurnResult result = turn();
        if (result.handledSource && returnAfterSourceHandled)
            return RunResult::HandledSource;
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return RunResult::TimedOut;
        if (!result.ran)
            waitForWork(left);
    }
}

bool RunLoop::runUntil(const std::function<bool()>& done, double realLimitSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(realLimitSeconds);
    while (!done()) {
        auto left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        runOnce(left < 0.05 ? left : 0.05);
    }
    return true;
}

void RunLoop::drain() {
    for (int i = 0; i < kMaxTurnsPerDrain; ++i)
        if (!runOnce(0))
            return;
    logLine("run loop: drain stopped after too many turns; some work keeps re-queueing itself");
}

void RunLoop::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopRequested_) {
                stopRequested_ = false;
                return;
            }
        }
        runOnce(1.0);
    }
}

void RunLoop::stop() {
    // Notified under the lock: a worker's loop may be destroyed as soon as it sees the request.
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    wake_.notify_all();
}

void RunLoop::advance(double seconds) {
    auto* manual = dynamic_cast<ManualClock*>(&Clock::current());
    if (!manual) {
        logLine("run loop: advance() needs the manual clock");
        return;
    }
    double target = manual->monotonic() + (seconds > 0 ? seconds : 0);
    drain();
    for (int i = 0; i < kMaxTurnsPerDrain; ++i) {
        double next = nextFireTime();
        if (next > target)
            break;
        manual->advance(next - manual->monotonic());
        drain();
    }
    manual->advance(target - manual->monotonic());
    drain();
}

std::size_t RunLoop::pendingTimerCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

std::size_t RunLoop::queuedTaskCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

void performOnMain(RunLoop::Task task, bool waitUntilDone) {
    if (waitUntilDone)
        RunLoop::main().performAndWait(std::move(task));
    else
        RunLoop::main().perform(std::move(task));
}

} // namespace platform
