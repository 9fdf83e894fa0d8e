#pragma once
// SBNetworkReachabilityWrapper turns the platform's host reachability service into two
// delegate callbacks: reachabilityBecameReachable and reachabilityNotReachable. The
// configuration store probes the configuration host with it before every fetch, and the
// mediation slot probes a public host before every rollover.
//
// Ownership: whoever creates the wrapper owns it (the store or the slot keeps it in a field
// and drops it to stop the probe); the delegate is held weakly. The wrapper owns the
// platform reachability object and unschedules it when it goes, so no callback arrives
// after the wrapper is gone.
//
// Threads: schedule on a thread with a run loop (the main thread); callbacks arrive on that
// run loop on later turns, once the host's status is known and again at each change while
// scheduled. A wrapper that its owner drops inside a callback stays alive until the callback
// returns.
#include <memory>
#include <string>
#include <string_view>

#include "platform/net/Reachability.h"

namespace platform {
class RunLoop;
}

namespace mediation {

class SBNetworkReachabilityWrapper;

// Both callbacks are optional and do nothing unless overridden.
class SBNetworkReachabilityDelegate {
  public:
    virtual ~SBNetworkReachabilityDelegate() = default;
    virtual void reachabilityBecameReachable(SBNetworkReachabilityWrapper& wrapper) { (void)wrapper; }
    virtual void reachabilityNotReachable(SBNetworkReachabilityWrapper& wrapper) { (void)wrapper; }
};

class SBNetworkReachabilityWrapper : public std::enable_shared_from_this<SBNetworkReachabilityWrapper> {
  public:
    // reachabilityWithHostname:callbackDelegate: / initWithHostname:callbackDelegate: the
    // wrapper, or null when the platform reference cannot be made (error log "Error creating
    // SCNetworkReachability") or its callback cannot be set (error log "Error setting
    // SCNetworkReachability callback").
    static std::shared_ptr<SBNetworkReachabilityWrapper>
    reachabilityWithHostname(std::string_view hostname,
                             std::weak_ptr<SBNetworkReachabilityDelegate> delegate);
    ~SBNetworkReachabilityWrapper();
    SBNetworkReachabilityWrapper(const SBNetworkReachabilityWrapper&) = delete;
    SBNetworkReachabilityWrapper& operator=(const SBNetworkReachabilityWrapper&) = delete;

    // Starts or stops the callbacks on the current thread's run loop; false when that fails
    // (already scheduled there, or not scheduled there for unschedule).
    bool scheduleInCurrentRunLoop();
    bool unscheduleFromCurrentRunLoop();

    // The platform's callback: judges the flags and tells the delegate. A reference other than
    // this wrapper's own only gets the error log "Unrelated reachability calling back to this
    // object".
    void gotCallback(const platform::Reachability& reference, platform::ReachabilityFlags flags);
    // Tells the delegate reachabilityNotReachable when there is one.
    void notifyDelegateNotReachable();

    const std::string& hostname() const { return hostname_; }
    std::shared_ptr<SBNetworkReachabilityDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<SBNetworkReachabilityDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The host counts as reachable when the reachable flag is set and the cellular flag is
    // set, or connection-on-traffic is set without intervention-required, or no connection is
    // required.
    static bool isReachable(platform::ReachabilityFlags flags);
    // The flags one character each: "t" transient, "R" reachable, "c" connection required,
    // "C" connection on traffic, "i" intervention required, always "-", "l" local address,
    // "d" direct, "W" cellular; "-" for a flag that is not set.
    static std::string flagString(platform::ReachabilityFlags flags);

  private:
    SBNetworkReachabilityWrapper(std::string hostname, std::shared_ptr<platform::Reachability> reachability,
                                 std::weak_ptr<SBNetworkReachabilityDelegate> delegate);

    std::string hostname_;
    std::shared_ptr<platform::Reachability> reachability_;
    std::weak_ptr<SBNetworkReachabilityDelegate> delegate_;
    platform::RunLoop* scheduledLoop_ = nullptr;
};

} // namespace mediation
