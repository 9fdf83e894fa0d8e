#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "support/LoopbackServices.h"

namespace {

using platform::URL;
using platform::URLRequest;
using platform::WebViewNavigationType;
using webtest::WebViewTest;

using WebViewNavigation = WebViewTest;

constexpr const char* kBase = "http://ads.example/page/index.html";

TEST_F(WebViewNavigation, EveryKindOfNavigationIsOfferedWithItsType) {
    struct Case {
        const char* name;
        const char* html;
        const char* action; // script evaluated, or "#id" to click that element
        std::string offered;
    };
    const Case cases[] = {
        {"link", "<a id=go href=\"next.html\">next</a>", "#go", "should http://ads.example/page/next.html 0"},
        {"nested link", "<a href=\"/top\"><b id=inner>x</b></a>", "#inner",
         "should http://ads.example/top 0"},
        {"location.href", "", "location.href = 'lmsg:///click?x=1'", "should lmsg:///click?x=1 5"},
        {"window.location", "", "window.location = 'other.html'",
         "should http://ads.example/page/other.html 5"},
        {"document.location", "", "document.location = 'mrbridge://close'", "should mrbridge://close 5"},
        {"window.open", "", "window.open('https://landing.example/')", "should https://landing.example/ 5"},
        {"form",
         "<form id=f action=\"/search\"><input name=q value=\"a b&c\"><input type=checkbox name=no>"
         "<input id=send type=submit name=s value=go></form>",
         "#send", "should http://ads.example/search?q=a%20b%26c 1"},
        {"script click", "<a id=go href=\"/clicked\">x</a>", "document.getElementById('go').click()",
         "should http://ads.example/clicked 0"},
        {"location.reload", "", "location.reload()", std::string("should ") + kBase + " 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        loadHTML(c.html, kBase);
        delegate->events.clear();
        delegate->decide = [](const URLRequest&, WebViewNavigationType) { return false; };
        if (c.action[0] == '#')
            ASSERT_TRUE(webView->clickLinkWithId(c.action + 1));
        else
            eval(c.action);
        EXPECT_TRUE(delegate->events.empty()) << "offered inside the script or click";
        clock.drain();
        EXPECT_EQ(delegate->events, std::vector<std::string>{c.offered});
        delegate->decide = nullptr;
    }
}

TEST_F(WebViewNavigation, AScriptLocationChangeIsHandledOnALaterTurnAndLoads) {
    loadHTML("<script>var x = 1; location.href = '/second'; x = 2;</script>", "about:blank");
    // A relative URL against about:blank goes nowhere; the script itself ran to its end.
    EXPECT_EQ(eval("x"), "2");

    fwtest::LoopbackServices services;
    services.handle("GET", "/web/second.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<title>second</title>", "text/html", {}};
    });
    delegate->events.clear();
    loadHTML(
        "<script>location.href = 'second.html'; var after = document.title;</script><title>first</title>",
        services.url("/web/first.html"));
    EXPECT_EQ(eval("after"), "first");
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") == 2; }, 10));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{
                                    "should " + services.url("/web/first.html") + " 5", "start", "finish",
                                    "should " + services.url("/web/second.html") + " 5", "start", "finish"}));
    EXPECT_EQ(webView->title(), "second");
    EXPECT_TRUE(webView->canGoBack());
}

TEST_F(WebViewNavigation, ARefusedCustomSchemeLeavesThePageAsItIs) {
    std::vector<std::string> messages;
    delegate->decide = [&](const URLRequest& request, WebViewNavigationType) {
        if (request.url().scheme() == "lmsg") {
            messages.push_back(request.url().absoluteString());
            return false;
        }
        return true;
    };
    loadHTML("<a id=msg href=\"lmsg:///log?text=hi\">log</a><p id=p>page</p>", kBase);
    delegate->events.clear();
    ASSERT_TRUE(webView->clickLinkWithId("msg"));
    clock.drain();
    EXPECT_EQ(messages, std::vector<std::string>{"lmsg:///log?text=hi"});
    EXPECT_EQ(delegate->events, std::vector<std::string>{"should lmsg:///log?text=hi 0"});
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(webView->elementById("p")->textContent(), "page");
    EXPECT_EQ(webView->request()->url().absoluteString(), kBase);

    // Allowed, a scheme the view cannot load fails as unsupported.
    delegate->decide = nullptr;
    delegate->events.clear();
    ASSERT_TRUE(webView->clickLinkWithId("msg"));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"should lmsg:///log?text=hi 0", "start", "fail -1002"}));
}

