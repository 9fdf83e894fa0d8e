#include "runner/Runner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/FerrowickMain.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Services.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/BackgroundWork.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/WaitingMessages.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/TextFonts.h"
#include "platform/ui/TextRenderer.h"
#include "runner/CommandInterpreter.h"
#include "runner/ConsoleLog.h"
#include "runner/RunnerOptions.h"
#include "services/StandardEndpoints.h"

namespace runner {
namespace {

using platform::RunLoop;

// Rounds of settling: replies bring work that may start further requests, animations and
// timers; each round that moves the clock goes to the next timer. The clock and real-time
// limits end a settle long before this many rounds; it only guards against a clock that
// cannot move.
constexpr int kMaxSettleRounds = 10'000;
// The manual clock's `wait` moves in steps of this much (longer ones in at most
// kMaxManualWaitSteps steps), settling after each.
constexpr double kManualWaitStepSeconds = 0.5;
constexpr double kMaxManualWaitSteps = 240;
// A little clock time past an animation's end, so the did-stop due at its end has run.
constexpr double kAnimationEndMargin = 0.01;
// Where the console lines go: Library/Logs/console.log under the device home.
constexpr const char* kConsoleLogFolder = "Logs";
constexpr const char* kConsoleLogFile = "console.log";

// Seconds as a person reads them: "15", "0.5".
std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// Hands lines from the command source to the main thread one at a time: the next line is
// read only after the previous command has finished, so a `wait` is never overtaken.
class CommandFeeder {
public:
    CommandFeeder(std::istream& input, CommandInterpreter& interpreter, bool interactive)
        : input_(input), interpreter_(interpreter), interactive_(interactive) {}

    void start() {
        thread_ = std::thread([this] { readLoop(); });
    }

    // Answers false when the reader is still blocked on its input (the run ended another
    // way): the thread is then left to end with the process, and this object must outlive it.
    bool finish() {
        bool blocked;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            blocked = reading_;
        }
        finished_.notify_all();
        if (!thread_.joinable())
            return true;
        if (blocked) {
            thread_.detach();
            return false;
        }
        thread_.join();
        return true;
    }

private:
    void readLoop() {
        std::string line;
        for (;;) {
            if (interactive_)
                std::cout << "> " << std::flush;
            {
                std::lock_guard lock(mutex_);
                reading_ = true;
            }
            bool gotLine = static_cast<bool>(std::getline(input_, line));
            bool quit = !gotLine;
            {
                std::unique_lock lock(mutex_);
                reading_ = false;
                if (stopping_)
                    return;
                busy_ = true;
            }
            platform::performOnMain([this, line, quit] {
                CommandResult result = quit ? CommandResult{true, "", true} : runCommand(interpreter_, line);
                std::cout << result.output;
                if (interactive_ && !result.quit && result.ok && line.rfind("screen", 0) != 0)
                    std::cout << platform::TextRenderer::renderScreen() << "\n";
                std::cout << std::flush;
                if (result.quit)
                    platform::Application::shared().terminate();
                {
                    std::lock_guard lock(mutex_);
                    busy_ = false;
                    stopping_ = stopping_ || result.quit;
                }
                finished_.notify_all();
            });
            std::unique_lock lock(mutex_);
            finished_.wait(lock, [this] { return !busy_ || stopping_; });
            if (stopping_)
                return;
        }
    }

    std::istream& input_;
    CommandInterpreter& interpreter_;
    bool interactive_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool busy_ = false;
    bool reading_ = false;
    bool stopping_ = false;
};

// Sends the system's console lines to `file` (bounded, see ConsoleLog), so they never
// interleave with the screen. The file stays open for the rest of the process: lines from
// other threads may come until its very end. Answers false, leaving the lines on standard
// error, when it cannot.
bool routeConsoleTo(const std::filesystem::path& file) {
    // Never freed: the sink may be called until the process ends.
    ConsoleLog* log = ConsoleLog::open(file).release();
    if (!log)
        return false;
    platform::setLogSink([log](std::string_view line) { log->write(line); });
    return true;
}

} // namespace

CommandMarks commandMarks() {
    auto last = platform::AnimationLog::shared().last();
    return {last ? last->id : 0, platform::Timer::lastScheduleSerial()};
}

