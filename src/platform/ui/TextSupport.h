#pragma once
// Internal to the user-interface library: UTF-8 helpers for drawing text into cells.
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

// Code points of UTF-8 text; an invalid byte becomes U+FFFD.
std::u32string decodeUTF8(std::string_view text);
std::string encodeUTF8(std::u32string_view text);
// Number of code points (cells) the text takes.
std::size_t cellLength(std::string_view text);
// The width in points that text takes in a layout (kTextAdvance per character).
double textWidth(std::string_view text);
// Splits text into lines of at most `width` characters at its line breaks, breaking at
// blanks where it can (none for a width of 0).
std::vector<std::u32string> wrapText(const std::u32string& text, std::size_t width);

} // namespace platform::detail
