#pragma once
// The Vellum ad service on a ServiceHost: the slot-zero request (GET on "/vellum/ad", and on
// the test root's "/vellum/test/ad" and staging "/vellum/test/24ad") answered with an encoded
// MRSlotZeroResponse of the configured offers and application settings; ad bundles under
// "/vellum/bundles/<name>.zip" and close-button bundles under
// "/vellum/lib/closebuttons/<name>.zip" (and the test library's "/vellum/test/lib/..."),
// each a zip archive made by the service when it is added.
//
// Thread-safe: handlers run on the server's threads; every method may be called from any
// thread. The handlers keep the service's state alive.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kVellumAdPath = "/vellum/ad";
inline constexpr std::string_view kVellumAdTestPath = "/vellum/test/ad";
inline constexpr std::string_view kVellumAdStagingPath = "/vellum/test/24ad";
inline constexpr std::string_view kVellumBundlesPath = "/vellum/bundles/";
inline constexpr std::string_view kVellumCloseButtonsPath = "/vellum/lib/closebuttons/";
inline constexpr std::string_view kVellumTestCloseButtonsPath = "/vellum/test/lib/closebuttons/";

// One entry of a zip archive made for a bundle (or for a test's hostile archive).
struct ZipEntry {
    std::string name;
    std::string content;
    bool symbolicLink = false; // content is then the link's target
};

// The bytes of a zip archive holding `entries` in order; empty when it cannot be made.
std::string makeZipArchive(const std::vector<ZipEntry>& entries);

// One ad offered by the slot-zero reply.
struct VellumAdOffer {
    std::string adID;
    std::int16_t adVersion = 1;
    std::string bundleURL;      // full URL of the bundle
    std::string adControlPlist; // property-list text; empty: left out
};

class VellumAdService {
public:
    explicit VellumAdService(ServiceHost& host);
    ~VellumAdService();
    VellumAdService(const VellumAdService&) = delete;
    VellumAdService& operator=(const VellumAdService&) = delete;

    // The offers and application settings of every later slot-zero reply.
    void setOffers(std::vector<VellumAdOffer> offers, std::optional<std::string> appSettings = std::nullopt);
    // Exactly these bytes as the slot-zero reply (an error page, a cut reply, ...).
    void replyWithBytes(std::string bytes);
    // Serves a bundle archive at kVellumBundlesPath + name + ".zip"; answers its full URL.
    std::string addBundle(const std::string& name, const std::vector<ZipEntry>& entries);
    // An ad bundle holding the folder `adID` with an "index.html".
    std::string addAdBundle(const std::string& adID);
    // Serves a close-button bundle in both libraries: a folder of that name with its
    // "<name>.plist" (upper-right corner, 40 by 40, the whole image as hit area) and its image.
    void addCloseButton(const std::string& name);
    // The demo rich-media ad's bundle: a 320 by 50 page with the page script that clicks
    // through, expands, plays a short sound and plays a short movie ("movie.mov", the build's
    // sample movie), its expanded page, the sound and the movie. The two pages are the host's
    // fixtures "vellum/rich-ad/index.html" and "vellum/rich-ad/expand.html", read when the
    // bundle is added.
    std::string addRichAdBundle(const std::string& adID);
    // The demo rich-media ad's control list: it runs until the end of 2099, expands to 320 by
    // 300, clicks through to `clickThroughURL`, fires `pixelURL` when first seen and closes
    // with `closeButton`.
    static std::string richAdControlPlist(const std::string& adID, const std::string& clickThroughURL,
                                          const std::string& pixelURL, const std::string& closeButton);

    struct State;

private:
    ServiceHost& host_;
    std::shared_ptr<State> state_;
};

// Installs the ad service with one demo ad, as the embedded services do.
void installVellumAdEndpoints(ServiceHost& host);

} // namespace services