namespace {

// Requests whose server stayed silent through a whole settle, with the number of answers they
// had then: later settles do not wait for them until they answer again (or end), so a service
// that accepts and never answers costs one settle's budget, not one per settle. Main thread.
std::map<std::uint64_t, std::uint64_t>& silentLoads() {
    static std::map<std::uint64_t, std::uint64_t> loads;
    return loads;
}

// The amount of background work still going when a settle's budget ran out (a download from
// a silent server): later settles wait only for work beyond it. It follows the count down as
// that work ends. Main thread.
std::size_t& silentBackgroundWork() {
    static std::size_t level = 0;
    return level;
}

// The main run loop's waits for work in flight: requests, queued tasks, busy workers, within
// one settle's real-time budget.
class SettleBudget {
public:
    SettleBudget()
        : deadline_(std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(kSettleLimitSeconds))) {
        // Requests that have ended, or answered since they were written off, are forgotten.
        auto& silent = silentLoads();
        std::map<std::uint64_t, std::uint64_t> stillSilent;
        for (const auto& load : platform::URLConnection::runningLoads())
            if (auto it = silent.find(load.serial); it != silent.end() && it->second == load.answers)
                stillSilent.insert(*it);
        silent.swap(stillSilent);
    }

    double left() const {
        return std::chrono::duration<double>(deadline_ - std::chrono::steady_clock::now()).count();
    }

    // Nothing in flight that this settle waits for. Notes the answers of each request when
    // this settle first sees it.
    bool quiet() {
        auto& loop = RunLoop::main();
        const std::size_t background = platform::BackgroundWork::pendingCount();
        auto& silentBackground = silentBackgroundWork();
        silentBackground = std::min(silentBackground, background);
        bool waiting = loop.queuedTaskCount() != 0 || background > silentBackground;
        const auto& silent = silentLoads();
        for (const auto& load : platform::URLConnection::runningLoads()) {
            firstSeen_.try_emplace(load.serial, load.answers);
            if (auto it = silent.find(load.serial); it == silent.end() || it->second != load.answers)
                waiting = true;
        }
        return !waiting;
    }

    // Runs the loop until quiet or out of budget; answers whether it is quiet. When the budget
    // runs out, the requests that said nothing all the while this settle saw them are written
    // off, and so is the background work still going: the budget went on waiting for them.
    bool waitForQuiet() {
        auto& loop = RunLoop::main();
        for (;;) {
            loop.runUntil([this] { return quiet(); }, std::max(0.0, left()));
            loop.drain();
            if (quiet())
                return true;
            if (left() > 0)
                continue;
            for (const auto& load : platform::URLConnection::runningLoads())
                if (auto it = firstSeen_.find(load.serial);
                    it != firstSeen_.end() && it->second == load.answers)
                    silentLoads()[load.serial] = load.answers;
            silentBackgroundWork() = platform::BackgroundWork::pendingCount();
            return false;
        }
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    std::map<std::uint64_t, std::uint64_t> firstSeen_;
};

// A settle that never moves the clock: `wait` and its steps, which move it themselves.
void settleInPlace() {
    SettleBudget().waitForQuiet();
}

} // namespace

