#include "tangent/TGAdWidget.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "tangent/TGActionController.h"
#include "tangent/TGAdWidgetDelegate.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGEventManager.h"
#include "tangent/TGLanternFileManager.h"
#include "tangent/TGLocation.h"
#include "tangent/TGNetReachability.h"
#include "tangent/TGTimer.h"
#include "vellum/richmedia/VellumAdManager.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr unsigned kFlexibleLeftAndRightMargins = 5;
constexpr std::string_view kDeviceOrientationDidChangeNotification = "DeviceOrientationDidChangeNotification";
constexpr std::string_view kEmptyAdMarker = "default/empty.gif";

int statusBarOrientation() {
    return static_cast<int>(platform::Application::shared().statusBarOrientation());
}

std::optional<std::string> infoString(std::string_view key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    if (value && value->string())
        return *value->string();
    return std::nullopt;
}

// Set once the rich-media engine has been started.
bool gVellumInitialized = false;

// A boolean of the information dictionary (absent: false).
bool infoBool(std::string_view key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    if (!value)
        return false;
    if (value->isNumber())
        return value->number().value_or(0) != 0;
    if (auto text = value->string())
        return platform::boolValue(*text);
    return false;
}

void logTransition(std::string_view selector, int fromState, int toState) {
    TGLog::log(std::string(selector) + " " + viewStateName(fromState) + " to: " + viewStateName(toState));
}

} // namespace

std::shared_ptr<TGAdWidgetWorker> TGAdWidget::create(const std::shared_ptr<TGAdWidgetDelegate>& delegate,
                                                     bool shouldStartLoading) {
    auto widget = std::shared_ptr<TGAdWidgetWorker>(new TGAdWidgetWorker());
    widget->setUp(delegate, shouldStartLoading);
    return widget;
}

void TGAdWidget::initializeAdService(bool allowLocation) {
    TGAdWidgetWorker::initializeAdService(allowLocation);
}

void TGAdWidget::enableLocationUse() {
    TGAdWidgetWorker::enableLocationUse();
}

void TGAdWidgetWorker::initializeAdService(bool allowLocation) {
    TGLanternFileManager::instance();
    // The event manager submits the reports stored by earlier runs.
    TGEventManager::instance();
    if (allowLocation)
        TGLocation::instance().initializeLocationManager();
    else
        TGLocation::instance();
    auto appId = infoString("TGMAppId");
    if (!appId) {
        TGLog::info("No TGMAppId found, not initializing Vellum library.");
        return;
    }
    const bool test = infoBool("TGMTest");
    // The short version under its usual key when the shorter one is absent.
    auto version = infoString("CFBundleShortVersion");
    if (!version)
        version = infoString("CFBundleShortVersionString");
    platform::Bundle::main().setInfoDictionaryValue("VellumUseTestServers", platform::Value(test));
    TGLog::info("Initializing Vellum (ver. " + vellum::VellumAnalyticsManager::version() + ")");
    TGLog::info("   TGMAppId: " + *appId);
    TGLog::info(std::string("   TGMTest : ") + (test ? "Yes" : "No"));
    vellum::VellumAdManager::sharedInstance()->initializeWithAppID(appId, version, nullptr, allowLocation);
    gVellumInitialized = true;
}

void TGAdWidgetWorker::enableLocationUse() {
    TGLocation::instance().initializeLocationManager();
}

bool TGAdWidgetWorker::vellumInitialized() {
    return gVellumInitialized;
}

void TGAdWidgetWorker::resetForTesting() {
    gVellumInitialized = false;
}

TGAdWidgetWorker::TGAdWidgetWorker() : TGAdWidget(platform::Rect{0, 0, kInitialWidth, kInitialHeight}) {}

std::shared_ptr<TGAdWidgetWorker> TGAdWidgetWorker::self() {
    return std::static_pointer_cast<TGAdWidgetWorker>(sharedView());
}

