// The banner on its own, with a recording delegate and the loopback Orbis service: refusals
// while busy, touches, clicks that follow redirects and "Action-Type", links inside markup
// that takes touches itself, the landing page and detaching while it is up.
#include <gtest/gtest.h>

#include "OrbisTestSupport.h"
#include "orbis/APIRequest.h"
#include "orbis/ClickRequest.h"
#include "orbis/UserInfo.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"

using orbis::OrbisAdManager;
using orbis::OrbisAdView;
using orbistest::countOf;

namespace {

std::string adXML(int actionType, const std::string& adURL, const std::string& markup,
                  const std::string& title = {}) {
    std::string xml = "<Ad type=\"banner\" actionType=\"" + std::to_string(actionType) +
                      "\" width=\"320\" height=\"50\"><AdURL>" + adURL + "</AdURL>";
    if (!title.empty())
        xml += "<titleText>" + title + "</titleText>";
    return xml + "<![CDATA[" + markup + "]]></Ad>";
}

services::ServiceReply redirectTo(std::string location, std::vector<services::NameValue> more = {}) {
    more.emplace_back("Location", std::move(location));
    return services::ServiceReply{302, "", "text/plain", std::move(more)};
}

services::ServiceReply ok() {
    return services::ServiceReply{200, "done", "text/plain", {}};
}

} // namespace

class OrbisBannerTest : public orbistest::OrbisFixture {
protected:
    OrbisBannerTest() { delegate->root = rootController; }

    void serveAd(int actionType, const std::string& adURL, const std::string& markup = "<p>ad</p>",
                 const std::string& title = {}) {
        std::string xml = adXML(actionType, adURL, markup, title);
        services.handle("POST", std::string(services::kOrbisAdPath), [xml](const services::LoggedRequest&) {
            return services::ServiceReply{200, xml, "text/xml", {}};
        });
    }
    // A banner with its first ad on screen, in the window.
    std::shared_ptr<OrbisAdManager> showAd() {
        auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
        EXPECT_NE(banner, nullptr);
        if (!banner)
            return nullptr;
        clock.advance(OrbisAdManager::kRequestDelaySeconds);
        EXPECT_TRUE(waitForEvent("received"));
        window->addSubview(banner);
        return banner;
    }
    bool clickEnded(const std::shared_ptr<OrbisAdManager>& banner) {
        return waitFor([&] { return banner->clickRequest() == nullptr; });
    }

    std::shared_ptr<orbistest::TestDelegate> delegate = std::make_shared<orbistest::TestDelegate>(events);
};

TEST_F(OrbisBannerTest, ANewAdWhileOneIsUnderWayIsRefused) {
    platform::LogCapture log;
    auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
    ASSERT_NE(banner, nullptr);
    banner->loadNewAd();
    EXPECT_EQ(*events, std::vector<std::string>{"failed"});
    EXPECT_TRUE(log.contains("Orbis:An ad request is already in progress.Try after some time."));
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitForEvent("received"));
    EXPECT_EQ(services.requestCount(services::kOrbisAdPath), 1u);
    EXPECT_EQ(*events, (std::vector<std::string>{"failed", "received"}));
}

