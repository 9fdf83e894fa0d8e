#include "vellum/richmedia/MRCachedAdDatabase.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Screen.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/MRReachability.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

std::shared_ptr<MRCachedAdDatabase>& sharedSlot() {
    static std::shared_ptr<MRCachedAdDatabase> shared;
    return shared;
}

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

double nowSeconds() {
    return platform::Clock::current().now();
}

// Timestamps at or below this magnitude read back as "no date".
constexpr double kNoDateThreshold = 0.1;

// The tables, created in this order.
constexpr const char* kCreateStatements[] = {
    "CREATE TABLE IF NOT EXISTS cachedAds (adID CHAR(50) NOT NULL PRIMARY KEY, fetchTimestamp REAL NOT NULL, "
    "lastModTimestamp REAL, lastDisplayTimestamp REAL, adType INTEGER NOT NULL, adSlotType INTEGER NOT NULL, "
    "adClipType INTEGER NOT NULL, width INT NOT NULL, height INT NOT NULL, expandedWidth INT, expandedHeight "
    "INT, "
    "image BLOB, imageName TEXT, clickThroughURLString TEXT, htmlResources TEXT, otherResources TEXT, "
    "impressions INT NOT NULL, maxImpressions INT NOT NULL, maxRunImpressions INT NOT NULL, startTimestamp "
    "REAL, "
    "endTimestamp REAL, displayTimeSlices TEXT, blockList TEXT, slotTargetKey TEXT, slotTargetNames TEXT, "
    "slotTargetKeywords TEXT, avcClassName TEXT, mainFile TEXT, expandedMainFile TEXT, expandedTitle TEXT, "
    "isTest INT NOT NULL, adVersion INT, minimumNetwork TEXT, displaysCloseButton INT, closeButtonLibID "
    "TEXT, "
    "closeButtonOrientation INT, adWeight FLOAT, trackingPixels TEXT, notForAdRotation INT, "
    "transparentBackground INT, userAgent TEXT, expandableType INT, offsetExpandableCorner INT, "
    "offsetExpandableX INT, offsetExpandableY INT, expandableRelocation INT, capImpressionMax INT, "
    "capImpressionTime INT, capImpressionTimeType INT);"
    "CREATE INDEX IF NOT EXISTS adIDIndx ON cachedAds(adID);"
    "CREATE INDEX IF NOT EXISTS adSlotTypeIndx ON cachedAds(adSlotType);"
    "CREATE INDEX IF NOT EXISTS lastDisplayIndx ON cachedAds(lastDisplayTimestamp);",
    "CREATE TABLE IF NOT EXISTS runImpressions (adID CHAR(50) NOT NULL PRIMARY KEY, impressions INT NOT "
    "NULL);",
    "CREATE TABLE IF NOT EXISTS runForecasting (adSlotID CHAR(50) NOT NULL PRIMARY KEY, requests INT NOT "
    "NULL, "
    "currentadID TEXT, adSlotType INTEGER NOT NULL, blockList TEXT, slotTargetKeywords TEXT, adSlotWidth "
    "INTEGER "
    "NOT NULL, adSlotHeight INTEGER NOT NULL);",
    "CREATE TABLE IF NOT EXISTS webViewLocating (currentWebView CHAR(50) NOT NULL PRIMARY KEY, requests INT "
    "NOT "
    "NULL, currentadID TEXT, adSlotType INTEGER NOT NULL, blockList TEXT, slotTargetKeywords TEXT, adSlotID "
    "CHAR(50), adSlotWidth INTEGER NOT NULL, adSlotHeight INTEGER NOT NULL);",
    "CREATE TABLE IF NOT EXISTS adImpressionCap (adIDUnique CHAR(50) NOT NULL PRIMARY KEY, adID CHAR(50) NOT "
    "NULL, timestamp REAL, adSlotWidth INT, adSlotHeight INT);",
    "CREATE TABLE IF NOT EXISTS appImpressionCap (blank INT PRIMARY KEY, appCapImpressionMax INT, "
    "appCapImpressionTime INT, appCapImpressionTimeType INT, internalEventUploadInterval INT);",
};

