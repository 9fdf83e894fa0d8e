#include <gtest/gtest.h>

#include "platform/net/Reachability.h"
#include "platform/runloop/RunLoop.h"
#include "support/ManualClockScope.h"

using namespace platform;

namespace {

constexpr double kRealLimit = 10.0;

class ReachabilityTest : public ::testing::Test {
  protected:
    fwtest::ManualClockScope clock;
    void SetUp() override { Reachability::resetForTesting(); }
    void TearDown() override { Reachability::resetForTesting(); }

    // Schedules `r` on the main loop and records every flags value it reports.
    static std::shared_ptr<std::vector<ReachabilityFlags>> watch(Reachability& r) {
        auto seen = std::make_shared<std::vector<ReachabilityFlags>>();
        EXPECT_TRUE(r.setCallback([seen](Reachability&, ReachabilityFlags f) { seen->push_back(f); }));
        EXPECT_TRUE(r.scheduleWithRunLoop(RunLoop::main()));
        return seen;
    }
};

TEST_F(ReachabilityTest, FlagBitsHaveThePlatformValues) {
    const std::pair<ReachabilityFlags, std::uint32_t> bits[] = {
        {kReachabilityFlagsTransientConnection, 1u << 0},
        {kReachabilityFlagsReachable, 1u << 1},
        {kReachabilityFlagsConnectionRequired, 1u << 2},
        {kReachabilityFlagsConnectionOnTraffic, 1u << 3},
        {kReachabilityFlagsInterventionRequired, 1u << 4},
        {kReachabilityFlagsConnectionOnDemand, 1u << 5},
        {kReachabilityFlagsIsLocalAddress, 1u << 16},
        {kReachabilityFlagsIsDirect, 1u << 17},
        {kReachabilityFlagsIsWWAN, 1u << 18},
    };
    for (auto [flag, value] : bits)
        EXPECT_EQ(flag, value);
    EXPECT_EQ(Reachability::describeFlags(kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN),
              "reachable|is-WWAN");
    EXPECT_EQ(Reachability::describeFlags(0), "none");
}

TEST_F(ReachabilityTest, OverrideForOneHostWinsOverAllHosts) {
    auto config = Reachability::createWithName("config.example");
    auto other = Reachability::createWithName("other.example");
    auto route = Reachability::createWithAddress("0.0.0.0");
    ASSERT_TRUE(config && other && route);

    Reachability::setTestFlagsForAllHosts(kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
    Reachability::setTestFlags("CONFIG.example", kReachabilityFlagsConnectionRequired);
    Reachability::setTestFlags("0.0.0.0", 0);
    struct Case {
        Reachability* r;
        ReachabilityFlags expected;
    };
    const Case cases[] = {
        {config.get(), kReachabilityFlagsConnectionRequired},
        {other.get(), kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN},
        {route.get(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.r->target());
        EXPECT_EQ(c.r->getFlags(), c.expected);
    }
    Reachability::clearTestFlags("config.example");
    EXPECT_EQ(config->getFlags(), kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
}

TEST_F(ReachabilityTest, ScheduledObjectHearsTheStatusThenEachChange) {
    Reachability::setTestFlags("config.example", 0);
    auto r = Reachability::createWithName("config.example");
    auto seen = watch(*r);
    EXPECT_TRUE(seen->empty()); // never inside schedule
    clock.drain();
    EXPECT_EQ(*seen, (std::vector<ReachabilityFlags>{0}));

    Reachability::setTestFlags("config.example", 0); // no change, no callback
    Reachability::setTestFlags("config.example", kReachabilityFlagsReachable);
    clock.drain();
    EXPECT_EQ(*seen, (std::vector<ReachabilityFlags>{0, kReachabilityFlagsReachable}));

    Reachability::setTestFlags("elsewhere.example", 0); // another host: nothing here
    EXPECT_TRUE(r->unscheduleFromRunLoop(RunLoop::main()));
    Reachability::setTestFlags("config.example", 0);
    clock.drain();
    EXPECT_EQ(seen->size(), 2u);
    EXPECT_FALSE(r->unscheduleFromRunLoop(RunLoop::main()));
}

TEST_F(ReachabilityTest, NoCallbackOnceUnscheduledOrDestroyed) {
    Reachability::setTestFlagsForAllHosts(kReachabilityFlagsReachable);
    auto r = Reachability::createWithName("a.example");
    auto seen = watch(*r);
    r->unscheduleFromRunLoop(RunLoop::main()); // the first status is already queued
    clock.drain();
    EXPECT_TRUE(seen->empty());

    auto gone = Reachability::createWithName("b.example");
    auto seenGone = watch(*gone);
    gone.reset();
    clock.drain();
    EXPECT_TRUE(seenGone->empty());
}

TEST_F(ReachabilityTest, TestsCanMakeEachStepFail) {
    EXPECT_EQ(Reachability::createWithName(""), nullptr);
    EXPECT_EQ(Reachability::createWithAddress("not-an-address"), nullptr);

    Reachability::setTestFailures({.creation = true});
    EXPECT_EQ(Reachability::createWithName("config.example"), nullptr);
    EXPECT_EQ(Reachability::createWithAddress("0.0.0.0"), nullptr);

    Reachability::setTestFailures({.setCallback = true, .scheduling = true, .getFlags = true});
    auto r = Reachability::createWithName("config.example");
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->setCallback([](Reachability&, ReachabilityFlags) {}));
    EXPECT_FALSE(r->scheduleWithRunLoop(RunLoop::main()));
    EXPECT_FALSE(r->isScheduledOn(RunLoop::main()));
    EXPECT_EQ(r->getFlags(), std::nullopt);

    Reachability::resetForTesting();
    EXPECT_TRUE(r->scheduleWithRunLoop(RunLoop::main()));
    EXPECT_FALSE(r->scheduleWithRunLoop(RunLoop::main())); // once per loop
    r->unscheduleFromRunLoop(RunLoop::main());
}

TEST_F(ReachabilityTest, RealFlagsForLoopbackAreLocalAndDirect) {
    const ReachabilityFlags local =
        kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect;
    for (const char* address : {"127.0.0.1", "::1", "127.1.2.3"}) {
        SCOPED_TRACE(address);
        auto r = Reachability::createWithAddress(address);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->getFlags(), local);
    }
    // A name is resolved first; "localhost" is loopback on any machine.
    auto byName = Reachability::createWithName("localhost");
    EXPECT_EQ(byName->getFlags(), local);
    // A name that cannot resolve is not reachable.
    EXPECT_EQ(Reachability::createWithName("no-such-host.invalid")->getFlags(), 0u);

    // Scheduled, the real status arrives from the background thread on the loop.
    auto seen = watch(*byName);
    ASSERT_TRUE(clock.runUntil([&] { return !seen->empty(); }, kRealLimit));
    EXPECT_EQ(seen->front(), local);
    byName->unscheduleFromRunLoop(RunLoop::main());
}

} // namespace
