#include "tangent/TGAdView.h"

#include <array>
#include <utility>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/web/WebView.h"
#include "tangent/TGActionController.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGLanternFileManager.h"
#include "tangent/TGLog.h"
#include "tangent/TGMRComponent.h"
#include "tangent/TGOverlayComponent.h"
#include "tangent/TGWebComponent.h"

namespace tangent {

namespace {

constexpr std::string_view kDebugHost = "tangent-debug";
constexpr std::string_view kSelectorPrefix = "lantern:";
constexpr std::string_view kExecuteCallback = "Lantern.executeCallback('%@');";

// Parameter counts of the commands the page may send (the web view is not counted).
struct CommandArity {
    std::string_view selector;
    std::size_t parameters;
};
constexpr std::array<CommandArity, 12> kCommandArities = {{
    {"documentLoadStatus:", 1},
    {"beginAdInteraction:", 1},
    {"endAdInteraction:", 1},
    {"width:height:transition:callback:options:", 5},
    {"autoWidth:height:transition:callback:options:", 5},
    {"restoreTransition:callback:options:", 3},
    {"openUri:contentType:options:", 3},
    {"receiveLocationUpdates:", 1},
    {"logMessage:", 1},
    {"dismiss:", 1},
    {"statusBarVisible:", 1},
    {"launchVellumAd:adSlotType:", 2},
}};

std::optional<std::size_t> arityOf(std::string_view selector) {
    for (const auto& row : kCommandArities)
        if (row.selector == selector)
            return row.parameters;
    return std::nullopt;
}

const char* yesNo(bool value) {
    return value ? "Yes" : "No";
}

// The orientation value the page sees for each status-bar orientation (1 to 4).
constexpr std::array<std::string_view, 4> kOrientationScripts = {
    "window.__defineGetter__('orientation',function(){return 0;});window.onorientationchange();",
    "window.__defineGetter__('orientation',function(){return 180;});window.onorientationchange();",
    "window.__defineGetter__('orientation',function(){return 90;});window.onorientationchange();",
    "window.__defineGetter__('orientation',function(){return -90;});window.onorientationchange();",
};

int statusBarOrientation() {
    return static_cast<int>(platform::Application::shared().statusBarOrientation());
}

// Whether the page's library has a command queued that its timer will send.
constexpr std::string_view kLanternHoldsCommand =
    "typeof Lantern == 'object' && Lantern !== null && Lantern.displayed === true && !Lantern.waiting && "
    "Array.isArray(Lantern.queue) && Lantern.queue.length > 0";

} // namespace

std::shared_ptr<TGAdView> TGAdView::create(const platform::Rect& frame,
                                           std::shared_ptr<TGDelegateAdaptor> adaptor,
                                           std::weak_ptr<TGStateListener> listener) {
    auto view = std::shared_ptr<TGAdView>(new TGAdView(std::move(adaptor), std::move(listener)));
    view->setUp(frame);
    return view;
}

TGAdView::TGAdView(std::shared_ptr<TGDelegateAdaptor> adaptor, std::weak_ptr<TGStateListener> listener)
    : delegateAdaptor_(std::move(adaptor)), stateListener_(std::move(listener)) {}

void TGAdView::setUp(const platform::Rect& frame) {
    interstitial_ = delegateAdaptor_ && delegateAdaptor_->isInterstitial();
    const int orientation = statusBarOrientation();
    if (interstitial_) {
        auto screen = platform::Screen::main().bounds();
        const bool landscape = orientation == 3 || orientation == 4;
        adContainerRect_ = landscape ? platform::Rect{0, 0, screen.size.height, screen.size.width}
                                     : platform::Rect{0, 0, screen.size.width, screen.size.height};
    } else {
        adContainerRect_ = platform::Rect{0, 0, frame.size.width, frame.size.height};
    }
    TGLog::log(std::string("Is Interstitial? ") + yesNo(interstitial_));
    TGLog::log(platform::formatString("AdContainerRect: %f\t\t%f\t\t%f\t\t%f", adContainerRect_.origin.x,
                                      adContainerRect_.origin.y, adContainerRect_.size.width,
                                      adContainerRect_.size.height));
    adWebView_ = std::make_shared<platform::WebView>(adContainerRect_);
    adWebView_->setOpaque(false);
    if (delegateAdaptor_)
        if (auto colour = delegateAdaptor_->adBackgroundColor())
            adWebView_->setBackgroundColor(*colour);
    adWebView_->setScalesPageToFit(false);
    adWebView_->setDelegate(weak_from_this());
    actionController_ = TGActionController::create(weak_from_this(), delegateAdaptor_);
    currentViewState_ = pendingState;
    // The page's library sends its queued commands one at a time on a 10 ms timer, once the ad
    // is displayed and the previous command has been answered: until it has, a command waits.
    std::weak_ptr<TGAdView> weak = weak_from_this();
    waitingCommands_ = platform::WaitingMessages::add([weak] {
        auto view = weak.lock();
        return view && view->evalJS(kLanternHoldsCommand) == "true";
    });
}

TGAdView::~TGAdView() {
    TGLog::log("- dealloc: TGAdView");
    stateListener_.reset();
    endDisplay();
}

std::optional<std::string> TGAdView::js() {
    auto& files = TGLanternFileManager::instance();
    auto text = files.fillFile(
        "tgadlantern.js",
        {escapeJS(files.deviceId()),
         escapeJS(delegateAdaptor_ ? delegateAdaptor_->requestId().value_or("") : std::string())});
    if (text && delegateAdaptor_)
        delegateAdaptor_->modifyAdJs(*text);
    return text;
}

std::optional<std::string> TGAdView::css() {
    auto& files = TGLanternFileManager::instance();
    const int margin = delegateAdaptor_ ? delegateAdaptor_->margin() : 0;
    auto text = files.fillFile("tgadlantern.css", {std::to_string(margin)});
    if (!text)
        return std::nullopt;
    if (interstitial_) {
        auto width = std::to_string(static_cast<int>(adContainerRect_.size.width));
        auto height = std::to_string(static_cast<int>(adContainerRect_.size.height));
        auto extra = files.fillFile("tgadlantern-interstitial.css", {width, height, width, height});
        if (!extra)
            return std::nullopt;
        *text += *extra;
    } else if (auto colour = delegateAdaptor_ ? delegateAdaptor_->adForegroundColor() : std::nullopt) {
        auto extra = files.fillFile("tgadlantern-banner.css", {htmlHexColorString(*colour)});
        if (!extra)
            return std::nullopt;
        *text += *extra;
    }
    if (delegateAdaptor_)
        delegateAdaptor_->modifyAdCss(*text);
    return text;
}

bool TGAdView::loadAdContent(const std::string& markup) {
    auto script = js();
    auto style = css();
    auto& files = TGLanternFileManager::instance();
    std::optional<std::string> page;
    if (script && style)
        page = files.fillFile(interstitial_ ? "wlantern-interstitial.html" : "wlantern-banner.html",
                              {escapeForScriptElement(*script), *style, markup});
    if (!page || !adWebView_) {
        TGLog::log("the ad page could not be assembled from the support files");
        errorOccured(platform::Error{"TGAdView", 1, "The ad page could not be assembled", {}});
        return false;
    }
    if (delegateAdaptor_)
        delegateAdaptor_->modifyAdContent(*page);
    // The ad page reads the support files of its base folder only.
    const auto base = files.uiWebViewBaseUrl();
    adWebView_->setReadableFolder(base ? platform::ReadableFolder(base->filePath())
                                       : platform::ReadableFolder());
    adWebView_->loadHTMLString(*page, base);
    return true;
}

std::shared_ptr<TGAdEventCollection> TGAdView::adEventCollection() const {
    return delegateAdaptor_ ? delegateAdaptor_->adEventCollection() : nullptr;
}

void TGAdView::beginDisplayInView(const std::shared_ptr<platform::View>& container) {
    if (auto events = adEventCollection())
        events->impressionRecord().eventStartTimer();
    if (adWrapper_)
        adWrapper_->beginDisplayInView(container);
}

void TGAdView::endDisplay() {
    if (ended_)
        return;
    ended_ = true;
    auto keepAlive = weak_from_this().lock();
    TGLocation::instance().stopListeningToLocationUpdates(this);
    if (adWebView_) {
        adWebView_->stopLoading();
        adWebView_->setDelegate({});
    }
    if (auto controller = actionController_)
        controller->stop();
    if (adWrapper_)
        adWrapper_->endDisplay();
    adWebView_.reset();
    // An ad ended while protected gives its protection back, so its owners are let go.
    while (syncDepth_ > 0)
        setCurrentSyncState(unprotectedState);
}

void TGAdView::setWorking(bool working) {
    if (auto events = adEventCollection()) {
        if (working)
            events->clickRecord().eventStartTimer();
        else
            events->clickRecord().eventStopTimer();
    }
    if (!working)
        if (auto controller = actionController_)
            controller->stop();
    if (adWrapper_)
        adWrapper_->setWorking(working);
}

void TGAdView::rotate() {
    if (adWrapper_)
        adWrapper_->rotate();
    if (actionController_)
        actionController_->rotate();
    fireChangeOrientationToJS(statusBarOrientation());
}

void TGAdView::fireChangeOrientationToJS(int orientation) {
    if (orientation >= 1 && orientation <= 4)
        evalJS(kOrientationScripts[static_cast<std::size_t>(orientation - 1)]);
}

std::string TGAdView::evalJS(std::string_view script) {
    if (script.empty() || !adWebView_)
        return {};
    return adWebView_->stringByEvaluatingJavaScriptFromString(script);
}

// ---- States ----

void TGAdView::reportTransition(int fromState, int toState, const std::optional<platform::Error>& error) {
    if (auto listener = stateListener_.lock()) {
        auto keepAlive = weak_from_this().lock();
        listener->tgAdViewDidTransitionFromViewState(*this, fromState, toState, error);
    }
}

void TGAdView::transitionViewFromStateToState(int fromState, int toState) {
    if (fromState == toState)
        return;
    reportedViewState_ = toState;
    reportTransition(fromState, toState, std::nullopt);
}

void TGAdView::setCurrentViewState(int state) {
    if (state == currentViewState_ || currentViewState_ == dismissedState)
        return;
    const int previous = currentViewState_;
    currentViewState_ = state;
    if (state == activeState)
        setCurrentSyncState(protectedState);
    else if (previous == activeState && state == inactiveState)
        setCurrentSyncState(unprotectedState);
    if (currentActionState_ != inactiveState) {
        pendingViewStates_.push_back(state);
        return;
    }
    transitionViewFromStateToState(reportedViewState_, state);
}

void TGAdView::errorOccured(const platform::Error& error) {
    if (currentViewState_ == errorState || currentViewState_ == dismissedState)
        return;
    const int previous = currentViewState_;
    currentViewState_ = errorState;
    reportTransition(previous, errorState, error);
}

void TGAdView::setCurrentSyncState(int state) {
    if (state == protectedState) {
        ++syncDepth_;
    } else {
        if (syncDepth_ == 0)
            return; // nothing left to give back
        --syncDepth_;
    }
    if (auto listener = stateListener_.lock()) {
        auto keepAlive = weak_from_this().lock();
        listener->tgAdViewDidUpdateSyncState(*this,
                                             state == protectedState ? protectedState : unprotectedState);
    }
}

void TGAdView::setCurrentActionState(int state) {
    if (state == currentActionState_)
        return;
    auto keepAlive = weak_from_this().lock();
    switch (state) {
    case clickingState:
        setCurrentSyncState(protectedState);
        setWorking(true);
        pendingViewStates_.push_back(currentViewState_);
        currentActionState_ = clickingState;
        transitionViewFromStateToState(reportedViewState_, clickingState);
        return;
    case clickedState:
        currentActionState_ = clickedState;
        transitionViewFromStateToState(clickingState, clickedState);
        return;
    case inactiveState: {
        const int heldState = currentViewState_;
        currentActionState_ = inactiveState;
        auto replay = std::move(pendingViewStates_);
        pendingViewStates_.clear();
        for (int pending : replay)
            transitionViewFromStateToState(reportedViewState_, pending);
        if (!replay.empty() && replay.back() != heldState) {
            TGLog::log("Post click state does not match the 'current click state'");
            transitionViewFromStateToState(reportedViewState_, heldState);
        }
        setWorking(false);
        setCurrentSyncState(unprotectedState);
        return;
    }
    default:
        TGLog::log("Invalid action state " + std::to_string(state));
        return;
    }
}

// ---- Page navigation and the bridge ----

void TGAdView::setGenericComponentProperties(TGComponent& component) {
    if (!delegateAdaptor_)
        return;
    component.transition = delegateAdaptor_->transition();
    component.autorotate = delegateAdaptor_->autorotate();
    component.setAdForegroundColor(delegateAdaptor_->adForegroundColor());
    component.setAdBackgroundColor(delegateAdaptor_->adBackgroundColor());
}

void TGAdView::constructTangentComponent() {
    if (interstitial_)
        constructTangentInterstitialComponent();
    else
        constructTangentWebComponent();
}

void TGAdView::constructTangentWebComponent() {
    auto component = TGWebComponent::create(adWebView_, weak_from_this(), delegateAdaptor_);
    setGenericComponentProperties(*component);
    adWrapper_ = std::move(component);
}

void TGAdView::constructTangentInterstitialComponent() {
    auto component = TGOverlayComponent::create(adWebView_, weak_from_this(), delegateAdaptor_);
    setGenericComponentProperties(*component);
    if (adWebView_) {
        adWebView_->setOpaque(true);
        compatibleDetectPhoneNumbers(*adWebView_, true);
    }
    adWrapper_ = std::move(component);
}

std::shared_ptr<TGMRComponent> TGAdView::constructVellumComponent() {
    std::string slotName;
    if (delegateAdaptor_)
        slotName = delegateAdaptor_->publisher().value_or("(null)") + "-" +
                   delegateAdaptor_->site().value_or("(null)") + "-" +
                   delegateAdaptor_->adSpot().value_or("(null)");
    return TGMRComponent::create(adWebView_, weak_from_this(), adContainerRect_, interstitial_,
                                 std::move(slotName));
}

bool TGAdView::webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                               const platform::URLRequest& request,
                                                               platform::WebViewNavigationType) {
    if (&webView != adWebView_.get())
        return false;
    auto keepAlive = shared_from_this();
    const auto& url = request.url();
    const std::string scheme = platform::toLower(url.scheme());
    if (scheme == "file" || scheme == "about")
        return true;
    if (scheme == TGMRComponent::kScheme) {
        // A rich-media hand-off: the rich-media component takes over the ad. The component it
        // replaces goes off screen first; a banner already shown stays where it was.
        std::shared_ptr<platform::View> container;
        if (auto previous = std::exchange(adWrapper_, nullptr))
            container = previous->stopForHandOff();
        auto component = constructVellumComponent();
        adWrapper_ = component;
        if (container && adWebView_ && !interstitial_)
            container->addSubview(adWebView_);
        component->webViewShouldStartLoadWithRequest(webView, request);
        return false;
    }
    if (scheme == kBridgeScheme) {
        if (!adWrapper_) {
            TGLog::log("Tangent Ad Detected");
            constructTangentComponent();
        }
        bridgeUrl(url);
        evalJS(kContinueActionQueue);
        return false;
    }
    if (reportedViewState_ == loadingState || currentViewState_ == loadingState ||
        currentViewState_ == pendingState)
        return true;
    // Any other navigation once the page has loaded is a click.
    lanternOpenUri({url.absoluteString(), std::nullopt, std::nullopt});
    return false;
}

