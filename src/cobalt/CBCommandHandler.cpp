#include "cobalt/CBCommandHandler.h"

#include <array>

#include "cobalt/CBCodecs.h"
#include "cobalt/CBJavascriptBridge.h"

namespace cobalt {

void CBCommandHandler::addMethod(std::string selector, Method method) {
    methods_.push_back({std::move(selector), std::move(method)});
}

const CBCommandHandler::Entry* CBCommandHandler::find(std::string_view selector) const {
    for (const auto& entry : methods_)
        if (entry.selector == selector)
            return &entry;
    return nullptr;
}

bool CBCommandHandler::invoke(std::string_view selector, const Arguments& arguments) {
    const Entry* entry = find(selector);
    if (!entry)
        return false;
    std::size_t colons = 0;
    for (char c : entry->selector)
        colons += c == ':';
    if (colons != arguments.size())
        return false;
    auto keepAlive = shared_from_this();
    entry->method(arguments);
    return true;
}

std::string CBCommandHandler::bridgeScript() const { return CBJavascriptBridge::generateBridgeScript(name_, *this); }

std::string CBCommandHandler::fillTextCallback(std::string_view callback, std::string_view text, bool quoted) {
    std::size_t at = std::string_view::npos;
    for (std::string_view placeholder : {"%s", "%@"}) {
        const auto found = callback.find(placeholder);
        if (found < at)
            at = found;
    }
    const std::string value = quoted ? scriptStringLiteral(text) : scriptStringContent(text);
    if (at == std::string_view::npos)
        return std::string(callback);
    return std::string(callback.substr(0, at)) + value + std::string(callback.substr(at + 2));
}

std::string CBCommandHandler::fillIntegerCallback(std::string_view callback, std::int64_t value) {
    static constexpr std::array<std::string_view, 5> kConversions{"%qi", "%lld", "%ld", "%d", "%i"};
    std::size_t at = std::string_view::npos, length = 0;
    for (auto conversion : kConversions) {
        const auto found = callback.find(conversion);
        if (found < at || (found == at && conversion.size() > length)) {
            at = found;
            length = conversion.size();
        }
    }
    if (at == std::string_view::npos)
        return std::string(callback);
    return std::string(callback.substr(0, at)) + std::to_string(value) + std::string(callback.substr(at + length));
}

void CBCommandHandler::send(const std::string& script) const {
    if (auto b = bridge())
        b->sendJavascriptCommand(script);
}

void CBCommandHandler::answerText(std::string_view callback, std::string_view text) const {
    send(fillTextCallback(callback, text, true));
}

void CBCommandHandler::answerRawText(std::string_view callback, std::string_view text) const {
    send(fillTextCallback(callback, text, false));
}

void CBCommandHandler::answerInteger(std::string_view callback, std::int64_t value) const {
    send(fillIntegerCallback(callback, value));
}

void CBCommandHandler::answerPlain(std::string_view callback) const { send(std::string(callback)); }

std::string CBCommandHandler::text(const platform::Value& argument) {
    if (const auto* s = argument.string())
        return *s;
    if (argument.type() == platform::Value::Type::Integer)
        return std::to_string(argument.intOr(0));
    if (auto n = argument.number()) {
        CBJSON writer;
        writer.addNumber(argument);
        return writer.string();
    }
    return {};
}

} // namespace cobalt
