#include "tangent/TGWebComponent.h"

#include <array>
#include <algorithm>
#include <charconv>
#include <cstdint>

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr std::string_view kBeginDisplay = "Lantern.beginDisplay();";
constexpr std::string_view kResize = "width:height:transition:callback:options:";
constexpr std::string_view kRestore = "restoreTransition:callback:options:";
// The page commands this component handles.
constexpr std::array<std::string_view, 4> kHandled = {"beginAdInteraction:", "endAdInteraction:", kResize, kRestore};

// The leading whole number of a page argument ("320px" is 320); 0 when there is none.
int intValue(const std::optional<std::string>& text) {
    if (!text)
        return 0;
    std::string_view s = *text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    long long value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    (void)end;
    if (error != std::errc())
        return error == std::errc::result_out_of_range ? (s.front() == '-' ? INT32_MIN : INT32_MAX) : 0;
    return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

const std::string& argument(const TGLanternArguments& arguments, std::size_t index) {
    static const std::string empty;
    return index < arguments.size() && arguments[index] ? *arguments[index] : empty;
}

} // namespace

std::shared_ptr<TGWebComponent> TGWebComponent::create(std::shared_ptr<platform::WebView> webView,
                                                       std::weak_ptr<TGStateModifier> stateModifier,
                                                       std::weak_ptr<TGDelegateAdaptor> languageDelegate) {
    auto component = std::shared_ptr<TGWebComponent>(
        new TGWebComponent(std::move(webView), std::move(stateModifier), std::move(languageDelegate)));
    if (component->content_)
        component->addSubview(component->content_);
    component->addSubview(component->activityIndicator_);
    component->shadeView_ = TGShadeView::initShade(component->content_, component, component);
    component->shadeView_->deviceHasRotated(component->getCurrentOrientation());
    component->shadeView_->setNeedsLayout();
    return component;
}

TGWebComponent::TGWebComponent(std::shared_ptr<platform::WebView> webView, std::weak_ptr<TGStateModifier> stateModifier,
                               std::weak_ptr<TGDelegateAdaptor> languageDelegate)
    : TGComponent("TGWebComponent",
                  webView ? platform::Rect{0, 0, webView->frame().size.width, webView->frame().size.height}
                          : platform::Rect{},
                  std::move(stateModifier), std::move(languageDelegate)),
      content_(std::move(webView)) {
    setClipsToBounds(true);
    activityIndicator_ = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White);
    activityIndicator_->setHidesWhenStopped(true);
    activityIndicator_->setCenter(bounds().center());
    setHidden(true);
}

// The web view is the ad view's: a component replaced by another one (a rich-media hand-off)
// leaves it loaded and attached; stop() is what detaches it.
TGWebComponent::~TGWebComponent() {
    if (onAnimation_)
        platform::Application::shared().endIgnoringInteractionEvents();
}

void TGWebComponent::setAdBackgroundColor(std::optional<platform::Color> colour) {
    TGComponent::setAdBackgroundColor(std::move(colour));
    if (content_)
        content_->setBackgroundColor(adBackgroundColor());
}

void TGWebComponent::rotate() {
    if (shadeView_)
        shadeView_->deviceHasRotated(getCurrentOrientation());
}

void TGWebComponent::beginDisplayInView(const std::shared_ptr<platform::View>& container) {
    if (stopped_ || !container)
        return;
    container->addSubview(sharedView());
    render();
    if (auto modifier = stateModifier())
        modifier->setCurrentViewState(inactiveState);
    if (content_)
        content_->stringByEvaluatingJavaScriptFromString(kBeginDisplay);
}

void TGWebComponent::setWorking(bool working) {
    for (auto* indicator : {activityIndicator_.get(), shadeView_ ? shadeView_->indicator().get() : nullptr}) {
        if (!indicator)
            continue;
        if (working)
            indicator->startAnimating();
        else
            indicator->stopAnimating();
    }
}

bool TGWebComponent::respondsToLantern(std::string_view selector) const {
    for (auto name : kHandled)
        if (name == selector)
            return true;
    return false;
}

