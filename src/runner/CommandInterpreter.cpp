#include "runner/CommandInterpreter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/FerrowickMain.h"
#include "app/RootViewController.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"

namespace runner {
namespace {

using platform::Application;

// A day of waiting is more than any script means; larger values are refused.
constexpr double kMaxWaitSeconds = 86'400;
// How long `tap` waits for its label to show up, and how often it looks again.
constexpr double kTapPatienceSeconds = 5.0;
constexpr double kTapPollSeconds = 0.25;
// A page of scrolling keeps this much of the previous page in view.
constexpr double kScrollOverlapPoints = 44;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

CommandResult fail(std::string message) { return {false, "error: " + message + "\n", false}; }
CommandResult done(std::string message = {}) { return {true, message.empty() ? "" : message + "\n", false}; }

// Depth-first search of a view tree, front-most subviews last as drawn.
template <typename T> std::shared_ptr<T> findView(const std::shared_ptr<platform::View>& root,
                                                  const std::function<bool(T&)>& accept) {
    if (!root || root->isHidden())
        return nullptr;
    if (auto typed = std::dynamic_pointer_cast<T>(root); typed && accept(*typed))
        return typed;
    for (const auto& sub : root->subviews())
        if (auto found = findView<T>(sub, accept))
            return found;
    return nullptr;
}

// Text fields of a tree, front-most first (later subviews lie on top of earlier ones).
void collectTextFields(const std::shared_ptr<platform::View>& view,
                       std::vector<std::shared_ptr<platform::TextField>>& out) {
    if (!view || view->isHidden())
        return;
    const auto& subs = view->subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        collectTextFields(*it, out);
    if (auto field = std::dynamic_pointer_cast<platform::TextField>(view))
        out.push_back(field);
}

std::shared_ptr<platform::TextField> textFieldToTypeInto() {
    auto& application = Application::shared();
    // An alert with a field takes the typing first, as it covers the screen.
    auto alerts = application.visibleAlerts();
    for (auto it = alerts.rbegin(); it != alerts.rend(); ++it)
        if ((*it)->numberOfTextFields() > 0) {
            for (int i = 0; i < (*it)->numberOfTextFields(); ++i)
                if (auto field = (*it)->textFieldAtIndex(i); field && field->isFirstResponder())
                    return field;
            return (*it)->textFieldAtIndex(0);
        }
    auto window = application.keyWindow();
    if (!window)
        return nullptr;
    std::vector<std::shared_ptr<platform::TextField>> fields;
    collectTextFields(window, fields);
    for (auto& field : fields)
        if (field->isFirstResponder())
            return field;
    // Else the front-most field that a tap on its centre would reach (not covered by another view).
    for (auto& field : fields) {
        if (!field->isEffectivelyVisible())
            continue;
        auto bounds = field->bounds();
        auto center = field->convertPointTo({bounds.x() + bounds.width() / 2, bounds.y() + bounds.height() / 2},
                                            window.get());
        auto hit = window->hitTest(center, nullptr);
        if (hit && hit->isDescendantOf(field.get()))
            return field;
    }
    return nullptr;
}

// The first table row showing `text`, with its table.
std::optional<std::pair<std::shared_ptr<platform::TableView>, platform::IndexPath>> rowShowing(std::string_view text) {
    for (auto& match : platform::TextRenderer::findRows(text))
        if (match.table && !match.indexPaths.empty())
            return std::make_pair(match.table, match.indexPaths.front());
    return std::nullopt;
}

bool tapOnce(std::string_view label) {
    if (platform::TextRenderer::tap(label))
        return true;
    if (auto row = rowShowing(label)) {
        row->first->tapRowAtIndexPath(row->second);
        return true;
    }
    return false;
}

// A person waits a moment for what they mean to tap: a page's Done button that shows once the
// page is in, a screen still sliding in. So does `tap`, letting time pass in small steps.
CommandResult tap(std::string_view label, const std::function<void(double)>& waitFor) {
    if (label.empty())
        return fail("tap needs a label");
    for (double waited = 0;; waited += kTapPollSeconds) {
        if (tapOnce(label))
            return done();
        if (waited >= kTapPatienceSeconds)
            break;
        waitFor(kTapPollSeconds);
    }
    return fail("nothing labelled \"" + std::string(label) + "\" on screen");
}

CommandResult type(std::string_view text) {
    auto field = textFieldToTypeInto();
    if (!field)
        return fail("no text field on screen");
    if (!field->isFirstResponder() && !field->becomeFirstResponder())
        return fail("the text field does not take typing now");
    std::size_t typed = field->typeText(text);
    if (typed < text.size())
        return done("typed " + std::to_string(typed) + " of " + std::to_string(text.size()) + " characters");
    return done();
}

CommandResult toggle(std::string_view rowText) {
    auto row = rowShowing(rowText);
    if (!row)
        return fail("no row showing \"" + std::string(rowText) + "\"");
    auto cell = row->first->cellForRowAtIndexPath(row->second);
    auto control = findView<platform::Switch>(cell, [](platform::Switch&) { return true; });
    if (!control)
        return fail("the row \"" + std::string(rowText) + "\" has no switch");
    control->simulateTap();
    return done(std::string(rowText) + ": " + (control->isOn() ? "on" : "off"));
}

CommandResult deleteRow(std::string_view rowText) {
    auto row = rowShowing(rowText);
    if (!row)
        return fail("no row showing \"" + std::string(rowText) + "\"");
    if (!row->first->swipeToDeleteRow(row->second) || !row->first->confirmDeletion())
        return fail("the row \"" + std::string(rowText) + "\" cannot be deleted");
    return done();
}

CommandResult push(std::string_view json) {
    std::string error;
    auto payload = platform::Value::fromJSON(json, &error);
    if (!payload || !payload->dictionary())
        return fail("push needs a JSON object" + (error.empty() ? std::string() : ": " + error));
    Application::shared().deliverRemoteNotification(*payload->dictionary());
    return done();
}

CommandResult refresh() {
    auto root = app::currentRootViewController();
    if (!root)
        return fail("the drive is not running");
    root->hideShowFileExtension();
    return done();
}

// The front-most visible scroll view (a table is one) of the key window that takes touches.
std::shared_ptr<platform::ScrollView> frontScrollView() {
    auto window = Application::shared().keyWindow();
    if (!window)
        return nullptr;
    std::shared_ptr<platform::ScrollView> found;
    std::function<void(const std::shared_ptr<platform::View>&)> visit = [&](const std::shared_ptr<platform::View>& v) {
        if (!v || v->isHidden() || v->alpha() < 0.01)
            return;
        // One that takes no touches (a web view's own) is not the user's to scroll.
        if (auto scroll = std::dynamic_pointer_cast<platform::ScrollView>(v); scroll && scroll->isUserInteractionEnabled())
            found = scroll; // later in drawing order lies in front
        for (const auto& sub : v->subviews())
            visit(sub);
    };
    visit(window);
    return found;
}

// `scroll up|down`: a page at a time; `scroll up|down <row text>`: until that row is in view.
CommandResult scroll(std::string_view argument) {
    auto space = argument.find(' ');
    std::string_view direction = argument.substr(0, space);
    std::string_view rowText = space == std::string_view::npos ? std::string_view() : trim(argument.substr(space + 1));
    if (direction != "up" && direction != "down")
        return fail("scroll needs up or down, and may name a row");
    if (!rowText.empty()) {
        auto row = rowShowing(rowText);
        if (!row)
            return fail("no row showing \"" + std::string(rowText) + "\"");
        row->first->scrollToRowAtIndexPath(row->second, platform::TableViewScrollPosition::Middle, false);
        return done();
    }
    auto view = frontScrollView();
    if (!view)
        return fail("nothing on screen scrolls");
    view->layoutIfNeeded();
    double page = std::max(view->bounds().height() - kScrollOverlapPoints, kScrollOverlapPoints);
    double limit = std::max(0.0, view->contentSize().height - view->bounds().height());
    double y = view->contentOffset().y + (direction == "down" ? page : -page);
    y = std::clamp(y, 0.0, limit);
    view->setContentOffset({view->contentOffset().x, y});
    view->layoutIfNeeded();
    return done(limit > 0 ? "scrolled to " + std::to_string(int(std::lround(y * 100 / limit))) + "%"
                          : std::string("everything is in view"));
}

std::optional<double> parseSeconds(std::string_view text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0 ||
        value > kMaxWaitSeconds)
        return std::nullopt;
    return value;
}

// A shake: readings swinging hard along x around the device at rest (z = -1 g), one per
// accelerometer interval.
constexpr int kDefaultShakeReadings = 10;
constexpr int kMaxShakeReadings = 1000;
constexpr double kShakeSwing = 2.5;
constexpr double kRestingZ = -1.0;

CommandResult shake(std::string_view argument) {
    int count = kDefaultShakeReadings;
    if (!argument.empty()) {
        auto [end, ec] = std::from_chars(argument.data(), argument.data() + argument.size(), count);
        if (ec != std::errc() || end != argument.data() + argument.size() || count < 1 || count > kMaxShakeReadings)
            return fail("shake takes a number of readings between 1 and " + std::to_string(kMaxShakeReadings));
    }
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    if (!accelerometer.hasDelegate())
        return done("shake: nothing on screen listens to the accelerometer");
    for (int i = 0; i < count; ++i)
        accelerometer.injectAcceleration(i % 2 == 0 ? kShakeSwing : -kShakeSwing, 0.0, kRestingZ);
    return done("shake: " + std::to_string(count) + " readings, one every " +
                std::to_string(std::max(accelerometer.updateInterval(), platform::Accelerometer::kMinimumUpdateInterval)) +
                " s");
}

// Writes a PNG picture of the screen to `argument` (a file name ending in ".png").
CommandResult snapshot(std::string_view argument) {
    constexpr std::string_view kExtension = ".png";
    if (argument.size() <= kExtension.size() || argument.substr(argument.size() - kExtension.size()) != kExtension)
        return fail("snapshot needs a file name ending in .png");
    platform::Error error;
    if (!platform::ScreenPicture::snapshot(std::filesystem::path(std::string(argument)), &error))
        return fail(error.localizedDescription);
    return done("snapshot written to " + std::string(argument));
}

constexpr const char* kHelp = "commands: screen, snapshot <file.png>, tap <label>, type <text>, toggle <row text>,\n"
                              "          delete <row text>, scroll up|down [<row text>], push <json>, refresh,\n"
                              "          background, foreground, shake [readings], wait <seconds>, adapters, help, quit";

} // namespace

