#include "tangent/TGWebComponent.h"

#include <array>

#include "platform/foundation/Log.h"
#include "tangent/TGDelegateAdaptor.h"

namespace tangent {

namespace {

constexpr std::string_view kBeginDisplay = "Lantern.beginDisplay();";
// The page commands this component handles.
constexpr std::array<std::string_view, 2> kHandled = {"beginAdInteraction:", "endAdInteraction:"};

} // namespace

std::shared_ptr<TGWebComponent> TGWebComponent::create(std::shared_ptr<platform::WebView> webView,
                                                       std::weak_ptr<TGStateModifier> stateModifier,
                                                       std::weak_ptr<TGDelegateAdaptor> languageDelegate) {
    auto component = std::shared_ptr<TGWebComponent>(new TGWebComponent(std::move(webView)));
    component->stateModifier_ = std::move(stateModifier);
    component->languageDelegate_ = std::move(languageDelegate);
    if (component->content_)
        component->addSubview(component->content_);
    return component;
}

TGWebComponent::TGWebComponent(std::shared_ptr<platform::WebView> webView)
    : platform::View(webView ? platform::Rect{0, 0, webView->frame().size.width, webView->frame().size.height}
                             : platform::Rect{}),
      content_(std::move(webView)) {
    setOpaque(false);
    setBackgroundColor(platform::Color::clearColor());
    setClipsToBounds(true);
    setHidden(true);
}

TGWebComponent::~TGWebComponent() {
    platform::logLine("- dealloc: TGWebComponent");
}

void TGWebComponent::setGenericProperties(TGDelegateAdaptor& adaptor) {
    transition = adaptor.transition();
    autorotate = adaptor.autorotate();
    adForegroundColor = adaptor.adForegroundColor();
    adBackgroundColor = adaptor.adBackgroundColor().value_or(platform::Color::clearColor());
    if (content_)
        content_->setBackgroundColor(adBackgroundColor);
}

void TGWebComponent::setCurrentViewState(int state) {
    auto modifier = stateModifier_.lock();
    if (!modifier)
        return;
    const int current = modifier->currentViewState();
    // A component moves a shown ad only between shown and in interaction.
    const bool allowed = (state == inactiveState && current == activeState) ||
                         (state == activeState && current == inactiveState);
    if (allowed)
        modifier->setCurrentViewState(state);
}

void TGWebComponent::beginDisplayInView(const std::shared_ptr<platform::View>& container) {
    if (stopped_ || !container)
        return;
    container->addSubview(sharedView());
    setHidden(false);
    if (auto modifier = stateModifier_.lock())
        modifier->setCurrentViewState(inactiveState);
    if (content_)
        content_->stringByEvaluatingJavaScriptFromString(kBeginDisplay);
}

bool TGWebComponent::respondsToLantern(std::string_view selector) const {
    for (auto name : kHandled)
        if (name == selector)
            return true;
    return false;
}

bool TGWebComponent::lanternCommand(std::string_view selector, const TGLanternArguments&) {
    if (selector == "beginAdInteraction:") {
        setCurrentViewState(activeState);
        return true;
    }
    if (selector == "endAdInteraction:") {
        setCurrentViewState(inactiveState);
        return true;
    }
    return false;
}

void TGWebComponent::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    removeFromSuperview();
    setHidden(true);
    if (auto modifier = stateModifier_.lock()) {
        modifier->setCurrentViewState(dismissingState);
        modifier->setCurrentViewState(dismissedState);
    }
    stateModifier_.reset();
    languageDelegate_.reset();
    if (content_) {
        content_->stopLoading();
        content_->setDelegate({});
    }
}

} // namespace tangent
