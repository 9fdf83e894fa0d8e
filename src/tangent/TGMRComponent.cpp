#include "tangent/TGMRComponent.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGAdWidget.h"
#include "vellum/richmedia/VellumAdManager.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr std::string_view kLaunchAd = "launchAd";
constexpr std::string_view kLaunchVellumAd = "launchVellumAd";
constexpr std::string_view kLaunchSelector = "launchVellumAd:adSlotType:";
constexpr std::string_view kFileScheme = "file";

} // namespace

std::shared_ptr<TGMRComponent> TGMRComponent::create(std::shared_ptr<platform::WebView> webView,
                                                     std::weak_ptr<TGStateModifier> stateModifier,
                                                     const platform::Rect& containerFrame, bool interstitial,
                                                     std::string adSlotName) {
    auto component = std::shared_ptr<TGMRComponent>(new TGMRComponent());
    component->adSlotName_ = std::move(adSlotName);
    component->webView_ = std::move(webView);
    component->stateModifier_ = std::move(stateModifier);
    if (component->webView_)
        component->webView_->setFrame(containerFrame);
    component->interstitial_ = interstitial;
    TGLog::log(platform::formatString("== VellumSlotSize: %fx%f", containerFrame.size.width,
                                             containerFrame.size.height));
    if (TGAdWidgetWorker::vellumInitialized() && component->webView_)
        vellum::VellumAdManager::sharedInstance()->registerWebViewWithSlotSize(
            containerFrame.size, component->adSlotName_, std::nullopt, std::nullopt,
            vellum::VellumAdServer::webViewDescription(component->webView_.get()));
    return component;
}

TGMRComponent::~TGMRComponent() {
    TGLog::log("- dealloc: TGMRComponent");
    if (vellumAdView_)
        vellumAdView_->setDelegate({});
}

TGVellumHandOff TGMRComponent::parseHandOff(std::string_view text) {
    TGVellumHandOff handOff;
    const auto question = text.find('?');
    handOff.command = std::string(text.substr(0, question));
    if (question == std::string_view::npos)
        return handOff;
    const bool launch = handOff.command == kLaunchAd || handOff.command == kLaunchVellumAd;
    for (const auto& pair : platform::split(text.substr(question + 1), "&")) {
        const auto equals = pair.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = pair.substr(0, equals);
        const std::string value = pair.substr(equals + 1);
        if (name.empty() || value.empty())
            continue;
        TGLog::log("VellumParam: " + name + " " + value);
        if (!launch)
            continue;
        if (name == "adID")
            handOff.adID = value;
        else if (name == "adSlotType")
            handOff.adSlotType = value;
    }
    return handOff;
}

bool TGMRComponent::webViewShouldStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request) {
    const auto handOff = parseHandOff(request.url().resourceSpecifier());
    return launchVellumAd(webView, handOff.adID, handOff.adSlotType);
}

std::shared_ptr<TGAdEventCollection> TGMRComponent::adEventCollection() const {
    auto modifier = stateModifier_.lock();
    return modifier ? modifier->adEventCollection() : nullptr;
}

void TGMRComponent::setViewState(int state) {
    if (auto modifier = stateModifier_.lock())
        modifier->setCurrentViewState(state);
}

void TGMRComponent::endAd() {
    setViewState(dismissingState);
    setViewState(dismissedState);
}

bool TGMRComponent::launchVellumAd(platform::WebView& webView, const std::optional<std::string>& adID,
                                   const std::optional<std::string>&) {
    auto keepAlive = shared_from_this();
    if (!TGAdWidgetWorker::vellumInitialized()) {
        TGLog::log("Vellum Ad not rendering because the Vellum library is not initialized");
        endAd();
        return false;
    }
    if (!adID || adID->empty())
        return false;
    // An ad already on screen keeps its state: it is not loading again.
    const auto modifier = stateModifier_.lock();
    const int state = modifier ? modifier->actualViewState() : errorState;
    const bool shown = state >= inactiveState && state <= clickedState;
    setVellumAdView(std::make_shared<vellum::VellumAdView>());
    if (vellumAdView_->populateWithadID(webView, *adID)) {
        TGLog::log("Vellum Ad Populated");
        if (!shown)
            setViewState(loadingState);
        else if (interstitial_)
            vellumAdView_->displayInterstitial();
    } else {
        TGLog::log("Vellum Ad .... did not populate");
        endAd();
    }
    return false;
}

void TGMRComponent::setVellumAdView(std::shared_ptr<vellum::VellumAdView> view) {
    if (auto previous = std::move(vellumAdView_)) {
        previous->dismissWebViewAd();
        previous->setDelegate({});
    }
    vellumAdView_ = std::move(view);
    if (vellumAdView_) {
        vellumAdView_->setDelegate(weak_from_this());
        vellumAdView_->setAdSlotKey(adSlotName_);
    }
}

