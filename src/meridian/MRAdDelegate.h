#pragma once
// MRAdDelegate: what a host of a Meridian ad view answers and hears. Every item is optional:
// queries answer std::nullopt when not implemented, notices do nothing by default. Held
// weakly by the view; every notice arrives on the main run loop.
#include <optional>

#include "platform/foundation/Value.h"

namespace meridian {

class MRAdView;

class MRAdDelegate {
public:
    virtual ~MRAdDelegate() = default;
    // Extra request parameters (key and value texts), asked at creation and before every request.
    virtual std::optional<platform::Dictionary> requestData() { return std::nullopt; }
    // The host's refresh period in seconds, used when the handshake gives none.
    virtual std::optional<int> adRefreshDuration() { return std::nullopt; }
    // Whether the ad may use the accelerometer; not implemented means yes.
    virtual std::optional<bool> accelerometerEnabled() { return std::nullopt; }
    virtual void adRequestSucceeded(MRAdView&) {}
    virtual void adRequestFailed(MRAdView&) {}
    virtual void adDidRefresh(MRAdView&) {}
    virtual void adWasTapped(MRAdView&) {}
    virtual void adRequestIsCaching(MRAdView&) {}
    virtual void applicationWillTerminateFromAd() {}
    virtual void adModalWillAppear() {}
    virtual void adModalDidAppear() {}
    virtual void adModalWasDismissed() {}
};

} // namespace meridian
