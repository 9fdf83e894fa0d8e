// Meridian video through the real application: the drive and banner host, the mediation view
// with one Meridian entry keyed "fw-meridian" (the placement the services answer with their
// video ad), the adapter, the Meridian client and the embedded services over loopback HTTP.
// The first request caches the video and fails; the next pick replays it and the slot hears it;
// the video ends, the player closes and refresh goes on with Meridian. A later launch, with the
// services on another port, replays the video left by the earlier one. On the phone and on
// the tablet the turned player covers the screen, with its buttons and countdown on it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "meridian/MRHandshake.h"
#include "meridian/MRJSONVideoOverlayControlView.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/FileManager.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "promo/AdViewController.h"
#include "runner/Runner.h"
#include "services/MeridianEndpoints.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

constexpr const char* kMeridianOnly =
    R"({"type":6,"nid":"e2e-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-meridian"})";
constexpr std::string_view kTrackStart = "/meridian/track/start";
constexpr std::string_view kTrackEnd = "/meridian/track/end";

class MeridianEndToEnd : public apptest::AppTest {
protected:
    MeridianEndToEnd() { serve(); }
    ~MeridianEndToEnd() override { meridian::MRURLDownload::cancelAllForTesting(); }

    // Starts the services (again, on a new port) with a configuration of Meridian alone and no
    // house ads, as on a fresh device.
    void serve() {
        services_.reset();
        services_ = std::make_unique<fwtest::LoopbackServices>();
        runnertest::startAsOnAFreshDevice(*services_);
        runnertest::serveNetworks(*services_, kMeridianOnly);
        services_->setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_->setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }

    std::shared_ptr<mediation::SwitchboardView> slot() {
        return app::adView ? app::adView->mediationView() : nullptr;
    }
    void waitSeconds(double seconds) { runner::waitFor(seconds, true); }
    // Lets the application run, a second at a time, until `done` or `limit` seconds.
    bool runUntil(const std::function<bool()>& done, int limit) {
        for (int i = 0; i < limit && !done(); ++i)
            waitSeconds(1);
        return done();
    }
    std::size_t count(std::string_view path) const { return services_->requestCount(path); }
    bool videoOnScreen() {
        return platform::TextRenderer::renderScreen().find("[close]") != std::string::npos;
    }
    // The first launch's request: the video caches, the request fails, and the marker is left.
    void launchAndCache() {
        launch();
        runner::settle();
        ASSERT_TRUE(runUntil([&] { return count(services::kMeridianAdPath) >= 1; }, 20));
        ASSERT_TRUE(runUntil(
            [] { return platform::FileManager::fileExists(meridian::MRVideoCache::markerPath()); }, 20));
        EXPECT_FALSE(slot() && slot()->adExists()) << "a video that is caching is no ad";
        EXPECT_EQ(count(kTrackStart), 0u);
    }

    std::unique_ptr<fwtest::LoopbackServices> services_;
};

} // namespace

TEST_F(MeridianEndToEnd, TheCachedVideoIsShownHeardAndRefreshGoesOn) {
    launchAndCache();

    // The next refresh picks Meridian again: the video plays from the cache, and the slot
    // hears it as received.
    ASSERT_TRUE(runUntil([&] { return count(kTrackStart) >= 1; }, 40)) << platform::TextRenderer::renderScreen();
    ASSERT_TRUE(slot() && slot()->adExists());
    ASSERT_TRUE(slot()->currAdapter());
    EXPECT_EQ(slot()->currAdapter()->networkConfig()->networkType(), 6);

    // The video plays to its end and the player closes.
    ASSERT_TRUE(runUntil([&] { return count(kTrackEnd) >= 1; }, 40));
    waitSeconds(1);
    EXPECT_FALSE(videoOnScreen()) << platform::TextRenderer::renderScreen();
    EXPECT_NE(platform::TextRenderer::renderScreen().find("[Settings]"), std::string::npos)
        << platform::TextRenderer::renderScreen();

    // Refresh goes on, asks Meridian again, and the slot hears its next ad (a banner: the
    // handshake allows one video per interval).
    auto shown = slot()->currAdapter();
    auto requests = count(services::kMeridianAdPath);
    ASSERT_TRUE(runUntil([&] { return count(services::kMeridianAdPath) > requests; }, 40));
    ASSERT_TRUE(runUntil([&] { return slot()->currAdapter() != shown && slot()->adExists(); }, 10));
    EXPECT_EQ(slot()->currAdapter()->networkConfig()->networkType(), 6);
}

TEST_F(MeridianEndToEnd, ALaterLaunchReplaysTheVideoTheEarlierOneCached) {
    launchAndCache();
    // The application ends; the services come back on another port in the next run.
    delegate_.reset();
    resetEverything();
    serve();

    launch();
    runner::settle();
    // The first Meridian pick replays the cached video while the banner is made; the slot
    // hears it, and its tracking reaches this run's services.
    ASSERT_TRUE(runUntil([&] { return count(kTrackStart) >= 1; }, 20)) << platform::TextRenderer::renderScreen();
    EXPECT_EQ(count(services::kMeridianAdPath), 0u);
    ASSERT_TRUE(slot() && slot()->adExists());
    EXPECT_EQ(slot()->currAdapter()->networkConfig()->networkType(), 6);

    // The video's close button is labelled by its component: a user taps it by name.
    ASSERT_TRUE(runUntil([&] { return videoOnScreen(); }, 5)) << platform::TextRenderer::renderScreen();
    ASSERT_TRUE(platform::TextRenderer::tap("close"));
    ASSERT_TRUE(runUntil([&] { return count("/meridian/track/close") >= 1; }, 5));
    EXPECT_FALSE(videoOnScreen()) << platform::TextRenderer::renderScreen();
    // Closed early: no end tracking, and refresh goes on with Meridian.
    EXPECT_EQ(count(kTrackEnd), 0u);
    ASSERT_TRUE(runUntil([&] { return count(services::kMeridianAdPath) >= 1; }, 40));
}

