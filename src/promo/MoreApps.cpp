#include "promo/MoreApps.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableViewCell.h"
#include "promo/AsyncAdData.h"
#include "promo/PromotionService.h"

namespace promo {

bool isBack = false;
bool isTimeOut = false;
bool isInitial = true;
int appId1 = -1, appId2 = -1, appId3 = -1, appId4 = -1;
int counter = 0;

namespace {

constexpr std::string_view kGotoItuneName = "gotoItune";
constexpr int kFirstSuccessStatus = 200;
constexpr int kLastSuccessStatus = 299;
constexpr std::int64_t kMaxRowImageBytes = 4 * 1024 * 1024;
constexpr std::size_t kInitialImageCapacity = 2048;

constexpr platform::Rect kBackgroundFrame{0, 0, 320, 480};
constexpr platform::Rect kCloseFrame{275, 3, 40, 40};
constexpr platform::Rect kTableFrame{10, 46, 300, 426};
constexpr platform::Rect kRowImageFrame{0, 2, 300, 100};
constexpr double kTitleTop = 10;
constexpr double kTitleHeight = 40;
constexpr double kTitleFontSize = 15;
constexpr double kSpinnerSize = 20;
constexpr double kSpinnerDrop = 10;
constexpr std::string_view kBackgroundImage = "BackgroundMore.png";
constexpr std::string_view kCloseImage = "CrossMore.png";
constexpr std::string_view kCloseHighlightedImage = "CrossMore_H.png";
constexpr std::string_view kPlaceholderImage = "Placeholder.png";

// Members of the reply and of its entries.
constexpr std::string_view kMoreAppsKey = "moreApps";
constexpr std::string_view kAppIdentityKey = "appIdentity";
constexpr std::string_view kAppIdKey = "appId";
constexpr std::string_view kAppNameKey = "appName";
constexpr std::string_view kImageLinkKey = "imageLink";
constexpr std::string_view kAppLinkKey = "appLink";
constexpr std::string_view kSerialKey = "serial";

int* rowAppId(int row) {
    static int* const kRows[MoreApps::kRowCount] = {&appId1, &appId2, &appId3, &appId4};
    return row >= 0 && row < MoreApps::kRowCount ? kRows[row] : nullptr;
}

std::string memberText(const platform::Value& entry, std::string_view key) {
    const platform::Value* v = entry.find(key);
    if (!v)
        return {};
    if (auto n = v->integer(); n && !v->isString())
        return std::to_string(*n);
    return v->stringOr("");
}

int serialOf(const platform::Value& entry) {
    const platform::Value* v = entry.find(kSerialKey);
    if (!v)
        return 0;
    if (v->isString())
        return platform::intValue(*v->string());
    return platform::saturatingCast<int>(v->intOr(0));
}

std::string cellIdentifier(int row) {
    return platform::formatString("Cell%d", row);
}

} // namespace

// ---------------------------------------------------------------- AsyncImageView

AsyncImageView::AsyncImageView(const platform::Rect& frame) : platform::View(frame) {}

AsyncImageView::~AsyncImageView() {
    if (connection_)
        connection_->cancel();
}

void AsyncImageView::cancel() {
    if (connection_)
        connection_->cancel();
    connection_.reset();
    data_.clear();
}

void AsyncImageView::loadImageFromURL(const std::string& url, const std::string& title,
                                      const platform::IndexPath& path) {
    platform::logLine(platform::formatString("Str: %s   Tag: %d", url.c_str(), tag()));
    path_ = path;
    if (!subviews().empty())
        subviews().front()->removeFromSuperview();
    if (url == kNoImage) {
        platform::logLine("unable to load");
        std::weak_ptr<AsyncImageView> weak = std::static_pointer_cast<AsyncImageView>(sharedView());
        platform::RunLoop::main().perform([weak] {
            if (auto self = weak.lock())
                self->myImage();
        });
        return;
    }
    auto placeholder = std::make_shared<platform::ImageView>(platform::Image::named(kPlaceholderImage));
    placeholder->setFrame(frame());
    placeholder->setContentMode(platform::ContentMode::ScaleToFill);
    addSubview(placeholder);
    auto label = std::make_shared<platform::Label>(platform::Rect(0, kTitleTop, bounds().width(), kTitleHeight));
    label->setBackgroundColor(platform::Color::clearColor());
    label->setFont(platform::Font::boldSystemFont(kTitleFontSize));
    label->setTextColor(platform::Color::whiteColor());
    label->setTextAlignment(platform::TextAlignment::Center);
    label->setText(title);
    addSubview(label);
    auto spinner = std::make_shared<platform::View>(platform::Rect(0, 0, kSpinnerSize, kSpinnerSize));
    spinner->setAccessibilityLabel("Loading");
    spinner->setCenter({bounds().width() / 2, bounds().height() / 2 + kSpinnerDrop});
    addSubview(spinner);

    cancel();
    // A "Loading..." row waits for the list: its link is no picture to fetch. Fetching it would
    // fail at once, give the row a retry button that the list's rows then keep, and count four
    // bogus results toward the impression report.
    if (url.empty() || url == kLoadingLink)
        return;
    auto parsed = platform::URL::parse(platform::percentEscapeURLString(url));
    if (!parsed) {
        std::weak_ptr<AsyncImageView> weak = std::static_pointer_cast<AsyncImageView>(sharedView());
        platform::RunLoop::main().perform([weak] {
            if (auto self = weak.lock())
                self->myImage();
        });
        return;
    }
    platform::URLRequest request(*parsed, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, kTimeout);
    std::shared_ptr<AsyncImageView> self = std::static_pointer_cast<AsyncImageView>(sharedView());
    connection_ = platform::URLConnection::create(request, self, false, platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaxRowImageBytes);
    connection_->start();
    if (isBack)
        cancel();
}

void AsyncImageView::connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse& response) {
    statusOK_ = response.statusCode() >= kFirstSuccessStatus && response.statusCode() <= kLastSuccessStatus;
}

