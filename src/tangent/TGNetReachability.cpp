#include "tangent/TGNetReachability.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"

namespace tangent {

namespace {

constexpr std::string_view kAnyAddress = "0.0.0.0";

std::unique_ptr<TGNetReachability>& sharedSlot() {
    static std::unique_ptr<TGNetReachability> shared;
    return shared;
}

} // namespace

TGNetReachability& TGNetReachability::sharedReachability() {
    auto& shared = sharedSlot();
    if (!shared)
        shared.reset(new TGNetReachability());
    return *shared;
}

void TGNetReachability::resetForTesting() {
    if (auto& shared = sharedSlot())
        shared->stopListeningForReachabilityChanges();
    sharedSlot().reset();
}

bool TGNetReachability::isReachableWithoutRequiringConnection(platform::ReachabilityFlags flags) {
    const bool reachable = flags & platform::kReachabilityFlagsReachable;
    const bool carrier = flags & platform::kReachabilityFlagsIsWWAN;
    const bool connectionRequired = flags & platform::kReachabilityFlagsConnectionRequired;
    return reachable && (carrier || !connectionRequired);
}

int TGNetReachability::connectionStatusForFlags(std::optional<platform::ReachabilityFlags> flags) {
    if (!flags || !isReachableWithoutRequiringConnection(*flags))
        return kNotReachable;
    if (*flags & platform::kReachabilityFlagsIsDirect)
        return kNotReachable;
    if (*flags & platform::kReachabilityFlagsTransientConnection)
        return kReachableViaCarrierDataNetwork;
    return kReachableViaWiFiNetwork;
}

void TGNetReachability::startListeningForReachabilityChanges() {
    if (reachabilityRef)
        return;
    reachabilityRef = platform::Reachability::createWithAddress(kAnyAddress);
    if (!reachabilityRef)
        return;
    reachabilityRef->setCallback([](platform::Reachability&, platform::ReachabilityFlags) {
        platform::NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification);
    });
    reachabilityRef->scheduleWithRunLoop(platform::RunLoop::current());
}

void TGNetReachability::stopListeningForReachabilityChanges() {
    if (!reachabilityRef)
        return;
    reachabilityRef->unscheduleFromRunLoop(platform::RunLoop::current());
    reachabilityRef.reset();
}

bool TGNetReachability::isNetworkAvailableFlags(platform::ReachabilityFlags* outFlags) {
    startListeningForReachabilityChanges();
    if (!reachabilityRef)
        return false;
    auto flags = reachabilityRef->getFlags();
    if (!flags)
        return false;
    if (outFlags)
        *outFlags = *flags;
    return isReachableWithoutRequiringConnection(*flags);
}

int TGNetReachability::internetConnectionStatus() {
    platform::ReachabilityFlags flags = 0;
    if (!isNetworkAvailableFlags(&flags))
        return kNotReachable;
    return connectionStatusForFlags(flags);
}

} // namespace tangent