// Columns added to stores written by older versions, each when missing. A row with a
// `group` column adds its definitions only when that column is missing.
struct Migration {
    const char* table;
    const char* definition;
};
constexpr Migration kMigrations[] = {
    {"cachedAds", "adVersion INT"},
    {"cachedAds", "minimumNetwork TEXT"},
    {"cachedAds", "expandedMainFile TEXT"},
    {"cachedAds", "expandedWidth INT"},
    {"cachedAds", "expandedHeight INT"},
    {"cachedAds", "displaysCloseButton INT"},
    {"cachedAds", "expandedTitle TEXT"},
    {"cachedAds", "slotTargetNames TEXT"},
    {"cachedAds", "closeButtonLibID TEXT"},
    {"cachedAds", "closeButtonOrientation INT"},
    {"cachedAds", "adWeight FLOAT"},
    {"cachedAds", "trackingPixels TEXT"},
    {"cachedAds", "notForAdRotation INT"},
    {"cachedAds", "transparentBackground INT"},
    {"cachedAds", "userAgent TEXT"},
    {"cachedAds", "offsetExpandableCorner INT"},
    {"cachedAds", "expandableType INT"},
    {"cachedAds", "offsetExpandableX INT"},
    {"cachedAds", "offsetExpandableY INT"},
    {"cachedAds", "expandableRelocation INT"},
    {"cachedAds", "capImpressionMax INT"},
    {"cachedAds", "capImpressionTime INT"},
    {"cachedAds", "capImpressionTimeType INT"},
    {"webViewLocating", "adSlotWidth INT"},
    {"webViewLocating", "adSlotHeight INT"},
    {"runForecasting", "adSlotWidth INT"},
    {"runForecasting", "adSlotHeight INT"},
    {"adImpressionCap", "adIDUnique TEXT"},
    {"adImpressionCap", "adID TEXT"},
    {"adImpressionCap", "timestamp REAL"},
    {"adImpressionCap", "adSlotWidth INT"},
    {"adImpressionCap", "adSlotHeight INT"},
    {"appImpressionCap", "blank INT"},
    {"appImpressionCap", "appCapImpressionMax INT"},
    {"appImpressionCap", "appCapImpressionTime INT"},
    {"appImpressionCap", "appCapImpressionTimeType INT"},
    {"appImpressionCap", "internalEventUploadInterval INT"},
};

// The columns of cachedAds in table order; the standard select reads them in this order.
constexpr const char* kAdColumns[] = {"adID",
                                      "fetchTimestamp",
                                      "lastModTimestamp",
                                      "lastDisplayTimestamp",
                                      "adType",
                                      "adSlotType",
                                      "adClipType",
                                      "width",
                                      "height",
                                      "expandedWidth",
                                      "expandedHeight",
                                      "image",
                                      "imageName",
                                      "clickThroughURLString",
                                      "htmlResources",
                                      "otherResources",
                                      "impressions",
                                      "maxImpressions",
                                      "maxRunImpressions",
                                      "startTimestamp",
                                      "endTimestamp",
                                      "displayTimeSlices",
                                      "blockList",
                                      "slotTargetKey",
                                      "slotTargetNames",
                                      "slotTargetKeywords",
                                      "avcClassName",
                                      "mainFile",
                                      "expandedMainFile",
                                      "expandedTitle",
                                      "isTest",
                                      "adVersion",
                                      "minimumNetwork",
                                      "displaysCloseButton",
                                      "closeButtonLibID",
                                      "closeButtonOrientation",
                                      "adWeight",
                                      "trackingPixels",
                                      "notForAdRotation",
                                      "transparentBackground",
                                      "userAgent",
                                      "expandableType",
                                      "offsetExpandableCorner",
                                      "offsetExpandableX",
                                      "offsetExpandableY",
                                      "expandableRelocation",
                                      "capImpressionMax",
                                      "capImpressionTime",
                                      "capImpressionTimeType"};
constexpr std::size_t kAdColumnCount = std::size(kAdColumns);
static_assert(kAdColumnCount == 49);
// Columns an update leaves alone: the key, the counted impressions and the last display.
constexpr std::size_t kAdIDColumn = 0;
constexpr std::size_t kLastDisplayColumn = 3;
constexpr std::size_t kImpressionsColumn = 16;

std::string standardSelect() {
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < kAdColumnCount; ++i)
        sql += std::string(i ? ", " : "") + kAdColumns[i];
    return sql + " FROM cachedAds ";
}

SQLValue text(const std::optional<std::string>& s) {
    if (!s)
        return nullptr;
    return *s;
}
SQLValue integer(std::int64_t v) {
    return v;
}
SQLValue seconds(const std::optional<platform::Date>& d) {
    return d ? d->secondsSince1970 : 0.0;
}

SQLValue listText(const std::optional<StringList>& list) {
    if (!list)
        return nullptr;
    platform::Array array(list->begin(), list->end());
    return platform::Value(std::move(array)).toPropertyList();
}
SQLValue arrayText(const std::optional<platform::Array>& array) {
    if (!array)
        return nullptr;
    return platform::Value(*array).toPropertyList();
}
SQLValue dictionaryText(const std::optional<platform::Dictionary>& d) {
    if (!d)
        return nullptr;
    return platform::Value(*d).toPropertyList();
}

