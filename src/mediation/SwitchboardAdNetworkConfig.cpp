#include "mediation/SwitchboardAdNetworkConfig.h"

#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardNumbers.h"

namespace mediation {
namespace {

constexpr const char* kNoFields =
    "Ad network config has no network type, network id, network name, or priority";
constexpr const char* kInvalidFields =
    "Ad network config has invalid network type, network id, network name or priority";
constexpr const char* kUnsupportedType = "Ad network type %d not supported, no adapter found";
constexpr const char* kPubIdKey = "pubid";

// Hands the error back, or logs it as a warning when the caller gave no place for it.
std::shared_ptr<SwitchboardAdNetworkConfig> fail(SwitchboardError* error, std::string description) {
    if (error)
        *error = SwitchboardError(kSBErrorConfigInvalid, std::move(description));
    else
        SBLogWarn("%@", description);
    return nullptr;
}

} // namespace

std::shared_ptr<SwitchboardAdNetworkConfig>
SwitchboardAdNetworkConfig::create(const platform::Value& ration,
                                   const SwitchboardAdNetworkRegistry* registry, SwitchboardError* error) {
    const platform::Value* type = ration.find("type");
    const platform::Value* nid = ration.find("nid");
    const platform::Value* name = ration.find("nname");
    const platform::Value* priority = ration.find("priority");
    if (!type || !nid || !name || !priority)
        return fail(error, kNoFields);

    std::shared_ptr<SwitchboardAdNetworkConfig> entry(new SwitchboardAdNetworkConfig);
    sbIntVal(entry->networkType_, type);
    sbIntVal(entry->priority_, priority);
    if (!sbDoubleVal(entry->trafficPercentage_, ration.find("weight")))
        entry->trafficPercentage_ = 0;
    const std::string* nidText = nid->string();
    const std::string* nameText = name->string();
    if (entry->networkType_ == 0 || !nidText || !nameText || entry->priority_ == 0)
        return fail(error, kInvalidFields);
    entry->nid_ = *nidText;
    entry->networkName_ = *nameText;

    if (const platform::Value* key = ration.find("key")) {
        if (auto s = key->string())
            entry->credentials_ = platform::Dictionary{{kPubIdKey, platform::Value(*s)}};
        else if (auto d = key->dictionary())
            entry->credentials_ = *d;
    }

    auto wrapper = registry ? registry->adapterClassFor(entry->networkType_) : nullptr;
    if (!wrapper || !wrapper->theClass())
        return fail(error, sbFormat(kUnsupportedType, entry->networkType_));
    entry->adapterClass_ = wrapper->theClass();
    return entry;
}

std::optional<std::string> SwitchboardAdNetworkConfig::pubId() const {
    if (!credentials_)
        return std::nullopt;
    auto it = credentials_->find(kPubIdKey);
    if (it == credentials_->end() || !it->second.isString())
        return std::nullopt;
    return *it->second.string();
}

std::string SwitchboardAdNetworkConfig::description() const {
    std::string creds;
    if (auto pub = pubId()) {
        creds = *pub;
    } else {
        creds = "{";
        if (credentials_)
            for (const auto& [k, v] : *credentials_)
                creds += k + ":" + SBLogArg::describeValue(v) + " ";
        creds += "}";
    }
    return sbFormat("name:%@ type:%d nid:%@ weight:%lf priority:%d creds:%@", networkName_, networkType_,
                    nid_, trafficPercentage_, priority_, creds);
}

} // namespace mediation
