// The custom-ad and Nimbus adapters against the loopback custom-ad service and Nimbus feed,
// their ad views and clicks, and the mediation in-app browser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdapterCustom.h"
#include "mediation/SwitchboardAdapterNimbus.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardCustomAdView.h"
#include "mediation/SwitchboardError.h"
#include "mediation/SwitchboardWebBrowserController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Log.h"
#include "platform/location/LocationManager.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "services/CustomAdEndpoints.h"
#include "support/FolderSnapshot.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace {

using mediation::SwitchboardAdapterCustom;
using mediation::SwitchboardAdapterNimbus;
using mediation::SwitchboardAdNetworkAdapter;
using mediation::SwitchboardCustomAdView;
using mediation::SwitchboardWebBrowserController;
using mediationtest::Events;

constexpr std::string_view kClickPingPath = "/switchboard/customclick.php";

// A slot that keeps what its adapter reported.
class OutcomeSlot : public mediation::SwitchboardViewInterface {
public:
    explicit OutcomeSlot(Events events) : events_(std::move(events)) {}
    void adapterDidReceiveAdView(SwitchboardAdNetworkAdapter&, std::shared_ptr<platform::View> v) override {
        view = std::move(v);
        events_->push_back("slot:didReceiveAdView");
    }
    void adapterDidFinishAdRequest(SwitchboardAdNetworkAdapter&) override {
        events_->push_back("slot:didFinishAdRequest");
    }
    void adapterDidFailAd(SwitchboardAdNetworkAdapter&, const std::optional<platform::Error>& e) override {
        error = e;
        events_->push_back("slot:didFailAd");
    }
    bool showingModalView() const override { return modal; }
    void setShowingModalView(bool showing) override {
        modal = showing;
        events_->push_back(showing ? "slot:modal=YES" : "slot:modal=NO");
    }
    bool answered() const { return !events_->empty(); }

    std::shared_ptr<platform::View> view;
    std::optional<platform::Error> error;
    bool modal = false;

private:
    Events events_;
};

// A host that presents from a shown window and answers the items a test sets.
class AdHost : public mediationtest::MinimalHost {
public:
    explicit AdHost(Events events) : events_(std::move(events)) {}
    bool responds(std::string_view selector) const override {
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override {
        return presenter;
    }
    std::optional<std::string> switchboardCustomAdURL() override { return customAdURL; }
    std::optional<platform::Location> locationInfo() override { return location; }
    std::optional<std::string> NimbusApplicationKey() override { return nimbusKey; }
    std::optional<bool> switchboardTestMode() override { return testMode; }
    void switchboardWillPresentFullScreenModal() override { events_->push_back("host:willPresent"); }
    void switchboardDidDismissFullScreenModal() override { events_->push_back("host:didDismiss"); }

    std::set<std::string> implemented = {"switchboardWillPresentFullScreenModal",
                                         "switchboardDidDismissFullScreenModal"};
    std::shared_ptr<platform::ViewController> presenter;
    std::optional<std::string> customAdURL, nimbusKey;
    std::optional<platform::Location> location;
    std::optional<bool> testMode;

private:
    Events events_;
};

std::string fmt(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%lf", v);
    return b;
}

class CustomAdsTest : public ::testing::Test {
protected:
    CustomAdsTest() {
        services::installCustomAdEndpoints(services.host());
        mediationtest::registerProgramTypes(registry);
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        platform::Locale::setCurrent(platform::Locale::fromIdentifier("en_US"));
        platform::LocationManager::setLocationServicesEnabledForTesting(true);
        window->makeKeyAndVisible();
        window->setRootViewController(root);
        host->presenter = root;
    }
    ~CustomAdsTest() override {
        platform::URLConnection::cancelAllForTesting();
        platform::Locale::setCurrent(std::nullopt);
        platform::Bundle::resetForTesting();
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
    }

