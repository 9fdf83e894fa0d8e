#include "lumen/Screens.h"

#include "lumen/IntrinsicImages.h"
#include "lumen/Request.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"

namespace lumen {

namespace {

constexpr unsigned kFlexibleWidthAndHeight = 18;
constexpr unsigned kFlexibleWidthHeightAndBottomMargin = 50;
constexpr unsigned kToolbarTabletMask = 42;
constexpr unsigned kToolbarPhoneMask = 58;
constexpr unsigned kCentredMask = 5;
constexpr double kCloseButtonInset = 4;
constexpr const char* kNoParentMessage = "<Lumen> No UIViewController supplied to the ad.  Cannot continue.";

struct OrientationName {
    std::string_view name;
    int code;
};
constexpr OrientationName kOrientationNames[] = {
    {"any", kOrientationAny}, {"portrait", kOrientationPortrait}, {"landscape", kOrientationLandscape}};

// The screens' web view delegate: feeds the landing-page figures, then does the bridge's work.
class LMNScreenWebViewDelegate final : public LMNWebViewDelegate {
public:
    LMNScreenWebViewDelegate(std::function<void()> onFinish, std::function<void()> onChange)
        : onFinish_(std::move(onFinish)), onChange_(std::move(onChange)) {}
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override {
        if (type == platform::WebViewNavigationType::LinkClicked ||
            type == platform::WebViewNavigationType::FormSubmitted) {
            auto scheme = request.url().scheme();
            if (scheme == "http")
                LMNStatistics::sharedStatistics().incrementPageNavigationCount();
            else if (scheme == "https")
                LMNStatistics::sharedStatistics().incrementSSLPageNavigationCount();
        }
        return LMNWebViewDelegate::webViewShouldStartLoadWithRequestNavigationType(webView, request, type);
    }
    void webViewDidStartLoad(platform::WebView&) override {
        auto& statistics = LMNStatistics::sharedStatistics();
        if (!statistics.timingNamed("plpl"))
            statistics.startTimingNamed("plpl");
        if (onChange_)
            onChange_();
    }
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override {
        if (onChange_)
            onChange_();
    }
    void webViewDidFinishLoad(platform::WebView& webView) override {
        auto& statistics = LMNStatistics::sharedStatistics();
        if (!statistics.timingNamed("plpd")) {
            statistics.endTimingNamed("plpl");
            statistics.startTimingNamed("plpd");
        }
        LMNWebViewDelegate::webViewDidFinishLoad(webView);
        if (onFinish_)
            onFinish_();
        if (onChange_)
            onChange_();
    }

private:
    std::function<void()> onFinish_;
    std::function<void()> onChange_;
};

std::shared_ptr<platform::WebView> makeWebView(const platform::Rect& bounds) {
    auto webView = std::make_shared<platform::WebView>(bounds);
    webView->setAutoresizingMask(kFlexibleWidthAndHeight);
    webView->setScalesPageToFit(true);
    return webView;
}

} // namespace

LMNViewController::LMNViewController() {
    setModalTransitionStyle(platform::ModalTransitionStyle::CoverVertical);
}

LMNViewController::~LMNViewController() {
    LMNNotificationCenter::defaultCenter().removeObserver(settingsToken_);
}

int LMNViewController::orientationFromString(const std::optional<std::string>& text) {
    if (text)
        for (const auto& row : kOrientationNames)
            if (row.name == *text)
                return row.code;
    return kOrientationNone;
}

std::shared_ptr<LMNDelegateManager> LMNViewController::delegateManager() {
    if (!delegateManager_)
        delegateManager_ = std::make_shared<LMNDelegateManager>();
    return delegateManager_;
}

void LMNViewController::observeSettingsFrom(const std::shared_ptr<platform::WebView>& webView) {
    std::weak_ptr<LMNViewController> weak = std::static_pointer_cast<LMNViewController>(shared_from_this());
    settingsToken_ = LMNNotificationCenter::defaultCenter().addObserver(
        "settings",
        [weak](const platform::Notification& n) {
            auto self = weak.lock();
            if (!self)
                return;
            auto it = n.userInfo.find(kLMNSupportedOrientationsKey);
            std::optional<std::string> value;
            if (it != n.userInfo.end() && it->second.string())
                value = *it->second.string();
            self->setSupportedOrientations(orientationFromString(value));
        },
        webView.get());
}

void LMNViewController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    auto root = view();
    root->setAutoresizingMask(kFlexibleWidthAndHeight);
    root->setOpaque(true);
    root->setBackgroundColor(platform::Color::blackColor());
    root->setClipsToBounds(true);
}

