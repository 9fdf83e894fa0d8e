// The Tangent ad request: the query it builds (parsed back into fields), the device facts it
// carries, and the fetch with its redirects and reply rules against the loopback services.
#include <gtest/gtest.h>

#include "TangentTestSupport.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/URL.h"
#include "platform/net/Reachability.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGNetReachability.h"

using tangent::TGDeviceInfo;
using tangent::TGNetReachability;
using tangent::TGRequest;
using tangenttest::RecordingRequestDelegate;

namespace {

std::map<std::string, std::vector<std::string>> parsedQuery(const std::string& url) {
    auto parsed = platform::URL::parse(url);
    EXPECT_TRUE(parsed);
    std::map<std::string, std::vector<std::string>> fields;
    if (parsed)
        for (const auto& [key, value] : parsed->queryItems())
            fields[key].push_back(value);
    return fields;
}

std::shared_ptr<TGRequest> requestFor(const std::shared_ptr<RecordingRequestDelegate>& delegate) {
    auto request = TGRequest::create(delegate);
    request->publisher = "pub 1";
    return request;
}

} // namespace

TEST(TangentDeviceInfo, GenerationNumbersCompareVersionsNumerically) {
    const std::pair<const char*, int> cases[] = {
        {"2.2.1", 0}, {"3.0", 1},   {"3.1", 2},    {"3.1.2", 3}, {"3.1.3", 4},  {"3.2", 5},     {"4.0", 6},
        {"4.1", 7},   {"4.2.1", 8}, {"4.3", 9},    {"4.3.1", 9}, {"5.0", 10},   {"6.1", 10},
        // Text that merely contains a listed version is not that version.
        {"10.4.3", 10}, {"14.3", 10}, {"3.10", 10}, {"", 10},   {"4.x", 10},
    };
    for (const auto& [version, generation] : cases)
        EXPECT_EQ(TGDeviceInfo::systemGenerationFor(version), generation) << version;
}

TEST(TangentDeviceInfo, ModelAndUserAgentTables) {
    EXPECT_EQ(TGDeviceInfo::modelForPlatform("i386"), "iPhoneSimulator");
    EXPECT_EQ(TGDeviceInfo::modelForPlatform("iPhone1,2"), "iPhone3G");
    EXPECT_EQ(TGDeviceInfo::modelForPlatform("x86_64"), "x86_64");

    struct Case {
        const char* platform;
        const char* version;
        const char* expected;
    };
    const Case cases[] = {
        {"iPhone2,1", "4.2.1",
         "Mozilla/5.0 (iPhone; U; CPU iPhone OS 4_2_1 like Mac OS X; en-us) AppleWebKit/533.17.9 (KHTML, like "
         "Gecko) Version/5.0.2 Mobile/8C99 Safari/6533.18.5"},
        {"i386", "3.0",
         "Mozilla/5.0 (iPod; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 (KHTML, like Gecko) "
         "Version/4.0 Mobile/7A341 Safari/528.16"},
        {"iPad1,1", "3.2",
         "Mozilla/5.0 (iPad; U; CPU OS 3_2 like Mac OS X; en-us) AppleWebKit/531.21.10 (KHTML, like Gecko) "
         "Version/4.04 Mobile/7B320c Safari/531.21.10"},
        {"x86_64", "5.0",
         "Mozilla/5.0 (Phone; U; CPU OS 5_0 like Mac OS X; en-us) AppleWebKit/X.X (KHTML, like Gecko) "
         "Version/X.X Mobile/XXXX Safari/X.X"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TGDeviceInfo::userAgentFor(c.platform, "Phone", c.version,
                                             TGDeviceInfo::systemGenerationFor(c.version)),
                  c.expected)
            << c.platform;
}

TEST(TangentNetReachability, StatusFromFlags) {
    using namespace platform;
    const std::pair<std::optional<ReachabilityFlags>, int> cases[] = {
        {std::nullopt, 0},
        {0, 0},
        {kReachabilityFlagsReachable, 2},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired, 0},
        {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired | kReachabilityFlagsIsWWAN, 2},
        {kReachabilityFlagsReachable | kReachabilityFlagsTransientConnection, 1},
        {kReachabilityFlagsReachable | kReachabilityFlagsIsDirect, 0},
    };
    for (const auto& [flags, status] : cases)
        EXPECT_EQ(TGNetReachability::connectionStatusForFlags(flags), status);
}

