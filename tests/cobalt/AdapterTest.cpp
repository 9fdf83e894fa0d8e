// The Cobalt mediation adapter through a recording slot, with the engine talking real HTTP to
// the loopback ad service: the first banner waits for the engine, later requests keep to the
// 5-second minimum and to a downloaded next banner, a failing request leaves the slot's view
// with the ad on screen, a released adapter lets go of the view, and start-up failures.
#include <algorithm>

#include "CobaltTestSupport.h"
#include "cobalt/CBAdManager.h"
#include "cobalt/CBAdView.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/SwitchboardAdapterCobalt.h"
#include "mediation/MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfig.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "services/CobaltEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

using namespace cobalt;
namespace fs = std::filesystem;

class CobaltHost : public mediationtest::ConfigurableHost {
public:
    using ConfigurableHost::ConfigurableHost;
    std::optional<std::string> cobaltAppID() override { return appID; }
    std::optional<std::string> appID;
};

class AdapterTest : public cobalttest::CobaltTest {
protected:
    AdapterTest() {
        SwitchboardAdapterCobalt::resetForTesting();
        platform::Application::resetForTesting();
        platform::AnimationLog::resetForTesting();
        mediationtest::registerProgramTypes(registry);
        hostWindow = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        hostWindow->makeKeyAndVisible();
    }
    ~AdapterTest() override {
        CBFullScreenAdWindow::resetForTesting();
        CBController::resetForTesting();
        SwitchboardAdapterCobalt::resetForTesting();
        platform::Application::resetForTesting();
    }

    std::shared_ptr<SwitchboardAdapterCobalt> makeAdapter(std::optional<std::string> pubId = "demoapp") {
        platform::Dictionary ration{{"type", 7}, {"nid", "c7"}, {"nname", "cobalt"}, {"weight", 1}, {"priority", 1}};
        if (pubId)
            ration["key"] = *pubId;
        auto entry = mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
        return mediation::SwitchboardAdNetworkAdapter::create<SwitchboardAdapterCobalt>(host, slot, config, entry);
    }
    std::size_t count(const std::string& event) const { return std::count(events->begin(), events->end(), event); }
    std::shared_ptr<CBAdView> slotView() const {
        return std::dynamic_pointer_cast<CBAdView>(
            CBController::existing()->viewForSlotNamed(SwitchboardAdapterCobalt::bannerSlotName()));
    }

    fwtest::LoopbackServices services;
    services::CobaltService cobaltService{services.host()};
    mediation::SwitchboardAdNetworkRegistry registry;
    mediationtest::Events events = mediationtest::makeEvents();
    std::shared_ptr<CobaltHost> host = std::make_shared<CobaltHost>(events);
    std::shared_ptr<mediationtest::RecordingSlot> slot = std::make_shared<mediationtest::RecordingSlot>(events);
    std::shared_ptr<mediation::SwitchboardConfig> config = mediation::SwitchboardConfig::create("app-key", nullptr);
    std::shared_ptr<platform::Window> hostWindow;
};

