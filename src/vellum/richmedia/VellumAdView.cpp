// VellumAdView: populating and loading a slot, the banner and interstitial pages, the
// full-screen count with its delegate relay, the URL macros and the built-in close button.
#include "vellum/richmedia/VellumAdView.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/FileManager.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/VellumClipShapes.h"
#include "vellum/richmedia/VellumResourceExpander.h"
#include "vellum/richmedia/VellumCachedCloseButton.h"
#include "vellum/richmedia/VellumAdViewController.h"
#include "vellum/richmedia/VellumJSBridge.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace vellum {
namespace {

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

std::shared_ptr<platform::View>& interstitialPage() {
    static std::shared_ptr<platform::View> page;
    return page;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty())
        return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

constexpr const char* kMacroPrefix = "$$_";
constexpr const char* kMacroSuffix = "_$$";
constexpr int kTabletLongSide = 1024;
constexpr int kTabletShortSide = 768;
constexpr int kLandscapeRight = 4;
constexpr int kUpsideDown = 2;

bool isTabletFullScreenAd(const MRCachedAd& ad) {
    return (ad.width == kTabletLongSide && ad.height == kTabletShortSide) ||
           (ad.width == kTabletShortSide && ad.height == kTabletLongSide);
}

int statusBarOrientation() {
    return static_cast<int>(platform::Application::shared().statusBarOrientation());
}

// One row of the container transforms: rotation in quarter turns, then the translation.
struct ContainerTransform {
    double quarterTurns;
    double tx, ty;
};
constexpr ContainerTransform kLandscapeNotEqual{1, -80, 80};
constexpr ContainerTransform kLandscapeEqual{1, 80, 80};
constexpr ContainerTransform kLandscapeEqualRight{3, -80, -80};
constexpr ContainerTransform kTabletWideEqualRight{3, -128, -128};
constexpr ContainerTransform kTabletWide{1, 128, 128};
constexpr ContainerTransform kTabletTallUpsideDown{2, 0, 0};
constexpr ContainerTransform kTabletTall{0, 0, 0};

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

} // namespace

VellumAdView::VellumAdView(const platform::Rect& frame) : platform::View(frame) {
    setAutoresizesSubviews(true);
    setUserInteractionEnabled(true);
    setBackgroundColor(platform::Color::clearColor());
    setOpaque(false);
}

VellumAdView::~VellumAdView() {
    if (watchToken_.isValid())
        platform::NotificationCenter::defaultCenter().removeObserver(watchToken_);
    if (adVC_)
        adVC_->unloadAdViewController();
}

std::shared_ptr<VellumAdView> VellumAdView::self() {
    return std::static_pointer_cast<VellumAdView>(sharedView());
}

std::shared_ptr<platform::View> VellumAdView::interstitialPageView() {
    return interstitialPage();
}

void VellumAdView::resetForTesting() {
    if (auto page = std::move(interstitialPage()))
        page->removeFromSuperview();
}

void VellumAdView::setAdSlotType(int type) {
    if (adSlotType_ != 0 || type == 0)
        return;
    adSlotType_ = type;
    const auto size = VellumAdServer::frameSizeForSlotType(type);
    // Through the slot view's own frame handling, so the controller's view and its touch
    // rectangle follow.
    if ((size.width != 0 || size.height != 0) && size != frame().size)
        setFrame(platform::Rect(frame().origin, size));
}

void VellumAdView::setAdVC(std::shared_ptr<VellumAdViewController> controller) {
    if (controller == adVC_)
        return;
    if (auto old = std::move(adVC_)) {
        old->setAdView(nullptr);
        old->unloadAdViewController();
        old->stopMonitoringVisibility();
    }
    adVC_ = std::move(controller);
    if (adVC_) {
        adVC_->setAdView(self());
        if (adVC_->ad())
            adVC_->loadAdViewController();
    }
}

void VellumAdView::setFrame(const platform::Rect& frame) {
    const auto old = bounds();
    platform::View::setFrame(frame);
    if (adVC_ && adVC_->isViewLoaded()) {
        adVC_->view()->setFrame(platform::Rect({0, 0}, frame.size));
        adVC_->touchCaptureTrackingRectChangedFrom(old);
    }
}

