#include "vellum/richmedia/VellumAdServer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Screen.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/MRCachedAdLoader.h"
#include "vellum/richmedia/VellumCachedCloseButton.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/TNSDataTransport.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEvent.h"

namespace vellum {
namespace {

// Where the Vellum ad service lives below the services base URL.
constexpr const char* kAdServiceRoot = "/vellum";
constexpr const char* kTestRoot = "/test";
constexpr const char* kAdPath = "/ad";
constexpr const char* kStagingAdPath = "/24ad";
constexpr const char* kLibPath = "/lib";
constexpr const char* kCloseButtonsPath = "/closebuttons/";

// Settings keys.
constexpr const char* kVellumAdServerURLKey = "VellumAdServerURL";
constexpr const char* kMRAdServerURLKey = "MRAdServerURL";
constexpr const char* kMRLibServerURLKey = "MRLibServerURL";
constexpr const char* kMRCacheLoadIntervalKey = "MRCacheLoadInterval";
constexpr const char* kMRCacheLoadRetryDelayKey = "MRCacheLoadRetryDelay";
constexpr const char* kMRCacheLoadDisabledKey = "MRCacheLoadDisabled";
constexpr const char* kMRCacheDebugLevelKey = "MRCacheDebugLevel";

constexpr double kDefaultInitialAttemptDelay = 5.0;
constexpr double kDefaultCacheLoadInterval = 7200.0;
constexpr double kDefaultRetryDelay = 120.0;
constexpr int kDefaultConsecutiveDownloads = 3;
constexpr const char* kAdConfigFetchEvent = "MRADAdConfigFetch";
constexpr const char* kUserCountKey = "MRUserCount";
constexpr const char* kUserDurationKey = "MRUserDuration";
constexpr const char* kAttemptCacheLoadPerform = "attemptCacheLoad";

// The process-wide state of the server.
struct ProcessState {
    std::shared_ptr<VellumAdServer> shared;
    bool houseKept = false;
    double initialAttemptDelay = kDefaultInitialAttemptDelay;
    bool firstRequest = true;
    std::optional<MRSlotZeroResponse> lastReply;
    std::vector<MRAdDownload> downloadList;
    std::vector<MRAdDownload> pendingList;
    std::size_t nextIndex = 0;
    std::size_t listSize = 0;
    int downloadReports = 0;
    int runningDownloads = 0;
    int passesLeft = 0;
    bool downloadingAllowed = true;
    std::vector<std::string> runningCloseButtons;
    VellumAdServer::RandomSource random;
};

ProcessState& state() {
    static ProcessState s;
    return s;
}

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

bool settingYes(const char* key) {
    return VellumAnalyticsManager::keyExists(key) && VellumAnalyticsManager::boolForKey(key);
}

std::optional<std::string> stringSetting(const char* key) {
    auto s = VellumAnalyticsManager::stringForKey(key);
    if (s && s->empty())
        return std::nullopt;
    return s;
}

std::string serviceRoot(bool test) {
    return platform::servicesBaseURL() + kAdServiceRoot + (test ? kTestRoot : "");
}

std::optional<platform::Dictionary> parseControl(const MRAdDownload& offer) {
    if (!offer.adControlPlist())
        return std::nullopt;
    auto v = platform::Value::fromPropertyList(*offer.adControlPlist());
    if (!v || !v->dictionary())
        return std::nullopt;
    return *v->dictionary();
}

std::string percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
            out += static_cast<char>(c);
        else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

} // namespace

// ---- Creation ----

std::shared_ptr<VellumAdServer> VellumAdServer::create() {
    auto& s = state();
    if (analytics().isShutdownWithErrorMessage("Cannot start the ad server"))
        return nullptr;
    if (s.shared)
        return s.shared;
    if (VellumAnalyticsManager::versionString() != versionString()) {
        std::fprintf(
            stderr,
            "The Vellum ad library version (%s) must match the analtyics  library version number (%s). "
            "The ad library cannot be loaded.\n",
            versionString().c_str(), VellumAnalyticsManager::versionString().c_str());
        return nullptr;
    }
    if (VellumAnalyticsManager::buildNumber() != buildNumber()) {
        std::fprintf(
            stderr,
            "The Vellum ad library build number (%d) must match the analytics library build number (%d). "
            "The ad library cannot be loaded.\n",
            buildNumber(), VellumAnalyticsManager::buildNumber());
        return nullptr;
    }
    analytics().logInternal("starting ad server (%s build %d %d)", kVersionString, kBuildNumber,
                            kPrivateBuildNumber);
    std::shared_ptr<VellumAdServer> server(new VellumAdServer());
    server->adDB_ = MRCachedAdDatabase::create();
    server->closebuttonDB_ = VellumCachedCloseButtonDatabase::create();
    if (server->adDB_) {
        if (auto cap = server->adDB_->getAppImpressionCapData()) {
            server->appCapImpressionMax = cap->appCapImpressionMax;
            server->appCapImpressionTime = cap->appCapImpressionTime;
            server->appCapImpressionTimeType = cap->appCapImpressionTimeType;
        }
    }
    server->userAgent = kDefaultUserAgent;
    s.shared = server;
    if (VellumAnalyticsManager::readyForRequest()) {
        server->startCacheLoad();
        VellumAnalyticsManager::resetReadyForRequest();
        if (server->adDB_)
            server->adDB_->clearRunImpressions();
    }
    return server;
}

std::shared_ptr<VellumAdServer> VellumAdServer::existing() {
    return state().shared;
}

void VellumAdServer::resetForTesting() {
    auto& s = state();
    if (s.shared) {
        if (s.shared->slotZeroConnection_)
            s.shared->slotZeroConnection_->cancel();
        platform::RunLoop::current().cancelPerforms(s.shared.get());
    }
    s = ProcessState{};
}

VellumAdServer::~VellumAdServer() {
    if (slotZeroConnection_)
        slotZeroConnection_->cancel();
    analytics().logInternal("quitting ad server");
}

// ---- Paths and endpoints ----

std::string VellumAdServer::cachedAdsFolderPath() {
    return (std::filesystem::path(VellumAnalyticsManager::libraryDirectory()) / "Vellum" / "MRAdCache")
        .string();
}

std::string VellumAdServer::cachedCloseButtonsFolderPath() {
    return (std::filesystem::path(VellumAnalyticsManager::libraryDirectory()) / "Vellum" /
            "MRCloseButtonCache")
        .string();
}

std::string VellumAdServer::configURL() {
    if (auto url = stringSetting(kVellumAdServerURLKey))
        return *url;
    if (settingYes(VellumUseStagingServersKey))
        return serviceRoot(true) + kStagingAdPath;
    if (settingYes(VellumUseTestServersKey))
        return serviceRoot(true) + kAdPath;
    if (auto url = stringSetting(kMRAdServerURLKey))
        return *url;
    if (settingYes(MRUseTestServersKey))
        return serviceRoot(true) + kAdPath;
    return serviceRoot(false) + kAdPath;
}

std::string VellumAdServer::configLibURL() {
    if (auto url = stringSetting(kMRLibServerURLKey))
        return *url;
    return serviceRoot(settingYes(MRUseTestServersKey)) + kLibPath;
}

void VellumAdServer::setConfigURL(std::string_view url) {
    VellumAnalyticsManager::setString(url, kVellumAdServerURLKey);
}

// ---- Start-up and cache load ----

void VellumAdServer::start() {
    houseKeeping();
    auto& s = state();
    if (VellumAnalyticsManager::keyExists(VellumMediaDownloadOffsetTimerKey))
        s.initialAttemptDelay = VellumAnalyticsManager::floatForKey(VellumMediaDownloadOffsetTimerKey);
    auto self = shared_from_this();
    platform::RunLoop::current().performAfter(
        s.initialAttemptDelay, [self] { self->attemptCacheLoad(); }, this, kAttemptCacheLoadPerform);
}

void VellumAdServer::houseKeeping() {
    auto& s = state();
    if (s.houseKept)
        return;
    s.houseKept = true;
    if (adDB_) {
        adDB_->clearRunImpressions();
        adDB_->clearWebViewLocating();
        adDB_->deleteExpiredAds();
        adDB_->cleanUpCacheFolder();
        if (auto cap = adDB_->getAppImpressionCapData()) {
            appCapImpressionMax = cap->appCapImpressionMax;
            appCapImpressionTime = cap->appCapImpressionTime;
            appCapImpressionTimeType = cap->appCapImpressionTimeType;
            setInternalEventUpload(cap->internalEventUploadInterval);
        }
    }
    s.runningCloseButtons.clear();
}

void VellumAdServer::attemptCacheLoad() {
    auto& m = analytics();
    if (!m.isTracking())
        return;
    m.logInternal("checking if a cache load is needed and possible");
    if (settingYes(kMRCacheLoadDisabledKey)) {
        m.logInternal("cache load disabled");
        return;
    }
    m.updateConnStatus();
    if (m.internetConnectionStatusCode() == 0) {
        m.logInternal("skipping cache load - no connection to server");
        const double delay = VellumAnalyticsManager::keyExists(kMRCacheLoadRetryDelayKey)
                                 ? VellumAnalyticsManager::floatForKey(kMRCacheLoadRetryDelayKey)
                                 : kDefaultRetryDelay;
        auto self = shared_from_this();
        platform::RunLoop::current().performAfter(
            delay, [self] { self->attemptCacheLoad(); }, this, kAttemptCacheLoadPerform);
        if (auto d = delegate.lock())
            d->adRequestFailed();
        return;
    }
    auto last = defaults().objectForKey(kLastCacheLoadDateKey);
    auto lastDate = last ? last->date() : std::nullopt;
    if (!lastDate) {
        m.logDebugOrInternal("never connected - attempting cache load");
        startCacheLoad();
        return;
    }
    const double elapsed = platform::Clock::current().now() - lastDate->secondsSince1970;
    double interval = state().firstRequest ? 0.0 : kDefaultCacheLoadInterval;
    if (VellumAnalyticsManager::keyExists(kMRCacheLoadIntervalKey))
        interval = VellumAnalyticsManager::floatForKey(kMRCacheLoadIntervalKey);
    if (elapsed > interval) {
        m.logDebugOrInternal("max time between cache updates reached - attempting cache load");
        startCacheLoad();
    } else if (VellumAnalyticsManager::stringForKey(kMRCacheDebugLevelKey) ==
               std::string(kVellumAccessCode)) {
        m.logInternal("debugging - attempting cache load");
        startCacheLoad();
    } else {
        m.logInternal("skipping cache load - time since last update is less than %.2f seconds", interval);
    }
}

void VellumAdServer::startCacheLoad() {
    analytics().logInternal("starting cache load");
    auto request = slotZeroURLRequest();
    if (slotZeroConnection_)
        slotZeroConnection_->cancel();
    slotZeroConnection_.reset();
    if (!request || !platform::URLConnection::canHandleRequest(*request)) {
        analytics().logInternal("can't create a connection for %s", configURL().c_str());
        analytics().logDebug("ad server connection could not be established");
        return;
    }
    receivedData_ = platform::Data{};
    slotZeroStatus_.reset();
    slotZeroConnection_ = platform::URLConnection::create(*request, shared_from_this(), false,
                                                          platform::URLConnection::DelegateHold::Weak);
    slotZeroConnection_->setMaximumBodyLength(kMaxSlotZeroReplyBytes);
    slotZeroConnection_->start();
}

std::optional<platform::URLRequest> VellumAdServer::slotZeroURLRequest() {
    state().firstRequest = false;
    auto& m = analytics();
    const auto& location = m.currentLocation();
    const double lat = location ? location->coordinate().latitude : 0.0;
    const double lon = location ? location->coordinate().longitude : 0.0;
    const auto screen = determineAppResolution().size;
    const int w = static_cast<int>(screen.width), h = static_cast<int>(screen.height);
    char coordinates[96];
    std::snprintf(coordinates, sizeof coordinates, "lat=%f&lon=%f", lat, lon);
    char resolution[64];
    std::snprintf(resolution, sizeof resolution, "AR=%dx%d&SR=%dx%d", w, h, w, h);
    const std::string text = configURL() + "?appID=" + percentEncode(m.appIdentifier().value_or("")) +
                             "&appv=" + percentEncode(m.appVersion().value_or("")) +
                             "&p=1&d=" + percentEncode(VellumAnalyticsManager::deviceHardware()) +
                             "&v=" + percentEncode(m.systemVersion()) + "&build=" + kVersionString + "." +
                             std::to_string(kBuildNumber) + "." + std::to_string(kPrivateBuildNumber) +
                             "&udid=" + percentEncode(m.md5DeviceID()) + "&" + coordinates + "&" + resolution;
    m.logDebug("contacting ad server: %s", text.c_str());
    auto url = platform::URL::parse(text);
    if (!url)
        return std::nullopt;
    platform::URLRequest request(*url);
    if (VellumAnalyticsManager::keyExists(VellumAdRequestTimeout))
        request.setTimeoutInterval(VellumAnalyticsManager::floatForKey(VellumAdRequestTimeout));
    return request;
}

void VellumAdServer::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                  const platform::URLResponse& response) {
    if (&connection != slotZeroConnection_.get())
        return;
    receivedData_ = platform::Data{};
    slotZeroStatus_ = response.statusCode();
}