TEST_F(AdapterTest, TheFirstBannerWaitsForTheEngineAndLaterOnesKeepToTheMinimumInterval) {
    auto first = makeAdapter();
    ASSERT_TRUE(SwitchboardAdapterCobalt::engineStarted());
    first->getAd();
    EXPECT_TRUE(events->empty()) << "nothing is reported before the engine's ready callback";
    ASSERT_TRUE(waitFor([&] { return count("slot:didReceiveAdView") == 1; }));
    // The slot's view sits in a 320x53 container inside one of its own size.
    auto outer = first->adNetworkView();
    ASSERT_TRUE(outer);
    EXPECT_EQ(outer->frame().size, (platform::Size{320, 48}));
    ASSERT_EQ(outer->subviews().size(), 1u);
    auto inner = outer->subviews().front();
    EXPECT_EQ(inner->frame().size, SwitchboardAdapterCobalt::kPhoneContainerSize);
    EXPECT_EQ(slotView()->superview(), inner);
    hostWindow->addSubview(outer); // on screen, so the banner draws and the next ad is fetched
    // A ready callback for the full-screen slot is not a banner.
    first->cobaltAdReadyForSlotNamed(SwitchboardAdapterCobalt::kFullScreenSlotName);
    EXPECT_EQ(count("slot:didReceiveAdView"), 1u);
    ASSERT_TRUE(waitFor([&] {
        return slotView()->controller()->hasDisplayedCurrentAd() &&
               CBAdEngine::isNextAdDownloadedForSlotNamed("cbBanner");
    }));

    // 3 s after the banner: refused at once, and the view stays with the ad on screen.
    const double ready = SwitchboardAdapterCobalt::lastReadyTime();
    time.clock().setNow(ready + 3);
    auto early = makeAdapter();
    early->getAd();
    EXPECT_EQ(count("slot:didFailAd"), 1u);
    EXPECT_EQ(slotView()->superview(), inner);
    early.reset();
    EXPECT_TRUE(slotView()->controller()->notifyDelegateAdReadyForSlotNamed("x")) << "still the first adapter's";
    events->clear();

    // 6 s after the banner (and over 5 s after its drawing), with the next banner downloaded:
    // reported at once and the view refreshed.
    const double requestTime = std::max(ready + 6, slotView()->controller()->lastDisplayTime() + 5.5);
    time.clock().setNow(requestTime);
    auto later = makeAdapter();
    later->getAd();
    EXPECT_EQ(count("slot:didReceiveAdView"), 1u);
    EXPECT_EQ(slotView()->superview(), later->adNetworkView()->subviews().front());
    EXPECT_TRUE(slotView()->controller()->isRefreshing());
    EXPECT_EQ(SwitchboardAdapterCobalt::lastReadyTime(), requestTime);

    // A released adapter is no longer the view's delegate.
    first.reset();
    later.reset();
    EXPECT_FALSE(slotView()->controller()->notifyDelegateAdReadyForSlotNamed("cbBanner"));
}

TEST_F(AdapterTest, ARequestWithoutADownloadedNextBannerFails) {
    auto first = makeAdapter();
    first->getAd();
    ASSERT_TRUE(waitFor([&] { return count("slot:didReceiveAdView") == 1; }));
    // The banner is drawn, but its next ad cannot be fetched.
    cobaltService.setAdsUnavailable(true);
    hostWindow->addSubview(first->adNetworkView());
    ASSERT_TRUE(waitFor([&] { return slotView()->controller()->hasDisplayedCurrentAd(); }));
    time.clock().setNow(SwitchboardAdapterCobalt::lastReadyTime() + 10);
    ASSERT_FALSE(CBAdEngine::isNextAdDownloadedForSlotNamed("cbBanner"));
    auto second = makeAdapter();
    second->getAd();
    EXPECT_EQ(count("slot:didFailAd"), 1u);
    EXPECT_FALSE(second->adNetworkView());
    EXPECT_EQ(slotView()->superview(), first->adNetworkView()->subviews().front());
}

// The person deletes the store folder from the drive while a downloaded next banner waits:
// the next request finds the store gone, makes it again, and fails instead of reporting a
// banner whose files are gone; the engine then installs its client again, fetches a new
// banner, and the request after that is reported with the view showing it.
TEST_F(AdapterTest, ABannerThatCannotBeShownIsNeverReportedAndTheEngineCarriesOn) {
    auto first = makeAdapter();
    first->getAd();
    ASSERT_TRUE(waitFor([&] { return count("slot:didReceiveAdView") == 1; }));
    hostWindow->addSubview(first->adNetworkView());
    ASSERT_TRUE(waitFor([&] {
        return slotView()->controller()->hasDisplayedCurrentAd() &&
               CBAdEngine::isNextAdDownloadedForSlotNamed("cbBanner");
    }));
    const auto installs = services.requestCount(std::string(services::kCobaltServerPath) + "/v2/req_js.json");
    // The engine may still be writing under the folder while it goes: remove until it is gone.
    std::error_code removing;
    while (fs::remove_all(store(), removing), removing == std::errc::no_such_file_or_directory ||
                                                  removing == std::errc::directory_not_empty)
        removing.clear();
    ASSERT_FALSE(fs::exists(store()));
    events->clear();
    time.clock().setNow(std::max(SwitchboardAdapterCobalt::lastReadyTime() + 6,
                                 slotView()->controller()->lastDisplayTime() + 5.5));
    auto second = makeAdapter();
    second->getAd();
    EXPECT_EQ(count("slot:didFailAd"), 1u);
    EXPECT_EQ(count("slot:didReceiveAdView"), 0u);
    EXPECT_EQ(slotView()->superview(), first->adNetworkView()->subviews().front());
    EXPECT_TRUE(fs::is_regular_file(store() / "cobaltdb.sql")) << "the store is made again";

    // The client comes again from the server, and with it the next banner.
    ASSERT_TRUE(waitFor([&] {
        return fs::exists(store() / "Config" / "display.js") && CBAdEngine::isNextAdDownloadedForSlotNamed("cbBanner");
    }, 0.1, 60.0));
    EXPECT_GT(services.requestCount(std::string(services::kCobaltServerPath) + "/v2/req_js.json"), installs);
    events->clear();
    time.clock().setNow(platform::Clock::current().now() + 6);
    auto third = makeAdapter();
    third->getAd();
    EXPECT_EQ(count("slot:didReceiveAdView"), 1u);
    EXPECT_TRUE(slotView()->controller()->isRefreshing());
    // The new banner's drawing counts and the ads table is there again for it.
    hostWindow->addSubview(third->adNetworkView());
    ASSERT_TRUE(waitFor([&] { return slotView()->controller()->hasDisplayedCurrentAd(); }, 0.1, 60.0));
    EXPECT_EQ(CBController::existing()->database()->sqlExecute("SELECT count(*) FROM sqlite_master WHERE name='ads'"),
              (platform::Array{platform::Value(platform::Array{platform::Value(1)})}));
}

