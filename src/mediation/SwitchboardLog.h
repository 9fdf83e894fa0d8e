#pragma once
// The mediation layer's levelled log: SBLogDebug, SBLogWarn, SBLogError and SBLogCrit, gated
// by the process-wide level g_SBLogLevel, each printing one console line through
// platform::logLine, without any prefix.
//
// A log function takes a printf-style format with the platform's object placeholder "%@"
// and its arguments:
//     SBLogWarn("Cannot create ad network config from %@: %@", ration, error.localizedDescription);
// "%@" prints strings as they are, numbers in decimal, platform values as JSON, and objects
// through their description(); the other conversions (%d %u %x %c %s %f %lf %p ...) take
// the matching argument as printf would. Arguments are only turned into text when the line
// passes the level, so a suppressed line costs the comparison and nothing more.
//
// Lines that the layer always prints (plain console lines) go through platform::logLine
// with sbFormat(...) for the formatting.
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Value.h"

namespace mediation {

// The level the program ships with: warnings, errors and critical lines pass, debug lines do not.
inline constexpr unsigned kSBLogLevelShipped = 40;
// Nothing in the program changes it; tests set it to check the thresholds.
extern unsigned g_SBLogLevel;

// A line passes when g_SBLogLevel is greater than its threshold (unsigned comparison).
inline constexpr unsigned kSBLogDebugThreshold = 49;
inline constexpr unsigned kSBLogWarnThreshold = 29;
inline constexpr unsigned kSBLogErrorThreshold = 19;
inline constexpr unsigned kSBLogCritThreshold = 9;

// One argument of a log format, already reduced to something printable.
class SBLogArg {
public:
    using Storage = std::variant<long long, unsigned long long, double, std::string, const void*>;

    SBLogArg(bool b) : v_(static_cast<long long>(b)) {}
    template <std::signed_integral T> SBLogArg(T i) : v_(static_cast<long long>(i)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) SBLogArg(T u) : v_(static_cast<unsigned long long>(u)) {}
    template <std::floating_point T> SBLogArg(T d) : v_(static_cast<double>(d)) {}
    template <typename E>
    requires std::is_enum_v<E> SBLogArg(E e) : v_(static_cast<long long>(e)) {}
    SBLogArg(const char* s) : v_(s ? std::string(s) : std::string("(null)")) {}
    SBLogArg(std::string_view s) : v_(std::string(s)) {}
    SBLogArg(const std::string& s) : v_(s) {}
    SBLogArg(const platform::Value& v) : v_(describeValue(v)) {}
    SBLogArg(const platform::Error& e) : v_(e.description()) {}
    // Objects with a description(), by reference, pointer or shared pointer (null: "(null)").
    template <typename T>
    requires requires(const T& t) {
        { t.description() } -> std::convertible_to<std::string>;
    }
    SBLogArg(const T& t) : v_(std::string(t.description())) {}
    template <typename T>
    requires requires(const T& t) {
        { t.description() } -> std::convertible_to<std::string>;
    }
    SBLogArg(const T* t) : v_(t ? std::string(t->description()) : std::string("(null)")) {}
    template <typename T>
    requires requires(const T& t) {
        { t.description() } -> std::convertible_to<std::string>;
    }
    SBLogArg(const std::shared_ptr<T>& t) : SBLogArg(static_cast<const T*>(t.get())) {}
    // Any other pointer prints its address (%p, %x).
    template <typename T>
    requires(!requires(const T& t) { t.description(); }) SBLogArg(const T* p)
        : v_(static_cast<const void*>(p)) {}
    template <typename T> SBLogArg(const std::optional<T>& o) : SBLogArg(fromOptional(o)) {}

    const Storage& storage() const { return v_; }

    // Strings print as they are; other values as compact JSON.
    static std::string describeValue(const platform::Value& v);

private:
    template <typename T> static SBLogArg fromOptional(const std::optional<T>& o) {
        if (o)
            return SBLogArg(*o);
        return SBLogArg("(null)");
    }
    Storage v_;
};

// The formatted line.
std::string sbFormatArgs(std::string_view format, std::initializer_list<SBLogArg> args);
template <typename... A> std::string sbFormat(std::string_view format, const A&... args) {
    return sbFormatArgs(format, {SBLogArg(args)...});
}

template <typename... A> void SBLogDebug(std::string_view format, const A&... args) {
    if (g_SBLogLevel > kSBLogDebugThreshold)
        platform::logLine(sbFormat(format, args...));
}
template <typename... A> void SBLogWarn(std::string_view format, const A&... args) {
    if (g_SBLogLevel > kSBLogWarnThreshold)
        platform::logLine(sbFormat(format, args...));
}
template <typename... A> void SBLogError(std::string_view format, const A&... args) {
    if (g_SBLogLevel > kSBLogErrorThreshold)
        platform::logLine(sbFormat(format, args...));
}
template <typename... A> void SBLogCrit(std::string_view format, const A&... args) {
    if (g_SBLogLevel > kSBLogCritThreshold)
        platform::logLine(sbFormat(format, args...));
}

} // namespace mediation
