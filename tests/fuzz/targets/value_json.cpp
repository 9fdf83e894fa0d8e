// JSON text into values: any text gives a value or nothing, and a value read back from the
// JSON it writes is the same value.
#include "FuzzSupport.h"

#include <cmath>

namespace {

// JSON has no NaN or infinity; such reals are written as null, so they cannot round-trip.
bool hasNonFiniteReal(const platform::Value& v) {
    if (v.type() == platform::Value::Type::Real)
        return !std::isfinite(*v.number());
    if (auto items = v.array())
        for (const auto& item : *items)
            if (hasNonFiniteReal(item))
                return true;
    if (auto entries = v.dictionary())
        for (const auto& [key, item] : *entries)
            if (hasNonFiniteReal(item))
                return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto value = platform::Value::fromJSON(fwfuzz::text(data, size), &error);
    if (!value) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    if (hasNonFiniteReal(*value))
        return 0;
    const std::string written = value->toJSON();
    auto again = platform::Value::fromJSON(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *value);
    FUZZ_CHECK(again->toJSON() == written);
    return 0;
}
