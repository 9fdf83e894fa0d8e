#pragma once
// The old-style property-list text: the description text that dictionaries and arrays give of
// themselves ("{\n    key = value;\n}", "(\n    a,\n    b\n)"), which the tracked-event store
// keeps in its TEXT columns and the V1 upload sends, and the readers that turn such text back
// into values.
//
// Writing: dictionary keys in sorted order, four spaces per nesting level; a string is written
// bare when it is a non-empty run of letters, digits and "_$./:-", else quoted with backslash
// escapes (\" \\ \n \t \r, other control characters as \Uxxxx); numbers bare (integers in
// decimal, reals in their shortest form), booleans as 1 or 0, data as <hex>, dates quoted.
//
// Reading: every scalar comes back as a string, whatever it was written from (a number
// written bare reads back as its text), as the platform's parser of this format gives it.
// Nesting is bounded (kMaxNesting) and every read stays inside the text. Pure functions,
// safe from any thread.
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace vellum {

inline constexpr int kOldStylePlistMaxNesting = 64;

// The description text of `value`.
std::string oldStylePropertyListText(const platform::Value& value);

// A whole text holding one value (dictionary, array, string or data); nullopt when the text is
// not well-formed or holds anything after the value.
std::optional<platform::Value> parseOldStylePropertyList(std::string_view text);

// The strings-file form: "key = value;" entries (a bare "key;" stands for key = key), or one
// dictionary in braces, as the tracked-event store reads its dictionary columns. nullopt when
// the text is not well-formed.
std::optional<platform::Dictionary> parseStringsFileText(std::string_view text);

// The store's repair of description texts written by older library versions: only when the
// text holds " = ", every "key = value;" line gets its value in double quotes, quoted before
// or not (four replacements, in order). Used only as a second try when the text does not
// parse as it stands.
std::string fixPropertyListFromStringsString(std::string_view text);

} // namespace vellum
