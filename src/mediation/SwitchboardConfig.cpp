#include "mediation/SwitchboardConfig.h"

#include <algorithm>
#include <map>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardColor.h"
#include "mediation/SwitchboardEndpoints.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardNumbers.h"
#include "platform/location/LocationManager.h"

namespace mediation {
namespace {

constexpr std::string_view kConfigPath = "getInfo.php";
constexpr const char* kConfigQuery = "appid=%@&appver=%d&client=1";

// A refresh interval at or above this means no refresh.
constexpr int kNoRefreshInterval = 30000;
constexpr int kMaxBannerAnimationType = 8;

// Legacy format.
constexpr std::size_t kLegacyExtraIndex = 3;
constexpr std::string_view kEmptyRationKey = "empty_ration";
constexpr int kAdsOffEmptyRation = 100;
constexpr std::string_view kDontCareNetwork = "dontcare";
constexpr std::string_view kRelayNetwork = "relay";
constexpr std::string_view kRelayTargetPrefix = "switchboard_";
constexpr std::string_view kLegacyRationField = "ration";

constexpr const char* kJSONReaderErrorDomain = "JSONReaderErrorDomain";
constexpr int kJSONReaderErrorCode = 1;

// The value of the first key present; the alternative is read only when the first is absent.
const platform::Value* findEither(const platform::Value& dict, const char* first, const char* alternative) {
    if (const platform::Value* v = dict.find(first))
        return v;
    return dict.find(alternative);
}

bool failWith(SwitchboardError* error, int code, std::string description) {
    if (error)
        *error = SwitchboardError(code, std::move(description));
    return false;
}

// Truncates toward zero, saturating instead of overflowing.
long long truncatedWeight(double weight) {
    constexpr double kLimit = 9.2e18;
    if (weight >= kLimit)
        return static_cast<long long>(kLimit);
    if (weight <= -kLimit)
        return -static_cast<long long>(kLimit);
    return static_cast<long long>(weight);
}

std::optional<int> legacyNetworkType(std::string_view name) {
    for (const auto& row : kLegacyNetworkTypes)
        if (row.name == name)
            return row.type;
    return std::nullopt;
}

} // namespace

SwitchboardConfig::SwitchboardConfig(std::string appKey)
    : appKey_(std::move(appKey)), backgroundColor_(platform::Color::white(0.3)),
      textColor_(platform::Color::whiteColor()),
      adNetworkRegistry_(&SwitchboardAdNetworkRegistry::sharedRegistry()) {}

std::shared_ptr<SwitchboardConfig>
SwitchboardConfig::create(std::string appKey, const std::shared_ptr<SwitchboardConfigDelegate>& delegate) {
    std::shared_ptr<SwitchboardConfig> config(new SwitchboardConfig(std::move(appKey)));
    std::optional<std::string> base;
    if (delegate) {
        config->delegates_.push_back({delegate.get(), delegate});
        base = delegate->switchboardConfigURL();
    }
    if (!base)
        base = switchboardDefaultEndpoint(kConfigPath);
    // The key is escaped: it is the host's text and must not change the query's structure.
    config->configURL_ =
        switchboardURLWithQuery(*base, sbFormat(kConfigQuery, switchboardEscapeQueryValue(config->appKey_),
                                                kSwitchboardLibraryVersion));
    return config;
}

bool SwitchboardConfig::parseConfig(std::string_view data, SwitchboardError* error) {
    if (hasConfig_)
        return failWith(error, kSBErrorConfigInvalid, "Already has config, will not parse");

    std::string readerError;
    std::optional<platform::Value> parsed = platform::Value::fromJSON(data, &readerError);
    if (!parsed) {
        if (error)
            *error = SwitchboardError(
                kSBErrorConfigData, "Error parsing config JSON from server",
                platform::Error{kJSONReaderErrorDomain, kJSONReaderErrorCode, readerError, {}});
        return false;
    }

    bool ok;
    if (const platform::Array* array = parsed->array()) {
        legacy_ = true;
        ok = parseLegacyConfig(*array, error);
    } else if (parsed->isDictionary()) {
        ok = parseNewConfig(*parsed, error);
    } else {
        return failWith(error, kSBErrorConfigInvalid, "Expected top-level dictionary in config data");
    }
    if (!ok)
        return false;

    hasConfig_ = true;
    for (const auto& delegate : liveDelegates())
        delegate->switchboardConfigDidReceiveConfig(*this);
    return true;
}

bool SwitchboardConfig::parseNewConfig(const platform::Value& config, SwitchboardError* error) {
    if (!parseExtraConfig(config.find("extra"), error))
        return false;

    const platform::Value* rations = config.find("rations");
    const platform::Array* list = rations ? rations->array() : nullptr;
    if (!list) {
        SBLogError("No rations array in ad network config");
        adsAreOff_ = true;
        return true;
    }
    if (list->empty()) {
        adsAreOff_ = true;
        return true;
    }

    adsAreOff_ = false;
    double totalWeight = 0;
    for (const platform::Value& ration : *list) {
        if (!ration.isDictionary()) {
            SBLogWarn("Element in rations array is not a dictionary %@ in ad network config", ration);
            continue;
        }
        SwitchboardError entryError(kSBErrorConfigInvalid, std::optional<std::string>(), std::nullopt);
        auto entry = SwitchboardAdNetworkConfig::create(ration, adNetworkRegistry_, &entryError);
        if (!entry) {
            SBLogWarn("Cannot create ad network config from %@: %@", ration, entryError.localizedDescription);
            continue;
        }
        totalWeight += entry->trafficPercentage();
        adNetworkConfigs_.push_back(std::move(entry));
    }
    if (totalWeight == 0)
        adsAreOff_ = true;
    return true;
}

bool SwitchboardConfig::parseExtraConfig(const platform::Value* extra, SwitchboardError* /*error*/) {
    if (!extra || !extra->isDictionary()) {
        SBLogWarn("No extra info dict in ad network config");
        return true;
    }

    if (const platform::Value* v = extra->find("background_color_rgb"))
        backgroundColor_ = colorInitWithDict(v);
    if (const platform::Value* v = extra->find("text_color_rgb"))
        textColor_ = colorInitWithDict(v);

    int intValue = 0;
    if (sbIntVal(intValue, findEither(*extra, "refresh_interval", "cycle_time")))
        refreshInterval_ = intValue >= kNoRefreshInterval ? 0.0 : static_cast<double>(intValue);

    if (sbIntVal(intValue, extra->find("location_on"))) {
        locationOn_ = intValue != 0;
        if (locationOn_ && !platform::LocationManager::locationServicesEnabled()) {
            SBLogDebug("User disabled location services, set locationOn to NO");
            locationOn_ = false;
        }
    }

    if (sbIntVal(intValue, findEither(*extra, "transition", "banner_animation_type")) && intValue >= 0 &&
        intValue <= kMaxBannerAnimationType)
        bannerAnimationType_ = intValue;

    if (sbIntVal(intValue, extra->find("fullscreen_wait_interval")))
        fullscreenWaitInterval_ = intValue;
    if (sbIntVal(intValue, extra->find("fullscreen_max_ads")))
        fullscreenMaxAds_ = intValue;
    return true;
}

bool SwitchboardConfig::parseLegacyConfig(const platform::Array& config, SwitchboardError* error) {
    // Working dictionaries of the named networks; ordered by name.
    std::map<std::string, platform::Value, std::less<>> networks;

    for (std::size_t index = 0; index < config.size(); ++index) {
        const platform::Value& element = config[index];
        if (!element.isDictionary())
            return failWith(error, kSBErrorConfigInvalid, "Expected dictionary in config data");
        if (index == kLegacyExtraIndex) {
            if (!parseExtraConfig(&element, error))
                return false;
            continue;
        }
        if (index > kLegacyExtraIndex) {
            SBLogWarn("Ignoring element at index %d in legacy config", index);
            continue;
        }
        for (const auto& [key, value] : *element.dictionary()) {
            int intValue = 0;
            if (key == kEmptyRationKey && sbIntVal(intValue, &value) && intValue == kAdsOffEmptyRation) {
                adsAreOff_ = true;
                return true;
            }
            adsAreOff_ = false;
            auto underscore = key.rfind('_');
            if (underscore == std::string::npos)
                return failWith(error, kSBErrorConfigInvalid,
                                sbFormat("Expected underscore delimiter in key '%@'", key));
            std::string_view name = std::string_view(key).substr(0, underscore);
            std::string_view field = std::string_view(key).substr(underscore + 1);
            if (name.empty())
                return failWith(error, kSBErrorConfigInvalid,
                                sbFormat("Empty ad network name in key '%@'", key));
            if (field.empty())
                return failWith(error, kSBErrorConfigInvalid, sbFormat("Empty value name in key '%@'", key));
            if (name == kDontCareNetwork)
                continue;
            auto it = networks.find(name);
            if (it == networks.end())
                it = networks.emplace(std::string(name), platform::Value(platform::Dictionary{})).first;
            it->second[field == kLegacyRationField ? std::string_view("weight") : field] = value;
        }
    }

    if (auto relay = networks.find(kRelayNetwork); relay != networks.end()) {
        SBLogDebug("Processing Relay config %@", relay->second);
        std::size_t targets = std::count_if(networks.begin(), networks.end(), [](const auto& n) {
            return std::string_view(n.first).starts_with(kRelayTargetPrefix);
        });
        // Without a target nothing changes (and nothing is divided by zero).
        if (targets > 0) {
            int relayWeight = 0;
            sbIntVal(relayWeight, relay->second.find("weight"));
            int share = relayWeight / static_cast<int>(targets);
            const platform::Value* relayKey = relay->second.find("key");
            for (auto& [name, dict] : networks) {
                if (!std::string_view(name).starts_with(kRelayTargetPrefix))
                    continue;
                dict["weight"] = platform::Value(share);
                // Without a relay key the network keeps its own.
                if (relayKey)
                    dict["key"] = *relayKey;
            }
        }
    }

    long long totalWeight = 0;
    for (auto& [name, dict] : networks) {
        if (name == kRelayNetwork)
            continue;
        std::optional<int> type = legacyNetworkType(name);
        if (!type) {
            SBLogWarn("Unrecognized ad network '%@' in legacy config, ignored", name);
            continue;
        }
        dict["nname"] = platform::Value(name);
        dict["nid"] = platform::Value(std::to_string(*type));
        dict["type"] = platform::Value(*type);
        SwitchboardError entryError(kSBErrorConfigInvalid, std::optional<std::string>(), std::nullopt);
        auto entry = SwitchboardAdNetworkConfig::create(dict, adNetworkRegistry_, &entryError);
        if (!entry) {
            SBLogWarn("Cannot create ad network config from %@: %@", dict, entryError.localizedDescription);
            continue;
        }
        totalWeight += truncatedWeight(entry->trafficPercentage());
        adNetworkConfigs_.push_back(std::move(entry));
    }
    if (totalWeight == 0)
        adsAreOff_ = true;
    return true;
}

std::vector<std::shared_ptr<SwitchboardConfigDelegate>> SwitchboardConfig::liveDelegates() {
    std::vector<std::shared_ptr<SwitchboardConfigDelegate>> live;
    live.reserve(delegates_.size());
    for (const auto& d : delegates_)
        if (auto strong = d.ref.lock())
            live.push_back(std::move(strong));
    return live;
}

bool SwitchboardConfig::addDelegate(const std::shared_ptr<SwitchboardConfigDelegate>& delegate) {
    if (!delegate)
        return false;
    // Entries of delegates that are gone are dropped first: their address may be reused.
    std::erase_if(delegates_, [](const DelegateRef& d) { return d.ref.expired(); });
    for (const auto& d : delegates_)
        if (d.identity == delegate.get())
            return false;
    delegates_.push_back({delegate.get(), delegate});
    return true;
}

bool SwitchboardConfig::removeDelegate(const SwitchboardConfigDelegate* delegate) {
    auto it = std::find_if(delegates_.begin(), delegates_.end(),
                           [&](const DelegateRef& d) { return d.identity == delegate; });
    if (it == delegates_.end())
        return false;
    delegates_.erase(it);
    return true;
}

void SwitchboardConfig::notifyDelegatesOfFailure(const platform::Error& error) {
    for (const auto& delegate : liveDelegates())
        delegate->switchboardConfigDidFail(*this, error);
}

std::string SwitchboardConfig::description() const {
    std::string networks = "(";
    for (std::size_t i = 0; i < adNetworkConfigs_.size(); ++i)
        networks += (i ? ",\n    " : "\n    ") + adNetworkConfigs_[i]->description();
    networks += adNetworkConfigs_.empty() ? ")" : "\n)";
    std::string self = sbFormat("<SwitchboardConfig: %p>", static_cast<const void*>(this));
    std::string settings = sbFormat("location_access:%d fg_color:%@ bg_color:%@ cycle_time:%lf transition:%d",
                                    locationOn_, describeColor(textColor_), describeColor(backgroundColor_),
                                    refreshInterval_, bannerAnimationType_);
    return sbFormat("%@:\n%@ networks:%@", self, settings, networks);
}

} // namespace mediation
