#pragma once
// Payload of a full upload on the wire: the device's state now and the runs to report.
// A plain value.
#include "vellum/tracking/Run.h"

namespace vellum {

class BroadcastData {
    VELLUM_WIRE_STRUCT(BroadcastData)
    VELLUM_WIRE_FIELD(String, time, Time)                             // 1
    VELLUM_WIRE_FIELD(bool, locTrOn, LocTrOn)                         // 2
    VELLUM_WIRE_FIELD(bool, locSrvOn, LocSrvOn)                       // 3
    VELLUM_WIRE_FIELD(double, lat, Lat)                               // 4
    VELLUM_WIRE_FIELD(double, lon, Lon)                               // 5
    VELLUM_WIRE_FIELD(double, alt, Alt)                               // 6
    VELLUM_WIRE_FIELD(double, horizontalAccuracy, HorizontalAccuracy) // 7
    VELLUM_WIRE_FIELD(double, verticalAccuracy, VerticalAccuracy)     // 8
    VELLUM_WIRE_FIELD(List<Run>, runs, Runs)                          // 9
    VELLUM_WIRE_FIELD(String, rev, Rev)                               // 10
  public:
    BroadcastData() = default;
    static BroadcastData initWithTime(String time, bool locTrOn, bool locSrvOn, double lat, double lon,
                                      double alt, double horizontalAccuracy, double verticalAccuracy,
                                      List<Run> runs, String rev);
};

} // namespace vellum
