// The commands pages send by navigating: the rich-media bridge's "mrbridge:" URLs, the Lumen
// message URLs and the Tangent hand-off and click URLs. Each line of the input is one URL.
// Parsing never fails hard; a method name never carries the URL's separators; texts quoted
// for a reply script cannot end the string or the script element they stand in.
#include "FuzzSupport.h"

#include "lumen/Bridge.h"
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

void oneLine(std::string_view line) {
    const std::string method = vellum::VellumJSBridge::methodFromBridgeURL(line);
    FUZZ_CHECK(method.find('?') == std::string::npos);
    (void)vellum::VellumJSBridge::argumentsFromBridgeString(line);
    checkQuoted(vellum::VellumJSBridge::scriptQuoted(line));
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
    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find('\n', start), text.size());
        oneLine(text.substr(start, end - start));
        start = end + 1;
    }
    // A value the Lumen bridge puts into a page as a script literal reads back as JSON.
    if (auto value = platform::Value::fromJSON(text)) {
        const std::string literal = lumen::jsonForScript(*value);
        FUZZ_CHECK(literal.find("</") == std::string::npos);
        (void)platform::Value::fromJSON(literal);
    }
    return 0;
}
