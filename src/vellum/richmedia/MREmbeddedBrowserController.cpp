// MREmbeddedBrowserController: opening and closing, the page display, load failures and the
// browser's navigation router.
#include "vellum/richmedia/MREmbeddedBrowserController.h"

#include <cstdio>

#include "platform/foundation/URL.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/richmedia/MRFullscreenContainer.h"
#include "vellum/richmedia/MRModalAdViewController.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumAdViewController.h"
#include "vellum/richmedia/VellumJSBridge.h"
#include "vellum/richmedia/VellumResourceExpander.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace vellum {
namespace {

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

std::shared_ptr<MREmbeddedBrowserController>& sharedSlot() {
    static std::shared_ptr<MREmbeddedBrowserController> browser;
    return browser;
}

// The toolbar's measures and images for one device kind.
struct ToolbarLayout {
    double height;
    platform::Rect back, forward;
    double closeInset, closeWidth;
    const char* toolbar;
    const char* back_, *backDisabled, *forward_, *forwardDisabled, *close;
};
constexpr ToolbarLayout kPadToolbar{49,   {20, 0, 70, 49}, {100, 0, 70, 49}, 90, 70, "toolbar_slice_iPad.png",
                                    "back_iPad.png", "back_disabled_iPad.png", "forward_iPad.png",
                                    "forward_disabled_iPad.png", "close_iPad.png"};
constexpr ToolbarLayout kPhoneToolbar{30, {20, 0, 40, 30}, {100, 0, 40, 30}, 60, 40, "toolbar_slice.png",
                                      "back.png", "back_disabled.png", "forward.png", "forward_disabled.png",
                                      "close.png"};

constexpr double kActivitySize = 40;
constexpr double kLoadingLabelRaise = 50;

} // namespace

std::shared_ptr<MREmbeddedBrowserController> MREmbeddedBrowserController::sharedInstance() {
    auto& shared = sharedSlot();
    if (!shared)
        shared.reset(new MREmbeddedBrowserController());
    return shared;
}

void MREmbeddedBrowserController::resetForTesting() {
    if (auto& shared = sharedSlot()) {
        platform::RunLoop::current().cancelPerforms(shared.get());
        while (shared->ignoring_ > 0)
            shared->endIgnoring();
        if (shared->terminateToken_)
            platform::Application::shared().removeObserver(shared->terminateToken_);
        if (shared->webView_)
            shared->webView_->setDelegate({});
    }
    sharedSlot().reset();
}

std::shared_ptr<MREmbeddedBrowserController> MREmbeddedBrowserController::self() {
    return std::static_pointer_cast<MREmbeddedBrowserController>(sharedController());
}

std::shared_ptr<VellumAdViewController> MREmbeddedBrowserController::adVC() const {
    return adView_ ? adView_->adVC() : nullptr;
}

void MREmbeddedBrowserController::endIgnoring() {
    if (ignoring_ <= 0)
        return;
    --ignoring_;
    platform::Application::shared().endIgnoringInteractionEvents();
}

std::string MREmbeddedBrowserController::urlString(const std::string& url, bool withLocation) {
    if (!withLocation)
        return url;
    const auto& location = analytics().currentLocation();
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "?lat=%.7f&long=%.7f&alt=%.7f",
                  location ? location->coordinate().latitude : 0.0, location ? location->coordinate().longitude : 0.0,
                  location ? location->altitude() : 0.0);
    return url + buffer;
}

void MREmbeddedBrowserController::showURL(const std::string& url, const std::optional<std::string>& adID,
                                          bool withLocation, const std::shared_ptr<VellumAdView>& adView,
                                          const std::shared_ptr<VellumEvent>& event) {
    // The opener has begun ignoring interaction events; this browser ends it when it first
    // shows. Every opening is a first pass of its own: a link whose load never starts (sent
    // outside by the router) is revealed by the scheduled fallback, which must then end the
    // ignoring and show the toolbar, though an earlier opening already cleared the flag.
    ++ignoring_;
    firstPass_ = true;
    adID_ = adID;
    urlString_ = urlString(url, withLocation);
    adView_ = adView;
    event_ = event;
    if (adID) {
        notifyDict_ = platform::Dictionary{{MRAdUrlStringKey, url}, {MRAdIDKey, *adID}};
        displayStartTime_ = platform::Clock::current().now();
    } else {
        notifyDict_.reset();
        displayStartTime_.reset();
    }
    loadRequest();
}

