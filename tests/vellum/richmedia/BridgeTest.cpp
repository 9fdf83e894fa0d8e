// The script bridge: page navigations to "mrbridge:" URLs run only the commands of the
// bridge's table, with their arguments, and answer into the page with escaped values.
#include <gtest/gtest.h>

#include <fstream>

#include "AdDisplayFixture.h"
#include "platform/ui/Application.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace richmediatest {
namespace {

using vellum::VellumJSBridge;

class BridgeTest : public AdDisplayFixture {
protected:
    void SetUp() override {
        storeBanner("ad-1");
        view = slotView();
        ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
        c = view->adVC();
        ASSERT_TRUE(pageLoaded(*c));
        c->webView()->stringByEvaluatingJavaScriptFromString("window.got = [];");
    }
    // Offers `url` to the router as the ad page's navigation; answers whether it may load.
    bool navigate(const std::string& url,
                  platform::WebViewNavigationType type = platform::WebViewNavigationType::Other) {
        auto request = platform::URLRequest::withURLString(url);
        EXPECT_TRUE(request) << url;
        return c->webViewShouldStartLoadWithRequestNavigationType(*c->webView(), *request, type);
    }
    std::shared_ptr<vellum::VellumAdView> view;
    std::shared_ptr<vellum::VellumAdViewController> c;
};

// Each row: the page's navigation, what the page then holds, and the ad event's values.
TEST_F(BridgeTest, CommandsRunFromTheTableWithTheirArguments) {
    struct Case {
        const char* url;
        const char* pageGot;       // window.got afterwards
        const char* stringKey;     // an event string expected (or null)
        const char* stringValue;
        const char* numberKey;     // an event number expected (or null)
        double numberValue;
    };
    const Case cases[] = {
        {"mrbridge:getSDKVersion", "sdk:2.4.6", nullptr, nullptr, nullptr, 0},
        {"MRBRIDGE:GETSDKVERSION", "sdk:2.4.6", nullptr, nullptr, nullptr, 0},
        {"mrbridge:getAdID", "adID:ad-1", nullptr, nullptr, nullptr, 0},
        {"mrbridge:initOrientation", "orientation:0", nullptr, nullptr, nullptr, 0},
        {"mrbridge:getloc", "loc:0.000000,0.000000,0", nullptr, nullptr, nullptr, 0},
        {"mrbridge:setTrackingEventString?key=color&val=deep%20blue", "", "color", "deep blue", nullptr, 0},
        {"mrbridge:setTrackingEventNumber?key=level&val=2.5", "", nullptr, nullptr, "level", 2.5},
        {"mrbridge:incrementKey?key=taps", "", nullptr, nullptr, "taps", 1},
        {"mrbridge:batchedEvents?incrementKey%3Fkey%3Da=&setTrackingEventString%3Fkey%3Db%26val%3Dx=", "", "b",
         "x", "a", 1},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.url);
        c->webView()->stringByEvaluatingJavaScriptFromString("window.got = [];");
        EXPECT_FALSE(navigate(tc.url));
        EXPECT_EQ(got(*c->webView()), tc.pageGot);
        auto event = c->event();
        if (tc.stringKey) {
            EXPECT_EQ(string(*event, tc.stringKey), tc.stringValue);
        }
        if (tc.numberKey) {
            EXPECT_EQ(number(*event, tc.numberKey), tc.numberValue);
        }
    }
}

// Commands outside the table, and table commands with missing or bad arguments, change
// nothing; the page's navigation is still never loaded.
TEST_F(BridgeTest, RefusedCommandsAndBadArgumentsChangeNothing) {
    const char* cases[] = {
        "mrbridge:evaluate?script=alert(1)",
        "mrbridge:processMRBridgeMethod",
        "mrbridge:",
        "mrbridge:setTrackingEventString?key=only",
        "mrbridge:setTrackingEventString?val=only",
        "mrbridge:setTrackingEventString?key=k&val=%FF%FE",
        "mrbridge:incrementKey",
        "mrbridge:batchedEvents?batchedEvents%3FincrementKey%253Fkey%253Dz=",
        "mrbridge:trackevent?x=1",
    };
    const auto strings = c->event()->strings();
    const auto numbers = c->event()->numbers();
    for (const char* url : cases) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(navigate(url));
        EXPECT_EQ(got(*c->webView()), "");
        EXPECT_EQ(c->event()->strings(), strings);
        EXPECT_EQ(c->event()->numbers(), numbers);
        EXPECT_TRUE(c->loaded());
    }
}