void TGAdView::webViewDidStartLoad(platform::WebView&) {
    if (!adWrapper_)
        setCurrentViewState(loadingState);
}

void TGAdView::webViewDidFinishLoad(platform::WebView& webView) {
    // A status-bar tap must not scroll the ad's page.
    ensureScrollsToTop(webView, false);
}

void TGAdView::webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) {
    if (!adWrapper_)
        errorOccured(error);
}

bool TGAdView::bridgeUrl(const platform::URL& url) {
    if (url.host() == kDebugHost)
        TGLog::log("WebView requested URL: " + url.absoluteString());
    std::string selector = url.path();
    if (!selector.empty() && selector.front() == '/')
        selector.erase(0, 1);
    auto arity = arityOf(selector);
    const bool componentTakes = adWrapper_ && adWrapper_->respondsToLantern(selector);
    const bool ownHandler = selector != "dismiss:" && selector != "statusBarVisible:" &&
                            selector != "launchVellumAd:adSlotType:" &&
                            selector != "autoWidth:height:transition:callback:options:";
    if (!arity || (!ownHandler && !componentTakes)) {
        TGLog::log("-------------------------------------------------");
        TGLog::log("          OH NOES! Lanterns ate my toes?          ");
        TGLog::log("-------------------------------------------------");
        return false;
    }
    TGLanternArguments arguments;
    for (const auto& piece : platform::split(url.query().value_or(""), "&"))
        arguments.push_back(platform::percentDecode(piece).value_or(std::string()));
    if (arguments.size() > *arity) {
        TGLog::log(platform::formatString("%zu extra argument(s) of %s ignored", arguments.size() - *arity,
                                          selector.c_str()));
        arguments.resize(*arity);
    }
    arguments.resize(*arity);

    if (selector == "documentLoadStatus:")
        lanternDocumentLoadStatus(arguments);
    else if (selector == "beginAdInteraction:")
        lanternBeginAdInteraction(arguments);
    else if (selector == "endAdInteraction:")
        lanternEndAdInteraction(arguments);
    else if (selector == "width:height:transition:callback:options:")
        lanternResize(arguments, selector, 3);
    else if (selector == "restoreTransition:callback:options:")
        lanternResize(arguments, selector, 1);
    else if (selector == "openUri:contentType:options:")
        lanternOpenUri(arguments);
    else if (selector == "logMessage:")
        lanternLogMessage(arguments);
    else if (selector == "receiveLocationUpdates:") {
        if (arguments[0] == std::optional<std::string>("true"))
            TGLocation::instance().startListeningToLocationUpdates(shared_from_this());
        else
            TGLocation::instance().stopListeningToLocationUpdates(this);
    } else
        forwardToComponent(selector, arguments);
    return true;
}

