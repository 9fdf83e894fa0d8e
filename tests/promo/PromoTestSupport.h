#pragma once
// A clean device, application, manual clock, device home and loopback promotion service for
// each test of the house promotions.
#include <gtest/gtest.h>

#include <string>

#include "platform/net/Reachability.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "promo/ImageLoader.h"
#include "promo/MoreApps.h"
#include "promo/PopupController.h"
#include "promo/PushNewsView.h"
#include "services/PromotionEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace promotest {

class PromoTest : public ::testing::Test {
protected:
    PromoTest() {
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::AnimationLog::resetForTesting();
        platform::Reachability::setTestFlagsForAllHosts(platform::kReachabilityFlagsReachable);
        services::installPromotionEndpoints(services_.host());
        promo::isPush = false;
        promo::isPaid = false;
        promo::isBack = false;
    }
    ~PromoTest() override {
        // Let background downloads hand their results over before the next test starts.
        clock_.runUntil([] { return promo::backgroundImageDownloadsInFlight() == 0; }, 10.0);
        platform::Reachability::resetForTesting();
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        promo::isPush = false;
        promo::isBack = false;
    }

    // Waits (real time) until `done` holds, running the main run loop.
    template <typename F> bool waitFor(F done, double limit = 10.0) { return clock_.runUntil(done, limit); }

    // Serves `json` (with "{{base}}" standing for the service's base URL) at `path`.
    void serve(const std::string& path, std::string json) {
        std::string base = services_.baseURL();
        for (auto at = json.find("{{base}}"); at != std::string::npos; at = json.find("{{base}}"))
            json.replace(at, 8, base);
        services_.handle("GET", path, [json](const services::LoggedRequest&) {
            return services::ServiceReply{200, json, "application/json", {}};
        });
    }

    fwtest::TemporaryHome home_;
    fwtest::ManualClockScope clock_;
    fwtest::LoopbackServices services_;
};

} // namespace promotest
