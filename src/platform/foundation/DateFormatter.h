#pragma once
// Dates as text: time zones and pattern-based date formatters.
//
// TimeZone is a small value: UTC, a fixed offset, or the system's local zone (the process's
// TZ rules, daylight saving included). TimeZone::current() is "the device's time zone"; tests
// pin it with setCurrent so that dates format the same on every machine.
//
// DateFormatter writes and reads dates with the platform's Unicode date patterns, always in
// the POSIX locale (English month and day names, Western digits), whatever the user's locale:
//   y yy yyyy  year (yy: two digits; Y and YYYY are taken as the calendar year)
//   M MM MMM MMMM  month (number, two digits, "Jan", "January"); L likewise
//   d dd  day of month       D  day of year       E EEE EEEE  weekday ("Tue", "Tuesday")
//   H HH  hour 0-23   k  hour 1-24   h hh  hour 1-12   K  hour 0-11   a  AM/PM
//   m mm  minute      s ss  second   S...  fraction of a second, as many digits as letters
//   Z ZZ ZZZ "-0500"  ZZZZ "GMT-05:00"  ZZZZZ "-05:00" (or "Z")   X XX XXX like Z with "Z" for 0
//   z zz zzz  zone abbreviation ("GMT", "CET", "GMT+5:30")
//   'text'  literal text, '' a single quote; other non-letters stand for themselves
// Reading requires the whole text to match (white space at either end is ignored, and a space
// in the pattern matches any run of white space). Where two number fields abut ("yyyyMMdd")
// each takes exactly its pattern width; elsewhere years and fractions take every digit, days
// of the year up to three and other numbers one or two. A zone in the text wins over the
// formatter's zone; zones are read as "Z", "GMT", "UTC", "UT" and numeric offsets.
// Formatters are immutable after construction and safe to share between threads.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform {

// Seconds from 1970-01-01 to 2001-01-01 (UTC), the platform's reference date for
// "absolute time" and "time interval since the reference date".
inline constexpr double kTimeIntervalSince1970To2001 = 978307200.0;

class TimeZone {
  public:
    static TimeZone utc() { return TimeZone(Kind::Fixed, 0); }
    // A fixed offset east of Greenwich, in seconds.
    static TimeZone fixed(int secondsFromGMT) { return TimeZone(Kind::Fixed, secondsFromGMT); }
    // The process's local zone (TZ rules, with daylight saving).
    static TimeZone system() { return TimeZone(Kind::System, 0); }

    // The device's time zone: the system zone unless a test has set another.
    static TimeZone current();
    static void setCurrent(std::optional<TimeZone> zone);

    int secondsFromGMT(Date date) const;
    // "GMT" for offset 0, "GMT+5", "GMT-3:30" for other fixed offsets; the system zone's own
    // abbreviation ("CET", "EST") for the system zone.
    std::string abbreviation(Date date) const;
    bool isSystem() const { return kind_ == Kind::System; }

    // Seconds since 1970 of a local wall-clock reading in this zone (the local time counted as
    // if it were UTC). For a reading that falls into a daylight-saving gap or overlap the
    // system's choice stands.
    double instantFromLocal(double localSecondsSince1970) const;

    friend bool operator==(const TimeZone&, const TimeZone&) = default;

  private:
    enum class Kind { Fixed, System };
    TimeZone(Kind kind, int offset) : kind_(kind), offset_(offset) {}
    Kind kind_;
    int offset_;
};

class DateFormatter {
  public:
    explicit DateFormatter(std::string_view pattern, TimeZone zone = TimeZone::current());

    std::string string(Date date) const;
    // The same text, written over `out` (whose memory is reused: for long lists of dates).
    void write(Date date, std::string& out) const;
    std::optional<Date> date(std::string_view text) const;

    const std::string& pattern() const { return pattern_; }
    const TimeZone& timeZone() const { return zone_; }

  private:
    struct Field {
        char letter = 0; // 0 for literal text
        int count = 0;
        std::string text; // literal text
    };
    std::string pattern_;
    TimeZone zone_;
    std::vector<Field> fields_;
};

// "yyyy-MM-dd'T'HH:mm:ss'Z'" in UTC, as property lists store dates; parsing also accepts an
// offset ("+01:00", "+0100") or no zone (UTC) and a fraction of a second.
std::string iso8601UTCString(Date date);
std::optional<Date> dateFromISO8601(std::string_view text);

// HTTP dates: "EEE, dd MMM yyyy HH:mm:ss 'GMT'", as in Last-Modified and If-Modified-Since.
// Parsing also takes the two older forms HTTP allows (RFC 850 and asctime).
std::string httpDateString(Date date);
std::optional<Date> dateFromHTTPDate(std::string_view text);

} // namespace platform
