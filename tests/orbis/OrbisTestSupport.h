#pragma once
// Shared pieces of the Orbis tests: a banner delegate whose answers a test sets and which
// records every notice, and a fixture with the manual clock, a temporary device home, the
// loopback Orbis service, a device without Wi-Fi and a key window with a root screen to present landing pages
// from.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orbis/OrbisAdDelegate.h"
#include "orbis/OrbisAdView.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "services/OrbisEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace orbistest {

using Events = std::shared_ptr<std::vector<std::string>>;

inline std::size_t countOf(const std::vector<std::string>& events, std::string_view event) {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

// A delegate that answers what the test sets and records the notices it gets.
class TestDelegate : public orbis::OrbisAdDelegate {
public:
    explicit TestDelegate(Events events) : events_(std::move(events)) {}

    bool responds(std::string_view selector) const override {
        if (selector == "siteId")
            return !hideSiteId;
        return implemented.count(std::string(selector)) > 0 || OrbisAdDelegate::responds(selector);
    }
    std::optional<std::string> siteId() override { return site; }
    std::shared_ptr<platform::ViewController> rootViewControllerForAd() override { return root; }
    std::optional<bool> testMode() override { return test; }
    std::optional<std::string> postalCode() override { return postal; }
    std::optional<int> gender() override { return genderAnswer; }
    std::optional<unsigned> income() override { return incomeAnswer; }
    std::optional<int> age() override { return ageAnswer; }
    std::optional<std::string> keywords() override { return keywordsAnswer; }
    std::optional<platform::Date> dateOfBirth() override { return birth; }
    std::optional<bool> isLocationInquiryAllowed() override { return locationAllowed; }
    std::optional<platform::Location> currentLocation() override { return location; }

    void adReceivedNotification(orbis::OrbisAdManager&) override { events_->push_back("received"); }
    void adFailedNotification(orbis::OrbisAdManager&) override { events_->push_back("failed"); }
    void adModalScreenDisplayNotification(orbis::OrbisAdManager&) override { events_->push_back("display"); }
    void adModalScreenDismissNotification(orbis::OrbisAdManager&) override { events_->push_back("dismiss"); }
    void applicationWillTerminateFromAd(orbis::OrbisAdManager&) override {
        events_->push_back("willTerminate");
    }

    std::set<std::string> implemented = {
        "adReceivedNotification:", "adFailedNotification:", "adModalScreenDisplayNotification:",
        "adModalScreenDismissNotification:", "applicationWillTerminateFromAd:"};
    bool hideSiteId = false;
    std::optional<std::string> site = "orbis-site";
    std::shared_ptr<platform::ViewController> root;
    std::optional<bool> test;
    std::optional<std::string> postal;
    std::optional<int> genderAnswer;
    std::optional<unsigned> incomeAnswer;
    std::optional<int> ageAnswer;
    std::optional<std::string> keywordsAnswer;
    std::optional<platform::Date> birth;
    std::optional<bool> locationAllowed;
    std::optional<platform::Location> location;

private:
    Events events_;
};

class OrbisFixture : public ::testing::Test {
protected:
    OrbisFixture() {
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        // A device with no Wi-Fi, whatever the machine's own interfaces are.
        platform::SystemFacts::setNetworkInterfacesForTesting(std::vector<platform::NetworkInterface>{
            {"lo0", platform::NetworkInterface::Family::IPv4, "127.0.0.1", true}});
        services::installOrbisEndpoints(services.host());
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        rootController = std::make_shared<platform::ViewController>();
        window->setRootViewController(rootController);
        window->makeKeyAndVisible();
    }
    ~OrbisFixture() override {
        platform::URLConnection::cancelAllForTesting();
        platform::Application::resetForTesting();
        platform::SystemFacts::resetForTesting();
    }

    bool waitFor(const std::function<bool()>& done, double limit = 10.0) {
        return clock.runUntil(done, limit);
    }
    bool waitForEvent(std::string_view event, double limit = 10.0) {
        return waitFor([&] { return countOf(*events, event) > 0; }, limit);
    }

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    Events events = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> rootController;
};

} // namespace orbistest
