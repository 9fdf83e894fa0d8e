#pragma once
// MRCachedAd: one cached rich-media ad in memory: what it is (identity, version, files, kind,
// size), where and when it may run (slot targeting, keywords, block list, dates, time
// slices, network, impression limits and caps) and how it is shown. Built from an ad's
// control dictionary, updated from the tracking server's ad instructions, stored in and read
// back from MRCachedAdDatabase. Its eligibility tests are the building blocks of selection.
//
// Also the three small row records of the ad cache database: MRSlotData (a web view
// registered as an ad slot), MRAdImpressionCap (one counted impression) and
// MRAppImpressionCap (the application cap row).
//
// Plain values, shared as std::shared_ptr between the database, the server and the display
// side; main thread only; no callbacks. The eligibility tests that need stored state ask the
// shared ad cache database and the shared ad server; when those do not exist they find no
// rows (and recordImpression counts in memory only).
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace vellum {

using StringList = std::vector<std::string>;

// A display time slice: seconds after local midnight.
struct MRDisplayTimeSlice {
    static constexpr int kDefaultStart = 0;
    static constexpr int kDefaultEnd = 86400;
    int startTime = kDefaultStart;
    int endTime = kDefaultEnd;
};

class MRCachedAd {
public:
    static constexpr int kUnlimited = std::numeric_limits<std::int32_t>::max();
    // Dates of init: "distant past" and "distant future" as the platform keeps them.
    static constexpr double kDistantPast = -62135769600.0;
    static constexpr double kDistantFuture = 64092211200.0;
    // Cap window units.
    static constexpr int kCapTimeTypeHours = 1;
    static constexpr int kCapTimeTypeDays = 2;

    // init: the defaults.
    MRCachedAd();
    // initWithDictionary:
    static MRCachedAd initWithDictionary(const platform::Dictionary& d);
    // updateWithDictionary: changes only what `d` names; adID never changes.
    MRCachedAd& updateWithDictionary(const platform::Dictionary& d);

    // ---- Fields, in declaration order ----
    std::optional<std::string> adID;
    int adVersion = 0;
    std::optional<std::string> mainFile;
    std::optional<std::string> expandedMainFile;
    std::optional<std::string> expandedTitle;
    std::optional<platform::Date> fetchDate;
    std::optional<platform::Date> lastModDate;
    std::optional<platform::Date> lastDisplayDate;
    unsigned adType = 0;
    int adSlotType = 0;
    int clipType = 0;
    int width = 0;
    int height = 0;
    int expandedWidth = 0;
    int expandedHeight = 0;
    std::optional<std::string> clickThroughURLString;
    int impressions = 0;
    int maxImpressions = kUnlimited;
    int maxRunImpressions = kUnlimited;
    std::optional<platform::Date> startDate;
    std::optional<platform::Date> endDate;
    std::optional<platform::Array> displayTimeSlices;
    int minimumNetwork = 0;
    std::optional<StringList> blockList;
    std::optional<std::string> slotTargetKey;
    std::optional<StringList> slotTargetNames;
    std::optional<StringList> slotTargetKeywords;
    std::optional<std::string> avcClassName;
    bool isTest = false;
    bool displaysCloseButton = false;
    std::optional<std::string> closeButtonLibID;
    int closeButtonOrientation = 0;
    float adWeight = 1.0f;
    std::optional<StringList> trackingPixels;
    bool notForAdRotation = false;
    bool transparentBackground = false;
    std::optional<std::string> userAgent;
    int expandableType = 0;
    int offsetExpandableCorner = 0;
    int offsetExpandableX = 0;
    int offsetExpandableY = 0;
    int expandableRelocation = 0;
    int capImpressionMax = 0;
    int capImpressionTime = 0;
    int capImpressionTimeType = 0;
    std::uint32_t randomValue = 0;
    std::optional<platform::Dictionary> htmlResources;
    std::optional<platform::Dictionary> otherResources;
    // The still image as encoded bytes (PNG when stored).
    std::optional<platform::Data> image;
    std::optional<std::string> imageName;

    // ---- Eligibility ----
    bool blockedByRunImpressions() const;
    bool blockedByStartEndDates() const;
    bool blockedByNetworkRequirements() const;
    bool blockedByTimeSlices() const;
    bool blockedbyAdCap() const;
    bool blockedbyAppCap() const;
    bool matchesSlotName(const std::optional<std::string>& name) const;
    bool matchesSlotTargetKey(const std::optional<std::string>& key) const;
    bool hasSlotTargetKeywords() const;
    bool matchesSlotTargetKeywords(const std::optional<StringList>& keywords) const;
    bool blockedByBlockKeywords(const std::optional<StringList>& blockKeywords,
                                const std::optional<StringList>& keyWords) const;
    bool availableInCacheFolder() const;

    // ---- Recording ----
    void recordImpression();
    void recordImpressionForCap() const;
    void recordSelection();

    // The ad's folder in the cache; nullopt when the ad id is not one safe path component.
    std::optional<std::string> path() const;
    std::optional<std::string> expandedMainFilePath() const;
    // The page in the ad's folder named by the control list's main file; nullopt when the
    // name leaves the folder.
    std::optional<std::string> mainFilePath() const;
    std::string description() const;
    std::string loggingDescription() const { return description(); }

    // ---- Conversions ----
    static StringList lowercaseArray(const std::optional<platform::Array>& list);
    static std::optional<platform::Date> dateFromObject(const platform::Value* object,
                                                        std::optional<platform::Date> defaultDate);
    static int closebuttonOrientationStringtoInt(std::string_view text);
    // Seconds after local midnight of `date`, in the current time zone.
    static int secondsSinceStartOfDay(platform::Date date);
    // Start of the cap window ending now: `time` hours back (type 1) or local midnight
    // `time` - 1 days back (type 2); nullopt for other types.
    static std::optional<double> capWindowStart(int timeType, int time, platform::Date now);
    // Case-insensitive wildcard match: "*" any run of characters, "?" one character.
    static bool stringMatchesWithPattern(std::string_view string, std::string_view pattern);
};

// One row of webViewLocating: a web view registered as an ad slot.
struct MRSlotData {
    std::string currentWebView;
    int requests = 0;
    std::string adID;
    int adSlotType = 0;
    std::optional<StringList> blockList;
    std::optional<StringList> slotTargetKeywords;
    std::optional<std::string> adSlotID;
    int adSlotWidth = 0;
    int adSlotHeight = 0;
};

// One row of adImpressionCap.
struct MRAdImpressionCap {
    std::string adIDUnique;
    std::string adID;
    double timestamp = 0;
    int adSlotWidth = 0;
    int adSlotHeight = 0;
};

// The row of appImpressionCap.
struct MRAppImpressionCap {
    int blank = 1;
    int appCapImpressionMax = 0;
    int appCapImpressionTime = 0;
    int appCapImpressionTimeType = 0;
    int internalEventUploadInterval = 0;
};

} // namespace vellum
