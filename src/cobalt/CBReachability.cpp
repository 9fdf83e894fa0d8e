#include "cobalt/CBReachability.h"

#include <arpa/inet.h>

#include <algorithm>

#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"

namespace cobalt {
namespace {

constexpr const char* kInconsistency = "NSInternalInconsistencyException";

std::unique_ptr<CBReachability>& sharedSlot() {
    static std::unique_ptr<CBReachability> shared;
    return shared;
}

int statusOf(platform::ReachabilityFlags flags) {
    return (flags & platform::kReachabilityFlagsTransientConnection) ? 1 : 2;
}

} // namespace

bool CBReachabilityQuery::isScheduledOnRunLoop(platform::RunLoop* loop) const {
    return std::find(runLoops_.begin(), runLoops_.end(), loop) != runLoops_.end();
}

void CBReachabilityQuery::scheduleOnRunLoop(platform::RunLoop* loop) {
    if (!CBReachability::sharedReachability().networkStatusNotificationsEnabled() || !loop ||
        isScheduledOnRunLoop(loop))
        return;
    if (startListeningForReachabilityChanges(reachabilityRef_.get(), loop))
        runLoops_.push_back(loop);
}

platform::RunLoop* CBReachabilityQuery::startListeningForReachabilityChanges(platform::Reachability* target,
                                                                           platform::RunLoop* loop) {
    if (!target || !loop)
        return nullptr;
    target->setCallback([](platform::Reachability&, platform::ReachabilityFlags) {
        CBReachability::CBReachabilityCallback();
    });
    target->scheduleWithRunLoop(*loop);
    return loop;
}

void CBReachabilityQuery::unscheduleAll() {
    if (reachabilityRef_)
        for (auto* loop : runLoops_)
            reachabilityRef_->unscheduleFromRunLoop(*loop);
    runLoops_.clear();
}

CBReachability& CBReachability::sharedReachability() {
    auto& shared = sharedSlot();
    if (!shared)
        shared.reset(new CBReachability());
    return *shared;
}

void CBReachability::resetForTesting() {
    if (auto& shared = sharedSlot()) {
        shared->stopListeningForReachabilityChanges();
        shared.reset();
    }
}

void CBReachability::CBReachabilityCallback() {
    platform::NotificationCenter::defaultCenter().post(kNotificationName);
}

bool CBReachability::isReachableWithoutRequiringConnection(platform::ReachabilityFlags flags) {
    if (!(flags & platform::kReachabilityFlagsReachable))
        return false;
    return (flags & platform::kReachabilityFlagsIsWWAN) || !(flags & platform::kReachabilityFlagsConnectionRequired);
}

bool CBReachability::addressFromString(const std::string& text, std::uint32_t* address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    if (address)
        *address = parsed.s_addr;
    return true;
}

std::shared_ptr<platform::Reachability> CBReachability::refFor(const std::string& text, bool isAddress) {
    if (text.empty())
        return nullptr;
    if (auto it = reachabilityQueries_.find(text); it != reachabilityQueries_.end())
        return it->second->reachabilityRef();
    if (isAddress && !addressFromString(text))
        throw platform::NamedException(kInconsistency, "Failed to convert an IP address string to a sockaddr_in: " + text);
    auto target = isAddress ? platform::Reachability::createWithAddress(text)
                            : platform::Reachability::createWithName(text);
    if (!target)
        throw platform::NamedException(kInconsistency, std::string("Failed to create SCNetworkReachabilityRef for ") +
                                                           (isAddress ? "address: " : "host: ") + text);
    auto query = std::make_shared<CBReachabilityQuery>();
    query->setHostNameOrAddress(text);
    query->setReachabilityRef(target);
    query->scheduleOnRunLoop(&platform::RunLoop::current());
    reachabilityQueries_[text] = query;
    return target;
}

std::shared_ptr<platform::Reachability> CBReachability::reachabilityRefForHostName(const std::string& name) {
    return refFor(name, false);
}

std::shared_ptr<platform::Reachability> CBReachability::reachabilityRefForAddress(const std::string& address) {
    return refFor(address, true);
}

bool CBReachability::targetAvailable(const char* key, platform::ReachabilityFlags* flags) {
    auto target = refFor(key, true);
    auto read = target ? target->getFlags() : std::nullopt;
    if (!read)
        return false;
    if (flags)
        *flags = *read;
    return isReachableWithoutRequiringConnection(*read);
}

bool CBReachability::isNetworkAvailableFlags(platform::ReachabilityFlags* flags) {
    return targetAvailable(kDefaultRouteKey, flags);
}

bool CBReachability::isAdHocWiFiNetworkAvailableFlags(platform::ReachabilityFlags* flags) {
    return targetAvailable(kLinkLocalKey, flags);
}

int CBReachability::internetConnectionStatus() {
    platform::ReachabilityFlags flags = 0;
    if (!isNetworkAvailableFlags(&flags))
        return 0;
    if (flags & platform::kReachabilityFlagsIsDirect)
        return 0; // a device-to-device network gives no internet
    return statusOf(flags);
}

int CBReachability::localWiFiConnectionStatus() {
    platform::ReachabilityFlags flags = 0;
    if (isAdHocWiFiNetworkAvailableFlags(&flags) && (flags & platform::kReachabilityFlagsIsDirect))
        return 2;
    return 0;
}

int CBReachability::remoteHostStatus() {
    std::shared_ptr<platform::Reachability> target;
    if (hostName_ && !hostName_->empty())
        target = reachabilityRefForHostName(*hostName_);
    else if (address_ && !address_->empty())
        target = reachabilityRefForAddress(*address_);
    else
        throw platform::NamedException(kInconsistency, "No hostName or address specified. Cannot determine reachability.");
    auto flags = target ? target->getFlags() : std::nullopt;
    if (!flags || !isReachableWithoutRequiringConnection(*flags))
        return 0;
    return statusOf(*flags);
}

bool CBReachability::isHostReachable(const std::string& name) {
    if (name.empty())
        return false;
    auto target = platform::Reachability::createWithName(name);
    auto flags = target ? target->getFlags() : std::nullopt;
    return flags && isReachableWithoutRequiringConnection(*flags);
}

void CBReachability::setReachabilityQueries(std::map<std::string, std::shared_ptr<CBReachabilityQuery>> queries) {
    for (auto& [key, query] : reachabilityQueries_)
        if (query && (!queries.count(key) || queries.at(key) != query))
            query->unscheduleAll();
    // A key without a query would be read as a target that cannot be created.
    std::erase_if(queries, [](const auto& entry) { return !entry.second; });
    reachabilityQueries_ = std::move(queries);
}

void CBReachability::stopListeningForReachabilityChanges() {
    for (auto& [key, query] : reachabilityQueries_)
        query->unscheduleAll();
}

} // namespace cobalt
