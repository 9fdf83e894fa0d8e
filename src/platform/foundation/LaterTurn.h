#pragma once
// Work that the foundation (which sits below the run loop) hands to a later turn of the main
// run loop. The run loop installs the way there when it is part of the program; without it,
// nothing is handed over and performOnLaterMainTurn answers false.
#include <functional>

namespace platform {

using LaterMainTurnPerformer = void (*)(std::function<void()> task);

// Installed once by the run loop. Any thread.
void setLaterMainTurnPerformer(LaterMainTurnPerformer performer);

// Queues `task` for a later turn of the main run loop; false (and `task` dropped) when there
// is no run loop to run it. Any thread.
bool performOnLaterMainTurn(std::function<void()> task);

} // namespace platform
