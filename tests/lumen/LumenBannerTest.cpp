// The banner end to end against the loopback Lumen service: the core script kept for a day,
// the ad URL as the service receives it, the shown ad, refreshes, failures as a table, clicks.
#include <gtest/gtest.h>

#include "LumenTestSupport.h"
#include "lumen/Screens.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

using lumen::LMNObjectPrivate;
using lumentest::countOf;
using lumentest::LumenFixture;

class LumenBannerTest : public LumenFixture {};

TEST_F(LumenBannerTest, LoadsShowsAndRefreshesWithTheScriptKeptForADay) {
    auto banner = makeBanner("slot one&x=1");
    auto request = lumen::LMNRequest::request();
    request->addKeyword("rock & roll");
    banner->loadRequest(request);
    ASSERT_TRUE(waitForEvent("didReceiveAd"));
    EXPECT_EQ(*events, std::vector<std::string>{"didReceiveAd"});
    auto& ad = banner->privateObject();
    EXPECT_EQ(ad.state(), LMNObjectPrivate::kShown);
    EXPECT_FALSE(banner->webView()->isHidden());
    ASSERT_NE(banner->webView()->elementById("creative"), nullptr);

    EXPECT_EQ(services.requestCount(services::kLumenCoreScriptPath), 1u);
    auto adRequests = services.requestsTo(services::kLumenAdPath);
    ASSERT_EQ(adRequests.size(), 1u);
    const auto& sent = adRequests[0];
    EXPECT_EQ(sent.queryValue("slotname"), "slot one&x=1");
    EXPECT_EQ(sent.queryValue("kw"), "rock & roll");
    EXPECT_EQ(sent.queryValue("js"), "luma-sdk-i-v4.0.2");
    EXPECT_EQ(sent.queryValue("preqs"), "1");
    EXPECT_EQ(sent.queryValue("frame"), "320x50");
    EXPECT_EQ(sent.queryValue("u_so"), "p");
    EXPECT_EQ(sent.rawQuery.find(' '), std::string::npos) << "every value is encoded";
    EXPECT_NE(sent.rawQuery.find("slotname=slot%20one%26x%3D1"), std::string::npos);
    EXPECT_EQ(ad.pendingTrackingURLs().size(), 2u) << "announced on the redirect";
    EXPECT_EQ(ad.supportedOrientations(), lumen::kOrientationPortrait);
    EXPECT_TRUE(ad.isReloadScheduled());
    EXPECT_EQ(ad.reloadSeconds(), 30);
    auto expires = platform::UserDefaults::standard().dictionaryForKey("lumen_stats_LMNObjectPrivate");
    ASSERT_TRUE(expires);
    EXPECT_TRUE(expires->at("expireDate").date());

    // The refresh after 30 s loads again, using the stored script.
    clock.advance(29);
    EXPECT_EQ(services.requestCount(services::kLumenAdPath), 1u);
    clock.advance(1);
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "didReceiveAd") == 2; }));
    EXPECT_TRUE(banner->hasAutoRefreshed());
    EXPECT_EQ(services.requestCount(services::kLumenCoreScriptPath), 1u);
    EXPECT_EQ(services.requestsTo(services::kLumenAdPath)[1].queryValue("preqs"), "2");

    // A second banner within the day builds with the cached script, without fetching it.
    auto second = makeBanner("second");
    second->loadRequest(nullptr);
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "didReceiveAd") == 3; }));
    EXPECT_EQ(services.requestCount(services::kLumenCoreScriptPath), 1u);

    // After a day the script is revalidated with a conditional GET.
    clock.clock().setNow(clock.clock().now() + LMNObjectPrivate::kScriptFreshSeconds + 1);
    second->loadRequest(nullptr);
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "didReceiveAd") == 4; }));
    ASSERT_EQ(services.requestCount(services::kLumenCoreScriptPath), 2u);
    EXPECT_TRUE(services.requestsTo(services::kLumenCoreScriptPath)[1].header("If-Modified-Since"));
}