// The values of every column of cachedAds for `ad`, in table order.
std::vector<SQLValue> adValues(const MRCachedAd& ad, const std::string& serverUserAgent) {
    const double fetch = ad.fetchDate ? ad.fetchDate->secondsSince1970 : nowSeconds();
    return {text(ad.adID),
            fetch,
            seconds(ad.lastModDate),
            seconds(ad.lastDisplayDate),
            integer(ad.adType),
            integer(ad.adSlotType),
            integer(ad.clipType),
            integer(ad.width),
            integer(ad.height),
            integer(ad.expandedWidth),
            integer(ad.expandedHeight),
            ad.image && !ad.image->empty() ? SQLValue(*ad.image) : SQLValue(nullptr),
            text(ad.imageName),
            text(ad.clickThroughURLString),
            dictionaryText(ad.htmlResources),
            dictionaryText(ad.otherResources),
            integer(ad.impressions),
            integer(ad.maxImpressions),
            integer(ad.maxRunImpressions),
            seconds(ad.startDate),
            seconds(ad.endDate),
            arrayText(ad.displayTimeSlices),
            listText(ad.blockList),
            text(ad.slotTargetKey),
            listText(ad.slotTargetNames),
            listText(ad.slotTargetKeywords),
            text(ad.avcClassName),
            text(ad.mainFile),
            text(ad.expandedMainFile),
            text(ad.expandedTitle),
            integer(ad.isTest),
            integer(ad.adVersion),
            MRReachability::stringFromNetworkStatus(ad.minimumNetwork),
            integer(ad.displaysCloseButton),
            text(ad.closeButtonLibID),
            integer(ad.closeButtonOrientation),
            static_cast<double>(ad.adWeight),
            listText(ad.trackingPixels),
            integer(ad.notForAdRotation),
            integer(ad.transparentBackground),
            ad.userAgent ? SQLValue(*ad.userAgent) : SQLValue(serverUserAgent),
            integer(ad.expandableType),
            integer(ad.offsetExpandableCorner),
            integer(ad.offsetExpandableX),
            integer(ad.offsetExpandableY),
            integer(ad.expandableRelocation),
            integer(ad.capImpressionMax),
            integer(ad.capImpressionTime),
            integer(ad.capImpressionTimeType)};
}

std::optional<std::string> textColumn(const MRSQLite3DB::Row& row, int c) {
    auto s = row.text(c);
    if (!s || s->empty() || *s == "(null)" || *s == "null")
        return std::nullopt;
    return s;
}

std::optional<platform::Date> dateColumn(const MRSQLite3DB::Row& row, int c) {
    const double v = row.real(c);
    if (std::fabs(v) > kNoDateThreshold)
        return platform::Date{v};
    return std::nullopt;
}

std::optional<platform::Array> arrayColumn(const MRSQLite3DB::Row& row, int c) {
    auto s = row.text(c);
    if (!s || s->empty())
        return std::nullopt;
    auto v = platform::Value::fromPropertyList(*s);
    if (!v || !v->array() || v->array()->empty())
        return std::nullopt;
    return *v->array();
}

std::optional<StringList> listColumn(const MRSQLite3DB::Row& row, int c) {
    auto array = arrayColumn(row, c);
    if (!array)
        return std::nullopt;
    StringList out;
    for (const auto& v : *array)
        if (v.string())
            out.push_back(*v.string());
    return out;
}

std::optional<platform::Dictionary> dictionaryColumn(const MRSQLite3DB::Row& row, int c) {
    auto s = row.text(c);
    if (!s || s->empty())
        return std::nullopt;
    std::string error;
    auto v = platform::Value::fromPropertyList(*s, &error);
    if (!v || !v->dictionary() || v->dictionary()->empty()) {
        if (!error.empty())
            analytics().logInternal("could not extract dictionary from string: %s (%s)", s->c_str(),
                                    error.c_str());
        else
            analytics().logInternal("could not extract dictionary from string: %s:", s->c_str());
        return std::nullopt;
    }
    return *v->dictionary();
}

