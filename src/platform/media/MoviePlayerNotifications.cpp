#include "platform/media/MoviePlayerNotifications.h"

namespace platform {

Value movieErrorValue(const Error& error) {
    Dictionary value;
    value["domain"] = error.domain;
    value["code"] = Value(static_cast<long long>(error.code));
    value["description"] = error.localizedDescription;
    return value;
}

std::optional<Error> movieErrorFromUserInfo(const Dictionary& userInfo) {
    auto found = userInfo.find(kMoviePlayerErrorUserInfoKey);
    if (found == userInfo.end())
        return std::nullopt;
    const Value& value = found->second;
    const Value* code = value.find("code");
    if (!code || !code->integer())
        return std::nullopt;
    Error error;
    error.code = *code->integer();
    if (const Value* domain = value.find("domain"))
        error.domain = domain->stringOr("");
    if (const Value* description = value.find("description"))
        error.localizedDescription = description->stringOr("");
    return error;
}

} // namespace platform
