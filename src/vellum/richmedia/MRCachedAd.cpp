#include "vellum/richmedia/MRCachedAd.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/FileManager.h"
#include "platform/runloop/Clock.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/MRReachability.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kSecondsPerHour = 3600;

// Full-screen slot sizes counted by the application cap: (height, width).
struct ScreenSize {
    int height;
    int width;
};
constexpr ScreenSize kAppCapSizes[] = {{320, 480}, {480, 320}, {1024, 768}, {768, 1024}};

platform::Date now() {
    return platform::Clock::current().date();
}

std::uint32_t drawRandomValue() {
    static std::random_device device;
    return device();
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

const platform::Value* find(const platform::Dictionary& d, std::string_view key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : &it->second;
}

std::optional<std::string> stringOf(const platform::Dictionary& d, std::string_view key) {
    if (auto v = find(d, key); v && v->string())
        return *v->string();
    return std::nullopt;
}

// intValue: numbers, and texts that start with a number; anything else 0.
int intOf(const platform::Value* v, int fallback = 0) {
    if (!v)
        return fallback;
    if (auto n = v->number())
        return platform::saturatingCast<int>(*n);
    if (auto s = v->string())
        return platform::saturatingCast<int>(std::strtoll(s->c_str(), nullptr, 10));
    return 0;
}

bool boolOf(const platform::Value* v) {
    if (!v)
        return false;
    if (auto n = v->number())
        return *n != 0;
    if (auto s = v->string())
        return !s->empty() && (std::tolower(static_cast<unsigned char>((*s)[0])) == 'y' ||
                               std::tolower(static_cast<unsigned char>((*s)[0])) == 't' ||
                               ((*s)[0] >= '1' && (*s)[0] <= '9'));
    return false;
}

float floatOf(const platform::Value* v, float fallback) {
    if (!v)
        return fallback;
    if (auto n = v->number())
        return static_cast<float>(*n);
    if (auto s = v->string())
        return static_cast<float>(std::atof(s->c_str()));
    return 0.0f;
}

std::optional<platform::Array> arrayOf(const platform::Dictionary& d, std::string_view key) {
    if (auto v = find(d, key); v && v->array())
        return *v->array();
    return std::nullopt;
}

std::optional<StringList> stringsOf(const std::optional<platform::Array>& list) {
    if (!list)
        return std::nullopt;
    StringList out;
    for (const auto& v : *list)
        if (v.string())
            out.push_back(*v.string());
    return out;
}

std::optional<platform::Dictionary> dictionaryOf(const platform::Dictionary& d, std::string_view key) {
    if (auto v = find(d, key); v && v->dictionary())
        return *v->dictionary();
    return std::nullopt;
}

// The "yyyy-MM-dd HH:mm:ss" text in the current time zone.
std::optional<platform::Date> parseDateText(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 || s < 0)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    const double utc = static_cast<double>(timegm(&tm));
    const int offset = platform::TimeZone::current().secondsFromGMT(platform::Date{utc});
    return platform::Date{utc - offset};
}

std::string dateText(const std::optional<platform::Date>& date) {
    if (!date)
        return "(null)";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", date->secondsSince1970);
    return buffer;
}

std::string listText(const std::optional<StringList>& list) {
    if (!list)
        return "(null)";
    std::string out = "(";
    for (std::size_t i = 0; i < list->size(); ++i)
        out += (i ? ", " : "") + (*list)[i];
    return out + ")";
}

const char* orNull(const std::optional<std::string>& s) {
    return s ? s->c_str() : "(null)";
}

void applySize(MRCachedAd& ad, const platform::Dictionary& d) {
    if (auto v = find(d, "width"))
        ad.width = intOf(v);
    if (auto v = find(d, "height"))
        ad.height = intOf(v);
}

std::shared_ptr<MRCachedAdDatabase> sharedAdDB() {
    if (auto server = VellumAdServer::existing())
        return server->adDB();
    return nullptr;
}

