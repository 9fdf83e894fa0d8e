// The promotion fetchers, the endpoint URLs and the device helpers.
#include "PromoTestSupport.h"

#include "platform/foundation/Services.h"
#include "promo/AsyncAdData.h"
#include "promo/PromotionService.h"

namespace promotest {
namespace {

class FetchTransport : public PromoTest {
protected:
    struct Outcome {
        bool called = false;
        std::optional<platform::Value> json;
    };
    // Starts an AsyncAdData for `path` and waits for its callback.
    Outcome fetch(const std::string& path) {
        auto result = std::make_shared<Outcome>();
        auto fetcher = promo::AsyncAdData::initWithUrl(services_.url(path));
        fetcher->initWithCallBack([result](const std::optional<platform::Value>& json, promo::PromotionFetcher&) {
            result->called = true;
            result->json = json;
        });
        fetcher.reset(); // the running request keeps itself alive
        waitFor([&] { return result->called; });
        return *result;
    }
};

TEST_F(FetchTransport, AsyncAdDataParsesRepliesAndGivesNothingForBadOnes) {
    struct Case {
        const char* name;
        services::Fault fault;
        bool expectValue;
        platform::Value::Type type;
    };
    const Case cases[] = {
        {"object", services::Fault::reply(200, R"({"newsData":[{"appId":"1"}]})"), true,
         platform::Value::Type::Dictionary},
        {"empty array", services::Fault::reply(200, "[]"), true, platform::Value::Type::Array},
        {"HTML error page", services::Fault::reply(200, "<html><body>Oops</body></html>", "text/html"), false, {}},
        {"not UTF-8", services::Fault::reply(200, "{\"a\":\"\xff\xfe\"}"), false, {}},
        {"trailing comma", services::Fault::reply(200, R"({"a":[1,]})"), false, {}},
        {"server error with JSON body", services::Fault::reply(500, R"({"newsData":[]})"), false, {}},
        {"empty body", services::Fault::reply(200, ""), false, {}},
        {"closed connection", services::Fault::closeConnection(), false, {}},
    };
    for (const auto& c : cases) {
        services_.setFault("/reply", c.fault);
        Outcome outcome = fetch("/reply");
        EXPECT_TRUE(outcome.called) << c.name;
        EXPECT_EQ(outcome.json.has_value(), c.expectValue) << c.name;
        if (outcome.json && c.expectValue) {
            EXPECT_EQ(outcome.json->type(), c.type) << c.name;
        }
    }
    const auto empty = platform::Value::fromJSON("[]");
    services_.setFault("/reply", services::Fault::reply(200, "[]"));
    EXPECT_EQ(fetch("/reply").json, empty);
}

TEST_F(FetchTransport, AsyncAdDataCallsBackWithNothingWhenNothingListens) {
    auto result = std::make_shared<bool>(false);
    auto fetcher = promo::AsyncAdData::initWithUrl(fwtest::LoopbackServices::closedPortURL() + "/x.php?");
    fetcher->initWithCallBack([result](const std::optional<platform::Value>& json, promo::PromotionFetcher&) {
        EXPECT_FALSE(json.has_value());
        *result = true;
    });
    EXPECT_TRUE(waitFor([&] { return *result; }));
}

TEST_F(FetchTransport, BlanksAreEscapedAndQueryValuesEncodedOneByOne) {
    Outcome outcome = fetch("/promo/with blank.php?x=1");
    EXPECT_TRUE(outcome.called);
    auto logged = services_.requestsTo("/promo/with blank.php");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].target, "/promo/with%20blank.php?x=1");

    std::string url = promo::promotionURL(promo::endpoints::kPopUpRequest,
                                          {{"adID", "270"}, {"companyCode", "Q&Z=1 x"}});
    EXPECT_EQ(url, services_.baseURL() + "/applications/popupAds/iPhonePopupAdsNew.php?adID=270&companyCode=Q%26Z%3D1%20x");
}

TEST_F(FetchTransport, AsynchronousParserStaysSilentOnFailureAndWhilePageIsClosed) {
    auto called = std::make_shared<int>(0);
    auto start = [&](const std::string& url) {
        auto parser = promo::AsynchronousParser::initWithUrl(url);
        parser->initWithCallBack([called](const std::optional<platform::Value>&, promo::PromotionFetcher&) { ++*called; });
    };
    services_.setFault("/fail", services::Fault::errorStatus(500, "{}"));
    start(services_.url("/fail"));
    promo::isBack = true;
    start(services_.url("/promo/moreApps.json"));
    promo::isBack = false;
    EXPECT_TRUE(waitFor([&] { return services_.requestCount("/fail") == 1; }));
    waitFor([] { return platform::URLConnection::runningCount() == 0; }, 5.0);
    clock_.drain();
    EXPECT_EQ(*called, 0);

    // A running parser stops at its next chunk once the page closes.
    services_.setFault("/slow", services::Fault::chunked(R"({"moreApps":[]})", 2));
    start(services_.url("/slow"));
    promo::isBack = true;
    waitFor([] { return platform::URLConnection::runningCount() == 0; }, 5.0);
    clock_.drain();
    EXPECT_EQ(*called, 0);
}

