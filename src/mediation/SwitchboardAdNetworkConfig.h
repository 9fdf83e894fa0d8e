#pragma once
// One network entry ("ration") of a mediation configuration: the network's type, id, name,
// weight and priority, its credentials, and the adapter class found for its type in the
// adapter registry. Immutable after creation; shared by the configuration, the slot and the
// adapter serving it.
//
// A ration object has "type" (integer, not 0), "nid" (string), "nname" (string), "priority"
// (integer, not 0; lower values are tried first), optionally "weight" (number; 0 when absent
// or not a number) and "key" (a string, kept as the credentials {"pubid": key}, or an object,
// kept as the credentials themselves). Integers and numbers may come as strings.
#include <memory>
#include <optional>
#include <string>

#include "mediation/SwitchboardForward.h"
#include "platform/foundation/Value.h"

namespace mediation {

class SwitchboardAdNetworkConfig {
public:
    // initWithDictionary:adNetworkRegistry:error: the entry, or nullptr when the ration is
    // incomplete or invalid or no adapter is registered for its type. The reason (an error of
    // code 30) goes to `error` when one is given, else to the log as a warning.
    static std::shared_ptr<SwitchboardAdNetworkConfig> create(const platform::Value& ration,
                                                              const SwitchboardAdNetworkRegistry* registry,
                                                              SwitchboardError* error);

    int networkType() const { return networkType_; }
    const std::string& nid() const { return nid_; }
    const std::string& networkName() const { return networkName_; }
    double trafficPercentage() const { return trafficPercentage_; }
    int priority() const { return priority_; }
    // The ration's key object, or {"pubid": key} for a string key; none without a key.
    const std::optional<platform::Dictionary>& credentials() const { return credentials_; }
    // The class that serves this network.
    const std::shared_ptr<const SwitchboardAdapterClass>& adapterClass() const { return adapterClass_; }

    // credentials["pubid"] when it is a string; none otherwise.
    std::optional<std::string> pubId() const;

    // "name:%@ type:%d nid:%@ weight:%lf priority:%d creds:%@"; the credentials part is the
    // pubId, or without one "{" followed by "key:value " per credential and "}".
    std::string description() const;

private:
    SwitchboardAdNetworkConfig() = default;

    int networkType_ = 0;
    std::string nid_;
    std::string networkName_;
    double trafficPercentage_ = 0;
    int priority_ = 0;
    std::optional<platform::Dictionary> credentials_;
    std::shared_ptr<const SwitchboardAdapterClass> adapterClass_;
};

} // namespace mediation