TEST_F(OrbisBannerTest, ClicksFollowRedirectsAndActionType) {
    struct Case {
        const char* name;
        int adActionType;
        std::function<void(fwtest::LoopbackServices&)> serve; // handlers of /c1 ...
        std::vector<std::string> notices;
        std::optional<std::string> landingPath;   // the landing page's URL path
        std::optional<std::string> openedOutside; // the URL handed to another application
        int actionTypeAfter;
    };
    const std::string base = services.baseURL();
    const Case cases[] = {
        {"two redirects, the second announcing 3",
         1,
         [&](fwtest::LoopbackServices& s) {
             s.handle("POST", "/c1",
                      [&](const services::LoggedRequest&) { return redirectTo(s.url("/c2")); });
             s.handle("GET", "/c2", [&](const services::LoggedRequest&) {
                 return redirectTo(s.url("/c3"), {{"Action-Type", " 3 "}});
             });
             s.handle("GET", "/c3", [](const services::LoggedRequest&) { return ok(); });
         },
         {"display"},
         "/c3",
         std::nullopt,
         3},
        {"one redirect, the ad's own type 1",
         1,
         [&](fwtest::LoopbackServices& s) {
             s.handle("POST", "/c1",
                      [&](const services::LoggedRequest&) { return redirectTo(s.url("/c3")); });
             s.handle("GET", "/c3", [](const services::LoggedRequest&) { return ok(); });
         },
         {"willTerminate"},
         std::nullopt,
         base + "/c3",
         1},
        {"no redirect",
         2,
         [&](fwtest::LoopbackServices& s) {
             s.handle("POST", "/c1", [](const services::LoggedRequest&) { return ok(); });
         },
         {},
         std::nullopt,
         std::nullopt,
         2},
        {"redirect back to the click URL itself",
         2,
         [&](fwtest::LoopbackServices& s) {
             s.handle("POST", "/c1", [&](const services::LoggedRequest& r) {
                 return r.body.empty() ? ok() : redirectTo(s.url("/c1"));
             });
             s.handle("GET", "/c1", [](const services::LoggedRequest&) { return ok(); });
         },
         {},
         std::nullopt,
         std::nullopt,
         2},
        {"a target the connection cannot load, cut before its first &",
         1,
         [&](fwtest::LoopbackServices& s) {
             s.handle("POST", "/c1", [](const services::LoggedRequest&) {
                 return redirectTo("market://details?id=7&ref=orbis");
             });
         },
         {"willTerminate"},
         std::nullopt,
         "market://details?id=7",
         1},
    };
    platform::Application::shared().setInstalledSchemes({"http", "market"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        c.serve(services);
        serveAd(c.adActionType, base + "/c1");
        auto banner = showAd();
        ASSERT_NE(banner, nullptr);
        std::size_t opened = platform::Application::shared().openedURLs().size();
        platform::Application::shared().simulateTap({160, 25}, window);
        ASSERT_TRUE(clickEnded(banner));
        clock.advance(OrbisAdManager::kLandingPageDelaySeconds);

        EXPECT_EQ(std::vector<std::string>(events->begin() + 1, events->end()), c.notices);
        EXPECT_FALSE(banner->touchedDownOnAd());
        EXPECT_EQ(banner->currentAd()->adActionType, c.actionTypeAfter);
        auto presented = std::dynamic_pointer_cast<platform::NavigationController>(
            rootController->presentedViewController());
        if (c.landingPath) {
            ASSERT_NE(presented, nullptr);
            auto page =
                std::dynamic_pointer_cast<orbis::EmbededWebViewController>(presented->topViewController());
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(page->requestUrl(), services.url(*c.landingPath));
            EXPECT_EQ(page->titleText(), "Ad by Orbis") << "an ad without a title";
            clock.advance(platform::kModalTransitionDuration);
            page->backButtonClicked();
            clock.advance(platform::kModalTransitionDuration + OrbisAdManager::kDismissNoticeDelaySeconds);
            EXPECT_EQ(events->back(), "dismiss");
        } else {
            EXPECT_EQ(presented, nullptr);
        }
        const auto& urls = platform::Application::shared().openedURLs();
        if (c.openedOutside) {
            ASSERT_EQ(urls.size(), opened + 1);
            EXPECT_EQ(urls.back(), *c.openedOutside);
        } else {
            EXPECT_EQ(urls.size(), opened);
        }
        banner->setDelegate(nullptr);
        banner->removeFromSuperview();
    }
}

TEST_F(OrbisBannerTest, TouchesThatEndOutsideStartNoClick) {
    serveAd(2, services.url("/c1"));
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    platform::Application::shared().simulateDrag({160, 25}, {160, 300}, window);
    EXPECT_FALSE(banner->touchedDownOnAd());
    EXPECT_EQ(banner->clickRequest(), nullptr);
    EXPECT_EQ(banner->hideWebView()->backgroundColor().alpha, 0.0) << "the press highlight is gone";

    // A second tap while a click is under way starts nothing more.
    services.handle("POST", "/c1", [](const services::LoggedRequest&) { return ok(); });
    platform::Application::shared().simulateTap({160, 25}, window);
    platform::Application::shared().simulateTap({160, 25}, window);
    ASSERT_TRUE(clickEnded(banner));
    EXPECT_EQ(services.requestCount("/c1"), 1u);
}

TEST_F(OrbisBannerTest, LinksInMarkupWithoutCoverBecomeClicks) {
    services.handle("POST", "/c0", [](const services::LoggedRequest&) { return ok(); });
    serveAd(
        3, services.url("/c0"),
        R"(<a id="query" href="http://ads.invalid/go?a=1&amp;b=2?c=3">go</a><a id="plain" href="http://ads.invalid/x">x</a>)");
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->hideWebView()->superviewPointer(), nullptr) << "action type 3 has no cover";
    auto shown = banner->webView1();
    ASSERT_EQ(shown->superviewPointer(), banner.get());

    ASSERT_TRUE(shown->clickLinkWithId("query"));
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/c0") == 1; }));
    EXPECT_EQ(banner->currentAd()->targetUrl, services.url("/c0") + "?a=1&b=2");
    ASSERT_TRUE(clickEnded(banner));
    auto first = services.requestsTo("/c0").front();
    EXPECT_EQ(first.queryValue("a"), "1");
    EXPECT_EQ(first.queryValue("b"), "2");
    EXPECT_FALSE(first.queryValue("c"));

    // A link without a query keeps the ad's target and still clicks.
    ASSERT_TRUE(shown->clickLinkWithId("plain"));
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/c0") == 2; }));
    EXPECT_EQ(banner->currentAd()->targetUrl, services.url("/c0") + "?a=1&b=2");
    EXPECT_EQ(shown->request()->url().absoluteString().find("ads.invalid"), std::string::npos)
        << "the link itself is not loaded";
}

TEST_F(OrbisBannerTest, DetachingWhileTheLandingPageIsUp) {
    services.handle("POST", "/c1",
                    [&](const services::LoggedRequest&) { return redirectTo(services.url("/c2")); });
    services.handle("GET", "/c2", [](const services::LoggedRequest&) { return ok(); });
    serveAd(2, services.url("/c1"), "<p>ad</p>", "Spring Sale");
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    platform::Application::shared().simulateTap({160, 25}, window);
    ASSERT_TRUE(clickEnded(banner));
    clock.advance(OrbisAdManager::kLandingPageDelaySeconds + platform::kModalTransitionDuration);
    auto page = banner->ewvController();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->titleText(), "Spring Sale");

    banner->setDelegate(nullptr);
    EXPECT_EQ(page->callerDelegate(), nullptr);
    EXPECT_NE(rootController->presentedViewController(), nullptr)
        << "the page stays until the user closes it";
    page->backButtonClicked();
    clock.advance(platform::kModalTransitionDuration + OrbisAdManager::kDismissNoticeDelaySeconds);
    EXPECT_EQ(rootController->presentedViewController(), nullptr);
    EXPECT_EQ(*events, (std::vector<std::string>{"received", "display"}));
}

