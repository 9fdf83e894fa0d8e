#pragma once
// SwitchboardAdapterEvent (network type 17): calls a host action named by the ration's key.
// The key has the form label "|;|" name; the name is what follows the first separator.
// Since the name comes from the remote configuration, only actions that the host registered
// in its table of event actions (SwitchboardDelegate::setEventAction) can be reached: "name"
// (called without argument) when the host has it, else "name:" (called with the slot).
// After the call the request is reported as finished. A host with neither, a key without
// the separator or with an empty name, and an action that throws all fail the request with
// no error, after the warning "Delegate does not implement function %@ nor %@" for a missing
// action. Finishes within getAd; stopBeingDelegate does nothing. Main thread only.
#include <optional>
#include <string>
#include <string_view>

#include "mediation/SwitchboardAdNetworkAdapter.h"

namespace mediation {

class SwitchboardAdapterEvent final : public SwitchboardAdNetworkAdapter {
  public:
    // Separates the label from the action name in an event ration's key.
    static constexpr std::string_view kKeySeparator = "|;|";

    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    static int networkType() { return 17; }

    void getAd() override;
    void stopBeingDelegate() override {}

    // The action name of an event key; none when the key has no separator or no name.
    static std::optional<std::string> methodNameFromKey(std::string_view key);
};

} // namespace mediation
