#include "platform/foundation/Strings.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace platform {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
char lowerASCII(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char upperASCII(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Skips leading white space and an optional sign; answers whether the sign was minus.
bool skipSpaceAndSign(std::string_view& text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    text.remove_prefix(i);
    return negative;
}

} // namespace

std::string formatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(needed));
    }
    va_end(args);
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string toLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = lowerASCII(c);
    return out;
}

std::string toUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = upperASCII(c);
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerASCII(a[i]) != lowerASCII(b[i]))
            return false;
    return true;
}

std::weak_ordering caseInsensitiveCompare(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(lowerASCII(a[i]));
        auto cb = static_cast<unsigned char>(lowerASCII(b[i]));
        if (ca != cb)
            return ca < cb ? std::weak_ordering::less : std::weak_ordering::greater;
    }
    if (a.size() == b.size())
        return std::weak_ordering::equivalent;
    return a.size() < b.size() ? std::weak_ordering::less : std::weak_ordering::greater;
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

std::string join(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i)
            out += separator;
        out += pieces[i];
    }
    return out;
}

std::string escapeHTML(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(text);
    std::string out;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(from, start);
        if (at == std::string_view::npos)
            break;
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

std::int64_t integerValue(std::string_view text) {
    bool negative = skipSpaceAndSign(text);
    // Accumulate as a negative number so that the 64-bit minimum is reachable.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool saturated = false;
    for (char c : text) {
        if (!isDigit(c))
            break;
        int digit = c - '0';
        if (!saturated && (value < (kMin + digit) / 10))
            saturated = true;
        if (!saturated)
            value = value * 10 - digit;
    }
    if (saturated)
        return negative ? kMin : std::numeric_limits<std::int64_t>::max();
    if (negative)
        return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::int32_t intValue(std::string_view text) {
    std::int64_t v = integerValue(text);
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

double doubleValue(std::string_view text) {
    bool negative = skipSpaceAndSign(text);
    // from_chars reads neither a sign nor a leading dot before digits without help, and is
    // independent of the process locale.
    std::string buffer;
    if (!text.empty() && text.front() == '.') {
        buffer = "0";
        buffer.append(text.substr(0, std::min<std::size_t>(text.size(), 512)));
        text = buffer;
    }
    double value = 0;
    auto [ptr, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small: saturate to infinity or zero as strtod does.
        std::size_t i = 0;
        while (i < text.size() && (isDigit(text[i]) || text[i] == '.'))
            ++i;
        bool tiny = false;
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E'))
            tiny = i + 1 < text.size() && text[i + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return 0.0;
    }
    (void)ptr;
    // Text such as "nan" or "inf" is not a number here.
    if (std::isnan(value) || (std::isinf(value) && !isDigit(text.empty() ? 'x' : text.front())))
        return 0.0;
    return negative ? -value : value;
}

float floatValue(std::string_view text) {
    return static_cast<float>(doubleValue(text));
}

bool boolValue(std::string_view text) {
    skipSpaceAndSign(text);
    while (!text.empty() && text.front() == '0')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    char c = text.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string formatDouble(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "+infinity" : "-infinity";
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return "0";
    return std::string(buffer, ptr);
}

bool isValidUTF8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t length;
        std::uint32_t codePoint;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            codePoint = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            codePoint = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kMinimum[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string hexString(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes) {
        auto c = static_cast<unsigned char>(b);
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

} // namespace platform
