#pragma once
// Text helpers with the platform string class's semantics, written for UTF-8 std::string.
//
// Numbers are read and written in the POSIX locale whatever the process locale says, so a
// reply "1.5" reads 1.5 everywhere and "%.1f" always writes a dot. The numeric readers follow
// the platform's lenient rules (leading white space, optional sign, then as many digits as
// there are, 0 when there are none), because clients call them on untrusted text and expect
// a number, never an error. All functions are pure and safe from any thread.
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// printf-style formatting into a std::string ("%.1f KB", "%X", "%lld Bytes").
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// White space and line ends (space, tab, CR, LF, vertical tab, form feed) removed at both ends.
std::string_view trim(std::string_view text);
// ASCII case mapping; bytes of multi-byte UTF-8 sequences are left as they are.
std::string toLower(std::string_view text);
std::string toUpper(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);
// Case-insensitive ordering of two names, as the platform's localized comparison orders
// file names: letters compare without regard to case; names equal but for case compare
// equal. Bytes beyond ASCII compare by value.
std::weak_ordering caseInsensitiveCompare(std::string_view a, std::string_view b);

// Pieces between each occurrence of `separator`: "a,,b" gives "a", "", "b"; "" gives one
// empty piece; an empty separator gives the whole text as one piece.
std::vector<std::string> split(std::string_view text, std::string_view separator);
std::string join(const std::vector<std::string>& pieces, std::string_view separator);
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// The text made safe to stand in HTML content or a quoted attribute (&, <, >, " and ').
std::string escapeHTML(std::string_view text);

// Lenient numeric readers (leading white space, optional sign, digits; the rest ignored).
// intValue saturates at the 32-bit range, integerValue at the 64-bit range.
std::int32_t intValue(std::string_view text);
std::int64_t integerValue(std::string_view text);
// Decimal or exponent notation ("1.5", "-2e3", ".5"); 0 when no number starts the text.
double doubleValue(std::string_view text);
float floatValue(std::string_view text);
// True when, after white space, an optional sign and leading zeros, the text starts with
// "Y", "y", "T", "t" or a digit 1 to 9.
bool boolValue(std::string_view text);

// Shortest text that reads back as the same double ("0.1", "1e+300", "3"), POSIX locale.
std::string formatDouble(double value);

bool isValidUTF8(std::string_view text);
// Lower-case hexadecimal of the bytes.
std::string hexString(std::string_view bytes);
// The value of one hexadecimal digit (either case), or -1 for any other character.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace platform