TEST_F(OrbisBannerTest, ALandingPageThatFailsToLoadSaysSoAndStaysOpen) {
    struct Caller : orbis::AdScreenDismissDelegate {
        void adDisplayScreenDismissed() override { ++dismissed; }
        int dismissed = 0;
    };
    auto caller = std::make_shared<Caller>();
    auto page = std::make_shared<orbis::EmbededWebViewController>(
        fwtest::LoopbackServices::closedPortURL() + "/landing", caller, "Spring Sale");
    rootController->presentModalViewController(platform::NavigationController::create(page), false);
    clock.drain();
    ASSERT_NE(page->webView(), nullptr);
    ASSERT_TRUE(waitFor([&] { return !platform::Application::shared().visibleAlerts().empty(); }));
    auto alerts = platform::Application::shared().visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "Load Failed");
    EXPECT_EQ(alerts[0]->message(), "This web page failed to load properly.");
    ASSERT_EQ(alerts[0]->numberOfButtons(), 1);
    EXPECT_EQ(alerts[0]->buttonTitleAtIndex(0), "OK");
    EXPECT_EQ(page->title(), "Ad by Orbis");
    EXPECT_TRUE(page->activityView()->isHidden());
    EXPECT_TRUE(page->backButton()->isEnabled());
    EXPECT_EQ(page->backButton()->title(), "Done");
    EXPECT_NE(rootController->presentedViewController(), nullptr) << "the page stays open";
    EXPECT_TRUE(alerts[0]->pressButtonWithTitle("OK"));

    // Closed by the user: a failure arriving afterwards shows nothing more.
    page->backButtonClicked();
    EXPECT_FALSE(page->backButton()->isEnabled());
    page->webViewDidFailLoadWithError(*page->webView(), platform::Error{"test", -1, "late", {}});
    EXPECT_TRUE(platform::Application::shared().visibleAlerts().empty());
    EXPECT_FALSE(page->backButton()->isEnabled());
    clock.advance(platform::kModalTransitionDuration);
    EXPECT_EQ(rootController->presentedViewController(), nullptr);
    EXPECT_EQ(caller->dismissed, 1);
}