void VellumAdServer::connectionDidReceiveData(platform::URLConnection& connection,
                                              const platform::Data& data) {
    if (&connection != slotZeroConnection_.get())
        return;
    if (!receivedData_)
        receivedData_ = platform::Data{};
    receivedData_->insert(receivedData_->end(), data.begin(), data.end());
}

void VellumAdServer::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (&connection != slotZeroConnection_.get())
        return;
    slotZeroConnection_.reset();
    auto self = shared_from_this();
    if (!slotZeroStatus_ || *slotZeroStatus_ < 200 || *slotZeroStatus_ > 299) {
        // An error status is a failed load, never cache instructions.
        recordCacheLoadFail();
        analytics().logDebugOrInternal("ad server replied with HTTP status %d", slotZeroStatus_.value_or(0));
        receivedData_.reset();
        if (auto d = delegate.lock())
            d->adRequestFailed();
        return;
    }
    processReceivedData();
    receivedData_.reset();
    if (auto d = delegate.lock())
        d->adRequestCompleted();
}

void VellumAdServer::connectionDidFailWithError(platform::URLConnection& connection,
                                                const platform::Error& error) {
    if (&connection != slotZeroConnection_.get())
        return;
    slotZeroConnection_.reset();
    receivedData_.reset();
    analytics().logInternal("ad server connection failed! Error: %s %s", error.localizedDescription.c_str(),
                            connection.originalRequest().url().absoluteString().c_str());
    analytics().logDebug("could not fetch ad cache instructions");
    if (auto d = delegate.lock())
        d->adRequestFailed();
}

