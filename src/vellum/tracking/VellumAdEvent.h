#pragma once
// One ad event on the wire (struct name "AdEvent"): an ad that was shown, with what the
// user did inside it. Built from a stored ad impression; a plain value, not thread-safe.
#include "vellum/tracking/MREventValues.h"

namespace vellum {

class VellumAdEvent {
    VELLUM_WIRE_STRUCT(VellumAdEvent)
    VELLUM_WIRE_FIELD(String, eventID, EventID)                                     // 1
    VELLUM_WIRE_FIELD(String, key, Key)                                             // 2
    VELLUM_WIRE_FIELD(String, time, Time)                                           // 3
    VELLUM_WIRE_FIELD(String, adID, AdID)                                           // 4
    VELLUM_WIRE_FIELD(std::int32_t, conn, Conn)                                     // 5
    VELLUM_WIRE_FIELD(double, lat, Lat)                                             // 6
    VELLUM_WIRE_FIELD(double, lon, Lon)                                             // 7
    VELLUM_WIRE_FIELD(double, alt, Alt)                                             // 8
    VELLUM_WIRE_FIELD(std::int16_t, uCount, UCount)                                 // 9
    VELLUM_WIRE_FIELD(std::int16_t, uDur, UDur)                                     // 10
    VELLUM_WIRE_FIELD(StringMap, uDict, UDict)                                      // 11
    VELLUM_WIRE_FIELD(double, horizontalAccuracy, HorizontalAccuracy)               // 12
    VELLUM_WIRE_FIELD(double, verticalAccuracy, VerticalAccuracy)                   // 13
    VELLUM_WIRE_FIELD(ShortMap, urlCounts, UrlCounts)                               // 14
    VELLUM_WIRE_FIELD(std::int32_t, adExit, AdExit)                                 // 15
    VELLUM_WIRE_FIELD(std::int16_t, countHr, CountHr)                               // 16
    VELLUM_WIRE_FIELD(std::int16_t, countDay, CountDay)                             // 17
    VELLUM_WIRE_FIELD(std::int16_t, countMon, CountMon)                             // 18
    VELLUM_WIRE_FIELD(List<MRStringData>, stringValues, StringValues)               // 19
    VELLUM_WIRE_FIELD(List<MRNumberData>, numericValues, NumericValues)             // 20
    VELLUM_WIRE_FIELD(List<MRAdEventBreadcrumb>, breadcrumbs, Breadcrumbs)          // 21
    VELLUM_WIRE_FIELD(List<MRAdEventURL>, visitedAdEventLinks, VisitedAdEventLinks) // 22
    VELLUM_WIRE_FIELD(List<MRNumberData>, durationValues, DurationValues)           // 23
    VELLUM_WIRE_FIELD(double, direction, Direction)                                 // 24
    VELLUM_WIRE_FIELD(double, directionAccuracy, DirectionAccuracy)                 // 25
    VELLUM_WIRE_FIELD(String, adSlotName, AdSlotName)                               // 26
    VELLUM_WIRE_FIELD(String, adVersion, AdVersion)                                 // 27
    VELLUM_WIRE_FIELD(String, adChildAdID, AdChildAdID)                             // 28
    VELLUM_WIRE_FIELD(String, adParentAdID, AdParentAdID)                           // 29
    VELLUM_WIRE_FIELD(std::int16_t, adIsAClone, AdIsAClone)                         // 30
  public:
    VellumAdEvent() = default;
    // Every field set, nil ones included, in declaration order.
    static VellumAdEvent
    initWithEventID(String eventID, String key, String time, String adID, std::int32_t conn, double lat,
                    double lon, double alt, std::int16_t uCount, std::int16_t uDur, StringMap uDict,
                    double horizontalAccuracy, double verticalAccuracy, ShortMap urlCounts,
                    std::int32_t adExit, std::int16_t countHr, std::int16_t countDay, std::int16_t countMon,
                    List<MRStringData> stringValues, List<MRNumberData> numericValues,
                    List<MRAdEventBreadcrumb> breadcrumbs, List<MRAdEventURL> visitedAdEventLinks,
                    List<MRNumberData> durationValues, double direction, double directionAccuracy,
                    String adSlotName, String adVersion, String adChildAdID, String adParentAdID,
                    std::int16_t adIsAClone);
};

} // namespace vellum