void VellumAdView::drawRect(const platform::Rect& rect) {
    if (!analytics().isUnavailableWithErrorMessage(kDrawMessage) && adVC_) {
        if (auto ad = adVC_->ad()) {
            clipContextForClipType(*this, ad->clipType);
            if (adVC_->isViewLoaded())
                adVC_->view()->drawRect(rect);
        }
    }
    platform::View::drawRect(rect);
}

// ---- Populating and loading ----
bool VellumAdView::populateWithadID(platform::View& webView, const std::string& adID) {
    return populateWithadID1(webView, adID, std::nullopt);
}

bool VellumAdView::populateWithadID1(platform::View& webView, const std::string& adID,
                                     const std::optional<platform::Dictionary>& pairs) {
    if (analytics().isUnavailableWithErrorMessage(kPrepareMessage))
        return false;
    auto server = VellumAdServer::create();
    if (!server || !server->adDB())
        return false;
    auto slot = server->adDB()->slotWithWebView(VellumAdServer::webViewDescription(&webView));
    auto ad = server->adDB()->adWithID(adID);
    // The ad must fit the host web view as it is now.
    const auto hostSize = webView.frame().size;
    if (!slot || !ad || static_cast<float>(ad->width) != static_cast<float>(hostSize.width) ||
        static_cast<float>(ad->height) != static_cast<float>(hostSize.height))
        return false;
    adSlotKey_ = slot->adSlotID;
    adSlotKeywords_ = slot->slotTargetKeywords;
    adBlockKeywords_ = slot->blockList;
    setAdSlotType(slot->adSlotType);
    adKeyValuePairs_ = prepareKeyValuePairs(pairs);
    analytics().logDebugOrInternal("adSlot retrieved:%s %d %s", slot->currentWebView.c_str(), slot->adSlotType,
                                   slot->adSlotID.value_or("(null)").c_str());
    analytics().logDebugOrInternal("adSlot retrieved:%s", adSlotKey_.value_or("(null)").c_str());
    if (!server->adFitsSlot(*slot, adID))
        return false;
    const bool result = prepareWithadIDInternal(adID);
    if (result)
        displayWebViewAd(webView);
    return result;
}

void VellumAdView::unloadPresentController() {
    if (!adIsCurrentlyLoaded_ || !adVC_)
        return;
    analytics().logDebug("loading a new ad for a slot with an existing ad");
    adVC_->viewDidDisappear(false);
    adVC_->unloadAdViewController();
}

bool VellumAdView::installAd(const std::shared_ptr<MRCachedAd>& ad, double started) {
    auto server = VellumAdServer::create();
    if (!ad || !server)
        return false;
    if (adVC_)
        adVC_->unloadAdViewController();
    auto base = server->adViewControllerForAd(*ad);
    auto controller = std::dynamic_pointer_cast<VellumAdViewController>(base);
    if (!controller)
        return false;
    controller->setAd(ad);
    setAdVC(controller);
    ad->recordSelection();
    adIsCurrentlyLoaded_ = true;
    analytics().logDebug("Ad %s took this much time to load %f", ad->adID.value_or("").c_str(),
                         platform::Clock::current().now() - started);
    return true;
}

bool VellumAdView::prepareWithadIDInternal(const std::string& adID) {
    const double started = platform::Clock::current().now();
    auto server = VellumAdServer::create();
    if (!server)
        return false;
    unloadPresentController();
    analytics().logDebugOrInternal("adSlot retrieved:%s", adSlotKey_.value_or("(null)").c_str());
    auto ad = server->nextAdForAdViewWithIDWithoutSlot(*this, adID);
    adSlotType_ = ad ? ad->adSlotType : 0;
    if (installAd(ad, started))
        return true;
    watchForAd();
    return false;
}

bool VellumAdView::loadAdWithID(const std::optional<std::string>& adID, const std::optional<std::string>& parentID) {
    const double started = platform::Clock::current().now();
    auto server = VellumAdServer::create();
    if (!server)
        return false;
    std::shared_ptr<MRCachedAd> ad;
    if (adID) {
        if (analytics().isUnavailableWithErrorMessage(kPrepareMessage))
            return false;
        ad = server->adDB() ? server->adDB()->adWithID(*adID) : nullptr;
    } else {
        unloadPresentController();
        ad = server->nextAdForAdView(*this);
    }
    const bool ok = installAd(ad, started);
    if (parentID && adVC_ && adVC_->event())
        adVC_->event()->setString(*parentID, MRAdParentAdID);
    if (!ok)
        watchForAd();
    return ok;
}