void VellumAdServer::processReceivedData() {
    const platform::Data bytes = receivedData_.value_or(platform::Data{});
    if (!bytes.empty() && bytes.front() == '<') {
        recordCacheLoadFail();
        std::string text(bytes.begin(), bytes.end());
        analytics().logDebugOrInternal("received an unexpected HTML response from the ad server: %s",
                                       text.c_str());
        return;
    }
    MRSlotZeroResponse reply;
    try {
        auto transport = std::make_shared<TNSDataTransport>(std::span<const std::uint8_t>(bytes));
        TBinaryProtocol protocol(transport);
        reply.read(protocol);
    } catch (const std::exception& e) {
        analytics().logDebugOrInternal("could not read the ad server's reply: %s", e.what());
    }
    state().lastReply = reply;
    if (isManualMediaDownload())
        recordCacheLoadSuccess();
    downloadAdsFromAdServer(reply);
    recordCacheLoadSuccess();
    receivedData_.reset();
    if (adDB_)
        adDB_->fixCloseButtonNameValues();
    downloadAnyNewCloseButtons();
    int interval = internalEventUploadInterval;
    if (reply.appSettingsIsSet() && reply.appSettings()) {
        auto settings = platform::Value::fromPropertyList(*reply.appSettings());
        const platform::Dictionary empty;
        const auto& d = settings && settings->dictionary() ? *settings->dictionary() : empty;
        auto intOf = [&](const char* key) {
            auto it = d.find(key);
            return it == d.end() ? 0 : platform::saturatingCast<int>(it->second.intOr(0));
        };
        appCapImpressionMax = intOf("appCapImpressionMax");
        appCapImpressionTime = intOf("appCapImpressionTime");
        appCapImpressionTimeType = intOf("appCapImpressionTimeType");
        interval = intOf("internalEventUploadInterval");
        setInternalEventUpload(interval);
    }
    if (adDB_)
        adDB_->updateAppImpressionData(appCapImpressionMax, appCapImpressionTime, appCapImpressionTimeType,
                                       internalEventUploadInterval);
}

