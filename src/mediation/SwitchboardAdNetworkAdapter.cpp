#include "mediation/SwitchboardAdNetworkAdapter.h"

#include <cxxabi.h>

#include <cstdlib>

#include "mediation/SwitchboardLog.h"

namespace mediation {

std::string switchboardClassName(const std::type_info& type) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    return name;
}

SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter(
    std::weak_ptr<SwitchboardDelegate> switchboardDelegate,
    std::weak_ptr<SwitchboardViewInterface> switchboardView,
    std::shared_ptr<SwitchboardConfig> switchboardConfig,
    std::shared_ptr<SwitchboardAdNetworkConfig> networkConfig) {
    setSwitchboardDelegate(std::move(switchboardDelegate));
    setSwitchboardView(std::move(switchboardView));
    setSwitchboardConfig(std::move(switchboardConfig));
    setNetworkConfig(std::move(networkConfig));
}

SwitchboardAdNetworkAdapter::~SwitchboardAdNetworkAdapter() = default;

void SwitchboardAdNetworkAdapter::teardown() {
    stopBeingDelegate();
    // A modal mark this adapter set and never cleared would hold the slot's requests back
    // for good; it ends with the adapter.
    if (modalShown_)
        helperNotifyDelegateOfFullScreenModalDismissal();
    switchboardDelegate_.reset();
    switchboardView_.reset();
    switchboardConfig_.reset();
    networkConfig_.reset();
    adNetworkView_.reset();
}

void SwitchboardAdNetworkAdapter::rotateToOrientation(int orientation) {
    SBLogDebug("rotate to orientation %d called for adapter %@", orientation, className());
}

bool SwitchboardAdNetworkAdapter::isBannerAnimationOK(int /*transitionType*/) const {
    return true;
}

void SwitchboardAdNetworkAdapter::setSwitchboardDelegate(std::weak_ptr<SwitchboardDelegate> delegate) {
    switchboardDelegate_ = std::move(delegate);
}

void SwitchboardAdNetworkAdapter::setSwitchboardView(std::weak_ptr<SwitchboardViewInterface> view) {
    switchboardView_ = std::move(view);
}

void SwitchboardAdNetworkAdapter::setSwitchboardConfig(std::shared_ptr<SwitchboardConfig> config) {
    switchboardConfig_ = std::move(config);
}

void SwitchboardAdNetworkAdapter::setNetworkConfig(
    std::shared_ptr<SwitchboardAdNetworkConfig> networkConfig) {
    networkConfig_ = std::move(networkConfig);
}

void SwitchboardAdNetworkAdapter::setAdNetworkView(std::shared_ptr<platform::View> view) {
    adNetworkView_ = std::move(view);
}

std::string SwitchboardAdNetworkAdapter::className() const {
    return switchboardClassName(typeid(*this));
}

} // namespace mediation
