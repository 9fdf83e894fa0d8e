#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardError.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Services.h"
#include "platform/location/LocationManager.h"

using namespace mediation;

namespace {

// Expected values of one parsed network entry.
struct Entry {
    int type;
    std::string nid;
    std::string name;
    double weight;
    int priority;
    std::optional<std::string> pubId;
};

// A configuration parsed against a registry that holds the program's network types.
class ParsedConfig : public ::testing::Test {
protected:
    ParsedConfig() { mediationtest::registerProgramTypes(registry_); }

    std::shared_ptr<SwitchboardConfig> parse(const std::string& json, bool expectSuccess = true) {
        auto config = SwitchboardConfig::create("app-key", nullptr);
        config->setAdNetworkRegistry(&registry_);
        SwitchboardError error(0, std::string());
        bool ok = config->parseConfig(json, &error);
        EXPECT_EQ(ok, expectSuccess) << json << "\n" << error.localizedDescription;
        EXPECT_EQ(config->hasConfig(), ok);
        lastError_ = error;
        return config;
    }

    static void expectEntries(const SwitchboardConfig& config, const std::vector<Entry>& expected) {
        const auto& entries = config.adNetworkConfigs();
        ASSERT_EQ(entries.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("entry " + std::to_string(i));
            const auto& e = *entries[i];
            EXPECT_EQ(e.networkType(), expected[i].type);
            EXPECT_EQ(e.nid(), expected[i].nid);
            EXPECT_EQ(e.networkName(), expected[i].name);
            EXPECT_DOUBLE_EQ(e.trafficPercentage(), expected[i].weight);
            EXPECT_EQ(e.priority(), expected[i].priority);
            EXPECT_EQ(e.pubId(), expected[i].pubId);
            ASSERT_TRUE(e.adapterClass());
            EXPECT_EQ(e.adapterClass()->networkType(), expected[i].type);
        }
    }

    // Type 10 has no adapter in the program; the relay test gives it one to see both shares.
    void registerTestAdapter10() { mediationtest::registerTestAdapter<10>(registry_); }

