#pragma once
// Payload of a partial upload on the wire: queued ad events and events without run
// grouping. Field 5 ("v") comes before field 4 ("dev") in declaration order, so it is
// written and described first; readers accept the fields in any order. A plain value.
//
// It can also be written into a keyed archive: each set field under its field name
// ("adEvents" for field 14), the nested upload and events as dictionaries of their set
// fields. Read back, every field the archive holds with a value of its kind is set.
#include <memory>
#include <string_view>

#include "vellum/tracking/BroadcastData.h"

namespace vellum {

class MRClientRequest : public platform::Coding {
    VELLUM_WIRE_STRUCT(MRClientRequest)
    VELLUM_WIRE_FIELD(String, tok, Tok)                                    // 1
    VELLUM_WIRE_FIELD(String, deviceID, DeviceID)                          // 2
    VELLUM_WIRE_FIELD(String, b, B)                                        // 3
    VELLUM_WIRE_FIELD(String, v, V)                                        // 5
    VELLUM_WIRE_FIELD(String, dev, Dev)                                    // 4
    VELLUM_WIRE_FIELD(String, sysv, Sysv)                                  // 6
    VELLUM_WIRE_FIELD(String, model, Model)                                // 7
    VELLUM_WIRE_FIELD(String, appv, Appv)                                  // 8
    VELLUM_WIRE_FIELD(String, app, App)                                    // 9
    VELLUM_WIRE_FIELD(String, sys, Sys)                                    // 10
    VELLUM_WIRE_FIELD(Nested<BroadcastData>, broadcastData, BroadcastData) // 11
    VELLUM_WIRE_FIELD(String, ipAddress, IpAddress)                        // 12
    VELLUM_WIRE_FIELD(String, requestTime, RequestTime)                    // 13
    // 14: named "adEvents" on the wire and in descriptions (see Run).
  public:
    const List<VellumAdEvent>& vellumAdEvents() const { return adEvents_.value; }
    void setVellumAdEvents(List<VellumAdEvent> adEvents) { adEvents_.set(std::move(adEvents)); }
    bool adEventsIsSet() const { return adEvents_.isSet; }
    void unsetAdEvents() { adEvents_.unset(); }

  private:
    WireField<List<VellumAdEvent>> adEvents_;
    VELLUM_WIRE_FIELD(List<Event>, events, Events) // 15
  public:
    static constexpr std::string_view kCodingClassName = "MRClientRequest";

    MRClientRequest() = default;
    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<MRClientRequest> initWithCoder(platform::KeyedUnarchiver& coder);
    static MRClientRequest initWithTok(String tok, String deviceID, String b, String v, String dev,
                                       String sysv, String model, String appv, String app, String sys,
                                       Nested<BroadcastData> broadcastData, String ipAddress,
                                       String requestTime, List<VellumAdEvent> vellumAdEvents,
                                       List<Event> events);
};

} // namespace vellum
