#pragma once
// The command line of `ferrowick`:
//   --home DIR             the device home (default "./device")
//   --device phone|tablet  the device profile (default phone)
//   --services URL         use these remote services instead of starting the embedded ones
//   --script FILE          read commands from FILE ("-" for standard input) instead of the terminal
//   --launch-push[=JSON]   launch as if a remote notification started the application
//   --manual-clock         time moves only as the commands say: `wait N` by exactly N, `tap`
//                          while it waits for its label, and each settle by what the command
//                          set off (see runner::settle), so scripted runs are repeatable
//   --console              show the system's console lines on standard error (by default they
//                          go to Library/Logs/console.log under the device home)
//   --installed-schemes LIST  comma-separated URL schemes of other applications that count as
//                          installed (canOpenURL answers yes), besides the system's own
//   -h, --help             print the usage on standard output and end (exit status 0)
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace runner {

struct RunnerOptions {
    std::string home = "device";
    bool tablet = false;
    std::string servicesURL; // empty: start the embedded services
    std::optional<std::string> script;
    std::optional<platform::Dictionary> launchPush;
    bool manualClock = false;
    bool console = false;
    std::vector<std::string> installedSchemes; // lower case
    bool help = false; // -h or --help: print the usage and end; the options after it are not read
};

// Parses the arguments after the program name; on bad input answers nullopt and fills `error`.
std::optional<RunnerOptions> parseRunnerOptions(const std::vector<std::string>& args, std::string& error);

inline constexpr const char* kRunnerUsage =
    "usage: ferrowick [--home DIR] [--device phone|tablet] [--services URL] [--script FILE|-]\n"
    "                 [--launch-push[=JSON]] [--manual-clock] [--console] [--installed-schemes LIST]\n"
    "                 [-h|--help]\n";

} // namespace runner
