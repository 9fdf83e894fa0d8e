// A Cobalt ad through the application's life as a person meets it, with the Cobalt network
// alone in the configuration: the ad shows in the drive's banner slot, the application goes
// to the background and comes back, with and without the ad's landing page open, on a phone
// and on a tablet. Afterwards the screen is not blank, the landing page's Done still leads
// back, the status bar is back, and the drive's Settings can be reached. Through refreshes the
// banner keeps showing its ad: every view from the ad's page up to the window is drawn.
#include <gtest/gtest.h>

#include <string>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "cobalt/CBAdView.h"
#include "cobalt/CBController.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/SwitchboardAdapterCobalt.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "promo/AdViewController.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

constexpr const char* kCobaltOnly =
    R"({"type":7,"nid":"life-cobalt","nname":"cobalt","weight":100,"priority":1,"key":"fw-cobalt"})";

struct LifecycleCase {
    const char* name;
    platform::DeviceProfile profile;
    bool landingPageOpen;
};

class CobaltLifecycle : public apptest::AppTest, public ::testing::WithParamInterface<LifecycleCase> {
protected:
    void SetUp() override {
        runnertest::startAsOnAFreshDevice(services_);
        platform::Device::setProfile(GetParam().profile);
        runnertest::serveNetworks(services_, kCobaltOnly);
        // No house ads: the slot shows the Cobalt ad.
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_.setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }
    void TearDown() override {
        cobalt::CBFullScreenAdWindow::resetForTesting();
        cobalt::CBController::resetForTesting();
        cobalt::SwitchboardAdapterCobalt::resetForTesting();
    }

    std::shared_ptr<mediation::SwitchboardView> slot() {
        return app::adView ? app::adView->mediationView() : nullptr;
    }
    static void waitSeconds(double seconds) { runner::waitFor(seconds, true); }
    static std::string screen() { return platform::TextRenderer::renderScreen(); }
    // The banner slot's ad view.
    static std::shared_ptr<cobalt::CBAdView> cobaltAdView() {
        auto controller = cobalt::CBController::existing();
        return controller ? std::dynamic_pointer_cast<cobalt::CBAdView>(controller->viewForSlotNamed(
                                cobalt::SwitchboardAdapterCobalt::bannerSlotName()))
                          : nullptr;
    }
    // Each view from the ad's page up to the window that is not drawn (alpha under 1 or
    // hidden), or that the chain does not end in a window; empty when the ad shows.
    static std::string viewsHidingTheAd() {
        auto adView = cobaltAdView();
        if (!adView)
            return "no ad view";
        std::string hiding;
        std::shared_ptr<platform::View> view = adView->controller()->webView();
        std::shared_ptr<platform::View> top;
        for (int depth = 0; view; view = view->superview(), ++depth) {
            if (view->alpha() < 1.0 || view->isHidden())
                hiding += "view " + std::to_string(depth) + " above the page: alpha " +
                          std::to_string(view->alpha()) + (view->isHidden() ? ", hidden" : "") + "\n";
            top = view;
        }
        if (!std::dynamic_pointer_cast<platform::Window>(top))
            hiding += "the ad is in no window\n";
        return hiding;
    }
    bool cobaltShown() {
        auto adapter = slot() ? slot()->currAdapter() : nullptr;
        return adapter && slot()->adExists() && adapter->networkConfig()->networkType() == 7;
    }

    fwtest::LoopbackServices services_;
};

