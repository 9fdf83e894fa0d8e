// The mediation slot: configuration, cycles, weighted draw and rollover, transitions, pings,
// refresh, and the switches that hold requests back. Whole cycles run against the loopback
// mediation services on the manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "MediationTestSupport.h"
#include "SlotTestSupport.h"
#include "mediation/SBRelayView.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/Clock.h"

namespace {

using mediation::SwitchboardView;
using namespace slottest;

constexpr const char* kTransitionName = SwitchboardView::kTransitionAnimationID;

std::size_t transitionRecords() {
    return platform::AnimationLog::shared().recordsNamed(kTransitionName).size();
}

class SwitchboardViewTest : public SlotTest {
protected:
    std::size_t impressions() const { return services.requestCount(services::kMediationImpressionPath); }
    std::size_t clicks() const { return services.requestCount(services::kMediationClickPath); }
    std::size_t configRequests() const { return services.requestCount(services::kMediationConfigPath); }

    // A network entry of the scripted types.
    std::shared_ptr<mediation::SwitchboardAdNetworkConfig> entry(int type, std::string nid, double weight,
                                                                 int priority) {
        platform::Dictionary ration{{"type", type},
                                    {"nid", nid},
                                    {"nname", "net-" + nid},
                                    {"weight", weight},
                                    {"priority", priority}};
        return mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
    }
};

// ---- Whole cycles ----

TEST_F(SwitchboardViewTest, WholeCycleAgainstTheServices) {
    // The configuration host is down at first: the store waits and probes again after 10 s.
    platform::Reachability::setTestFlagsForAllHosts(kUnreachable);
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    useRegistry(view->config());
    view->setTestDarts(std::vector<double>{5}); // below the weight of the first by priority
    // The first cycle may begin in the same turn as the configuration arrives, so the
    // networks' answers are set before it can.
    Script::current().answers = {{6, Answer::Fail}, {1, Answer::Succeed}};
    clock.advance(9);
    EXPECT_EQ(configRequests(), 0u);
    platform::Reachability::setTestFlagsForAllHosts(kReachable);
    clock.advance(1);
    ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
    EXPECT_EQ(configRequests(), 1u);
    ASSERT_FALSE(host->events.empty());
    EXPECT_EQ(host->events.front(), "didReceiveConfig"); // told before the first cycle's outcome
    ASSERT_NE(view->refreshTimer(), nullptr);
    EXPECT_DOUBLE_EQ(view->refreshTimer()->interval(), 30);

    // First cycle: the dart picks meridian (type 6, priority 1), which fails; the probe finds the
    // network and the next by priority (lumen, type 1) is asked and succeeds.
    clock.drain();
    EXPECT_EQ(madeTypes(), (std::vector<int>{6, 1}));
    EXPECT_EQ(host->count("didFail:backup"), 1u);
    EXPECT_EQ(host->count("didReceiveAd"), 1u); // told before the view is in the slot
    EXPECT_TRUE(view->adExists());
    EXPECT_EQ(host->events.back(), "didAnimate");
    EXPECT_EQ(transitionRecords(), 0u); // the first ad comes without animation
    EXPECT_EQ(view->mostRecentNetworkName(), "lumen");
    EXPECT_EQ(view->actualAdSize(), (platform::Size{320, 50}));

    ASSERT_TRUE(waitFor([&] { return impressions() == 1; }));
    auto ping = services.requestsTo(services::kMediationImpressionPath).at(0);
    EXPECT_EQ(ping.queryValue("appid"), "cycle-app");
    EXPECT_EQ(ping.queryValue("nid"), "lumen-1");
    EXPECT_EQ(ping.queryValue("type"), "1");
    EXPECT_EQ(ping.queryValue("country_code"), "en_US");
    EXPECT_EQ(ping.queryValue("appver"), "300");
    EXPECT_EQ(ping.queryValue("client"), "1");

    // Touches on the shown ad: one click ping for this adapter, however many touches.
    auto touch = touchEvent();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(view->pointInside({10, 10}, &touch));
    EXPECT_FALSE(view->pointInside({10, 60}, &touch)); // outside the slot
    ASSERT_TRUE(waitFor([&] { return clicks() == 1; }));
    EXPECT_EQ(services.requestsTo(services::kMediationClickPath).at(0).queryValue("nid"), "lumen-1");

    // The refresh 30 s later: meridian succeeds now; the ad slides in from the left (type 5)
    // over 1.0 s and the previous adapter is let go only when the animation has ended.
    Script::current().answers[6] = Answer::Succeed;
    auto firstAdapter = view->currAdapter();
    clock.advance(30);
    EXPECT_EQ(madeTypes().size(), 3u);
    auto records = platform::AnimationLog::shared().recordsNamed(kTransitionName);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_DOUBLE_EQ(records[0].duration, SwitchboardView::kTransitionDuration);
    EXPECT_EQ(records[0].property, "frame");
    EXPECT_EQ(view->lastAdapter(), firstAdapter);
    EXPECT_EQ(view->subviews().size(), 2u);
    clock.advance(1.0);
    EXPECT_EQ(view->lastAdapter(), nullptr);
    EXPECT_EQ(firstAdapter->switchboardView(), nullptr);
    EXPECT_EQ(view->subviews().size(), 1u);
    EXPECT_EQ(host->count("didAnimate"), 2u);
    ASSERT_TRUE(waitFor([&] { return impressions() == 2; }));

    // The new adapter gets its own single click ping.
    view->pointInside({5, 5}, &touch);
    view->pointInside({5, 5}, &touch);
    ASSERT_TRUE(waitFor([&] { return clicks() == 2; }));
    EXPECT_EQ(services.requestsTo(services::kMediationClickPath).at(1).queryValue("nid"), "meridian-6");

    // A second slot of the same key finds the configuration in the store.
    auto second =
        SwitchboardView::requestSwitchboardViewWithDelegate(std::make_shared<RecordingHost>("cycle-app"));
    EXPECT_EQ(second->config(), view->config());
    clock.drain();
    EXPECT_EQ(configRequests(), 1u);
}

TEST_F(SwitchboardViewTest, NoRequestsWhileModalOrInactive) {
    Script::current().answers = {{6, Answer::Succeed}, {1, Answer::Succeed}};
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = startSlot(host);
    ASSERT_EQ(madeTypes().size(), 1u);

    // A modal screen of the shown ad: the timer and the host's requests do nothing.
    view->currAdapter()->helperNotifyDelegateOfFullScreenModal();
    EXPECT_TRUE(view->showingModalView());
    platform::LogCapture capture;
    clock.advance(30);
    EXPECT_TRUE(capture.contains("Not going to refresh due to flags, app not active or modal"));
    view->requestFreshAd();
    EXPECT_EQ(host->events.back(), "didFail:140");
    EXPECT_EQ(madeTypes().size(), 1u);
    view->currAdapter()->helperNotifyDelegateOfFullScreenModalDismissal();
    clock.advance(30);
    EXPECT_EQ(madeTypes().size(), 2u);

    // The application goes inactive: no refresh until it is active again.
    platform::Application::shared().postNotification(platform::kApplicationWillResignActiveNotification);
    EXPECT_TRUE(view->isAppInactive());
    clock.advance(60);
    EXPECT_EQ(madeTypes().size(), 2u);
    platform::Application::shared().postNotification(platform::kApplicationDidBecomeActiveNotification);
    EXPECT_FALSE(view->isAppInactive());
    clock.advance(30);
    EXPECT_EQ(madeTypes().size(), 3u);

    // The host's switch on the timer alone.
    view->ignoreAutoRefreshTimer();
    clock.advance(60);
    EXPECT_EQ(madeTypes().size(), 3u);
    view->doNotIgnoreAutoRefreshTimer();
    clock.advance(30);
    EXPECT_EQ(madeTypes().size(), 4u);

    // Off its superview the slot stops refreshing for good.
    auto parent = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 480));
    parent->addSubview(view);
    view->removeFromSuperview();
    EXPECT_EQ(view->refreshTimer(), nullptr);
    parent->addSubview(view);
    clock.advance(120);
    EXPECT_EQ(madeTypes().size(), 4u);
}

