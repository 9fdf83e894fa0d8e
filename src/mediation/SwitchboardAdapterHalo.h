#pragma once
// SwitchboardAdapterHalo (network type 19): shows the platform's Halo banner in the slot.
// It registers with the adapter registry while the program loads, but only when the
// platform has the banner class ("HaloBannerView" in the ClassTable); without it no Halo
// entry survives the configuration's parse.
//
// getAd makes a banner with a zero frame, asks for the portrait size (and the landscape one
// on a tablet), starts it in landscape only on a tablet held in landscape (orientation 3 or
// 4, the host's switchboardCurrentOrientation first, else the device's), becomes its
// delegate and keeps it as the adapter's view. The banner's load reaches the slot as
// adapterDidReceiveAdView, its failure (with its own error) as adapterDidFailAd; an action
// screen is framed by the two modal helpers, so the slot holds back meanwhile.
//
// Ownership: the adapter owns its banner; the banner holds the adapter weakly as its
// delegate and stopBeingDelegate detaches it (safe twice). Callbacks from a banner that is
// not this adapter's are ignored. Main thread only.
#include <string>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "platform/ui/HaloBannerView.h"

namespace mediation {

class SwitchboardAdapterHalo final : public SwitchboardAdNetworkAdapter,
                                     public platform::HaloBannerViewDelegate {
  public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    static int networkType() { return 19; }
    // Registers the class when the platform has the banner class; answers whether it did.
    static bool load();

    void getAd() override;
    void stopBeingDelegate() override;
    // The fade (7) does not suit the banner; every other transition does.
    bool isBannerAnimationOK(int transitionType) const override;
    void rotateToOrientation(int orientation) override;

    // HaloBannerViewDelegate.
    void bannerViewDidLoadAd(platform::HaloBannerView& banner) override;
    void bannerViewDidFailToReceiveAdWithError(platform::HaloBannerView& banner,
                                               const platform::Error& error) override;
    bool bannerViewActionShouldBegin(platform::HaloBannerView& banner, bool willLeaveApplication) override;
    void bannerViewActionDidFinish(platform::HaloBannerView& banner) override;

    // The size identifiers in use for portrait and for landscape.
    const std::string& portraitIdentifier() const { return kADBannerContentSizeIdentifierPortrait; }
    const std::string& landscapeIdentifier() const { return kADBannerContentSizeIdentifierLandscape; }

  private:
    platform::HaloBannerView* banner() const;
    bool isOwnBanner(const platform::HaloBannerView& banner) const;

    std::string kADBannerContentSizeIdentifierPortrait;
    std::string kADBannerContentSizeIdentifierLandscape;
};

} // namespace mediation
