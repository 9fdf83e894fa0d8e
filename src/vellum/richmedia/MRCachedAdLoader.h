#pragma once
// MRCachedAdLoader: fetches one ad bundle offered by the ad service into a temporary file,
// unpacks it into the ad cache folder, records the ad in the ad cache database, posts
// "MRNewAdDidDownloadNotification" with the record, and reports back to the ad server's
// download chain (downloadNextAd).
//
// Ownership: made by the ad server for one offer and released at once; the running URL
// connection keeps it alive until the load ends. Callbacks arrive on the main run loop.
// A reply with a status outside 200-299 is a failure. Once stopped (the application is
// terminating) a load that was running counts as failed, once.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "vellum/richmedia/BundleFile.h"
#include "vellum/richmedia/MRCachedAd.h"

namespace vellum {

inline constexpr const char* MRNewAdDidDownloadNotification = "MRNewAdDidDownloadNotification";
inline constexpr const char* kMRADAdFetchFailEvent = "MRADAdFetchFail";

class MRCachedAdLoader : public platform::URLConnectionDelegate,
                         public std::enable_shared_from_this<MRCachedAdLoader> {
public:
    // Largest bundle accepted.
    static constexpr std::int64_t kMaxBundleBytes = 64 * 1024 * 1024;

    static std::shared_ptr<MRCachedAdLoader> create();
    ~MRCachedAdLoader() override;

    bool downloadAd(const std::string& adID, int version,
                    const std::optional<platform::Dictionary>& controlPlist, const platform::URL& url);
    bool startAdLoadFromURL(const platform::URL& url);
    static platform::URLRequest requestForURL(const platform::URL& url);
    bool processDownloadedAdBundle();
    bool expandDownloadedAdBundle();
    std::shared_ptr<MRCachedAd> updateDatabaseWithDownloadedAd();
    void updataDatabaseWithControlPlist();
    void setStopped(bool stopped);

    std::string adID;
    int adVersion = 0;
    std::optional<platform::Dictionary> adControlPlist;
    // The downloaded bundle's temporary file, while the load runs.
    const std::optional<std::string>& filePath() const { return file_.path(); }
    bool loading = false;
    bool stopped() const { return stopped_; }

    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse&) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data&) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;

private:
    MRCachedAdLoader() = default;
    void endLoad(bool ok);

    bool stopped_ = false;
    BundleFile file_;
    std::shared_ptr<platform::URLConnection> connection_;
    std::optional<platform::NotificationCenter::ObserverToken> terminateToken_;
};

} // namespace vellum
