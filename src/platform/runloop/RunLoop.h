#pragma once
// One run loop per thread: it runs timers, delayed performs, next-turn performs and work
// posted from other threads, all on its own thread. The main run loop belongs to the
// process's main thread (the thread that ran static initialisation) and carries almost
// everything: connection callbacks, timers, animations.
//
// Time comes from Clock::current(). On the system clock the loop sleeps until the next timer;
// on a ManualClock timers fire only when a test calls advance(), which moves the clock forward
// timer by timer, so timed behaviour is tested without waiting.
//
// Ownership: a scheduled Timer and a delayed perform hold their callback (and what it
// captures) strongly until they fire or are cancelled, as the platform does.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <typeinfo>
#include <utility>
#include <vector>

namespace platform {

class RunLoop;

// A one-shot or repeating timer. Created unscheduled; RunLoop::add (or Timer::scheduled)
// puts it on a loop, which holds it until it fires (one-shot) or is invalidated. Fires on
// the loop's thread; after invalidate() it never fires again.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;

    static std::shared_ptr<Timer> create(double interval, bool repeats, Callback callback);
    // Creates a timer and schedules it on the current thread's run loop.
    static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Callback callback);

    void invalidate();
    bool isValid() const { return valid_; }
    double interval() const { return interval_; }
    bool repeats() const { return repeats_; }
    // Monotonic time of the next firing.
    double fireTime() const { return fireTime_; }
    // Fires now, outside the schedule; a one-shot timer is then invalid.
    void fire();

    // The order in which timers were put on a run loop, process-wide: a timer scheduled later
    // has a larger serial (0: never scheduled). Code that waits for what an action set off
    // (the runner's settle) tells that action's timers by it.
    std::uint64_t scheduleSerial() const { return scheduleSerial_; }
    // The serial of the newest timer scheduled so far, on any loop.
    static std::uint64_t lastScheduleSerial();
    // Whether the timer was scheduled by a one-shot timer of its own kind from inside that
    // timer's firing: the next link of a chain that re-arms itself, such as a check that looks
    // again every second until something is done. Delayed performs with a target are of one
    // kind when target and name match; other timers when their callbacks have one type.
    bool rearmsItself() const { return rearmsItself_; }
    // The serial of the timer that began the chain this one belongs to: a timer scheduled from
    // inside a one-shot timer's firing takes that timer's origin, any other (scheduled outside
    // a firing, or by a repeating timer, which starts chains of its own) its own serial. Code
    // that waits for what an action set off follows the timers that descend from its own.
    std::uint64_t originSerial() const { return originSerial_; }

private:
    friend class RunLoop;
    Timer(double interval, bool repeats, Callback callback)
        : interval_(interval), repeats_(repeats), callback_(std::move(callback)),
          kind_(&callback_.target_type()) {}
    bool isSameKind(const Timer& other) const;

    double interval_;
    bool repeats_;
    Callback callback_;
    bool valid_ = true;
    double fireTime_ = 0;
    std::uint64_t sequence_ = 0;
    RunLoop* loop_ = nullptr;
    // Identity and name of a delayed perform, for cancelling by target and name.
    const void* target_ = nullptr;
    std::string name_;
    // The type of the callback (of the task, for a delayed perform): what makes two timers
    // without a target the same kind.
    const std::type_info* kind_;
    std::uint64_t scheduleSerial_ = 0;
    std::uint64_t originSerial_ = 0;
    bool rearmsItself_ = false;
};

// A source of work that any thread can signal to have `perform` run on the thread of the run
// loop it is attached to. A signal marks the source and wakes that loop: a loop asleep runs
// the source at once; a loop busy with other work runs it on its very next turn, so no signal
// is lost between two turns. Several signals before the loop gets to the source run it once.
//
// Ownership: the creator holds the source; the loop it is attached to holds it too, until
// RunLoop::removeSource, invalidate() or the loop's end. signal() and invalidate() are safe
// from any thread; `perform` runs on the loop's thread only, and never after invalidate().
class RunLoopSource : public std::enable_shared_from_this<RunLoopSource> {
public:
    static std::shared_ptr<RunLoopSource> create(std::function<void()> perform = {});

    void signal();
    // Detaches the source from its loop; it is never performed again.
    void invalidate();
    bool isValid() const { return valid_.load(); }
    bool isSignalled() const { return signalled_.load(); }
    // The loop the source is attached to, or null.
    RunLoop* runLoop() const;

private:
    friend class RunLoop;
    explicit RunLoopSource(std::function<void()> perform) : perform_(std::move(perform)) {}

    std::function<void()> perform_;
    std::atomic<bool> signalled_{false};
    std::atomic<bool> valid_{true};
    mutable std::mutex mutex_; // guards loop_; taken before the loop's own lock, never after
    RunLoop* loop_ = nullptr;
};

