#pragma once
// MRBroadcaster: sends the tracked events to the tracking server and applies its reply.
//
// Three upload forms: "v2m" (the default) and "v2z" write the payload as Thrift (a
// BroadcastData of runs for a full upload, an MRClientRequest for a partial one), compress it
// with zlib in one call and send it as the "data" part of a multipart form, as Base64 text
// (v2m) or raw bytes (v2z); any other "MRBroadcastType" sends the V1 form of full uploads,
// the events as property-list text. The reply is an acknowledgement text ("You're good"), an
// HTML page (logged) or an ECActionResponse, which marks the received events as sent, takes
// over the tracking URL and the tokens, switches the library off or on, records the version
// message and hands ad instructions to the ad cache database (MRAdCacheDatabaseSeam.h).
//
// One shared instance, made on first use and kept for the process (resetForTesting() cancels
// its upload and drops it). Uploads run one at a time: `available` goes off when one starts
// and comes back on when it ends, whatever the outcome (a reply of any kind, a failed or
// impossible connection, a request that could not be built); a failed upload is not retried,
// its events stay queued in the store. The asynchronous upload's callbacks arrive on the main
// run loop; callbacks of a connection that was replaced or cancelled are ignored.
// sendEventsSynchronously blocks the calling thread until the reply or the failure.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "vellum/tracking/BroadcastData.h"
#include "vellum/tracking/MRClientRequest.h"

namespace vellum {

class VellumTrackedEvent;
using TrackedEvents = std::vector<std::shared_ptr<VellumTrackedEvent>>;

// The multipart boundary of every upload.
inline constexpr const char* kMRBroadcastBoundary = "0xKhTmLbOuNdArY";
// The built-in client token, until the server issues one.
inline constexpr const char* kMRDefaultClientToken = "D7E2A94C";
// The reply that acknowledges an upload without applying anything.
inline constexpr const char* kMRBroadcastAcknowledgement = "You're good";
// Paths of the tracking endpoints, under the configured services base (production) or under
// its test root (test and staging).
inline constexpr const char* kMRTrackingPath = "/event";
inline constexpr const char* kMRStagingTrackingPath = "/24event";
inline constexpr const char* kMRTestServicesRoot = "/test";

class MRBroadcaster : public platform::URLConnectionDelegate,
                      public std::enable_shared_from_this<MRBroadcaster> {
public:
    // Largest reply body taken from the tracking server.
    static constexpr std::int64_t kMaxReplyBytes = 4 * 1024 * 1024;

    static std::shared_ptr<MRBroadcaster> sharedInstance();
    static void resetForTesting();

    // ---- Entry points ----
    void sendEvents(const TrackedEvents& events);
    bool sendEventsSynchronously(const TrackedEvents& events);
    void sendPartialAdEvents(const TrackedEvents& adEvents, const TrackedEvents& regularEvents);
    bool available() const { return available_; }

    // ---- Class operations ----
    // "yyyy-MM-dd'T'HH:mm:ssZ" in the device's time zone, POSIX locale ("2013-04-02T14:05:09-0500").
    static std::string iso8601stringFromDate(platform::Date date);
    static std::string broadcastURL();
    static std::string broadcastClientToken();
    static void setBroadcastClientToken(std::string_view token);
    static std::string base64Encoding2(const platform::Data& data);

    // ---- Steps ----
    std::optional<platform::URLRequest> URLRequestForEvents(const TrackedEvents& events);
    std::optional<platform::URLRequest> URLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                                                     const TrackedEvents& regularEvents);
    std::optional<platform::URLRequest> V2M_URLRequestForEvents(const TrackedEvents& events);
    std::optional<platform::URLRequest> V2Z_URLRequestForEvents(const TrackedEvents& events);
    std::optional<platform::URLRequest> V1_URLRequestForEvents(const TrackedEvents& events);
    std::optional<platform::URLRequest> V2M_URLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                                                         const TrackedEvents& regularEvents);
    std::optional<platform::URLRequest> V2Z_URLRequestForPartialAdEvents(const TrackedEvents& adEvents,
                                                                         const TrackedEvents& regularEvents);
    std::optional<platform::URLRequest> compressedURLRequestForEvents(const TrackedEvents& events,
                                                                      bool dataIsMIME64);
    std::optional<platform::URLRequest>
    compressedURLRequestForPartialAdEvents(const TrackedEvents& adEvents, const TrackedEvents& regularEvents,
                                           bool dataIsMIME64);
    BroadcastData broadcastDataForEvents(const TrackedEvents& events);
    MRClientRequest partialBroadcastDataForEvents(const TrackedEvents& adEvents,
                                                  const TrackedEvents& regularEvents, bool dataIsMIME64);
    std::vector<Run> runDataForEvents(const TrackedEvents& events);
    std::vector<Run> runDataForLegacyEvents(const TrackedEvents& events);
    Run runObjectForEvents(const TrackedEvents& group);
    Run defaultRunObjectFromFirstEvent(const VellumTrackedEvent& first);
    std::vector<Event> eventsForEvents(const TrackedEvents& events);
    std::vector<VellumAdEvent> adEventsForAdEvents(const TrackedEvents& events);
    static void addString(std::string_view value, std::string_view name, platform::Data& body,
                          std::string_view boundary);
    static void addData(const platform::Data& data, std::string_view name, platform::Data& body,
                        std::string_view boundary);
    std::optional<platform::Date> lastRunLastEventTime() const;
    void processReceivedData(const platform::Data& data);

    // ---- URL connection callbacks ----
    void connectionDidReceiveResponse(platform::URLConnection& connection,
                                      const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection& connection, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection& connection) override;
    void connectionDidFailWithError(platform::URLConnection& connection,
                                    const platform::Error& error) override;

    const std::optional<platform::Data>& receivedData() const { return receivedData_; }

private:
    MRBroadcaster() = default;
    void startAsynchronous(std::optional<platform::URLRequest> request);
    // The head and text parts shared by the compressed forms; nullopt when the tracking URL is
    // not an absolute URL.
    std::optional<platform::URLRequest> multipartRequest() const;
    std::optional<platform::Data> compressPayload(const std::vector<std::uint8_t>& serialized);
    void appendDataPart(platform::Data& body, std::size_t serializedLength, const platform::Data& compressed,
                        bool dataIsMIME64);
    void appendFormParts(platform::Data& body, bool dataIsMIME64, bool partial);

    bool available_ = true;
    std::optional<platform::Data> receivedData_;
    std::shared_ptr<platform::URLConnection> connection_;
};

} // namespace vellum
