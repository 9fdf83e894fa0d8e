#include "app/DriveLayout.h"

#include "platform/ui/Device.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Toolbar.h"

namespace app::layout {
namespace {

constexpr platform::Size kPhoneBannerSize{320, 53};
constexpr platform::Size kTabletBannerSize{728, 90};
constexpr double kActionRowHeight = 24;
constexpr platform::Size kNewsPanelSize{320, 300};
constexpr double kNewsPanelHiddenBelow = 64; // below the root view's bottom
constexpr double kNewsPanelShownAbove = 256; // above the root view's bottom
constexpr platform::Size kHelpPageSize{320, 416};

platform::Size screenSize() {
    return platform::Screen::main().bounds().size;
}

// The navigation view fills the screen below the status bar. The status bar's own state is
// not read: it hides while full-screen ads show, and the drive's frames stay where they are.
double navigationViewHeight() {
    return screenSize().height - platform::kStatusBarHeight;
}

double rootViewHeight() {
    return navigationViewHeight() - platform::kNavigationBarHeight;
}

// A frame of the given size, centred across the screen's width.
platform::Rect centredAcross(platform::Size size, double y) {
    return platform::Rect((screenSize().width - size.width) / 2, y, size.width, size.height);
}

} // namespace

platform::Size bannerSize() {
    return platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet
               ? kTabletBannerSize
               : kPhoneBannerSize;
}

double bannerHostY() {
    return navigationViewHeight() - kActionRowHeight - bannerSize().height;
}

double bannerHostAsideY() {
    return bannerHostY() + platform::kNavigationBarHeight;
}

platform::Rect bannerHostFrameAt(double y) {
    return centredAcross(bannerSize(), y);
}

platform::Rect bannerHostFrame() {
    return bannerHostFrameAt(bannerHostY());
}

platform::Rect rootViewFrame() {
    return platform::Rect(0, 0, screenSize().width, rootViewHeight());
}

platform::Rect toolbarFrame() {
    return platform::Rect(0, 0, screenSize().width, platform::kToolbarHeight);
}

platform::Rect fileTableFrame() {
    // From under the toolbar to the top of the banner host (in the root view).
    const double top = platform::kToolbarHeight;
    const double bottom = bannerHostY() - platform::kNavigationBarHeight;
    return platform::Rect(0, top, screenSize().width, bottom - top);
}

platform::Rect actionRowFrame() {
    return platform::Rect(0, rootViewHeight() - kActionRowHeight, screenSize().width, kActionRowHeight);
}

platform::Rect memoryViewFrame() {
    return platform::Rect(0, platform::kToolbarHeight - kMemoryViewHeight, screenSize().width,
                          kMemoryViewHeight);
}

platform::Rect passCodeViewFrame() {
    return platform::Rect(0, platform::kToolbarHeight - kPassCodeViewHeight, screenSize().width,
                          kPassCodeViewHeight);
}

platform::Rect newsPanelHiddenFrame() {
    return centredAcross(kNewsPanelSize, rootViewHeight() + kNewsPanelHiddenBelow);
}

platform::Rect newsPanelShownFrame() {
    if (platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Phone)
        return centredAcross(kNewsPanelSize, rootViewHeight() - kNewsPanelShownAbove);
    // A larger screen has room for the whole panel above the action row: it rests on that row,
    // where the faded banner host was, and leaves Invite and More free.
    return centredAcross(kNewsPanelSize, actionRowFrame().minY() - kNewsPanelSize.height);
}

platform::Rect helpPagesFrame() {
    return centredAcross(kHelpPageSize, (rootViewHeight() - kHelpPageSize.height) / 2);
}

} // namespace app::layout
