#include "mediation/SwitchboardAdapterGeneric.h"

#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardView.h"

namespace mediation {

namespace {
const SwitchboardAdapterRegistrar<SwitchboardAdapterGeneric> kRegistrar;
constexpr const char* kDeveloperRequestSelector = "switchboardReceivedRequestForDeveloperToFufill:";
} // namespace

void SwitchboardAdapterGeneric::getAd() {
    auto keepAlive = shared_from_this();
    auto slot = switchboardView();
    auto d = switchboardDelegate();
    if (!d || !d->responds(kDeveloperRequestSelector)) {
        SBLogWarn("Delegate does not implement switchboardReceivedRequestForDeveloperToFufill");
        if (slot)
            slot->adapterDidFailAd(*this, std::nullopt);
        return;
    }
    d->switchboardReceivedRequestForDeveloperToFufill(dynamic_cast<SwitchboardView*>(slot.get()));
    if (auto current = switchboardView()) // the host may have let the slot go
        current->adapterDidFinishAdRequest(*this);
}

} // namespace mediation