    // A configuration of `appKey`, with the location switch as given.
    static std::shared_ptr<mediation::SwitchboardConfig> config(const std::string& appKey,
                                                                bool locationOn = false) {
        auto c = mediation::SwitchboardConfig::create(appKey, nullptr);
        std::string json =
            std::string("{\"extra\":{\"location_on\":") + (locationOn ? "1" : "0") + "},\"rations\":[]}";
        EXPECT_TRUE(c->parseConfig(json, nullptr));
        return c;
    }
    std::shared_ptr<mediation::SwitchboardAdNetworkConfig> entry(int type, const std::string& nid,
                                                                 std::optional<std::string> key = {}) {
        platform::Dictionary ration{
            {"type", type}, {"nid", nid}, {"nname", "net"}, {"weight", 1}, {"priority", 1}};
        if (key)
            ration["key"] = *key;
        return mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
    }
    std::shared_ptr<SwitchboardAdapterCustom> custom(const std::string& appKey, bool locationOn = false,
                                                     const std::string& nid = "custom-nid") {
        return SwitchboardAdNetworkAdapter::create<SwitchboardAdapterCustom>(
            host, slot, config(appKey, locationOn), entry(9, nid));
    }
    std::shared_ptr<SwitchboardAdapterNimbus> nimbus(std::optional<std::string> pubId = "nimbus-app") {
        return SwitchboardAdNetworkAdapter::create<SwitchboardAdapterNimbus>(host, slot, config("host-app"),
                                                                             entry(12, "nimbus-nid", pubId));
    }
    // Runs until the adapter has answered the slot.
    bool waitForAnswer() {
        return clock.runUntil([&] { return slot->answered(); }, 10.0);
    }
    // A custom-ad reply served for every request, with "${BASE}" for the server.
    void serveCustom(std::string body) {
        services.handle("GET", std::string(services::kCustomAdPath), [body](const services::LoggedRequest&) {
            return services::ServiceReply{200, body, "application/json", {}};
        });
    }
    std::string withBase(std::string text) const {
        for (auto at = text.find("${BASE}"); at != std::string::npos; at = text.find("${BASE}"))
            text.replace(at, 7, services.baseURL());
        return text;
    }
    // Finishes running presentations and dismissals.
    void settle() { clock.advance(platform::kModalTransitionDuration + 0.1); }

    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    mediation::SwitchboardAdNetworkRegistry registry;
    Events events = mediationtest::makeEvents();
    std::shared_ptr<AdHost> host = std::make_shared<AdHost>(events);
    std::shared_ptr<OutcomeSlot> slot = std::make_shared<OutcomeSlot>(events);
    std::shared_ptr<platform::Window> window =
        std::make_shared<platform::Window>(platform::Screen::main().bounds());
    std::shared_ptr<platform::ViewController> root = std::make_shared<platform::ViewController>();
};

// ---- Registration ----

TEST(CustomAdRegistration, BothTypesAreRegisteredWhenTheProgramLoads) {
    auto& shared = mediation::SwitchboardAdNetworkRegistry::sharedRegistry();
    for (auto [type, name] : std::vector<std::pair<int, std::string>>{
             {9, "mediation::SwitchboardAdapterCustom"}, {12, "mediation::SwitchboardAdapterNimbus"}}) {
        auto wrapper = shared.adapterClassFor(type);
        ASSERT_NE(wrapper, nullptr) << type;
        EXPECT_EQ(wrapper->theClass()->name, name);
        EXPECT_EQ(wrapper->theClass()->networkType(), type);
    }
}

// ---- Requests ----

TEST_F(CustomAdsTest, CustomRequestCarriesEachValueEncoded) {
    platform::LocationCoordinate2D where{12.5, -3.25};
    platform::Location fix(where, 0, 5, 5, platform::Date{1});
    struct Case {
        const char* name;
        bool locationOn;
        bool hostGivesLocation;
        std::optional<std::string> hostURLPath; // the host's custom-ad URL (on the loopback server)
        std::optional<std::string> location;    // expected "location" item
    };
    const std::vector<Case> cases = {
        {"location off", false, true, std::nullopt, std::nullopt},
        {"location from the host", true, true, std::nullopt, fmt(12.5) + "," + fmt(-3.25)},
        {"no fix anywhere", true, false, std::nullopt, fmt(0) + "," + fmt(0)},
        {"host URL, its own query replaced", false, false, "/switchboard/custom.php?appid=evil&x=1",
         std::nullopt},
    };
    const std::string nid = "n&d=1 é/?";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        services.host().clearRequestLog();
        host->implemented.erase("locationInfo");
        host->implemented.erase("switchboardCustomAdURL");
        if (c.hostGivesLocation) {
            host->implemented.insert("locationInfo");
            host->location = fix;
        }
        if (c.hostURLPath) {
            host->implemented.insert("switchboardCustomAdURL");
            host->customAdURL = services.url(*c.hostURLPath);
        }
        auto adapter = custom("app key&x", c.locationOn, nid);
        adapter->getAd();
        adapter->getAd(); // a request is under way: no second one
        ASSERT_TRUE(
            clock.runUntil([&] { return services.requestCount(services::kCustomAdPath) >= 1; }, 10.0));
        auto requests = services.requestsTo(services::kCustomAdPath);
        ASSERT_EQ(requests.size(), 1u);
        const auto& r = requests[0];
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.queryValue("appver"), "300");
        EXPECT_EQ(r.queryValue("country_code"), "en_US");
        EXPECT_EQ(r.queryValue("appid"), "app key&x");
        EXPECT_EQ(r.queryValue("nid"), nid);
        EXPECT_EQ(r.queryValue("client"), "1");
        EXPECT_EQ(r.queryValue("x"), std::nullopt);
        EXPECT_EQ(r.queryValue("location"), c.location);
        if (c.location)
            EXPECT_EQ(r.queryValue("location_timestamp"), fmt(platform::Clock::current().now()));
        else
            EXPECT_EQ(r.queryValue("location_timestamp"), std::nullopt);
        EXPECT_EQ(r.queryItems.size(), c.location ? 7u : 5u);
        platform::URLConnection::cancelAllForTesting();
    }
}