bool LMNViewController::hidesStatusBar() const {
    return !LMNIdentifierUtilities::isOSAtLeastMajor(3, 2, 0) ||
           modalPresentationStyle() == platform::ModalPresentationStyle::FullScreen;
}

bool LMNViewController::isFirstLMNViewController() const {
    return !std::dynamic_pointer_cast<LMNViewController>(presentingViewController());
}

void LMNViewController::presentFromViewController(const std::shared_ptr<platform::ViewController>& parent) {
    if (!parent) {
        platform::logLine(kNoParentMessage);
        return;
    }
    view()->setUserInteractionEnabled(false);
    selfRetain_ = std::static_pointer_cast<LMNViewController>(shared_from_this());
    platform::NotificationCenter::defaultCenter().post(LMNViewControllerWillPresentFullScreen, selfRetain_);
    presenting_ = true;
    if (std::dynamic_pointer_cast<LMNViewController>(parent)) {
        interactingWithParent_ = false;
        parent->presentModalViewController(selfRetain_, true);
        return;
    }
    interactingWithParent_ = true;
    delegateManager()->willPresentScreen();
    auto& app = platform::Application::shared();
    statusBarWasHidden_ = app.isStatusBarHidden();
    if (!statusBarWasHidden_ && hidesStatusBar())
        app.setStatusBarHidden(true, false);
    presentSelfFrom(parent);
}

void LMNViewController::presentSelfFrom(const std::shared_ptr<platform::ViewController>& parent) {
    auto window = platform::Application::shared().keyWindow();
    const bool fromRoot = window && window->rootViewController();
    auto presenter = fromRoot ? window->rootViewController() : parent;
    // A controller that already presents one hands the screen to the top of its stack.
    while (presenter->presentedViewController())
        presenter = presenter->presentedViewController();
    presenter->presentModalViewController(selfRetain_, true);
    if (fromRoot)
        return;
    std::weak_ptr<LMNViewController> weak = std::static_pointer_cast<LMNViewController>(shared_from_this());
    platform::RunLoop::main().performAfter(
        kAppearanceFallbackSeconds,
        [weak] {
            // Stands in only for an appearance that was never reported.
            if (auto self = weak.lock(); self && !self->view()->isUserInteractionEnabled())
                self->viewDidAppear(true);
        },
        this, "viewDidAppear:");
}

void LMNViewController::viewDidAppear(bool animated) {
    // Acts on the appearance that follows a presentation (interaction is off until then).
    if (view()->isUserInteractionEnabled())
        return;
    platform::ViewController::viewDidAppear(animated);
    view()->setUserInteractionEnabled(true);
    if (isFirstLMNViewController())
        interactingWithParent_ = false;
}

void LMNViewController::relinquishScreen() {
    if (!selfRetain_)
        return; // not presented, or already on its way out
    view()->setUserInteractionEnabled(false);
    auto keep = std::move(selfRetain_);
    if (isFirstLMNViewController()) {
        interactingWithParent_ = true;
        delegateManager()->willDismissScreen();
        if (!statusBarWasHidden_ && hidesStatusBar())
            platform::Application::shared().setStatusBarHidden(false, false);
    } else {
        interactingWithParent_ = false;
    }
    if (auto presenter = presentingViewController())
        presenter->dismissModalViewControllerAnimated(true);
    platform::NotificationCenter::defaultCenter().post(LMNViewControllerDidRelinquishFullScreen, keep);
}

