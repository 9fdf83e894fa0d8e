#include "tangent/TGActionController.h"

#include <algorithm>
#include <array>

#include "platform/foundation/Strings.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/media/MoviePlayerNotifications.h"
#include "platform/media/MoviePlayerViewController.h"
#include "platform/net/URLError.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Pasteboard.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGAdView.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGLanternFileManager.h"
#include "tangent/TGLog.h"
#include "tangent/TGViewCategories.h"

namespace tangent {

namespace {

// Link hosts of the outside services the URL table recognises.
constexpr std::array<std::string_view, 2> kiTunesHosts = {"itunes.apple.com", "phobos.apple.com"};
constexpr std::string_view kMapsHost = "maps.google.com";
constexpr std::string_view kYoutubeHost = "www.youtube.com";
constexpr std::string_view kYoutubePath = "/watch";
constexpr std::array<std::string_view, 9> kVideoExtensions = {".mov", ".avi", ".mpg",  ".mpeg", ".wmv",
                                                              ".wma", ".mp4", ".m4v", ".3gp"};

struct SchemeRow {
    std::string_view scheme;
    int action;
};
constexpr std::array<SchemeRow, 6> kSchemeActions = {{
    {"about", TGActionController::kActionUri},
    {"tel", TGActionController::kActionTel},
    {"sms", TGActionController::kActionTel},
    {"webcal", TGActionController::kActionNative},
    {"ical", TGActionController::kActionNative},
    {"mailto", TGActionController::kActionNative},
}};

struct TypeRow {
    std::string_view word;
    int action;
};
constexpr std::array<TypeRow, 16> kTypeActions = {{
    {"youtube", TGActionController::kActionYoutube},
    {"video", TGActionController::kActionVideo},
    {"movie", TGActionController::kActionVideo},
    {"uri", TGActionController::kActionUri},
    {"url", TGActionController::kActionUri},
    {"native", TGActionController::kActionNative},
    {"browser", TGActionController::kActionNative},
    {"safari", TGActionController::kActionNative},
    {"tel", TGActionController::kActionTel},
    {"call", TGActionController::kActionTel},
    {"itunes", TGActionController::kActioniTunes},
    {"store", TGActionController::kActioniTunes},
    {"gmap", TGActionController::kActionGMap},
    {"map", TGActionController::kActionGMap},
    {"application", TGActionController::kActionApplication},
    {"app", TGActionController::kActionApplication},
}};

constexpr std::string_view kApplicationSupportFile = "applicationsupport.xml";
constexpr std::string_view kYoutubeFile = "youtube.html";
constexpr std::string_view kDefaultPlayVideoPrompt = "Click to play video";
constexpr std::string_view kCannotOpenTitle = "Cannot Open Page";
constexpr std::string_view kCannotOpenMessage = "The page you are trying to visit cannot be opened.";
constexpr std::string_view kNoTelephoneTitle = "Device Does Not Support Telephone/SMS";
constexpr std::string_view kNumberCopied = "The number you attempted to contact (%s) has been copied to your clipboard.";
constexpr std::string_view kNumberUnreachable = "The number you attempted to contact (%s) can not be reached on this device.";
constexpr std::string_view kPlaybackErrorTitle = "Playback Error";
constexpr std::string_view kPlaybackErrorMessage = "The media file requested could not be played.";
constexpr std::string_view kDoHandleNativeAction = "doHandleNativeAction:";
constexpr int kPlaybackErrorReason = 1;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A video id of the video service: letters, digits, "-" and "_" only.
bool isVideoId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

} // namespace

std::shared_ptr<TGActionController> TGActionController::create(std::weak_ptr<TGStateModifier> stateModifier,
                                                               std::weak_ptr<TGDelegateAdaptor> delegateAdaptor) {
    auto controller =
        std::shared_ptr<TGActionController>(new TGActionController(std::move(stateModifier), std::move(delegateAdaptor)));
    controller->setCurrentViewState(pendingState);
    return controller;
}

TGActionController::~TGActionController() {
    TGLog::log("- dealloc: TGActionController");
    stateModifier_.reset();
    delegateAdaptor_.reset();
    removeAllEventObservers();
    platform::RunLoop::main().cancelPerforms(this);
    if (redirectFollower_)
        redirectFollower_->stop();
    if (browserView_) {
        browserView_->setHidden(true);
        if (auto web = browserView_->webContent())
            web->setDelegate({});
        browserView_->setWebContent(nullptr);
    }
    stopMoviePlayback();
}

// ---- Tables ----

int TGActionController::clickActionForURL(const platform::URL& url) {
    const std::string scheme = url.scheme();
    const std::string host = url.host().value_or("");
    const std::string path = url.path();
    TGLog::log(platform::formatString("clickActionForURL:\n\t Scheme:%s \n\t Host:%s \n\t Path:%s ", scheme.c_str(),
                                      host.c_str(), path.c_str()));
    for (const auto& row : kSchemeActions)
        if (scheme == row.scheme)
            return row.action;
    for (auto store : kiTunesHosts)
        if (host == store)
            return kActioniTunes;
    for (auto extension : kVideoExtensions)
        if (endsWith(path, extension))
            return kActionVideo;
    if (host == kMapsHost)
        return kActionGMap;
    if (host == kYoutubeHost && path == kYoutubePath)
        return kActionYoutube;
    if (auto probes = TGLanternFileManager::instance().fileContentsAsDictionary(kApplicationSupportFile)) {
        const std::string prefix = scheme + ":";
        for (const auto& [name, probe] : *probes)
            if (probe.string() && probe.string()->starts_with(prefix))
                return kActionApplication;
    }
    return kActionNone;
}

int TGActionController::clickActionForType(const std::optional<std::string>& type) {
    if (type)
        for (const auto& row : kTypeActions)
            if (*type == row.word)
                return row.action;
    return kActionNone;
}

int TGActionController::clickActionForURLTypeString(const platform::URL& url, const std::optional<std::string>& type) {
    int action = clickActionForURL(url);
    if (action == kActionNone)
        action = clickActionForType(type);
    if (action == kActionNone)
        action = clickActionForType(extractParamFromUrl("t", url));
    return action;
}

std::optional<std::string> TGActionController::extractParamFromUrl(std::string_view name, const platform::URL& url) {
    const std::string query = url.query().value_or("");
    std::size_t at = 0;
    while (at < query.size()) {
        while (at < query.size() && (query[at] == '=' || query[at] == '&'))
            ++at;
        const auto nameEnd = std::min(query.find('=', at), query.size());
        const std::string key = query.substr(at, nameEnd - at);
        at = nameEnd;
        while (at < query.size() && query[at] == '=')
            ++at;
        const auto valueEnd = std::min(query.find('&', at), query.size());
        const std::string value = query.substr(at, valueEnd - at);
        at = valueEnd;
        if (key == name)
            return value;
    }
    return std::nullopt;
}

// ---- States ----

void TGActionController::setCurrentViewState(int state) {
    auto keepAlive = weak_from_this().lock();
    if (state == pendingState && currentViewState_ != inactiveState && currentViewState_ != pendingState)
        setCurrentViewState(inactiveState);
    currentViewState_ = state;
    auto modifier = stateModifier_.lock();
    switch (state) {
    case loadingState:
        if (modifier)
            modifier->setCurrentActionState(clickingState);
        return;
    case activeState:
        if (modifier)
            modifier->setCurrentActionState(clickedState);
        return;
    case inactiveState:
    case errorState:
        // While the in-app browser is up the ad stays clicked; closing it ends the click.
        if (!browserView_) {
            if (modifier)
                modifier->setCurrentActionState(inactiveState);
            stop();
        }
        return;
    default:
        return;
    }
}

void TGActionController::setCurrentSyncState(int state) {
    currentSyncState_ = state;
    if (auto modifier = stateModifier_.lock())
        modifier->setCurrentSyncState(state);
}

std::shared_ptr<TGAdEventCollection> TGActionController::adEventCollection() const {
    auto modifier = stateModifier_.lock();
    return modifier ? modifier->adEventCollection() : nullptr;
}

bool TGActionController::adIsLeaving() const {
    auto modifier = stateModifier_.lock();
    if (!modifier)
        return true;
    const int state = modifier->actualViewState();
    return state == dismissingState || state == dismissedState;
}

void TGActionController::recordFailedClick(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& messages) {
    auto events = adEventCollection();
    if (!events)
        return;
    auto& record = events->failedClickRecord();
    for (const auto& [key, message] : messages)
        record.addMessage(message, key);
    events->setFailedClickRecord(nullptr);
}

void TGActionController::cannotOpenPage() {
    showAlert(std::string(kCannotOpenTitle), std::string(kCannotOpenMessage));
    setCurrentViewState(inactiveState);
}

void TGActionController::openURL(const platform::URL& url) {
    platform::Application::shared().openURL(url.absoluteString());
}

// ---- A click ----

void TGActionController::handleURL(const platform::URL& url, const std::optional<platform::URL>& alternateURL,
                                   const std::optional<std::string>& clickType, bool isFullScreen) {
    auto keepAlive = shared_from_this();
    if (currentViewState_ != pendingState) {
        isFullScr_ = isFullScreen;
        TGLog::log("Click recieved by an already active action controller");
        return;
    }
    setCurrentViewState(loadingState);
    alternateUrl_ = alternateURL;
    clickType_ = clickType;
    isFullScr_ = isFullScreen;
    clickAction_ = clickActionForURLTypeString(url, clickType);
    doAction(clickAction_, url, true);
}

void TGActionController::stop() {
    auto keepAlive = weak_from_this().lock();
    removeAllEventObservers();
    platform::RunLoop::main().cancelPerforms(this, kDoHandleNativeAction);
    if (currentViewState_ != pendingState)
        setCurrentViewState(pendingState);
    if (auto follower = std::move(redirectFollower_))
        follower->stop();
    redirectFollower_.reset();
    clickType_.reset();
    stopMoviePlayback();
    currentUrl_.reset();
}

void TGActionController::doAction(int action, const platform::URL& url, bool followRedirects) {
    auto keepAlive = shared_from_this();
    if (adIsLeaving()) {
        recordFailedClick({{"type", url.scheme()}, {"url", url.absoluteString()}, {"reason", "dismissed"}});
        setCurrentViewState(inactiveState);
        return;
    }
    currentUrl_ = url;
    if (followRedirects && clickActionForURL(url) == kActionNone) {
        TGLog::log("Following redirects for insufficiently specific URL: " + url.absoluteString());
        if (browserView_ && browserView_->activityIndicator())
            browserView_->activityIndicator()->startAnimating();
        if (redirectFollower_)
            redirectFollower_->stop();
        redirectFollower_.reset();
        redirectFollower_ = TGRedirectFollower::create(url, weak_from_this());
        return;
    }
    TGLog::log(platform::formatString("Performing action: %d for URL: %s", action, url.absoluteString().c_str()));
    setCurrentViewState(activeState);
    clickAction_ = action;
    switch (action) {
    case kActionYoutube:
        handleYoutubeAction(url);
        return;
    case kActionVideo:
        handleVideoAction(url);
        return;
    case kActionNative:
        handleNativeAction(url);
        return;
    case kActionTel:
        handleTelAction(url);
        return;
    case kActioniTunes:
        handleiTunesAction(url);
        return;
    case kActionGMap:
        handleGMapAction(url);
        return;
    case kActionApplication:
        handleApplicationAction(url);
        return;
    default:
        handleUriAction(url);
        return;
    }
}

// ---- Redirects ----

bool TGActionController::shouldFollowRedirect(const platform::URL& url) {
    const int action = clickActionForURL(url);
    if (action == kActionNone)
        return true;
    TGLog::log("Click action found for URL: " + url.absoluteString());
    doAction(action, url, false);
    return false;
}

void TGActionController::connectionSucceededWithStatusCode(const platform::URL& url, int statusCode) {
    auto keepAlive = shared_from_this();
    TGLog::log(platform::formatString("Finished following redirects with StatusCode: %d URL: %s", statusCode,
                                      url.absoluteString().c_str()));
    if (auto follower = std::move(redirectFollower_))
        follower->cancelRequest();
    int action = clickActionForURL(url);
    if (action == kActionNone)
        action = clickAction_;
    if (statusCode >= 400 && statusCode <= 599) {
        if (auto events = adEventCollection())
            events->failedClickRecord().addMessage(std::to_string(statusCode), "statusCode");
        connectionFailedWithError(url, std::nullopt);
        return;
    }
    doAction(action, url, false);
}

void TGActionController::connectionFailedWithError(const std::optional<platform::URL>& url,
                                                   const std::optional<platform::Error>& error) {
    auto keepAlive = shared_from_this();
    if (auto follower = std::move(redirectFollower_))
        follower->cancelRequest();
    if (error && error->domain == platform::kURLErrorDomain && error->code == platform::kURLErrorUnsupportedURL &&
        url && isSupportedByDevice(url->absoluteString())) {
        TGLog::log("Attempting to open [" + url->absoluteString() + "] after recieving error code UnsupportedURL");
        handleApplicationAction(*url);
        return;
    }
    TGLog::log("Connection Failed.");
    recordFailedClick({{"type", clickType_},
                       {"url", url ? std::optional(url->absoluteString()) : std::nullopt},
                       {"reason", "failedconnection"}});
    cannotOpenPage();
}

// ---- Handlers ----

void TGActionController::handleUriAction(const platform::URL& url) {
    TGLog::log("URI Action: " + url.absoluteString());
    initializeBrowser(true);
    if (!browserView_)
        return;
    if (auto web = browserView_->webContent())
        web->loadRequest(platform::URLRequest(url, platform::URLRequestCachePolicy::UseProtocolCachePolicy,
                                              kTimeoutInterval));
    browserView_->setSafariUrl(url);
}

void TGActionController::handleNativeAction(const platform::URL& url) {
    TGLog::log("Native Action: " + url.absoluteString());
    listenForApplicationCallbacks();
    std::weak_ptr<TGActionController> weak = weak_from_this();
    platform::RunLoop::main().performAfter(
        kNativeRetryDelay,
        [weak, url] {
            if (auto self = weak.lock())
                self->doHandleNativeAction(url);
        },
        this, std::string(kDoHandleNativeAction));
    doHandleNativeAction(url);
}

void TGActionController::doHandleNativeAction(const platform::URL& url) {
    TGLog::log("Handling URL: " + url.absoluteString());
    if (!platform::Application::shared().openURL(url.absoluteString())) {
        // A refused URL is not tried again.
        platform::RunLoop::main().cancelPerforms(this, kDoHandleNativeAction);
        cannotOpenPage();
    }
}

void TGActionController::handleTelAction(const platform::URL& original) {
    TGLog::log("Call Action: " + original.absoluteString());
    const std::string cleaned = platform::replaceAll(original.absoluteString(), "localhost/", "");
    auto url = platform::URL::parse(cleaned).value_or(original);
    if (isSupportedByDevice(url.absoluteString())) {
        listenForApplicationCallbacks();
        openURL(url);
        return;
    }
    const std::string number = url.resourceSpecifier();
    TGLog::info("Device cannot make telephone/sms connection to:[" + number + "]");
    recordFailedClick({{"type", url.scheme()}, {"url", cleaned}, {"reason", "unsupported"}});
    platform::Pasteboard::generalPasteboard().setString(number);
    showAlert(std::string(kNoTelephoneTitle), platform::formatString(std::string(kNumberCopied).c_str(), number.c_str()));
    setCurrentViewState(inactiveState);
}

void TGActionController::handleiTunesAction(const platform::URL& url) {
    TGLog::log("iTunes Action: " + url.absoluteString());
    listenForApplicationCallbacks();
    openURL(url);
}

void TGActionController::handleGMapAction(const platform::URL& url) {
    TGLog::log("Map Action: " + url.absoluteString());
    listenForApplicationCallbacks();
    openURL(url);
}

void TGActionController::handleApplicationAction(const platform::URL& url) {
    TGLog::log("Application Action: " + url.absoluteString());
    if (isSupportedByDevice(url.absoluteString())) {
        listenForApplicationCallbacks();
        openURL(url);
        return;
    }
    if (alternateUrl_ && isSupportedByDevice(alternateUrl_->absoluteString())) {
        TGLog::info("Device cannot open URI:[" + url.absoluteString() + "] defaulting to alternate URI:[" +
                    alternateUrl_->absoluteString() + "]");
        listenForApplicationCallbacks();
        openURL(*alternateUrl_);
        return;
    }
    recordFailedClick({{"type", "app"},
                       {"url", url.absoluteString()},
                       {"alt-url", alternateUrl_ ? std::optional(alternateUrl_->absoluteString()) : std::nullopt},
                       {"reason", "unsupported"}});
    cannotOpenPage();
}

void TGActionController::handleVideoAction(const platform::URL& url) {
    TGLog::log("Video Action: " + url.absoluteString());
    stopMoviePlayback();
    mpvc_ = platform::MoviePlayerViewController::create(url);
    mpc_ = mpvc_->moviePlayer();
    const void* sender = mpc_.get();
    observe(platform::MPMoviePlayerPlaybackStateDidChangeNotification, sender);
    observe(platform::MPMediaPlaybackIsPreparedToPlayDidChangeNotification, sender);
    observe(platform::MPMoviePlayerPlaybackDidFinishNotification, sender);
}

void TGActionController::handleYoutubeAction(const platform::URL& url) {
    TGLog::log("Youtube Action: " + url.absoluteString());
    auto videoId = extractParamFromUrl("v", url);
    // Only a real video id goes into the page; anything else is shown as the page it is.
    if (!videoId || !isVideoId(*videoId)) {
        TGLog::log("Not a video id; showing the page instead: " + url.absoluteString());
        handleUriAction(url);
        return;
    }
    initializeBrowser(false);
    auto adaptor = delegateAdaptor_.lock();
    if (!browserView_ || !browserView_->webContent())
        return;
    const std::string prompt = (adaptor ? adaptor->getPlayVideoPrompt() : std::nullopt)
                                   .value_or(std::string(kDefaultPlayVideoPrompt));
    const int orientation = static_cast<int>(platform::Application::shared().statusBarOrientation());
    const std::string word = orientation == 1 || orientation == 2 ? "portrait" : "landscape";
    const auto size = browserView_->bounds().size;
    const int width = static_cast<int>(std::min(size.width, size.height));
    const int height = width * 3 / 4;
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    auto& files = TGLanternFileManager::instance();
    auto page = files.fillFile(kYoutubeFile, {w, word, w, h, *videoId, w, h, platform::escapeHTML(prompt)});
    if (!page) {
        cannotOpenPage();
        return;
    }
    // The video page reads the support files of its base folder only.
    const auto base = files.uiWebViewBaseUrl();
    browserView_->webContent()->setReadableFolder(base ? platform::ReadableFolder(base->filePath())
                                                       : platform::ReadableFolder());
    browserView_->webContent()->loadHTMLString(*page, base);
    browserView_->setSafariUrl(url);
    showBrowser();
}

// ---- Notifications ----

void TGActionController::observe(std::string_view name, const void* sender) {
    std::weak_ptr<TGActionController> weak = weak_from_this();
    observers_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name,
        [weak](const platform::Notification& notification) {
            if (auto self = weak.lock())
                self->notificationCallback(notification);
        },
        sender, this));
}