TEST_F(CustomAdsTest, NimbusRequestCarriesEachValueEncoded) {
    platform::Bundle::main().setInfoDictionaryValue("CFBundleDisplayName", "Ferro Wick & Co");
    platform::Bundle::main().setInfoDictionaryValue("CFBundleVersion", "2.1");
    struct Case {
        const char* name;
        std::optional<std::string> hostKey; // the host answers NimbusApplicationKey
        std::optional<bool> testMode;       // the host answers switchboardTestMode
        std::string appKey, test;
    };
    const std::vector<Case> cases = {
        {"entry's key, no test mode", std::nullopt, std::nullopt, "nimbus-app", "0"},
        {"host's key wins, test mode", "host key+1", true, "host key+1", "1"},
        {"test mode answered NO", std::nullopt, false, "nimbus-app", "0"},
    };
    const auto& device = platform::Device::current();
    const std::string ua = "Ferro Wick & Co 2.1 (" + device.model() + "; " + device.systemName() + " " +
                           device.systemVersion() + "; en_US)";
    EXPECT_EQ(SwitchboardAdapterNimbus::userAgent(), ua);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        services.host().clearRequestLog();
        host->implemented.erase("NimbusApplicationKey");
        host->implemented.erase("switchboardTestMode");
        if (c.hostKey) {
            host->implemented.insert("NimbusApplicationKey");
            host->nimbusKey = c.hostKey;
        }
        if (c.testMode) {
            host->implemented.insert("switchboardTestMode");
            host->testMode = c.testMode;
        }
        auto adapter = nimbus();
        EXPECT_EQ(adapter->useTestAd(), c.test == "1");
        adapter->getAd();
        ASSERT_TRUE(
            clock.runUntil([&] { return services.requestCount(services::kNimbusFeedPath) >= 1; }, 10.0));
        const auto r = services.requestsTo(services::kNimbusFeedPath).at(0);
        const std::vector<services::NameValue> expected = {{"appver", "300"},
                                                           {"v", device.systemVersion()},
                                                           {"apikey", "vornk"},
                                                           {"appkey", c.appKey},
                                                           {"deviceid", device.uniqueIdentifier()},
                                                           {"width", "320"},
                                                           {"height", "50"},
                                                           {"fmt", "json"},
                                                           {"ua", ua},
                                                           {"test", c.test}};
        EXPECT_EQ(r.queryItems, expected);
        EXPECT_EQ(r.rawQuery.find(' '), std::string::npos);
        platform::URLConnection::cancelAllForTesting();
    }
}

// ---- Replies ----

TEST_F(CustomAdsTest, CustomRepliesOfEveryKind) {
    const std::string image = "\"img_url\":\"${BASE}/switchboard/custom/images/banner.png\"";
    const std::string numbers = "\"ad_type\":1,\"launch_type\":1,\"webview_animation_type\":0";
    struct Case {
        const char* name;
        std::string body;
        std::optional<services::Fault> fault; // on the reply path ("" = the description)
        std::string faultPath;
        std::optional<int> code; // none: success
        std::string description;
    };
    const std::string big(SwitchboardAdapterCustom::kMaximumAdDataBytes, 'x');
    const std::vector<Case> cases = {
        {"good, animation 0 accepted", "{" + numbers + "," + image + "}", {}, "", std::nullopt, ""},
        {"numbers as text",
         "{\"ad_type\":\"1\",\"launch_type\":\"1\",\"webview_animation_type\":\"0\"," + image + "}",
         {},
         "",
         std::nullopt,
         ""},
        {"ad_type 6 as text",
         "{\"ad_type\":\"6\",\"launch_type\":1,\"webview_animation_type\":0," + image + "}",
         {},
         "",
         60,
         "Custom ad: Invalid value for ad_type - 6"},
        {"malformed JSON", "{\"ad_type\":", {}, "", 50, "Error parsing custom ad JSON from server"},
        {"not an object", "[1,2]", {}, "", 60, "Expected top-level dictionary in custom ad data"},
        {"ad_type 6",
         "{\"ad_type\":6,\"launch_type\":1,\"webview_animation_type\":0," + image + "}",
         {},
         "",
         60,
         "Custom ad: Invalid value for ad_type - 6"},
        {"ad_type 0",
         "{\"ad_type\":0,\"launch_type\":1,\"webview_animation_type\":0," + image + "}",
         {},
         "",
         60,
         "Custom ad: Invalid value for ad_type - 0"},
        {"animation 10",
         "{\"ad_type\":1,\"launch_type\":1,\"webview_animation_type\":10," + image + "}",
         {},
         "",
         60,
         "Custom ad: Invalid value for webview_animation_type - 10"},
        {"no launch_type",
         "{\"ad_type\":1,\"webview_animation_type\":0," + image + "}",
         {},
         "",
         60,
         "Custom ad data has no 'launch_type' field"},
        {"no image URL", "{" + numbers + "}", {}, "", 60, "Custom ad data has no 'img_url' field"},
        {"image not decodable",
         "{" + numbers + ",\"img_url\":\"${BASE}/switchboard/custom/images/broken.png\"}",
         {},
         "",
         70,
         "Cannot initialize custom ad image from data"},
        {"image missing",
         "{" + numbers + ",\"img_url\":\"${BASE}/switchboard/custom/images/none.png\"}",
         {},
         "",
         40,
         "Error connecting to custom ad server to fetch image"},
        {"description error status", "{" + numbers + "," + image + "}",
         services::Fault::errorStatus(500, "{}"), std::string(services::kCustomAdPath), 40,
         "Error connecting to custom ad server"},
        {"description over the cap", "", services::Fault::reply(200, "{\"a\":\"" + big + "\"}"),
         std::string(services::kCustomAdPath), 40, "Error connecting to custom ad server"},
        {"image over the cap", "{" + numbers + ",\"img_url\":\"${BASE}/big.png\"}",
         services::Fault::reply(200, std::string(SwitchboardAdapterCustom::kMaximumImageBytes + 1, 'p')),
         "/big.png", 40, "Error connecting to custom ad server to fetch image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        slot->view = nullptr;
        slot->error = std::nullopt;
        services.host().clearFaults();
        serveCustom(withBase(c.body));
        if (c.fault)
            services.setFault(c.faultPath, *c.fault);
        auto adapter = custom("banner-app");
        adapter->getAd();
        ASSERT_TRUE(waitForAnswer());
        EXPECT_FALSE(adapter->isRequesting());
        if (!c.code) {
            EXPECT_EQ(*events, std::vector<std::string>{"slot:didReceiveAdView"});
            EXPECT_EQ(slot->view, adapter->adView());
            EXPECT_EQ(adapter->adNetworkView(), adapter->adView());
            continue;
        }
        EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});
        ASSERT_TRUE(slot->error.has_value());
        EXPECT_EQ(slot->error->domain, mediation::kSwitchboardErrorDomain);
        EXPECT_EQ(slot->error->code, *c.code);
        EXPECT_EQ(slot->error->localizedDescription, c.description);
        // Nothing more arrives later.
        clock.advance(1);
        EXPECT_EQ(events->size(), 1u);
    }
}

