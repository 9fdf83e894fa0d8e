#include "platform/foundation/DateFormatter.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <mutex>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"

namespace platform {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kWeekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
// Two-digit years read as 1950 to 2049.
constexpr int kTwoDigitYearPivot = 50;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = floorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month, day;
};

Civil civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

bool isLeap(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

std::mutex& zoneMutex() {
    static std::mutex m;
    return m;
}
std::optional<TimeZone>& zoneOverride() {
    static std::optional<TimeZone> z;
    return z;
}

// Appends `value` in decimal with at least `width` digits (zeros in front), after a minus
// sign when it is negative. Written in place: dates are formatted once per row of long lists.
void appendPadded(std::string& out, std::int64_t value, int width) {
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    if (value < 0)
        out += '-';
    if (end - digits < width)
        out.append(static_cast<std::size_t>(width - (end - digits)), '0');
    out.append(digits, end);
}

std::string pad(std::int64_t value, int width) {
    std::string out;
    appendPadded(out, value, width);
    return out;
}

// "+0530", "+05:30", "GMT+05:30" and the like; "Z" for zero where the style allows it.
void appendOffset(std::string& out, int offset, bool colon, bool gmtPrefix, bool zForZero) {
    if (offset == 0 && zForZero) {
        out += 'Z';
        return;
    }
    char sign = offset < 0 ? '-' : '+';
    int a = offset < 0 ? -offset : offset;
    if (gmtPrefix)
        out += "GMT";
    out += sign;
    appendPadded(out, a / 3600, 2);
    if (colon)
        out += ':';
    appendPadded(out, (a / 60) % 60, 2);
}


bool isNumericField(char letter, int count) {
    switch (letter) {
    case 'y':
    case 'Y':
    case 'd':
    case 'D':
    case 'H':
    case 'k':
    case 'h':
    case 'K':
    case 'm':
    case 's':
    case 'S':
        return true;
    case 'M':
    case 'L':
        return count <= 2;
    default:
        return false;
    }
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A parse position over the text being read.
struct Reader {
    std::string_view text;
    std::size_t pos = 0;

    bool atEnd() const { return pos >= text.size(); }
    char peek() const { return atEnd() ? '\0' : text[pos]; }

    // Up to `maxDigits` digits (at least one); nullopt when none.
    std::optional<std::int64_t> number(int maxDigits) {
        std::int64_t v = 0;
        int n = 0;
        while (!atEnd() && isDigit(text[pos]) && n < maxDigits && n < 18) {
            v = v * 10 + (text[pos] - '0');
            ++pos;
            ++n;
        }
        if (n == 0)
            return std::nullopt;
        return v;
    }

    // Index of the name in `names` that the text starts with, in full or as its first three
    // letters (case-insensitive), preferring the full name.
    std::optional<int> name(const char* const* names, int count) {
        for (int full = 1; full >= 0; --full) {
            for (int i = 0; i < count; ++i) {
                std::string_view candidate(names[i]);
                if (!full)
                    candidate = candidate.substr(0, 3);
                if (text.size() - pos >= candidate.size() &&
                    equalsIgnoringCase(text.substr(pos, candidate.size()), candidate)) {
                    pos += candidate.size();
                    return i;
                }
            }
        }
        return std::nullopt;
    }

    // A zone: "Z", "GMT", "UTC", "UT", each optionally followed by an offset, or a bare offset
    // "+hh", "+hhmm", "+hh:mm". Answers the offset in seconds east of Greenwich.
    std::optional<int> zone() {
        if (peek() == 'Z' || peek() == 'z') {
            std::size_t save = pos;
            ++pos;
            if (!isAlpha(peek()))
                return 0;
            pos = save;
        }
        bool named = false;
        for (std::string_view prefix : {"GMT", "UTC", "UT"}) {
            if (text.size() - pos >= prefix.size() &&
                equalsIgnoringCase(text.substr(pos, prefix.size()), prefix)) {
                pos += prefix.size();
                named = true;
                break;
            }
        }
        if (peek() != '+' && peek() != '-') {
            if (named)
                return 0;
            return std::nullopt;
        }
        int sign = peek() == '-' ? -1 : 1;
        ++pos;
        std::size_t start = pos;
        auto digits = number(4);
        if (!digits)
            return std::nullopt;
        std::size_t count = pos - start;
        std::int64_t hours = 0, minutes = 0;
        if (count <= 2) {
            hours = *digits;
            if (peek() == ':') {
                ++pos;
                std::size_t ms = pos;
                auto m = number(2);
                if (!m || pos - ms != 2)
                    return std::nullopt;
                minutes = *m;
            }
        } else if (count == 4) {
            hours = *digits / 100;
            minutes = *digits % 100;
        } else {
            return std::nullopt;
        }
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        return sign * static_cast<int>(hours * 3600 + minutes * 60);
    }
};

} // namespace

TimeZone TimeZone::current() {
    std::lock_guard lock(zoneMutex());
    return zoneOverride().value_or(TimeZone::system());
}

void TimeZone::setCurrent(std::optional<TimeZone> zone) {
    std::lock_guard lock(zoneMutex());
    zoneOverride() = zone;
}

int TimeZone::secondsFromGMT(Date date) const {
    if (kind_ == Kind::Fixed)
        return offset_;
    std::time_t t = saturatingCast<std::time_t>(std::floor(date.secondsSince1970));
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return 0;
    return static_cast<int>(tm.tm_gmtoff);
}

std::string TimeZone::abbreviation(Date date) const {
    if (kind_ == Kind::System) {
        std::time_t t = saturatingCast<std::time_t>(std::floor(date.secondsSince1970));
        std::tm tm{};
        if (localtime_r(&t, &tm) && tm.tm_zone && *tm.tm_zone && isAlpha(tm.tm_zone[0]))
            return tm.tm_zone;
    }
    int offset = secondsFromGMT(date);
    if (offset == 0)
        return "GMT";
    int a = offset < 0 ? -offset : offset;
    std::string out = offset < 0 ? "GMT-" : "GMT+";
    out += std::to_string(a / 3600);
    if ((a / 60) % 60)
        out += ":" + pad((a / 60) % 60, 2);
    return out;
}

double TimeZone::instantFromLocal(double local) const {
    if (kind_ == Kind::Fixed)
        return local - offset_;
    double whole = std::floor(local);
    auto secs = saturatingCast<std::int64_t>(whole);
    std::int64_t days = floorDiv(secs, kSecondsPerDay);
    std::int64_t secOfDay = secs - days * kSecondsPerDay;
    Civil c = civilFromDays(days);
    std::tm tm{};
    tm.tm_year = static_cast<int>(c.year - 1900);
    tm.tm_mon = static_cast<int>(c.month) - 1;
    tm.tm_mday = static_cast<int>(c.day);
    tm.tm_hour = static_cast<int>(secOfDay / 3600);
    tm.tm_min = static_cast<int>((secOfDay / 60) % 60);
    tm.tm_sec = static_cast<int>(secOfDay % 60);
    tm.tm_isdst = -1;
    std::time_t t = mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return local; // outside the system's range: read as UTC
    return static_cast<double>(t) + (local - whole);
}

DateFormatter::DateFormatter(std::string_view pattern, TimeZone zone) : pattern_(pattern), zone_(zone) {
    std::size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        if (c == '\'') {
            // Quoted literal; '' is a single quote, inside or outside quotes.
            std::string text;
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                text = "'";
                i += 2;
            } else {
                ++i;
                while (i < pattern.size()) {
                    if (pattern[i] == '\'') {
                        if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                            text += '\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    text += pattern[i++];
                }
            }
            if (!fields_.empty() && fields_.back().letter == 0)
                fields_.back().text += text;
            else
                fields_.push_back(Field{0, 0, text});
            continue;
        }
        if (isAlpha(c)) {
            std::size_t j = i;
            while (j < pattern.size() && pattern[j] == c)
                ++j;
            fields_.push_back(Field{c, static_cast<int>(j - i), {}});
            i = j;
            continue;
        }
        if (!fields_.empty() && fields_.back().letter == 0)
            fields_.back().text += c;
        else
            fields_.push_back(Field{0, 0, std::string(1, c)});
        ++i;
    }
}