// A file of the person's named "CB" is left alone, and the engine runs without a store: the
// adapter fails its requests.
TEST_F(AdapterTest, APersonsFileNamedCBIsLeftAloneAndRequestsFail) {
    write(store(), "the person's own file");
    auto adapter = makeAdapter();
    adapter->getAd();
    EXPECT_EQ(count("slot:didFailAd"), 1u);
    EXPECT_FALSE(CBController::existing()->hasStore());
    time.advance(60);
    auto again = makeAdapter();
    again->getAd();
    EXPECT_EQ(count("slot:didFailAd"), 2u);
    EXPECT_EQ(read(store()), "the person's own file");
}

TEST_F(AdapterTest, StartUp) {
    struct Case {
        const char* name;
        std::optional<std::string> pubId;
        std::optional<std::string> hostAppID; // answered when set
        bool startedByHost;
        bool started;
        const char* applicationID;
    };
    const Case cases[] = {
        {"no application ID: the request fails", std::nullopt, std::nullopt, false, false, ""},
        {"the network entry's key", "demoapp", std::nullopt, false, true, "demoapp"},
        {"the host's answer overrides the key", "demoapp", "hostapp", false, true, "hostapp"},
        {"an engine the host started is used", "demoapp", std::nullopt, true, true, "byhost"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CBController::resetForTesting();
        SwitchboardAdapterCobalt::resetForTesting();
        events->clear();
        host->implemented.clear();
        if (c.hostAppID) {
            host->implemented.insert("cobaltAppID");
            host->appID = c.hostAppID;
        }
        if (c.startedByHost)
            CBAdEngine::startupWithAppID(std::string("byhost"),
                                         {CBAdSlotDescription::descriptionWithSize(1, "cbBanner")});
        auto adapter = makeAdapter(c.pubId);
        EXPECT_EQ(SwitchboardAdapterCobalt::engineStarted(), c.started);
        auto controller = CBController::existing();
        EXPECT_EQ(controller ? controller->applicationID() : "", c.applicationID);
        adapter->getAd();
        EXPECT_EQ(count("slot:didFailAd"), c.started ? 0u : 1u);
    }
}

TEST_F(AdapterTest, OnATabletTheSkyscraperSlotIsTheBanner) {
    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    auto adapter = makeAdapter();
    auto manager = CBController::existing()->adManager();
    ASSERT_EQ(manager->slots().size(), 2u);
    EXPECT_EQ(manager->slots()[0]->slotDescription()->name(), "cbBanner");
    EXPECT_EQ(manager->slots()[1]->slotDescription()->name(), "skyscraperSlot");
    EXPECT_EQ(manager->slots()[1]->slotDescription()->size(), 4);
    adapter->getAd();
    ASSERT_TRUE(waitFor([&] { return count("slot:didReceiveAdView") == 1; }));
    EXPECT_EQ(adapter->adNetworkView()->frame().size, (platform::Size{728, 90}));
    EXPECT_EQ(adapter->adNetworkView()->subviews().front()->frame().size, SwitchboardAdapterCobalt::kTabletContainerSize);
    EXPECT_EQ(slotView()->controller()->slot()->slotDescription()->name(), "skyscraperSlot");
}

} // namespace