TEST_F(LumenBannerTest, FailuresReportTheirCodes) {
    struct Row {
        std::string slot;
        std::optional<services::Fault> adFault;
        std::optional<services::Fault> scriptFault;
        int code;
        int state;
        bool refreshArmed;
        const char* logged;
    };
    const Row rows[] = {
        {"noserve", std::nullopt, std::nullopt, 0, LMNObjectPrivate::kBuildingURL, false,
         "<Lumen> Unable to serve: "},
        {"", std::nullopt, std::nullopt, 0, LMNObjectPrivate::kBuildingURL, false,
         "<Lumen> Invalid Request: "},
        {"empty", std::nullopt, std::nullopt, 1, LMNObjectPrivate::kFailed, true, nullptr},
        {"banner", services::Fault::errorStatus(400), std::nullopt, 0, LMNObjectPrivate::kFailed, false,
         "<Lumen> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect."},
        {"banner", services::Fault::errorStatus(500), std::nullopt, 2, LMNObjectPrivate::kFailed, false,
         nullptr},
        {"banner", std::nullopt, services::Fault::errorStatus(404), 2, LMNObjectPrivate::kScriptFailed, false,
         nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.slot + " code " + std::to_string(row.code));
        platform::FileManager::removeItem(home.root() / "Library/Caches");
        platform::UserDefaults::standard().removeObjectForKey("lumen_stats_LMNObjectPrivate");
        services.host().clearFaults();
        if (row.adFault)
            services.setFault(std::string(services::kLumenAdPath), *row.adFault);
        if (row.scriptFault)
            services.setFault(std::string(services::kLumenCoreScriptPath), *row.scriptFault);
        events->clear();
        platform::LogCapture log;
        auto banner = makeBanner(row.slot);
        banner->loadRequest(nullptr);
        ASSERT_TRUE(waitFor([&] { return !events->empty(); }));
        clock.drain();
        EXPECT_EQ(*events, std::vector<std::string>{"didFail:" + std::to_string(row.code)});
        EXPECT_EQ(delegate->lastError.domain, lumen::kLMNErrorDomain);
        EXPECT_EQ(banner->privateObject().state(), row.state);
        EXPECT_EQ(banner->privateObject().isReloadScheduled(), row.refreshArmed);
        if (row.logged) {
            EXPECT_TRUE(log.contains(row.logged));
        }
        banner->removeFromSuperview();
    }
}

TEST_F(LumenBannerTest, WithoutARootControllerTheLoadFailsAtOnce) {
    auto banner = makeBanner();
    banner->setRootViewController({});
    platform::LogCapture log;
    banner->loadRequest(nullptr);
    EXPECT_EQ(*events, std::vector<std::string>{"didFail:0"});
    EXPECT_TRUE(log.contains(
        "<Lumen> Must set the rootViewController property of LMNBannerView before calling loadRequest:"));
    clock.drain();
    EXPECT_EQ(services.requests().size(), 0u);
}

TEST_F(LumenBannerTest, TheRootlessFailureKeepsTheClickFiguresForTheNextRequest) {
    auto& statistics = lumen::LMNStatistics::sharedStatistics();
    statistics.urlForClick(*platform::URL::parse("http://ads.example/c?ai=tok-3"));
    statistics.incrementPageNavigationCount();
    auto banner = makeBanner();
    banner->setRootViewController({});
    banner->loadRequest(nullptr);
    ASSERT_EQ(*events, std::vector<std::string>{"didFail:0"});
    // The code-0 error carries the figures without using them up.
    EXPECT_EQ(delegate->lastError.userInfo.at("pcc").intOr(0), 1);
    EXPECT_EQ(delegate->lastError.userInfo.at("pai").stringOr(""), "tok-3");
    auto next = statistics.parameters();
    EXPECT_EQ(next.at("pcc").intOr(0), 1);
    EXPECT_EQ(next.at("plpnc").intOr(0), 1);
    EXPECT_EQ(next.at("pai").stringOr(""), "tok-3");
    EXPECT_EQ(next.count("pcl"), 1u);
}

TEST_F(LumenBannerTest, DelegatesCanBeReplacedOrRemovedAndAnswerBothForms) {
    auto banner = makeBanner();
    delegate->answersInterstitial = true;
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitForEvent("didReceiveAd"));
    EXPECT_EQ(*events, (std::vector<std::string>{"didReceiveAd", "interstitialDidReceiveAd"}));

    auto otherEvents = std::make_shared<std::vector<std::string>>();
    auto other = std::make_shared<lumentest::RecordingDelegate>(otherEvents);
    banner->setDelegate(other);
    EXPECT_EQ(banner->delegate(), other);
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitFor([&] { return !otherEvents->empty(); }));
    EXPECT_EQ(events->size(), 2u) << "the replaced delegate hears nothing";

    banner->setDelegate({});
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitFor([&] {
        return services.requestCount(services::kLumenCreativePath) == 3 &&
               banner->privateObject().state() == LMNObjectPrivate::kShown;
    }));
    EXPECT_EQ(otherEvents->size(), 1u);
}

