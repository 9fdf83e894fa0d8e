#pragma once
// One mediation configuration: the settings and network entries that the configuration
// service answers for one application key.
//
// A configuration is created empty for its key (create), builds its own request URL
// (configURL), is fetched and parsed once by the configuration store (parseConfig; a second
// parse is refused), and then tells its delegates. The reply comes in two formats:
// - current: an object {"extra": {settings}, "rations": [ration, ...]};
// - legacy: an array of up to three objects whose keys read "<network>_<field>"
//   (lumen_ration, lumen_key, lumen_priority), then a settings object; further elements are
//   ignored. Networks are named, and their names map to type numbers (kLegacyNetworkTypes).
// Each ration becomes a SwitchboardAdNetworkConfig; a ration that cannot (incomplete,
// invalid, or a type without adapter) is dropped with a warning and the others are kept.
// When no ration with weight is left, adsAreOff() is true.
//
// Settings of "extra" (numbers may be JSON numbers or strings holding one; any other type
// leaves the setting as it was):
//   "background_color_rgb", "text_color_rgb": colour objects (SwitchboardColor.h)
//   "refresh_interval" (else "cycle_time"): seconds; 30000 or more means no refresh (0)
//   "location_on": non-zero allows adapters to send the location; turned off when the
//                  device's location services are off (platform::LocationManager)
//   "transition" (else "banner_animation_type"): 0 to 8; other values are ignored
//   "fullscreen_wait_interval", "fullscreen_max_ads": stored, read by nothing
//
// Delegates are held weakly and told, in the order they were added, synchronously, on the
// thread that parses (the main thread). Not thread-safe.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mediation/SwitchboardForward.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Color.h"

namespace mediation {

// Who is told when a configuration is ready or failed (the slot, and the slot's class for
// class-level fetches). Every item is optional.
class SwitchboardConfigDelegate {
public:
    virtual ~SwitchboardConfigDelegate() = default;
    virtual void switchboardConfigDidReceiveConfig(SwitchboardConfig& config) { (void)config; }
    virtual void switchboardConfigDidFail(SwitchboardConfig& config, const platform::Error& error) {
        (void)config;
        (void)error;
    }
    // Base URL of the configuration request; none: the default endpoint.
    virtual std::optional<std::string> switchboardConfigURL() { return std::nullopt; }
};

struct LegacyNetworkType {
    std::string_view name;
    int type;
};

// Network names of the legacy format and their type numbers.
inline constexpr std::array<LegacyNetworkType, 17> kLegacyNetworkTypes = {{
    {"lumen", 1},
    {"tangent", 2},
    {"pumice", 3},
    {"vellum", 4},
    {"tundra", 5},
    {"meridian", 6},
    {"cobalt", 7},
    {"harbor", 8},
    {"custom", 9},
    {"switchboard_10", 10},
    {"clover", 11},
    {"switchboard_12", 12},
    {"switchboard_13", 13},
    {"lumen_syndication", 14},
    {"lumen_exchange", 15},
    {"generic", 16},
    {"orbis", 18},
}};

class SwitchboardConfig : public std::enable_shared_from_this<SwitchboardConfig> {
public:
    // Defaults before any reply is parsed.
    static constexpr double kDefaultRefreshInterval = 60.0;
    static constexpr int kDefaultBannerAnimationType = 8; // random
    static constexpr int kDefaultFullscreenWaitInterval = 60;
    static constexpr int kDefaultFullscreenMaxAds = 2;

    // initWithAppKey:delegate: the configuration in its initial state, with `delegate` (when
    // given) as its first delegate. The request URL's base is the delegate's
    // switchboardConfigURL when it answers one, else the default configuration endpoint.
    static std::shared_ptr<SwitchboardConfig>
    create(std::string appKey, const std::shared_ptr<SwitchboardConfigDelegate>& delegate);

