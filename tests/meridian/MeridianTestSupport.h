#pragma once
// Shared pieces of the Meridian tests: an ad delegate that records its notices and answers
// what a test sets, and a fixture with the manual clock, a temporary device home, the
// loopback Meridian service and a clean handshake.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meridian/MRAdDelegate.h"
#include "meridian/MRAdView.h"
#include "meridian/MRCommon.h"
#include "meridian/MRHandshake.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "services/MeridianEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace meridiantest {

using Events = std::shared_ptr<std::vector<std::string>>;

inline std::size_t countOf(const std::vector<std::string>& events, std::string_view event) {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

class RecordingDelegate : public meridian::MRAdDelegate {
public:
    explicit RecordingDelegate(Events events) : events_(std::move(events)) {}
    std::optional<platform::Dictionary> requestData() override { return data; }
    std::optional<int> adRefreshDuration() override { return refresh; }
    std::optional<bool> accelerometerEnabled() override { return accelerometer; }
    void adRequestSucceeded(meridian::MRAdView&) override { events_->push_back("succeeded"); }
    void adRequestFailed(meridian::MRAdView&) override { events_->push_back("failed"); }
    void adDidRefresh(meridian::MRAdView&) override { events_->push_back("refresh"); }
    void adWasTapped(meridian::MRAdView&) override { events_->push_back("tapped"); }
    void adRequestIsCaching(meridian::MRAdView&) override { events_->push_back("caching"); }
    void adModalWillAppear() override { events_->push_back("modalWillAppear"); }
    void adModalDidAppear() override { events_->push_back("modalDidAppear"); }
    void adModalWasDismissed() override { events_->push_back("modalDismissed"); }
    void applicationWillTerminateFromAd() override { events_->push_back("terminate"); }

    std::optional<platform::Dictionary> data;
    std::optional<int> refresh;
    std::optional<bool> accelerometer;

private:
    Events events_;
};

class MeridianFixture : public ::testing::Test {
protected:
    MeridianFixture() {
        meridian::MRHandshake::resetForTesting();
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::Bundle::resetForTesting();
        platform::UserDefaults::resetForTesting();
        platform::NotificationCenter::resetDefaultForTesting();
        platform::Accelerometer::resetForTesting();
        services::installMeridianEndpoints(services.host());
        delegate = std::make_shared<RecordingDelegate>(events);
    }
    ~MeridianFixture() override {
        meridian::MRHandshake::resetForTesting();
        platform::URLConnection::cancelAllForTesting();
        platform::Application::resetForTesting();
    }

    bool waitFor(const std::function<bool()>& done, double limit = 10.0) {
        return clock.runUntil(done, limit);
    }
    bool waitForEvent(std::string_view event, std::size_t count = 1, double limit = 10.0) {
        return waitFor([&] { return countOf(*events, event) >= count; }, limit);
    }
    bool waitForRequests(std::string_view path, std::size_t count, double limit = 10.0) {
        return waitFor([&] { return services.requestCount(path) >= count; }, limit);
    }
    // Lets the first handshake arrive, so later requests see its settings.
    void waitForHandshake() {
        meridian::MRHandshake::sharedHandshake();
        ASSERT_TRUE(waitFor(
            [] { return meridian::MRHandshake::sharedHandshake().nextHandshakeToOccurAt().has_value(); }));
    }
    std::shared_ptr<meridian::MRGenericAdView>
    banner(int type = 1, bool loadAd = true, bool startTimer = false,
           std::optional<std::string> apid = std::string("apid-1")) {
        auto view = meridian::MRAdView::adWithFrame(platform::Rect(0, 0, 320, 50), type, apid, delegate,
                                                    loadAd, startTimer);
        return std::static_pointer_cast<meridian::MRGenericAdView>(view);
    }

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    Events events = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<RecordingDelegate> delegate;
};

} // namespace meridiantest