void TGAdView::forwardToComponent(std::string_view selector, const TGLanternArguments& arguments) {
    if (auto component = adWrapper_; component && component->respondsToLantern(selector))
        component->lanternCommand(selector, arguments);
}

void TGAdView::endFromPage() {
    setCurrentViewState(dismissingState);
    setCurrentViewState(dismissedState);
}

void TGAdView::lanternDocumentLoadStatus(const TGLanternArguments& arguments) {
    const std::string status = arguments.empty() ? std::string() : arguments[0].value_or("");
    TGLog::log("== Lantern Load State: " + status);
    const bool shown = currentViewState_ >= inactiveState;
    if (shown) {
        // A page that reloads itself on screen cannot restart the ad; its unload ends it.
        if (status == "onunload")
            endFromPage();
    } else if (status == "preload") {
        setCurrentViewState(loadingState);
    } else if (status == "onload") {
        setCurrentViewState(loadedState);
        sendLocationToPage();
    } else if (status == "onunload") {
        setCurrentViewState(dismissedState);
    }
    forwardToComponent("documentLoadStatus:", arguments);
}

void TGAdView::sendLocationToPage() {
    if (TGLocation::enabled()) {
        if (auto fix = TGLocation::location())
            locationUpdated(*fix);
    } else {
        locationDisabled();
    }
}