void TGActionController::listenForApplicationCallbacks() {
    observe(platform::kApplicationDidBecomeActiveNotification);
    observe(platform::kApplicationWillResignActiveNotification);
}

void TGActionController::removeAllEventObservers() {
    for (auto token : observers_)
        platform::NotificationCenter::defaultCenter().removeObserver(token);
    observers_.clear();
}

void TGActionController::notificationCallback(const platform::Notification& notification) {
    auto keepAlive = shared_from_this();
    TGLog::log("=> Notification: " + notification.name);
    const std::string& name = notification.name;
    if (name == platform::kApplicationDidBecomeActiveNotification) {
        recievedInactiveNotification(notification.userInfo);
    } else if (name == platform::kApplicationWillResignActiveNotification) {
        platform::RunLoop::main().cancelPerforms(this, kDoHandleNativeAction);
    } else if (name == platform::MPMediaPlaybackIsPreparedToPlayDidChangeNotification) {
        if (mpc_ && mpc_->isPreparedToPlay())
            startMoviePlayback();
    } else if (name == platform::MPMoviePlayerPlaybackDidFinishNotification) {
        auto reason = notification.userInfo.find(platform::MPMoviePlayerPlaybackDidFinishReasonUserInfoKey);
        if (reason != notification.userInfo.end() && reason->second.integer() == kPlaybackErrorReason)
            showAlert(std::string(kPlaybackErrorTitle), std::string(kPlaybackErrorMessage));
        moviePlaybackDidStop(notification.userInfo);
    } else if (name == platform::MPMoviePlayerPlaybackStateDidChangeNotification) {
        const int state = mpc_ ? static_cast<int>(mpc_->playbackState()) : 0;
        TGLog::log(platform::formatString("=>   Playback State: %d", state));
        if (state == static_cast<int>(platform::MoviePlaybackState::Stopped))
            recievedInactiveNotification(notification.userInfo);
        else if (state == static_cast<int>(platform::MoviePlaybackState::Interrupted))
            moviePlaybackDidStop(notification.userInfo);
    }
}

