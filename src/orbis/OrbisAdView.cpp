#include "orbis/OrbisAdView.h"

#include <array>
#include <functional>

#include "orbis/APIRequest.h"
#include "orbis/ClickRequest.h"
#include "orbis/TextValues.h"
#include "orbis/UserInfo.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Event.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace orbis {

namespace {

constexpr std::string_view kBusyMessage = "Orbis:An ad request is already in progress.Try after some time.";
constexpr std::string_view kTouchedMessage =
    "Orbis:Ad was touched, cannot request a fresh ad till ad modal screen is dismissed..";
constexpr std::string_view kNotRefreshingMessage = "Orbis:Some error occured,not refreshing ad.";
constexpr std::string_view kNoConnectionMessage =
    "Orbis:Connection to the server could not be made.Please try after some time.";
constexpr std::string_view kNullDelegateFactoryMessage =
    "Orbis:Error!Delegate must be not-null. Could not create an instance of OrbisAdView";
constexpr std::string_view kContainerRefusedMessage =
    "Could not load new Orbis ad,check adunit slot and or delegate values provided..";
constexpr std::string_view kAdSizeRefusedMessage = "Orbis:The ad's size does not fit the screen.";
constexpr std::string_view kPostMethod = "POST";
// The longest extra request parameter value; a longer one keeps its first kCutParameterLength.
constexpr std::size_t kMaximumParameterLength = 50;
constexpr std::size_t kCutParameterLength = 49;

std::recursive_mutex& factoriesLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::shared_ptr<OrbisAdManager>& containerSlot() {
    static std::shared_ptr<OrbisAdManager> slot;
    return slot;
}

struct DelegateCheck {
    std::string_view message;
    std::function<bool(int adUnit, OrbisAdDelegate& delegate)> passes;
};

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

// The ad's size becomes the banner's frame: a negative size, or one larger than the screen,
// is refused.
bool fitsTheScreen(const AdUnit& ad) {
    const auto screen = platform::Screen::main().bounds().size;
    return ad.width >= 0 && ad.height >= 0 && ad.width <= screen.width && ad.height <= screen.height;
}

// The status bar's network activity indicator runs while a click is under way.
void setNetworkActivity(bool on) {
    platform::Application::shared().setNetworkActivityIndicatorVisible(on);
}

bool opensLandingPage(int actionType) {
    return actionType == 2 || actionType == 3;
}

} // namespace

// ---------------------------------------------------------------- OrbisAdView

OrbisAdView::~OrbisAdView() {
    if (owningContainer_)
        containerSlot().reset();
}

std::shared_ptr<OrbisAdManager>
OrbisAdView::startOrbisAdEngineAttachedDelegate(std::shared_ptr<OrbisAdDelegate> delegate) {
    std::lock_guard guard(factoriesLock());
    if (!delegate)
        return nullptr;
    return OrbisAdManager::startOrbisAdManagerAttachedDelegate(std::move(delegate));
}

std::shared_ptr<OrbisAdManager> OrbisAdView::requestAdUnit(int adUnit,
                                                           std::shared_ptr<OrbisAdDelegate> delegate) {
    std::lock_guard guard(factoriesLock());
    if (!delegate) {
        platform::logLine(kNullDelegateFactoryMessage);
        return nullptr;
    }
    return OrbisAdManager::requestAdUnit(adUnit, std::move(delegate));
}

std::string OrbisAdView::orbisSDKVersion() {
    return std::string(kOrbisSDKVersion);
}

std::shared_ptr<OrbisAdManager> OrbisAdView::adViewManager() {
    return containerSlot();
}

void OrbisAdView::awakeFromNib() {
    auto manager = OrbisAdManager::create(platform::Rect(0, 0, bounds().size.width, bounds().size.height));
    containerSlot() = manager;
    owningContainer_ = true;
    addSubview(manager);
    setUserInteractionEnabled(true);
}