TEST_F(CustomAdsTest, ConnectionFailureIsErrorFortyWithTheUnderlyingError) {
    host->implemented.insert("switchboardCustomAdURL");
    host->customAdURL = fwtest::LoopbackServices::closedPortURL() + "/custom.php";
    auto adapter = custom("banner-app");
    adapter->getAd();
    ASSERT_TRUE(waitForAnswer());
    ASSERT_TRUE(slot->error.has_value());
    EXPECT_EQ(slot->error->code, 40);
    auto underlying = mediation::SwitchboardError::underlyingError(*slot->error);
    ASSERT_TRUE(underlying.has_value());
    EXPECT_EQ(underlying->domain, platform::kURLErrorDomain);
}

TEST_F(CustomAdsTest, BannerImageFollowsTheScreenScale) {
    struct Case {
        const char* name;
        platform::DeviceProfile device; // phone: scale 2, tablet: scale 1
        bool hasDoubleImage;
        std::string requested;
        double scale;
        int pixelWidth;
    };
    const std::vector<Case> cases = {
        {"double screen with the double image", platform::DeviceProfile::Phone, true, "banner@2x.png", 2.0,
         640},
        {"double screen without it", platform::DeviceProfile::Phone, false, "banner.png", 1.0, 320},
        {"single screen", platform::DeviceProfile::Tablet, true, "banner.png", 1.0, 320},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        services.host().clearRequestLog();
        platform::Device::setProfile(c.device);
        std::string body = "{\"ad_type\":1,\"launch_type\":1,\"webview_animation_type\":3,"
                           "\"img_url\":\"${BASE}/switchboard/custom/images/banner.png\"";
        body += c.hasDoubleImage ? ",\"img_url_640x100\":\"${BASE}/switchboard/custom/images/banner@2x.png\"}"
                                 : ",\"img_url_640x100\":\"\"}";
        serveCustom(withBase(body));
        auto adapter = custom("banner-app");
        adapter->getAd();
        ASSERT_TRUE(waitForAnswer());
        ASSERT_EQ(*events, std::vector<std::string>{"slot:didReceiveAdView"});
        EXPECT_EQ(services.requestCount("/switchboard/custom/images/" + c.requested), 1u);
        EXPECT_EQ(adapter->scale(), c.scale);
        auto view = adapter->adView();
        ASSERT_NE(view->image(), nullptr);
        EXPECT_EQ(view->image()->pixelWidth(), c.pixelWidth);
        EXPECT_EQ(view->image()->size(), (platform::Size{320, 50})); // same size in points
        // Drawn at its natural size, centred in the 320 by 53 view.
        view->display();
        ASSERT_EQ(view->lastDrawing().size(), 1u);
        EXPECT_EQ(view->lastDrawing()[0].rect, platform::Rect(0, 1.5, 320, 50));
        platform::Device::resetForTesting();
    }
}