void AsyncImageView::connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) {
    if (data_.empty())
        data_.reserve(kInitialImageCapacity);
    data_.insert(data_.end(), data.begin(), data.end());
    if (isBack)
        cancel();
}

void AsyncImageView::connectionDidFinishLoading(platform::URLConnection&) {
    connection_.reset();
    if (!subviews().empty())
        subviews().front()->removeFromSuperview();
    if (!statusOK_) {
        data_.clear();
        report(platform::Image::named(kUnloadImage), true);
        return;
    }
    auto image = platform::Image::fromData(data_);
    data_.clear();
    report(image, false);
}

void AsyncImageView::connectionDidFailWithError(platform::URLConnection&, const platform::Error&) {
    connection_.reset();
    data_.clear();
    if (!subviews().empty())
        subviews().front()->removeFromSuperview();
    report(platform::Image::named(kUnloadImage), true);
}

void AsyncImageView::myImage() {
    report(platform::Image::named(kUnloadImage), true);
}

void AsyncImageView::report(std::shared_ptr<platform::Image> image, bool error) {
    if (isBack)
        return;
    if (auto d = delegate())
        d->loadImage(image, path_, error);
}

// ---------------------------------------------------------------- MoreApps

MoreApps::~MoreApps() {
    cancelRequests();
}

std::weak_ptr<MoreApps> MoreApps::weakSelf() {
    return std::static_pointer_cast<MoreApps>(sharedController());
}

void MoreApps::cancelRequests() {
    if (fetcher_)
        fetcher_->cancel();
    fetcher_.reset();
    if (fallbackTimer_)
        fallbackTimer_->invalidate();
    fallbackTimer_.reset();
    for (const auto& weak : imageViews_)
        if (auto v = weak.lock())
            v->cancel();
    imageViews_.clear();
    platform::RunLoop::main().cancelPerforms(this);
}