std::string DateFormatter::string(Date date) const {
    std::string out;
    write(date, out);
    return out;
}

void DateFormatter::write(Date date, std::string& out) const {
    out.clear();
    double seconds = date.secondsSince1970;
    if (!std::isfinite(seconds))
        return;
    double whole = std::floor(seconds);
    double fraction = seconds - whole;
    int offset = zone_.secondsFromGMT(date);
    auto local = static_cast<std::int64_t>(whole) + offset;
    std::int64_t days = floorDiv(local, kSecondsPerDay);
    std::int64_t secOfDay = local - days * kSecondsPerDay;
    Civil c = civilFromDays(days);
    int hour = static_cast<int>(secOfDay / 3600);
    int minute = static_cast<int>((secOfDay / 60) % 60);
    int second = static_cast<int>(secOfDay % 60);
    // 1970-01-01 was a Thursday (weekday 4, counting from Sunday).
    auto weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);

    out.reserve(pattern_.size() + 16);
    for (const Field& f : fields_) {
        switch (f.letter) {
        case 0:
            out += f.text;
            break;
        case 'y':
        case 'Y':
            // A week-based year meant as a calendar year: both write the calendar year.
            if (f.count == 2)
                appendPadded(out, ((c.year % 100) + 100) % 100, 2);
            else
                appendPadded(out, c.year, f.count);
            break;
        case 'M':
        case 'L':
            if (f.count >= 4)
                out += kMonthNames[c.month - 1];
            else if (f.count == 3)
                out += std::string_view(kMonthNames[c.month - 1]).substr(0, 3);
            else
                appendPadded(out, c.month, f.count);
            break;
        case 'd':
            appendPadded(out, c.day, f.count);
            break;
        case 'D':
            appendPadded(out, days - daysFromCivil(c.year, 1, 1) + 1, f.count);
            break;
        case 'E':
        case 'e':
            out += f.count >= 4 ? std::string(kWeekdayNames[weekday])
                                : std::string(std::string_view(kWeekdayNames[weekday]).substr(0, 3));
            break;
        case 'a':
            out += hour < 12 ? "AM" : "PM";
            break;
        case 'H':
            appendPadded(out, hour, f.count);
            break;
        case 'k':
            appendPadded(out, hour == 0 ? 24 : hour, f.count);
            break;
        case 'h':
            appendPadded(out, hour % 12 == 0 ? 12 : hour % 12, f.count);
            break;
        case 'K':
            appendPadded(out, hour % 12, f.count);
            break;
        case 'm':
            appendPadded(out, minute, f.count);
            break;
        case 's':
            appendPadded(out, second, f.count);
            break;
        case 'S': {
            // Truncated, not rounded, so that a fraction never carries into the seconds.
            double scaled = std::floor(fraction * std::pow(10.0, std::min(f.count, 9)));
            appendPadded(out, static_cast<std::int64_t>(scaled), std::min(f.count, 9));
            for (int k = 9; k < f.count; ++k)
                out += '0';
            break;
        }
        case 'Z':
            if (f.count <= 3)
                appendOffset(out, offset, false, false, false);
            else if (f.count == 4)
                if (offset == 0)
                    out += "GMT";
                else
                    appendOffset(out, offset, true, true, false);
            else
                appendOffset(out, offset, true, false, true);
            break;
        case 'X':
            appendOffset(out, offset, f.count >= 3, false, true);
            break;
        case 'x':
            appendOffset(out, offset, f.count >= 3, false, false);
            break;
        case 'z':
            out += zone_.abbreviation(date);
            break;
        default:
            break; // letters without a meaning here write nothing
        }
    }
}