TEST_F(CustomAdsTest, IconAdShowsRoundedIconAndText) {
    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    auto adapter = custom("icon-app");
    adapter->getAd();
    ASSERT_TRUE(waitForAnswer());
    ASSERT_EQ(*events, std::vector<std::string>{"slot:didReceiveAdView"});
    auto view = adapter->adView();
    EXPECT_EQ(view->frame(), platform::Rect(0, 0, 320, 53));
    ASSERT_NE(view->textLabel(), nullptr);
    EXPECT_EQ(view->textLabel()->frame(), platform::Rect(50, 0, 270, 53));
    EXPECT_EQ(view->textLabel()->text(), "Try the new drive");
    EXPECT_EQ(view->textLabel()->numberOfLines(), 3);
    EXPECT_EQ(view->textLabel()->font(), platform::Font::named("TrebuchetMS-Bold", 13));
    EXPECT_EQ(view->launchType(), 1);
    EXPECT_EQ(view->animType(), 0);

    using Kind = platform::DrawOp::Kind;
    view->display();
    const auto& d = view->lastDrawing();
    // White fill, two gradients, the icon clipped to its rounded square, three bevel strokes.
    std::vector<Kind> kinds;
    for (const auto& op : d.ops())
        kinds.push_back(op.kind);
    ASSERT_EQ(kinds, (std::vector<Kind>{Kind::FillPath, Kind::LinearGradient, Kind::LinearGradient, Kind::SaveGState,
                                        Kind::Clip, Kind::Image, Kind::RestoreGState, Kind::StrokePath,
                                        Kind::StrokePath, Kind::StrokePath}));
    EXPECT_EQ(d[0].color, platform::Color::whiteColor());
    EXPECT_EQ(d[0].path.elements[0].rect, platform::Rect(0, 0, 320, 53));
    for (int i : {1, 2}) {
        ASSERT_TRUE(d[i].linear);
        EXPECT_EQ(d[i].linear->gradient.locations, (std::vector<double>{0.0, 0.7, 1.0}));
        EXPECT_EQ(d[i].linear->end, (platform::Point{0, 26.5}));
        ASSERT_EQ(d[i].linear->gradient.colors.size(), 3u);
        EXPECT_EQ(d[i].linear->gradient.colors[0].alpha, 0.6);
    }
    EXPECT_EQ(d[1].linear->start, (platform::Point{0, 0}));
    EXPECT_EQ(d[2].linear->start, (platform::Point{0, 53}));
    // The clip is the rounded square: four corners of radius 7.
    ASSERT_EQ(d[4].path.elements.size(), 6u);
    EXPECT_EQ(d[4].path.elements[1].kind, platform::PathElement::Kind::ArcToPoint);
    EXPECT_EQ(d[4].path.elements[1].radius, 7);
    EXPECT_EQ(d[5].rect, platform::Rect(4, 7, 39, 39));
    const std::vector<double> whites = {0.4, 0.9, 0.4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(d[7 + i].lineWidth, 0.5);
        EXPECT_EQ(d[7 + i].color, platform::Color::white(whites[i]));
    }
    // The light part runs from the top-left corner round to the bottom-right corner: each
    // stroke starts on the arc where the one before ended.
    const auto& dark = d[7].path.elements;
    const auto& light = d[8].path.elements;
    const auto& last = d[9].path.elements;
    EXPECT_EQ(dark.back().endAngle, light.front().startAngle);
    EXPECT_EQ(light.back().endAngle, last.front().startAngle);
    EXPECT_EQ(light.front().points[0], (platform::Point{11, 14}));
    EXPECT_EQ(last.back().points[0], (platform::Point{11, 39}));
    // The image, 78 pixels on a screen of scale 1, is kept as it came.
    EXPECT_EQ(view->image()->pixelWidth(), 78);
}

TEST_F(CustomAdsTest, NimbusRepliesOfEveryKind) {
    const std::string good =
        "{\"ad_text\":\"hi\",\"landing_url\":\"${BASE}/landing/nimbus.html\",\"ad_type\":1,"
        "\"launch_type\":2,\"img_url\":\"${BASE}/nimbus/images/nimbus.png\"}";
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> events;
        std::optional<int> code; // error code when an error is reported
        std::string description;
    };
    const std::vector<Case> cases = {
        {"good", "[" + good + "]", {"slot:didReceiveAdView"}, std::nullopt, ""},
        {"numbers as text",
         "[{\"landing_url\":\"${BASE}/landing/nimbus.html\",\"ad_type\":\"2\",\"launch_type\":\"2\","
         "\"img_url\":\"${BASE}/nimbus/images/nimbus.png\"}]",
         {"slot:didReceiveAdView"},
         std::nullopt,
         ""},
        {"empty array", "[]", {"slot:didFailAd"}, std::nullopt, ""},
        {"first element not an object", "[1]", {"slot:didFailAd"}, std::nullopt, ""},
        {"image URL not a string",
         "[{\"ad_type\":1,\"launch_type\":1,\"img_url\":5}]",
         {"slot:didFailAd"},
         std::nullopt,
         ""},
        {"malformed", "[{", {"slot:didFailAd"}, 50, "Error parsing Nimbus ad JSON from server"},
        {"not an array", "{}", {"slot:didFailAd"}, 60, "Expected top-level array in Nimbus ad data"},
        {"launch type 4",
         "[{\"ad_type\":1,\"launch_type\":4,\"img_url\":\"x\"}]",
         {"slot:didFailAd"},
         60,
         "Nimbus ad data: Invalid value for launch_type - 4"},
        {"no ad_type",
         "[{\"launch_type\":1}]",
         {"slot:didFailAd"},
         60,
         "Nimbus ad data has no 'ad_type' field"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        slot->error = std::nullopt;
        std::string body = withBase(c.body);
        services.handle("GET", std::string(services::kNimbusFeedPath),
                        [body](const services::LoggedRequest&) {
                            return services::ServiceReply{200, body, "application/json", {}};
                        });
        auto adapter = nimbus();
        adapter->getAd();
        ASSERT_TRUE(waitForAnswer());
        EXPECT_EQ(*events, c.events);
        EXPECT_EQ(slot->error.has_value(), c.code.has_value());
        if (c.code && slot->error) {
            EXPECT_EQ(slot->error->code, *c.code);
            EXPECT_EQ(slot->error->localizedDescription, c.description);
        }
        if (c.events[0] == "slot:didReceiveAdView") {
            ASSERT_NE(adapter->adView(), nullptr);
            EXPECT_EQ(adapter->adView()->animType(), 4);
            EXPECT_EQ(adapter->adView()->clickMetricsURL(), std::nullopt);
            EXPECT_TRUE(adapter->shouldSendExMetric());
        }
    }
}

// ---- Clicks ----