TEST_F(SwitchboardViewTest, ConfigurationIsTriedThreeTimesThenReported) {
    services.setFault(std::string(services::kMediationConfigPath), services::Fault::errorStatus(500));
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    ASSERT_TRUE(waitFor([&] { return host->count("didFail:11") == 1; }));
    EXPECT_EQ(configRequests(), 3u);
    EXPECT_EQ(view->configFetchAttempts(), 3u);
    ASSERT_TRUE(view->lastError());
    EXPECT_EQ(view->lastError()->localizedDescription, "Config server did not return status 200");
    EXPECT_EQ(view->refreshTimer(), nullptr);
    clock.advance(120);
    EXPECT_EQ(configRequests(), 3u);

    // The host asks again: a fresh round of attempts, which now succeeds.
    services.host().clearFaults();
    view->updateSwitchboardConfig();
    useRegistry(view->config());
    ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
    EXPECT_EQ(configRequests(), 4u);
}

// A configuration delegate that runs `onFail` on the next turn after a failure.
class FailureFollower : public mediation::SwitchboardConfigDelegate {
public:
    explicit FailureFollower(std::function<void()> onFail) : onFail_(std::move(onFail)) {}
    void switchboardConfigDidReceiveConfig(mediation::SwitchboardConfig&) override {}
    void switchboardConfigDidFail(mediation::SwitchboardConfig&, const platform::Error&) override {
        platform::RunLoop::main().perform(onFail_);
    }

private:
    std::function<void()> onFail_;
};