namespace {

// Where the page's 320 × 480 layout starts in a view of `bounds`: at its corner on the phone,
// centred on a larger screen, so the page is not left in the tablet's top-left corner. Its
// parts keep their place in the centre as the view changes size.
platform::Point pageOrigin(const platform::Rect& bounds) {
    return {bounds.minX() + std::max(0.0, (bounds.width() - kBackgroundFrame.width()) / 2),
            bounds.minY() + std::max(0.0, (bounds.height() - kBackgroundFrame.height()) / 2)};
}

platform::Rect onPage(const platform::Rect& frame, platform::Point origin) {
    return platform::Rect(origin.x + frame.minX(), origin.y + frame.minY(), frame.width(), frame.height());
}

constexpr unsigned kStaysCentred = platform::Autoresizing::FlexibleLeftMargin |
                                   platform::Autoresizing::FlexibleRightMargin |
                                   platform::Autoresizing::FlexibleTopMargin |
                                   platform::Autoresizing::FlexibleBottomMargin;

} // namespace

void MoreApps::viewDidLoad() {
    isBack = false;
    counter = 0;
    closed_ = false;
    auto root = view();
    const platform::Point origin = pageOrigin(root->bounds());
    auto background = std::make_shared<platform::ImageView>(platform::Image::named(kBackgroundImage));
    background->setFrame(onPage(kBackgroundFrame, origin));
    background->setAutoresizingMask(kStaysCentred);
    root->addSubview(background);

    // A close button on tablets too: without it nobody could leave the page there.
    auto weak = weakSelf();
    auto close = makeCloseButton(
        onPage(kCloseFrame, origin), "Close", kCloseImage, kCloseHighlightedImage,
        [weak] {
            if (auto self = weak.lock())
                self->back();
        },
        this);
    close->setAutoresizingMask(kStaysCentred);
    root->addSubview(close);

    listOfGameName_.clear();
    myTable_ = std::make_shared<platform::TableView>(onPage(kTableFrame, origin));
    myTable_->setAutoresizingMask(kStaysCentred);
    myTable_->setBackgroundColor(platform::Color::clearColor());
    myTable_->setBounces(true);
    myTable_->setRowHeight(kRowHeight);
    auto self = std::static_pointer_cast<MoreApps>(sharedController());
    myTable_->setDelegate(std::static_pointer_cast<platform::TableViewDelegate>(self));
    myTable_->setDataSource(std::static_pointer_cast<platform::TableViewDataSource>(self));
    root->addSubview(myTable_);

    isInitial = true;
    isTimeOut = false;
    fillWithPlaceholders(kLoadingTitle, kLoadingTitle);
    dataRetreive();
    platform::ViewController::viewDidLoad();
}

void MoreApps::fillWithPlaceholders(const char* title, const char* imageLink) {
    listOfGameName_.clear();
    for (int i = 0; i < kRowCount; ++i) {
        platform::Dictionary entry;
        entry[std::string(kAppIdentityKey)] = AsyncImageView::kNoImage;
        entry[std::string(kAppIdKey)] = AsyncImageView::kNoImage;
        entry[std::string(kAppNameKey)] = title;
        entry[std::string(kImageLinkKey)] = imageLink;
        entry[std::string(kAppLinkKey)] = AsyncImageView::kNoImage;
        listOfGameName_.emplace_back(std::move(entry));
    }
}

void MoreApps::dataRetreive() {
    if (fetcher_)
        fetcher_->cancel();
    fetcher_ = AsynchronousParser::initWithUrl(promotionURL(endpoints::kMoreAppsList));
    auto weak = weakSelf();
    fetcher_->initWithCallBack([weak](const std::optional<platform::Value>& json, PromotionFetcher&) {
        if (auto self = weak.lock())
            self->jsonDataReturn(json);
    });
    if (fallbackTimer_)
        fallbackTimer_->invalidate();
    fallbackTimer_ = platform::Timer::scheduled(kFallbackDelay, false, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->loadCancelData();
    });
    platform::logLine(platform::formatString("data retrieve called again with isInitial: %d", isInitial ? 1 : 0));
}