// Number of cap rows later than the window start, for rows that `counts`.
template <typename Pred> int countCapRows(double windowStart, Pred counts) {
    auto db = sharedAdDB();
    if (!db)
        return 0;
    int count = 0;
    if (auto rows = db->retreiveAdCapImpressions())
        for (const auto& row : *rows)
            if (row.timestamp > windowStart && counts(row))
                ++count;
    return count;
}

} // namespace

MRCachedAd::MRCachedAd()
    : fetchDate(platform::Date{kDistantPast}), lastModDate(platform::Date{kDistantPast}),
      lastDisplayDate(platform::Date{kDistantPast}), startDate(platform::Date{kDistantPast}),
      endDate(platform::Date{kDistantFuture}), randomValue(drawRandomValue()) {}

MRCachedAd MRCachedAd::initWithDictionary(const platform::Dictionary& d) {
    MRCachedAd ad;
    ad.adID = stringOf(d, "adID");
    ad.adVersion = intOf(find(d, "adVersion"));
    ad.mainFile = stringOf(d, "mainFile");
    ad.expandedMainFile = stringOf(d, "expandedMainFile");
    ad.expandedTitle = stringOf(d, "expandedTitle");
    ad.fetchDate = dateFromObject(find(d, "fetchDate"), now());
    ad.lastModDate = dateFromObject(find(d, "lastModDate"), std::nullopt);
    ad.adType = static_cast<unsigned>(intOf(find(d, "adType")));
    ad.adSlotType = intOf(find(d, "adSlotType"));
    ad.clipType = intOf(find(d, "clipType"));
    const auto size = VellumAdServer::frameSizeForSlotType(ad.adSlotType);
    ad.width = static_cast<int>(size.width);
    ad.height = static_cast<int>(size.height);
    applySize(ad, d);
    ad.expandedWidth = intOf(find(d, "expandedWidth"));
    ad.expandedHeight = intOf(find(d, "expandedHeight"));
    if (auto v = find(d, "image"); v && v->data())
        ad.image = *v->data();
    if (!ad.image)
        if (auto v = find(d, "imageData"); v && v->data())
            ad.image = *v->data();
    ad.imageName = stringOf(d, "imageName");
    ad.clickThroughURLString = stringOf(d, "clickThroughURLString");
    ad.htmlResources = dictionaryOf(d, "htmlResources");
    ad.otherResources = dictionaryOf(d, "otherResources");
    ad.impressions = 0;
    ad.maxImpressions = intOf(find(d, "maxImpressions"), kUnlimited);
    ad.maxRunImpressions = intOf(find(d, "maxRunImpressions"), kUnlimited);
    ad.startDate = dateFromObject(find(d, "startDate"), std::nullopt);
    ad.endDate = dateFromObject(find(d, "endDate"), std::nullopt);
    ad.displayTimeSlices = arrayOf(d, "displayTimeSlices");
    ad.blockList = lowercaseArray(arrayOf(d, "blockList"));
    ad.slotTargetNames = lowercaseArray(arrayOf(d, "slotTargetNames"));
    ad.slotTargetKeywords = lowercaseArray(arrayOf(d, "slotTargetKeywords"));
    ad.slotTargetKey = stringOf(d, "slotTargetKey");
    ad.avcClassName = stringOf(d, "avcClassName");
    if (!ad.avcClassName)
        ad.avcClassName = VellumAdServer::defaultAvcClassNameForMainFile(ad.mainFile);
    if (auto v = find(d, "isTest"))
        ad.isTest = boolOf(v);
    if (auto v = find(d, "displaysCloseButton"))
        ad.displaysCloseButton = boolOf(v);
    if (auto v = find(d, "closeButtonLibID"))
        ad.closeButtonLibID = v->string()
                                  ? std::optional(*v->string())
                                  : (v->number() ? std::optional(std::to_string(intOf(v))) : std::nullopt);
    if (auto v = find(d, "closeButtonOrientation"))
        ad.closeButtonOrientation = closebuttonOrientationStringtoInt(v->stringOr(""));
    if (auto v = find(d, "adWeight"))
        ad.adWeight = floatOf(v, 1.0f);
    ad.trackingPixels = stringsOf(arrayOf(d, "trackingPixels"));
    if (auto v = find(d, "notForAdRotation"))
        ad.notForAdRotation = boolOf(v);
    if (auto v = find(d, "transparentView"))
        ad.transparentBackground = boolOf(v);
    ad.userAgent = stringOf(d, "userAgent");
    struct IntKey {
        const char* key;
        int MRCachedAd::*field;
    };
    static constexpr IntKey kIntKeys[] = {
        {"expandableType", &MRCachedAd::expandableType},
        {"offsetExpandableCorner", &MRCachedAd::offsetExpandableCorner},
        {"offsetExpandableX", &MRCachedAd::offsetExpandableX},
        {"offsetExpandableY", &MRCachedAd::offsetExpandableY},
        {"expandableRelocation", &MRCachedAd::expandableRelocation},
        {"capImpressionMax", &MRCachedAd::capImpressionMax},
        {"capImpressionTime", &MRCachedAd::capImpressionTime},
        {"capImpressionTimeType", &MRCachedAd::capImpressionTimeType},
    };
    for (const auto& k : kIntKeys)
        if (auto v = find(d, k.key))
            ad.*k.field = intOf(v);
    ad.minimumNetwork = MRReachability::networkStatusFromString(stringOf(d, "minNetwork").value_or(""));
    return ad;
}

