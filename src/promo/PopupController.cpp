#include "promo/PopupController.h"

#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "promo/AsyncAdData.h"
#include "promo/ImageLoader.h"
#include "promo/PromotionService.h"

namespace promo {

bool isPaid = false;
int imageStatus = 0;

namespace {

constexpr std::string_view kProgressBarName = "progressBar";
constexpr std::string_view kGotoItuneName = "gotoItune";
constexpr double kOverlayAlpha = 0.8;
constexpr double kOverlayFadeDuration = 0.25;
constexpr double kCloseFadeDuration = 0.6;
// The close button's mark, a cross on a disc: the promotion's picture comes from the server and
// need not show one, so the button draws its own and the way out shows whatever the picture.
constexpr std::string_view kCloseImage = "Cross1.png";
constexpr std::string_view kCloseHighlightedImage = "Cross_11.png";
constexpr double kSlideDuration = 0.5;
constexpr double kSpinDuration = 0.3;
constexpr double kBounceDuration = 0.15;
constexpr double kHopDuration = 0.7;
constexpr double kHopHigh = 40;
constexpr double kHopLow = 20;
constexpr double kTinyScaleX = 0.0001;
constexpr double kTinyScaleY = 0.00001;
constexpr double kOffscreenY = -160;
constexpr double kSmallScale = 0.8;
constexpr double kBounceScale = 0.9;
constexpr double kTransitionDuration = 0.5;
constexpr int kAnimationCount = 8;
constexpr platform::Rect kProgressStripFrame{0, 320, 161, 16};
constexpr std::string_view kProgressFirstImage = "ProgressBar1.png";
// The strip's 19 frames "ProgressBar1.png" to "ProgressBar19.png", played once over 15 s.
constexpr int kProgressFrameCount = 19;
constexpr double kProgressStripDuration = 15.0;

// Members of the reply.
constexpr std::string_view kCalledAppKey = "calledApp";
constexpr std::string_view kAdStatusKey = "adStatus";
constexpr std::string_view kAdNetStatusKey = "adNetStatus";
constexpr std::string_view kAdsDataKey = "adsData";
constexpr std::string_view kEmailKey = "email";
constexpr std::string_view kBccEmailDefault = "bccEmail";
constexpr std::string_view kAppIdentityKey = "appIdentity";
constexpr std::string_view kImageLinkKey = "imageLink";
constexpr std::string_view kIdKey = "id";
constexpr std::string_view kAdFullLinkKey = "adFullLink";

std::mt19937& randomEngine() {
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

const platform::Value* firstObject(const platform::Value& reply, std::string_view key) {
    const platform::Value* list = reply.find(key);
    if (!list || !list->array() || list->array()->empty())
        return nullptr;
    return &list->array()->front();
}

std::string memberText(const platform::Value& entry, std::string_view key) {
    const platform::Value* v = entry.find(key);
    if (!v)
        return {};
    if (auto n = v->integer(); n && !v->isString())
        return std::to_string(*n);
    return v->stringOr("");
}

} // namespace

// Layout by device and orientation; centre x is the pop-up's own.
struct PopupController::Layout {
    double spinnerYOffset; // added to the centre y, when spinnerY is negative
    double spinnerY;       // absolute y, or negative
    double stripY;
    platform::Rect promotionStart;
    platform::Rect closeFrame;
};

const PopupController::Layout& PopupController::layout() const {
    // phone portrait, phone landscape, tablet portrait, tablet landscape
    static const std::array<Layout, 4> kLayouts = {{
        {100, -1, 378, {5, 480, 310, 260}, {244, 96, 76, 75}},
        {42, -1, 240, {85, 320, 310, 260}, {325, 16, 86, 75}},
        {0, 710, 750, {9, 1024, 750, 600}, {660, 190, 105, 85}},
        {0, 510, 550, {137, 768, 750, 600}, {810, 68, 100, 85}},
    }};
    return kLayouts[(isTabletDevice() ? 2 : 0) + (orientation_ ? 1 : 0)];
}

PopupController::PopupController() : platform::View(platform::Rect{}) {}

PopupController::~PopupController() {
    if (fetcher_)
        fetcher_->cancel();
}

std::weak_ptr<PopupController> PopupController::weakSelf() {
    return std::static_pointer_cast<PopupController>(sharedView());
}

void PopupController::initPopUp() {
    popStatus_ = kIdle;
    dataArray_.clear();
}

void PopupController::popUpId(int appId, const std::string& companyName, const std::string& launchImage,
                              bool orientationIsLandscape) {
    auto launch = std::make_shared<platform::ImageView>(platform::Image::named(launchImage));
    launch->setFrame(frame());
    addSubview(launch);

    auto overlay = std::make_shared<platform::View>(frame());
    overlay->setBackgroundColor(platform::Color::blackColor());
    overlay->setAlpha(0);
    addSubview(overlay);
    platform::View::animate({"ALPHA", kOverlayFadeDuration}, [&] { overlay->setAlpha(kOverlayAlpha); });

    appId_ = appId;
    orientation_ = orientationIsLandscape;
    companyName_ = companyName;
    launchImage_ = launchImage;

    auto spinner = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White);
    spinner->setAccessibilityLabel("Loading");
    const Layout& l = layout();
    spinner->setCenter({center().x, l.spinnerY < 0 ? center().y + l.spinnerYOffset : l.spinnerY});
    spinner->setTag(kSpinnerTag);
    spinner->startAnimating();
    addSubview(spinner);