TEST(TangentRequest, QueryCarriesTheFieldsAndDefaults) {
    fwtest::TemporaryHome home;
    TGDeviceInfo::resetForTesting();
    auto delegate = std::make_shared<RecordingRequestDelegate>();
    auto request = requestFor(delegate);
    request->site = "site&1";
    request->adSpot = "spot";
    request->location = platform::Location({40.5, -74.25}, 0, 10, 10, platform::Date());
    request->networkStatus = 2;
    request->supportedApplications = std::vector<std::string>{"zeta", "alpha"};
    request->setBaseURL("http://ads.test/a");

    const std::string url = request->buildRequest();
    EXPECT_EQ(url.rfind("http://ads.test/a/ads?", 0), 0u);
    EXPECT_EQ(url.back(), '&');
    // The supported applications come last, in array order.
    EXPECT_NE(url.find("mt-supportedapp=zeta&mt-supportedapp=alpha&"), std::string::npos);
    EXPECT_EQ(url.substr(url.size() - std::string("mt-supportedapp=alpha&").size()), "mt-supportedapp=alpha&");

    auto fields = parsedQuery(url);
    const std::pair<const char*, const char*> expected[] = {
        {"version", "v28"},         {"pub", "pub 1"},           {"site", "site&1"},
        {"spot", "spot"},           {"a", "notallowed"},        {"c", "1"},
        {"format", "xhtml"},        {"p", "0"},                 {"textOnly", "f"},
        {"mt-tglib", "iphone2.0.14.1"}, {"mt-speed", "wifi"},   {"mt-width", "320"},
        {"mt-height", "50"},        {"mt-orientation", "portrait"}, {"mt-interstitial", "f"},
        {"ll", "40.500000,-74.250000"},
    };
    for (const auto& [key, value] : expected) {
        ASSERT_EQ(fields[key].size(), 1u) << key;
        EXPECT_EQ(fields[key][0], value) << key;
    }
    auto& device = TGDeviceInfo::instance();
    EXPECT_EQ(fields["ua"], std::vector<std::string>{device.userAgent});
    EXPECT_EQ(fields["hid"], std::vector<std::string>{device.deviceId});
    EXPECT_EQ(fields["mt-osver"][0], "iOS" + platform::replaceAll(device.systemVersion, ".", "_"));
    EXPECT_EQ(fields["mt-supportedapp"], (std::vector<std::string>{"zeta", "alpha"}));
    EXPECT_EQ(request->url(), url);
}

TEST(TangentRequest, OptionalPairsAndExtraParameters) {
    fwtest::TemporaryHome home;
    auto delegate = std::make_shared<RecordingRequestDelegate>();
    auto request = requestFor(delegate);
    request->networkStatus = 0;
    request->adultContent = 0;
    request->extraParameters = std::map<std::string, std::string>{{"a", "only"}, {"mt-age", "30"}, {"skip", ""}};
    auto fields = parsedQuery(request->buildRequest());
    for (const char* absent : {"ll", "mt-speed", "mt-mrappid", "q", "bts", "country", "gip", "skip"})
        EXPECT_EQ(fields.count(absent), 0u) << absent;
    EXPECT_EQ(fields["a"], std::vector<std::string>{"only"});
    EXPECT_EQ(fields["mt-age"], std::vector<std::string>{"30"});

    const std::pair<int, const char*> adultWords[] = {{0, "allowed"}, {1, "notallowed"}, {2, "only"}, {7, "notallowed"}};
    for (const auto& [value, word] : adultWords) {
        auto plain = requestFor(delegate);
        plain->adultContent = value;
        plain->networkStatus = 1;
        auto plainFields = parsedQuery(plain->buildRequest());
        EXPECT_EQ(plainFields["a"], std::vector<std::string>{word});
        EXPECT_EQ(plainFields["mt-speed"], std::vector<std::string>{"cell"});
    }
}

