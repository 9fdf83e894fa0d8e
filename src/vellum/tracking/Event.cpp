#include "vellum/tracking/Event.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<Event> {
    using S = Event;
    static constexpr const char* kName = "Event";
    static constexpr auto kFields = std::tuple{
        Field<&S::eventID_>{1, "eventID"},
        Field<&S::key_>{2, "key"},
        Field<&S::time_>{3, "time"},
        Field<&S::conn_>{4, "conn"},
        Field<&S::countHr_>{5, "countHr"},
        Field<&S::countDay_>{6, "countDay"},
        Field<&S::countMon_>{7, "countMon"},
        Field<&S::lat_>{8, "lat"},
        Field<&S::lon_>{9, "lon"},
        Field<&S::alt_>{10, "alt"},
        Field<&S::uCount_>{11, "uCount"},
        Field<&S::uDur_>{12, "uDur"},
        Field<&S::uDict_>{13, "uDict"},
        Field<&S::horizontalAccuracy_>{14, "horizontalAccuracy"},
        Field<&S::verticalAccuracy_>{15, "verticalAccuracy"},
        Field<&S::stringValues_>{16, "stringValues"},
        Field<&S::numericValues_>{17, "numericValues"},
        Field<&S::durationValues_>{18, "durationValues"},
        Field<&S::direction_>{19, "direction"},
        Field<&S::directionAccuracy_>{20, "directionAccuracy"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(Event)

Event Event::initWithEventID(String eventID, String key, String time, std::int32_t conn, std::int16_t countHr,
                             std::int16_t countDay, std::int16_t countMon, double lat, double lon, double alt,
                             std::int16_t uCount, std::int16_t uDur, StringMap uDict,
                             double horizontalAccuracy, double verticalAccuracy,
                             List<MRStringData> stringValues, List<MRNumberData> numericValues,
                             List<MRNumberData> durationValues, double direction, double directionAccuracy) {
    return wire::allSet<Event>(std::move(eventID), std::move(key), std::move(time), conn, countHr, countDay,
                               countMon, lat, lon, alt, uCount, uDur, std::move(uDict), horizontalAccuracy,
                               verticalAccuracy, std::move(stringValues), std::move(numericValues),
                               std::move(durationValues), direction, directionAccuracy);
}

} // namespace vellum