    popStatus_ = kWaitingForReply;
    getPopUpAgain();
}

void PopupController::getPopUpAgain() {
    imageStatus = 1;
    if (auto old = viewWithTag(kProgressStripTag))
        old->removeFromSuperview();
    auto strip = std::make_shared<platform::ImageView>(kProgressStripFrame);
    strip->setImage(platform::Image::named(kProgressFirstImage));
    std::vector<std::shared_ptr<platform::Image>> frames;
    for (int n = 1; n <= kProgressFrameCount; ++n)
        if (auto frame = platform::Image::named(platform::formatString("ProgressBar%d.png", n)))
            frames.push_back(std::move(frame));
    strip->setAnimationImages(std::move(frames));
    strip->setAnimationDuration(kProgressStripDuration);
    strip->setAnimationRepeatCount(1);
    strip->setTag(kProgressStripTag);
    strip->startAnimating();
    addSubview(strip);
    strip->setCenter({center().x, layout().stripY});

    if (fetcher_)
        fetcher_->cancel();
    fetcher_ = AsyncAdData::initWithUrl(promotionURL(
        endpoints::kPopUpRequest, {{"adID", std::to_string(appId_)}, {"companyCode", companyName_}}));
    // Owned here and cancelled by the destructor, so `this` outlives it.
    fetcher_->initWithCallBack([this](const std::optional<platform::Value>& json, PromotionFetcher&) {
        auto keep = sharedView();
        fetcher_.reset();
        jsonDataReturn(json);
    });

    popStatus_ = kWaitingForReply;
    progress_ = 0.0f;
    platform::RunLoop::main().cancelPerforms(this, kProgressBarName);
    platform::RunLoop::main().performAfter(kFirstTickDelay, weakSelf(), &PopupController::progressBar, this,
                                           std::string(kProgressBarName));
}

void PopupController::progressBar() {
    progress_ += kTickStep;
    if (progress_ < 1.0f) {
        platform::RunLoop::main().performAfter(kTickInterval, weakSelf(), &PopupController::progressBar, this,
                                               std::string(kProgressBarName));
        return;
    }
    if (imageStatus == 1) {
        popStatus_ = kTimedOut;
        platform::logLine("time out");
        callBack(true);
    }
}

void PopupController::callBack(bool appIsAdEnabled) {
    auto self = sharedView();
    if (auto d = delegate())
        d->removeSplashPage(self, appIsAdEnabled);
}

void PopupController::jsonDataReturn(const std::optional<platform::Value>& json) {
    if (popStatus_ != kWaitingForReply) {
        callBack(isPaid);
        return;
    }
    const platform::Value* called = json && json->isDictionary() ? firstObject(*json, kCalledAppKey) : nullptr;
    if (!called || !called->isDictionary()) {
        callBack(isPaid);
        return;
    }
    bool adStatus = called->find(kAdStatusKey) ? called->find(kAdStatusKey)->boolOr(false) : false;
    if (const platform::Value* net = called->find(kAdNetStatusKey))
        isPaid = net->boolOr(false);
    else
        isPaid = false;

    const platform::Value* ads = json->find(kAdsDataKey);
    if (adStatus && ads && ads->array() && !ads->array()->empty()) {
        platform::Array kept;
        for (const auto& entry : *ads->array())
            if (entry.isDictionary() && !isApplicationInstalled(memberText(entry, kAppIdentityKey)))
                kept.push_back(entry);
        dataArray_.clear();
        if (!kept.empty()) {
            dataArray_.push_back(kept[randomEngine()() % kept.size()]);
            imageLoad(memberText(dataArray_[0], kImageLinkKey));
        } else {
            callBack(isPaid);
        }
    } else {
        callBack(isPaid);
    }
    if (const platform::Value* email = firstObject(*json, kEmailKey); email && email->isDictionary())
        if (const platform::Value* address = email->find(kEmailKey); address && address->isString())
            platform::UserDefaults::standard().setString(kBccEmailDefault, *address->string());
}

void PopupController::imageLoad(const std::string& url) {
    if (url.empty())
        return;
    auto weak = weakSelf();
    loadImageInBackground(url, [weak](std::shared_ptr<platform::Image> image, bool) {
        auto self = weak.lock();
        if (!self)
            return;
        self->popUpImage_ = image;
        if (image && self->popStatus_ == kWaitingForReply) {
            imageStatus = 0;
            platform::logLine("Pop Up  Image downloaded");
            self->showPopUpAd();
        }
    });
}

std::string PopupController::entryMember(std::string_view key) const {
    return dataArray_.empty() ? std::string() : memberText(dataArray_[0], key);
}

void PopupController::showPopUpAd() {
    popStatus_ = kPromotionShown;
    for (int tag : {kPromotionButtonTag, kUnusedPromotionTag, kProgressStripTag})
        if (auto v = viewWithTag(tag))
            v->removeFromSuperview();

    const Layout& l = layout();
    auto weak = weakSelf();
    auto button = std::make_shared<platform::Button>(l.promotionStart, platform::ButtonType::Custom);
    button->setTag(kPromotionButtonTag);
    button->setAccessibilityLabel(std::string(kPromotionButtonLabel));
    button->setBackgroundImage(popUpImage_);
    button->addAction(
        [weak](platform::Control&) {
            if (auto self = weak.lock())
                self->getItNow();
        },
        platform::ControlEvent::TouchUpInside, this);
    addSubview(button);

    auto close = makeCloseButton(
        l.closeFrame, "Close", kCloseImage, kCloseHighlightedImage,
        [weak] {
            if (auto self = weak.lock())
                self->hideAdImmediately();
        },
        this);
    close->setAlpha(0);
    close->setShowsTouchWhenHighlighted(true);
    addSubview(close);
    platform::View::animate({"POPUP", kCloseFadeDuration}, [&] { close->setAlpha(1); });

    showView(button, *this, static_cast<int>(randomEngine()() & (kAnimationCount - 1)));
    platform::RunLoop::main().perform([weak] {
        if (auto self = weak.lock())
            self->impressionUpdate();
    });
}

void PopupController::showView(const std::shared_ptr<platform::View>& view, platform::View& onView, int animation) {
    if (auto spinner = viewWithTag(kSpinnerTag))
        spinner->removeFromSuperview();
    if (!view)
        return;
    platform::Point middle = onView.center();
    auto weak = weakSelf();
    auto thenSecondAnim = [weak](const std::string&, bool) {
        if (auto self = weak.lock())
            self->secondAnim();
    };
    static constexpr std::array<std::string_view, 4> kPushSubtypes = {"fromLeft", "fromTop", "fromBottom",
                                                                       "fromRight"};
    switch (animation) {
    case 0:
        platform::View::animate(kSlideDuration, [&] { view->setCenter(middle); }, thenSecondAnim);
        break;
    case 1:
        view->setTransform(platform::AffineTransform::concat(
            platform::AffineTransform::makeScale(kTinyScaleX, kTinyScaleY),
            platform::AffineTransform::makeRotation(std::numbers::pi / 2)));
        view->setCenter(middle);
        platform::View::animate({"POPUP", kSpinDuration}, [&] { view->setTransform(platform::AffineTransform::identity()); });
        break;
    case 2:
        view->setCenter({view->center().x, kOffscreenY});
        platform::View::animate(kSlideDuration, [&] { view->setCenter(middle); }, thenSecondAnim);
        break;
    case 3:
        view->setTransform(platform::AffineTransform::makeScale(kSmallScale, kSmallScale));
        view->setCenter(middle);
        platform::View::animate(
            {"POPUP", kBounceDuration}, [&] { view->setTransform(platform::AffineTransform::identity()); },
            [weak](const std::string&, bool) {
                if (auto self = weak.lock())
                    self->bounce1();
            });
        break;
    case 4:
    case 5:
    case 6:
    case 7: {
        view->setCenter(middle);
        auto transition = platform::LayerAnimation::transition(
            "push", std::string(kPushSubtypes[static_cast<std::size_t>(animation - 4)]), kTransitionDuration);
        if (animation != 7)
            transition->timing = platform::AnimationCurve::EaseInOut;
        view->layer().addAnimation(transition, "animation");
        break;
    }
    default:
        break;
    }
}

void PopupController::secondAnim() {
    auto button = viewWithTag(kPromotionButtonTag);
    if (!button)
        return;
    platform::Point p = button->center();
    // A double hop in place: up 40 and back, then up 20 and back.
    auto hop = platform::LayerAnimation::keyframe(
        "position",
        {p, platform::Point{p.x, p.y - kHopHigh}, p, platform::Point{p.x, p.y - kHopLow}, p},
        kHopDuration);
    button->layer().addAnimation(hop, "positionAnimation");
}

void PopupController::bounce1() {
    auto button = viewWithTag(kPromotionButtonTag);
    if (!button)
        return;
    auto weak = weakSelf();
    platform::View::animate(
        {"POPUP", kBounceDuration},
        [&] { button->setTransform(platform::AffineTransform::makeScale(kBounceScale, kBounceScale)); },
        [weak](const std::string&, bool) {
            if (auto self = weak.lock())
                self->bounce2();
        });
}

void PopupController::bounce2() {
    auto button = viewWithTag(kPromotionButtonTag);
    if (!button)
        return;
    platform::View::animate({"POPUP", kBounceDuration},
                            [&] { button->setTransform(platform::AffineTransform::identity()); });
}

void PopupController::hideAdImmediately() {
    callBack(isPaid);
}

void PopupController::getItNow() {
    if (!popUpImage_)
        return;
    sendPromotionReport(promotionURL(endpoints::kPopUpClick,
                                     {{"adID", std::to_string(appId_)}, {"id", entryMember(kIdKey)}}));
    platform::RunLoop::main().performAfter(kClickOpenDelay, weakSelf(), &PopupController::gotoItune, this,
                                           std::string(kGotoItuneName));
}

void PopupController::gotoItune() {
    callBack(isPaid);
    std::string link = entryMember(kAdFullLinkKey);
    if (!link.empty())
        platform::Application::shared().openURL(link);
}

void PopupController::impressionUpdate() {
    sendPromotionReport(promotionURL(endpoints::kPopUpImpression,
                                     {{"adID", std::to_string(appId_)}, {"id", entryMember(kIdKey)}}));
}

} // namespace promo
