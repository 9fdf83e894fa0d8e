// The Cobalt scripts' command texts, CBJSON and CBBase64: the input is read as a batch of
// command texts the way the poll answer is split (";\n"), as JSON and as Base64 text. A parsed
// command has a selector and only finite numbers; Base64 round-trips any bytes; escaping and
// unescaping give the text back; JSON read here is the platform's JSON.
#include "FuzzSupport.h"

#include <algorithm>
#include <cmath>

#include "cobalt/CBCodecs.h"
#include "cobalt/CBJavascriptBridge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);

    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find(";\n", start), text.size());
        if (auto command = cobalt::CBJavascriptBridge::parseCommand(text.substr(start, end - start))) {
            FUZZ_CHECK(!command->selector.empty());
            for (const auto& argument : command->arguments)
                if (auto number = argument.number())
                    FUZZ_CHECK(std::isfinite(*number));
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
    (void)cobalt::scriptStringLiteral(text);

    auto object = cobalt::CBJSON::objectWithString(text);
    FUZZ_CHECK(object.has_value() == platform::Value::fromJSON(text).has_value());
    if (object)
        (void)cobalt::CBJSON::stringWithObject(*object);
    return 0;
}
