// The commands pages send by navigating: the rich-media bridge's "mrbridge:" URLs, the Lumen
// message URLs and the Tangent hand-off and click URLs. Each line of the input is one URL.
// Parsing never fails hard. A bridge URL built from a method and arguments (the line's pieces
// between tabs, each argument escaped on its own) gives back that method and those arguments.
// Texts quoted for a reply script cannot end the string or the script element they stand in,
// and read back in the platform's script engine as the text itself. A value the Lumen bridge
// puts into a page as a literal is JSON that parses to the value, and reads back as it too.
#include "FuzzSupport.h"
#include "ScriptPage.h"

#include <cmath>
#include <map>

#include "lumen/Bridge.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "tangent/TGActionController.h"
#include "tangent/TGMRComponent.h"
#include "vellum/richmedia/VellumJSBridge.h"

namespace {

void checkQuoted(std::string_view quoted) {
    // Inside a single-quoted string: no bare quote, no line break, nothing that closes the
    // script element.
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        const char c = quoted[i];
        if (c == '\\') {
            ++i;
            continue;
        }
        FUZZ_CHECK(c != '\'' && c != '\n' && c != '\r');
    }
    FUZZ_CHECK(quoted.find("</") == std::string_view::npos);
    FUZZ_CHECK(quoted.find("\xE2\x80\xA8") == std::string_view::npos);
    FUZZ_CHECK(quoted.find("\xE2\x80\xA9") == std::string_view::npos);
}

// Evaluations per input, so that an input of many short lines stays quick.
constexpr int kEvaluationsPerInput = 32;

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find(separator, start), text.size());
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// "mrbridge:<method>?<name>=<value>&..." from the line's pieces: the method (without "?")
// and then names and values in turn, each escaped on its own as a page does.
void checkBridgeURL(std::string_view line) {
    const auto pieces = split(line, '\t');
    std::string method;
    for (char c : pieces[0])
        if (c != '?')
            method += c;
    std::string url = std::string(vellum::VellumJSBridge::kURLScheme) + ":" + method + "?";
    std::map<std::string, std::string, std::less<>> expected;
    for (std::size_t i = 1; i + 1 < pieces.size(); i += 2) {
        url += (i > 1 ? "&" : "") + platform::percentEncodeQueryValue(pieces[i]) + "=" +
               platform::percentEncodeQueryValue(pieces[i + 1]);
        // A pair that is not UTF-8 is skipped; a later pair of the same name wins.
        if (platform::isValidUTF8(pieces[i]) && platform::isValidUTF8(pieces[i + 1]))
            expected[std::string(pieces[i])] = std::string(pieces[i + 1]);
    }
    FUZZ_CHECK(vellum::VellumJSBridge::methodFromBridgeURL(url) == method);
    const auto arguments = vellum::VellumJSBridge::argumentsFromBridgeString(url);
    FUZZ_CHECK(arguments.has_value());
    FUZZ_CHECK(arguments->size() == expected.size());
    for (const auto& [name, value] : expected) {
        const auto found = arguments->find(name);
        FUZZ_CHECK(found != arguments->end() && found->second.string() && *found->second.string() == value);
    }
}

void oneLine(std::string_view line, int& evaluations) {
    (void)vellum::VellumJSBridge::methodFromBridgeURL(line);
    (void)vellum::VellumJSBridge::argumentsFromBridgeString(line);
    checkBridgeURL(line);
    const std::string quoted = vellum::VellumJSBridge::scriptQuoted(line);
    checkQuoted(quoted);
    // The script engine reads its source as UTF-8: other bytes cannot come back as they were.
    if (platform::isValidUTF8(line) && evaluations++ < kEvaluationsPerInput) {
        const auto read = fwfuzz::ScriptPage::shared().valueOf("'" + quoted + "'");
        FUZZ_CHECK(read && read->string() && *read->string() == line);
    }
    (void)tangent::TGMRComponent::parseHandOff(line);

    auto url = platform::URL::parse(line);
    if (!url)
        return;
    if (lumen::LMNNotification::isNotificationURL(*url))
        if (auto notification = lumen::LMNNotification::notificationFromURL(*url))
            (void)notification->description();
    (void)tangent::TGActionController::clickActionForURL(*url);
    (void)tangent::TGActionController::extractParamFromUrl("url", *url);
    (void)tangent::TGMRComponent::parseHandOff(url->resourceSpecifier());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    int evaluations = 0;
    for (const auto line : split(text, '\n'))
        oneLine(line, evaluations);
    // JSON has no infinity: a value that holds one is written with null in its place.
    if (auto value = platform::Value::fromJSON(text); value && !fwfuzz::hasNonFiniteReal(*value)) {
        const std::string literal = lumen::jsonForScript(*value);
        FUZZ_CHECK(literal.find("</") == std::string::npos);
        FUZZ_CHECK(literal.find("\xE2\x80\xA8") == std::string::npos);
        FUZZ_CHECK(literal.find("\xE2\x80\xA9") == std::string::npos);
        FUZZ_CHECK(platform::Value::fromJSON(literal) == value);
        const auto read = fwfuzz::ScriptPage::shared().valueOf(literal);
        FUZZ_CHECK(read && fwfuzz::ScriptPage::same(*value, *read));
    }
    return 0;
}
