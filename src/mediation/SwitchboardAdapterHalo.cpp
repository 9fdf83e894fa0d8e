#include "mediation/SwitchboardAdapterHalo.h"

#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/foundation/ClassTable.h"
#include "platform/ui/Device.h"

namespace mediation {

namespace {

constexpr int kFadeTransition = 7;
// The landscape orientations, as the host and the device number them.
constexpr int kLandscapeLeftOrientation = 3;
constexpr int kLandscapeRightOrientation = 4;

const SwitchboardAdapterRegistrar<SwitchboardAdapterHalo> kRegistrar;

bool isTablet() {
    return platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone;
}

bool isLandscape(int orientation) {
    return orientation == kLandscapeLeftOrientation || orientation == kLandscapeRightOrientation;
}

} // namespace

bool SwitchboardAdapterHalo::load() {
    if (!platform::ClassTable::hasClass(platform::kHaloBannerViewClassName))
        return false;
    SwitchboardAdNetworkRegistry::sharedRegistry().registerClass(
        switchboardAdapterClass<SwitchboardAdapterHalo>());
    return true;
}

platform::HaloBannerView* SwitchboardAdapterHalo::banner() const {
    return dynamic_cast<platform::HaloBannerView*>(adNetworkView().get());
}

bool SwitchboardAdapterHalo::isOwnBanner(const platform::HaloBannerView& banner) const {
    return &banner == this->banner();
}

void SwitchboardAdapterHalo::getAd() {
    auto slot = switchboardView();
    auto banner = platform::ClassTable::create<platform::HaloBannerView>(platform::kHaloBannerViewClassName);
    if (!banner) {
        SBLogError("Cannot create HaloBannerView");
        if (slot)
            slot->adapterDidFailAd(*this, std::nullopt);
        return;
    }
    banner->setFrame(platform::Rect());

    bool orientationNames = banner->definesOrientationSizeIdentifiers();
    kADBannerContentSizeIdentifierPortrait = orientationNames
                                                 ? platform::kHaloBannerContentSizeIdentifierPortrait
                                                 : platform::kHaloBannerContentSizeIdentifier320x50;
    kADBannerContentSizeIdentifierLandscape = orientationNames
                                                  ? platform::kHaloBannerContentSizeIdentifierLandscape
                                                  : platform::kHaloBannerContentSizeIdentifier480x32;

    bool tablet = isTablet();
    if (tablet)
        banner->setRequiredContentSizeIdentifiers(
            {kADBannerContentSizeIdentifierPortrait, kADBannerContentSizeIdentifierLandscape});
    else
        banner->setRequiredContentSizeIdentifiers({kADBannerContentSizeIdentifierPortrait});

    int orientation = static_cast<int>(platform::Device::current().orientation());
    if (auto d = switchboardDelegate(); d && d->responds("switchboardCurrentOrientation"))
        if (auto answer = d->switchboardCurrentOrientation())
            orientation = *answer;
    banner->setCurrentContentSizeIdentifier(tablet && isLandscape(orientation)
                                                ? kADBannerContentSizeIdentifierLandscape
                                                : kADBannerContentSizeIdentifierPortrait);

    std::shared_ptr<platform::HaloBannerViewDelegate> self(
        shared_from_this(), static_cast<platform::HaloBannerViewDelegate*>(this));
    banner->setDelegate(self);
    setAdNetworkView(banner);
}

void SwitchboardAdapterHalo::stopBeingDelegate() {
    if (auto* b = banner())
        b->setDelegate({});
}

bool SwitchboardAdapterHalo::isBannerAnimationOK(int transitionType) const {
    return transitionType != kFadeTransition;
}

void SwitchboardAdapterHalo::rotateToOrientation(int orientation) {
    auto* b = banner();
    if (!b)
        return;
    b->setCurrentContentSizeIdentifier(isTablet() && isLandscape(orientation)
                                           ? kADBannerContentSizeIdentifierLandscape
                                           : kADBannerContentSizeIdentifierPortrait);
    if (auto d = switchboardDelegate(); d && d->responds("switchboardDidReceiveAd:")) {
        d->switchboardDidReceiveAd(nullptr);
        platform::logLine("yes responed");
    }
    platform::Rect frame = b->frame();
    frame.origin = {0, 0};
    b->setFrame(frame);
}

void SwitchboardAdapterHalo::bannerViewDidLoadAd(platform::HaloBannerView& banner) {
    if (!isOwnBanner(banner))
        return;
    platform::Rect frame = banner.frame();
    frame.origin = {0, 0};
    banner.setFrame(frame);
    if (auto slot = switchboardView())
        slot->adapterDidReceiveAdView(*this, adNetworkView());
}

void SwitchboardAdapterHalo::bannerViewDidFailToReceiveAdWithError(platform::HaloBannerView& banner,
                                                                   const platform::Error& error) {
    if (!isOwnBanner(banner))
        return;
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, error);
}

bool SwitchboardAdapterHalo::bannerViewActionShouldBegin(platform::HaloBannerView& banner,
                                                         bool /*willLeaveApplication*/) {
    if (isOwnBanner(banner))
        helperNotifyDelegateOfFullScreenModal();
    return true; // the action always proceeds, also when it leaves the application
}

void SwitchboardAdapterHalo::bannerViewActionDidFinish(platform::HaloBannerView& banner) {
    if (isOwnBanner(banner))
        helperNotifyDelegateOfFullScreenModalDismissal();
}

} // namespace mediation
