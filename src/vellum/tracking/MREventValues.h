#pragma once
// The small value structs nested in tracked events on the wire: named texts (MRStringData),
// named numbers and durations (MRNumberData), the links visited inside an ad (MRAdEventURL)
// and each visit (MRAdEventBreadcrumb). Plain values: copy them freely; not thread-safe.
#include "vellum/tracking/WireTypes.h"

namespace vellum {

// A named text value of an event.
class MRStringData {
    VELLUM_WIRE_STRUCT(MRStringData)
    VELLUM_WIRE_FIELD(String, key, Key)     // 1 string
    VELLUM_WIRE_FIELD(String, value, Value) // 2 string
  public:
    MRStringData() = default;
    // Every field set, nil ones included.
    static MRStringData initWithKey(String key, String value);
};

// A named number of an event (seconds in a durationValues list).
class MRNumberData {
    VELLUM_WIRE_STRUCT(MRNumberData)
    VELLUM_WIRE_FIELD(String, key, Key)     // 1 string
    VELLUM_WIRE_FIELD(double, value, Value) // 2 double
  public:
    MRNumberData() = default;
    static MRNumberData initWithKey(String key, double value);
};

// A distinct link visited inside an ad, with how often it was visited.
class MRAdEventURL {
    VELLUM_WIRE_STRUCT(MRAdEventURL)
    VELLUM_WIRE_FIELD(std::int16_t, id, Id)                 // 1 i16: 1-based, in order of first visit
    VELLUM_WIRE_FIELD(String, url, Url)                     // 2 string
    VELLUM_WIRE_FIELD(std::int16_t, visitCount, VisitCount) // 3 i16
  public:
    MRAdEventURL() = default;
    static MRAdEventURL initWithId(std::int16_t id, String url, std::int16_t visitCount);
};

// One visit of a link inside an ad.
class MRAdEventBreadcrumb {
    VELLUM_WIRE_STRUCT(MRAdEventBreadcrumb)
    VELLUM_WIRE_FIELD(std::int16_t, urlID, UrlID)   // 1 i16: the MRAdEventURL id
    VELLUM_WIRE_FIELD(double, duration, Duration)   // 2 double: seconds until the next later visit
    VELLUM_WIRE_FIELD(String, viewStart, ViewStart) // 3 string: when the link was visited
  public:
    MRAdEventBreadcrumb() = default;
    static MRAdEventBreadcrumb initWithUrlID(std::int16_t urlID, double duration, String viewStart);
};

} // namespace vellum
