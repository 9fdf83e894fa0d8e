// The Cobalt scripts' command texts, CBJSON and CBBase64: the input is read as a batch of
// command texts the way the poll answer is split (";\n"), as JSON and as Base64 text. A parsed
// command has a selector and only finite numbers, and written out again it parses to the same
// command; Base64 round-trips any bytes; escaping and unescaping give the text back. What the
// writers put into page scripts reads back, in the platform's script engine, as what was
// written: a JSON value (booleans as 1 and 0, as the writer has them) and a string literal;
// and it never holds a line break or "</" that would end the script or its element.
#include "FuzzSupport.h"
#include "ScriptPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cobalt/CBCodecs.h"
#include "cobalt/CBJavascriptBridge.h"
#include "platform/foundation/Strings.h"

namespace {

// A command's text as a page writes it: each keyword of the selector with its argument
// (strings quoted with the page's escapes, numbers in full precision), the rest of the
// selector and the closing ";". nullopt when the selector cannot be taken apart by its colons.
std::optional<std::string> commandText(const cobalt::CBParsedCommand& command) {
    if (command.selector.find('"') != std::string::npos)
        return std::nullopt;
    std::string text;
    std::size_t start = 0;
    for (const auto& argument : command.arguments) {
        const auto colon = command.selector.find(':', start);
        if (colon == std::string::npos || colon == start)
            return std::nullopt;
        text += command.selector.substr(start, colon + 1 - start) + " ";
        if (const auto* string = argument.string()) {
            text += '"';
            for (char c : *string) {
                if (c == '"' || c == '\\')
                    text += '\\';
                text += c == '\n'   ? std::string("\\n")
                        : c == '\r' ? std::string("\\r")
                        : c == '\t' ? std::string("\\t")
                                    : std::string(1, c);
            }
            text += '"';
        } else {
            char number[40];
            std::snprintf(number, sizeof number, "%.17g", *argument.number());
            text += number;
        }
        text += ' ';
        start = colon + 1;
    }
    const std::string rest = command.selector.substr(start);
    if (rest.find(':') != std::string::npos)
        return std::nullopt;
    return text + rest + ";";
}

// The value CBJSON's text stands for: booleans are written as 1 and 0, and what JSON cannot
// hold (an infinite number) as null.
platform::Value asWritten(const platform::Value& value) {
    using Type = platform::Value::Type;
    switch (value.type()) {
    case Type::Bool:
        return platform::Value(value.boolOr(false) ? 1 : 0);
    case Type::Real:
        return std::isfinite(*value.number()) ? value : platform::Value();
    case Type::Array: {
        platform::Array items;
        for (const auto& item : *value.array())
            items.push_back(asWritten(item));
        return items;
    }
    case Type::Dictionary: {
        platform::Dictionary entries;
        for (const auto& [key, item] : *value.dictionary())
            entries[key] = asWritten(item);
        return entries;
    }
    default:
        return value;
    }
}

// Text placed in a script: no line break or line terminator, nothing that closes the element.
bool staysInItsScript(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos &&
           text.find("</") == std::string_view::npos && text.find("\xE2\x80\xA8") == std::string_view::npos &&
           text.find("\xE2\x80\xA9") == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);

    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find(";\n", start), text.size());
        if (auto command = cobalt::CBJavascriptBridge::parseCommand(text.substr(start, end - start))) {
            FUZZ_CHECK(!command->selector.empty());
            for (const auto& argument : command->arguments)
                if (auto number = argument.number())
                    FUZZ_CHECK(std::isfinite(*number));
            if (const auto written = commandText(*command)) {
                const auto again = cobalt::CBJavascriptBridge::parseCommand(*written);
                FUZZ_CHECK(again.has_value());
                FUZZ_CHECK(again->selector == command->selector);
                FUZZ_CHECK(again->arguments == command->arguments);
            }
        }
        start = end + 2;
    }

    const platform::Data bytes = fwfuzz::bytes(data, size);
    FUZZ_CHECK(cobalt::CBBase64::dataWithBase64String(cobalt::CBBase64::base64StringWithData(bytes)) == bytes);
    FUZZ_CHECK(cobalt::CBBase64::stringWithBase64String(cobalt::CBBase64::base64StringWithString(text)) == text);
    (void)cobalt::CBBase64::dataWithBase64String(text);

    // The unescaper does not undo the "\u00XX" escapes the escaper writes for control
    // characters other than \b \t \n \f \r, so the round trip is checked on texts without them.
    const bool escapedAsUnicode = std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 && c != '\b' && c != '\t' && c != '\n' && c != '\f' && c != '\r';
    });
    if (!escapedAsUnicode)
        FUZZ_CHECK(cobalt::CBJSON::stringByUnescapingCharacters(cobalt::CBJSON::stringByEscapingCharacters(text)) ==
                   text);
    (void)cobalt::CBJSON::stringByUnescapingCharacters(text);

    auto& page = fwfuzz::ScriptPage::shared();
    const std::string literal = cobalt::scriptStringLiteral(text);
    FUZZ_CHECK(staysInItsScript(literal));
    // The script engine reads its source as UTF-8: other bytes cannot come back as they were.
    if (platform::isValidUTF8(text)) {
        const auto read = page.valueOf(literal);
        FUZZ_CHECK(read.has_value() && read->string() && *read->string() == text);
    }

    if (auto object = cobalt::CBJSON::objectWithString(text)) {
        const std::string written = cobalt::CBJSON::stringWithObject(*object);
        FUZZ_CHECK(staysInItsScript(written));
        const auto read = page.valueOf(written);
        FUZZ_CHECK(read.has_value());
        FUZZ_CHECK(fwfuzz::ScriptPage::same(asWritten(*object), *read));
    }
    return 0;
}