TEST_F(CustomAdsTest, TapsOpenOutsideOrLogOnly) {
    struct Case {
        const char* name;
        int launchType;
        bool hasRedirect;
        std::string log;
        bool opens;
    };
    const std::vector<Case> cases = {
        {"outside", 1, true, "Opening URL '", true},
        {"launch type 3", 3, true, "Custom ad: Unsupported launch type 3", false},
        {"no landing URL", 1, false, "Custom ad redirect URL is nil", false},
    };
    mediationtest::LogLevelScope level(50);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        services.host().clearRequestLog();
        platform::Application::resetForTesting();
        std::string body =
            "{\"ad_type\":1,\"launch_type\":" + std::to_string(c.launchType) +
            ",\"webview_animation_type\":0,\"metrics_url\":\"${BASE}/switchboard/customclick.php?ad=1\","
            "\"img_url\":\"${BASE}/switchboard/custom/images/banner.png\"" +
            (c.hasRedirect ? ",\"redirect_url\":\"${BASE}/landing/banner.html?a=1\"}" : "}");
        serveCustom(withBase(body));
        auto adapter = custom("banner-app");
        EXPECT_FALSE(adapter->shouldSendExMetric());
        adapter->getAd();
        ASSERT_TRUE(waitForAnswer());
        platform::LogCapture capture;
        adapter->adView()->tapButton()->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
        EXPECT_TRUE(capture.contains(c.log)) << c.log;
        // The click ping goes out on every tap, whatever happens next.
        EXPECT_TRUE(clock.runUntil([&] { return services.requestCount(kClickPingPath) == 1; }, 10.0));
        const auto& opened = platform::Application::shared().openedURLs();
        if (c.opens)
            EXPECT_EQ(opened, std::vector<std::string>{services.url("/landing/banner.html?a=1")});
        else
            EXPECT_TRUE(opened.empty());
        EXPECT_EQ(*events, std::vector<std::string>{"slot:didReceiveAdView"}); // no modal mark
    }
}

TEST_F(CustomAdsTest, BrowserTapHoldsTheSlotUntilTheBrowserCloses) {
    // The fixture's ad: launch type 2, transition 7.
    auto adapter = custom("banner-app");
    adapter->getAd();
    ASSERT_TRUE(waitForAnswer());
    auto view = adapter->adView();

    // Another view's tap is not this adapter's business.
    auto stranger = SwitchboardCustomAdView::create({}, "", std::nullopt, std::nullopt, 1, 2, 0, std::nullopt,
                                                    std::nullopt);
    adapter->adTapped(*stranger);
    EXPECT_EQ(adapter->webBrowserController(), nullptr);

    events->clear();
    view->tapButton()->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    auto browser = adapter->webBrowserController();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:modal=YES", "host:willPresent"}));
    EXPECT_TRUE(slot->modal);
    EXPECT_EQ(browser->presentingViewController(), root);
    EXPECT_EQ(browser->modalTransitionStyle(), platform::ModalTransitionStyle::CrossDissolve);
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount(kClickPingPath) == 1; }, 10.0));
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView()->title() == "banner landing"; }, 10.0));
    settle();

    events->clear();
    browser->closeButton()->press();
    EXPECT_TRUE(events->empty()); // told once the view has gone
    settle();
    EXPECT_EQ(*events, (std::vector<std::string>{"host:didDismiss", "slot:modal=NO"}));
    EXPECT_EQ(adapter->webBrowserController(), nullptr);
    EXPECT_EQ(root->presentedViewController(), nullptr);

    // The next tap makes a new browser.
    events->clear();
    view->buttonTapUp();
    ASSERT_NE(adapter->webBrowserController(), nullptr);
    EXPECT_NE(adapter->webBrowserController(), browser);
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:modal=YES", "host:willPresent"}));

    // A detached view reports no taps.
    adapter->stopBeingDelegate();
    adapter->stopBeingDelegate();
    EXPECT_EQ(view->delegate(), nullptr);

    // Going away while the browser is up ends the slot's modal mark.
    settle();
    events->clear();
    adapter.reset();
    EXPECT_EQ(*events, (std::vector<std::string>{"host:didDismiss", "slot:modal=NO"}));
    root->dismissModalViewControllerAnimated(false);
}

TEST_F(CustomAdsTest, BrowserTapWithoutAPresenterOpensNothing) {
    host->presenter = nullptr;
    serveCustom(withBase("{\"ad_type\":1,\"launch_type\":2,\"webview_animation_type\":0,"
                         "\"redirect_url\":\"${BASE}/landing/banner.html\","
                         "\"img_url\":\"${BASE}/switchboard/custom/images/banner.png\"}"));
    auto adapter = custom("banner-app");
    adapter->getAd();
    ASSERT_TRUE(waitForAnswer());
    events->clear();
    adapter->adView()->buttonTapUp();
    EXPECT_EQ(adapter->webBrowserController(), nullptr);
    EXPECT_TRUE(events->empty());
    EXPECT_FALSE(slot->modal);
}

// ---- The in-app browser ----

class Recorder : public mediation::SwitchboardWebBrowserControllerDelegate {
public:
    void webBrowserClosed(SwitchboardWebBrowserController&) override { ++closed; }
    int closed = 0;
};

