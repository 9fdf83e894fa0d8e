// A Meridian video's landing page through the real application: whatever order of taps,
// background, refresh and foreground the person takes, the drive is never left covered by a
// landing page with no way out.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "meridian/MRHandshake.h"
#include "meridian/MROverlayView.h"
#include "meridian/MRURLDownload.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "runner/Runner.h"
#include "services/MeridianEndpoints.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

constexpr const char* kMeridianOnly =
    R"({"type":6,"nid":"e2e-meridian","nname":"meridian","weight":100,"priority":1,"key":"fw-meridian"})";
constexpr std::string_view kTrackStart = "/meridian/track/start";
constexpr const char* kWaysOut[] = {"Done", "Back", "Close", "Cancel", "OK"};

class MeridianOverlayWayOut : public apptest::AppTest {
protected:
    MeridianOverlayWayOut() {
        runnertest::startAsOnAFreshDevice(services_);
        runnertest::serveNetworks(services_, kMeridianOnly);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
    }
    ~MeridianOverlayWayOut() override { meridian::MRURLDownload::cancelAllForTesting(); }

    bool runUntil(const std::function<bool()>& done, int limit) {
        for (int i = 0; i < limit && !done(); ++i)
            runner::waitFor(1, true);
        return done();
    }
    static bool onScreen(std::string_view text) {
        return platform::TextRenderer::renderScreen().find(text) != std::string::npos;
    }
    // The landing pages on screen: overlays in any window.
    static int overlaysOnScreen() {
        int found = 0;
        std::function<void(const platform::View&)> walk = [&](const platform::View& view) {
            if (view.isHidden())
                return;
            if (dynamic_cast<const meridian::MROverlayView*>(&view))
                ++found;
            for (const auto& child : view.subviews())
                walk(*child);
        };
        for (const auto& window : platform::Application::shared().windows())
            walk(*window);
        return found;
    }
    static bool aWayOutIsOnScreen() {
        for (const char* label : kWaysOut)
            if (onScreen(std::string("[") + label + "]"))
                return true;
        return false;
    }

    fwtest::LoopbackServices services_;
};

} // namespace

TEST_F(MeridianOverlayWayOut, EveryLandingPageOfTheVideoHasAWayOut) {
    launch();
    runner::settle();
    // The first request caches the video; the next pick plays it.
    ASSERT_TRUE(runUntil([] { return platform::FileManager::fileExists(meridian::MRVideoCache::markerPath()); }, 30));
    ASSERT_TRUE(runUntil([&] { return services_.requestCount(kTrackStart) >= 1; }, 60));
    ASSERT_TRUE(runUntil([] { return onScreen("Learn mo"); }, 15)) << platform::TextRenderer::renderScreen();

    runner::CommandInterpreter commands([](double seconds) { runner::waitFor(seconds, true); });
    bool sawLandingPage = false;
    for (const char* line : {"tap Learn more", "background", "refresh", "tap Learn more", "foreground", "wait 2"}) {
        SCOPED_TRACE(line);
        runner::runCommand(commands, line);
        sawLandingPage = sawLandingPage || overlaysOnScreen() > 0;
        if (overlaysOnScreen() > 0 && std::string_view(line) != "background") {
            EXPECT_TRUE(aWayOutIsOnScreen()) << platform::TextRenderer::renderScreen();
        }
    }
    ASSERT_TRUE(sawLandingPage);
    // Each landing page closes by its way out, and the drive comes back.
    for (int round = 0; round < 5 && overlaysOnScreen() > 0; ++round) {
        bool tapped = false;
        for (const char* label : kWaysOut)
            if (!tapped && platform::TextRenderer::tap(label))
                tapped = true;
        ASSERT_TRUE(tapped) << platform::TextRenderer::renderScreen();
        runner::waitFor(2, true);
    }
    EXPECT_EQ(overlaysOnScreen(), 0) << platform::TextRenderer::renderScreen();
}
