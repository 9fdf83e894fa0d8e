#include "promo/AdViewController.h"

#include <array>
#include <cstdio>

#include "mediation/SwitchboardView.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "promo/AsyncAdData.h"
#include "promo/ImageLoader.h"
#include "promo/PromotionService.h"

namespace promo {
namespace {

constexpr double kPhoneSlotHeight = 53;
constexpr double kTabletSlotHeight = 90;
constexpr unsigned kFlexibleSideMargins = 5;
constexpr double kResizeDuration = 0.7;
constexpr platform::Size kPhoneHouseAdSize{320, 53};
constexpr platform::Size kTabletHouseAdSize{728, 90};
constexpr std::string_view kCallOffNewsName = "callOffNews";
constexpr std::string_view kGotoItuneName = "gotoItune";

// Members of the news reply and of its entries.
constexpr std::string_view kNewsDataKey = "newsData";
constexpr std::string_view kAppIdentityKey = "appIdentity";
constexpr std::string_view kImageLinkKey = "imageLink";
constexpr std::string_view kAppIdKey = "appId";
constexpr std::string_view kAppLinkKey = "appLink";

// The optional items of the slot's protocol that this host answers.
constexpr std::array<std::string_view, 6> kAnsweredSelectors = {
    "switchboardCurrentOrientation",
    "switchboardDidReceiveAd:",
    "switchboardDidFailToReceiveAd:usingBackup:",
    "switchboardReceivedNotificationAdsAreOff:",
    "switchboardDidAnimateToNewAdIn:",
    "switchboardReceivedRequestForDeveloperToFufill:",
};

bool isTablet() {
    return isTabletDevice();
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

AdViewController::AdViewController(const platform::Rect& frame) : platform::View(frame) {
    newsShowTimer_ = kNewsShowTimerStart;
    getNewsAdDetails();
}

AdViewController::~AdViewController() {
    if (newsFetcher_)
        newsFetcher_->cancel();
    if (refreshTimer_)
        refreshTimer_->invalidate();
}

std::weak_ptr<AdViewController> AdViewController::weakSelf() {
    return std::static_pointer_cast<AdViewController>(sharedView());
}

void AdViewController::getNewsAdDetails() {
    newsAdCounter_ = -1;
    dataArray_.clear();
    if (newsFetcher_)
        newsFetcher_->cancel();
    newsFetcher_ = AsyncAdData::initWithUrl(promotionURL(endpoints::kHouseNewsList));
    // The fetcher is owned here and cancelled by the destructor, so `this` outlives it.
    newsFetcher_->initWithCallBack([this](const std::optional<platform::Value>& json, PromotionFetcher&) {
        newsFetcher_.reset();
        jsonDataReturn(json);
    });
}

void AdViewController::jsonDataReturn(const std::optional<platform::Value>& json) {
    if (!json || !json->isDictionary())
        return;
    const platform::Value* news = json->find(kNewsDataKey);
    if (!news || !news->array() || news->array()->empty())
        return;
    dataArray_.clear();
    for (const auto& entry : *news->array()) {
        if (!entry.isDictionary())
            continue;
        if (!isApplicationInstalled(memberText(entry, kAppIdentityKey)))
            dataArray_.push_back(entry);
    }
    if (!dataArray_.empty())
        imageLoadwithDic(0);
}

void AdViewController::imageLoadwithDic(std::size_t index) {
    loadEntryPicture(index, dataArray_.size());
}

void AdViewController::loadEntryPicture(std::size_t index, std::size_t triesLeft) {
    if (index >= dataArray_.size() || triesLeft == 0)
        return;
    std::string url = memberText(dataArray_[index], kImageLinkKey);
    if (url.empty()) {
        skipFailedPicture(index, triesLeft);
        return;
    }
    auto weak = weakSelf();
    // Only the newest download may set the image: an older one finishing later would put an
    // entry's picture beside the next entry's reports and link.
    std::uint64_t generation = ++imageGeneration_;
    loadImageInBackground(url, [weak, generation, index, triesLeft](std::shared_ptr<platform::Image> image,
                                                                    bool gotData) {
        auto self = weak.lock();
        if (!self || generation != self->imageGeneration_)
            return; // gone, or overtaken by a newer download
        if (!gotData || !image) {
            // The picture at hand stays with its own entry; the rotation moves past this one.
            self->skipFailedPicture(index, triesLeft);
            return;
        }
        self->newsImage_ = image;
        self->newsImageIndex_ = static_cast<int>(index);
        if (self->mediationView_ && !self->mediationView_->adExists()) {
            platform::logLine("News  Image downloaded");
            self->showNewsAd(false); // an arrival never starts a rotation of its own
        }
    });
}

void AdViewController::skipFailedPicture(std::size_t index, std::size_t triesLeft) {
    // Each entry is tried at most once per round, and the round ends at the entry whose
    // picture is at hand: with every other picture failing, that one keeps showing.
    std::size_t next = (index + 1) % dataArray_.size();
    if (triesLeft <= 1 || static_cast<int>(next) == newsImageIndex_)
        return;
    loadEntryPicture(next, triesLeft - 1);
}

const platform::Value* AdViewController::shownEntry() const {
    // The entry shown is the one whose picture is shown: its reports and link go with it.
    if (newsAdCounter_ < 0 || static_cast<std::size_t>(newsAdCounter_) >= dataArray_.size())
        return nullptr;
    return &dataArray_[static_cast<std::size_t>(newsAdCounter_)];
}

void AdViewController::showNewsAd() {
    showNewsAd(true);
}

void AdViewController::showNewsAd(bool mayScheduleRotation) {
    if (!newsImage_) {
        if (!dataArray_.empty())
            imageLoadwithDic(0);
    } else if (mediationView_ && newsImageIndex_ >= 0 &&
               static_cast<std::size_t>(newsImageIndex_) < dataArray_.size()) {
        newsShowTimer_ = 0;
        platform::Size size = isTablet() ? kTabletHouseAdSize : kPhoneHouseAdSize;
        newsView_ = std::make_shared<platform::Button>(platform::Rect(0, 0, size.width, size.height),
                                                       platform::ButtonType::Custom);
        // The picture's own entry: when the next picture is not ready (failed, or still on its
        // way) the same entry is shown again rather than the next entry under this picture.
        newsAdCounter_ = newsImageIndex_;
        auto weak = weakSelf();
        // The button keeps the entry it shows, so a tap reports and opens that entry even when
        // the next house ad replaces it before the link opens.
        platform::Value entry = dataArray_[static_cast<std::size_t>(newsAdCounter_)];
        newsView_->addAction(
            [weak, entry](platform::Control&) {
                if (auto self = weak.lock())
                    self->getItNow(entry);
            },
            platform::ControlEvent::TouchDown, this);
        newsView_->setTag(kHouseAdTag);
        newsView_->setAccessibilityLabel("House ad");
        newsView_->setBackgroundImage(newsImage_);
        mediationView_->replaceBannerViewWith(newsView_);

        int count = static_cast<int>(dataArray_.size());
        platform::logLine(platform::formatString("with index: %d", newsAdCounter_));
        platform::RunLoop::main().perform([weak] {
            if (auto self = weak.lock())
                self->impressionUpdate();
        });
        imageLoadwithDic(static_cast<std::size_t>((newsAdCounter_ + 1) % count));
    }
    if (isNewsPresent_ && mayScheduleRotation) {
        platform::RunLoop::main().performAfter(kAdsOffRotationInterval, weakSelf(),
                                               &AdViewController::callOffNews, this,
                                               std::string(kCallOffNewsName));
    }
}

void AdViewController::callOffNews() {
    if (!isNewsPresent_)
        return;
    auto weak = weakSelf();
    platform::RunLoop::main().perform([weak] {
        if (auto self = weak.lock())
            self->showNewsAd();
    });
}

void AdViewController::impressionUpdate() {
    if (!isNewsPresent_) {
        if (refreshTimer_)
            refreshTimer_->invalidate();
        auto weak = weakSelf();
        refreshTimer_ = platform::Timer::scheduled(kNewsCountInterval, true, [weak](platform::Timer& timer) {
            if (auto self = weak.lock())
                self->timerRequestFreshNews();
            else
                timer.invalidate();
        });
    }
    if (const platform::Value* entry = shownEntry())
        sendPromotionReport(promotionURL(endpoints::kHouseNewsImpression, {{"appId", memberText(*entry, kAppIdKey)}}));
}

void AdViewController::getItNow() {
    if (const platform::Value* entry = shownEntry())
        getItNow(*entry);
}

void AdViewController::getItNow(const platform::Value& entry) {
    if (!newsImage_)
        return;
    sendPromotionReport(promotionURL(endpoints::kHouseNewsClick, {{"appId", memberText(entry, kAppIdKey)}}));
    auto weak = weakSelf();
    std::string link = memberText(entry, kAppLinkKey);
    platform::RunLoop::main().performAfter(
        kClickOpenDelay,
        [weak, link] {
            if (auto self = weak.lock())
                self->gotoItune(link);
        },
        this, std::string(kGotoItuneName));
}

void AdViewController::gotoItune(const std::string& appLink) {
    if (!appLink.empty())
        platform::Application::shared().openURL(appLink);
}

void AdViewController::rotateToOrientation(int orientation) {
    if (mediationView_)
        mediationView_->rotateToOrientation(orientation);
}

void AdViewController::getAdFromNetwork() {
    if (mediationView_)
        return;
    if (auto root = rootViewController())
        devOrientation_ = static_cast<int>(root->interfaceOrientation());
    auto self = std::static_pointer_cast<AdViewController>(sharedView());
    if (!self)
        return;
    mediationView_ = mediation::SwitchboardView::requestSwitchboardViewWithDelegate(self);
    if (!mediationView_)
        return;
    mediationView_->setFrame(
        platform::Rect(0, 0, bounds().width(), isTablet() ? kTabletSlotHeight : kPhoneSlotHeight));
    mediationView_->setAutoresizingMask(kFlexibleSideMargins);
    // What a person taps to follow the network ad shown in the slot.
    mediationView_->setAccessibilityLabel("Ad");
    addSubview(mediationView_);
}

bool AdViewController::responds(std::string_view selector) const {
    for (auto answered : kAnsweredSelectors)
        if (selector == answered)
            return true;
    return mediation::SwitchboardDelegate::responds(selector);
}

std::string AdViewController::switchboardApplicationKey() {
    return isTablet() ? kTabletApplicationKey : kPhoneApplicationKey;
}

std::shared_ptr<platform::ViewController> AdViewController::viewControllerForPresentingModalView() {
    return rootViewController();
}

std::optional<int> AdViewController::switchboardCurrentOrientation() {
    auto root = rootViewController();
    return static_cast<int>(root ? root->interfaceOrientation() : platform::InterfaceOrientation::Portrait);
}

void AdViewController::switchboardDidReceiveAd(mediation::SwitchboardView*) {
    isNewsPresent_ = false;
    platform::logLine("switchboardDidReceiveAd");
}

void AdViewController::switchboardDidFailToReceiveAd(mediation::SwitchboardView* view, bool) {
    isNewsPresent_ = false;
    if (!view)
        return;
    if (newsShowTimer_ >= platform::saturatingCast<int>(static_cast<double>(view->adRefreshTime())))
        showNewsAd();
}

void AdViewController::switchboardReceivedNotificationAdsAreOff(mediation::SwitchboardView*) {
    isNewsPresent_ = true;
    showNewsAd();
}

void AdViewController::switchboardDidAnimateToNewAdIn(mediation::SwitchboardView* view) {
    if (!view || !mediationView_)
        return;
    platform::Size size = view->actualAdSize();
    char line[96];
    std::snprintf(line, sizeof line, "switchboardDidAnimateToNewAdIn: %f", size.width);
    platform::logLine(line);

    platform::View::beginAnimations("switchboardDidAnimateToNewAdIn");
    platform::View::setAnimationDuration(kResizeDuration);
    mediationView_->setFrame(platform::Rect(0, mediationView_->frame().y(), size.width, size.height));
    platform::View::commitAnimations();

    if (auto d = delegate())
        d->adViewControllerDidReceiveAd(mediationView_->frame().size);
}

void AdViewController::switchboardReceivedRequestForDeveloperToFufill(mediation::SwitchboardView*) {}

} // namespace promo
