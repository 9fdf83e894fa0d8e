#pragma once
// `ferrowick`: sets up the device home, the device profile and the remote services, launches
// the drive application and drives it with commands from the terminal or a script, showing
// the screen as text. The main run loop runs on the system clock (or, with --manual-clock,
// on a clock that moves only with `wait`). Answers the process exit status.
namespace runner {

int runFerrowick(int argc, char** argv);

} // namespace runner
