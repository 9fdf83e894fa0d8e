// Tangent click actions: the URL and type-word tables, what each kind of target does (outside
// applications, telephone, the platform's own handlers, the video page), redirect chains
// against the loopback server, and the in-app browser from a click to its closing.
#include <gtest/gtest.h>

#include <set>

#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/Window.h"
#include "services/TangentEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TGActionController.h"
#include "tangent/TGAdEventCollection.h"
#include "tangent/TGAdView.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGEventManager.h"

using namespace tangent;

namespace {

platform::URL url(std::string_view text) {
    return *platform::URL::parse(text);
}

struct RecordingListener : TGStateListener {
    std::vector<int> states;
    void tgAdViewDidUpdateSyncState(TGAdView&, int) override {}
    void tgAdViewDidTransitionFromViewState(TGAdView&, int, int to, const std::optional<platform::Error>&) override {
        states.push_back(to);
    }
};

struct ActionFixture {
    ActionFixture() {
        platform::Application::resetForTesting();
        services::installTangentEndpoints(services.host());
        window->makeKeyAndVisible();
    }
    ~ActionFixture() {
        adView.reset();
        TGEventManager::resetForTesting();
        platform::URLConnection::cancelAllForTesting();
        platform::Application::resetForTesting();
    }
    TGActionController& controller() { return *adView->actionController(); }
    void click(std::string_view target, std::optional<std::string> type = std::nullopt,
               std::optional<std::string> alternate = std::nullopt) {
        std::optional<platform::URL> alt;
        if (alternate)
            alt = url(*alternate);
        controller().handleURL(url(target), alt, std::move(type), false);
    }
    bool waitFor(const std::function<bool()>& done) {
        return clock.runUntil([&] {
            clock.advance(0.05);
            return done();
        });
    }
    // The messages of every failed-click record of the ad, in order.
    std::vector<std::string> failedClicks() {
        std::vector<std::string> messages;
        for (const auto& record : adView->adEventCollection()->eventCollection())
            if (record->detail("event") == "failedclick")
                messages.push_back(record->detail("message").value_or(""));
        return messages;
    }
    std::vector<std::string> alertTitles() {
        std::vector<std::string> titles;
        for (const auto& alert : platform::Application::shared().visibleAlerts())
            titles.push_back(alert->title());
        return titles;
    }
    const std::vector<std::string>& opened() { return platform::Application::shared().openedURLs(); }

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    std::shared_ptr<platform::Window> window = std::make_shared<platform::Window>(platform::Rect{0, 0, 320, 480});
    std::shared_ptr<RecordingListener> listener = std::make_shared<RecordingListener>();
    std::shared_ptr<TGAdView> adView =
        TGAdView::create({0, 0, 320, 50}, std::make_shared<TGDelegateAdaptorImmutable>(), listener);
};

} // namespace

TEST(TangentAction, UrlAndTypeWordTables) {
    fwtest::TemporaryHome home; // the application probes come from the support file
    using C = TGActionController;
    const std::pair<const char*, int> urls[] = {
        {"about:blank", C::kActionUri},
        {"tel:5550100", C::kActionTel},
        {"sms:5550100", C::kActionTel},
        {"TEL:5550100", C::kActionNone}, // schemes compare exactly
        {"webcal://cal.example/x.ics", C::kActionNative},
        {"ical://cal.example/x", C::kActionNative},
        {"mailto:someone@example.com", C::kActionNative},
        {"http://itunes.apple.com/app/id1", C::kActioniTunes},
        {"http://phobos.apple.com/WebObjects/x", C::kActioniTunes},
        {"http://cdn.example/clip.mp4", C::kActionVideo},
        {"http://cdn.example/clip.3gp?x=1", C::kActionVideo},
        {"http://cdn.example/clip.MP4", C::kActionNone},
        {"http://maps.google.com/?q=coffee", C::kActionGMap},
        {"http://www.youtube.com/watch?v=abc", C::kActionYoutube},
        {"http://www.youtube.com/user/x", C::kActionNone},
        {"fb://profile/1", C::kActionApplication},
        {"skype:echo123?call", C::kActionApplication},
        {"twitteriffic://post", C::kActionApplication},
        {"http://landing.example/page", C::kActionNone},
    };
    for (const auto& [text, action] : urls)
        EXPECT_EQ(C::clickActionForURL(url(text)), action) << text;

    const std::pair<std::optional<std::string>, int> words[] = {
        {"youtube", 0}, {"video", 1}, {"movie", 1},       {"uri", 2},  {"url", 2}, {"native", 3},
        {"browser", 3}, {"safari", 3}, {"tel", 4},        {"call", 4}, {"itunes", 5}, {"store", 5},
        {"gmap", 6},    {"map", 6},    {"application", 7}, {"app", 7}, {"Map", -1}, {"", -1},
        {std::nullopt, -1},
    };
    for (const auto& [word, action] : words)
        EXPECT_EQ(C::clickActionForType(word), action) << word.value_or("(none)");

    // The URL table wins over the type word, which wins over the "t" parameter.
    EXPECT_EQ(C::clickActionForURLTypeString(url("http://cdn.example/a.mp4"), "uri"), C::kActionVideo);
    EXPECT_EQ(C::clickActionForURLTypeString(url("http://x.example/?t=map"), "store"), C::kActioniTunes);
    EXPECT_EQ(C::clickActionForURLTypeString(url("http://x.example/?a=1&t=map"), std::nullopt), C::kActionGMap);
    EXPECT_EQ(C::clickActionForURLTypeString(url("http://x.example/?a=1"), std::nullopt), C::kActionNone);
    // The parameter is read raw, first match, "=" and "&" runs skipped.
    EXPECT_EQ(C::extractParamFromUrl("t", url("http://x.example/?&&t=a%20b&t=c")), "a%20b");
    EXPECT_EQ(C::extractParamFromUrl("v", url("http://x.example/?t=1&vv=2")), std::nullopt);
    EXPECT_EQ(C::extractParamFromUrl("t", url("http://x.example/")), std::nullopt);
}

