// Random use of the whole application, as a restless person would use it through `ferrowick`:
// for a few seeds, on the phone and on the tablet, a run of random steps (taps on whatever is
// on screen, the ad, background and foreground, waits, shakes, scrolls, pushes, typing), then
// the way home a person would take (Done, Back, Close, Cancel, OK, Close news) must reach the
// drive. Time moves on the manual clock only, so a seed replays the same run.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <typeinfo>
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
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "meridian/MRHandshake.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Control.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "promo/AdViewController.h"
#include "runner/CommandInterpreter.h"
#include "runner/Runner.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace {

constexpr int kRandomSteps = 45;
constexpr std::uint32_t kSeeds[] = {7, 19, 2024, 31337};
// The labels a person taps to leave whatever is in front, in the order they try them.
constexpr const char* kWayHome[] = {"Done", "Back", "Close", "Cancel", "OK", "Close news"};
// Rounds of the way home before the test gives up: each round taps one way out and lets the
// screen settle, so this is far more than any stack of screens needs.
constexpr int kWayHomeRounds = 20;
// A cap in real time on the wait for the banner host, which comes after a loopback reply.
constexpr double kSlotWaitLimitSeconds = 20.0;

struct RandomUseCase {
    std::uint32_t seed;
    platform::DeviceProfile device;
};

std::vector<RandomUseCase> allCases() {
    std::vector<RandomUseCase> cases;
    for (auto device : {platform::DeviceProfile::Phone, platform::DeviceProfile::Tablet})
        for (auto seed : kSeeds)
            cases.push_back({seed, device});
    return cases;
}

// Everything on screen a person could touch by its label: an alert's buttons while one is up
// (it is modal), else the key window's enabled controls and table rows that a touch reaches.
void collectLabels(const std::shared_ptr<platform::View>& view, std::vector<std::string>& out) {
    if (!view || view->isHidden() || view->alpha() < 0.01)
        return;
    auto label = view->accessibilityLabel();
    if (!label.empty()) {
        auto control = std::dynamic_pointer_cast<platform::Control>(view);
        if ((control && control->isEnabled()) || std::dynamic_pointer_cast<platform::TableViewCell>(view))
            out.push_back(label);
    }
    for (const auto& sub : view->subviews())
        collectLabels(sub, out);
}

std::vector<std::string> visibleLabels() {
    std::vector<std::string> labels;
    auto& application = platform::Application::shared();
    auto alerts = application.visibleAlerts();
    if (!alerts.empty())
        collectLabels(alerts.back(), labels);
    else
        collectLabels(application.keyWindow(), labels);
    // Only what a touch can reach: not what lies behind a screen in front.
    std::erase_if(labels, [](const std::string& label) { return !platform::TextRenderer::findTappable(label); });
    return labels;
}

