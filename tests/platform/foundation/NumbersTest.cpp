#include "platform/foundation/Numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using platform::saturatingCast;

TEST(Numbers, DoublesClampToEachTargetRange) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto i32max = std::numeric_limits<std::int32_t>::max();
    constexpr auto i32min = std::numeric_limits<std::int32_t>::min();
    constexpr auto i64max = std::numeric_limits<std::int64_t>::max();
    constexpr auto i64min = std::numeric_limits<std::int64_t>::min();
    struct Row {
        double in;
        std::int32_t as32;
        std::int64_t as64;
        std::uint32_t asU32;
    };
    const Row rows[] = {
        {0.0, 0, 0, 0u},
        {-2.9, -2, -2, 0u},
        {2.9, 2, 2, 2u},
        {1e12, i32max, 1000000000000, std::numeric_limits<std::uint32_t>::max()},
        {4.41e9, i32max, 4410000000, std::numeric_limits<std::uint32_t>::max()},
        {1e300, i32max, i64max, std::numeric_limits<std::uint32_t>::max()},
        {-1e300, i32min, i64min, 0u},
        {9223372036854775807.0, i32max, i64max, std::numeric_limits<std::uint32_t>::max()},
        {2147483647.5, i32max, 2147483647, 2147483647u},
        {inf, i32max, i64max, std::numeric_limits<std::uint32_t>::max()},
        {-inf, i32min, i64min, 0u},
        {nan, 0, 0, 0u},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.in);
        EXPECT_EQ(saturatingCast<std::int32_t>(r.in), r.as32);
        EXPECT_EQ(saturatingCast<std::int64_t>(r.in), r.as64);
        EXPECT_EQ(saturatingCast<std::uint32_t>(r.in), r.asU32);
    }
    EXPECT_EQ(saturatingCast<int>(nan, -1), -1);
}

TEST(Numbers, WideIntegersClampWhenNarrowed) {
    EXPECT_EQ(saturatingCast<std::int32_t>(std::numeric_limits<std::int64_t>::max()), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(saturatingCast<std::int32_t>(std::numeric_limits<std::int64_t>::min()), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(saturatingCast<std::uint32_t>(std::int64_t{-5}), 0u);
    EXPECT_EQ(saturatingCast<std::int64_t>(std::numeric_limits<std::uint64_t>::max()), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(saturatingCast<std::int16_t>(std::int64_t{1234}), 1234);
}
