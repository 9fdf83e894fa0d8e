#pragma once
// Shared pieces of the Lumen tests: a banner delegate that records every event, and a fixture
// with a temporary device home, the manual clock, the loopback Lumen service and a key window
// with a root screen to present from. The client's process-wide objects start clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "lumen/BannerView.h"
#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "lumen/Statistics.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "services/LumenEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace lumentest {

using Events = std::shared_ptr<std::vector<std::string>>;

inline std::size_t countOf(const std::vector<std::string>& events, std::string_view event) {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

// Drops the client's process-wide objects so that a test starts clean.
inline void resetClient() {
    lumen::LMNStatistics::releaseSharedStatistics();
    lumen::LMNNetworkChecker::resetForTesting();
    lumen::LMNIdentifierUtilities::resetForTesting();
    lumen::LMNNetworkUtilities::resetForTesting();
    lumen::LMNObjectPrivate::resetForTesting();
    lumen::LMNClickTracker::trackingCount() = 0;
    lumen::LMNOpener::openAppRetryCount() = 0;
}

class RecordingDelegate : public lumen::LMNBannerViewDelegate {
public:
    explicit RecordingDelegate(Events events) : events_(std::move(events)) {}
    bool responds(std::string_view selector) const override {
        return !selector.starts_with("interstitial") || answersInterstitial;
    }
    void adViewDidReceiveAd(lumen::LMNBannerView*) override { events_->push_back("didReceiveAd"); }
    void adViewDidFailToReceiveAdWithError(lumen::LMNBannerView*, const platform::Error& e) override {
        events_->push_back("didFail:" + std::to_string(e.code));
        lastError = e;
    }
    void adViewWillPresentScreen(lumen::LMNBannerView*) override { events_->push_back("willPresent"); }
    void adViewWillDismissScreen(lumen::LMNBannerView*) override { events_->push_back("willDismiss"); }
    void adViewDidDismissScreen(lumen::LMNBannerView*) override { events_->push_back("didDismiss"); }
    void adViewWillLeaveApplication(lumen::LMNBannerView*) override { events_->push_back("willLeave"); }
    void interstitialDidReceiveAd(lumen::LMNBannerView*) override {
        events_->push_back("interstitialDidReceiveAd");
    }
    bool answersInterstitial = false;
    platform::Error lastError;

private:
    Events events_;
};

class LumenFixture : public ::testing::Test {
protected:
    LumenFixture() {
        resetClient();
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::Reachability::resetForTesting();
        services::installLumenEndpoints(services.host());
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        rootController = std::make_shared<platform::ViewController>();
        window->setRootViewController(rootController);
        window->makeKeyAndVisible();
    }
    ~LumenFixture() override {
        platform::URLConnection::cancelAllForTesting();
        resetClient();
        platform::Application::resetForTesting();
        platform::Reachability::resetForTesting();
    }
    bool waitFor(const std::function<bool()>& done, double limit = 10.0) {
        return clock.runUntil(done, limit);
    }
    bool waitForEvent(std::string_view event, double limit = 10.0) {
        return waitFor([&] { return countOf(*events, event) > 0; }, limit);
    }
    std::shared_ptr<lumen::LMNBannerView> makeBanner(const std::string& slot = "banner") {
        auto banner = lumen::LMNBannerView::create(platform::Rect(0, 0, 320, 50));
        banner->setAdUnitID(slot);
        banner->setRootViewController(rootController);
        banner->setDelegate(delegate);
        rootController->view()->addSubview(banner);
        return banner;
    }

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    Events events = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(events);
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> rootController;
};

} // namespace lumentest