void VellumAdServer::recordCacheLoadSuccess() {
    auto& d = defaults();
    const int attempts =
        platform::saturatingCast<int>(d.objectForKey(kAttemptsSinceLastCacheLoadKey).value_or(0).intOr(0));
    auto last = d.objectForKey(kLastCacheLoadDateKey);
    auto lastDate = last ? last->date() : std::nullopt;
    const double now = platform::Clock::current().now();
    VellumEvent event(kAdConfigFetchEvent);
    event.setNumber(platform::Value(attempts), kUserCountKey);
    event.setDuration(lastDate ? now - lastDate->secondsSince1970 : 0.0, kUserDurationKey);
    analytics().trackEvent(event);
    d.setObject(kAttemptsSinceLastCacheLoadKey, platform::Value(0));
    d.setObject(kLastCacheLoadDateKey, platform::Value(platform::Date{now}));
    d.synchronize();
}

void VellumAdServer::recordCacheLoadFail() {
    auto& d = defaults();
    const int attempts =
        platform::saturatingCast<int>(d.objectForKey(kAttemptsSinceLastCacheLoadKey).value_or(0).intOr(0));
    d.setObject(kAttemptsSinceLastCacheLoadKey, platform::Value(attempts + 1));
    d.synchronize();
}

void VellumAdServer::setInternalEventUpload(int n) {
    if (n == internalEventUploadInterval)
        return;
    auto& m = analytics();
    if (internalEventUploadInterval == -1)
        m.updateInternalImpressionEventUpdate(0);
    else if (internalEventUploadInterval >= 1 && n < 1)
        m.updateInternalTimerEventUpdate(0);
    if (n >= 1)
        m.updateInternalTimerEventUpdate(n);
    else if (n == -1)
        m.updateInternalImpressionEventUpdate(1);
    internalEventUploadInterval = n;
}