std::shared_ptr<MRCachedAd> adFromQueryStatement(const MRSQLite3DB::Row& row) {
    auto ad = std::make_shared<MRCachedAd>();
    int c = 0;
    ad->adID = textColumn(row, c++);
    ad->fetchDate = platform::Date{row.real(c++)};
    ad->lastModDate = dateColumn(row, c++);
    ad->lastDisplayDate = dateColumn(row, c++);
    ad->adType = platform::saturatingCast<unsigned>(row.integer(c++));
    ad->adSlotType = platform::saturatingCast<int>(row.integer(c++));
    ad->clipType = platform::saturatingCast<int>(row.integer(c++));
    ad->width = platform::saturatingCast<int>(row.integer(c++));
    ad->height = platform::saturatingCast<int>(row.integer(c++));
    ad->expandedWidth = platform::saturatingCast<int>(row.integer(c++));
    ad->expandedHeight = platform::saturatingCast<int>(row.integer(c++));
    if (auto blob = row.blob(c++); !blob.empty())
        ad->image = std::move(blob);
    ad->imageName = textColumn(row, c++);
    ad->clickThroughURLString = textColumn(row, c++);
    ad->htmlResources = dictionaryColumn(row, c++);
    ad->otherResources = dictionaryColumn(row, c++);
    ad->impressions = platform::saturatingCast<int>(row.integer(c++));
    ad->maxImpressions = platform::saturatingCast<int>(row.integer(c++));
    ad->maxRunImpressions = platform::saturatingCast<int>(row.integer(c++));
    ad->startDate = dateColumn(row, c++);
    ad->endDate = dateColumn(row, c++);
    ad->displayTimeSlices = arrayColumn(row, c++);
    ad->blockList = listColumn(row, c++);
    ad->slotTargetKey = textColumn(row, c++);
    ad->slotTargetNames = listColumn(row, c++);
    ad->slotTargetKeywords = listColumn(row, c++);
    ad->avcClassName = textColumn(row, c++);
    ad->mainFile = textColumn(row, c++);
    ad->expandedMainFile = textColumn(row, c++);
    ad->expandedTitle = textColumn(row, c++);
    ad->isTest = row.integer(c++) != 0;
    ad->adVersion = platform::saturatingCast<int>(row.integer(c++));
    ad->minimumNetwork = MRReachability::networkStatusFromString(row.text(c++).value_or(""));
    ad->displaysCloseButton = row.integer(c++) != 0;
    ad->closeButtonLibID = textColumn(row, c++);
    ad->closeButtonOrientation = platform::saturatingCast<int>(row.integer(c++));
    ad->adWeight = static_cast<float>(row.real(c++));
    ad->trackingPixels = listColumn(row, c++);
    ad->notForAdRotation = row.integer(c++) != 0;
    ad->transparentBackground = row.integer(c++) != 0;
    ad->userAgent = textColumn(row, c++);
    ad->expandableType = platform::saturatingCast<int>(row.integer(c++));
    ad->offsetExpandableCorner = platform::saturatingCast<int>(row.integer(c++));
    ad->offsetExpandableX = platform::saturatingCast<int>(row.integer(c++));
    ad->offsetExpandableY = platform::saturatingCast<int>(row.integer(c++));
    ad->expandableRelocation = platform::saturatingCast<int>(row.integer(c++));
    ad->capImpressionMax = platform::saturatingCast<int>(row.integer(c++));
    ad->capImpressionTime = platform::saturatingCast<int>(row.integer(c++));
    ad->capImpressionTimeType = platform::saturatingCast<int>(row.integer(c++));
    return ad;
}

std::string serverUserAgent() {
    if (auto server = VellumAdServer::existing())
        return server->userAgent;
    return VellumAdServer::kDefaultUserAgent;
}

int toInt(double v) {
    return platform::saturatingCast<int>(v);
}

} // namespace

MRCachedAdDatabase::MRCachedAdDatabase() : MRSQLite3DB(kDatabaseName, kSubfolder) {}

std::shared_ptr<MRCachedAdDatabase> MRCachedAdDatabase::create() {
    auto& shared = sharedSlot();
    if (shared)
        return shared;
    std::shared_ptr<MRCachedAdDatabase> db(new MRCachedAdDatabase());
    if (!db->dbOK())
        return nullptr;
    db->createTables();
    db->migrate();
    shared = db;
    return shared;
}

std::shared_ptr<MRCachedAdDatabase> MRCachedAdDatabase::existing() {
    return sharedSlot();
}

void MRCachedAdDatabase::resetForTesting() {
    sharedSlot().reset();
}

void MRCachedAdDatabase::registerWithTrackingUpload() {
    registerMRCachedAdDatabaseClass(
        []() -> std::shared_ptr<MRAdInstructionsReceiver> { return MRCachedAdDatabase::create(); });
}

bool MRCachedAdDatabase::createTables() {
    for (const char* statement : kCreateStatements)
        if (!executeScript(statement)) {
            analytics().logInternal(
                "Error creating ad db: failed to create cachedAds table with message '%s'.",
                errorMessage().c_str());
            return false;
        }
    return true;
}

void MRCachedAdDatabase::migrate() {
    for (const auto& m : kMigrations) {
        const std::string_view def(m.definition);
        const std::string column(def.substr(0, def.find(' ')));
        if (!columnNamed(column, m.table))
            addColumn(m.definition, m.table);
    }
}

// ---- Ads ----

void MRCachedAdDatabase::applyCloseButtonRule(MRCachedAd& ad) {
    if (!ad.displaysCloseButton)
        return;
    if (!ad.closeButtonLibID)
        ad.closeButtonLibID = VellumAdServer::kDefaultCloseButtonName;
    if (auto server = VellumAdServer::existing())
        server->verfiyThenDownloadCloseButtonByName(*ad.closeButtonLibID);
}