SettleResult settle(const CommandMarks& command) {
    auto& loop = RunLoop::main();
    auto& clock = platform::Clock::current();
    SettleBudget budget;
    const double start = clock.monotonic();
    // How far the settle follows: kTimerSettleLimitSeconds past the start, and past each
    // moment at which work it followed went on. The clock never passes the limit: work due
    // beyond it stops the settle early.
    double horizon = start + kTimerSettleLimitSeconds;
    const double limit = start + kSettleChainLimitSeconds;
    // When the awaited animations end, on the clock's monotonic time; none: nullopt.
    const std::uint64_t animationsEnd = commandMarks().animations;
    auto awaitedAnimationsEnd = [&]() -> std::optional<double> {
        std::optional<double> end;
        for (const auto& record : platform::AnimationLog::shared().records()) {
            if (record.state != platform::AnimationState::Running)
                continue;
            bool commandsOwn = record.id > command.animations && record.id <= animationsEnd;
            bool changesTheScreen = record.kind != platform::AnimationKind::Property;
            if (!commandsOwn && !changesTheScreen)
                continue;
            // One that would outlast the limit (a long or repeating one) is not waited for.
            double at = record.startTime + record.totalDuration();
            if (std::isfinite(at) && at - clock.monotonic() <= kAnimationSettleLimitSeconds)
                end = std::max(end.value_or(at), at);
        }
        return end;
    };
    // A one-shot timer the command set (not the next link of a chain that re-arms itself).
    auto setByTheCommand = [&command](const platform::Timer& timer) {
        return !timer.repeats() && timer.scheduleSerial() > command.timers && !timer.rearmsItself();
    };
    // A one-shot timer that the command itself set, before this settle, or that descends from
    // one: what the command set off, as opposed to work that happens to run meanwhile.
    const std::uint64_t commandsOwnTimersEnd = platform::Timer::lastScheduleSerial();
    auto setOffByTheCommand = [&command, commandsOwnTimersEnd](const platform::Timer& timer) {
        return !timer.repeats() && !timer.rearmsItself() && timer.originSerial() > command.timers &&
               timer.originSerial() <= commandsOwnTimersEnd;
    };
    // Whether a timer the command set off has fired in this settle: from then on the messages
    // that pages hold are what it set off too.
    bool followingWhatItSetOff = false;
    for (int round = 0; round < kMaxSettleRounds; ++round) {
        if (!budget.waitForQuiet())
            return {false, "replies or background work still under way after " +
                               formatSeconds(kSettleLimitSeconds) + " s"};
        const double now = clock.monotonic();
        std::optional<double> target;
        std::string pending;
        if (now < horizon)
            if (auto end = awaitedAnimationsEnd()) {
                // Their did-stop runs at their end: move just past it, within the horizon.
                target = std::min(std::max(*end, now) + kAnimationEndMargin, horizon);
                pending = "animations";
            }
        // Work that waits for a timer within the horizon (a timer the command set, a message a
        // bridge holds): the clock moves to the next timer.
        const double nextOwn = loop.nextFireTime(setByTheCommand);
        const bool held = platform::WaitingMessages::anyHeld();
        bool carriesHeldMessages = false;
        if (nextOwn <= horizon || held) {
            if (double next = loop.nextFireTime(); next <= horizon && next <= target.value_or(next)) {
                target = next;
                pending = held ? "messages a page holds" : "timers it set";
                carriesHeldMessages = held;
            }
        }
        const double nextSetOff = loop.nextFireTime(setOffByTheCommand);
        if (!target)
            return {};
        if (*target > limit)
            return {false, pending + " still under way after " + formatSeconds(kSettleChainLimitSeconds) +
                               " s of clock time"};
        const double step = std::max(*target - now, 0.0);
        if (clock.isManual()) {
            loop.advance(step);
        } else {
            double until = now + step;
            loop.runUntil([&clock, until] { return clock.monotonic() >= until; },
                          std::max(0.0, std::min(step, budget.left())) + 0.1);
            if (budget.left() <= 0)
                return {false, pending + " still under way after " + formatSeconds(kSettleLimitSeconds) + " s"};
        }
        // What the command set off went on: the settle follows it a horizon further.
        const double reached = clock.monotonic();
        if (nextSetOff <= reached)
            followingWhatItSetOff = true;
        if (nextSetOff <= reached || (followingWhatItSetOff && carriesHeldMessages))
            horizon = std::max(horizon, reached + kTimerSettleLimitSeconds);
    }
    return {false, "work that kept coming back"};
}

SettleResult settle() {
    return settle(CommandMarks{});
}

namespace {

// A settle that stopped before what it followed ran out says so: the screen may still change.
std::string stoppedEarlyNote(const SettleResult& settled) {
    if (settled.complete)
        return {};
    return "note: stopped settling with " + settled.pending + "; the screen may still change\n";
}

} // namespace

CommandResult runCommand(CommandInterpreter& interpreter, std::string_view line) {
    CommandMarks marks = commandMarks();
    CommandResult result = interpreter.execute(line);
    // The next command sees what this one brought: replies, queued work, animations, what it
    // set off. A wait has moved the clock by what it said, and leaves it there.
    if (result.quit)
        return result;
    if (result.movedTheClock) {
        settleInPlace();
        return result;
    }
    result.output += stoppedEarlyNote(settle(marks));
    return result;
}