void MREmbeddedBrowserController::loadRequest() {
    auto url = platform::URL::parse(urlString_);
    auto root = view();
    if (!webView_)
        return;
    webView_->setDelegate(std::weak_ptr<platform::WebViewDelegate>(self()));
    if (url)
        loadForAdPage(*webView_, *url);
    std::weak_ptr<MREmbeddedBrowserController> weak = self();
    platform::RunLoop::current().performAfter(
        kRevealDelay,
        [weak] {
            if (auto browser = weak.lock())
                browser->showWebView();
        },
        this, "showWebView");
    root->setBackgroundColor(platform::Color{0, 0, 0, 0.8});
    auto container = MRFullscreenContainer::sharedContainer();
    container->setTracksDeviceOrientation(true);
    container->pushView(root);
    const auto frame = root->frame();
    root->setFrame(platform::Rect(frame.x() + frame.width(), frame.y(), frame.width(), frame.height()));
    root->setAlpha(0);
    auto adView = adView_;
    if (adView)
        adView->willDisplayEmbeddedBrowser();
    if (auto modal = adVC() ? adVC()->modalAdVC() : nullptr)
        modal->willDisplayEmbeddedBrowser();
    platform::AnimationOptions options("showEmbeddedBrowser", kSlideSeconds);
    options.curve = platform::AnimationCurve::EaseOut;
    platform::View::animate(
        options,
        [root, frame] {
            root->setFrame(frame);
            root->setAlpha(1);
        },
        [adView](const std::string&, bool) {
            if (adView)
                adView->didDisplayEmbeddedBrowser();
        });
    if (!terminateToken_)
        terminateToken_ = platform::Application::shared().addObserver(
            platform::kApplicationWillTerminateNotification, [weak](const std::string&) {
                if (auto browser = weak.lock())
                    browser->appWillTerminate();
            });
}

void MREmbeddedBrowserController::loadView() {
    platform::ViewController::loadView();
    auto root = view();
    const auto size = root->bounds().size;
    const bool pad = platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet;
    const ToolbarLayout& layout = pad ? kPadToolbar : kPhoneToolbar;
    VellumResourceExpander images;
    auto image = [&](const char* name) { return images.imageForKey(name); };

    webViewContainer_ = MRWebViewContainer::create(platform::Rect(0, 0, size.width, size.height - layout.height));
    webViewContainer_->setAlpha(0);
    webViewContainer_->setAutoresizingMask(platform::Autoresizing::FlexibleWidth | platform::Autoresizing::FlexibleHeight);
    webView_ = webViewContainer_->webView();
    webView_->setDelegate(std::weak_ptr<platform::WebViewDelegate>(self()));
    webView_->setScalesPageToFit(true);
    webView_->setUserInteractionEnabled(true);
    webView_->stopLoading();
    root->addSubview(webViewContainer_);

    toolbarView_ = std::make_shared<platform::ImageView>(
        platform::Rect(0, size.height - layout.height, size.width, layout.height));
    toolbarView_->setImage(image(layout.toolbar));
    toolbarView_->setContentMode(platform::ContentMode::ScaleToFill);
    toolbarView_->setUserInteractionEnabled(true);
    toolbarView_->setAutoresizingMask(platform::Autoresizing::FlexibleWidth | platform::Autoresizing::FlexibleTopMargin);
    auto button = [&](const platform::Rect& frame, const char* normal, const char* disabled, unsigned mask,
                      void (MREmbeddedBrowserController::*action)(), const char* label) {
        auto b = platform::Button::buttonWithType(platform::ButtonType::Custom);
        b->setFrame(frame);
        b->setImage(image(normal));
        if (disabled)
            b->setImage(image(disabled), platform::ControlState::Disabled);
        b->setShowsTouchWhenHighlighted(true);
        b->setAutoresizingMask(mask);
        b->setAccessibilityLabel(label);
        b->addTarget(self(), action, platform::ControlEvent::TouchUpInside);
        toolbarView_->addSubview(b);
        return b;
    };
    backButton_ = button(layout.back, layout.back_, layout.backDisabled, platform::Autoresizing::FlexibleRightMargin,
                         &MREmbeddedBrowserController::goBack, "Back");
    backButton_->setAdjustsImageWhenHighlighted(true);
    forwardButton_ = button(layout.forward, layout.forward_, layout.forwardDisabled,
                            platform::Autoresizing::FlexibleRightMargin, &MREmbeddedBrowserController::goForward,
                            "Forward");
    dismissButton_ = button(platform::Rect(size.width - layout.closeInset, 0, layout.closeWidth, layout.height),
                            layout.close, nullptr, platform::Autoresizing::FlexibleLeftMargin,
                            &MREmbeddedBrowserController::dismiss, "Close");
    backButton_->setEnabled(false);
    forwardButton_->setEnabled(false);
    toolbarView_->setAlpha(0);
    root->addSubview(toolbarView_);

    constexpr unsigned kAllMargins = platform::Autoresizing::FlexibleLeftMargin |
                                     platform::Autoresizing::FlexibleRightMargin |
                                     platform::Autoresizing::FlexibleTopMargin |
                                     platform::Autoresizing::FlexibleBottomMargin;
    activityInd_ = std::make_shared<platform::ActivityIndicatorView>(platform::Rect(0, 0, kActivitySize, kActivitySize));
    activityInd_->setActivityIndicatorViewStyle(platform::ActivityIndicatorViewStyle::WhiteLarge);
    activityInd_->setAutoresizingMask(kAllMargins);
    activityInd_->setCenter({size.width / 2, size.height / 2});
    activityInd_->setHidesWhenStopped(true);
    root->addSubview(activityInd_);
    loadingMessage_ = std::make_shared<platform::Label>(platform::Rect(0, 0, 100, 20));
    loadingMessage_->setOpaque(false);
    loadingMessage_->setBackgroundColor(platform::Color::clearColor());
    loadingMessage_->setTextColor(platform::Color::whiteColor());
    loadingMessage_->setShadowColor(platform::Color::white(0.75, 0.75));
    loadingMessage_->setTextAlignment(platform::TextAlignment::Center);
    loadingMessage_->setText(kLoadingText);
    loadingMessage_->setAutoresizingMask(kAllMargins);
    loadingMessage_->sizeToFit();
    loadingMessage_->setCenter({size.width / 2, size.height / 2 - kLoadingLabelRaise});
    loadingMessage_->setHidden(true);
    root->addSubview(loadingMessage_);

    TouchTracking::tellObjectAboutTouchInRect(self(), webViewContainer_->frame(), root.get());
}

