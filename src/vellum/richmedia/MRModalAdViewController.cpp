// MRModalAdViewController: loading and showing the expanded page, the expand and collapse
// animations, the close controls and the floating panel that follows its slot.
#include "vellum/richmedia/MRModalAdViewController.h"

#include <filesystem>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Device.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumAdViewController.h"
#include "vellum/richmedia/VellumCachedCloseButton.h"
#include "vellum/richmedia/VellumJSBridge.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace vellum {
namespace {

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

std::shared_ptr<platform::Timer>& movementTimer() {
    static std::shared_ptr<platform::Timer> timer;
    return timer;
}

int statusBarOrientation() {
    return static_cast<int>(platform::Application::shared().statusBarOrientation());
}

bool isLandscape(int orientation) {
    return orientation == 3 || orientation == 4;
}

// Rotation of the floating panel for an interface orientation.
double rotationFor(int orientation) {
    switch (orientation) {
    case 2: return std::numbers::pi;
    case 3: return std::numbers::pi / 2;
    case 4: return -std::numbers::pi / 2;
    default: return 0;
    }
}

// The orientation reply's angle for an interface orientation.
int angleFor(int orientation) {
    switch (orientation) {
    case 2: return 180;
    case 3: return 90;
    case 4: return -90;
    default: return 0;
    }
}

} // namespace

std::shared_ptr<MRModalAdViewController> MRModalAdViewController::create(
    const std::shared_ptr<VellumAdViewController>& adVC, const std::shared_ptr<VellumEvent>& event) {
    std::shared_ptr<MRModalAdViewController> controller(new MRModalAdViewController());
    controller->adVC_ = adVC;
    controller->event_ = event;
    controller->oldBridgeDelegate_ = VellumJSBridge::sharedInstance()->delegate();
    // The ad view controller began ignoring interaction events when it expanded.
    controller->ignoring_ = 1;
    return controller;
}

MRModalAdViewController::~MRModalAdViewController() {
    if (orientationToken_.isValid())
        platform::NotificationCenter::defaultCenter().removeObserver(orientationToken_);
    if (webView_)
        webView_->setDelegate({});
    while (ignoring_ > 0)
        endIgnoring();
}

std::shared_ptr<MRModalAdViewController> MRModalAdViewController::self() {
    return std::static_pointer_cast<MRModalAdViewController>(sharedController());
}

std::shared_ptr<VellumAdView> MRModalAdViewController::slotView() const {
    auto c = adVC_.lock();
    return c ? c->adView() : nullptr;
}

std::shared_ptr<MRCachedAd> MRModalAdViewController::ad() const {
    auto c = adVC_.lock();
    return c ? c->ad() : nullptr;
}

void MRModalAdViewController::beginIgnoring() {
    ++ignoring_;
    platform::Application::shared().beginIgnoringInteractionEvents();
}

void MRModalAdViewController::endIgnoring() {
    if (ignoring_ <= 0)
        return;
    --ignoring_;
    platform::Application::shared().endIgnoringInteractionEvents();
}

// ---- Building ----
void MRModalAdViewController::setUpWebView(const MRCachedAd& ad) {
    webView_->setDelegate(std::weak_ptr<platform::WebViewDelegate>(self()));
    // The ad's pages read only the ad's own folder.
    webView_->setReadableFolder(ad.path() ? platform::ReadableFolder(*ad.path()) : platform::ReadableFolder());
    webView_->setOpaque(false);
    webView_->setBackgroundColor(ad.transparentBackground ? platform::Color::clearColor()
                                                          : platform::Color::blackColor());
    webView_->setOpaque(!ad.transparentBackground);
    webView_->setScalesPageToFit(false);
}

void MRModalAdViewController::loadView() {
    auto ad = this->ad();
    expandableType_ = ad ? ad->expandableType : 0;
    selfRetain_ = self();
    if (expandableType_ == 1) {
        loadView1();
        return;
    }
    const auto screen = platform::Screen::main().bounds();
    auto root = std::make_shared<platform::View>(screen);
    setView(root);
    if (!ad)
        return;
    const double ew = ad->expandedWidth, eh = ad->expandedHeight;
    frame_ = platform::Rect(0, screen.height() - eh, ew, eh);
    webView_ = std::make_shared<platform::WebView>(frame_);
    setUpWebView(*ad);
    root->addSubview(webView_);
    placeCloseControl(*ad);
}

