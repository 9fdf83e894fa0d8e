#include "cobalt/CBCodecs.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cobalt {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The decoding map, built once: alphabet characters to their 6 bits, -1 for any other byte.
const std::array<int, 256>& decodingMap() {
    static const std::array<int, 256> map = [] {
        std::array<int, 256> m{};
        m.fill(-1);
        for (std::size_t i = 0; i < kAlphabet.size(); ++i)
            m[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
        return m;
    }();
    return map;
}

std::string encode(const std::uint8_t* bytes, std::size_t n) {
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    for (std::size_t i = 0; i < n; i += 3) {
        const std::uint32_t b0 = bytes[i];
        const std::uint32_t b1 = i + 1 < n ? bytes[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < n ? bytes[i + 2] : 0;
        const std::uint32_t group = (b0 << 16) | (b1 << 8) | b2;
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < n ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < n ? kAlphabet[group & 63] : '=';
    }
    return out;
}

platform::Data decode(std::string_view text) {
    const auto& map = decodingMap();
    platform::Data out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break; // padding ends the encoded bytes
        const int value = map[static_cast<unsigned char>(c)];
        if (value < 0)
            continue;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>((bits >> count) & 0xff));
        }
    }
    return out;
}

void appendUnicodeEscape(std::string& out, unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
    out += buffer;
}

std::string numberText(const platform::Value& number) {
    if (number.isBool())
        return number.boolOr(false) ? "1" : "0";
    if (number.type() == platform::Value::Type::Integer)
        return std::to_string(number.intOr(0));
    const double d = number.doubleOr(0);
    if (!std::isfinite(d))
        return "null";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", d);
    // The shortest text that reads back as the same double.
    for (int precision = 1; precision <= 17; ++precision) {
        char shorter[32];
        std::snprintf(shorter, sizeof shorter, "%.*g", precision, d);
        if (std::strtod(shorter, nullptr) == d)
            return shorter;
    }
    return buffer;
}

bool isPlainKey(std::string_view key) {
    if (key.empty())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
        if (!letter && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

} // namespace

std::string CBBase64::base64StringWithData(const platform::Data& data) { return encode(data.data(), data.size()); }

std::string CBBase64::base64StringWithString(std::string_view text) {
    return encode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

platform::Data CBBase64::dataWithBase64String(std::string_view text) { return decode(text); }

platform::Data CBBase64::dataWithBase64Data(const platform::Data& data) {
    return decode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::string CBBase64::stringWithBase64String(std::string_view text) {
    const auto bytes = decode(text);
    return std::string(bytes.begin(), bytes.end());
}

std::string CBBase64::stringWithBase64Data(const platform::Data& data) {
    const auto bytes = dataWithBase64Data(data);
    return std::string(bytes.begin(), bytes.end());
}

std::string CBJSON::stringWithObject(const platform::Value& object) {
    CBJSON writer;
    writer.addObject(object);
    return writer.string();
}

std::optional<platform::Value> CBJSON::objectWithString(std::string_view text) {
    return platform::Value::fromJSON(text);
}

std::string CBJSON::stringByEscapingCharacters(std::string_view text) {
    bool plain = true;
    for (unsigned char c : text)
        if (c < 0x20 || c == '"' || c == '\\')
            plain = false;
    if (plain)
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20)
                appendUnicodeEscape(out, c);
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

std::string CBJSON::stringByUnescapingCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        switch (next) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: out += next; // quote, backslash, and anything else keep the character
        }
    }
    return out;
}

bool CBJSON::addObject(const platform::Value& object) {
    using Type = platform::Value::Type;
    switch (object.type()) {
    case Type::Array: return addArray(*object.array());
    case Type::Dictionary: return addDictionary(*object.dictionary());
    case Type::Bool:
    case Type::Integer:
    case Type::Real: addNumber(object); return true;
    case Type::String: addString(*object.string()); return true;
    case Type::Null: addNull(); return true;
    default: addNull(); return false;
    }
}

bool CBJSON::addArray(const platform::Array& array) {
    bool faithful = true;
    string_ += '[';
    for (std::size_t i = 0; i < array.size(); ++i) {
        if (i)
            string_ += ',';
        faithful = addObject(array[i]) && faithful;
    }
    string_ += ']';
    return faithful;
}

bool CBJSON::addDictionary(const platform::Dictionary& dictionary) {
    bool faithful = true;
    string_ += '{';
    bool first = true;
    for (const auto& [key, value] : dictionary) {
        if (!first)
            string_ += ',';
        first = false;
        // Keys that are not plain identifiers are quoted, so the text stays valid script.
        if (isPlainKey(key))
            string_ += key;
        else
            string_ += scriptStringLiteral(key);
        string_ += ':';
        faithful = addObject(value) && faithful;
    }
    string_ += '}';
    return faithful;
}

void CBJSON::addString(std::string_view text) { string_ += scriptStringLiteral(text); }

void CBJSON::addNumber(const platform::Value& number) { string_ += numberText(number); }

std::string scriptStringContent(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\'': out += "\\'"; break;
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '<':
            // "</" would end a script element of the page the text is placed in.
            out += (i + 1 < text.size() && text[i + 1] == '/') ? "\\u003c" : "<";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                appendUnicodeEscape(out, c);
            } else if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                       (static_cast<unsigned char>(text[i + 2]) == 0xa8 ||
                        static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
                // U+2028 and U+2029 end a line inside script text.
                appendUnicodeEscape(out, static_cast<unsigned char>(text[i + 2]) == 0xa8 ? 0x2028 : 0x2029);
                i += 2;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string scriptStringLiteral(std::string_view text) { return "\"" + scriptStringContent(text) + "\""; }

} // namespace cobalt
