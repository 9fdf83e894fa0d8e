#pragma once
// `ferrowick`: sets up the device home, the device profile and the remote services, launches
// the drive application and drives it with commands from the terminal or a script, showing
// the screen as text. The main run loop runs on the system clock (or, with --manual-clock,
// on a clock that moves only with `wait`). Answers the process exit status.
#include <cstdint>
#include <string>
#include <string_view>

#include "runner/CommandInterpreter.h"

namespace runner {

int runFerrowick(int argc, char** argv);

// What a command (or the launch) starts is told apart from what was there before it by marks
// taken just before it runs: animations recorded and timers scheduled after them are its own.
struct CommandMarks {
    std::uint64_t animations = UINT64_MAX;
    std::uint64_t timers = UINT64_MAX;
};
CommandMarks commandMarks();

// Lets the main run loop settle before the next command is read. Always: the requests in
// flight and the work on background threads finish (in real time, at most
// kSettleLimitSeconds per settle; a request whose server stayed silent through a whole settle
// is not waited for again until it answers or ends, nor is background work still going when
// one ran out), and the work they queue runs. Then, while any of these holds, the clock moves on to it:
//  - running animations end: the command's own (a panel sliding, a row going) and every
//    presentation, push, pop or transition, whoever started it (a landing page that arrives
//    and slides in), when they end within kAnimationSettleLimitSeconds, so a long or
//    repeating animation (the blinking upgrade button) cannot hold it, and within the horizon;
//  - a one-shot timer or delayed call that the command set falls due within the horizon; a
//    timer that a timer of its own kind set again from its firing (a check that looks again
//    every second) is not counted, so such a chain counts once;
//  - a bridge holds a message that a timer will carry on (platform::WaitingMessages).
// For the last two the clock moves to the next timer due within the horizon. The horizon lies
// kTimerSettleLimitSeconds past the settle's start and past each firing of a timer that the
// command itself set or that descends from one (platform::Timer::originSerial); once such a
// timer has fired, also past each timer that carries held messages on. So what the command's
// timers set off in turn (a banner shown again 3 s after its page closes, fading out while its
// page's messages are carried on, then fading in) is followed to its end. The clock never
// moves more than kSettleChainLimitSeconds in one settle. On the manual clock the clock is advanced; on the
// system clock the loop runs in real time until then, within the real-time budget.
// `settle()` alone counts no animation or timer as its own. The runner settles after the
// launch and after every command but `wait`.
inline constexpr double kSettleLimitSeconds = 5.0;
inline constexpr double kAnimationSettleLimitSeconds = 3.0;
inline constexpr double kTimerSettleLimitSeconds = 3.0;
inline constexpr double kSettleChainLimitSeconds = 20.0;
// What a settle came to: complete when what it followed ran out; otherwise it stopped at a
// limit, and `pending` says what was still under way then.
struct SettleResult {
    bool complete = true;
    std::string pending;
};
SettleResult settle(const CommandMarks& command);
SettleResult settle();
// Runs one command as the runner does: carries it out, then settles with its own marks; after
// `wait`, which moves the clock by exactly what it says, the settle does not move the clock.
// A settle that stops at a limit adds a line to the command's output that says so.
CommandResult runCommand(CommandInterpreter& interpreter, std::string_view line);
// Lets `seconds` pass on the main run loop: in real time, or on the manual clock in short
// steps, each followed by a settle that does not move the clock, so a scripted run sees what
// the replies bring as time passes, and the clock moves by exactly `seconds`.
void waitFor(double seconds, bool manualClock);

} // namespace runner
