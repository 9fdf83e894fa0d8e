#pragma once
// TGAdWidgetDelegate: what the Tangent widget asks of its host and tells it. Every question
// takes the widget as its first argument. Optional questions answer std::nullopt when the
// host does not implement them (or answers nil), and then the widget's default applies;
// optional callbacks do nothing by default.
//
// Hidden hooks (protocolVersion, baseUrl, interstitialInterval, renderInterval and the four
// modify hooks) are used only when their names are in quietSelectorNames(): the explicit list
// of the methods that the host's own class defines. A host that inherits a hook without
// listing it keeps the widget's defaults.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/Color.h"

namespace platform {
class ViewController;
}

namespace tangent {

class TGAdWidgetWorker;

class TGAdWidgetDelegate {
public:
    virtual ~TGAdWidgetDelegate() = default;

    // Required.
    virtual std::optional<std::string> publisherId(TGAdWidgetWorker& widget) = 0;

    // Optional questions.
    virtual std::optional<std::string> site(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::string> adSpot(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::string> query(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<int> adultContent(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::map<std::string, std::string>> extraParameters(TGAdWidgetWorker&) {
        return std::nullopt;
    }
    virtual std::optional<bool> isInterstitial(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<platform::Color> adBackgroundColor(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<platform::Color> adForegroundColor(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<platform::Location> location(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<bool> shouldRenderAd(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::string> getPlayVideoPrompt(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::string> getBackButtonPrompt(TGAdWidgetWorker&, bool /*isInterstitial*/) {
        return std::nullopt;
    }
    virtual std::optional<std::string> getSafariButtonPrompt(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::string> getAdvertisementTitle(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::shared_ptr<platform::ViewController> adViewController(TGAdWidgetWorker&) { return nullptr; }

    // Optional callbacks.
    virtual void beginAdInteraction(TGAdWidgetWorker&) {}
    virtual void endAdInteraction(TGAdWidgetWorker&) {}
    virtual void beginDisplayingInterstitial(TGAdWidgetWorker&) {}
    virtual void endDisplayingInterstitial(TGAdWidgetWorker&) {}
    virtual void adWidgetOrientationHasChangedTo(TGAdWidgetWorker&, int /*orientation*/) {}
    virtual void adWidgetDidFailToShowAd(TGAdWidgetWorker&, const std::optional<platform::Error>&) {}
    virtual void adWidgetDidFailToRequestAd(TGAdWidgetWorker&, const std::optional<platform::Error>&) {}

    // The host class's own method names, for the hidden hooks below.
    virtual std::vector<std::string> quietSelectorNames() const { return {}; }
    virtual std::optional<std::string> protocolVersion(TGAdWidgetWorker&) { return std::nullopt; }
    virtual std::optional<std::string> baseUrl(TGAdWidgetWorker&) { return std::nullopt; }
    virtual int interstitialInterval(TGAdWidgetWorker&) { return 0; }
    virtual int renderInterval(TGAdWidgetWorker&) { return 0; }
    virtual void adWidgetModifyAdContent(TGAdWidgetWorker&, std::string&) {}
    virtual void adWidgetModifyAdJs(TGAdWidgetWorker&, std::string&) {}
    virtual void adWidgetModifyAdCss(TGAdWidgetWorker&, std::string&) {}
    virtual void adWidgetModifyAdUrl(TGAdWidgetWorker&, std::string&) {}
};

} // namespace tangent