TEST_F(OrbisBannerTest, TheNetworkActivityIndicatorRunsWhileAClickIsUnderWay) {
    auto& application = platform::Application::shared();
    services.handle("POST", "/c1", [](const services::LoggedRequest&) { return ok(); });
    serveAd(2, services.url("/c1"));
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    EXPECT_FALSE(application.isNetworkActivityIndicatorVisible());
    application.simulateTap({160, 25}, window);
    EXPECT_TRUE(application.isNetworkActivityIndicatorVisible()) << "on with the touch";
    ASSERT_TRUE(clickEnded(banner));
    EXPECT_FALSE(application.isNetworkActivityIndicatorVisible()) << "off with the answer";

    // A click that fails, and a banner detached during a click, switch it off too.
    services.setFault("/c1", services::Fault::closeConnection());
    application.simulateTap({160, 25}, window);
    EXPECT_TRUE(application.isNetworkActivityIndicatorVisible());
    ASSERT_TRUE(clickEnded(banner));
    EXPECT_FALSE(application.isNetworkActivityIndicatorVisible());
    application.simulateTap({160, 25}, window);
    EXPECT_TRUE(application.isNetworkActivityIndicatorVisible());
    banner->setDelegate(nullptr);
    EXPECT_FALSE(application.isNetworkActivityIndicatorVisible());
}

TEST_F(OrbisBannerTest, WithoutARootControllerTheBannerPresentsFromItsOwn) {
    services.handle("POST", "/c1",
                    [&](const services::LoggedRequest&) { return redirectTo(services.url("/c2")); });
    services.handle("GET", "/c2", [](const services::LoggedRequest&) { return ok(); });
    serveAd(2, services.url("/c1"));
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    delegate->root = nullptr;
    platform::Application::shared().simulateTap({160, 25}, window);
    ASSERT_TRUE(clickEnded(banner));
    clock.advance(OrbisAdManager::kLandingPageDelaySeconds + platform::kModalTransitionDuration);
    auto presenter = banner->pushController();
    ASSERT_NE(presenter, nullptr);
    EXPECT_NE(presenter->presentedViewController(), nullptr);
    EXPECT_NEAR(presenter->view()->backgroundColor().alpha, OrbisAdManager::kPresenterAlpha, 1e-9);

    banner->ewvController()->backButtonClicked();
    clock.advance(platform::kModalTransitionDuration + OrbisAdManager::kDismissNoticeDelaySeconds);
    EXPECT_EQ(banner->pushController(), nullptr);
    EXPECT_EQ(*events, (std::vector<std::string>{"received", "display", "dismiss"}));
}

TEST_F(OrbisBannerTest, TargetingReachesTheForm) {
    delegate->implemented.insert(
        {"postalCode", "gender", "income", "age", "keywords", "dateOfBirth", "testMode"});
    delegate->postal = "10115";
    delegate->genderAnswer = 2;
    delegate->incomeAnswer = 0; // asked again every time, never sent
    delegate->ageAnswer = -1;
    delegate->keywordsAnswer = "cloud drive&sync";
    delegate->birth = platform::Date{636638400}; // 1990-03-05 12:00 UTC
    delegate->test = true;
    auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
    ASSERT_NE(banner, nullptr);
    platform::LogCapture log;
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisTestAdPath) == 1; }));
    EXPECT_EQ(services.requestCount(services::kOrbisAdPath), 0u);
    EXPECT_TRUE(log.contains(
        "Orbis: Test-Mode is on, test ads will be served.\n Make sure to set test-mode to false"));
    auto request = services.requestsTo(services::kOrbisTestAdPath).front();
    EXPECT_EQ(request.body.rfind("u-postalCode=10115&u-dateOfBirth=1990%2D3%2D5&u-gender=F&"
                                 "p-keywords=cloud%20drive%26sync&u-age=-1&u-id=",
                                 0),
              0u)
        << request.body;
    EXPECT_EQ(request.header("x-orbis-testmode"), "YES");
    EXPECT_EQ(request.header("X-Orbis-AdActionType"), "web");
    ASSERT_TRUE(waitForEvent("received"));
}

