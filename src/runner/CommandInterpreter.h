#pragma once
// The runner's commands, one line each, carried out on the main thread against the running
// application:
//
//   screen                 print the screen
//   snapshot <file.png>    write a PNG picture of the screen
//   tap <label>            tap the button, alert button, item, segment or table row showing
//                          <label>, on the part of it that shows; when none shows it yet,
//                          wait for it up to 5 s (a page's Done button may come a moment
//                          after the page)
//   type <text>            type into the text field being edited (else the first one shown)
//   toggle <row text>      flip the switch in the table row showing <row text>
//   delete <row text>      swipe the row showing <row text> and press its "Delete" button
//   push <json>            deliver a remote-notification payload, e.g. push {"applink":"123"}
//   refresh                rebuild the document list from the Documents folder
//   scroll up|down [<row text>]  scroll the front-most list a page, or until that row shows
//   background | foreground  move the application out of or back to the foreground
//   shake [readings]       shake the device: injects that many accelerometer readings (10),
//                          delivered one per update interval to whoever listens
//   wait <seconds>         let time pass (timers fire, replies arrive)
//   help                   list the commands
//   quit                   end the run
//
// Every command answers a text for the terminal; an unknown command or a target that is not
// on screen answers an error line and changes nothing.
#include <functional>
#include <string>
#include <string_view>

namespace runner {

struct CommandResult {
    bool ok = true;
    std::string output; // printed as is; ends with a newline when not empty
    bool quit = false;
    // The command moved the clock by an exact amount itself (`wait`): the settle after it
    // must not move it further.
    bool movedTheClock = false;
};

class CommandInterpreter {
public:
    // `waitFor(seconds)` lets time pass on the main run loop (real or manual).
    explicit CommandInterpreter(std::function<void(double)> waitFor) : waitFor_(std::move(waitFor)) {}

    CommandResult execute(std::string_view line);

private:
    std::function<void(double)> waitFor_;
};

} // namespace runner
