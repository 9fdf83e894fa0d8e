#include "app/MainInterface.h"

#include "app/AppConfiguration.h"
#include "app/DriveLayout.h"
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

// The help pages are pictures of the phone's size, paged by this frame's height.
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
constexpr double kMemoryLabelInset = 10, kMemoryLabelHeight = 26;

// The pass-code panel's controls, centred across the panel (the phone's 320-point panel puts
// the field at x 80, OK at 60 and Cancel at 170).
constexpr double kPassLabelInset = 10;
constexpr platform::Size kPassFieldSize{160, 31};
constexpr double kPassFieldY = 40;
constexpr platform::Size kPassButtonSize{90, 32};
constexpr double kPassButtonY = 80, kPassButtonGap = 20;

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
    auto view = std::make_shared<platform::View>(layout::rootViewFrame());
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

    root.fileTable =
        std::make_shared<platform::TableView>(layout::fileTableFrame(), platform::TableViewStyle::Plain);
    root.fileTable->setDataSource(self);
    root.fileTable->setDelegate(self);
    view->addSubview(root.fileTable);

    root.memoryView = std::make_shared<platform::View>(layout::memoryViewFrame());
    const double panelWidth = root.memoryView->frame().width();
    for (const auto& item : kMemoryLabels) {
        auto label = std::make_shared<platform::Label>(platform::Rect(
            kMemoryLabelInset, item.y, panelWidth - 2 * kMemoryLabelInset, kMemoryLabelHeight));
        label->setTextColor(platform::Color::whiteColor());
        label->setBackgroundColor(platform::Color::clearColor());
        root.memoryView->addSubview(label);
        root.*(item.outlet) = label;
    }
    view->addSubview(root.memoryView);

    root.passCodeView = std::make_shared<platform::View>(layout::passCodeViewFrame());
    root.passCodeView->setBackgroundColor(platform::Color::lightGrayColor());
    const double middle = root.passCodeView->frame().width() / 2;
    root.passLabel = std::make_shared<platform::Label>(
        platform::Rect(kPassLabelInset, 8, 2 * (middle - kPassLabelInset), 24));
    root.passLabel->setText("Enter pass key");
    root.passLabel->setTextAlignment(platform::TextAlignment::Center);
    root.passCodeView->addSubview(root.passLabel);
    root.pass1 = std::make_shared<platform::TextField>(platform::Rect(
        middle - kPassFieldSize.width / 2, kPassFieldY, kPassFieldSize.width, kPassFieldSize.height));
    root.pass1->setSecureTextEntry(true);
    root.pass1->setKeyboardType(platform::KeyboardType::NumberPad);
    root.pass1->setBorderStyle(platform::TextBorderStyle::RoundedRect);
    root.pass1->setPlaceholder("Pass key");
    root.passCodeView->addSubview(root.pass1);
    const double okX = middle - kPassButtonGap / 2 - kPassButtonSize.width;
    auto ok = titledButton(platform::Rect({okX, kPassButtonY}, kPassButtonSize), "OK");
    ok->addTarget(self, &RootViewController::passCodeDone, platform::ControlEvent::TouchUpInside);
    root.passCodeView->addSubview(ok);
    auto cancel =
        titledButton(platform::Rect({middle + kPassButtonGap / 2, kPassButtonY}, kPassButtonSize), "Cancel");
    cancel->addTarget(self, &RootViewController::done, platform::ControlEvent::TouchUpInside);
    root.passCodeView->addSubview(cancel);
    view->addSubview(root.passCodeView);

    root.toolBar = std::make_shared<platform::Toolbar>(layout::toolbarFrame());
    view->addSubview(root.toolBar);

    const platform::Rect row = layout::actionRowFrame();
    double width = row.width() / static_cast<double>(std::size(kActionButtons));
    double x = row.x();
    for (const auto& item : kActionButtons) {
        auto button = titledButton(platform::Rect(x, row.y(), width, row.height()), item.title);
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
        std::make_shared<platform::TableView>(layout::rootViewFrame(), platform::TableViewStyle::Grouped);
    settings.setTable->setAutoresizingMask(kFlexibleSize);
    settings.setTable->setDataSource(self);
    settings.setTable->setDelegate(self);
    view->addSubview(settings.setTable);
    settings.setView(view);
}

void loadHelpPageInterface(HelpPage& help) {
    auto view = contentView();
    help.contentView = std::make_shared<platform::ScrollView>(layout::helpPagesFrame());
    view->addSubview(help.contentView);
    help.setView(view);
}

} // namespace app