void TGActionController::startMoviePlayback() {
    if (adIsLeaving()) {
        moviePlaybackDidStop({});
        return;
    }
    if (!mpvc_ || !mpc_)
        return;
    std::shared_ptr<platform::ViewController> presenter = modalViewController_;
    if (!presenter)
        if (auto adaptor = delegateAdaptor_.lock())
            presenter = adaptor->respondingViewController();
    if (presenter && !mpvcPresenter_) {
        mpvcPresenter_ = presenter;
        platform::presentMoviePlayerViewControllerAnimated(*presenter, mpvc_);
    }
    mpc_->play();
}

void TGActionController::moviePlaybackDidStop(const platform::Dictionary& userInfo) {
    stopMoviePlayback();
    recievedInactiveNotification(userInfo);
}

void TGActionController::stopMoviePlayback() {
    if (mpc_)
        for (auto name : {platform::MPMoviePlayerPlaybackStateDidChangeNotification,
                          platform::MPMediaPlaybackIsPreparedToPlayDidChangeNotification,
                          platform::MPMoviePlayerPlaybackDidFinishNotification})
            platform::NotificationCenter::defaultCenter().removeObserver(this, name, mpc_.get());
    if (auto presenter = std::move(mpvcPresenter_))
        platform::dismissMoviePlayerViewControllerAnimated(*presenter);
    mpvcPresenter_.reset();
    mpvc_.reset();
    if (auto player = std::move(mpc_)) {
        player->stop();
        player->setInitialPlaybackTime(-1.0);
    }
    mpc_.reset();
}

