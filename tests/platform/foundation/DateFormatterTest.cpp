#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/ProcessInfo.h"

using namespace platform;

namespace {
// 2011-03-05 14:07:09.25 UTC, a Saturday.
constexpr double kInstant = 1299334029.25;
constexpr int kEST = -5 * 3600;
constexpr int kIST = 5 * 3600 + 1800;

// Pins the device's zone and locale for one test.
struct ZoneScope {
    explicit ZoneScope(TimeZone zone) { TimeZone::setCurrent(zone); }
    ~ZoneScope() { TimeZone::setCurrent(std::nullopt); }
};
} // namespace

TEST(DateFormatter, FormatsThePatternsClientsUse) {
    struct Case {
        const char* pattern;
        int zone;
        const char* expected;
    };
    const Case cases[] = {
        {"yyyy-MM-dd HH:mm:ss ZZZ", 0, "2011-03-05 14:07:09 +0000"},
        {"yyyy-MM-dd HH:mm:ss ZZZ", kEST, "2011-03-05 09:07:09 -0500"},
        {"yyyy-MM-dd HH:mm:ss ZZZ", kIST, "2011-03-05 19:37:09 +0530"},
        {"yyyy-MM-dd'T'HH:mm:ssZ", kEST, "2011-03-05T09:07:09-0500"},
        {"EEE, dd MMM yyyy HH:mm:ss", 0, "Sat, 05 Mar 2011 14:07:09"},
        {"EEEE d MMMM yy", 0, "Saturday 5 March 11"},
        {"yyyyMMdd", 0, "20110305"},
        {"h:mm a", 0, "2:07 PM"},
        {"HH:mm:ss.SSS", 0, "14:07:09.250"},
        {"D", 0, "64"},
        {"ZZZZ|ZZZZZ|XXX|z", kIST, "GMT+05:30|+05:30|+05:30|GMT+5:30"},
        {"ZZZZ|ZZZZZ|z", 0, "GMT|Z|GMT"},
        {"'o''clock' hh 'at' ''", 0, "o'clock 02 at '"},
    };
    for (const auto& c : cases) {
        DateFormatter f(c.pattern, TimeZone::fixed(c.zone));
        EXPECT_EQ(f.string(Date{kInstant}), c.expected) << c.pattern;
    }
}

TEST(DateFormatter, DatesBefore1970AndAroundLeapDays) {
    DateFormatter f("yyyy-MM-dd HH:mm:ss EEE", TimeZone::utc());
    EXPECT_EQ(f.string(Date{-1}), "1969-12-31 23:59:59 Wed");
    EXPECT_EQ(f.string(Date{951782400}), "2000-02-29 00:00:00 Tue");
    EXPECT_EQ(f.string(Date{kTimeIntervalSince1970To2001}), "2001-01-01 00:00:00 Mon");
    // 2010-01-01 belongs to week 53 of 2009; a week-based year pattern still writes 2010, the
    // calendar year it is meant as.
    EXPECT_EQ(DateFormatter("YYYY-MM-dd", TimeZone::utc()).string(Date{1262347200}), "2010-01-01");
    EXPECT_EQ(f.date("2000-02-29 00:00:00 Tue")->secondsSince1970, 951782400);
    EXPECT_EQ(f.date("1969-12-31 23:59:59 Wed")->secondsSince1970, -1);
}

TEST(DateFormatter, ParsesWhatItFormats) {
    const char* patterns[] = {"yyyy-MM-dd HH:mm:ss ZZZ", "yyyy-MM-dd'T'HH:mm:ssZ", "yyyyMMddHHmmss",
                              "EEEE, d MMMM yyyy h:mm:ss a ZZZZ", "yyyy-MM-dd HH:mm:ss.SSS XXX"};
    for (const char* pattern : patterns) {
        for (int zone : {0, kEST, kIST}) {
            DateFormatter f(pattern, TimeZone::fixed(zone));
            std::string text = f.string(Date{kInstant});
            auto back = f.date(text);
            ASSERT_TRUE(back) << pattern << " " << text;
            bool hasFraction = std::string(pattern).find('S') != std::string::npos;
            EXPECT_DOUBLE_EQ(back->secondsSince1970, hasFraction ? kInstant : kInstant - 0.25) << text;
        }
    }
}

TEST(DateFormatter, ReadsTextInTheFormattersZoneUnlessTheTextNamesOne) {
    DateFormatter local("yyyy-MM-dd HH:mm:ss", TimeZone::fixed(kEST));
    EXPECT_EQ(local.date("2011-03-05 09:07:09")->secondsSince1970, 1299334029);
    DateFormatter zoned("yyyy-MM-dd HH:mm:ss Z", TimeZone::fixed(kEST));
    EXPECT_EQ(zoned.date("2011-03-05 14:07:09 +0000")->secondsSince1970, 1299334029);
    EXPECT_EQ(zoned.date("2011-03-05 14:07:09 GMT")->secondsSince1970, 1299334029);
    EXPECT_EQ(zoned.date("2011-03-05 19:37:09 +05:30")->secondsSince1970, 1299334029);
}