void MRModalAdViewController::placeCloseControl(const MRCachedAd& ad) {
    auto root = view();
    if (!ad.displaysCloseButton)
        return;
    if (ad.closeButtonLibID) {
        placeCustomCloseButtonInView(*root, *ad.closeButtonLibID, false, root->frame());
        return;
    }
    if (expandableType_ == 1)
        return; // the floating kind has no navigation bar
    auto bar = std::make_shared<platform::NavigationBar>(platform::Rect(
        0, root->bounds().height() - ad.expandedHeight - kNavigationBarHeight, ad.expandedWidth, kNavigationBarHeight));
    auto item = std::make_shared<platform::NavigationItem>(ad.expandedTitle.value_or(kDefaultTitle));
    std::weak_ptr<MRModalAdViewController> weak = self();
    item->setRightBarButtonItem(platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Done, [weak](platform::BarButtonItem&) {
        if (auto c = weak.lock())
            c->doneButtonAction();
    }));
    bar->setTintColor(platform::Color::blackColor());
    bar->pushNavigationItem(item, false);
    root->addSubview(bar);
    navBar_ = bar;
}

void MRModalAdViewController::loadView1() {
    currentDeviceOrientation_ = statusBarOrientation();
    auto root = std::make_shared<platform::View>(platform::Screen::main().bounds());
    setView(root);
    auto ad = this->ad();
    if (!ad)
        return;
    frame_ = platform::Rect(0, 0, ad->expandedWidth, ad->expandedHeight);
    updatePositionExpandableType1();
}

platform::Rect MRModalAdViewController::floatingPanelFrame(const MRCachedAd& ad, int orientation,
                                                          const platform::Rect& slot) {
    const double x = slot.x(), y = slot.y(), w = slot.width(), h = slot.height();
    const double ew = ad.expandedWidth, eh = ad.expandedHeight;
    const double ox = ad.offsetExpandableX, oy = ad.offsetExpandableY;
    struct Anchor {
        double x, y;
    };
    Anchor corners[4];
    switch (orientation) {
    case 2:
        corners[0] = {x, y + h - eh}, corners[1] = {x - w, y + h - eh}, corners[2] = {x - w, y - eh},
        corners[3] = {x, y - eh};
        break;
    case 3:
        corners[0] = {x + w - eh, y}, corners[1] = {x + w - eh, y + h}, corners[2] = {x - eh, y + h},
        corners[3] = {x - eh, y};
        break;
    case 4:
        corners[0] = {x, y}, corners[1] = {x, y - h}, corners[2] = {x + w, y - h}, corners[3] = {x + w, y};
        break;
    default:
        corners[0] = {x, y}, corners[1] = {x + w, y}, corners[2] = {x + w, y + h}, corners[3] = {x, y + h};
        break;
    }
    const int corner = ad.offsetExpandableCorner;
    Anchor a{0, 0};
    if (corner >= 1 && corner <= 4)
        a = corners[corner - 1];
    a.x = std::trunc(a.x);
    a.y = std::trunc(a.y);
    switch (orientation) {
    case 2: return platform::Rect(a.x - ox, a.y - oy, ew, eh);
    case 3: return platform::Rect(a.x - oy, a.y + ox, eh, ew);
    case 4: return platform::Rect(a.x + oy, a.y - ox, eh, ew);
    default: return platform::Rect(a.x + ox, a.y + oy, ew, eh);
    }
}

platform::Rect MRModalAdViewController::keptOnScreen(platform::Rect panel, int orientation, bool statusBarVisible,
                                                     const platform::Rect& screen) {
    const double inset = statusBarVisible ? kStatusBarInset : 0;
    double x = panel.x(), y = panel.y();
    if (isLandscape(orientation)) {
        const double low = screen.x() + inset, high = screen.width() - inset;
        if (x < low)
            x = low;
        if (x + panel.width() > high)
            x = high - panel.width();
    } else {
        const double low = screen.y() + inset, high = screen.height() - inset;
        if (y < low)
            y = low;
        if (y + panel.height() > high)
            y = high - panel.height();
    }
    return platform::Rect(x, y, panel.width(), panel.height());
}

