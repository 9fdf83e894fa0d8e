#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "platform/foundation/Log.h"
#include "support/LoopbackServices.h"

namespace {

// Holds a test server's replies until the test opens it (or goes away, with a cap), so a
// script source stays on its way for as long as the test needs.
class Gate {
public:
    ~Gate() { open(); }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        opened_.wait_for(lock, std::chrono::seconds(30), [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

using platform::URL;
using platform::URLRequest;
using webtest::WebViewTest;

using WebViewScripts = WebViewTest;

TEST_F(WebViewScripts, InlineAndSourceScriptsRunInDocumentOrderThenOnload) {
    fwtest::LoopbackServices services;
    services.handle("GET", "/web/second.js", [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, "order.push('http:' + order.length);", "application/javascript", {}};
    });
    services.setFault("/web/broken.js", services::Fault::errorStatus(500, "order.push('error page');"));
    // A page of a local folder, with scripts from the network and one beside it.
    auto page = writeFile("page/index.html", "");
    writeFile("page/third.js", "order.push('file:' + order.length);");

    const std::string html = "<html><head><script>var order = ['inline:0'];</script>"
                             "<script src=\"" +
                             services.url("/web/second.js") +
                             "\"></script>"
                             "<script src=\"" +
                             services.url("/web/broken.js") +
                             "\"></script>"
                             "<script src=\"third.js\"></script>"
                             "<script type=\"text/template\">order.push('template');</script>"
                             "</head><body onload=\"order.push('onload:' + order.length)\">"
                             "<p id=early></p><script>order.push('body:' + order.length + ':' + "
                             "document.getElementById('early').tagName)</script></body></html>";
    loadHTML(html, page.absoluteString());
    EXPECT_EQ(eval("order.join(',')"), "inline:0,http:1,file:2,body:3:P,onload:4");
    EXPECT_EQ(services.requestCount("/web/second.js"), 1u);
    EXPECT_EQ(eval("document.readyState"), "complete");
}

TEST_F(WebViewScripts, OnloadListenersAndWindowOnloadRun) {
    loadHTML("<script>var seen = [];"
             "window.addEventListener('load', function () { seen.push('listener'); });"
             "document.addEventListener('DOMContentLoaded', function () { seen.push('ready'); });"
             "window.onload = function () { seen.push('onload'); };</script>");
    EXPECT_EQ(eval("seen.join(',')"), "ready,onload,listener");
}

TEST_F(WebViewScripts, EvaluationAnswersText) {
    loadHTML("<script>function size() { return '320x50'; } var n = 41;</script>");
    struct Case {
        const char* script;
        const char* expected;
    };
    const Case cases[] = {
        {"n + 1", "42"},
        {"1.5 * 2", "3"},
        {"size()", "320x50"},
        {"'a' + \"b\"", "ab"},
        {"n > 40", "true"},
        {"undefined", ""},
        {"null", ""},
        {"void size()", ""},
        {"missingFunction()", ""},
        {"throw new Error('boom')", ""},
        {"function (", ""},
        {"", ""},
        {"var declared = 7; declared", "7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(eval(c.script), c.expected) << c.script;
    EXPECT_EQ(eval("declared"), "7"); // evaluation shares the page's global scope
}

// Characters beyond U+FFFF leave the page as UTF-8, from an evaluation and from a script's
// call into the page, however the script wrote them.
TEST_F(WebViewScripts, TextLeavesThePageAsUTF8) {
    loadHTML("<p id=t></p>");
    const std::string grin = "\xF0\x9F\x98\x80";
    for (const std::string& literal : {"'" + grin + "'", std::string("'\\ud83d\\ude00'")}) {
        SCOPED_TRACE(literal);
        EXPECT_EQ(eval(literal + " + '\xC3\xA9'"), grin + "\xC3\xA9");
        eval("document.getElementById('t').textContent = 'a' + " + literal);
        EXPECT_EQ(webView->elementById("t")->textContent(), "a" + grin);
    }
}

TEST_F(WebViewScripts, EachPageGetsAFreshContext) {
    loadHTML("<script>var leftover = 'old page';</script>");
    EXPECT_EQ(eval("leftover"), "old page");
    loadHTML("<p>second</p>");
    EXPECT_EQ(eval("typeof leftover"), "undefined");
    EXPECT_EQ(eval("window === this && window.window === window"), "true");
    EXPECT_EQ(eval("navigator.userAgent"), std::string(platform::WebView::kUserAgent));
}

TEST_F(WebViewScripts, DocumentQueriesAndMutationFromScripts) {
    loadHTML("<div id=ad style=\"display: none; width: 10px\"><span class=t>Old</span><span>2</span></div>");
    EXPECT_EQ(eval("document.getElementsByTagName('span').length"), "2");
    EXPECT_EQ(eval("document.getElementById('ad').tagName"), "DIV");
    EXPECT_EQ(eval("document.getElementById('ad') === document.getElementById('ad')"), "true");
    EXPECT_EQ(eval("document.getElementById('ad').style.display"), "none");

    eval("var ad = document.getElementById('ad');"
         "ad.style.display = 'block'; ad.style.backgroundColor = 'red';"
         "var img = document.createElement('img'); img.id = 'pixel'; ad.appendChild(img);"
         "ad.removeChild(ad.getElementsByTagName('span')[1]);"
         "ad.firstChild.textContent = 'New <b>';"
         "ad.setAttribute('data-state', 'shown');");
    auto ad = webView->elementById("ad");
    ASSERT_NE(ad, nullptr);
    EXPECT_EQ(ad->attribute("style"), "display: block; width: 10px; background-color: red");
    EXPECT_EQ(ad->attribute("data-state"), "shown");
    EXPECT_EQ(ad->innerHTML(), "<span class=\"t\">New &lt;b&gt;</span><img id=\"pixel\">");

    eval("ad.innerHTML = '<a id=link href=\"/x\">go</a> now';");
    EXPECT_EQ(webView->elementById("link")->attribute("href"), "/x");
    EXPECT_EQ(eval("ad.innerText"), "go now");
    EXPECT_EQ(eval("document.getElementById('link').parentNode.id"), "ad");
    EXPECT_EQ(eval("document.getElementById('pixel')"), ""); // gone with the old content
    // A node cannot be put inside itself; the page hears an error, the view carries on.
    EXPECT_EQ(eval("try { ad.appendChild(document.body); 'no' } catch (e) { 'refused' }"), "refused");
    EXPECT_EQ(eval("document.title = 'Changed'; document.title"), "Changed");
    EXPECT_EQ(webView->title(), "Changed");
}

TEST_F(WebViewScripts, TimersRunOnTheRunLoopClock) {
    loadHTML("<script>var log = [];"
             "var once = setTimeout(function (tag) { log.push(tag); }, 2000, 'timeout');"
             "var cancelled = setTimeout(function () { log.push('cancelled'); }, 1000);"
             "clearTimeout(cancelled);"
             "var ticks = 0; var every = setInterval(function () { if (++ticks === 3) clearInterval(every); "
             "}, 500);"
             "setTimeout(\"log.push('string')\", 100);</script>");
    EXPECT_EQ(eval("log.join(',') + '|' + ticks"), "|0");
    clock.advance(0.1);
    EXPECT_EQ(eval("log.join(',') + '|' + ticks"), "string|0");
    clock.advance(1.0);
    EXPECT_EQ(eval("log.join(',') + '|' + ticks"), "string|2");
    clock.advance(1.0);
    EXPECT_EQ(eval("log.join(',') + '|' + ticks"), "string,timeout|3");
    clock.advance(10.0);
    EXPECT_EQ(eval("ticks"), "3");
}

TEST_F(WebViewScripts, AReplacedPageLeavesNoTimerBehind) {
    fwtest::LoopbackServices services;
    loadHTML("<script>setInterval(function () { new Image().src = '" + services.url("/web/tick") +
             "'; }, 1000);"
             "</script>");
    clock.advance(1.0);
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/web/tick") == 1; }, 5));
    loadHTML("<p>next</p>");
    clock.advance(5.0);
    clock.runUntil([] { return false; }, 0.2);
    EXPECT_EQ(services.requestCount("/web/tick"), 1u);
}

TEST_F(WebViewScripts, ImagesLoadOverTheNetworkAndReportLoadOrError) {
    fwtest::LoopbackServices services;
    services.handle("GET", "/web/pixel.gif", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "GIF89a", "image/gif", {}};
    });
    loadHTML("<img src=\"/web/pixel.gif?from=markup\"><script>var events = [];"
             "var good = new Image(); good.onload = function () { events.push('load'); };"
             "good.src = '/web/pixel.gif?from=script';"
             "var bad = new Image(); bad.onerror = function () { events.push('error'); };"
             "bad.src = '/web/missing.gif';</script>",
             services.url("/web/index.html"));
    // The markup's image and the script's load side by side: wait for both requests too.
    ASSERT_TRUE(clock.runUntil(
        [&] { return eval("events.length") == "2" && services.requestCount("/web/pixel.gif") >= 2; }, 10));
    EXPECT_EQ(eval("events.sort().join(',')"), "error,load");
    // The markup's image loads on its own and may still be on its way.
    EXPECT_TRUE(clock.runUntil([&] { return services.requestCount("/web/pixel.gif") == 2; }, 10));
}

TEST_F(WebViewScripts, ConsoleWritesToThePlatformLog) {
    platform::LogCapture log;
    loadHTML("<script>console.log('hello', 42, {a: 1});</script>");
    EXPECT_TRUE(log.contains("hello 42 [object Object]"));
}

TEST_F(WebViewScripts, AnEndlessLoopIsStoppedByTheBudgetAndReported) {
    platform::LogCapture log;
    loadHTML("<script>var before = 'ran';</script>"
             "<script>while (true) { try { for (;;) {} } catch (e) {} }</script>"
             "<script>var after = 'ran';</script>");
    EXPECT_EQ(delegate->events.back(), "finish");
    EXPECT_TRUE(log.contains("time budget")) << ::testing::PrintToString(log.lines());
    EXPECT_EQ(eval("before + ' ' + after"), "ran ran");

    log.clear();
    EXPECT_EQ(eval("for (;;) {}"), "");
    EXPECT_TRUE(log.contains("time budget"));
    // A timer that never ends is stopped too, and the page stays usable.
    eval("setTimeout(function () { while (true) {} }, 10)");
    log.clear();
    clock.advance(0.01);
    EXPECT_TRUE(log.contains("time budget"));
    EXPECT_EQ(eval("1 + 1"), "2");
}

TEST_F(WebViewScripts, APageCannotGrowItsHeapPastTheCap) {
    loadHTML("<p>page</p>");
    EXPECT_EQ(eval("var keep = [], block = 'x'; while (block.length < (1 << 20)) block += block;"
                   "try { for (var i = 0; i < 100000; i++) keep.push(block + i); 'no limit' }"
                   "catch (e) { keep = null; 'capped' }"),
              "capped");
    EXPECT_EQ(eval("document.getElementsByTagName('p')[0].textContent"), "page");
}

// A script source on its way holds the page's scripts and its did-finish, not the main
// thread: the run loop goes on and the app can read the page meanwhile.
TEST_F(WebViewScripts, AScriptSourceOnItsWayHoldsThePageNotTheMainThread) {
    fwtest::LoopbackServices services;
    Gate gate;
    services.handle("GET", "/web/slow.js", [&gate](const services::LoggedRequest&) {
        gate.wait();
        return services::ServiceReply{200, "order.push('slow');", "application/javascript", {}};
    });
    webView->loadHTMLString("<script>var order = ['first'];</script><script src=\"/web/slow.js\"></script>"
                            "<script>order.push('after');</script>"
                            "<body onload=\"order.push('onload')\"></body>",
                            services.urlFor("/web/index.html"));
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/web/slow.js") == 1; }));
    bool answered = false;
    platform::RunLoop::main().perform([&] { answered = true; });
    ASSERT_TRUE(clock.runUntil([&] { return answered; }));
    EXPECT_EQ(eval("order.join(',')"), "first");
    EXPECT_EQ(eval("document.readyState"), "loading");
    EXPECT_EQ(delegate->count("finish"), 0u);
    EXPECT_TRUE(webView->isLoading());

    gate.open();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") == 1; }));
    EXPECT_EQ(eval("order.join(',')"), "first,slow,after,onload");
}

// A page fetches a bounded number of script sources, within a bounded time in all; past
// either bound the rest are skipped and the page still loads.
TEST_F(WebViewScripts, ScriptSourcesAreBoundedInNumberAndTotalTime) {
    using platform::WebView;
    fwtest::LoopbackServices services;
    services.handle("GET", "/web/count.js", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "count++;", "application/javascript", {}};
    });
    Gate gate;
    services.handle("GET", "/web/hang.js", [&gate](const services::LoggedRequest&) {
        gate.wait();
        return services::ServiceReply{200, "hung++;", "application/javascript", {}};
    });

