#pragma once
// VellumAdServer: fills and serves the rich-media ad cache. When it agrees to start it does
// the once-per-process housekeeping of the cache, asks the Vellum ad service for cache
// instructions (the slot-zero request), reads the reply, schedules the bundle downloads
// (several parallel chains of MRCachedAdLoader) and the close-button downloads, and picks
// ads for slots (selection, in VellumAdSelection.cpp).
//
// Ownership: one shared instance per process, created by create() (the platform's alloc and
// init) and kept for the process; create() answers null while the server refuses to start
// (tracking library shut down, version disagreement), and every later lookup then answers
// null too. resetForTesting() drops it with every process-wide value.
//
// Threads: main thread only. The delayed cache-load attempts run on the run loop of the
// thread that started the server; the slot-zero connection and the loaders deliver their
// callbacks on the main run loop. A slot-zero connection replaced by a newer one is
// cancelled, and any callback of a connection that is not the current one is ignored.
//
// Seams for the display side and the close-button half: VellumAdSlot is what an ad view
// tells selection about its slot; VellumCloseButtonCatalog is the close-button database
// and loader, installed with setCloseButtonCatalog(); VellumAdViewControllerBase is what
// adViewControllerForAd() makes from the class table.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ZipUnpacker.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Geometry.h"
#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/tracking/MRSlotZeroResponse.h"