void MoreApps::loadCancelData() {
    if (closed_ || !isInitial)
        return;
    isTimeOut = true;
    counter = 0;
    fillWithPlaceholders(kUnableTitle, AsyncImageView::kNoImage);
    platform::logLine("loadCancelData due to time out");
    loadTable();
}

void MoreApps::jsonDataReturn(const std::optional<platform::Value>& json) {
    fetcher_.reset();
    if (closed_)
        return;
    platform::logLine(platform::formatString("return data count: %d", json ? static_cast<int>(json->size()) : 0));
    counter = 0;
    if (!isTimeOut) {
        listOfGameName_.clear();
        loadTable();
        const platform::Value* apps = json && json->isDictionary() ? json->find(kMoreAppsKey) : nullptr;
        platform::Array installed;
        if (apps && apps->array()) {
            for (const auto& entry : *apps->array()) {
                if (!entry.isDictionary())
                    continue;
                if (isApplicationInstalled(memberText(entry, kAppIdentityKey)))
                    installed.push_back(entry);
                else
                    listOfGameName_.push_back(entry);
            }
        }
        for (std::size_t i = 0; i < installed.size() && listOfGameName_.size() < kRowCount; ++i)
            listOfGameName_.push_back(installed[i]);
        loadTable();
    }
    if (listOfGameName_.size() > kRowCount - 1)
        isInitial = false;
}

void MoreApps::loadTable() {
    if (myTable_)
        myTable_->reloadData();
}

int MoreApps::tableViewNumberOfRowsInSection(platform::TableView&, int) {
    return static_cast<int>(std::min<std::size_t>(listOfGameName_.size(), kRowCount));
}

std::shared_ptr<platform::TableViewCell> MoreApps::tableViewCellForRowAtIndexPath(platform::TableView& table,
                                                                                 const platform::IndexPath& path) {
    std::string identifier = cellIdentifier(path.row);
    auto cell = table.dequeueReusableCellWithIdentifier(identifier);
    if (!cell) {
        cell = std::make_shared<platform::TableViewCell>(platform::TableViewCellStyle::Default, identifier);
        cell->setBackgroundView(std::make_shared<platform::ImageView>());
        cell->setSelectedBackgroundView(std::make_shared<platform::ImageView>());
    }
    if (cell->contentView().viewWithTag(path.row + 1))
        return cell;
    // One loader per row: an earlier one (from before a reload) goes.
    for (const auto& sub : std::vector<std::shared_ptr<platform::View>>(cell->contentView().subviews()))
        if (auto old = std::dynamic_pointer_cast<AsyncImageView>(sub)) {
            old->cancel();
            old->removeFromSuperview();
        }
    if (static_cast<std::size_t>(path.row) >= listOfGameName_.size())
        return cell;
    const platform::Value& entry = listOfGameName_[static_cast<std::size_t>(path.row)];
    auto loader = std::make_shared<AsyncImageView>(kRowImageFrame);
    loader->setTag(path.row);
    loader->setDelegate(std::static_pointer_cast<AsyncImageViewDelegate>(
        std::static_pointer_cast<MoreApps>(sharedController())));
    cell->contentView().addSubview(loader);
    imageViews_.push_back(loader);
    loader->loadImageFromURL(memberText(entry, kImageLinkKey), memberText(entry, kAppNameKey), path);
    return cell;
}

