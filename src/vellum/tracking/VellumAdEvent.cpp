#include "vellum/tracking/VellumAdEvent.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<VellumAdEvent> {
    using S = VellumAdEvent;
    static constexpr const char* kName = "AdEvent";
    static constexpr auto kFields = std::tuple{
        Field<&S::eventID_>{1, "eventID"},
        Field<&S::key_>{2, "key"},
        Field<&S::time_>{3, "time"},
        Field<&S::adID_>{4, "adID"},
        Field<&S::conn_>{5, "conn"},
        Field<&S::lat_>{6, "lat"},
        Field<&S::lon_>{7, "lon"},
        Field<&S::alt_>{8, "alt"},
        Field<&S::uCount_>{9, "uCount"},
        Field<&S::uDur_>{10, "uDur"},
        Field<&S::uDict_>{11, "uDict"},
        Field<&S::horizontalAccuracy_>{12, "horizontalAccuracy"},
        Field<&S::verticalAccuracy_>{13, "verticalAccuracy"},
        Field<&S::urlCounts_>{14, "urlCounts"},
        Field<&S::adExit_>{15, "adExit"},
        Field<&S::countHr_>{16, "countHr"},
        Field<&S::countDay_>{17, "countDay"},
        Field<&S::countMon_>{18, "countMon"},
        Field<&S::stringValues_>{19, "stringValues"},
        Field<&S::numericValues_>{20, "numericValues"},
        Field<&S::breadcrumbs_>{21, "breadcrumbs"},
        Field<&S::visitedAdEventLinks_>{22, "visitedAdEventLinks"},
        Field<&S::durationValues_>{23, "durationValues"},
        Field<&S::direction_>{24, "direction"},
        Field<&S::directionAccuracy_>{25, "directionAccuracy"},
        Field<&S::adSlotName_>{26, "adSlotName"},
        Field<&S::adVersion_>{27, "adVersion"},
        Field<&S::adChildAdID_>{28, "adChildAdID"},
        Field<&S::adParentAdID_>{29, "adParentAdID"},
        Field<&S::adIsAClone_>{30, "adIsAClone"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(VellumAdEvent)

VellumAdEvent VellumAdEvent::initWithEventID(
    String eventID, String key, String time, String adID, std::int32_t conn, double lat, double lon,
    double alt, std::int16_t uCount, std::int16_t uDur, StringMap uDict, double horizontalAccuracy,
    double verticalAccuracy, ShortMap urlCounts, std::int32_t adExit, std::int16_t countHr,
    std::int16_t countDay, std::int16_t countMon, List<MRStringData> stringValues,
    List<MRNumberData> numericValues, List<MRAdEventBreadcrumb> breadcrumbs,
    List<MRAdEventURL> visitedAdEventLinks, List<MRNumberData> durationValues, double direction,
    double directionAccuracy, String adSlotName, String adVersion, String adChildAdID, String adParentAdID,
    std::int16_t adIsAClone) {
    return wire::allSet<VellumAdEvent>(
        std::move(eventID), std::move(key), std::move(time), std::move(adID), conn, lat, lon, alt, uCount,
        uDur, std::move(uDict), horizontalAccuracy, verticalAccuracy, std::move(urlCounts), adExit, countHr,
        countDay, countMon, std::move(stringValues), std::move(numericValues), std::move(breadcrumbs),
        std::move(visitedAdEventLinks), std::move(durationValues), direction, directionAccuracy,
        std::move(adSlotName), std::move(adVersion), std::move(adChildAdID), std::move(adParentAdID),
        adIsAClone);
}

} // namespace vellum
