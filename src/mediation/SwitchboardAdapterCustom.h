#pragma once
// SwitchboardAdapterCustom (network type 9): the mediation service's own custom ads. getAd
// asks the custom-ad service (the host's switchboardCustomAdURL, else "custom.php" on the
// mediation services) for one ad described in JSON, downloads its image (the
// double-resolution banner on a screen of scale 2.0 when the reply has one) and reports a
// SwitchboardCustomAdView. A tap first sends the ad's own click ping, then opens the landing
// URL. The slot sends no impression or click pings for these ads (shouldSendExMetric).
//
// Ownership, threads and cancellation: see detail::CustomAdDownloadAdapter.
#include <memory>

#include "mediation/SwitchboardCustomAdDownload.h"
#include "platform/location/LocationManager.h"

namespace mediation {

class SwitchboardAdapterCustom final : public detail::CustomAdDownloadAdapter {
public:
    using CustomAdDownloadAdapter::CustomAdDownloadAdapter;

    static int networkType() { return 9; }
    static constexpr const char* kCustomAdPath = "custom.php";
    // The client number sent with every request.
    static constexpr int kClient = 1;

    bool shouldSendExMetric() const override { return false; }
    bool parseAdData(const platform::Data& data, std::optional<platform::Error>* error) override;

    // The description request's URL for the current delegate and configuration.
    std::optional<platform::URL> customAdURL();

    double scale() const { return scale_; }
    // Created on first use; never started, so it answers its last known fix.
    const std::shared_ptr<platform::LocationManager>& locationManager();

protected:
    std::optional<platform::URL> adRequestURL() override;
    const detail::CustomAdTexts& texts() const override;
    void sendClickPing(const SwitchboardCustomAdView& view) override;
    double imageScale() const override { return scale_; }
    void willOpenOutside(const platform::URL& url) override;
    void couldNotOpenOutside(const platform::URL& url) override;

private:
    std::shared_ptr<platform::LocationManager> locationManager_;
    double scale_ = 1.0;
};

} // namespace mediation