void MRModalAdViewController::updatePositionExpandableType1() {
    auto ad = this->ad();
    auto root = isViewLoaded() ? view() : nullptr;
    if (!ad || !root)
        return;
    if (transformView_)
        transformView_->removeFromSuperview();
    if (webView_)
        webView_->removeFromSuperview();
    const int orientation = statusBarOrientation();
    transformView_ = std::make_shared<platform::View>(frame_);
    if (!webView_)
        webView_ = std::make_shared<platform::WebView>(platform::Rect(0, 0, ad->expandedWidth, ad->expandedHeight));
    const auto screen = platform::Screen::main().bounds();
    transformView_->setCenter({screen.width() / 2, screen.height() / 2});
    transformView_->setTransform(platform::AffineTransform::makeRotation(rotationFor(orientation)));
    // The slot ad's rectangle on the screen.
    platform::Rect slot;
    if (auto c = adVC_.lock(); c && c->isViewLoaded()) {
        auto windows = platform::Application::shared().windows();
        const platform::View* window = windows.empty() ? nullptr : windows.back().get();
        auto v = c->view();
        auto super = v->superview();
        slot = super ? super->convertRectTo(v->frame(), window) : v->frame();
    }
    frame_ = floatingPanelFrame(*ad, orientation, slot);
    if (!ad->expandableRelocation)
        frame_ = keptOnScreen(frame_, orientation, !platform::Application::shared().isStatusBarHidden(), screen);
    root->setFrame(frame_);
    root->setAutoresizesSubviews(false);
    setUpWebView(*ad);
    root->setBackgroundColor(platform::Color::clearColor());
    transformView_->setBackgroundColor(platform::Color::clearColor());
    transformView_->setFrame(platform::Rect({0, 0}, transformView_->frame().size));
    transformView_->addSubview(webView_);
    root->addSubview(transformView_);
    if (ad->displaysCloseButton && ad->closeButtonLibID)
        placeCustomCloseButtonInView(*root, *ad->closeButtonLibID, false, root->frame());
}

// ---- Page ----
void MRModalAdViewController::viewWillAppear(bool) {
    auto root = view();
    root->setHidden(true);
    auto ad = this->ad();
    auto adView = slotView();
    const auto page = ad ? ad->expandedMainFilePath() : std::nullopt;
    std::optional<std::filesystem::path> shown;
    if (page) {
        shown = writePageWithMacros(*page, *ad->path(), adView.get(), "expand:");
        // A page that cannot be rewritten is shown as it is.
        if (!shown && std::filesystem::exists(*page))
            shown = *page;
    }
    VellumJSBridge::sharedInstance()->setDelegate(std::weak_ptr<MR_JSBridgeDelegate>(self()));
    // While expanded, the commands of this ad's pages act on this controller.
    if (auto controller = adVC_.lock())
        controller->setExpandedBridgeDelegate(std::weak_ptr<MR_JSBridgeDelegate>(self()));
    if (!shown || !webView_) {
        analytics().logInternal("modal ad web view failed load with error: %s %s", "the expanded page cannot be read",
                                page ? page->c_str() : "(null)");
        // Nothing to show: the expansion collapses at once.
        std::weak_ptr<MRModalAdViewController> weak = self();
        platform::RunLoop::current().performAfter(0, [weak] {
            if (auto c = weak.lock())
                c->dismissAd();
        }, this);
        return;
    }
    pagePath_ = shown->string();
    webView_->loadRequest(platform::URLRequest(platform::URL::fileURL(*shown)));
}

void MRModalAdViewController::viewWillDisappear(bool) {
    if (webView_)
        webView_->loadHTMLString("<html></html>", std::nullopt);
}