TEST_F(BridgeTest, ValuesPlacedIntoRepliesCannotBreakOutOfTheScriptString) {
    const std::string hostile = "x');window.got.push('pwned');('\\\n</script>";
    c->setTHEStrRequest(hostile);
    EXPECT_FALSE(navigate("mrbridge:getAdRequest"));
    EXPECT_EQ(got(*c->webView()), "request:" + hostile);
}

TEST_F(BridgeTest, DismissAdGoesToTheDelegateController) {
    AdViewedRecorder recorder;
    EXPECT_FALSE(navigate("mrbridge:dismissAd"));
    clock.advance(1.0);
    EXPECT_FALSE(c->loaded());
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(number(*recorder.events.front(), vellum::MRAdExitKey), vellum::MRAdExitCode::kDismissed);
}

// Two ads on screen: the commands of the first-loaded ad's page act on that ad only, though
// the second ad was loaded last; then the same from the other page.
TEST_F(BridgeTest, CommandsActOnTheAdWhosePageSentThem) {
    storeBanner("ad-2");
    auto otherView = slotView();
    ASSERT_TRUE(otherView->loadAdWithID("ad-2", std::nullopt));
    auto other = otherView->adVC();
    ASSERT_TRUE(pageLoaded(*other));
    ASSERT_NE(other, c);

    const char* commands[] = {"mrbridge:dismissAd", "mrbridge:launchYoutube?url=http%3A%2F%2Fexample.com%2Fv"};
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        auto first = c;
        EXPECT_FALSE(navigate(command));
        clock.advance(1.0);
        EXPECT_FALSE(first->loaded()) << "the page's own ad ends";
        EXPECT_TRUE(other->loaded()) << "the other ad stays";
        // The next round starts with ad-1 shown again.
        ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
        c = view->adVC();
        ASSERT_TRUE(pageLoaded(*c));
    }

    auto request = platform::URLRequest::withURLString("mrbridge:dismissAd");
    EXPECT_FALSE(other->webViewShouldStartLoadWithRequestNavigationType(*other->webView(), *request,
                                                                        platform::WebViewNavigationType::Other));
    clock.advance(1.0);
    EXPECT_FALSE(other->loaded());
    EXPECT_TRUE(c->loaded());
}

// An ad page's link to another application that the platform opens: counted, recorded as the
// last outside request, and the ad ends; one the platform refuses loads in the page.
TEST_F(BridgeTest, OtherApplicationsSchemeOpensOutsideAndEndsTheAd) {
    auto& app = platform::Application::shared();
    app.setInstalledSchemes({"http", "https", "myapp"});
    EXPECT_TRUE(navigate("unknownapp:open", platform::WebViewNavigationType::LinkClicked));
    EXPECT_TRUE(c->loaded());
    const auto opened = app.openedURLs().size();
    EXPECT_FALSE(navigate("myapp:open?x=1", platform::WebViewNavigationType::LinkClicked));
    ASSERT_EQ(app.openedURLs().size(), opened + 1);
    EXPECT_EQ(app.openedURLs().back(), "myapp:open?x=1");
    EXPECT_EQ(number(*c->event(), vellum::MRAdClickThru_ExternalApp), 1);
    EXPECT_EQ(c->strRequest(), "myapp:open?x=1");
    clock.advance(1.0);
    EXPECT_FALSE(c->loaded());
}

// The core page script: the built-in text, unless the user defaults hold another.
TEST_F(BridgeTest, CoreScriptComesFromTheUserDefaultsWhenSet) {
    const std::string builtIn = VellumJSBridge::builtInCoreJS();
    EXPECT_NE(builtIn.find("Device"), std::string::npos);
    EXPECT_EQ(VellumJSBridge::coreJS(), builtIn);
    VellumJSBridge::setCoreJS("var Device = {custom: true};");
    EXPECT_EQ(defaults().stringForKey(VellumJSBridge::kCoreJSDefaultsKey), "var Device = {custom: true};");
    EXPECT_EQ(VellumJSBridge::coreJS(), "var Device = {custom: true};");
    // A page given the stored script runs it.
    std::ofstream(cacheFolder() / "ad-1" / "core.html")
        << "<html><head><script>" << VellumJSBridge::coreJS() << "</script></head><body></body></html>";
    c->webView()->loadRequest(platform::URLRequest(platform::URL::fileURL(cacheFolder() / "ad-1" / "core.html")));
    ASSERT_TRUE(clock.runUntil([&] {
        return c->webView()->stringByEvaluatingJavaScriptFromString("String(Device.custom)") == "true";
    }));
    defaults().removeObjectForKey(VellumJSBridge::kCoreJSDefaultsKey);
    EXPECT_EQ(VellumJSBridge::coreJS(), builtIn);
}

