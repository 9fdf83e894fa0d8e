// The engine's reachability: how the default route's flags become the general status, how
// address texts are read, that targets are kept per key (and can be replaced as a table), and
// that nothing is posted when the network changes.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "cobalt/CBReachability.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/Reachability.h"
#include "support/ManualClockScope.h"

namespace {

using cobalt::CBReachability;
using cobalt::CBReachabilityQuery;
using namespace platform;

class ReachabilityTest : public ::testing::Test {
protected:
    ReachabilityTest() {
        Reachability::resetForTesting();
        CBReachability::resetForTesting();
    }
    ~ReachabilityTest() override {
        CBReachability::resetForTesting();
        Reachability::resetForTesting();
    }
    fwtest::ManualClockScope time;
};

TEST_F(ReachabilityTest, TheDefaultRoutesFlagsGiveTheStatus) {
    struct Case {
        const char* name;
        ReachabilityFlags flags;
        int status;
    };
    const Case cases[] = {
        {"reachable", kReachabilityFlagsReachable, 2},
        {"reachable over a transient connection",
         kReachabilityFlagsReachable | kReachabilityFlagsTransientConnection, 1},
        {"device-to-device", kReachabilityFlagsReachable | kReachabilityFlagsIsDirect, 0},
        {"not reachable", 0, 0},
        {"transient but not reachable", kReachabilityFlagsTransientConnection, 0},
        {"needs a connection", kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired, 0},
        {"needs a connection, cellular",
         kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired | kReachabilityFlagsIsWWAN, 2},
    };
    auto& reachability = CBReachability::sharedReachability();
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Reachability::setTestFlags(CBReachability::kDefaultRouteKey, row.flags);
        EXPECT_EQ(reachability.internetConnectionStatus(), row.status);
        EXPECT_EQ(CBReachability::isReachableWithoutRequiringConnection(row.flags),
                  (row.flags & kReachabilityFlagsReachable) &&
                      (!(row.flags & kReachabilityFlagsConnectionRequired) ||
                       (row.flags & kReachabilityFlagsIsWWAN)));
    }
    // One stored target serves every reading.
    ASSERT_EQ(reachability.reachabilityQueries().count(CBReachability::kDefaultRouteKey), 1u);
    const auto query = reachability.reachabilityQueries().at(CBReachability::kDefaultRouteKey);
    reachability.internetConnectionStatus();
    EXPECT_EQ(reachability.reachabilityQueries().at(CBReachability::kDefaultRouteKey), query);

    // Naming an unreachable host does not change the general status.
    Reachability::setTestFlags(CBReachability::kDefaultRouteKey, kReachabilityFlagsReachable);
    Reachability::setTestFlags("unreachable.example", 0);
    reachability.setHostName(std::string("unreachable.example"));
    EXPECT_EQ(reachability.internetConnectionStatus(), 2);
    EXPECT_EQ(reachability.remoteHostStatus(), 0);
    // Unreadable flags count as not reachable.
    Reachability::setTestFailures({.getFlags = true});
    EXPECT_EQ(reachability.internetConnectionStatus(), 0);
}

TEST_F(ReachabilityTest, AddressTexts) {
    struct Case {
        const char* text;
        bool parses;
        std::uint32_t networkOrder;
    };
    const Case cases[] = {
        {"10.0.0.1", true, htonl(0x0A000001)},
        {"169.254.0.0", true, htonl(0xA9FE0000)},
        {"0.0.0.0", true, 0},
        {"banana", false, 0},
        {"", false, 0},
        {"256.1.1.1", false, 0},
        {"10.0.0", false, 0},
        {"10.0.0.1 ", false, 0},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        std::uint32_t address = 0xFFFFFFFF;
        EXPECT_EQ(CBReachability::addressFromString(row.text, &address), row.parses);
        if (row.parses) {
            EXPECT_EQ(address, row.networkOrder);
        }
    }
    // A look-up by a text that is no address is refused with the named error.
    auto& reachability = CBReachability::sharedReachability();
    try {
        reachability.reachabilityRefForAddress("banana");
        ADD_FAILURE() << "no error";
    } catch (const NamedException& e) {
        EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
        EXPECT_NE(
            std::string(e.what()).find("Failed to convert an IP address string to a sockaddr_in: banana"),
            std::string::npos);
    }
    EXPECT_FALSE(reachability.reachabilityQueries().count("banana"));
    EXPECT_FALSE(reachability.reachabilityRefForAddress(""));
}

TEST_F(ReachabilityTest, TheQueryTableCanBeReplaced) {
    auto& reachability = CBReachability::sharedReachability();
    Reachability::setTestFlags(CBReachability::kDefaultRouteKey, kReachabilityFlagsReachable);
    Reachability::setTestFlags("10.1.2.3",
                               kReachabilityFlagsReachable | kReachabilityFlagsTransientConnection);
    ASSERT_EQ(reachability.internetConnectionStatus(), 2);

    // A table whose default-route entry reads another target: the status follows it.
    auto query = std::make_shared<CBReachabilityQuery>();
    query->setHostNameOrAddress(CBReachability::kDefaultRouteKey);
    query->setReachabilityRef(Reachability::createWithAddress("10.1.2.3"));
    reachability.setReachabilityQueries({{CBReachability::kDefaultRouteKey, query}});
    EXPECT_EQ(reachability.reachabilityQueries().size(), 1u);
    EXPECT_EQ(reachability.internetConnectionStatus(), 1);

    // An empty table: the default route is looked up afresh. Entries without a query are
    // left out.
    reachability.setReachabilityQueries({{"example.test", nullptr}});
    EXPECT_TRUE(reachability.reachabilityQueries().empty());
    EXPECT_EQ(reachability.internetConnectionStatus(), 2);
    EXPECT_NE(reachability.reachabilityQueries().at(CBReachability::kDefaultRouteKey), query);
}

TEST_F(ReachabilityTest, NothingIsPostedWhenTheNetworkChanges) {
    int posted = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(CBReachability::kNotificationName,
                                                                 [&](const Notification&) { ++posted; });
    auto& reachability = CBReachability::sharedReachability();
    Reachability::setTestFlags(CBReachability::kDefaultRouteKey, kReachabilityFlagsReachable);
    EXPECT_EQ(reachability.internetConnectionStatus(), 2);
    Reachability::setTestFlags(CBReachability::kDefaultRouteKey, 0);
    time.advance(10);
    EXPECT_EQ(reachability.internetConnectionStatus(), 0);
    EXPECT_EQ(posted, 0);
    EXPECT_FALSE(reachability.networkStatusNotificationsEnabled());
    NotificationCenter::defaultCenter().removeObserver(token);
}

} // namespace