bool MRModalAdViewController::webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                                             const platform::URLRequest& request,
                                                                             platform::WebViewNavigationType type) {
    const std::string text = request.url().absoluteString();
    analytics().logInternal("Ad WebView got URL request: %s for nav type: %d", text.c_str(), static_cast<int>(type));
    // The expanded page itself always loads; it is this controller's own request.
    if (pagePath_ && request.url().absoluteString() == platform::URL::fileURL(*pagePath_).absoluteString() &&
        !displayed_)
        return true;
    auto adView = slotView();
    if (!adView || !adView->delegate()) {
        // Without a slot delegate every navigation of the expanded page is refused, except
        // the page's own "dismissAd": it is the page's one way out, since such a page may have
        // no close control at all.
        if (equalsIgnoringCase(request.url().scheme(), VellumJSBridge::kURLScheme) &&
            equalsIgnoringCase(VellumJSBridge::methodFromBridgeURL(text), "dismissAd"))
            dismissAd();
        return false;
    }
    analytics().logDebug("Ad WebView got URL request and it shouldnt");
    auto ad = this->ad();
    return VellumJSBridge::sharedInstance()->webViewShouldStartLoad(webView, request, type, adView.get(),
                                                                    ad ? ad->path().value_or("") : "", this);
}

void MRModalAdViewController::webViewDidStartLoad(platform::WebView& webView) {
    if (auto adView = slotView(); adView && adView->delegate())
        VellumJSBridge::sharedInstance()->webViewDidStartLoad(webView);
}

void MRModalAdViewController::webViewDidFinishLoad(platform::WebView& webView) {
    if (auto adView = slotView(); adView && adView->delegate())
        VellumJSBridge::sharedInstance()->webViewDidFinishLoad(webView, this);
    if (displayed_ || collapsing_)
        return;
    displayed_ = true;
    view()->setHidden(false);
    displayAd();
    endIgnoring();
    raiseCloseButtons();
}

void MRModalAdViewController::webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) {
    analytics().logInternal("modal ad web view failed load with error: %s %s", error.localizedDescription.c_str(),
                            pagePath_.value_or("(null)").c_str());
    // An expanded page that never showed collapses the expansion.
    if (!displayed_ && !collapsing_ && error.code != -999)
        dismissAd();
}

void MRModalAdViewController::raiseCloseButtons() {
    if (!closeButton_)
        return;
    auto key = platform::Application::shared().keyWindow();
    if (!key)
        return;
    key->addSubview(closeButton_);
    key->bringSubviewToFront(closeButton_.get());
    key->addSubview(hiddenButton_);
    key->bringSubviewToFront(hiddenButton_.get());
}

// ---- Showing and collapsing ----
double MRModalAdViewController::closeOffset(const MRCachedAd& ad) const {
    if (!ad.displaysCloseButton)
        return 0;
    if (!ad.closeButtonLibID)
        return kNavigationBarHeight;
    auto db = VellumCachedCloseButtonDatabase::create();
    auto record = db ? db->closebuttonWithName(*ad.closeButtonLibID) : std::nullopt;
    if (!record)
        return 0;
    const int placement = record->verticalCornerPlacement;
    return placement == 0 || placement == 2 ? record->verticalCornerOffsetY + record->verticalHeight : 0;
}

void MRModalAdViewController::displayAd() {
    if (expandableType_ == 1) {
        displayAd1();
        return;
    }
    auto ad = this->ad();
    if (auto adView = slotView()) {
        adView->willExpand();
        expandAnnounced_ = true;
    }
    auto& app = platform::Application::shared();
    appStatusBarWasHidden_ = app.isStatusBarHidden();
    if (ad) {
        const double c = closeOffset(*ad);
        const auto screen = platform::Screen::main().bounds();
        const auto bar = app.statusBarFrame();
        const int orientation = statusBarOrientation();
        const bool hide = isLandscape(orientation) ? ad->expandedWidth + c > screen.width() - bar.width()
                                                   : ad->expandedHeight + c > screen.height() - bar.height();
        if (hide)
            app.setStatusBarHidden(true, true);
    }
    auto root = view();
    const auto target = root->frame();
    root->setFrame(platform::Rect(target.x(), target.y() + target.height(), target.width(), target.height()));
    platform::AnimationOptions options(kExpandAnimation, kSlideSeconds);
    options.curve = platform::AnimationCurve::EaseOut;
    std::weak_ptr<MRModalAdViewController> weak = self();
    beginIgnoring();
    platform::View::animate(
        options, [root, target] { root->setFrame(target); },
        [weak](const std::string& name, bool) {
            if (auto c = weak.lock())
                c->animationDidStop(name);
        });
}