void TGActionController::recievedInactiveNotification(const platform::Dictionary& userInfo) {
    if (userInfo.count(platform::kMoviePlayerErrorUserInfoKey))
        recordFailedClick({{"type", "video"},
                           {"url", currentUrl_ ? std::optional(currentUrl_->absoluteString()) : std::nullopt}});
    setCurrentViewState(inactiveState);
}

// ---- The in-app browser ----

void TGActionController::initializeBrowser(bool show) {
    auto adaptor = delegateAdaptor_.lock();
    if (!modalViewController_) {
        modalViewController_ = TGModalViewController::create(adaptor ? adaptor->respondingViewController() : nullptr,
                                                             nullptr, weak_from_this());
        if (adaptor)
            modalViewController_->setTransition(adaptor->transition());
    }
    if (!browserView_)
        browserView_ = TGBrowserView::create(adaptor, weak_from_this(), modalViewController_->view()->bounds(),
                                             isFullScr_);
    modalViewController_->view()->addSubview(browserView_);
    if (auto web = browserView_->webContent())
        web->setDelegate(weak_from_this());
    browserView_->setNeedsLayout();
    browserView_->layoutIfNeeded();
    if (show)
        showBrowser();
}

void TGActionController::showBrowser() {
    if (browserView_)
        browserView_->showBrowser();
    if (modalViewController_)
        modalViewController_->showModalView(true);
}