void TGAdWidgetWorker::setUp(const std::shared_ptr<TGAdWidgetDelegate>& delegate, bool shouldStartLoading) {
    setDelegate(delegate);
    setOpaque(false);
    setBackgroundColor(platform::Color::clearColor());
    setAutoresizingMask(kFlexibleLeftAndRightMargins);
    std::weak_ptr<TGAdWidgetWorker> weakSelf = self();
    refreshTimer_ = TGTimer::create(weakSelf, &TGAdWidgetWorker::timeCompleteForRefreshTimer);
    renderTimer_ = TGTimer::create(weakSelf, &TGAdWidgetWorker::timeCompleteForRenderTimer);
    autoDismissTimer_ = TGTimer::create(weakSelf, &TGAdWidgetWorker::timeCompleteForAutoDismissTimer);
    refreshTimer_->setInterval(refreshInterval_);
    renderTimer_->setInterval(delegateAdaptor_->renderInterval());
    autoDismissTimer_->setInterval(delegateAdaptor_->interstitialInterval());
    margin_ = 0;
    knownOrientation_ = statusBarOrientation();
    networkStatus_ = TGNetReachability::sharedReachability().internetConnectionStatus();
    observe(kNetworkReachabilityChangedNotification, &TGAdWidgetWorker::reachabilityChanged);
    observe(platform::kApplicationWillTerminateNotification, &TGAdWidgetWorker::applicationWillTerminateNotification);
    if (shouldStartLoading)
        loadRequest();
}

TGAdWidgetWorker::~TGAdWidgetWorker() {
    TGLog::log("- dealloc: TGAdWidgetWorker");
    removeAllEventObservers();
    tearDown();
}

void TGAdWidgetWorker::tearDown() {
    auto future = std::move(futureAdView_);
    auto current = std::move(currentAdView_);
    futureAdView_.reset();
    currentAdView_.reset();
    if (future)
        future->endDisplay();
    if (current)
        current->endDisplay();
    if (request_)
        request_->stopRequest();
    request_.reset();
    for (auto* timer : {&refreshTimer_, &renderTimer_, &autoDismissTimer_}) {
        if (*timer)
            (*timer)->stopTimer();
        timer->reset();
    }
    delegate_.reset();
    delegateAdaptor_.reset();
}

void TGAdWidgetWorker::observe(std::string_view name, void (TGAdWidgetWorker::*handler)()) {
    std::weak_ptr<TGAdWidgetWorker> weakSelf = self();
    observers_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, [weakSelf, handler](const platform::Notification&) {
            if (auto widget = weakSelf.lock())
                ((*widget).*handler)();
        }));
}

void TGAdWidgetWorker::removeAllEventObservers() {
    for (const auto& token : observers_)
        platform::NotificationCenter::defaultCenter().removeObserver(token);
    observers_.clear();
}

std::shared_ptr<TGDelegateAdaptor> TGAdWidgetWorker::makeAdaptor() {
    auto adaptor = std::make_shared<TGDelegateAdaptorImmutable>();
    adaptor->setAdWidget(self());
    adaptor->setDelegate(delegate_.lock());
    return adaptor;
}

void TGAdWidgetWorker::setDelegate(const std::shared_ptr<TGAdWidgetDelegate>& delegate) {
    delegate_ = delegate;
    delegateAdaptor_ = makeAdaptor();
}

void TGAdWidgetWorker::setTransition(int transition) {
    transition_ = transition > 1 ? transition : kDefaultTransition;
}

void TGAdWidgetWorker::setRefreshInterval(int seconds) {
    refreshInterval_ = seconds;
    if (refreshTimer_)
        refreshTimer_->setInterval(seconds);
}

void TGAdWidgetWorker::setAutorotate(bool autorotate) {
    if (autorotate && !autorotate_)
        observe(kDeviceOrientationDidChangeNotification, &TGAdWidgetWorker::didRotate);
    else if (!autorotate && autorotate_)
        removeAllEventObservers();
    autorotate_ = autorotate;
}