// The store refuses the slot's retry while another fetch runs; the slot asks again once that
// fetch has ended, and a slot made while the store is busy fetches once it is free.
TEST_F(SwitchboardViewTest, RetryRefusedWhileAnotherFetchRunsFollowsWhenItEnds) {
    services.setFault(std::string(services::kMediationConfigPath),
                      services::Fault::errorStatus(500).onlyTimes(1));
    auto store = mediation::SwitchboardConfigStore::sharedStore();
    const std::string configHost = platform::URL::parse(services.baseURL())->host().value_or("");
    // Told of the failure before the slot, it starts another key's fetch before the slot's retry.
    std::shared_ptr<mediation::SwitchboardConfig> other;
    auto follower = std::make_shared<FailureFollower>([&] {
        platform::Reachability::setTestFlags(configHost, kUnreachable);
        other = store->fetchConfig("legacy-app", nullptr);
    });
    auto first = store->getConfig("cycle-app", follower);
    ASSERT_NE(first, nullptr);
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    ASSERT_EQ(view->config(), first);
    ASSERT_TRUE(waitFor([&] { return other != nullptr; }));
    clock.drain();
    EXPECT_EQ(view->configFetchAttempts(), 1u);
    EXPECT_EQ(store->fetchingConfig(), other) << "the slot's retry was refused";
    EXPECT_EQ(configRequests(), 1u);

    // A second slot of another key is refused too while the store waits for its host.
    auto laterHost = std::make_shared<RecordingHost>("ads-off-app");
    auto later = SwitchboardView::requestSwitchboardViewWithDelegate(laterHost);
    EXPECT_EQ(later->config(), nullptr);

    // The other fetch ends: both slots ask again, one after the other.
    platform::Reachability::setTestFlags(configHost, kReachable);
    clock.advance(mediation::SwitchboardConfigStore::kReachabilityRecheckDelay);
    ASSERT_TRUE(waitFor([&] { return other->hasConfig(); }));
    ASSERT_TRUE(waitFor([&] { return view->config() != first && view->config() != nullptr; }));
    useRegistry(view->config());
    ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
    EXPECT_EQ(host->count("didReceiveConfig"), 1u);
    ASSERT_TRUE(waitFor([&] { return later->config() && later->config()->hasConfig(); }));
    clock.drain();
    EXPECT_EQ(laterHost->count("adsAreOff"), 1u);
}

TEST_F(SwitchboardViewTest, AdsOffMeansNoRequestAndNoTimer) {
    auto host = std::make_shared<RecordingHost>("ads-off-app");
    auto view = startSlot(host);
    EXPECT_EQ(host->events, (std::vector<std::string>{"didReceiveConfig", "adsAreOff"}));
    EXPECT_TRUE(madeTypes().empty());
    EXPECT_EQ(view->refreshTimer(), nullptr);
}

TEST_F(SwitchboardViewTest, RefreshTimerOnlyAboveTheMinimumGap) {
    struct Case {
        std::optional<int> hostDuration;
        bool timer;
    };
    const std::vector<Case> cases = {{std::nullopt, true}, {4, false}, {5, true}, {0, false}, {-10, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hostDuration ? std::to_string(*c.hostDuration) : "configuration's 30 s");
        mediation::SwitchboardConfigStore::resetStore();
        Script::reset();
        auto host = std::make_shared<RecordingHost>("single-network-app");
        host->refreshDuration = c.hostDuration;
        auto view = startSlot(host);
        EXPECT_EQ(view->refreshTimer() != nullptr, c.timer);
        EXPECT_FLOAT_EQ(view->adRefreshTime(), c.hostDuration ? static_cast<float>(*c.hostDuration) : 30.0f);
        EXPECT_EQ(madeTypes().size(), 1u); // one cycle at once either way
        view->willMoveToSuperview(nullptr);
    }
}

TEST_F(SwitchboardViewTest, HostThatImplementsOnlyTheRequiredItems) {
    Script::current().answers = {{6, Answer::Succeed}, {1, Answer::Succeed}};
    auto host = std::make_shared<mediationtest::MinimalHost>();
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    useRegistry(view->config());
    auto requests = [&] { return services.requestsTo(services::kMediationConfigPath); };
    // "minimal-key" has no fixture: the service answers 404, three times.
    ASSERT_TRUE(waitFor([&] { return view->lastError().has_value(); }));
    EXPECT_EQ(view->lastError()->code, 11);
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_EQ(requests()[0].queryValue("appid"), "minimal-key");
}