void MRModalAdViewController::displayAd1() {
    auto ad = this->ad();
    if (auto adView = slotView()) {
        adView->willExpand();
        expandAnnounced_ = true;
    }
    auto& app = platform::Application::shared();
    appStatusBarWasHidden_ = app.isStatusBarHidden();
    if (ad) {
        const double c = ad->displaysCloseButton ? kNavigationBarHeight : 0;
        const auto screen = platform::Screen::main().bounds();
        const auto bar = app.statusBarFrame();
        const int orientation = statusBarOrientation();
        bool hide = false;
        if (orientation == 1 || (orientation == 2 && ad->expandableRelocation))
            hide = ad->expandedHeight + c > screen.height() - bar.height();
        else if (isLandscape(orientation) && ad->expandableRelocation)
            hide = ad->expandedWidth + c > screen.width() - bar.width();
        if (hide)
            app.setStatusBarHidden(true, platform::StatusBarAnimation::Fade);
    }
    beginIgnoring();
    animationDidStop(kExpandAnimation);
}

void MRModalAdViewController::animationDidStop(const std::string& animationID) {
    auto keep = self();
    if (animationID == kExpandAnimation) {
        if (auto adView = slotView())
            adView->didExpand();
        platform::Device::current().beginGeneratingDeviceOrientationNotifications();
        if (!orientationToken_.isValid())
            orientationToken_ = platform::NotificationCenter::defaultCenter().observe<MRModalAdViewController>(
                keep, platform::kDeviceOrientationDidChangeNotification,
                [](MRModalAdViewController& c, const platform::Notification&) { c.orientationDidChange(); });
    } else {
        finishCollapse();
    }
    endIgnoring();
}

void MRModalAdViewController::finishCollapse() {
    auto keep = self();
    if (isViewLoaded())
        view()->removeFromSuperview();
    if (webView_) {
        webView_->setDelegate({});
        webView_.reset();
    }
    auto controller = adVC_.lock();
    if (auto adView = slotView(); adView && expandAnnounced_)
        adView->didCollapse();
    expandAnnounced_ = false;
    if (controller) {
        if (controller->modalAdVC().get() == this)
            controller->setModalAdVC(nullptr);
        controller->monitorVisibility();
    }
    if (orientationToken_.isValid()) {
        platform::NotificationCenter::defaultCenter().removeObserver(orientationToken_);
        orientationToken_ = {};
        platform::Device::current().endGeneratingDeviceOrientationNotifications();
    }
    selfRetain_.reset();
}

void MRModalAdViewController::dismissAd() {
    if (collapsing_)
        return;
    collapsing_ = true;
    auto keep = self();
    beginIgnoring();
    if (auto adView = slotView(); adView && expandAnnounced_)
        adView->willCollapse();
    auto& app = platform::Application::shared();
    if (!appStatusBarWasHidden_ && app.isStatusBarHidden())
        app.setStatusBarHidden(false, platform::StatusBarAnimation::Fade);
    VellumJSBridge::sharedInstance()->setDelegate(oldBridgeDelegate_);
    if (auto controller = adVC_.lock())
        controller->setExpandedBridgeDelegate({});
    if (auto event = event_.lock())
        event->setNumber(platform::Value(platform::Clock::current().now()), MRAdCollapseKey);
    auto ad = this->ad();
    auto root = isViewLoaded() ? view() : nullptr;
    if (expandableType_ == 1 || !root || !displayed_) {
        // The floating kind, and a page that never showed, end at once.
        stopExpandableMovementTimer();
        finishCollapse();
        endIgnoring();
    } else {
        auto target = root->frame();
        if (!ad || ad->offsetExpandableCorner == 0)
            target = platform::Rect(target.x(), target.y() + target.height(), target.width(), target.height());
        platform::AnimationOptions options(kCollapseAnimation, kSlideSeconds);
        options.curve = platform::AnimationCurve::EaseIn;
        std::weak_ptr<MRModalAdViewController> weak = keep;
        // The collapse always ends, whether or not the slot has a delegate.
        platform::View::animate(
            options, [root, target] { root->setFrame(target); },
            [weak](const std::string& name, bool) {
                if (auto c = weak.lock())
                    c->animationDidStop(name);
            });
    }
    if (closeButton_)
        closeButton_->removeFromSuperview();
    if (hiddenButton_)
        hiddenButton_->removeFromSuperview();
    if (auto controller = adVC_.lock(); controller && controller->modalAdVC().get() == this)
        controller->setModalAdVC(nullptr);
}

