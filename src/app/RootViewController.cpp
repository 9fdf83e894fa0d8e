// The root screen's set-up and its document list.
#include "app/RootViewController.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/AppConfiguration.h"
#include "app/FerrowickAppDelegate.h"
#include "app/MainInterface.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableViewCell.h"

namespace app {

int reverseSort = 0;

namespace {

// The four labels of a row: tag, frame, font size, and whether the text is dimmed.
struct RowLabel {
    int tag;
    double x, y, width, height;
    double fontSize;
    bool dimmed;
};
constexpr RowLabel kRowLabels[] = {
    {RootViewController::kNameLabelTag, 8, -6, 250, 35, 17, false},
    {RootViewController::kTypeLabelTag, 8, 23, 200, 25, 12, true},
    {RootViewController::kDateLabelTag, 8, 42, 250, 25, 12, true},
    {RootViewController::kSizeLabelTag, 230, 42, 60, 25, 12, true},
};
constexpr double kDimmedTextAlpha = 0.8;
// The phone's row is this wide; a wider row (the tablet's) gives the name line its extra width,
// keeping the phone's margins, so a long name shows as much as the row holds.
constexpr double kPhoneRowWidth = 320;
constexpr double kNewsButtonX = 60, kNewsButtonY = 100, kNewsButtonWidth = 40, kNewsButtonHeight = 30;

bool defaultsBool(std::string_view key) {
    return platform::UserDefaults::standard().boolForKey(key);
}

// "(a, b, c)": a listing in a log line.
std::string describeNames(const std::vector<std::string>& names) {
    return "(" + platform::join(names, ", ") + ")";
}

std::vector<std::string> namesOf(const std::vector<DocumentFile>& files) {
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const auto& f : files)
        names.push_back(f.name);
    return names;
}

void setLabelText(platform::TableViewCell& cell, int tag, std::string text) {
    if (auto label = std::dynamic_pointer_cast<platform::Label>(cell.contentView().viewWithTag(tag)))
        label->setText(std::move(text));
}

} // namespace

RootViewController::RootViewController() = default;

RootViewController::~RootViewController() {
    for (auto token : observers_)
        platform::NotificationCenter::defaultCenter().removeObserver(token);
}

std::shared_ptr<RootViewController> RootViewController::sharedRoot() {
    return std::static_pointer_cast<RootViewController>(shared_from_this());
}

void RootViewController::loadView() {
    loadRootViewInterface(*this);
}

void RootViewController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    auto self = sharedRoot();
    auto& defaults = platform::UserDefaults::standard();
    auto& center = platform::NotificationCenter::defaultCenter();

    // 1. The news panel.
    pushNews = std::make_shared<promo::PushNewsView>();
    pushNews->setDelegate(self);
    pushNews->setAppStoreIdentifier(std::string(kFreeEditionStoreIdentifier));
    pushNews->getNewsData();
    pushNews->newsButtonFrame(
        platform::Rect(kNewsButtonX, kNewsButtonY, kNewsButtonWidth, kNewsButtonHeight));
    if (promo::isPush)
        pushNews->showNews();
    observers_.push_back(center.observe<RootViewController>(
        self, kBackgroundPushNotification,
        [](RootViewController& root, const platform::Notification&) { root.isBackgroundPush(); }));

    // 2. First run.
    if (!defaults.stringForKey(kFirstTimeKey)) {
        platform::logLine("first");
        defaults.setBool(kShowSizeKey, true);
        defaults.setBool(kShowFilesKey, true);
        defaults.setBool(kShowExtensionKey, true);
        defaults.setString(kFirstTimeKey, kFirstTimeDoneValue);
    }
    platform::logLine(platform::formatString("ext: %d", defaultsBool(kShowExtensionKey) ? 1 : 0));

    // 3. The lock.
    if (!defaults.stringForKey(kPassKeyKey).value_or("").empty()) {
        locked_ = true;
        fileTable->setHidden(true);
        if (auto nav = navigationController())
            nav->navigationBar().setUserInteractionEnabled(false);
        checkForAlert();
    }

    // 4. Colours, storage panel, upgrade button, blink timer.
    setUpExtras();
    // 5. Toolbar.
    setUpToolbar();
    // 6. Storage figures.
    computeStorageFigures();

    // 7. The first list, without the news panel's seen list.
    auto listing = listDocuments(platform::DeviceHome::documents(), reverseSort);
    platform::logLine("files: " + describeNames(namesOf(listing)));
    std::vector<DocumentFile> firstList;
    firstList.reserve(listing.size());
    for (auto& file : listing)
        if (file.name != kSavedDataFileName)
            firstList.push_back(file);

    // 8. Labels of the full listing; the rows of the first list.
    fileExtempArray.clear();
    for (const auto& file : listing)
        fileExtempArray.push_back(typeLabel(file.name, file.isDirectory));
    buildRows(std::move(firstList));

    // 9. Rebuild.
    hideShowFileExtension();

    // 10. The settings screen's notifications.
    observers_.push_back(center.observe<RootViewController>(
        self, kFileExtensionNotification,
        [](RootViewController& root, const platform::Notification&) { root.hideShowFileExtension(); }));
    observers_.push_back(center.observe<RootViewController>(
        self, kShowFileNotification,
        [](RootViewController& root, const platform::Notification&) { root.showHiddien(); }));
    // A pass-key panel faded by Cancel comes back when the application returns.
    observers_.push_back(center.observe<RootViewController>(
        self, platform::kApplicationWillEnterForegroundNotification,
        [](RootViewController& root, const platform::Notification&) { root.passCodePanelReturns(); }));
}

