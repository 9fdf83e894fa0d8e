#include "mediation/SwitchboardAdNetworkRegistry.h"

#include "mediation/SwitchboardLog.h"

namespace mediation {

SwitchboardAdNetworkRegistry& SwitchboardAdNetworkRegistry::sharedRegistry() {
    // Never destroyed: adapters may still look classes up while static objects go away.
    static auto* registry = new SwitchboardAdNetworkRegistry;
    return *registry;
}

void SwitchboardAdNetworkRegistry::registerClass(SwitchboardAdapterClass adapterClass) {
    if (!adapterClass.networkType || !adapterClass.create) {
        SBLogError("Cannot register adapter class %@: it has no network type or no factory",
                   adapterClass.name);
        return;
    }
    int type = adapterClass.networkType();
    auto wrapper = std::make_shared<const SwitchboardClassWrapper>(
        std::make_shared<const SwitchboardAdapterClass>(std::move(adapterClass)));
    adapterDict_.insert_or_assign(type, std::move(wrapper));
}

std::shared_ptr<const SwitchboardClassWrapper>
SwitchboardAdNetworkRegistry::adapterClassFor(int networkType) const {
    auto it = adapterDict_.find(networkType);
    return it == adapterDict_.end() ? nullptr : it->second;
}

std::vector<int> SwitchboardAdNetworkRegistry::registeredNetworkTypes() const {
    std::vector<int> types;
    for (const auto& [type, wrapper] : adapterDict_)
        types.push_back(type);
    return types;
}

} // namespace mediation
