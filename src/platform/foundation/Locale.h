#pragma once
// The user's locale as an identifier ("en_US") with its language and country codes, which
// clients send to their servers. It is read once from the process environment (LC_ALL, then
// LC_MESSAGES, then LANG; "de_DE.UTF-8@euro" gives "de_DE"), "en_US" when none names a
// language; tests set it with setCurrent. Formatting never follows it: dates and numbers are
// always written in the POSIX locale (see DateFormatter and Strings). Thread-safe.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Locale {
  public:
    // Answers nullopt for identifiers that are not language[_COUNTRY] made of letters.
    static std::optional<Locale> fromIdentifier(std::string_view identifier);

    static Locale current();
    // nullopt returns to the locale of the environment.
    static void setCurrent(std::optional<Locale> locale);

    const std::string& identifier() const { return identifier_; }
    std::string languageCode() const;
    // Empty when the identifier names no country.
    std::string countryCode() const;

  private:
    explicit Locale(std::string identifier) : identifier_(std::move(identifier)) {}
    std::string identifier_;
};

} // namespace platform