namespace {

// The overlay of the playing video, in whichever window holds it.
std::shared_ptr<meridian::MRJSONVideoOverlayControlView> videoOverlay() {
    std::function<std::shared_ptr<meridian::MRJSONVideoOverlayControlView>(
        const std::shared_ptr<platform::View>&)>
        find = [&](const std::shared_ptr<platform::View>& view)
        -> std::shared_ptr<meridian::MRJSONVideoOverlayControlView> {
        if (auto overlay = std::dynamic_pointer_cast<meridian::MRJSONVideoOverlayControlView>(view))
            return overlay;
        for (const auto& child : view->subviews())
            if (auto found = find(child))
                return found;
        return nullptr;
    };
    for (const auto& window : platform::Application::shared().windows())
        if (auto found = find(window))
            return found;
    return nullptr;
}

platform::Rect onScreen(const platform::View& view) {
    return view.convertRectTo(view.bounds(), nullptr);
}

std::string describe(const platform::Rect& r) {
    return "(" + std::to_string(r.x()) + ", " + std::to_string(r.y()) + ", " + std::to_string(r.width()) +
           ", " + std::to_string(r.height()) + ")";
}

// The quarter turn is a float's 1.5707964 radians: turned frames are exact to a small fraction
// of a point only.
constexpr double kTurnError = 0.01;

bool insideTheScreen(const platform::Rect& r) {
    const platform::Rect s = platform::Screen::main().bounds();
    return r.minX() >= s.minX() - kTurnError && r.minY() >= s.minY() - kTurnError &&
           r.maxX() <= s.maxX() + kTurnError && r.maxY() <= s.maxY() + kTurnError;
}

// Inside the screen and covering it.
bool coversTheScreen(const platform::Rect& r) {
    const platform::Rect s = platform::Screen::main().bounds();
    return insideTheScreen(r) && r.width() >= s.width() - kTurnError && r.height() >= s.height() - kTurnError;
}

class MeridianVideoOnScreen : public MeridianEndToEnd,
                              public ::testing::WithParamInterface<platform::DeviceProfile> {};

} // namespace

TEST_P(MeridianVideoOnScreen, ThePlayerCoversTheScreenWithItsButtonsAndCountdownOnIt) {
    platform::Device::setProfile(GetParam());
    launchAndCache();
    ASSERT_TRUE(runUntil([&] { return count(kTrackStart) >= 1; }, 40))
        << platform::TextRenderer::renderScreen();
    // Every button has appeared ("Learn more" last, 5 s in).
    auto overlay = videoOverlay();
    ASSERT_TRUE(overlay);
    auto everyButtonShows = [&] {
        for (const auto& entry : overlay->buttons())
            if (!entry.button->superview() || entry.button->alpha() == 0)
                return false;
        return !overlay->buttons().empty();
    };
    ASSERT_TRUE(runUntil(everyButtonShows, 6)) << platform::TextRenderer::renderScreen();

    // The turned player and its overlay cover the screen exactly: no strip of the drive shows.
    ASSERT_TRUE(overlay->superview());
    EXPECT_TRUE(coversTheScreen(onScreen(*overlay->superview())))
        << describe(onScreen(*overlay->superview()));
    EXPECT_TRUE(coversTheScreen(onScreen(*overlay))) << describe(onScreen(*overlay));

    // Each button, the close button among them, and the countdown lie wholly on the screen.
    ASSERT_EQ(overlay->buttons().size(), 2u);
    for (const auto& entry : overlay->buttons()) {
        ASSERT_TRUE(entry.button->superview()) << entry.videoButton->component();
        EXPECT_TRUE(insideTheScreen(onScreen(*entry.button)))
            << entry.videoButton->component() << " at " << describe(onScreen(*entry.button));
    }
    ASSERT_TRUE(overlay->countdownLabel());
    ASSERT_TRUE(overlay->countdownLabel()->superview());
    EXPECT_TRUE(insideTheScreen(onScreen(*overlay->countdownLabel())))
        << "countdown at " << describe(onScreen(*overlay->countdownLabel()));

    // The close button closes the player.
    ASSERT_TRUE(platform::TextRenderer::tap("close"));
    ASSERT_TRUE(runUntil([&] { return count("/meridian/track/close") >= 1; }, 5));
    EXPECT_FALSE(videoOnScreen()) << platform::TextRenderer::renderScreen();
}

INSTANTIATE_TEST_SUITE_P(Devices, MeridianVideoOnScreen,
                         ::testing::Values(platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet),
                         [](const auto& info) {
                             return info.param == platform::DeviceProfile::Phone ? std::string("Phone")
                                                                                 : std::string("Tablet");
                         });