TEST(TangentRequest, BuildFailuresAreReportedWithoutTraffic) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    auto delegate = std::make_shared<RecordingRequestDelegate>();

    auto noPublisher = TGRequest::create(delegate);
    EXPECT_THROW(noPublisher->buildRequest(), tangent::InvalidPublisherException);
    noPublisher->publisher = "";
    EXPECT_THROW(noPublisher->buildRequest(), tangent::InvalidPublisherException);
    noPublisher->setProtocolVersion(std::nullopt); // nil changes nothing
    EXPECT_EQ(noPublisher->protocolVersion(), "v28");
    noPublisher->setProtocolVersion("");
    EXPECT_THROW(noPublisher->buildRequest(), tangent::InvalidProtocolVersionException);

    noPublisher->fetchAd();
    EXPECT_EQ(delegate->failed, 1);
    EXPECT_FALSE(delegate->error);
    EXPECT_FALSE(noPublisher->isFetching());
    clock.drain();
    EXPECT_TRUE(services.requests().empty());
}

TEST(TangentRequest, FetchFollowsRedirectsWithTheUserAgentAndKeepsHeaders) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    services.handle("GET", "/tangent/a/ads", [&](const services::LoggedRequest&) {
        return services::ServiceReply{302, "", "text/plain", {{"Location", services.url("/hop/one")}}};
    });
    services.handle("GET", "/hop/one", [&](const services::LoggedRequest&) {
        return services::ServiceReply{301, "", "text/plain", {{"Location", "/hop/page"}}};
    });
    services.handle("GET", "/hop/page", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>ad</p>", "text/html; charset=utf-8", {{"Xjt-Responseid", "r-77"}}};
    });
    auto delegate = std::make_shared<RecordingRequestDelegate>();
    auto request = requestFor(delegate);
    request->fetchAd();
    ASSERT_TRUE(request->isFetching());
    request->fetchAd(); // refused while in flight
    ASSERT_TRUE(clock.runUntil([&] { return delegate->outcomes() > 0; }));
    EXPECT_EQ(delegate->finished, 1);
    EXPECT_EQ(delegate->content, "<p>ad</p>");
    EXPECT_EQ(request->headers().value(TGRequest::kResponseIdHeader), "r-77");
    EXPECT_FALSE(request->isFetching());
    ASSERT_EQ(services.requests().size(), 3u);
    for (const auto& logged : services.requests())
        EXPECT_EQ(logged.header("User-Agent"), TGDeviceInfo::instance().userAgent) << logged.path;
}

TEST(TangentRequest, ReplyRules) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    struct Case {
        const char* name;
        services::Fault fault;
        int finished;
        bool error;
        std::optional<std::string> content;
    };
    const Case cases[] = {
        {"not found", services::Fault::errorStatus(404, "<p>ad</p>"), 0, false, std::nullopt},
        {"server error", services::Fault::errorStatus(500, "oops"), 0, false, std::nullopt},
        {"empty body", services::Fault::reply(200, ""), 0, false, std::nullopt},
        {"not UTF-8", services::Fault::reply(200, "\xff\xfe", "text/html"), 0, false, std::nullopt},
        {"latin-1", services::Fault::reply(200, "caf\xe9", "text/html; charset=iso-8859-1"), 1, false,
         "caf\xc3\xa9"},
        {"connection closed", services::Fault::closeConnection(), 0, true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fwtest::LoopbackServices services;
        services.setFault("/tangent/a/ads", c.fault);
        auto delegate = std::make_shared<RecordingRequestDelegate>();
        auto request = requestFor(delegate);
        request->fetchAd();
        ASSERT_TRUE(clock.runUntil([&] { return delegate->outcomes() > 0; }));
        clock.drain();
        EXPECT_EQ(delegate->outcomes(), 1);
        EXPECT_EQ(delegate->finished, c.finished);
        EXPECT_EQ(delegate->error.has_value(), c.error);
        EXPECT_EQ(delegate->content, c.content);
    }
}

