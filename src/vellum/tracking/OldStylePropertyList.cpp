#include "vellum/tracking/OldStylePropertyList.h"

#include <cstdint>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Strings.h"

namespace vellum {

namespace {

constexpr std::string_view kIndent = "    ";
constexpr std::string_view kBareMarks = "_$./:-";
constexpr const char* kDateDescriptionPattern = "yyyy-MM-dd HH:mm:ss Z";

bool isBareChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kBareMarks.find(static_cast<char>(c)) != std::string_view::npos;
}

// Quotes every string that the reader would not read back as itself: the empty one, one with
// a character outside the bare set, and one that opens with "//", which reads as a comment.
void appendQuoted(std::string& out, std::string_view s) {
    bool bare = !s.empty() && !s.starts_with("//");
    for (unsigned char c : s)
        bare = bare && isBareChar(c);
    if (bare) {
        out += s;
        return;
    }
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7f)
                out += platform::formatString("\\U%04x", c);
            else
                out += static_cast<char>(c);
        }
    }
    out += '"';
}

void appendIndent(std::string& out, int level) {
    for (int i = 0; i < level; ++i)
        out += kIndent;
}

void write(std::string& out, const platform::Value& v, int level) {
    using T = platform::Value::Type;
    switch (v.type()) {
    case T::Null:
        out += "\"\"";
        break;
    case T::Bool:
        out += v.boolOr(false) ? "1" : "0";
        break;
    case T::Integer:
        out += std::to_string(*v.integer());
        break;
    case T::Real:
        out += platform::formatDouble(*v.number());
        break;
    case T::String:
        appendQuoted(out, *v.string());
        break;
    case T::Data: {
        out += '<';
        const auto& d = *v.data();
        for (std::size_t i = 0; i < d.size(); ++i) {
            if (i && i % 4 == 0)
                out += ' ';
            out += platform::formatString("%02x", d[i]);
        }
        out += '>';
        break;
    }
    case T::Date: {
        platform::DateFormatter f(kDateDescriptionPattern, platform::TimeZone::utc());
        appendQuoted(out, f.string(*v.date()));
        break;
    }
    case T::Array: {
        const auto& a = *v.array();
        if (a.empty()) {
            out += "()";
            break;
        }
        out += "(\n";
        for (std::size_t i = 0; i < a.size(); ++i) {
            appendIndent(out, level + 1);
            write(out, a[i], level + 1);
            out += i + 1 < a.size() ? ",\n" : "\n";
        }
        appendIndent(out, level);
        out += ')';
        break;
    }
    case T::Dictionary: {
        const auto& d = *v.dictionary();
        if (d.empty()) {
            out += "{}";
            break;
        }
        out += "{\n";
        for (const auto& [key, value] : d) {
            appendIndent(out, level + 1);
            appendQuoted(out, key);
            out += " = ";
            write(out, value, level + 1);
            out += ";\n";
        }
        appendIndent(out, level);
        out += '}';
        break;
    }
    }
}

// A recursive-descent reader over the text; every read checks the end first.
class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    bool atEnd() {
        skipSpace();
        return pos_ >= s_.size();
    }
    bool peek(char c) {
        skipSpace();
        return pos_ < s_.size() && s_[pos_] == c;
    }
    bool consume(char c) {
        if (!peek(c))
            return false;
        ++pos_;
        return true;
    }

    std::optional<platform::Value> value(int depth) {
        if (depth > kOldStylePlistMaxNesting)
            return std::nullopt;
        skipSpace();
        if (pos_ >= s_.size())
            return std::nullopt;
        char c = s_[pos_];
        if (c == '{') {
            ++pos_;
            auto d = dictionaryBody(depth + 1, '}');
            if (!d)
                return std::nullopt;
            return platform::Value(std::move(*d));
        }
        if (c == '(') {
            ++pos_;
            return array(depth + 1);
        }
        if (c == '<') {
            ++pos_;
            return data();
        }
        auto s = string();
        if (!s)
            return std::nullopt;
        return platform::Value(std::move(*s));
    }

    // Entries up to `close` (or the end of the text when close is 0).
    std::optional<platform::Dictionary> dictionaryBody(int depth, char close) {
        platform::Dictionary d;
        for (;;) {
            if (close ? consume(close) : atEnd())
                return d;
            auto key = string();
            if (!key)
                return std::nullopt;
            if (consume('=')) {
                auto v = value(depth);
                if (!v)
                    return std::nullopt;
                d[*key] = std::move(*v);
            } else if (close == 0) {
                d[*key] = platform::Value(*key); // strings-file "key;" stands for key = key
            } else {
                return std::nullopt;
            }
            if (!consume(';'))
                return std::nullopt;
        }
    }