TEST_F(WebViewNavigation, ClickHandlersRunFirstAndCanCancelTheLink) {
    struct Case {
        const char* name;
        const char* html;
        bool follows;
    };
    const Case cases[] = {
        {"attribute returns false", "<a id=a href=\"/x\" onclick=\"clicks++; return false\">x</a>", false},
        {"property handler",
         "<a id=a href=\"/x\">x</a><script>document.getElementById('a').onclick = "
         "function () { clicks++; };</script>",
         true},
        {"listener prevents default",
         "<a id=a href=\"/x\">x</a><script>document.getElementById('a')"
         ".addEventListener('click', function (e) { clicks++; e.preventDefault(); });"
         "</script>",
         false},
        {"handler throws", "<a id=a href=\"/x\" onclick=\"clicks++; throw 1\">x</a>", true},
        {"javascript: link", "<a id=a href=\"javascript:clicks%2B%2B\">x</a>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        loadHTML(std::string("<script>var clicks = 0;</script>") + c.html, kBase);
        delegate->events.clear();
        delegate->decide = [](const URLRequest&, WebViewNavigationType) { return false; };
        ASSERT_TRUE(webView->clickLinkWithId("a"));
        clock.drain();
        EXPECT_EQ(eval("clicks"), "1");
        EXPECT_EQ(delegate->events.size(), c.follows ? 1u : 0u);
        delegate->decide = nullptr;
    }
    EXPECT_FALSE(webView->clickLinkWithId("nothing-here"));
}

TEST_F(WebViewNavigation, APostedFormIsResubmittedOnReload) {
    fwtest::LoopbackServices services;
    services.handle("POST", "/web/form", [](const services::LoggedRequest& request) {
        return services::ServiceReply{200, "<title>" + request.body + "</title>", "text/html", {}};
    });
    loadHTML("<form id=f method=post action=\"/web/form\"><input name=a value=\"1 2\"><textarea "
             "name=t>x</textarea>"
             "<select name=s><option value=o1>1<option value=o2 selected>2</select></form>"
             "<script>document.getElementById('f').submit()</script>",
             services.url("/web/index.html"));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") == 2; }, 10));
    EXPECT_EQ(webView->title(), "a=1%202&t=x&s=o2");
    EXPECT_EQ(delegate->events[3], "should " + services.url("/web/form") + " 1");

    delegate->events.clear();
    webView->reload();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 10));
    EXPECT_EQ(delegate->events.front(), "should " + services.url("/web/form") + " 4");
    EXPECT_EQ(services.requestCount("/web/form"), 2u);
}

TEST_F(WebViewNavigation, APageReachedByALinkKnowsTheOneItCameFrom) {
    fwtest::LoopbackServices services;
    const std::string first = services.url("/web/first.html");
    services.handle("GET", "/web/first.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<a id=next href=\"second.html\">next</a>", "text/html", {}};
    });
    services.handle("GET", "/web/second.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p>second</p>", "text/html", {}};
    });
    auto loaded = [&](std::size_t finishes) {
        return clock.runUntil([&] { return delegate->count("finish") == finishes && !webView->isLoading(); },
                              10);
    };
    webView->loadRequest(URLRequest(*URL::parse(first)));
    ASSERT_TRUE(loaded(1));
    EXPECT_EQ(eval("document.referrer"), "") << "a page the application loads came from nowhere";

    ASSERT_TRUE(webView->clickLinkWithId("next"));
    ASSERT_TRUE(loaded(2));
    EXPECT_EQ(eval("document.referrer"), first);
    auto seen = services.requestsTo("/web/second.html");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].header("Referer"), first);
    // Back and forward again: each page keeps where it came from.
    webView->goBack();
    ASSERT_TRUE(loaded(3));
    EXPECT_EQ(eval("document.referrer"), "");
    webView->goForward();
    ASSERT_TRUE(loaded(4));
    EXPECT_EQ(eval("document.referrer"), first);
}

TEST_F(WebViewNavigation, ALaterLoadSupersedesQueuedNavigations) {
    loadHTML("<script>setTimeout(function () { location.href = 'lmsg:///late'; }, 0);</script>", kBase);
    clock.advance(0); // the timer queues its navigation
    webView->loadHTMLString("<title>newer</title>", std::nullopt);
    delegate->events.clear();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"should about:blank 5", "start", "finish"}));
}

} // namespace
