#include "tangent/TGDelegateAdaptor.h"

#include <algorithm>
#include <stdexcept>

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGAdWidgetDelegate.h"
#include "tangent/TGLanternFileManager.h"
#include "tangent/TGLocation.h"
#include "tangent/TGLog.h"
#include "tangent/TGViewCategories.h"

namespace tangent {

template <typename F> void TGDelegateAdaptor::withHost(F&& call) const {
    auto host = delegate_.lock();
    auto widget = adWidget_.lock();
    if (host && widget)
        call(*host, *widget);
}

namespace {

// Asks the host one question; nullopt when the host or the widget is gone.
template <typename T, typename Q>
std::optional<T> ask(const std::shared_ptr<TGAdWidgetDelegate>& host, const std::shared_ptr<TGAdWidgetWorker>& widget,
                     Q question) {
    if (!host || !widget)
        return std::nullopt;
    return ((*host).*question)(*widget);
}

// Keeps the first non-nil answer: a nil answer is asked again at the next read.
template <typename T, typename F> std::optional<T> keepFirst(std::optional<T>& slot, F&& fresh) {
    if (!slot)
        slot = fresh();
    return slot;
}

} // namespace

TGDelegateAdaptor::TGDelegateAdaptor() : adEventCollection_(std::make_shared<TGAdEventCollection>(this)) {}

TGDelegateAdaptor::~TGDelegateAdaptor() {
    TGLog::log("- dealloc: TGDelegateAdaptor");
    // The ad's records are reported when its adaptor goes.
    if (auto collection = std::move(adEventCollection_)) {
        collection->submitEventReports();
        collection->setDelegateAdaptor(nullptr);
    }
}

void TGDelegateAdaptor::setAdEventCollection(std::shared_ptr<TGAdEventCollection> collection) {
    if (adEventCollection_ && adEventCollection_ != collection)
        adEventCollection_->setDelegateAdaptor(nullptr);
    adEventCollection_ = std::move(collection);
    if (adEventCollection_)
        adEventCollection_->setDelegateAdaptor(this);
}

std::optional<std::vector<std::string>> TGDelegateAdaptor::supportedApplications() {
    auto probes = TGLanternFileManager::instance().fileContentsAsDictionary("applicationsupport.xml");
    if (!probes)
        return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [name, probe] : *probes)
        if (probe.string() && isSupportedByDevice(*probe.string()))
            names.push_back(name);
    return names;
}

std::shared_ptr<platform::ViewController> TGDelegateAdaptor::respondingViewController() {
    std::shared_ptr<platform::ViewController> found;
    auto host = delegate();
    auto widget = adWidget();
    std::shared_ptr<platform::ViewController> candidate;
    if (host && widget)
        candidate = host->adViewController(*widget);
    if (!candidate && widget)
        candidate = rootRespondingViewController(*widget);
    if (candidate && candidate->isViewLoaded() && candidate->view()->window())
        found = candidate;
    if (!found)
        if (auto keyWindow = platform::Application::shared().keyWindow())
            for (const auto& subview : keyWindow->subviews())
                if (!subview->isHidden() && subview->window())
                    if ((found = rootRespondingViewController(*subview)))
                        break;
    while (found && found->modalViewController())
        found = found->modalViewController();
    if (!found) {
        TGLog::info("No ViewController could be found.");
        TGLog::info("You may want to implement the [TGAdWidgetDelegate viewController:] method for optimal ad "
                    "rendering");
    }
    return found;
}

void TGDelegateAdaptor::setDelegate(const std::shared_ptr<TGAdWidgetDelegate>& host) {
    if (host == delegate_.lock())
        return;
    delegate_ = host;
    quietSelectors_.clear();
    if (host)
        quietSelectors_ = host->quietSelectorNames();
}

bool TGDelegateAdaptor::hasQuietSelector(std::string_view name) const {
    return std::find(quietSelectors_.begin(), quietSelectors_.end(), name) != quietSelectors_.end();
}