std::optional<Date> DateFormatter::date(std::string_view text) const {
    text = trim(text);
    Reader r{text};
    std::int64_t year = 1970;
    std::int64_t month = 1, day = 1, dayOfYear = 0;
    std::int64_t hour = 0, minute = 0, second = 0;
    double fraction = 0;
    std::optional<bool> pm;
    bool twelveHour = false;
    std::optional<int> parsedOffset;

    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const Field& f = fields_[i];
        bool abutting = i + 1 < fields_.size() && isNumericField(f.letter, f.count) &&
                        isNumericField(fields_[i + 1].letter, fields_[i + 1].count);
        // Width of a numeric field: exact when the next field is also a number (as in
        // "yyyyMMdd"); otherwise years and fractions take every digit, days of the year three,
        // the rest two.
        int width = 2;
        if (abutting)
            width = f.count;
        else if (f.letter == 'y' || f.letter == 'Y' || f.letter == 'S')
            width = 18;
        else if (f.letter == 'D')
            width = 3;
        switch (f.letter) {
        case 0: {
            for (char c : f.text) {
                if (isSpace(c)) {
                    if (!isSpace(r.peek()))
                        return std::nullopt;
                    while (isSpace(r.peek()))
                        ++r.pos;
                } else {
                    if (r.peek() != c)
                        return std::nullopt;
                    ++r.pos;
                }
            }
            break;
        }
        case 'y':
        case 'Y': {
            std::size_t start = r.pos;
            auto v = r.number(width);
            if (!v)
                return std::nullopt;
            if (f.count == 2 && r.pos - start == 2)
                year = *v < kTwoDigitYearPivot ? 2000 + *v : 1900 + *v;
            else
                year = *v;
            break;
        }
        case 'M':
        case 'L':
            if (f.count >= 3) {
                auto idx = r.name(kMonthNames, 12);
                if (!idx)
                    return std::nullopt;
                month = *idx + 1;
            } else {
                auto v = r.number(width);
                if (!v)
                    return std::nullopt;
                month = *v;
            }
            break;
        case 'E':
        case 'e':
            if (!r.name(kWeekdayNames, 7))
                return std::nullopt;
            break;
        case 'a': {
            auto rest = text.substr(r.pos);
            if (rest.size() >= 2 && equalsIgnoringCase(rest.substr(0, 2), "AM"))
                pm = false;
            else if (rest.size() >= 2 && equalsIgnoringCase(rest.substr(0, 2), "PM"))
                pm = true;
            else
                return std::nullopt;
            r.pos += 2;
            break;
        }
        case 'Z':
        case 'X':
        case 'x':
        case 'z': {
            auto off = r.zone();
            if (!off)
                return std::nullopt;
            parsedOffset = *off;
            break;
        }
        case 'S': {
            std::size_t start = r.pos;
            auto v = r.number(width);
            if (!v)
                return std::nullopt;
            fraction = static_cast<double>(*v) / std::pow(10.0, static_cast<double>(r.pos - start));
            break;
        }
        default: {
            if (!isNumericField(f.letter, f.count))
                return std::nullopt; // a letter this formatter cannot read
            auto v = r.number(width);
            if (!v)
                return std::nullopt;
            switch (f.letter) {
            case 'd':
                day = *v;
                break;
            case 'D':
                dayOfYear = *v;
                break;
            case 'H':
                hour = *v;
                break;
            case 'k':
                hour = *v == 24 ? 0 : *v;
                if (*v < 1 || *v > 24)
                    return std::nullopt;
                break;
            case 'h':
                twelveHour = true;
                hour = *v;
                if (*v < 1 || *v > 12)
                    return std::nullopt;
                break;
            case 'K':
                twelveHour = true;
                hour = *v;
                if (*v > 11)
                    return std::nullopt;
                break;
            case 'm':
                minute = *v;
                break;
            case 's':
                second = *v;
                break;
            default:
                break;
            }
        }
        }
    }
    if (!r.atEnd())
        return std::nullopt;
    if (twelveHour || pm) {
        if (hour > 12)
            return std::nullopt;
        if (pm.value_or(false))
            hour = hour % 12 + 12;
        else if (twelveHour)
            hour = hour % 12;
    }
    if (year < -9999 || year > 99999 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::int64_t days;
    if (dayOfYear) {
        if (dayOfYear > (isLeap(year) ? 366 : 365))
            return std::nullopt;
        days = daysFromCivil(year, 1, 1) + dayOfYear - 1;
    } else {
        if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, static_cast<unsigned>(month)))
            return std::nullopt;
        days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    }
    double local = static_cast<double>(days * kSecondsPerDay + hour * 3600 + minute * 60 + second) + fraction;
    if (parsedOffset)
        return Date{local - *parsedOffset};
    return Date{zone_.instantFromLocal(local)};
}

