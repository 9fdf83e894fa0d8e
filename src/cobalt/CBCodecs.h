#pragma once
// The Cobalt engine's two codecs: CBBase64 (standard Base64 with "=" padding) and CBJSON (a
// writer of script object literals, the string escaping that goes with it, and the entry
// point of JSON parsing). Stateless apart from a writer's own text; safe from any thread.
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace cobalt {

class CBBase64 {
public:
    static std::string base64StringWithData(const platform::Data& data);
    static std::string base64StringWithString(std::string_view text);
    // Decodes exactly the bytes the text encodes: characters outside the alphabet are
    // skipped, "=" padding is optional, and no byte is invented for a partial group.
    static platform::Data dataWithBase64String(std::string_view text);
    static platform::Data dataWithBase64Data(const platform::Data& data);
    static std::string stringWithBase64String(std::string_view text);
    static std::string stringWithBase64Data(const platform::Data& data);
};

// Writes values as script object literals: arrays, dictionaries with unquoted keys, numbers,
// quoted and escaped strings and null. The text is meant to be evaluated in a page, not read
// by a strict JSON parser.
class CBJSON {
public:
    static std::string stringWithObject(const platform::Value& object);
    // Parses JSON text; a bare scalar is a whole document; nullopt when it is not JSON.
    static std::optional<platform::Value> objectWithString(std::string_view text);
    static std::string stringByEscapingCharacters(std::string_view text);
    static std::string stringByUnescapingCharacters(std::string_view text);

    // Answers whether every part was written faithfully (a data or date value, or a key the
    // writer cannot write as an identifier-like text, answers false).
    bool addObject(const platform::Value& object);
    bool addArray(const platform::Array& array);
    bool addDictionary(const platform::Dictionary& dictionary);
    void addString(std::string_view text);
    void addNumber(const platform::Value& number);
    void addNull() { string_ += "null"; }
    const std::string& string() const { return string_; }

private:
    std::string string_;
};

// `text` as a script string literal, quotes included: backslash, both quotes, control
// characters, "</" and the line terminators U+2028 and U+2029 are escaped, so the literal
// can stand in any script text or inside a script element of a page.
std::string scriptStringLiteral(std::string_view text);
// The same escaping without the surrounding quotes.
std::string scriptStringContent(std::string_view text);

} // namespace cobalt
