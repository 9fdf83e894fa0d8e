#pragma once
// SwitchboardAdapterCobalt (network type 7): shows Cobalt banners in the mediation slot.
// The first adapter of the process starts the Cobalt engine with two slots: "cbBanner" and,
// on a tablet, "skyscraperSlot" (728x90), else "cbFullScreen". Each request puts the banner
// slot's one ad view into a pair of clear containers that become the adapter's view. The first
// banner is reported when the engine says the slot's ad is ready; later requests succeed at
// once when the next banner has been downloaded and at least the engine's minimum refresh
// interval (5 s) has passed since the last reported banner, and fail at once otherwise.
//
// A request that fails leaves the slot's view where it is (with the adapter whose ad is on
// screen). A start-up failure of the engine makes the request fail. The view holds its
// delegate weakly, and an adapter going away stops being its delegate.
//
// Ownership: the adapter owns its containers; the engine owns the slot's view. Main thread.
#include <memory>
#include <string>

#include "cobalt/CBAdEngine.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "platform/ui/Geometry.h"

namespace cobalt {

class CBAdView;

class SwitchboardAdapterCobalt final : public mediation::SwitchboardAdNetworkAdapter, public CobaltDelegate {
public:
    static constexpr const char* kBannerSlotName = "cbBanner";
    static constexpr const char* kFullScreenSlotName = "cbFullScreen";
    static constexpr const char* kSkyscraperSlotName = "skyscraperSlot";
    static constexpr platform::Size kPhoneContainerSize{320, 53};
    static constexpr platform::Size kTabletContainerSize{728, 90};

    SwitchboardAdapterCobalt(std::weak_ptr<mediation::SwitchboardDelegate> switchboardDelegate,
                             std::weak_ptr<mediation::SwitchboardViewInterface> switchboardView,
                             std::shared_ptr<mediation::SwitchboardConfig> switchboardConfig,
                             std::shared_ptr<mediation::SwitchboardAdNetworkConfig> networkConfig);
    ~SwitchboardAdapterCobalt() override;

    static int networkType() { return 7; }
    // The banner slot of this device: "skyscraperSlot" on a tablet, "cbBanner" otherwise.
    static std::string bannerSlotName();
    static bool engineStarted();
    static double lastReadyTime();
    // Forgets the process-wide started flag and last ready time.
    static void resetForTesting();

    void getAd() override;
    void stopBeingDelegate() override {}
    void bannerAdReady();

    // CobaltDelegate
    void cobaltAdReadyForSlotNamed(const std::string& slotName) override;
    void cobaltFullScreenDisplayWillOpen() override;
    void cobaltFullScreenDisplayWillClose() override;

private:
    void startEngine();
    // Takes the slot's view (now with this adapter as its delegate) into new containers.
    void takeSlotView();
    void fail();

    std::shared_ptr<platform::View> innerContainer_;
    std::shared_ptr<platform::View> outerContainer_;
    std::weak_ptr<CBAdView> slotView_;
};

} // namespace cobalt