void TGAdView::locationUpdated(const platform::Location& location) {
    evalJS(platform::formatString("Lantern.locationUpdated({coords:{latitude:%f, longitude:%f, altitude:%f, "
                                  "accuracy:%f, altitudeAccuracy:%f, "
                                  "heading:%f, speed:%f},timestamp:new Date(%f)});",
                                  location.coordinate().latitude, location.coordinate().longitude,
                                  location.altitude(), location.horizontalAccuracy(),
                                  location.verticalAccuracy(), location.course(), location.speed(),
                                  location.timestamp().secondsSince1970 * 1000.0));
}

void TGAdView::locationDisabled() {
    evalJS("Lantern.locationError(1);");
}

void TGAdView::locationUpdateEncounteredAnError() {
    evalJS("Lantern.locationError(2);");
    TGLocation::instance().stopListeningToLocationUpdates(this);
}

void TGAdView::lanternBeginAdInteraction(const TGLanternArguments& arguments) {
    if (auto events = adEventCollection()) {
        auto& interact = events->interactRecord();
        interact.setCount(interact.count() + 1);
        interact.eventStartTimer();
    }
    forwardToComponent("beginAdInteraction:", arguments);
}

void TGAdView::lanternEndAdInteraction(const TGLanternArguments& arguments) {
    if (auto events = adEventCollection())
        events->interactRecord().eventStopTimer();
    forwardToComponent("endAdInteraction:", arguments);
}

