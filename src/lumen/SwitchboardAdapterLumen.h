#pragma once
// SwitchboardAdapterLumen (network type 1): shows a Lumen banner in the mediation slot.
// getAd fills a request from the slot host's optional answers (test mode, colours, location
// when the configuration allows it, gender, birthday, keywords), makes a 320x50 banner (728x90
// on a tablet) with the adapter as its delegate and starts the load. The banner's events come
// back as the slot's callbacks: each load of the banner, its own refreshes included, ends in
// one adapterDidReceiveAdView or one adapterDidFailAd; full-screen screens become the slot's
// modal begin and end.
//
// Ownership: the adapter owns its banner (adNetworkView); the banner holds the adapter weakly
// and stopBeingDelegate detaches it (safe twice). Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "lumen/BannerView.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"

namespace lumen {

class SwitchboardAdapterLumen final : public mediation::SwitchboardAdNetworkAdapter,
                                      public LMNBannerViewDelegate {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
    static constexpr platform::Size kPhoneBannerSize{320, 50};
    static constexpr platform::Size kTabletBannerSize{728, 90};

    static int networkType() { return 1; }
    static std::string delegatePublisherIdSelector() { return "lumenPublisherID"; }
    // Six upper-case hexadecimal digits of the colour's red, green and blue.
    static std::optional<std::string> hexStringFromUIColor(const platform::Color& color);

    void getAd() override;
    void stopBeingDelegate() override;
    std::optional<std::string> publisherId() const;
    LMNBannerView* banner() const { return dynamic_cast<LMNBannerView*>(adNetworkView().get()); }

    // LMNBannerViewDelegate.
    bool responds(std::string_view selector) const override;
    void adViewDidReceiveAd(LMNBannerView* view) override;
    void adViewDidFailToReceiveAdWithError(LMNBannerView* view, const platform::Error& error) override;
    void adViewWillPresentScreen(LMNBannerView* view) override;
    void adViewDidDismissScreen(LMNBannerView* view) override;

private:
    bool isOwnBanner(const LMNBannerView* view) const { return view && view == banner(); }
};

} // namespace lumen
