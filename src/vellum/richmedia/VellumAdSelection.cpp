// Ad selection of VellumAdServer: candidates from the cache, the eligibility rules, slot key
// and keywords, and the weighted draw; the slot-type and controller-class tables.
#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/ClassTable.h"
#include "platform/ui/Screen.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/MRReachability.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

struct SlotTypeRow {
    int type;
    const char* name;
    double width;
    double height;
};
constexpr SlotTypeRow kSlotTypes[] = {
    {1, "300x50 Portrait Banner", 300, 50},         {2, "300x75 Portrait Banner", 300, 75},
    {3, "320x50 Portrait Banner", 320, 50},         {4, "480x48 Landscape Banner", 480, 48},
    {5, "320x480 Portrait Interstitial", 320, 480}, {6, "480x320 Landscape Interstitial", 480, 320},
    {7, "480x320 Landscape Movie", 480, 320},       {8, "200x70 Portrait Banner", 200, 70},
    {9, "320x65 Portrait Banner", 320, 65},
};
constexpr const char* kOtherSlotName = "Other";

constexpr const char* kImageController = "MRImageAdViewController";
constexpr const char* kAnimatedController = "MRAnimatedAdViewController";
constexpr const char* kHTMLController = "MRHTMLAdViewController";
constexpr const char* kMovieController = "MRMovieAdViewController";

struct AdTypeRow {
    int adType;
    const char* controller;
};
constexpr AdTypeRow kAdTypeControllers[] = {
    {1, kImageController},    {4, kImageController},    {7, kImageController},
    {2, kAnimatedController}, {5, kAnimatedController}, {8, kAnimatedController},
    {3, kHTMLController},     {6, kHTMLController},     {10, kMovieController},
};

struct ExtensionRow {
    const char* extension;
    const char* controller;
};
constexpr ExtensionRow kExtensionControllers[] = {
    {"html", kHTMLController},  {"htm", kHTMLController},   {"png", kImageController},
    {"jpg", kImageController},  {"jpeg", kImageController}, {"gif", kImageController},
    {"3gp", kMovieController},  {"3gpp", kMovieController}, {"3g2", kMovieController},
    {"3gp2", kMovieController}, {"mp4", kMovieController},  {"m4v", kMovieController},
    {"mov", kMovieController},  {"qt", kMovieController},   {"mqv", kMovieController},
};

constexpr double kRotationRange = 100.0;
constexpr std::uint32_t kRotationDraws = 101;

std::string joined(const std::optional<StringList>& list) {
    std::string out;
    if (list)
        for (std::size_t i = 0; i < list->size(); ++i)
            out += (i ? ", " : "") + (*list)[i];
    return out;
}

std::string dateDescription(const std::optional<platform::Date>& d) {
    return d ? std::to_string(platform::saturatingCast<long long>(d->secondsSince1970)) : "(null)";
}

const char* idOf(const MRCachedAd& ad) {
    return ad.adID ? ad.adID->c_str() : "(null)";
}

bool emptyList(const std::optional<StringList>& l) {
    return !l || l->empty();
}

// The rules shared by the list and single-ad tests (cache folder, network, dates, slices,
// run impressions), with their lines; false at the first that fails.
bool passesCommonRules(const MRCachedAd& ad) {
    auto& m = analytics();
    if (!ad.availableInCacheFolder()) {
        m.logInternal("qualifiedAds - blocked ad because it doesn't exist in the cached ads folder (%s)",
                      idOf(ad));
        return false;
    }
    if (ad.blockedByNetworkRequirements()) {
        m.logInternal("qualifiedAds - blocked ad because the network is not fast enough (%s)",
                      MRReachability::stringFromNetworkStatus(
                          MRReachability::sharedReachability().internetConnectionStatus())
                          .c_str());
        return false;
    }
    if (ad.blockedByStartEndDates()) {
        m.logInternal(
            "qualifiedAds - blocked ad because current time not within start and end dates (%s - %s)",
            dateDescription(ad.startDate).c_str(), dateDescription(ad.endDate).c_str());
        return false;
    }
    if (ad.blockedByTimeSlices()) {
        m.logInternal("qualifiedAds - blocked ad because current time not within display time slices (%s)",
                      ad.displayTimeSlices ? platform::Value(*ad.displayTimeSlices).toJSON().c_str()
                                           : "(null)");
        return false;
    }
    if (ad.blockedByRunImpressions()) {
        m.logInternal("qualifiedAds - blocked ad because run limit reached (%d)", ad.maxRunImpressions);
        return false;
    }
    return true;
}

} // namespace

std::string VellumAdServer::nameForSlotType(int slotType) {
    for (const auto& row : kSlotTypes)
        if (row.type == slotType)
            return row.name;
    return kOtherSlotName;
}

platform::Size VellumAdServer::frameSizeForSlotType(int slotType) {
    for (const auto& row : kSlotTypes)
        if (row.type == slotType)
            return {row.width, row.height};
    return {};
}