void waitFor(double seconds, bool manualClock) {
    auto& loop = RunLoop::main();
    if (!manualClock) {
        loop.runUntil([] { return false; }, seconds);
        return;
    }
    // Time passes in steps with the loop settled between them, so replies arrive while it
    // passes, as they would on the system clock, instead of every timer of the span firing
    // before any reply is in. The settles do not move the clock: it moves by `seconds` exactly.
    if (seconds <= 0)
        settleInPlace();
    const double step = std::max(kManualWaitStepSeconds, seconds / kMaxManualWaitSteps);
    for (double left = seconds; left > 0; left -= step) {
        loop.advance(std::min(step, left));
        settleInPlace();
    }
}

int runFerrowick(int argc, char** argv) {
    platform::ProcessInfo::setArguments(argc, argv);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string error;
    auto options = parseRunnerOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "ferrowick: %s\n%s", error.c_str(), kRunnerUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kRunnerUsage, stdout);
        return 0;
    }
    // The fonts load on a thread of their own while the rest starts; the drive's first text
    // finds them ready instead of waiting for them on the main thread.
    platform::startLoadingFonts();
    if (!platform::DeviceHome::setCurrent(options->home)) {
        std::fprintf(stderr, "ferrowick: cannot use \"%s\" as the device home\n", options->home.c_str());
        return 1;
    }
    // The log's folder is the app's own only as a real folder: a link or a file at its name is
    // left alone, and the lines stay on standard error.
    const auto logFolder = platform::DeviceHome::library() / kConsoleLogFolder;
    if (!options->console &&
        !(platform::DeviceHome::makeOwnFolder(logFolder) && routeConsoleTo(logFolder / kConsoleLogFile)))
        std::fprintf(stderr, "ferrowick: cannot write the console log; its lines stay on standard error\n");
    platform::Device::setProfile(options->tablet ? platform::DeviceProfile::Tablet : platform::DeviceProfile::Phone);
    if (options->manualClock)
        platform::Clock::setCurrent(std::make_shared<platform::ManualClock>(platform::SystemClock().now()));

    std::unique_ptr<services::ServiceHost> embedded;
    std::string servicesURL = options->servicesURL;
    if (servicesURL.empty()) {
        embedded = std::make_unique<services::ServiceHost>();
        services::installStandardEndpoints(*embedded);
        servicesURL = embedded->start();
        if (servicesURL.empty()) {
            std::fprintf(stderr, "ferrowick: cannot start the embedded services on loopback\n");
            return 1;
        }
        platform::logLine("ferrowick: embedded services at " + servicesURL);
    }
    platform::setServicesBaseURL(servicesURL);

    std::ifstream scriptFile;
    std::istream* input = &std::cin;
    if (options->script && *options->script != "-") {
        scriptFile.open(*options->script);
        if (!scriptFile) {
            std::fprintf(stderr, "ferrowick: cannot read the script \"%s\"\n", options->script->c_str());
            return 1;
        }
        input = &scriptFile;
    }
    bool interactive = !options->script && isatty(STDIN_FILENO);

    platform::Dictionary launchOptions;
    if (options->launchPush)
        launchOptions[platform::kApplicationLaunchOptionsRemoteNotificationKey] = *options->launchPush;
    if (!options->installedSchemes.empty()) {
        auto& application = platform::Application::shared();
        auto schemes = application.installedSchemes();
        schemes.insert(options->installedSchemes.begin(), options->installedSchemes.end());
        application.setInstalledSchemes(std::move(schemes));
    }
    CommandMarks launchMarks = commandMarks();
    app::launchFerrowick(launchOptions);
    // The first command sees the settled launch: the replies it asked for have arrived, and
    // what it set off for the next moments (a check of the stored key) has happened.
    std::cout << stoppedEarlyNote(settle(launchMarks)) << std::flush;
    if (interactive)
        std::cout << platform::TextRenderer::renderScreen() << "\n";

    bool manualClock = options->manualClock;
    CommandInterpreter interpreter([manualClock](double seconds) { waitFor(seconds, manualClock); });
    auto feeder = std::make_unique<CommandFeeder>(*input, interpreter, interactive);
    feeder->start();
    int status = platform::Application::shared().run();
    if (!feeder->finish())
        feeder.release(); // still reading from the terminal: it ends with the process

    if (embedded)
        embedded->stop();
    return status;
}

} // namespace runner
