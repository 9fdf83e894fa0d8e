// The Meridian ad view: factories, the ad request as the service receives it, replies of each
// kind, refresh on the manual clock, the named exceptions and the conversion tracker.
#include "MeridianTestSupport.h"

#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/URL.h"

using namespace meridiantest;
using meridian::MRAdView;
using meridian::MRException;
using meridian::MRGenericAdView;

namespace {

class MeridianAdView : public MeridianFixture {};

std::string exceptionName(const std::function<void()>& f) {
    try {
        f();
    } catch (const MRException& e) {
        return e.name() + "|" + e.reason();
    }
    return "";
}

} // namespace

TEST_F(MeridianAdView, FactoriesPickClassFrameAndType) {
    struct Case {
        int type;
        platform::Rect expectedFrame;
        std::string adtype;
        bool fullScreen;
    };
    const Case cases[] = {
        {1, {10, 20, 320, 50}, "MRBannerAdTop", false},
        {2, {10, 20, 320, 50}, "MRBannerAdBottom", false},
        {3, {10, 20, 300, 250}, "MRBannerAdRectangle", false},
        {4, {0, 0, 0, 0}, "MRFullScreenAdLaunch", true},
        {5, {0, 0, 0, 0}, "MRFullScreenAdTransition", true},
        {0, {10, 20, 320, 53}, "MRBannerAdTop", false},
        {6, {10, 20, 320, 53}, "MRBannerAdTop", false},
        {-3, {10, 20, 320, 53}, "MRBannerAdTop", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        auto view = MRAdView::adWithFrame(platform::Rect(10, 20, 320, 50), c.type, std::string("a"), delegate,
                                          false, false);
        auto* generic = dynamic_cast<MRGenericAdView*>(view.get());
        ASSERT_NE(generic, nullptr);
        EXPECT_EQ(view->frame(), c.expectedFrame);
        EXPECT_EQ(generic->adType(), c.adtype);
        EXPECT_EQ(dynamic_cast<meridian::MRIntersticialAdView*>(view.get()) != nullptr, c.fullScreen);
    }
    EXPECT_EQ(MRAdView::interstitialWithType(1, std::nullopt, delegate, false), nullptr);
    auto interstitial = MRAdView::interstitialWithType(4, std::nullopt, delegate, false);
    ASSERT_NE(interstitial, nullptr);
    EXPECT_FALSE(interstitial->refreshTimerEnabled());
    EXPECT_EQ(MRAdView::version(), "4.2.5");
}

TEST_F(MeridianAdView, NamedExceptions) {
    EXPECT_EQ(exceptionName([] { MRAdView::adWithFrame({}, 1, std::nullopt, nullptr, false, false); }),
              "Invalid delegate|delegate must not be nil");
    EXPECT_EQ(exceptionName([] { MRAdView::interstitialWithType(4, std::nullopt, nullptr, false); }),
              "Invalid delegate|delegate must not be nil");
    EXPECT_EQ(exceptionName([] { MRAdView::startSynchronousConversionTrackerWithGoalId(std::nullopt); }),
              "Invalid goal id|goal id must not be nil");
    delegate->data = platform::Dictionary{{"gender", "Male"}};
    EXPECT_EQ(
        exceptionName([&] { banner(); }),
        "Invalid Meta Data|The key provided gender must have one of the following value male,female,unknown");
    EXPECT_EQ(services.requestCount(services::kMeridianAdPath), 0u);
}

TEST_F(MeridianAdView, PlacementIdFallsBackAndIsSaved) {
    auto view = banner(1, false, false, std::nullopt);
    EXPECT_EQ(view->getApid(), "357");
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey("MRApid"), "357");

    platform::Bundle::main().setInfoDictionaryValue("APID", platform::Value("from-info"));
    auto other = banner(1, false, false, std::nullopt);
    EXPECT_EQ(other->getApid(), "from-info");
    auto given = banner(1, false, false, std::string("given"));
    EXPECT_EQ(given->getApid(), "given");
    given->setApid(std::nullopt);
    EXPECT_EQ(given->getApid(), "given");
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey("MRApid"), "given");
}

