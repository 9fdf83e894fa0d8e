// Walks every screen of the drive, as a user of `ferrowick` reaches them, on the phone and on
// the tablet, and checks that each one reads cleanly as text: no two views' texts overlap or
// run into each other, and what the text screen marks as a button is what `tap` presses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "app/AppFixture.h"
#include "platform/ui/TextRenderer.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

struct WalkStep {
    const char* command; // then a second passes
    const char* screen;  // what the screen is, for the failure message
};

// From the settled launch through each screen and back.
constexpr WalkStep kWalk[] = {
    {"screen", "the launch"},
    {"wait 16", "the drive with its banner"},
    {"tap Storage", "the storage panel"},
    {"tap Storage", "the drive again"},
    {"tap Edit", "the list in editing"},
    {"tap Edit", "the list"},
    {"tap Sort", "the sorted list"},
    {"tap Help", "the help pages"},
    {"tap Back", "the drive after help"},
    {"tap More", "the more-apps page"},
    {"tap Close", "the drive after more apps"},
    {"tap Invite", "the invitation e-mail"},
    {"tap Cancel", "the drive after the e-mail"},
    {"tap Settings", "the settings"},
    {"toggle Enable passkey lock", "the settings with the pass-key fields"},
    {"toggle Enable passkey lock", "the settings without them"},
    {"tap Back", "the drive after the settings"},
    {"push {\"applink\":\"123456\"}", "the push-news panel"},
    {"tap Close news", "the drive after the news"},
};

class ScreenWalk : public apptest::AppTest, public ::testing::WithParamInterface<platform::DeviceProfile> {
protected:
    // Runs `command` as `ferrowick` would, then lets a second pass; answers its output.
    std::string step(runner::CommandInterpreter& interpreter, const std::string& command) {
        auto result = interpreter.execute(command);
        interpreter.execute("wait 1");
        return result.output;
    }

    static std::string describe(const std::vector<platform::TextCanvas::Overlap>& overlaps) {
        std::string text;
        for (const auto& o : overlaps)
            text += "  row " + std::to_string(o.row) + ", column " + std::to_string(o.column) + ": \"" + o.above +
                    "\" over \"" + o.below + "\"\n";
        return text;
    }

    void expectReadable(const std::string& where) {
        auto overlaps = platform::TextRenderer::overlaps();
        EXPECT_TRUE(overlaps.empty()) << where << ":\n"
                                      << describe(overlaps) << platform::TextRenderer::renderScreen();
    }

    fwtest::LoopbackServices services_;
};

TEST_P(ScreenWalk, EveryScreenReadsWithoutOverlaps) {
    services::installStandardEndpoints(services_.host());
    platform::Device::setProfile(GetParam());
    addFile("holiday-photos.zip", 123'456'789);
    addFile("a.txt", 3);
    runner::CommandInterpreter interpreter([](double seconds) { runner::waitFor(seconds, true); });
    launch();
    runner::settle();
    for (const auto& s : kWalk) {
        std::string output = step(interpreter, s.command);
        EXPECT_EQ(output.rfind("error:", 0), std::string::npos)
            << s.command << ": " << output << platform::TextRenderer::renderScreen();
        expectReadable(s.screen);
        EXPECT_TRUE(runnertest::tapsMatchTheTextScreen()) << s.screen;
    }
}

TEST_P(ScreenWalk, TheLockedStartReadsWithoutOverlaps) {
    services::installStandardEndpoints(services_.host());
    platform::Device::setProfile(GetParam());
    defaults().setObject("passKey", platform::Value("2468"));
    runner::CommandInterpreter interpreter([](double seconds) { runner::waitFor(seconds, true); });
    launch();
    runner::settle();
    step(interpreter, "wait 16");
    expectReadable("the pass-key prompt");
}

INSTANTIATE_TEST_SUITE_P(Devices, ScreenWalk,
                         ::testing::Values(platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet),
                         [](const auto& info) {
                             return info.param == platform::DeviceProfile::Phone ? std::string("Phone")
                                                                                 : std::string("Tablet");
                         });

} // namespace
