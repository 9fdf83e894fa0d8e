#pragma once
// The tracking server's reply to an upload. Read with read() from the reply bytes; a reply
// that is empty or cut short still gives a struct, with the fields read before the cut set.
// A plain value.
#include "vellum/tracking/WireTypes.h"

namespace vellum {

class ECActionResponse {
    VELLUM_WIRE_STRUCT(ECActionResponse)
    VELLUM_WIRE_FIELD(List<std::string>, receivedEvents, ReceivedEvents)        // 1
    VELLUM_WIRE_FIELD(List<std::string>, receivedAdEvents, ReceivedAdEvents)    // 2
    VELLUM_WIRE_FIELD(std::int32_t, minBroadcastInterval, MinBroadcastInterval) // 3
    VELLUM_WIRE_FIELD(String, broadcastURL, BroadcastURL)                       // 4
    VELLUM_WIRE_FIELD(String, clientToken, ClientToken)                         // 5
    VELLUM_WIRE_FIELD(String, appTok, AppTok)                                   // 6
    VELLUM_WIRE_FIELD(String, devTok, DevTok)                                   // 7
    VELLUM_WIRE_FIELD(String, debugMessage, DebugMessage)                       // 8
    VELLUM_WIRE_FIELD(String, userMessage, UserMessage)                         // 9
    VELLUM_WIRE_FIELD(String, userMessageURL, UserMessageURL)                   // 10
    VELLUM_WIRE_FIELD(bool, shutdown, Shutdown)                                 // 11
    VELLUM_WIRE_FIELD(bool, kill, Kill)                                         // 12
    VELLUM_WIRE_FIELD(bool, dcEnabled, DcEnabled)                               // 13
    VELLUM_WIRE_FIELD(List<std::string>, receivedRuns, ReceivedRuns)            // 14
    VELLUM_WIRE_FIELD(List<std::string>, adInstructions, AdInstructions)        // 15
  public:
    ECActionResponse() = default;
    static ECActionResponse
    initWithReceivedEvents(List<std::string> receivedEvents, List<std::string> receivedAdEvents,
                           std::int32_t minBroadcastInterval, String broadcastURL, String clientToken,
                           String appTok, String devTok, String debugMessage, String userMessage,
                           String userMessageURL, bool shutdown, bool kill, bool dcEnabled,
                           List<std::string> receivedRuns, List<std::string> adInstructions);
};

} // namespace vellum
