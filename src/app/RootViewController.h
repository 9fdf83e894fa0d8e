#pragma once
// The root screen: the drive itself.
//
// A table of the user's files in the Documents folder, one row per file with its name line,
// type label, modification date and size (DocumentList.h builds the texts). The list is
// rebuilt on demand (load, the toolbar's refresh item, a sort flip, the settings screen's
// "fileExtension" and "showFile" notifications), honours the view switches "device",
// "extension" and "size" in user defaults, and deletes a file by the table's swipe-to-delete.
//
// Around the list: the pass-key panel that hides the list at start while a key is stored
// (it slides in once the launch screen is gone and unlocks on the right key), the storage
// panel that slides down from the toolbar, the blinking upgrade button, the invitation
// e-mail, the toolbar's news button and the news panel's host side (PushNewsDelegate), the
// more-apps page, and the help and settings screens. Whenever one of these covers the
// screen, the banner host (`adView`) is moved or faded out of the way and brought back.
//
// Its views and outlets come from the main interface builder (loadView). It lives for the
// whole run, on the main thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/DocumentList.h"
#include "app/DriveLayout.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "promo/PushNewsView.h"

namespace app {

// The sort switch: 0 sorts names in descending order, anything else ascending.
extern int reverseSort;
// The upgrade button's blink state.
extern int b;
extern float alpha;
extern float alpha2;
// Returns the globals above to their starting values.
void resetRootScreenStateForTesting();

// User-defaults keys of the document list and the lock.
inline constexpr std::string_view kFirstTimeKey = "firstTime";
inline constexpr std::string_view kFirstTimeDoneValue = "noFirst";
inline constexpr std::string_view kShowSizeKey = "size";
inline constexpr std::string_view kShowFilesKey = "device";
inline constexpr std::string_view kShowExtensionKey = "extension";
inline constexpr std::string_view kPassKeyKey = "passKey";
inline constexpr std::string_view kSecurityKey = "security";
// Notifications from the settings screen.
inline constexpr std::string_view kFileExtensionNotification = "fileExtension";
inline constexpr std::string_view kShowFileNotification = "showFile";

// Storage figures in gigabytes from a byte count: whole megabytes (truncated), as a float,
// × 1/1024.
float gigabytesFromBytes(std::int64_t bytes);

class RootViewController : public platform::ViewController,
                           public platform::TableViewDataSource,
                           public platform::TableViewDelegate,
                           public platform::MailComposeViewControllerDelegate,
                           public promo::PushNewsDelegate {
public:
    // ---- Numbers of the screen ----
    static constexpr double kRowHeight = 70;
    static constexpr const char* kCellIdentifier = "Cell";
    static constexpr const char* kRowBackgroundImage = "Bar3.png";
    static constexpr int kNameLabelTag = 1000;
    static constexpr int kTypeLabelTag = 1001;
    static constexpr int kDateLabelTag = 1002;
    static constexpr int kSizeLabelTag = 1003;
    static constexpr double kPassCodeSlide = layout::kPassCodeViewHeight;
    static constexpr double kPassCodeSlideDuration = 0.3;
    static constexpr double kAlertPollInterval = 1.0;
    static constexpr double kMemorySlide = layout::kMemoryViewHeight;
    static constexpr double kMemorySlideDuration = 0.3;
    static constexpr double kBlinkInterval = 1.0;
    static constexpr double kBannerMoveDuration = 0.5;
    static constexpr double kNewsSlideDuration = 0.5;

    RootViewController();
    ~RootViewController() override;

    std::shared_ptr<RootViewController> sharedRoot();

    // ---- View life cycle ----
    void loadView() override; // the main interface's root view and outlets
    void viewDidLoad() override;

    // ---- Document list ----
    // Rebuilds the list from the folder (also the refresh item's action).
    void hideShowFileExtension();
    // Applies the "device" switch (on "showFile").
    void showHiddien();
    // Flips the sort order and rebuilds.
    void sortArray();
    // Toggles the table's editing mode.
    void tableEdit();

    // ---- Pass-key lock ----
    // YES from a load with a stored key until the right key is entered. While locked, the
    // controls that reach the key or the files (settings, edit, row deletion) do nothing;
    // the pass-key panel and the extras stay usable.
    bool isLocked() const { return locked_; }
    void checkForAlert();
    void passCodeDone();
    void shakeEffect();
    void done();
    // Back in the foreground while still locked: a panel faded by `done` shows again, with
    // the number pad, so the person can always reach the key entry.
    void passCodePanelReturns();
    void setting();

    // ---- Extras ----
    void showMemory();
    void upgradeNowMethod();
    void blinkUpgrade();
    void email();
    void moreApps();
    void help();
    void isBackgroundPush();
    // Storage figures of the home directory's file system, and the kernel's memory facts.
    static std::int64_t getSysInfo(int typeSpecifier);
    static std::int64_t totalMemory();
    static std::int64_t userMemory();
    static std::int64_t freeDiskSpace();
    static std::int64_t totalDiskSpace();

    // ---- Table data source and delegate ----
    std::optional<int> numberOfSectionsInTableView(platform::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(platform::TableView&, int section) override;
    std::shared_ptr<platform::TableViewCell>
    tableViewCellForRowAtIndexPath(platform::TableView& tableView,
                                   const platform::IndexPath& indexPath) override;
    std::optional<bool> tableViewCanEditRowAtIndexPath(platform::TableView&,
                                                       const platform::IndexPath&) override {
        return !locked_;
    }
    void tableViewCommitEditingStyleForRowAtIndexPath(platform::TableView& tableView,
                                                      platform::TableViewCellEditingStyle style,
                                                      const platform::IndexPath& indexPath) override;
    bool responds(std::string_view selector) const override;
    std::optional<double> tableViewHeightForRowAtIndexPath(platform::TableView&,
                                                           const platform::IndexPath&) override {
        return kRowHeight;
    }
    void tableViewDidSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath&) override {}

    // ---- Mail composer delegate ----
    void mailComposeController(platform::MailComposeViewController& controller,
                               platform::MailComposeResult result,
                               const std::optional<platform::Error>& error) override;

    // ---- News panel host ----
    void showNews(promo::PushNewsView& panel) override;
    void hideNews(promo::PushNewsView& panel) override;
    void hideNewsButton() override;

    // ---- The list, as the rows show it ----
    std::vector<std::string> fileList;           // each row's name line
    int fileCount = 0;                           // rows the table shows
    std::vector<std::string> fileExtensionArray; // each row's type label, empty while hidden
    std::vector<std::string> fileExtempArray;    // the labels of the latest listing
    std::vector<std::string> fileSizeArray;      // each row's size text
    std::vector<std::string> fileModDate;        // each row's date text
    // The file each row was built from, parallel to fileList.
    const std::vector<DocumentFile>& rowFiles() const { return rowFiles_; }

    // ---- Outlets (from the main interface) ----
    std::shared_ptr<platform::TableView> fileTable;
    std::shared_ptr<platform::Toolbar> toolBar;
    std::shared_ptr<platform::View> passCodeView;
    std::shared_ptr<platform::TextField> pass1;
    std::shared_ptr<platform::Label> passLabel;
    std::shared_ptr<platform::View> memoryView;
    std::shared_ptr<platform::Label> totalMemoryLabel; // outlet `totalMemory`
    std::shared_ptr<platform::Label> freeMemory;
    std::shared_ptr<platform::Label> usedMemory;

    // ---- Views and items made at load ----
    std::shared_ptr<promo::PushNewsView> pushNews;
    std::shared_ptr<platform::Button> memoryButton;
    std::shared_ptr<platform::Button> upgradeButon;
    std::shared_ptr<platform::ImageView> imageV; // the upgrade overlay
    bool showMemoryPanel = false;                // field `showMemory`: the storage panel is down
    std::shared_ptr<platform::BarButtonItem> refreshButton;
    std::shared_ptr<platform::BarButtonItem> editButton;
    std::shared_ptr<platform::BarButtonItem> memoryBtn;
    std::shared_ptr<platform::BarButtonItem> upgradeBtn;
    std::shared_ptr<platform::BarButtonItem> fixedHeight;
    std::shared_ptr<platform::BarButtonItem> fixedHeight2;

private:
    // Fills the row columns from `files` under the current "extension" switch; with `labels`,
    // appends each file's type label there as well, in the same pass.
    void buildRows(std::vector<DocumentFile> files, std::vector<std::string>* labels = nullptr);
    void setUpExtras();
    void setUpToolbar();
    void computeStorageFigures();
    std::vector<std::shared_ptr<platform::BarButtonItem>> toolbarItemList() const;
    void showAlert(const std::string& title, const std::string& message);

    std::vector<DocumentFile> rowFiles_;
    std::vector<platform::NotificationCenter::ObserverToken> observers_;
    bool locked_ = false;
};

// Moves or fades the banner host in the animation "halo" of 0.5 s; nothing happens while no
// banner host exists. A move gives the host the device's banner frame at `y`
// (layout::bannerHostY() or layout::bannerHostAsideY()).
void moveBannerHost(double y);
void fadeBannerHost(double value);

} // namespace app