bool VellumAdView::loadAdIfNeeded() {
    if (adVC_ && adVC_->ad())
        return true;
    const bool result = loadAd();
    return result;
}

void VellumAdView::watchForAd() {
    auto& center = platform::NotificationCenter::defaultCenter();
    if (watchToken_.isValid())
        center.removeObserver(watchToken_);
    // Only a view without a controller is woken: the notification's sender is the new ad.
    const void* filter = adVC_ ? static_cast<const void*>(adVC_.get()) : nullptr;
    watchToken_ = center.observe<VellumAdView>(
        self(), kNewAdDidDownloadNotification, [](VellumAdView& view, const platform::Notification&) {
            view.newAdDidDownload();
        },
        filter);
}

void VellumAdView::newAdDidDownload() {
    if (!nextQualifiedAd())
        return;
    platform::NotificationCenter::defaultCenter().removeObserver(watchToken_);
    watchToken_ = {};
    auto delegate = delegate_.lock();
    if (!delegate || !delegate->adViewDidBecomeAvailable(*this))
        loadAdIfNeeded();
}

std::shared_ptr<MRCachedAd> VellumAdView::nextQualifiedAd() {
    auto server = VellumAdServer::create();
    if (!server)
        return nullptr;
    auto ad = server->nextAdForAdView(*this);
    return ad && server->adViewControllerForAd(*ad) ? ad : nullptr;
}

// ---- Display ----
int VellumAdView::shownSlotType() const {
    if (adSlotType_ != 0)
        return adSlotType_;
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    return ad ? ad->adSlotType : 0;
}

platform::Size VellumAdView::adDisplaySize() const {
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    if (!ad)
        return frame().size;
    if (ad->adSlotType == 0)
        return {static_cast<double>(ad->width), static_cast<double>(ad->height)};
    return VellumAdServer::frameSizeForSlotType(ad->adSlotType);
}

platform::Size VellumAdView::contentViewSizeForCurrentOrientation() {
    const auto screen = platform::Screen::main().bounds().size;
    const double small = std::min(screen.width, screen.height), large = std::max(screen.width, screen.height);
    const int orientation = statusBarOrientation();
    return orientation == 1 || orientation == 2 ? platform::Size{small, large} : platform::Size{large, small};
}

void VellumAdView::applyContainerTransform(platform::View& container, const MRCachedAd& ad, bool interstitial) {
    const bool equal = frame().width() == contentViewSizeForCurrentOrientation().width;
    const bool right = statusBarOrientation() == kLandscapeRight;
    const ContainerTransform* row = nullptr;
    if (shownSlotType() == kLandscapeInterstitial)
        row = !equal ? &kLandscapeNotEqual : right ? &kLandscapeEqualRight : &kLandscapeEqual;
    else if (interstitial && ad.width == kTabletLongSide && isTabletFullScreenAd(ad))
        row = equal && right ? &kTabletWideEqualRight : &kTabletWide;
    else if (interstitial && isTabletFullScreenAd(ad))
        row = statusBarOrientation() == kUpsideDown ? &kTabletTallUpsideDown : &kTabletTall;
    if (!row)
        return;
    container.setTransform(platform::AffineTransform::makeRotation(row->quarterTurns * std::numbers::pi / 2)
                               .translated(row->tx, row->ty));
}

void VellumAdView::displayWebViewAd(platform::View& host) {
    if (analytics().isUnavailableWithErrorMessage(kDisplayMessage))
        return;
    auto keep = self();
    const auto size = adDisplaySize();
    setFrame(platform::Rect({0, 0}, size));
    loadAdIfNeeded();
    removeFromSuperview();
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    auto page = std::make_shared<platform::View>(host.frame());
    page->setBackgroundColor(ad && ad->transparentBackground ? platform::Color::clearColor()
                                                              : platform::Color::blackColor());
    page->setOpaque(false);
    auto container = std::make_shared<platform::View>(platform::Rect({0, 0}, size));
    container->setBackgroundColor(platform::Color::clearColor());
    container->setOpaque(false);
    page->addSubview(container);
    container->addSubview(keep);
    if (auto old = webPageView_.lock())
        old->removeFromSuperview();
    webPageView_ = page;
    if (ad && shownSlotType() == kLandscapeInterstitial)
        applyContainerTransform(*container, *ad, false);
    host.addSubview(page);
    page->setFrame(platform::Rect({0, 0}, page->frame().size));
    page->setAlpha(1);
    if (ad && ad->displaysCloseButton)
        placeCloseButtons(*page, *ad, false);
}