    SwitchboardAdNetworkRegistry registry_;
    SwitchboardError lastError_{0, std::string()};
};

TEST_F(ParsedConfig, InitialStateBeforeAnyReply) {
    auto config = SwitchboardConfig::create("k", nullptr);
    EXPECT_EQ(config->appKey(), "k");
    EXPECT_FALSE(config->legacy());
    EXPECT_FALSE(config->adsAreOff());
    EXPECT_FALSE(config->hasConfig());
    EXPECT_TRUE(config->adNetworkConfigs().empty());
    EXPECT_EQ(config->backgroundColor(), platform::Color::white(0.3));
    EXPECT_EQ(config->textColor(), platform::Color::whiteColor());
    EXPECT_EQ(config->refreshInterval(), 60.0);
    EXPECT_TRUE(config->locationOn());
    EXPECT_EQ(config->bannerAnimationType(), 8);
    EXPECT_EQ(config->fullscreenWaitInterval(), 60);
    EXPECT_EQ(config->fullscreenMaxAds(), 2);
    EXPECT_EQ(config->adNetworkRegistry(), &SwitchboardAdNetworkRegistry::sharedRegistry());
}

TEST_F(ParsedConfig, SettingsOfExtra) {
    struct Case {
        const char* extra;
        double refresh;
        int transition;
        bool locationOn;
    };
    const Case cases[] = {
        {R"({"refresh_interval":45})", 45, 8, true},
        {R"({"cycle_time":"45"})", 45, 8, true},
        {R"({"refresh_interval":30000})", 0, 8, true},
        {R"({"refresh_interval":29999})", 29999, 8, true},
        {R"({"refresh_interval":"90000"})", 0, 8, true},
        {R"({"refresh_interval":12.9})", 12, 8, true},
        // The first key wins when present, even when its value is unusable.
        {R"({"refresh_interval":[1],"cycle_time":20})", 60, 8, true},
        {R"({"refresh_interval":null,"cycle_time":20})", 60, 8, true},
        {R"({"transition":0})", 60, 0, true},
        {R"({"transition":9})", 60, 8, true},
        {R"({"transition":-1})", 60, 8, true},
        {R"({"transition":"5"})", 60, 5, true},
        {R"({"banner_animation_type":4})", 60, 4, true},
        {R"({"transition":3,"banner_animation_type":4})", 60, 3, true},
        {R"({"location_on":0})", 60, 8, false},
        {R"({"location_on":"0"})", 60, 8, false},
        {R"({"location_on":2})", 60, 8, true},
        {R"({"location_on":"yes"})", 60, 8, false},
        {R"({"location_on":{}})", 60, 8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra);
        auto config = parse(std::string(R"({"rations":[],"extra":)") + c.extra + "}");
        EXPECT_EQ(config->refreshInterval(), c.refresh);
        EXPECT_EQ(config->bannerAnimationType(), c.transition);
        EXPECT_EQ(config->locationOn(), c.locationOn);
    }
}

TEST_F(ParsedConfig, ColoursAndFullScreenSettings) {
    auto config = parse(R"({"extra":{
        "background_color_rgb":{"red":255,"green":0,"blue":0},
        "text_color_rgb":{"red":0,"green":0,"blue":255,"alpha":0.5},
        "fullscreen_wait_interval":"15","fullscreen_max_ads":4},"rations":[]})");
    EXPECT_EQ(config->backgroundColor(), (platform::Color{1, 0, 0, 1}));
    EXPECT_EQ(config->textColor(), (platform::Color{0, 0, 1, 0.5}));
    EXPECT_EQ(config->fullscreenWaitInterval(), 15);
    EXPECT_EQ(config->fullscreenMaxAds(), 4);

    // A malformed colour object leaves no colour at all (the default is not kept).
    auto malformed = parse(R"({"extra":{"background_color_rgb":{"red":1,"blue":2},
                                        "text_color_rgb":"white"},"rations":[]})");
    EXPECT_EQ(malformed->backgroundColor(), std::nullopt);
    EXPECT_EQ(malformed->textColor(), std::nullopt);
}

TEST_F(ParsedConfig, LocationServicesOffTurnsLocationOff) {
    struct Restore {
        ~Restore() { platform::LocationManager::setLocationServicesEnabledForTesting(true); }
    } restore;
    mediationtest::LogLevelScope debug(50);
    platform::LogCapture log;
    platform::LocationManager::setLocationServicesEnabledForTesting(false);
    EXPECT_FALSE(parse(R"({"extra":{"location_on":1},"rations":[]})")->locationOn());
    EXPECT_TRUE(log.contains("User disabled location services, set locationOn to NO"));
    platform::LocationManager::setLocationServicesEnabledForTesting(true);
    EXPECT_TRUE(parse(R"({"extra":{"location_on":1},"rations":[]})")->locationOn());
}

