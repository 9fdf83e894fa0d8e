#include "vellum/tracking/ECActionResponse.h"

#include "vellum/tracking/WireCodec.h"

namespace vellum {

namespace wire {

template <> struct Schema<ECActionResponse> {
    using S = ECActionResponse;
    static constexpr const char* kName = "ECActionResponse";
    static constexpr auto kFields = std::tuple{
        Field<&S::receivedEvents_>{1, "receivedEvents"},
        Field<&S::receivedAdEvents_>{2, "receivedAdEvents"},
        Field<&S::minBroadcastInterval_>{3, "minBroadcastInterval"},
        Field<&S::broadcastURL_>{4, "broadcastURL"},
        Field<&S::clientToken_>{5, "clientToken"},
        Field<&S::appTok_>{6, "appTok"},
        Field<&S::devTok_>{7, "devTok"},
        Field<&S::debugMessage_>{8, "debugMessage"},
        Field<&S::userMessage_>{9, "userMessage"},
        Field<&S::userMessageURL_>{10, "userMessageURL"},
        Field<&S::shutdown_>{11, "shutdown"},
        Field<&S::kill_>{12, "kill"},
        Field<&S::dcEnabled_>{13, "dcEnabled"},
        Field<&S::receivedRuns_>{14, "receivedRuns"},
        Field<&S::adInstructions_>{15, "adInstructions"},
    };
};

} // namespace wire

VELLUM_WIRE_STRUCT_METHODS(ECActionResponse)

ECActionResponse ECActionResponse::initWithReceivedEvents(
    List<std::string> receivedEvents, List<std::string> receivedAdEvents, std::int32_t minBroadcastInterval,
    String broadcastURL, String clientToken, String appTok, String devTok, String debugMessage,
    String userMessage, String userMessageURL, bool shutdown, bool kill, bool dcEnabled,
    List<std::string> receivedRuns, List<std::string> adInstructions) {
    return wire::allSet<ECActionResponse>(
        std::move(receivedEvents), std::move(receivedAdEvents), minBroadcastInterval, std::move(broadcastURL),
        std::move(clientToken), std::move(appTok), std::move(devTok), std::move(debugMessage),
        std::move(userMessage), std::move(userMessageURL), shutdown, kill, dcEnabled, std::move(receivedRuns),
        std::move(adInstructions));
}

} // namespace vellum
