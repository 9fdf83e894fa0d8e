#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "WebTestSupport.h"
#include "platform/foundation/Log.h"

namespace {

using platform::URL;
using webtest::WebViewTest;

using WebViewLocalFiles = WebViewTest;

// Which pages may reach which files, through each way a page loads one: a src script, an
// image (new Image() answers load or error), and a navigation (offered to the delegate or
// refused before it). The folder "ad" stands for a client's own folder; "secret" lies beside
// it, outside, and "ad/link" is a symbolic link from inside to it.
TEST_F(WebViewLocalFiles, APageReachesOnlyFilesInsideItsOwnFolder) {
    const auto tmp = home.root() / "tmp";
    for (const char* stem : {"ad/ok", "secret"}) {
        writeFile(std::string(stem) + ".js", "var scriptRan = true;");
        writeFile(std::string(stem) + ".gif", "GIF89a");
        writeFile(std::string(stem) + ".html", "<p>page</p>");
    }
    for (const char* ext : {".js", ".gif", ".html"})
        std::filesystem::create_symlink(tmp / (std::string("secret") + ext),
                                        tmp / "ad" / (std::string("link") + ext));
    const std::string inside = URL::fileURL(tmp / "ad" / "ok").absoluteString();
    const std::string outside = URL::fileURL(tmp / "secret").absoluteString();
    const std::string folderPage = URL::fileURL(tmp / "ad" / "index.html").absoluteString();
    const std::string folderBase = URL::fileURL(tmp / "ad").absoluteString() + "/";
    std::string shouting = outside;
    shouting.replace(0, 4, "FILE");

    struct Case {
        const char* name;
        std::optional<std::string> base; // nullopt: a string page without a base URL
        std::string target;              // a stem: ".js", ".gif" and ".html" are added
        bool allowed;
    };
    const Case cases[] = {
        {"network page, file in a folder", "http://ads.example/page/index.html", inside, false},
        {"network page, any local file", "http://ads.example/page/index.html", outside, false},
        {"page without a base", std::nullopt, inside, false},
        {"folder page, its own file", folderPage, "ok", true},
        {"folder page, its own file by full URL", folderPage, inside, true},
        {"folder page, parent folder", folderPage, "../secret", false},
        {"folder page, escaped parent", folderPage, "%2e%2e/secret", false},
        {"folder page, link leading out", folderPage, "link", false},
        {"folder page, file elsewhere", folderPage, outside, false},
        {"folder page, upper-case scheme", folderPage, shouting, false},
        {"folder base URL, its own file", folderBase, "ok", true},
        {"folder base URL, parent folder", folderBase, "../secret", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::LogCapture log;
        const std::string html = "<script src=\"" + c.target +
                                 ".js\"></script><script>var image;"
                                 "var img = new Image(); img.onload = function () { image = 'load'; };"
                                 "img.onerror = function () { image = 'error'; }; img.src = '" +
                                 c.target + ".gif';</script>";
        const std::size_t before = delegate->count("finish");
        webView->loadHTMLString(html, c.base ? URL::parse(*c.base) : std::nullopt);
        ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") > before; }));
        EXPECT_EQ(eval("typeof scriptRan !== 'undefined'"), c.allowed ? "true" : "false");
        ASSERT_TRUE(clock.runUntil([&] { return !eval("image").empty(); }));
        EXPECT_EQ(eval("image"), c.allowed ? "load" : "error");

        delegate->events.clear();
        eval("location.href = '" + c.target + ".html'");
        ASSERT_TRUE(
            clock.runUntil([&] { return !delegate->events.empty() || log.contains("refused navigation"); }));
        const bool offered =
            !delegate->events.empty() && delegate->events.front().rfind("should file:", 0) == 0;
        EXPECT_EQ(offered, c.allowed);
        ASSERT_TRUE(clock.runUntil([&] { return !webView->isLoading(); }));
    }
}

// A load the app makes with a URL a page chose is held to that page's rule: a file outside the
// page's folder fails (-1102) and shows nothing; the same load without a page is the app's own.
// Going back to such a load keeps its rule.
TEST_F(WebViewLocalFiles, ALoadForAPageFollowsThatPagesRule) {
    const auto tmp = home.root() / "tmp";
    const std::string own = writeFile("ad/own.html", "<p>own</p>").absoluteString();
    const std::string secret = writeFile("secret.html", "<p>secret</p>").absoluteString();
    std::filesystem::create_symlink(tmp / "secret.html", tmp / "ad" / "link.html");
    const std::string link = URL::fileURL(tmp / "ad" / "link.html").absoluteString();
    const std::string adPage = URL::fileURL(tmp / "ad" / "index.html").absoluteString();
    const std::string adFolder = URL::fileURL(tmp / "ad").absoluteString() + "/";
    struct Case {
        const char* name;
        std::string page;
        std::string target;
        bool shown;
    };
    const Case cases[] = {
        {"folder page, its own file", adPage, own, true},
        {"folder URL, its own file", adFolder, own, true},
        {"folder page, a file beside its folder", adPage, secret, false},
        {"folder page, through its folder and out", adFolder, adFolder + "../secret.html", false},
        {"folder page, a link leading out", adPage, link, false},
        {"folder named without its slash: the folder it lies in", URL::fileURL(tmp / "ad").absoluteString(),
         own, true},
        {"network page, any file", "http://ads.example/page/index.html", own, false},
        {"blank page, any file", "about:blank", own, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate->events.clear();
        webView->loadRequest(platform::URLRequest(*URL::parse(c.target)), *URL::parse(c.page));
        ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }));
        EXPECT_EQ(delegate->count("finish"), c.shown ? 1u : 0u);
        EXPECT_EQ(delegate->count("fail -1102"), c.shown ? 0u : 1u);
        if (!c.shown) {
            EXPECT_EQ(eval("document.body ? document.body.textContent : ''").find("secret"),
                      std::string::npos);
        }
    }
    // The app's own load of the same file is limited only by the view's readable folder.
    delegate->events.clear();
    webView->loadRequest(platform::URLRequest(*URL::parse(secret)));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->count("finish"), 1u);

    // Back to a load made for a page, after the page's file was swapped for a link out: the
    // rule still holds.
    delegate->events.clear();
    webView->loadRequest(platform::URLRequest(*URL::parse(own)), *URL::parse(adPage));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }));
    webView->loadRequest(platform::URLRequest(*URL::parse("about:blank")));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") == 2; }));
    std::filesystem::remove(tmp / "ad" / "own.html");
    std::filesystem::create_symlink(tmp / "secret.html", tmp / "ad" / "own.html");
    delegate->events.clear();
    webView->goBack();
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->count("fail -1102"), 1u);
}

// A link, a form and window.open from a network page are held to the same rule, and the page
// stays as it was.
TEST_F(WebViewLocalFiles, EveryKindOfNavigationFromANetworkPageIsRefused) {
    writeFile("secret.html", "<p>secret</p>");
    const std::string secret = URL::fileURL(home.root() / "tmp" / "secret.html").absoluteString();
    platform::LogCapture log;
    loadHTML("<a id=link href=\"" + secret + "\">x</a><form id=f action=\"" + secret +
             "\"><input id=send type=submit></form><p id=still>here</p>");
    delegate->events.clear();
    webView->clickLinkWithId("link");
    webView->clickLinkWithId("send");
    eval("window.open('" + secret + "')");
    ASSERT_TRUE(clock.runUntil([&] { return log.lines().size() >= 3; }));
    clock.drain();
    EXPECT_TRUE(delegate->events.empty());
    EXPECT_TRUE(webView->elementById("still"));
}

} // namespace
