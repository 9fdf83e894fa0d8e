// Ad selection over the real cache: candidates by slot type, the list rules, slot key and
// keywords, and the weighted draw with a seeded random source.
#include <gtest/gtest.h>

#include "RichMediaFixture.h"
#include <random>

#include "platform/foundation/ClassTable.h"

namespace {

using richmediatest::TestSlot;
using vellum::MRCachedAd;
using vellum::StringList;
using vellum::VellumAdServer;

class SelectionTest : public richmediatest::RichMediaFixture {
public:
    SelectionTest() { s = server(); }
    ~SelectionTest() override { VellumAdServer::setRandomSource({}); }
    void fixRandom(std::uint32_t value) {
        VellumAdServer::setRandomSource([value] { return value; });
    }
    std::shared_ptr<MRCachedAd> ad(const char* id, float weight = 1.0f) {
        auto a = std::make_shared<MRCachedAd>();
        a->adID = id;
        a->adWeight = weight;
        return a;
    }
    std::shared_ptr<VellumAdServer> s;
};

TEST_F(SelectionTest, WeightedDrawCoversTheRangeByWeight) {
    const std::vector<std::shared_ptr<MRCachedAd>> two = {ad("heavy", 3.0f), ad("light", 1.0f)};
    struct Case {
        std::uint32_t random;
        const char* expected;
    };
    const Case cases[] = {{0, "heavy"},   {74, "heavy"},  {75, "light"},
                          {100, "light"}, {101, "heavy"}, {176, "light"}};
    for (const auto& c : cases) {
        fixRandom(c.random);
        auto chosen = s->nextAdFromRotation(two);
        ASSERT_TRUE(chosen);
        EXPECT_EQ(chosen->adID, c.expected) << "random " << c.random;
    }
    fixRandom(0);
    EXPECT_EQ(s->nextAdFromRotation({ad("a", 0), ad("b", 0)})->adID, "b") << "no weight at all: the last";
    EXPECT_FALSE(s->nextAdFromRotation({}));
}

TEST_F(SelectionTest, SeededDrawIsRepeatable) {
    const std::vector<std::shared_ptr<MRCachedAd>> three = {ad("a"), ad("b"), ad("c")};
    auto draw = [&] {
        std::mt19937 engine(42);
        VellumAdServer::setRandomSource([&engine] { return static_cast<std::uint32_t>(engine()); });
        std::string picks;
        for (int i = 0; i < 20; ++i)
            picks += *s->nextAdFromRotation(three)->adID;
        return picks;
    };
    const auto first = draw();
    EXPECT_EQ(first, draw());
    for (char c : {'a', 'b', 'c'})
        EXPECT_NE(first.find(c), std::string::npos) << c;
}

TEST_F(SelectionTest, InterstitialSlotOffersOtherTypesInOrderAndKeepsRotationRules) {
    storeAd("six", {{"adSlotType", 6}});
    storeAd("five", {{"adSlotType", 5}});
    storeAd("hidden", {{"adSlotType", 6}, {"notForAdRotation", true}});
    storeAd("elsewhere", {{"adSlotType", 6}, {"slotTargetNames", platform::Array{"Feed"}}});
    storeAd("no-folder", {{"adSlotType", 7}});
    std::filesystem::remove_all(cacheFolder() / "no-folder");
    TestSlot slot;
    slot.type = 6;
    slot.key = "HOME";
    std::vector<std::string> ids;
    for (const auto& a : s->availableAdsForAdView(slot))
        ids.push_back(*a->adID);
    EXPECT_EQ(ids, (std::vector<std::string>{"six", "five"}));
    fixRandom(0);
    auto next = s->nextAdForAdView(slot);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->adID, "six");
    auto hidden = db().adWithID("hidden");
    ASSERT_TRUE(hidden);
    EXPECT_TRUE(s->qualifiedAd(*hidden, std::nullopt)) << "an ad named by id may be one kept out of rotation";
    TestSlot none;
    EXPECT_FALSE(s->nextAdForAdView(none));
}