MRCachedAd& MRCachedAd::updateWithDictionary(const platform::Dictionary& d) {
    struct IntKey {
        const char* key;
        int MRCachedAd::*field;
    };
    static constexpr IntKey kIntKeys[] = {
        {"adVersion", &MRCachedAd::adVersion},
        {"adSlotType", &MRCachedAd::adSlotType},
        {"clipType", &MRCachedAd::clipType},
        {"width", &MRCachedAd::width},
        {"height", &MRCachedAd::height},
        {"expandedWidth", &MRCachedAd::expandedWidth},
        {"expandedHeight", &MRCachedAd::expandedHeight},
        {"impressions", &MRCachedAd::impressions},
        {"maxImpressions", &MRCachedAd::maxImpressions},
        {"maxRunImpressions", &MRCachedAd::maxRunImpressions},
        {"expandableType", &MRCachedAd::expandableType},
        {"offsetExpandableCorner", &MRCachedAd::offsetExpandableCorner},
        {"offsetExpandableX", &MRCachedAd::offsetExpandableX},
        {"offsetExpandableY", &MRCachedAd::offsetExpandableY},
        {"expandableRelocation", &MRCachedAd::expandableRelocation},
        {"capImpressionMax", &MRCachedAd::capImpressionMax},
        {"capImpressionTime", &MRCachedAd::capImpressionTime},
        {"capImpressionTimeType", &MRCachedAd::capImpressionTimeType},
        {"closeButtonOrientation", &MRCachedAd::closeButtonOrientation},
    };
    for (const auto& k : kIntKeys)
        if (auto v = find(d, k.key))
            this->*k.field = intOf(v);
    if (auto v = find(d, "adType"))
        adType = static_cast<unsigned>(intOf(v));
    struct StringKey {
        const char* key;
        std::optional<std::string> MRCachedAd::*field;
    };
    static constexpr StringKey kStringKeys[] = {
        {"mainFile", &MRCachedAd::mainFile},
        {"expandedMainFile", &MRCachedAd::expandedMainFile},
        {"expandedTitle", &MRCachedAd::expandedTitle},
        {"clickThroughURLString", &MRCachedAd::clickThroughURLString},
        {"slotTargetKey", &MRCachedAd::slotTargetKey},
        {"userAgent", &MRCachedAd::userAgent},
    };
    for (const auto& k : kStringKeys)
        if (auto v = find(d, k.key))
            this->*k.field = v->string() ? std::optional(*v->string()) : std::nullopt;
    if (find(d, "fetchDate"))
        fetchDate = dateFromObject(find(d, "fetchDate"), now());
    if (find(d, "lastModDate"))
        lastModDate = dateFromObject(find(d, "lastModDate"), std::nullopt);
    if (find(d, "startDate"))
        startDate = dateFromObject(find(d, "startDate"), startDate);
    if (find(d, "endDate"))
        endDate = dateFromObject(find(d, "endDate"), endDate);
    if (find(d, "htmlResources"))
        htmlResources = dictionaryOf(d, "htmlResources");
    if (find(d, "otherResources"))
        otherResources = dictionaryOf(d, "otherResources");
    if (find(d, "displayTimes"))
        displayTimeSlices = arrayOf(d, "displayTimes");
    if (find(d, "blockList"))
        blockList = stringsOf(arrayOf(d, "blockList"));
    if (find(d, "slotTargetKeywords"))
        slotTargetKeywords = stringsOf(arrayOf(d, "slotTargetKeywords"));
    if (find(d, "slotTargetNames"))
        slotTargetNames = lowercaseArray(arrayOf(d, "slotTargetNames"));
    if (find(d, "trackingPixels"))
        trackingPixels = stringsOf(arrayOf(d, "trackingPixels"));
    avcClassName = stringOf(d, "avcClassName");
    if (!avcClassName)
        avcClassName = VellumAdServer::defaultAvcClassNameForMainFile(mainFile);
    struct BoolKey {
        const char* key;
        bool MRCachedAd::*field;
    };
    static constexpr BoolKey kBoolKeys[] = {
        {"isTest", &MRCachedAd::isTest},
        {"displaysCloseButton", &MRCachedAd::displaysCloseButton},
        {"notForAdRotation", &MRCachedAd::notForAdRotation},
        {"transparentView", &MRCachedAd::transparentBackground},
    };
    for (const auto& k : kBoolKeys)
        if (auto v = find(d, k.key))
            this->*k.field = boolOf(v);
    if (auto v = find(d, "minNetwork"))
        minimumNetwork = MRReachability::networkStatusFromString(v->stringOr(""));
    if (auto v = find(d, "closeButtonLibID")) {
        if (v->number())
            closeButtonLibID = std::to_string(intOf(v));
        else if (v->string())
            closeButtonLibID = *v->string();
    }
    if (auto v = find(d, "adWeight"))
        adWeight = floatOf(v, 1.0f);
    return *this;
}

