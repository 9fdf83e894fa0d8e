#pragma once
// The ad server's cache instructions (MRSlotZeroResponse) and the structs nested in them:
// the ads offered for the cache (MRAdDownload), their update bundles (MRAdUpdate) and
// control text (MRAdControl). Plain values.
//
// MRSlotZeroResponse can also be written into a keyed archive under the keys "adDownloads"
// and "appSettings" (the ads as dictionaries of their set fields), and read back from one.
#include <memory>
#include <string_view>

#include "vellum/tracking/WireTypes.h"

namespace vellum {

// An update bundle of an ad.
class MRAdUpdate {
    VELLUM_WIRE_STRUCT(MRAdUpdate)
    VELLUM_WIRE_FIELD(std::int16_t, adVersion, AdVersion)       // 1
    VELLUM_WIRE_FIELD(String, updateBundleURL, UpdateBundleURL) // 2
  public:
    MRAdUpdate() = default;
    static MRAdUpdate initWithAdVersion(std::int16_t adVersion, String updateBundleURL);
};

// Control text of an ad.
class MRAdControl {
    VELLUM_WIRE_STRUCT(MRAdControl)
    VELLUM_WIRE_FIELD(String, adControl, AdControl) // 1
  public:
    MRAdControl() = default;
    static MRAdControl initWithAdControl(String adControl);
};

// One ad offered for the cache.
class MRAdDownload {
    VELLUM_WIRE_STRUCT(MRAdDownload)
    VELLUM_WIRE_FIELD(String, adID, AdID)                        // 1
    VELLUM_WIRE_FIELD(std::int16_t, adVersion, AdVersion)        // 2
    VELLUM_WIRE_FIELD(String, bundleURL, BundleURL)              // 3
    VELLUM_WIRE_FIELD(List<MRAdUpdate>, updates, Updates)        // 4
    VELLUM_WIRE_FIELD(String, adControlPlist, AdControlPlist)    // 5
    VELLUM_WIRE_FIELD(Nested<MRAdControl>, adControl, AdControl) // 6
  public:
    MRAdDownload() = default;
    static MRAdDownload initWithAdID(String adID, std::int16_t adVersion, String bundleURL,
                                     List<MRAdUpdate> updates, String adControlPlist,
                                     Nested<MRAdControl> adControl);
};

class MRSlotZeroResponse : public platform::Coding {
    VELLUM_WIRE_STRUCT(MRSlotZeroResponse)
    VELLUM_WIRE_FIELD(List<MRAdDownload>, adDownloads, AdDownloads) // 1
    VELLUM_WIRE_FIELD(String, appSettings, AppSettings)             // 2
  public:
    static constexpr std::string_view kCodingClassName = "MRSlotZeroResponse";

    MRSlotZeroResponse() = default;
    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<MRSlotZeroResponse> initWithCoder(platform::KeyedUnarchiver& coder);
    static MRSlotZeroResponse initWithAdDownloads(List<MRAdDownload> adDownloads, String appSettings);
};

} // namespace vellum
