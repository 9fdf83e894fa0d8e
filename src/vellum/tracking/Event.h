#pragma once
// One event on the wire that is not an ad event: a named event of the application or of
// the library. The fields it shares with "AdEvent" mean the same. A plain value.
#include "vellum/tracking/MREventValues.h"

namespace vellum {

class Event {
    VELLUM_WIRE_STRUCT(Event)
    VELLUM_WIRE_FIELD(String, eventID, EventID)                           // 1
    VELLUM_WIRE_FIELD(String, key, Key)                                   // 2
    VELLUM_WIRE_FIELD(String, time, Time)                                 // 3
    VELLUM_WIRE_FIELD(std::int32_t, conn, Conn)                           // 4
    VELLUM_WIRE_FIELD(std::int16_t, countHr, CountHr)                     // 5
    VELLUM_WIRE_FIELD(std::int16_t, countDay, CountDay)                   // 6
    VELLUM_WIRE_FIELD(std::int16_t, countMon, CountMon)                   // 7
    VELLUM_WIRE_FIELD(double, lat, Lat)                                   // 8
    VELLUM_WIRE_FIELD(double, lon, Lon)                                   // 9
    VELLUM_WIRE_FIELD(double, alt, Alt)                                   // 10
    VELLUM_WIRE_FIELD(std::int16_t, uCount, UCount)                       // 11
    VELLUM_WIRE_FIELD(std::int16_t, uDur, UDur)                           // 12
    VELLUM_WIRE_FIELD(StringMap, uDict, UDict)                            // 13
    VELLUM_WIRE_FIELD(double, horizontalAccuracy, HorizontalAccuracy)     // 14
    VELLUM_WIRE_FIELD(double, verticalAccuracy, VerticalAccuracy)         // 15
    VELLUM_WIRE_FIELD(List<MRStringData>, stringValues, StringValues)     // 16
    VELLUM_WIRE_FIELD(List<MRNumberData>, numericValues, NumericValues)   // 17
    VELLUM_WIRE_FIELD(List<MRNumberData>, durationValues, DurationValues) // 18
    VELLUM_WIRE_FIELD(double, direction, Direction)                       // 19
    VELLUM_WIRE_FIELD(double, directionAccuracy, DirectionAccuracy)       // 20
  public:
    Event() = default;
    static Event initWithEventID(String eventID, String key, String time, std::int32_t conn,
                                 std::int16_t countHr, std::int16_t countDay, std::int16_t countMon,
                                 double lat, double lon, double alt, std::int16_t uCount, std::int16_t uDur,
                                 StringMap uDict, double horizontalAccuracy, double verticalAccuracy,
                                 List<MRStringData> stringValues, List<MRNumberData> numericValues,
                                 List<MRNumberData> durationValues, double direction,
                                 double directionAccuracy);
};

} // namespace vellum
