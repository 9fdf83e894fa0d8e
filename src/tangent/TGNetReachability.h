#pragma once
// TGNetReachability: whether the internet can be reached and over what kind of link, for the
// Tangent widget's requests ("mt-speed"). It watches the all-zero IPv4 address and posts
// "kNetworkReachabilityChangedNotification" (no object) when the flags change.
//
// One shared instance, created lazily on the main thread. The platform reachability object is
// created on first use and scheduled on the run loop that first asked; change callbacks arrive
// there. stopListeningForReachabilityChanges() unschedules and drops it; no notice follows.
#include <memory>
#include <optional>
#include <string_view>

#include "platform/net/Reachability.h"

namespace tangent {

inline constexpr std::string_view kNetworkReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";

// Connection kinds as the request sends them.
inline constexpr int kNotReachable = 0;
inline constexpr int kReachableViaCarrierDataNetwork = 1;
inline constexpr int kReachableViaWiFiNetwork = 2;

class TGNetReachability {
public:
    static TGNetReachability& sharedReachability();
    static void resetForTesting();

    // 0 none, 1 carrier data, 2 Wi-Fi.
    int internetConnectionStatus();
    // Reachable without a connection having to be set up; writes the raw flags when read.
    bool isNetworkAvailableFlags(platform::ReachabilityFlags* outFlags);
    static bool isReachableWithoutRequiringConnection(platform::ReachabilityFlags flags);
    // The status that `flags` describe.
    static int connectionStatusForFlags(std::optional<platform::ReachabilityFlags> flags);

    void startListeningForReachabilityChanges();
    void stopListeningForReachabilityChanges();

private:
    TGNetReachability() = default;
    std::shared_ptr<platform::Reachability> reachabilityRef;
};

} // namespace tangent