void VellumAdView::placeCloseButtons(platform::View& page, const MRCachedAd& ad, bool tablet) {
    const bool rotated = statusBarOrientation() == kLandscapeRight;
    // A custom button that is not cached leaves the built-in one, so the ad can be closed.
    if (tablet || !ad.closeButtonLibID || !placeCustomCloseButtonInView(page, *ad.closeButtonLibID, rotated))
        placeCloseButtonInView(page);
}

void VellumAdView::displayInterstitial() {
    if (analytics().isUnavailableWithErrorMessage(kDisplayMessage))
        return;
    auto keep = self();
    loadAdIfNeeded();
    auto& app = platform::Application::shared();
    if (adSlotType_ == kLandscapeMovie) {
        willDisplayInterstitialAd();
        appStatusBarHidden_ = app.isStatusBarHidden();
        if (!appStatusBarHidden_)
            app.setStatusBarHidden(true, platform::StatusBarAnimation::None);
        if (adVC_)
            adVC_->playMovie();
        didDisplayInterstitialAd();
        return;
    }
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    const int type = ad ? shownSlotType() : adSlotType_;
    const bool tablet = ad && isTabletFullScreenAd(*ad);
    if ((type != kPortraitInterstitial && type != kLandscapeInterstitial && !tablet) || !ad) {
        analytics().logDebugOrInternal("error: -displayInterstitial called on a non-interstitial ad");
        return;
    }
    if (interstitialPage())
        return; // the process shows one interstitial at a time
    const auto size = adDisplaySize();
    setFrame(platform::Rect({0, 0}, size));
    loadAdIfNeeded();
    removeFromSuperview();
    appStatusBarHidden_ = app.isStatusBarHidden();
    if (!appStatusBarHidden_)
        app.setStatusBarHidden(true, platform::StatusBarAnimation::Fade);
    auto page = std::make_shared<platform::View>(platform::Screen::main().bounds());
    page->setBackgroundColor(ad->transparentBackground ? platform::Color::clearColor()
                                                       : platform::Color{0, 0, 0, kInterstitialBackdropAlpha});
    page->setOpaque(false);
    auto container = std::make_shared<platform::View>(
        platform::Rect({0, 0}, tablet ? bounds().size : contentViewSizeForCurrentOrientation()));
    container->setBackgroundColor(platform::Color::clearColor());
    container->setOpaque(false);
    page->addSubview(container);
    container->addSubview(keep);
    interstitialPage() = page;
    if (type == kLandscapeInterstitial || tablet)
        applyContainerTransform(*container, *ad, true);
    page->setAlpha(0);
    if (auto window = app.keyWindow())
        window->addSubview(page);
    willDisplayInterstitialAd();
    std::weak_ptr<VellumAdView> weak = keep;
    platform::AnimationOptions options("displayInterstitial", kInterstitialAnimationSeconds);
    options.curve = platform::AnimationCurve::EaseOut;
    platform::View::animate(
        options,
        [page] {
            page->setFrame(platform::Rect({0, 0}, page->frame().size));
            page->setAlpha(1);
        },
        [weak](const std::string&, bool) {
            if (auto strong = weak.lock())
                strong->didDisplayInterstitialAd();
        });
    if (ad->displaysCloseButton)
        placeCloseButtons(*page, *ad, tablet);
}

MRAdNetworkPromoSlider& VellumAdView::slider(const platform::Rect& frame) {
    if (!promoSlider_) {
        promoSlider_ = MRAdNetworkPromoSlider::create(frame);
        promoSlider_->setDelegate(std::weak_ptr<MRAdNetworkPromoSliderDelegate>(self()));
    }
    return *promoSlider_;
}

void VellumAdView::dismissInterstitial() {
    auto keep = self();
    auto& promo = slider(bounds());
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    if (auto page = interstitialPage())
        promo.addToView(*page, ad ? ad->clipType : 0);
    promo.setUserInfo(std::nullopt);
    promo.displayPromoAnimated(true);
    auto bridge = VellumJSBridge::sharedInstance();
    bridge->adDismissed(adVC_ ? adVC_->webView().get() : nullptr);
    bridge->setDelegate({});
}

