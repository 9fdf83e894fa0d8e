// The root screen's extras: storage panel, upgrade button, invitation e-mail, news panel
// host, more-apps page, help, and the banner host's moves around them.
#include <sys/sysinfo.h>
#include <unistd.h>

#include "app/AppConfiguration.h"
#include "app/FerrowickAppDelegate.h"
#include "app/HelpPage.h"
#include "app/RootViewController.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "promo/MoreApps.h"
#include "promo/StorePage.h"

namespace app {

int b = 0;
float alpha = 0;
float alpha2 = 0;

void resetRootScreenStateForTesting() {
    reverseSort = 0;
    b = 0;
    alpha = 0;
    alpha2 = 0;
}

namespace {

constexpr const char* kBannerAnimation = "halo";
constexpr const char* kMemoryAnimation = "view";
constexpr const char* kBlinkAnimation = "Blink";
constexpr const char* kNewsAnimation = "push";
constexpr int kBlinkCycle = 5; // the blink counter returns to 0 past this

constexpr const char* kArrowDown = "Arrow_2.png";
constexpr const char* kArrowDownHighlighted = "Arrow_21.png";
constexpr const char* kArrowUp = "Arrow_1.png";
constexpr const char* kArrowUpHighlighted = "Arrow_11.png";
constexpr const char* kUpgradeImage = "upgrade.png";
constexpr const char* kUpgradeImageDim = "upgrade1.png";

const platform::Rect kMemoryButtonFrame{100, 2, 30, 40};
const platform::Rect kUpgradeOverlayFrame{100, 1, 140, 40};
const platform::Rect kUpgradeButtonFrame{70, 2, 140, 40};

constexpr std::int64_t kBytesPerMegabyte = 1048576;
constexpr float kMegabytesToGigabytes = 1.0f / 1024.0f;

// Kernel facts by the hardware query numbers: 5 physical memory, 6 user memory.
constexpr int kHardwarePhysicalMemory = 5;
constexpr int kHardwareUserMemory = 6;

std::int64_t physicalMemoryBytes() {
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<std::int64_t>(pages) * pageSize : 0;
}

// Memory left to processes once the kernel has taken its own.
std::int64_t userMemoryBytes() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0)
        return 0;
    return static_cast<std::int64_t>(info.totalram) * info.mem_unit;
}

struct SysInfoEntry {
    int typeSpecifier;
    std::int64_t (*read)();
};
constexpr SysInfoEntry kSysInfo[] = {
    {kHardwarePhysicalMemory, physicalMemoryBytes},
    {kHardwareUserMemory, userMemoryBytes},
};

constexpr const char* kInvitationBodyStart =
    "<p>Hello,</p><p>I have found Ferro Wick at App Store which is helping me to transfer movies, music even "
    "games to my friend's iPhone. It works like a USB flash drive.</p> <p>Check out this cool app on "
    "Appstore. "
    "-<a href = ";
constexpr const char* kInvitationBodyEnd = " >%s</a></p><p>\n\nThanks.</p>";
constexpr const char* kAttachmentMimeType = "image/png";

void setImages(platform::Button& button, const char* normal, const char* highlighted) {
    button.setImage(platform::Image::named(normal), platform::ControlState::Normal);
    button.setImage(platform::Image::named(highlighted), platform::ControlState::Highlighted);
}

void showOKAlert(const std::string& title, const std::string& message) {
    platform::AlertView::create(title, message, {}, std::string("OK"))->show();
}

} // namespace

float gigabytesFromBytes(std::int64_t bytes) {
    return static_cast<float>(bytes / kBytesPerMegabyte) * kMegabytesToGigabytes;
}

void moveBannerHost(double y) {
    if (!adView)
        return;
    platform::View::beginAnimations(kBannerAnimation);
    platform::View::setAnimationDuration(RootViewController::kBannerMoveDuration);
    adView->setFrame(layout::bannerHostFrameAt(y));
    platform::View::commitAnimations();
}

