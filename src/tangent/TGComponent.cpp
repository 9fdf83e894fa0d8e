#include "tangent/TGComponent.h"

#include <string>

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "tangent/TGLog.h"

namespace tangent {

TGComponent::TGComponent(const char* className, const platform::Rect& frame,
                         std::weak_ptr<TGStateModifier> stateModifier, std::weak_ptr<TGDelegateAdaptor> languageDelegate)
    : platform::View(frame), stateModifer(std::move(stateModifier)), languageDelegate_(std::move(languageDelegate)),
      className_(className) {
    setOpaque(false);
    setBackgroundColor(platform::Color::clearColor());
}

TGComponent::~TGComponent() {
    TGLog::log(std::string("- dealloc: ") + className_);
}

bool TGComponent::statusBarHidden() const {
    return platform::Application::shared().isStatusBarHidden();
}

int TGComponent::getCurrentOrientation() const {
    return static_cast<int>(platform::Application::shared().statusBarOrientation());
}

void TGComponent::setCurrentSyncState(int state) {
    if (auto modifier = stateModifer.lock())
        modifier->setCurrentSyncState(state);
}

void TGComponent::setCurrentViewState(int state) {
    auto modifier = stateModifer.lock();
    if (!modifier)
        return;
    const int current = modifier->currentViewState();
    const bool allowed = (state == inactiveState && current == activeState) ||
                         (state == activeState && current == inactiveState);
    if (allowed)
        modifier->setCurrentViewState(state);
}

void TGComponent::setAdBackgroundColor(std::optional<platform::Color> colour) {
    adBackgroundColor_ = colour.value_or(platform::Color::clearColor());
}

void TGComponent::dropDelegates() {
    stateModifer.reset();
    languageDelegate_.reset();
}

} // namespace tangent
