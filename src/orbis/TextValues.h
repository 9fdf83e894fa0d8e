#pragma once
// Small readers of the texts that the Orbis service sends (attributes, header values), shared
// by the client's classes. Plain functions; no state.
#include <charconv>
#include <string>
#include <string_view>

namespace orbis {

// `text` without leading and trailing whitespace and newlines.
inline std::string trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(kSpace);
    return std::string(text.substr(first, last - first + 1));
}

// The integer that `text` begins with (after blanks and an optional sign); 0 when it begins
// with no digits or the number does not fit in T.
template <typename T> T leadingInteger(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n'))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    T value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    return ec == std::errc() ? value : 0;
}

} // namespace orbis
