// The ad cache database on real SQLite: stored ads read back as written (awkward values
// included), the queries' filters and order, migrations of an older store, clean-up, the
// application cap row, web-view slots, and changes that belong together rolled back whole.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>

#include "RichMediaFixture.h"

namespace {

using vellum::MRCachedAd;
using vellum::MRCachedAdDatabase;
using vellum::StringList;
namespace fs = std::filesystem;

class AdCacheDatabaseTest : public richmediatest::RichMediaFixture {
public:
    std::vector<std::string> ids(const std::optional<std::vector<std::shared_ptr<MRCachedAd>>>& ads) {
        std::vector<std::string> out;
        if (ads)
            for (const auto& ad : *ads)
                out.push_back(ad->adID.value_or("?"));
        return out;
    }
    int count(const char* sql) {
        int n = -1;
        EXPECT_TRUE(db().query(
            sql, {}, [&](const vellum::MRSQLite3DB::Row& row) { n = static_cast<int>(row.integer(0)); }));
        return n;
    }
};

TEST_F(AdCacheDatabaseTest, AdReadsBackAsStoredWithAwkwardValues) {
    MRCachedAd ad = MRCachedAd::initWithDictionary({
        {"adID", "it's-ad"},
        {"adVersion", 3},
        {"mainFile", "index.html"},
        {"clickThroughURLString", "http://example.test/?q='x'; DROP TABLE cachedAds;--"},
        {"htmlResources", platform::Dictionary{{"title", "Tom's \"page\""}}},
        {"slotTargetKeywords", platform::Array{"cars", "o'neil"}},
        {"displayTimeSlices", platform::Array{platform::Dictionary{{"startTime", 60}, {"endTime", 120}}}},
        {"trackingPixels", platform::Array{"http://pixel.test/a"}},
        {"adWeight", 2.5},
        {"startDate", 1699000000},
        {"endDate", 1800000000},
        {"minNetwork", "CDNConnected"},
        {"imageData", platform::Data{0x89, 'P', 'N', 'G'}},
    });
    ASSERT_TRUE(db().insertCachedAd(ad));
    auto back = db().adWithID("it's-ad");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->adVersion, 3);
    EXPECT_EQ(back->clickThroughURLString, ad.clickThroughURLString);
    EXPECT_EQ(back->htmlResources, ad.htmlResources);
    EXPECT_EQ(back->slotTargetKeywords, (StringList{"cars", "o'neil"}));
    EXPECT_EQ(back->displayTimeSlices, ad.displayTimeSlices);
    EXPECT_EQ(back->trackingPixels, ad.trackingPixels);
    EXPECT_FLOAT_EQ(back->adWeight, 2.5f);
    EXPECT_EQ(back->minimumNetwork, 1);
    EXPECT_EQ(back->image, ad.image);
    EXPECT_EQ(back->startDate->secondsSince1970, ad.startDate->secondsSince1970);
    // Empty lists and missing strings read back as nil; the ad without a user agent gets the server's.
    EXPECT_FALSE(back->blockList);
    EXPECT_FALSE(back->slotTargetKey);
    EXPECT_EQ(back->userAgent, vellum::VellumAdServer::kDefaultUserAgent);
    EXPECT_EQ(count("select count(*) from cachedAds"), 1);
}

TEST_F(AdCacheDatabaseTest, UpdateKeepsImpressionsAndLastDisplay) {
    MRCachedAd ad = storeAd("u1", {{"maxImpressions", 10}});
    ad.impressions = 4;
    ASSERT_TRUE(db().saveImpressionDataForAd(ad));
    ad.lastDisplayDate = platform::Date{kStartTime};
    ASSERT_TRUE(db().saveSelectionDateForAd(ad));
    MRCachedAd update = MRCachedAd::initWithDictionary({{"adID", "u1"}, {"maxImpressions", 20}});
    ASSERT_TRUE(db().updateOrInsertCachedAd(update));
    auto back = db().adWithID("u1");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->maxImpressions, 20);
    EXPECT_EQ(back->impressions, 4);
    EXPECT_DOUBLE_EQ(back->lastDisplayDate->secondsSince1970, kStartTime);
    MRCachedAd noID;
    EXPECT_FALSE(db().updateCachedAd(noID));
    EXPECT_FALSE(db().insertCachedAd(noID));
}

