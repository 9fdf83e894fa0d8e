#pragma once
// What a value written into script text reads back as, for the targets whose writers place
// values in pages: the text is evaluated in a page of the platform's web view (its real
// JavaScript engine) and comes back through JSON.stringify. One page serves the whole run, on
// a manual clock made for it, so a target that uses it makes no clock scope of its own.
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/web/WebView.h"
#include "support/ManualClockScope.h"

namespace fwfuzz {

class ScriptPage {
public:
    // Made on first use and kept to the end of the run.
    static ScriptPage& shared() {
        static ScriptPage* page = new ScriptPage();
        return *page;
    }

    // The value of the script expression `expression`; nullopt when it does not evaluate (a
    // syntax error, an exception) or is more than one expression.
    std::optional<platform::Value> valueOf(std::string_view expression) {
        // In an array, JSON.stringify answers text for any value, undefined included; an
        // evaluation that fails answers "". The expression stands alone in its parentheses.
        const std::string json = webView_->stringByEvaluatingJavaScriptFromString(
            "JSON.stringify([(" + std::string(expression) + "\n)])");
        auto parsed = platform::Value::fromJSON(json);
        if (!parsed || !parsed->array() || parsed->array()->size() != 1)
            return std::nullopt;
        return parsed->array()->front();
    }

    // Whether `read` (from valueOf) is `written`: numbers compare as the doubles a script
    // holds, and containers member by member. The engine reads a number's decimal text to
    // within one step of the nearest double (it rounds some halfway cases of 17 digits the
    // other way), so a number may differ from the written one by that step.
    static bool same(const platform::Value& written, const platform::Value& read) {
        using Type = platform::Value::Type;
        if (written.type() == Type::Integer || written.type() == Type::Real) {
            if (read.type() == Type::Bool || !read.number())
                return false;
            const double expected = *written.number(), got = *read.number();
            return got == expected || got == std::nextafter(expected, HUGE_VAL) ||
                   got == std::nextafter(expected, -HUGE_VAL);
        }
        if (written.type() != read.type())
            return false;
        if (const auto* items = written.array()) {
            const auto& others = *read.array();
            if (items->size() != others.size())
                return false;
            for (std::size_t i = 0; i < items->size(); ++i)
                if (!same((*items)[i], others[i]))
                    return false;
            return true;
        }
        if (const auto* entries = written.dictionary()) {
            const auto& others = *read.dictionary();
            if (entries->size() != others.size())
                return false;
            for (const auto& [key, item] : *entries) {
                const auto found = others.find(key);
                if (found == others.end() || !same(item, found->second))
                    return false;
            }
            return true;
        }
        return written == read;
    }

private:
    ScriptPage() : webView_(std::make_shared<platform::WebView>(platform::Rect{0, 0, 320, 480})) {
        webView_->loadHTMLString("<html><body></body></html>", platform::URL::parse("http://127.0.0.1:9/"));
        FUZZ_CHECK(clock_.runUntil(
            [&] { return webView_->stringByEvaluatingJavaScriptFromString("6*7") == "42"; }, 30));
    }

    fwtest::ManualClockScope clock_;
    std::shared_ptr<platform::WebView> webView_;
};

} // namespace fwfuzz
