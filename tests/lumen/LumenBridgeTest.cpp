// The web message bridge as a table of navigations: which are refused, which become native
// actions, which are posted to the client one run-loop pass later, and what bad arguments do.
#include <gtest/gtest.h>

#include "LumenTestSupport.h"
#include "lumen/Bridge.h"
#include "lumen/Screens.h"
#include "platform/foundation/Log.h"
#include "platform/media/SystemSound.h"
#include "platform/ui/MailComposeViewController.h"

using lumen::LMNNotification;
using lumentest::LumenFixture;

TEST(LumenNotification, MessageURLForms) {
    struct Row {
        const char* url;
        std::optional<std::string> name;
        std::map<std::string, std::string> parameters;
    };
    const Row rows[] = {
        {"lmsg://any/loadAdURL?URL=http%3A%2F%2Fa%2Fb%3Fx%3D1&type=lumen",
         "loadAdURL",
         {{"url", "http://a/b?x=1"}, {"type", "lumen"}}},
        {"lmsg://host/click?u=1=2&ai=x", "click", {{"ai", "x"}}},
        {"lmsg://host/", std::nullopt, {}},
        {"lmsg://host", std::nullopt, {}},
        {"lumen://launch?url=http%3A%2F%2Fland%2F", "open", {{"a", "browser"}, {"u", "http://land/"}}},
        {"lumen://closecanvas", "close", {}},
        {"lumen://log?string=hi%20there", "log", {{"string", "hi there"}}},
        {"lumen://other?x=1", std::nullopt, {}},
        {"http://host/click?u=1", std::nullopt, {}},
    };
    for (const auto& row : rows) {
        auto url = platform::URL::parse(row.url);
        ASSERT_TRUE(url) << row.url;
        auto n = LMNNotification::notificationFromURL(*url);
        EXPECT_EQ(n.has_value(), row.name.has_value()) << row.url;
        if (n && row.name) {
            EXPECT_EQ(n->name, *row.name) << row.url;
            EXPECT_EQ(n->parameters, row.parameters) << row.url;
        }
    }
}

class LumenBridgeTest : public LumenFixture {
protected:
    LumenBridgeTest() {
        webView = std::make_shared<platform::WebView>(platform::Rect(0, 0, 320, 50));
        bridge = std::make_shared<lumen::LMNWebViewDelegate>();
        bridge->setViewController(rootController);
        bridge->opener()->delegateManager_ = manager;
        manager->addDelegate(delegate, {});
        webView->setDelegate(bridge);
        webActions = platform::NotificationCenter::defaultCenter().addObserver(
            lumen::LMNWebViewDelegateDidReceiveWebAction,
            [this](const platform::Notification& n) { actions.push_back(n.userInfo); });
        for (const char* name : {"loadAdURL", "settings", "mystery"})
            bridgeTokens.push_back(lumen::LMNNotificationCenter::defaultCenter().addObserver(
                name, [this](const platform::Notification& n) {
                    posted.push_back({n.name, n.userInfo});
                }));
    }
    ~LumenBridgeTest() override {
        platform::NotificationCenter::defaultCenter().removeObserver(webActions);
        for (auto t : bridgeTokens)
            lumen::LMNNotificationCenter::defaultCenter().removeObserver(t);
    }
    bool navigate(const std::string& url,
                  platform::WebViewNavigationType type = platform::WebViewNavigationType::LinkClicked) {
        auto parsed = platform::URL::parse(url);
        EXPECT_TRUE(parsed) << url;
        return bridge->webViewShouldStartLoadWithRequestNavigationType(*webView,
                                                                       platform::URLRequest(*parsed), type);
    }

    std::shared_ptr<platform::WebView> webView;
    std::shared_ptr<lumen::LMNWebViewDelegate> bridge;
    std::shared_ptr<lumen::LMNDelegateManager> manager = std::make_shared<lumen::LMNDelegateManager>();
    platform::NotificationCenter::ObserverToken webActions;
    std::vector<platform::NotificationCenter::ObserverToken> bridgeTokens;
    std::vector<platform::Dictionary> actions;
    std::vector<std::pair<std::string, platform::Dictionary>> posted;
};