TEST(DateFormatter, RefusesTextThatDoesNotMatch) {
    DateFormatter f("yyyy-MM-dd HH:mm:ss", TimeZone::utc());
    for (const char* bad : {"", "2011-02-30 00:00:00", "2011-13-01 00:00:00", "2011-03-05 24:00:00",
                            "2011-03-05 10:60:00", "2011-03-05", "2011-03-05 10:00:00 extra",
                            "2011/03/05 10:00:00", "abcd-03-05 10:00:00", "2011-3-5T10:00:00"}) {
        EXPECT_FALSE(f.date(bad)) << bad;
    }
    // White space around the text, and runs of it where the pattern has a space, are accepted.
    EXPECT_TRUE(f.date("  2011-03-05   10:00:00 "));
    EXPECT_TRUE(f.date("2011-3-5 10:0:0")); // single digits where the field is not abutting
    DateFormatter compact("yyyyMMdd", TimeZone::utc());
    EXPECT_FALSE(compact.date("201103"));
    EXPECT_EQ(compact.date("20110305")->secondsSince1970, 1299283200);
}

TEST(DateFormatter, HTTPAndISODates) {
    EXPECT_EQ(httpDateString(Date{784111777}), "Sun, 06 Nov 1994 08:49:37 GMT");
    for (const char* text :
         {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"}) {
        auto d = dateFromHTTPDate(text);
        ASSERT_TRUE(d) << text;
        EXPECT_EQ(d->secondsSince1970, 784111777) << text;
    }
    EXPECT_FALSE(dateFromHTTPDate("yesterday"));

    EXPECT_EQ(iso8601UTCString(Date{kInstant}), "2011-03-05T14:07:09Z");
    for (const char* text : {"2011-03-05T14:07:09Z", "2011-03-05T15:07:09+01:00", "2011-03-05T09:07:09-0500",
                             "2011-03-05T14:07:09"}) {
        auto d = dateFromISO8601(text);
        ASSERT_TRUE(d) << text;
        EXPECT_EQ(d->secondsSince1970, 1299334029) << text;
    }
    EXPECT_DOUBLE_EQ(dateFromISO8601("2011-03-05T14:07:09.250Z")->secondsSince1970, kInstant);
    EXPECT_FALSE(dateFromISO8601("2011-03-05 14:07:09Z"));
}

TEST(TimeZone, DeviceZoneCanBePinnedAndTheSystemZoneFollowsTZ) {
    {
        ZoneScope pinned(TimeZone::fixed(kIST));
        EXPECT_EQ(TimeZone::current(), TimeZone::fixed(kIST));
        EXPECT_EQ(DateFormatter("HH:mm").string(Date{kInstant}), "19:37");
    }
    EXPECT_TRUE(TimeZone::current().isSystem());
    // The system zone: its offset matches what the C library says for the same instant,
    // and reading local text back gives the same instant.
    TimeZone system = TimeZone::system();
    DateFormatter f("yyyy-MM-dd HH:mm:ss", system);
    auto back = f.date(f.string(Date{kInstant}));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->secondsSince1970, 1299334029);
    EXPECT_FALSE(system.abbreviation(Date{kInstant}).empty());
}

TEST(Locale, IdentifierFromTheEnvironmentOrSetByTests) {
    struct Case {
        const char* lang;
        const char* identifier;
        const char* language;
        const char* country;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", "de_DE", "de", "DE"},
        {"fr_CA@euro", "fr_CA", "fr", "CA"},
        {"pt", "pt", "pt", ""},
        {"C", "en_US", "en", "US"},
        {"POSIX", "en_US", "en", "US"},
        {"C.UTF-8", "en_US", "en", "US"},
        {"../../etc", "en_US", "en", "US"},
    };
    ProcessInfo::setEnvironmentValueForTesting("LC_ALL", std::nullopt);
    ProcessInfo::setEnvironmentValueForTesting("LC_MESSAGES", std::nullopt);
    for (const auto& c : cases) {
        ProcessInfo::setEnvironmentValueForTesting("LANG", c.lang);
        Locale l = Locale::current();
        EXPECT_EQ(l.identifier(), c.identifier) << c.lang;
        EXPECT_EQ(l.languageCode(), c.language) << c.lang;
        EXPECT_EQ(l.countryCode(), c.country) << c.lang;
    }
    Locale::setCurrent(Locale::fromIdentifier("ja_JP"));
    EXPECT_EQ(Locale::current().identifier(), "ja_JP");
    Locale::setCurrent(std::nullopt);
    ProcessInfo::resetForTesting();
    EXPECT_FALSE(Locale::fromIdentifier("en US"));
    EXPECT_FALSE(Locale::fromIdentifier(""));
}
