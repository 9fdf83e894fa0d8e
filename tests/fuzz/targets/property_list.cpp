// XML property lists, as text and as files: any text gives a value or nothing with an error;
// a value that can be written reads back the same, and the file reader agrees with the text
// reader on the same bytes.
#include "FuzzSupport.h"

#include <fstream>

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    std::string error;
    auto value = platform::Value::fromPropertyList(text, &error);
    FUZZ_CHECK(value.has_value() || !error.empty());

    fwfuzz::ScratchFolder folder;
    const auto path = folder.path() / "input.plist";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    platform::Error fileError;
    auto fromFile = platform::readPropertyListFile(path, &fileError);
    FUZZ_CHECK(fromFile.has_value() == value.has_value());
    if (!value)
        return 0;
    FUZZ_CHECK(*fromFile == *value);

    if (!platform::isPropertyListValue(*value))
        return 0;
    const std::string written = value->toPropertyList();
    auto again = platform::Value::fromPropertyList(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *value);

    const auto copy = folder.path() / "copy.plist";
    FUZZ_CHECK(platform::writePropertyListFile(copy, *value));
    auto reread = platform::readPropertyListFile(copy);
    FUZZ_CHECK(reread.has_value() && *reread == *value);
    return 0;
}