TEST_F(OrbisBannerTest, ReplyHeadersCachedServerAndDeviceUpload) {
    const std::string xml = adXML(2, services.url("/c1"), "<p>ad</p>");
    services.handle("POST", std::string(services::kOrbisAdPath), [&, xml](const services::LoggedRequest&) {
        return services::ServiceReply{200,
                                      xml,
                                      "text/xml",
                                      {{"X-Orbis-Ph", services.url(services::kOrbisDeviceInfoPath)},
                                       {"Orbiscachedserver", services.url("/cached/showad.asm?")},
                                       {"Orbiscachedlife", "600"}}};
    });
    services.handle("POST", "/cached/showad.asm", [xml](const services::LoggedRequest&) {
        return services::ServiceReply{200, xml, "text/xml", {}};
    });
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisDeviceInfoPath) == 1; }));
    auto upload = services.requestsTo(services::kOrbisDeviceInfoPath).front();
    EXPECT_EQ(upload.body.rfind("u-id=", 0), 0u);
    EXPECT_NE(upload.body.find("&requestactivity=DeviceInfoUpload"), std::string::npos);
    EXPECT_EQ(upload.header("x-orbis-siteid"), "orbis-site");
    auto& defaults = platform::UserDefaults::standard();
    EXPECT_EQ(defaults.stringForKey(orbis::kOrbisCachedServerKey), services.url("/cached/showad.asm?"));
    EXPECT_EQ(defaults.integerForKey(orbis::kOrbisCachedLifeKey), 600);

    // The next ad comes from the cached server while its life lasts, then from the live one.
    banner->loadNewAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return banner->isAdRequestDone(); }));
    EXPECT_EQ(services.requestCount("/cached/showad.asm"), 1u);
    clock.advance(600);
    banner->loadNewAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitFor([&] { return banner->isAdRequestDone(); }));
    EXPECT_EQ(services.requestCount("/cached/showad.asm"), 1u);
    EXPECT_EQ(services.requestCount(services::kOrbisAdPath), 2u);
}

TEST_F(OrbisBannerTest, AClickAnsweredWithANewServerRequestsAFreshAd) {
    serveAd(2, services.url("/c1"));
    services.handle("POST", "/c1", [&](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, "", "text/plain", {{"Orbiscachedserver", services.url("/cached/showad.asm?")}}};
    });
    const std::string xml = adXML(1, services.url("/c9"), "<p>fresh</p>", "Fresh");
    services.handle("POST", "/cached/showad.asm", [xml](const services::LoggedRequest&) {
        return services::ServiceReply{200, xml, "text/xml", {}};
    });
    auto banner = showAd();
    ASSERT_NE(banner, nullptr);
    platform::Application::shared().simulateTap({160, 25}, window);
    ASSERT_TRUE(waitFor([&] { return banner->currentAd() && banner->currentAd()->titleText == "Fresh"; }));
    EXPECT_FALSE(banner->touchedDownOnAd()) << "the abandoned click gives the banner back";
    EXPECT_EQ(banner->clickRequest(), nullptr);
    EXPECT_EQ(countOf(*events, "display") + countOf(*events, "willTerminate"), 0u);

    // The fresh ad is a request like any other: it is shown and its delegate hears of it.
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "received") == 2; }));
    EXPECT_TRUE(banner->isAdRequestDone());
    const auto& shown = banner->shouldLoadWebView1() ? banner->webView2() : banner->webView1();
    EXPECT_EQ(shown->superviewPointer(), banner.get());
    EXPECT_EQ(shown->stringByEvaluatingJavaScriptFromString("document.body.innerHTML"), "<p>fresh</p>");
    // A tap now clicks the ad on screen, the fresh one.
    services.handle("POST", "/c9", [](const services::LoggedRequest&) { return ok(); });
    platform::Application::shared().simulateTap({160, 25}, window);
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/c9") == 1; }));
    EXPECT_EQ(services.requestCount("/c1"), 1u);
}

