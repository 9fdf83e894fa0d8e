// XML property lists, as text and as files: any text gives a value or nothing with an error;
// a value that can be written reads back the same, and the file reader agrees with the text
// reader on the same bytes.
#include "FuzzSupport.h"

#include <cmath>
#include <fstream>

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

namespace {

// Equal values, where a real that is not a number equals another such real (the readers take
// "nan" as a real, and NaN never compares equal to itself, so plain == would call a faithful
// round trip of it a difference), and dates are equal to the whole second: the reader takes a
// fraction of a second, the written form holds whole seconds.
bool same(const platform::Value& a, const platform::Value& b) {
    using Type = platform::Value::Type;
    if (a.type() == Type::Real && b.type() == Type::Real && std::isnan(a.doubleOr(0)) && std::isnan(b.doubleOr(0)))
        return true;
    if (a.type() == Type::Date && b.type() == Type::Date)
        return std::floor(a.date()->secondsSince1970) == std::floor(b.date()->secondsSince1970);
    if (a.type() == Type::Array && b.type() == Type::Array) {
        const auto& x = *a.array();
        const auto& y = *b.array();
        if (x.size() != y.size())
            return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (!same(x[i], y[i]))
                return false;
        return true;
    }
    if (a.type() == Type::Dictionary && b.type() == Type::Dictionary) {
        const auto& x = *a.dictionary();
        const auto& y = *b.dictionary();
        if (x.size() != y.size())
            return false;
        for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
            if (i->first != j->first || !same(i->second, j->second))
                return false;
        return true;
    }
    return a == b;
}

} // namespace

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
    FUZZ_CHECK(same(*fromFile, *value));

    if (!platform::isPropertyListValue(*value))
        return 0;
    const std::string written = value->toPropertyList();
    auto again = platform::Value::fromPropertyList(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(same(*again, *value));

    const auto copy = folder.path() / "copy.plist";
    FUZZ_CHECK(platform::writePropertyListFile(copy, *value));
    auto reread = platform::readPropertyListFile(copy);
    FUZZ_CHECK(reread.has_value() && same(*reread, *value));
    return 0;
}