void MREmbeddedBrowserController::goBack() {
    if (webView_)
        webView_->goBack();
    updateNavigationButtons();
}

void MREmbeddedBrowserController::goForward() {
    if (webView_)
        webView_->goForward();
    updateNavigationButtons();
}

void MREmbeddedBrowserController::updateNavigationButtons() {
    if (!webView_ || !backButton_)
        return;
    backButton_->setEnabled(webView_->canGoBack());
    forwardButton_->setEnabled(webView_->canGoForward());
}

void MREmbeddedBrowserController::startProgressIndicator() {
    if (activityInd_)
        activityInd_->startAnimating();
    if (loadingMessage_)
        loadingMessage_->setHidden(false);
}

void MREmbeddedBrowserController::stopProgressIndicator() {
    if (activityInd_)
        activityInd_->stopAnimating();
    if (loadingMessage_)
        loadingMessage_->setHidden(true);
}

void MREmbeddedBrowserController::showWebView() {
    if (firstPass_ && isViewLoaded()) {
        endIgnoring();
        auto root = view();
        root->addSubview(toolbarView_);
        auto toolbar = toolbarView_;
        auto page = webViewContainer_;
        platform::View::animate(platform::kDefaultAnimationDuration, [toolbar, page] {
            toolbar->setAlpha(1);
            page->setAlpha(1);
        });
        firstPass_ = false;
    }
    platform::RunLoop::current().cancelPerforms(this, "showWebView");
}

// ---- Web view callbacks ----
void MREmbeddedBrowserController::webViewDidStartLoad(platform::WebView&) {
    // A new page is revealed once more when it finishes, whether or not the slot has a
    // delegate, so the browser always becomes visible and closable.
    startProgressIndicator();
    firstPass_ = true;
    dismissed_ = false;
}

void MREmbeddedBrowserController::webViewDidFinishLoad(platform::WebView&) {
    if (dismissed_)
        return;
    showWebView();
    stopProgressIndicator();
    updateNavigationButtons();
}