TEST_F(LumenBannerTest, ClickOnAShownBannerOpensTheBrowserAndStopsTheRefresh) {
    auto banner = makeBanner();
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitForEvent("didReceiveAd"));
    auto& ad = banner->privateObject();
    ASSERT_TRUE(banner->webView()->clickLinkWithId("ad-link"));
    ASSERT_TRUE(waitForEvent("willPresent"));
    EXPECT_FALSE(ad.isReloadScheduled()) << "no refresh while a full-screen screen is up";
    EXPECT_NE(banner->webView()->elementById("creative"), nullptr) << "the banner stays on its page";
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(waitFor([&] { return browser->webView()->elementById("landing") != nullptr; }));
    EXPECT_EQ(services.requestsTo(services::kLumenClickPath).at(0).queryValue("ai"), "click-42");
    EXPECT_TRUE(services.requestsTo(services::kLumenClickPath).at(0).header("Referer"));
    browser->relinquishScreen();
    clock.advance(1);
    EXPECT_EQ(*events,
              (std::vector<std::string>{"didReceiveAd", "willPresent", "willDismiss", "didDismiss"}));
    EXPECT_TRUE(ad.isReloadScheduled()) << "a full interval again after the screen went";

    // The next request reports the click.
    clock.advance(30);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kLumenAdPath) == 2; }));
    auto next = services.requestsTo(services::kLumenAdPath)[1];
    EXPECT_EQ(next.queryValue("pcc"), "1");
    EXPECT_TRUE(next.queryValue("ppcl"));
}

TEST_F(LumenBannerTest, BackgroundStopsTheRefreshAndDropsLoads) {
    platform::Application::shared().launch(nullptr);
    auto banner = makeBanner();
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitForEvent("didReceiveAd"));
    platform::Application::shared().enterBackground();
    EXPECT_FALSE(banner->privateObject().isReloadScheduled());
    banner->loadRequest(nullptr);
    clock.drain();
    EXPECT_EQ(services.requestCount(services::kLumenAdPath), 1u)
        << "a load while in the background is dropped";
    platform::Application::shared().enterForeground();
    EXPECT_TRUE(banner->privateObject().isReloadScheduled());
}

TEST_F(LumenBannerTest, ZeroRefreshKeepsThePreviousIntervalAndAFailedScriptFetchUsesTheOlderScript) {
    auto banner = makeBanner();
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitForEvent("didReceiveAd"));
    auto& ad = banner->privateObject();
    ASSERT_EQ(ad.reloadSeconds(), 30);

    // A day later the script fetch fails: the older stored script still builds the ad URL.
    clock.clock().setNow(clock.clock().now() + LMNObjectPrivate::kScriptFreshSeconds + 1);
    services.setFault(std::string(services::kLumenCoreScriptPath), services::Fault::errorStatus(500));
    banner->setAdUnitID("norefresh");
    banner->loadRequest(nullptr);
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "didReceiveAd") == 2; }));
    EXPECT_EQ(services.requestCount(services::kLumenCoreScriptPath), 2u);
    EXPECT_EQ(countOf(*events, "didFail:2"), 0u);

    // "X-Luma-Refresh-Rate: 0" schedules nothing and keeps the interval for the next activation.
    EXPECT_FALSE(ad.isReloadScheduled());
    EXPECT_EQ(ad.reloadSeconds(), 30);
    platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillEnterForegroundNotification);
    EXPECT_TRUE(ad.isReloadScheduled());
}

TEST_F(LumenBannerTest, NetworkTypeFollowsReachability) {
    auto& checker = lumen::LMNNetworkChecker::sharedChecker();
    EXPECT_TRUE(checker.isEnabled());
    EXPECT_FALSE(checker.networkTypeString()) << "unknown before the first callback";
    const std::pair<platform::ReachabilityFlags, std::optional<std::string>> rows[] = {
        {platform::kReachabilityFlagsReachable | 0x40000, "ed"},
        {platform::kReachabilityFlagsReachable, "wi"},
        {0, std::nullopt},
    };
    for (const auto& [flags, text] : rows) {
        checker.setNetworkTypeFromFlags(flags);
        EXPECT_EQ(checker.networkTypeString(), text) << flags;
        auto p = lumen::LMNRequest::request()->parameters();
        EXPECT_EQ(p.count("net"), text ? 1u : 0u);
    }
    checker.setEnabled(false);
    EXPECT_FALSE(checker.isEnabled());
    EXPECT_EQ(checker.networkType(), lumen::LMNNetworkChecker::kUnknown);
}