// ---- Requests ----

void TGAdWidgetWorker::refreshAd() {
    requestAdRotation();
    loadRequest();
}

void TGAdWidgetWorker::loadRequest() {
    std::lock_guard guard(lock_);
    forceLoadRequest();
}

void TGAdWidgetWorker::forceLoadRequest() {
    std::lock_guard guard(lock_);
    if (request_ || futureAdView_ || (currentAdView_ && currentAdView_->currentViewState() != inactiveState)) {
        TGLog::log("Skipping load request because we're currently loading or displaying the ad");
        return;
    }
    auto keepAlive = self();
    delegateAdaptor_ = makeAdaptor();
    delegateAdaptor_->adEventCollection()->requestRecord().eventStartTimer();
    stopRefreshTimer();
    auto adaptor = delegateAdaptor_;
    request_ = TGRequest::create(std::weak_ptr<TGRequestDelegate>(keepAlive));
    request_->setBaseURL(adaptor->baseUrl());
    request_->setProtocolVersion(adaptor->protocolVersion());
    request_->publisher = adaptor->publisher();
    request_->adSpot = adaptor->adSpot();
    request_->site = adaptor->site();
    request_->adultContent = adaptor->adultContent();
    request_->extraParameters = adaptor->extraParameters();
    request_->supportedApplications = adaptor->supportedApplications();
    request_->query = adaptor->query();
    request_->location = adaptor->location();
    request_->networkStatus = networkStatus_;
    request_->bundleId = infoString("CFBundleIdentifier");
    request_->bundleVersion = infoString("CFBundleVersion");
    const platform::Rect size = adaptor->isInterstitial() ? platform::Screen::main().bounds() : frame();
    request_->adWidth = static_cast<int>(size.size.width);
    request_->adHeight = static_cast<int>(size.size.height);
    request_->intersitial = adaptor->isInterstitial();
    const int orientation = statusBarOrientation();
    request_->portrait = orientation == 1 || orientation == 2;
    auto request = request_;
    request->fetchAd();
}

void TGAdWidgetWorker::modifyUrl(std::string& url, TGRequest&) {
    if (delegateAdaptor_)
        delegateAdaptor_->modifyAdUrl(url);
}

void TGAdWidgetWorker::requestDidFinishLoading(TGRequest& request) {
    if (&request != request_.get()) {
        TGLog::log("Unexpected request finished laoding");
        return;
    }
    auto keepAlive = self();
    auto held = request_;
    delegateAdaptor_->setRequestId(request.headers().value(TGRequest::kResponseIdHeader));
    auto& requestRecord = delegateAdaptor_->adEventCollection()->requestRecord();
    requestRecord.updateFromDelegateAdaptor(*delegateAdaptor_);
    requestRecord.eventStopTimer();
    const std::string content = request.content().value_or("");
    if (content.find(kEmptyAdMarker) != std::string::npos) {
        requestDidFailWithError(request, std::nullopt);
        return;
    }
    const platform::Rect frameForAd = delegateAdaptor_->isInterstitial() ? platform::Screen::main().bounds() : frame();
    futureAdView_ = TGAdView::create(platform::Rect{0, 0, frameForAd.size.width, frameForAd.size.height},
                                     delegateAdaptor_, std::weak_ptr<TGStateListener>(keepAlive));
    request_.reset();
    auto future = futureAdView_;
    future->loadAdContent(content);
}

void TGAdWidgetWorker::requestDidFailWithError(TGRequest& request, const std::optional<platform::Error>& error) {
    if (&request != request_.get())
        return;
    auto keepAlive = self();
    auto held = request_;
    if (auto adaptor = delegateAdaptor_) {
        adaptor->adEventCollection()->requestRecord().eventStopTimer();
        adaptor->didFailToRequestAd(error);
    }
    request_.reset();
    startRefreshTimer();
}