TEST_F(AdCacheDatabaseTest, SlotTypeQueryOrdersAndFollowsInterstitialTypes) {
    struct Row {
        const char* id;
        int type;
        double lastDisplay;
        int impressions;
    };
    const Row rows[] = {{"six-late", 6, 300, 0}, {"six-early", 6, 100, 0}, {"five", 5, 50, 0},
                        {"seven", 7, 10, 0},     {"three", 3, 0, 0},       {"six-spent", 6, 0, 1}};
    for (const auto& r : rows) {
        MRCachedAd ad = storeAd(r.id, {{"adSlotType", r.type}, {"maxImpressions", 1}});
        ad.lastDisplayDate = platform::Date{r.lastDisplay};
        db().saveSelectionDateForAd(ad);
        ad.impressions = r.impressions;
        db().saveImpressionDataForAd(ad);
    }
    EXPECT_EQ(ids(db().retrieveAdsForSlotType(6, true)),
              (std::vector<std::string>{"six-early", "six-late", "five", "seven"}));
    EXPECT_EQ(ids(db().retrieveAdsForSlotType(6, false)),
              (std::vector<std::string>{"six-early", "six-late"}));
    EXPECT_EQ(ids(db().retrieveAdsForSlotSize({320, 50})), (std::vector<std::string>{"three"}));
    EXPECT_EQ(ids(db().retrieveAllAds()).size(), 6u);
    EXPECT_FALSE(db().adWithID("six-spent"));
}

TEST_F(AdCacheDatabaseTest, OlderStoreGainsMissingColumns) {
    fs::create_directories(cacheFolder());
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open((cacheFolder() / "MRAdCache.sql").c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(raw,
                         "CREATE TABLE webViewLocating (currentWebView CHAR(50) NOT NULL PRIMARY KEY, "
                         "requests INT NOT NULL, currentadID TEXT, adSlotType INTEGER NOT NULL, blockList "
                         "TEXT, slotTargetKeywords TEXT, adSlotID CHAR(50));"
                         "CREATE TABLE runForecasting (adSlotID CHAR(50) NOT NULL PRIMARY KEY, requests INT "
                         "NOT NULL, currentadID TEXT, adSlotType INTEGER NOT NULL, blockList TEXT, "
                         "slotTargetKeywords TEXT);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(raw);
    }
    for (const char* table : {"webViewLocating", "runForecasting"}) {
        EXPECT_TRUE(db().columnNamed("adSlotWidth", table)) << table;
        EXPECT_TRUE(db().columnNamed("adSlotHeight", table)) << table;
    }
}

TEST_F(AdCacheDatabaseTest, HousekeepingRemovesExpiredAdsWithTheirRowsAndFolders) {
    storeAd("live", {{"endDate", kStartTime + 1000}});
    MRCachedAd expired = storeAd("expired", {{"endDate", kStartTime - 1000}});
    MRCachedAd noEnd = MRCachedAd::initWithDictionary({{"adID", "no-end"}});
    ASSERT_TRUE(db().insertCachedAd(noEnd));
    makeFolder("no-end");
    // An expired record named like the store: the store file is not its folder.
    MRCachedAd storeNamed =
        MRCachedAd::initWithDictionary({{"adID", "MRAdCache.sql"}, {"endDate", kStartTime - 1000}});
    ASSERT_TRUE(db().insertCachedAd(storeNamed));
    auto s = server();
    expired.recordImpressionForCap();
    db().incrementRunImpressionsForAdWithID("expired");
    fs::create_directories(cacheFolder() / "orphan");
    db().deleteExpiredAds();
    db().cleanUpCacheFolder();
    EXPECT_TRUE(db().haveAdWithID("live"));
    EXPECT_FALSE(db().haveAdWithID("expired"));
    EXPECT_FALSE(db().haveAdWithID("no-end"));
    EXPECT_EQ(count("select count(*) from adImpressionCap"), 0);
    EXPECT_EQ(count("select count(*) from runImpressions"), 0);
    EXPECT_TRUE(fs::exists(cacheFolder() / "live"));
    EXPECT_FALSE(fs::exists(cacheFolder() / "expired"));
    EXPECT_FALSE(fs::exists(cacheFolder() / "orphan"));
    EXPECT_TRUE(fs::exists(cacheFolder() / "MRAdCache.sql"));
    EXPECT_FALSE(db().haveAdWithID("MRAdCache.sql")) << "its rows went";
}

TEST_F(AdCacheDatabaseTest, ImpressionUpdateIsAllOrNothing) {
    MRCachedAd ad = storeAd("tx");
    ad.impressions = 7;
    ASSERT_TRUE(db().execute("DROP TABLE runImpressions"));
    EXPECT_FALSE(db().saveImpressionDataForAd(ad));
    EXPECT_EQ(count("select impressions from cachedAds where adID = 'tx'"), 0)
        << "the lifetime count is not stored when the run count cannot be";
}

TEST_F(AdCacheDatabaseTest, ApplicationCapRowIsWrittenThenUpdated) {
    EXPECT_FALSE(db().getAppImpressionCapData());
    ASSERT_TRUE(db().updateAppImpressionData(1, 2, 1, 30));
    ASSERT_TRUE(db().updateAppImpressionData(5, 6, 2, -1));
    auto row = db().getAppImpressionCapData();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->appCapImpressionMax, 5);
    EXPECT_EQ(row->appCapImpressionTime, 6);
    EXPECT_EQ(row->appCapImpressionTimeType, 2);
    EXPECT_EQ(row->internalEventUploadInterval, -1);
    EXPECT_EQ(count("select count(*) from appImpressionCap"), 1);
}