bool MRCachedAdDatabase::insertCachedAd(MRCachedAd& ad) {
    if (!ad.adID || ad.adID->empty()) {
        analytics().logInternal("attempted to add an ad without a valid ID: %s", "(null)");
        return false;
    }
    applyCloseButtonRule(ad);
    std::string sql = "INSERT INTO cachedAds (";
    std::string marks;
    for (std::size_t i = 0; i < kAdColumnCount; ++i) {
        sql += std::string(i ? ", " : "") + kAdColumns[i];
        marks += std::string(i ? ", " : "") + "?" + std::to_string(i + 1);
    }
    sql += ") VALUES (" + marks + ");";
    if (!execute(sql, adValues(ad, serverUserAgent()))) {
        analytics().logInternal("insert ad failed: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logInternal("inserted ad with id: %s", ad.adID->c_str());
    return true;
}

bool MRCachedAdDatabase::updateCachedAd(MRCachedAd& ad) {
    if (!ad.adID || ad.adID->empty()) {
        analytics().logInternal("attempted to add an ad without a valid ID: %s", ad.adID ? "" : "(null)");
        return false;
    }
    applyCloseButtonRule(ad);
    auto all = adValues(ad, serverUserAgent());
    std::vector<SQLValue> values;
    std::string sql = "UPDATE cachedAds SET ";
    for (std::size_t i = 0; i < kAdColumnCount; ++i) {
        if (i == kAdIDColumn || i == kImpressionsColumn || i == kLastDisplayColumn)
            continue;
        sql += std::string(values.empty() ? "" : ", ") + kAdColumns[i] + " = ?";
        values.push_back(all[i]);
    }
    sql += " WHERE adID = ?;";
    values.push_back(*ad.adID);
    if (!execute(sql, values)) {
        analytics().logInternal("update ad failed: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logInternal("updated ad with id: %s", ad.adID->c_str());
    return true;
}

bool MRCachedAdDatabase::updateOrInsertCachedAd(MRCachedAd& ad) {
    if (ad.adID && haveAdWithID(*ad.adID))
        return updateCachedAd(ad);
    return insertCachedAd(ad);
}

bool MRCachedAdDatabase::updateOrInsertCachedAdFromDictionary(const platform::Dictionary& d) {
    auto it = d.find("resourceDict");
    if (it == d.end() || !it->second.dictionary())
        return false;
    auto ad = MRCachedAd::initWithDictionary(*it->second.dictionary());
    if (auto cls = d.find("className"); cls != d.end() && cls->second.string())
        ad.avcClassName = *cls->second.string();
    return updateOrInsertCachedAd(ad);
}

bool MRCachedAdDatabase::haveAdWithID(const std::string& adID) {
    std::int64_t count = 0;
    if (!query("select count(*) from cachedAds where adID = ?", {adID},
               [&](const Row& row) { count = row.integer(0); })) {
        analytics().logInternal("Error checking db for ad existance: '%s'", errorMessage().c_str());
        return false;
    }
    return count > 0;
}

bool MRCachedAdDatabase::haveAdWithID(const std::string& adID, int version) {
    std::int64_t count = 0;
    if (!query("select count(*) from cachedAds where adID = ? and adVersion >= ?",
               {adID, std::int64_t{version}}, [&](const Row& row) { count = row.integer(0); })) {
        analytics().logInternal("Error checking db for ad existance: '%s'", errorMessage().c_str());
        return false;
    }
    return count > 0;
}

std::optional<std::vector<std::shared_ptr<MRCachedAd>>>
MRCachedAdDatabase::selectAds(const std::string& where, const std::vector<SQLValue>& values,
                              const char* failureLine) {
    std::vector<std::shared_ptr<MRCachedAd>> ads;
    if (!query(standardSelect() + where, values,
               [&](const Row& row) { ads.push_back(adFromQueryStatement(row)); })) {
        analytics().logInternal(failureLine, errorMessage().c_str());
        return std::nullopt;
    }
    return ads;
}

std::shared_ptr<MRCachedAd> MRCachedAdDatabase::adWithID(const std::string& adID) {
    auto ads = selectAds("WHERE impressions < maxImpressions and adID = ?;", {adID},
                         "Error checking db for ad existance: '%s'");
    if (!ads || ads->empty())
        return nullptr;
    return ads->back();
}

std::optional<std::vector<std::shared_ptr<MRCachedAd>>>
MRCachedAdDatabase::retrieveAdsForSlotType(int slotType, bool recursive) {
    auto ads =
        selectAds("WHERE impressions < maxImpressions and adSlotType = ? ORDER BY lastDisplayTimestamp ASC;",
                  {std::int64_t{slotType}}, "ads for slot type select failed: '%s'");
    constexpr int kPortraitInterstitial = 5, kLandscapeInterstitial = 6, kLandscapeMovie = 7;
    if (ads && recursive && (slotType == kPortraitInterstitial || slotType == kLandscapeInterstitial)) {
        const int other = slotType == kPortraitInterstitial ? kLandscapeInterstitial : kPortraitInterstitial;
        for (int type : {other, kLandscapeMovie})
            if (auto more = retrieveAdsForSlotType(type, false))
                ads->insert(ads->end(), more->begin(), more->end());
    }
    return ads;
}

std::optional<std::vector<std::shared_ptr<MRCachedAd>>>
MRCachedAdDatabase::retrieveAdsForSlotSize(platform::Size size) {
    return selectAds(
        "WHERE impressions < maxImpressions and width = ? and height = ? ORDER BY lastDisplayTimestamp ASC;",
        {std::int64_t{toInt(std::round(size.width))}, std::int64_t{toInt(std::round(size.height))}},
        "ads for slot size select failed: '%s'");
}

std::optional<std::vector<std::shared_ptr<MRCachedAd>>> MRCachedAdDatabase::retrieveAllAds() {
    return selectAds("", {}, "retrieve all ads failed: '%s'");
}

void MRCachedAdDatabase::updateAdInfo(const std::vector<std::string>& adInstructions) {
    for (const auto& instruction : adInstructions) {
        auto value = platform::Value::fromPropertyList(instruction);
        analytics().logInternal("ad control update from EC: %s", value ? value->toJSON().c_str() : "(null)");
        if (!value || !value->dictionary())
            continue;
        auto id = value->dictionary()->find("adID");
        if (id == value->dictionary()->end() || !id->second.string())
            continue;
        auto ad = adWithID(*id->second.string());
        if (!ad)
            continue;
        ad->updateWithDictionary(*value->dictionary());
        if (updateOrInsertCachedAd(*ad))
            analytics().logDebugOrInternal("updated ad info: %s", ad->adID->c_str());
    }
}

void MRCachedAdDatabase::fixCloseButtonNameValues() {
    const auto screen = platform::Screen::main().bounds().size;
    auto ads = retrieveAllAds();
    if (!ads)
        return;
    for (auto& ad : *ads) {
        if (!ad->displaysCloseButton || ad->closeButtonLibID)
            continue;
        const bool fullScreen = (ad->width == toInt(screen.width) && ad->height == toInt(screen.height)) ||
                                (ad->width == toInt(screen.height) && ad->height == toInt(screen.width));
        if (!fullScreen)
            continue;
        ad->closeButtonLibID = VellumAdServer::kDefaultCloseButtonName;
        updateCachedAd(*ad);
    }
}

// ---- Impressions and selection ----

bool MRCachedAdDatabase::saveImpressionDataForAd(const MRCachedAd& ad) {
    if (!ad.adID)
        return false;
    const bool saved = runInTransaction([&] {
        return execute("UPDATE cachedAds set impressions = ? where adID = ?;",
                       {std::int64_t{ad.impressions}, *ad.adID}) &&
               incrementRunImpressionsForAdWithID(*ad.adID);
    });
    if (!saved) {
        analytics().logInternal("error updating ad impressions: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logInternal("updated ad impressions for: %s", ad.adID->c_str());
    return true;
}

bool MRCachedAdDatabase::incrementRunImpressionsForAdWithID(const std::string& adID) {
    if (!execute("insert into runImpressions (adID, impressions) values (?, 1) "
                 "on conflict(adID) do update set impressions = impressions + 1;",
                 {adID})) {
        analytics().logInternal("Error updating impression record for ad: '%s'.", errorMessage().c_str());
        return false;
    }
    return true;
}

int MRCachedAdDatabase::runImpressionsForAdID(const std::string& adID) {
    int count = 0;
    if (!query("select impressions from runImpressions where adID = ?", {adID},
               [&](const Row& row) { count = platform::saturatingCast<int>(row.integer(0)); }))
        analytics().logInternal("run impressions select failed: '%s'", errorMessage().c_str());
    return count;
}

bool MRCachedAdDatabase::clearRunImpressions() {
    if (!execute("update runImpressions set impressions = 0")) {
        analytics().logInternal("Error clearing run impressions: '%s'.", errorMessage().c_str());
        return false;
    }
    return true;
}

bool MRCachedAdDatabase::saveCapImpressionDataForAd(const MRCachedAd& ad) {
    if (!ad.adID)
        return false;
    const double t = nowSeconds();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%.7f", t);
    // Two impressions within one timestamp's precision still count twice.
    if (!execute("INSERT INTO adImpressionCap(adIDUnique,adID,timeStamp,adSlotWidth,adSlotHeight) "
                 "VALUES(?1 || ?2 || (SELECT CASE WHEN count(*) = 0 THEN '' ELSE '#' || count(*) END "
                 "FROM adImpressionCap WHERE adID = ?1 AND timestamp = ?3),?1,?3,?4,?5);",
                 {*ad.adID, std::string(stamp), t, std::int64_t{ad.width}, std::int64_t{ad.height}})) {
        analytics().logInternal("error updating ad impressions: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logInternal("updated ad impressions for: %s", ad.adID->c_str());
    return true;
}

std::optional<std::vector<MRAdImpressionCap>> MRCachedAdDatabase::retreiveAdCapImpressions() {
    std::vector<MRAdImpressionCap> rows;
    if (!query("SELECT adIDUnique,adID,timestamp,adSlotWidth,adSlotHeight FROM adImpressionCap", {},
               [&](const Row& row) {
                   rows.push_back({row.text(0).value_or(""), row.text(1).value_or(""), row.real(2),
                                   platform::saturatingCast<int>(row.integer(3)), platform::saturatingCast<int>(row.integer(4))});
               })) {
        analytics().logInternal("retrieve all ads failed: '%s'", errorMessage().c_str());
        return std::nullopt;
    }
    return rows;
}

bool MRCachedAdDatabase::saveSelectionDateForAd(const MRCachedAd& ad) {
    if (!ad.adID)
        return false;
    const double t = ad.lastDisplayDate ? ad.lastDisplayDate->secondsSince1970 : nowSeconds();
    if (!execute("UPDATE cachedAds set lastDisplayTimestamp = ? where adID = ?;", {t, *ad.adID})) {
        analytics().logInternal("error updating ad display timestamp: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logInternal("updated ad display timestamp for: %s", ad.adID->c_str());
    return true;
}

// ---- Application cap ----

bool MRCachedAdDatabase::updateAppImpressionData(int capImpressionMax, int capImpressionTime,
                                                 int capImpressionTimeType, int internalEventUploadInterval) {
    constexpr std::int64_t kBlank = 1;
    if (!execute("INSERT INTO appImpressionCap(blank,appCapImpressionMax,appCapImpressionTime,"
                 "appCapImpressionTimeType,internalEventUploadInterval) VALUES(?,?,?,?,?) "
                 "ON CONFLICT(blank) DO UPDATE SET appCapImpressionMax = excluded.appCapImpressionMax, "
                 "appCapImpressionTime = excluded.appCapImpressionTime, "
                 "appCapImpressionTimeType = excluded.appCapImpressionTimeType, "
                 "internalEventUploadInterval = excluded.internalEventUploadInterval;",
                 {kBlank, std::int64_t{capImpressionMax}, std::int64_t{capImpressionTime},
                  std::int64_t{capImpressionTimeType}, std::int64_t{internalEventUploadInterval}})) {
        analytics().logInternal("error updating ad display timestamp: '%s'", errorMessage().c_str());
        return false;
    }
    analytics().logInternal("updated App Impression Data");
    return true;
}

std::optional<MRAppImpressionCap> MRCachedAdDatabase::getAppImpressionCapData() {
    std::optional<MRAppImpressionCap> cap;
    query("SELECT blank,appCapImpressionMax,appCapImpressionTime,appCapImpressionTimeType,"
          "internalEventUploadInterval FROM appImpressionCap WHERE blank = 1;",
          {}, [&](const Row& row) {
              cap = MRAppImpressionCap{platform::saturatingCast<int>(row.integer(0)), platform::saturatingCast<int>(row.integer(1)),
                                       platform::saturatingCast<int>(row.integer(2)), platform::saturatingCast<int>(row.integer(3)),
                                       platform::saturatingCast<int>(row.integer(4))};
          });
    return cap;
}

// ---- Web-view slots ----

bool MRCachedAdDatabase::incrementWebViewLocatingForAdSlotID(
    const std::string& slotID, const std::string& currentAdID, int adSlotType, platform::Size adSlotSize,
    const std::optional<StringList>& blockList, const std::optional<StringList>& slotTargetKeywords,
    const std::string& currentWebView) {
    std::int64_t count = 0;
    if (!query("select count(*) from webViewLocating where currentWebView = ?", {currentWebView},
               [&](const Row& row) { count = row.integer(0); })) {
        analytics().logInternal("Error checking run webViewLocating for currentWebView existance: '%s'",
                                errorMessage().c_str());
        return false;
    }
    const std::int64_t w = toInt(adSlotSize.width), h = toInt(adSlotSize.height);
    if (count > 0) {
        const bool updated = runInTransaction([&] {
            return execute(
                "update webViewLocating set requests = requests+1, currentadID = ?, blockList = ?, "
                "slotTargetKeywords = ?, adSlotID = ?, adSlotWidth = ?, adSlotHeight = ? "
                "where currentWebView = ?;",
                {currentAdID, listText(blockList), listText(slotTargetKeywords), slotID, w, h,
                 currentWebView});
        });
        if (!updated)
            analytics().logInternal("Error updating webViewLocating record for currentWebView: '%s'.",
                                    errorMessage().c_str());
        return updated;
    }
    if (!execute(
            "insert into webViewLocating (currentWebView, requests, currentadID, adSlotType, blockList, "
            "slotTargetKeywords, adSlotID, adSlotWidth, adSlotHeight) values (?, 1, ?, ?, ?, ?, ?, ?, ?);",
            {currentWebView, currentAdID, std::int64_t{adSlotType}, listText(blockList),
             listText(slotTargetKeywords), slotID, w, h}))
        analytics().logInternal("Error creating webViewLocating record for adSlot: '%s'.",
                                errorMessage().c_str());
    return false;
}

std::optional<MRSlotData> MRCachedAdDatabase::slotWithWebView(const std::string& currentWebView) {
    std::optional<MRSlotData> slot;
    if (!query("SELECT currentWebView,requests,currentadID,adSlotType,blockList,slotTargetKeywords,adSlotID,"
               "adSlotWidth,adSlotHeight FROM webViewLocating WHERE currentWebView = ?;",
               {currentWebView}, [&](const Row& row) {
                   slot = MRSlotData{row.text(0).value_or(""),
                                     platform::saturatingCast<int>(row.integer(1)),
                                     row.text(2).value_or(""),
                                     platform::saturatingCast<int>(row.integer(3)),
                                     listColumn(row, 4),
                                     listColumn(row, 5),
                                     textColumn(row, 6),
                                     platform::saturatingCast<int>(row.integer(7)),
                                     platform::saturatingCast<int>(row.integer(8))};
               }))
        analytics().logInternal("Error checking db for ad existance: '%s'", errorMessage().c_str());
    return slot;
}

bool MRCachedAdDatabase::clearWebViewLocating() {
    // Web views of an earlier run are gone: their rows are forgotten.
    if (!execute("delete from webViewLocating")) {
        analytics().logInternal("Error clearing webViewLocating: '%s'.", errorMessage().c_str());
        return false;
    }
    return true;
}

// ---- Clean-up ----

void MRCachedAdDatabase::deleteExpiredAds() {
    std::vector<std::string> ids;
    if (!query("SELECT adID FROM cachedAds WHERE endTimestamp <= ?", {nowSeconds()}, [&](const Row& row) {
            if (auto id = row.text(0))
                ids.push_back(*id);
        })) {
        analytics().logInternal("expired ads select failed: '%s'", errorMessage().c_str());
        return;
    }
    for (const auto& id : ids) {
        deleteCachedAdWithID(id);
        deleteCapImpressionsforAdWithID(id);
    }
}

bool MRCachedAdDatabase::deleteCachedAdWithID(const std::string& adID) {
    // An id named like the store names the store's own files, never an ad's folder.
    auto component = platform::FileManager::safePathComponent(adID);
    if (!component || isStoreFileName(*component))
        return false;
    const auto folder = std::filesystem::path(VellumAdServer::cachedAdsFolderPath()) / *component;
    if (!platform::DeviceHome::isOwnFolder(folder.parent_path()))
        return false; // a link or a file at the cache's name is not the app's to delete under
    if (!platform::FileManager::fileExists(folder))
        return true;
    platform::Error error;
    if (!platform::FileManager::removeItem(folder, &error)) {
        analytics().logInternal("error deleting cached ad folder (%s): %s", adID.c_str(),
                                error.localizedDescription.c_str());
        return false;
    }
    analytics().logInternal("deleted folder for expired ad: %s", adID.c_str());
    return true;
}

bool MRCachedAdDatabase::deleteCapImpressionsforAdWithID(const std::string& adID) {
    const bool deleted = runInTransaction([&] {
        return execute("DELETE FROM adImpressionCap WHERE adID = ?", {adID}) &&
               execute("DELETE FROM runImpressions WHERE adID = ?", {adID}) &&
               execute("DELETE FROM cachedAds WHERE adID = ?", {adID});
    });
    if (!deleted)
        analytics().logInternal("expired ads select failed: '%s'", errorMessage().c_str());
    return deleted;
}

void MRCachedAdDatabase::cleanUpCacheFolder() {
    const std::filesystem::path folder = VellumAdServer::cachedAdsFolderPath();
    if (!platform::DeviceHome::isOwnFolder(folder))
        return;
    auto entries = platform::FileManager::contentsOfDirectory(folder);
    if (!entries)
        return;
    for (const auto& name : *entries) {
        // The store itself and its companions (journal, write-ahead log) stay.
        if (isStoreFileName(name) || haveAdWithID(name))
            continue;
        analytics().logDebugOrInternal("deleting orphaned item from cache folder: %s", name.c_str());
        platform::FileManager::removeItem(folder / name);
    }
}

} // namespace vellum
