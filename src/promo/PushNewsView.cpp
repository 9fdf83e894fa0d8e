#include "promo/PushNewsView.h"

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "promo/AsyncAdData.h"
#include "promo/ImageLoader.h"
#include "promo/PromotionService.h"
#include "promo/StorePage.h"

namespace promo {

bool isPush = false;

namespace {

constexpr std::string_view kShakeName = "shakeEffect";
constexpr std::string_view kGotoItuneName = "gotoItune";

// User-defaults keys written from the reply.
constexpr std::string_view kImageLinkDefault = "imageLink";
constexpr std::string_view kPromoAppLinkDefault = "promoAppLink";
constexpr std::string_view kSeenLinkDefault = "seenLink";

// Members of the reply.
constexpr std::string_view kPushImageKey = "pushImage";
constexpr std::string_view kPushTableKey = "pushTable";
constexpr std::string_view kImageLinkKey = "imageLink";
constexpr std::string_view kPromoAppLinkKey = "promoAppLink";
constexpr std::string_view kIndexKey = "index";
constexpr std::string_view kActiveKey = "active";

struct ButtonImages {
    std::string_view phone;
    std::string_view tablet;
};
constexpr ButtonImages kNewsImages{"News1.png", "News1@2x.png"};
constexpr ButtonImages kBadgeImages{"News_badge.png", "News_badge@2x.png"};

constexpr platform::Rect kPanelImageFrame{0, 0, 320, 300};
constexpr platform::Rect kTapAreaFrame{80, 250, 180, 44};
constexpr platform::Rect kCloseFrame{0, 0, 40, 40};
constexpr platform::Rect kLoadingLabelFrame{10, 115, 300, 50};
constexpr platform::Rect kLoadingSpinnerFrame{20, 15, 20, 20};
constexpr platform::Rect kLoadingCloseFrame{245, 120, 40, 40};
constexpr std::string_view kCloseImage = "Cross1.png";
constexpr std::string_view kCloseHighlightedImage = "Cross_11.png";

std::string memberText(const platform::Value* entry, std::string_view key) {
    if (!entry)
        return {};
    const platform::Value* v = entry->find(key);
    if (!v)
        return {};
    if (auto n = v->integer(); n && !v->isString())
        return std::to_string(*n);
    return v->stringOr("");
}

const platform::Value* firstObject(const platform::Value& reply, std::string_view key) {
    const platform::Value* list = reply.find(key);
    if (!list || !list->array() || list->array()->empty() || !list->array()->front().isDictionary())
        return nullptr;
    return &list->array()->front();
}

platform::Array readSeenList() {
    std::error_code ec;
    if (!std::filesystem::exists(PushNewsView::dataFilePath(), ec))
        return {};
    auto value = platform::readPropertyListFile(PushNewsView::dataFilePath());
    if (!value || !value->array())
        return {}; // unreadable: counts as empty
    return *value->array();
}

} // namespace

PushNewsView::PushNewsView() : platform::View(platform::Rect{}) {}

PushNewsView::~PushNewsView() {
    if (fetcher_)
        fetcher_->cancel();
}

std::weak_ptr<PushNewsView> PushNewsView::weakSelf() {
    return std::static_pointer_cast<PushNewsView>(sharedView());
}

std::filesystem::path PushNewsView::dataFilePath() {
    return platform::DeviceHome::documents() / kSeenListFile;
}

void PushNewsView::getNewsData() {
    if (!connectedToNetwork())
        return;
    if (fetcher_)
        fetcher_->cancel();
    fetcher_ = AsyncAdData::initWithUrl(promotionURL(endpoints::kPushNews, {{"pushAppLink", appStoreIdentifier_}}));
    // Owned here and cancelled by the destructor, so `this` outlives it.
    fetcher_->initWithCallBack([this](const std::optional<platform::Value>& json, PromotionFetcher&) {
        auto keep = sharedView();
        fetcher_.reset();
        jsonDataReturn(json);
    });
}

void PushNewsView::setButtonImage(bool badge) {
    if (!newsButton_)
        return;
    const ButtonImages& images = badge ? kBadgeImages : kNewsImages;
    newsButton_->setImage(platform::Image::named(isTabletDevice() ? images.tablet : images.phone));
}

void PushNewsView::newsButtonFrame(const platform::Rect& frame) {
    newsButton_ = std::make_shared<platform::Button>(frame, platform::ButtonType::Custom);
    newsButton_->setAccessibilityLabel("News");
    setButtonImage(false);
    auto weak = weakSelf();
    newsButton_->addAction(
        [weak](platform::Control&) {
            if (auto self = weak.lock())
                self->showNews();
        },
        platform::ControlEvent::TouchUpInside, this);
    if (!connectedToNetwork())
        newsButton_->setHidden(true);
}

void PushNewsView::jsonDataReturn(const std::optional<platform::Value>& json) {
    if (!json || !json->isDictionary() || json->size() == 0)
        return;
    const platform::Value* image = firstObject(*json, kPushImageKey);
    const platform::Value* table = firstObject(*json, kPushTableKey);
    if (!image && !table)
        return; // nothing of a news item in it
    auto& defaults = platform::UserDefaults::standard();
    // Only what the reply carries is stored: a reply without "pushTable" must not blank the
    // store identifier a push has set, nor the item last seen.
    std::string imageLink = memberText(image, kImageLinkKey);
    if (image)
        defaults.setString(kImageLinkDefault, imageLink);
    if (table) {
        defaults.setString(kPromoAppLinkDefault, memberText(table, kPromoAppLinkKey));
        defaults.setString(kSeenLinkDefault, memberText(table, kIndexKey));
    }
    defaults.synchronize();

    if (checkItforPreviousSeen()) {
        if (isPush && appendSeenLink())
            platform::logLine("YES written");
        isBadge_ = true;
        shakeEffect();
        setButtonImage(true);
    }
    if (table) {
        const platform::Value* active = table->find(kActiveKey);
        if (active && !active->boolOr(true))
            if (auto d = delegate())
                d->hideNewsButton();
    }
    imageLoad(imageLink);
}

bool PushNewsView::checkItforPreviousSeen() const {
    platform::Array seen = readSeenList();
    platform::logLine("array: " + platform::Value(seen).toJSON());
    std::string seenLink = platform::UserDefaults::standard().stringForKey(kSeenLinkDefault).value_or("");
    for (const auto& item : seen)
        if (item.isString() && *item.string() == seenLink)
            return false;
    platform::logLine("YES");
    return true;
}

bool PushNewsView::appendSeenLink() const {
    platform::Array seen = readSeenList();
    seen.emplace_back(platform::UserDefaults::standard().stringForKey(kSeenLinkDefault).value_or(""));
    return platform::writePropertyListFile(dataFilePath(), platform::Value(std::move(seen)));
}

void PushNewsView::imageLoad(const std::string& url) {
    if (url.empty())
        return;
    auto weak = weakSelf();
    loadImageInBackground(url, [weak](std::shared_ptr<platform::Image> image, bool) {
        auto self = weak.lock();
        if (!self)
            return;
        self->newsImage_ = image;
        if (image)
            platform::logLine("Image loaded");
        if (isPush && image && !self->isClosed_)
            self->showNews();
    });
}

void PushNewsView::shakeEffect() {
    if (newsButton_)
        newsButton_->setTransform(
            platform::AffineTransform::makeTranslation(counter_ % 2 ? -kShakeOffset : kShakeOffset, 0));
    if (!isBadge_)
        return;
    ++counter_;
    platform::RunLoop::main().cancelPerforms(this, kShakeName);
    platform::RunLoop::main().performAfter(kShakeInterval, weakSelf(), &PushNewsView::shakeEffect, this,
                                           std::string(kShakeName));
}

void PushNewsView::showNews() {
    isClosed_ = false;
    if (auto d = delegate())
        d->showNews(*this);
    while (!subviews().empty())
        subviews().back()->removeFromSuperview();

    auto weak = weakSelf();
    auto closeButton = [&](const platform::Rect& frame) {
        addSubview(makeCloseButton(
            frame, "Close news", kCloseImage, kCloseHighlightedImage,
            [weak] {
                if (auto self = weak.lock())
                    self->closePush();
            },
            this));
    };

    if (newsImage_) {
        setButtonImage(false);
        auto picture = std::make_shared<platform::ImageView>(newsImage_);
        picture->setFrame(kPanelImageFrame);
        // The news picture is opaque: nothing of the screen behind the panel shows through it.
        picture->setBackgroundColor(platform::Color::blackColor());
        addSubview(picture);
        if (checkItforPreviousSeen() && appendSeenLink())
            platform::logLine("Writte Completed");
        auto tapArea = std::make_shared<platform::Button>(kTapAreaFrame, platform::ButtonType::Custom);
        tapArea->setAccessibilityLabel("Open news");
        tapArea->addAction(
            [weak](platform::Control&) {
                if (auto self = weak.lock())
                    self->getItNow();
            },
            platform::ControlEvent::TouchDown, this);
        addSubview(tapArea);
        closeButton(kCloseFrame);
        isBadge_ = false;
    } else {
        isPush = true;
        auto label = std::make_shared<platform::Label>(kLoadingLabelFrame);
        label->setText(kLoadingText);
        label->setTextColor(platform::Color::whiteColor());
        label->setBackgroundColor(platform::Color::blackColor());
        label->setTextAlignment(platform::TextAlignment::Center);
        auto spinner = std::make_shared<platform::View>(kLoadingSpinnerFrame);
        spinner->setAccessibilityLabel("Loading");
        label->addSubview(spinner);
        addSubview(label);
        closeButton(kLoadingCloseFrame);
    }
}

void PushNewsView::closePush() {
    auto host = delegate();
    if (!host)
        return;
    host->hideNews(*this);
    isClosed_ = true;
    isPush = false;
}

void PushNewsView::getItNow() {
    if (!newsImage_)
        return;
    sendPromotionReport(promotionURL(endpoints::kPushNewsClick));
    platform::RunLoop::main().performAfter(kClickOpenDelay, weakSelf(), &PushNewsView::gotoItune, this,
                                           std::string(kGotoItuneName));
}

void PushNewsView::gotoItune() {
    std::string link = platform::UserDefaults::standard().stringForKey(kPromoAppLinkDefault).value_or("");
    if (!link.empty())
        openStorePage(link);
}

} // namespace promo