void TGAdView::lanternResize(const TGLanternArguments& arguments, std::string_view selector,
                             std::size_t callbackIndex) {
    TGLanternArguments forwarded = arguments;
    if (callbackIndex < forwarded.size() && forwarded[callbackIndex])
        forwarded[callbackIndex] =
            platform::replaceAll(kExecuteCallback, "%@", escapeJS(*forwarded[callbackIndex]));
    forwardToComponent(selector, forwarded);
}

void TGAdView::lanternOpenUri(const TGLanternArguments& arguments) {
    const std::string uri = arguments.size() > 0 ? arguments[0].value_or("") : std::string();
    auto options = parseOptions(arguments.size() > 2 ? arguments[2].value_or("") : std::string());
    std::optional<std::string> altUri;
    if (auto it = options.find("alt-uri"); it != options.end())
        altUri = it->second;
    else if (auto alt = options.find("alt-url"); alt != options.end())
        altUri = alt->second;
    std::optional<std::string> clickType = arguments.size() > 1 ? arguments[1] : std::nullopt;
    if (!clickType || clickType->empty()) {
        clickType.reset();
        if (auto it = options.find("type"); it != options.end())
            clickType = it->second;
    }
    const auto fullscreen = options.find("fullscreen");
    const bool isFullScreen =
        fullscreen != options.end() &&
        (fullscreen->second == "true" || fullscreen->second == "yes" || fullscreen->second == "1");
    TGLog::log("Lantern OpenUri");
    TGLog::log("    URI: " + uri);
    TGLog::log("    altUri: " + altUri.value_or("(null)"));
    TGLog::log("    ClickType: " + clickType.value_or("(null)"));
    TGLog::log("    Options: " +
               (arguments.size() > 2 ? arguments[2].value_or("(null)") : std::string("(null)")));
    if (auto events = adEventCollection())
        events->clickRecord().addMessage(uri, "url");
    auto url = platform::URL::parse(uri);
    if (!url || !url->isAbsolute()) {
        TGLog::log("the clicked URI is not a URL: " + uri);
        return;
    }
    // The page chose this URL, so whatever the click does with it (play, browse) follows the
    // page's own local-file rule: no file outside the Lantern folder. (The alternate URL is
    // only ever handed to the system, which opens no file: URL.)
    const auto page = TGLanternFileManager::instance().uiWebViewBaseUrl();
    if (url->isFileURL() && !(page && platform::WebView::pageMayLoad(*page, *url))) {
        TGLog::log("the clicked URI is a file outside the ad's folder: " + uri);
        return;
    }
    std::optional<platform::URL> alternate;
    if (altUri)
        if (auto parsed = platform::URL::parse(*altUri); parsed && parsed->isAbsolute())
            alternate = std::move(parsed);
    if (auto controller = actionController_)
        controller->handleURL(*url, alternate, clickType, isFullScreen);
}

void TGAdView::lanternLogMessage(const TGLanternArguments& arguments) {
    TGLog::info("LanternLog: " + (arguments.empty() ? std::string() : arguments[0].value_or("")));
}

} // namespace tangent