TEST_F(BridgeTest, ClickThroughWithAndWithoutURL) {
    struct Case {
        const char* url;
        const char* expected;
    };
    storeBanner("ad-ct", {{"clickThroughURLString", "http://example.com/own"}});
    ASSERT_TRUE(view->loadAdWithID("ad-ct", std::nullopt));
    c = view->adVC();
    ASSERT_TRUE(pageLoaded(*c));
    const Case cases[] = {{"mrbridge:clickthrough?url=http%3A%2F%2Fexample.com%2Fgiven", "http://example.com/given"},
                          {"mrbridge:clickthrough", "http://example.com/own"}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.url);
        EXPECT_FALSE(navigate(tc.url));
        EXPECT_EQ(string(*c->event(), vellum::MRAdUrlStringKey), tc.expected);
        EXPECT_EQ(number(*c->event(), vellum::MRAdExitKey), vellum::MRAdExitCode::kClickThrough);
    }
}

TEST_F(BridgeTest, PageScriptReachesTheBridgeThroughItsOwnNavigation) {
    c->webView()->stringByEvaluatingJavaScriptFromString("location.href = 'mrbridge:getSDKVersion';");
    ASSERT_TRUE(clock.runUntil([&] { return got(*c->webView()) == "sdk:2.4.6"; }));
    EXPECT_EQ(c->webView()->title(), "ad"); // the page stayed
}

TEST_F(BridgeTest, ArgumentsAreSplitTrimmedAndUnescaped) {
    auto args = VellumJSBridge::argumentsFromBridgeString("getaccel?start=false& freq =0.5&empty&k=a%20b&k=c");
    ASSERT_TRUE(args);
    EXPECT_EQ(*args, (platform::Dictionary{{"start", "false"}, {"freq", "0.5"}, {"empty", ""}, {"k", "c"}}));
    EXPECT_FALSE(VellumJSBridge::argumentsFromBridgeString("getaccel"));
    EXPECT_EQ(VellumJSBridge::methodFromBridgeURL("mrbridge:log?message=a"), "log");
}

// Navigations that no earlier rule takes ask the application through the slot's delegate.
TEST_F(BridgeTest, OtherNavigationsAskTheSlotDelegate) {
    struct Interrogator : vellum::VellumAdViewDelegate {
        std::vector<std::string> urls;
        std::optional<bool> adViewCustomInteractionInterrogator(vellum::VellumAdView&, const platform::URLRequest& r,
                                                                const std::string&, const std::string&, unsigned,
                                                                const std::string&) override {
            urls.push_back(r.url().absoluteString());
            return r.url().absoluteString() != "myapp:blocked";
        }
    };
    auto interrogator = std::make_shared<Interrogator>();
    EXPECT_TRUE(navigate("myapp:any"));
    view->setDelegate(interrogator);
    EXPECT_TRUE(navigate("myapp:allowed"));
    EXPECT_FALSE(navigate("myapp:blocked"));
    EXPECT_EQ(interrogator->urls, (std::vector<std::string>{"myapp:allowed", "myapp:blocked"}));
    EXPECT_EQ(number(*c->event(), "MRAdClickThru_CustomApp"), 1);
    EXPECT_EQ(c->strRequest(), "myapp:blocked");
}

} // namespace
} // namespace richmediatest

