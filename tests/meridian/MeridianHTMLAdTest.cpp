// Meridian HTML ads: the page functions as a table, the remembered answers, the polls on the
// manual clock, and the two buffers with their cross-fade and link handling.
#include "MeridianTestSupport.h"

#include "meridian/MRHTMLAd.h"
#include "meridian/MRHTMLAdView.h"

using namespace meridiantest;
using meridian::MRHTMLAd;

namespace {

class MeridianHTMLAd : public MeridianFixture {
protected:
    // An ad model over a page whose <script> is `script`, once the page has loaded.
    std::shared_ptr<MRHTMLAd> adWithScript(const std::string& script) {
        auto webView = std::make_shared<platform::WebView>(platform::Rect(0, 0, 320, 50));
        auto ad = MRHTMLAd::create("<div id=\"ready\"></div><script>" + script + "</script>", webView, false);
        EXPECT_TRUE(
            waitFor([&] { return webView->elementById("ready") != nullptr && !webView->isLoading(); }));
        return ad;
    }
    // Counts posts of `name` while it lives.
    std::shared_ptr<int> countPosts(std::string_view name) {
        auto count = std::make_shared<int>(0);
        tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
            name, [count](const platform::Notification&) { ++*count; }));
        return count;
    }
    std::vector<platform::NotificationCenter::ObserverToken> tokens;
};

std::string fn(const std::string& name, const std::string& answer) {
    return "function " + name + "() { return \"" + answer + "\"; }";
}

} // namespace