void TGActionController::hideBrowser() {
    auto keepAlive = shared_from_this();
    if (browserView_)
        browserView_->hideBrowser();
    if (modalViewController_)
        modalViewController_->hideModalView(true);
}

bool TGActionController::webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                                         const platform::URLRequest& request,
                                                                         platform::WebViewNavigationType type) {
    auto keepAlive = shared_from_this();
    const auto& url = request.url();
    TGLog::log(platform::formatString("Webview Requesting NavigationType: %d for URL: %s", static_cast<int>(type),
                                      url.absoluteString().c_str()));
    const std::string scheme = url.scheme();
    if (scheme == TGAdView::kBridgeScheme) {
        const std::string path = url.path();
        if (path.size() > 1 && path.substr(1) == "dismiss:") {
            hideBrowser();
            return false;
        }
        return true;
    }
    if (scheme != "file") {
        if (browserView_)
            browserView_->setSafariUrl(url);
        if (type == platform::WebViewNavigationType::LinkClicked || type == platform::WebViewNavigationType::Other) {
            const int action = clickActionForURL(url);
            if (action != kActionNone && action != kActionUri) {
                TGLog::log("Routing UIWebView call through action resolver");
                doAction(action, url, true);
                return false;
            }
        }
    }
    return true;
}

void TGActionController::webViewDidStartLoad(platform::WebView&) {
    if (browserView_ && browserView_->activityIndicator())
        browserView_->activityIndicator()->startAnimating();
}

