// VellumAdView: populating and loading a slot, the banner and interstitial pages, the
// full-screen count with its delegate relay, the URL macros and the built-in close button.
#include "vellum/richmedia/VellumAdView.h"

#include <cstdio>
#include <filesystem>
#include <numbers>

#include "platform/foundation/FileManager.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
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
constexpr double kLandscapeShift = 80;
constexpr float kCloseButtonSize = 30;
constexpr int kTabletLongSide = 1024;
constexpr int kTabletShortSide = 768;

bool isTabletFullScreenAd(const MRCachedAd& ad) {
    return (ad.width == kTabletLongSide && ad.height == kTabletShortSide) ||
           (ad.width == kTabletShortSide && ad.height == kTabletLongSide);
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

void VellumAdView::setAdSlotType(int type) {
    if (adSlotType_ != 0 || type == 0)
        return;
    adSlotType_ = type;
    const auto size = VellumAdServer::frameSizeForSlotType(type);
    if ((size.width != 0 || size.height != 0) && size != frame().size)
        platform::View::setFrame(platform::Rect(frame().origin, size));
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

// ---- Populating and loading ----
bool VellumAdView::populateWithadID(const std::string& webView, const std::string& adID) {
    return populateWithadID1(webView, adID, std::nullopt);
}

bool VellumAdView::populateWithadID1(const std::string& webView, const std::string& adID,
                                     const std::optional<platform::Dictionary>& pairs) {
    if (analytics().isUnavailableWithErrorMessage(kPrepareMessage))
        return false;
    auto server = VellumAdServer::create();
    if (!server || !server->adDB())
        return false;
    auto slot = server->adDB()->slotWithWebView(webView);
    auto ad = server->adDB()->adWithID(adID);
    if (!slot || !ad || ad->width != slot->adSlotWidth || ad->height != slot->adSlotHeight)
        return false;
    adSlotKey_ = slot->adSlotID;
    adSlotKeywords_ = slot->slotTargetKeywords;
    adBlockKeywords_ = slot->blockList;
    setAdSlotType(slot->adSlotType);
    adKeyValuePairs_ = prepareKeyValuePairs(pairs);
    analytics().logDebugOrInternal("adSlot retrieved:%s %d %s", slot->currentWebView.c_str(), slot->adSlotType,
                                   slot->adSlotID.value_or("(null)").c_str());
    if (!server->adFitsSlot(*slot, adID))
        return false;
    return prepareWithadIDInternal(adID);
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

void VellumAdView::displayWebViewAd(platform::View& host) {
    if (analytics().isUnavailableWithErrorMessage(kDisplayMessage))
        return;
    auto keep = self();
    loadAdIfNeeded();
    const auto size = adDisplaySize();
    setFrame(platform::Rect({0, 0}, size));
    removeFromSuperview();
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    auto page = std::make_shared<platform::View>(host.bounds());
    page->setBackgroundColor(ad && ad->transparentBackground ? platform::Color::clearColor()
                                                              : platform::Color::blackColor());
    page->setOpaque(false);
    auto container = std::make_shared<platform::View>(platform::Rect({0, 0}, size));
    container->setOpaque(false);
    page->addSubview(container);
    container->addSubview(keep);
    webPageView_ = page;
    host.addSubview(page);
    if (ad && ad->displaysCloseButton)
        placeCloseButtons(*page, *ad, false);
}

void VellumAdView::placeCloseButtons(platform::View& page, const MRCachedAd& ad, bool tablet) {
    const bool rotated =
        platform::Application::shared().statusBarOrientation() == platform::InterfaceOrientation::LandscapeLeft;
    // A custom button that is not cached yet leaves the built-in one, so the ad can be closed.
    if (tablet || !ad.closeButtonLibID || !placeCustomCloseButtonInView(page, *ad.closeButtonLibID, rotated))
        placeCloseButtonInView(page);
}

void VellumAdView::displayInterstitial() {
    if (analytics().isUnavailableWithErrorMessage(kDisplayMessage))
        return;
    auto keep = self();
    loadAdIfNeeded();
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    const int type = ad ? ad->adSlotType : adSlotType_;
    const bool tablet = ad && isTabletFullScreenAd(*ad);
    if (type != kPortraitInterstitial && type != kLandscapeInterstitial && !tablet) {
        analytics().logDebugOrInternal("error: -displayInterstitial called on a non-interstitial ad");
        return;
    }
    if (interstitialPage())
        return; // the one interstitial page is taken
    const auto size = adDisplaySize();
    setFrame(platform::Rect({0, 0}, size));
    removeFromSuperview();
    auto& app = platform::Application::shared();
    appStatusBarHidden_ = app.isStatusBarHidden();
    if (!appStatusBarHidden_)
        app.setStatusBarHidden(true, platform::StatusBarAnimation::Fade);
    auto page = std::make_shared<platform::View>(platform::Screen::main().bounds());
    page->setBackgroundColor(ad && ad->transparentBackground
                                 ? platform::Color::clearColor()
                                 : platform::Color{0, 0, 0, kInterstitialBackdropAlpha});
    page->setOpaque(false);
    auto container = std::make_shared<platform::View>(platform::Rect({0, 0}, size));
    container->setOpaque(false);
    page->addSubview(container);
    container->addSubview(keep);
    if (type == kLandscapeInterstitial)
        container->setTransform(platform::AffineTransform::makeRotation(std::numbers::pi / 2)
                                    .translated(kLandscapeShift, kLandscapeShift));
    interstitialPage() = page;
    page->setAlpha(0);
    if (auto window = app.keyWindow())
        window->addSubview(page);
    willDisplayInterstitialAd();
    std::weak_ptr<VellumAdView> weak = keep;
    platform::View::animate(
        kInterstitialAnimationSeconds, [page] { page->setAlpha(1); },
        [weak](const std::string&, bool) {
            if (auto strong = weak.lock())
                strong->didDisplayInterstitialAd();
        });
    if (ad && ad->displaysCloseButton)
        placeCloseButtons(*page, *ad, tablet);
}

void VellumAdView::dismissInterstitial() {
    // Promotions are off: the promotion step finishes at once.
    if (interstitialPage())
        dismissInterstitialAnimated(true);
    VellumJSBridge::sharedInstance()->setDelegate({});
}

void VellumAdView::dismissInterstitialAnimated(bool animated) {
    auto page = interstitialPage();
    if (!page)
        return;
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
    std::weak_ptr<VellumAdView> weak = self();
    const auto f = page->frame();
    platform::View::animate(
        kInterstitialAnimationSeconds,
        [page, f] {
            page->setFrame(platform::Rect(f.x() + f.width(), f.y(), f.width(), f.height()));
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
    if (webPageView_) {
        webPageView_->removeFromSuperview();
        webPageView_.reset();
    }
    removeFromSuperview();
    setAdVC(nullptr);
}

void VellumAdView::placeCloseButtonInView(platform::View& view) {
    auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
    auto image = platform::Image::named(kCloseButtonImageName);
    const double w = image ? image->size().width : kCloseButtonSize;
    const double h = image ? image->size().height : kCloseButtonSize;
    if (image)
        button->setImage(image);
    const auto frame = view.frame();
    if (shownSlotType() == kLandscapeInterstitial) {
        button->setFrame(platform::Rect(0, frame.height() - h, w, h));
        button->setTransform(platform::AffineTransform::makeRotation(std::numbers::pi / 2));
    } else {
        button->setFrame(platform::Rect(frame.width() - w, frame.height() - h, w, h));
    }
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

std::shared_ptr<platform::Image> bundleImage(const std::filesystem::path& folder, const std::optional<std::string>& name) {
    if (!name)
        return nullptr;
    auto component = platform::FileManager::safePathComponent(*name);
    return component ? platform::Image::fromFile(folder / *component) : nullptr;
}

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
    const std::filesystem::path folder = std::filesystem::path(VellumAdServer::cachedCloseButtonsFolderPath()) / *component;
    const auto screen = platform::Screen::main().bounds().size;
    auto image = platform::Button::buttonWithType(platform::ButtonType::Custom);
    auto hit = platform::Button::buttonWithType(platform::ButtonType::Custom);
    const auto& imageName = vertical ? b.verticalImageName : b.horizonalImageName;
    const auto& hitName = vertical ? b.verticalHitImageName : b.horizonalHitImageName;
    if (auto normal = bundleImage(folder, imageName))
        image->setImage(normal);
    if (hitName && hitName != imageName)
        if (auto selected = bundleImage(folder, hitName))
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
    if (adVC_)
        adVC_->showClickThroughInMiniBrowser(url);
    if (interstitialPage())
        dismissInterstitialAnimated(true);
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
                if (*n == static_cast<double>(static_cast<long long>(*n)))
                    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(*n));
                else
                    std::snprintf(buffer, sizeof buffer, "%g", *n);
                replaceAll(out, key, buffer);
            }
        }
    const auto slot = adSlotKey_.value_or("");
    if (!slot.empty() && slot.size() <= kMaxSlotNameLength)
        replaceAll(out, "$$_SLOTNAME_$$", slot);
    auto ad = adVC_ ? adVC_->ad() : nullptr;
    if (ad) {
        replaceAll(out, "$$_ADID_$$", ad->adID.value_or(""));
        replaceAll(out, "$$_ADHEIGHT_$$", std::to_string(ad->height));
        replaceAll(out, "$$_ADWIDTH_$$", std::to_string(ad->width));
        replaceAll(out, "$$_RANDOM_$$", std::to_string(ad->randomValue));
    }
    replaceAll(out, "$$_DEVICEID_$$", analytics().md5DeviceID());
    replaceAll(out, "$$_SDKVER_$$", VellumAnalyticsManager::version());
    return out;
}

} // namespace vellum