void TGAdWidgetWorker::requestAdRotation() {
    if (currentAdView_) {
        const int state = currentAdView_->currentViewState();
        if (state == activeState || state == clickingState || state == clickedState) {
            TGLog::log("Requested ad rotation being skipped due to current ad interaction");
            return;
        }
    }
    if (!futureAdView_) {
        startRefreshTimer();
        return;
    }
    auto adaptor = futureAdView_->delegateAdaptor();
    if (!adaptor || adaptor->shouldRenderAd())
        renderAd();
    else
        startRenderTimer();
}

void TGAdWidgetWorker::renderAd() {
    std::lock_guard guard(lock_);
    auto keepAlive = self();
    stopRenderTimer();
    stopAutoDismissTimer();
    if (!futureAdView_) {
        startRefreshTimer();
        return;
    }
    if (futureAdView_->actualViewState() != loadedState)
        return;
    if (auto previous = std::move(currentAdView_)) {
        currentAdView_.reset();
        previous->endDisplay();
    }
    TGLog::log("Making futureAdView the new currentAdView");
    currentAdView_ = std::move(futureAdView_);
    futureAdView_.reset();
    std::shared_ptr<platform::View> container = keepAlive;
    std::shared_ptr<platform::Window> displayWindow = window();
    if (currentAdView_->isInterstitial()) {
        displayWindow = platform::Application::shared().keyWindow();
        container = displayWindow;
    }
    if (displayWindow)
        displayWindow->makeKeyAndVisible();
    auto current = currentAdView_;
    current->beginDisplayInView(container);
}

// ---- Timers ----

void TGAdWidgetWorker::startRefreshTimer() {
    if (!refreshTimer_ || refreshTimer_->isActive() || request_ || refreshTimer_->interval() <= 0 ||
        (delegateAdaptor_ && delegateAdaptor_->isInterstitial()))
        return;
    TGLog::log("Starting refresh timer");
    refreshTimer_->startTimer();
}

void TGAdWidgetWorker::stopRefreshTimer() {
    if (refreshTimer_ && refreshTimer_->isActive()) {
        refreshTimer_->stopTimer();
        TGLog::log("Stopping refresh timer");
    }
}

void TGAdWidgetWorker::startRenderTimer() {
    if (!renderTimer_ || renderTimer_->isActive() || !futureAdView_)
        return;
    auto adaptor = futureAdView_->delegateAdaptor();
    renderTimer_->setInterval(adaptor ? adaptor->renderInterval() : TGDelegateAdaptor::kDefaultRenderInterval);
    TGLog::log("Starting render timer");
    renderTimer_->startTimer();
}

void TGAdWidgetWorker::stopRenderTimer() {
    if (renderTimer_ && renderTimer_->isActive()) {
        renderTimer_->stopTimer();
        TGLog::log("Stopping render timer");
    }
}

void TGAdWidgetWorker::startAutoDismissTimer() {
    if (!autoDismissTimer_ || !currentAdView_ || currentAdView_->currentViewState() != inactiveState)
        return;
    auto adaptor = currentAdView_->delegateAdaptor();
    if (!adaptor || !adaptor->isInterstitial() || adaptor->interstitialInterval() <= 0)
        return;
    autoDismissTimer_->setInterval(adaptor->interstitialInterval());
    TGLog::log("- Starting AutoDismiss Timer");
    autoDismissTimer_->startTimer();
}

void TGAdWidgetWorker::stopAutoDismissTimer() {
    if (autoDismissTimer_ && autoDismissTimer_->isActive()) {
        autoDismissTimer_->stopTimer();
        TGLog::log("- Stopping AutoDismiss timer");
    }
}

void TGAdWidgetWorker::timeCompleteForRefreshTimer(TGTimer&) {
    refreshAd();
}

void TGAdWidgetWorker::timeCompleteForRenderTimer(TGTimer&) {
    TGLog::log("Time Complete for RenderTimer");
    renderAd();
}