void TGActionController::webViewDidFinishLoad(platform::WebView&) {
    if (browserView_ && browserView_->activityIndicator())
        browserView_->activityIndicator()->stopAnimating();
}

void TGActionController::webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) {
    if (browserView_ && browserView_->activityIndicator())
        browserView_->activityIndicator()->stopAnimating();
}

void TGActionController::modalViewWillAppear(bool) {
    setCurrentSyncState(protectedState);
    setCurrentViewState(activeState);
}

void TGActionController::modalViewDidAppear(bool) {
    setCurrentSyncState(unprotectedState);
}

void TGActionController::modalViewWillDisappear(bool) {
    setCurrentSyncState(protectedState);
}

void TGActionController::modalViewDidDisappear(bool) {
    auto keepAlive = shared_from_this();
    if (auto browser = std::move(browserView_))
        browser->removeFromSuperview();
    browserView_.reset();
    // The modal view controller is still inside this callback: it is let go on the next turn.
    if (auto modal = std::move(modalViewController_))
        platform::RunLoop::main().perform([modal] {});
    modalViewController_.reset();
    setCurrentViewState(inactiveState);
    setCurrentSyncState(unprotectedState);
}

void TGActionController::modalViewBeganAnimation() {
    setCurrentSyncState(protectedState);
}

void TGActionController::modalViewFinishedAnimation() {
    setCurrentSyncState(unprotectedState);
}

} // namespace tangent
