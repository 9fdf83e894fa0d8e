#pragma once
// Small helpers of the Tangent client: option parsing for bridge commands, script-string
// escaping, colour text for style sheets, the count-checked filling of support-file
// placeholders, and the web view and status-bar settings the client's screens share.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Color.h"

namespace platform {
class WebView;
}

namespace tangent {

// Appends one "key=value&" piece, key and value each percent-escaped on its own (every
// reserved character included); nothing when either is empty.
void appendValueForUrlParameter(std::string& url, std::string_view key, std::string_view value);
// "{name:value,name:value}" into a dictionary; values are percent-decoded as UTF-8.
std::map<std::string, std::string> parseOptions(std::string_view text);
// The text escaped for a script string literal (line breaks, form feed, tab, backslash,
// quotes, slash, and the line terminators U+2028 and U+2029).
std::string escapeJS(std::string_view text);
// Script text made safe to stand inside a <script> element ("</" is written "<\/").
std::string escapeForScriptElement(std::string_view script);
// "#RRGGBB"; a grey or out-of-range component is clamped to 0..1 first.
std::string htmlHexColorString(const platform::Color& colour);
// Component 0.0 to 1.0 as two upper-case hexadecimal digits.
std::string hexStringForColorComponent(double component);
// Replaces each "%@" of `text`, in order, by the next value; nullopt when the number of
// placeholders differs from the number of values. Values are not scanned for placeholders.
std::optional<std::string> fillPlaceholders(std::string_view text, const std::vector<std::string>& values);

// Whether a tap on the status bar scrolls the web view's page back to its top.
void ensureScrollsToTop(platform::WebView& webView, bool scrollsToTop);
// Telephone numbers in the page become links (true) or nothing is detected (false).
void compatibleDetectPhoneNumbers(platform::WebView& webView, bool detect);
// Hides or shows the status bar, except on a generation-0 device, which keeps it as it is.
void compatibleStatusBarHidden(bool hidden, bool animated);

} // namespace tangent
