#pragma once
// The base of every native command handler behind a CBJavascriptBridge. A handler has a name
// (the name of its script object in the page, such as "BridgeDriver") and an explicit table
// of the methods a page may call by name, in declaration order. Methods whose names begin
// with "bridge_" are published to the page as functions of the handler's generated script
// object; the others in the table are reachable by command text only. Nothing outside the
// table is reachable from a page.
//
// Answers go back to the page through the bridge the handler belongs to, by filling the
// callback text the page supplied (answerText, answerRawText, answerInteger, answerPlain).
//
// Ownership: bridges hold their handlers; a handler holds its bridge weakly. Main thread.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace cobalt {

class CBJavascriptBridge;

class CBCommandHandler : public std::enable_shared_from_this<CBCommandHandler> {
public:
    // Every argument is a string or a finite number.
    using Arguments = std::vector<platform::Value>;
    using Method = std::function<void(const Arguments&)>;
    struct Entry {
        std::string selector; // "bridge_setState:"; its ":" count is the number of arguments
        Method method;
    };

    explicit CBCommandHandler(std::string name) : name_(std::move(name)) {}
    virtual ~CBCommandHandler() = default;

    const std::string& name() const { return name_; }
    std::shared_ptr<CBJavascriptBridge> bridge() const { return bridge_.lock(); }
    // Whether the handler wants to learn its bridge when added (all of ours do).
    virtual bool respondsToSetBridge() const { return true; }
    void setBridge(std::weak_ptr<CBJavascriptBridge> bridge) { bridge_ = std::move(bridge); }

    // The script text of the handler's page object; by default generated from the table.
    virtual std::string bridgeScript() const;

    bool respondsToSelector(std::string_view selector) const { return find(selector) != nullptr; }
    // Calls the method; false when the handler has no such method or the count of arguments
    // does not match it.
    bool invoke(std::string_view selector, const Arguments& arguments);
    const std::vector<Entry>& methods() const { return methods_; }

    // Callback texts filled with one value: a placeholder ("%s", or "%@") for texts, an
    // integer conversion ("%d", "%i", "%ld", "%lld", "%qi") for numbers. Only the first
    // placeholder is replaced; any other "%" stays as it is. Texts are escaped as script
    // strings.
    static std::string fillTextCallback(std::string_view callback, std::string_view text, bool quoted);
    static std::string fillIntegerCallback(std::string_view callback, std::int64_t value);

protected:
    void addMethod(std::string selector, Method method);
    // Sends to the page of the bridge: the callback with the text in double quotes, the
    // text without quotes, the integer, or the callback unchanged.
    void answerText(std::string_view callback, std::string_view text) const;
    void answerRawText(std::string_view callback, std::string_view text) const;
    void answerInteger(std::string_view callback, std::int64_t value) const;
    void answerPlain(std::string_view callback) const;
    void send(const std::string& script) const;

    static std::string text(const platform::Value& argument);

private:
    const Entry* find(std::string_view selector) const;
    std::string name_;
    std::weak_ptr<CBJavascriptBridge> bridge_;
    std::vector<Entry> methods_;
};

} // namespace cobalt
