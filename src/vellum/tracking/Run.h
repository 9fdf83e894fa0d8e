#pragma once
// One run of the application on the wire (from a launch to its end) with the events
// recorded in it. A plain value.
#include "vellum/tracking/Event.h"
#include "vellum/tracking/VellumAdEvent.h"

namespace vellum {

class Run {
    VELLUM_WIRE_STRUCT(Run)
    VELLUM_WIRE_FIELD(String, id, Id)                   // 1
    VELLUM_WIRE_FIELD(String, appVersion, AppVersion)   // 2
    VELLUM_WIRE_FIELD(std::int64_t, interval, Interval) // 3
    VELLUM_WIRE_FIELD(String, start, Start)             // 4
    VELLUM_WIRE_FIELD(std::int16_t, dur, Dur)           // 5: see durationToI16
    VELLUM_WIRE_FIELD(bool, abEnd, AbEnd)               // 6
    VELLUM_WIRE_FIELD(bool, first, First)               // 7
    VELLUM_WIRE_FIELD(bool, firstHr, FirstHr)           // 8
    VELLUM_WIRE_FIELD(bool, firstDay, FirstDay)         // 9
    VELLUM_WIRE_FIELD(bool, firstMon, FirstMon)         // 10
    VELLUM_WIRE_FIELD(std::int16_t, countHr, CountHr)   // 11
    VELLUM_WIRE_FIELD(std::int16_t, countDay, CountDay) // 12
    VELLUM_WIRE_FIELD(std::int16_t, countMon, CountMon) // 13
    // 14: named "adEvents" on the wire and in descriptions; its value accessors carry the
    // class name of its elements.
  public:
    const List<VellumAdEvent>& vellumAdEvents() const { return adEvents_.value; }
    void setVellumAdEvents(List<VellumAdEvent> adEvents) { adEvents_.set(std::move(adEvents)); }
    bool adEventsIsSet() const { return adEvents_.isSet; }
    void unsetAdEvents() { adEvents_.unset(); }

  private:
    WireField<List<VellumAdEvent>> adEvents_;
    VELLUM_WIRE_FIELD(List<Event>, events, Events)          // 15
    VELLUM_WIRE_FIELD(String, systemVersion, SystemVersion) // 16
    VELLUM_WIRE_FIELD(String, rev, Rev)                     // 17
  public:
    Run() = default;
    static Run initWithId(String id, String appVersion, std::int64_t interval, String start, std::int16_t dur,
                          bool abEnd, bool first, bool firstHr, bool firstDay, bool firstMon,
                          std::int16_t countHr, std::int16_t countDay, std::int16_t countMon,
                          List<VellumAdEvent> vellumAdEvents, List<Event> events, String systemVersion,
                          String rev);
};

} // namespace vellum
