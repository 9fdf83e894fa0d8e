#pragma once
// Stand-ins for the tests of the slot, the configuration store and this layer's adapters:
// adapters whose answers the test scripts, a host that records every callback, and a fixture
// with the manual clock, the loopback mediation services and a reachable services host.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardView.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/foundation/Locale.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/View.h"
#include "services/MediationEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"

namespace slottest {

// How a scripted adapter answers its getAd, one turn of the run loop later.
enum class Answer { Succeed, Fail, Wait };

class ScriptedAdapterBase;

// What the scripted adapters do and which were made, shared by a test.
struct Script {
    std::map<int, Answer> answers; // by network type; Wait when absent
    std::vector<std::weak_ptr<ScriptedAdapterBase>> made;
    std::vector<int> madeTypes;

    static Script& current() {
        static Script s;
        return s;
    }
    static void reset() { current() = Script{}; }
};

class ScriptedAdapterBase : public mediation::SwitchboardAdNetworkAdapter {
  public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;

    void getAd() override {
        auto self = std::static_pointer_cast<ScriptedAdapterBase>(shared_from_this());
        auto& script = Script::current();
        script.made.push_back(self);
        int type = networkConfig()->networkType();
        script.madeTypes.push_back(type);
        auto it = script.answers.find(type);
        Answer answer = it == script.answers.end() ? Answer::Wait : it->second;
        if (answer == Answer::Wait)
            return;
        std::weak_ptr<ScriptedAdapterBase> weak = self;
        platform::RunLoop::main().perform([weak, answer] {
            if (auto a = weak.lock())
                answer == Answer::Succeed ? a->succeed() : a->fail();
        });
    }
    void stopBeingDelegate() override { ++stopCount; }

    // Reports an ad whose view is 320 by 50.
    void succeed() {
        auto view = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50));
        setAdNetworkView(view);
        if (auto slot = switchboardView())
            slot->adapterDidReceiveAdView(*this, view);
    }
    void fail() {
        if (auto slot = switchboardView())
            slot->adapterDidFailAd(*this, platform::Error{"test", 1, "no fill", {}});
    }
    void finish() {
        if (auto slot = switchboardView())
            slot->adapterDidFinishAdRequest(*this);
    }

    int stopCount = 0;
};

template <int N> class ScriptedAdapter : public ScriptedAdapterBase {
  public:
    using ScriptedAdapterBase::ScriptedAdapterBase;
    static int networkType() { return N; }
};

// The same, but the view sends it no pings.
template <int N> class QuietAdapter : public ScriptedAdapter<N> {
  public:
    using ScriptedAdapter<N>::ScriptedAdapter;
    bool shouldSendExMetric() const override { return false; }
};

// A host that records its callbacks and answers the optional items a test sets.
class RecordingHost : public mediation::SwitchboardDelegate {
  public:
    explicit RecordingHost(std::string key) : key_(std::move(key)) {}

    // Every callback of the slot is implemented unless a test takes it out.
    std::set<std::string> implemented = {
        "switchboardDidReceiveAd:", "switchboardDidFailToReceiveAd:usingBackup:",
        "switchboardDidAnimateToNewAdIn:", "switchboardReceivedNotificationAdsAreOff:",
        "switchboardDidReceiveConfig:"};
    std::optional<int> refreshDuration;
    std::optional<std::string> configURL, impURL, clickURL;
    std::vector<std::string> events;
    // Set from the last switchboardDidFailToReceiveAd(NO): the slot's lastError then.
    std::optional<platform::Error> lastReportedError;