TEST_F(MeridianAdView, RequestCarriesEveryValueEncodedOnItsOwn) {
    delegate->data = platform::Dictionary{{"gender", "male"}, {"sex", "M"}, {"kw", "a&b=c d"}};
    delegate->accelerometer = false;
    auto view = banner(1, true, false, std::string("ap id&x=1"));
    ASSERT_TRUE(waitForRequests(services::kMeridianAdPath, 1));
    auto request = services.requestsTo(services::kMeridianAdPath).front();
    EXPECT_EQ(request.queryValue("vellum"), "false");
    EXPECT_EQ(request.queryValue("sdkapid"), "ap id&x=1");
    EXPECT_EQ(request.queryValue("x"), std::nullopt);
    EXPECT_EQ(request.queryValue("mrisdk"), "4.2.5-11.5.16.i");
    EXPECT_EQ(request.queryValue("adtype"), "MRBannerAdTop");
    EXPECT_EQ(request.queryValue("hswd"), "320");
    EXPECT_EQ(request.queryValue("hsht"), "50");
    EXPECT_EQ(request.queryValue("accelerometer"), "false");
    EXPECT_EQ(request.queryValue("gender"), "male");
    EXPECT_EQ(request.queryValue("sex"), "M");
    EXPECT_EQ(request.queryValue("kw"), "a&b=c d");
    EXPECT_EQ(request.queryValue("video"), "true");
    EXPECT_EQ(request.queryValue("cachedvideo"), "true");
    EXPECT_EQ(request.queryValue("auid"), meridian::mrDeviceFacts().uniqueIdentifier);
    EXPECT_EQ(request.queryValue("ua"),
              meridian::mrDeviceFacts().model + " " + meridian::mrDeviceFacts().systemVersion);
    EXPECT_TRUE(request.queryValue("language").has_value());
    EXPECT_TRUE(request.queryValue("country").has_value());
    EXPECT_EQ(request.header("User-Agent"), "MRSDK/4.2.5");
    EXPECT_EQ(request.header("User_Agent"), "MRSDK/4.2.5");
}