void MRModalAdViewController::showClickThroughInMiniBrowser(const std::string& url) {
    platform::Application::shared().beginIgnoringInteractionEvents(); // the mini browser ends it
    auto event = event_.lock();
    if (event)
        event->setNumber(platform::Value(MRAdExitCode::kClickThrough), MRAdExitKey);
    auto ad = this->ad();
    auto controller = adVC_.lock();
    MREmbeddedBrowserController::sharedInstance()->showURL(url, ad ? ad->adID : std::nullopt, slotView(),
                                                           controller ? controller->event() : event);
}

void MRModalAdViewController::willDisplayEmbeddedBrowser() {
    if (auto event = event_.lock())
        event->stopRecordingViewDuration();
}

void MRModalAdViewController::willDismissEmbeddedBrowser() {
    if (auto event = event_.lock())
        event->startRecordingViewDuration();
}

void MRModalAdViewController::orientationDidChange() {
    if (webView_)
        VellumJSBridge::sharedInstance()->getOrientation(*webView_, angleFor(statusBarOrientation()));
}

// ---- Movement timer of the floating kind ----
void MRModalAdViewController::startExpandableMovementTimer() {
    auto& timer = movementTimer();
    if (timer && timer->isValid())
        return;
    timer = platform::Timer::create(kMovementInterval, true, [](platform::Timer&) { testExpandableMovement(); });
    platform::RunLoop::current().add(timer);
}

void MRModalAdViewController::stopExpandableMovementTimer() {
    auto& timer = movementTimer();
    if (timer && timer->isValid())
        timer->invalidate();
    timer.reset();
}

bool MRModalAdViewController::movementTimerRunning() {
    return movementTimer() && movementTimer()->isValid();
}

void MRModalAdViewController::testExpandableMovement() {
    // The ad view controllers with a floating expansion are reached through the bridge's
    // delegate, which the expanded controller is while it shows.
    auto delegate = std::dynamic_pointer_cast<MRModalAdViewController>(VellumJSBridge::sharedInstance()->delegate());
    if (!delegate)
        return;
    auto controller = delegate->adVC_.lock();
    if (!controller || !controller->isViewLoaded())
        return;
    auto super = controller->view()->superview();
    if (!super || super->frame().origin == controller->baseFrame().origin)
        return;
    if (delegate->expandableType_ == 1) {
        delegate->updatePositionExpandableType1();
        delegate->raiseCloseButtons();
    }
    controller->setBaseOrientation(statusBarOrientation());
    controller->setBaseFrame(super->frame());
}

// ---- Custom close button ----
namespace {

// The record's offsets and sizes, as floats.
struct CloseButtonMetrics {
    double VX, VY, VW, VH, HX, HY, HW, HH;
    explicit CloseButtonMetrics(const VellumCachedCloseButton& b)
        : VX(b.verticalCornerOffsetX), VY(b.verticalCornerOffsetY), VW(b.verticalWidth), VH(b.verticalHeight),
          HX(b.horizonalCornerOffsetX), HY(b.horizonalCornerOffsetY), HW(b.horizonalWidth), HH(b.horizonalHeight) {}
};

} // namespace

platform::Rect MRModalAdViewController::verticalPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& b,
                                                                               int corner, const platform::Rect& e) {
    const CloseButtonMetrics m(b);
    const double x = e.x(), y = e.y(), w = e.width(), h = e.height();
    switch (corner) {
    case 0: return {x + w + m.VX, y + m.VY, m.VW, m.VH};
    case 1: return {x + w + m.VX, y + h + m.VY, m.VW, m.VH};
    case 2: return {x + m.VX, y + m.VY, m.VW, m.VH};
    case 3: return {x + m.VX, y + h + m.VY, m.VW, m.VH};
    default: return {};
    }
}

