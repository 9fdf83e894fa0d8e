// The ad event under construction: values by kind, counters, stopwatch timers, visited-URL
// breadcrumbs and the view-duration clock, on the manual clock.
#include <gtest/gtest.h>

#include <limits>

#include "AnalyticsRecorder.h"
#include "support/ManualClockScope.h"
#include "vellum/tracking/VellumEvent.h"
#include "vellum/tracking/VellumEventKeys.h"

using namespace vellum;
using platform::Value;

namespace {
constexpr double kReferenceDateSince1970 = 978307200.0;
}

TEST(VellumEvent, StartsEmptyWithItsKey) {
    VellumEvent plain;
    EXPECT_EQ(plain.eventKey(), std::nullopt);
    VellumEvent viewed(MRAdViewedKey);
    EXPECT_EQ(viewed.eventKey(), "MRAdViewed");
    for (const VellumEvent* e : {&plain, &viewed}) {
        EXPECT_TRUE(e->strings().empty());
        EXPECT_TRUE(e->numbers().empty());
        EXPECT_TRUE(e->durations().empty());
        EXPECT_TRUE(e->timers().empty());
        EXPECT_TRUE(e->breadcrumbs().empty());
        EXPECT_EQ(e->adViewStartTime(), std::nullopt);
    }
}

TEST(VellumEvent, KeepsEachKindOfValueApart) {
    VellumEvent e(MRAdViewedKey);
    e.setString("ad-1", MRAdIDKey);
    e.setString("42", "shared");
    EXPECT_TRUE(e.setNumber(Value(6), MRAdExitKey));
    EXPECT_TRUE(e.setNumber(Value(7.5), "shared"));
    e.setDuration(2.25, "shared");
    EXPECT_FALSE(e.setNumber(Value("6"), "text")) << "text is not a number";

    EXPECT_EQ(e.strings().at("shared"), Value("42"));
    EXPECT_EQ(e.numbers().at("shared"), Value(7.5));
    EXPECT_EQ(e.durations().at("shared"), Value(2.25));
    EXPECT_EQ(e.numbers().at(MRAdExitKey), Value(6));
    EXPECT_EQ(e.numbers().count("text"), 0u);

    e.setString("ad-2", MRAdIDKey);
    EXPECT_EQ(e.strings().at(MRAdIDKey), Value("ad-2")) << "a later value replaces the earlier";
}

TEST(VellumEvent, IncrementNumberForKeyAddsOneToTheWholePart) {
    const struct {
        const char* what;
        std::optional<Value> before;
        Value after;
    } cases[] = {
        {"missing entry counts as 0", std::nullopt, Value(1)},
        {"integer", Value(2), Value(3)},
        {"real: its whole part", Value(2.7), Value(3)},
        {"negative real: truncated toward zero", Value(-2.5), Value(-1)},
        {"largest integer stays", Value(std::numeric_limits<long long>::max()),
         Value(std::numeric_limits<long long>::max())},
    };
    for (const auto& c : cases) {
        VellumEvent e;
        if (c.before)
            e.setNumber(*c.before, MRAdClickThru_Browser);
        e.incrementNumberForKey(MRAdClickThru_Browser);
        EXPECT_EQ(e.numbers().at(MRAdClickThru_Browser), c.after) << c.what;
    }
}

TEST(VellumEvent, TimersMeasureFromTheirLatestStart) {
    fwtest::ManualClockScope time;
    VellumEvent e;
    e.endTimerForKey("video");
    EXPECT_TRUE(e.durations().empty()) << "no timer: nothing happens";

    e.startTimerForKey("video");
    EXPECT_EQ(e.timers().at("video"), Value(time.clock().date()));
    time.advance(5);
    e.endTimerForKey("video");
    EXPECT_EQ(e.durations().at("video"), Value(5.0));

    time.advance(3);
    e.endTimerForKey("video");
    EXPECT_EQ(e.durations().at("video"), Value(8.0)) << "the timer keeps running from the same start";

    e.startTimerForKey("video");                    // restart
    time.clock().setNow(time.clock().now() - 3600); // the wall clock is set back an hour
    time.advance(2);
    e.endTimerForKey("video");
    EXPECT_EQ(e.durations().at("video"), Value(2.0)) << "durations follow the monotonic clock";
}

TEST(VellumEvent, TrackURLEventRecordsBreadcrumbsInVisitOrder) {
    fwtest::ManualClockScope time;
    vellumtest::AnalyticsRecorder log;
    VellumEvent e;
    e.trackURLEvent("");
    EXPECT_TRUE(e.breadcrumbs().empty()) << "an empty text adds nothing";

    e.trackURLEvent("http://example.com/a");
    const double firstVisit = time.clock().now() - kReferenceDateSince1970;
    time.advance(4.5);
    e.trackURLEvent("MREmbeddedBrowserClosed");
    ASSERT_EQ(e.breadcrumbs().size(), 2u);
    EXPECT_EQ(*e.breadcrumbs()[0].find(VellumEvent::kBreadcrumbURLKey), Value("http://example.com/a"));
    EXPECT_EQ(*e.breadcrumbs()[0].find(VellumEvent::kBreadcrumbTimestampKey), Value(firstVisit));
    EXPECT_EQ(*e.breadcrumbs()[1].find(VellumEvent::kBreadcrumbTimestampKey), Value(firstVisit + 4.5));
    EXPECT_EQ(log.internal, (std::vector<std::string>{"adding breadcrumb: http://example.com/a",
                                                      "adding breadcrumb: MREmbeddedBrowserClosed"}));
}

TEST(VellumEvent, ViewDurationSumsTheClosedIntervals) {
    fwtest::ManualClockScope time;
    vellumtest::AnalyticsRecorder log;
    VellumEvent e(MRAdViewedKey);
    e.setString("ad-1", MRAdIDKey);

    e.stopRecordingViewDuration();
    EXPECT_TRUE(e.durations().empty()) << "a stop while stopped is ignored";

    e.startRecordingViewDuration();
    EXPECT_EQ(e.adViewStartTime(), time.clock().date());
    time.advance(5);
    e.startRecordingViewDuration(); // already running: ignored
    time.advance(5);
    e.stopRecordingViewDuration();
    EXPECT_EQ(e.durations().at(MRAdViewDurationKey), Value(10.0)) << "10 s from the first start, not 5";
    EXPECT_EQ(e.adViewStartTime(), std::nullopt);

    time.advance(60); // hidden: not counted
    e.startRecordingViewDuration();
    time.advance(2.5);
    e.stopRecordingViewDuration();
    EXPECT_EQ(e.durations().at(MRAdViewDurationKey), Value(12.5));

    EXPECT_EQ(log.internal, (std::vector<std::string>{
                                "started/resumed tracking ad view duration for ad-1",
                                "paused tracking ad view duration for ad-1 (+10.0 seconds)",
                                "started/resumed tracking ad view duration for ad-1",
                                "paused tracking ad view duration for ad-1 (+2.5 seconds)",
                            }));

    VellumEvent anonymous;
    anonymous.startRecordingViewDuration();
    EXPECT_EQ(log.internal.back(), "started/resumed tracking ad view duration for (null)");
}