// ---- Eligibility ----

bool MRCachedAd::blockedByRunImpressions() const {
    if (maxRunImpressions < 1)
        return false;
    auto db = MRCachedAdDatabase::existing();
    const int run = (db && adID) ? db->runImpressionsForAdID(*adID) : 0;
    return run >= maxRunImpressions;
}

bool MRCachedAd::blockedByStartEndDates() const {
    const double t = now().secondsSince1970;
    if (startDate && t < startDate->secondsSince1970)
        return true;
    // A missing end date counts as a moment long past.
    const double end = endDate ? endDate->secondsSince1970 : 0.0;
    return t > end;
}

bool MRCachedAd::blockedByNetworkRequirements() const {
    return MRReachability::sharedReachability().internetConnectionStatus() < minimumNetwork;
}

bool MRCachedAd::blockedByTimeSlices() const {
    if (!displayTimeSlices || displayTimeSlices->empty())
        return false;
    const int t = secondsSinceStartOfDay(now());
    for (const auto& slice : *displayTimeSlices) {
        const auto* d = slice.dictionary();
        if (!d)
            continue;
        const int start = intOf(find(*d, "startTime"), MRDisplayTimeSlice::kDefaultStart);
        const int end = intOf(find(*d, "endTime"), MRDisplayTimeSlice::kDefaultEnd);
        if (start <= t && t <= end)
            return false;
    }
    return true;
}

bool MRCachedAd::blockedbyAdCap() const {
    auto start = capWindowStart(capImpressionTimeType, capImpressionTime, now());
    if (!start || !adID)
        return false;
    const int count = countCapRows(*start, [&](const MRAdImpressionCap& row) { return row.adID == *adID; });
    return count >= capImpressionMax;
}

