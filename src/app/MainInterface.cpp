#include "app/MainInterface.h"

#include "app/AppConfiguration.h"
#include "app/FerrowickAppDelegate.h"
#include "app/HelpPage.h"
#include "app/RootViewController.h"
#include "app/SettingsView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Device.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"

namespace app {
namespace {

const platform::Rect kContentFrame{0, 0, 320, 416};
const platform::Rect kToolbarFrame{0, 0, 320, 44};
// The list ends where the banner host begins (y 383 in the navigation view, 339 here).
const platform::Rect kFileTableFrame{0, 44, 320, 295};
// Both panels wait above the toolbar, behind it, until they slide down.
const platform::Rect kMemoryViewFrame{0, -56, 320, 100};
const platform::Rect kPassCodeViewFrame{0, -76, 320, 120};
// The row of action buttons sits right under the banner host, which is 53 high on a phone
// and 90 on a tablet (the navigation bar above this view is 44 high).
constexpr double kNavigationBarHeight = 44, kPhoneBannerHeight = 53, kTabletBannerHeight = 90;
constexpr double kActionRowHeight = 24;

double actionRowY() {
    bool tablet = platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet;
    return kBannerHostY - kNavigationBarHeight + (tablet ? kTabletBannerHeight : kPhoneBannerHeight);
}
constexpr unsigned kFlexibleSize =
    platform::Autoresizing::FlexibleWidth | platform::Autoresizing::FlexibleHeight;

// The storage panel's labels.
struct MemoryLabel {
    std::shared_ptr<platform::Label> RootViewController::*outlet;
    double y;
};
constexpr MemoryLabel kMemoryLabels[] = {
    {&RootViewController::totalMemoryLabel, 8},
    {&RootViewController::freeMemory, 38},
    {&RootViewController::usedMemory, 68},
};

// The row of buttons under the banner host, wired to the root screen's actions.
struct ActionButton {
    const char* title;
    void (RootViewController::*action)();
};
constexpr ActionButton kActionButtons[] = {
    {"Sort", &RootViewController::sortArray}, {"Edit", &RootViewController::tableEdit},
    {"Invite", &RootViewController::email},   {"More", &RootViewController::moreApps},
    {"Help", &RootViewController::help},      {"Settings", &RootViewController::setting},
};

std::shared_ptr<platform::Button> titledButton(const platform::Rect& frame, const char* title) {
    auto button = std::make_shared<platform::Button>(frame, platform::ButtonType::RoundedRect);
    button->setTitle(title);
    return button;
}

std::shared_ptr<platform::View> contentView() {
    auto view = std::make_shared<platform::View>(kContentFrame);
    view->setBackgroundColor(platform::Color::whiteColor());
    view->setAutoresizingMask(kFlexibleSize);
    return view;
}

} // namespace

std::shared_ptr<FerrowickAppDelegate> loadMainInterface() {
    auto delegate = std::make_shared<FerrowickAppDelegate>();
    auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    auto root = std::make_shared<RootViewController>();
    root->navigationItem().setTitle(std::string(kApplicationName));
    delegate->setWindow(window);
    delegate->setNavigationController(platform::NavigationController::create(root));
    return delegate;
}

void loadRootViewInterface(RootViewController& root) {
    auto self = std::static_pointer_cast<RootViewController>(root.shared_from_this());
    auto view = contentView();
    view->setClipsToBounds(true);

    root.fileTable = std::make_shared<platform::TableView>(kFileTableFrame, platform::TableViewStyle::Plain);
    root.fileTable->setDataSource(self);
    root.fileTable->setDelegate(self);
    view->addSubview(root.fileTable);

    root.memoryView = std::make_shared<platform::View>(kMemoryViewFrame);
    for (const auto& item : kMemoryLabels) {
        auto label = std::make_shared<platform::Label>(platform::Rect(10, item.y, 300, 26));
        label->setTextColor(platform::Color::whiteColor());
        label->setBackgroundColor(platform::Color::clearColor());
        root.memoryView->addSubview(label);
        root.*(item.outlet) = label;
    }
    view->addSubview(root.memoryView);

    root.passCodeView = std::make_shared<platform::View>(kPassCodeViewFrame);
    root.passCodeView->setBackgroundColor(platform::Color::lightGrayColor());
    root.passLabel = std::make_shared<platform::Label>(platform::Rect(10, 8, 300, 24));
    root.passLabel->setText("Enter pass key");
    root.passLabel->setTextAlignment(platform::TextAlignment::Center);
    root.passCodeView->addSubview(root.passLabel);
    root.pass1 = std::make_shared<platform::TextField>(platform::Rect(80, 40, 160, 31));
    root.pass1->setSecureTextEntry(true);
    root.pass1->setKeyboardType(platform::KeyboardType::NumberPad);
    root.pass1->setBorderStyle(platform::TextBorderStyle::RoundedRect);
    root.pass1->setPlaceholder("Pass key");
    root.passCodeView->addSubview(root.pass1);
    auto ok = titledButton(platform::Rect(60, 80, 90, 32), "OK");
    ok->addTarget(self, &RootViewController::passCodeDone, platform::ControlEvent::TouchUpInside);
    root.passCodeView->addSubview(ok);
    auto cancel = titledButton(platform::Rect(170, 80, 90, 32), "Cancel");
    cancel->addTarget(self, &RootViewController::done, platform::ControlEvent::TouchUpInside);
    root.passCodeView->addSubview(cancel);
    view->addSubview(root.passCodeView);

    root.toolBar = std::make_shared<platform::Toolbar>(kToolbarFrame);
    view->addSubview(root.toolBar);

    double width = kContentFrame.width() / static_cast<double>(std::size(kActionButtons));
    double x = 0;
    double y = actionRowY();
    for (const auto& item : kActionButtons) {
        auto button = titledButton(platform::Rect(x, y, width, kActionRowHeight), item.title);
        button->addTarget(self, item.action, platform::ControlEvent::TouchUpInside);
        view->addSubview(button);
        x += width;
    }
    root.setView(view);
}

void loadSettingsViewInterface(SettingsView& settings) {
    auto self = std::static_pointer_cast<SettingsView>(settings.shared_from_this());
    auto view = contentView();
    settings.setTable =
        std::make_shared<platform::TableView>(kContentFrame, platform::TableViewStyle::Grouped);
    settings.setTable->setAutoresizingMask(kFlexibleSize);
    settings.setTable->setDataSource(self);
    settings.setTable->setDelegate(self);
    view->addSubview(settings.setTable);
    settings.setView(view);
}

void loadHelpPageInterface(HelpPage& help) {
    auto view = contentView();
    help.contentView = std::make_shared<platform::ScrollView>(kContentFrame);
    view->addSubview(help.contentView);
    help.setView(view);
}

} // namespace app
