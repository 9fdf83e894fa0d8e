#include "vellum/richmedia/MRCachedAdLoader.h"

#include <atomic>
#include <filesystem>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

// A temporary file of its own for every load, so two offers whose bundle URLs end alike
// never write the same file.
fs::path temporaryBundlePath(const std::string& adID, const platform::URL& url) {
    static std::atomic<std::uint64_t> counter{0};
    const auto id = platform::FileManager::safePathComponent(adID).value_or("ad");
    const auto last =
        platform::FileManager::safePathComponent(url.lastPathComponent()).value_or("bundle.zip");
    return platform::DeviceHome::tmp() / ("MRAd-" + std::to_string(++counter) + "-" + id + "-" + last);
}

void reportToServer(const std::optional<std::string>& adID) {
    if (auto server = VellumAdServer::existing())
        server->downloadNextAd(adID, true, true);
}

} // namespace

std::shared_ptr<MRCachedAdLoader> MRCachedAdLoader::create() {
    std::shared_ptr<MRCachedAdLoader> loader(new MRCachedAdLoader());
    loader->terminateToken_ = platform::NotificationCenter::defaultCenter().observe<MRCachedAdLoader>(
        loader, platform::kApplicationWillTerminateNotification,
        [](MRCachedAdLoader& self, const platform::Notification&) { self.setStopped(true); });
    return loader;
}

MRCachedAdLoader::~MRCachedAdLoader() {
    if (terminateToken_)
        platform::NotificationCenter::defaultCenter().removeObserver(*terminateToken_);
}

bool MRCachedAdLoader::downloadAd(const std::string& id, int version,
                                  const std::optional<platform::Dictionary>& controlPlist,
                                  const platform::URL& url) {
    analytics().logInternal("downloading version %d of ad %s from ad server", version, id.c_str());
    analytics().logInternal("ad control for downloaded ad: %s",
                            controlPlist ? platform::Value(*controlPlist).toJSON().c_str() : "(null)");
    auto db = MRCachedAdDatabase::create();
    const bool onDevice = db && db->haveAdWithID(id, version);
    const bool disabled = VellumAdServer::isMediaOverrideDisabled();
    adID = id;
    adVersion = version;
    adControlPlist = controlPlist;
    if (!onDevice)
        return startAdLoadFromURL(url);
    if (!disabled)
        updataDatabaseWithControlPlist();
    if (auto server = VellumAdServer::existing())
        server->downloadNextAd(id, true, false);
    return !disabled;
}

platform::URLRequest MRCachedAdLoader::requestForURL(const platform::URL& url) {
    return platform::URLRequest(url);
}

bool MRCachedAdLoader::startAdLoadFromURL(const platform::URL& url) {
    auto request = requestForURL(url);
    // The id names the ad's folder in the cache, which never takes a name of the store's.
    const auto component = platform::FileManager::safePathComponent(adID);
    if (!platform::URLConnection::canHandleRequest(request) || !component ||
        MRCachedAdDatabase::isStoreFileName(*component)) {
        analytics().logInternal("can't create a connection for %s", url.absoluteString().c_str());
        analytics().logDebug("Ad Server connection could not be established");
        analytics().trackEvent(kMRADAdFetchFailEvent);
        return false;
    }
    const auto path = temporaryBundlePath(adID, url);
    if (!file_.open(path)) {
        analytics().logInternal("can't create a connection for %s", url.absoluteString().c_str());
        analytics().trackEvent(kMRADAdFetchFailEvent);
        return false;
    }
    loading = true;
    connection_ = platform::URLConnection::create(request, shared_from_this(), false);
    connection_->setMaximumBodyLength(kMaxBundleBytes);
    connection_->start();
    return true;
}

void MRCachedAdLoader::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                    const platform::URLResponse& response) {
    if (&connection == connection_.get())
        file_.restart(response.statusCode());
}

void MRCachedAdLoader::connectionDidReceiveData(platform::URLConnection& connection,
                                                const platform::Data& data) {
    if (&connection == connection_.get())
        file_.append(data);
}