void RootViewController::buildRows(std::vector<DocumentFile> files, std::vector<std::string>* labels) {
    bool showExtension = defaultsBool(kShowExtensionKey);
    DocumentDateFormatter formatDate;
    rowFiles_ = std::move(files);
    // The columns keep their strings from the last build and are written over, so a rebuild
    // of a long list reuses their memory instead of freeing and allocating every text.
    const std::size_t count = rowFiles_.size();
    fileList.resize(count);
    fileSizeArray.resize(count);
    fileModDate.resize(count);
    fileExtensionArray.resize(showExtension ? count : 0);
    if (labels)
        labels->reserve(count);
    // One pass, so each file's name is read once while it is at hand: in a large folder the
    // names of the sorted files lie scattered in memory, and each pass over them costs a cache
    // miss per name.
    constexpr std::size_t kLookAhead = 8;
    for (std::size_t i = 0; i < count; ++i) {
        // The names' bytes lie where the folder's order put them: ask for one a few rows
        // ahead early, so its load overlaps the work on this row.
        if (i + kLookAhead < count)
            __builtin_prefetch(rowFiles_[i + kLookAhead].name.data());
        const DocumentFile& file = rowFiles_[i];
        std::string label;
        if (showExtension || labels)
            label = typeLabel(file.name, file.isDirectory);
        if (labels)
            labels->push_back(label);
        fileSizeArray[i] = sizeText(file.size);
        formatDate.write(file.modificationDate, fileModDate[i]);
        if (showExtension) {
            fileList[i] = file.name;
            fileExtensionArray[i] = std::move(label);
        } else {
            fileList[i] = nameWithoutExtension(file.name);
        }
    }
    fileCount = static_cast<int>(fileList.size());
}

void RootViewController::hideShowFileExtension() {
    auto listing = listDocuments(platform::DeviceHome::documents(), reverseSort);
    fileExtempArray.clear();

    // With the files hidden the rows stay as they are, each with its own file's texts.
    if (!defaultsBool(kShowFilesKey)) {
        fileExtempArray.reserve(listing.size());
        for (const auto& file : listing)
            fileExtempArray.push_back(typeLabel(file.name, file.isDirectory));
        return;
    }

    bool showExtension = defaultsBool(kShowExtensionKey);
    // The rows are the whole listing here, so their pass also gives the listing's labels.
    buildRows(std::move(listing), &fileExtempArray);
    if (!showExtension)
        platform::logLine("file: " + describeNames(fileList));
    if (fileTable)
        fileTable->reloadData();
}

void RootViewController::showHiddien() {
    if (defaultsBool(kShowFilesKey)) {
        hideShowFileExtension();
        fileCount = static_cast<int>(fileList.size());
    } else {
        fileCount = 0;
    }
    if (fileTable)
        fileTable->reloadData();
}

void RootViewController::sortArray() {
    reverseSort = reverseSort == 0 ? 1 : 0;
    hideShowFileExtension();
}

void RootViewController::tableEdit() {
    if (locked_)
        return;
    bool editing = !fileTable->isEditing();
    fileTable->setEditing(editing, true);
    navigationItem().setRightBarButtonItem(nullptr);
    constexpr double kEditingSpace = 12, kNormalSpace = 15;
    fixedHeight->setWidth(editing ? kEditingSpace : kNormalSpace);
    toolBar->setItems(toolbarItemList(), true);
}

std::vector<std::shared_ptr<platform::BarButtonItem>> RootViewController::toolbarItemList() const {
    return {refreshButton, fixedHeight2, memoryBtn, upgradeBtn, fixedHeight, editButton};
}

void RootViewController::setUpToolbar() {
    constexpr double kSmallSpace = 10, kLargeSpace = 19;
    refreshButton = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Refresh);
    refreshButton->setStyle(platform::BarButtonItemStyle::Bordered);
    refreshButton->setTarget(sharedRoot(), &RootViewController::hideShowFileExtension);
    editButton = platform::BarButtonItem::withCustomView(pushNews->newsButton());
    memoryBtn = platform::BarButtonItem::withCustomView(memoryButton);
    upgradeBtn = platform::BarButtonItem::withCustomView(upgradeButon);
    fixedHeight2 = platform::BarButtonItem::fixedSpace(kSmallSpace);
    fixedHeight = platform::BarButtonItem::fixedSpace(kLargeSpace);
    toolBar->setItems(toolbarItemList(), true);
}

