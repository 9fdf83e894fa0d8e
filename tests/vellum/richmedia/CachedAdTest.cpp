// The cached-ad record: building from a control dictionary, updating from ad instructions,
// and the eligibility tests, against the real ad cache database.
#include <gtest/gtest.h>

#include <functional>

#include "RichMediaFixture.h"
#include "vellum/tracking/MRReachability.h"

namespace {

using vellum::MRCachedAd;
using vellum::StringList;

class CachedAdTest : public richmediatest::RichMediaFixture {};

TEST_F(CachedAdTest, EmptyControlDictionaryGivesTheDefaults) {
    auto ad = MRCachedAd::initWithDictionary({});
    EXPECT_EQ(ad.maxImpressions, 2147483647);
    EXPECT_EQ(ad.maxRunImpressions, 2147483647);
    EXPECT_FLOAT_EQ(ad.adWeight, 1.0f);
    EXPECT_EQ(ad.impressions, 0);
    ASSERT_TRUE(ad.fetchDate);
    EXPECT_DOUBLE_EQ(ad.fetchDate->secondsSince1970, kStartTime);
    EXPECT_FALSE(ad.lastModDate);
    EXPECT_FALSE(ad.startDate);
    EXPECT_FALSE(ad.endDate);
    EXPECT_EQ(ad.width, 0);
    EXPECT_EQ(ad.height, 0);
    EXPECT_EQ(ad.blockList, StringList{});
    EXPECT_EQ(ad.slotTargetNames, StringList{});
    EXPECT_EQ(ad.slotTargetKeywords, StringList{});
    EXPECT_EQ(ad.avcClassName, "MRHTMLAdViewController");
}

TEST_F(CachedAdTest, SizeComesFromSlotTypeUnlessGiven) {
    struct Case {
        platform::Dictionary control;
        int width, height;
    };
    const Case cases[] = {
        {{{"adSlotType", 5}}, 320, 480},
        {{{"adSlotType", 6}}, 480, 320},
        {{{"adSlotType", 3}, {"height", 60}}, 320, 60},
        {{{"adSlotType", 0}, {"width", 100}, {"height", 40}}, 100, 40},
    };
    for (const auto& c : cases) {
        auto ad = MRCachedAd::initWithDictionary(c.control);
        EXPECT_EQ(ad.width, c.width);
        EXPECT_EQ(ad.height, c.height);
    }
}

TEST_F(CachedAdTest, ControlDictionaryFieldsAndDates) {
    auto ad = MRCachedAd::initWithDictionary({
        {"adID", "ad-1"},
        {"mainFile", "movie.mp4"},
        {"slotTargetNames", platform::Array{"Home", "SETTINGS"}},
        {"closeButtonOrientation", "Horizonal"},
        {"startDate", "2023-11-14 00:00:00"},
        {"endDate", "not a date"},
        {"minNetwork", "WiFiConnected"},
        {"transparentView", true},
    });
    EXPECT_EQ(ad.adID, "ad-1");
    EXPECT_EQ(ad.avcClassName, "MRMovieAdViewController");
    EXPECT_EQ(ad.slotTargetNames, (StringList{"home", "settings"}));
    EXPECT_EQ(ad.closeButtonOrientation, 1);
    ASSERT_TRUE(ad.startDate);
    EXPECT_DOUBLE_EQ(ad.startDate->secondsSince1970, 1699920000.0);
    EXPECT_FALSE(ad.endDate);
    EXPECT_EQ(ad.minimumNetwork, 2);
    EXPECT_TRUE(ad.transparentBackground);
}

TEST_F(CachedAdTest, UpdateChangesOnlyWhatItNamesButResetsTheControllerClass) {
    auto ad = MRCachedAd::initWithDictionary(
        {{"adID", "ad-1"}, {"mainFile", "a.png"}, {"avcClassName", "Custom"}, {"maxImpressions", 9}});
    ad.updateWithDictionary(
        {{"adID", "other"}, {"maxRunImpressions", 2}, {"slotTargetKeywords", platform::Array{"Cars"}}});
    EXPECT_EQ(ad.adID, "ad-1");
    EXPECT_EQ(ad.maxImpressions, 9);
    EXPECT_EQ(ad.maxRunImpressions, 2);
    EXPECT_EQ(ad.slotTargetKeywords, StringList{"Cars"});
    EXPECT_EQ(ad.avcClassName, "MRImageAdViewController");
}

TEST_F(CachedAdTest, SlotNameKeyAndKeywordMatching) {
    auto ad = MRCachedAd::initWithDictionary({{"slotTargetNames", platform::Array{"Home"}},
                                              {"slotTargetKey", "Sports"},
                                              {"slotTargetKeywords", platform::Array{"car*"}},
                                              {"blockList", platform::Array{"kids"}}});
    struct Case {
        const char* name;
        bool result;
        bool expected;
    };
    const Case cases[] = {
        {"slot name in capitals matches", ad.matchesSlotName(std::string("HOME")), true},
        {"other slot name does not match", ad.matchesSlotName(std::string("feed")), false},
        {"no slot name matches", ad.matchesSlotName(std::nullopt), true},
        {"key differing in case matches", ad.matchesSlotTargetKey(std::string("sPORTS")), true},
        {"empty key never matches", ad.matchesSlotTargetKey(std::string("")), false},
        {"keyword matched by pattern", ad.matchesSlotTargetKeywords(StringList{"news", "cars"}), true},
        {"keyword not matched", ad.matchesSlotTargetKeywords(StringList{"boats"}), false},
        {"block keyword hits an ad keyword", ad.blockedByBlockKeywords(StringList{"carpet"}, std::nullopt),
         true},
        {"slot keyword hits the block list", ad.blockedByBlockKeywords(std::nullopt, StringList{"Kids"}),
         true},
        {"nothing in common", ad.blockedByBlockKeywords(StringList{"x"}, StringList{"y"}), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
}

// Each eligibility test, with the state that decides it.
TEST_F(CachedAdTest, EligibilityRules) {
    auto s = server();
    using Setup = std::function<void(MRCachedAd&)>;
    using Test = std::function<bool(const MRCachedAd&)>;
    const Test runImpressions = [](const MRCachedAd& a) { return a.blockedByRunImpressions(); };
    const Test dates = [](const MRCachedAd& a) { return a.blockedByStartEndDates(); };
    const Test slices = [](const MRCachedAd& a) { return a.blockedByTimeSlices(); };
    const Test network = [](const MRCachedAd& a) { return a.blockedByNetworkRequirements(); };
    const double now = kStartTime; // 22:13:20 UTC
    auto at = [](double t) { return platform::Date{t}; };
    struct Case {
        const char* name;
        Setup setup;
        Test test;
        bool blocked;
    };
    const Case cases[] = {
        {"no run limit", [](MRCachedAd& a) { a.maxRunImpressions = 0; }, runImpressions, false},
        {"run limit not reached", [](MRCachedAd& a) { a.maxRunImpressions = 2; }, runImpressions, false},
        {"run limit reached",
         [&](MRCachedAd& a) {
             a.maxRunImpressions = 2;
             db().incrementRunImpressionsForAdWithID(*a.adID);
             db().incrementRunImpressionsForAdWithID(*a.adID);
         },
         runImpressions, true},
        {"inside the dates", [&](MRCachedAd& a) { a.startDate = at(now - 10), a.endDate = at(now + 10); },
         dates, false},
        {"start equals now", [&](MRCachedAd& a) { a.startDate = at(now), a.endDate = at(now + 10); }, dates,
         false},
        {"end equals now", [&](MRCachedAd& a) { a.endDate = at(now); }, dates, false},
        {"not started", [&](MRCachedAd& a) { a.startDate = at(now + 1), a.endDate = at(now + 10); }, dates,
         true},
        {"ended", [&](MRCachedAd& a) { a.endDate = at(now - 1); }, dates, true},
        {"no end date counts as past", [&](MRCachedAd& a) { a.endDate.reset(); }, dates, true},
        {"no slices", [](MRCachedAd&) {}, slices, false},
        {"slice from 01:00 to the end of day",
         [](MRCachedAd& a) {
             a.displayTimeSlices = platform::Array{platform::Dictionary{{"startTime", 3600}}};
         },
         slices, false},
        {"first minute only",
         [](MRCachedAd& a) {
             a.displayTimeSlices = platform::Array{platform::Dictionary{{"startTime", 0}, {"endTime", 60}}};
         },
         slices, true},
        {"Wi-Fi needed on Wi-Fi", [](MRCachedAd& a) { a.minimumNetwork = 2; }, network, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        MRCachedAd ad;
        ad.adID = "ad-" + std::to_string(++n);
        c.setup(ad);
        EXPECT_EQ(c.test(ad), c.blocked) << c.name;
    }
}

TEST_F(CachedAdTest, NetworkRequirementFollowsReachability) {
    MRCachedAd ad;
    ad.minimumNetwork = 1;
    platform::Reachability::setTestFlagsForAllHosts(platform::ReachabilityFlags{});
    vellum::MRReachability::resetForTesting();
    EXPECT_TRUE(ad.blockedByNetworkRequirements());
}

TEST_F(CachedAdTest, AdCapCountsTodaysImpressionsOnly) {
    auto s = server();
    MRCachedAd ad =
        storeAd("capped", {{"capImpressionMax", 3}, {"capImpressionTime", 1}, {"capImpressionTimeType", 2}});
    // One impression yesterday evening, then three today.
    clock.clock().setNow(kStartTime - 86400);
    ad.recordImpressionForCap();
    clock.clock().setNow(kStartTime - 3600);
    ad.recordImpressionForCap();
    ad.recordImpressionForCap();
    EXPECT_FALSE(ad.blockedbyAdCap());
    clock.clock().setNow(kStartTime);
    ad.recordImpressionForCap();
    EXPECT_TRUE(ad.blockedbyAdCap());
    // After midnight the window starts afresh.
    clock.clock().setNow(kStartTime + 2 * 3600);
    EXPECT_FALSE(ad.blockedbyAdCap());
}

TEST_F(CachedAdTest, AppCapCountsFullScreenImpressionsOfEveryAd) {
    auto s = server();
    s->appCapImpressionMax = 2;
    s->appCapImpressionTime = 1;
    s->appCapImpressionTimeType = 1;
    MRCachedAd banner = storeAd("banner", {{"adSlotType", 3}});
    MRCachedAd landscape = storeAd("landscape", {{"adSlotType", 6}});
    banner.recordImpressionForCap();
    banner.recordImpressionForCap();
    landscape.recordImpressionForCap();
    EXPECT_FALSE(banner.blockedbyAppCap());
    landscape.recordImpressionForCap();
    EXPECT_TRUE(banner.blockedbyAppCap());
    clock.clock().setNow(kStartTime + 3601);
    EXPECT_FALSE(banner.blockedbyAppCap());
}

TEST_F(CachedAdTest, RecordingStoresImpressionsAndSelection) {
    auto s = server();
    MRCachedAd ad = storeAd("rec", {{"maxImpressions", 2}});
    ad.recordImpression();
    EXPECT_EQ(db().runImpressionsForAdID("rec"), 1);
    clock.clock().setNow(kStartTime + 50);
    ad.recordSelection();
    auto stored = db().adWithID("rec");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->impressions, 1);
    EXPECT_DOUBLE_EQ(stored->lastDisplayDate->secondsSince1970, kStartTime + 50);
    ad.recordImpression();
    EXPECT_FALSE(db().adWithID("rec")) << "an ad at its lifetime limit is no longer served";
    EXPECT_TRUE(db().haveAdWithID("rec"));
}

TEST_F(CachedAdTest, AdIdThatIsNoSafeFolderNameHasNoPath) {
    for (const char* id : {"../evil", "a/b", "..", ""}) {
        MRCachedAd ad;
        ad.adID = id;
        EXPECT_FALSE(ad.path()) << id;
        EXPECT_FALSE(ad.availableInCacheFolder()) << id;
    }
}

} // namespace