void MRCachedAdLoader::endLoad(bool ok) {
    file_.discard();
    loading = false;
    connection_.reset();
    if (!ok)
        analytics().trackEvent(kMRADAdFetchFailEvent);
    reportToServer(ok ? std::optional(adID) : std::nullopt);
}

void MRCachedAdLoader::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (&connection != connection_.get() || stopped_)
        return;
    file_.close();
    const bool success = file_.succeeded();
    if (!success)
        analytics().logInternal("Ad Server connection failed: HTTP status %d %s", file_.status().value_or(0),
                                connection.originalRequest().url().absoluteString().c_str());
    const bool ok = success && processDownloadedAdBundle();
    endLoad(ok);
}

void MRCachedAdLoader::connectionDidFailWithError(platform::URLConnection& connection,
                                                  const platform::Error& error) {
    if (&connection != connection_.get() || stopped_)
        return;
    analytics().logInternal("Ad Server connection failed: %s %s", error.localizedDescription.c_str(),
                            connection.originalRequest().url().absoluteString().c_str());
    analytics().logDebug("could not fetch ad %s from server", adID.c_str());
    endLoad(false);
}

bool MRCachedAdLoader::expandDownloadedAdBundle() {
    // Only the ad's own folder is taken from the bundle.
    auto component = platform::FileManager::safePathComponent(adID);
    return file_.path() && component && !MRCachedAdDatabase::isStoreFileName(*component) &&
           VellumAdServer::expandZipFileAtPath(*file_.path(), VellumAdServer::cachedAdsFolderPath(),
                                               *component);
}

bool MRCachedAdLoader::processDownloadedAdBundle() {
    const bool expanded = expandDownloadedAdBundle();
    auto component = platform::FileManager::safePathComponent(adID);
    bool isDirectory = false;
    if (!expanded || !component ||
        !platform::FileManager::fileExists(fs::path(VellumAdServer::cachedAdsFolderPath()) / *component,
                                           &isDirectory) ||
        !isDirectory) {
        analytics().logDebug("folder for downloaded ad not found after unzipping: %s", adID.c_str());
        return false;
    }
    auto record = updateDatabaseWithDownloadedAd();
    if (!record)
        return false;
    updataDatabaseWithControlPlist();
    auto db = MRCachedAdDatabase::existing();
    // The record as stored, with what the control list added.
    if (auto stored = db ? db->adWithID(adID) : nullptr)
        record = stored;
    platform::NotificationCenter::defaultCenter().post(MRNewAdDidDownloadNotification, record);
    return true;
}

std::shared_ptr<MRCachedAd> MRCachedAdLoader::updateDatabaseWithDownloadedAd() {
    auto db = MRCachedAdDatabase::create();
    if (!db)
        return nullptr;
    auto record = db->adWithID(adID);
    if (record) {
        record->lastModDate = platform::Clock::current().date();
        analytics().logDebugOrInternal("downloaded ad update: %s", adID.c_str());
    } else {
        record = std::make_shared<MRCachedAd>();
        record->adID = adID;
        record->fetchDate = platform::Clock::current().date();
        analytics().logDebugOrInternal("downloaded new ad: %s", adID.c_str());
    }
    record->adVersion = adVersion;
    if (!db->updateOrInsertCachedAd(*record))
        return nullptr;
    return record;
}

void MRCachedAdLoader::updataDatabaseWithControlPlist() {
    if (!adControlPlist)
        return;
    auto db = MRCachedAdDatabase::create();
    if (!db)
        return;
    // The record is kept under the offer's id, whatever the control list names.
    platform::Dictionary control = *adControlPlist;
    control["adID"] = adID;
    if (!control.count("adVersion"))
        control["adVersion"] = adVersion;
    db->updateOrInsertCachedAdFromDictionary({{"resourceDict", platform::Value(std::move(control))}});
}

void MRCachedAdLoader::setStopped(bool stopped) {
    if (stopped && loading && !stopped_)
        analytics().trackEvent(kMRADAdFetchFailEvent);
    stopped_ = stopped;
}

} // namespace vellum
