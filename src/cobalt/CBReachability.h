#pragma once
// The Cobalt engine's process-wide view of network reachability, over the platform's
// reachability targets: one target per host name or address text (a CBReachabilityQuery),
// the default route "0.0.0.0" and the link-local network "169.254.0.0" for the general
// status. Watching targets for changes is behind a switch that starts off and that nothing
// turns on, so this component never posts "kNetworkReachabilityChangedNotification".
//
// Status values: 0 not reachable, 1 reachable over a transient connection, 2 reachable
// otherwise. Misuse (no host to ask about, an address text that is not one) throws
// platform::NamedException "NSInternalInconsistencyException". Main thread only.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/Reachability.h"

namespace platform {
class RunLoop;
} // namespace platform

namespace cobalt {

class CBReachabilityQuery {
public:
    const std::string& hostNameOrAddress() const { return hostNameOrAddress_; }
    void setHostNameOrAddress(std::string text) { hostNameOrAddress_ = std::move(text); }
    const std::shared_ptr<platform::Reachability>& reachabilityRef() const { return reachabilityRef_; }
    void setReachabilityRef(std::shared_ptr<platform::Reachability> ref) { reachabilityRef_ = std::move(ref); }
    const std::vector<platform::RunLoop*>& runLoops() const { return runLoops_; }
    bool isScheduledOnRunLoop(platform::RunLoop* loop) const;
    // Watches the target on `loop`, only while notifications are enabled.
    void scheduleOnRunLoop(platform::RunLoop* loop);
    platform::RunLoop* startListeningForReachabilityChanges(platform::Reachability* target, platform::RunLoop* loop);
    void unscheduleAll();

private:
    std::shared_ptr<platform::Reachability> reachabilityRef_;
    std::vector<platform::RunLoop*> runLoops_;
    std::string hostNameOrAddress_;
};

class CBReachability {
public:
    static constexpr const char* kNotificationName = "kNetworkReachabilityChangedNotification";
    static constexpr const char* kDefaultRouteKey = "0.0.0.0";
    static constexpr const char* kLinkLocalKey = "169.254.0.0";

    static CBReachability& sharedReachability();
    static void resetForTesting();

    bool networkStatusNotificationsEnabled() const { return networkStatusNotificationsEnabled_; }
    void setNetworkStatusNotificationsEnabled(bool enabled) { networkStatusNotificationsEnabled_ = enabled; }
    const std::optional<std::string>& hostName() const { return hostName_; }
    void setHostName(std::optional<std::string> name) { hostName_ = std::move(name); }
    const std::optional<std::string>& address() const { return address_; }
    void setAddress(std::optional<std::string> address) { address_ = std::move(address); }
    const std::map<std::string, std::shared_ptr<CBReachabilityQuery>>& reachabilityQueries() const {
        return reachabilityQueries_;
    }
    // Replaces the stored targets; the general status and later look-ups use the new table.
    // Targets of the old table stop being watched.
    void setReachabilityQueries(std::map<std::string, std::shared_ptr<CBReachabilityQuery>> queries);

    int internetConnectionStatus();
    int localWiFiConnectionStatus();
    int remoteHostStatus();
    bool isHostReachable(const std::string& name);
    bool isNetworkAvailableFlags(platform::ReachabilityFlags* flags);
    bool isAdHocWiFiNetworkAvailableFlags(platform::ReachabilityFlags* flags);
    static bool isReachableWithoutRequiringConnection(platform::ReachabilityFlags flags);
    std::shared_ptr<platform::Reachability> reachabilityRefForHostName(const std::string& name);
    std::shared_ptr<platform::Reachability> reachabilityRefForAddress(const std::string& address);
    // Whether the text is a dotted IPv4 address.
    static bool addressFromString(const std::string& text, std::uint32_t* address = nullptr);
    void stopListeningForReachabilityChanges();

    // The callback that would post the notification, were watching switched on.
    static void CBReachabilityCallback();

private:
    bool targetAvailable(const char* key, platform::ReachabilityFlags* flags);
    std::shared_ptr<platform::Reachability> refFor(const std::string& text, bool isAddress);

    bool networkStatusNotificationsEnabled_ = false;
    std::optional<std::string> hostName_;
    std::optional<std::string> address_;
    std::map<std::string, std::shared_ptr<CBReachabilityQuery>> reachabilityQueries_;
};

} // namespace cobalt
