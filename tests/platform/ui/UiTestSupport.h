#pragma once
// Shared by the user-interface tests: a fixture with the manual clock, a fresh application
// and device, and a temporary device home that is removed afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/Window.h"
#include "support/ManualClockScope.h"

namespace uitest {

inline std::filesystem::path makeTemporaryFolder(const char* prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    char* made = ::mkdtemp(pattern.data());
    if (!made)
        throw std::runtime_error("cannot make a temporary folder");
    return made;
}

class UiTest : public ::testing::Test {
protected:
    UiTest() : home_(makeTemporaryFolder("fw-ui-home")) {
        platform::DeviceHome::setCurrent(home_);
        platform::NotificationCenter::resetDefaultForTesting();
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
    }
    ~UiTest() override {
        platform::Application::resetForTesting();
        platform::NotificationCenter::resetDefaultForTesting();
        platform::Device::resetForTesting();
        platform::Image::clearCache();
        platform::Bundle::resetForTesting();
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }

    // A shown key window of the screen's size.
    std::shared_ptr<platform::Window> makeKeyWindow() {
        auto window = std::make_shared<platform::Window>();
        window->makeKeyAndVisible();
        return window;
    }

    fwtest::ManualClockScope clock_;
    std::filesystem::path home_;
};

} // namespace uitest
