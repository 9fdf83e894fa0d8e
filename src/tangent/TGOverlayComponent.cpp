#include "tangent/TGOverlayComponent.h"

#include <array>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGViewCategories.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr std::string_view kBeginDisplay = "Lantern.beginDisplay();";
constexpr std::string_view kDismiss = "dismiss:";
constexpr std::string_view kStatusBarVisible = "statusBarVisible:";
constexpr std::string_view kUserDismissal = "false";
constexpr const char* kRotateScript =
    "if ((typeof rotate) !== 'function') {rotate = function (w,h) {var outer = document.getElementById('outer'); "
    "outer.style.width= w; outer.style.height = h; var size = document.getElementById('size'); size.style.maxWidth= "
    "w;size.style.maxHeight = h; } }rotate(%d, %d);";

} // namespace

std::shared_ptr<TGOverlayComponent> TGOverlayComponent::create(std::shared_ptr<platform::WebView> webView,
                                                               std::weak_ptr<TGStateModifier> stateModifier,
                                                               const std::shared_ptr<TGDelegateAdaptor>& adaptor) {
    // The component fills the modal controller's full-screen container.
    auto component = std::shared_ptr<TGOverlayComponent>(new TGOverlayComponent(
        platform::Screen::main().bounds(), std::move(webView), std::move(stateModifier), adaptor));
    component->modalViewController_ =
        TGModalViewController::create(adaptor ? adaptor->respondingViewController() : nullptr, component, component);
    component->modalViewController_->setShouldHideStatusBar(false);
    component->realCenter_ = component->center();

    const double width = component->bounds().size.width;
    const double height = component->bounds().size.height;
    auto& bar = component->navBar_;
    bar = std::make_shared<platform::NavigationBar>(platform::Rect{0, 0, width, kNavBarHeight});
    auto item = std::make_shared<platform::NavigationItem>(
        adaptor ? adaptor->getAdvertisementTitle().value_or(kDefaultTitle) : std::string(kDefaultTitle));
    std::weak_ptr<TGOverlayComponent> weak = component;
    component->dismissButton_ = platform::BarButtonItem::withTitle(
        adaptor ? adaptor->getBackButtonPrompt(true).value_or(kDefaultDismiss) : std::string(kDefaultDismiss),
        platform::BarButtonItemStyle::Plain, [weak](platform::BarButtonItem&) {
            if (auto self = weak.lock())
                self->dismissButtonClicked();
        });
    item->setLeftBarButtonItem(component->dismissButton_);
    bar->setItems({item});
    if (auto& web = component->webContent_)
        web->setFrame(platform::Rect{0, kNavBarHeight, width, height - kNavBarHeight});
    auto& indicator = component->activityIndicator_;
    indicator = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White);
    indicator->setHidesWhenStopped(true);
    indicator->setCenter(bar->bounds().center());
    bar->addSubview(indicator);
    component->addSubview(bar);
    if (component->webContent_)
        component->addSubview(component->webContent_);
    component->setHidden(true);
    component->rotate();
    return component;
}

TGOverlayComponent::TGOverlayComponent(const platform::Rect& frame, std::shared_ptr<platform::WebView> webView,
                                       std::weak_ptr<TGStateModifier> stateModifier,
                                       std::weak_ptr<TGDelegateAdaptor> adaptor)
    : TGComponent("TGOverlayComponent", frame, std::move(stateModifier), std::move(adaptor)),
      webContent_(std::move(webView)) {}

// The web view is the ad view's: stop() is what detaches it, not the release.
TGOverlayComponent::~TGOverlayComponent() = default;

void TGOverlayComponent::setViewState(int state) {
    if (auto modifier = stateModifier())
        modifier->setCurrentViewState(state);
}

void TGOverlayComponent::setAdBackgroundColor(std::optional<platform::Color> colour) {
    TGComponent::setAdBackgroundColor(std::move(colour));
    if (webContent_)
        webContent_->setBackgroundColor(adBackgroundColor());
}

void TGOverlayComponent::beginDisplayInView(const std::shared_ptr<platform::View>&) {
    if (stopped_)
        return;
    auto keepAlive = sharedView();
    setViewState(inactiveState);
    render();
    if (webContent_)
        webContent_->stringByEvaluatingJavaScriptFromString(kBeginDisplay);
}

void TGOverlayComponent::render() {
    setHidden(false);
    setNeedsLayout();
    if (modalViewController_)
        modalViewController_->showModalView(true, transition);
}

void TGOverlayComponent::setWorking(bool working) {
    if (!activityIndicator_)
        return;
    if (working)
        activityIndicator_->startAnimating();
    else
        activityIndicator_->stopAnimating();
}

void TGOverlayComponent::rotate() {
    if (auto parent = superview())
        setFrame(parent->bounds());
    setNeedsLayout();
}

