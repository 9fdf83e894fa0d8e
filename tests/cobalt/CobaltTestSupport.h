#pragma once
// What the Cobalt tests share: a fresh device home on the manual clock, reachable network
// flags, a clean engine (and sound engine) before and after, and a wait that pumps the main run loop while
// moving the manual clock, so poll timers, throttled wake-ups and worker replies all happen.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cobalt/CBAudioEngine.h"
#include "cobalt/CBController.h"
#include "cobalt/CBPaths.h"
#include "cobalt/CBReachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioSession.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Device.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace cobalttest {

namespace fs = std::filesystem;

class CobaltTest : public ::testing::Test {
protected:
    CobaltTest() {
        platform::Device::resetForTesting();
        platform::Reachability::resetForTesting();
        platform::Reachability::setTestFlagsForAllHosts(platform::kReachabilityFlagsReachable);
        cobalt::CBReachability::resetForTesting();
        cobalt::CBPaths::setSessionStartForTesting(kSessionStart);
    }
    ~CobaltTest() override {
        cobalt::CBAudioEngine::teardown();
        platform::AudioSession::resetForTesting();
        cobalt::CBController::resetForTesting();
        cobalt::CBReachability::resetForTesting();
        platform::URLConnection::cancelAllForTesting();
        platform::Reachability::resetForTesting();
        platform::Device::resetForTesting();
    }

    // Pumps the main run loop, moving the manual clock by `step` each turn, until `done`
    // holds or `realLimit` seconds of real time have passed.
    template <typename F> bool waitFor(F done, double step = 0.1, double realLimit = 20.0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(realLimit);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            platform::RunLoop::main().runOnce(0.005);
            time.advance(step);
        }
        return true;
    }

    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void write(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    fs::path documents() const { return home.root() / "Documents"; }
    fs::path store() const { return documents() / "CB"; }

    static constexpr std::int64_t kSessionStart = 1'700'000'000'000;

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope time;
};

} // namespace cobalttest