TEST_F(SwitchboardViewTest, MinimalHostGetsTheConfigurationsValuesAndDefaultEndpoints) {
    // Served under the minimal host's key, from the cycle fixture.
    services.handle("GET", std::string(services::kMediationConfigPath),
                    [this](const services::LoggedRequest&) {
                        auto reply = services::ServiceReply{};
                        std::ifstream in(services::ServiceHost::defaultFixturesDir() +
                                         "/switchboard/config/cycle-app.json");
                        std::ostringstream text;
                        text << in.rdbuf();
                        reply.body = text.str();
                        reply.contentType = "application/json";
                        return reply;
                    });
    Script::current().answers = {{6, Answer::Succeed}, {1, Answer::Succeed}};
    auto host = std::make_shared<mediationtest::MinimalHost>();
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    useRegistry(view->config());
    ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
    clock.drain();
    ASSERT_EQ(madeTypes().size(), 1u);
    EXPECT_TRUE(view->adExists());
    EXPECT_FLOAT_EQ(view->adRefreshTime(), 30.0f);
    ASSERT_NE(view->refreshTimer(), nullptr);
    EXPECT_EQ(view->currAdapter()->helperTextColorToUse(), view->config()->textColor());
    ASSERT_TRUE(waitFor([&] { return impressions() == 1; }));
    EXPECT_EQ(services.requestsTo(services::kMediationImpressionPath)[0].queryValue("appid"), "minimal-key");
    clock.advance(30);
    EXPECT_EQ(madeTypes().size(), 2u);
}

// ---- Weighted draw and priority order ----

TEST_F(SwitchboardViewTest, WeightedDrawFollowsTheWeights) {
    auto view = SwitchboardView::create(std::weak_ptr<mediation::SwitchboardDelegate>());
    // Priority order: b (10), a (30), zero (0), c (60).
    view->setPrioritizedAdNetCfgs(
        {entry(1, "b", 10, 1), entry(6, "a", 30, 2), entry(7, "zero", 0, 3), entry(1, "c", 60, 4)});
    EXPECT_DOUBLE_EQ(view->totalPercent(), 100);
    std::mt19937 generator(20240601);
    view->setRandomSource([&] { return static_cast<std::uint32_t>(generator()); });
    constexpr int kDraws = 100000;
    std::map<std::string, int> counts;
    for (int i = 0; i < kDraws; ++i)
        ++counts[view->nextNetworkCfgByPercent()->nid()];
    EXPECT_EQ(counts.count("zero"), 0u);
    for (auto [nid, weight] : std::vector<std::pair<std::string, double>>{{"b", 10}, {"a", 30}, {"c", 60}}) {
        SCOPED_TRACE(nid);
        double share = static_cast<double>(counts[nid]) / kDraws;
        EXPECT_NEAR(share, weight / 100, 0.01);
    }
}

TEST_F(SwitchboardViewTest, DartStaysWithinTheTotalAtTheRandomExtremes) {
    auto view = SwitchboardView::create(std::weak_ptr<mediation::SwitchboardDelegate>());
    view->setPrioritizedAdNetCfgs(
        {entry(1, "first", 10, 1), entry(6, "second", 30, 2), entry(7, "zero", 0, 3)});
    struct Case {
        std::uint32_t random;
        const char* chosen;
    };
    for (auto c : {Case{0, "first"}, Case{SwitchboardView::kRandomMax, "second"}, Case{1, "first"}}) {
        SCOPED_TRACE(c.random);
        view->setRandomSource([&] { return c.random; });
        double dart = view->nextDart();
        EXPECT_GE(dart, 0.0);
        EXPECT_LT(dart, view->totalPercent());
        EXPECT_EQ(view->nextNetworkCfgByPercent()->nid(), c.chosen);
    }
}

TEST_F(SwitchboardViewTest, TestDartsWalkThePriorityOrder) {
    auto view = SwitchboardView::create(std::weak_ptr<mediation::SwitchboardDelegate>());
    // Weights 30 and 10, priorities 2 and 1: the weight-10 network comes first in the walk.
    view->setPrioritizedAdNetCfgs({entry(6, "ten", 10, 1), entry(1, "thirty", 30, 2)});
    struct Case {
        double dart;
        const char* chosen;
    };
    const std::vector<Case> cases = {
        {0, "ten"}, {9.99, "ten"}, {10, "thirty"}, {39.9, "thirty"}, {45, "thirty"}};
    std::vector<double> darts;
    for (const auto& c : cases)
        darts.push_back(c.dart);
    view->setTestDarts(darts);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dart);
        EXPECT_EQ(view->nextNetworkCfgByPercent()->nid(), c.chosen);
    }
    // After the last dart the first comes again; an oversized one sits just below the total.
    EXPECT_EQ(view->nextNetworkCfgByPercent()->nid(), "ten");
    view->setTestDarts(std::vector<double>{45});
    EXPECT_DOUBLE_EQ(view->nextDart(), 40 - 0.001);
}