bool TGWebComponent::lanternCommand(std::string_view selector, const TGLanternArguments& arguments) {
    if (selector == "beginAdInteraction:") {
        setCurrentViewState(activeState);
        return true;
    }
    if (selector == "endAdInteraction:") {
        setCurrentViewState(inactiveState);
        return true;
    }
    if (selector == kResize) {
        changeSizeWidth(intValue(arguments.size() > 0 ? arguments[0] : std::nullopt),
                        intValue(arguments.size() > 1 ? arguments[1] : std::nullopt),
                        intValue(arguments.size() > 2 ? arguments[2] : std::nullopt), argument(arguments, 3));
        return true;
    }
    if (selector == kRestore) {
        const auto size = frame().size;
        changeSizeWidth(static_cast<int>(size.width), static_cast<int>(size.height),
                        intValue(arguments.size() > 0 ? arguments[0] : std::nullopt), argument(arguments, 1));
        return true;
    }
    return false;
}

void TGWebComponent::changeSizeWidth(int width, int height, int transition, const std::string& callback) {
    if (onAnimation_ || stopped_ || !shadeView_)
        return;
    auto keepAlive = sharedView();
    onAnimation_ = true;
    platform::Application::shared().beginIgnoringInteractionEvents();
    setCurrentSyncState(protectedState);
    const auto f = frame();
    const bool collapse = width >= 0 && height >= 0 && f.minX() <= 0 && f.minY() <= 0 && width <= f.maxX() &&
                          height <= f.maxY();
    if (collapse) {
        status = 0;
        shadeView_->playAndGetSkinnyInStyle(transition, callback);
    } else {
        setCurrentViewState(activeState);
        status = 1;
        shadeView_->eatAndGetFat(height, transition, callback);
    }
}

void TGWebComponent::animationEnded(TGShadeView& shadeView) {
    if (&shadeView != shadeView_.get()) {
        TGLog::log("Shade views are not the same");
        return;
    }
    if (!onAnimation_)
        return;
    setCurrentSyncState(unprotectedState);
    onAnimation_ = false;
    platform::Application::shared().endIgnoringInteractionEvents();
}

void TGWebComponent::shadeOpenBegining(TGShadeView&) {
    setCurrentSyncState(protectedState);
}

void TGWebComponent::shadeCloseBegining(TGShadeView&) {
    setCurrentSyncState(protectedState);
}

void TGWebComponent::shadeOpenFinished(TGShadeView& shadeView) {
    animationEnded(shadeView);
}

void TGWebComponent::shadeClosedFinished(TGShadeView& shadeView) {
    animationEnded(shadeView);
    if (&shadeView == shadeView_.get())
        setCurrentViewState(inactiveState);
}

std::shared_ptr<platform::View> TGWebComponent::stopForHandOff() {
    if (stopped_)
        return nullptr;
    auto keepAlive = sharedView();
    auto container = superview();
    // An expansion ends with the component that made it: the shade goes and the ad is back at
    // rest, so the host hears that the interaction ended.
    if (auto modifier = stateModifier(); modifier && modifier->actualViewState() == activeState)
        modifier->setCurrentViewState(inactiveState);
    if (onAnimation_) {
        onAnimation_ = false;
        platform::Application::shared().endIgnoringInteractionEvents();
        setCurrentSyncState(unprotectedState);
    }
    stopped_ = true;
    dropDelegates();
    if (shadeView_)
        shadeView_->stop();
    removeFromSuperview();
    setHidden(true);
    if (content_)
        content_->removeFromSuperview();
    return container;
}

void TGWebComponent::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    auto keepAlive = sharedView();
    removeFromSuperview();
    setHidden(true);
    // A resize cut short gives its touch blocking back now; its protection goes with the ad.
    if (onAnimation_) {
        onAnimation_ = false;
        platform::Application::shared().endIgnoringInteractionEvents();
    }
    if (shadeView_)
        shadeView_->stop();
    if (auto modifier = stateModifier()) {
        modifier->setCurrentViewState(dismissingState);
        modifier->setCurrentViewState(dismissedState);
    }
    dropDelegates();
    if (content_) {
        content_->stopLoading();
        content_->setDelegate({});
    }
}

} // namespace tangent