std::optional<std::string> TGDelegateAdaptor::publisher() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::publisherId);
}
std::optional<std::string> TGDelegateAdaptor::site() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::site);
}
std::optional<std::string> TGDelegateAdaptor::adSpot() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::adSpot);
}
std::optional<std::string> TGDelegateAdaptor::query() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::query);
}
int TGDelegateAdaptor::adultContent() {
    return ask<int>(delegate(), adWidget(), &TGAdWidgetDelegate::adultContent).value_or(kDefaultAdultContent);
}
std::optional<std::map<std::string, std::string>> TGDelegateAdaptor::extraParameters() {
    return ask<std::map<std::string, std::string>>(delegate(), adWidget(), &TGAdWidgetDelegate::extraParameters);
}
bool TGDelegateAdaptor::isInterstitial() {
    return ask<bool>(delegate(), adWidget(), &TGAdWidgetDelegate::isInterstitial).value_or(false);
}
std::optional<platform::Color> TGDelegateAdaptor::adBackgroundColor() {
    return ask<platform::Color>(delegate(), adWidget(), &TGAdWidgetDelegate::adBackgroundColor);
}
std::optional<platform::Color> TGDelegateAdaptor::adForegroundColor() {
    return ask<platform::Color>(delegate(), adWidget(), &TGAdWidgetDelegate::adForegroundColor);
}
std::optional<platform::Location> TGDelegateAdaptor::location() {
    if (auto answer = ask<platform::Location>(delegate(), adWidget(), &TGAdWidgetDelegate::location))
        return answer;
    return TGLocation::location();
}
bool TGDelegateAdaptor::shouldRenderAd() {
    return ask<bool>(delegate(), adWidget(), &TGAdWidgetDelegate::shouldRenderAd).value_or(true);
}
std::optional<std::string> TGDelegateAdaptor::getAdvertisementTitle() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::getAdvertisementTitle);
}
std::optional<std::string> TGDelegateAdaptor::getSafariButtonPrompt() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::getSafariButtonPrompt);
}
std::optional<std::string> TGDelegateAdaptor::getBackButtonPrompt(bool interstitial) {
    std::optional<std::string> answer;
    withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) {
        answer = host.getBackButtonPrompt(widget, interstitial);
    });
    return answer;
}
std::optional<std::string> TGDelegateAdaptor::getPlayVideoPrompt() {
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::getPlayVideoPrompt);
}

void TGDelegateAdaptor::beginAdInteraction() {
    withHost([](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.beginAdInteraction(widget); });
}
void TGDelegateAdaptor::endAdInteraction() {
    withHost([](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.endAdInteraction(widget); });
}
void TGDelegateAdaptor::beginDisplayingInterstitial() {
    withHost([](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.beginDisplayingInterstitial(widget); });
}
void TGDelegateAdaptor::endDisplayingInterstitial() {
    withHost([](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.endDisplayingInterstitial(widget); });
}
void TGDelegateAdaptor::orientationHasChangedTo(int orientation) {
    withHost([orientation](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) {
        host.adWidgetOrientationHasChangedTo(widget, orientation);
    });
}
void TGDelegateAdaptor::didFailToRequestAd(const std::optional<platform::Error>& error) {
    withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.adWidgetDidFailToRequestAd(widget, error); });
}
void TGDelegateAdaptor::didFailToShowAd(const std::optional<platform::Error>& error) {
    withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.adWidgetDidFailToShowAd(widget, error); });
}

int TGDelegateAdaptor::margin() const {
    auto widget = adWidget();
    return widget ? widget->margin() : 0;
}
int TGDelegateAdaptor::refreshInterval() const {
    auto widget = adWidget();
    return widget ? widget->refreshInterval() : 0;
}
int TGDelegateAdaptor::transition() const {
    auto widget = adWidget();
    return widget ? widget->transition() : TGAdWidgetWorker::kDefaultTransition;
}
bool TGDelegateAdaptor::autorotate() const {
    auto widget = adWidget();
    return widget && widget->autorotate();
}