void MREmbeddedBrowserController::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) {
    const std::string& description = error.localizedDescription;
    if (lastURLLoadWasMRBridge_) {
        webViewDidFinishLoad(webView);
        VellumJSBridge::sharedInstance()->webViewDidFailLoadWithError(webView);
        return;
    }
    if (description == kFrameLoadInterrupted)
        return;
    if (description == kPlugInHandledLoad) {
        webViewDidFinishLoad(webView);
        return;
    }
    if (redirectPass_) {
        webViewDidFinishLoad(webView);
        redirectPass_ = false;
        return;
    }
    if (description.empty())
        return;
    webViewDidFinishLoad(webView);
    alert_ = platform::AlertView::create(kLoadFailedTitle, description, self(), "OK");
    alert_->show();
}

void MREmbeddedBrowserController::loadForAdPage(platform::WebView& webView, const platform::URL& url) {
    auto controller = adVC();
    auto ad = controller ? controller->ad() : nullptr;
    auto folder = ad ? ad->path() : std::nullopt;
    // The folder itself (a trailing "/") is what the ad's pages may reach.
    const platform::URL page =
        folder ? platform::URL::fileURL(*folder + "/") : *platform::URL::parse("about:blank");
    // The browser reads files of the ad's own folder only, none without an ad.
    webView.setReadableFolder(folder ? platform::ReadableFolder(*folder) : platform::ReadableFolder());
    webView.loadRequest(platform::URLRequest(url,
                                             platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                             kRequestTimeout),
                        page);
}

bool MREmbeddedBrowserController::webViewShouldStartLoadWithRequestNavigationType(
    platform::WebView& webView, const platform::URLRequest& request, platform::WebViewNavigationType type) {
    auto keep = self();
    const auto& url = request.url();
    const std::string text = url.absoluteString();
    const std::string decoded = platform::percentDecode(text, false).value_or(text);
    const std::string scheme = url.scheme();
    const std::string s3 = scheme.substr(0, 3);
    auto controller = adVC();
    auto ad = controller ? controller->ad() : nullptr;
    const std::string basePath = ad ? ad->path().value_or("") : "";

    if (event_)
        event_->trackURLEvent(text);
    analytics().logDebug("got VellumJSBridge call with a request: %s", text.c_str());
    analytics().logDebug("got VellumJSBridge call with a host: %s", url.host().value_or("(null)").c_str());
    analytics().logDebug("got VellumJSBridge call with a protocol: %s", scheme.c_str());
    analytics().logDebug("got VellumJSBridge call with a AbString: %s", text.c_str());
    redirectPass_ = false;

    auto bridge = VellumJSBridge::sharedInstance();
    const std::size_t skip = std::string_view(VellumJSBridge::kURLScheme).size() + 1;
    // 2. Another ad launched from the page.
    if (auto colon = decoded.find(':'); colon != std::string::npos && decoded.substr(0, colon) == "vellum") {
        const std::string command = VellumJSBridge::methodFromBridgeURL(text);
        analytics().logDebug("method: %s", command.c_str());
        if (command == ":launchAd" || command == "launchAd") {
            auto args = VellumJSBridge::argumentsFromBridgeString(decoded.size() > skip ? decoded.substr(skip) : "");
            auto argument = [&](const char* key) -> std::optional<std::string> {
                if (!args)
                    return std::nullopt;
                auto found = args->find(key);
                return found != args->end() && found->second.string() ? std::optional(*found->second.string())
                                                                         : std::nullopt;
            };
            if (controller) {
                auto child = argument("adID");
                if (child && controller->downloadNewAdIntoBrowser(*child, ad ? ad->adID : std::nullopt))
                    return false;
                if (auto alternate = argument("alternate"))
                    controller->showClickThroughInMiniBrowser(*alternate);
            }
            return false;
        }
    }
    // 3. A bridge command.
    if (equalsIgnoringCase(scheme, VellumJSBridge::kURLScheme)) {
        if (controller)
            controller->setTHEStrRequest(text);
        analytics().logInternal("got VellumJSBridge call: %s", text.c_str());
        bridge->processMRBridgeMethod(VellumJSBridge::methodFromBridgeURL(text), webView,
                                      VellumJSBridge::argumentsFromBridgeString(text.size() > skip ? text.substr(skip) : ""),
                                      basePath, this);
        return false;
    }
    // 4. Outside destinations open outside; the browser stays.
    if (auto destination = outsideDestinationFor(url)) {
        if (controller)
            controller->setTHEStrRequest(text);
        if (event_)
            event_->incrementNumberForKey(destination->counter);
        platform::Application::shared().openURL(text);
        return false;
    }
    // 5. The application may claim the navigation.
    if (adView_ && !adView_->willStartLoadWithRequest(webView, request, type, basePath)) {
        if (controller)
            controller->setTHEStrRequest(text);
        if (event_)
            event_->incrementNumberForKey(MRAdClickThru_CustomApp);
        endIgnoring();
        dismiss();
        return false;
    }
    // 6 and 7. Web pages and relative ones load here; a local page only when it is one of the
    // ad's own files (no page, reply or redirect leads the browser to any other file).
    if (containsIgnoringCase(s3, "htt") || scheme.empty())
        return true;
    if (containsIgnoringCase(s3, "fil")) {
        const bool adsOwn = !basePath.empty() && platform::ReadableFolder(basePath).allows(url);
        if (!adsOwn)
            analytics().logDebug("refused a local page outside the ad's folder: %s", text.c_str());
        return adsOwn;
    }
    // 8. Another application's scheme.
    if (controller)
        controller->setTHEStrRequest(text);
    if (platform::Application::shared().openURL(decoded)) {
        if (event_)
            event_->incrementNumberForKey(MRAdClickThru_ExternalApp);
        return false;
    }
    // 9. It would not open: the page's fallback, when it gave one.
    if (auto alternate = bridge->getAlternateURL()) {
        redirectPass_ = true;
        webView.stopLoading();
        urlString_ = urlString(*alternate, false);
        bridge->setAlternateURL(std::nullopt);
        if (auto next = platform::URL::parse(urlString_))
            loadForAdPage(webView, *next);
        return true;
    }
    return true;
}

