#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/TextRenderer.h"
#include "support/LoopbackServices.h"

namespace {

using platform::URL;
using platform::URLRequest;
using webtest::WebViewTest;

using WebViewLoading = WebViewTest;

TEST_F(WebViewLoading, HTMLStringLoadsOnLaterTurnsWithItsBaseURL) {
    webView->loadHTMLString("<title>Hi</title><p id=p>text</p>", URL::parse("http://ads.example/a/b.html"));
    EXPECT_TRUE(delegate->events.empty()); // nothing inside the call
    EXPECT_TRUE(webView->isLoading());
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"should http://ads.example/a/b.html 5", "start", "finish"}));
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(webView->title(), "Hi");
    EXPECT_EQ(webView->elementById("p")->textContent(), "text");
    EXPECT_EQ(webView->request()->url().absoluteString(), "http://ads.example/a/b.html");
    EXPECT_EQ(eval("location.href"), "http://ads.example/a/b.html");
    EXPECT_EQ(eval("location.hostname + '|' + location.pathname"), "ads.example|/a/b.html");
}

TEST_F(WebViewLoading, FileAndBlankPagesLoadAndAMissingFileFails) {
    auto url =
        writeFile("page.html", "<body><script>document.body.setAttribute('data-ran', 'yes')</script>on disk");
    webView->loadRequest(URLRequest(url));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.back(), "finish");
    EXPECT_EQ(webView->document()->body()->attribute("data-ran"), "yes");

    delegate->events.clear();
    webView->loadRequest(URLRequest(*URL::parse("about:blank")));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"should about:blank 5", "start", "finish"}));
    EXPECT_EQ(webView->document()->body()->textContent(), "");

    delegate->events.clear();
    webView->loadRequest(URLRequest(URL::fileURL(home.root() / "tmp" / "missing.html")));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.back(), "fail -1100");
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(WebViewLoading, HTTPPagesLoadAndErrorStatusesFail) {
    fwtest::LoopbackServices services;
    services.handle("GET", "/web/page.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<p id=p>from the server</p>", "text/html", {}};
    });
    services.setFault("/web/gone.html", services::Fault::errorStatus(404, "<p>not here</p>"));

    struct Case {
        const char* path;
        const char* lastEvent;
    };
    const Case cases[] = {
        {"/web/page.html", "finish"},
        {"/web/gone.html", "fail -1011"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        delegate->events.clear();
        webView->loadRequest(URLRequest(services.urlFor(c.path)));
        ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 10));
        EXPECT_EQ(delegate->events.front(), "should " + services.url(c.path) + " 5");
        EXPECT_EQ(delegate->events.back(), c.lastEvent);
        EXPECT_EQ(delegate->events.size(), 3u);
    }
    // The failed page did not replace the shown one.
    EXPECT_EQ(webView->elementById("p")->textContent(), "from the server");
    EXPECT_FALSE(webView->canGoBack());
}

TEST_F(WebViewLoading, AReplacedLoadFailsWithCancelledAndNothingOfItArrives) {
    fwtest::LoopbackServices services;
    services.handle("GET", "/web/slow.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "<title>slow</title>", "text/html", {}};
    });
    services.setFault("/web/slow.html", services::Fault::delay(0.5));

    webView->loadRequest(URLRequest(services.urlFor("/web/slow.html")));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("start") == 1; }, 5));
    webView->loadHTMLString("<title>fast</title>", std::nullopt);
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") == 1; }, 5));
    // Give the slow reply time to arrive: it must be dropped.
    clock.runUntil([] { return false; }, 1.0);

    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"should " + services.url("/web/slow.html") + " 5", "start",
                                        "should about:blank 5", "fail -999", "start", "finish"}));
    EXPECT_EQ(webView->title(), "fast");
    EXPECT_EQ(platform::URLConnection::runningCount(), 0u);
}

TEST_F(WebViewLoading, StopLoadingFailsTheLoadInFlight) {
    fwtest::LoopbackServices services;
    services.setFault("/web/slow.html", services::Fault::delay(0.5));
    webView->loadRequest(URLRequest(services.urlFor("/web/slow.html")));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("start") == 1; }, 5));
    webView->stopLoading();
    EXPECT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.back(), "fail -999");
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(WebViewLoading, APageOverTheSizeCapFails) {
    auto url = writeFile("huge.html", std::string(platform::WebView::kMaximumPageBytes + 1, 'x'));
    webView->loadRequest(URLRequest(url));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.back(), "fail -1103");
}

TEST_F(WebViewLoading, HistoryGoesBackAndForwardWithItsNavigationType) {
    loadHTML("<title>one</title>", "http://ads.example/one");
    loadHTML("<title>two</title>", "http://ads.example/two");
    EXPECT_TRUE(webView->canGoBack());
    EXPECT_FALSE(webView->canGoForward());

    delegate->events.clear();
    webView->goBack();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.front(), "should http://ads.example/one 2");
    EXPECT_EQ(webView->title(), "one");
    EXPECT_FALSE(webView->canGoBack());
    EXPECT_TRUE(webView->canGoForward());

    delegate->events.clear();
    webView->goForward();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.front(), "should http://ads.example/two 2");
    EXPECT_EQ(webView->title(), "two");

    delegate->events.clear();
    webView->reload();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }, 5));
    EXPECT_EQ(delegate->events.front(), "should http://ads.example/two 3");
    EXPECT_TRUE(webView->canGoBack());
    EXPECT_FALSE(webView->canGoForward());
}

TEST_F(WebViewLoading, TheVisibleTextIsDrawn) {
    loadHTML("<head><title>t</title><style>p{}</style></head><body><p>Buy   now</p><script>var x;</script>"
             "<p>today</p></body>");
    platform::TextCanvas canvas(40, 5);
    webView->drawText(canvas, platform::Rect{0, 0, 320, 40});
    EXPECT_NE(canvas.toString().find("Buy now today"), std::string::npos) << canvas.toString();
}

} // namespace