bool MRCachedAd::blockedbyAppCap() const {
    auto server = VellumAdServer::existing();
    if (!server)
        return false;
    auto start = capWindowStart(server->appCapImpressionTimeType, server->appCapImpressionTime, now());
    if (!start)
        return false;
    const int count = countCapRows(*start, [](const MRAdImpressionCap& row) {
        return std::any_of(std::begin(kAppCapSizes), std::end(kAppCapSizes), [&](const ScreenSize& s) {
            return row.adSlotHeight == s.height && row.adSlotWidth == s.width;
        });
    });
    return count >= server->appCapImpressionMax;
}

bool MRCachedAd::matchesSlotName(const std::optional<std::string>& name) const {
    if (!name || name->empty() || !slotTargetNames || slotTargetNames->empty())
        return true;
    const auto wanted = lower(*name);
    return std::find(slotTargetNames->begin(), slotTargetNames->end(), wanted) != slotTargetNames->end();
}

bool MRCachedAd::matchesSlotTargetKey(const std::optional<std::string>& key) const {
    if (!key || key->empty() || !slotTargetKey || slotTargetKey->empty())
        return false;
    return lower(*key) == lower(*slotTargetKey);
}

bool MRCachedAd::hasSlotTargetKeywords() const {
    return slotTargetKeywords && !slotTargetKeywords->empty();
}

namespace {
bool anyMatch(const std::optional<StringList>& strings, const std::optional<StringList>& patterns) {
    if (!strings || strings->empty() || !patterns || patterns->empty())
        return false;
    for (const auto& s : *strings)
        for (const auto& p : *patterns)
            if (MRCachedAd::stringMatchesWithPattern(s, p))
                return true;
    return false;
}
} // namespace

bool MRCachedAd::matchesSlotTargetKeywords(const std::optional<StringList>& keywords) const {
    return anyMatch(keywords, slotTargetKeywords);
}

bool MRCachedAd::blockedByBlockKeywords(const std::optional<StringList>& blockKeywords,
                                        const std::optional<StringList>& keyWords) const {
    return anyMatch(blockKeywords, slotTargetKeywords) || anyMatch(keyWords, blockList);
}

bool MRCachedAd::availableInCacheFolder() const {
    auto p = path();
    return p && platform::FileManager::fileExists(*p);
}

// ---- Recording ----

void MRCachedAd::recordImpression() {
    ++impressions;
    VellumAnalyticsManager::sharedInstance()->logDebug("Impression Update for Ad:%s Count:%d", orNull(adID),
                                                       impressions);
    if (auto server = VellumAdServer::existing())
        server->saveImpressionDataForAd(*this);
}

void MRCachedAd::recordImpressionForCap() const {
    if (auto server = VellumAdServer::existing())
        server->saveCapImpressionDataForAd(*this);
}

void MRCachedAd::recordSelection() {
    lastDisplayDate = now();
    if (auto db = MRCachedAdDatabase::existing())
        db->saveSelectionDateForAd(*this);
}

std::optional<std::string> MRCachedAd::path() const {
    if (!adID)
        return std::nullopt;
    auto component = platform::FileManager::safePathComponent(*adID);
    if (!component)
        return std::nullopt;
    return (std::filesystem::path(VellumAdServer::cachedAdsFolderPath()) / *component).string();
}

namespace {
std::optional<std::string> fileInside(const std::optional<std::string>& base, const std::optional<std::string>& name) {
    if (!base || !name)
        return std::nullopt;
    auto inside = platform::FileManager::pathInside(*base, *name);
    return inside ? std::optional(inside->string()) : std::nullopt;
}
} // namespace

std::optional<std::string> MRCachedAd::expandedMainFilePath() const {
    return fileInside(path(), expandedMainFile);
}

std::optional<std::string> MRCachedAd::mainFilePath() const {
    return fileInside(path(), mainFile);
}

