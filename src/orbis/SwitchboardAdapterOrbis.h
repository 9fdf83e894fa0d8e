#pragma once
// SwitchboardAdapterOrbis (network type 18): shows an Orbis banner in the mediation slot.
// getAd asks the banner factory for a banner with the adapter as its delegate and keeps it as
// the adapter's view; a refused delegate is a failure at once. The adapter answers the
// banner's questions from the slot's host (each optional one probed first, and hidden from the
// banner when the host lacks it), the network entry and the configuration, and reports the
// banner's outcome: exactly one of adapterDidReceiveAdView / adapterDidFailAd per request
// (later notices of the same banner are ignored). The landing page's display and dismissal
// become the slot's modal begin and end.
//
// Ownership: the adapter owns its banner (adNetworkView); the banner holds the adapter weakly
// and stopBeingDelegate detaches it (safe twice). Notices from a banner that is not this
// adapter's are ignored. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "orbis/OrbisAdDelegate.h"

namespace orbis {

class SwitchboardAdapterOrbis final : public mediation::SwitchboardAdNetworkAdapter, public OrbisAdDelegate {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    static int networkType() { return 18; }
    // "f" 2, "m" 1, anything else 0 (the comparison is exact).
    static int genderNumber(const std::optional<std::string>& gender);

    void getAd() override;
    void stopBeingDelegate() override;

    // OrbisAdDelegate.
    bool responds(std::string_view selector) const override;
    std::optional<std::string> siteId() override;
    std::shared_ptr<platform::ViewController> rootViewControllerForAd() override;
    std::optional<bool> testMode() override;
    std::optional<bool> isLocationInquiryAllowed() override;
    std::optional<platform::Location> currentLocation() override;
    std::optional<std::string> postalCode() override;
    std::optional<std::string> areaCode() override;
    std::optional<platform::Date> dateOfBirth() override;
    std::optional<int> gender() override;
    std::optional<std::string> keywords() override;
    std::optional<unsigned> income() override;
    std::optional<int> education() override;
    std::optional<int> ethnicity() override;
    std::optional<int> age() override;
    std::optional<std::string> interests() override;
    void adReceivedNotification(OrbisAdManager& banner) override;
    void adFailedNotification(OrbisAdManager& banner) override;
    void adModalScreenDisplayNotification(OrbisAdManager& banner) override;
    void adModalScreenDismissNotification(OrbisAdManager& banner) override;

private:
    OrbisAdManager* banner() const;
    bool isOwnBanner(const OrbisAdManager& banner) const { return &banner == this->banner(); }
    // True the first time only: a request has one outcome.
    bool takeOutcome();

    bool outcomeReported_ = false;
};

} // namespace orbis