void VellumAdView::promoDidDisplay(MRAdNetworkPromoSlider& promo) {
    auto keep = self();
    // The controller that asked for the click-through, held across the dismissal.
    auto controller = adVC_;
    if (interstitialPage())
        dismissInterstitialAnimated(true);
    const auto& info = promo.userInfo();
    if (!info || !controller)
        return;
    auto url = info->find(kClickThroughURLStringKey);
    if (url != info->end() && url->second.string())
        controller->showClickThroughInMiniBrowser(*url->second.string());
}

void VellumAdView::dismissInterstitialAnimated(bool animated) {
    auto page = interstitialPage();
    if (!page)
        return;
    auto keep = self();
    willDismissInterstitialAd();
    if (!appStatusBarHidden_)
        platform::Application::shared().setStatusBarHidden(false, platform::StatusBarAnimation::None);
    if (!animated) {
        page->removeFromSuperview();
        removeFromSuperview();
        interstitialPage().reset();
        didDismissInterstitialAd();
        return;
    }
    std::weak_ptr<VellumAdView> weak = keep;
    const auto f = page->frame();
    platform::Rect to;
    switch (statusBarOrientation()) {
    case kLandscapeRight: to = platform::Rect(f.x(), f.y() - f.height(), f.width(), f.height()); break;
    case 3: to = platform::Rect(f.x(), f.y() + f.height(), f.width(), f.height()); break;
    default: to = platform::Rect(f.x() + f.width(), f.y(), f.width(), f.height()); break;
    }
    platform::AnimationOptions options("dismissInterstitial", kInterstitialAnimationSeconds);
    options.curve = platform::AnimationCurve::EaseOut;
    platform::View::animate(
        options,
        [page, to] {
            page->setFrame(to);
            page->setAlpha(0);
        },
        [weak, page](const std::string&, bool) {
            page->removeFromSuperview();
            if (interstitialPage() == page)
                interstitialPage().reset();
            if (auto strong = weak.lock())
                strong->endInterstitial();
        });
}

void VellumAdView::endInterstitial() {
    auto keep = self();
    removeFromSuperview();
    setAdVC(nullptr);
    didDismissInterstitialAd();
}

void VellumAdView::dismissWebViewAd() {
    auto keep = self();
    if (adVC_ && adVC_->event())
        adVC_->event()->stopRecordingViewDuration();
    if (auto page = webPageView_.lock())
        page->removeFromSuperview();
    webPageView_.reset();
    removeFromSuperview();
    setAdVC(nullptr);
}

void VellumAdView::placeCloseButtonInView(platform::View& view) {
    auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
    auto image = VellumResourceExpander().imageForKey(kCloseButtonImageName);
    const double w = image ? image->size().width : 0;
    const double h = image ? image->size().height : 0;
    if (image)
        button->setImage(image);
    const auto frame = view.frame();
    if (shownSlotType() == kLandscapeInterstitial) {
        button->setFrame(platform::Rect(0, frame.height() - h, w, h));
        button->setTransform(platform::AffineTransform::makeRotation(std::numbers::pi / 2));
    } else {
        button->setFrame(platform::Rect(frame.width() - w, frame.height() - h, w, h));
    }
    button->setAccessibilityLabel("Close");
    button->addTarget(self(), &VellumAdView::dismissInterstitial, platform::ControlEvent::TouchUpInside);
    button->setAdjustsImageWhenHighlighted(true);
    view.addSubview(button);
    view.bringSubviewToFront(button.get());
}

