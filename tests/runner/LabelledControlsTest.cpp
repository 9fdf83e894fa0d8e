// Controls that show only a picture, or only a sliver of themselves, are still tapped by their
// labels through `ferrowick`'s `tap`: the launch pop-up's promotion, and the push-news panel's
// "Open news" area that hangs past the bottom of the phone's screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "support/LoopbackServices.h"

namespace {

class LabelledControls : public apptest::AppTest,
                         public ::testing::WithParamInterface<platform::DeviceProfile> {
protected:
    void SetUp() override {
        platform::Device::setProfile(GetParam());
        runnertest::startAsOnAFreshDevice(services_);
        services_.setFault("/applications/newNews/newNewsPhone.php", services::Fault::errorStatus(404));
        services_.setFault("/applications/newNews/newNewsPad.php", services::Fault::errorStatus(404));
    }

    std::string run(const std::string& command) {
        auto result = runner::runCommand(interpreter_, command);
        EXPECT_TRUE(result.ok) << command << ": " << result.output << platform::TextRenderer::renderScreen();
        return result.output;
    }
    void launchSettled() {
        auto marks = runner::commandMarks();
        launch();
        runner::settle(marks);
    }
    static bool opened(const std::string& part) {
        const auto& urls = platform::Application::shared().openedURLs();
        return std::any_of(urls.begin(), urls.end(),
                           [&](const std::string& url) { return url.find(part) != std::string::npos; });
    }

    fwtest::LoopbackServices services_;
    runner::CommandInterpreter interpreter_{[](double seconds) { runner::waitFor(seconds, true); }};
};

TEST_P(LabelledControls, TheLaunchPopUpsPromotionIsTappedByItsName) {
    runnertest::servePopUpPromotion(services_);
    launchSettled();
    std::string screen = run("screen");
    EXPECT_NE(screen.find("[Promotion]"), std::string::npos) << screen;
    run("tap Promotion");
    EXPECT_TRUE(opened("promoted-app"))
        << ::testing::PrintToString(platform::Application::shared().openedURLs());
}

TEST_P(LabelledControls, ThePushNewsPanelOpensByTheVisiblePartOfItsArea) {
    launchSettled();
    // A push that names a promoted application: the panel opens its store page.
    run(R"(push {"applink":"904217777","aps":{"alert":"Hello"}})");
    auto area = platform::TextRenderer::findTappable("Open news");
    ASSERT_TRUE(area) << platform::TextRenderer::renderScreen();
    // The text screen shows it where it shows, as a button.
    const std::string shown = platform::TextRenderer::renderScreen();
    EXPECT_NE(shown.find("[Open news]"), std::string::npos) << shown;
    EXPECT_TRUE(runnertest::tapsMatchTheTextScreen());
    // On the phone the area (44 points high) lies mostly below the screen's edge.
    const platform::Rect screen = platform::Screen::main().bounds();
    EXPECT_TRUE(screen.contains(area->center));
    const std::size_t clicks = services_.requestCount("/pushNews/countClick.php");
    run("tap Open news");
    EXPECT_GT(services_.requestCount("/pushNews/countClick.php"), clicks);
    EXPECT_TRUE(opened("904217777")) << ::testing::PrintToString(
        platform::Application::shared().openedURLs());
}

INSTANTIATE_TEST_SUITE_P(Devices, LabelledControls,
                         ::testing::Values(platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet),
                         [](const auto& info) {
                             return std::string(info.param == platform::DeviceProfile::Phone ? "Phone"
                                                                                             : "Tablet");
                         });

} // namespace
