#pragma once
// Keyed archives: a tree of objects written as named values and read back by name.
//
// A class that can be archived implements `Coding`: it names itself (the name written into
// the archive) and writes its fields with the archiver's encode calls, each under a key. To
// read it back the caller lists the classes it accepts (`CodingClasses`); each listed class
// is rebuilt by its `initWithCoder`, which reads its keys from the unarchiver. A class the
// caller did not list is never built: it reads as nothing, so an archive cannot make the
// program build arbitrary objects.
//
// Values: booleans, integers, reals, texts, data, dates, URLs, colours, fonts, arrays and
// dictionaries (text keys) of values, and nested archivable objects. An object archived
// twice in one archive is written once and read back as one object; an object that refers
// back to an object still being read gets nothing for that reference. Each object is rebuilt
// at most once per archive, even when its class refuses, and the values handed out while
// reading one archive are capped in proportion to its size: an archive that needs more work
// than that gives nothing, so a small crafted file cannot keep a reader busy.
//
// The file format is our own: a tagged binary encoding followed by a CRC-32 of everything
// before it. Reading checks every count and length against the bytes present and the
// checksum, so a truncated or corrupt archive gives nothing (nullptr), never a crash.
// Archive files are written atomically (temporary file, then rename).
//
// Plain values, no shared state; any thread, one archiver or unarchiver per thread.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/archive/Coding.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Color.h"
#include "platform/ui/Font.h"

namespace platform {

// One value of an archive. Typed readers answer nullptr or nullopt for any other type.
class ArchivedValue {
public:
    ArchivedValue() = default;
    ArchivedValue(std::nullptr_t) {}
    ArchivedValue(bool b) : v_(b) {}
    ArchivedValue(int i) : v_(std::int64_t{i}) {}
    ArchivedValue(long i) : v_(std::int64_t{i}) {}
    ArchivedValue(long long i) : v_(std::int64_t{i}) {}
    ArchivedValue(double d) : v_(d) {}
    ArchivedValue(const char* s) : v_(std::string(s)) {}
    ArchivedValue(std::string s) : v_(std::move(s)) {}
    ArchivedValue(std::string_view s) : v_(std::string(s)) {}
    ArchivedValue(platform::Data d) : v_(std::move(d)) {}
    ArchivedValue(platform::Date d) : v_(d) {}
    ArchivedValue(platform::URL u) : v_(std::move(u)) {}
    ArchivedValue(platform::Color c) : v_(c) {}
    ArchivedValue(platform::Font f) : v_(std::move(f)) {}
    ArchivedValue(ArchivedArray a) : v_(std::move(a)) {}
    ArchivedValue(ArchivedDictionary d) : v_(std::move(d)) {}
    ArchivedValue(std::shared_ptr<const Coding> object) {
        if (object)
            v_ = std::move(object);
    }
    template <typename T, typename = std::enable_if_t<std::is_base_of_v<Coding, T>>>
    ArchivedValue(std::shared_ptr<T> object)
        : ArchivedValue(std::shared_ptr<const Coding>(std::move(object))) {}
    // A plain value (property-list kinds) with its arrays and dictionaries.
    static ArchivedValue fromValue(const Value& value);

    bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
    // Booleans, integers and reals, as the platform's number objects.
    std::optional<double> number() const;
    std::optional<std::int64_t> integer() const; // reals truncated toward zero
    std::optional<bool> boolean() const;         // any number: non-zero is true
    // Which kind of number the value holds, so that a reader can give back the kind written.
    bool isBoolean() const { return std::holds_alternative<bool>(v_); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(v_); }
    bool isReal() const { return std::holds_alternative<double>(v_); }
    // The pointer readers point into this value, so they are refused on a temporary: keep
    // the value (`auto v = coder.decodeObjectForKey(k);`) and read from it.
    const std::string* string() const& { return std::get_if<std::string>(&v_); }
    const platform::Data* data() const& { return std::get_if<platform::Data>(&v_); }
    const platform::URL* url() const& { return std::get_if<platform::URL>(&v_); }
    const platform::Font* font() const& { return std::get_if<platform::Font>(&v_); }
    const ArchivedArray* array() const& { return std::get_if<ArchivedArray>(&v_); }
    const ArchivedDictionary* dictionary() const& { return std::get_if<ArchivedDictionary>(&v_); }
    const std::string* string() const&& = delete;
    const platform::Data* data() const&& = delete;
    const platform::URL* url() const&& = delete;
    const platform::Font* font() const&& = delete;
    const ArchivedArray* array() const&& = delete;
    const ArchivedDictionary* dictionary() const&& = delete;
    std::optional<platform::Date> date() const;
    std::optional<platform::Color> color() const;
    std::shared_ptr<const Coding> object() const;
    // The object as class T (nullptr when it is of another class). Objects read from an
    // archive are new objects of their own, so the caller may keep and change them.
    template <typename T> std::shared_ptr<T> objectOf() const {
        return std::const_pointer_cast<T>(std::dynamic_pointer_cast<const T>(object()));
    }

private:
    friend class KeyedArchiver;
    std::variant<std::monostate, bool, std::int64_t, double, std::string, platform::Data, platform::Date,
                 platform::URL, platform::Color, platform::Font, ArchivedArray, ArchivedDictionary,
                 std::shared_ptr<const Coding>>
        v_;
};

// The classes a caller lets an archive rebuild, by archived class name. A class T is listed
// with add<T>() when it has `static constexpr std::string_view kCodingClassName` and
// `static std::shared_ptr<T> initWithCoder(KeyedUnarchiver&)` (nullptr when it cannot be
// built from what the archive holds).
class CodingClasses {
public:
    using Factory = std::function<std::shared_ptr<Coding>(KeyedUnarchiver&)>;