void OrbisAdView::loadNewAd() {
    auto manager = containerSlot();
    if (manager && OrbisAdManager::areFieldsValid(leadingInteger<int>(manager->userInfo()->adUnitSlot),
                                                  manager->getDelegate()))
        manager->loadNewAd();
    else
        platform::logLine(kContainerRefusedMessage);
}

void OrbisAdView::setDelegate(std::shared_ptr<OrbisAdDelegate> delegate) {
    if (auto manager = containerSlot())
        manager->setDelegate(std::move(delegate));
}

void OrbisAdView::setAdUnit(int adUnit) {
    if (auto manager = containerSlot())
        manager->setAdUnit(adUnit);
}

// A container takes no request parameters.
void OrbisAdView::setRequestParameter(std::optional<std::string>, std::optional<std::string>) {}
void OrbisAdView::setRequestParams(std::vector<std::pair<std::string, std::string>>) {}

// ---------------------------------------------------------------- OrbisAdManager: creation

std::shared_ptr<OrbisAdManager> OrbisAdManager::create(const platform::Rect& frame) {
    std::shared_ptr<OrbisAdManager> manager(new OrbisAdManager());
    manager->setUp(frame);
    return manager;
}

void OrbisAdManager::setUp(const platform::Rect& frame) {
    setFrame(frame);
    setUserInteractionEnabled(true);
    platform::Rect inner(0, 0, frame.size.width, frame.size.height);
    webView1_ = std::make_shared<platform::WebView>(inner);
    webView2_ = std::make_shared<platform::WebView>(inner);
    webView1_->setDelegate(asWebViewDelegate());
    webView2_->setDelegate(asWebViewDelegate());
    hideWebView_ = std::make_shared<platform::View>(webView1_->frame());
    hideWebView_->setBackgroundColor(platform::Color::clearColor());
    hideWebView_->setUserInteractionEnabled(true);
    shouldLoadWebView1_ = true;
    userInfo_ = std::make_shared<UserInfo>();
    userInfo_->adManager = self();
    isAdRequestDone_ = true;
}

OrbisAdManager::~OrbisAdManager() {
    if (adUnitFailLoadTimer_)
        adUnitFailLoadTimer_->invalidate();
    // The location refresh ends with its banner.
    if (gpsRefreshTimer_)
        gpsRefreshTimer_->invalidate();
    for (auto* webView : {webView1_.get(), webView2_.get()})
        if (webView) {
            webView->setDelegate({});
            webView->stopLoading();
        }
    for (APIRequest* request : {adRequest_.get(), static_cast<APIRequest*>(clickReqeust_.get())})
        if (request) {
            request->delegate.reset();
            request->cancel();
        }
    if (ewvController_)
        ewvController_->setCallerDelegate({});
}

std::shared_ptr<OrbisAdManager> OrbisAdManager::self() {
    return std::static_pointer_cast<OrbisAdManager>(sharedView());
}

std::shared_ptr<platform::WebViewDelegate> OrbisAdManager::asWebViewDelegate() {
    return self();
}

std::shared_ptr<OrbisAdManager>
OrbisAdManager::startOrbisAdManagerAttachedDelegate(std::shared_ptr<OrbisAdDelegate> delegate) {
    return requestAdUnit(kDefaultAdUnit, std::move(delegate));
}

std::shared_ptr<OrbisAdManager> OrbisAdManager::requestAdUnit(int adUnit,
                                                              std::shared_ptr<OrbisAdDelegate> delegate) {
    std::shared_ptr<OrbisAdManager> manager;
    bool made = platform::callGuarded("Orbis: create banner", [&] {
        auto candidate = create(platform::Rect());
        if (!areFieldsValid(adUnit, delegate))
            return;
        candidate->setAutoresizesSubviews(true);
        candidate->setAdUnit(adUnit);
        candidate->finishAdViewInitializationDelegate(delegate);
        manager = candidate;
    });
    return made ? manager : nullptr;
}