void fadeBannerHost(double value) {
    if (!adView)
        return;
    platform::View::beginAnimations(kBannerAnimation);
    platform::View::setAnimationDuration(RootViewController::kBannerMoveDuration);
    adView->setAlpha(value);
    platform::View::commitAnimations();
}

void RootViewController::setUpExtras() {
    auto self = sharedRoot();
    const platform::Color grey = platform::Color::grayColor();
    if (auto nav = navigationController())
        nav->navigationBar().setTintColor(grey);
    toolBar->setTintColor(grey);
    memoryView->setBackgroundColor(grey);

    memoryButton = std::make_shared<platform::Button>(kMemoryButtonFrame, platform::ButtonType::Custom);
    memoryButton->addTarget(self, &RootViewController::showMemory, platform::ControlEvent::TouchUpInside);
    setImages(*memoryButton, kArrowDown, kArrowDownHighlighted);
    memoryButton->setAccessibilityLabel("Storage");

    imageV = std::make_shared<platform::ImageView>(kUpgradeOverlayFrame);
    imageV->setImage(platform::Image::named(kUpgradeImage));
    imageV->setFrame(kUpgradeOverlayFrame);
    imageV->setUserInteractionEnabled(false);
    view()->addSubview(imageV);

    upgradeButon = std::make_shared<platform::Button>(kUpgradeButtonFrame, platform::ButtonType::Custom);
    upgradeButon->addTarget(self, &RootViewController::upgradeNowMethod, platform::ControlEvent::TouchDown);
    upgradeButon->setAccessibilityLabel("Upgrade");
    setImages(*upgradeButon, kUpgradeImageDim, kUpgradeImage);

    // Runs for the whole run; the run loop holds it.
    platform::Timer::scheduled(kBlinkInterval, true, [self](platform::Timer&) { self->blinkUpgrade(); });
}

void RootViewController::computeStorageFigures() {
    float freeGB = gigabytesFromBytes(freeDiskSpace());
    float totalGB = gigabytesFromBytes(totalDiskSpace());
    float usedGB = totalGB - freeGB;
    freeMemory->setText(platform::formatString("Free Memory: %.2f GB", static_cast<double>(freeGB)));
    totalMemoryLabel->setText(platform::formatString("Total Memory: %.2f GB", static_cast<double>(totalGB)));
    usedMemory->setText(platform::formatString("Used Memory: %.2f GB", static_cast<double>(usedGB)));
}

std::int64_t RootViewController::getSysInfo(int typeSpecifier) {
    for (const auto& entry : kSysInfo)
        if (entry.typeSpecifier == typeSpecifier)
            return entry.read();
    return 0;
}

std::int64_t RootViewController::totalMemory() {
    return getSysInfo(kHardwarePhysicalMemory);
}
std::int64_t RootViewController::userMemory() {
    return getSysInfo(kHardwareUserMemory);
}

std::int64_t RootViewController::freeDiskSpace() {
    auto fs = platform::FileManager::attributesOfFileSystem(platform::DeviceHome::root());
    return fs ? static_cast<std::int64_t>(fs->freeSize) : 0;
}

std::int64_t RootViewController::totalDiskSpace() {
    auto fs = platform::FileManager::attributesOfFileSystem(platform::DeviceHome::root());
    return fs ? static_cast<std::int64_t>(fs->totalSize) : 0;
}

void RootViewController::showMemory() {
    showMemoryPanel = !showMemoryPanel;
    platform::View::beginAnimations(kMemoryAnimation);
    platform::View::setAnimationDuration(kMemorySlideDuration);
    memoryView->setFrame(memoryView->frame().offsetBy(0, showMemoryPanel ? kMemorySlide : -kMemorySlide));
    platform::View::commitAnimations();
    if (showMemoryPanel)
        setImages(*memoryButton, kArrowUp, kArrowUpHighlighted);
    else
        setImages(*memoryButton, kArrowDown, kArrowDownHighlighted);
}

