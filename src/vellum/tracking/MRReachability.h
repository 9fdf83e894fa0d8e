#pragma once
// The engine's shared network status: from the reachability flags of the default route it
// tells whether the device reaches the internet, and over which kind of link: 0 not
// connected, 1 carrier data, 2 Wi-Fi, as a number and as a fixed text. The analytics manager
// caches the number; tracked events record the text.
//
// One shared instance (sharedReachability), created on first use and kept for the process;
// resetForTesting() drops it. Its change notifications start switched off and nothing turns
// them on, so no target is ever scheduled and the status is always read on demand, with a
// synchronous flags read of the default route ("0.0.0.0"), whose target is created once and
// reused. When notifications are switched on, a scheduled target posts
// kNetworkReachabilityChangedNotification (no object) on the run loops it is scheduled on.
// Main thread only.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/Reachability.h"

namespace platform {
class RunLoop;
}

namespace vellum {

inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

// The network status numbers.
enum MRNetworkStatus : int {
    NotReachable = 0,
    ReachableViaCarrierDataNetwork = 1,
    ReachableViaWiFiNetwork = 2,
};

// One reachability target with the run loops it is scheduled on (unretained).
class MRReachabilityQuery {
public:
    std::shared_ptr<platform::Reachability> reachabilityRef;
    std::vector<platform::RunLoop*> runLoops;
    std::string hostNameOrAddress;
};

class MRReachability {
public:
    // The text under which the default-route query is kept.
    static constexpr const char* kDefaultRouteAddress = "0.0.0.0";

    static MRReachability& sharedReachability();
    static void resetForTesting();

    // The current status number (MRNetworkStatus).
    int internetConnectionStatus();

    // "NotConnected", "CDNConnected", "WiFiConnected", anything else "InvalidNetworkStatus".
    static std::string stringFromNetworkStatus(int status);
    // The reverse; any unknown text gives 0.
    static int networkStatusFromString(std::string_view text);

    // Reachable, and either no connection required or over the carrier network.
    static bool isReachableWithoutRequiringConnection(platform::ReachabilityFlags flags);
    // Reads the default route's flags into `outFlags` and answers whether the network is
    // available; false (outFlags untouched) when the flags cannot be read.
    bool isNetworkAvailableFlags(platform::ReachabilityFlags* outFlags);

    bool networkStatusNotificationsEnabled() const { return networkStatusNotificationsEnabled_; }
    void setNetworkStatusNotificationsEnabled(bool enabled) { networkStatusNotificationsEnabled_ = enabled; }
    const std::optional<std::string>& hostName() const { return hostName_; }
    void setHostName(std::optional<std::string> name) { hostName_ = std::move(name); }
    const std::optional<std::string>& address() const { return address_; }
    void setAddress(std::optional<std::string> address) { address_ = std::move(address); }
    const std::map<std::string, std::shared_ptr<MRReachabilityQuery>>& reachabilityQueries() const {
        return reachabilityQueries_;
    }

    // Only while notifications are on, for a loop not yet in the query's list: registers the
    // target for change callbacks there.
    void scheduleOnRunLoop(MRReachabilityQuery& query, platform::RunLoop* loop);
    bool isScheduledOnRunLoop(const MRReachabilityQuery& query, platform::RunLoop* loop) const;
    void stopListeningForReachabilityChanges();

private:
    MRReachability() = default;
    // The default-route query, created on first use.
    std::shared_ptr<MRReachabilityQuery> defaultRouteQuery();

    bool networkStatusNotificationsEnabled_ = false;
    std::optional<std::string> hostName_;
    std::optional<std::string> address_;
    std::map<std::string, std::shared_ptr<MRReachabilityQuery>> reachabilityQueries_;
};

} // namespace vellum
