#include "mediation/SBNetworkReachabilityWrapper.h"

#include <array>

#include "mediation/SwitchboardLog.h"
#include "platform/runloop/RunLoop.h"

namespace mediation {

namespace {

struct FlagLetter {
    platform::ReachabilityFlags flag; // 0: a place that always shows "-"
    char letter;
};

// The order of the debug line's characters.
constexpr std::array<FlagLetter, 9> kFlagLetters = {{
    {platform::kReachabilityFlagsTransientConnection, 't'},
    {platform::kReachabilityFlagsReachable, 'R'},
    {platform::kReachabilityFlagsConnectionRequired, 'c'},
    {platform::kReachabilityFlagsConnectionOnTraffic, 'C'},
    {platform::kReachabilityFlagsInterventionRequired, 'i'},
    {0, '-'},
    {platform::kReachabilityFlagsIsLocalAddress, 'l'},
    {platform::kReachabilityFlagsIsDirect, 'd'},
    {platform::kReachabilityFlagsIsWWAN, 'W'},
}};

} // namespace

std::shared_ptr<SBNetworkReachabilityWrapper> SBNetworkReachabilityWrapper::reachabilityWithHostname(
    std::string_view hostname, std::weak_ptr<SBNetworkReachabilityDelegate> delegate) {
    auto reference = platform::Reachability::createWithName(hostname);
    if (!reference) {
        SBLogError("Error creating SCNetworkReachability");
        return nullptr;
    }
    std::shared_ptr<SBNetworkReachabilityWrapper> wrapper(
        new SBNetworkReachabilityWrapper(std::string(hostname), reference, std::move(delegate)));
    // The wrapper is the callback's context, held weakly: the platform object it owns never
    // keeps it alive.
    std::weak_ptr<SBNetworkReachabilityWrapper> context = wrapper;
    bool installed =
        reference->setCallback([context](platform::Reachability& ref, platform::ReachabilityFlags flags) {
            if (auto self = context.lock())
                self->gotCallback(ref, flags);
        });
    if (!installed) {
        SBLogError("Error setting SCNetworkReachability callback");
        return nullptr;
    }
    return wrapper;
}

SBNetworkReachabilityWrapper::SBNetworkReachabilityWrapper(
    std::string hostname, std::shared_ptr<platform::Reachability> reachability,
    std::weak_ptr<SBNetworkReachabilityDelegate> delegate)
    : hostname_(std::move(hostname)), reachability_(std::move(reachability)), delegate_(std::move(delegate)) {
}

SBNetworkReachabilityWrapper::~SBNetworkReachabilityWrapper() {
    if (reachability_ && scheduledLoop_)
        reachability_->unscheduleFromRunLoop(*scheduledLoop_);
    if (reachability_)
        reachability_->setCallback({});
}

bool SBNetworkReachabilityWrapper::scheduleInCurrentRunLoop() {
    auto& loop = platform::RunLoop::current();
    if (!reachability_->scheduleWithRunLoop(loop))
        return false;
    scheduledLoop_ = &loop;
    return true;
}

bool SBNetworkReachabilityWrapper::unscheduleFromCurrentRunLoop() {
    auto& loop = platform::RunLoop::current();
    if (!reachability_->unscheduleFromRunLoop(loop))
        return false;
    if (scheduledLoop_ == &loop)
        scheduledLoop_ = nullptr;
    return true;
}

void SBNetworkReachabilityWrapper::gotCallback(const platform::Reachability& reference,
                                               platform::ReachabilityFlags flags) {
    if (&reference != reachability_.get()) {
        SBLogError("Unrelated reachability calling back to this object");
        return;
    }
    auto keepAlive = shared_from_this(); // the delegate may drop this wrapper
    SBLogDebug("Reachability flag status: %@", flagString(flags));
    if (isReachable(flags)) {
        if (auto d = delegate())
            d->reachabilityBecameReachable(*this);
    } else {
        notifyDelegateNotReachable();
    }
}

void SBNetworkReachabilityWrapper::notifyDelegateNotReachable() {
    if (auto d = delegate())
        d->reachabilityNotReachable(*this);
}

bool SBNetworkReachabilityWrapper::isReachable(platform::ReachabilityFlags flags) {
    using namespace platform;
    if (!(flags & kReachabilityFlagsReachable))
        return false;
    if (flags & kReachabilityFlagsIsWWAN)
        return true;
    if ((flags & kReachabilityFlagsConnectionOnTraffic) && !(flags & kReachabilityFlagsInterventionRequired))
        return true;
    return !(flags & kReachabilityFlagsConnectionRequired);
}

std::string SBNetworkReachabilityWrapper::flagString(platform::ReachabilityFlags flags) {
    std::string out;
    for (const auto& f : kFlagLetters)
        out += (f.flag != 0 && (flags & f.flag)) ? f.letter : '-';
    return out;
}

} // namespace mediation
