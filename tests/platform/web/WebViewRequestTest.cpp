#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "platform/ui/ScrollView.h"
#include "support/LoopbackServices.h"

namespace {

using platform::URL;
using platform::URLRequest;
using platform::WebView;
using webtest::WebViewTest;

using WebViewRequests = WebViewTest;

// Every navigation the page or the caller starts reaches the navigation question with the
// view's user-agent text, custom schemes included; a caller's own text is kept; the loads
// and the page's script fetches send it to the server.
TEST_F(WebViewRequests, TheNavigationQuestionAndTheServerSeeTheUserAgent) {
    fwtest::LoopbackServices services;
    services.handle("GET", "/web/ua.html", [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, "<a id=msg href='lumenmsg://ping'>m</a><script src='/web/ua.js'></script>", "text/html", {}};
    });
    services.handle("GET", "/web/ua.js", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, "var loaded = 1;", "text/javascript", {}};
    });

    std::vector<std::pair<std::string, std::string>> offered; // URL, User-Agent
    delegate->decide = [&](const URLRequest& request, platform::WebViewNavigationType) {
        offered.emplace_back(request.url().absoluteString(),
                             request.valueForHTTPHeaderField("User-Agent").value_or("<none>"));
        return request.url().scheme() != "lumenmsg";
    };
    const std::string agent(WebView::kUserAgent);

    webView->loadRequest(URLRequest(services.urlFor("/web/ua.html")));
    ASSERT_TRUE(clock.runUntil([&] { return delegate->ended(); }));
    ASSERT_EQ(delegate->count("finish"), 1u);
    ASSERT_TRUE(webView->clickLinkWithId("msg"));
    eval("location.href = 'custom://script/change';");
    clock.drain();

    URLRequest own(services.urlFor("/web/ua.html"));
    own.setValue("Caller/1.0", "User-Agent");
    webView->loadRequest(own);
    ASSERT_TRUE(clock.runUntil([&] { return delegate->count("finish") == 2; }));

    ASSERT_EQ(offered.size(), 4u);
    EXPECT_EQ(offered[0], std::make_pair(services.url("/web/ua.html"), agent));
    EXPECT_EQ(offered[1], std::make_pair(std::string("lumenmsg://ping"), agent));
    EXPECT_EQ(offered[2], std::make_pair(std::string("custom://script/change"), agent));
    EXPECT_EQ(offered[3], std::make_pair(services.url("/web/ua.html"), std::string("Caller/1.0")));

    auto pages = services.requestsTo("/web/ua.html");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].header("User-Agent"), agent);
    EXPECT_EQ(pages[1].header("User-Agent"), "Caller/1.0");
    auto scripts = services.requestsTo("/web/ua.js");
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts[0].header("User-Agent"), agent);
    // The page's own navigator tells the same text.
    EXPECT_EQ(eval("navigator.userAgent"), agent);
}

TEST_F(WebViewRequests, FlagsAreStoredAndTheScrollViewIsTheFirstSubview) {
    EXPECT_FALSE(webView->allowsInlineMediaPlayback());
    EXPECT_TRUE(webView->mediaPlaybackRequiresUserAction());
    EXPECT_EQ(webView->dataDetectorTypes(), platform::kDataDetectorTypePhoneNumber);
    webView->setAllowsInlineMediaPlayback(true);
    webView->setMediaPlaybackRequiresUserAction(false);
    webView->setDataDetectorTypes(platform::kDataDetectorTypeNone);
    EXPECT_TRUE(webView->allowsInlineMediaPlayback());
    EXPECT_FALSE(webView->mediaPlaybackRequiresUserAction());
    EXPECT_EQ(webView->dataDetectorTypes(), platform::kDataDetectorTypeNone);

    ASSERT_FALSE(webView->subviews().empty());
    auto scroll = std::dynamic_pointer_cast<platform::ScrollView>(webView->subviews().front());
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll, webView->scrollView());
    EXPECT_TRUE(scroll->isScrollEnabled() && scroll->bounces() && scroll->scrollsToTop());
    scroll->setScrollEnabled(false);
    scroll->setBounces(false);
    scroll->setScrollsToTop(false);
    EXPECT_FALSE(webView->scrollView()->isScrollEnabled() || webView->scrollView()->bounces() ||
                 webView->scrollView()->scrollsToTop());

    // The scroll view follows the web view's size and leaves touches to the web view.
    webView->setFrame(platform::Rect{0, 0, 300, 250});
    EXPECT_EQ(scroll->frame(), (platform::Rect{0, 0, 300, 250}));
    EXPECT_EQ(webView->hitTest(platform::Point{10, 10}, nullptr), webView);
}

} // namespace
