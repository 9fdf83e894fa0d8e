// The chain a user sees, one ad network at a time: the real drive and banner host, the real
// mediation view, the network's real adapter and client, the web view, and the embedded
// services over loopback HTTP. Each network type that `ferrowick` registers shows an ad,
// reports its impression, opens its landing page or action on a tap and is replaced on refresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "cobalt/CBController.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/SwitchboardAdapterCobalt.h"
#include "lumen/BannerView.h"
#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "meridian/MRHandshake.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/TextRenderer.h"
#include "promo/AdViewController.h"
#include "runner/Runner.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

// A cap in real time on waits for work on other threads; the awaited event normally comes at once.
constexpr double kReportWaitLimitSeconds = 20.0;

struct NetworkCase {
    int type;
    const char* name;
    const char* ration;       // the configuration's one entry
    const char* adPath;       // the network's ad request, made again on refresh
    const char* trackingPath; // the network's own report of the shown or tapped ad
    const char* landing;      // requested (or, for a link that leaves, opened) after a tap
    const char* closeLabel;   // closes the landing page; none when the tap left the application
};

const NetworkCase kNetworks[] = {
    {1, "Lumen", R"({"type":1,"nid":"e2e-lumen","nname":"lumen","weight":100,"priority":1,"key":"fw-lumen"})",
     "/lumen/ad", "/lumen/click", "/lumen/landing.html", "Done"},
    {6, "Meridian", R"({"type":6,"nid":"e2e-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-e2e"})",
     "/meridian/getAd.php5", "/meridian/appConfigServlet", "http://example.invalid/landing", nullptr},
    {7, "Cobalt", R"({"type":7,"nid":"e2e-cobalt","nname":"cobalt","weight":100,"priority":1,"key":"fw-cobalt"})",
     "/cobalt/AdBridgeServer/v2/ad.zip", "/cobalt/AdBridgeServer/v2/impression", "/cobalt/AdBridgeServer/v2/landing",
     "Done"},
    {9, "Custom", R"({"type":9,"nid":"e2e-custom","nname":"custom","weight":100,"priority":1})",
     "/switchboard/custom.php", "/switchboard/customclick.php", "/landing/banner.html", "Done"},
    {12, "Nimbus", R"({"type":12,"nid":"e2e-nimbus","nname":"nimbus","weight":100,"priority":1,"key":"nimbus-app"})",
     "/nimbus/ads/feed.php", "/nimbus/images/nimbus.png", "/landing/nimbus.html", "Done"},
    {2, "Tangent",
     R"({"type":2,"nid":"e2e-tangent","nname":"tangent","weight":100,"priority":1,)"
     R"("key":{"publisherID":"fw-tangent","siteID":"fw-site","spotID":"fw-spot"}})",
     "/tangent/a/ads", "/tangent/r/landing", "/tangent/landing.html", "Back"},
    {18, "Orbis", R"({"type":18,"nid":"e2e-orbis","nname":"orbis","weight":100,"priority":1,"key":"fw-orbis"})",
     "/orbis/showad.asm", "/orbis/click", "/orbis/landing.html", "Done"},
};

// The real application against the embedded services, one configuration of networks.
class EndToEnd : public apptest::AppTest {
protected:
    void serve(const std::string& rations) {
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveCustomAd(services_);
        std::string config =
            std::string(R"({"extra":{"refresh_interval":30,"transition":0},"rations":[)") + rations + "]}";
        services_.handle("GET", "/switchboard/getInfo.php", [config](const services::LoggedRequest&) {
            return services::ServiceReply{200, config, "application/json", {}};
        });
    }

    std::shared_ptr<mediation::SwitchboardView> slot() {
        return app::adView ? app::adView->mediationView() : nullptr;
    }

    void waitSeconds(double seconds) { runner::waitFor(seconds, true); }

    // Waits until the slot shows an ad (a network's or a house ad).
    bool waitForAd() {
        for (int i = 0; i < 15 && !(slot() && slot()->adExists()); ++i)
            waitSeconds(1);
        return slot() && slot()->adExists();
    }

    // The paths of the requests the services saw, in order, among `paths`.
    std::vector<std::string> requestsAmong(const std::vector<std::string>& paths) {
        std::vector<std::string> seen;
        for (const auto& r : services_.requests())
            if (std::find(paths.begin(), paths.end(), r.path) != paths.end())
                seen.push_back(r.path);
        return seen;
    }

