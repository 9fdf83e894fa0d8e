#pragma once
// Whether a host (by name) or an address can be reached, as the platform's reachability
// service tells it: a set of flag bits, read at once with getFlags() or delivered to a
// callback on every run loop the object is scheduled on, once when the status is first known
// and again whenever it changes.
//
// Real by default: an address is judged from the machine's network interfaces (loopback and
// own addresses are local and direct; addresses on an attached subnet are direct; others are
// reachable when any non-loopback interface is up); a host name is first resolved with
// getaddrinfo. Scheduled objects are evaluated on a background thread (so name resolution
// never blocks a run loop) and re-checked every few seconds of real time. getFlags() works
// synchronously on the calling thread and may block on name resolution, as the platform's
// does.
//
// Tests replace the truth process-wide: setTestFlags() for one host (the name or address text
// given at creation, any case) or setTestFlagsForAllHosts(); a change notifies every
// scheduled object it concerns on a later turn of its run loop. setTestFailures() makes
// creation, callback setting, scheduling or getFlags() fail. resetForTesting() clears all.
//
// Ownership and threads: the creator owns the object; callbacks arrive on the run loops it
// is scheduled on and stop once it is unscheduled from them or destroyed. Schedule and
// unschedule on the loop's own thread; unschedule before that thread's run loop ends.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class RunLoop;

using ReachabilityFlags = std::uint32_t;
inline constexpr ReachabilityFlags kReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr ReachabilityFlags kReachabilityFlagsReachable = 1u << 1;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr ReachabilityFlags kReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnDemand = 1u << 5;
inline constexpr ReachabilityFlags kReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr ReachabilityFlags kReachabilityFlagsIsDirect = 1u << 17;
inline constexpr ReachabilityFlags kReachabilityFlagsIsWWAN = 1u << 18;

class Reachability : public std::enable_shared_from_this<Reachability> {
  public:
    using Callback = std::function<void(Reachability&, ReachabilityFlags)>;

    // nullptr when `hostName` is empty (or a test says creation fails).
    static std::shared_ptr<Reachability> createWithName(std::string_view hostName);
    // For a numeric IPv4 or IPv6 address ("0.0.0.0" is the default route); nullptr when the
    // text is not one.
    static std::shared_ptr<Reachability> createWithAddress(std::string_view numericAddress);
    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // The host name or address text given at creation.
    const std::string& target() const { return target_; }
    bool isAddress() const { return isAddress_; }

    // Installs (or, with an empty function, removes) the change callback.
    bool setCallback(Callback callback);
    // Starts callbacks on `loop`; false when already scheduled there (or a test says so).
    bool scheduleWithRunLoop(RunLoop& loop);
    bool unscheduleFromRunLoop(RunLoop& loop);
    bool isScheduledOn(RunLoop& loop) const;
    // Scheduled on any run loop.
    bool isScheduled() const;

    // The flags now; nullopt when they cannot be read.
    std::optional<ReachabilityFlags> getFlags() const;

    // "reachable|is-direct" and so on, for log lines; "none" for 0.
    static std::string describeFlags(ReachabilityFlags flags);

    // ---- Test override (process-wide) ----
    static void setTestFlags(std::string_view host, ReachabilityFlags flags);
    static void clearTestFlags(std::string_view host);
    static void setTestFlagsForAllHosts(ReachabilityFlags flags);
    struct TestFailures {
        bool creation = false;
        bool setCallback = false;
        bool scheduling = false;
        bool getFlags = false;
    };
    static void setTestFailures(TestFailures failures);
    static void resetForTesting();

    // Internal: evaluates and, when the flags changed since the last delivery, posts the
    // callback to every loop this object is scheduled on. Safe from any thread.
    void refresh();

  private:
    Reachability(std::string target, bool isAddress) : target_(std::move(target)), isAddress_(isAddress) {}
    ReachabilityFlags evaluate() const;
    void postChanges(ReachabilityFlags flags);
    bool hasLoop(const RunLoop* loop) const;

    // A loop this object is scheduled on, with the flags last posted to it.
    struct ScheduledLoop {
        RunLoop* loop;
        std::optional<ReachabilityFlags> lastPosted;
    };

    const std::string target_;
    const bool isAddress_;
    mutable std::mutex mutex_;
    Callback callback_;
    std::vector<ScheduledLoop> loops_;
};

} // namespace platform