TEST_F(OrbisBannerTest, AnAdSizeOutsideTheScreenIsRefused) {
    const auto screen = platform::Screen::main().bounds().size;
    const int w = static_cast<int>(screen.width), h = static_cast<int>(screen.height);
    struct Case {
        int width, height;
        bool shown;
    };
    const Case cases[] = {{320, 50, true},    {w, h, true},        {-320, 50, false},      {320, -1, false},
                          {w + 1, 50, false}, {320, h + 1, false}, {2000000000, 50, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        events->clear();
        auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
        ASSERT_NE(banner, nullptr);
        platform::RunLoop::main().cancelPerforms(banner.get()); // this test hands the reply in itself
        std::string xml = "<Ad type=\"banner\" actionType=\"2\" width=\"" + std::to_string(c.width) +
                          "\" height=\"" + std::to_string(c.height) + "\"><AdURL>" + services.url("/c1") +
                          "</AdURL><![CDATA[<p>ad</p>]]></Ad>";
        banner->adRequestDataFinishedLoading(platform::Data(xml.begin(), xml.end()));
        ASSERT_TRUE(waitFor([&] { return !events->empty(); }));
        EXPECT_EQ(*events, std::vector<std::string>{c.shown ? "received" : "failed"});
        EXPECT_TRUE(banner->isAdRequestDone());
        if (c.shown) {
            EXPECT_EQ(banner->frame().size.width, c.width);
            EXPECT_EQ(banner->frame().size.height, c.height);
        } else {
            EXPECT_EQ(banner->frame().size.width, 0) << "the banner keeps its frame";
            EXPECT_FALSE(banner->hasLoadWatchdog());
        }
        banner->setDelegate(nullptr);
    }
}

TEST_F(OrbisBannerTest, LocationFromTheDelegate) {
    delegate->implemented.insert({"isLocationInquiryAllowed", "currentLocation"});
    delegate->locationAllowed = true;
    const std::pair<double, std::optional<std::string>> cases[] = {
        {65.7, "52.520000,13.405000,65"}, {-1.0, std::nullopt}, // an invalid fix is ignored
    };
    for (const auto& [accuracy, expected] : cases) {
        SCOPED_TRACE(accuracy);
        delegate->location = platform::Location({52.52, 13.405}, 34.0, accuracy, 10.0, platform::Date{0});
        auto before = services.requestCount(services::kOrbisAdPath);
        auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
        ASSERT_NE(banner, nullptr);
        clock.advance(OrbisAdManager::kRequestDelaySeconds);
        ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisAdPath) == before + 1; }));
        std::optional<std::string> sent;
        for (const auto& [key, value] : services.requestsTo(services::kOrbisAdPath).back().formItems())
            if (key == "u-lat_lon_accu")
                sent = value;
        EXPECT_EQ(sent, expected);
        EXPECT_EQ(banner->userInfo()->locationManager, nullptr) << "the platform's service is not used";
        // The refresh timer comes with the next request, once the inquiry is known to be allowed.
        ASSERT_TRUE(waitFor([&] { return banner->isAdRequestDone(); }));
        banner->loadNewAd();
        clock.advance(OrbisAdManager::kRequestDelaySeconds);
        // That request reaches the service before the next case counts its own.
        ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kOrbisAdPath) == before + 2; }));
        EXPECT_TRUE(banner->hasLocationRefreshTimer());
        banner->setDelegate(nullptr);
        EXPECT_FALSE(banner->hasLocationRefreshTimer());
    }
}

TEST_F(OrbisBannerTest, ContainerForwardsToItsManager) {
    platform::LogCapture log;
    auto container = std::make_shared<OrbisAdView>(platform::Rect(0, 0, 320, 50));
    container->awakeFromNib();
    auto manager = OrbisAdView::adViewManager();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->superviewPointer(), container.get());
    container->loadNewAd();
    EXPECT_TRUE(
        log.contains("Could not load new Orbis ad,check adunit slot and or delegate values provided.."));
    container->setDelegate(delegate);
    container->setAdUnit(9);
    container->loadNewAd();
    clock.advance(OrbisAdManager::kRequestDelaySeconds);
    ASSERT_TRUE(waitForEvent("received"));
    container.reset();
    EXPECT_EQ(OrbisAdView::adViewManager(), nullptr);
}

TEST_F(OrbisBannerTest, LoadWatchdogEndsMarkupThatHasNotLoaded) {
    const std::string xml = adXML(2, services.url("/c1"), "<p>ad</p>");
    const platform::Data reply(xml.begin(), xml.end());
    for (bool fires : {true, false}) {
        SCOPED_TRACE(fires ? "the watchdog fires first" : "the markup loads first");
        events->clear();
        auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
        ASSERT_NE(banner, nullptr);
        platform::RunLoop::main().cancelPerforms(banner.get()); // this test hands the reply in itself
        banner->adRequestDataFinishedLoading(reply);
        EXPECT_TRUE(banner->hasLoadWatchdog());
        EXPECT_TRUE(banner->webView1()->isLoading());
        if (fires)
            banner->checkAdUnitLoadComplete(); // what the timer runs

        clock.advance(OrbisAdManager::kLoadWatchdogSeconds);
        EXPECT_FALSE(banner->hasLoadWatchdog());
        EXPECT_TRUE(banner->isAdRequestDone());
        EXPECT_EQ(*events, std::vector<std::string>{fires ? "failed" : "received"});
        banner->setDelegate(nullptr);
    }
}
