#include "vellum/tracking/Run.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<Run> {
    using S = Run;
    static constexpr const char* kName = "Run";
    static constexpr auto kFields = std::tuple{
        Field<&S::id_>{1, "id"},
        Field<&S::appVersion_>{2, "appVersion"},
        Field<&S::interval_>{3, "interval"},
        Field<&S::start_>{4, "start"},
        Field<&S::dur_>{5, "dur"},
        Field<&S::abEnd_>{6, "abEnd"},
        Field<&S::first_>{7, "first"},
        Field<&S::firstHr_>{8, "firstHr"},
        Field<&S::firstDay_>{9, "firstDay"},
        Field<&S::firstMon_>{10, "firstMon"},
        Field<&S::countHr_>{11, "countHr"},
        Field<&S::countDay_>{12, "countDay"},
        Field<&S::countMon_>{13, "countMon"},
        Field<&S::adEvents_>{14, "adEvents"},
        Field<&S::events_>{15, "events"},
        Field<&S::systemVersion_>{16, "systemVersion"},
        Field<&S::rev_>{17, "rev"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(Run)

Run Run::initWithId(String id, String appVersion, std::int64_t interval, String start, std::int16_t dur,
                    bool abEnd, bool first, bool firstHr, bool firstDay, bool firstMon, std::int16_t countHr,
                    std::int16_t countDay, std::int16_t countMon, List<VellumAdEvent> vellumAdEvents,
                    List<Event> events, String systemVersion, String rev) {
    return wire::allSet<Run>(std::move(id), std::move(appVersion), interval, std::move(start), dur, abEnd,
                             first, firstHr, firstDay, firstMon, countHr, countDay, countMon,
                             std::move(vellumAdEvents), std::move(events), std::move(systemVersion),
                             std::move(rev));
}

} // namespace vellum