TEST(TangentAction, TargetsHandedToThePlatform) {
    struct Row {
        const char* what;
        const char* target;
        std::optional<std::string> alternate;
        std::set<std::string> installed;
        std::vector<std::string> opened;
        std::vector<std::string> alerts;
        std::vector<std::string> failedClicks;
        std::optional<std::string> pasteboard;
    };
    const Row rows[] = {
        {"telephone, localhost/ removed", "tel://localhost/5550100", std::nullopt, {"tel"},
         {"tel://5550100"}, {}, {}, std::nullopt},
        {"telephone the device cannot dial", "sms:5550100", std::nullopt, {}, {},
         {"Device Does Not Support Telephone/SMS"},
         {"type=sms&url=sms%3A5550100&reason=unsupported&"}, "5550100"},
        {"application present", "fb://profile/1", std::nullopt, {"fb"}, {"fb://profile/1"}, {}, {}, std::nullopt},
        {"application absent, alternate opens", "fb://profile/1", "http://fb.example/1", {"http"},
         {"http://fb.example/1"}, {}, {}, std::nullopt},
        {"application and alternate absent", "fb://profile/1", "zz://x", {}, {}, {"Cannot Open Page"},
         {"type=app&url=fb%3A%2F%2Fprofile%2F1&alt-url=zz%3A%2F%2Fx&reason=unsupported&"}, std::nullopt},
        {"store", "http://itunes.apple.com/app/id1", std::nullopt, {"http"}, {"http://itunes.apple.com/app/id1"},
         {}, {}, std::nullopt},
        {"map", "http://maps.google.com/?q=x", std::nullopt, {"http"}, {"http://maps.google.com/?q=x"}, {}, {},
         std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ActionFixture f;
        platform::Pasteboard::generalPasteboard().setString("");
        platform::Application::shared().setInstalledSchemes(row.installed);
        f.click(row.target, std::nullopt, row.alternate);
        EXPECT_EQ(f.opened(), row.opened);
        EXPECT_EQ(f.alertTitles(), row.alerts);
        EXPECT_EQ(f.failedClicks(), row.failedClicks);
        if (row.pasteboard) {
            EXPECT_EQ(platform::Pasteboard::generalPasteboard().string(), *row.pasteboard);
        }
        if (row.alerts.empty()) {
            // Handed over: the ad stays clicked until the application comes back.
            EXPECT_EQ(f.adView->currentActionState(), clickedState);
            platform::Application::shared().resignActive();
            platform::Application::shared().becomeActive();
        }
        EXPECT_EQ(f.adView->currentActionState(), inactiveState);
        EXPECT_EQ(f.controller().currentViewState(), pendingState);
        // The ad view saw clicking, clicked, then its own state again.
        ASSERT_GE(f.listener->states.size(), 3u);
        EXPECT_EQ(f.listener->states[0], clickingState);
        EXPECT_EQ(f.listener->states[1], clickedState);
    }
}

TEST(TangentAction, NativeTargetsAreTriedAgainOnlyWhileTheApplicationStaysActive) {
    {
        // Opened, and tried again 2 s later unless the application resigned in between.
        ActionFixture f;
        platform::Application::shared().setInstalledSchemes({"mailto"});
        f.click("mailto:someone@example.com");
        EXPECT_EQ(f.opened().size(), 1u);
        f.clock.advance(2.1);
        EXPECT_EQ(f.opened().size(), 2u);
        f.controller().stop();
        platform::Application::shared().becomeActive();
        f.click("mailto:other@example.com");
        platform::Application::shared().resignActive();
        f.clock.advance(2.1);
        EXPECT_EQ(f.opened().size(), 3u);
    }
    {
        // A refused URL shows the alert once and is not tried again.
        ActionFixture f;
        f.click("webcal://cal.example/x.ics");
        EXPECT_EQ(f.alertTitles(), std::vector<std::string>{"Cannot Open Page"});
        f.clock.advance(2.1);
        EXPECT_EQ(f.opened().size(), 1u);
        EXPECT_EQ(f.adView->currentActionState(), inactiveState);
    }
    {
        // Stopped before the retry.
        ActionFixture f;
        platform::Application::shared().setInstalledSchemes({"mailto"});
        f.click("mailto:someone@example.com");
        f.controller().stop();
        f.clock.advance(2.1);
        EXPECT_EQ(f.opened().size(), 1u);
    }
}

TEST(TangentAction, OneClickAtATimeAndNoneWhileTheAdLeaves) {
    ActionFixture f;
    platform::Application::shared().setInstalledSchemes({"fb"});
    f.click("fb://a");
    f.controller().handleURL(url("fb://b"), std::nullopt, std::nullopt, true);
    EXPECT_EQ(f.opened(), std::vector<std::string>{"fb://a"});
    EXPECT_TRUE(f.controller().isFullScr());
    platform::Application::shared().becomeActive();
    EXPECT_EQ(f.adView->currentActionState(), inactiveState);

    f.adView->setCurrentViewState(dismissingState);
    f.click("fb://c");
    EXPECT_EQ(f.opened(), std::vector<std::string>{"fb://a"});
    EXPECT_EQ(f.failedClicks(), std::vector<std::string>{"type=fb&url=fb%3A%2F%2Fc&reason=dismissed&"});
    EXPECT_EQ(f.adView->currentActionState(), inactiveState);
}

TEST(TangentAction, RedirectChainsDecideTheAction) {
    struct Row {
        const char* what;
        std::string finalLocation; // where /hop2 leads; empty: /hop2 answers itself
        int finalStatus;
        std::set<std::string> installed;
        const char* clicked; // path and query on the loopback server
        std::vector<std::string> opened;
        std::vector<std::string> alerts;
        std::vector<std::string> failedClicks;
        bool browserShown;
    };
    const Row rows[] = {
        {"chain ending at a store link opens the store, never fetched", "http://itunes.apple.com/app/id7", 0,
         {"http"}, "/hop1", {"http://itunes.apple.com/app/id7"}, {}, {}, false},
        {"chain ending at a page shows it in the browser", "", 200, {}, "/hop1", {}, {}, {}, true},
        {"final page of a map click opens as a map", "", 200, {"http"}, "/hop1?t=map", {"HOP2"}, {}, {}, false},
        {"final 404 cannot be opened", "", 404, {}, "/hop1", {}, {"Cannot Open Page"},
         {"statusCode=404&url=HOP2&reason=failedconnection&"}, false},
        {"chain into an application's own scheme opens it", "zapp://open/1", 0, {"zapp"}, "/hop1",
         {"zapp://open/1"}, {}, {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ActionFixture f;
        platform::Application::shared().setInstalledSchemes(row.installed);
        const std::string hop2 = f.services.url("/hop2");
        f.services.handle("GET", "/hop1", [&](const services::LoggedRequest&) {
            return services::ServiceReply{302, "", "text/plain", {{"Location", hop2}}};
        });
        f.services.handle("GET", "/hop2", [&](const services::LoggedRequest&) {
            if (!row.finalLocation.empty())
                return services::ServiceReply{302, "", "text/plain", {{"Location", row.finalLocation}}};
            return services::ServiceReply{row.finalStatus, "<p id='landing'>Landing</p>", "text/html", {}};
        });
        f.click(f.services.url(row.clicked));
        ASSERT_TRUE(f.waitFor([&] {
            return f.adView->currentActionState() == inactiveState || f.controller().browserView() ||
                   !f.opened().empty();
        }));
        auto expectedOpened = row.opened;
        for (auto& text : expectedOpened)
            if (text == "HOP2")
                text = hop2;
        auto expectedFailures = row.failedClicks;
        for (auto& text : expectedFailures)
            text = platform::replaceAll(text, "HOP2", platform::percentEncodeQueryValue(hop2));
        EXPECT_EQ(f.opened(), expectedOpened);
        EXPECT_EQ(f.alertTitles(), row.alerts);
        EXPECT_EQ(f.failedClicks(), expectedFailures);
        EXPECT_EQ(f.controller().browserView() != nullptr, row.browserShown);
        // Every hop the follower made carried the device's User-Agent (the browser's own load
        // of a final page comes later, as the web view).
        for (auto path : {"/hop1", "/hop2"}) {
            auto hops = f.services.requestsTo(path);
            ASSERT_FALSE(hops.empty()) << path;
            EXPECT_EQ(hops.front().header("User-Agent"), TGDeviceInfo::instance().userAgent) << path;
        }
    }
}

TEST(TangentAction, InAppBrowserFromClickToClose) {
    ActionFixture f;
    f.services.handle("GET", "/landing", [&](const services::LoggedRequest&) {
        return services::ServiceReply{200,
                                      "<p id='landing'>Landing</p><a id='store' href='http://itunes.apple.com/app/id3'>"
                                      "store</a><a id='next' href='" +
                                          f.services.url("/next") + "'>next</a>",
                                      "text/html", {}};
    });
    f.services.handle("GET", "/next", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p id='next-page'>Next</p>", "text/html", {}};
    });
    platform::Application::shared().setInstalledSchemes({"http"});
    f.click(f.services.url("/landing"));
    ASSERT_TRUE(f.waitFor([&] {
        auto browser = f.controller().browserView();
        return browser && browser->webContent()->elementById("landing") && browser->window();
    }));
    auto browser = f.controller().browserView();
    EXPECT_EQ(f.adView->currentActionState(), clickedState);
    EXPECT_TRUE(browser->safariButton()->isEnabled());
    EXPECT_EQ(browser->backButton()->title(), "Back");

    // A store link leaves the page as it is and opens the store.
    auto web = browser->webContent();
    web->clickLinkWithId("store");
    f.clock.drain();
    EXPECT_EQ(f.opened(), std::vector<std::string>{"http://itunes.apple.com/app/id3"});
    EXPECT_TRUE(web->elementById("landing"));
    // An ordinary link loads in the browser, without a redirect follow.
    web->clickLinkWithId("next");
    ASSERT_TRUE(f.waitFor([&] { return web->elementById("next-page") != nullptr; }));
    EXPECT_FALSE(f.controller().redirectFollower());
    browser->showInSafari();
    EXPECT_EQ(f.opened().back(), f.services.url("/next"));

    // The browser follows its window: shown again after being hidden, the window is key once
    // more and the browser fills its superview again.
    auto window = browser->window();
    ASSERT_TRUE(window && browser->superview());
    browser->setFrame(platform::Rect(0, 0, 10, 10));
    window->setHidden(true);
    EXPECT_FALSE(window->isKeyWindow());
    window->setHidden(false);
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(browser->frame(), browser->superview()->bounds());

    // Back closes the browser; once it has gone the click is over.
    browser->backButtonPressed();
    ASSERT_TRUE(f.waitFor([&] { return f.adView->currentActionState() == inactiveState; }));
    EXPECT_FALSE(f.controller().browserView());
    EXPECT_FALSE(browser->window());
    EXPECT_EQ(f.controller().currentViewState(), pendingState);
    EXPECT_FALSE(f.adView->currentSyncState());
}

TEST(TangentAction, VideoPageTakesOnlyARealVideoId) {
    ActionFixture f;
    f.click("http://www.youtube.com/watch?v=dQw4w9WgX-_");
    auto browser = f.controller().browserView();
    ASSERT_TRUE(browser);
    ASSERT_TRUE(f.waitFor([&] { return browser->webContent()->elementById("container") != nullptr; }));
    auto page = browser->webContent()->stringByEvaluatingJavaScriptFromString("document.body.innerHTML");
    EXPECT_NE(page.find("/v/dQw4w9WgX-_?enablejsapi=1"), std::string::npos);
    EXPECT_NE(page.find("Click to play video"), std::string::npos);
    browser->backButtonPressed();
    ASSERT_TRUE(f.waitFor([&] { return f.adView->currentActionState() == inactiveState; }));

    // Anything else in "v" never reaches the page: the link is shown as the page it is.
    f.click("http://www.youtube.com/watch?v=x%22%3E%3Cscript%3Ealert(1)%3C/script%3E");
    browser = f.controller().browserView();
    ASSERT_TRUE(browser);
    browser->webContent()->stopLoading(); // the test never reaches the outside service
    ASSERT_TRUE(browser->safariUrl());
    EXPECT_EQ(browser->safariUrl()->absoluteString(),
              "http://www.youtube.com/watch?v=x%22%3E%3Cscript%3Ealert(1)%3C/script%3E");
    page = browser->webContent()->stringByEvaluatingJavaScriptFromString("document.body.innerHTML");
    EXPECT_EQ(page.find("enablejsapi"), std::string::npos);
}