bool OrbisAdManager::areFieldsValid(int adUnit, const std::shared_ptr<OrbisAdDelegate>& delegate) {
    if (!delegate) {
        platform::logLine("Orbis:Error!Delegate must be not-null. Cannot serve Orbis Ads.");
        return false;
    }
    static const std::array<DelegateCheck, 6> kChecks = {{
        {"Orbis:Error! adunit must be valid. Cannot serve Orbis Ads.",
         [](int unit, OrbisAdDelegate&) { return unit != 0; }},
        {"Orbis:Error! site-id method must be implemented. Cannot serve Orbis Ads.",
         [](int, OrbisAdDelegate& d) { return d.responds("siteId"); }},
        {"Orbis:Error! rootViewControllerForAd method must be implemented. Cannot serve Orbis Ads.",
         [](int, OrbisAdDelegate& d) { return d.responds("rootViewControllerForAd"); }},
        {"Orbis:Error! site-id must be not-null. Cannot serve Orbis Ads.",
         [](int, OrbisAdDelegate& d) { return d.siteId().has_value(); }},
        {"Orbis:Error! site-id is invalid. Cannot serve Orbis Ads.",
         [](int, OrbisAdDelegate& d) { return !isBlank(d.siteId().value_or("")); }},
        {"Orbis:Error! rootViewControllerForAd must be not-null. Cannot serve Orbis Ads.",
         [](int, OrbisAdDelegate& d) { return d.rootViewControllerForAd() != nullptr; }},
    }};
    for (const auto& check : kChecks)
        if (!check.passes(adUnit, *delegate)) {
            platform::logLine(check.message);
            return false;
        }
    return true;
}

void OrbisAdManager::finishAdViewInitializationDelegate(std::shared_ptr<OrbisAdDelegate> delegate) {
    sdkDelegate_ = delegate;
    isAdRequestDone_ = true;
    loadNewAd();
}

void OrbisAdManager::setAdUnit(int adUnit) {
    if (userInfo_)
        userInfo_->adUnitSlot = std::to_string(adUnit);
}

void OrbisAdManager::setRequestParameter(std::optional<std::string> value, std::optional<std::string> key) {
    if (value && key && value->size() > kMaximumParameterLength)
        value->resize(kCutParameterLength);
    userInfo_->hRefTag = std::move(value);
    userInfo_->hRefKey = std::move(key);
}

void OrbisAdManager::setRequestParams(std::vector<std::pair<std::string, std::string>> params) {
    userInfo_->paramsDictionary = std::move(params);
}

void OrbisAdManager::setAdFrame(const platform::Rect& frame) {
    platform::Rect inner(0, 0, frame.size.width, frame.size.height);
    webView1_->setFrame(inner);
    webView2_->setFrame(inner);
    hideWebView_->setFrame(inner);
    setFrame(frame);
}

// ---------------------------------------------------------------- Detaching

void OrbisAdManager::setDelegate(std::shared_ptr<OrbisAdDelegate> delegate) {
    if (!delegate) {
        sdkDelegate_.reset();
        webView1_->setDelegate({});
        webView2_->setDelegate({});
        stopLoadWatchdog();
        if (gpsRefreshTimer_) {
            gpsRefreshTimer_->invalidate();
            gpsRefreshTimer_.reset();
        }
        if (adRequest_)
            adRequest_->delegate.reset();
        if (clickReqeust_)
            clickReqeust_->delegate.reset();
        if (ewvController_)
            ewvController_->setCallerDelegate({});
        setNetworkActivity(false);
        return;
    }
    sdkDelegate_ = delegate;
    webView1_->setDelegate(asWebViewDelegate());
    webView2_->setDelegate(asWebViewDelegate());
    if (adRequest_)
        adRequest_->delegate = self();
}

// ---------------------------------------------------------------- Notifications

void OrbisAdManager::performAdSuccessNotification() {
    auto delegate = sdkDelegate_.lock();
    if (delegate && delegate->responds("adReceivedNotification:"))
        platform::callGuarded("Orbis: received notification",
                              [&] { delegate->adReceivedNotification(*this); });
}

