// Random use of the whole application, as a restless person would use it through `ferrowick`:
// for a few seeds, on the phone and on the tablet, a run of random steps (taps on whatever is
// on screen, the ad, background and foreground, waits, shakes, scrolls, pushes, typing), then
// the way home a person would take (Done, Back, Close, Cancel, OK, Close news) must reach the
// drive. Time moves on the manual clock only, so a seed replays the same run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <typeinfo>
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
#include "platform/ui/Screen.h"
#include "platform/ui/SegmentedControl.h"
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

// Points a touch tries across a control's frame, per side, to find a part of it a finger reaches.
constexpr int kTouchGrid = 7;

// Whether a touch somewhere on `control` (inside the screen) reaches it.
bool aTouchReaches(platform::Window& window, const platform::View& control) {
    platform::Rect frame =
        control.convertRectTo(control.bounds(), nullptr).intersection(platform::Screen::main().bounds());
    if (frame.isEmpty())
        return false;
    for (int row = 0; row < kTouchGrid; ++row)
        for (int column = 0; column < kTouchGrid; ++column) {
            platform::Point at{frame.minX() + frame.width() * (column + 0.5) / kTouchGrid,
                               frame.minY() + frame.height() * (row + 0.5) / kTouchGrid};
            auto hit = window.hitTest(window.convertPointFrom(at, nullptr), nullptr);
            if (hit && hit->isDescendantOf(&control))
                return true;
        }
    return false;
}

// The controls shown where touches reach, enabled or not: an alert's while one is up (it is
// modal), else the key window's. A view within a table row is left to the row (`tap` takes
// rows by their text).
void collectControls(const std::shared_ptr<platform::View>& view,
                     std::vector<std::shared_ptr<platform::Control>>& out) {
    if (!view || view->isHidden() || view->alpha() < 0.01 || !view->isUserInteractionEnabled() ||
        std::dynamic_pointer_cast<platform::TableViewCell>(view))
        return;
    if (auto control = std::dynamic_pointer_cast<platform::Control>(view))
        out.push_back(control);
    for (const auto& sub : view->subviews())
        collectControls(sub, out);
}

// What is wrong with the controls on screen: one that lies wholly past the screen's edge, or
// one that a touch reaches but `tap` cannot, by the label it has (none, or one that finds
// another view).
// A segmented control is checked segment by segment.
std::vector<std::string> unreachableControls() {
    std::vector<std::string> faults;
    auto& application = platform::Application::shared();
    auto alerts = application.visibleAlerts();
    std::vector<std::shared_ptr<platform::Control>> controls;
    if (!alerts.empty())
        collectControls(alerts.back(), controls);
    else
        collectControls(application.keyWindow(), controls);
    auto window = application.keyWindow();
    const platform::Rect screen = platform::Screen::main().bounds();
    for (const auto& control : controls) {
        std::string name =
            std::string(typeid(*control).name()) + " \"" + control->accessibilityLabel() + "\"";
        // Off the screen while what holds it is on it: past the screen's edge. (A panel that
        // has slid away takes its controls with it.)
        platform::Rect frame = control->convertRectTo(control->bounds(), nullptr);
        if (!frame.intersects(screen)) {
            auto holder = control->superview();
            if (holder && holder->convertRectTo(holder->bounds(), nullptr).intersects(screen))
                faults.push_back(name + " lies off the screen");
            continue;
        }
        if (!alerts.empty()) {
            if (control->isEnabled() &&
                (control->accessibilityLabel().empty() ||
                 !platform::TextRenderer::findTappable(control->accessibilityLabel())))
                faults.push_back(name + " cannot be tapped by a label");
            continue;
        }
        if (!window || !aTouchReaches(*window, *control))
            continue; // behind what is in front
        // Each part a touch presses: the control, or each segment. A part that is disabled now
        // needs its label for when it is enabled.
        std::vector<std::pair<std::string, bool>> parts;
        if (auto segments = std::dynamic_pointer_cast<platform::SegmentedControl>(control)) {
            for (int i = 0; i < segments->numberOfSegments(); ++i)
                parts.emplace_back(segments->accessibilityLabelForSegmentAtIndex(i),
                                   control->isEnabled() && segments->isEnabledForSegmentAtIndex(i));
        } else {
            parts.emplace_back(control->accessibilityLabel(), control->isEnabled());
        }
        for (const auto& [label, enabled] : parts) {
            if (label.empty()) {
                faults.push_back(name + " has a part without a label");
                continue;
            }
            auto found = enabled ? platform::TextRenderer::findTappable(label) : std::nullopt;
            if (enabled && (!found || found->view != control))
                faults.push_back(name + " is not what `tap " + label + "` finds");
        }
    }
    return faults;
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

    // Runs one command as `ferrowick` does and notes it for the failure message, with what is
    // wrong with the controls on the screen it leaves.
    void run(const std::string& command) {
        auto result = runner::runCommand(interpreter_, command);
        log_ += command + (result.ok ? "" : "   -> " + result.output);
        if (result.ok)
            log_ += "\n";
        for (const auto& fault : unreachableControls())
            if (std::find(controlFaults_.begin(), controlFaults_.end(), fault) == controlFaults_.end()) {
                controlFaults_.push_back(fault);
                controlFaultScreens_ += "after `" + command + "`: " + fault + "\n" +
                                        platform::TextRenderer::renderScreen() + "\n";
            }
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
    std::vector<std::string> controlFaults_;
    std::string controlFaultScreens_;
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
    std::map<std::string, int> tries;
    for (int round = 0; round < kWayHomeRounds && !onTheDrive(); ++round) {
        if (platform::Application::shared().applicationState() == platform::ApplicationState::Background) {
            run("foreground");
            continue;
        }
        // Settings that keep answering Back with the pass-key mismatch alert are left as a
        // person would who cannot make the two keys match: with the lock switched off.
        if (tries["Back"] >= 2 && platform::Application::shared().visibleAlerts().empty() &&
            platform::TextRenderer::renderScreen().find("Confirm pass key") != std::string::npos) {
            run("toggle Enable passkey lock");
            tries["Back"] = 0;
        }
        // The first way out in the list, unless another that shows has been tried fewer times:
        // a person whose Done only brings back an alert tries Back next.
        const char* choice = nullptr;
        for (const char* label : kWayHome)
            if (platform::TextRenderer::findTappable(label) && (!choice || tries[label] < tries[choice]))
                choice = label;
        bool tapped = choice != nullptr;
        if (choice) {
            ++tries[choice];
            run(std::string("tap ") + choice);
        }
        // Nothing to tap yet: a screen may still be on its way in or out.
        run(tapped ? "wait 1" : "wait 5");
    }
    EXPECT_TRUE(onTheDrive()) << "seed " << GetParam().seed << ", steps:\n"
                              << log_ << whereWeAre();
    // Every control that each screen showed lay on the screen and could be tapped by its label.
    EXPECT_TRUE(controlFaults_.empty()) << "seed " << GetParam().seed << ":\n" << controlFaultScreens_;
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomUse, ::testing::ValuesIn(allCases()), [](const auto& info) {
    return std::string(info.param.device == platform::DeviceProfile::Phone ? "Phone" : "Tablet") + "Seed" +
           std::to_string(info.param.seed);
});

} // namespace
