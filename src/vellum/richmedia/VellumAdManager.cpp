#include "vellum/richmedia/VellumAdManager.h"

#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

std::shared_ptr<VellumAdManager>& sharedSlot() {
    static std::shared_ptr<VellumAdManager> shared;
    return shared;
}

// Linking the engine makes its ad cache reachable from the tracking upload.
[[maybe_unused]] const bool kRegistered = [] {
    MRCachedAdDatabase::registerWithTrackingUpload();
    return true;
}();

} // namespace

std::shared_ptr<VellumAdManager> VellumAdManager::sharedInstance() {
    auto& shared = sharedSlot();
    if (!shared) {
        shared.reset(new VellumAdManager());
        if (auto server = VellumAdServer::create())
            server->start();
    }
    return shared;
}

void VellumAdManager::resetForTesting() {
    sharedSlot().reset();
}

void VellumAdManager::initializeWithAppID(const std::optional<std::string>& appID,
                                          const std::optional<std::string>& appVersion,
                                          std::shared_ptr<platform::LocationManager> locationManager,
                                          bool locationTracking) {
    VellumAnalyticsManager::sharedInstance()->initializeWithAppID(
        appID, appVersion, std::move(locationManager), locationTracking);
}

void VellumAdManager::initialize(bool locationTracking) {
    VellumAnalyticsManager::sharedInstance()->initialize(locationTracking);
}

void VellumAdManager::registerWebViewWithSlotSize(platform::Size size, const std::string& slotName,
                                                  const std::optional<StringList>& keywords,
                                                  const std::optional<StringList>& blockKeywords,
                                                  const std::string& webView) {
    if (auto server = VellumAdServer::create())
        server->prepareWithWebViewWithSize(size, slotName, keywords, blockKeywords, webView);
}

void VellumAdManager::registerWebView(int slotType, const std::string& slotName,
                                      const std::optional<StringList>& keywords,
                                      const std::optional<StringList>& blockKeywords,
                                      const std::string& webView) {
    if (auto server = VellumAdServer::create())
        server->prepareWithWebView(slotType, slotName, keywords, blockKeywords, webView);
}

void VellumAdManager::pauseMediaDownload() {
    if (auto server = VellumAdServer::create())
        server->pauseMediaDownload();
}

void VellumAdManager::resumeMediaDownload() {
    if (auto server = VellumAdServer::create())
        server->resumeMediaDownload();
}

} // namespace vellum