void TGOverlayComponent::endDisplay() {
    auto modifier = stateModifier();
    const int state = modifier ? modifier->currentViewState() : dismissedState;
    switch (state) {
    case dismissingState:
    case dismissedState:
        stop();
        break;
    case inactiveState:
    case activeState:
    case clickingState:
    case clickedState:
        dismissOverlay();
        break;
    default:
        TGLog::log(platform::formatString("endDisplay called with state: %d", state));
        break;
    }
}

bool TGOverlayComponent::respondsToLantern(std::string_view selector) const {
    return selector == kDismiss || selector == kStatusBarVisible;
}

bool TGOverlayComponent::lanternCommand(std::string_view selector, const TGLanternArguments& arguments) {
    const std::string flag = !arguments.empty() && arguments[0] ? *arguments[0] : std::string();
    if (selector == kDismiss) {
        lanternDismiss(flag);
        return true;
    }
    if (selector == kStatusBarVisible) {
        lanternStatusBarVisible(flag);
        return true;
    }
    return false;
}

void TGOverlayComponent::lanternDismiss(const std::string& flag) {
    auto modifier = stateModifier();
    if (!modifier)
        return;
    // Not while a click's target is up.
    const int action = modifier->currentActionState();
    if (action != inactiveState && action != clickingState)
        return;
    if (flag == kUserDismissal)
        if (auto collection = modifier->adEventCollection()) {
            auto& record = collection->dismissRecord();
            record.setCount(record.count() + 1);
        }
    endDisplay();
}

void TGOverlayComponent::lanternStatusBarVisible(const std::string& flag) {
    if (modalViewController_)
        modalViewController_->setShouldHideStatusBar(!platform::boolValue(flag));
}

void TGOverlayComponent::dismissButtonClicked() {
    lanternDismiss(std::string(kUserDismissal));
}

void TGOverlayComponent::dismissOverlay() {
    if (stopped_)
        return;
    auto keepAlive = sharedView();
    setCurrentSyncState(protectedState);
    setViewState(inactiveState);
    setViewState(dismissingState);
    if (modalViewController_)
        modalViewController_->hideModalView(true, transition);
}

void TGOverlayComponent::dismissAnimationStoped() {
    auto keepAlive = sharedView();
    setCurrentSyncState(unprotectedState);
    setViewState(dismissedState);
    stop();
}

void TGOverlayComponent::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    auto keepAlive = sharedView();
    TGComponent::stop();
    if (auto modal = modalViewController_) {
        // Without animation, with the controller's own transition.
        modal->hideModalView(false);
    }
    removeFromSuperview();
    modalViewController_.reset();
    setViewState(dismissedState);
    dropDelegates();
    if (webContent_) {
        webContent_->stopLoading();
        webContent_->setDelegate({});
    }
    setHidden(true);
}

std::shared_ptr<platform::View> TGOverlayComponent::stopForHandOff() {
    if (stopped_)
        return nullptr;
    stopped_ = true;
    auto keepAlive = sharedView();
    // Without its delegates the presentation's end changes nothing of the ad.
    dropDelegates();
    if (auto modal = modalViewController_)
        modal->hideModalView(false);
    removeFromSuperview();
    modalViewController_.reset();
    setHidden(true);
    if (webContent_)
        webContent_->removeFromSuperview();
    return nullptr;
}

void TGOverlayComponent::layoutSubviews() {
    if (auto parent = superview())
        updateBoundsToFrame(*this, parent->bounds());
    realCenter_ = center();
    const double width = bounds().size.width;
    const double height = bounds().size.height;
    if (navBar_) {
        const auto barFrame = navBar_->frame();
        navBar_->setFrame(platform::Rect{barFrame.origin.x, barFrame.origin.y, width, barFrame.size.height});
        if (activityIndicator_)
            activityIndicator_->setCenter(navBar_->bounds().center());
    }
    const double barHeight = navBar_ ? navBar_->frame().size.height : 0;
    if (webContent_) {
        updateBoundsToFrame(*webContent_, platform::Rect{0, barHeight, width, height - barHeight});
        webContent_->setNeedsLayout();
        const auto size = webContent_->frame().size;
        webContent_->stringByEvaluatingJavaScriptFromString(
            platform::formatString(kRotateScript, static_cast<int>(size.width), static_cast<int>(size.height)));
    }
}

// ---- Modal view controller delegate ----

void TGOverlayComponent::modalViewWillAppear(bool) {
    setCurrentSyncState(protectedState);
}

void TGOverlayComponent::modalViewDidAppear(bool) {
    setCurrentSyncState(unprotectedState);
}

void TGOverlayComponent::modalViewWillDisappear(bool) {
    setCurrentSyncState(protectedState);
}

void TGOverlayComponent::modalViewDidDisappear(bool) {
    setCurrentSyncState(unprotectedState);
    dismissAnimationStoped();
}

void TGOverlayComponent::modalViewBeganAnimation() {
    setCurrentSyncState(protectedState);
}

void TGOverlayComponent::modalViewFinishedAnimation() {
    setCurrentSyncState(unprotectedState);
}

} // namespace tangent
