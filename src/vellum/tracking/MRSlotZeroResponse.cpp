#include "vellum/tracking/MRSlotZeroResponse.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<MRAdUpdate> {
    static constexpr const char* kName = "MRAdUpdate";
    static constexpr auto kFields = std::tuple{
        Field<&MRAdUpdate::adVersion_>{1, "adVersion"},
        Field<&MRAdUpdate::updateBundleURL_>{2, "updateBundleURL"},
    };
};

template <> struct Schema<MRAdControl> {
    static constexpr const char* kName = "MRAdControl";
    static constexpr auto kFields = std::tuple{
        Field<&MRAdControl::adControl_>{1, "adControl"},
    };
};

template <> struct Schema<MRAdDownload> {
    using S = MRAdDownload;
    static constexpr const char* kName = "MRAdDownload";
    static constexpr auto kFields = std::tuple{
        Field<&S::adID_>{1, "adID"},
        Field<&S::adVersion_>{2, "adVersion"},
        Field<&S::bundleURL_>{3, "bundleURL"},
        Field<&S::updates_>{4, "updates"},
        Field<&S::adControlPlist_>{5, "adControlPlist"},
        Field<&S::adControl_>{6, "adControl"},
    };
};

template <> struct Schema<MRSlotZeroResponse> {
    static constexpr const char* kName = "MRSlotZeroResponse";
    static constexpr auto kFields = std::tuple{
        Field<&MRSlotZeroResponse::adDownloads_>{1, "adDownloads"},
        Field<&MRSlotZeroResponse::appSettings_>{2, "appSettings"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(MRAdUpdate)
VELLUM_WIRE_STRUCT_METHODS(MRAdControl)
VELLUM_WIRE_STRUCT_METHODS(MRAdDownload)
VELLUM_WIRE_STRUCT_METHODS(MRSlotZeroResponse)

void MRSlotZeroResponse::encodeWithCoder(platform::KeyedArchiver& coder) const {
    wire::encodeWithCoder(*this, coder);
}

std::shared_ptr<MRSlotZeroResponse> MRSlotZeroResponse::initWithCoder(platform::KeyedUnarchiver& coder) {
    return wire::initWithCoder<MRSlotZeroResponse>(coder);
}

MRAdUpdate MRAdUpdate::initWithAdVersion(std::int16_t adVersion, String updateBundleURL) {
    return wire::allSet<MRAdUpdate>(adVersion, std::move(updateBundleURL));
}

MRAdControl MRAdControl::initWithAdControl(String adControl) {
    return wire::allSet<MRAdControl>(std::move(adControl));
}

MRAdDownload MRAdDownload::initWithAdID(String adID, std::int16_t adVersion, String bundleURL,
                                        List<MRAdUpdate> updates, String adControlPlist,
                                        Nested<MRAdControl> adControl) {
    return wire::allSet<MRAdDownload>(std::move(adID), adVersion, std::move(bundleURL), std::move(updates),
                                      std::move(adControlPlist), std::move(adControl));
}

MRSlotZeroResponse MRSlotZeroResponse::initWithAdDownloads(List<MRAdDownload> adDownloads,
                                                           String appSettings) {
    return wire::allSet<MRSlotZeroResponse>(std::move(adDownloads), std::move(appSettings));
}

} // namespace vellum
