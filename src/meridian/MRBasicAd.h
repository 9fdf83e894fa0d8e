#pragma once
// MRBasicAd: the ad-model interface of the Meridian client. It answers how an ad wants its
// landing-page overlay, bottom bar, title bar and transitions treated; this base holds the
// answers of an ad without a page. MRHTMLAd (page functions) and the JSON ad model override
// them. Owned by the view that shows the ad; main thread only; no callbacks of its own.
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace meridian {

class MRBasicAd {
public:
    static constexpr std::string_view kDefaultOverlayTitle = "Advertisement.";

    virtual ~MRBasicAd() = default;

    // View-transition number of a transition name: "FlipLeft" 1, "FlipRight" 2, "CurlUp" 3,
    // "CurlDown" 4, anything else 0.
    static int transitionFromHeader(std::string_view name);

    virtual std::optional<platform::URL> openURL() { return std::nullopt; }
    virtual std::string overlayTitle() { return std::string(kDefaultOverlayTitle); }
    virtual bool shouldShowModal() { return false; }
    virtual platform::Size modalSize() { return {}; }
    virtual std::optional<platform::Color> modalBorderColor() { return std::nullopt; }
    virtual platform::Point modalLocation() { return {}; }
    virtual double alphaForModalBorder() { return 0.0; }
    virtual bool shouldMakeOverlayTransparent() { return false; }
    virtual bool showTitlebar() { return true; }
    virtual std::optional<platform::Color> titlebarColor() { return std::nullopt; }
    virtual std::optional<std::string> overlayTransition() { return std::nullopt; }
    virtual bool showBottomBar() { return true; }
    virtual bool isBottomBarEnabled() { return true; }
    virtual int orientationLock() { return 0; }
    virtual bool shouldAccelerate() { return false; }
    virtual double transitionDuration() { return 0.0; }

    // Polls and timers driven by the overlay; an ad without a page has none.
    virtual void startBottomBarTimer() {}
    virtual void stopShowBottomBarTimer() {}
    virtual void startEnableBottomBarTimer() {}
    virtual void stopEnableBottomBarTimer() {}
    virtual void startCloseOverlayTimer() {}
    virtual void stopCloseOverlayTimer() {}
};

} // namespace meridian