void OrbisAdManager::performAdFailedNotification() {
    auto delegate = sdkDelegate_.lock();
    if (delegate && delegate->responds("adFailedNotification:"))
        platform::callGuarded("Orbis: failed notification", [&] { delegate->adFailedNotification(*this); });
}

void OrbisAdManager::sendAdClickedNotification(bool landingPage) {
    auto delegate = sdkDelegate_.lock();
    if (!delegate)
        return;
    platform::callGuarded("Orbis: click notice", [&] {
        if (landingPage && delegate->responds("adModalScreenDisplayNotification:"))
            delegate->adModalScreenDisplayNotification(*this);
        else if (!landingPage && delegate->responds("applicationWillTerminateFromAd:"))
            delegate->applicationWillTerminateFromAd(*this);
    });
}

// ---------------------------------------------------------------- The request cycle

void OrbisAdManager::loadNewAd() {
    try {
        if (!isAdRequestDone_ || touchedDownOnAd_) {
            performAdFailedNotification();
            platform::logLine(!isAdRequestDone_ ? kBusyMessage : kTouchedMessage);
        } else {
            isAdRequestDone_ = false;
            auto keep = self();
            platform::RunLoop::main().performAfter(
                kRequestDelaySeconds, [keep] { keep->getAd(); }, this, "getAd");
        }
        hideWebView_->setBackgroundColor(platform::Color::clearColor());
    } catch (...) {
        performAdFailedNotification();
        platform::logLine(kNotRefreshingMessage);
    }
}

void OrbisAdManager::getAd() {
    try {
        if (!userInfo_) {
            userInfo_ = std::make_shared<UserInfo>();
            userInfo_->adManager = self();
        }
        userInfo_->updateInfo(sdkDelegate_);
        if (!userInfo_->locationDeniedByUser && userInfo_->locationInquiryAllowed && !gpsRefreshTimer_) {
            auto info = userInfo_;
            gpsRefreshTimer_ = platform::Timer::scheduled(
                kLocationRefreshSeconds, true, [info](platform::Timer&) { info->switchOnLocUpdate(); });
        }
    } catch (...) {
        isAdRequestDone_ = true;
        performAdFailedNotification();
    }
}

void OrbisAdManager::setupAdRequest() {
    if (!adRequest_) {
        adRequest_ = std::make_shared<APIRequest>(APIRequest::AdRequest);
        adRequest_->delegate = self();
        std::weak_ptr<OrbisAdManager> weak = self();
        adRequest_->callBack = [weak](const platform::Data& data) {
            if (auto manager = weak.lock())
                manager->adRequestDataFinishedLoading(data);
        };
        adRequest_->errorCallBack = [weak](const std::optional<platform::Error>&) {
            if (auto manager = weak.lock())
                manager->adRequestDataFailedToLoad();
        };
    }
    bool testMode = userInfo_ && userInfo_->testMode;
    if (userInfo_)
        adRequest_->setupRequest(APIRequest::adServerURL(testMode), *userInfo_, kPostMethod);
    adRequest_->sendRequest();
}

void OrbisAdManager::startDeviceInfoUploadOnUrl(const std::string& url) {
    platform::callGuarded("Orbis: device information upload", [&] {
        if (!userInfo_)
            return;
        APIRequest upload(APIRequest::DeviceInfoUpload);
        if (upload.deviceInfoUploadPostBodyUsing(*userInfo_, url))
            upload.uploadDeviceInfo();
    });
}

