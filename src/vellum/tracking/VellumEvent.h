#pragma once
// An event under construction: its name (eventKey) and the values the rich-media ad side
// collects while an ad is shown: named strings, numbers and durations, stopwatch timers by
// name, the links visited inside the ad (breadcrumbs), and a clock that adds up the time the
// ad is on screen ("MRAdViewDuration"). When the event is complete, the tracking session
// turns it into a tracked event.
//
// Shared by the controllers of one ad (std::shared_ptr); used on the main thread only. It
// has no callbacks. Times: timers and the view-duration clock measure on the monotonic
// clock (Clock::current()), so a change of the wall clock never makes a duration wrong or
// negative; the dates they expose (timers, adViewStartTime) and the breadcrumb timestamps
// are wall-clock times.
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace vellum {

class VellumEvent {
  public:
    // Keys of each breadcrumb dictionary: the visited URL text, and the time of the visit in
    // seconds since 2001-01-01 (with fraction).
    static constexpr const char* kBreadcrumbURLKey = "URL";
    static constexpr const char* kBreadcrumbTimestampKey = "Timestamp";

    // init: no key, empty collections, clock stopped.
    VellumEvent() = default;
    // initWithKey:
    explicit VellumEvent(std::string_view key) : eventKey_(std::string(key)) {}

    const std::optional<std::string>& eventKey() const { return eventKey_; }
    const platform::Dictionary& strings() const { return strings_; }     // key to string
    const platform::Dictionary& numbers() const { return numbers_; }     // key to number
    const platform::Dictionary& durations() const { return durations_; } // key to seconds (real)
    const platform::Dictionary& timers() const { return timers_; }       // key to start date
    const platform::Array& breadcrumbs() const { return breadcrumbs_; } // {"URL", "Timestamp"} in visit order
    // Start of the running view-duration clock; nullopt while it is stopped.
    const std::optional<platform::Date>& adViewStartTime() const { return adViewStartTime_; }

    void setString(std::string_view value, std::string_view key);
    // Stores a number (integer or real, kept as given). Anything that is not a number is
    // refused: answers false and leaves the numbers unchanged.
    bool setNumber(const platform::Value& number, std::string_view key);
    void setDuration(double seconds, std::string_view key);
    // numbers[key] := its whole part plus 1; a missing entry counts as 0.
    void incrementNumberForKey(std::string_view key);

    // Starts (or restarts) the stopwatch of that key.
    void startTimerForKey(std::string_view key);
    // durations[key] := seconds since the timer's start. The timer keeps running, so a later
    // end measures from the same start again. Without a timer of that key, nothing happens.
    void endTimerForKey(std::string_view key);

    // Appends a breadcrumb for a visited URL; an empty text adds nothing.
    void trackURLEvent(std::string_view url);

    // The view-duration clock. Start while running and stop while stopped are ignored, so
    // "MRAdViewDuration" holds the sum of the closed intervals, none counted twice.
    void startRecordingViewDuration();
    void stopRecordingViewDuration();

  private:
    std::optional<std::string> eventKey_;
    platform::Dictionary strings_;
    platform::Dictionary numbers_;
    platform::Dictionary durations_;
    platform::Dictionary timers_;
    platform::Array breadcrumbs_;
    std::optional<platform::Date> adViewStartTime_;

    // Monotonic readings behind timers_ and adViewStartTime_, which measure the intervals.
    std::map<std::string, double, std::less<>> timerStarts_;
    double viewStart_ = 0;
};

} // namespace vellum
