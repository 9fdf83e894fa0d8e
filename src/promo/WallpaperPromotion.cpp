#include "promo/WallpaperPromotion.h"

#include <array>
#include <mutex>
#include <numbers>
#include <random>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "promo/AsyncAdData.h"
#include "promo/ImageLoader.h"
#include "promo/PromotionService.h"

namespace promo {
namespace {

constexpr std::string_view kGotoItuneName = "gotoItune";
constexpr std::string_view kPushAnimation = "push";
constexpr double kHideDuration = 1.0;
constexpr platform::Rect kScreenFrame{0, 0, 320, 480};
constexpr platform::Rect kCloseFrame{244, 1.6, 100, 50};
constexpr std::string_view kCloseImage = "Cross.png";
constexpr std::string_view kCloseHighlightedImage = "Cross_1.png";
constexpr double kTinyScaleX = 0.0001;
constexpr double kTinyScaleY = 0.00001;
constexpr double kLargeScale = 2;

// Members of the reply and of its entries.
constexpr std::string_view kDataTableKey = "dataTable";
constexpr std::string_view kAppIdentityKey = "appIdentity";
constexpr std::string_view kImageLinkKey = "imageLink";
constexpr std::string_view kAppIdKey = "appId";
constexpr std::string_view kAppLinkKey = "appLink";

// Generations that count as "3G or older".
constexpr std::array<std::string_view, 5> kOldGenerations = {"1G", "2G", "2.5G", "3G", "3CB"};

enum class StartTransform { Identity, TinyQuarterTurn, TinyHalfTurn, LargeQuarterTurn };

struct EntryAnimation {
    platform::Rect startFrame;
    StartTransform transform;
    bool fadesIn;
    double duration;
};

constexpr std::array<EntryAnimation, WallpaperPromotion::kAnimationCount> kEntryAnimations = {{
    {{0, 480, 320, 480}, StartTransform::Identity, false, 1.0},
    {{0, -480, 320, 480}, StartTransform::Identity, false, 1.0},
    {{-320, 0, 320, 480}, StartTransform::Identity, false, 1.0},
    {{640, 0, 320, 480}, StartTransform::Identity, false, 1.0},
    {{0, 0, 320, 480}, StartTransform::TinyQuarterTurn, false, 1.0},
    {{0, 0, 320, 480}, StartTransform::TinyHalfTurn, false, 1.0},
    {{0, 0, 320, 480}, StartTransform::LargeQuarterTurn, true, 1.0},
    {{0, 0, 320, 480}, StartTransform::Identity, true, 1.0},
    {{-320, -480, 320, 480}, StartTransform::Identity, false, 1.0},
    {{-320, 480, 320, 480}, StartTransform::Identity, false, 1.0},
    {{320, 480, 320, 480}, StartTransform::Identity, false, 1.0},
    {{320, -480, 320, 480}, StartTransform::Identity, false, 0.7},
}};

platform::AffineTransform makeStartTransform(StartTransform kind) {
    using platform::AffineTransform;
    switch (kind) {
    case StartTransform::TinyQuarterTurn:
        return AffineTransform::concat(AffineTransform::makeScale(kTinyScaleX, kTinyScaleY),
                                       AffineTransform::makeRotation(std::numbers::pi / 2));
    case StartTransform::TinyHalfTurn:
        return AffineTransform::concat(AffineTransform::makeScale(kTinyScaleX, kTinyScaleY),
                                       AffineTransform::makeRotation(std::numbers::pi));
    case StartTransform::LargeQuarterTurn:
        return AffineTransform::concat(AffineTransform::makeScale(kLargeScale, kLargeScale),
                                       AffineTransform::makeRotation(std::numbers::pi / 2));
    case StartTransform::Identity:
        break;
    }
    return AffineTransform::identity();
}

std::mt19937& randomEngine() {
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

std::string memberText(const platform::Value& entry, std::string_view key) {
    const platform::Value* v = entry.find(key);
    if (!v)
        return {};
    if (auto n = v->integer(); n && !v->isString())
        return std::to_string(*n);
    return v->stringOr("");
}

std::mutex textWidthMutex;
double sharedTextWidth = 0;

} // namespace

WallpaperPromotion::WallpaperPromotion() : platform::View(kScreenFrame) {}

WallpaperPromotion::~WallpaperPromotion() {
    if (fetcher_)
        fetcher_->cancel();
    platform::logLine("deallocating.... Promotion");
}

std::weak_ptr<WallpaperPromotion> WallpaperPromotion::weakSelf() {
    return std::static_pointer_cast<WallpaperPromotion>(sharedView());
}

std::string WallpaperPromotion::entryMember(std::string_view key) const {
    return promotionDataArray_.empty() ? std::string() : memberText(promotionDataArray_[0], key);
}

void WallpaperPromotion::showAdForPremiumApp() {
    promotionDataArray_.clear();
    getPromotionDataForAppId({});
}

bool WallpaperPromotion::appGenerationisNot3G() {
    auto words = platform::split(machineName(), " ");
    if (words.size() < 2)
        return true;
    for (auto old : kOldGenerations)
        if (words[1] == old)
            return false;
    return true;
}

void WallpaperPromotion::getPromotionDataForAppId(const std::string&) {
    if (fetcher_)
        fetcher_->cancel();
    fetcher_ = AsyncAdData::initWithUrl(
        promotionURL(endpoints::kWallpaperRequest, {{"is4G", appGenerationisNot3G() ? "1" : "0"}}));
    // Owned here and cancelled by the destructor, so `this` outlives it.
    fetcher_->initWithCallBack([this](const std::optional<platform::Value>& json, PromotionFetcher&) {
        auto keep = sharedView();
        fetcher_.reset();
        jsonDataReturn(json);
    });
}

void WallpaperPromotion::jsonDataReturn(const std::optional<platform::Value>& json) {
    if (!json || !json->isDictionary() || json->size() == 0)
        return;
    promotionDataArray_.clear();
    const platform::Value* table = json->find(kDataTableKey);
    if (!table || !table->array())
        return;
    platform::Array kept;
    for (const auto& entry : *table->array())
        if (entry.isDictionary() && !isApplicationInstalled(memberText(entry, kAppIdentityKey)))
            kept.push_back(entry);
    if (kept.empty())
        return;
    promotionDataArray_.push_back(kept[randomEngine()() % kept.size()]);
    imageLoad(entryMember(kImageLinkKey));
}

void WallpaperPromotion::imageLoad(const std::string& url) {
    platform::logLine("Image Link: " + url);
    if (url.empty())
        return;
    auto weak = weakSelf();
    loadImageInBackground(url, [weak](std::shared_ptr<platform::Image> image, bool) {
        auto self = weak.lock();
        if (!self)
            return;
        self->promotionalImage_ = image;
        if (!image)
            return;
        platform::logLine("Promotional Image downloaded");
        self->showPromotionalAd();
        if (auto d = self->delegate())
            d->isAllDataLoaded(self->entryMember(kAppLinkKey));
    });
}

void WallpaperPromotion::showPromotionalAd() {
    auto weak = weakSelf();
    auto picture = std::make_shared<platform::Button>(kScreenFrame, platform::ButtonType::Custom);
    picture->setBackgroundImage(promotionalImage_);
    picture->addAction(
        [weak](platform::Control&) {
            if (auto self = weak.lock())
                self->getItNow();
        },
        platform::ControlEvent::TouchDown, this);
    addSubview(picture);
    addSubview(makeCloseButton(
        kCloseFrame, "Close", kCloseImage, kCloseHighlightedImage,
        [weak] {
            if (auto self = weak.lock())
                self->hideAdImmediately();
        },
        this));
    isAdLoaded_ = true;
}

void WallpaperPromotion::showView(const std::shared_ptr<platform::View>& view, platform::View& onView, int animation) {
    auto weak = weakSelf();
    platform::RunLoop::main().perform([weak] {
        if (auto self = weak.lock())
            self->impressionUpdate();
    });
    animationID_ = animation;
    if (!view || animation < 0 || animation >= kAnimationCount)
        return;
    const EntryAnimation& a = kEntryAnimations[static_cast<std::size_t>(animation)];
    view->setAlpha(1);
    view->setTransform(platform::AffineTransform::identity());
    view->setFrame(a.startFrame);
    view->setTransform(makeStartTransform(a.transform));
    if (a.fadesIn)
        view->setAlpha(0);
    onView.addSubview(view);
    platform::View::animate({std::string(kPushAnimation), a.duration}, [&] {
        view->setTransform(platform::AffineTransform::identity());
        view->setFrame(kScreenFrame);
        view->setAlpha(1);
    });
}

void WallpaperPromotion::hideView(platform::View& view, platform::View&) {
    platform::logLine(platform::formatString("anim ID: %d", animationID_));
    if (animationID_ < 0 || animationID_ >= kAnimationCount)
        return;
    const EntryAnimation& a = kEntryAnimations[static_cast<std::size_t>(animationID_)];
    platform::View::animate({std::string(kPushAnimation), kHideDuration}, [&] {
        if (a.transform == StartTransform::Identity)
            view.setFrame(a.startFrame);
        else
            view.setTransform(makeStartTransform(a.transform));
        if (a.fadesIn)
            view.setAlpha(0);
    });
}

void WallpaperPromotion::showAdNow() {
    if (auto d = delegate())
        d->showAd(*this);
}

void WallpaperPromotion::hideAdImmediately() {
    if (auto d = delegate())
        d->hideAd(*this);
}

void WallpaperPromotion::getItNow() {
    if (!promotionalImage_)
        return;
    sendPromotionReport(promotionURL(endpoints::kWallpaperClick, {{"appId", entryMember(kAppIdKey)}}));
    platform::RunLoop::main().performAfter(kClickOpenDelay, weakSelf(), &WallpaperPromotion::gotoItune, this,
                                           std::string(kGotoItuneName));
}

void WallpaperPromotion::gotoItune() {
    std::string link = entryMember(kAppLinkKey);
    if (!link.empty())
        platform::Application::shared().openURL(link);
}

void WallpaperPromotion::impressionUpdate() {
    sendPromotionReport(promotionURL(endpoints::kWallpaperImpression, {{"appId", entryMember(kAppIdKey)}}));
}

// ---------------------------------------------------------------- SlideView

namespace {
constexpr std::string_view kUpgradeImage = "upgradeButton.png";
constexpr std::string_view kMaskImage = "Mask.png";
constexpr double kSlideBorderWidth = 2;
constexpr double kShineAlpha = 0.35;
constexpr double kShineInset = 10;
constexpr std::string_view kShineKey = "slideAnim";
} // namespace

SlideView::SlideView(const platform::Rect& frame, std::function<void()> callback)
    : platform::View(frame), callback_(std::move(callback)) {
    setBackgroundColor(platform::Color::blackColor());
    layer().setBorderColor(platform::Color::grayColor());
    layer().setBorderWidth(kSlideBorderWidth);
    setUserInteractionEnabled(true);
    auto image = platform::Image::named(kUpgradeImage);
    platform::Size size = image ? image->size() : platform::Size{0, 0};
    {
        std::lock_guard lock(textWidthMutex);
        sharedTextWidth = size.width;
    }
    imageLayer_ = std::make_shared<platform::ImageView>(image);
    imageLayer_->setFrame(platform::Rect(0, 0, size.width, size.height));
    imageLayer_->setClipsToBounds(true);
    maskLayer_ = std::make_shared<platform::View>(
        platform::Rect(-kShineInset - size.width, 0, 2 * size.width, size.height));
    maskLayer_->setBackgroundColor(platform::Color{0, 0, 0, kShineAlpha});
    maskLayer_->layer().setContents(platform::Image::named(kMaskImage));
    maskLayer_->layer().setContentsGravity("center");
    std::uniform_int_distribution<int> spread(0, kShineDelaySpread - 1);
    addShine(kFirstShineDelay + spread(randomEngine()));
    // The strip masks the image: where the band passes the image shows brighter.
    imageLayer_->layer().setMask(maskLayer_);
    addSubview(imageLayer_);
}

double SlideView::textWidth() {
    std::lock_guard lock(textWidthMutex);
    return sharedTextWidth;
}

void SlideView::addShine(double delay) {
    auto shine = platform::LayerAnimation::basic("position.x", {}, {});
    shine->by = textWidth();
    shine->additive = true;
    shine->repeatCount = 1;
    shine->beginTime = delay;
    shine->duration = kShineDuration;
    maskLayer_->layer().addAnimation(shine, std::string(kShineKey));
}

void SlideView::loadShineEffect() {
    addShine(kLaterShineDelay);
}

void SlideView::touchesBegan(const platform::TouchSet&, const platform::Event&) {
    if (callback_)
        callback_();
}

} // namespace promo