void LMNViewController::viewDidDisappear(bool animated) {
    platform::ViewController::viewDidDisappear(animated);
    auto& statistics = LMNStatistics::sharedStatistics();
    statistics.endTimingNamed("plpd");
    statistics.endTimingNamed("pcl");
    if (interactingWithParent_ && presenting_) {
        interactingWithParent_ = false;
        presenting_ = false;
        if (appClosing_)
            delegateManager()->willLeaveApplication();
        else
            delegateManager()->didDismissScreen();
    }
}

bool LMNViewController::shouldAutorotateToInterfaceOrientation(
    platform::InterfaceOrientation orientation) const {
    const bool portrait = orientation == platform::InterfaceOrientation::Portrait ||
                          orientation == platform::InterfaceOrientation::PortraitUpsideDown;
    if (supportedOrientations_ == kOrientationPortrait)
        return portrait;
    if (supportedOrientations_ == kOrientationLandscape)
        return !portrait;
    return true;
}

// ---- LMNBrowserController ----

void LMNBrowserController::load(const platform::URL& url, const std::optional<platform::URL>& referringURL) {
    if (!webView_) {
        urlToLoad_ = url;
        referringURLToLoad_ = referringURL;
        return;
    }
    platform::URLRequest request(url);
    if (referringURL)
        request.setValue(referringURL->absoluteString(), "Referer");
    webView_->loadRequest(request);
}

void LMNBrowserController::viewWillAppear(bool animated) {
    platform::ViewController::viewWillAppear(animated);
    if (webView_)
        return;
    const bool tablet =
        platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet;
    auto orientation = platform::Application::shared().statusBarOrientation();
    const bool landscape = orientation == platform::InterfaceOrientation::LandscapeLeft ||
                           orientation == platform::InterfaceOrientation::LandscapeRight;
    const double toolbarHeight = !tablet && landscape ? kLandscapePhoneToolbarHeight : kToolbarHeight;
    auto bounds = view()->bounds();
    webView_ = makeWebView(platform::Rect(0, 0, bounds.size.width, bounds.size.height - toolbarHeight));
    webView_->setAutoresizingMask(tablet ? kFlexibleWidthAndHeight : kFlexibleWidthHeightAndBottomMargin);
    std::weak_ptr<LMNBrowserController> weak =
        std::static_pointer_cast<LMNBrowserController>(shared_from_this());
    webViewDelegate_ = std::make_shared<LMNScreenWebViewDelegate>(nullptr, [weak] {
        if (auto self = weak.lock())
            self->refreshToolbar();
    });
    webViewDelegate_->setViewController(
        std::static_pointer_cast<platform::ViewController>(shared_from_this()));
    webView_->setDelegate(webViewDelegate_);
    view()->addSubview(webView_);
    toolbar_ = std::make_shared<platform::Toolbar>(
        platform::Rect(0, bounds.size.height - toolbarHeight, bounds.size.width, toolbarHeight));
    toolbar_->setAutoresizingMask(tablet ? kToolbarTabletMask : kToolbarPhoneMask);
    toolbar_->setTintColor(platform::Color::blackColor());
    view()->addSubview(toolbar_);
    createToolbarButtons();
    refreshToolbar();
    observeSettingsFrom(webView_);
    if (urlToLoad_) {
        auto url = *urlToLoad_;
        auto referrer = referringURLToLoad_;
        urlToLoad_.reset();
        referringURLToLoad_.reset();
        load(url, referrer);
    }
}

std::shared_ptr<platform::BarButtonItem>
LMNBrowserController::buttonWithImage(std::shared_ptr<platform::Image> image, const std::string& name,
                                      double width, bool enabled, void (LMNBrowserController::*action)()) {
    auto item = platform::BarButtonItem::withImage(std::move(image), platform::BarButtonItemStyle::Plain);
    item->setTarget(std::static_pointer_cast<LMNBrowserController>(shared_from_this()), action);
    item->setWidth(width);
    item->setEnabled(enabled);
    item->setTitle(name);
    return item;
}