void OrbisAdManager::adRequestDataFinishedLoading(const platform::Data& data) {
    auto ad = XMLParser::buildAdUnitFromResponseData(data);
    if (ad && !fitsTheScreen(*ad)) {
        platform::logLine(kAdSizeRefusedMessage);
        ad.reset();
    }
    if (!ad) {
        performAdFailedNotification();
        isAdRequestDone_ = true;
        platform::logLine(kNoConnectionMessage);
        return;
    }
    currentAd_ = std::move(ad);
    loadingWebView()->loadHTMLString(currentAd_->CDATABlock.value_or(""), std::nullopt);
    setAdFrame(platform::Rect(frame().origin.x, frame().origin.y, currentAd_->width, currentAd_->height));
    if (currentAd_->adActionType == kNoCoverActionType)
        hideWebView_->removeFromSuperview();
    else
        addSubview(hideWebView_);
    stopLoadWatchdog();
    auto keep = self();
    adUnitFailLoadTimer_ = platform::Timer::scheduled(
        kLoadWatchdogSeconds, false, [keep](platform::Timer&) { keep->checkAdUnitLoadComplete(); });
}

void OrbisAdManager::adRequestDataFailedToLoad() {
    performAdFailedNotification();
    platform::logLine(kNoConnectionMessage);
    isAdRequestDone_ = true;
}

void OrbisAdManager::stopLoadWatchdog() {
    if (adUnitFailLoadTimer_) {
        adUnitFailLoadTimer_->invalidate();
        adUnitFailLoadTimer_.reset();
    }
}

void OrbisAdManager::webViewDidFinishLoad(platform::WebView& webView) {
    // Only the load of the markup of the request in flight counts; a page that the shown ad
    // loads by itself later reports nothing.
    if (isAdRequestDone_ || &webView != loadingWebView().get())
        return;
    stopLoadWatchdog();
    updateAdViewForAdUnit();
    isAdRequestDone_ = true;
}

void OrbisAdManager::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error&) {
    if (isAdRequestDone_ || &webView != loadingWebView().get())
        return;
    stopLoadWatchdog();
    isAdRequestDone_ = true;
    performAdFailedNotification();
}

void OrbisAdManager::checkAdUnitLoadComplete() {
    stopLoadWatchdog();
    if (isAdRequestDone_)
        return;
    isAdRequestDone_ = true;
    if (loadingWebView()->isLoading())
        loadingWebView()->stopLoading();
    // A request ends with one outcome, whatever state the markup's load is in.
    performAdFailedNotification();
    platform::logLine(kNoConnectionMessage);
}

void OrbisAdManager::updateAdViewForAdUnit() {
    platform::callGuarded("Orbis: show ad", [&] {
        platform::View::beginAnimations();
        platform::View::setAnimationDuration(kSwapAnimationSeconds);
        platform::View::setAnimationCurve(platform::AnimationCurve::EaseInOut);
        if (webView1_->superviewPointer() == this || webView2_->superviewPointer() == this)
            platform::View::setAnimationTransition(platform::ViewAnimationTransition::CurlUp, *this, false);
        bool intoWebView1 = shouldLoadWebView1_;
        const auto& shown = intoWebView1 ? webView1_ : webView2_;
        const auto& spare = intoWebView1 ? webView2_ : webView1_;
        spare->removeFromSuperview();
        hideWebView_->removeFromSuperview();
        addSubview(shown);
        if (!currentAd_ || currentAd_->adActionType != kNoCoverActionType)
            addSubview(hideWebView_);
        shouldLoadWebView1_ = !intoWebView1;
        platform::View::commitAnimations();
    });
    performAdSuccessNotification();
}

// ---------------------------------------------------------------- Clicks

bool OrbisAdManager::touchInside(const platform::TouchSet& touches) const {
    auto area = bounds();
    for (const auto& touch : touches) {
        auto p = touch->locationInView(this);
        if (p.x >= area.origin.x && p.y >= area.origin.y && p.x < area.origin.x + area.size.width &&
            p.y < area.origin.y + area.size.height)
            return true;
    }
    return false;
}

void OrbisAdManager::touchesBegan(const platform::TouchSet& touches, const platform::Event&) {
    platform::callGuarded("Orbis: touch", [&] {
        if (!touchedDownOnAd_ && currentAd_ && isAdRequestDone_ && touchInside(touches))
            hideWebView_->setBackgroundColor(platform::Color{0, 0, 0, kPressHighlightAlpha});
    });
}

