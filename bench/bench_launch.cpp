// Start-up time of `ferrowick`: from the process start to the drive's first settled screen
// with the embedded services, printed by a script's "screen", then "quit"; against the bare
// runner, which does everything the runner does around the application and nothing of the
// application: the same executable's libraries and static set-up (this program links what
// `ferrowick` links), the device home, the console log, the manual clock, the embedded
// services, an empty window, the runner's settle and the same script's commands. So the
// ratio measures the application's own work. Both run as child processes and are timed on the
// wall clock, launch after launch in repetitions that are interleaved at random, and each
// side's median repetition is compared; this program is its own bare runner when started
// with --bare-runner.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Services.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "runner/CommandInterpreter.h"
#include "runner/ConsoleLog.h"
#include "runner/Runner.h"
#include "services/ServiceHost.h"
#include "services/StandardEndpoints.h"
#include "support/RatioMain.h"

namespace fs = std::filesystem;

namespace {

// The goal: the launch to a settled drive takes at most this many times the bare runner.
constexpr double kLaunchGoal = 1.5;
// Launches per repetition, and repetitions of each side (interleaved at random with the
// other side's): each side's median repetition is its figure.
constexpr int kLaunchesPerRepetition = 4;
constexpr const char* kDefaultRepetitions = "--benchmark_repetitions=15";
constexpr const char* kInterleaving = "--benchmark_enable_random_interleaving=true";

std::string selfPath;

fs::path makeHome() {
    std::string pattern = (fs::temp_directory_path() / "fw-bench-launch-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return {};
    fs::create_directories(fs::path(pattern) / "Documents");
    std::ofstream(fs::path(pattern) / "Documents" / "notes.txt") << "notes";
    return pattern;
}

fs::path writeScript(const fs::path& home) {
    fs::path script = home / "script.txt";
    std::ofstream(script) << "screen\nquit\n";
    return script;
}

// The runner's start and its script, with an empty window where the application would be.
int bareRunner(int argc, char** argv, const char* home, const char* scriptPath) {
    platform::ProcessInfo::setArguments(argc, argv);
    if (!platform::DeviceHome::setCurrent(home))
        return 1;
    runner::ConsoleLog* log = runner::ConsoleLog::open(platform::DeviceHome::library() / "Logs" / "console.log").release();
    if (!log)
        return 1;
    platform::setLogSink([log](std::string_view line) { log->write(line); });
    platform::Device::setProfile(platform::DeviceProfile::Phone);
    platform::Clock::setCurrent(std::make_shared<platform::ManualClock>(platform::SystemClock().now()));
    services::ServiceHost embedded;
    services::installStandardEndpoints(embedded);
    std::string servicesURL = embedded.start();
    if (servicesURL.empty())
        return 1;
    platform::logLine("ferrowick: embedded services at " + servicesURL);
    platform::setServicesBaseURL(servicesURL);

    auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    window->makeKeyAndVisible();
    runner::settle();
    runner::CommandInterpreter interpreter([](double seconds) { runner::waitFor(seconds, true); });
    std::ifstream script(scriptPath);
    std::string line;
    while (std::getline(script, line)) {
        runner::CommandResult result = runner::runCommand(interpreter, line);
        std::cout << result.output << std::flush;
        if (result.quit)
            break;
    }
    embedded.stop();
    return 0;
}

void runChild(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        int status = std::system(command.c_str());
        if (status != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
}

void BM_LaunchToSettledDrive(benchmark::State& state) {
    fs::path home = makeHome();
    fs::path script = writeScript(home);
    runChild(state, std::string(FERROWICK_BINARY) + " --home '" + home.string() + "' --manual-clock --script '" +
                        script.string() + "' >/dev/null 2>&1");
    fs::remove_all(home);
}
BENCHMARK(BM_LaunchToSettledDrive)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kLaunchesPerRepetition);

void BM_BareRunnerEmptyWindow(benchmark::State& state) {
    fs::path home = makeHome();
    fs::path script = writeScript(home);
    runChild(state, "'" + selfPath + "' --bare-runner '" + home.string() + "' '" + script.string() +
                        "' >/dev/null 2>&1");
    fs::remove_all(home);
}
BENCHMARK(BM_BareRunnerEmptyWindow)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kLaunchesPerRepetition);

bool hasFlag(int argc, char** argv, std::string_view prefix) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]).starts_with(prefix))
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--bare-runner")
        return bareRunner(argc, argv, argv[2], argv[3]);
    selfPath = fs::canonical("/proc/self/exe").string();
    // Interleaved repetitions unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = kDefaultRepetitions, interleaving = kInterleaving;
    if (!hasFlag(argc, argv, "--benchmark_repetitions"))
        args.push_back(repetitions.data());
    if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving"))
        args.push_back(interleaving.data());
    int count = int(args.size());
    args.push_back(nullptr);
    const std::string iterations = "/iterations:" + std::to_string(kLaunchesPerRepetition);
    return fwbench::runWithRatios(count, args.data(),
                                  {{"BM_LaunchToSettledDrive" + iterations + "/real_time",
                                    "BM_BareRunnerEmptyWindow" + iterations + "/real_time", kLaunchGoal, true}});
}