TEST_F(MeridianAdView, RepliesOfEachKind) {
    struct Case {
        std::string name;
        services::ServiceReply reply;
        std::string event;
        std::string mime;
        bool openInBrowser;
    };
    const std::string html = "<html><body>ad</body></html>";
    const Case cases[] = {
        {"html", {200, html, "text/html", {{"X-Openinbrowser", "1"}}}, "succeeded", "text/html", true},
        {"json", {200, "{}", "APPLICATION/JSON", {}}, "failed", "application/json", false},
        {"json-charset",
         {200, html, "application/json; charset=utf-8", {}},
         "succeeded",
         "application/json; charset=utf-8",
         false},
        {"empty", {200, "", "text/html", {}}, "failed", "text/html", false},
        {"server-error", {500, html, "text/html", {}}, "failed", "text/html", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        services.handle("GET", std::string(services::kMeridianAdPath),
                        [c](const services::LoggedRequest&) { return c.reply; });
        auto view = banner();
        ASSERT_TRUE(waitFor([&] { return !events->empty(); }));
        clock.drain();
        EXPECT_EQ(*events, std::vector<std::string>{c.event});
        EXPECT_EQ(view->adMimeType(), c.mime);
        EXPECT_EQ(view->openClickInBrowser(), c.openInBrowser);
        view->disableAdRefresh();
    }
}

TEST_F(MeridianAdView, ConnectionFailureReportsFailure) {
    services.setFault(std::string(services::kMeridianAdPath), services::Fault::closeConnection());
    auto view = banner();
    ASSERT_TRUE(waitForEvent("failed"));
    EXPECT_EQ(countOf(*events, "succeeded"), 0u);
}

TEST_F(MeridianAdView, RefreshPeriodRule) {
    struct Case {
        std::optional<int> answer;
        int period;
    };
    const Case cases[] = {{5, 15}, {14, 15}, {15, 15}, {60, 60}, {61, 60}, {100, 60}, {std::nullopt, 60}};
    for (const auto& c : cases) {
        delegate->refresh = c.answer;
        auto view = banner(1, false, false);
        EXPECT_EQ(view->refreshAdTime(), c.period) << c.answer.value_or(-1);
    }
    // The handshake's "adrefresh" (30.7 for the top banner) wins over the host.
    waitForHandshake();
    delegate->refresh = 100;
    EXPECT_EQ(banner(1, false, false)->refreshAdTime(), 30);
    // "sdk" leaves it to the host.
    EXPECT_EQ(banner(2, false, false)->refreshAdTime(), 60);
}

TEST_F(MeridianAdView, TimerRefreshesOnTheManualClock) {
    delegate->refresh = 20;
    auto view = banner(1, false, true);
    EXPECT_TRUE(view->isRefreshTimerRunning());
    clock.advance(19);
    EXPECT_EQ(countOf(*events, "refresh"), 0u);
    clock.advance(1);
    EXPECT_EQ(countOf(*events, "refresh"), 1u);
    ASSERT_TRUE(waitForRequests(services::kMeridianAdPath, 1));

    // While a video is being cached, ticks and manual refreshes are skipped.
    platform::NotificationCenter::defaultCenter().post("MRCachingBeganNotification");
    clock.advance(20);
    view->refreshAd();
    EXPECT_EQ(countOf(*events, "refresh"), 1u);
    platform::NotificationCenter::defaultCenter().post("MRCachingEndedNotification");
    view->refreshAd();
    EXPECT_EQ(countOf(*events, "refresh"), 2u);

    view->disableAdRefresh();
    EXPECT_FALSE(view->isRefreshTimerRunning());
    clock.advance(100);
    EXPECT_EQ(countOf(*events, "refresh"), 2u);
}

TEST_F(MeridianAdView, ManualRefreshWithBadRequestDataKeepsTheTimer) {
    delegate->refresh = 20;
    auto view = banner(1, false, true);
    ASSERT_TRUE(view->isRefreshTimerRunning());
    delegate->data = platform::Dictionary{{"gender", "Male"}};
    EXPECT_THROW(view->refreshAd(), MRException);
    EXPECT_TRUE(view->isRefreshTimerRunning());
    // With good data again, the timer goes on refreshing by itself.
    delegate->data = platform::Dictionary{{"gender", "male"}};
    auto before = countOf(*events, "refresh");
    clock.advance(20);
    EXPECT_EQ(countOf(*events, "refresh"), before + 1);
    view->disableAdRefresh();
}

TEST_F(MeridianAdView, TapWithoutAWindowKeepsNoOverlayAndRefreshGoesOn) {
    services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>ad</p>", "text/html", {}};
    });
    delegate->refresh = 20;
    auto view = banner(1, true, true);
    ASSERT_TRUE(waitForEvent("succeeded"));
    ASSERT_TRUE(platform::Application::shared().windows().empty());
    auto request = platform::URLRequest::withURLString(services.url("/meridian/landing"));
    ASSERT_TRUE(request);
    view->htmlAdViewWasTapped(*view->htmlAdView(), *request);
    EXPECT_EQ(view->overlayView(), nullptr);
    EXPECT_TRUE(view->isRefreshTimerRunning());
    EXPECT_EQ(countOf(*events, "modalWillAppear"), 0u);
    auto before = countOf(*events, "refresh");
    clock.advance(20);
    EXPECT_EQ(countOf(*events, "refresh"), before + 1);
    view->disableAdRefresh();
}

TEST_F(MeridianAdView, RefreshHeaderNeedsPositiveContentLength) {
    delegate->refresh = 20;
    auto view = banner(1, false, false);
    view->enableAdRefresh();
    view->disableAdRefresh();
    // Refresh switched on but no timer running: "X-MR-Refresh" restarts it.
    services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>x</p>", "text/html", {{"X-MR-Refresh", "30"}}};
    });
    view->setRefreshTimerEnabled(true);
    view->stopTimer();
    view->refreshAd();
    ASSERT_TRUE(waitForEvent("succeeded"));
    EXPECT_TRUE(view->isRefreshTimerRunning());

    view->stopTimer();
    services.setFault(std::string(services::kMeridianAdPath), services::Fault::chunked("<p>chunked</p>", 4));
    view->refreshAd();
    ASSERT_TRUE(waitForEvent("succeeded", 2));
    EXPECT_FALSE(view->isRefreshTimerRunning());
    view->disableAdRefresh();
}