    fwtest::LoopbackServices services_;
};

class NetworkEndToEnd : public EndToEnd, public ::testing::WithParamInterface<NetworkCase> {
protected:
    void SetUp() override {
        serve(GetParam().ration);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
    }
};

TEST_P(NetworkEndToEnd, AnAdShowsIsReportedTapsThroughAndRefreshes) {
    const NetworkCase& network = GetParam();
    launch();
    runner::settle();
    // No house ads: whatever the slot shows comes from the network.
    waitForAd();

    // The ad is on screen, from the network the configuration chose.
    ASSERT_TRUE(slot() && slot()->currAdapter() && slot()->adExists()) << platform::TextRenderer::renderScreen();
    auto shown = slot()->currAdapter();
    ASSERT_EQ(shown->networkConfig()->networkType(), network.type);
    ASSERT_TRUE(slot()->window());
    waitSeconds(2); // a person looks before they tap

    // Its impression reached the services: the slot's ping, except for custom ads (their own
    // metrics address reports them when they are touched).
    auto impressions = services_.requestsTo("/switchboard/exmet.php");
    if (network.type == 9) {
        EXPECT_TRUE(impressions.empty());
    } else {
        ASSERT_EQ(impressions.size(), 1u);
        EXPECT_EQ(impressions[0].queryValue("type"), std::to_string(network.type));
    }

    // A tap sends the click ping and opens the landing page or leaves for it.
    // At the network's own view when it is the one shown, else at the slot's middle.
    auto target = shown->adNetworkView() && shown->adNetworkView()->window() ? shown->adNetworkView()
                                                                            : std::shared_ptr<platform::View>(slot());
    platform::Rect r = target->convertRectTo(target->bounds(), nullptr);
    platform::Application::shared().simulateTap({r.midX(), r.midY()});
    // Replies arrive after the clock has moved: a second wait lets what they schedule run.
    waitSeconds(2);
    waitSeconds(1);
    auto clicks = services_.requestsTo("/switchboard/exclick.php");
    if (network.type == 9) {
        EXPECT_TRUE(clicks.empty()) << "custom ads report through their own metrics address";
    } else {
        ASSERT_EQ(clicks.size(), 1u);
        EXPECT_EQ(clicks[0].queryValue("type"), std::to_string(network.type));
    }
    EXPECT_GE(services_.requestCount(network.trackingPath), 1u) << network.trackingPath;
    if (network.closeLabel) {
        EXPECT_GE(services_.requestCount(network.landing), 1u) << network.landing;
        ASSERT_TRUE(platform::TextRenderer::tap(network.closeLabel)) << platform::TextRenderer::renderScreen();
        waitSeconds(2);
    } else {
        const auto& opened = platform::Application::shared().openedURLs();
        EXPECT_NE(std::find_if(opened.begin(), opened.end(),
                               [&](const std::string& url) { return url.find(network.landing) != std::string::npos; }),
                  opened.end())
            << network.landing;
    }
    // Back on the drive.
    EXPECT_NE(platform::TextRenderer::renderScreen().find("[Settings]"), std::string::npos)
        << platform::TextRenderer::renderScreen();

    // A refresh replaces the ad.
    std::size_t requestsBefore = services_.requestCount(network.adPath);
    waitSeconds(31);
    // A network whose next ad is fetched once the refreshed one is drawn (Cobalt) needs a few
    // more turns of its page's polling for that fetch.
    for (int i = 0; i < 10 && services_.requestCount(network.adPath) <= requestsBefore; ++i)
        waitSeconds(1);
    EXPECT_GT(services_.requestCount(network.adPath), requestsBefore);
    ASSERT_TRUE(slot()->currAdapter());
    EXPECT_NE(slot()->currAdapter(), shown);
    EXPECT_EQ(slot()->currAdapter()->networkConfig()->networkType(), network.type);

    if (network.type == 2) {
        // A Tangent ad reports its events when its widget goes away: the slot lets the tapped
        // ad's adapter go once the next refresh has replaced it.
        std::weak_ptr<platform::View> widget = shown->adNetworkView();
        ASSERT_FALSE(widget.expired());
        shown.reset();
        target.reset();
        for (int i = 0; i < 70 && !widget.expired(); ++i)
            waitSeconds(1);
        ASSERT_TRUE(widget.expired()) << "the tapped ad's widget is still there after two refreshes";
        // The reports go out on the event manager's worker threads: wait for them to arrive.
        auto events = [this] {
            std::vector<std::string> seen;
            for (const auto& report : services_.requestsTo("/tangent/a/conversion"))
                seen.push_back(report.queryValue("event").value_or(""));
            return seen;
        };
        auto reported = [&events] {
            auto seen = events();
            for (const char* event : {"request", "impression", "click"})
                if (std::find(seen.begin(), seen.end(), event) == seen.end())
                    return false;
            return true;
        };
        EXPECT_TRUE(platform::RunLoop::main().runUntil(reported, kReportWaitLimitSeconds))
            << ::testing::PrintToString(events());
    }
}