TEST_F(ParsedConfig, CurrentFormatRations) {
    struct Case {
        const char* name;
        const char* rations;
        bool adsOff;
        std::vector<Entry> entries;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"two networks, string key and object key",
         R"([{"nid":"a1","type":1,"nname":"lumen","weight":60,"priority":2,"key":"pub-1"},
             {"nid":"b2","type":18,"nname":"orbis","weight":40.5,"priority":1,"key":{"siteID":"s","spotID":"t"}}])",
         false,
         {{1, "a1", "lumen", 60, 2, "pub-1"}, {18, "b2", "orbis", 40.5, 1, std::nullopt}},
         {}},
        {"numbers as strings",
         R"([{"nid":"c","type":"6","nname":"meridian","weight":"12.5","priority":"3"}])",
         false,
         {{6, "c", "meridian", 12.5, 3, std::nullopt}},
         {}},
        {"weights 0 and 0: ads off",
         R"([{"nid":"a","type":1,"nname":"l","weight":0,"priority":1},{"nid":"b","type":7,"nname":"c","priority":2}])",
         true,
         {{1, "a", "l", 0, 1, std::nullopt}, {7, "b", "c", 0, 2, std::nullopt}},
         {}},
        {"empty array: ads off", "[]", true, {}, {}},
        {"not an array: ads off", R"({"nid":"a"})", true, {}, {"No rations array in ad network config"}},
        {"type without adapter dropped",
         R"([{"nid":"p","type":3,"nname":"pumice","weight":50,"priority":1},
             {"nid":"u","type":99,"nname":"unknown","weight":50,"priority":2},
             {"nid":"g","type":16,"nname":"generic","weight":10,"priority":3}])",
         false,
         {{16, "g", "generic", 10, 3, std::nullopt}},
         {"Ad network type 3 not supported, no adapter found",
          "Ad network type 99 not supported, no adapter found"}},
        {"bad rations dropped one by one",
         R"([5, "x", null,
             {"nid":"a","type":1,"nname":"lumen","weight":10},
             {"nid":"a","type":0,"nname":"lumen","weight":10,"priority":1},
             {"nid":"a","type":1,"nname":"lumen","weight":10,"priority":0},
             {"nid":7,"type":1,"nname":"lumen","weight":10,"priority":1},
             {"nid":"a","type":1,"nname":["lumen"],"weight":10,"priority":1},
             {"nid":"a","type":null,"nname":"lumen","weight":10,"priority":1},
             {"nid":"ok","type":12,"nname":"nimbus","weight":"lots","priority":1,"key":5}])",
         true,
         {{12, "ok", "nimbus", 0, 1, std::nullopt}},
         {"Element in rations array is not a dictionary 5 in ad network config",
          "Element in rations array is not a dictionary x in ad network config",
          "Element in rations array is not a dictionary null in ad network config",
          "Ad network config has no network type, network id, network name, or priority",
          "Ad network config has invalid network type, network id, network name or priority"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::LogCapture log;
        auto config = parse(std::string(R"({"extra":{},"rations":)") + c.rations + "}");
        EXPECT_FALSE(config->legacy());
        EXPECT_EQ(config->adsAreOff(), c.adsOff);
        expectEntries(*config, c.entries);
        for (const auto& w : c.warnings)
            EXPECT_TRUE(log.contains(w)) << w;
    }
}

TEST_F(ParsedConfig, ObjectKeyGivesCredentialsWithoutPubId) {
    auto config = parse(R"({"extra":{},"rations":[
        {"nid":"t","type":2,"nname":"tangent","weight":1,"priority":1,"key":{"siteID":"s1","spotID":"p1"}},
        {"nid":"o","type":18,"nname":"orbis","weight":1,"priority":2,"key":{"pubid":"from-object","extra":[1,2]}}]})");
    ASSERT_EQ(config->adNetworkConfigs().size(), 2u);
    const auto& tangent = *config->adNetworkConfigs()[0];
    ASSERT_TRUE(tangent.credentials());
    EXPECT_EQ(*tangent.credentials(), (platform::Dictionary{{"siteID", "s1"}, {"spotID", "p1"}}));
    EXPECT_EQ(tangent.pubId(), std::nullopt);
    EXPECT_EQ(tangent.description(),
              "name:tangent type:2 nid:t weight:1.000000 priority:1 creds:{siteID:s1 spotID:p1 }");
    const auto& orbis = *config->adNetworkConfigs()[1];
    EXPECT_EQ(orbis.pubId(), "from-object");
    EXPECT_EQ(orbis.description(), "name:orbis type:18 nid:o weight:1.000000 priority:2 creds:from-object");
}

