#pragma once
// VellumAdManager: the public facade of the rich-media engine. Its first use creates the ad
// server and starts it; every other call forwards to the analytics manager or to the shared
// ad server (looked up each time, so nothing happens while the server refuses to start).
// It holds no state; one shared instance per process (resetForTesting() drops it). Main
// thread only; no callbacks.
#include <memory>
#include <optional>
#include <string>

#include "platform/location/LocationManager.h"
#include "platform/ui/Geometry.h"
#include "vellum/richmedia/MRCachedAd.h"

namespace vellum {

class VellumAdManager {
public:
    static std::shared_ptr<VellumAdManager> sharedInstance();
    static void resetForTesting();

    void initializeWithAppID(const std::optional<std::string>& appID,
                             const std::optional<std::string>& appVersion,
                             std::shared_ptr<platform::LocationManager> locationManager,
                             bool locationTracking);
    void initialize(bool locationTracking);
    void registerWebViewWithSlotSize(platform::Size size, const std::string& slotName,
                                     const std::optional<StringList>& keywords,
                                     const std::optional<StringList>& blockKeywords,
                                     const std::string& webView);
    void registerWebView(int slotType, const std::string& slotName, const std::optional<StringList>& keywords,
                         const std::optional<StringList>& blockKeywords, const std::string& webView);
    void pauseMediaDownload();
    void resumeMediaDownload();

private:
    VellumAdManager() = default;
};

} // namespace vellum
