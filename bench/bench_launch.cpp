// Start-up time of `ferrowick`: from the process start to the drive's first settled screen
// with the embedded services, against the bare runner's start (the same process set-up, the
// embedded services, an empty window drawn once). Both run as child processes and are timed
// on the wall clock; this program is its own bare runner when started with --bare-runner.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/foundation/DeviceHome.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
#include "services/ServiceHost.h"
#include "services/StandardEndpoints.h"
#include "support/RatioMain.h"

namespace fs = std::filesystem;

namespace {

std::string selfPath;

fs::path makeHome() {
    std::string pattern = (fs::temp_directory_path() / "fw-bench-launch-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return {};
    fs::create_directories(fs::path(pattern) / "Documents");
    std::ofstream(fs::path(pattern) / "Documents" / "notes.txt") << "notes";
    return pattern;
}

int bareRunner(const char* home) {
    if (!platform::DeviceHome::setCurrent(home))
        return 1;
    services::ServiceHost embedded;
    services::installStandardEndpoints(embedded);
    if (embedded.start().empty())
        return 1;
    auto window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    window->makeKeyAndVisible();
    std::string screen = platform::TextRenderer::renderScreen();
    embedded.stop();
    return screen.size() > 1'000'000 ? 1 : 0;
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
    fs::path script = home / "script.txt";
    std::ofstream(script) << "screen\nquit\n";
    runChild(state, std::string(FERROWICK_BINARY) + " --home '" + home.string() + "' --manual-clock --script '" +
                        script.string() + "' >/dev/null 2>&1");
    fs::remove_all(home);
}
BENCHMARK(BM_LaunchToSettledDrive)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_BareRunnerEmptyWindow(benchmark::State& state) {
    fs::path home = makeHome();
    runChild(state, "'" + selfPath + "' --bare-runner '" + home.string() + "' >/dev/null 2>&1");
    fs::remove_all(home);
}
BENCHMARK(BM_BareRunnerEmptyWindow)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--bare-runner")
        return bareRunner(argv[2]);
    selfPath = fs::canonical("/proc/self/exe").string();
    return fwbench::runWithRatios(argc, argv,
                                  {{"BM_LaunchToSettledDrive/min_time:3.000/real_time",
                                    "BM_BareRunnerEmptyWindow/min_time:3.000/real_time", 2.0, true}});
}
