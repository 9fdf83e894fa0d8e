#include "mediation/SwitchboardLog.h"

#include <cstdio>
#include <vector>

namespace mediation {

unsigned g_SBLogLevel = kSBLogLevelShipped;

namespace {

// Longest conversion directive we hand to snprintf ("%-+#0123456789.123456789lld").
constexpr std::size_t kMaxSpecLength = 32;

bool isFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLength(char c) {
    return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't';
}
bool isConversion(char c) {
    constexpr std::string_view kConversions = "@diuxXocspfFeEgGaA";
    return kConversions.find(c) != std::string_view::npos;
}

template <typename T> std::string printfOne(const std::string& spec, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0)
        return {};
    if (static_cast<std::size_t>(n) < sizeof small)
        return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

long long asSigned(const SBLogArg::Storage& s) {
    if (auto i = std::get_if<long long>(&s))
        return *i;
    if (auto u = std::get_if<unsigned long long>(&s))
        return static_cast<long long>(*u);
    if (auto d = std::get_if<double>(&s))
        return *d != *d        ? 0
               : *d >= 9.2e18  ? INT64_MAX
               : *d <= -9.2e18 ? INT64_MIN
                               : static_cast<long long>(*d);
    if (auto p = std::get_if<const void*>(&s))
        return static_cast<long long>(reinterpret_cast<std::uintptr_t>(*p));
    return 0;
}

unsigned long long asUnsigned(const SBLogArg::Storage& s) {
    if (auto u = std::get_if<unsigned long long>(&s))
        return *u;
    if (auto p = std::get_if<const void*>(&s))
        return reinterpret_cast<std::uintptr_t>(*p);
    return static_cast<unsigned long long>(asSigned(s));
}

double asDouble(const SBLogArg::Storage& s) {
    if (auto d = std::get_if<double>(&s))
        return *d;
    if (auto i = std::get_if<long long>(&s))
        return static_cast<double>(*i);
    if (auto u = std::get_if<unsigned long long>(&s))
        return static_cast<double>(*u);
    return 0;
}

std::string asText(const SBLogArg::Storage& s) {
    if (auto str = std::get_if<std::string>(&s))
        return *str;
    if (auto i = std::get_if<long long>(&s))
        return std::to_string(*i);
    if (auto u = std::get_if<unsigned long long>(&s))
        return std::to_string(*u);
    if (auto d = std::get_if<double>(&s))
        return printfOne("%g", *d);
    return printfOne("%p", std::get<const void*>(s));
}

// Renders one conversion: `flags` holds flags, width and precision; `conv` the conversion letter.
std::string convert(const std::string& flags, char conv, const SBLogArg::Storage& arg) {
    switch (conv) {
    case '@':
        return asText(arg);
    case 'd':
    case 'i':
        return printfOne("%" + flags + "lld", asSigned(arg));
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        return printfOne("%" + flags + "ll" + conv, asUnsigned(arg));
    case 'c':
        return printfOne("%" + flags + "c", static_cast<int>(asSigned(arg)));
    case 's':
        return printfOne("%" + flags + "s", asText(arg).c_str());
    case 'p':
        return printfOne("%p", reinterpret_cast<const void*>(static_cast<std::uintptr_t>(asUnsigned(arg))));
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        return printfOne("%" + flags + conv, asDouble(arg));
    default:
        return {};
    }
}

} // namespace

std::string SBLogArg::describeValue(const platform::Value& v) {
    if (auto s = v.string())
        return *s;
    return v.toJSON();
}

std::string sbFormatArgs(std::string_view format, std::initializer_list<SBLogArg> args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    auto next = args.begin();
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        std::size_t start = i++;
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::string flags;
        while (i < format.size() && isFlag(format[i]) && flags.size() < kMaxSpecLength)
            flags += format[i++];
        while (i < format.size() && isDigit(format[i]) && flags.size() < kMaxSpecLength)
            flags += format[i++];
        if (i < format.size() && format[i] == '.') {
            flags += format[i++];
            while (i < format.size() && isDigit(format[i]) && flags.size() < kMaxSpecLength)
                flags += format[i++];
        }
        while (i < format.size() && isLength(format[i]))
            ++i; // the argument's own type decides the length
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conv = format[i++];
        if (!isConversion(conv) || next == args.end()) {
            // An unknown conversion, or more conversions than arguments: kept as written.
            out.append(format.substr(start, i - start));
            continue;
        }
        out += convert(flags, conv, (next++)->storage());
    }
    return out;
}

} // namespace mediation