    CodingClasses& add(std::string name, Factory factory);
    template <typename T> CodingClasses& add() {
        return add(std::string(T::kCodingClassName),
                   [](KeyedUnarchiver& coder) -> std::shared_ptr<Coding> { return T::initWithCoder(coder); });
    }
    const Factory* find(std::string_view name) const;

private:
    std::map<std::string, Factory, std::less<>> factories_;
};

// Writes one archive. Obtained only through the static entry points, which hand it to the
// root object's encodeWithCoder (and to each nested object's).
class KeyedArchiver {
public:
    static Data archivedDataWithRootObject(const Coding& root);
    // Writes the archive to `path` atomically; the folder must exist.
    static bool archiveRootObject(const Coding& root, const std::filesystem::path& path,
                                  Error* error = nullptr);

    // Each call writes one value under `key` of the object being encoded; a key written twice
    // keeps the later value.
    void encodeObject(const ArchivedValue& value, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeInteger(std::int64_t value, std::string_view key);
    void encodeInt(int value, std::string_view key) { encodeInteger(value, key); }
    void encodeDouble(double value, std::string_view key);
    void encodeFloat(float value, std::string_view key) { encodeDouble(value, key); }

    struct State;

private:
    explicit KeyedArchiver(State& state) : state_(state) {}
    State& state_;
};

// Reads one archive. Obtained only through the static entry points, which hand it to each
// listed class's initWithCoder for the object being read.
class KeyedUnarchiver {
public:
    // Archive files larger than this are refused.
    static constexpr std::uint64_t kMaximumArchiveBytes = 64ull * 1024 * 1024;

    // The root object, or nullptr when the bytes are not a whole, intact archive, or its root
    // is of a class not in `classes`, or that class refused to be built, or reading it needed
    // more work than the archive's size allows.
    static std::shared_ptr<Coding> unarchiveObjectWithData(const Data& data, const CodingClasses& classes);
    // Reading a file first removes the temporaries its interrupted writes left beside it.
    static std::shared_ptr<Coding> unarchiveObjectWithFile(const std::filesystem::path& path,
                                                           const CodingClasses& classes);
    template <typename T>
    static std::shared_ptr<T> unarchiveObjectOfClassWithFile(const std::filesystem::path& path,
                                                             const CodingClasses& classes) {
        return std::dynamic_pointer_cast<T>(unarchiveObjectWithFile(path, classes));
    }

    // Readers for the object being read. A missing key, or a value of another type, reads
    // as nothing, false or 0.
    bool containsValueForKey(std::string_view key) const;
    ArchivedValue decodeObjectForKey(std::string_view key);
    template <typename T> std::shared_ptr<T> decodeObjectOfClassForKey(std::string_view key) {
        return decodeObjectForKey(key).template objectOf<T>();
    }
    bool decodeBoolForKey(std::string_view key);
    std::int64_t decodeIntegerForKey(std::string_view key);
    int decodeIntForKey(std::string_view key);
    double decodeDoubleForKey(std::string_view key);
    float decodeFloatForKey(std::string_view key);

    struct State;

private:
    KeyedUnarchiver(State& state, std::uint32_t object) : state_(state), object_(object) {}
    State& state_;
    std::uint32_t object_;
};

} // namespace platform
