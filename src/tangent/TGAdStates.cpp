#include "tangent/TGAdStates.h"

#include <array>
#include <string_view>

namespace tangent {

namespace {

// Index = state + 1.
constexpr std::array<std::string_view, 11> kViewStateNames = {
    "errorState",    "uninitializedState", "pendingState",  "loadingState",    "loadedState",   "inactiveState",
    "activeState",   "clickingState",      "clickedState",  "dismissingState", "dismissedState",
};
constexpr std::array<std::string_view, 2> kSyncStateNames = {"unprotectedState", "protectedState"};

} // namespace

std::string viewStateName(int state) {
    if (state < errorState || state > dismissedState)
        return std::to_string(state);
    return std::string(kViewStateNames[static_cast<std::size_t>(state + 1)]);
}

std::string syncStateName(int state) {
    if (state < 0 || state >= static_cast<int>(kSyncStateNames.size()))
        return std::to_string(state);
    return std::string(kSyncStateNames[static_cast<std::size_t>(state)]);
}

} // namespace tangent
