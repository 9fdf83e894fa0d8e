#pragma once
// A clean tracking library for one test: a temporary device home, the manual clock, Wi-Fi
// reachability, a fresh application, device, bundle, environment and notification centre,
// and every shared object of the tracking library dropped before and after. Log lines are
// captured (the "VellumLogLevel" setting decides which levels are written).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/location/LocationManager.h"
#include "platform/net/Reachability.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "vellum/tracking/MRAdCacheDatabaseSeam.h"
#include "vellum/tracking/MRBroadcaster.h"
#include "vellum/tracking/MRReachability.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumTrackedEvent.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"

namespace vellumtest {

inline constexpr platform::ReachabilityFlags kWiFiFlags = platform::kReachabilityFlagsReachable;

inline void resetTrackingLibrary() {
    vellum::VellumAnalyticsManager::resetForTesting();
    vellum::MRBroadcaster::resetForTesting();
    vellum::VellumTrackedEventDatabase::resetForTesting();
    vellum::MRReachability::resetForTesting();
    vellum::VellumTrackedEvent::resetEventIDsForTesting();
    vellum::registerMRCachedAdDatabaseClass({});
}

class TrackingFixture : public ::testing::Test {
public:
    TrackingFixture() {
        resetTrackingLibrary();
        platform::ProcessInfo::resetForTesting();
        platform::Bundle::resetForTesting();
        platform::Bundle::main().setInfoDictionary(
            {{"CFBundleName", "Drive"}, {"CFBundleShortVersionString", "1.0"}});
        platform::NotificationCenter::resetDefaultForTesting();
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::Reachability::resetForTesting();
        platform::Reachability::setTestFlagsForAllHosts(kWiFiFlags);
        platform::LocationManager::setLocationServicesEnabledForTesting(true);
        platform::TimeZone::setCurrent(platform::TimeZone::utc());
        clock.clock().setNow(kStartTime);
    }
    ~TrackingFixture() override {
        if (HasFailure())
            for (const auto& line : log.lines())
                std::fprintf(stderr, "log: %s\n", line.c_str());
        resetTrackingLibrary();
        platform::Reachability::resetForTesting();
        platform::Application::resetForTesting();
        platform::NotificationCenter::resetDefaultForTesting();
        platform::ProcessInfo::resetForTesting();
        platform::Bundle::resetForTesting();
        platform::TimeZone::setCurrent(std::nullopt);
    }

    // 2023-11-14 22:13:20 UTC.
    static constexpr double kStartTime = 1'700'000'000.0;

    std::shared_ptr<vellum::VellumAnalyticsManager> manager() {
        return vellum::VellumAnalyticsManager::sharedInstance();
    }
    platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }
    std::filesystem::path storePath() const {
        return home.root() / "Library" / "Vellum" / "MRTracking" / "MRTracking.sql";
    }
    void setLogLevel(const char* level) {
        platform::Bundle::main().setInfoDictionaryValue("VellumLogLevel", level);
    }
    // A new process: the shared objects are dropped, the device home and its files stay.
    void relaunch() {
        resetTrackingLibrary();
        platform::Application::resetForTesting();
        platform::NotificationCenter::resetDefaultForTesting();
        platform::UserDefaults::resetForTesting();
    }

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    platform::LogCapture log;
};

} // namespace vellumtest