TEST_F(SwitchboardViewTest, RolloverGoesByPriorityUntilNoneIsLeft) {
    // The dart picks lumen (priority 2); the rollovers then go by priority: meridian (1),
    // cobalt (3), and then the cycle ends with 120.
    Script::current().answers = {{1, Answer::Fail}, {6, Answer::Fail}, {7, Answer::Fail}};
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    useRegistry(view->config());
    view->setTestDarts(std::vector<double>{75}); // past meridian's 70
    ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
    clock.drain();
    EXPECT_EQ(madeTypes(), (std::vector<int>{1, 6, 7}));
    EXPECT_EQ(host->count("didFail:backup"), 2u);
    EXPECT_EQ(host->events.back(), "didFail:120");
    EXPECT_EQ(view->lastError()->localizedDescription, "No more ad networks to roll over");
    EXPECT_FALSE(view->isRequesting());
    EXPECT_FALSE(view->adExists());
    // The timer still starts the next cycle.
    clock.advance(30);
    EXPECT_EQ(madeTypes().size(), 6u);
}

// ---- Stale and pending adapters ----

TEST_F(SwitchboardViewTest, StaleAdapterCallbacksAreIgnored) {
    // Meridian (picked first) never answers; the refresh 30 s later leaves its type out.
    Script::current().answers = {{1, Answer::Wait}, {6, Answer::Wait}, {7, Answer::Wait}};
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    useRegistry(view->config());
    view->setTestDarts(std::vector<double>{5});
    ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
    clock.drain();
    ASSERT_EQ(madeTypes(), std::vector<int>{6});
    auto stale = lastMade();

    clock.advance(3);
    view->requestFreshAd();
    EXPECT_EQ(host->events.back(), "didFail:90");
    clock.advance(27);
    ASSERT_EQ(madeTypes(), (std::vector<int>{6, 1})); // type 6 is still pending: left out
    auto current = lastMade();
    EXPECT_EQ(view->currAdapter(), current);
    EXPECT_EQ(view->pendingAdapterTypes(), (std::vector<int>{1, 6}));

    // The old adapter answers now: nothing changes but its pending entry.
    auto eventsBefore = host->events;
    platform::LogCapture capture;
    stale->fail();
    clock.drain();
    EXPECT_TRUE(capture.contains("Received didFailAd from Network:"));
    EXPECT_EQ(host->events, eventsBefore);
    EXPECT_EQ(view->rollOverReachability(), nullptr);
    EXPECT_TRUE(view->isRequesting());
    EXPECT_EQ(view->pendingAdapterTypes(), std::vector<int>{1});
    stale->succeed();
    clock.drain();
    EXPECT_TRUE(capture.contains("Received didReceiveAdView from a stale adapter"));
    EXPECT_FALSE(view->adExists());
    EXPECT_EQ(impressions(), 0u);

    // The current one's answer counts.
    current->succeed();
    clock.drain();
    EXPECT_TRUE(view->adExists());
    EXPECT_TRUE(view->pendingAdapterTypes().empty());
}

TEST_F(SwitchboardViewTest, SameTypeNextAdapterDetachesThePreviousOne) {
    Script::current().answers = {{1, Answer::Succeed}};
    auto host = std::make_shared<RecordingHost>("single-network-app");
    auto view = startSlot(host);
    auto first = lastMade();
    ASSERT_NE(first, nullptr);
    clock.advance(30);
    ASSERT_EQ(madeTypes().size(), 2u);
    EXPECT_EQ(first->stopCount, 1);
}

// ---- Errors told to the host ----

