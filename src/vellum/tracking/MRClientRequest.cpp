#include "vellum/tracking/MRClientRequest.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

// Field 5 ("v") stands before field 4 ("dev"): it is written and described first.
template <> struct Schema<MRClientRequest> {
    using S = MRClientRequest;
    static constexpr const char* kName = "MRClientRequest";
    static constexpr auto kFields = std::tuple{
        Field<&S::tok_>{1, "tok"},
        Field<&S::deviceID_>{2, "deviceID"},
        Field<&S::b_>{3, "b"},
        Field<&S::v_>{5, "v"},
        Field<&S::dev_>{4, "dev"},
        Field<&S::sysv_>{6, "sysv"},
        Field<&S::model_>{7, "model"},
        Field<&S::appv_>{8, "appv"},
        Field<&S::app_>{9, "app"},
        Field<&S::sys_>{10, "sys"},
        Field<&S::broadcastData_>{11, "broadcastData"},
        Field<&S::ipAddress_>{12, "ipAddress"},
        Field<&S::requestTime_>{13, "requestTime"},
        Field<&S::adEvents_>{14, "adEvents"},
        Field<&S::events_>{15, "events"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(MRClientRequest)

void MRClientRequest::encodeWithCoder(platform::KeyedArchiver& coder) const {
    wire::encodeWithCoder(*this, coder);
}

std::shared_ptr<MRClientRequest> MRClientRequest::initWithCoder(platform::KeyedUnarchiver& coder) {
    return wire::initWithCoder<MRClientRequest>(coder);
}

MRClientRequest MRClientRequest::initWithTok(String tok, String deviceID, String b, String v, String dev,
                                             String sysv, String model, String appv, String app, String sys,
                                             Nested<BroadcastData> broadcastData, String ipAddress,
                                             String requestTime, List<VellumAdEvent> vellumAdEvents,
                                             List<Event> events) {
    return wire::allSet<MRClientRequest>(
        std::move(tok), std::move(deviceID), std::move(b), std::move(v), std::move(dev), std::move(sysv),
        std::move(model), std::move(appv), std::move(app), std::move(sys), std::move(broadcastData),
        std::move(ipAddress), std::move(requestTime), std::move(vellumAdEvents), std::move(events));
}

} // namespace vellum
