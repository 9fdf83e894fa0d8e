// Tracked events: their wire form, breadcrumb views, legacy dictionaries and the old-style
// property-list text they are stored as.
#include <gtest/gtest.h>

#include "TrackingFixture.h"
#include "vellum/tracking/OldStylePropertyList.h"

namespace {

using vellum::VellumTrackedEvent;

class TrackedEventTest : public vellumtest::TrackingFixture {};

platform::Value crumb(const char* url, double t) {
    return platform::Dictionary{{"URL", url}, {"Timestamp", t}};
}

TEST_F(TrackedEventTest, BreadcrumbsBecomeLinksAndViewsLatestFirst) {
    std::vector<vellum::MRAdEventURL> links;
    std::vector<vellum::MRAdEventBreadcrumb> views;
    const double t = 400'000'000.0;
    VellumTrackedEvent::getVisitCountsAndBreadcrumbs(
        &links, &views,
        platform::Array{crumb("A", t), crumb("B", t + 5), crumb("A", t + 20),
                        crumb("MREmbeddedBrowserClosed", t + 30)});
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].url(), "A");
    EXPECT_EQ(links[0].id(), 1);
    EXPECT_EQ(links[0].visitCount(), 2);
    EXPECT_EQ(links[1].url(), "B");
    EXPECT_EQ(links[1].visitCount(), 1);
    ASSERT_EQ(views.size(), 3u);
    const std::pair<std::int16_t, double> expected[] = {{1, 10}, {2, 15}, {1, 5}};
    for (std::size_t i = 0; i < views.size(); ++i) {
        EXPECT_EQ(views[i].urlID(), expected[i].first);
        EXPECT_EQ(views[i].duration(), expected[i].second);
    }
    EXPECT_EQ(views[2].viewStart(), vellum::MRBroadcaster::iso8601stringFromDate(
                                        platform::Date{t + platform::kTimeIntervalSince1970To2001}));

    VellumTrackedEvent::getVisitCountsAndBreadcrumbs(&links, &views, platform::Array{});
    EXPECT_TRUE(links.empty());
    EXPECT_TRUE(views.empty());
}

TEST_F(TrackedEventTest, WireFormOfAnAdEventAndOfARegularEvent) {
    VellumTrackedEvent e;
    e.eventType = "MRAdViewed";
    e.adID = "ad-5";
    e.adExit = 3;
    e.timestamp = platform::Date{kStartTime};
    e.connStatus = "CDNConnected";
    e.userCount = 70000;
    e.stringValues = platform::Dictionary{{"MRAdSlot", "top"}, {"MRAdVersion", "4"}};
    e.numericValues = platform::Dictionary{{"n", "2.5"}};
    e.location = platform::Location({1.5, 2.5}, 3, 0, 4, platform::Date{kStartTime});
    auto wire = e.thriftRepresentation();
    ASSERT_TRUE(wire.adEvent);
    EXPECT_FALSE(wire.event);
    const auto& a = *wire.adEvent;
    EXPECT_EQ(a.eventID(), std::to_string(e.eventID));
    EXPECT_EQ(a.conn(), 2);
    EXPECT_EQ(a.adSlotName(), "top");
    EXPECT_EQ(a.adVersion(), "4");
    EXPECT_EQ(a.adExit(), 3);
    EXPECT_EQ(a.uCount(), 32767);
    EXPECT_TRUE(a.latIsSet()); // accuracy 0 is a valid fix
    EXPECT_EQ(a.numericValues()->at(0).value(), 2.5);
    EXPECT_FALSE(a.breadcrumbsIsSet());
    EXPECT_EQ(a.time(), "2023-11-14T22:13:20+0000");

    struct ConnCase {
        std::optional<std::string> text;
        std::int32_t wire;
    };
    const ConnCase conns[] = {
        {"NotConnected", 0}, {"CDNConnected", 2}, {"WiFiConnected", 3}, {"Other", 1}, {{}, 1}};
    for (const auto& c : conns) {
        VellumTrackedEvent plain;
        plain.connStatus = c.text;
        EXPECT_EQ(plain.connStatusEnum(), c.wire);
        auto w = plain.thriftRepresentation();
        ASSERT_TRUE(w.event);
        EXPECT_EQ(w.event->conn(), c.wire);
        EXPECT_FALSE(w.event->uCountIsSet());
        EXPECT_FALSE(w.event->latIsSet());
    }
}