// ---- Slots registered by web views ----

std::string VellumAdServer::webViewDescription(const void* webView) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "<WebView: %p>", webView);
    return buffer;
}

void VellumAdServer::prepareWithWebViewWithSize(platform::Size size, const std::string& slotName,
                                                const std::optional<StringList>& keywords,
                                                const std::optional<StringList>& blockKeywords,
                                                const std::string& webView) {
    if (analytics().isUnavailableWithErrorMessage("Cannot prepare the ad") || !adDB_)
        return;
    adDB_->incrementWebViewLocatingForAdSlotID(slotName, "", 0, size, blockKeywords, keywords, webView);
    incrementRunForecastingForAdSlotID(slotName);
    analytics().logDebugOrInternal("adSlot retrieved:%s %d %s", webView.c_str(), 0, slotName.c_str());
}

void VellumAdServer::prepareWithWebView(int slotType, const std::string& slotName,
                                        const std::optional<StringList>& keywords,
                                        const std::optional<StringList>& blockKeywords,
                                        const std::string& webView) {
    if (analytics().isUnavailableWithErrorMessage("Cannot prepare the ad") || !adDB_)
        return;
    adDB_->incrementWebViewLocatingForAdSlotID(slotName, "", slotType, {}, blockKeywords, keywords, webView);
    incrementRunForecastingForAdSlotID(slotName);
    analytics().logDebugOrInternal("adSlot retrieved:%s %d %s", webView.c_str(), slotType, slotName.c_str());
}

bool VellumAdServer::incrementRunForecastingForAdSlotID(const std::string& slotID) {
    analytics().incrementRunForecastingForAdSlot(slotID);
    return true;
}

bool VellumAdServer::saveImpressionDataForAd(const MRCachedAd& ad) {
    return adDB_ && adDB_->saveImpressionDataForAd(ad);
}

bool VellumAdServer::saveCapImpressionDataForAd(const MRCachedAd& ad) {
    return adDB_ && adDB_->saveCapImpressionDataForAd(ad);
}