std::string VellumAdServer::defaultAvcClassNameForAdType(int adType) {
    for (const auto& row : kAdTypeControllers)
        if (row.adType == adType)
            return row.controller;
    return kHTMLController;
}

std::string VellumAdServer::defaultAvcClassNameForMainFile(const std::optional<std::string>& mainFile) {
    if (mainFile) {
        const auto slash = mainFile->rfind('/');
        const std::string last = slash == std::string::npos ? *mainFile : mainFile->substr(slash + 1);
        const auto dot = last.rfind('.');
        if (dot != std::string::npos) {
            const std::string extension = last.substr(dot + 1);
            for (const auto& row : kExtensionControllers)
                if (extension == row.extension)
                    return row.controller;
        }
    }
    return kHTMLController;
}

bool VellumAdServer::isFullScreenSize(int width, int height) {
    const auto screen = platform::Screen::main().bounds().size;
    const int w = static_cast<int>(screen.width), h = static_cast<int>(screen.height);
    return (width == w && height == h) || (width == h && height == w);
}

std::shared_ptr<MRCachedAd> VellumAdServer::nextAdForAdView(const VellumAdSlot& view) {
    const auto size = view.adSlotSize();
    if (view.adSlotType() == 0 && size.width == 0 && size.height == 0) {
        analytics().logDebugOrInternal("error - a valid slot type or slot size must be specified");
        return nullptr;
    }
    return nextAdFromList(availableAdsForAdView(view), view.adSlotKey(), view.adSlotKeywords(),
                          view.adBlockKeywords());
}

std::vector<std::shared_ptr<MRCachedAd>> VellumAdServer::availableAdsForAdView(const VellumAdSlot& view) {
    if (!adDB_)
        return {};
    auto candidates = view.adSlotType() != 0 ? adDB_->retrieveAdsForSlotType(view.adSlotType(), true)
                                             : adDB_->retrieveAdsForSlotSize(view.adSlotSize());
    if (!candidates)
        return {};
    return qualifiedAdsFromList(*candidates, view);
}

std::vector<std::shared_ptr<MRCachedAd>>
VellumAdServer::qualifiedAdsFromList(const std::vector<std::shared_ptr<MRCachedAd>>& list,
                                     const VellumAdSlot& view) {
    auto& m = analytics();
    std::vector<std::shared_ptr<MRCachedAd>> kept;
    for (const auto& ad : list) {
        if (!ad)
            continue;
        if (ad->notForAdRotation) {
            m.logInternal(
                "qualifiedAds - blocked ad because the ad is not for primary display, only 3rd party ad "
                "serving (%s)",
                idOf(*ad));
            continue;
        }
        if (!ad->matchesSlotName(view.adSlotKey())) {
            m.logInternal("qualifiedAds - blocked ad because the slot name didn't qualify (%s)", idOf(*ad));
            continue;
        }
        if (!passesCommonRules(*ad))
            continue;
        if (ad->blockedbyAdCap()) {
            m.logInternal("qualifiedAds - blocked ad because ad impression limit reached (%d)",
                          ad->capImpressionMax);
            continue;
        }
        const bool fullScreen = isFullScreenSize(ad->width, ad->height);
        if (fullScreen && ad->blockedbyAppCap()) {
            m.logInternal("qualifiedAds - blocked ad because app impression limit reached:");
            continue;
        }
        if (ad->displaysCloseButton) {
            if (!ad->closeButtonLibID && fullScreen) {
                if (adDB_)
                    adDB_->fixCloseButtonNameValues();
                continue;
            }
            if (blockedByCloseButtonNameAvailability(ad->closeButtonLibID)) {
                if (ad->closeButtonLibID)
                    verfiyThenDownloadCloseButtonByName(*ad->closeButtonLibID);
                continue;
            }
        }
        kept.push_back(ad);
    }
    return kept;
}

bool VellumAdServer::qualifiedAd(const MRCachedAd& ad, const std::optional<std::string>&) {
    auto& m = analytics();
    if (!passesCommonRules(ad))
        return false;
    if (isFullScreenSize(ad.width, ad.height)) {
        if (ad.blockedbyAdCap()) {
            m.logInternal("qualifiedAds - blocked ad because ad impression limit reached (%d)",
                          ad.capImpressionMax);
            return false;
        }
        if (ad.blockedbyAppCap()) {
            m.logInternal("qualifiedAds - blocked ad because app impression limit reached");
            return false;
        }
        return true;
    }
    if (!ad.displaysCloseButton)
        return true;
    if (!ad.closeButtonLibID) {
        if (adDB_)
            adDB_->fixCloseButtonNameValues();
        return true;
    }
    if (blockedByCloseButtonNameAvailability(ad.closeButtonLibID)) {
        m.logInternal("qualifiedAds - blocked ad because no close button (%s)", ad.closeButtonLibID->c_str());
        verfiyThenDownloadCloseButtonByName(*ad.closeButtonLibID);
        return false;
    }
    return true;
}