TEST_F(TrackedEventTest, LegacyDictionaryKeysDependOnTheUploadType) {
    VellumTrackedEvent e;
    e.dbID = 12;
    e.eventType = "Tap";
    e.timestamp = platform::Date{kStartTime + 0.75};
    e.adID = "ad";
    e.runID = 9;
    e.userCount = 2;
    e.location = platform::Location({10, 20}, 30, 5, 5, platform::Date{kStartTime});
    e.userDict = platform::Dictionary{{"k", "v"}};
    auto later = e.dictionaryRepresentation();
    EXPECT_EQ(later.at("key"), platform::Value("Tap"));
    EXPECT_EQ(later.at("time"), platform::Value(static_cast<long long>(kStartTime)));
    EXPECT_EQ(later.at("ad"), platform::Value("ad"));
    EXPECT_EQ(later.at("conn"), platform::Value("NotConnected"));
    EXPECT_EQ(later.at("runID"), platform::Value(9));
    EXPECT_EQ(later.at("uCount"), platform::Value(2));
    EXPECT_EQ(later.at("lat"), platform::Value(10.0));
    EXPECT_EQ(later.at("uDict"), platform::Value("{\n    k = v;\n}"));

    platform::Bundle::main().setInfoDictionaryValue("MRBroadcastType", "v1");
    auto v1 = e.dictionaryRepresentation();
    EXPECT_EQ(v1.at("eventKey"), platform::Value("Tap"));
    EXPECT_EQ(v1.at("eventTime"), platform::Value("2023-11-14 22:13:20 +0000"));
    EXPECT_EQ(v1.at("latitude"), platform::Value(10.0));
    EXPECT_EQ(v1.count("runID"), 0u);
    EXPECT_EQ(v1.count("uCount"), 0u);
    EXPECT_EQ(v1.at("eventID"), platform::Value(12));
}

TEST(OldStylePropertyList, DescriptionsReadBackAsText) {
    struct Case {
        platform::Value value;
        const char* text;
        platform::Value readBack;
    };
    const Case cases[] = {
        {platform::Dictionary{{"a", 1}, {"b c", "x y"}}, "{\n    a = 1;\n    \"b c\" = \"x y\";\n}",
         platform::Dictionary{{"a", "1"}, {"b c", "x y"}}},
        {platform::Array{"one", 2.5}, "(\n    one,\n    2.5\n)", platform::Array{"one", "2.5"}},
        {platform::Dictionary{{"q", "say \"hi\"\n\\ok"}}, "{\n    q = \"say \\\"hi\\\"\\n\\\\ok\";\n}",
         platform::Dictionary{{"q", "say \"hi\"\n\\ok"}}},
        {platform::Dictionary{{"empty", ""}, {"nested", platform::Array{platform::Dictionary{{"u", "v"}}}}},
         "{\n    empty = \"\";\n    nested = (\n        {\n            u = v;\n        }\n    );\n}",
         platform::Dictionary{{"empty", ""}, {"nested", platform::Array{platform::Dictionary{{"u", "v"}}}}}},
        {platform::Dictionary{{"caf\xC3\xA9", "\x01"}}, "{\n    \"caf\xC3\xA9\" = \"\\U0001\";\n}",
         platform::Dictionary{{"caf\xC3\xA9", "\x01"}}},
    };
    for (const auto& c : cases) {
        const std::string text = vellum::oldStylePropertyListText(c.value);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(vellum::parseOldStylePropertyList(text), c.readBack) << text;
    }
}

TEST(OldStylePropertyList, EveryStringReadsBackAsItself) {
    // Texts the reader could take for a comment, a separator or nothing at all.
    const char* texts[] = {"//cdn.x/y", "//", "/*x*/", "/", "a//b", "x//", "//x", "/ /", "-",  "$_.:",
                           "a b",       "",   ";",     "=", ",",    "(",   "\"",  "\\",  "\n", "caf\xC3\xA9"};
    for (const char* text : texts) {
        const platform::Value values[] = {
            platform::Dictionary{{"k", text}},
            platform::Dictionary{{text, "v"}},
            platform::Array{text, "b"},
            platform::Array{"b", text},
            platform::Array{platform::Dictionary{{text, platform::Array{text}}}},
        };
        for (const auto& value : values) {
            const auto written = vellum::oldStylePropertyListText(value);
            EXPECT_EQ(vellum::parseOldStylePropertyList(written), value) << written;
        }
    }
}

TEST(OldStylePropertyList, StringsFilesAndTheRepairOfOlderTexts) {
    EXPECT_EQ(vellum::parseStringsFileText("a = b;\n\"c\" = \"d e\";\nsolo;"),
              (platform::Dictionary{{"a", "b"}, {"c", "d e"}, {"solo", "solo"}}));
    EXPECT_EQ(vellum::fixPropertyListFromStringsString("{\n    a = 1;\n    b = \"x\";\n}"),
              "{\n    a = \"1\";\n    b = \"x\";\n}");
    EXPECT_EQ(vellum::fixPropertyListFromStringsString("(one)"), "(one)");
    const char* malformed[] = {"{ a = ", "{ a = b }", "(a, ", "\"open", "<12 3>", "{ a = b; } trailing"};
    for (const char* text : malformed)
        EXPECT_FALSE(vellum::parseOldStylePropertyList(text)) << text;
    // Nesting is bounded.
    EXPECT_FALSE(vellum::parseOldStylePropertyList(std::string(10000, '(') + std::string(10000, ')')));
}

} // namespace