std::string iso8601UTCString(Date date) {
    static const DateFormatter formatter("yyyy-MM-dd'T'HH:mm:ss'Z'", TimeZone::utc());
    return formatter.string(date);
}

std::optional<Date> dateFromISO8601(std::string_view text) {
    static const DateFormatter withZone("yyyy-MM-dd'T'HH:mm:ssXXX", TimeZone::utc());
    static const DateFormatter withFractionAndZone("yyyy-MM-dd'T'HH:mm:ss.SSSXXX", TimeZone::utc());
    static const DateFormatter plain("yyyy-MM-dd'T'HH:mm:ss", TimeZone::utc());
    static const DateFormatter withFraction("yyyy-MM-dd'T'HH:mm:ss.SSS", TimeZone::utc());
    for (const DateFormatter* f : {&withZone, &withFractionAndZone, &plain, &withFraction})
        if (auto d = f->date(text))
            return d;
    return std::nullopt;
}

std::string httpDateString(Date date) {
    static const DateFormatter formatter("EEE, dd MMM yyyy HH:mm:ss 'GMT'", TimeZone::utc());
    return formatter.string(date);
}

std::optional<Date> dateFromHTTPDate(std::string_view text) {
    static const DateFormatter imf("EEE, dd MMM yyyy HH:mm:ss zzz", TimeZone::utc());
    static const DateFormatter rfc850("EEEE, dd-MMM-yy HH:mm:ss zzz", TimeZone::utc());
    static const DateFormatter asctime("EEE MMM d HH:mm:ss yyyy", TimeZone::utc());
    for (const DateFormatter* f : {&imf, &rfc850, &asctime})
        if (auto d = f->date(text))
            return d;
    return std::nullopt;
}

} // namespace platform
