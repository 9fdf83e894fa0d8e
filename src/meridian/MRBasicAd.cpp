#include "meridian/MRBasicAd.h"

#include <array>

namespace meridian {

namespace {

struct TransitionName {
    std::string_view name;
    int number;
};
constexpr std::array<TransitionName, 4> kTransitions = {{
    {"FlipLeft", 1},
    {"FlipRight", 2},
    {"CurlUp", 3},
    {"CurlDown", 4},
}};
constexpr int kNoTransition = 0;

} // namespace

int MRBasicAd::transitionFromHeader(std::string_view name) {
    for (const auto& row : kTransitions)
        if (row.name == name)
            return row.number;
    return kNoTransition;
}

} // namespace meridian