TEST_F(ParsedConfig, MissingExtraKeepsDefaults) {
    platform::LogCapture log;
    auto config = parse(R"({"rations":[{"nid":"a","type":1,"nname":"lumen","weight":5,"priority":1}]})");
    EXPECT_TRUE(log.contains("No extra info dict in ad network config"));
    EXPECT_EQ(config->refreshInterval(), 60.0);
    EXPECT_FALSE(config->adsAreOff());
    auto notObject = parse(R"({"extra":[1],"rations":[]})");
    EXPECT_EQ(notObject->bannerAnimationType(), 8);
}

TEST_F(ParsedConfig, LegacyFormat) {
    struct Case {
        const char* name;
        const char* json;
        bool adsOff;
        double refresh;
        std::vector<Entry> entries;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"one Lumen network, settings in the fourth element",
         R"([{"lumen_ration":100,"lumen_key":"lk","lumen_priority":1},{},{},{"cycle_time":30}])",
         false,
         30,
         {{1, "1", "lumen", 100, 1, "lk"}},
         {}},
        {"networks spread over three elements",
         R"([{"meridian_ration":"30","cobalt_ration":20},{"meridian_priority":2,"cobalt_priority":1},
             {"meridian_key":"m","cobalt_key":{"app":"c"}}])",
         false,
         60,
         {{7, "7", "cobalt", 20, 1, std::nullopt}, {6, "6", "meridian", 30, 2, "m"}},
         {}},
        {"empty_ration 100: ads off, the rest unread",
         R"([{"empty_ration":100,"lumen_ration":50,"lumen_priority":1},"not read"])",
         true,
         60,
         {},
         {}},
        {"empty_ration as the string 100", R"([{"empty_ration":"100"}])", true, 60, {}, {}},
        {"other empty_ration is the weight of a network named empty",
         R"([{"empty_ration":50,"lumen_ration":50,"lumen_priority":1}])",
         false,
         60,
         {{1, "1", "lumen", 50, 1, std::nullopt}},
         {"Unrecognized ad network 'empty' in legacy config, ignored"}},
        {"dontcare keys are skipped",
         R"([{"dontcare_ration":50,"orbis_ration":5,"orbis_priority":4}])",
         false,
         60,
         {{18, "18", "orbis", 5, 4, std::nullopt}},
         {}},
        {"unknown names and types without adapter are dropped",
         R"([{"foo_ration":10,"foo_priority":1,"pumice_ration":10,"pumice_priority":2,"custom_ration":10,"custom_priority":3}])",
         false,
         60,
         {{9, "9", "custom", 10, 3, std::nullopt}},
         {"Unrecognized ad network 'foo' in legacy config, ignored", "Ad network type 3 not supported"}},
        {"network name with underscores",
         R"([{"lumen_exchange_ration":10,"lumen_exchange_priority":1}])",
         true,
         60,
         {},
         {"Ad network type 15 not supported"}},
        {"elements past the settings are ignored",
         R"([{"lumen_ration":1,"lumen_priority":1},{},{},{},{"x":1}])",
         false,
         60,
         {{1, "1", "lumen", 1, 1, std::nullopt}},
         {"Ignoring element at index 4 in legacy config"}},
        {"weights truncate before they add up: ads off",
         R"([{"lumen_ration":0.5,"lumen_priority":1,"cobalt_ration":0.7,"cobalt_priority":2}])",
         true,
         60,
         {{7, "7", "cobalt", 0.7, 2, std::nullopt}, {1, "1", "lumen", 0.5, 1, std::nullopt}},
         {}},
        {"no network at all: ads off", "[]", true, 60, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::LogCapture log;
        auto config = parse(c.json);
        EXPECT_TRUE(config->legacy());
        EXPECT_EQ(config->adsAreOff(), c.adsOff);
        EXPECT_EQ(config->refreshInterval(), c.refresh);
        expectEntries(*config, c.entries);
        for (const auto& w : c.warnings)
            EXPECT_TRUE(log.contains(w)) << w;
    }
}

