// Hostile replies to the Orbis banner, through its real entry point over loopback: each row
// serves one reply, then checks that nothing on disk changed outside the client's own
// preferences, that the main thread keeps answering, what the row itself bounds, and that the
// next (good) ad still shows.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "OrbisTestSupport.h"
#include "orbis/APIRequest.h"
#include "orbis/EmbededWebViewController.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "support/FolderSnapshot.h"

using orbis::OrbisAdManager;
using orbis::OrbisAdView;

namespace {

std::string adXML(const std::string& markup, const std::string& size = "width=\"320\" height=\"50\"",
                  const std::string& adURL = "http://127.0.0.1:9/click") {
    return "<Ad type=\"banner\" actionType=\"2\" " + size + "><AdURL>" + adURL + "</AdURL><![CDATA[" +
           markup + "]]></Ad>";
}

// What the page of the ad on screen answers for `script` ("" when neither view has it).
std::string evaluateInAd(OrbisAdManager& banner, const std::string& script) {
    for (const auto& view : {banner.webView1(), banner.webView2()})
        if (view)
            if (auto answer = view->stringByEvaluatingJavaScriptFromString(script); !answer.empty())
                return answer;
    return {};
}

} // namespace

class OrbisHostileContent : public orbistest::OrbisFixture {
protected:
    OrbisHostileContent() { delegate->root = rootController; }
    std::shared_ptr<orbistest::TestDelegate> delegate = std::make_shared<orbistest::TestDelegate>(events);
};