TEST_P(CobaltLifecycle, TheAdSurvivesBackgroundAndForegroundAndTheDriveStaysReachable) {
    const LifecycleCase& c = GetParam();
    auto& app = platform::Application::shared();
    launch();
    runner::settle();
    for (int i = 0; i < 15 && !cobaltShown(); ++i)
        waitSeconds(1);
    ASSERT_TRUE(cobaltShown()) << screen();
    const bool barHiddenBefore = app.isStatusBarHidden();
    auto window = cobalt::CBFullScreenAdWindow::shared();

    if (c.landingPageOpen) {
        waitSeconds(2); // a person looks before they tap
        auto shown = slot()->currAdapter()->adNetworkView();
        auto view = shown && shown->window() ? shown : std::shared_ptr<platform::View>(slot());
        const platform::Rect r = view->convertRectTo(view->bounds(), nullptr);
        app.simulateTap({r.midX(), r.midY()});
        for (int i = 0; i < 10 && screen().find("[Done]") == std::string::npos; ++i)
            waitSeconds(1);
        ASSERT_NE(screen().find("[Done]"), std::string::npos) << screen();
        ASSERT_TRUE(window->isKeyWindow());
    }

    app.enterBackground();
    waitSeconds(5);
    app.enterForeground();
    waitSeconds(2);

    if (c.landingPageOpen) {
        // Still the landing page, drawn and touchable, over the hidden drive.
        EXPECT_TRUE(window->isKeyWindow());
        EXPECT_EQ(window->alpha(), 1.0);
        EXPECT_TRUE(window->isDisplaying());
        EXPECT_TRUE(app.isStatusBarHidden());
        ASSERT_TRUE(platform::TextRenderer::tap("Done")) << screen();
        waitSeconds(3);
        EXPECT_FALSE(window->isDisplaying());
    }
    // The drive is back, with the status bar as it was and the Cobalt ad in its slot.
    EXPECT_EQ(app.isStatusBarHidden(), barHiddenBefore);
    EXPECT_NE(screen().find("[Settings]"), std::string::npos) << screen();
    auto adView =
        std::dynamic_pointer_cast<cobalt::CBAdView>(cobalt::CBController::existing()->viewForSlotNamed(
            cobalt::SwitchboardAdapterCobalt::bannerSlotName()));
    ASSERT_TRUE(adView);
    auto visible = [&] { return cobaltShown() && adView->controller()->containerView()->alpha() == 1.0; };
    for (int i = 0; i < 10 && !visible(); ++i)
        waitSeconds(1);
    EXPECT_TRUE(visible()) << screen();
    ASSERT_TRUE(platform::TextRenderer::tap("Settings")) << screen();
    waitSeconds(2);
    EXPECT_NE(screen().find("Enable passkey lock"), std::string::npos) << screen();
}

INSTANTIATE_TEST_SUITE_P(
    Cobalt, CobaltLifecycle,
    ::testing::Values(LifecycleCase{"PhoneLandingPage", platform::DeviceProfile::Phone, true},
                      LifecycleCase{"PhoneAdOnly", platform::DeviceProfile::Phone, false},
                      LifecycleCase{"TabletLandingPage", platform::DeviceProfile::Tablet, true},
                      LifecycleCase{"TabletAdOnly", platform::DeviceProfile::Tablet, false}),
    [](const ::testing::TestParamInfo<LifecycleCase>& info) { return std::string(info.param.name); });

// Three refreshes, each bringing the next Cobalt ad into the banner slot: after each, once the
// ad's page has shown it, the ad is drawn all the way up to the window.
class CobaltRefresh : public CobaltLifecycle {};

TEST_P(CobaltRefresh, TheBannerShowsItsAdAfterEachOfThreeRefreshes) {
    launch();
    runner::settle();
    for (int i = 0; i < 15 && !cobaltShown(); ++i)
        waitSeconds(1);
    ASSERT_TRUE(cobaltShown()) << screen();
    auto adView = cobaltAdView();
    ASSERT_TRUE(adView);
    auto controller = adView->controller();
    auto settled = [&] { return !controller->isRefreshing() && controller->hasDisplayedCurrentAd(); };
    for (int i = 0; i < 10 && !settled(); ++i)
        waitSeconds(1);
    EXPECT_EQ(viewsHidingTheAd(), "") << "the first ad\n" << screen();

    auto shown = slot()->currAdapter();
    for (int refresh = 1; refresh <= 3; ++refresh) {
        SCOPED_TRACE("refresh " + std::to_string(refresh));
        // The next refresh that brings a Cobalt ad: a new adapter holds the slot's view.
        const std::int64_t before = controller->slot()->dlTime();
        auto refreshed = [&] { return cobaltShown() && slot()->currAdapter() != shown; };
        for (int i = 0; i < 100 && !refreshed(); ++i)
            waitSeconds(1);
        ASSERT_TRUE(refreshed()) << screen();
        shown = slot()->currAdapter();
        ASSERT_EQ(cobaltAdView(), adView);
        // The page has shown the new ad (it is drawn and counted as displayed).
        auto newAdShown = [&] { return settled() && controller->slot()->dlTime() != before; };
        for (int i = 0; i < 10 && !newAdShown(); ++i)
            waitSeconds(1);
        EXPECT_TRUE(newAdShown());
        EXPECT_EQ(viewsHidingTheAd(), "") << screen();
    }
}

INSTANTIATE_TEST_SUITE_P(Cobalt, CobaltRefresh,
                         ::testing::Values(LifecycleCase{"Phone", platform::DeviceProfile::Phone, false},
                                           LifecycleCase{"Tablet", platform::DeviceProfile::Tablet, false}),
                         [](const ::testing::TestParamInfo<LifecycleCase>& info) {
                             return std::string(info.param.name);
                         });

// As a person types it into `ferrowick`: the ad's landing page opened and closed again. The
// banner shows its next ad 3 s after the page closes, fading out while its page's messages are
// carried on and fading back in; `tap Done` ends with that done, and the next command finds
// nothing left to move the clock for.
class CobaltLandingPageClosed : public CobaltLifecycle {};

