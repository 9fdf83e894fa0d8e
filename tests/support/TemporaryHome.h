#pragma once
// A fresh device home in a temporary folder for the length of a test: the standard folders
// exist, the standard user defaults start empty and read from it, and everything is removed
// afterwards (the previous home is restored).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/UserDefaults.h"

namespace fwtest {

class TemporaryHome {
  public:
    TemporaryHome() : previous_(platform::DeviceHome::root()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "fw-home-XXXXXX").string();
        if (char* made = ::mkdtemp(pattern.data()))
            root_ = made;
        platform::DeviceHome::setCurrent(root_);
        platform::UserDefaults::resetForTesting();
    }
    ~TemporaryHome() {
        platform::UserDefaults::resetForTesting();
        platform::DeviceHome::setCurrent(previous_);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::filesystem::path& root() const { return root_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path root_;
};

} // namespace fwtest