std::optional<std::string> TGDelegateAdaptor::protocolVersion() {
    if (!hasQuietSelector("protocolVersion:"))
        return std::nullopt;
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::protocolVersion);
}
std::optional<std::string> TGDelegateAdaptor::baseUrl() {
    if (!hasQuietSelector("baseUrl:"))
        return std::nullopt;
    return ask<std::string>(delegate(), adWidget(), &TGAdWidgetDelegate::baseUrl);
}
int TGDelegateAdaptor::interstitialInterval() {
    if (!hasQuietSelector("interstitialInterval:"))
        return kDefaultInterstitialInterval;
    return ask<int>(delegate(), adWidget(), &TGAdWidgetDelegate::interstitialInterval)
        .value_or(kDefaultInterstitialInterval);
}
int TGDelegateAdaptor::renderInterval() {
    if (!hasQuietSelector("renderInterval:"))
        return kDefaultRenderInterval;
    return ask<int>(delegate(), adWidget(), &TGAdWidgetDelegate::renderInterval).value_or(kDefaultRenderInterval);
}
void TGDelegateAdaptor::modifyAdContent(std::string& text) {
    if (hasQuietSelector("adWidget:modifyAdContent:"))
        withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.adWidgetModifyAdContent(widget, text); });
}
void TGDelegateAdaptor::modifyAdJs(std::string& text) {
    if (hasQuietSelector("adWidget:modifyAdJs:"))
        withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.adWidgetModifyAdJs(widget, text); });
}
void TGDelegateAdaptor::modifyAdCss(std::string& text) {
    if (hasQuietSelector("adWidget:modifyAdCss:"))
        withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.adWidgetModifyAdCss(widget, text); });
}
void TGDelegateAdaptor::modifyAdUrl(std::string& text) {
    if (hasQuietSelector("adWidget:modifyAdUrl:"))
        withHost([&](TGAdWidgetDelegate& host, TGAdWidgetWorker& widget) { host.adWidgetModifyAdUrl(widget, text); });
}

// ---- TGDelegateAdaptorImmutable ----

void TGDelegateAdaptorImmutable::setDelegate(const std::shared_ptr<TGAdWidgetDelegate>& host) {
    auto current = delegate();
    if (host && hasHost_ && host != current)
        throw std::logic_error("Cannot modify immutable delegate adaptor");
    if (host && host == current)
        return;
    TGDelegateAdaptor::setDelegate(host);
    hasHost_ = host != nullptr;
    isInterstitial_ = TGDelegateAdaptor::isInterstitial();
    adultContent_ = TGDelegateAdaptor::adultContent();
    renderInterval_ = TGDelegateAdaptor::renderInterval();
    interstitialInterval_ = TGDelegateAdaptor::interstitialInterval();
}

std::optional<std::string> TGDelegateAdaptorImmutable::publisher() {
    return keepFirst(publisher_, [this] { return TGDelegateAdaptor::publisher(); });
}
std::optional<std::string> TGDelegateAdaptorImmutable::site() {
    return keepFirst(site_, [this] { return TGDelegateAdaptor::site(); });
}
std::optional<std::string> TGDelegateAdaptorImmutable::adSpot() {
    return keepFirst(adSpot_, [this] { return TGDelegateAdaptor::adSpot(); });
}
std::optional<std::string> TGDelegateAdaptorImmutable::query() {
    return keepFirst(query_, [this] { return TGDelegateAdaptor::query(); });
}
std::optional<std::map<std::string, std::string>> TGDelegateAdaptorImmutable::extraParameters() {
    return keepFirst(extraParameters_, [this] { return TGDelegateAdaptor::extraParameters(); });
}
std::optional<platform::Color> TGDelegateAdaptorImmutable::adBackgroundColor() {
    return keepFirst(adBackgroundColor_, [this] { return TGDelegateAdaptor::adBackgroundColor(); });
}
std::optional<platform::Color> TGDelegateAdaptorImmutable::adForegroundColor() {
    return keepFirst(adForegroundColor_, [this] { return TGDelegateAdaptor::adForegroundColor(); });
}
std::optional<platform::Location> TGDelegateAdaptorImmutable::location() {
    return keepFirst(location_, [this] { return TGDelegateAdaptor::location(); });
}
std::optional<std::string> TGDelegateAdaptorImmutable::protocolVersion() {
    return keepFirst(protocolVersion_, [this] { return TGDelegateAdaptor::protocolVersion(); });
}
std::optional<std::string> TGDelegateAdaptorImmutable::baseUrl() {
    return keepFirst(baseUrl_, [this] { return TGDelegateAdaptor::baseUrl(); });
}

} // namespace tangent
