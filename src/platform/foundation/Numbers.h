#pragma once
// Saturating conversions for numbers that come from outside: server replies, pages and
// scripts, stored files. A raw cast of an out-of-range double is undefined behaviour, and a
// narrowing cast of a wide integer wraps; every such number goes through these instead.
// Out-of-range values clamp to the target's limits, infinities to the matching limit, and
// NaN to 0 (or to the fallback given).

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <utility>

namespace platform {

// The integer nearest `value` toward zero, clamped to Int's range; NaN gives `nanValue`.
template <std::integral Int>
constexpr Int saturatingCast(double value, Int nanValue = 0) noexcept {
    if (std::isnan(value))
        return nanValue;
    // The limits as doubles: max() rounds up to 2^63 (or 2^31 - 1 exactly), so compare with >=
    // against the rounded bound and return the exact limit.
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (value <= lo)
        return std::numeric_limits<Int>::min();
    if (value >= hi)
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

// `value` clamped to Int's range.
template <std::integral Int, std::integral From>
    requires(!std::same_as<From, bool>)
constexpr Int saturatingCast(From value) noexcept {
    if (std::cmp_less(value, std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (std::cmp_greater(value, std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

} // namespace platform
