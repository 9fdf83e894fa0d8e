// The analytics manager's services: settings lookup order and typed readers, log levels,
// facts, identity values and the availability tests.
#include <gtest/gtest.h>
#include <md5.h>

#include "TrackingFixture.h"
#include "platform/foundation/Strings.h"

namespace {

using vellum::VellumAnalyticsManager;
using M = VellumAnalyticsManager;

class AnalyticsSettingsTest : public vellumtest::TrackingFixture {
public:
    void setEnv(const char* key, std::optional<std::string> value) {
        platform::ProcessInfo::setEnvironmentValueForTesting(key, std::move(value));
    }
    void setInfo(const char* key, platform::Value value) {
        platform::Bundle::main().setInfoDictionaryValue(key, value);
    }
};

TEST_F(AnalyticsSettingsTest, EnvironmentThenDefaultsThenInformationDictionary) {
    setInfo("K", "info");
    EXPECT_EQ(M::stringForKey("K"), "info");
    defaults().setString("K", "defaults");
    EXPECT_EQ(M::stringForKey("K"), "defaults");
    setEnv("K", "env");
    EXPECT_EQ(M::stringForKey("K"), "env");
    // An empty environment value still hides the later sources.
    setEnv("K", "");
    EXPECT_EQ(M::stringForKey("K"), "");
    EXPECT_TRUE(M::keyExists("K"));
    EXPECT_FALSE(M::keyExists("Missing"));
}

TEST_F(AnalyticsSettingsTest, TypedReadersTakeOnlyNumberObjects) {
    struct Case {
        const char* name;
        std::function<void(AnalyticsSettingsTest&)> set;
        bool boolValue;
        int intValue;
        float floatValue;
        std::optional<std::string> stringValue;
    };
    const Case cases[] = {
        {"text YES in the environment", [](auto& t) { t.setEnv("V", "YES"); }, false, 0, 0.0f, "YES"},
        {"text 5 in the defaults", [](auto& t) { t.defaults().setString("V", "5"); }, false, 0, 0.0f, "5"},
        {"number in the defaults", [](auto& t) { t.defaults().setDouble("V", 2.5); }, true, 2, 2.5f,
         std::nullopt},
        {"boolean in the information dictionary", [](auto& t) { t.setInfo("V", true); }, true, 1, 1.0f,
         std::nullopt},
        {"text hiding a number",
         [](auto& t) {
             t.setInfo("V", 7);
             t.setEnv("V", "7");
         },
         false, 0, 0.0f, "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setEnv("V", std::nullopt);
        defaults().removeObjectForKey("V");
        platform::Bundle::main().setInfoDictionary({});
        c.set(*this);
        EXPECT_EQ(M::boolForKey("V"), c.boolValue);
        EXPECT_EQ(M::intForKey("V"), c.intValue);
        EXPECT_EQ(M::floatForKey("V"), c.floatValue);
        EXPECT_EQ(M::stringForKey("V"), c.stringValue);
        EXPECT_TRUE(M::keyExists("V"));
    }
}

TEST_F(AnalyticsSettingsTest, WritersStoreInTheUserDefaults) {
    M::setBool(true, "B");
    M::setInt(4, "I");
    M::setFloat(1.5f, "F");
    M::setString("s", "S");
    platform::UserDefaults::resetForTesting(); // read back from the file
    EXPECT_TRUE(M::boolForKey("B"));
    EXPECT_EQ(M::intForKey("I"), 4);
    EXPECT_EQ(M::floatForKey("F"), 1.5f);
    EXPECT_EQ(M::stringForKey("S"), "s");
}

TEST_F(AnalyticsSettingsTest, LogLevelsFollowTheFirstLevelSettingFound) {
    struct Case {
        std::optional<const char*> vellum;
        std::optional<const char*> mr;
        bool internal, debug;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, false, false}, {"verbose", std::nullopt, true, false},
        {"7qv2kxpd", std::nullopt, true, false},    {std::nullopt, "DEBUG", false, true},
        {"quiet", "DEBUG", false, false}, // the first key is found, so the second is not read
    };
    for (const auto& c : cases) {
        platform::Bundle::main().setInfoDictionary({});
        if (c.vellum)
            setInfo("VellumLogLevel", *c.vellum);
        if (c.mr)
            setInfo("MRLogLevel", *c.mr);
        log.clear();
        manager()->logInternal("internal line");
        manager()->logDebug("debug line");
        manager()->logDebugOrInternal("either line");
        manager()->log("always line");
        EXPECT_EQ(manager()->logInternalEnabled(), c.internal);
        EXPECT_EQ(log.contains("internal line"), c.internal);
        EXPECT_EQ(log.contains("debug line"), c.debug);
        EXPECT_EQ(log.contains("either line"), c.internal || c.debug);
        EXPECT_TRUE(log.contains("*MRT* always line  (run ID 0)"));
    }
}

TEST_F(AnalyticsSettingsTest, FactsAndTheHashedDeviceIdentifier) {
    EXPECT_EQ(M::version(), "2.4.6.0");
    EXPECT_EQ(M::versionString(), "2.4");
    EXPECT_EQ(M::buildNumber(), 6);
    const std::string id = M::deviceID();
    ASSERT_FALSE(id.empty());
    char expected[MD5_DIGEST_STRING_LENGTH];
    MD5Data(reinterpret_cast<const std::uint8_t*>(id.data()), id.size(), expected);
    EXPECT_EQ(manager()->md5DeviceID(), expected);
    EXPECT_EQ(manager()->md5DeviceID().size(), 32u);
    EXPECT_EQ(platform::toLower(manager()->md5DeviceID()), manager()->md5DeviceID());
    EXPECT_EQ(manager()->systemVersion(), platform::Device::current().systemVersion());
    EXPECT_FALSE(M::deviceHardware().empty());
    EXPECT_EQ(M::libraryDirectory(), (home.root() / "Library").string());
}

TEST_F(AnalyticsSettingsTest, IdentityValuesComeFromDefaultsAndTheInformationDictionary) {
    platform::Bundle::main().setInfoDictionary({{"MRAppID", "info-id"}, {"CFBundleVersion", "77"}});
    EXPECT_EQ(manager()->appID(), "info-id");
    EXPECT_EQ(manager()->appVersion(), "77");
    manager()->setAppID("stored-id");
    defaults().setString("VellumAppVersion", "5.0");
    EXPECT_EQ(manager()->appID(), "stored-id");
    EXPECT_EQ(manager()->appVersion(), "5.0");
    setInfo("CFBundleShortVersionString", "6.0");
    EXPECT_EQ(manager()->appVersion(), "6.0");

    manager()->setAppToken("");
    EXPECT_EQ(manager()->appIdentifier(), "stored-id"); // an empty token is not an identity
    manager()->setAppToken("tok");
    EXPECT_EQ(manager()->appIdentifier(), "tok");
    manager()->setAppToken(std::nullopt);
    EXPECT_FALSE(defaults().objectForKey("MRAppToken"));
}

TEST_F(AnalyticsSettingsTest, AvailabilityTestsExplainTheirRefusal) {
    EXPECT_TRUE(manager()->isUnavailableWithErrorMessage("Cannot load ads"));
    EXPECT_TRUE(log.contains("Cannot load ads because the Vellum Tracking Library has not been started."));
    EXPECT_FALSE(manager()->isShutdownWithErrorMessage("Cannot serve"));
    defaults().setBool("MRShutdown", true);
    EXPECT_TRUE(manager()->isShutdownWithErrorMessage("Cannot serve"));
    EXPECT_TRUE(
        log.contains("Cannot serve because the Vellum Tracking Library has been shut down on this device."));
}

TEST_F(AnalyticsSettingsTest, NetworkStatusFollowsReachability) {
    struct Case {
        platform::ReachabilityFlags flags;
        int status;
    };
    using namespace platform;
    const Case cases[] = {
        {kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN | kReachabilityFlagsConnectionRequired |
             kReachabilityFlagsTransientConnection,
         1},
        {kReachabilityFlagsReachable, 2},
        {kReachabilityFlagsReachable | kReachabilityFlagsIsDirect, 0},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired, 0},
        {0, 0},
    };
    for (const auto& c : cases) {
        Reachability::setTestFlagsForAllHosts(c.flags);
        manager()->updateConnStatus();
        EXPECT_EQ(manager()->internetConnectionStatusCode(), c.status)
            << Reachability::describeFlags(c.flags);
        EXPECT_EQ(manager()->internetConnectionStatus(),
                  vellum::MRReachability::stringFromNetworkStatus(c.status));
    }
    // The default-route target is made once and reused.
    EXPECT_EQ(vellum::MRReachability::sharedReachability().reachabilityQueries().size(), 1u);
}

TEST(MRReachabilityNames, StatusTextsBothWays) {
    using vellum::MRReachability;
    EXPECT_EQ(MRReachability::stringFromNetworkStatus(0), "NotConnected");
    EXPECT_EQ(MRReachability::stringFromNetworkStatus(1), "CDNConnected");
    EXPECT_EQ(MRReachability::stringFromNetworkStatus(2), "WiFiConnected");
    EXPECT_EQ(MRReachability::stringFromNetworkStatus(7), "InvalidNetworkStatus");
    EXPECT_EQ(MRReachability::networkStatusFromString("WiFiConnected"), 2);
    EXPECT_EQ(MRReachability::networkStatusFromString("Satellite"), 0);
}

} // namespace
