#pragma once
// SwitchboardAdapterNimbus (network type 12): ads of the Nimbus feed. getAd asks the feed
// ("/ads/feed.php" under kNimbusFeedPrefix on the configured services) for one ad, a JSON
// array whose first element describes it, downloads its image and reports a
// SwitchboardCustomAdView. A tap opens the landing URL outside the application or in the
// in-app browser with transition 4. Some failures (an empty array, a first element that is
// not an object, an image URL that is not a string) are reported without an error object.
//
// Ownership, threads and cancellation: see detail::CustomAdDownloadAdapter.
#include <string>

#include "mediation/SwitchboardCustomAdDownload.h"

namespace mediation {

class SwitchboardAdapterNimbus final : public detail::CustomAdDownloadAdapter {
public:
    using CustomAdDownloadAdapter::CustomAdDownloadAdapter;

    static int networkType() { return 12; }
    // Where the feed lives on the services base, and its path.
    static constexpr const char* kNimbusFeedPrefix = "/nimbus";
    static constexpr const char* kNimbusFeedPath = "/ads/feed.php";
    // The build's key of the feed.
    static constexpr const char* kNimbusApiKey = "vornk";
    // Every Nimbus ad opens the browser with this transition.
    static constexpr int kBrowserTransition = 4;

    bool parseAdData(const platform::Data& data, std::optional<platform::Error>* error) override;

    // The delegate's switchboardTestMode when it responds, else false.
    bool useTestAd() const;
    // "%@ %@ (%@; %@ %@; %@)": display name, version, model, system name and version, locale.
    static std::string userAgent();
    // The feed request's URL for the current delegate and entry; none when the configured
    // services base does not make a URL.
    std::optional<platform::URL> nimbusURL() const;

protected:
    std::optional<platform::URL> adRequestURL() override;
    const detail::CustomAdTexts& texts() const override;
};

} // namespace mediation