TEST_F(ParsedConfig, LegacyRelaySplitsItsWeight) {
    registerTestAdapter10();
    auto config = parse(R"([{"relay_ration":50,"relay_key":"relay-key","relay_priority":1,
        "switchboard_10_ration":0,"switchboard_10_priority":3,"switchboard_12_ration":0,"switchboard_12_priority":2,
        "switchboard_12_key":"own"}])");
    expectEntries(*config, {{10, "10", "switchboard_10", 25, 3, "relay-key"},
                            {12, "12", "switchboard_12", 25, 2, "relay-key"}});
    EXPECT_FALSE(config->adsAreOff());

    // Whole-number division; without a relay key each network keeps its own.
    auto odd = parse(R"([{"relay_ration":"51","switchboard_10_priority":3,"switchboard_12_priority":2,
        "switchboard_12_key":"own"}])");
    expectEntries(*odd, {{10, "10", "switchboard_10", 25, 3, std::nullopt},
                         {12, "12", "switchboard_12", 25, 2, "own"}});

    // Relay without networks to share with: nothing changes, and relay is never an entry.
    auto alone = parse(R"([{"relay_ration":50,"relay_priority":1,"lumen_ration":5,"lumen_priority":2}])");
    expectEntries(*alone, {{1, "1", "lumen", 5, 2, std::nullopt}});
}