    bool responds(std::string_view selector) const override {
        if (selector == "adRefreshDuration")
            return refreshDuration.has_value();
        if (selector == "switchboardConfigURL")
            return configURL.has_value();
        if (selector == "switchboardImpMetricURL")
            return impURL.has_value();
        if (selector == "switchboardClickMetricURL")
            return clickURL.has_value();
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::string switchboardApplicationKey() override { return key_; }
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override {
        return nullptr;
    }
    std::optional<int> adRefreshDuration() override { return refreshDuration; }
    std::optional<std::string> switchboardConfigURL() override { return configURL; }
    std::optional<std::string> switchboardImpMetricURL() override { return impURL; }
    std::optional<std::string> switchboardClickMetricURL() override { return clickURL; }

    void switchboardDidReceiveConfig(mediation::SwitchboardView* view) override {
        events.push_back(view ? "didReceiveConfig" : "didReceiveConfig:class");
    }
    void switchboardReceivedNotificationAdsAreOff(mediation::SwitchboardView*) override {
        events.push_back("adsAreOff");
    }
    void switchboardDidReceiveAd(mediation::SwitchboardView* view) override {
        events.push_back(view && view->adExists() ? "didReceiveAd:shown" : "didReceiveAd");
    }
    void switchboardDidAnimateToNewAdIn(mediation::SwitchboardView*) override {
        events.push_back("didAnimate");
    }
    void switchboardDidFailToReceiveAd(mediation::SwitchboardView* view, bool usingBackup) override {
        if (usingBackup) {
            events.push_back("didFail:backup");
            return;
        }
        lastReportedError = view ? view->lastError() : std::nullopt;
        events.push_back("didFail:" + std::to_string(lastReportedError ? lastReportedError->code : -1));
    }

    std::size_t count(std::string_view event) const {
        std::size_t n = 0;
        for (const auto& e : events)
            n += e == event;
        return n;
    }

  private:
    std::string key_;
};

// Reachable flags as a working connection shows them.
inline constexpr platform::ReachabilityFlags kReachable =
    platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsDirect;
inline constexpr platform::ReachabilityFlags kUnreachable = 0;

// Manual clock, the loopback mediation services, a reachable loopback host, a clean store,
// application, device and animation log, and a registry with scripted adapters of types 1, 6
// and 7 (hand it to each configuration before its reply is parsed: useRegistry).
class SlotTest : public ::testing::Test {
  protected:
    SlotTest() {
        services::installMediationEndpoints(services.host());
        platform::Reachability::resetForTesting();
        platform::Reachability::setTestFlagsForAllHosts(kReachable);
        platform::Locale::setCurrent(platform::Locale::fromIdentifier("en_US"));
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::AnimationLog::resetForTesting();
        mediation::SwitchboardConfigStore::resetStore();
        mediation::SwitchboardView::resetClassStateForTesting();
        Script::reset();
        registry.registerClass(mediation::switchboardAdapterClass<ScriptedAdapter<1>>());
        registry.registerClass(mediation::switchboardAdapterClass<ScriptedAdapter<6>>());
        registry.registerClass(mediation::switchboardAdapterClass<ScriptedAdapter<7>>());
    }
    ~SlotTest() override {
        platform::URLConnection::cancelAllForTesting();
        mediation::SwitchboardConfigStore::resetStore();
        mediation::SwitchboardView::resetClassStateForTesting();
        Script::reset();
        platform::Reachability::resetForTesting();
        platform::Locale::setCurrent(std::nullopt);
        platform::AnimationLog::resetForTesting();
        platform::Device::resetForTesting();
    }

    // The configuration will find its adapter classes in `registry`.
    void useRegistry(const std::shared_ptr<mediation::SwitchboardConfig>& config) {
        ASSERT_NE(config, nullptr);
        config->setAdNetworkRegistry(&registry);
    }

    // Runs the loop until `done` holds (network replies arrive in real time).
    template <typename F> bool waitFor(F done, double limit = 10.0) { return clock.runUntil(done, limit); }

    // A slot for `host`, its configuration's classes taken from `registry`, run until the
    // configuration has arrived and been handled.
    std::shared_ptr<mediation::SwitchboardView> startSlot(const std::shared_ptr<RecordingHost>& host) {
        auto view = mediation::SwitchboardView::requestSwitchboardViewWithDelegate(host);
        if (view->config())
            view->config()->setAdNetworkRegistry(&registry);
        bool arrived = waitFor([&] { return view->config() && view->config()->hasConfig(); });
        EXPECT_TRUE(arrived) << "configuration did not arrive";
        clock.drain();
        return view;
    }

    // The network types of the scripted adapters made so far.
    static const std::vector<int>& madeTypes() { return Script::current().madeTypes; }
    static std::shared_ptr<ScriptedAdapterBase> lastMade() {
        auto& made = Script::current().made;
        return made.empty() ? nullptr : made.back().lock();
    }

    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    mediation::SwitchboardAdNetworkRegistry registry;
};

// A touch event, as the application dispatches a tap.
inline platform::Event touchEvent() {
    return platform::Event(platform::Event::Type::Touches, 0);
}

} // namespace slottest
