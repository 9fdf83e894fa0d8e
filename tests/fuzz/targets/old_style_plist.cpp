// The old-style property-list text the tracked-event store keeps and uploads: any text parses
// or not; what parses is written back as text that parses to the same value, and the
// strings-file reader and the repair of old texts take any text without harm.
#include "FuzzSupport.h"

#include "vellum/tracking/OldStylePropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    if (auto value = vellum::parseOldStylePropertyList(text)) {
        const std::string written = vellum::oldStylePropertyListText(*value);
        auto again = vellum::parseOldStylePropertyList(written);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == *value);
    }
    if (auto entries = vellum::parseStringsFileText(text)) {
        // A dictionary read from the store is written back by the same writer and reads again.
        const platform::Value dictionary(*entries);
        auto again = vellum::parseStringsFileText(vellum::oldStylePropertyListText(dictionary));
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(platform::Value(*again) == dictionary);
    }
    const std::string repaired = vellum::fixPropertyListFromStringsString(text);
    (void)vellum::parseStringsFileText(repaired);
    return 0;
}