void TGAdWidgetWorker::timeCompleteForAutoDismissTimer(TGTimer&) {
    TGLog::log("- Time Complete for AutoDismiss Timer");
    if (auto current = currentAdView_)
        current->endDisplay();
}

// ---- Ad view states ----

void TGAdWidgetWorker::tgAdViewDidTransitionFromViewState(TGAdView& adView, int fromState, int toState,
                                                          const std::optional<platform::Error>&) {
    auto keepAlive = self();
    if (&adView == futureAdView_.get())
        futureDidTransition(adView, fromState, toState);
    else if (&adView == currentAdView_.get())
        currentDidTransition(adView, fromState, toState);
    // Reports of an ad view that is neither current nor future (already dropped) are ignored.
}

void TGAdWidgetWorker::futureDidTransition(TGAdView& adView, int fromState, int toState) {
    logTransition("futureDidTransitionFromViewState:to:withError:", fromState, toState);
    switch (toState) {
    case errorState:
    case dismissingState:
    case dismissedState: {
        auto dropped = std::move(futureAdView_);
        futureAdView_.reset();
        auto adaptor = adView.delegateAdaptor();
        dropped->endDisplay();
        // The request succeeded but its ad cannot be shown: the host hears of it.
        if (adaptor)
            adaptor->didFailToShowAd(std::nullopt);
        startRefreshTimer();
        return;
    }
    case loadedState:
        requestAdRotation();
        return;
    case uninitializedState:
    case pendingState:
    case loadingState:
        return;
    default:
        TGLog::log("futureDidTransitionFromViewState:to:withError: - Unexpected Future State " +
                          viewStateName(fromState) + " -> " + viewStateName(toState));
        // The future ad is in a state it cannot reach before it is shown (a page that clicks
        // while loading): drop it and tell the host, as for any future ad that fails.
        auto dropped = std::move(futureAdView_);
        futureAdView_.reset();
        auto adaptor = adView.delegateAdaptor();
        dropped->endDisplay();
        if (adaptor)
            adaptor->didFailToShowAd(std::nullopt);
        startRefreshTimer();
        return;
    }
}

void TGAdWidgetWorker::currentDidTransition(TGAdView& adView, int fromState, int toState) {
    logTransition("currentDidTransitionFromViewState:to:withError:", fromState, toState);
    auto held = currentAdView_;
    auto adaptor = adView.delegateAdaptor();
    if (fromState == clickedState || (fromState == clickingState && toState != clickedState))
        adView.setWorking(false);
    if (adaptor && fromState == inactiveState && (toState == activeState || toState == clickingState))
        adaptor->beginAdInteraction();
    const bool fromInteraction = fromState == activeState || fromState == clickingState || fromState == clickedState;
    if (adaptor && fromInteraction && toState == inactiveState)
        adaptor->endAdInteraction();
    if (adaptor && adaptor->isInterstitial()) {
        if (toState == clickedState || toState == dismissingState)
            stopAutoDismissTimer();
        else if (fromState == clickedState)
            startAutoDismissTimer();
        if (fromState == loadedState)
            adaptor->beginDisplayingInterstitial();
        else if (toState == dismissingState)
            adaptor->endDisplayingInterstitial();
    }
    switch (toState) {
    case errorState:
        currentAdView_.reset();
        held->endDisplay();
        requestAdRotation();
        return;
    case inactiveState:
        startRefreshTimer();
        return;
    case activeState:
        stopRefreshTimer();
        return;
    case clickingState:
        adView.setWorking(true);
        stopRefreshTimer();
        return;
    case clickedState:
        return;
    case dismissingState:
        if (fromState == activeState || fromState == clickingState) {
            TGLog::log("Warning: Dismissing an ad that is currently active (or in the process of clicking)");
            // The interaction ends with the ad, so the host's modal mark is cleared.
            if (adaptor)
                adaptor->endAdInteraction();
        } else if (fromState == clickedState) {
            TGLog::log("Warning: Dismissing an ad that has been clicked on.");
            if (adaptor)
                adaptor->endAdInteraction();
        }
        stopAutoDismissTimer();
        return;
    case dismissedState:
        if (fromState != dismissingState)
            TGLog::log("Invalid State Transition: Ad being dismissed is not marked as dismissing");
        currentAdView_.reset();
        held->endDisplay();
        if (auto adaptor = held->delegateAdaptor())
            adaptor->adEventCollection()->submitEventReports();
        return;
    default:
        TGLog::log("currentDidTransitionFromViewState:to:withError: - Unexpected Current State " +
                          viewStateName(fromState) + " -> " + viewStateName(toState));
        return;
    }
}

