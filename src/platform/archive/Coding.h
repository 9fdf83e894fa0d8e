#pragma once
// The interface of a class whose instances can be written into a keyed archive, with the
// archive's value types declared for headers that only name them. KeyedArchiver.h has the
// archiver, the unarchiver and the values themselves; include it where they are used.
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;
class ArchivedValue;
using ArchivedArray = std::vector<ArchivedValue>;
using ArchivedDictionary = std::map<std::string, ArchivedValue, std::less<>>;

// A class whose instances can be written into a keyed archive. To be read back it also has
// `static constexpr std::string_view kCodingClassName` and a static `initWithCoder` (see
// CodingClasses in KeyedArchiver.h).
class Coding {
public:
    virtual ~Coding() = default;
    // The class name written into the archive; reading finds the class by it.
    virtual std::string_view codingClassName() const = 0;
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

} // namespace platform