platform::Rect VellumAdServer::determineAppResolution() {
    return platform::Screen::main().bounds();
}

// ---- Bundle downloads ----

void VellumAdServer::downloadAdsFromAdServer(const MRSlotZeroResponse& reply) {
    auto& s = state();
    s.nextIndex = 0;
    s.downloadList = reply.adDownloads().value_or(std::vector<MRAdDownload>{});
    s.pendingList = s.downloadList;
    s.listSize = s.downloadList.size();
    s.passesLeft = kMaxDownloadPasses;
    int chains = kDefaultConsecutiveDownloads;
    if (VellumAnalyticsManager::keyExists(VellumConsecutiveMediaDownloadKey))
        chains = VellumAnalyticsManager::intForKey(VellumConsecutiveMediaDownloadKey);
    for (int i = 0; i < chains; ++i)
        downloadNextAd(std::nullopt, false, false);
}

bool VellumAdServer::passedOverInManualMode(const MRAdDownload& offer) const {
    // After a resume, offers already confirmed as downloaded are not fetched again.
    const auto& pending = state().pendingList;
    return std::none_of(pending.begin(), pending.end(),
                        [&](const MRAdDownload& p) { return p.adID() == offer.adID(); });
}

void VellumAdServer::downloadNextAd(const std::optional<std::string>& adID, bool onDevice, bool downloaded) {
    auto& s = state();
    if (onDevice && !downloaded) {
        // Reported from inside downloadAd: the offer is cached already. The call that started
        // it has advanced the index and goes on with the chain itself.
        if (adID) {
            auto it = std::find_if(s.pendingList.begin(), s.pendingList.end(),
                                   [&](const MRAdDownload& offer) { return offer.adID() == *adID; });
            if (it != s.pendingList.end())
                s.pendingList.erase(it);
        }
        ++s.downloadReports;
        analytics().logDebug("Number of Ads Downloaded %d %s", s.downloadReports,
                             adID ? adID->c_str() : "(null)");
        return;
    }
    if (onDevice) {
        if (adID) {
            auto it = std::find_if(s.pendingList.begin(), s.pendingList.end(),
                                   [&](const MRAdDownload& offer) { return offer.adID() == *adID; });
            if (it != s.pendingList.end())
                s.pendingList.erase(it);
        }
        if (downloaded && s.runningDownloads > 0)
            --s.runningDownloads;
        ++s.downloadReports;
        analytics().logDebug("Number of Ads Downloaded %d %s", s.downloadReports,
                             adID ? adID->c_str() : "(null)");
    }
    // Each call starts at most one download.
    while (s.nextIndex < s.listSize) {
        const MRAdDownload offer = s.downloadList[s.nextIndex];
        if (isManualMediaDownload() && !s.downloadingAllowed)
            return;
        ++s.nextIndex;
        if (isManualMediaDownload() && passedOverInManualMode(offer))
            continue;
        if (auto d = delegate.lock())
            d->downloadingAd(s.downloadReports + 1, static_cast<int>(s.listSize));
        auto control = parseControl(offer);
        auto limit = [&](const char* key) {
            if (!control)
                return true;
            auto it = control->find(key);
            return it == control->end() || it->second.intOr(1) != 0;
        };
        // An offer that is not downloaded (no impressions allowed, or the load cannot start)
        // stays unconfirmed, and the chain goes on with the next one instead of stalling.
        if (!limit("maxImpressions") || !limit("maxRunImpressions"))
            continue;
        if (downloadAd(offer))
            return;
    }
    startNextPassIfDone();
}

void VellumAdServer::startNextPassIfDone() {
    auto& s = state();
    if (s.nextIndex < s.listSize || s.runningDownloads > 0)
        return;
    if (s.pendingList.empty() || s.passesLeft <= 0 || (isManualMediaDownload() && !s.downloadingAllowed))
        return;
    --s.passesLeft;
    s.downloadList = s.pendingList;
    s.nextIndex = 0;
    s.listSize = s.downloadList.size();
    downloadNextAd(std::nullopt, false, false);
}