void TGAdWidgetWorker::tgAdViewDidUpdateSyncState(TGAdView& adView, int syncState) {
    const char* which = &adView == futureAdView_.get() ? "futureAdView" : "currentAdView";
    if (syncState == protectedState) {
        ++syncStateDepth_;
        protections_.push_back({self(), adView.shared_from_this(), delegate_.lock()});
    } else if (syncState == unprotectedState) {
        --syncStateDepth_;
        if (!protections_.empty()) {
            // Released on a later turn, as an autorelease would, so that the caller finishes
            // with everything still alive.
            auto released = std::make_shared<Protection>(std::move(protections_.back()));
            protections_.pop_back();
            platform::RunLoop::main().perform([released] {});
        }
    } else {
        TGLog::log("Unknown value for TGAdSyncState");
        return;
    }
    TGLog::log(platform::formatString("%s tgAdView:didUpdateSyncState: %s [%d]", which,
                                             syncStateName(syncState).c_str(), syncStateDepth_));
}

// ---- Notifications and view moves ----

void TGAdWidgetWorker::reachabilityChanged() {
    networkStatus_ = TGNetReachability::sharedReachability().internetConnectionStatus();
}

void TGAdWidgetWorker::applicationWillTerminateNotification() {
    if (request_)
        request_->stopRequest();
    if (auto future = futureAdView_)
        future->endDisplay();
    if (auto current = currentAdView_)
        current->endDisplay();
    stopRefreshTimer();
    stopRenderTimer();
    stopAutoDismissTimer();
}

void TGAdWidgetWorker::didRotate() {
    if (!autorotate_)
        return;
    const int orientation = statusBarOrientation();
    if (orientation < 1 || orientation > 4 || orientation == knownOrientation_)
        return;
    if (currentAdView_ && currentAdView_->delegateAdaptor())
        currentAdView_->delegateAdaptor()->orientationHasChangedTo(orientation);
    if (auto current = currentAdView_)
        current->rotate();
    if (auto future = futureAdView_)
        future->rotate();
    knownOrientation_ = orientation;
}

void TGAdWidgetWorker::willMoveToSuperview(platform::View* newSuperview) {
    const bool hadSuperview = superview() != nullptr;
    if (newSuperview && !hadSuperview) {
        if (futureAdView_)
            startRenderTimer();
        else
            startRefreshTimer();
    } else if (!newSuperview && hadSuperview) {
        if (request_)
            request_->stopRequest();
        request_.reset();
        stopRefreshTimer();
        stopRenderTimer();
    }
}

void TGAdWidgetWorker::willMoveToWindow(platform::Window* newWindow) {
    if (currentAdView_ && (currentAdView_->currentViewState() == clickedState || currentAdView_->isInterstitial()))
        return;
    const bool hadWindow = window() != nullptr;
    if (newWindow && !hadWindow) {
        TGLog::log("Ad has been moved into a window, restarting timers");
        if (futureAdView_)
            startRenderTimer();
        else
            startRefreshTimer();
    } else if (!newWindow && hadWindow) {
        TGLog::log("Ad has been moved out of a window, cleaning up timers and actions");
        if (currentAdView_)
            if (auto controller = currentAdView_->actionController())
                controller->stop();
        stopRefreshTimer();
        stopRenderTimer();
    }
}

} // namespace tangent