    platform::LogCapture log;
    std::string many = "<script>var count = 0;</script>";
    for (std::size_t i = 0; i < WebView::kMaximumScriptSources + 5; ++i)
        many += "<script src=\"/web/count.js?n=" + std::to_string(i) + "\"></script>";
    loadHTML(many + "<script>var done = true;</script>", services.url("/web/index.html"));
    EXPECT_EQ(services.requestCount("/web/count.js"), WebView::kMaximumScriptSources);
    EXPECT_EQ(eval("count + ' ' + done"), std::to_string(WebView::kMaximumScriptSources) + " true");
    EXPECT_TRUE(log.contains("skipped script"));

    // Each source stays under its own time-out, but together they run over the page's time.
    static_assert(WebView::kScriptFetchTimeoutSeconds + 0.5 < WebView::kScriptSourcesTimeBudgetSeconds);
    log.clear();
    const std::size_t finished = delegate->count("finish");
    webView->loadHTMLString(
        "<script>var hung = 0, order = [];</script>"
        "<script src=\"/web/hang.js?1\"></script><script src=\"/web/hang.js?2\"></script>"
        "<script src=\"/web/count.js?late\"></script><script>order.push('inline');</script>",
        services.urlFor("/web/index.html"));
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/web/hang.js") == 1; }));
    // The first source times out on its own; the second starts with the page's time nearly spent.
    clock.advance(WebView::kScriptFetchTimeoutSeconds + 0.5);
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/web/hang.js") == 2; }));
    EXPECT_EQ(delegate->count("finish"), finished);
    clock.advance(WebView::kScriptSourcesTimeBudgetSeconds - WebView::kScriptFetchTimeoutSeconds - 0.25);
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") > finished; }));
    EXPECT_EQ(eval("hung + ' ' + order.join(',')"), "0 inline");
    EXPECT_EQ(services.requestCount("/web/count.js"), WebView::kMaximumScriptSources);
    EXPECT_TRUE(log.contains("ran over"));
}

} // namespace
