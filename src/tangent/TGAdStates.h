#pragma once
// The states of one Tangent ad, as the whole client uses them: the view state of an ad view,
// the action state of its click handling and its sync state (protected while in interaction).
#include <string>

namespace tangent {

enum TGAdViewState : int {
    errorState = -1,
    uninitializedState = 0,
    pendingState = 1,
    loadingState = 2,
    loadedState = 3,
    inactiveState = 4,
    activeState = 5,
    clickingState = 6,
    clickedState = 7,
    dismissingState = 8,
    dismissedState = 9,
};

enum TGAdSyncState : int {
    unprotectedState = 0,
    protectedState = 1,
};

// "errorState" ... "dismissedState"; the number itself for a value outside the table.
std::string viewStateName(int state);
// "unprotectedState" or "protectedState"; the number itself otherwise.
std::string syncStateName(int state);

} // namespace tangent