TEST_F(SwitchboardViewTest, ErrorCodesReachTheHostWithoutBackup) {
    struct Case {
        const char* name;
        int code;
        std::string description;
        // Brings a started slot (first ad shown at t = 0) to the state, then asks.
        std::function<void(fwtest::ManualClockScope&, SwitchboardView&)> act;
    };
    const std::vector<Case> cases = {
        {"ignoring new requests", 80, "ignoreNewAdRequests flag set",
         [](auto& t, SwitchboardView& v) {
             t.advance(10);
             v.ignoreNewAdRequests();
             v.requestFreshAd();
         }},
        {"request in progress", 90, "Ad request already in progress",
         [](auto& t, SwitchboardView& v) {
             Script::current().answers.clear();
             t.advance(30); // the refresh asks an adapter that never answers
             t.advance(10);
             v.requestFreshAd();
         }},
        {"too soon", 110, "Requesting fresh ad too soon! It has been only 2.000000s. Minimum 4.700000s",
         [](auto& t, SwitchboardView& v) {
             t.advance(2);
             v.requestFreshAd();
         }},
        {"nothing left", 120, "No more ad networks to roll over",
         [](auto& t, SwitchboardView&) {
             Script::current().answers = {{1, Answer::Fail}};
             t.advance(30);
         }},
        {"rollover probe cannot start", 130, "Failed network reachability test",
         [](auto& t, SwitchboardView&) {
             Script::current().answers = {{6, Answer::Fail}};
             platform::Reachability::setTestFailures({.scheduling = true});
             t.advance(30);
             platform::Reachability::setTestFailures({});
         }},
        {"no network for rollover", 130, "No network connection for rollover",
         [](auto& t, SwitchboardView&) {
             Script::current().answers = {{6, Answer::Fail}};
             platform::Reachability::setTestFlagsForAllHosts(kUnreachable);
             t.advance(30);
         }},
        {"modal screen up", 140, "Modal view active",
         [](auto& t, SwitchboardView& v) {
             t.advance(10);
             v.setShowingModalView(true);
             v.requestFreshAd();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mediation::SwitchboardConfigStore::resetStore();
        platform::Reachability::setTestFlagsForAllHosts(kReachable);
        Script::reset();
        // Meridian first (dart 5); "nothing left" uses lumen only.
        Script::current().answers = {{6, Answer::Succeed}, {1, Answer::Succeed}};
        auto host = std::make_shared<RecordingHost>(c.code == 120 ? "single-network-app" : "cycle-app");
        auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
        useRegistry(view->config());
        view->setTestDarts(std::vector<double>{5});
        ASSERT_TRUE(waitFor([&] { return view->config()->hasConfig(); }));
        clock.drain();
        ASSERT_TRUE(view->adExists());
        c.act(clock, *view);
        clock.drain();
        ASSERT_FALSE(host->events.empty());
        EXPECT_EQ(host->events.back(), "didFail:" + std::to_string(c.code));
        ASSERT_TRUE(host->lastReportedError);
        EXPECT_EQ(host->lastReportedError->domain, mediation::kSwitchboardErrorDomain);
        EXPECT_EQ(host->lastReportedError->localizedDescription, c.description);
        view->willMoveToSuperview(nullptr);
    }
}

TEST_F(SwitchboardViewTest, RequestsBeforeAConfigurationFail) {
    auto host = std::make_shared<RecordingHost>("cycle-app");
    // A slot that never fetched: 100.
    auto bare = SwitchboardView::create(host);
    bare->requestFreshAd();
    EXPECT_EQ(host->events.back(), "didFail:100");
    EXPECT_EQ(bare->lastError()->localizedDescription, "No ad configuration");

    // While the configuration is still being fetched it has no networks yet: 120 at once.
    platform::Reachability::setTestFlagsForAllHosts(kUnreachable);
    auto fetching = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    ASSERT_NE(fetching->config(), nullptr);
    fetching->requestFreshAd();
    EXPECT_EQ(host->events.back(), "didFail:120");
    EXPECT_FALSE(fetching->isRequesting());
}

TEST_F(SwitchboardViewTest, RequestFreshAdFromAnotherThreadRunsOnTheMainThread) {
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto view = SwitchboardView::create(host);
    std::thread([&] { view->requestFreshAd(); }).join();
    EXPECT_TRUE(host->events.empty());
    ASSERT_TRUE(waitFor([&] { return !host->events.empty(); }));
    EXPECT_EQ(host->events.back(), "didFail:100");
}

TEST_F(SwitchboardViewTest, FactoryRefusesAHostWithoutThePresentingController) {
    class HidingHost : public RecordingHost {
    public:
        using RecordingHost::RecordingHost;
        bool responds(std::string_view selector) const override {
            return selector != "viewControllerForPresentingModalView" && RecordingHost::responds(selector);
        }
    };
    try {
        SwitchboardView::requestSwitchboardViewWithDelegate(std::make_shared<HidingHost>("cycle-app"));
        FAIL() << "no exception";
    } catch (const platform::NamedException& e) {
        EXPECT_EQ(e.name(), "SwitchboardIncompleteDelegateException");
        EXPECT_EQ(e.reason(), "SwitchboardDelegate must implement viewControllerForPresentingModalView");
    }
    clock.drain();
    EXPECT_EQ(configRequests(), 0u);
}

// ---- Transitions ----

TEST_F(SwitchboardViewTest, TransitionTypesAnimateAsConfigured) {
    struct Case {
        int type;
        bool animated;
        const char* property;
        const char* transition;
    };
    const std::vector<Case> cases = {
        {0, false, "", ""},
        {1, true, "transition", "flipFromLeft"},
        {2, true, "transition", "flipFromRight"},
        {3, true, "transition", "curlUp"},
        {4, true, "transition", "curlDown"},
        {5, true, "frame", ""},
        {6, true, "frame", ""},
        {7, true, "alpha", ""},
    };
    auto host = std::make_shared<RecordingHost>("cycle-app");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        platform::AnimationLog::resetForTesting();
        auto config = mediation::SwitchboardConfig::create("local", nullptr);
        ASSERT_TRUE(config->parseConfig(
            "{\"extra\":{\"transition\":" + std::to_string(c.type) + "},\"rations\":[]}", nullptr));
        auto view = SwitchboardView::create(host);
        view->setConfig(config);
        view->setCurrAdapter(mediation::SwitchboardAdNetworkAdapter::create<ScriptedAdapter<1>>(
            host, view, config, entry(1, "x", 1, 1)));
        auto first = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50));
        auto second = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50));
        view->replaceBannerViewWith(first);
        view->replaceBannerViewWith(second);
        auto records = platform::AnimationLog::shared().recordsNamed(kTransitionName);
        EXPECT_EQ(records.empty(), !c.animated);
        if (c.animated) {
            auto match = std::find_if(records.begin(), records.end(),
                                      [&](const auto& r) { return r.property == c.property; });
            ASSERT_NE(match, records.end());
            EXPECT_EQ(match->transitionType, c.transition);
            EXPECT_DOUBLE_EQ(match->duration, 1.0);
            EXPECT_TRUE(match->beginsFromCurrentState);
        }
        // The new view ends in place, in front; the old one leaves when the animation ends.
        EXPECT_EQ(second->tag(), SwitchboardView::kAdViewTag);
        EXPECT_EQ(second->frame().origin.x, 0);
        EXPECT_EQ(second->alpha(), 1);
        clock.advance(1.0);
        EXPECT_EQ(view->subviews(), std::vector<std::shared_ptr<platform::View>>{second});
        EXPECT_EQ(first->tag(), 0);
        // Showing the same view again is ignored.
        view->replaceBannerViewWith(second);
        EXPECT_EQ(view->subviews().size(), 1u);
    }
}