namespace {

// Corner rectangles of a custom button: screen size (W, H), button size (w, h), corner offsets
// (ox, oy).
struct Corner {
    double W, H, w, h, ox, oy;
};
using CornerRect = platform::Rect (*)(const Corner&);
constexpr CornerRect kVerticalCorners[] = {
    [](const Corner& c) { return platform::Rect(c.W + c.ox, c.oy, c.ox + c.w, c.oy + c.h); },
    [](const Corner& c) { return platform::Rect(c.W - c.w + c.ox, c.H - c.h + c.oy, c.ox + c.w, c.oy + c.h); },
    [](const Corner& c) { return platform::Rect(c.ox, c.oy, c.ox + c.w, c.oy + c.h); },
    [](const Corner& c) { return platform::Rect(c.ox, c.H + c.oy, c.ox + c.w, c.oy + c.h); },
};
constexpr CornerRect kHorizontalRightCorners[] = {
    [](const Corner& c) { return platform::Rect(c.W - c.w + c.ox, c.H - c.h + c.oy, c.ox + c.w, c.oy + c.h); },
    [](const Corner& c) { return platform::Rect(c.ox, c.H - c.h + c.oy, c.ox + c.w, c.oy + c.h); },
    [](const Corner& c) { return platform::Rect(c.W - c.h + c.oy, c.ox, c.oy + c.h, c.ox + c.w); },
    [](const Corner& c) { return platform::Rect(c.ox, c.oy, c.ox + c.w, c.oy + c.h); },
};
constexpr CornerRect kHorizontalLeftCorners[] = {
    [](const Corner& c) { return platform::Rect(c.oy, c.ox, c.oy + c.h, c.ox + c.w); },
    [](const Corner& c) { return platform::Rect(c.W - c.h + c.oy, c.ox, c.oy + c.h, c.ox + c.w); },
    [](const Corner& c) { return platform::Rect(c.oy, c.H - c.w + c.ox, c.oy + c.h, c.ox + c.w); },
    [](const Corner& c) { return platform::Rect(c.W - c.h + c.oy, c.H - c.w + c.ox, c.oy + c.h, c.ox + c.w); },
};
// Rotation of both landscape buttons by placement, in degrees.
constexpr double kHorizontalAngles[] = {0, 90, 90, 180};
constexpr double kHorizontalRotatedAngles[] = {180, 270, 270, 0};
constexpr int kPlacementCount = 4;


} // namespace

bool VellumAdView::placeCustomCloseButtonInView(platform::View& view, const std::string& name, bool rotated) {
    auto db = VellumCachedCloseButtonDatabase::create();
    auto record = db ? db->closebuttonWithName(name) : std::nullopt;
    auto component = platform::FileManager::safePathComponent(name);
    const int slotType = shownSlotType();
    if (!record || !component || (slotType != kPortraitInterstitial && slotType != kLandscapeInterstitial))
        return false;
    const auto& b = *record;
    const bool vertical = slotType == kPortraitInterstitial;
    const int placement = vertical ? b.verticalCornerPlacement : b.horizonalCornerPlacement;
    if (placement < 0 || placement >= kPlacementCount)
        return false;
    const std::string folder = *closeButtonFolder(name);
    const auto screen = platform::Screen::main().bounds().size;
    auto image = platform::Button::buttonWithType(platform::ButtonType::Custom);
    auto hit = platform::Button::buttonWithType(platform::ButtonType::Custom);
    const auto& imageName = vertical ? b.verticalImageName : b.horizonalImageName;
    const auto& hitName = vertical ? b.verticalHitImageName : b.horizonalHitImageName;
    if (auto normal = closeButtonImage(folder, imageName))
        image->setImage(normal);
    if (hitName && hitName != imageName)
        if (auto selected = closeButtonImage(folder, hitName))
            image->setImage(selected, platform::ControlState::Selected);
    platform::Rect frame, hitFrame;
    if (vertical) {
        const Corner c{screen.width, screen.height, double(b.verticalWidth), double(b.verticalHeight),
                       double(b.verticalCornerOffsetX), double(b.verticalCornerOffsetY)};
        frame = kVerticalCorners[placement](c);
        hitFrame = platform::Rect(frame.x() + b.verticalHitX1, frame.y() + b.verticalHitY1,
                                  b.verticalHitX2 - b.verticalHitX1, b.verticalHitY2 - b.verticalHitY1);
    } else {
        const Corner c{screen.width, screen.height, double(b.horizonalWidth), double(b.horizonalHeight),
                       double(b.horizonalCornerOffsetX), double(b.horizonalCornerOffsetY)};
        frame = rotated ? kHorizontalLeftCorners[placement](c) : kHorizontalRightCorners[placement](c);
        // The hit rectangle is given in the unrotated button; it turns with the button.
        hitFrame = platform::Rect(frame.x() + b.horizonalHitY1, frame.y() + b.horizonalHitX1,
                                  b.horizonalHitY2 - b.horizonalHitY1, b.horizonalHitX2 - b.horizonalHitX1);
        const double degrees = rotated ? kHorizontalRotatedAngles[placement] : kHorizontalAngles[placement];
        const auto turn = platform::AffineTransform::makeRotation(degrees * std::numbers::pi / 180);
        image->setTransform(turn);
        hit->setTransform(turn);
    }
    image->setFrame(frame);
    hit->setFrame(hitFrame);
    hit->addTarget(self(), &VellumAdView::dismissInterstitial, platform::ControlEvent::TouchDown);
    image->setAdjustsImageWhenHighlighted(false);
    view.addSubview(image);
    view.bringSubviewToFront(image.get());
    view.addSubview(hit);
    view.bringSubviewToFront(hit.get());
    return true;
}