TEST_F(FetchTransport, AsyncAdDataTimesOutAfterSixtySecondsOnTheClock) {
    services_.setFault("/slow", services::Fault::delay(2));
    auto result = std::make_shared<int>(0);
    auto fetcher = promo::AsyncAdData::initWithUrl(services_.url("/slow"));
    fetcher->initWithCallBack([result](const std::optional<platform::Value>& json, promo::PromotionFetcher&) {
        *result = json ? 2 : 1;
    });
    clock_.advance(59.9);
    EXPECT_EQ(*result, 0);
    clock_.advance(0.2);
    EXPECT_EQ(*result, 1);
}

TEST_F(FetchTransport, CancelledFetcherNeverCallsBack) {
    auto result = std::make_shared<bool>(false);
    auto fetcher = promo::AsyncAdData::initWithUrl(services_.url("/promo/popUp.json"));
    fetcher->initWithCallBack([result](const std::optional<platform::Value>&, promo::PromotionFetcher&) { *result = true; });
    fetcher->cancel();
    waitFor([] { return platform::URLConnection::runningCount() == 0; }, 2.0);
    clock_.drain();
    EXPECT_FALSE(*result);
}

TEST_F(FetchTransport, EndpointsTakeTheirTabletFormAndHouseNewsTheWwwHost) {
    EXPECT_EQ(promo::promotionURL(promo::endpoints::kHouseNewsList),
              services_.baseURL() + "/applications/newNews/newNewsPhone.php?");
    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    EXPECT_EQ(promo::promotionURL(promo::endpoints::kMoreAppsClick, {{"serial", "12"}}),
              services_.baseURL() + "/applications/moreAppsNew/moreAppsClickPad.php?serial=12");
    EXPECT_EQ(promo::promotionURL(promo::endpoints::kPushNews, {{"pushAppLink", "9"}}),
              services_.baseURL() + "/pushNews/newPushNews.php?pushAppLink=9");

    struct Case {
        const char* host;
        const char* expected;
    };
    const Case cases[] = {
        {"promo.example.com", "www.promo.example.com"},
        {"promo.example.com:8080", "www.promo.example.com:8080"},
        {"www.promo.example.com", "www.promo.example.com"},
        {"127.0.0.1:4000", "127.0.0.1:4000"},
        {"[::1]:4000", "[::1]:4000"},
        {"localhost:4000", "localhost:4000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(promo::wwwHostForm(c.host), c.expected) << c.host;
}

// A services base with a path keeps it in every request, the house news included.
TEST_F(FetchTransport, ServicesPathPrefixIsKept) {
    struct Case {
        const char* base;
        const char* houseNews;
    };
    const Case cases[] = {
        {"http://promo.example.com/prefix", "http://www.promo.example.com/prefix"},
        {"http://promo.example.com:8080/a/b", "http://www.promo.example.com:8080/a/b"},
        {"https://127.0.0.1:4000/prefix", "https://127.0.0.1:4000/prefix"},
        {"http://promo.example.com", "http://www.promo.example.com"},
    };
    for (const auto& c : cases) {
        platform::setServicesBaseURL(c.base);
        EXPECT_EQ(promo::houseNewsBaseURL(), c.houseNews) << c.base;
        EXPECT_EQ(promo::promotionURL(promo::endpoints::kHouseNewsImpression, {{"appId", "7"}}),
                  std::string(c.houseNews) + "/applications/newNews/updateImpressionPhone.php?appId=7")
            << c.base;
        EXPECT_EQ(promo::promotionURL(promo::endpoints::kPushNewsClick),
                  std::string(c.base) + "/pushNews/countClick.php")
            << c.base;
    }
    platform::setServicesBaseURL(services_.baseURL());
}

TEST_F(FetchTransport, MachineNameMapsTheHardwareIdentifier) {
    struct Case {
        const char* identifier;
        const char* name;
    };
    const Case cases[] = {
        {"iPhone3,3", "iPhone 4G"}, {"iPhone2,1", "iPhone 3CB"}, {"iPod2,2", "iPodTouch 2.5G"},
        {"iPad2,1", "iPad 2G"},     {"x86_64", "Unknown"},       {"iPhone9,9", "Unknown"},
    };
    for (const auto& c : cases) {
        promo::setMachineIdentifierForTesting(c.identifier);
        EXPECT_EQ(promo::machineName(), c.name) << c.identifier;
    }
    promo::setMachineIdentifierForTesting({});
}

TEST_F(FetchTransport, ConnectedToNetworkNeedsReachableWithoutConnectionRequired) {
    struct Case {
        platform::ReachabilityFlags flags;
        bool connected;
    };
    const Case cases[] = {
        {platform::kReachabilityFlagsReachable, true},
        {platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsConnectionRequired, false},
        {0, false},
    };
    for (const auto& c : cases) {
        platform::Reachability::setTestFlagsForAllHosts(c.flags);
        EXPECT_EQ(promo::connectedToNetwork(), c.connected) << c.flags;
    }
}

} // namespace
} // namespace promotest