void RootViewController::blinkUpgrade() {
    int v = b;
    alpha = (v % 2 != 0) ? 1.0f : 0.0f;
    alpha2 = 1.0f - alpha;
    b = v + 1;
    if (b > kBlinkCycle)
        b = 0;
    platform::View::beginAnimations(kBlinkAnimation);
    platform::View::setAnimationDuration(kBlinkInterval);
    upgradeButon->setAlpha(alpha);
    imageV->setAlpha(alpha2);
    platform::View::commitAnimations();
}

void RootViewController::upgradeNowMethod() {
    promo::openStorePage(kPaidEditionStoreIdentifier);
}

void RootViewController::email() {
    fadeBannerHost(0);
    if (!platform::MailComposeViewController::canSendMail()) {
        showOKAlert("Email", "This device cannot send e-mail.\nPlease set up a mail account first.");
        fadeBannerHost(1);
        return;
    }
    std::string body = kInvitationBodyStart + promo::storePageURL(kFreeEditionStoreIdentifier) +
                       platform::formatString(kInvitationBodyEnd, std::string(kApplicationName).c_str());

    auto composer = platform::MailComposeViewController::create();
    composer->setMailComposeDelegate(sharedRoot());
    composer->navigationBar().setTintColor(platform::Color::grayColor());
    composer->setSubject(std::string(kApplicationName));
    composer->setBccRecipients({std::string(kPublisherBlindCopyAddress)});
    if (auto image = platform::Image::named(kLaunchImageName))
        composer->addAttachmentData(image->pngRepresentation(), kAttachmentMimeType,
                                    std::string(kLaunchImageName));
    composer->setMessageBody(body, true);
    presentModalViewController(composer, true);
}

void RootViewController::mailComposeController(platform::MailComposeViewController&,
                                               platform::MailComposeResult result,
                                               const std::optional<platform::Error>&) {
    becomeFirstResponder();
    fadeBannerHost(1);
    dismissModalViewControllerAnimated(true);
    if (result == platform::MailComposeResult::Sent)
        showOKAlert("Email", "Email sent successfully!");
    else if (result == platform::MailComposeResult::Failed)
        showOKAlert("Email", "There is an error.\nPlease try again later.");
}

void RootViewController::moreApps() {
    presentModalViewController(std::make_shared<promo::MoreApps>(), true);
}

void RootViewController::help() {
    moveBannerHost(layout::bannerHostAsideY());
    presentModalViewController(platform::NavigationController::create(std::make_shared<HelpPage>()), true);
}

void RootViewController::showNews(promo::PushNewsView& panel) {
    if (auto button = panel.newsButton())
        button->setEnabled(false);
    if (!panel.isViewAdded()) {
        panel.setFrame(layout::newsPanelHiddenFrame());
        view()->addSubview(panel.sharedView());
        panel.setIsViewAdded(true);
    }
    platform::View::beginAnimations(kNewsAnimation);
    platform::View::setAnimationDuration(kNewsSlideDuration);
    panel.setFrame(layout::newsPanelShownFrame());
    if (adView)
        adView->setAlpha(0);
    platform::View::commitAnimations();
}

void RootViewController::hideNews(promo::PushNewsView& panel) {
    if (auto button = panel.newsButton())
        button->setEnabled(true);
    platform::View::beginAnimations(kNewsAnimation);
    platform::View::setAnimationDuration(kNewsSlideDuration);
    panel.setFrame(layout::newsPanelHiddenFrame());
    if (adView)
        adView->setAlpha(1);
    platform::View::commitAnimations();
}

void RootViewController::hideNewsButton() {
    if (pushNews && pushNews->newsButton())
        pushNews->newsButton()->removeFromSuperview();
}

void RootViewController::isBackgroundPush() {
    if (pushNews)
        pushNews->showNews();
}

} // namespace app
