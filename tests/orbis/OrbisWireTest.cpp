// The Orbis wire protocol without the network: reply parsing, value escaping, the three parts
// of the form, the location value, the server choice and the cached server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "orbis/APIRequest.h"
#include "orbis/AdUnit.h"
#include "orbis/UserInfo.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/location/LocationManager.h"
#include "platform/web/WebView.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

using orbis::AdUnit;
using orbis::APIRequest;
using orbis::UserInfo;
using orbis::XMLParser;

namespace {

platform::Data bytes(std::string_view text) {
    return platform::Data(text.begin(), text.end());
}

const std::string kGoodAd =
    R"(<?xml version="1.0"?><Ads><Ad type=" Banner " actionType="2" width="320" height="50">)"
    R"(<AdURL> http://ads.example/click?id=7 </AdURL><titleText> Shoes </titleText>)"
    R"(<![CDATA[<b>Buy</b>]]></Ad></Ads>)";

} // namespace

TEST(OrbisReply, ParsesAsTheTableSays) {
    struct Case {
        const char* name;
        std::string reply;
        bool valid;
        int actionType = 0;
        int adType = 0;
        std::optional<std::string> target = std::nullopt;
        std::optional<std::string> title = std::nullopt;
        std::optional<std::string> markup = std::nullopt;
    };
    const std::string bigReply = "<Ad actionType=\"2\" width=\"1\" height=\"1\"><AdURL>http://a/</AdURL>" +
                                 std::string(XMLParser::kMaximumReplyBytes, ' ') + "</Ad>";
    const Case cases[] = {
        {"good", kGoodAd, true, 2, 2, "http://ads.example/click?id=7", "Shoes", "<b>Buy</b>"},
        {"lower-case actiontype wins",
         R"(<ad actionType="2" actiontype="3" width="1" height="1" type="search"><adurl>http://a/</adurl></ad>)",
         true, 3, 3, "http://a/", std::nullopt, std::nullopt},
        {"title without markup",
         R"(<Ad actionType="1" width="5" height="6"><AdURL>http://a/</AdURL><titleText>T</titleText></Ad>)",
         true, 1, 0, "http://a/", "T", std::nullopt},
        {"entity in the click URL is kept whole",
         R"(<Ad actionType="1" width="5" height="6"><AdURL>http://a/?x=1&amp;y=2</AdURL></Ad>)", true, 1, 0,
         "http://a/?x=1&y=2"},
        {"not XML", "Service temporarily unavailable", false},
        {"empty", "", false},
        {"no Ad element", "<Ads><AdURL>http://a/</AdURL></Ads>", false},
        {"zero size", R"(<Ad actionType="2" width="0" height="50"><AdURL>http://a/</AdURL></Ad>)", false},
        {"action type 0", R"(<Ad actionType="x" width="1" height="1"><AdURL>http://a/</AdURL></Ad>)", false},
        {"no AdURL", R"(<Ad actionType="2" width="1" height="1"><titleText>T</titleText></Ad>)", false},
        {"document type declaration refused",
         R"(<?xml version="1.0"?><!DOCTYPE Ad [<!ENTITY e SYSTEM "file:///etc/passwd">]><Ad actionType="2" width="1" height="1"><AdURL>http://a/&e;</AdURL></Ad>)",
         false},
        {"over the size cap", bigReply, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto ad = XMLParser::buildAdUnitFromResponseData(bytes(c.reply));
        ASSERT_EQ(ad.has_value(), c.valid);
        if (!ad)
            continue;
        EXPECT_EQ(ad->adActionType, c.actionType);
        EXPECT_EQ(ad->adType, c.adType);
        EXPECT_EQ(ad->targetUrl, c.target);
        EXPECT_EQ(ad->defaultServerUrl, c.target);
        EXPECT_EQ(ad->titleText, c.title);
        EXPECT_EQ(ad->CDATABlock, c.markup);
    }
}

TEST(OrbisReply, AdTypesIgnoreLetterCase) {
    const std::pair<const char*, int> cases[] = {
        {"text", 1}, {"BANNER", 2}, {"Search", 3}, {"video", 0}, {"", 0}};
    for (auto [text, type] : cases)
        EXPECT_EQ(AdUnit::getAdType(text), type) << text;
}

TEST(OrbisForm, EveryValueIsEscapedOnItsOwn) {
    const std::pair<const char*, const char*> cases[] = {
        {"pr-SPEC-ATATA-20101223", "pr%2DSPEC%2DATATA%2D20101223"},
        {"a b&c=d+e", "a%20b%26c%3Dd%2Be"},
        {"!*'();:@&=+-$,/?\"%#<>|^~`{}\\[]",
         "%21%2A%27%28%29%3B%3A%40%26%3D%2B%2D%24%2C%2F%3F%22%25%23%3C%3E%7C%5E%7E%60%7B%7D%5C%5B%5D"},
        {"file_1.txt", "file_1.txt"},
        {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
    };
    for (auto [raw, escaped] : cases) {
        EXPECT_EQ(APIRequest::getURLEncoded(raw), escaped) << raw;
        EXPECT_EQ(APIRequest::decodedURLString(escaped), raw);
    }
}

TEST(OrbisForm, DelegatePartFollowsItsTable) {
    struct Case {
        const char* name;
        std::function<void(UserInfo&)> set;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing", [](UserInfo&) {}, ""},
        {"female", [](UserInfo& u) { u.gender = 2; }, "u-gender=F"},
        {"male after postal code",
         [](UserInfo& u) {
             u.postalCode = "10 115";
             u.gender = 1;
         },
         "u-postalCode=10%20115&u-gender=M"},
        {"unknown gender number counts as female", [](UserInfo& u) { u.gender = 7; }, "u-gender=F"},
        {"age of -1", [](UserInfo& u) { u.age = -1; }, "u-age=-1"},
        {"numbers",
         [](UserInfo& u) {
             u.income = 50000;
             u.education = 3;
             u.ethnicity = 2;
         },
         "u-income=50000&u-education=3&u-ethnicity=2"},
        {"texts",
         [](UserInfo& u) {
             u.keywords = "cats&dogs";
             u.searchString = "a=b";
             u.interests = "x y";
             u.dateOfBirth = "1990-3-5";
         },
         "u-dateOfBirth=1990%2D3%2D5&p-keywords=cats%26dogs&p-type=a%3Db&u-interests=x%20y"},
        {"extra parameters, keys escaped too",
         [](UserInfo& u) {
             u.areaCode = "030";
             u.paramsDictionary = {{{"k&1", "v=1"}, {"k2", "v 2"}}};
         },
         "u-areaCode=030&k%261=v%3D1&k2=v%202"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserInfo info;
        c.set(info);
        EXPECT_EQ(APIRequest::getSDKDelegatePostBodyString(info), c.expected);
    }
}

TEST(OrbisForm, DeviceAndApplicationParts) {
    UserInfo info;
    info.deviceId = "dev-1";
    info.localization = "en_US";
    info.deviceModel = "Phone";
    info.deviceSystemName = "MobileOS";
    info.deviceSystemVersion = "6.1";
    info.deviceMachineHW = "x86_64";
    info.siteId = "site&1";
    info.userAgent = "Orbis_iPhoneSDK=2.0.0 (Phone)";
    info.appBId = "com.example.drive";
    info.hRefKey = "ref";
    info.hRefTag = "a&b";
    info.validGeoInfo = true;
    info.lat = 52.5;
    info.lon = 13.25;
    info.locAccuracy = 120.9;

    std::string device = APIRequest::getDevicePostBodyString(info);
    EXPECT_EQ(device.rfind("u-id=dev%2D1&d-localization=en_US&d-netType=carrier&d-deviceModel=Phone&"
                           "d-deviceSystemName=MobileOS&d-deviceSystemVersion=6.1&d-deviceMachineHW=x86_64",
                           0),
              0u)
        << device;
    EXPECT_NE(device.find("&d-device-screen-size="), std::string::npos);
    EXPECT_EQ(device.find("d-deviceName="), std::string::npos) << "facts that are unknown stay out";

    EXPECT_EQ(APIRequest::currentLocationStr(info), "52.500000,13.250000,120");

    APIRequest click(APIRequest::AdClick);
    std::string app = click.getApplicationPostBodyString(info);
    EXPECT_EQ(
        app.rfind("ob-siteid=site%261&ob-banner-size=9&ob-version=pr%2DSPEC%2DATATA%2D20101223&ob-ads=1&"
                  "h-user-agent=Orbis_iPhoneSDK%3D2.0.0%20%28Phone%29&u-Orbis_iPhoneSDKVersion=2.0.0&"
                  "u-appBId=com.example.drive&",
                  0),
        0u)
        << app;
    EXPECT_NE(app.find("&ref=a%26b&orientation="), std::string::npos) << app;
    EXPECT_NE(app.find("&format=xhtml&u-lat_lon_accu=52.500000%2C13.250000%2C120&requestactivity=AdClick"),
              std::string::npos)
        << app;
    // A click sends the application part alone.
    EXPECT_EQ(click.adRequestPostBodyUsing(info), app);

    APIRequest ad(APIRequest::AdRequest);
    EXPECT_EQ(ad.adRequestPostBodyUsing(info).rfind("u-id=", 0), 0u) << "no delegate part without targeting";
    info.gender = 2;
    EXPECT_EQ(ad.adRequestPostBodyUsing(info).rfind("u-gender=F&u-id=", 0), 0u);
}

TEST(OrbisForm, FactsAndDatesAsTheRequestWritesThem) {
    const std::pair<long double, const char*> sizes[] = {{1024.0L, "1024.00"},
                                                         {1025.0L, "1.00 KB"},
                                                         {16000000000.0L, "14.90 GB"},
                                                         {5.0L * 1024 * 1024 * 1024 * 1024, "5120.00 GB"}};
    for (auto [size, text] : sizes)
        EXPECT_EQ(UserInfo::formatDiskSpace(size), text);
    // 1990-03-05 12:00 UTC.
    EXPECT_EQ(UserInfo::dateOfBirthText(platform::Date{636638400}), "1990-3-5");
}

class OrbisServerChoice : public ::testing::Test {
protected:
    OrbisServerChoice() {
        previous_ = platform::servicesBaseURL();
        platform::setServicesBaseURL("http://orbis.test:8080");
        clock.clock().setNow(kNow);
    }
    ~OrbisServerChoice() override { platform::setServicesBaseURL(previous_); }

    static constexpr double kNow = 1700000000;
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    std::string previous_;
};

TEST_F(OrbisServerChoice, CachedServerWithinItsLife) {
    const std::string live = "http://orbis.test:8080/orbis/showad.asm?";
    const std::string test = "http://orbis.test:8080/orbis/test/showad.asm?";
    const std::string cached = "http://cache.test/showad.asm?";
    struct Case {
        const char* name;
        std::optional<double> storedSecondsAgo;
        std::optional<long long> life;
        bool testMode;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing stored", std::nullopt, std::nullopt, false, live},
        {"default life, one second left", 43199, std::nullopt, false, cached},
        {"default life, used up", 43200, std::nullopt, false, live},
        {"life 600, 599 s", 599, 600, false, cached},
        {"life 600, 600 s", 600, 600, false, live},
        {"stored in the future", -100, std::nullopt, false, live},
        {"test mode wins", 10, std::nullopt, true, test},
    };
    auto& defaults = platform::UserDefaults::standard();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.removeObjectForKey(orbis::kOrbisCachedServerKey);
        defaults.removeObjectForKey(orbis::kOrbisCachedLifeKey);
        defaults.removeObjectForKey(orbis::kOrbisCachedTimestampKey);
        if (c.storedSecondsAgo) {
            defaults.setString(orbis::kOrbisCachedServerKey, cached);
            defaults.setDouble(orbis::kOrbisCachedTimestampKey, kNow - *c.storedSecondsAgo);
        }
        if (c.life)
            defaults.setObject(orbis::kOrbisCachedLifeKey, platform::Value(*c.life));
        EXPECT_EQ(APIRequest::adServerURL(c.testMode), c.expected);
    }
}

TEST_F(OrbisServerChoice, StoringTheCachedServer) {
    auto& defaults = platform::UserDefaults::standard();
    APIRequest::storeCachedUrl("http://cache.test/showad.asm?", "600");
    EXPECT_EQ(defaults.stringForKey(orbis::kOrbisCachedServerKey), "http://cache.test/showad.asm?");
    EXPECT_EQ(defaults.integerForKey(orbis::kOrbisCachedLifeKey), 600);
    EXPECT_EQ(defaults.doubleForKey(orbis::kOrbisCachedTimestampKey), kNow);

    // No usable life and no usable server: both stay, the timestamp is renewed.
    clock.clock().setNow(kNow + 50);
    for (const char* life : {"0", "soon"}) {
        APIRequest::storeCachedUrl("javascript:alert(1)", life);
        EXPECT_EQ(defaults.stringForKey(orbis::kOrbisCachedServerKey), "http://cache.test/showad.asm?");
        EXPECT_EQ(defaults.integerForKey(orbis::kOrbisCachedLifeKey), 600);
        EXPECT_EQ(defaults.doubleForKey(orbis::kOrbisCachedTimestampKey), kNow + 50);
    }
}

namespace {

using platform::NetworkInterface;
using platform::SystemFacts;

// Brings back the machine's own facts when a test ends.
struct SystemFactsScope {
    ~SystemFactsScope() { SystemFacts::resetForTesting(); }
};

} // namespace

TEST(OrbisFacts, WiFiMeansAnEn0InterfaceWithAnIPv4Address) {
    SystemFactsScope facts;
    using Family = NetworkInterface::Family;
    struct Case {
        const char* name;
        std::optional<std::vector<NetworkInterface>> interfaces;
        bool onWiFi;
    };
    const Case cases[] = {
        {"en0 with IPv4",
         std::vector<NetworkInterface>{{"lo0", Family::IPv4, "127.0.0.1", true},
                                       {"en0", Family::IPv4, "192.0.2.7", false}},
         true},
        {"en0 with IPv6 only", std::vector<NetworkInterface>{{"en0", Family::IPv6, "2001:db8::7", false}},
         false},
        {"en0 with IPv6, then IPv4",
         std::vector<NetworkInterface>{{"en0", Family::IPv6, "2001:db8::7", false},
                                       {"en0", Family::IPv4, "192.0.2.7", false}},
         true},
        {"en0 as a loopback", std::vector<NetworkInterface>{{"en0", Family::IPv4, "127.0.0.1", true}}, false},
        {"other interfaces only",
         std::vector<NetworkInterface>{{"pdp_ip0", Family::IPv4, "10.1.1.1", false},
                                       {"en1", Family::IPv4, "192.0.2.8", false}},
         false},
        {"no interfaces", std::vector<NetworkInterface>{}, false},
        {"the list cannot be read", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SystemFacts::setNetworkInterfacesForTesting(c.interfaces);
        EXPECT_EQ(UserInfo::localWiFiAvailable(), c.onWiFi) << c.name;
    }
}

TEST(OrbisFacts, SystemKeysAsTextOrSignedDecimal) {
    SystemFactsScope facts;
    SystemFacts::setSysctlStringForTesting("hw.machine", "iPhone3,1");
    SystemFacts::setSysctlStringForTesting("hw.model", "");
    SystemFacts::setSysctlIntegerForTesting("hw.cputype", 12);
    SystemFacts::setSysctlIntegerForTesting("hw.cpusubtype", -1);
    SystemFacts::setSysctlIntegerForTesting("hw.memsize", 17179869184);
    SystemFacts::setSysctlIntegerForTesting("hw.cpufrequency", std::nullopt);
    struct Case {
        const char* key;
        bool useIntType;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"hw.machine", false, "iPhone3,1"},
        {"hw.model", false, std::nullopt}, // an empty text
        {"hw.cputype", true, "12"},
        {"hw.cpusubtype", true, "-1"},
        {"hw.memsize", true, "17179869184"},
        {"hw.cpufrequency", true, std::nullopt}, // not reported by this machine
        {"hw.machine", true, std::nullopt},      // a text read as an integer
        {"hw.cputype", false, std::nullopt},     // an integer read as text
        {"hw.nonsense", true, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UserInfo::requestSysCtlByName(c.key, c.useIntType), c.expected)
            << c.key << " " << c.useIntType;
    EXPECT_EQ(UserInfo::cpuTypeHW(), "12");
    EXPECT_EQ(UserInfo::cpuSubTypeHW(), "-1");
    EXPECT_EQ(UserInfo::machineHW(), "iPhone3,1");
    EXPECT_EQ(UserInfo::ramHW(), "17179869184");

    // The boot time as the date's standard description.
    SystemFacts::setSysctlIntegerForTesting("kern.boottime", 1300000000);
    EXPECT_EQ(UserInfo::bootTimeHW(), "2011-03-13 07:06:40 +0000");
}

TEST(OrbisFacts, TheBrowserUserAgentComesFromTheHiddenWebViewsFirstQuestion) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    auto info = std::make_shared<UserInfo>();

    // A question without header fields captures nothing; the web view goes all the same.
    info->fillDeviceInfo();
    auto first = info->userAgentWebView();
    ASSERT_TRUE(first);
    auto bare = platform::URLRequest::withURLString(UserInfo::kUserAgentProbeURL);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(info->webViewShouldStartLoadWithRequestNavigationType(
        *first, *bare, platform::WebViewNavigationType::Other));
    EXPECT_FALSE(info->phoneUserAgent);
    EXPECT_FALSE(info->userAgentWebView());

    // The next update tries again, and the web view's own question carries the browser's
    // user agent. Nothing is loaded.
    info->fillDeviceInfo();
    ASSERT_TRUE(info->userAgentWebView());
    EXPECT_NE(info->userAgentWebView(), first);
    clock.drain();
    EXPECT_EQ(info->phoneUserAgent, std::string(platform::WebView::kUserAgent));
    EXPECT_FALSE(info->userAgentWebView());

    // Once captured, the facts are not gathered again and no web view is made.
    info->deviceMachineHW = "kept";
    info->fillDeviceInfo();
    EXPECT_FALSE(info->userAgentWebView());
    EXPECT_EQ(info->deviceMachineHW, "kept");
}

TEST(OrbisFacts, OnlyValidFixesAndDenialChangeTheLocation) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    platform::LocationManager::setLocationServicesEnabledForTesting(true);
    auto info = std::make_shared<orbis::UserInfo>();
    info->switchOnLocUpdate();
    ASSERT_TRUE(info->locationManager);
    EXPECT_TRUE(info->locationManager->isUpdatingLocation());
    EXPECT_EQ(info->locationManager->desiredAccuracy(), 3000.0);

    // A fix without a valid position changes nothing; a valid one is taken and stops updates.
    info->locationManager->simulateUpdate(platform::Location({1, 2}, 0, -1, 0, platform::Date{1}));
    EXPECT_FALSE(info->validGeoInfo);
    EXPECT_TRUE(info->loctionEngineSwitchedON);
    info->locationManager->simulateUpdate(platform::Location({48.5, -2.25}, 0, 65, 10, platform::Date{2}));
    EXPECT_TRUE(info->validGeoInfo);
    EXPECT_EQ(info->lat, 48.5);
    EXPECT_EQ(info->lon, -2.25);
    EXPECT_EQ(info->locAccuracy, 65);
    EXPECT_TRUE(info->lastLocationUpdateDT);
    EXPECT_FALSE(info->locationManager->isUpdatingLocation());

    // Other failures are ignored; a denial ends location for good.
    info->switchOnLocUpdate();
    info->locationManager->simulateFailure(platform::Error{platform::kLocationErrorDomain, 0, "unknown", {}});
    EXPECT_FALSE(info->locationDeniedByUser);
    EXPECT_TRUE(info->locationManager);
    info->locationManager->simulateFailure(
        platform::Error{platform::kLocationErrorDomain, platform::kLocationErrorDenied, "denied", {}});
    EXPECT_TRUE(info->locationDeniedByUser);
    EXPECT_FALSE(info->locationManager);
    EXPECT_FALSE(info->loctionEngineSwitchedON);

    // With location services off nothing starts.
    platform::LocationManager::setLocationServicesEnabledForTesting(false);
    auto off = std::make_shared<orbis::UserInfo>();
    EXPECT_FALSE(off->locationServicesEnabled());
    off->switchOnLocUpdate();
    EXPECT_FALSE(off->loctionEngineSwitchedON);
    EXPECT_FALSE(off->locationManager->isUpdatingLocation());
    platform::LocationManager::setLocationServicesEnabledForTesting(true);
}