TEST_F(MeridianHTMLAd, PageFunctionAnswers) {
    using Check = std::function<void(MRHTMLAd&)>;
    struct Case {
        std::string script;
        Check check;
    };
    const auto red = platform::Color::rgba(1, 0, 0, 1);
    const auto black = platform::Color::blackColor();
    const Case cases[] = {
        {"", [](MRHTMLAd& ad) { EXPECT_DOUBLE_EQ(ad.transitionDuration(), 0.8); }},
        {fn("transitionDuration", "2"), [](MRHTMLAd& ad) { EXPECT_DOUBLE_EQ(ad.transitionDuration(), 2); }},
        {fn("titleBarColor", "#ff0000"), [&](MRHTMLAd& ad) { EXPECT_EQ(ad.titlebarColor(), red); }},
        {fn("titleBarColor", " ff0000 "), [&](MRHTMLAd& ad) { EXPECT_EQ(ad.titlebarColor(), red); }},
        {fn("titleBarColor", "0,0,1"),
         [](MRHTMLAd& ad) { EXPECT_EQ(ad.titlebarColor(), platform::Color::rgba(0, 0, 1, 1)); }},
        {fn("modalBorderColor", "0.5,0.5,0.5,0.25"),
         [](MRHTMLAd& ad) { EXPECT_EQ(ad.modalBorderColor(), platform::Color::rgba(0.5, 0.5, 0.5, 0.25)); }},
        {fn("titleBarColor", "f00"), [&](MRHTMLAd& ad) { EXPECT_EQ(ad.titlebarColor(), black); }},
        {fn("titleBarColor", "#ff00000"), [&](MRHTMLAd& ad) { EXPECT_EQ(ad.titlebarColor(), black); }},
        {fn("modalBorderColor", "1,2"), [&](MRHTMLAd& ad) { EXPECT_EQ(ad.modalBorderColor(), black); }},
        {"", [&](MRHTMLAd& ad) { EXPECT_EQ(ad.titlebarColor(), black); }},
        {fn("orientationLock", "portrait"), [](MRHTMLAd& ad) { EXPECT_EQ(ad.orientationLock(), 1); }},
        {fn("orientationLock", "landscape"), [](MRHTMLAd& ad) { EXPECT_EQ(ad.orientationLock(), 3); }},
        {fn("orientationLock", "upside"), [](MRHTMLAd& ad) { EXPECT_EQ(ad.orientationLock(), 0); }},
        {"", [](MRHTMLAd& ad) { EXPECT_EQ(ad.overlayTitle(), "Advertisement"); }},
        {fn("overlayTitle", "Hello"), [](MRHTMLAd& ad) { EXPECT_EQ(ad.overlayTitle(), "Hello"); }},
        {"", [](MRHTMLAd& ad) { EXPECT_EQ(ad.overlayTransition(), "SlideUp"); }},
        {fn("overlayTransition", "FlipLeft"),
         [](MRHTMLAd& ad) { EXPECT_EQ(ad.overlayTransition(), "FlipLeft"); }},
        {"", [](MRHTMLAd& ad) { EXPECT_DOUBLE_EQ(ad.alphaForModalBorder(), 1.0); }},
        {fn("modalSize", "300,200"),
         [](MRHTMLAd& ad) {
             EXPECT_EQ(ad.modalSize(), (platform::Size{300, 200}));
         }},
        {fn("modalSize", "300"), [](MRHTMLAd& ad) { EXPECT_EQ(ad.modalSize(), platform::Size{}); }},
        {fn("modalLocation", "1,2,3"),
         [](MRHTMLAd& ad) { EXPECT_EQ(ad.modalLocation(), platform::Point{}); }},
        {fn("modalLocation", "10,20"),
         [](MRHTMLAd& ad) {
             EXPECT_EQ(ad.modalLocation(), (platform::Point{10, 20}));
         }},
        {fn("pointToMimicTap", "5,6"),
         [](MRHTMLAd& ad) {
             EXPECT_EQ(ad.pointToMimicTapAt(), (platform::Point{5, 6}));
         }},
        {"", [](MRHTMLAd& ad) { EXPECT_EQ(ad.openURL(), std::nullopt); }},
        {fn("shouldOpen", "http://example.com/a b"),
         [](MRHTMLAd& ad) {
             ASSERT_TRUE(ad.openURL());
             EXPECT_EQ(ad.openURL()->absoluteString(), "http://example.com/a%20b");
         }},
        {"", [](MRHTMLAd& ad) { EXPECT_TRUE(ad.isBottomBarEnabled()); }},
        {fn("shouldEnableBottomBar", "false"), [](MRHTMLAd& ad) { EXPECT_FALSE(ad.isBottomBarEnabled()); }},
        {"", [](MRHTMLAd& ad) { EXPECT_TRUE(ad.showBottomBar()); }},
        {"", [](MRHTMLAd& ad) { EXPECT_FALSE(ad.shouldShowModal()); }},
        {"", [](MRHTMLAd& ad) { EXPECT_FALSE(ad.showTitlebar()); }},
        {fn("shouldShowTitlebar", "1"), [](MRHTMLAd& ad) { EXPECT_TRUE(ad.showTitlebar()); }},
        {fn("shouldMakeOverlayTransparent", "true"),
         [](MRHTMLAd& ad) { EXPECT_TRUE(ad.shouldMakeOverlayTransparent()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        auto ad = adWithScript(c.script);
        c.check(*ad);
    }
}

TEST_F(MeridianHTMLAd, AYesIsRememberedANoIsAskedAgain) {
    auto ad = adWithScript(
        "var modal = 0; function shouldShowModal() { modal++; return modal == 1 ? 'true' : 'false'; }"
        "var acc = 0; function shouldAccelerate() { acc++; return acc == 2 ? 'true' : 'false'; }");
    EXPECT_TRUE(ad->shouldShowModal());
    EXPECT_TRUE(ad->shouldShowModal());
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("modal"), "1");
    EXPECT_FALSE(ad->shouldAccelerate());
    EXPECT_TRUE(ad->shouldAccelerate());
    EXPECT_TRUE(ad->shouldAccelerate());
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("acc"), "2");
}

TEST_F(MeridianHTMLAd, AnAdWithoutAPageGivesTheFixedAnswers) {
    auto ad = MRHTMLAd::create(std::nullopt, nullptr, true);
    EXPECT_EQ(ad->ad(), "");
    EXPECT_EQ(ad->webView(), nullptr);
    EXPECT_DOUBLE_EQ(ad->transitionDuration(), 0.6);
    EXPECT_TRUE(ad->shouldShowModal());
    EXPECT_TRUE(ad->showBottomBar());
    EXPECT_FALSE(ad->isResizePollRunning());
    meridian::MRBasicAd basic;
    EXPECT_EQ(basic.overlayTitle(), "Advertisement.");
    EXPECT_TRUE(basic.showTitlebar());
    const std::pair<std::string, int> transitions[] = {{"FlipLeft", 1}, {"FlipRight", 2}, {"CurlUp", 3},
                                                       {"CurlDown", 4}, {"SlideUp", 0},   {"", 0}};
    for (const auto& [name, number] : transitions)
        EXPECT_EQ(meridian::MRBasicAd::transitionFromHeader(name), number) << name;
}

TEST_F(MeridianHTMLAd, ResizePollPostsUntilThePageStopsAnswering) {
    auto heights = std::make_shared<std::vector<double>>();
    tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        "MRResizeAdToHeight", [heights](const platform::Notification& n) {
            heights->push_back(std::any_cast<platform::Value>(n.object).doubleOr(-1));
        }));
    auto ad = adWithScript(
        "var n = 0; function shouldResizeAdTo() { n++; return n <= 2 ? '50' : (n == 3 ? '0' : ''); }");
    clock.advance(1);
    clock.advance(1);
    EXPECT_EQ(*heights, (std::vector<double>{50, 50}));
    clock.advance(1); // "0": no post, polling goes on
    EXPECT_TRUE(ad->isResizePollRunning());
    clock.advance(1); // "": the poll stops
    EXPECT_FALSE(ad->isResizePollRunning());
    clock.advance(5);
    EXPECT_EQ(heights->size(), 2u);
}

