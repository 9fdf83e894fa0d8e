#pragma once
// `ferrowick`: sets up the device home, the device profile and the remote services, launches
// the drive application and drives it with commands from the terminal or a script, showing
// the screen as text. The main run loop runs on the system clock (or, with --manual-clock,
// on a clock that moves only with `wait`). Answers the process exit status.
namespace runner {

int runFerrowick(int argc, char** argv);

// Lets the requests in flight finish (in real time, bounded) and the work they queue run on
// the main run loop. The runner settles after the launch, before its first command.
void settle();
// Lets `seconds` pass on the main run loop: in real time, or on the manual clock followed by
// settle(), so a scripted run sees what the replies bring.
void waitFor(double seconds, bool manualClock);

} // namespace runner