void OrbisAdManager::touchesEnded(const platform::TouchSet& touches, const platform::Event&) {
    platform::callGuarded("Orbis: touch", [&] {
        if (touchedDownOnAd_ || !currentAd_ || !isAdRequestDone_)
            return;
        hideWebView_->setBackgroundColor(platform::Color::clearColor());
        if (touchInside(touches)) {
            touchedDownOnAd_ = true;
            setNetworkActivity(true);
            adClicked();
        }
    });
}

void OrbisAdManager::touchesCancelled(const platform::TouchSet&, const platform::Event&) {
    hideWebView_->setBackgroundColor(platform::Color::clearColor());
    touchedDownOnAd_ = false;
}

bool OrbisAdManager::webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                                     const platform::URLRequest& request,
                                                                     platform::WebViewNavigationType type) {
    using Nav = platform::WebViewNavigationType;
    if (type != Nav::LinkClicked && type != Nav::FormSubmitted && type != Nav::FormResubmitted)
        return true;
    // A tapped link is a click; while one is under way further taps start nothing, nor while
    // a new ad is on its way (its reply may already have replaced the current ad).
    if (touchedDownOnAd_ || !currentAd_ || !isAdRequestDone_)
        return false;
    const std::string& link = request.url().absoluteString();
    if (auto mark = link.find('?'); mark != std::string::npos) {
        auto end = link.find('?', mark + 1);
        std::string query =
            link.substr(mark + 1, end == std::string::npos ? std::string::npos : end - mark - 1);
        currentAd_->targetUrl = currentAd_->defaultServerUrl.value_or("") + "?" + query;
    }
    touchedDownOnAd_ = true;
    setNetworkActivity(true);
    loadingWebView()->setUserInteractionEnabled(false);
    adClicked();
    return false;
}

void OrbisAdManager::adClicked() {
    platform::callGuarded("Orbis: click", [&] {
        if (!touchedDownOnAd_ || !currentAd_)
            return;
        if (!clickReqeust_) {
            clickReqeust_ = std::make_shared<ClickRequest>();
            clickReqeust_->delegate = self();
            std::weak_ptr<OrbisAdManager> weak = self();
            clickReqeust_->clickCallBack = [weak](const std::optional<std::string>& url,
                                                  const std::optional<std::string>& actionType) {
                if (auto manager = weak.lock())
                    manager->adClickedDataFinishedLoadingWithRedirectUrl(url, actionType);
            };
            clickReqeust_->errorCallBack = [weak](const std::optional<platform::Error>&) {
                if (auto manager = weak.lock())
                    manager->adClickedDataFailedToLoad();
            };
        }
        auto click = clickReqeust_;
        click->setupRequest(currentAd_->targetUrl.value_or(""), *userInfo_, kPostMethod);
        click->sendRequest();
    });
}

void OrbisAdManager::adClickedDataFinishedLoadingWithRedirectUrl(
    const std::optional<std::string>& url, const std::optional<std::string>& actionType) {
    auto keep = self();
    platform::callGuarded("Orbis: click answer", [&] {
        if (!sdkDelegate_.lock()) {
            setNetworkActivity(false);
            return;
        }
        if (!url) {
            restoreNormalAdState();
        } else {
            if (actionType && currentAd_)
                currentAd_->adActionType = leadingInteger<int>(*actionType);
            if (currentAd_ && opensLandingPage(currentAd_->adActionType))
                showWebViewWithUrl(*url);
            else
                doWebBGCall(*url);
        }
    });
    clickReqeust_.reset();
}

void OrbisAdManager::adClickedDataFailedToLoad() {
    touchedDownOnAd_ = false;
    setNetworkActivity(false);
    setWebViewUserInteraction(true);
    clickReqeust_.reset();
}

