#pragma once
// A fresh device and application for each test of the drive application: a temporary device
// home, the manual clock, a fresh application object, device, notification centre, user
// defaults, animation log and launch globals, and the time zone pinned to UTC so dates read
// the same everywhere. Files can be put into Documents before the launch.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/FerrowickAppDelegate.h"
#include "app/FerrowickMain.h"
#include "app/RootViewController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/Responder.h"
#include "platform/ui/TableViewCell.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace apptest {

class AppTest : public ::testing::Test {
protected:
    AppTest() { resetEverything(); }
    ~AppTest() override {
        // Screens still coming or going hold their presenter until their transition ends.
        if (delegate_ && delegate_->navigationController()) {
            auto nav = delegate_->navigationController();
            nav->finishPendingTransition();
            if (nav->presentedViewController())
                nav->dismissModalViewControllerAnimated(false);
        }
        resetEverything();
    }

    static void resetEverything() {
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::NotificationCenter::resetDefaultForTesting();
        platform::AnimationLog::resetForTesting();
        platform::Responder::resetFirstResponderForTesting();
        platform::Bundle::resetForTesting();
        platform::MailComposeViewController::setCanSendMailForTesting(true);
        platform::TimeZone::setCurrent(platform::TimeZone::utc());
        app::resetLaunchStateForTesting();
    }

    std::filesystem::path documents() const { return platform::DeviceHome::documents(); }

    // A file of `bytes` bytes in Documents, last modified at `mtime` (seconds since 1970).
    void addFile(const std::string& name, std::size_t bytes, double mtime = 1'700'000'000) const {
        std::ofstream(documents() / name, std::ios::binary) << std::string(bytes, 'x');
        platform::FileManager::setModificationDate(documents() / name, platform::Date{mtime});
    }

    platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

    // Launches the application; a normal launch has its (stand-in) pop-up call back at once.
    std::shared_ptr<app::FerrowickAppDelegate> launch(const platform::Dictionary& options = {}) {
        delegate_ = app::launchFerrowick(options);
        return delegate_;
    }
    std::shared_ptr<app::FerrowickAppDelegate> launchByPush(platform::Dictionary payload = {}) {
        platform::Dictionary options;
        options[platform::kApplicationLaunchOptionsRemoteNotificationKey] =
            platform::Value(std::move(payload));
        return launch(options);
    }
    std::shared_ptr<app::RootViewController> root() const { return app::currentRootViewController(); }
    std::shared_ptr<platform::NavigationController> navigation() const {
        return delegate_->navigationController();
    }

    // Makes the banner host as the launch pop-up does when network ads are on.
    void makeBannerHost() { delegate_->removeSplashPage(delegate_->popUpView(), true); }

    // The texts of the root screen's row `row`, as its four labels show them.
    struct RowTexts {
        std::string name, label, date, size;
    };
    RowTexts rowTexts(int row) {
        auto table = root()->fileTable;
        table->layoutIfNeeded();
        auto cell = table->cellForRowAtIndexPath({0, row});
        if (!cell)
            return {};
        auto text = [&](int tag) {
            auto label = std::dynamic_pointer_cast<platform::Label>(cell->contentView().viewWithTag(tag));
            return label ? label->text() : std::string("<no label>");
        };
        return {text(app::RootViewController::kNameLabelTag), text(app::RootViewController::kTypeLabelTag),
                text(app::RootViewController::kDateLabelTag), text(app::RootViewController::kSizeLabelTag)};
    }
    std::vector<std::string> rowNames() {
        std::vector<std::string> names;
        int rows = root()->fileTable->numberOfRowsInSection(0);
        for (int i = 0; i < rows; ++i)
            names.push_back(rowTexts(i).name);
        return names;
    }

    // The animation records of `view`'s `property` named `name`.
    static std::vector<platform::AnimationRecord>
    animations(std::string_view name, const platform::View& view, std::string_view property) {
        std::vector<platform::AnimationRecord> found;
        for (const auto& r : platform::AnimationLog::shared().recordsFor(view, property))
            if (r.name == name)
                found.push_back(r);
        return found;
    }

    static std::vector<std::string> alertTitles() {
        std::vector<std::string> titles;
        for (const auto& alert : platform::Application::shared().visibleAlerts())
            titles.push_back(alert->title());
        return titles;
    }

    fwtest::TemporaryHome home_;
    fwtest::ManualClockScope clock_;
    std::shared_ptr<app::FerrowickAppDelegate> delegate_;
};

} // namespace apptest
