#include "vellum/tracking/MRReachability.h"

#include <algorithm>
#include <array>

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"

namespace vellum {

namespace {

struct StatusName {
    int status;
    const char* text;
};
constexpr std::array<StatusName, 3> kStatusNames{{
    {NotReachable, "NotConnected"},
    {ReachableViaCarrierDataNetwork, "CDNConnected"},
    {ReachableViaWiFiNetwork, "WiFiConnected"},
}};
constexpr const char* kInvalidNetworkStatus = "InvalidNetworkStatus";

std::unique_ptr<MRReachability>& sharedSlot() {
    static std::unique_ptr<MRReachability> instance;
    return instance;
}

} // namespace

MRReachability& MRReachability::sharedReachability() {
    auto& slot = sharedSlot();
    if (!slot)
        slot.reset(new MRReachability());
    return *slot;
}

void MRReachability::resetForTesting() {
    auto& slot = sharedSlot();
    if (slot)
        slot->stopListeningForReachabilityChanges();
    slot.reset();
}

std::string MRReachability::stringFromNetworkStatus(int status) {
    for (const auto& row : kStatusNames)
        if (row.status == status)
            return row.text;
    return kInvalidNetworkStatus;
}

int MRReachability::networkStatusFromString(std::string_view text) {
    for (const auto& row : kStatusNames)
        if (text == row.text)
            return row.status;
    return NotReachable;
}

bool MRReachability::isReachableWithoutRequiringConnection(platform::ReachabilityFlags flags) {
    const bool reachable = flags & platform::kReachabilityFlagsReachable;
    const bool connectionRequired = flags & platform::kReachabilityFlagsConnectionRequired;
    const bool wwan = flags & platform::kReachabilityFlagsIsWWAN;
    return reachable && (!connectionRequired || wwan);
}

std::shared_ptr<MRReachabilityQuery> MRReachability::defaultRouteQuery() {
    auto it = reachabilityQueries_.find(kDefaultRouteAddress);
    if (it != reachabilityQueries_.end())
        return it->second;
    auto query = std::make_shared<MRReachabilityQuery>();
    query->reachabilityRef = platform::Reachability::createWithAddress(kDefaultRouteAddress);
    query->hostNameOrAddress = kDefaultRouteAddress;
    if (!query->reachabilityRef)
        return query; // not stored: creation is tried again at the next read
    reachabilityQueries_[kDefaultRouteAddress] = query;
    return query;
}

bool MRReachability::isNetworkAvailableFlags(platform::ReachabilityFlags* outFlags) {
    auto query = defaultRouteQuery();
    if (!query->reachabilityRef)
        return false;
    scheduleOnRunLoop(*query, &platform::RunLoop::current());
    auto flags = query->reachabilityRef->getFlags();
    if (!flags)
        return false;
    if (outFlags)
        *outFlags = *flags;
    return isReachableWithoutRequiringConnection(*flags);
}

int MRReachability::internetConnectionStatus() {
    platform::ReachabilityFlags flags = 0;
    if (!isNetworkAvailableFlags(&flags))
        return NotReachable;
    if (flags & platform::kReachabilityFlagsIsDirect)
        return NotReachable; // a link-local network without internet
    if (flags & platform::kReachabilityFlagsTransientConnection)
        return ReachableViaCarrierDataNetwork;
    return ReachableViaWiFiNetwork;
}

void MRReachability::scheduleOnRunLoop(MRReachabilityQuery& query, platform::RunLoop* loop) {
    if (!networkStatusNotificationsEnabled_ || !loop || !query.reachabilityRef)
        return;
    if (isScheduledOnRunLoop(query, loop))
        return;
    query.reachabilityRef->setCallback([](platform::Reachability&, platform::ReachabilityFlags) {
        platform::NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification);
    });
    if (query.reachabilityRef->scheduleWithRunLoop(*loop))
        query.runLoops.push_back(loop);
}

bool MRReachability::isScheduledOnRunLoop(const MRReachabilityQuery& query, platform::RunLoop* loop) const {
    return std::find(query.runLoops.begin(), query.runLoops.end(), loop) != query.runLoops.end();
}

void MRReachability::stopListeningForReachabilityChanges() {
    for (auto& [text, query] : reachabilityQueries_) {
        for (auto* loop : query->runLoops)
            if (query->reachabilityRef)
                query->reachabilityRef->unscheduleFromRunLoop(*loop);
        query->runLoops.clear();
    }
}

} // namespace vellum
