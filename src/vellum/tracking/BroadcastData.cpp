#include "vellum/tracking/BroadcastData.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<BroadcastData> {
    using S = BroadcastData;
    static constexpr const char* kName = "BroadcastData";
    static constexpr auto kFields = std::tuple{
        Field<&S::time_>{1, "time"},
        Field<&S::locTrOn_>{2, "locTrOn"},
        Field<&S::locSrvOn_>{3, "locSrvOn"},
        Field<&S::lat_>{4, "lat"},
        Field<&S::lon_>{5, "lon"},
        Field<&S::alt_>{6, "alt"},
        Field<&S::horizontalAccuracy_>{7, "horizontalAccuracy"},
        Field<&S::verticalAccuracy_>{8, "verticalAccuracy"},
        Field<&S::runs_>{9, "runs"},
        Field<&S::rev_>{10, "rev"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(BroadcastData)

BroadcastData BroadcastData::initWithTime(String time, bool locTrOn, bool locSrvOn, double lat, double lon,
                                          double alt, double horizontalAccuracy, double verticalAccuracy,
                                          List<Run> runs, String rev) {
    return wire::allSet<BroadcastData>(std::move(time), locTrOn, locSrvOn, lat, lon, alt, horizontalAccuracy,
                                       verticalAccuracy, std::move(runs), std::move(rev));
}

} // namespace vellum