TEST(TangentRequest, StoppedOrDroppedRequestReportsNothing) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    services.setFault("/tangent/a/ads", services::Fault::reply(200, "<p>ad</p>"));
    auto delegate = std::make_shared<RecordingRequestDelegate>();
    auto stopped = requestFor(delegate);
    stopped->fetchAd();
    stopped->stopRequest();
    EXPECT_FALSE(stopped->isFetching());
    auto dropped = requestFor(delegate);
    dropped->fetchAd();
    dropped.reset();
    ASSERT_TRUE(clock.runUntil([&] { return platform::URLConnection::runningCount() == 0; }));
    clock.drain();
    EXPECT_EQ(delegate->outcomes(), 0);
}

TEST(TangentRequest, TimesOutAfterSixtySecondsOnTheManualClock) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    services.setFault("/tangent/a/ads", services::Fault::delay(2));
    auto delegate = std::make_shared<RecordingRequestDelegate>();
    auto request = requestFor(delegate);
    request->fetchAd();
    clock.advance(59);
    EXPECT_EQ(delegate->outcomes(), 0);
    clock.advance(1);
    ASSERT_EQ(delegate->failed, 1);
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code, -1001);
}

TEST(TangentDeviceInfo, ClientIpIsTheFirstIPv4AddressOfEn0InThePlatformList) {
    using platform::NetworkInterface;
    constexpr auto v4 = NetworkInterface::Family::IPv4;
    constexpr auto v6 = NetworkInterface::Family::IPv6;
    struct Case {
        const char* name;
        std::optional<std::vector<NetworkInterface>> interfaces;
        std::optional<std::string> clientIp;
    };
    const Case cases[] = {
        {"Wi-Fi after loopback and IPv6",
         std::vector<NetworkInterface>{{"lo0", v4, "127.0.0.1", true},
                                       {"en0", v6, "fe80::1", false},
                                       {"en0", v4, "192.0.2.7", false},
                                       {"en0", v4, "192.0.2.8", false}},
         "192.0.2.7"},
        {"only IPv6 on en0", std::vector<NetworkInterface>{{"en0", v6, "2001:db8::5", false}}, std::nullopt},
        {"another interface only", std::vector<NetworkInterface>{{"en1", v4, "198.51.100.2", false}}, std::nullopt},
        {"the list cannot be read", std::nullopt, std::nullopt},
    };
    fwtest::TemporaryHome home;
    struct RestoreFacts {
        ~RestoreFacts() {
            platform::SystemFacts::resetForTesting();
            TGDeviceInfo::resetForTesting();
        }
    } restore;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::SystemFacts::setNetworkInterfacesForTesting(c.interfaces);
        TGDeviceInfo::resetForTesting();
        EXPECT_EQ(TGDeviceInfo::instance().clientIp, c.clientIp);
    }

    // A request then carries it to the ad service.
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    platform::SystemFacts::setNetworkInterfacesForTesting(std::vector<NetworkInterface>{{"en0", v4, "192.0.2.7", false}});
    TGDeviceInfo::resetForTesting();
    auto delegate = std::make_shared<RecordingRequestDelegate>();
    auto request = requestFor(delegate);
    request->fetchAd();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->outcomes() > 0; }));
    auto logged = services.requestsTo("/tangent/a/ads");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].queryValue("client-ip"), "192.0.2.7");
}