bool VellumAdServer::downloadAd(const MRAdDownload& offer) {
    try {
        if (!offer.adID() || !offer.bundleURL())
            return false;
        const std::string& text = *offer.bundleURL();
        const auto begin = text.find_first_not_of(" \t\r\n");
        const auto token = begin == std::string::npos
                               ? std::string()
                               : text.substr(begin, text.find_first_of(" \t\r\n", begin) - begin);
        auto url = platform::URL::parse(token);
        if (!url) {
            analytics().logInternal("can't create a connection for %s", token.c_str());
            return false;
        }
        auto loader = MRCachedAdLoader::create();
        ++state().runningDownloads;
        const bool started = loader->downloadAd(*offer.adID(), offer.adVersion(), parseControl(offer), *url);
        // Only a running load reports back as downloaded.
        if (!loader->loading)
            --state().runningDownloads;
        return started && loader->loading;
    } catch (const std::exception& e) {
        analytics().logDebug("Exception Handled: %s %s", "std::exception", e.what());
        return false;
    }
}

bool VellumAdServer::isManualMediaDownload() {
    return VellumAnalyticsManager::keyExists(MRManualMediaDownloadKey) &&
           VellumAnalyticsManager::boolForKey(MRManualMediaDownloadKey);
}

bool VellumAdServer::isMediaOverrideDisabled() {
    for (const char* key : {VellumDisableAdDataOverride, MRDisableAdDataOverride})
        if (VellumAnalyticsManager::keyExists(key))
            return VellumAnalyticsManager::boolForKey(key);
    return false;
}

void VellumAdServer::pauseMediaDownload() {
    if (!isManualMediaDownload())
        return;
    state().downloadingAllowed = false;
    analytics().logDebug("Manual media downloads paused");
}

void VellumAdServer::resumeMediaDownload() {
    if (!isManualMediaDownload())
        return;
    auto& s = state();
    s.downloadingAllowed = true;
    if (s.lastReply && s.runningDownloads == 0) {
        // A new pass over the kept reply; what is already confirmed stays confirmed.
        s.downloadList = s.lastReply->adDownloads().value_or(std::vector<MRAdDownload>{});
        s.nextIndex = 0;
        s.listSize = s.downloadList.size();
        s.passesLeft = kMaxDownloadPasses;
        const int chains = VellumAnalyticsManager::keyExists(VellumConsecutiveMediaDownloadKey)
                               ? VellumAnalyticsManager::intForKey(VellumConsecutiveMediaDownloadKey)
                               : kDefaultConsecutiveDownloads;
        for (int i = 0; i < chains; ++i)
            downloadNextAd(std::nullopt, false, false);
    }
    analytics().logDebug("Manual media downloads allowed to resume");
}

// ---- Close buttons ----

void VellumAdServer::verfiyThenDownloadCloseButtonByName(const std::string& name) {
    auto& running = state().runningCloseButtons;
    if ((closebuttonDB_ && closebuttonDB_->hasCloseButtonNamed(name)) ||
        std::find(running.begin(), running.end(), name) != running.end())
        return;
    running.push_back(name);
    if (!closebuttonDB_) {
        analytics().logInternal("no close-button loader for %s", name.c_str());
        return;
    }
    auto url = platform::URL::parse(configLibURL() + kCloseButtonsPath + percentEncode(name) + ".zip");
    if (url)
        closebuttonDB_->downloadCloseButton(name, *url);
}

bool VellumAdServer::blockedByCloseButtonNameAvailability(const std::optional<std::string>& name) const {
    return !(name && closebuttonDB_ && closebuttonDB_->hasCloseButtonNamed(*name));
}

void VellumAdServer::downloadAnyNewCloseButtons() {
    if (!adDB_)
        return;
    if (auto ads = adDB_->retrieveAllAds())
        for (const auto& ad : *ads)
            if (ad->closeButtonLibID)
                verfiyThenDownloadCloseButtonByName(*ad->closeButtonLibID);
}

const std::vector<std::string>& VellumAdServer::runningCloseButtonDownloads() const {
    return state().runningCloseButtons;
}

void VellumAdServer::setRandomSource(RandomSource source) {
    state().random = std::move(source);
}

std::uint32_t VellumAdServer::nextRandom() {
    auto& s = state();
    if (s.random)
        return s.random();
    static std::random_device device;
    return device();
}

} // namespace vellum