TEST_F(MeridianHTMLAd, CloseAndBottomBarPolls) {
    auto closes = countPosts("CloseMROverlay");
    auto bottomBars = countPosts("MRBottomBarToBeShown");
    auto ad =
        adWithScript("function shouldCloseOverlay() { return 'true'; }"
                     "var b = 0; function shouldShowBottomBar() { b++; return b >= 2 ? 'true' : 'false'; }");
    ad->startCloseOverlayTimer();
    ad->startBottomBarTimer();
    clock.advance(1);
    clock.advance(1);
    EXPECT_EQ(*closes, 2);
    EXPECT_EQ(*bottomBars, 1);
    EXPECT_FALSE(ad->isBottomBarPollRunning());
    platform::NotificationCenter::defaultCenter().post("MROverlayWillClose");
    EXPECT_FALSE(ad->isClosePollRunning());
    clock.advance(3);
    EXPECT_EQ(*closes, 2);
}

TEST_F(MeridianHTMLAd, RepliesAlternateBetweenTheBuffersWithACrossfade) {
    services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{200,
                                      "<a id='link' href='http://example.com/clicked'>ad</a><script>function "
                                      "transitionDuration() { return '2'; }</script>",
                                      "text/html",
                                      {}};
    });
    auto view = banner();
    auto html = view->htmlAdView();
    ASSERT_TRUE(waitForEvent("succeeded"));
    EXPECT_EQ(html->showingWebView(), html->webView2());
    EXPECT_TRUE(html->webView1()->isHidden());
    EXPECT_FALSE(html->webView2()->isHidden());
    auto fade = html->layer().animationForKey("MRHTMLAdViewCrossfade");
    ASSERT_NE(fade, nullptr);
    EXPECT_DOUBLE_EQ(fade->duration, 2);
    EXPECT_EQ(fade->type, "fade");
    clock.advance(2);
    ASSERT_NE(html->getAd(), nullptr);
    EXPECT_EQ(html->getAd(), html->webView2()->ad());

    // A link click is reported and never navigates the banner.
    auto page = html->webView2()->ad()->webView();
    ASSERT_TRUE(page->clickLinkWithId("link"));
    ASSERT_TRUE(waitForEvent("tapped"));
    clock.drain();
    EXPECT_NE(page->elementById("link"), nullptr);

    view->refreshAd();
    ASSERT_TRUE(waitForEvent("succeeded", 2));
    EXPECT_EQ(html->showingWebView(), html->webView1());
    EXPECT_TRUE(html->webView2()->isHidden());
}