TEST_F(SelectionTest, KeyWinsOutrightAndKeywordsFilterTheDraw) {
    const auto plain = ad("plain");
    const auto other = ad("other-keywords");
    other->slotTargetKeywords = StringList{"boats"};
    const auto blocked = ad("blocked");
    blocked->blockList = StringList{"kids"};
    blocked->slotTargetKey = "home";
    const auto keyed = ad("keyed");
    keyed->slotTargetKey = "Home";
    const auto cars = ad("cars");
    cars->slotTargetKeywords = StringList{"cars"};
    fixRandom(0);
    EXPECT_EQ(
        s->nextAdFromList({blocked, plain, keyed}, std::string("HOME"), StringList{"kids"}, std::nullopt)
            ->adID,
        "keyed");
    EXPECT_EQ(s->nextAdFromList({other, cars}, std::nullopt, StringList{"cars"}, std::nullopt)->adID, "cars");
    EXPECT_EQ(s->nextAdFromList({other, plain}, std::nullopt, StringList{"cars"}, std::nullopt)->adID,
              "plain");
    EXPECT_EQ(s->nextAdFromList({blocked, plain}, std::nullopt, std::nullopt, StringList{"x"})->adID,
              "blocked")
        << "no key and no keywords: the first, block keywords unused";
    EXPECT_FALSE(s->isAdValidForSlot(*other, std::nullopt, StringList{"cars"}, std::nullopt));
    EXPECT_TRUE(s->isAdValidForSlot(*cars, std::nullopt, StringList{"cars"}, std::nullopt));
}

TEST_F(SelectionTest, RegisteredSlotFitsAdsBySizeOrType) {
    storeAd("banner", {{"adSlotType", 3}});
    db().incrementWebViewLocatingForAdSlotID("Home", "", 0, {320, 50}, std::nullopt, std::nullopt, "web-1");
    db().incrementWebViewLocatingForAdSlotID("Box", "", 0, {300, 250}, std::nullopt, std::nullopt, "web-2");
    auto fits = db().slotWithWebView("web-1");
    auto box = db().slotWithWebView("web-2");
    ASSERT_TRUE(fits && box);
    EXPECT_TRUE(s->adFitsSlot(*fits, "banner"));
    EXPECT_FALSE(s->adFitsSlot(*box, "banner"));
    EXPECT_FALSE(s->adFitsSlot(*fits, "unknown"));
}

TEST_F(SelectionTest, ControllerComesFromTheClassTableOnly) {
    struct Controller : vellum::VellumAdViewControllerBase {};
    platform::ClassTable::registerClass<vellum::VellumAdViewControllerBase>(
        "TestAdViewController", [] { return std::make_shared<Controller>(); });
    MRCachedAd ad;
    ad.avcClassName = "TestAdViewController";
    EXPECT_TRUE(s->adViewControllerForAd(ad));
    ad.avcClassName = "UnknownAdViewController";
    EXPECT_FALSE(s->adViewControllerForAd(ad));
    platform::ClassTable::unregisterClass("TestAdViewController");
}

TEST_F(SelectionTest, SlotAndControllerTables) {
    struct Case {
        int slotType;
        const char* name;
        double width, height;
    };
    const Case cases[] = {{3, "320x50 Portrait Banner", 320, 50},
                          {7, "480x320 Landscape Movie", 480, 320},
                          {9, "320x65 Portrait Banner", 320, 65},
                          {0, "Other", 0, 0},
                          {42, "Other", 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(VellumAdServer::nameForSlotType(c.slotType), c.name);
        EXPECT_EQ(VellumAdServer::frameSizeForSlotType(c.slotType), (platform::Size{c.width, c.height}));
    }
    EXPECT_EQ(VellumAdServer::defaultAvcClassNameForAdType(5), "MRAnimatedAdViewController");
    EXPECT_EQ(VellumAdServer::defaultAvcClassNameForAdType(9), "MRHTMLAdViewController");
    EXPECT_EQ(VellumAdServer::defaultAvcClassNameForMainFile(std::string("clip.MOV")),
              "MRHTMLAdViewController");
    EXPECT_EQ(VellumAdServer::defaultAvcClassNameForMainFile(std::string("a/b.jpeg")),
              "MRImageAdViewController");
    EXPECT_EQ(VellumAdServer::defaultAvcClassNameForMainFile(std::string("m.3gp2")),
              "MRMovieAdViewController");
}

} // namespace