TEST_P(CobaltLandingPageClosed, DoneEndsWithTheBannerShowingAgain) {
    runner::CommandInterpreter commands([](double seconds) { runner::waitFor(seconds, true); });
    auto run = [&commands](const char* line) {
        auto result = runner::runCommand(commands, line);
        EXPECT_TRUE(result.ok) << line << ": " << result.output;
        EXPECT_EQ(result.output.find("note:"), std::string::npos) << line << ": " << result.output;
        return result;
    };
    auto marks = runner::commandMarks();
    launch();
    runner::settle(marks);
    run("wait 10");
    ASSERT_TRUE(cobaltShown()) << screen();
    run("tap Ad");
    ASSERT_NE(screen().find("[Done]"), std::string::npos) << screen();
    auto controller = cobaltAdView()->controller();
    const std::int64_t shownBefore = controller->slot()->dlTime();
    run("tap Done");
    EXPECT_EQ(viewsHidingTheAd(), "") << screen();
    EXPECT_FALSE(controller->isRefreshing());
    EXPECT_NE(controller->slot()->dlTime(), shownBefore) << "the next ad shows";
    const double before = platform::Clock::current().monotonic();
    run("screen");
    EXPECT_NEAR(platform::Clock::current().monotonic() - before, 0.0, 1e-6);
    EXPECT_EQ(viewsHidingTheAd(), "") << screen();
}

INSTANTIATE_TEST_SUITE_P(Cobalt, CobaltLandingPageClosed,
                         ::testing::Values(LifecycleCase{"Phone", platform::DeviceProfile::Phone, true},
                                           LifecycleCase{"Tablet", platform::DeviceProfile::Tablet, true}),
                         [](const ::testing::TestParamInfo<LifecycleCase>& info) {
                             return std::string(info.param.name);
                         });

// On a tablet: the landing page open, the application in the background, its Done tapped and
// the ad tapped again, then the return to the foreground while the banner is still fading out
// before the window slides up. The window must end up with a Done that works and leads back
// to the drive, and count as displaying meanwhile so the banners are not refreshed under it.
class CobaltForegroundDuringExpansion : public CobaltLifecycle {
protected:
    // A quick hand's steps of time, and far more of them than the page needs to answer a tap.
    static constexpr double kQuickStepSeconds = 0.05;
    static constexpr int kQuickStepsLimit = 100;
};

TEST_P(CobaltForegroundDuringExpansion, TheLandingPageStillHasAWayOut) {
    // The steps as a person types them into `ferrowick`.
    runner::CommandInterpreter commands([](double seconds) { runner::waitFor(seconds, true); });
    auto run = [&commands](const char* line) { return runner::runCommand(commands, line).ok; };
    launch();
    runner::settle();
    for (int i = 0; i < 15 && !cobaltShown(); ++i)
        waitSeconds(1);
    ASSERT_TRUE(cobaltShown()) << screen();
    auto window = cobalt::CBFullScreenAdWindow::shared();
    ASSERT_TRUE(run("tap Ad")) << screen();
    ASSERT_TRUE(run("wait 3"));
    ASSERT_TRUE(window->isKeyWindow());
    ASSERT_TRUE(run("background"));
    ASSERT_TRUE(run("tap Done")) << screen();
    ASSERT_TRUE(run("tap Refresh")) << screen();
    // The ad takes the window again; the application comes back before the window has slid
    // up. A command settles until then, so the tap goes in as a quick hand would make it: time
    // moves in short steps only until the window has the ad's screen.
    ASSERT_TRUE(commands.execute("tap Ad").ok) << screen();
    for (int i = 0; i < kQuickStepsLimit && !window->contentController(); ++i)
        runner::waitFor(kQuickStepSeconds, true);
    ASSERT_TRUE(window->contentController());
    ASSERT_FALSE(window->isKeyWindow());
    ASSERT_TRUE(run("foreground"));
    EXPECT_TRUE(window->isDisplaying());

    for (int i = 0; i < 10 && !platform::TextRenderer::findTappable("Done"); ++i)
        waitSeconds(1);
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_TRUE(window->isDisplaying());
    ASSERT_TRUE(platform::TextRenderer::tap("Done")) << screen();
    waitSeconds(3);
    EXPECT_FALSE(window->isDisplaying());
    ASSERT_TRUE(platform::TextRenderer::tap("Settings")) << screen();
    waitSeconds(2);
    EXPECT_NE(screen().find("Enable passkey lock"), std::string::npos) << screen();
}

INSTANTIATE_TEST_SUITE_P(
    Cobalt, CobaltForegroundDuringExpansion,
    ::testing::Values(LifecycleCase{"Tablet", platform::DeviceProfile::Tablet, true}),
    [](const ::testing::TestParamInfo<LifecycleCase>& info) { return std::string(info.param.name); });

} // namespace