    // Parses a reply (UTF-8 JSON). On success marks the configuration ready, tells every
    // delegate switchboardConfigDidReceiveConfig and answers true. On failure answers false and
    // fills `error` (code 20: not readable JSON, with the reader's error as underlying error;
    // code 30: wrong structure or already parsed); the delegates hear nothing.
    bool parseConfig(std::string_view data, SwitchboardError* error);
    // The steps of the parse: the current format, the legacy format and the settings object.
    bool parseNewConfig(const platform::Value& config, SwitchboardError* error);
    bool parseLegacyConfig(const platform::Array& config, SwitchboardError* error);
    bool parseExtraConfig(const platform::Value* extra, SwitchboardError* error);

    // Adds a delegate (held weakly) unless it is already there (false then).
    bool addDelegate(const std::shared_ptr<SwitchboardConfigDelegate>& delegate);
    // Removes a delegate; false when it was not there.
    bool removeDelegate(const SwitchboardConfigDelegate* delegate);
    // Tells every delegate switchboardConfigDidFail with `error`.
    void notifyDelegatesOfFailure(const platform::Error& error);

    const std::string& appKey() const { return appKey_; }
    const std::string& configURL() const { return configURL_; }
    // The reply was in the legacy array format.
    bool legacy() const { return legacy_; }
    bool adsAreOff() const { return adsAreOff_; }
    // The entries in the order read.
    const std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>>& adNetworkConfigs() const {
        return adNetworkConfigs_;
    }
    // None when the reply's colour object was malformed.
    const std::optional<platform::Color>& backgroundColor() const { return backgroundColor_; }
    const std::optional<platform::Color>& textColor() const { return textColor_; }
    double refreshInterval() const { return refreshInterval_; }
    bool locationOn() const { return locationOn_; }
    int bannerAnimationType() const { return bannerAnimationType_; }
    int fullscreenWaitInterval() const { return fullscreenWaitInterval_; }
    int fullscreenMaxAds() const { return fullscreenMaxAds_; }
    bool hasConfig() const { return hasConfig_; }
    // Where adapter classes are looked up; the shared registry unless set.
    SwitchboardAdNetworkRegistry* adNetworkRegistry() const { return adNetworkRegistry_; }
    void setAdNetworkRegistry(SwitchboardAdNetworkRegistry* registry) { adNetworkRegistry_ = registry; }

    // "<SwitchboardConfig: address>:\n<settings> networks:(entries)", the settings being
    // "location_access:%d fg_color:%@ bg_color:%@ cycle_time:%lf transition:%d".
    std::string description() const;

private:
    explicit SwitchboardConfig(std::string appKey);

    // Delegates that are still alive, in order; the copy keeps them alive while being told.
    std::vector<std::shared_ptr<SwitchboardConfigDelegate>> liveDelegates();

    std::string appKey_;
    std::string configURL_;
    bool legacy_ = false;
    bool adsAreOff_ = false;
    std::vector<std::shared_ptr<SwitchboardAdNetworkConfig>> adNetworkConfigs_;
    std::optional<platform::Color> backgroundColor_;
    std::optional<platform::Color> textColor_;
    double refreshInterval_ = kDefaultRefreshInterval;
    bool locationOn_ = true;
    int bannerAnimationType_ = kDefaultBannerAnimationType;
    int fullscreenWaitInterval_ = kDefaultFullscreenWaitInterval;
    int fullscreenMaxAds_ = kDefaultFullscreenMaxAds;
    // The identity is kept beside the weak reference so that a delegate can still remove
    // itself while it is being destroyed.
    struct DelegateRef {
        const SwitchboardConfigDelegate* identity;
        std::weak_ptr<SwitchboardConfigDelegate> ref;
    };
    std::vector<DelegateRef> delegates_;
    bool hasConfig_ = false;
    SwitchboardAdNetworkRegistry* adNetworkRegistry_;
};

} // namespace mediation
