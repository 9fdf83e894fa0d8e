// The configuration store against the loopback configuration service, and the reachability
// wrapper's judgement of the platform's flags.
#include <gtest/gtest.h>

#include "MediationTestSupport.h"
#include "SlotTestSupport.h"
#include "mediation/SBNetworkReachabilityWrapper.h"
#include "mediation/SwitchboardConfigStore.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"

namespace {

using mediation::SBNetworkReachabilityWrapper;
using mediation::SwitchboardConfig;
using mediation::SwitchboardConfigStore;
using namespace slottest;

// A configuration delegate that records what it is told, with a name.
class RecordingConfigDelegate : public mediation::SwitchboardConfigDelegate {
  public:
    RecordingConfigDelegate(std::string name, std::shared_ptr<std::vector<std::string>> log,
                            std::optional<std::string> url = std::nullopt)
        : name_(std::move(name)), log_(std::move(log)), url_(std::move(url)) {}
    void switchboardConfigDidReceiveConfig(SwitchboardConfig&) override {
        log_->push_back(name_ + ":received");
    }
    void switchboardConfigDidFail(SwitchboardConfig&, const platform::Error& error) override {
        lastError = error;
        log_->push_back(name_ + ":failed:" + std::to_string(error.code));
    }
    std::optional<std::string> switchboardConfigURL() override { return url_; }
    std::optional<platform::Error> lastError;

  private:
    std::string name_;
    std::shared_ptr<std::vector<std::string>> log_;
    std::optional<std::string> url_;
};

class ConfigStoreTest : public SlotTest {
  protected:
    // Configurations hold their delegates weakly: the fixture keeps them alive.
    std::shared_ptr<RecordingConfigDelegate> delegate(std::string name,
                                                      std::optional<std::string> url = std::nullopt) {
        alive.push_back(std::make_shared<RecordingConfigDelegate>(std::move(name), log, std::move(url)));
        return alive.back();
    }
    std::size_t configRequests() const { return services.requestCount(services::kMediationConfigPath); }

    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();
    std::vector<std::shared_ptr<RecordingConfigDelegate>> alive;
};

TEST_F(ConfigStoreTest, SameKeyIsFetchedOnceAndEveryWaitingDelegateIsToldInOrder) {
    auto store = SwitchboardConfigStore::sharedStore();
    auto first = delegate("first"), second = delegate("second"), later = delegate("later");

    auto config = store->getConfig("cycle-app", first);
    useRegistry(config);
    EXPECT_EQ(store->getConfig("cycle-app", second), config);
    ASSERT_TRUE(waitFor([&] { return log->size() == 2; }));
    EXPECT_EQ(*log, (std::vector<std::string>{"first:received", "second:received"}));
    EXPECT_EQ(config->adNetworkConfigs().size(), 3u);
    EXPECT_EQ(config->refreshInterval(), 30);

    // The request carries the key, the library version and the client, escaped one by one.
    auto requests = services.requestsTo(services::kMediationConfigPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].queryValue("appid"), "cycle-app");
    EXPECT_EQ(requests[0].queryValue("appver"), "300");
    EXPECT_EQ(requests[0].queryValue("client"), "1");

    // A complete configuration is answered from the cache, on a later turn.
    EXPECT_EQ(store->getConfig("cycle-app", later), config);
    EXPECT_EQ(log->size(), 2u);
    clock.drain();
    EXPECT_EQ(log->back(), "later:received");
    EXPECT_EQ(configRequests(), 1u);

    // fetchConfig always fetches anew and replaces the cached one.
    auto again = store->fetchConfig("cycle-app", delegate("again"));
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, config);
    useRegistry(again);
    ASSERT_TRUE(waitFor([&] { return log->back() == "again:received"; }));
    EXPECT_EQ(configRequests(), 2u);
    EXPECT_EQ(store->getConfig("cycle-app", nullptr), again);
}

TEST_F(ConfigStoreTest, OnlyOneFetchRunsInTheWholeProcess) {
    auto store = SwitchboardConfigStore::sharedStore();
    auto running = store->getConfig("cycle-app", delegate("running"));
    useRegistry(running);
    platform::LogCapture capture;
    EXPECT_EQ(store->fetchConfig("legacy-app", delegate("refused")), nullptr);
    EXPECT_TRUE(capture.contains("Another fetch is in progress, wait until finished."));
    ASSERT_TRUE(waitFor([&] { return !log->empty(); }));
    clock.drain();
    EXPECT_EQ(*log, std::vector<std::string>{"running:received"});
    EXPECT_EQ(configRequests(), 1u);
    EXPECT_EQ(store->fetchingConfig(), nullptr);
}

