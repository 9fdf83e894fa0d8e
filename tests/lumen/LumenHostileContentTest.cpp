// Hostile replies to the Lumen banner, through its real entry point over loopback: each row
// serves one hostile ad page or redirect, then checks that nothing on disk changed outside the
// client's own cache folder and preferences, that the main thread keeps answering, what the
// row itself bounds, and that the next (good) ad still shows.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "LumenTestSupport.h"
#include "lumen/Screens.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FolderSnapshot.h"

using lumen::LMNObjectPrivate;
using lumentest::countOf;
using lumentest::LumenFixture;

class LumenHostileContent : public LumenFixture {};

TEST_F(LumenHostileContent, HostileRepliesStayInTheirBox) {
    services.setFault("/slow.js", services::Fault::delay(30));
    const std::string slowScript = services.url("/slow.js");
    const std::string creative = std::string(services::kLumenCreativePath);
    // The person's files that a page must not reach.
    const auto documents = home.root() / "Documents";
    std::ofstream(documents / "diary.html") << "<p id='diary'>the person's diary</p>";
    std::ofstream(documents / "outside.js") << "window.outside = 'ran';";
    const std::string diaryURL = platform::URL::fileURL(documents / "diary.html").absoluteString();
    const std::string outsideURL = platform::URL::fileURL(documents / "outside.js").absoluteString();
    auto page = [](const std::string& body, std::vector<services::NameValue> headers = {}) {
        return services::ServiceReply{200, body, "text/html", std::move(headers)};
    };
    auto redirect = [](const std::string& location) {
        return services::ServiceReply{302, "", "text/plain", {{"Location", location}}};
    };

    struct Row {
        const char* name;
        std::optional<services::ServiceReply> ad;       // the ad request's reply (a redirect)
        std::optional<services::ServiceReply> creative; // the ad page's reply
        // Row-specific checks once the hostile ad has ended (received or failed).
        std::function<void(lumen::LMNBannerView&, const platform::LogCapture&)> check;
        // The page waits on a script source the server holds: the wait holds neither the ad's
        // end nor the main thread.
        bool waitsOnScript = false;
    };
    const std::vector<Row> rows = {
        {"the page navigates to a local file, and asks the browser for one", std::nullopt,
         page("<p>ad</p><script>location.href = 'file:///etc/hostname';</script>"),
         [&](lumen::LMNBannerView& banner, const platform::LogCapture&) {
             clock.drain();
             EXPECT_EQ(banner.webView()->request()->url().scheme(), "http");
             // The page's open message names the person's file: the browser shows, but not it.
             banner.webView()->stringByEvaluatingJavaScriptFromString(
                 "location.href = 'lumen://launch?url=' + encodeURIComponent('" + diaryURL + "');");
             ASSERT_TRUE(waitFor([&] { return countOf(*events, "willPresent") == 1; }));
             clock.advance(1);
             auto browser = std::dynamic_pointer_cast<lumen::LMNBrowserController>(
                 rootController->presentedViewController());
             ASSERT_NE(browser, nullptr);
             ASSERT_TRUE(waitFor([&] { return browser->webView() && !browser->webView()->isLoading(); }));
             clock.drain();
             if (auto shown = browser->webView()->request()) {
                 EXPECT_NE(shown->url().scheme(), "file");
             }
             EXPECT_EQ(browser->webView()->elementById("diary"), nullptr);
             browser->relinquishScreen();
             clock.advance(1);
             // Nor is a local file handed to another application.
             for (const auto& opened : platform::Application::shared().openedURLs())
                 EXPECT_FALSE(opened.starts_with("file:")) << opened;
         }},
        {"the page probes and loads local files", std::nullopt,
         page("<script src=\"" + outsideURL +
              "\"></script><script>var probe = 'none';"
              "var i = new Image(); i.onload = function () { probe = 'load'; };"
              "i.onerror = function () { probe = 'error'; }; i.src = 'file:///etc/passwd';</script>"),
         [&](lumen::LMNBannerView& banner, const platform::LogCapture&) {
             ASSERT_TRUE(waitFor([&] {
                 return banner.webView()->stringByEvaluatingJavaScriptFromString("probe") != "none";
             }));
             EXPECT_EQ(banner.webView()->stringByEvaluatingJavaScriptFromString("probe"), "error");
             EXPECT_EQ(banner.webView()->stringByEvaluatingJavaScriptFromString("String(window.outside)"),
                       "undefined");
         }},
        {"the page runs an endless script", std::nullopt, page("<p>ad</p><script>for (;;) {}</script>"),
         [&](lumen::LMNBannerView&, const platform::LogCapture& log) {
             EXPECT_TRUE(log.contains("time budget"));
             EXPECT_EQ(countOf(*events, "didReceiveAd"), 1u);
         }},
        {"the page waits on a slow script source", std::nullopt,
         page("<p>ad</p><script src=\"" + slowScript + "\"></script>"),
         [&](lumen::LMNBannerView&, const platform::LogCapture&) {
             EXPECT_EQ(services.requestCount("/slow.js"), 1u);
         },
         true},
        {"a refresh interval past every number", std::nullopt,
         page("<p>ad</p>", {{"X-Luma-Refresh-Rate", "-1e400"}}),
         [&](lumen::LMNBannerView& banner, const platform::LogCapture&) {
             clock.advance(1e6);
             EXPECT_EQ(countOf(*events, "didReceiveAd"), 1u);
             EXPECT_GE(banner.privateObject().reloadSeconds(), 0);
         }},
        {"a redirect to a local file", redirect("file:///etc/passwd"), std::nullopt,
         [&](lumen::LMNBannerView&, const platform::LogCapture&) {
             EXPECT_EQ(countOf(*events, "didReceiveAd"), 0u);
         }},
        {"a redirect to a host that names a folder", redirect("http://../creative"), std::nullopt, nullptr},
        {"an unknown scheme", redirect("lumen-evil://x/y"), std::nullopt,
         [&](lumen::LMNBannerView&, const platform::LogCapture&) {
             EXPECT_EQ(countOf(*events, "didReceiveAd"), 0u);
         }},
        {"an oversized page", std::nullopt,
         page(std::string(lumen::LMNCachedFile::kMaximumBodyBytes + 1024, 'x')),
         [&](lumen::LMNBannerView&, const platform::LogCapture&) {
             EXPECT_EQ(countOf(*events, "didReceiveAd"), 0u);
         }},
        {"a malformed page", std::nullopt, page("<html><body><div><script>var x = '</scr"), nullptr},
        {"an error status", std::nullopt, services::ServiceReply{500, "<p>error page</p>", "text/html", {}},
         [&](lumen::LMNBannerView&, const platform::LogCapture&) {
             EXPECT_EQ(countOf(*events, "didReceiveAd"), 0u);
         }},
    };

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        platform::FileManager::removeItem(home.root() / "Library/Caches");
        platform::UserDefaults::standard().removeObjectForKey("lumen_stats_LMNObjectPrivate");
        services::installLumenEndpoints(services.host());
        if (row.ad) {
            const auto reply = *row.ad;
            services.handle("GET", std::string(services::kLumenAdPath),
                            [reply](const services::LoggedRequest&) { return reply; });
        }
        if (row.creative) {
            const auto reply = *row.creative;
            services.handle("GET", creative, [reply](const services::LoggedRequest&) { return reply; });
        }
        const auto before = fwtest::FolderSnapshot::of(home.root());
        platform::LogCapture log;
        events->clear();

        auto banner = makeBanner();
        banner->loadRequest(nullptr);
        if (row.waitsOnScript) {
            ASSERT_TRUE(waitFor([&] { return services.requestCount("/slow.js") == 1; }));
            EXPECT_TRUE(fwtest::mainThreadAnswers());
            EXPECT_EQ(*events, std::vector<std::string>{}) << "the ad ended before its script source came";
        }
        // A page that waits on a script source finishes once that source times out.
        if (!waitFor([&] { return !events->empty(); }, 2.0))
            clock.advance(platform::WebView::kScriptFetchTimeoutSeconds);
        ASSERT_TRUE(waitFor([&] { return !events->empty(); }));
        EXPECT_TRUE(fwtest::mainThreadAnswers());
        if (row.check)
            row.check(*banner, log);
        // The cache and preferences are the client's; the device identifier is made on first use.
        EXPECT_EQ(fwtest::FolderSnapshot::of(home.root())
                      .changesOutside(before,
                                      {"Library/Caches", "Library/Preferences", "Library/DeviceIdentifier"}),
                  std::vector<std::string>{});

        // The next ad is a good one, and shows.
        services::installLumenEndpoints(services.host());
        events->clear();
        banner->loadRequest(nullptr);
        ASSERT_TRUE(waitFor([&] { return countOf(*events, "didReceiveAd") == 1; }));
        EXPECT_NE(banner->webView()->elementById("creative"), nullptr);
        banner->removeFromSuperview();
    }
}
