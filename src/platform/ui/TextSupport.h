#pragma once
// Internal to the user-interface library: UTF-8 helpers for drawing text into cells.
#include <string>
#include <string_view>

namespace platform::detail {

// Code points of UTF-8 text; an invalid byte becomes U+FFFD.
std::u32string decodeUTF8(std::string_view text);
std::string encodeUTF8(std::u32string_view text);
// Number of code points (cells) the text takes.
std::size_t cellLength(std::string_view text);
// The width in points that text takes in a layout (kTextAdvance per character).
double textWidth(std::string_view text);

} // namespace platform::detail
