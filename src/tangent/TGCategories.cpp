#include "tangent/TGCategories.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/web/WebView.h"
#include "tangent/TGDeviceInfo.h"

namespace tangent {

namespace {
constexpr std::string_view kPlaceholder = "%@";
}

void appendValueForUrlParameter(std::string& url, std::string_view key, std::string_view value) {
    if (key.empty() || value.empty())
        return;
    url += platform::percentEncodeQueryValue(key);
    url += '=';
    url += platform::percentEncodeQueryValue(value);
    url += '&';
}

std::map<std::string, std::string> parseOptions(std::string_view text) {
    std::map<std::string, std::string> options;
    std::size_t at = 0;
    auto skipSeparators = [&] {
        while (at < text.size() && (text[at] == '{' || text[at] == '}' || text[at] == ':' || text[at] == ','))
            ++at;
    };
    while (true) {
        skipSeparators();
        if (at >= text.size())
            break;
        const std::size_t nameEnd = std::min(text.find(':', at), text.size());
        std::string name(text.substr(at, nameEnd - at));
        at = nameEnd;
        skipSeparators();
        std::size_t valueEnd = text.find_first_of(",}", at);
        if (valueEnd == std::string_view::npos)
            valueEnd = text.size();
        options[name] = platform::percentDecode(text.substr(at, valueEnd - at)).value_or(std::string());
        at = valueEnd;
    }
    return options;
}

std::string escapeJS(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\r':
            out += "\\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
        case '\'':
        case '/':
            out += '\\';
            out += c;
            break;
        default:
            // U+2028 and U+2029 end a line inside a script literal.
            if (static_cast<unsigned char>(c) == 0xE2 && i + 2 < text.size() &&
                static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string escapeForScriptElement(std::string_view script) {
    std::string out;
    out.reserve(script.size());
    for (std::size_t i = 0; i < script.size(); ++i) {
        out += script[i];
        if (script[i] == '<' && i + 1 < script.size() && script[i + 1] == '/')
            out += '\\';
    }
    return out;
}

std::string hexStringForColorComponent(double component) {
    const int value = static_cast<int>(std::clamp(component, 0.0, 1.0) * 255.0);
    char text[8];
    std::snprintf(text, sizeof text, value <= 15 ? "0%X" : "%X", value);
    return text;
}

std::string htmlHexColorString(const platform::Color& colour) {
    return "#" + hexStringForColorComponent(colour.red) + hexStringForColorComponent(colour.green) +
           hexStringForColorComponent(colour.blue);
}

std::optional<std::string> fillPlaceholders(std::string_view text, const std::vector<std::string>& values) {
    std::string out;
    std::size_t used = 0;
    std::size_t at = 0;
    while (true) {
        const std::size_t next = text.find(kPlaceholder, at);
        if (next == std::string_view::npos)
            break;
        if (used == values.size())
            return std::nullopt;
        out.append(text.substr(at, next - at));
        out += values[used++];
        at = next + kPlaceholder.size();
    }
    if (used != values.size())
        return std::nullopt;
    out.append(text.substr(at));
    return out;
}

void ensureScrollsToTop(platform::WebView& webView, bool scrollsToTop) {
    if (const auto& scroller = webView.scrollView())
        scroller->setScrollsToTop(scrollsToTop);
}

void compatibleDetectPhoneNumbers(platform::WebView& webView, bool detect) {
    webView.setDataDetectorTypes(detect ? platform::kDataDetectorTypePhoneNumber : platform::kDataDetectorTypeNone);
}

void compatibleStatusBarHidden(bool hidden, bool animated) {
    if (TGDeviceInfo::instance().tgSystemVersion != 0)
        platform::Application::shared().setStatusBarHidden(hidden, animated);
}

} // namespace tangent