// ---- Closing ----
void MREmbeddedBrowserController::dismiss() {
    auto keep = self();
    if (isViewLoaded())
        dismissBrowserAnimated(true);
    if (dismissButton_)
        dismissButton_->setEnabled(false);
    platform::RunLoop::current().cancelPerforms(this);
    dismissed_ = true;
}

void MREmbeddedBrowserController::dismissBrowserAnimated(bool animated) {
    if (!isViewLoaded())
        return;
    auto keep = self();
    ++ignoring_;
    platform::Application::shared().beginIgnoringInteractionEvents();
    if (webView_)
        webView_->stopLoading();
    auto adView = adView_;
    if (adView)
        adView->willDismissEmbeddedBrowser();
    if (auto modal = adVC() ? adVC()->modalAdVC() : nullptr)
        modal->willDismissEmbeddedBrowser();
    if (animated && adView && adView->delegate()) {
        auto root = view();
        const auto f = root->frame();
        platform::AnimationOptions options("dismissEmbeddedBrowser", kSlideSeconds);
        options.curve = platform::AnimationCurve::EaseOut;
        std::weak_ptr<MREmbeddedBrowserController> weak = keep;
        platform::View::animate(
            options,
            [root, f] {
                root->setFrame(platform::Rect(f.x() + f.width(), f.y(), f.width(), f.height()));
                root->setAlpha(0);
            },
            [weak](const std::string&, bool) {
                if (auto browser = weak.lock())
                    browser->finishDismissal();
            });
    } else {
        finishDismissal();
    }
    if (terminateToken_) {
        platform::Application::shared().removeObserver(terminateToken_);
        terminateToken_ = 0;
    }
    if (event_)
        event_->trackURLEvent(kClosedBreadcrumb);
    // Whatever this browser still owes ends once its closing has begun: the opener's begin
    // when the page never showed, and the closing's own.
    while (ignoring_ > 0)
        endIgnoring();
}

void MREmbeddedBrowserController::finishDismissal() {
    if (!isViewLoaded())
        return;
    auto root = view();
    auto container = MRFullscreenContainer::sharedContainer();
    container->popView(root.get());
    container->setTracksDeviceOrientation(false);
    if (webView_) {
        webView_->setDelegate({});
        webView_->removeFromSuperview();
        webView_->loadRequest(platform::URLRequest(*platform::URL::parse("about:Blank")));
    }
    TouchTracking::ignoreTouchesInView(root.get());
    setView(nullptr);
    webView_.reset();
    webViewContainer_.reset();
    toolbarView_.reset();
    backButton_.reset();
    forwardButton_.reset();
    activityInd_.reset();
    loadingMessage_.reset();
    auto adView = std::move(adView_);
    if (adView)
        adView->didDismissEmbeddedBrowser();
}

} // namespace vellum
