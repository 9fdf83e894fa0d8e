#pragma once
// The Cobalt ad service on a ServiceHost, under kCobaltServerPath (the engine's default ad
// bridge server): the client-script sync "/v2/req_js.json" answered with the driver and
// display scripts of fixtures/cobalt, and the ad archives "/v2/ad.zip?slot=<name>&size=<code>",
// each a zip holding an "index.html" of one of a few demo ads and its impression trackers
// ("trackers.txt"), with the trackers' and landing pages' addresses.
//
// Thread-safe: handlers run on the server's threads; every method may be called from any
// thread. The handlers keep the service's state alive.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kCobaltServerPath = "/cobalt/AdBridgeServer";
inline constexpr std::string_view kCobaltSyncPath = "/cobalt/AdBridgeServer/v2/req_js.json";
inline constexpr std::string_view kCobaltAdPath = "/cobalt/AdBridgeServer/v2/ad.zip";
// Each demo ad's impression tracker and landing page ("?ad=<number>").
inline constexpr std::string_view kCobaltImpressionPath = "/cobalt/AdBridgeServer/v2/impression";
inline constexpr std::string_view kCobaltLandingPath = "/cobalt/AdBridgeServer/v2/landing";

class CobaltService {
public:
    explicit CobaltService(ServiceHost& host);
    CobaltService(const CobaltService&) = delete;
    CobaltService& operator=(const CobaltService&) = delete;

    // The client offered by the sync reply; the scripts default to the host's fixtures.
    void setClient(std::string version, std::optional<std::string> driver = std::nullopt,
                   std::optional<std::string> display = std::nullopt);
    // Leaves the "driver" component out of the reply's source.
    void setIncompleteSource(bool incomplete);
    void setDisabled(bool disabled);
    // Ad archives answered with 404 while set.
    void setAdsUnavailable(bool unavailable);
    std::size_t adsServed() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// Installs the Cobalt service with client version "1.0", as the embedded services do.
void installCobaltEndpoints(ServiceHost& host);

} // namespace services