TEST_F(ConfigStoreTest, LegacyReplyIsReadThroughTheStore) {
    auto config = SwitchboardConfigStore::sharedStore()->getConfig("legacy-app", delegate("d"));
    useRegistry(config);
    ASSERT_TRUE(waitFor([&] { return !log->empty(); }));
    EXPECT_EQ(*log, std::vector<std::string>{"d:received"});
    EXPECT_TRUE(config->legacy());
    ASSERT_EQ(config->adNetworkConfigs().size(), 1u);
    EXPECT_EQ(config->adNetworkConfigs()[0]->nid(), "1");
    EXPECT_EQ(config->refreshInterval(), 30);
}

// Every failure reaches the delegates with its code, the configuration leaves the cache, and
// the next getConfig fetches again.
TEST_F(ConfigStoreTest, FailuresReachTheDelegatesAndDropTheConfiguration) {
    struct Case {
        const char* name;
        std::function<void(fwtest::LoopbackServices&)> script;
        bool closedPort;
        int code;
        std::string description;
        std::optional<std::int64_t> underlyingCode;
    };
    const std::string path(services::kMediationConfigPath);
    std::string oversize(SwitchboardConfigStore::kMaximumConfigReplyBytes + 10, ' ');
    const std::vector<Case> cases = {
        {"status 404", [&](auto& s) { s.setFault(path, services::Fault::errorStatus(404)); }, false, 11,
         "Config server did not return status 200", std::nullopt},
        {"status 500", [&](auto& s) { s.setFault(path, services::Fault::errorStatus(500, "{}")); }, false, 11,
         "Config server did not return status 200", std::nullopt},
        {"not JSON", [&](auto& s) { s.setFault(path, services::Fault::reply(200, "<html>oops</html>")); },
         false, 20, "Error parsing config JSON from server", std::nullopt},
        {"wrong top level", [&](auto& s) { s.setFault(path, services::Fault::reply(200, "42")); }, false, 30,
         "Expected top-level dictionary in config data", std::nullopt},
        {"over the size cap", [&](auto& s) { s.setFault(path, services::Fault::reply(200, oversize)); },
         false, 10, "Error connecting to config server", platform::kURLErrorDataLengthExceedsMaximum},
        {"closed port", [](auto&) {}, true, 10, "Error connecting to config server",
         platform::kURLErrorCannotConnectToHost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchboardConfigStore::resetStore();
        services.host().clearFaults();
        log->clear();
        c.script(services);
        std::optional<std::string> url;
        if (c.closedPort)
            url = fwtest::LoopbackServices::closedPortURL() + "/switchboard/getInfo.php";
        auto d = delegate("d", url);
        auto store = SwitchboardConfigStore::sharedStore();
        auto config = store->getConfig("cycle-app", d);
        ASSERT_NE(config, nullptr);
        useRegistry(config);
        ASSERT_TRUE(waitFor([&] { return !log->empty(); }));
        EXPECT_EQ(*log, std::vector<std::string>{"d:failed:" + std::to_string(c.code)});
        ASSERT_TRUE(d->lastError);
        EXPECT_EQ(d->lastError->domain, mediation::kSwitchboardErrorDomain);
        EXPECT_EQ(d->lastError->localizedDescription, c.description);
        auto underlying = mediation::SwitchboardError::underlyingError(*d->lastError);
        if (c.code == mediation::kSBErrorConfigData)
            EXPECT_TRUE(underlying) << "the JSON reader's error is kept";
        else
            EXPECT_EQ(underlying ? std::optional<std::int64_t>(underlying->code) : std::nullopt,
                      c.underlyingCode);
        EXPECT_FALSE(config->hasConfig());
        EXPECT_EQ(store->fetchingConfig(), nullptr);

        // Dropped from the cache: the next getConfig fetches again, and now succeeds.
        services.host().clearFaults();
        auto retry = store->getConfig("cycle-app", delegate("retry"));
        EXPECT_NE(retry, config);
        useRegistry(retry);
        ASSERT_TRUE(waitFor([&] { return log->size() == 2; }));
        EXPECT_EQ(log->back(), "retry:received");
    }
}

TEST_F(ConfigStoreTest, ProbeThatCannotStartFailsTheFetchAtOnce) {
    struct Case {
        const char* name;
        platform::Reachability::TestFailures failures;
        std::string description;
    };
    const std::vector<Case> cases = {
        {"no probe", {.creation = true}, "Error setting up reachability check to config server"},
        {"not scheduled", {.scheduling = true}, "Error scheduling reachability check to config server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchboardConfigStore::resetStore();
        log->clear();
        platform::Reachability::setTestFailures(c.failures);
        auto d = delegate("d");
        auto store = SwitchboardConfigStore::sharedStore();
        EXPECT_EQ(store->getConfig("cycle-app", d), nullptr);
        EXPECT_EQ(*log, std::vector<std::string>{"d:failed:10"});
        EXPECT_EQ(d->lastError->localizedDescription, c.description);
        EXPECT_EQ(store->fetchingConfig(), nullptr);
        platform::Reachability::setTestFailures({});
        // The store is free again.
        EXPECT_NE(store->getConfig("cycle-app", delegate("next")), nullptr);
    }
    EXPECT_EQ(configRequests(), 0u);
}

TEST_F(ConfigStoreTest, UnreachableHostIsProbedEveryTenSecondsUntilItAnswers) {
    mediationtest::LogLevelScope level(50); // the probe's lines are debug lines
    platform::Reachability::setTestFlagsForAllHosts(kUnreachable);
    platform::LogCapture capture;
    auto store = SwitchboardConfigStore::sharedStore();
    auto config = store->getConfig("cycle-app", delegate("d"));
    ASSERT_NE(config, nullptr);
    useRegistry(config);
    auto probes = [&] {
        std::size_t n = 0;
        for (const auto& line : capture.lines())
            n += line.find("not (yet) reachable, check back later") != std::string::npos;
        return n;
    };
    clock.drain();
    EXPECT_EQ(probes(), 1u);
    clock.advance(35);
    EXPECT_EQ(probes(), 4u);   // at 0, 10, 20 and 30 s
    EXPECT_TRUE(log->empty()); // waiting is no failure
    EXPECT_EQ(configRequests(), 0u);
    EXPECT_EQ(store->fetchingConfig(), config);

    platform::Reachability::setTestFlagsForAllHosts(kReachable);
    clock.advance(5); // the recheck at 40 s finds the host
    ASSERT_TRUE(waitFor([&] { return !log->empty(); }));
    EXPECT_EQ(*log, std::vector<std::string>{"d:received"});
    EXPECT_EQ(probes(), 4u);
    EXPECT_EQ(configRequests(), 1u);
}

// A recheck whose probe cannot be set up fails the fetch and drops its configuration, so the
// next getConfig starts a fresh fetch instead of waiting on it for good.
TEST_F(ConfigStoreTest, RecheckThatCannotStartDropsTheConfiguration) {
    struct Case {
        const char* name;
        platform::Reachability::TestFailures failures;
    };
    const Case cases[] = {{"no probe", {.creation = true}}, {"not scheduled", {.scheduling = true}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchboardConfigStore::resetStore();
        log->clear();
        platform::Reachability::setTestFlagsForAllHosts(kUnreachable);
        auto store = SwitchboardConfigStore::sharedStore();
        auto stalled = store->getConfig("cycle-app", delegate("d"));
        ASSERT_NE(stalled, nullptr);
        clock.drain();
        platform::Reachability::setTestFailures(c.failures);
        clock.advance(SwitchboardConfigStore::kReachabilityRecheckDelay);
        EXPECT_EQ(*log, std::vector<std::string>{"d:failed:10"});
        EXPECT_EQ(store->fetchingConfig(), nullptr);

        platform::Reachability::setTestFailures({});
        platform::Reachability::setTestFlagsForAllHosts(kReachable);
        auto fresh = store->getConfig("cycle-app", delegate("next"));
        ASSERT_NE(fresh, nullptr);
        EXPECT_NE(fresh, stalled);
        useRegistry(fresh);
        ASSERT_TRUE(waitFor([&] { return log->back() == "next:received"; }));
    }
}

TEST_F(ConfigStoreTest, ResetStoreEmptiesTheCacheAndSilencesTheOldFetch) {
    auto store = SwitchboardConfigStore::sharedStore();
    auto config = store->getConfig("cycle-app", delegate("old"));
    useRegistry(config);
    SwitchboardConfigStore::resetStore();
    EXPECT_NE(SwitchboardConfigStore::sharedStore(), store);
    store.reset(); // its probe goes with it: no download, no callback
    clock.drain();
    clock.advance(SwitchboardConfigStore::kReachabilityRecheckDelay);
    EXPECT_TRUE(log->empty());
    EXPECT_EQ(configRequests(), 0u);
    EXPECT_EQ(SwitchboardConfigStore::sharedStore()->fetchingConfig(), nullptr);
}

// ---- Reachability wrapper ----

TEST(SBNetworkReachabilityWrapper, JudgesTheFlags) {
    using namespace platform;
    struct Case {
        ReachabilityFlags flags;
        bool reachable;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0, false, "---------"},
        {kReachabilityFlagsReachable, true, "-R-------"},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired, false, "-Rc------"},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired | kReachabilityFlagsIsWWAN, true,
         "-Rc-----W"},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
             kReachabilityFlagsConnectionOnTraffic,
         true, "-RcC-----"},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
             kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsInterventionRequired,
         false, "-RcCi----"},
        {kReachabilityFlagsIsWWAN | kReachabilityFlagsConnectionRequired, false, "--c-----W"},
        {kReachabilityFlagsTransientConnection | kReachabilityFlagsReachable |
             kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect,
         true, "tR----ld-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SBNetworkReachabilityWrapper::isReachable(c.flags), c.reachable);
        EXPECT_EQ(SBNetworkReachabilityWrapper::flagString(c.flags), c.text);
    }
}