class RandomUse : public apptest::AppTest, public ::testing::WithParamInterface<RandomUseCase> {
protected:
    void SetUp() override {
        runnertest::startAsOnAFreshDevice(services_);
        platform::Device::setProfile(GetParam().device);
        addFile("notes.txt", 120);
        addFile("holiday.zip", 4'000'000);
        addFile("song.mp3", 5'000);
    }

    void TearDown() override {
        // Nothing of this run reaches the next: close what is still up, let replies land.
        if (platform::Application::shared().applicationState() == platform::ApplicationState::Background)
            platform::Application::shared().enterForeground();
        runner::settle();
    }

    // Runs one command as `ferrowick` does and notes it for the failure message.
    void run(const std::string& command) {
        auto result = runner::runCommand(interpreter_, command);
        log_ += command + (result.ok ? "" : "   -> " + result.output);
        if (result.ok)
            log_ += "\n";
    }

    // The drive in front and reachable: no alert, no screen above the root, nothing covering
    // its Settings button, the application in the foreground.
    static bool onTheDrive() {
        auto& application = platform::Application::shared();
        if (application.applicationState() == platform::ApplicationState::Background ||
            !application.visibleAlerts().empty())
            return false;
        auto delegate = app::currentAppDelegate();
        auto nav = delegate ? delegate->navigationController() : nullptr;
        if (!nav || nav->presentedViewController() || nav->topViewController() != app::currentRootViewController())
            return false;
        return platform::TextRenderer::findTappable("Settings").has_value();
    }

    // Where the run ended, for the failure message.
    static std::string whereWeAre() {
        auto& application = platform::Application::shared();
        auto delegate = app::currentAppDelegate();
        auto nav = delegate ? delegate->navigationController() : nullptr;
        auto key = application.keyWindow();
        std::string text = "windows: " + std::to_string(application.windows().size()) +
                           ", key window is the application's: " +
                           (key && delegate && key == delegate->window() ? "yes" : "no") +
                           ", alerts: " + std::to_string(application.visibleAlerts().size()) +
                           ", presented: " + (nav && nav->presentedViewController() ? "yes" : "no") +
                           ", root on top: " +
                           (nav && nav->topViewController() == app::currentRootViewController() ? "yes" : "no") +
                           ", Settings reachable: " +
                           (platform::TextRenderer::findTappable("Settings") ? "yes" : "no") + "\n";
        // What a touch on the drive's Settings button would reach instead.
        std::function<std::shared_ptr<platform::View>(const std::shared_ptr<platform::View>&)> find =
            [&find](const std::shared_ptr<platform::View>& v) -> std::shared_ptr<platform::View> {
            if (!v)
                return nullptr;
            if (v->accessibilityLabel() == "Settings")
                return v;
            for (const auto& sub : v->subviews())
                if (auto found = find(sub))
                    return found;
            return nullptr;
        };
        if (auto settings = find(key); settings && key) {
            auto b = settings->bounds();
            auto at = settings->convertPointTo({b.midX(), b.midY()}, key.get());
            auto hit = key->hitTest(at, nullptr);
            text += "a touch on Settings reaches:";
            for (auto v = hit; v; v = v->superview())
                text += std::string(" ") + typeid(*v).name() + (v->accessibilityLabel().empty() ? "" : "(" + v->accessibilityLabel() + ")");
            text += "\n";
        }
        return text + platform::TextRenderer::renderScreen();
    }

    std::string randomStep(std::mt19937& rng) {
        auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
        switch (pick(12)) {
        case 0:
        case 1:
        case 2:
        case 3: {
            auto labels = visibleLabels();
            if (labels.empty())
                return "wait 1";
            return "tap " + labels[pick(labels.size())];
        }
        case 4:
            return "tap Ad";
        case 5:
            return platform::Application::shared().applicationState() == platform::ApplicationState::Background
                       ? "foreground"
                       : "background";
        case 6: {
            constexpr const char* kWaits[] = {"wait 0.3", "wait 1", "wait 3", "wait 10", "wait 31"};
            return kWaits[pick(std::size(kWaits))];
        }
        case 7:
            return pick(2) ? "shake" : "shake 3";
        case 8: {
            constexpr const char* kScrolls[] = {"scroll down", "scroll up", "scroll down notes.txt"};
            return kScrolls[pick(std::size(kScrolls))];
        }
        case 9:
            return pick(2) ? R"(push {"applink":"123456"})" : R"(push {"aps":{"alert":"Hello"}})";
        case 10: {
            constexpr const char* kTexts[] = {"2468", "1357", "hello", "0"};
            return std::string("type ") + kTexts[pick(std::size(kTexts))];
        }
        default:
            return "refresh";
        }
    }

    fwtest::LoopbackServices services_;
    runner::CommandInterpreter interpreter_{[](double seconds) { runner::waitFor(seconds, true); }};
    std::string log_;
};

TEST_P(RandomUse, AnyRunOfStepsEndsBackOnTheDrive) {
    std::mt19937 rng(GetParam().seed);
    launch();
    // The slot draws its networks from the seed too, so a seed replays the same ads. It comes
    // with the banner host once the launch pop-up is done, and draws once its configuration
    // has arrived, on a later turn.
    auto slotMade = [] { return app::adView && app::adView->mediationView(); };
    ASSERT_TRUE(platform::RunLoop::main().runUntil(slotMade, kSlotWaitLimitSeconds));
    app::adView->mediationView()->setRandomSource([draws = std::mt19937(GetParam().seed)]() mutable { return draws(); });
    runner::settle();
    for (int step = 0; step < kRandomSteps; ++step)
        run(randomStep(rng));

    log_ += "-- the way home\n";
    for (int round = 0; round < kWayHomeRounds && !onTheDrive(); ++round) {
        if (platform::Application::shared().applicationState() == platform::ApplicationState::Background) {
            run("foreground");
            continue;
        }
        bool tapped = false;
        for (const char* label : kWayHome)
            if (platform::TextRenderer::findTappable(label)) {
                run(std::string("tap ") + label);
                tapped = true;
                break;
            }
        // Nothing to tap yet: a screen may still be on its way in or out.
        run(tapped ? "wait 1" : "wait 5");
    }
    EXPECT_TRUE(onTheDrive()) << "seed " << GetParam().seed << ", steps:\n"
                              << log_ << whereWeAre();
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomUse, ::testing::ValuesIn(allCases()), [](const auto& info) {
    return std::string(info.param.device == platform::DeviceProfile::Phone ? "Phone" : "Tablet") + "Seed" +
           std::to_string(info.param.seed);
});

} // namespace