TEST_F(AdCacheDatabaseTest, WebViewSlotsAreCountedAndCleared) {
    EXPECT_FALSE(db().incrementWebViewLocatingForAdSlotID("Home", "", 0, {320, 50}, StringList{"kids"},
                                                          StringList{"cars"}, "view-1"));
    EXPECT_TRUE(db().incrementWebViewLocatingForAdSlotID("Feed", "", 3, {300, 75}, std::nullopt, std::nullopt,
                                                         "view-1"));
    db().incrementWebViewLocatingForAdSlotID("Other", "", 0, {1, 1}, std::nullopt, std::nullopt, "view-2");
    auto slot = db().slotWithWebView("view-1");
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->requests, 2);
    EXPECT_EQ(slot->adSlotID, "Feed");
    EXPECT_EQ(slot->adSlotType, 0) << "the slot type of an existing row stays";
    EXPECT_EQ(slot->adSlotWidth, 300);
    EXPECT_EQ(slot->adSlotHeight, 75);
    EXPECT_FALSE(slot->blockList);
    EXPECT_TRUE(db().clearWebViewLocating());
    EXPECT_FALSE(db().slotWithWebView("view-1"));
    EXPECT_FALSE(db().slotWithWebView("view-2"));
}

TEST_F(AdCacheDatabaseTest, CloseButtonRuleAndFullScreenFix) {
    auto s = server();
    MRCachedAd shown = MRCachedAd::initWithDictionary({{"adID", "cb"}, {"displaysCloseButton", true}});
    ASSERT_TRUE(db().insertCachedAd(shown));
    EXPECT_EQ(db().adWithID("cb")->closeButtonLibID, "PageCurlCornerCloseAd1");
    EXPECT_EQ(s->runningCloseButtonDownloads(), (std::vector<std::string>{"PageCurlCornerCloseAd1"}));
    ASSERT_TRUE(db().execute("UPDATE cachedAds SET closeButtonLibID = NULL, width = 480, height = 320"));
    db().fixCloseButtonNameValues();
    EXPECT_EQ(db().adWithID("cb")->closeButtonLibID, "PageCurlCornerCloseAd1");
}

} // namespace