void LMNBrowserController::createToolbarButtons() {
    auto self = std::static_pointer_cast<LMNBrowserController>(shared_from_this());
    flexibleSpaceButton_ = platform::BarButtonItem::flexibleSpace();
    backButton_ = buttonWithImage(LMNIntrinsicImages::browserBackButton(), "Back", kButtonWidth, false,
                                  &LMNBrowserController::back);
    forwardButton_ = buttonWithImage(LMNIntrinsicImages::browserForwardButton(), "Forward", kButtonWidth,
                                     false, &LMNBrowserController::forward);
    spinner_ =
        std::make_shared<platform::ActivityIndicatorView>(platform::Rect(0, 0, kSpinnerSize, kSpinnerSize));
    spinner_->setAutoresizingMask(kCentredMask);
    spinner_->setAccessibilityLabel("Spinner");
    spinnerContainingButton_ = platform::BarButtonItem::withCustomView(spinner_);
    spinnerContainingButton_->setWidth(kSpinnerSize);
    reloadButton_ = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Refresh);
    reloadButton_->setTarget(self, &LMNBrowserController::reload);
    reloadButton_->setWidth(kButtonWidth);
    safariButton_ = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Action);
    safariButton_->setTarget(self, &LMNBrowserController::openInSafari);
    safariButton_->setWidth(kButtonWidth);
    safariButton_->setEnabled(false);
    doneButton_ = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Done);
    doneButton_->setStyle(platform::BarButtonItemStyle::Done);
    doneButton_->setTarget(self, &LMNBrowserController::relinquishScreen);
}

void LMNBrowserController::refreshToolbar() {
    if (!toolbar_ || !webView_)
        return;
    backButton_->setEnabled(webView_->canGoBack());
    forwardButton_->setEnabled(webView_->canGoForward());
    const bool loading = webView_->isLoading();
    safariButton_->setEnabled(!loading);
    if (loading)
        spinner_->startAnimating();
    else
        spinner_->stopAnimating();
    toolbar_->setItems({backButton_, flexibleSpaceButton_, forwardButton_, flexibleSpaceButton_,
                        loading ? spinnerContainingButton_ : reloadButton_, flexibleSpaceButton_,
                        safariButton_, flexibleSpaceButton_, doneButton_});
}

void LMNBrowserController::didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) {
    LMNViewController::didRotateFromInterfaceOrientation(from);
    if (webView_)
        LMNWebViewDelegate::notifyWebViewOfOrientationChange(*webView_, interfaceOrientation());
}

void LMNBrowserController::back() {
    if (webView_ && webView_->canGoBack())
        webView_->goBack();
}

void LMNBrowserController::forward() {
    if (webView_ && webView_->canGoForward())
        webView_->goForward();
}

void LMNBrowserController::reload() {
    if (webView_)
        webView_->reload();
}

void LMNBrowserController::stop() {
    if (webView_)
        webView_->stopLoading();
}

void LMNBrowserController::openInSafari() {
    if (!webView_ || !webView_->request())
        return;
    auto opener = std::make_shared<LMNOpener>();
    opener->delegateManager_ = delegateManager();
    opener->openApp(webView_->request()->url());
    LMNStatistics::sharedStatistics().setBreakOutToSafari();
}

// ---- LMNWebAppViewController ----

LMNWebAppViewController::LMNWebAppViewController()
    : loadingSpinner_(
          std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White)) {}

void LMNWebAppViewController::load(const platform::URL& url) {
    if (webView_)
        webView_->loadRequest(platform::URLRequest(url));
    else
        urlToLoad_ = url;
}