TEST_F(ParsedConfig, FailuresReportErrorsAndTellNoDelegate) {
    struct Case {
        const char* json;
        int code;
        std::string description;
    };
    const Case cases[] = {
        {"not json", 20, "Error parsing config JSON from server"},
        {"", 20, "Error parsing config JSON from server"},
        {"42", 30, "Expected top-level dictionary in config data"},
        {R"("text")", 30, "Expected top-level dictionary in config data"},
        {"[1]", 30, "Expected dictionary in config data"},
        {R"([{"lumen_ration":1},{},{},{},7])", 30, "Expected dictionary in config data"},
        {R"([{"lumenration":1}])", 30, "Expected underscore delimiter in key 'lumenration'"},
        {R"([{"_ration":1}])", 30, "Empty ad network name in key '_ration'"},
        {R"([{"lumen_":1}])", 30, "Empty value name in key 'lumen_'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        auto config = parse(c.json, false);
        EXPECT_EQ(lastError_.domain, kSwitchboardErrorDomain);
        EXPECT_EQ(lastError_.code, c.code);
        EXPECT_EQ(lastError_.localizedDescription, c.description);
        EXPECT_EQ(SwitchboardError::underlyingError(lastError_).has_value(), c.code == 20);
        EXPECT_FALSE(config->hasConfig());
    }
    // Without a place for the error the parse still fails cleanly.
    auto config = SwitchboardConfig::create("k", nullptr);
    EXPECT_FALSE(config->parseConfig("{", nullptr));
}

// Records what a configuration tells it into a shared list.
class RecordingConfigDelegate : public SwitchboardConfigDelegate {
public:
    RecordingConfigDelegate(std::string name, mediationtest::Events events,
                            std::optional<std::string> url = {})
        : name_(std::move(name)), events_(std::move(events)), url_(std::move(url)) {}
    void switchboardConfigDidReceiveConfig(SwitchboardConfig& config) override {
        events_->push_back(name_ + ":received:" + config.appKey());
        if (onReceive)
            onReceive(config);
    }
    void switchboardConfigDidFail(SwitchboardConfig&, const platform::Error& error) override {
        events_->push_back(name_ + ":failed:" + std::to_string(error.code));
    }
    std::optional<std::string> switchboardConfigURL() override { return url_; }
    std::function<void(SwitchboardConfig&)> onReceive;

private:
    std::string name_;
    mediationtest::Events events_;
    std::optional<std::string> url_;
};

TEST(SwitchboardConfigDelegates, ToldInOrderHeldWeaklyAddedOnce) {
    auto events = mediationtest::makeEvents();
    auto first = std::make_shared<RecordingConfigDelegate>("first", events);
    auto second = std::make_shared<RecordingConfigDelegate>("second", events);
    auto third = std::make_shared<RecordingConfigDelegate>("third", events);
    auto gone = std::make_shared<RecordingConfigDelegate>("gone", events);
    auto config = SwitchboardConfig::create("key", first);
    EXPECT_FALSE(config->addDelegate(first));
    EXPECT_TRUE(config->addDelegate(gone));
    EXPECT_TRUE(config->addDelegate(second));
    EXPECT_TRUE(config->addDelegate(third));
    EXPECT_TRUE(config->removeDelegate(third.get()));
    EXPECT_FALSE(config->removeDelegate(third.get()));
    gone.reset(); // a delegate that went away is simply not told

    // A delegate may remove itself (or another) while being told.
    first->onReceive = [&](SwitchboardConfig& c) { c.removeDelegate(first.get()); };
    ASSERT_TRUE(config->parseConfig(R"({"extra":{},"rations":[]})", nullptr));
    EXPECT_EQ(*events, (std::vector<std::string>{"first:received:key", "second:received:key"}));

    events->clear();
    config->notifyDelegatesOfFailure(SwitchboardError(11, "Config server did not return status 200"));
    EXPECT_EQ(*events, std::vector<std::string>{"second:failed:11"});

    events->clear();
    SwitchboardError error(0, std::string());
    EXPECT_FALSE(config->parseConfig(R"({"extra":{},"rations":[]})", &error));
    EXPECT_EQ(error.localizedDescription, "Already has config, will not parse");
    EXPECT_EQ(error.code, 30);
    EXPECT_TRUE(events->empty());
}

TEST(SwitchboardConfigURL, QueryOnTheDelegateBaseOrTheDefaultEndpoint) {
    auto events = mediationtest::makeEvents();
    struct Case {
        std::optional<std::string> delegateBase;
        std::string key;
        std::string expected;
    };
    const std::string previousBase = platform::servicesBaseURL();
    platform::setServicesBaseURL("http://127.0.0.1:8123");
    const Case cases[] = {
        {std::nullopt, "abc", "http://127.0.0.1:8123/switchboard/getInfo.php?appid=abc&appver=300&client=1"},
        {"http://config.test/path/getInfo.php?old=1#frag", "abc",
         "http://config.test/path/getInfo.php?appid=abc&appver=300&client=1"},
        {std::nullopt, "a b&c=d/é",
         "http://127.0.0.1:8123/switchboard/getInfo.php?appid=a%20b%26c%3Dd%2F%C3%A9&appver=300&client=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        auto delegate = std::make_shared<RecordingConfigDelegate>("d", events, c.delegateBase);
        EXPECT_EQ(SwitchboardConfig::create(c.key, delegate)->configURL(), c.expected);
    }
    platform::setServicesBaseURL(previousBase);
}

TEST_F(ParsedConfig, DescriptionListsSettingsAndNetworks) {
    auto config = parse(R"({"extra":{"transition":2,"cycle_time":45},"rations":[
        {"nid":"a","type":1,"nname":"lumen","weight":50,"priority":1,"key":"pk"}]})");
    std::string text = config->description();
    EXPECT_EQ(text.rfind("<SwitchboardConfig: ", 0), 0u) << text;
    EXPECT_NE(text.find(">:\nlocation_access:1 fg_color:rgba(1, 1, 1, 1) bg_color:rgba(0.3, 0.3, 0.3, 1) "
                        "cycle_time:45.000000 transition:2 networks:(\n"
                        "    name:lumen type:1 nid:a weight:50.000000 priority:1 creds:pk\n)"),
              std::string::npos)
        << text;
}

} // namespace
