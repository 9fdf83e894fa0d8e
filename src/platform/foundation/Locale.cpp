#include "platform/foundation/Locale.h"

#include <mutex>

#include "platform/foundation/ProcessInfo.h"

namespace platform {
namespace {

constexpr const char* kFallbackIdentifier = "en_US";

bool isLetters(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    return true;
}

std::mutex& localeMutex() {
    static std::mutex m;
    return m;
}

std::optional<Locale>& localeOverride() {
    static std::optional<Locale> l;
    return l;
}

} // namespace

std::optional<Locale> Locale::fromIdentifier(std::string_view identifier) {
    // "de_DE.UTF-8@euro" and "de-DE" are accepted and written "de_DE".
    identifier = identifier.substr(0, identifier.find_first_of(".@"));
    std::string id(identifier);
    for (char& c : id)
        if (c == '-')
            c = '_';
    auto underscore = id.find('_');
    std::string_view language = std::string_view(id).substr(0, underscore);
    if (!isLetters(language) || language.size() > 8)
        return std::nullopt;
    if (underscore != std::string::npos) {
        std::string_view country = std::string_view(id).substr(underscore + 1);
        if (!isLetters(country) || country.size() > 8)
            return std::nullopt;
    }
    return Locale(id);
}

Locale Locale::current() {
    {
        std::lock_guard lock(localeMutex());
        if (localeOverride())
            return *localeOverride();
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = ProcessInfo::environmentValue(variable);
        if (!value || value->empty())
            continue;
        // "C" and "POSIX" name no language.
        if (*value == "C" || *value == "POSIX" || value->rfind("C.", 0) == 0)
            break;
        if (auto locale = fromIdentifier(*value))
            return *locale;
    }
    return Locale(kFallbackIdentifier);
}

void Locale::setCurrent(std::optional<Locale> locale) {
    std::lock_guard lock(localeMutex());
    localeOverride() = std::move(locale);
}

std::string Locale::languageCode() const {
    return identifier_.substr(0, identifier_.find('_'));
}

std::string Locale::countryCode() const {
    auto underscore = identifier_.find('_');
    return underscore == std::string::npos ? std::string() : identifier_.substr(underscore + 1);
}

} // namespace platform