TEST_F(MeridianAdView, ResizeNotificationSetsHeightAndTimer) {
    struct Case {
        double asked;
        double height;
        bool timer;
    };
    const Case cases[] = {{50, 53, true}, {53.9, 53, true}, {54, 54, false}, {120, 120, false}};
    delegate->refresh = 20;
    auto view = banner(1, false, false);
    view->enableAdRefresh();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        platform::NotificationCenter::defaultCenter().post(
            platform::Notification{"MRResizeAdToHeight", platform::Value(c.asked), nullptr, {}});
        clock.drain();
        EXPECT_EQ(view->frame().height(), c.height);
        EXPECT_EQ(view->isRefreshTimerRunning(), c.timer);
    }
    view->disableAdRefresh();
}

TEST_F(MeridianAdView, KillSwitchRequestsNothingAndReportsFailure) {
    services.handle("GET", std::string(services::kMeridianHandshakePath), [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, R"({"mrishake":{"kill":true,"handshakecallback":3600}})", "application/json", {}};
    });
    waitForHandshake();
    platform::LogCapture log;
    auto view = banner(1, false, false);
    view->refreshAd();
    EXPECT_EQ(*events, std::vector<std::string>{"refresh"});
    clock.drain();
    EXPECT_EQ(*events, (std::vector<std::string>{"refresh", "failed"}));
    EXPECT_TRUE(log.contains("MRSDK: Ad requests have been disabled."));
    EXPECT_EQ(services.requestCount(services::kMeridianAdPath), 0u);
}

TEST_F(MeridianAdView, ConversionReportsFirstLaunchOnceItSucceeded) {
    platform::Bundle::main().setInfoDictionaryValue("CFBundleDisplayName", platform::Value("Drive"));
    services.setFault(std::string(services::kMeridianConversionPath),
                      services::Fault::errorStatus(500).onlyTimes(1));
    EXPECT_FALSE(MRAdView::startSynchronousConversionTrackerWithGoalId(std::string("goal 1&x")));
    EXPECT_TRUE(MRAdView::startSynchronousConversionTrackerWithGoalId(std::string("goal 1&x")));
    EXPECT_TRUE(MRAdView::startSynchronousConversionTrackerWithGoalId(std::string("goal 1&x")));
    auto requests = services.requestsTo(services::kMeridianConversionPath);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].queryValue("firstlaunch"), "1");
    EXPECT_EQ(requests[1].queryValue("firstlaunch"), "1");
    EXPECT_EQ(requests[2].queryValue("firstlaunch"), "0");
    EXPECT_EQ(requests[0].queryValue("goalid"), "goal 1&x");
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey("Drive_MRIRegister"));
}

TEST(MeridianCachedVideo, SystemVersionsCompareNumerically) {
    const std::pair<std::string, bool> cases[] = {{"3.10", true}, {"3.2", true},    {"3.2.1", true},
                                                  {"6.1", true},  {"3.1.3", false}, {"3", false},
                                                  {"2.9", false}};
    for (const auto& [version, supported] : cases)
        EXPECT_EQ(MRGenericAdView::isCachedVideoSupported(version), supported) << version;
}

TEST_F(MeridianAdView, DeviceValuesCarryEveryKey) {
    auto values = MRGenericAdView::UIDeviceValues();
    for (auto key : {"device_id", "device_name", "device_type", "device_version", "device_localized_model",
                     "device_model", "device_model_number"})
        EXPECT_NE(values.find(key), values.end()) << key;
    EXPECT_EQ(values["device_id"], platform::Value(meridian::mrDeviceFacts().uniqueIdentifier));
    for (std::optional<std::string> model : {std::optional<std::string>("Board-7"), std::optional<std::string>()}) {
        platform::SystemFacts::setSysctlStringForTesting("hw.model", model);
        EXPECT_EQ(MRGenericAdView::UIDeviceValues()["device_model_number"], platform::Value(model.value_or("")));
    }
    platform::SystemFacts::resetForTesting();
    EXPECT_EQ(values["device_type"], platform::Value(platform::Device::current().systemName()));
}
