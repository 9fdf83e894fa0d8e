#pragma once
// The Vellum tracking service on a ServiceHost: it accepts the tracking upload by POST on the
// production path "/event" and on the test root's "/test/event" and "/test/24event" (staging).
//
// Each upload is a multipart form ("multipart/form-data; boundary=..."). The service parses
// its parts; in the compressed forms it takes the "data" part (Base64 text when it is a plain
// text part, raw bytes when it is sent as application/octet-stream), inflates it with zlib and decodes it as
// Thrift: an MRClientRequest when the "pae" part is "true", else a BroadcastData. The V1 form carries its
// events as property-list text in the "eventsData" part. What arrived is logged (one line per upload) and
// kept for tests.
//
// The reply is configurable: by default an ECActionResponse that lists the event IDs it
// received (events and ad events) with the tracking URL it was sent to; or the
// acknowledgement text "You're good"; or an HTML page; or fixed bytes (an encoded reply, or
// anything else). A form that cannot be parsed, a data part that does not inflate or decode,
// gets 400 with the reason.
//
// Thread-safe: handlers run on the server's threads; every method may be called from any
// thread. Bodies are bounded (kMaxInflatedBytes after inflating).
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kTrackingPath = "/event";
inline constexpr std::string_view kTrackingTestPath = "/test/event";
inline constexpr std::string_view kTrackingStagingPath = "/test/24event";

// One upload as the service understood it.
struct TrackingUpload {
    std::string path;
    // The text parts in order (name, value); the "data" part is here too when sent as text.
    std::vector<NameValue> textParts;
    // "base64", "binary" or "" (V1 form, without a data part).
    std::string dataEncoding;
    // The Thrift payload after inflating.
    std::string payload;
    bool partial = false;
    // Decoded summary: the event IDs of the events and ad events, the run IDs.
    std::vector<std::string> eventIDs;
    std::vector<std::string> adEventIDs;
    std::vector<std::string> runIDs;
    // The payload's description text ("BroadcastData(...)" or "MRClientRequest(...)").
    std::string description;

    std::optional<std::string> part(std::string_view name) const;
};

class TrackingService {
public:
    static constexpr std::size_t kMaxInflatedBytes = 16 * 1024 * 1024;

    // Installs the handlers on `host`; they keep the service's state alive, so the object may
    // go before the host stops serving (then the uploads can no longer be read or configured).
    explicit TrackingService(ServiceHost& host);
    ~TrackingService();
    TrackingService(const TrackingService&) = delete;
    TrackingService& operator=(const TrackingService&) = delete;

    // The default: an ECActionResponse acknowledging every received event ID.
    void replyAcknowledgingReceived();
    void replyWithAcknowledgementText();
    void replyWithHTML(std::string page);
    // Exactly these bytes (for instance an encoded ECActionResponse).
    void replyWithBytes(std::string bytes);

    std::vector<TrackingUpload> uploads() const;
    void clear();

    struct State;

private:
    std::shared_ptr<State> state_;
};

// Installs the tracking service with its default reply on `host` (the handlers keep the
// service's state alive), as the embedded services do.
void installTrackingEndpoints(ServiceHost& host);

// Parses a multipart form body with `boundary`: each part's name, its content type (empty
// when none) and its content. nullopt when the body is not such a form.
struct FormPart {
    std::string name;
    std::string contentType;
    std::string content;
};
std::optional<std::vector<FormPart>> parseMultipartForm(std::string_view body, std::string_view boundary);

} // namespace services