class ProbeRecorder : public mediation::SBNetworkReachabilityDelegate {
  public:
    void reachabilityBecameReachable(SBNetworkReachabilityWrapper&) override {
        events.push_back("reachable");
        probe.reset(); // letting the probe go inside its own callback is safe
    }
    void reachabilityNotReachable(SBNetworkReachabilityWrapper&) override {
        events.push_back("not reachable");
    }
    std::vector<std::string> events;
    std::shared_ptr<SBNetworkReachabilityWrapper> probe;
};

TEST(SBNetworkReachabilityWrapper, TellsTheDelegateAtFirstAndAtEachChange) {
    fwtest::ManualClockScope clock;
    platform::Reachability::resetForTesting();
    platform::Reachability::setTestFlags("probe.test", kUnreachable);
    auto recorder = std::make_shared<ProbeRecorder>();
    recorder->probe = SBNetworkReachabilityWrapper::reachabilityWithHostname("probe.test", recorder);
    ASSERT_NE(recorder->probe, nullptr);
    EXPECT_EQ(recorder->probe->hostname(), "probe.test");
    EXPECT_TRUE(recorder->probe->scheduleInCurrentRunLoop());
    EXPECT_FALSE(recorder->probe->scheduleInCurrentRunLoop());
    clock.drain();
    EXPECT_EQ(recorder->events, std::vector<std::string>{"not reachable"});
    platform::Reachability::setTestFlags("probe.test", kReachable);
    clock.drain();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"not reachable", "reachable"}));
    EXPECT_EQ(recorder->probe, nullptr);
    // Gone with its wrapper: no more callbacks.
    platform::Reachability::setTestFlags("probe.test", kUnreachable);
    clock.drain();
    EXPECT_EQ(recorder->events.size(), 2u);

    platform::Reachability::setTestFailures({.creation = true});
    platform::LogCapture capture;
    EXPECT_EQ(SBNetworkReachabilityWrapper::reachabilityWithHostname("probe.test", recorder), nullptr);
    EXPECT_TRUE(capture.contains("Error creating SCNetworkReachability"));
    platform::Reachability::setTestFailures({.setCallback = true});
    EXPECT_EQ(SBNetworkReachabilityWrapper::reachabilityWithHostname("probe.test", recorder), nullptr);
    EXPECT_TRUE(capture.contains("Error setting SCNetworkReachability callback"));
    platform::Reachability::resetForTesting();
}

} // namespace