// ---- Full-screen count and relay ----
void VellumAdView::willAddBlocker() {
    if (++blockers_ == 1)
        if (auto d = delegate())
            d->adViewWillStartFullScreen(*this);
}
void VellumAdView::didAddBlocker() {
    if (blockers_ == 1)
        if (auto d = delegate())
            d->adViewDidStartFullScreen(*this);
}
void VellumAdView::willRemoveBlocker() {
    if (blockers_ == 1)
        if (auto d = delegate())
            d->adViewWillEndFullScreen(*this);
}
void VellumAdView::didRemoveBlocker() {
    if (blockers_ == 0)
        return; // every raise has had its fall
    if (--blockers_ == 0)
        if (auto d = delegate())
            d->adViewDidEndFullScreen(*this);
}

#define VELLUM_RELAY(method, delegateMethod, step)                                                                  \
    void VellumAdView::method() {                                                                                  \
        auto keep = self();                                                                                        \
        if (auto d = delegate())                                                                                   \
            d->delegateMethod(*this);                                                                              \
        step();                                                                                                    \
    }
VELLUM_RELAY(willExpand, adViewWillExpand, willAddBlocker)
VELLUM_RELAY(didExpand, adViewDidExpand, didAddBlocker)
VELLUM_RELAY(willCollapse, adViewWillCollapse, willRemoveBlocker)
VELLUM_RELAY(didCollapse, adViewDidCollapse, didRemoveBlocker)
VELLUM_RELAY(willDisplayEmbeddedBrowser, adViewWillDisplayEmbeddedBrowser, willAddBlocker)
VELLUM_RELAY(didDisplayEmbeddedBrowser, adViewDidDisplayEmbeddedBrowser, didAddBlocker)
VELLUM_RELAY(willDismissEmbeddedBrowser, adViewWillDismissEmbeddedBrowser, willRemoveBlocker)
VELLUM_RELAY(didDismissEmbeddedBrowser, adViewDidDismissEmbeddedBrowser, didRemoveBlocker)
VELLUM_RELAY(willDisplayInterstitialAd, adViewWillDisplayInterstitial, willAddBlocker)
VELLUM_RELAY(didDisplayInterstitialAd, adViewDidDisplayInterstitial, didAddBlocker)
VELLUM_RELAY(willDismissInterstitialAd, adViewWillDismissInterstitial, willRemoveBlocker)
VELLUM_RELAY(didDismissInterstitialAd, adViewDidDismissInterstitial, didRemoveBlocker)
#undef VELLUM_RELAY

// Sound is not a full-screen element: it is relayed without moving the count.
void VellumAdView::didStartAudioInAd() {
    if (auto d = delegate())
        d->adViewDidStartPlayingAudio(*this);
}
void VellumAdView::didFinishAudioInAd() {
    if (auto d = delegate())
        d->adViewDidFinishPlayingAudio(*this);
}

bool VellumAdView::adVCClickedThroughTo(const std::string& url) {
    auto keep = self();
    auto& promo = slider(platform::Rect(0, 0, frame().width(), frame().height()));
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    if (adVC_)
        promo.addToView(*adVC_->view(), ad ? ad->clipType : 0);
    promo.setUserInfo(platform::Dictionary{{kClickThroughURLStringKey, url}});
    // The slider's promoDidDisplay ends any interstitial first, then opens the mini browser.
    promo.displayPromoAnimated(true);
    return false;
}

bool VellumAdView::willStartLoadWithRequest(platform::WebView&, const platform::URLRequest& request,
                                            platform::WebViewNavigationType type, const std::string& basePath) {
    auto d = delegate();
    if (!d)
        return true;
    auto answer = d->adViewCustomInteractionInterrogator(*this, request, request.url().host().value_or(""),
                                                        request.url().scheme(), static_cast<unsigned>(type),
                                                        basePath);
    return answer.value_or(true);
}

void VellumAdView::adViewDismissEmbeddedBrowser() {
    if (adVC_)
        adVC_->dismissEmbeddedBrowser();
}

