// JSON text into values: any text gives a value or nothing, and a value read back from the
// JSON it writes is the same value.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto value = platform::Value::fromJSON(fwfuzz::text(data, size), &error);
    if (!value) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    if (fwfuzz::hasNonFiniteReal(*value))
        return 0;
    const std::string written = value->toJSON();
    auto again = platform::Value::fromJSON(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *value);
    FUZZ_CHECK(again->toJSON() == written);
    return 0;
}