int RootViewController::tableViewNumberOfRowsInSection(platform::TableView&, int) {
    return fileCount;
}

std::shared_ptr<platform::TableViewCell>
RootViewController::tableViewCellForRowAtIndexPath(platform::TableView& tableView,
                                                   const platform::IndexPath& indexPath) {
    auto cell = tableView.dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) {
        cell = std::make_shared<platform::TableViewCell>(platform::TableViewCellStyle::Subtitle,
                                                         kCellIdentifier);
        cell->setBackgroundView(std::make_shared<platform::ImageView>());
        cell->setSelectedBackgroundView(std::make_shared<platform::ImageView>());
        const double extraWidth = std::max(0.0, tableView.bounds().width() - kPhoneRowWidth);
        for (const RowLabel& item : kRowLabels) {
            double width = item.width + (item.tag == kNameLabelTag ? extraWidth : 0);
            auto label =
                std::make_shared<platform::Label>(platform::Rect(item.x, item.y, width, item.height));
            label->setTag(item.tag);
            label->setFont(platform::Font::systemFont(item.fontSize));
            label->setTextColor(item.dimmed ? platform::Color::blackColor().withAlpha(kDimmedTextAlpha)
                                            : platform::Color::blackColor());
            label->setBackgroundColor(platform::Color::clearColor());
            label->setTextAlignment(platform::TextAlignment::Left);
            cell->contentView().addSubview(label);
        }
    }
    auto background = platform::Image::named(kRowBackgroundImage);
    for (const auto& view : {cell->backgroundView(), cell->selectedBackgroundView()})
        if (auto imageView = std::dynamic_pointer_cast<platform::ImageView>(view))
            imageView->setImage(background);

    auto row = static_cast<std::size_t>(indexPath.row);
    bool inRange = row < fileList.size();
    setLabelText(*cell, kNameLabelTag, inRange ? fileList[row] : std::string());
    setLabelText(*cell, kTypeLabelTag,
                 inRange && fileExtensionArray.size() == fileList.size() ? fileExtensionArray[row]
                                                                         : std::string());
    setLabelText(*cell, kSizeLabelTag,
                 inRange && defaultsBool(kShowSizeKey) && row < fileSizeArray.size() ? fileSizeArray[row]
                                                                                     : std::string());
    setLabelText(*cell, kDateLabelTag,
                 inRange && row < fileModDate.size() ? fileModDate[row] : std::string());
    cell->setSelectionStyle(platform::TableViewCellSelectionStyle::None);
    return cell;
}

bool RootViewController::responds(std::string_view selector) const {
    return selector == platform::kCommitEditingStyleSelector;
}

void RootViewController::tableViewCommitEditingStyleForRowAtIndexPath(platform::TableView& tableView,
                                                                      platform::TableViewCellEditingStyle,
                                                                      const platform::IndexPath& indexPath) {
    if (locked_)
        return;
    auto row = static_cast<std::size_t>(indexPath.row);
    if (row >= rowFiles_.size() || row >= fileList.size())
        return;
    const std::string name = rowFiles_[row].name;
    platform::Error error;
    // A file already gone (removed through file sharing since the listing) counts as deleted.
    if (!platform::FileManager::removeItem(platform::DeviceHome::documents() / name, &error) &&
        !(error.domain == platform::kPOSIXErrorDomain && error.code == ENOENT)) {
        // The file is still there, so its row stays, and the user learns why.
        platform::logLine("delete failed: " + error.description());
        // The reason alone: the error's own text spells out the device's whole path.
        std::string reason = error.domain == platform::kPOSIXErrorDomain ? std::strerror(int(error.code))
                                                                         : error.localizedDescription;
        showAlert("Could not delete", "\"" + name + "\" could not be deleted.\n" + reason);
        return;
    }
    bool labelPerRow = fileExtensionArray.size() == fileList.size();
    auto at = [row](auto& column) {
        if (row < column.size())
            column.erase(column.begin() + static_cast<std::ptrdiff_t>(row));
    };
    at(fileList);
    at(fileSizeArray);
    at(fileModDate);
    at(rowFiles_);
    if (labelPerRow)
        at(fileExtensionArray);
    fileCount = static_cast<int>(fileList.size());
    tableView.deleteRowsAtIndexPaths({indexPath}, platform::TableViewRowAnimation::Fade);
}

void RootViewController::showAlert(const std::string& title, const std::string& message) {
    platform::AlertView::create(title, message, {}, std::string("OK"))->show();
}

} // namespace app
