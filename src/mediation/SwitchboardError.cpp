#include "mediation/SwitchboardError.h"

namespace mediation {
namespace {

platform::Value errorAsValue(const platform::Error& e) {
    platform::Dictionary d;
    d.emplace("domain", platform::Value(e.domain));
    d.emplace("code", platform::Value(static_cast<long long>(e.code)));
    d.emplace("localizedDescription", platform::Value(e.localizedDescription));
    d.emplace("userInfo", platform::Value(e.userInfo));
    return platform::Value(std::move(d));
}

} // namespace

SwitchboardError::SwitchboardError(int code, platform::Dictionary info) {
    domain = kSwitchboardErrorDomain;
    this->code = code;
    if (auto it = info.find(kLocalizedDescriptionKey); it != info.end())
        if (auto s = it->second.string())
            localizedDescription = *s;
    userInfo = std::move(info);
}

SwitchboardError::SwitchboardError(int code, std::string description)
    : SwitchboardError(code, std::optional<std::string>(std::move(description)), std::nullopt) {}

SwitchboardError::SwitchboardError(int code, std::optional<std::string> description,
                                   const std::optional<platform::Error>& underlying) {
    domain = kSwitchboardErrorDomain;
    this->code = code;
    if (description) {
        userInfo.emplace(kLocalizedDescriptionKey, platform::Value(*description));
        localizedDescription = std::move(*description);
    }
    if (underlying)
        userInfo.emplace(kUnderlyingErrorKey, errorAsValue(*underlying));
}

SwitchboardError SwitchboardError::errorWithCode(int code, platform::Dictionary info) {
    return SwitchboardError(code, std::move(info));
}

SwitchboardError SwitchboardError::errorWithCode(int code, std::string description) {
    return SwitchboardError(code, std::move(description));
}

SwitchboardError SwitchboardError::errorWithCode(int code, std::optional<std::string> description,
                                                 const std::optional<platform::Error>& underlying) {
    return SwitchboardError(code, std::move(description), underlying);
}

std::optional<platform::Error> SwitchboardError::underlyingError(const platform::Error& error) {
    auto it = error.userInfo.find(kUnderlyingErrorKey);
    if (it == error.userInfo.end() || !it->second.isDictionary())
        return std::nullopt;
    const platform::Value& v = it->second;
    platform::Error out;
    if (auto d = v.find("domain"))
        out.domain = d->stringOr("");
    if (auto c = v.find("code"))
        out.code = c->intOr(0);
    if (auto l = v.find("localizedDescription"))
        out.localizedDescription = l->stringOr("");
    if (auto u = v.find("userInfo"); u && u->dictionary())
        out.userInfo = *u->dictionary();
    return out;
}

} // namespace mediation