TEST_F(LumenBridgeTest, NavigationsAllowedRefusedAndPosted) {
    struct Row {
        std::string url;
        bool allowed;
        bool reported; // LMNWebViewDelegateDidReceiveWebAction
        std::optional<std::string> postedName;
    };
    const Row rows[] = {
        {"http://example.test/page", true, true, std::nullopt},
        {"https://example.test/page", true, true, std::nullopt},
        {"about:blank", true, false, std::nullopt},
        {"file:///etc/passwd", false, false, std::nullopt},
        {"lmsg://sdk/loadAdURL?url=http%3A%2F%2Fad%2F&type=lumen", false, true, "loadAdURL"},
        {"lmsg://page/settings?supportedorientations=landscape", false, true, "settings"},
        {"lmsg://page/mystery?x=1", false, true, "mystery"},
        {"lmsg://page/", false, false, std::nullopt},
        {"lumen://unknownhost?x=1", false, false, std::nullopt},
        {"lmsg://page/log?string=%3Cb%3Ehello", false, true, std::nullopt},
    };
    platform::LogCapture log;
    for (const auto& row : rows) {
        actions.clear();
        posted.clear();
        EXPECT_EQ(navigate(row.url), row.allowed) << row.url;
        EXPECT_EQ(actions.size(), row.reported ? 1u : 0u) << row.url;
        EXPECT_TRUE(posted.empty()) << "posting waits for the next pass: " << row.url;
        clock.drain();
        if (row.postedName) {
            ASSERT_EQ(posted.size(), 1u) << row.url;
            EXPECT_EQ(posted[0].first, *row.postedName);
        } else {
            EXPECT_TRUE(posted.empty()) << row.url;
        }
    }
    EXPECT_TRUE(log.contains("<b>hello")) << "log messages are written as given";
    EXPECT_TRUE(events->empty()) << "none of these reach the delegates";
}

TEST_F(LumenBridgeTest, VibrateMessagesVibrateTheDevice) {
    platform::resetSystemSoundsForTesting();
    EXPECT_FALSE(navigate("lmsg://ad/vibrate"));
    clock.drain();
    EXPECT_EQ(platform::playedSystemSounds(),
              std::vector<platform::SystemSoundID>{platform::kSystemSoundIDVibrate});
    EXPECT_EQ(platform::vibrationCount(), 1u);
}

TEST_F(LumenBridgeTest, MessageParametersReachTheObserverLowerCased) {
    navigate("lmsg://x/loadAdURL?URL=http%3A%2F%2Fad.test%2Fa%3Fb%3D1&Type=xfp&bad=a=b");
    clock.drain();
    ASSERT_EQ(posted.size(), 1u);
    const platform::Dictionary expected = {{"url", "http://ad.test/a?b=1"}, {"type", "xfp"}};
    EXPECT_EQ(posted[0].second, expected);
}

TEST_F(LumenBridgeTest, ClickAndTrackMessagesPingTheirURL) {
    navigate("lmsg://ad/click?u=" +
             platform::percentEncodeQueryValue(services.url("/lumen/track?t=c1&ai=zz")));
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/lumen/track") == 1; }));
    EXPECT_EQ(services.requestsTo("/lumen/track")[0].queryValue("t"), "c1");
    navigate("lmsg://ad/httpTrack?u=not%20a%20url");
    navigate("lmsg://ad/click");
    clock.drain();
    EXPECT_EQ(services.requestCount("/lumen/track"), 1u) << "bad or missing URLs ping nothing";
}

TEST_F(LumenBridgeTest, OtherSchemesLeaveTheApplicationAfterTellingTheDelegates) {
    EXPECT_FALSE(navigate("tel:5550100"));
    EXPECT_EQ(lumentest::countOf(*events, "willLeave"), 1u);
    EXPECT_TRUE(platform::Application::shared().openedURLs().empty()) << "opened on the next pass";
    clock.drain();
    ASSERT_EQ(platform::Application::shared().openedURLs().size(), 1u);
    EXPECT_EQ(platform::Application::shared().openedURLs()[0], "tel:5550100");

    // "open" with a bad or missing URL does nothing.
    navigate("lmsg://ad/open?a=app");
    navigate("lmsg://ad/open?a=webapp");
    clock.drain();
    EXPECT_EQ(platform::Application::shared().openedURLs().size(), 1u);
    EXPECT_EQ(lumentest::countOf(*events, "willLeave"), 1u);
}