private:
    std::optional<platform::Value> array(int depth) {
        platform::Array a;
        if (consume(')'))
            return platform::Value(std::move(a));
        for (;;) {
            auto v = value(depth);
            if (!v)
                return std::nullopt;
            a.push_back(std::move(*v));
            if (consume(')'))
                return platform::Value(std::move(a));
            if (!consume(','))
                return std::nullopt;
            if (consume(')')) // a trailing comma is accepted
                return platform::Value(std::move(a));
        }
    }

    std::optional<platform::Value> data() {
        platform::Data d;
        int half = -1;
        for (;;) {
            skipSpace();
            if (pos_ >= s_.size())
                return std::nullopt;
            char c = s_[pos_++];
            if (c == '>')
                break;
            int nibble = platform::hexDigitValue(c);
            if (nibble < 0)
                return std::nullopt;
            if (half < 0) {
                half = nibble;
            } else {
                d.push_back(static_cast<std::uint8_t>(half * 16 + nibble));
                half = -1;
            }
        }
        if (half >= 0)
            return std::nullopt;
        return platform::Value(std::move(d));
    }

    std::optional<std::string> string() {
        skipSpace();
        if (pos_ >= s_.size())
            return std::nullopt;
        if (s_[pos_] == '"')
            return quoted();
        std::string out;
        while (pos_ < s_.size() && isBareChar(static_cast<unsigned char>(s_[pos_])))
            out += s_[pos_++];
        if (out.empty())
            return std::nullopt;
        return out;
    }

    std::optional<std::string> quoted() {
        ++pos_; // opening quote
        std::string out;
        while (pos_ < s_.size()) {
            char c = s_[pos_++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                return std::nullopt;
            char e = s_[pos_++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'a':
                out += '\a';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'v':
                out += '\v';
                break;
            case 'U': {
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    if (pos_ >= s_.size() || platform::hexDigitValue(s_[pos_]) < 0)
                        return std::nullopt;
                    code = code * 16 + static_cast<unsigned>(platform::hexDigitValue(s_[pos_++]));
                }
                appendUTF8(out, code);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned code = static_cast<unsigned>(e - '0');
                    for (int i = 0; i < 2 && pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '7'; ++i)
                        code = code * 8 + static_cast<unsigned>(s_[pos_++] - '0');
                    out += static_cast<char>(code & 0xff);
                } else {
                    out += e; // \" \\ and any other character stand for themselves
                }
            }
        }
        return std::nullopt; // unterminated
    }

    static void appendUTF8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            out += "\xEF\xBF\xBD"; // a lone surrogate becomes the replacement character
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }


    void skipSpace() {
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n')
                    ++pos_;
            } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '*') {
                auto end = s_.find("*/", pos_ + 2);
                pos_ = end == std::string_view::npos ? s_.size() : end + 2;
            } else {
                return;
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace

std::string oldStylePropertyListText(const platform::Value& value) {
    std::string out;
    write(out, value, 0);
    return out;
}

std::optional<platform::Value> parseOldStylePropertyList(std::string_view text) {
    Reader r(text);
    auto v = r.value(0);
    if (!v || !r.atEnd())
        return std::nullopt;
    return v;
}

std::optional<platform::Dictionary> parseStringsFileText(std::string_view text) {
    Reader r(text);
    if (r.peek('{')) {
        auto v = parseOldStylePropertyList(text);
        if (!v || !v->isDictionary())
            return std::nullopt;
        return *v->dictionary();
    }
    return r.dictionaryBody(1, 0);
}

std::string fixPropertyListFromStringsString(std::string_view text) {
    if (text.find(" = ") == std::string_view::npos)
        return std::string(text);
    std::string s = platform::replaceAll(text, " = \"", " = ");
    s = platform::replaceAll(s, " = ", " = \"");
    s = platform::replaceAll(s, "\";\n", ";\n");
    s = platform::replaceAll(s, ";\n", "\";\n");
    return s;
}

} // namespace vellum