TEST_F(SwitchboardViewTest, RefusedOrUnaskedTransitionIsDrawnAgain) {
    auto host = std::make_shared<RecordingHost>("cycle-app");
    auto config = mediation::SwitchboardConfig::create("local", nullptr);
    ASSERT_TRUE(config->parseConfig("{\"extra\":{\"transition\":0},\"rations\":[]}", nullptr));
    // No current adapter (a host view before any network ad): the type is drawn at random,
    // here 6 % 7 + 1 = 7, the fade.
    auto view = SwitchboardView::create(host);
    view->setConfig(config);
    view->setRandomSource([] { return 6u; });
    view->replaceBannerViewWith(std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50)));
    view->replaceBannerViewWith(std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50)));
    auto records = platform::AnimationLog::shared().recordsNamed(kTransitionName);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].property, "alpha");
}

// ---- Metrics ----

TEST_F(SwitchboardViewTest, PingValuesAreEscapedAndHostEndpointsWin) {
    Script::current().answers = {{1, Answer::Succeed}};
    auto host = std::make_shared<RecordingHost>("single-network-app");
    host->impURL = services.url("/custom/imp?old=1");
    host->clickURL = services.url("/custom/click");
    platform::Locale::setCurrent(platform::Locale::fromIdentifier("de_DE"));
    auto view = startSlot(host);
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/custom/imp") == 1; }));
    auto imp = services.requestsTo("/custom/imp")[0];
    EXPECT_FALSE(imp.queryValue("old")); // the base's query is replaced
    EXPECT_EQ(imp.queryValue("country_code"), "de_DE");
    EXPECT_EQ(impressions(), 0u);

    // A network id from the configuration that would break the query is escaped.
    auto odd = entry(1, "id&type=99 x", 1, 1);
    auto adapter =
        mediation::SwitchboardAdNetworkAdapter::create<ScriptedAdapter<1>>(host, view, view->config(), odd);
    view->setCurrAdapter(adapter);
    auto touch = touchEvent();
    view->pointInside({1, 1}, &touch);
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/custom/click") == 1; }));
    auto click = services.requestsTo("/custom/click")[0];
    EXPECT_EQ(click.queryValue("nid"), "id&type=99 x");
    EXPECT_EQ(click.queryValue("type"), "1");
    EXPECT_NE(click.rawQuery.find("nid=id%26type%3D99%20x"), std::string::npos);
}

// A view the host puts in after a network failed is no ad of that network: it has its own
// size and a touch on it sends no click ping.
TEST_F(SwitchboardViewTest, HostViewAfterAFailureHasItsOwnSizeAndNoPing) {
    Script::current().answers = {{1, Answer::Fail}};
    auto host = std::make_shared<RecordingHost>("single-network-app");
    auto view = startSlot(host);
    ASSERT_TRUE(waitFor([&] { return host->count("didFail:120") == 1; }));
    ASSERT_NE(view->currAdapter(), nullptr);
    view->currAdapter()->setAdNetworkView(std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50)));
    auto house = std::make_shared<platform::View>(platform::Rect(0, 0, 300, 40));
    view->replaceBannerViewWith(house);
    EXPECT_EQ(view->actualAdSize(), (platform::Size{300, 40}));
    auto touch = touchEvent();
    EXPECT_TRUE(view->pointInside({1, 1}, &touch));
    platform::URLConnection::create(*platform::URLRequest::withURLString(services.url("/marker")), nullptr);
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/marker") == 1; }));
    EXPECT_EQ(clicks(), 0u);

    // A network ad shown again is the adapter's: its size, and its click.
    Script::current().answers = {{1, Answer::Succeed}};
    clock.advance(5);
    view->requestFreshAd();
    ASSERT_TRUE(waitFor([&] {
        return view->currAdapter()->adNetworkView() &&
               view->currAdapter()->adNetworkView()->superview().get() == view.get();
    }));
    clock.advance(1.0);
    EXPECT_EQ(view->actualAdSize(), (platform::Size{320, 50}));
    view->pointInside({1, 1}, &touch);
    ASSERT_TRUE(waitFor([&] { return clicks() == 1; }));
}

