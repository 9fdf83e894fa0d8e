#pragma once
// A process-wide count of work handed to background threads that will answer on the main run
// loop. A worker counts itself busy from the moment it is woken for work until it has run it
// (its answers are then queued on the main run loop), so code that waits for the program to
// come to rest (the runner's manual clock) can wait for workers too. Work that waits for a
// timer is not counted: only advancing the clock brings it. Any thread.
#include <cstddef>

namespace platform {

class BackgroundWork {
public:
    static void begin();
    static void end();
    static std::size_t pendingCount();
};

} // namespace platform