void OrbisAdManager::clickAbandonedForNewServer() {
    clickReqeust_.reset();
    restoreNormalAdState();
    // The fresh ad is a request like any other: it ends in a received or failed notice, and
    // until then the ad on screen takes no clicks (its reply replaces the current ad).
    isAdRequestDone_ = false;
    setupAdRequest();
}

void OrbisAdManager::restoreNormalAdState() {
    setNetworkActivity(false);
    touchedDownOnAd_ = false;
    setWebViewUserInteraction(true);
}

void OrbisAdManager::setWebViewUserInteraction(bool enabled) {
    loadingWebView()->setUserInteractionEnabled(enabled);
}

void OrbisAdManager::showWebViewWithUrl(const std::string& url) {
    if (!sdkDelegate_.lock())
        return;
    platform::callGuarded("Orbis: landing page", [&] {
        touchedDownOnAd_ = true;
        sendAdClickedNotification(true);
        std::string title = currentAd_ && currentAd_->titleText && !currentAd_->titleText->empty()
                                ? *currentAd_->titleText
                                : std::string(kOrbisDefaultTitle);
        std::shared_ptr<AdScreenDismissDelegate> caller = self();
        ewvController_ = std::make_shared<EmbededWebViewController>(url, caller, title);
        auto navigation = platform::NavigationController::create(ewvController_);
        auto keep = self();
        platform::RunLoop::main().performAfter(
            kLandingPageDelaySeconds, [keep, navigation] { keep->showEmbedWebController(navigation); }, this,
            "showEmbedWebController");
    });
}

void OrbisAdManager::showEmbedWebController(
    const std::shared_ptr<platform::NavigationController>& navigation) {
    auto delegate = sdkDelegate_.lock();
    if (!delegate)
        return;
    platform::callGuarded("Orbis: present landing page", [&] {
        std::shared_ptr<platform::ViewController> root;
        if (delegate->responds("rootViewControllerForAd"))
            root = delegate->rootViewControllerForAd();
        if (!root) {
            pushController_ = std::make_shared<platform::ViewController>();
            auto view = pushController_->view();
            view->setFrame(platform::Screen::main().bounds());
            view->setBackgroundColor(platform::Color{0, 0, 0, kPresenterAlpha});
            // The bare presenter needs a window to present from: the key window's, on top.
            if (auto window = platform::Application::shared().keyWindow())
                window->addSubview(view);
            root = pushController_;
        }
        root->presentModalViewController(navigation, true);
    });
    // A presentation that was refused still ends its display notice.
    if (!navigation->presentingViewController() && ewvController_) {
        platform::logLine("Orbis: the landing page could not be presented");
        ewvController_->setCallerDelegate({});
        adDisplayScreenDismissed();
    }
    restoreNormalAdState();
}

void OrbisAdManager::doWebBGCall(const std::string& url) {
    platform::callGuarded("Orbis: open outside", [&] {
        sendAdClickedNotification(false);
        auto& application = platform::Application::shared();
        if (platform::URL::parse(url) && application.canOpenURL(url))
            application.openURL(url);
    });
    restoreNormalAdState();
}

void OrbisAdManager::adDisplayScreenDismissed() {
    ewvController_.reset();
    auto keep = self();
    platform::RunLoop::main().performAfter(
        kDismissNoticeDelaySeconds, [keep] { keep->finishWebViewDismiss(); }, this, "finishWebViewDismiss");
}

void OrbisAdManager::finishWebViewDismiss() {
    platform::callGuarded("Orbis: landing page gone", [&] {
        if (pushController_) {
            if (pushController_->isViewLoaded())
                pushController_->view()->removeFromSuperview();
            pushController_.reset();
        }
        touchedDownOnAd_ = false;
        auto delegate = sdkDelegate_.lock();
        if (delegate && delegate->responds("adModalScreenDismissNotification:"))
            delegate->adModalScreenDismissNotification(*this);
    });
}

} // namespace orbis
