// Base64, the platform's and the Cobalt scripts' codecs: any bytes encode and decode back to
// themselves; any text decodes or is refused, and what decodes encodes back to the same
// bytes.
#include "FuzzSupport.h"

#include "platform/foundation/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);

    const std::string encoded = platform::base64Encode(text);
    auto decoded = platform::base64Decode(encoded);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(decoded->data()), decoded->size()) == text);

    if (auto bytes = platform::base64Decode(text)) {
        auto twice = platform::base64Decode(platform::base64Encode(*bytes));
        FUZZ_CHECK(twice.has_value() && *twice == *bytes);
    }
    return 0;
}