TEST_F(SwitchboardViewTest, AdaptersThatOptOutSendNoPings) {
    registry.registerClass(mediation::switchboardAdapterClass<QuietAdapter<1>>());
    Script::current().answers = {{1, Answer::Succeed}};
    auto host = std::make_shared<RecordingHost>("single-network-app");
    auto view = startSlot(host);
    EXPECT_TRUE(view->adExists());
    auto touch = touchEvent();
    view->pointInside({1, 1}, &touch);
    platform::Event motion(platform::Event::Type::Motion, 0);
    view->pointInside({1, 1}, &motion);
    // A ping to another path shows when the loopback has seen everything sent so far.
    platform::URLConnection::create(*platform::URLRequest::withURLString(services.url("/marker")), nullptr);
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/marker") == 1; }));
    EXPECT_EQ(impressions(), 0u);
    EXPECT_EQ(clicks(), 0u);
}

// ---- Class-level fetch ----

TEST_F(SwitchboardViewTest, ClassLevelPreFetchFillsTheStore) {
    auto host = std::make_shared<RecordingHost>("cycle-app");
    SwitchboardView::startPreFetchingConfigurationDataWithDelegate(host);
    EXPECT_EQ(SwitchboardView::classSwitchboardDelegateForConfig(), host);
    platform::LogCapture capture;
    SwitchboardView::updateSwitchboardConfigWithDelegate(host);
    EXPECT_TRUE(capture.contains("Called updateConfig when another fetch is in progress"));
    useRegistry(mediation::SwitchboardConfigStore::sharedStore()->fetchingConfig());
    ASSERT_TRUE(waitFor([&] { return host->count("didReceiveConfig:class") == 1; }));
    EXPECT_EQ(SwitchboardView::classSwitchboardDelegateForConfig(), nullptr);

    // A later slot finds it without a request.
    auto view = SwitchboardView::requestSwitchboardViewWithDelegate(host);
    clock.drain();
    EXPECT_EQ(configRequests(), 1u);
    EXPECT_TRUE(view->config()->hasConfig());
}

TEST_F(SwitchboardViewTest, ClassLevelFetchRefusedByTheStoreDoesNotBlockLaterOnes) {
    auto store = mediation::SwitchboardConfigStore::sharedStore();
    auto running = store->fetchConfig("legacy-app", nullptr);
    ASSERT_NE(running, nullptr);
    useRegistry(running);
    auto host = std::make_shared<RecordingHost>("cycle-app");
    SwitchboardView::startPreFetchingConfigurationDataWithDelegate(host);
    EXPECT_EQ(SwitchboardView::classSwitchboardDelegateForConfig(), nullptr);
    ASSERT_TRUE(waitFor([&] { return running->hasConfig(); }));

    SwitchboardView::updateSwitchboardConfigWithDelegate(host);
    EXPECT_EQ(SwitchboardView::classSwitchboardDelegateForConfig(), host);
    useRegistry(store->fetchingConfig());
    ASSERT_TRUE(waitFor([&] { return host->count("didReceiveConfig:class") == 1; }));
}

// ---- The relay view ----

TEST_F(SwitchboardViewTest, RelayViewStartsOnlyWhenTheHostAsks) {
    Script::current().answers = {{1, Answer::Succeed}};
    auto host = std::make_shared<RecordingHost>("single-network-app");
    auto relay = mediation::SBRelayView::requestRelayViewWithDelegate(host);
    clock.drain();
    EXPECT_EQ(relay->config(), nullptr);
    EXPECT_EQ(configRequests(), 0u);
    relay->getNextAd();
    EXPECT_EQ(host->events.back(), "didFail:100");

    relay->updateSwitchboardConfig();
    useRegistry(relay->config());
    ASSERT_TRUE(waitFor([&] { return relay->config()->hasConfig(); }));
    clock.drain();
    EXPECT_TRUE(relay->adExists());
    clock.advance(2);
    relay->getNextAd();
    EXPECT_EQ(host->events.back(), "didFail:110");

    relay->setDelegateToNil();
    EXPECT_EQ(relay->delegate(), nullptr);
    EXPECT_EQ(relay->currAdapter()->switchboardDelegate(), nullptr);
    auto before = host->events.size();
    relay->getNextAd();
    EXPECT_EQ(host->events.size(), before);
}

} // namespace
