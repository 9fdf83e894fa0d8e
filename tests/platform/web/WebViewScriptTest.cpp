#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "platform/foundation/Log.h"
#include "support/LoopbackServices.h"

namespace {

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
    auto fileScript = writeFile("third.js", "order.push('file:' + order.length);");

    const std::string html = "<html><head><script>var order = ['inline:0'];</script>"
                             "<script src=\"/web/second.js\"></script>"
                             "<script src=\"/web/broken.js\"></script>"
                             "<script src=\"" +
                             fileScript.absoluteString() +
                             "\"></script>"
                             "<script type=\"text/template\">order.push('template');</script>"
                             "</head><body onload=\"order.push('onload:' + order.length)\">"
                             "<p id=early></p><script>order.push('body:' + order.length + ':' + "
                             "document.getElementById('early').tagName)</script></body></html>";
    loadHTML(html, services.url("/web/index.html"));
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
    ASSERT_TRUE(clock.runUntil([&] { return eval("events.length") == "2"; }, 10));
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

} // namespace