namespace richmediatest {
namespace {

// The router's rules in order: each row a navigation of the loaded ad page, whether the page
// may load it, the event counter it raises and where it goes.
TEST_F(BridgeTest, RouterRulesInOrder) {
    struct Case {
        const char* url;
        platform::WebViewNavigationType type;
        bool loads;
        const char* counter;   // raised by one, or null
        bool opensOutside;     // handed to the platform
        bool opensBrowser;     // shown in the mini browser
    };
    using T = platform::WebViewNavigationType;
    const Case cases[] = {
        {"http://music.example.com/album", T::Other, false, vellum::MRAdClickThru_MusicStore, true, false},
        {"https://apps.example.com/app/1", T::LinkClicked, false, vellum::MRAdClickThru_AppStore, true, false},
        {"http://youtube.example.com/watch", T::LinkClicked, false, vellum::MRAdClickThru_YouTube, true, false},
        {"http://maps.example.com/?q=x", T::LinkClicked, false, vellum::MRAdClickThru_Maps, true, false},
        {"mailto:someone@example.com", T::LinkClicked, false, vellum::MRAdClickThru_Email, true, false},
        {"sms:5550100", T::LinkClicked, false, vellum::MRAdClickThru_SMS, true, false},
        {"tel:5550100", T::LinkClicked, false, vellum::MRAdClickThru_Phone, true, false},
        {"xtelx:5550100", T::LinkClicked, false, vellum::MRAdClickThru_Phone, true, false},
        {"video://clip.mp4", T::LinkClicked, false, "MRPlayVideo_//clip.mp4", false, false},
        {"http://example.com/tapped", T::LinkClicked, false, vellum::MRAdClickThru_Browser, false, true},
        {"http://example.com/scripted", T::Other, false, vellum::MRAdClickThru_Browser, false, true},
        {"about:blank", T::Other, true, nullptr, false, false},
        {"myapp:open", T::LinkClicked, true, nullptr, false, false},
    };
    auto& app = platform::Application::shared();
    auto browser = vellum::MREmbeddedBrowserController::sharedInstance();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.url);
        const auto before = tc.counter ? number(*c->event(), tc.counter).value_or(0) : 0;
        const auto opened = app.openedURLs().size();
        const std::string shownBefore = browser->currentURLString();
        EXPECT_EQ(navigate(tc.url, tc.type), tc.loads);
        if (tc.counter) {
            EXPECT_EQ(number(*c->event(), tc.counter).value_or(0), before + 1);
        }
        EXPECT_EQ(app.openedURLs().size(), opened + (tc.opensOutside ? 1 : 0));
        if (tc.opensBrowser) {
            EXPECT_EQ(browser->currentURLString(), tc.url);
            EXPECT_EQ(c->strRequest(), tc.url);
            browser->dismissBrowserAnimated(false);
        } else {
            EXPECT_EQ(browser->currentURLString(), shownBefore);
        }
        EXPECT_FALSE(app.isIgnoringInteractionEvents());
    }
}

// A web view that has loaded nothing yet is not diverted by a script-driven load.
TEST_F(BridgeTest, FirstScriptedLoadOfAnEmptyWebViewStaysInPlace) {
    platform::WebView fresh(platform::Rect(0, 0, 320, 50));
    auto request = platform::URLRequest::withURLString("http://example.com/first");
    EXPECT_TRUE(vellum::VellumJSBridge::sharedInstance()->webViewShouldStartLoad(
        fresh, *request, platform::WebViewNavigationType::Other, view.get(), "", c.get()));
}

TEST_F(BridgeTest, LaunchAdLoadsTheChildOrShowsTheFallbackMarkup) {
    storeBanner("child");
    EXPECT_FALSE(navigate("vellum://launchAd?adID=child"));
    ASSERT_EQ(view->adVC()->ad()->adID, "child");
    EXPECT_EQ(string(*view->adVC()->event(), vellum::MRAdParentAdID), "ad-1");

    c = view->adVC();
    ASSERT_TRUE(pageLoaded(*c));
    EXPECT_FALSE(navigate("vellum://launchAd?adID=missing&alternate=%3Cp%20id%3D'f'%3Efallback%3C%2Fp%3E"));
    ASSERT_TRUE(clock.runUntil([&] { return c->webView()->elementById("f") != nullptr; }));
    // Other "vellum" commands go on to the later rules.
    EXPECT_TRUE(navigate("vellum://somethingElse", platform::WebViewNavigationType::LinkClicked));
}

// A tapped link to a local page of the ad is shown with the slot's macros filled in, written
// beside it; a page outside the ad's folder is never rewritten.
TEST_F(BridgeTest, LocalPagesGetTheMacrosFilledIn) {
    const auto folder = cacheFolder() / "ad-1";
    std::ofstream(folder / "more.html") << "<html><body><p id='slot'>$$_SLOTNAME_$$</p></body></html>";
    const auto url = platform::URL::fileURL(folder / "more.html").absoluteString();
    EXPECT_FALSE(navigate(url, platform::WebViewNavigationType::LinkClicked));
    ASSERT_TRUE(std::filesystem::exists(folder / "more.temp.html"));
    ASSERT_TRUE(clock.runUntil([&] {
        auto p = c->webView()->elementById("slot");
        return p && c->webView()->stringByEvaluatingJavaScriptFromString(
                        "document.getElementById('slot').innerHTML") == "banner-top";
    }));
    std::filesystem::create_directories(cacheFolder() / "other");
    std::ofstream(cacheFolder() / "other" / "x.html") << "<html></html>";
    EXPECT_TRUE(navigate(platform::URL::fileURL(cacheFolder() / "other" / "x.html").absoluteString(),
                         platform::WebViewNavigationType::LinkClicked));
    EXPECT_FALSE(std::filesystem::exists(cacheFolder() / "other" / "x.temp.html"));
}

} // namespace
} // namespace richmediatest