void LMNWebAppViewController::loadHTML(const std::string& html, const std::optional<platform::URL>& baseURL) {
    if (webView_) {
        webView_->loadHTMLString(html, baseURL);
        return;
    }
    htmlToLoad_ = html;
    htmlBaseURLToLoad_ = baseURL;
}

void LMNWebAppViewController::viewWillAppear(bool animated) {
    platform::ViewController::viewWillAppear(animated);
    if (webView_)
        return;
    webView_ = makeWebView(view()->bounds());
    webView_->setOpaque(false);
    webView_->setBackgroundColor(platform::Color::clearColor());
    std::weak_ptr<LMNWebAppViewController> weak =
        std::static_pointer_cast<LMNWebAppViewController>(shared_from_this());
    webViewDelegate_ = std::make_shared<LMNScreenWebViewDelegate>(
        [weak] {
            if (auto self = weak.lock())
                self->pageDidFinish();
        },
        nullptr);
    webViewDelegate_->setViewController(
        std::static_pointer_cast<platform::ViewController>(shared_from_this()));
    webView_->setDelegate(webViewDelegate_);
    view()->addSubview(webView_);
    if (auto image = LMNIntrinsicImages::closeButton()) {
        closeButton_ = std::make_shared<platform::Button>(
            platform::Rect(kCloseButtonInset, kCloseButtonInset, image->size().width, image->size().height));
        closeButton_->setImage(image);
        closeButton_->setAccessibilityLabel("Close");
        closeButton_->addTarget(std::static_pointer_cast<LMNWebAppViewController>(shared_from_this()),
                                &LMNWebAppViewController::relinquishScreen,
                                platform::ControlEvent::TouchUpInside);
        view()->addSubview(closeButton_);
    }
    if (loadingSpinner_) {
        const auto bounds = view()->bounds();
        const double size = platform::ActivityIndicatorView::kSmallSize;
        loadingSpinner_->setFrame(
            platform::Rect((bounds.size.width - size) / 2, (bounds.size.height - size) / 2, size, size));
        loadingSpinner_->setAutoresizingMask(kCentredMask);
        loadingSpinner_->startAnimating();
        webView_->addSubview(loadingSpinner_);
    }
    observeSettingsFrom(webView_);
    if (urlToLoad_) {
        auto url = *urlToLoad_;
        urlToLoad_.reset();
        load(url);
    } else if (htmlToLoad_) {
        auto html = *htmlToLoad_;
        auto base = htmlBaseURLToLoad_;
        htmlToLoad_.reset();
        htmlBaseURLToLoad_.reset();
        loadHTML(html, base);
    }
}

void LMNWebAppViewController::viewDidAppear(bool animated) {
    LMNViewController::viewDidAppear(animated);
    setPendingOnShow(true);
}

void LMNWebAppViewController::setPendingOnShow(bool pending) {
    pendingOnShow_ = pending;
    if (webView_ && !webView_->isLoading() && loaded_)
        postOnShowEvent();
}

void LMNWebAppViewController::postOnShowEvent() {
    if (!pendingOnShow_ || !webView_)
        return;
    pendingOnShow_ = false;
    LMNNotificationCenter::postJSNotification(
        "onshow", platform::Dictionary{{"version", LMNRequest::sdkVersion()}}, *webView_);
}

void LMNWebAppViewController::pageDidFinish() {
    if (!loaded_) {
        loaded_ = true;
        if (loadingSpinner_) {
            loadingSpinner_->removeFromSuperview();
            loadingSpinner_.reset();
        }
    }
    postOnShowEvent();
}

void LMNWebAppViewController::didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) {
    LMNViewController::didRotateFromInterfaceOrientation(from);
    if (webView_)
        LMNWebViewDelegate::notifyWebViewOfOrientationChange(*webView_, interfaceOrientation());
}

void LMNWebAppViewController::viewDidDisappear(bool animated) {
    LMNViewController::viewDidDisappear(animated);
    if (webView_)
        LMNNotificationCenter::postJSNotification("onhide", std::nullopt, *webView_);
}

} // namespace lumen
