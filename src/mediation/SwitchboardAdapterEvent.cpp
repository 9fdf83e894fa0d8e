#include "mediation/SwitchboardAdapterEvent.h"

#include <exception>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardView.h"

namespace mediation {

namespace {
const SwitchboardAdapterRegistrar<SwitchboardAdapterEvent> kRegistrar;
} // namespace

std::optional<std::string> SwitchboardAdapterEvent::methodNameFromKey(std::string_view key) {
    auto at = key.find(kKeySeparator);
    if (at == std::string_view::npos)
        return std::nullopt;
    auto name = key.substr(at + kKeySeparator.size());
    if (name.empty())
        return std::nullopt;
    return std::string(name);
}

void SwitchboardAdapterEvent::getAd() {
    auto keepAlive = shared_from_this();
    auto slot = switchboardView();
    auto fail = [&] {
        if (auto current = switchboardView())
            current->adapterDidFailAd(*this, std::nullopt);
    };

    std::optional<std::string> key = networkConfig() ? networkConfig()->pubId() : std::nullopt;
    auto method = key ? methodNameFromKey(*key) : std::nullopt;
    if (!method) {
        SBLogWarn("Event ration key %@ names no function", key);
        fail();
        return;
    }
    std::string withArgument = *method + ":";
    auto d = switchboardDelegate();
    bool performed = false;
    try {
        if (d && d->responds(*method))
            performed = d->performEventAction(*method, nullptr);
        if (!performed && d && d->responds(withArgument))
            performed = d->performEventAction(withArgument, dynamic_cast<SwitchboardView*>(slot.get()));
    } catch (const std::exception& e) {
        SBLogError("Event function %@ failed: %@", *method, e.what());
        fail();
        return;
    }
    if (!performed) {
        SBLogWarn("Delegate does not implement function %@ nor %@", *method, withArgument);
        fail();
        return;
    }
    if (auto current = switchboardView())
        current->adapterDidFinishAdRequest(*this);
}

} // namespace mediation