TEST_F(OrbisHostileContent, HostileRepliesStayInTheirBox) {
    const std::string good = adXML("<p>good ad</p>");
    services.handle("POST", "/cached/showad.asm", [good](const services::LoggedRequest&) {
        return services::ServiceReply{200, good, "text/xml", {}};
    });
    services.setFault("/slow.js", services::Fault::delay(30));
    const std::string slowScript = services.url("/slow.js");
    // A script among the person's files that a page must not run.
    std::ofstream(home.root() / "Documents" / "outside.js") << "window.outside = 'ran';";
    const std::string outsideURL =
        platform::URL::fileURL(home.root() / "Documents" / "outside.js").absoluteString();

    // A click whose reply leads to one of the person's files.
    std::ofstream(home.root() / "Documents" / "secret.txt") << "the person's secret";
    const std::string secretURL =
        platform::URL::fileURL(home.root() / "Documents" / "secret.txt").absoluteString();
    services.handle("POST", "/click-to-file", [secretURL](const services::LoggedRequest&) {
        return services::ServiceReply{302, "", "text/plain", {{"Location", secretURL}, {"Action-Type", "2"}}};
    });

    struct Row {
        const char* name;
        services::ServiceReply reply;
        // Row-specific checks once the hostile ad has ended (received or failed).
        std::function<void(OrbisAdManager&, const platform::LogCapture&)> check;
        // The markup waits on a script source the server holds: the wait holds neither the
        // ad's end nor the main thread.
        bool waitsOnScript = false;
    };
    const std::vector<Row> rows = {
        {"markup navigates to a local file",
         {200, adXML("<p>ad</p><script>location.href = 'file:///etc/hostname';</script>"), "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture& log) {
             ASSERT_TRUE(waitFor([&] { return log.contains("refused navigation to file:///etc/hostname"); }));
         }},
        {"markup probes and loads local files",
         {200,
          adXML("<script src=\"" + outsideURL +
                "\"></script><script>var probe = 'none';"
                "var i = new Image(); i.onload = function () { probe = 'load'; };"
                "i.onerror = function () { probe = 'error'; }; i.src = 'file:///etc/passwd';</script>"),
          "text/xml",
          {}},
         [&](OrbisAdManager& banner, const platform::LogCapture&) {
             ASSERT_TRUE(waitFor([&] { return evaluateInAd(banner, "probe") != "none"; }));
             EXPECT_EQ(evaluateInAd(banner, "probe"), "error");
             EXPECT_EQ(evaluateInAd(banner, "String(window.outside)"), "undefined");
         }},
        {"markup runs an endless script",
         {200, adXML("<p>ad</p><script>for (;;) {}</script>"), "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture& log) { EXPECT_TRUE(log.contains("time budget")); }},
        {"markup waits on a slow script source",
         {200, adXML("<p>ad</p><script src=\"" + slowScript + "\"></script>"), "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture&) {
             EXPECT_EQ(services.requestCount("/slow.js"), 1u);
         },
         true},
        {"a cached life past every integer",
         {200,
          good,
          "text/xml",
          {{"Orbiscachedserver", services.url("/cached/showad.asm?")},
           {"Orbiscachedlife", "9223372036854775807"}}},
         [&](OrbisAdManager& banner, const platform::LogCapture&) {
             EXPECT_EQ(platform::UserDefaults::standard().integerForKey(orbis::kOrbisCachedLifeKey),
                       std::numeric_limits<std::int64_t>::max());
             // The life has not run out: the next ad comes from the cached server.
             const std::size_t received = orbistest::countOf(*events, "received");
             banner.loadNewAd();
             clock.advance(OrbisAdManager::kRequestDelaySeconds);
             EXPECT_TRUE(waitFor([&] { return orbistest::countOf(*events, "received") > received; }));
             EXPECT_EQ(services.requestCount("/cached/showad.asm"), 1u);
         }},
        {"a cached server that is a local file",
         {200, good, "text/xml", {{"Orbiscachedserver", "file:///etc/passwd"}, {"Orbiscachedlife", "600"}}},
         [&](OrbisAdManager&, const platform::LogCapture&) {
             EXPECT_NE(platform::UserDefaults::standard().stringForKey(orbis::kOrbisCachedServerKey),
                       "file:///etc/passwd");
         }},
        {"sizes past every screen and below zero",
         {200, adXML("<p>ad</p>", "width=\"2147483647\" height=\"-1e300\""), "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture&) {
             EXPECT_EQ(orbistest::countOf(*events, "failed"), 1u);
         }},
        {"a click redirected to a file of the person's",
         {200,
          adXML("<p>ad</p>", "width=\"320\" height=\"50\"", services.url("/click-to-file")),
          "text/xml",
          {}},
         [&](OrbisAdManager& banner, const platform::LogCapture&) {
             platform::Application::shared().simulateTap({160, 25}, window);
             ASSERT_TRUE(waitFor([&] { return banner.clickRequest() == nullptr; }));
             clock.advance(OrbisAdManager::kLandingPageDelaySeconds);
             EXPECT_EQ(services.requestCount("/click-to-file"), 1u);
             auto presented = std::dynamic_pointer_cast<platform::NavigationController>(
                 rootController->presentedViewController());
             if (!presented)
                 return; // the redirect target was handed on to nobody
             ADD_FAILURE() << "a landing page opened for the redirect to a local file";
             auto page =
                 std::dynamic_pointer_cast<orbis::EmbededWebViewController>(presented->topViewController());
             ASSERT_NE(page, nullptr);
             ASSERT_TRUE(waitFor([&] { return page->webView() && !page->webView()->isLoading(); }));
             EXPECT_EQ(page->webView()->stringByEvaluatingJavaScriptFromString("document.body.textContent"),
                       "");
             page->backButtonClicked();
             clock.advance(platform::kModalTransitionDuration + OrbisAdManager::kDismissNoticeDelaySeconds);
         }},
        {"a click link of an unknown scheme",
         {200, adXML("<p>ad</p>", "width=\"320\" height=\"50\"", "javascript:alert(1)"), "text/xml", {}},
         nullptr},
        {"a malformed reply",
         {200, "<Ad type=\"banner\" width=\"320\"><AdURL>http://x/</AdURL><![CDATA[<p>", "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture&) {
             EXPECT_EQ(orbistest::countOf(*events, "failed"), 1u);
         }},
        {"an oversized reply",
         {200, adXML(std::string(orbis::APIRequest::kMaximumReplyBytes + 1024, 'x')), "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture&) {
             EXPECT_EQ(orbistest::countOf(*events, "failed"), 1u);
         }},
        {"an error status",
         {500, good, "text/xml", {}},
         [&](OrbisAdManager&, const platform::LogCapture&) {
             EXPECT_EQ(orbistest::countOf(*events, "failed"), 1u);
         }},
    };

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto& defaults = platform::UserDefaults::standard();
        for (auto key :
             {orbis::kOrbisCachedServerKey, orbis::kOrbisCachedLifeKey, orbis::kOrbisCachedTimestampKey})
            defaults.removeObjectForKey(key);
        const auto before = fwtest::FolderSnapshot::of(home.root());
        platform::LogCapture log;
        events->clear();
        const services::ServiceReply hostile = row.reply;
        services.handle("POST", std::string(services::kOrbisAdPath),
                        [hostile](const services::LoggedRequest&) { return hostile; });

        auto banner = OrbisAdView::startOrbisAdEngineAttachedDelegate(delegate);
        ASSERT_NE(banner, nullptr);
        window->addSubview(banner);
        clock.advance(OrbisAdManager::kRequestDelaySeconds);
        if (row.waitsOnScript) {
            ASSERT_TRUE(waitFor([&] { return services.requestCount("/slow.js") == 1; }));
            EXPECT_TRUE(fwtest::mainThreadAnswers());
            EXPECT_EQ(*events, std::vector<std::string>{}) << "the ad ended before its script source came";
        }
        // A page that never finishes loading is ended by the banner's watchdog.
        auto ended = [&] { return banner->isAdRequestDone() && !events->empty(); };
        if (!waitFor(ended, 2.0))
            clock.advance(OrbisAdManager::kLoadWatchdogSeconds);
        ASSERT_TRUE(waitFor(ended));
        EXPECT_TRUE(fwtest::mainThreadAnswers());
        if (row.check)
            row.check(*banner, log);
        // The preferences are the client's; the device identifier is made on first use.
        EXPECT_EQ(fwtest::FolderSnapshot::of(home.root())
                      .changesOutside(before, {"Library/Preferences", "Library/DeviceIdentifier"}),
                  std::vector<std::string>{});

        // The next ad is a good one, and shows.
        services.handle("POST", std::string(services::kOrbisAdPath), [good](const services::LoggedRequest&) {
            return services::ServiceReply{200, good, "text/xml", {}};
        });
        events->clear();
        banner->loadNewAd();
        clock.advance(OrbisAdManager::kRequestDelaySeconds);
        ASSERT_TRUE(waitFor([&] { return orbistest::countOf(*events, "received") == 1; }));
        const auto text = [](const std::shared_ptr<platform::WebView>& view) {
            return view ? view->stringByEvaluatingJavaScriptFromString("document.body.textContent") : "";
        };
        EXPECT_TRUE(text(banner->webView1()) == "good ad" || text(banner->webView2()) == "good ad");
        banner->removeFromSuperview();
        banner->setDelegate(nullptr);
    }
}