void TGMRComponent::beginDisplayInView(const std::shared_ptr<platform::View>& container) {
    auto keepAlive = shared_from_this();
    if (interstitial_) {
        if (vellumAdView_)
            vellumAdView_->displayInterstitial();
        return;
    }
    setViewState(loadedState);
    setViewState(inactiveState);
    if (container && webView_)
        container->addSubview(webView_);
}

void TGMRComponent::endDisplay() {
    auto keepAlive = shared_from_this();
    if (vellumAdView_) {
        if (interstitial_) {
            vellumAdView_->dismissInterstitial();
        } else {
            vellumAdView_->dismissWebViewAd();
        }
    }
    if (!interstitial_ && webView_)
        webView_->removeFromSuperview();
    setVellumAdView(nullptr);
    endAd();
}

std::shared_ptr<platform::View> TGMRComponent::stopForHandOff() {
    auto keepAlive = shared_from_this();
    // The engine's callbacks from here on reach no ad.
    stateModifier_.reset();
    if (vellumAdView_ && interstitial_)
        vellumAdView_->dismissInterstitial();
    setVellumAdView(nullptr);
    return !interstitial_ && webView_ ? webView_->superview() : nullptr;
}

bool TGMRComponent::respondsToLantern(std::string_view selector) const {
    return selector == kLaunchSelector;
}

bool TGMRComponent::lanternCommand(std::string_view selector, const TGLanternArguments& arguments) {
    if (selector != kLaunchSelector || !webView_)
        return false;
    launchVellumAd(*webView_, arguments.size() > 0 ? arguments[0] : std::nullopt,
                   arguments.size() > 1 ? arguments[1] : std::nullopt);
    return true;
}

// ---- Engine callbacks ----

bool TGMRComponent::adViewDidBecomeAvailable(vellum::VellumAdView&) {
    if (auto modifier = stateModifier_.lock(); modifier && modifier->actualViewState() == pendingState)
        modifier->setCurrentViewState(loadingState);
    return true;
}

void TGMRComponent::adViewDidFinishRendering(vellum::VellumAdView&) {
    if (auto modifier = stateModifier_.lock(); modifier && modifier->actualViewState() == loadingState)
        modifier->setCurrentViewState(loadedState);
}

void TGMRComponent::adViewWillExpand(vellum::VellumAdView&) {
    setViewState(activeState);
    if (auto collection = adEventCollection())
        collection->interactRecord().eventStartTimer();
}

void TGMRComponent::adViewWillCollapse(vellum::VellumAdView&) {
    if (auto collection = adEventCollection())
        collection->interactRecord().eventStopTimer();
}

void TGMRComponent::adViewDidCollapse(vellum::VellumAdView&) {
    setViewState(inactiveState);
}

void TGMRComponent::adViewWillDisplayEmbeddedBrowser(vellum::VellumAdView&) {
    if (auto modifier = stateModifier_.lock())
        modifier->setCurrentActionState(clickingState);
}

void TGMRComponent::adViewDidDisplayEmbeddedBrowser(vellum::VellumAdView&) {
    if (auto modifier = stateModifier_.lock())
        modifier->setCurrentActionState(clickedState);
}

void TGMRComponent::adViewDidDismissEmbeddedBrowser(vellum::VellumAdView&) {
    if (auto modifier = stateModifier_.lock())
        modifier->setCurrentActionState(inactiveState);
}

void TGMRComponent::adViewWillDisplayInterstitial(vellum::VellumAdView&) {
    if (interstitial_)
        setViewState(activeState);
}

void TGMRComponent::adViewWillDismissInterstitial(vellum::VellumAdView&) {
    if (!interstitial_)
        return;
    if (auto collection = adEventCollection()) {
        auto& record = collection->dismissRecord();
        record.setCount(record.count() + 1);
    }
}

void TGMRComponent::adViewDidDismissInterstitial(vellum::VellumAdView&) {
    if (!interstitial_)
        return;
    setViewState(inactiveState);
    setViewState(dismissingState);
    setViewState(dismissedState);
}

std::optional<bool> TGMRComponent::adViewCustomInteractionInterrogator(vellum::VellumAdView&,
                                                                       const platform::URLRequest& request,
                                                                       const std::string&, const std::string& scheme,
                                                                       unsigned, const std::string&) {
    if (platform::toLower(scheme) != kFileScheme)
        if (auto collection = adEventCollection())
            collection->clickRecord().addMessage(request.url().absoluteString(), "url");
    return true;
}

} // namespace tangent