std::string MRCachedAd::description() const {
    char buffer[4096];
    std::snprintf(
        buffer, sizeof buffer,
        "Ad (%s) - adID: %s, fetchDate: %s, lastModDate: %s, lastDisplayDate: %s, adType: %d, adSlotType: "
        "%d, "
        "clipType: %d, height: %d, width: %d, image: %s, clickThroughURLString: %s, otherResources: %s, "
        "impressions: %d, maxImpressions: %d, maxRunImpressions: %d, startDate: %s, endDate: %s, "
        "displayTimeSlices: %s, blockList: %s, slotTargetKey: %s, slotTargetKeywords: %s, avcClassName: %s, "
        "closeButtonLibID %s, closeButtonOrientation %d, adWeight %f, trackingPixels %s,notForAdRotation %d, "
        "transparentBackground %d, userAgent %s, expandableType %d, offsetExpandableCorner %d, "
        "offsetExpandableX "
        "%d, offsetExpandableY %d, expandableRelocation %d, capImpressionMax %d,capImpressionTime "
        "%d,capImpressionTimeType %d",
        isTest ? "Test" : "Live", orNull(adID), dateText(fetchDate).c_str(), dateText(lastModDate).c_str(),
        dateText(lastDisplayDate).c_str(), static_cast<int>(adType), adSlotType, clipType, height, width,
        image ? "(image)" : "(null)", orNull(clickThroughURLString),
        otherResources ? "(dictionary)" : "(null)", impressions, maxImpressions, maxRunImpressions,
        dateText(startDate).c_str(), dateText(endDate).c_str(),
        displayTimeSlices ? platform::Value(*displayTimeSlices).toJSON().c_str() : "(null)",
        listText(blockList).c_str(), orNull(slotTargetKey), listText(slotTargetKeywords).c_str(),
        orNull(avcClassName), orNull(closeButtonLibID), closeButtonOrientation, static_cast<double>(adWeight),
        listText(trackingPixels).c_str(), notForAdRotation, transparentBackground, orNull(userAgent),
        expandableType, offsetExpandableCorner, offsetExpandableX, offsetExpandableY, expandableRelocation,
        capImpressionMax, capImpressionTime, capImpressionTimeType);
    return buffer;
}

// ---- Conversions ----

StringList MRCachedAd::lowercaseArray(const std::optional<platform::Array>& list) {
    StringList out;
    if (list)
        for (const auto& v : *list)
            if (v.string())
                out.push_back(lower(*v.string()));
    return out;
}

std::optional<platform::Date> MRCachedAd::dateFromObject(const platform::Value* object,
                                                         std::optional<platform::Date> defaultDate) {
    if (!object)
        return defaultDate;
    if (object->type() == platform::Value::Type::Integer || object->type() == platform::Value::Type::Real)
        return platform::Date{static_cast<double>(static_cast<float>(*object->number()))};
    if (object->string())
        return parseDateText(*object->string());
    if (auto date = object->date())
        return date;
    return defaultDate;
}

int MRCachedAd::closebuttonOrientationStringtoInt(std::string_view text) {
    struct Row {
        const char* text;
        int value;
    };
    static constexpr Row kRows[] = {{"Vertical", 0}, {"Horizonal", 1}};
    for (const auto& row : kRows)
        if (text == row.text)
            return row.value;
    return 2;
}

int MRCachedAd::secondsSinceStartOfDay(platform::Date date) {
    const double local = date.secondsSince1970 + platform::TimeZone::current().secondsFromGMT(date);
    const double s = std::fmod(std::floor(local), static_cast<double>(kSecondsPerDay));
    return static_cast<int>(s < 0 ? s + kSecondsPerDay : s);
}

std::optional<double> MRCachedAd::capWindowStart(int timeType, int time, platform::Date at) {
    if (timeType == kCapTimeTypeHours)
        return at.secondsSince1970 - static_cast<double>(time) * kSecondsPerHour;
    if (timeType == kCapTimeTypeDays) {
        const double midnight = std::floor(at.secondsSince1970) - secondsSinceStartOfDay(at);
        return midnight - static_cast<double>(std::max(time - 1, 0)) * kSecondsPerDay;
    }
    return std::nullopt;
}

bool MRCachedAd::stringMatchesWithPattern(std::string_view string, std::string_view pattern) {
    const std::string s = lower(string), p = lower(pattern);
    std::size_t si = 0, pi = 0, star = std::string::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == s[si])) {
            ++si, ++pi;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = si;
        } else if (star != std::string::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

} // namespace vellum
