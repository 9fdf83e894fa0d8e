#pragma once
// A parsed value of the kind that JSON replies and property lists carry: null, boolean,
// integer, real, string, data, date, array or dictionary. Values are plain C++ values
// (copyable, comparable); dictionaries keep their keys sorted, as property lists write them.
//
// The typed readers never throw: asking a string for its number answers std::nullopt or
// the given default, so code that reads untrusted replies checks types explicitly.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;
using Data = std::vector<std::uint8_t>;

// A point in time, as seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double secondsSince1970 = 0;
    friend bool operator==(const Date&, const Date&) = default;
};

class Value {
public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(std::int64_t{i}) {}
    Value(long i) : v_(std::int64_t{i}) {}
    Value(long long i) : v_(std::int64_t{i}) {}
    Value(unsigned i) : v_(std::int64_t{i}) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(platform::Data d) : v_(std::move(d)) {}
    Value(platform::Date d) : v_(d) {}
    Value(platform::Array a) : v_(std::move(a)) {}
    Value(platform::Dictionary d) : v_(std::move(d)) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isString() const { return type() == Type::String; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    // Integers, reals and booleans are all numbers, as the platform's number objects are.
    bool isNumber() const { return type() == Type::Bool || type() == Type::Integer || type() == Type::Real; }

    // Typed access: nullptr or nullopt when the value is of another type.
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    const platform::Data* data() const { return std::get_if<platform::Data>(&v_); }
    const platform::Array* array() const { return std::get_if<platform::Array>(&v_); }
    platform::Array* array() { return std::get_if<platform::Array>(&v_); }
    const platform::Dictionary* dictionary() const { return std::get_if<platform::Dictionary>(&v_); }
    platform::Dictionary* dictionary() { return std::get_if<platform::Dictionary>(&v_); }
    std::optional<platform::Date> date() const;
    std::optional<double> number() const;
    std::optional<std::int64_t> integer() const; // integers, and reals truncated toward zero

    // Readers with a default for any other type.
    std::string stringOr(std::string_view fallback) const;
    double doubleOr(double fallback) const { return number().value_or(fallback); }
    std::int64_t intOr(std::int64_t fallback) const { return integer().value_or(fallback); }
    bool boolOr(bool fallback) const;

    // Dictionary lookup; nullptr when this is not a dictionary or the key is absent.
    const Value* find(std::string_view key) const;
    // Dictionary insertion; turns a null value into an empty dictionary first.
    Value& operator[](std::string_view key);
    // Array element; nullptr when out of range or not an array.
    const Value* at(std::size_t index) const;
    // Element count of an array or dictionary, 0 otherwise.
    std::size_t size() const;

    friend bool operator==(const Value&, const Value&) = default;

    // JSON text (UTF-8). Parsing answers nullopt and fills `error` on malformed text.
    static std::optional<Value> fromJSON(std::string_view text, std::string* error = nullptr);
    std::string toJSON() const;

    // XML property lists (version 1.0). Parsing answers nullopt and fills `error` on bad input.
    static std::optional<Value> fromPropertyList(std::string_view xml, std::string* error = nullptr);
    std::string toPropertyList() const;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, platform::Data, platform::Date,
                 platform::Array, platform::Dictionary>
        v_;
};

} // namespace platform