CommandResult CommandInterpreter::execute(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() == '#')
        return done();
    auto space = line.find(' ');
    std::string_view name = line.substr(0, space);
    std::string_view argument = space == std::string_view::npos ? std::string_view() : trim(line.substr(space + 1));

    if (name == "screen")
        return done(platform::TextRenderer::renderScreen());
    if (name == "snapshot")
        return snapshot(argument);
    if (name == "tap")
        return tap(argument, waitFor_);
    if (name == "type")
        return type(argument);
    if (name == "toggle")
        return toggle(argument);
    if (name == "delete")
        return deleteRow(argument);
    if (name == "push")
        return push(argument);
    if (name == "refresh")
        return refresh();
    if (name == "scroll")
        return scroll(argument);
    if (name == "background") {
        Application::shared().enterBackground();
        return done();
    }
    if (name == "foreground") {
        Application::shared().enterForeground();
        return done();
    }
    if (name == "shake")
        return shake(argument);
    if (name == "wait") {
        auto seconds = parseSeconds(argument);
        if (!seconds)
            return fail("wait needs a number of seconds between 0 and 86400");
        waitFor_(*seconds);
        CommandResult result = done();
        result.movedTheClock = true;
        return result;
    }
    if (name == "adapters") {
        std::string types;
        for (int type : mediation::SwitchboardAdNetworkRegistry::sharedRegistry().registeredNetworkTypes())
            types += (types.empty() ? "" : " ") + std::to_string(type);
        return done("adapters: " + types);
    }
    if (name == "help")
        return done(kHelp);
    if (name == "quit")
        return {true, "", true};
    return fail("unknown command \"" + std::string(name) + "\" (try help)");
}

} // namespace runner