TEST_F(EndToEnd, AFailingNetworkRollsOverToTheNextByPriority) {
    // All the weight on the first network, so every cycle starts with it; the rest is by priority.
    serve(R"({"type":1,"nid":"roll-lumen","nname":"lumen","weight":100,"priority":1,"key":"fw-lumen"},)"
          R"({"type":18,"nid":"roll-orbis","nname":"orbis","weight":0,"priority":2,"key":"fw-orbis"})");
    const std::vector<std::string> steps = {"/switchboard/getInfo.php", "/lumen/ad", "/orbis/showad.asm",
                                            "/switchboard/exmet.php"};

    // The first network by priority fails: the slot rolls over to the second, which shows.
    services_.setFault("/lumen/ad", services::Fault::errorStatus(500));
    launch();
    runner::settle();
    auto showsOrbis = [this] {
        auto adapter = slot() ? slot()->currAdapter() : nullptr;
        return adapter && adapter->networkConfig()->networkType() == 18 &&
               services_.requestCount("/switchboard/exmet.php") > 0;
    };
    for (int i = 0; i < 15 && !showsOrbis(); ++i)
        waitSeconds(1);
    ASSERT_TRUE(showsOrbis());
    auto order = requestsAmong(steps);
    ASSERT_GE(order.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 4),
              (std::vector<std::string>{"/switchboard/getInfo.php", "/lumen/ad", "/orbis/showad.asm",
                                        "/switchboard/exmet.php"}));
    auto impressions = services_.requestsTo("/switchboard/exmet.php");
    ASSERT_EQ(impressions.size(), 1u);
    EXPECT_EQ(impressions[0].queryValue("nid"), "roll-orbis");

}

TEST_F(EndToEnd, WhenEveryNetworkFailsHouseAdsFillTheSlot) {
    serve(R"({"type":1,"nid":"roll-lumen","nname":"lumen","weight":100,"priority":1,"key":"fw-lumen"},)"
          R"({"type":18,"nid":"roll-orbis","nname":"orbis","weight":0,"priority":2,"key":"fw-orbis"})");
    services_.setFault("/lumen/ad", services::Fault::errorStatus(500));
    services_.setFault("/orbis/showad.asm", services::Fault::errorStatus(500));
    launch();
    runner::settle();
    for (int i = 0; i < 15 && services_.requestCount("/orbis/showad.asm") == 0; ++i)
        waitSeconds(1);
    waitSeconds(2); // the house ad's transition
    auto order = requestsAmong({"/lumen/ad", "/orbis/showad.asm", "/applications/newNews/updateImpressionPhone.php"});
    auto at = [&](const char* path) { return std::find(order.begin(), order.end(), path) - order.begin(); };
    ASSERT_LT(at("/orbis/showad.asm"), std::ptrdiff_t(order.size())) << ::testing::PrintToString(order);
    EXPECT_LT(at("/lumen/ad"), at("/orbis/showad.asm")) << ::testing::PrintToString(order);
    EXPECT_LT(at("/applications/newNews/updateImpressionPhone.php"), std::ptrdiff_t(order.size()))
        << ::testing::PrintToString(order);
    EXPECT_TRUE(slot()->adExists());
    EXPECT_NE(platform::TextRenderer::renderScreen().find("[House ad]"), std::string::npos)
        << platform::TextRenderer::renderScreen();
    EXPECT_EQ(services_.requestCount("/switchboard/exmet.php"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Networks, NetworkEndToEnd, ::testing::ValuesIn(kNetworks),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