void MoreApps::loadImage(const std::shared_ptr<platform::Image>& image, const platform::IndexPath& path, bool error) {
    if (closed_)
        return;
    ++counter;
    int row = path.row;
    // A failed row gets its button even without a picture to show: the button is the row's
    // only way to load again.
    if ((image || error) && myTable_) {
        if (auto cell = myTable_->cellForRowAtIndexPath(path)) {
            auto button = std::make_shared<platform::Button>(kRowImageFrame, platform::ButtonType::Custom);
            button->setTag(row + 1);
            button->setBackgroundImage(image);
            if (static_cast<std::size_t>(row) < listOfGameName_.size())
                button->setAccessibilityLabel(memberText(listOfGameName_[static_cast<std::size_t>(row)], kAppNameKey));
            auto weak = weakSelf();
            button->addAction(
                [weak](platform::Control& sender) {
                    if (auto self = weak.lock())
                        self->go2iTunes(static_cast<platform::Button&>(sender));
                },
                platform::ControlEvent::TouchUpInside, this);
            cell->contentView().addSubview(button);
        }
    }
    if (int* slot = rowAppId(row)) {
        *slot = 0;
        if (!error && static_cast<std::size_t>(row) < listOfGameName_.size())
            *slot = serialOf(listOfGameName_[static_cast<std::size_t>(row)]);
    }
    if (counter > kRowCount - 1) {
        auto weak = weakSelf();
        platform::RunLoop::main().perform([weak] {
            if (auto self = weak.lock(); self && !self->closed_)
                self->impressionUpdate();
        });
    }
}

void MoreApps::impressionUpdate() {
    sendPromotionReport(promotionURL(endpoints::kMoreAppsImpression, {{"appId1", std::to_string(appId1)},
                                                                       {"appId2", std::to_string(appId2)},
                                                                       {"appId3", std::to_string(appId3)},
                                                                       {"appId4", std::to_string(appId4)}}));
}

void MoreApps::go2iTunes(platform::Button& button) {
    int i = button.tag() - 1;
    if (i < 0 || static_cast<std::size_t>(i) >= listOfGameName_.size())
        return;
    const platform::Value& entry = listOfGameName_[static_cast<std::size_t>(i)];
    if (memberText(entry, kImageLinkKey) == AsyncImageView::kNoImage) {
        // An "Unable to Load" row: start the whole page over.
        dataRetreive();
        listOfGameName_.clear();
        for (int row = 0; row < kRowCount && myTable_; ++row)
            if (auto cell = myTable_->cellForRowAtIndexPath({0, row}))
                if (auto old = cell->contentView().viewWithTag(row + 1))
                    old->removeFromSuperview();
        isInitial = true;
        isTimeOut = false;
        fillWithPlaceholders(kLoadingTitle, kLoadingTitle);
        loadTable();
        return;
    }
    int* slot = rowAppId(i);
    if (!slot || *slot == 0) {
        platform::logLine(platform::formatString("Button Tag: %d and Index: %d", button.tag(), i));
        auto keep = button.sharedView();
        button.removeFromSuperview();
        loadTable(); // the row's image is loaded again
        return;
    }
    sendPromotionReport(promotionURL(endpoints::kMoreAppsClick, {{"serial", std::to_string(serialOf(entry))}}));
    auto weak = weakSelf();
    platform::RunLoop::main().performAfter(
        kClickOpenDelay,
        [weak, i] {
            if (auto self = weak.lock())
                self->gotoItune(i);
        },
        this, std::string(kGotoItuneName));
}

void MoreApps::gotoItune(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= listOfGameName_.size())
        return;
    std::string link = memberText(listOfGameName_[static_cast<std::size_t>(index)], kAppLinkKey);
    if (!link.empty())
        platform::Application::shared().openURL(link);
}

void MoreApps::callbackSelector(CloseCallback selector, std::weak_ptr<void> delegate) {
    selector_ = std::move(selector);
    delegate_ = std::move(delegate);
}

void MoreApps::back() {
    isBack = true;
    closed_ = true;
    cancelRequests();
    auto delegate = delegate_.lock();
    if (selector_ && delegate)
        selector_(*this);
    else
        dismissModalViewControllerAnimated(true);
    platform::NotificationCenter::defaultCenter().post(kClosedNotification);
}

bool MoreApps::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const {
    return orientation == platform::InterfaceOrientation::Portrait;
}

} // namespace promo