std::shared_ptr<MRCachedAd> VellumAdServer::nextAdFromList(
    const std::vector<std::shared_ptr<MRCachedAd>>& list, const std::optional<std::string>& key,
    const std::optional<StringList>& keywords, const std::optional<StringList>& blockKeywords) {
    if (list.empty())
        return nullptr;
    if ((!key || key->empty()) && emptyList(keywords))
        return list.front();
    std::vector<std::shared_ptr<MRCachedAd>> candidates;
    for (const auto& ad : list) {
        if (ad->blockedByBlockKeywords(blockKeywords, keywords)) {
            analytics().logInternal("nextAd - blocked ad with keywords (%s) because of block keywords (%s)",
                                    joined(keywords).c_str(), joined(blockKeywords).c_str());
            continue;
        }
        if (ad->matchesSlotTargetKey(key))
            return ad;
        if (ad->matchesSlotTargetKeywords(keywords)) {
            analytics().logDebug("nextAd - Found slot keykeyword match on %s", joined(keywords).c_str());
            candidates.push_back(ad);
        } else if (!ad->hasSlotTargetKeywords()) {
            candidates.push_back(ad);
        }
    }
    return nextAdFromRotation(candidates);
}

std::shared_ptr<MRCachedAd>
VellumAdServer::nextAdFromRotation(const std::vector<std::shared_ptr<MRCachedAd>>& candidates) {
    if (candidates.empty())
        return nullptr;
    if (candidates.size() == 1)
        return candidates.front();
    float sum = 0;
    for (const auto& ad : candidates)
        sum += ad->adWeight;
    const double r = static_cast<double>(nextRandom() % kRotationDraws);
    // With no weight at all, no ad has a share: the last one is the answer.
    if (sum > 0) {
        const double scale = kRotationRange / static_cast<double>(sum);
        double running = 0;
        for (const auto& ad : candidates) {
            running += static_cast<double>(ad->adWeight) * scale;
            if (r < running)
                return ad;
        }
    }
    return candidates.back();
}

bool VellumAdServer::isAdValidForSlot(const MRCachedAd& ad, const std::optional<std::string>& key,
                                      const std::optional<StringList>& keywords,
                                      const std::optional<StringList>& blockKeywords) {
    auto& m = analytics();
    bool valid = true;
    if (ad.blockedByBlockKeywords(blockKeywords, keywords)) {
        m.logDebug("isAdValidForSlot - blocked ad with keywords (%s) because of block keywords (%s)",
                   joined(keywords).c_str(), joined(blockKeywords).c_str());
        valid = false;
    }
    if (ad.matchesSlotTargetKey(key))
        m.logDebug("isAdValidForSlot - Found slot key match on %s", key->c_str());
    if (ad.matchesSlotTargetKeywords(keywords)) {
        m.logDebug("isAdValidForSlot - Found slot keykeyword match on %s", joined(keywords).c_str());
    } else if (ad.hasSlotTargetKeywords()) {
        m.logDebug("Slot Targeting Keyword blocking match");
        valid = false;
    }
    return valid;
}

bool VellumAdServer::adFitsSlot(const MRSlotData& slot, const std::string& adID) {
    auto ad = adDB_ ? adDB_->adWithID(adID) : nullptr;
    if (!ad)
        return false;
    auto& m = analytics();
    if (ad->adSlotType != slot.adSlotType &&
        !(ad->width == slot.adSlotWidth && ad->height == slot.adSlotHeight)) {
        m.logDebug("adFitsSlot - blocked adSlotTypes did not match  ad:%d slot:%d %d %d %d %d ",
                   ad->adSlotType, slot.adSlotType, ad->width, slot.adSlotWidth, ad->height,
                   slot.adSlotHeight);
        m.logDebug("qualifiedAds - blocked adSlotTypes did not match  ad:%d slot:%d", ad->adSlotType,
                   slot.adSlotType);
        return false;
    }
    if (qualifiedAd(*ad, slot.adSlotID) &&
        isAdValidForSlot(*ad, slot.adSlotID, slot.slotTargetKeywords, slot.blockList))
        return true;
    m.logDebug("qualifiedAds - blocked adSlotTypes did not match  ad:%d slot:%d", ad->adSlotType,
               slot.adSlotType);
    return false;
}

std::shared_ptr<MRCachedAd> VellumAdServer::nextAdForAdViewWithIDWithoutSlot(const VellumAdSlot&,
                                                                             const std::string& adID) {
    return adDB_ ? adDB_->adWithID(adID) : nullptr;
}

std::shared_ptr<VellumAdViewControllerBase> VellumAdServer::adViewControllerForAd(const MRCachedAd& ad) {
    const std::string name =
        ad.avcClassName ? *ad.avcClassName : defaultAvcClassNameForAdType(static_cast<int>(ad.adType));
    auto controller = platform::ClassTable::create<VellumAdViewControllerBase>(name);
    if (!controller)
        std::fprintf(stderr, "Could not load the ad view controller class %s\n", name.c_str());
    return controller;
}

} // namespace vellum