platform::Rect MRModalAdViewController::upsideDownPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& b,
                                                                                 int corner, const platform::Rect& e) {
    const CloseButtonMetrics m(b);
    const double x = e.x(), y = e.y(), w = e.width(), h = e.height();
    switch (corner) {
    case 0: return {x + m.VX, y + h + m.VY, m.VW, m.VH};
    case 1: return {x + m.VX, y + m.VY, m.VW, m.VH};
    case 2: return {x + w + m.VX, y + h + m.VY, m.VW, m.VH};
    case 3: return {x + w + m.VX, y + m.VY, m.VW, m.VH};
    default: return {};
    }
}

platform::Rect MRModalAdViewController::horizonalLeftPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& b,
                                                                                    int corner,
                                                                                    const platform::Rect& e) {
    const CloseButtonMetrics m(b);
    const double x = e.x(), y = e.y(), w = e.width(), h = e.height();
    switch (corner) {
    case 0: return {x + w - m.HH - m.HY, y + h - m.HW - m.HX, m.HH, m.HW};
    case 1: return {x + w - m.HH + m.HY, y + m.HX, m.HH, m.HW};
    case 2: return {x + w + m.VX, y + m.VY, m.VW, m.VH};
    case 3: return {x + m.HY, y + m.HX, m.HH, m.HW};
    default: return {};
    }
}

platform::Rect MRModalAdViewController::horizonalRightPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& b,
                                                                                     int corner,
                                                                                     const platform::Rect& e) {
    const CloseButtonMetrics m(b);
    const double x = e.x(), y = e.y(), w = e.width(), h = e.height();
    switch (corner) {
    case 0: return {x - m.HH - m.HY, y + m.HX, m.HH, m.HW};
    case 1: return {x + m.VX, y + m.VY, m.VW, m.VH};
    case 2: return {x + m.HX, y + h - m.HH - m.HY, m.HW, m.HH};
    case 3: return {x + w - m.HW - m.HY, y + h - m.HH + m.HY, m.HW, m.HH};
    default: return {};
    }
}

platform::Rect MRModalAdViewController::closeButtonFrame(const VellumCachedCloseButton& b, int orientation,
                                                         const platform::Rect& e) {
    switch (orientation) {
    case 2: return upsideDownPlaceCustomCloseButtonInCorner(b, b.verticalCornerPlacement, e);
    case 3: return horizonalLeftPlaceCustomCloseButtonInCorner(b, b.horizonalCornerPlacement, e);
    case 4: return horizonalRightPlaceCustomCloseButtonInCorner(b, b.horizonalCornerPlacement, e);
    default: return verticalPlaceCustomCloseButtonInCorner(b, b.verticalCornerPlacement, e);
    }
}

void MRModalAdViewController::placeCustomCloseButtonInView(platform::View& view, const std::string& name, bool,
                                                           const platform::Rect& expandedFrame) {
    auto db = VellumCachedCloseButtonDatabase::create();
    auto record = db ? db->closebuttonWithName(name) : std::nullopt;
    if (closeButton_)
        closeButton_->removeFromSuperview();
    if (hiddenButton_)
        hiddenButton_->removeFromSuperview();
    closeButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
    hiddenButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
    closeButton_->setAdjustsImageWhenHighlighted(false);
    hiddenButton_->setAccessibilityLabel("Close");
    hiddenButton_->addTarget(self(), &MRModalAdViewController::dismissAdFromButton, platform::ControlEvent::TouchDown);
    if (record) {
        const auto folder = closeButtonFolder(name);
        if (auto image = folder ? closeButtonImage(*folder, record->verticalImageName) : nullptr)
            closeButton_->setImage(image);
        if (record->verticalHitImageName != record->verticalImageName)
            if (auto image = folder ? closeButtonImage(*folder, record->verticalHitImageName) : nullptr)
                closeButton_->setImage(image, platform::ControlState::Selected);
        const auto frame = closeButtonFrame(*record, statusBarOrientation(), expandedFrame);
        closeButton_->setFrame(frame);
        hiddenButton_->setFrame(platform::Rect(frame.x() + record->verticalHitX1, frame.y() + record->verticalHitY1,
                                               record->verticalHitX2 - record->verticalHitX1,
                                               record->verticalHitY2 - record->verticalHitY1));
    }
    view.addSubview(closeButton_);
    view.addSubview(hiddenButton_);
}

} // namespace vellum