TEST_F(MeridianHTMLAd, AReplyThatIsNotUTF8LoadsNothingAndFails) {
    services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{200, std::string("<p>\xff\xfe</p>"), "text/html", {}};
    });
    auto view = banner();
    ASSERT_TRUE(waitForRequests(services::kMeridianAdPath, 1));
    ASSERT_TRUE(waitFor([&] { return view->htmlAdView()->webView2()->ad() != nullptr; }));
    EXPECT_EQ(view->htmlAdView()->webView2()->ad()->ad(), "");
    ASSERT_TRUE(waitForEvent("failed"));
    clock.drain();
    EXPECT_EQ(*events, std::vector<std::string>{"failed"});
    EXPECT_EQ(view->htmlAdView()->showingWebView(), view->htmlAdView()->webView1());
}

TEST_F(MeridianHTMLAd, AccelerationReachesAPageThatAskedForIt) {
    auto ad = adWithScript(
        "var got = ''; function shouldAccelerate() { return 'true'; }"
        "function didAccelerate(x, y, z) { got = x.toFixed(2) + ',' + y.toFixed(2) + ',' + z.toFixed(2); }");
    ad->didAccelerate(1, 2, 3); // no owning view yet: ignored
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("got"), "");
    auto view = banner(1, false, false);
    ad->setAdView(view);
    ad->htmlDidLoad();
    ad->didAccelerate(1, 2, 3); // the page has not asked yet: ignored
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("got"), "");
    ASSERT_TRUE(ad->shouldAccelerate());
    ad->didAccelerate(1, 2, 3);
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("got"), "0.10,0.20,0.30");
    ad->didAccelerate(1, 2, 3);
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("got"), "0.19,0.38,0.57");
    delegate->accelerometer = false;
    ad->didAccelerate(10, 10, 10);
    EXPECT_EQ(ad->webView()->stringByEvaluatingJavaScriptFromString("got"), "0.19,0.38,0.57");
}

TEST_F(MeridianHTMLAd, ABannerPageThatAsksForReadingsReceivesThem) {
    services.handle("GET", std::string(services::kMeridianAdPath), [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200,
            "<script>var got = []; function shouldAccelerate() { return 'true'; }"
            "function didAccelerate(x, y, z) { got.push(x.toFixed(2) + ',' + z.toFixed(2)); }</script>",
            "text/html", {}};
    });
    auto view = banner();
    ASSERT_TRUE(waitForEvent("succeeded"));
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    EXPECT_DOUBLE_EQ(accelerometer.updateInterval(), 1.0 / 60);
    ASSERT_TRUE(accelerometer.hasDelegate());
    auto page = view->htmlAdView()->getAd()->webView();
    accelerometer.injectAcceleration(1, 0, -1);
    accelerometer.injectAcceleration(1, 0, -1);
    clock.advance(0.1);
    EXPECT_EQ(page->stringByEvaluatingJavaScriptFromString("got.join(' ')"), "0.10,-0.10 0.19,-0.19");
    // The host withdraws its permission: readings stop reaching the page.
    delegate->accelerometer = false;
    accelerometer.injectAcceleration(1, 0, -1);
    clock.advance(0.1);
    EXPECT_EQ(page->stringByEvaluatingJavaScriptFromString("got.length"), "2");
}
