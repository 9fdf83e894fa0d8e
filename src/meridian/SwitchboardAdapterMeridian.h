#pragma once
// SwitchboardAdapterMeridian (network type 6): shows a Meridian banner in the mediation slot.
// getAd turns the host's demographic and location answers into the banner's request data,
// creates the banner (its own refresh off) with the adapter as its delegate, and reports the
// banner's first outcome: exactly one of adapterDidReceiveAdView / adapterDidFailAd per
// request, also when the banner reaches it during its own creation (a cached video replayed
// at once); later notices of the banner are ignored. The banner's modal screens become the
// slot's modal begin and end.
//
// Ownership: the adapter owns its banner (adNetworkView); the banner holds the adapter
// weakly and stopBeingDelegate closes its open landing page (so the slot's modal mark ends),
// detaches it and stops its refresh (safe twice). Main thread.
#include <memory>
#include <optional>
#include <string>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "meridian/MRAdDelegate.h"

namespace meridian {

class SwitchboardAdapterMeridian final : public mediation::SwitchboardAdNetworkAdapter, public MRAdDelegate {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    static int networkType() { return 6; }

    void getAd() override;
    void stopBeingDelegate() override;

    // MRAdDelegate.
    std::optional<platform::Dictionary> requestData() override;
    std::optional<int> adRefreshDuration() override { return kAdRefreshDuration; }
    void adRequestSucceeded(MRAdView& view) override;
    void adRequestFailed(MRAdView& view) override;
    void adModalWillAppear() override { helperNotifyDelegateOfFullScreenModal(); }
    void adModalWasDismissed() override { helperNotifyDelegateOfFullScreenModalDismissal(); }

    // The getters the request data is built from, and which of them the host can feed.
    bool responds(std::string_view getter) const;
    double latitude() const;
    double longitude() const;
    int age() const;
    std::optional<std::string> zipCode() const;
    std::string sex() const;

private:
    static constexpr int kAdRefreshDuration = 60;
    bool takeOutcome();
    enum class Outcome { None, Received, Failed };

    platform::Dictionary requestData_;
    bool outcomeReported_ = false;
    // True while getAd creates the banner; the first outcome reached meanwhile waits here.
    bool creating_ = false;
    Outcome outcomeDuringCreation_ = Outcome::None;
};

} // namespace meridian
