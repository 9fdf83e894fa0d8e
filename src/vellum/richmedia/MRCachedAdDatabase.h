#pragma once
// MRCachedAdDatabase: the SQLite store of the rich-media engine, at
// Library/Vellum/MRAdCache/MRAdCache.sql beside one folder per cached ad. It keeps the cached
// ads with all their settings, the impressions of the current run, the web views registered
// as ad slots, the timestamps of impressions for the per-ad and application caps, and the
// application cap row.
//
// Every value reaches SQL as a bound parameter; changes that belong together (an ad row and
// its image, an ad and its cap rows, a web-view slot's fields) run in one transaction that is
// rolled back on failure, so a failing operation leaves the store as it was.
//
// Ownership: one shared instance per process, made by create() (the platform's alloc and
// init) and kept until resetForTesting(); create() answers null when the file cannot be
// opened. The tracking upload reaches it through the seam of MRAdCacheDatabaseSeam.h, which
// registerWithTrackingUpload() fills. Main thread only; no callbacks.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Geometry.h"
#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/tracking/MRAdCacheDatabaseSeam.h"
#include "vellum/tracking/MRSQLite3DB.h"

namespace vellum {

class MRCachedAdDatabase : public MRSQLite3DB, public MRAdInstructionsReceiver {
public:
    static constexpr const char* kDatabaseName = "MRAdCache";
    static constexpr const char* kSubfolder = "Vellum/MRAdCache";
    static constexpr const char* kDatabaseFileName = "MRAdCache.sql";
    static constexpr const char* kClassName = "MRCachedAdDatabase";

    // True for a name that begins with the store's file name: the store and its companions
    // (journal, write-ahead log) take such names in the cache folder, so no ad's folder may.
    static bool isStoreFileName(std::string_view name) {
        return name.substr(0, std::string_view(kDatabaseFileName).size()) == kDatabaseFileName;
    }

    // alloc and init: the shared instance, opened on first call; null when it cannot open.
    static std::shared_ptr<MRCachedAdDatabase> create();
    static std::shared_ptr<MRCachedAdDatabase> existing();
    static void resetForTesting();
    // Registers the class with the tracking upload's seam.
    static void registerWithTrackingUpload();
    ~MRCachedAdDatabase() override = default;

    bool createTables();

    // ---- Ads ----
    bool insertCachedAd(MRCachedAd& ad);
    bool updateCachedAd(MRCachedAd& ad);
    bool updateOrInsertCachedAd(MRCachedAd& ad);
    bool updateOrInsertCachedAdFromDictionary(const platform::Dictionary& d);
    bool haveAdWithID(const std::string& adID);
    bool haveAdWithID(const std::string& adID, int version);
    std::shared_ptr<MRCachedAd> adWithID(const std::string& adID);
    std::optional<std::vector<std::shared_ptr<MRCachedAd>>> retrieveAdsForSlotType(int slotType,
                                                                                   bool recursive);
    std::optional<std::vector<std::shared_ptr<MRCachedAd>>> retrieveAdsForSlotSize(platform::Size size);
    std::optional<std::vector<std::shared_ptr<MRCachedAd>>> retrieveAllAds();
    void updateAdInfo(const std::vector<std::string>& adInstructions) override;
    void fixCloseButtonNameValues();

    // ---- Impressions and selection ----
    bool saveImpressionDataForAd(const MRCachedAd& ad);
    bool incrementRunImpressionsForAdWithID(const std::string& adID);
    int runImpressionsForAdID(const std::string& adID);
    bool clearRunImpressions();
    bool saveCapImpressionDataForAd(const MRCachedAd& ad);
    std::optional<std::vector<MRAdImpressionCap>> retreiveAdCapImpressions();
    bool saveSelectionDateForAd(const MRCachedAd& ad);

    // ---- Application cap ----
    bool updateAppImpressionData(int capImpressionMax, int capImpressionTime, int capImpressionTimeType,
                                 int internalEventUploadInterval);
    std::optional<MRAppImpressionCap> getAppImpressionCapData();

    // ---- Web-view slots ----
    bool incrementWebViewLocatingForAdSlotID(const std::string& slotID, const std::string& currentAdID,
                                             int adSlotType, platform::Size adSlotSize,
                                             const std::optional<StringList>& blockList,
                                             const std::optional<StringList>& slotTargetKeywords,
                                             const std::string& currentWebView);
    std::optional<MRSlotData> slotWithWebView(const std::string& currentWebView);
    bool clearWebViewLocating();

    // ---- Clean-up ----
    void deleteExpiredAds();
    bool deleteCachedAdWithID(const std::string& adID);
    bool deleteCapImpressionsforAdWithID(const std::string& adID);
    void cleanUpCacheFolder();

private:
    MRCachedAdDatabase();
    void migrate();
    void applyCloseButtonRule(MRCachedAd& ad);
    std::optional<std::vector<std::shared_ptr<MRCachedAd>>>
    selectAds(const std::string& where, const std::vector<SQLValue>& values, const char* failureLine);
};

} // namespace vellum