namespace vellum {

class MRCachedAdDatabase;

// What a slot (an ad view) tells selection.
class VellumAdSlot {
public:
    virtual ~VellumAdSlot() = default;
    virtual int adSlotType() const = 0;
    virtual platform::Size adSlotSize() const = 0;
    virtual std::optional<std::string> adSlotKey() const = 0;
    virtual std::optional<StringList> adSlotKeywords() const = 0;
    virtual std::optional<StringList> adBlockKeywords() const = 0;
};

// Optional observer of cache loads; held weakly. Called on the main thread.
class AdServerDelegate {
public:
    virtual ~AdServerDelegate() = default;
    virtual void adRequestCompleted() {}
    virtual void adRequestFailed() {}
    virtual void downloadingAd(int number, int of) { (void)number, (void)of; }
};

// The close-button cache as the ad server needs it.
class VellumCloseButtonCatalog {
public:
    virtual ~VellumCloseButtonCatalog() = default;
    // Whether a cached close button has exactly this name.
    virtual bool hasCloseButtonNamed(std::string_view name) const = 0;
    // Starts the download of the close-button bundle `name` from `url`.
    virtual void downloadCloseButton(const std::string& name, const platform::URL& url) = 0;
};

// The base of the controllers that show ads; they register under their class names in
// platform::ClassTable as this type.
class VellumAdViewControllerBase {
public:
    virtual ~VellumAdViewControllerBase() = default;
};

// Caps on what an archive may unpack to.
using VellumZipLimits = archive::ZipLimits;

class VellumAdServer : public std::enable_shared_from_this<VellumAdServer>,
                       public platform::URLConnectionDelegate {
public:
    static constexpr const char* kVersionString = "2.4";
    static constexpr int kBuildNumber = 6;
    static constexpr int kPrivateBuildNumber = 0;
    static constexpr const char* kDefaultUserAgent =
        "Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_2 like Mac OS X; en-us) AppleWebKit/531.21.10 (KHTML, "
        "like Gecko) Mobile/7W367a Safari/531.21.10";
    static constexpr const char* kDefaultCloseButtonName = "PageCurlCornerCloseAd1";
    // User-defaults keys.
    static constexpr const char* kLastCacheLoadDateKey = "MRLastCacheLoadDate";
    static constexpr const char* kAttemptsSinceLastCacheLoadKey = "MRAttemptsSinceLastCacheLoad";
    // Largest slot-zero reply accepted.
    static constexpr std::int64_t kMaxSlotZeroReplyBytes = 4 * 1024 * 1024;
    // Retry passes over offers left unconfirmed, per reply.
    static constexpr int kMaxDownloadPasses = 3;

    using RandomSource = std::function<std::uint32_t()>;

    // alloc and init: the shared server, created on first call; null while it refuses.
    static std::shared_ptr<VellumAdServer> create();
    // The shared server when it exists (no creation).
    static std::shared_ptr<VellumAdServer> existing();
    static void resetForTesting();
    ~VellumAdServer() override;

    static std::string versionString() { return kVersionString; }
    static int buildNumber() { return kBuildNumber; }
    static int privateBuildNumber() { return kPrivateBuildNumber; }
    static std::string cachedAdsFolderPath();
    static std::string cachedCloseButtonsFolderPath();
    static std::string configURL();
    static std::string configLibURL();
    static void setConfigURL(std::string_view url);
    // Unpacks an ad or close-button bundle's folder `folder` (the ad id or the close button's
    // name) as `destination`/`folder`: entry by entry into a staging folder, refusing entries
    // outside that folder, absolute paths, "..", links, too many entries, too many bytes and
    // entries not read whole; the folder is moved into place only when all of it was read.
    // "__MACOSX" is skipped. Answers whether the folder was unpacked; on failure nothing in
    // `destination` changed.
    static bool expandZipFileAtPath(const std::string& archive, const std::string& destination,
                                    const std::string& folder, const VellumZipLimits& limits = {});

    // ---- Start-up and cache load ----
    void start();
    void houseKeeping();
    void attemptCacheLoad();
    void startCacheLoad();
    // nullopt when the configured ad server URL is not a URL.
    std::optional<platform::URLRequest> slotZeroURLRequest();
    void processReceivedData();
    void recordCacheLoadSuccess();
    void recordCacheLoadFail();
    void setInternalEventUpload(int n);

    // ---- Slots registered by web views ----
    void prepareWithWebViewWithSize(platform::Size size, const std::string& slotName,
                                    const std::optional<StringList>& keywords,
                                    const std::optional<StringList>& blockKeywords,
                                    const std::string& webView);
    void prepareWithWebView(int slotType, const std::string& slotName,
                            const std::optional<StringList>& keywords,
                            const std::optional<StringList>& blockKeywords, const std::string& webView);
    bool incrementRunForecastingForAdSlotID(const std::string& slotID);
    bool saveImpressionDataForAd(const MRCachedAd& ad);
    bool saveCapImpressionDataForAd(const MRCachedAd& ad);
    static platform::Rect determineAppResolution();

    // ---- Bundle downloads ----
    void downloadAdsFromAdServer(const MRSlotZeroResponse& reply);
    void downloadNextAd(const std::optional<std::string>& adID, bool onDevice, bool downloaded);
    bool downloadAd(const MRAdDownload& offer);
    static bool isManualMediaDownload();
    static bool isMediaOverrideDisabled();
    void pauseMediaDownload();
    void resumeMediaDownload();

    // ---- Close buttons ----
    void verfiyThenDownloadCloseButtonByName(const std::string& name);
    bool blockedByCloseButtonNameAvailability(const std::optional<std::string>& name) const;
    void downloadAnyNewCloseButtons();
    void setCloseButtonCatalog(std::shared_ptr<VellumCloseButtonCatalog> catalog) {
        closebuttonDB_ = std::move(catalog);
    }
    const std::vector<std::string>& runningCloseButtonDownloads() const;

    // ---- Selection ----
    std::shared_ptr<MRCachedAd> nextAdForAdView(const VellumAdSlot& view);
    std::vector<std::shared_ptr<MRCachedAd>> availableAdsForAdView(const VellumAdSlot& view);
    std::vector<std::shared_ptr<MRCachedAd>>
    qualifiedAdsFromList(const std::vector<std::shared_ptr<MRCachedAd>>& list, const VellumAdSlot& view);
    bool qualifiedAd(const MRCachedAd& ad, const std::optional<std::string>& adSlotKey);
    std::shared_ptr<MRCachedAd> nextAdFromList(const std::vector<std::shared_ptr<MRCachedAd>>& list,
                                               const std::optional<std::string>& key,
                                               const std::optional<StringList>& keywords,
                                               const std::optional<StringList>& blockKeywords);
    std::shared_ptr<MRCachedAd>
    nextAdFromRotation(const std::vector<std::shared_ptr<MRCachedAd>>& candidates);
    bool isAdValidForSlot(const MRCachedAd& ad, const std::optional<std::string>& key,
                          const std::optional<StringList>& keywords,
                          const std::optional<StringList>& blockKeywords);
    bool adFitsSlot(const MRSlotData& slot, const std::string& adID);
    std::shared_ptr<MRCachedAd> nextAdForAdViewWithIDWithoutSlot(const VellumAdSlot& view,
                                                                 const std::string& adID);
    std::shared_ptr<VellumAdViewControllerBase> adViewControllerForAd(const MRCachedAd& ad);
    static std::string nameForSlotType(int slotType);
    // The text under which a host web view is recorded as a slot.
    static std::string webViewDescription(const void* webView);
    static platform::Size frameSizeForSlotType(int slotType);
    static std::string defaultAvcClassNameForAdType(int adType);
    static std::string defaultAvcClassNameForMainFile(const std::optional<std::string>& mainFile);
    static bool isFullScreenSize(int width, int height);
    // The draw's random numbers (arc4random by default); tests install a seeded source.
    static void setRandomSource(RandomSource source);
    static std::uint32_t nextRandom();

    // ---- Fields ----
    std::shared_ptr<MRCachedAdDatabase> adDB() const { return adDB_; }
    std::weak_ptr<AdServerDelegate> delegate;
    std::string userAgent;
    int appCapImpressionMax = 0;
    int appCapImpressionTime = 0;
    int appCapImpressionTimeType = 0;
    int internalEventUploadInterval = 0;

    // URL-connection callbacks of the slot-zero request.
    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse&) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data&) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;

private:
    VellumAdServer() = default;
    void startNextPassIfDone();
    bool passedOverInManualMode(const MRAdDownload& offer) const;

    std::shared_ptr<MRCachedAdDatabase> adDB_;
    std::shared_ptr<VellumCloseButtonCatalog> closebuttonDB_;
    std::optional<platform::Data> receivedData_;
    std::optional<int> slotZeroStatus_;
    std::shared_ptr<platform::URLConnection> slotZeroConnection_;
};

} // namespace vellum
