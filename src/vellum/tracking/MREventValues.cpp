#include "vellum/tracking/MREventValues.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<MRStringData> {
    static constexpr const char* kName = "MRStringData";
    static constexpr auto kFields = std::tuple{
        Field<&MRStringData::key_>{1, "key"},
        Field<&MRStringData::value_>{2, "value"},
    };
};

template <> struct Schema<MRNumberData> {
    static constexpr const char* kName = "MRNumberData";
    static constexpr auto kFields = std::tuple{
        Field<&MRNumberData::key_>{1, "key"},
        Field<&MRNumberData::value_>{2, "value"},
    };
};

template <> struct Schema<MRAdEventURL> {
    static constexpr const char* kName = "MRAdEventURL";
    static constexpr auto kFields = std::tuple{
        Field<&MRAdEventURL::id_>{1, "id"},
        Field<&MRAdEventURL::url_>{2, "url"},
        Field<&MRAdEventURL::visitCount_>{3, "visitCount"},
    };
};

template <> struct Schema<MRAdEventBreadcrumb> {
    static constexpr const char* kName = "MRAdEventBreadcrumb";
    static constexpr auto kFields = std::tuple{
        Field<&MRAdEventBreadcrumb::urlID_>{1, "urlID"},
        Field<&MRAdEventBreadcrumb::duration_>{2, "duration"},
        Field<&MRAdEventBreadcrumb::viewStart_>{3, "viewStart"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(MRStringData)
VELLUM_WIRE_STRUCT_METHODS(MRNumberData)
VELLUM_WIRE_STRUCT_METHODS(MRAdEventURL)
VELLUM_WIRE_STRUCT_METHODS(MRAdEventBreadcrumb)

MRStringData MRStringData::initWithKey(String key, String value) {
    return wire::allSet<MRStringData>(std::move(key), std::move(value));
}

MRNumberData MRNumberData::initWithKey(String key, double value) {
    return wire::allSet<MRNumberData>(std::move(key), value);
}

MRAdEventURL MRAdEventURL::initWithId(std::int16_t id, String url, std::int16_t visitCount) {
    return wire::allSet<MRAdEventURL>(id, std::move(url), visitCount);
}

MRAdEventBreadcrumb MRAdEventBreadcrumb::initWithUrlID(std::int16_t urlID, double duration,
                                                       String viewStart) {
    return wire::allSet<MRAdEventBreadcrumb>(urlID, duration, std::move(viewStart));
}

} // namespace vellum