TEST_F(CustomAdsTest, BrowserTransitionStyles) {
    using S = platform::ModalTransitionStyle;
    const std::vector<std::pair<int, S>> cases = {
        {0, S::CoverVertical}, {1, S::FlipHorizontal}, {2, S::FlipHorizontal}, {3, S::CoverVertical},
        {6, S::CoverVertical}, {7, S::CrossDissolve},  {8, S::CoverVertical},  {9, S::CoverVertical}};
    for (auto [transition, style] : cases) {
        SCOPED_TRACE(transition);
        auto browser = SwitchboardWebBrowserController::create();
        browser->presentWithController(root, transition);
        EXPECT_EQ(browser->modalTransitionStyle(), style);
        EXPECT_EQ(browser->viewControllerForPresenting(), root);
        root->dismissModalViewControllerAnimated(false);
        settle();
    }
}

TEST_F(CustomAdsTest, BrowserToolbarFollowsTheLoad) {
    auto browser = SwitchboardWebBrowserController::create();
    auto recorder = std::make_shared<Recorder>();
    browser->setDelegate(recorder);
    const auto& items = browser->toolBar()->items();
    ASSERT_GT(items.size(), SwitchboardWebBrowserController::kStopItemIndex);
    EXPECT_EQ(items[4], browser->reloadButton());
    EXPECT_EQ(items[5], browser->stopButton());
    auto has = [](const auto& list, const auto& item) {
        return std::find(list.begin(), list.end(), item) != list.end();
    };
    EXPECT_FALSE(has(browser->loadingButtons(), browser->reloadButton()));
    EXPECT_TRUE(has(browser->loadingButtons(), browser->stopButton()));
    EXPECT_TRUE(has(browser->loadedButtons(), browser->reloadButton()));
    EXPECT_FALSE(has(browser->loadedButtons(), browser->stopButton()));

    browser->presentWithController(root, 0);
    settle();
    EXPECT_EQ(browser->toolBar()->items(), browser->loadedButtons());
    auto& app = platform::Application::shared();
    browser->loadURL(*platform::URL::parse(services.url("/landing/icon.html")));
    ASSERT_TRUE(clock.runUntil([&] { return app.isNetworkActivityIndicatorVisible(); }, 10.0));
    EXPECT_EQ(browser->toolBar()->items(), browser->loadingButtons());
    EXPECT_TRUE(browser->stopButton()->isEnabled());
    for (const auto& b : {browser->reloadButton(), browser->backButton(), browser->forwardButton()})
        EXPECT_FALSE(b->isEnabled());

    ASSERT_TRUE(clock.runUntil([&] { return !app.isNetworkActivityIndicatorVisible(); }, 10.0));
    EXPECT_EQ(browser->toolBar()->items(), browser->loadedButtons());
    EXPECT_FALSE(browser->stopButton()->isEnabled());
    EXPECT_TRUE(browser->reloadButton()->isEnabled());
    EXPECT_TRUE(browser->linkOutButton()->isEnabled());
    EXPECT_FALSE(browser->backButton()->isEnabled());

    // A link, then back.
    ASSERT_TRUE(browser->webView()->clickLinkWithId("next"));
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView()->title() == "second"; }, 10.0));
    ASSERT_TRUE(clock.runUntil([&] { return browser->backButton()->isEnabled(); }, 10.0));
    browser->backButton()->press();
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView()->title() == "icon landing"; }, 10.0));

    // A mail link leaves for the mail application; the browser stays.
    ASSERT_TRUE(browser->webView()->clickLinkWithId("mail"));
    ASSERT_TRUE(clock.runUntil([&] { return !app.openedURLs().empty(); }, 10.0));
    EXPECT_EQ(app.openedURLs(), std::vector<std::string>{"mailto:ads@example.com"});
    EXPECT_EQ(root->presentedViewController(), browser);

    // Open outside: the current page, and the browser stays.
    ASSERT_TRUE(clock.runUntil([&] { return !browser->webView()->isLoading(); }, 10.0));
    browser->linkOutButton()->press();
    EXPECT_EQ(app.openedURLs().back(), services.url("/landing/icon.html"));
    EXPECT_EQ(recorder->closed, 0);

    browser->closeButton()->press();
    settle();
    EXPECT_EQ(recorder->closed, 1);
    EXPECT_FALSE(app.isNetworkActivityIndicatorVisible());
}

TEST_F(CustomAdsTest, BrowserAppearingAgainStartsFromAFreshWebView) {
    auto browser = SwitchboardWebBrowserController::create();
    browser->presentWithController(root, 0);
    settle();
    browser->loadURL(*platform::URL::parse(services.url("/landing/banner.html")));
    ASSERT_TRUE(clock.runUntil([&] { return browser->webView()->title() == "banner landing"; }, 10.0));
    auto first = browser->webView();
    root->dismissModalViewControllerAnimated(false);
    browser->presentWithController(root, 0);
    settle();
    ASSERT_NE(browser->webView(), first);
    EXPECT_EQ(browser->webView()->frame(), first->frame());
    EXPECT_EQ(browser->webView()->tag(), first->tag());
    EXPECT_TRUE(browser->webView()->scalesPageToFit());
    EXPECT_EQ(first->superview(), nullptr);
    EXPECT_EQ(browser->webView()->superview(), browser->view());
}

// A presenter that turns every way.
class TurningController : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) const override {
        return true;
    }
};

TEST_F(CustomAdsTest, BrowserRotatesAsItsPresenterDoes) {
    auto turning = std::make_shared<TurningController>();
    window->setRootViewController(turning);
    auto browser = SwitchboardWebBrowserController::create();
    EXPECT_FALSE(
        browser->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::LandscapeLeft));
    browser->presentWithController(turning, 0);
    EXPECT_TRUE(
        browser->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::LandscapeLeft));
    EXPECT_TRUE(browser->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait));
    settle();
    turning->dismissModalViewControllerAnimated(false);
}

