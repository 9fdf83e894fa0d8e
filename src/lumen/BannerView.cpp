#include "lumen/BannerView.h"

#include <cstdlib>

#include "lumen/NetworkUtilities.h"
#include "lumen/Screens.h"
#include "lumen/SignalHooks.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"

namespace lumen {

namespace {

constexpr unsigned kFlexibleWidthAndHeight = 18;
constexpr const char* kScriptStoreIdentifier = "LMNObjectPrivate";
constexpr const char* kExpireDateKey = "expireDate";
constexpr const char* kBuildFunction = "LUMA_buildAdURL";
constexpr const char* kRefreshRateHeader = "X-Luma-Refresh-Rate";
constexpr const char* kTrackingURLsHeader = "X-Luma-Tracking-Urls";
constexpr const char* kOrientationHeader = "X-Luma-Orientation";
constexpr int kStatusBadParameters = 400;
constexpr const char* kNoRootMessage =
    "<Lumen> Must set the rootViewController property of LMNBannerView before calling loadRequest:";
constexpr const char* kRejectedMessage =
    "<Lumen> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect.";
// The builder's messages, the only names the ad object listens to.
constexpr const char* kLoadAdURL = "loadAdURL";
constexpr const char* kInvalidRequest = "invalidRequest";
constexpr const char* kUnableToServe = "unableToServe";

std::string trimmed(const std::string& text) {
    const char* ws = " \t\r\n\v\f";
    auto b = text.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    return text.substr(b, text.find_last_not_of(ws) - b + 1);
}

std::string userInfoText(const platform::Notification& n) {
    return platform::Value(n.userInfo).toJSON();
}

} // namespace

// ---- LMNBannerView ----

std::shared_ptr<LMNBannerView> LMNBannerView::create(const platform::Rect& frame) {
    std::shared_ptr<LMNBannerView> view(new LMNBannerView(frame));
    view->setBackgroundColor(platform::Color::clearColor());
    view->private_ = LMNObjectPrivate::initWithView(*view);
    return view;
}

LMNBannerView::~LMNBannerView() {
    if (private_) {
        private_->cancelPendingActions();
        private_->detachView();
    }
}

const std::string& LMNBannerView::adUnitID() const {
    return private_->adUnitID();
}
void LMNBannerView::setAdUnitID(std::string id) {
    private_->setAdUnitID(std::move(id));
}
std::shared_ptr<platform::ViewController> LMNBannerView::rootViewController() const {
    return private_->rootViewController();
}
void LMNBannerView::setRootViewController(std::weak_ptr<platform::ViewController> c) {
    private_->setRootViewController(std::move(c));
}
std::shared_ptr<LMNBannerViewDelegate> LMNBannerView::delegate() const {
    auto* c = private_->delegateManager()->publisherDelegateContainer();
    return c ? c->delegate_.lock() : nullptr;
}
void LMNBannerView::setDelegate(std::weak_ptr<LMNBannerViewDelegate> delegate) {
    auto& manager = *private_->delegateManager();
    if (auto* c = manager.publisherDelegateContainer())
        c->delegate_ = std::move(delegate);
    else
        manager.addDelegate(std::move(delegate), std::static_pointer_cast<LMNBannerView>(shared_from_this()));
}
const std::shared_ptr<platform::WebView>& LMNBannerView::webView() const {
    return private_->webView();
}
bool LMNBannerView::hasAutoRefreshed() const {
    return private_->hasAutoRefreshed();
}

void LMNBannerView::loadRequest(std::shared_ptr<LMNRequest> request) {
    if (!rootViewController()) {
        platform::logLine(kNoRootMessage);
        auto req = request ? request : LMNRequest::request();
        private_->delegateManager()->didFailToReceiveAdWithError(
            LMNRequestError::errorWithCode(LMNRequestError::kInvalidRequest, req.get()));
        return;
    }
    private_->loadRequest(std::move(request));
}

// ---- LMNObjectPrivate ----

void LMNObjectPrivate::resetForTesting() {}

std::shared_ptr<LMNObjectPrivate> LMNObjectPrivate::initWithView(LMNBannerView& view) {
    std::shared_ptr<LMNObjectPrivate> self(new LMNObjectPrivate());
    self->delegateManager_ = std::make_shared<LMNDelegateManager>();
    auto bounds = view.bounds();
    self->webView_ = std::make_shared<platform::WebView>(bounds);
    self->webView_->setClipsToBounds(true);
    self->webView_->setAutoresizingMask(kFlexibleWidthAndHeight);
    self->webView_->setOpaque(false);
    self->webView_->setBackgroundColor(platform::Color::clearColor());
    self->webView_->setHidden(true);
    self->webViewDelegate_ = std::make_shared<LMNBannerWebViewDelegate>(self);
    self->webView_->setDelegate(self->webViewDelegate_);
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<LMNObjectPrivate> weak = self;
    auto on = [&](const char* name, void (*action)(LMNObjectPrivate&)) {
        self->observers_.push_back(center.addObserver(name, [weak, action](const platform::Notification&) {
            if (auto strong = weak.lock())
                action(*strong);
        }));
    };
    auto deactivate = [](LMNObjectPrivate& p) { p.resetReloadTimer(); };
    auto activate = [](LMNObjectPrivate& p) { p.scheduleReloadTimer(p.reloadSeconds_); };
    on(platform::kApplicationDidEnterBackgroundNotification, deactivate);
    on(platform::kApplicationWillEnterForegroundNotification, activate);
    on(LMNViewControllerWillPresentFullScreen, deactivate);
    on(LMNViewControllerDidRelinquishFullScreen, activate);
    self->adView_ = &view;
    view.addSubview(self->webView_);
    return self;
}

LMNObjectPrivate::~LMNObjectPrivate() {
    for (auto token : observers_)
        platform::NotificationCenter::defaultCenter().removeObserver(token);
    if (webView_)
        webView_->setDelegate({});
    resetBuildAdWebView();
    resetReloadTimer();
    if (buildAdJS_)
        buildAdJS_->setDelegate({});
    setAdHTML(nullptr);
    for (auto& t : trackers_)
        t->reset();
}

bool LMNObjectPrivate::isAppActive() const {
    // didAppFinishLaunching: a load asked for during launch goes ahead.
    auto& app = platform::Application::shared();
    return app.applicationState() == platform::ApplicationState::Active || !app.isLaunched();
}

void LMNObjectPrivate::report(int code) {
    delegateManager_->didFailToReceiveAdWithError(LMNRequestError::errorWithCode(code, request_.get()));
}

void LMNObjectPrivate::loadRequest(std::shared_ptr<LMNRequest> request) {
    hasAutoRefreshed_ = false;
    loadPrivateRequest(request ? std::move(request) : LMNRequest::request());
}

void LMNObjectPrivate::loadInterstitialRequest(std::shared_ptr<LMNRequest> request) {
    auto marked = request ? request->copy() : LMNRequest::request();
    marked->setInterstitialAd(true);
    loadRequest(std::move(marked));
}

void LMNObjectPrivate::loadPrivateRequest(std::shared_ptr<LMNRequest> request) {
    if (!isAppActive())
        return;
    if (!LMNRequest::deviceAtLeastMinimumOSMajorVersion(3, 0)) {
        report(LMNRequestError::kOSTooOld);
        state_ = kFailed;
        return;
    }
    if (request != request_)
        request_ = request ? request->copy() : LMNRequest::request();
    auto& statistics = LMNStatistics::sharedStatistics();
    if (!statistics.timingNamed("ptime"))
        statistics.startTimingNamed("ptime");
    request_->setCounter(statistics.incrementAdRequestCount());
    state_ = kBuildingURL;
    ensureSupportFiles();
}

void LMNObjectPrivate::ensureSupportFiles() {
    if (!buildAdJS_) {
        state_ = kFetchingScript;
        auto url = platform::URL::parse(lumenServiceBaseURL() + kCoreScriptPath);
        if (!url) {
            report(LMNRequestError::kNetworkError);
            return;
        }
        buildAdJS_ = LMNCachedFile::create(weak_from_this(), *url);
    }
    LMNStatisticsCore store(kScriptStoreIdentifier);
    auto expires = store.dateForKey(kExpireDateKey);
    const double now = platform::Clock::current().now();
    auto script = buildAdJS_->content();
    if (expires && script && !script->empty() && expires->secondsSince1970 >= now) {
        cachedFileDownloadDidEnd(*buildAdJS_);
        return;
    }
    store.setDate(kExpireDateKey, platform::Date{now + kScriptFreshSeconds});
    store.synchronize();
    state_ = kFetchingScript;
    buildAdJS_->validate();
}

std::optional<platform::Error> LMNObjectPrivate::cachedFileShouldRedirectToURL(LMNCachedFile& file,
                                                                               const platform::URL&) {
    if (&file != adHTML_.get())
        return std::nullopt;
    if (auto header = file.httpHeaders().value(kTrackingURLsHeader)) {
        std::size_t at = 0;
        while (at <= header->size()) {
            auto end = header->find(' ', at);
            auto piece = trimmed(header->substr(at, end == std::string::npos ? std::string::npos : end - at));
            if (auto url = platform::URL::parse(piece); url && url->isAbsolute())
                pendingTrackingURLs_.push_back(*url);
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
    }
    supportedOrientations_ =
        LMNViewController::orientationFromString(file.httpHeaders().value(kOrientationHeader));
    return std::nullopt;
}

void LMNObjectPrivate::cachedFileDownloadDidEnd(LMNCachedFile& file) {
    if (&file == buildAdJS_.get())
        buildAdUrl();
    else if (&file == adHTML_.get())
        showAd();
}

void LMNObjectPrivate::cachedFileDownloadDidFail(LMNCachedFile& file, const std::optional<platform::Error>&) {
    if (&file == buildAdJS_.get())
        failedToDownloadJavaScriptWithError();
    else if (&file == adHTML_.get())
        failedAdRequestWithError(file);
}

void LMNObjectPrivate::failedToDownloadJavaScriptWithError() {
    state_ = kScriptFailed;
    auto script = buildAdJS_->content();
    if (script && !script->empty())
        buildAdUrl();
    else
        report(LMNRequestError::kNetworkError);
}

void LMNObjectPrivate::buildAdUrl() {
    state_ = kBuildingURL;
    auto parameters = request_->parameters();
    if (!adUnitID_.empty())
        parameters["slotname"] = adUnitID_;
    if (request_->isInterstitialAd()) {
        parameters["format"] = "interstitial_mb";
    } else if (adView_) {
        auto frame = adView_->frame();
        parameters["ad_frame"] = platform::Dictionary{
            {"x", frame.origin.x}, {"y", frame.origin.y}, {"w", frame.size.width}, {"h", frame.size.height}};
    }
    std::string json = jsonForScript(platform::Value(parameters));
    setupBuildAdWebView();
    std::string page = "<html><head><script>" + buildAdJS_->content().value_or("") + "</script>" +
                       "<script>" + kBuildFunction + "(" + json + ");</script>" +
                       "</head><body></body></html>";
    buildAdWebView_->loadHTMLString(std::move(page), platform::URL::parse(lumenServiceBaseURL() + "/"));
}

void LMNObjectPrivate::setupBuildAdWebView() {
    resetBuildAdWebView();
    buildAdWebViewDelegate_ = std::make_shared<LMNWebViewDelegate>();
    buildAdWebView_ = std::make_shared<platform::WebView>(platform::Rect(0, 0, 1, 1));
    buildAdWebView_->setHidden(true);
    buildAdWebView_->setDelegate(buildAdWebViewDelegate_);
    std::weak_ptr<LMNObjectPrivate> weak = weak_from_this();
    auto& center = LMNNotificationCenter::defaultCenter();
    const void* sender = buildAdWebView_.get();
    builderObservers_.push_back(center.addObserver(
        kLoadAdURL,
        [weak](const platform::Notification& n) {
            if (auto self = weak.lock())
                self->loadAdURL(n);
        },
        sender));
    builderObservers_.push_back(center.addObserver(
        kInvalidRequest,
        [weak](const platform::Notification& n) {
            if (auto self = weak.lock())
                self->builderRefused(n, "<Lumen> Invalid Request: ");
        },
        sender));
    builderObservers_.push_back(center.addObserver(
        kUnableToServe,
        [weak](const platform::Notification& n) {
            if (auto self = weak.lock())
                self->builderRefused(n, "<Lumen> Unable to serve: ");
        },
        sender));
}

void LMNObjectPrivate::resetBuildAdWebView() {
    for (auto token : builderObservers_)
        LMNNotificationCenter::defaultCenter().removeObserver(token);
    builderObservers_.clear();
    if (buildAdWebView_) {
        buildAdWebView_->setDelegate({});
        buildAdWebView_->stopLoading();
    }
    buildAdWebView_.reset();
    buildAdWebViewDelegate_.reset();
}

void LMNObjectPrivate::builderRefused(const platform::Notification& n, const char* what) {
    resetBuildAdWebView();
    platform::logLine(what + userInfoText(n));
    report(LMNRequestError::kInvalidRequest);
}

void LMNObjectPrivate::loadAdURL(const platform::Notification& n) {
    resetBuildAdWebView();
    state_ = kFetchingAd;
    std::optional<platform::URL> url;
    if (auto* u = n.userInfo.count("url") ? n.userInfo.at("url").string() : nullptr)
        url = platform::URL::parse(*u);
    std::optional<std::string> type;
    if (auto it = n.userInfo.find("type"); it != n.userInfo.end() && it->second.string())
        type = *it->second.string();
    lmn_gig(LMNRequest::requestTypeFromString(type), LMNRequest::sdkVersion());
    if (!url || !url->isAbsolute() || !(url->scheme() == "http" || url->scheme() == "https")) {
        // An ad URL that cannot be fetched is the ad server's failure.
        state_ = kFailed;
        report(LMNRequestError::kNetworkError);
        return;
    }
    auto signals = request_->spamSignals();
    if (!signals.empty()) {
        std::vector<std::pair<std::string, std::string>> pairs;
        for (auto& [k, v] : signals)
            pairs.emplace_back(k, v.stringOr(""));
        url = LMNNetworkUtilities::appendQueryParameters(pairs, *url);
    }
    LMNStatistics::sharedStatistics().startTimingNamed("prl");
    setAdHTML(LMNCachedFile::create(weak_from_this(), *url));
}

void LMNObjectPrivate::setAdHTML(std::shared_ptr<LMNCachedFile> file) {
    if (adHTML_ && adHTML_ != file) {
        adHTML_->setDelegate({});
        adHTML_->invalidate();
    }
    adHTML_ = std::move(file);
    if (adHTML_)
        adHTML_->validate();
    pendingTrackingURLs_.clear();
}

void LMNObjectPrivate::showAd() {
    auto text = trimmed(adHTML_->content().value_or(""));
    auto base = adHTML_->httpDestinationURL();
    addReloadInformationFromHeaders();
    if (text.empty()) {
        state_ = kFailed;
        report(LMNRequestError::kNoAd);
        return;
    }
    state_ = kLoadingAd;
    webView_->loadHTMLString(std::move(text), base);
}

void LMNObjectPrivate::bannerPageDidFinish() {
    if (state_ != kLoadingAd)
        return;
    state_ = kShown;
    webView_->setHidden(false);
    delegateManager_->didReceiveAd();
    auto& statistics = LMNStatistics::sharedStatistics();
    statistics.endTimingNamed("prl");
    statistics.startTimingNamed("ppcl");
}

void LMNObjectPrivate::bannerPageDidFail() {
    if (state_ != kShown)
        report(LMNRequestError::kNetworkError);
}

void LMNObjectPrivate::failedAdRequestWithError(LMNCachedFile& file) {
    state_ = kFailed;
    if (file.httpStatusCode() == kStatusBadParameters) {
        platform::logLine(kRejectedMessage);
        report(LMNRequestError::kInvalidRequest);
    } else {
        report(LMNRequestError::kNetworkError);
    }
    addReloadInformationFromHeaders();
}

void LMNObjectPrivate::addReloadInformationFromHeaders() {
    double seconds = reloadSeconds_;
    if (adHTML_)
        if (auto header = adHTML_->httpHeaders().value(kRefreshRateHeader); header && !header->empty())
            seconds = std::strtod(header->c_str(), nullptr);
    // A negative or unreadable interval schedules nothing.
    if (!(seconds >= 0))
        seconds = 0;
    scheduleReloadTimer(seconds);
}

void LMNObjectPrivate::scheduleReloadTimer(double seconds) {
    resetReloadTimer();
    if (seconds == 0)
        return;
    std::weak_ptr<LMNObjectPrivate> weak = weak_from_this();
    reloadTimer_ = platform::Timer::scheduled(seconds, false, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->reloadCurrentRequest();
    });
    reloadSeconds_ = seconds;
}

void LMNObjectPrivate::resetReloadTimer() {
    if (reloadTimer_)
        reloadTimer_->invalidate();
    reloadTimer_.reset();
}

void LMNObjectPrivate::reloadCurrentRequest() {
    hasAutoRefreshed_ = true;
    loadPrivateRequest(request_);
}

void LMNObjectPrivate::cancelPendingActions() {
    platform::RunLoop::current().cancelPerforms(this);
    resetReloadTimer();
}

void LMNObjectPrivate::trackURLs(const std::vector<std::string>& urls) {
    for (const auto& text : urls) {
        auto url = platform::URL::parse(text);
        if (!url || !url->isAbsolute())
            continue;
        auto tracker = LMNClickTracker::create();
        tracker->setDelegate(weak_from_this());
        trackers_.push_back(tracker);
        tracker->trackURL(*url);
    }
}

void LMNObjectPrivate::scheduleCleanupTrackers() {
    std::weak_ptr<LMNObjectPrivate> weak = weak_from_this();
    platform::RunLoop::current().performAfter(
        0,
        [weak] {
            if (auto self = weak.lock())
                std::erase_if(self->trackers_, [](const auto& t) { return t->hasTracked(); });
        },
        this, "cleanupTrackers");
}

// ---- LMNBannerWebViewDelegate ----

bool LMNBannerWebViewDelegate::webViewShouldStartLoadWithRequestNavigationType(
    platform::WebView& webView, const platform::URLRequest& request, platform::WebViewNavigationType type) {
    auto owner = private_.lock();
    if (!owner)
        return false;
    auto self = shared_from_this();
    viewController_ = owner->rootViewController();
    opener_->delegateManager_ = owner->delegateManager();
    opener_->viewController_ = owner->rootViewController();
    if (owner->state() != LMNObjectPrivate::kShown)
        return LMNWebViewDelegate::webViewShouldStartLoadWithRequestNavigationType(webView, request, type);
    auto clickURL = LMNStatistics::sharedStatistics().urlForClick(request.url());
    if (LMNWebViewDelegate::webViewShouldStartLoadWithRequestNavigationType(webView, request, type)) {
        if (auto current = webView.request())
            opener_->referringURL_ = current->url();
        if (clickURL.scheme().starts_with("http"))
            opener_->openBrowserToURL(clickURL, kOrientationAny);
    }
    return false;
}

void LMNBannerWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    LMNWebViewDelegate::webViewDidFinishLoad(webView);
    if (auto owner = private_.lock())
        owner->bannerPageDidFinish();
}

void LMNBannerWebViewDelegate::webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) {
    if (error.domain == platform::kURLErrorDomain && error.code == platform::kURLErrorCancelled)
        return; // a page replaced by the next ad
    if (auto owner = private_.lock())
        owner->bannerPageDidFail();
}

} // namespace lumen