TEST_F(LumenBridgeTest, MailtoOpensTheComposerWithItsFields) {
    EXPECT_FALSE(navigate("mailto:ads%40example.test?subject=Hello%20there&cc=a@x.test,b@x.test"
                          "&bcc=c@x.test&body=Hi%2C%20%3Cb%3Eyou%3C%2Fb%3E"));
    clock.advance(1);
    auto composer = std::dynamic_pointer_cast<platform::MailComposeViewController>(
        rootController->presentedViewController());
    ASSERT_NE(composer, nullptr);
    EXPECT_EQ(composer->toRecipients(), std::vector<std::string>{"ads@example.test"});
    EXPECT_EQ(composer->ccRecipients(), (std::vector<std::string>{"a@x.test", "b@x.test"}));
    EXPECT_EQ(composer->bccRecipients(), std::vector<std::string>{"c@x.test"});
    EXPECT_EQ(composer->subject(), "Hello there");
    EXPECT_EQ(composer->messageBody(), "Hi, <b>you</b>");
    EXPECT_FALSE(composer->isHTML()) << "the body is plain text";
    EXPECT_EQ(composer->modalTransitionStyle(), platform::ModalTransitionStyle::CoverVertical);

    // Only a recipient: no other field is filled.
    rootController->dismissModalViewControllerAnimated(false);
    clock.advance(1);
    EXPECT_FALSE(navigate("mailto:solo@x.test"));
    clock.advance(1);
    auto bare = std::dynamic_pointer_cast<platform::MailComposeViewController>(
        rootController->presentedViewController());
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->toRecipients(), std::vector<std::string>{"solo@x.test"});
    EXPECT_TRUE(bare->ccRecipients().empty());
    EXPECT_TRUE(bare->subject().empty());
    EXPECT_TRUE(bare->messageBody().empty());
}

TEST_F(LumenBridgeTest, ThePageHearsTheOrientationAsAnAngle) {
    webView->loadHTMLString("<html><body><script>var heard = [];"
                            "window.onorientationchange = function() { heard.push(window.orientation); };"
                            "</script></body></html>",
                            std::nullopt);
    ASSERT_TRUE(waitFor([&] { return !webView->isLoading(); }));
    clock.drain();
    // Every finished load tells the page the status bar's orientation: portrait here.
    EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("heard.join(',')"), "0");
    using O = platform::InterfaceOrientation;
    const std::pair<O, const char*> rows[] = {{O::Portrait, "0"},
                                              {O::PortraitUpsideDown, "180"},
                                              {O::LandscapeRight, "90"},
                                              {O::LandscapeLeft, "-90"}};
    for (const auto& [orientation, angle] : rows) {
        webView->stringByEvaluatingJavaScriptFromString("heard = []");
        lumen::LMNWebViewDelegate::notifyWebViewOfOrientationChange(*webView, orientation);
        EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("heard.join(',')"), angle);
        EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("String(window.orientation)"), angle);
    }
    webView->stringByEvaluatingJavaScriptFromString("heard = []");
    lumen::LMNWebViewDelegate::notifyWebViewOfOrientationChange(*webView, static_cast<O>(0));
    EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("heard.length"), "0")
        << "no angle: nothing sent";
}

TEST_F(LumenBridgeTest, OpenBrowserPresentsAndCloseDismissesWithTheDelegatesTold) {
    navigate("lumen://launch?url=" + platform::percentEncodeQueryValue(services.url("/lumen/landing.html")));
    EXPECT_EQ(*events, std::vector<std::string>{"willPresent"});
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(waitFor([&] {
        return browser->webView() && !browser->webView()->isLoading() &&
               browser->webView()->elementById("landing") != nullptr;
    }));
    EXPECT_TRUE(lumen::LMNStatistics::sharedStatistics().isTimingClick()) << "the open counted a click";
    // The page's close message.
    auto pageDelegate = std::dynamic_pointer_cast<lumen::LMNWebViewDelegate>(browser->webView()->delegate());
    ASSERT_NE(pageDelegate, nullptr);
    pageDelegate->webViewShouldStartLoadWithRequestNavigationType(
        *browser->webView(), platform::URLRequest(*platform::URL::parse("lumen://closecanvas")),
        platform::WebViewNavigationType::LinkClicked);
    clock.advance(1);
    EXPECT_EQ(*events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
    EXPECT_EQ(rootController->presentedViewController(), nullptr);
}