std::optional<platform::Dictionary> VellumAdView::prepareKeyValuePairs(const std::optional<platform::Dictionary>& pairs) {
    if (!pairs)
        return std::nullopt;
    platform::Dictionary out;
    const std::string prefix = kMacroPrefix, suffix = kMacroSuffix;
    for (const auto& [key, value] : *pairs) {
        const bool starts = key.starts_with(prefix), ends = key.ends_with(suffix);
        std::string macro = key;
        if (!starts)
            macro = prefix + macro;
        if (!ends)
            macro += suffix;
        out[macro] = value;
    }
    return out;
}

std::string VellumAdView::updateURLWithKeyValuePairs(const std::string& text) const {
    std::string out = text;
    if (adKeyValuePairs_)
        for (const auto& [key, value] : *adKeyValuePairs_) {
            if (auto s = value.string())
                replaceAll(out, key, *s);
            else if (auto n = value.number()) {
                char buffer[64];
                // Whole numbers within range print as integers; anything else (huge, NaN) as %g.
                const auto whole = platform::saturatingCast<long long>(*n);
                if (*n == static_cast<double>(whole) && std::abs(*n) < 9.0e18)
                    std::snprintf(buffer, sizeof buffer, "%lld", whole);
                else
                    std::snprintf(buffer, sizeof buffer, "%g", *n);
                replaceAll(out, key, buffer);
            }
        }
    const auto slot = adSlotKey_.value_or("");
    if (!slot.empty() && slot.size() <= kMaxSlotNameLength) {
        analytics().logDebug("Ad SlotName - %s ", slot.c_str());
        replaceAll(out, "$$_SLOTNAME_$$", slot);
    } else {
        analytics().logDebug("Invalid Ad SlotName");
    }
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    if (ad)
        replaceAll(out, "$$_ADID_$$", ad->adID.value_or(""));
    replaceAll(out, "$$_DEVICEID_$$", analytics().md5DeviceID());
    replaceAll(out, "$$_SDKVER_$$", VellumAnalyticsManager::version());
    if (ad) {
        replaceAll(out, "$$_ADHEIGHT_$$", std::to_string(ad->height));
        replaceAll(out, "$$_ADWIDTH_$$", std::to_string(ad->width));
        replaceAll(out, "$$_RANDOM_$$", std::to_string(ad->randomValue));
    }
    std::string agent = ad ? ad->userAgent.value_or("") : "";
    if (agent.empty())
        if (auto server = VellumAdServer::existing())
            agent = server->userAgent;
    replaceAll(out, "$$_USERAGENT_$$", agent);
    const auto& location = analytics().currentLocation();
    replaceAll(out, "$$_LAT_$$", formatted("%f", location ? location->coordinate().latitude : 0.0));
    replaceAll(out, "$$_LON_$$", formatted("%f", location ? location->coordinate().longitude : 0.0));
    replaceAll(out, "$$_OSVER_$$", platform::Device::current().systemVersion());
    const auto screen = platform::Screen::main().bounds().size;
    const std::string resolution =
        std::to_string(static_cast<int>(screen.width)) + "x" + std::to_string(static_cast<int>(screen.height));
    replaceAll(out, "$$_SCREENRES_$$", resolution);
    replaceAll(out, "$$_APPRES_$$", resolution);
    replaceAll(out, "$$_APPVER_$$", analytics().appVersion().value_or(""));
    replaceAll(out, "$$_APPID_$$", analytics().appIdentifier().value_or(""));
    return out;
}

std::optional<std::filesystem::path> writePageWithMacros(const std::filesystem::path& page, const std::string& folder,
                                                         const VellumAdView* adView, const char* logPrefix) {
    if (folder.empty())
        return std::nullopt;
    const auto relative = page.lexically_normal().lexically_relative(std::filesystem::path(folder).lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    auto inside = platform::FileManager::pathInside(folder, relative.string());
    if (!inside)
        return std::nullopt;
    auto bytes = platform::FileManager::contentsAtPath(*inside);
    if (!bytes)
        return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    if (adView)
        text = adView->updateURLWithKeyValuePairs(text);
    if (logPrefix)
        analytics().logDebug("%s%s", logPrefix, text.c_str());
    auto rewritten = *inside;
    rewritten.replace_extension("temp.html");
    if (!platform::FileManager::writeAtomically(rewritten, text))
        return std::nullopt;
    return rewritten;
}

} // namespace vellum
