#pragma once
// `ferrowick`: sets up the device home, the device profile and the remote services, launches
// the drive application and drives it with commands from the terminal or a script, showing
// the screen as text. The main run loop runs on the system clock (or, with --manual-clock,
// on a clock that moves only with `wait`). Answers the process exit status.
#include <cstdint>
#include <string_view>

#include "runner/CommandInterpreter.h"

namespace runner {

int runFerrowick(int argc, char** argv);

// The newest animation recorded so far. Animations recorded after it are those of the
// command that runs next: settle(mark) lets them finish.
std::uint64_t animationMark();

// Lets the main run loop settle before the next command is read: the requests in flight
// finish (in real time, bounded), the work they queue runs, and running animations end:
// those recorded after `commandAnimations` (the command's own: a panel sliding, a row going)
// and every presentation, push, pop or transition, whoever started it (a landing page that
// arrives and slides in). On the manual clock the clock moves to their end. Animations get at
// most kAnimationSettleLimitSeconds of clock time per settle, so a repeating animation (the
// blinking upgrade button) cannot hold it. The runner settles after the launch and after
// every command.
inline constexpr double kAnimationSettleLimitSeconds = 3.0;
void settle(std::uint64_t commandAnimations = UINT64_MAX);
// Runs one command as the runner does: carries it out, then settles with its own animations.
CommandResult runCommand(CommandInterpreter& interpreter, std::string_view line);
// Lets `seconds` pass on the main run loop: in real time, or on the manual clock in short
// steps, each followed by settle(), so a scripted run sees what the replies bring as time
// passes.
void waitFor(double seconds, bool manualClock);

} // namespace runner