TEST(SwitchboardBackButtonTest, DrawsAWhiteLeftArrow) {
    auto image = mediation::SwitchboardBackButton::arrowImage();
    ASSERT_EQ(image->pixelWidth(), 25);
    ASSERT_EQ(image->pixelHeight(), 25);
    auto alpha = [&](int x, int y) { return image->pixels()[(y * 25 + x) * 4 + 3]; };
    auto red = [&](int x, int y) { return image->pixels()[(y * 25 + x) * 4]; };
    struct Case {
        int x, y;
        bool filled;
    };
    for (auto c :
         {Case{5, 11, true}, Case{18, 3, true}, Case{18, 19, true}, Case{12, 11, true}, Case{2, 11, false},
          Case{21, 11, false}, Case{6, 4, false}, Case{6, 18, false}, Case{18, 23, false}}) {
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(alpha(c.x, c.y), c.filled ? 255 : 0);
        EXPECT_EQ(red(c.x, c.y), c.filled ? 255 : 0);
    }
    auto item = mediation::SwitchboardBackButton::create({});
    EXPECT_EQ(item->image()->pixelWidth(), 25);
}

} // namespace

// Hostile custom-ad descriptions through the adapter's real entry point over loopback: each
// row serves one description (and taps the ad when it shows), then checks that nothing on
// disk changed outside the client's own files, that the main thread keeps answering, that no
// page shows a local file, and that the next (good) ad still shows.
TEST_F(CustomAdsTest, HostileDescriptionsStayInTheirBox) {
    fwtest::TemporaryHome home;
    services.setFault("/slow.png", services::Fault::delay(3));
    const std::string image = "\"img_url\":\"${BASE}/switchboard/custom/images/banner.png\"";
    const std::string browser = "\"ad_type\":1,\"launch_type\":2,\"webview_animation_type\":0";
    const std::string huge(SwitchboardAdapterCustom::kMaximumAdDataBytes / 2, 'x');
    struct Row {
        const char* name;
        std::string body;
        bool shows;
    };
    const std::vector<Row> rows = {
        {"a landing page that is a local file",
         "{" + browser + "," + image + ",\"redirect_url\":\"file:///etc/hostname\"}", true},
        {"a landing page of an unknown scheme",
         "{" + browser + "," + image +
             ",\"redirect_url\":\"ferrowick-evil://x\",\"metrics_url\":\"file:///etc/passwd\"}",
         true},
        {"a landing page that navigates to a local file",
         "{" + browser + "," + image + ",\"redirect_url\":\"${BASE}/hostile/landing.html\"}", true},
        {"a picture that is a local file", "{" + browser + ",\"img_url\":\"file:///etc/passwd\"}", false},
        {"a picture path that climbs out",
         "{" + browser + ",\"img_url\":\"${BASE}/switchboard/custom/images/../../../../etc/passwd\"}", false},
        {"numbers past every integer",
         "{\"ad_type\":1e300,\"launch_type\":-1e300,\"webview_animation_type\":9223372036854775808," + image +
             "}",
         false},
        {"an oversized text", "{" + browser + "," + image + ",\"ad_text\":\"" + huge + "\"}", true},
        {"a slow picture", "{" + browser + ",\"img_url\":\"${BASE}/slow.png\"}", false},
        {"a malformed reply", "{\"ad_type\":1,\"img_url\":[", false},
    };
    services.handle("GET", "/hostile/landing.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, "<p>landing</p><script>location.href = 'file:///etc/hostname';</script>", "text/html", {}};
    });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = fwtest::FolderSnapshot::of(home.root());
        events->clear();
        slot->view = nullptr;
        platform::Application::resetForTesting();
        serveCustom(withBase(row.body));
        platform::LogCapture log;
        auto adapter = custom("banner-app");
        adapter->getAd();
        EXPECT_TRUE(fwtest::mainThreadAnswers());
        ASSERT_TRUE(waitForAnswer());
        EXPECT_EQ(slot->view != nullptr, row.shows);
        if (slot->view) {
            adapter->adView()->tapButton()->sendActionsForControlEvents(
                platform::ControlEvent::TouchUpInside);
            settle();
            if (auto shown = adapter->webBrowserController()) {
                clock.runUntil([&] { return !shown->webView()->isLoading(); }, 10.0);
                clock.drain();
                const auto request = shown->webView()->request();
                EXPECT_TRUE(!request || request->url().scheme() != "file");
                EXPECT_TRUE(fwtest::mainThreadAnswers());
                shown->closeButton()->press();
                settle();
            }
        }
        EXPECT_EQ(fwtest::FolderSnapshot::of(home.root())
                      .changesOutside(before, {"Library/Preferences", "Library/Caches"}),
                  std::vector<std::string>{});
        adapter.reset();
        root->dismissModalViewControllerAnimated(false);

        // The next ad is a good one, and shows.
        events->clear();
        serveCustom(withBase("{" + browser + "," + image + "}"));
        auto next = custom("banner-app");
        next->getAd();
        ASSERT_TRUE(waitForAnswer());
        EXPECT_EQ(*events, std::vector<std::string>{"slot:didReceiveAdView"});
    }
}