class RunLoop {
public:
    using Task = std::function<void()>;

    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    static RunLoop& main();
    static RunLoop& current();
    static bool isMainThread();
    // Drops every timer and pending task of the main run loop, so each test starts clean.
    static void resetMainForTesting();

    void add(const std::shared_ptr<Timer>& timer);

    // Attaches a source (a source sits on one loop at a time; adding it here takes it off
    // another). A source already signalled runs on the next turn.
    void addSource(const std::shared_ptr<RunLoopSource>& source);
    void removeSource(const std::shared_ptr<RunLoopSource>& source);
    std::size_t sourceCount() const;
    // Wakes the loop if it sleeps, from any thread.
    void wakeUp();

    // Runs `task` on a later turn of this loop. Thread-safe: other threads use it to hand
    // work back to this loop.
    void perform(Task task);
    // Runs `task` after `delay` seconds. `target` and `name` only identify the perform for
    // cancelPerforms; the task owns whatever it captures until it runs or is cancelled.
    void performAfter(double delay, Task task, const void* target = nullptr, std::string name = {});
    // Calls `method` on `object` after `delay` seconds, unless the object is gone by then: it is
    // held weakly, so a delayed call never keeps its object alive nor reaches a destroyed one.
    template <typename T>
    void performAfter(double delay, std::weak_ptr<T> object, void (T::*method)(), const void* target,
                      std::string name = {}) {
        performAfter(
            delay,
            [object = std::move(object), method] {
                if (auto alive = object.lock())
                    ((*alive).*method)();
            },
            target, std::move(name));
    }
    void cancelPerforms(const void* target);
    void cancelPerforms(const void* target, std::string_view name);

    // Runs `task` on this loop and waits for it; runs it inline when called on the loop's
    // own thread.
    void performAndWait(Task task);

    // One turn: runs the tasks queued so far and the timers due now. When nothing was ready,
    // waits up to `maxWaitSeconds` of real time for work (or the next timer on the system
    // clock). Answers whether anything ran.
    bool runOnce(double maxWaitSeconds);
    // Runs turns until `done` answers true (true) or `realLimitSeconds` of real time pass (false).
    bool runUntil(const std::function<bool()>& done, double realLimitSeconds);
    // Runs everything that is ready now, turn after turn, without waiting.
    void drain();
    // Runs until stop() is called (from any thread).
    void run();
    void stop();

    // How runInMode ended: stop() was called (the request is consumed), the time ran out,
    // or a signalled source was performed.
    enum class RunResult { Stopped, TimedOut, HandledSource };
    // Runs turns for up to `seconds` of real time: tasks, due timers and signalled sources.
    // With `returnAfterSourceHandled`, returns once a turn has performed a source. This is
    // the loop of a worker thread that sleeps until another thread signals it.
    RunResult runInMode(double seconds, bool returnAfterSourceHandled);

    // Manual clock only: moves the clock forward by `seconds`, firing every timer that falls
    // due on the way at its own time, in order, with queued tasks run between firings.
    void advance(double seconds);

    // When the earliest scheduled timer falls due (monotonic clock time); infinity when none.
    double nextFireTime() const;
    // The same among the timers that `accept` takes. `accept` runs under the loop's lock: it
    // may read the timer, nothing else of the loop.
    double nextFireTime(const std::function<bool(const Timer&)>& accept) const;

    // Number of scheduled timers and queued tasks, for tests.
    std::size_t pendingTimerCount() const;
    std::size_t queuedTaskCount() const;

    std::thread::id threadId() const { return threadId_; }

private:
    friend class Timer;
    friend class Thread;
    friend class RunLoopSource;
    struct TurnResult {
        bool ran = false;
        bool handledSource = false;
    };
    TurnResult turn();
    bool performSignalledSources();
    // Sleeps up to `maxWaitSeconds` unless work is already waiting.
    void waitForWork(double maxWaitSeconds);
    void detachSource(RunLoopSource* source);
    void remove(Timer* timer);
    void reschedule(const std::shared_ptr<Timer>& timer, double fireTime);
    bool fireDueTimers();
    void reset();

    using TimerKey = std::pair<double, std::uint64_t>;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::map<TimerKey, std::shared_ptr<Timer>> timers_;
    std::vector<std::shared_ptr<RunLoopSource>> sources_;
    std::uint64_t nextSequence_ = 0;
    bool stopRequested_ = false;
    std::thread::id threadId_;
};

// Runs `task` on the main run loop; with `waitUntilDone` the caller blocks until it has run
// (inline when already on the main thread).
void performOnMain(RunLoop::Task task, bool waitUntilDone = false);

} // namespace platform
