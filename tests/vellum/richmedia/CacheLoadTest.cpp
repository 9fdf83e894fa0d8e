// The cache load over real loopback HTTP: the slot-zero request as the ad service receives
// it, its reply applied to the cache (bundles downloaded, unpacked, recorded and announced,
// application settings stored), failed loads counted, offers that must not be recorded, and
// the tracking upload's ad instructions reaching the ad cache.
#include <gtest/gtest.h>

#include "RichMediaFixture.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "services/TrackingEndpoints.h"
#include "services/VellumAdEndpoints.h"
#include "support/LoopbackServices.h"
#include "vellum/richmedia/MRCachedAdLoader.h"
#include "vellum/tracking/ECActionResponse.h"
#include "vellum/tracking/MRBroadcaster.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"

namespace {

using vellum::MRCachedAd;
using vellum::VellumAdServer;
namespace fs = std::filesystem;

std::string control(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + body +
           "</dict></plist>";
}

class CacheLoadTest : public richmediatest::RichMediaFixture {
public:
    CacheLoadTest() : tracking(services.host()), ads(services.host()) {
        token = platform::NotificationCenter::defaultCenter().addObserver(
            vellum::MRNewAdDidDownloadNotification, [this](const platform::Notification& n) {
                if (auto ad = n.objectAs<MRCachedAd>())
                    announced.push_back(ad->adID.value_or(""));
            });
    }
    ~CacheLoadTest() override { platform::NotificationCenter::defaultCenter().removeObserver(token); }

    void startEngine() {
        manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
        vellum::VellumAdManager::sharedInstance();
        ASSERT_TRUE(VellumAdServer::existing());
        clock.advance(5.0);
    }
    int attempts() {
        return static_cast<int>(
            defaults().objectForKey(VellumAdServer::kAttemptsSinceLastCacheLoadKey).value_or(0).intOr(0));
    }
    bool loaded() { return defaults().objectForKey(VellumAdServer::kLastCacheLoadDateKey).has_value(); }

    fwtest::LoopbackServices services;
    services::TrackingService tracking;
    services::VellumAdService ads;
    platform::NotificationCenter::ObserverToken token;
    std::vector<std::string> announced;
};

TEST_F(CacheLoadTest, SlotZeroReplyFillsTheCache) {
    const auto bundle = ads.addAdBundle("ad-1");
    ads.setOffers({{"ad-1", 2, bundle + " trailing-token",
                    control("<key>adID</key><string>ad-1</string><key>adSlotType</key><integer>3</integer>"
                            "<key>maxImpressions</key><integer>9</integer>"
                            "<key>endDate</key><real>1800000000</real>")}},
                  control("<key>appCapImpressionMax</key><integer>4</integer>"
                          "<key>appCapImpressionTime</key><integer>2</integer>"
                          "<key>appCapImpressionTimeType</key><integer>1</integer>"
                          "<key>internalEventUploadInterval</key><integer>30</integer>"));
    startEngine();
    ASSERT_TRUE(clock.runUntil([&] { return !announced.empty(); }));

    const auto requests = services.requestsTo(services::kVellumAdPath);
    ASSERT_FALSE(requests.empty());
    const auto& request = requests.back();
    EXPECT_EQ(request.method, "GET");
    struct Item {
        const char* name;
        const char* value;
    };
    const Item items[] = {{"appv", "1.0"},     {"p", "1"},        {"build", "2.4.6.0"}, {"lat", "0.000000"},
                          {"lon", "0.000000"}, {"AR", "320x480"}, {"SR", "320x480"}};
    for (const auto& item : items)
        EXPECT_EQ(request.queryValue(item.name), item.value) << item.name;
    for (const char* name : {"appID", "d", "v", "udid"})
        EXPECT_TRUE(request.queryValue(name)) << name;

    EXPECT_EQ(announced, std::vector<std::string>{"ad-1"});
    auto ad = db().adWithID("ad-1");
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->adVersion, 2);
    EXPECT_EQ(ad->maxImpressions, 9);
    EXPECT_EQ(ad->adSlotType, 3);
    EXPECT_TRUE(fs::exists(cacheFolder() / "ad-1" / "index.html"));
    EXPECT_FALSE(fs::exists(cacheFolder() / "__MACOSX"));

    auto cap = db().getAppImpressionCapData();
    ASSERT_TRUE(cap);
    EXPECT_EQ(cap->appCapImpressionMax, 4);
    EXPECT_EQ(cap->internalEventUploadInterval, 30);
    EXPECT_EQ(VellumAdServer::existing()->internalEventUploadInterval, 30);
    EXPECT_TRUE(loaded());
    EXPECT_EQ(attempts(), 0);
    EXPECT_EQ(VellumAdServer::existing()->runningCloseButtonDownloads(), std::vector<std::string>{});

    // Within the interval a later attempt does not ask again.
    const auto before = services.requestCount(services::kVellumAdPath);
    clock.clock().setNow(kStartTime + 60);
    VellumAdServer::existing()->attemptCacheLoad();
    EXPECT_EQ(services.requestCount(services::kVellumAdPath), before);
}

TEST_F(CacheLoadTest, ErrorPagesAndErrorStatusCountAsFailedLoads) {
    ads.replyWithBytes("<html>maintenance</html>");
    startEngine();
    ASSERT_TRUE(clock.runUntil([&] { return attempts() == 1; }));
    EXPECT_FALSE(loaded());

    services.setFault(std::string(services::kVellumAdPath),
                      services::Fault::errorStatus(500, "oops").onlyTimes(1));
    VellumAdServer::existing()->startCacheLoad();
    ASSERT_TRUE(clock.runUntil([&] { return attempts() == 2; }));
    EXPECT_FALSE(loaded());

    ads.replyWithBytes("");
    VellumAdServer::existing()->startCacheLoad();
    ASSERT_TRUE(clock.runUntil([&] { return loaded(); }));
    EXPECT_EQ(attempts(), 0) << "an empty reply is an empty set of instructions";
}

TEST_F(CacheLoadTest, OffersThatMustNotBeRecorded) {
    const auto good = ads.addAdBundle("good");
    const auto wrongFolder = ads.addBundle("wrong", {{"other/index.html", "x"}});
    const auto hostile = ads.addBundle("hostile", {{"hostile/index.html", "x"}, {"../escaped", "x"}});
    const auto zero = ads.addAdBundle("zero");
    const auto traversal = ads.addAdBundle("up");
    ads.setOffers({{"zero", 1, zero, control("<key>maxImpressions</key><integer>0</integer>")},
                   {"good", 1, good, control("<key>endDate</key><real>1800000000</real>")},
                   {"wrong", 1, wrongFolder, ""},
                   {"hostile", 1, hostile, ""},
                   {"../up", 1, traversal, ""}});
    startEngine();
    // Every failed offer is tried again in the later passes, a bounded number of times.
    const std::size_t tries = 1 + VellumAdServer::kMaxDownloadPasses;
    ASSERT_TRUE(clock.runUntil([&] {
        return services.requestCount("/vellum/bundles/wrong.zip") >= tries &&
               services.requestCount("/vellum/bundles/hostile.zip") >= tries && !announced.empty();
    }));
    clock.drain();
    EXPECT_EQ(announced, std::vector<std::string>{"good"});
    EXPECT_TRUE(db().haveAdWithID("good"));
    for (const char* id : {"zero", "wrong", "hostile", "../up"})
        EXPECT_FALSE(db().haveAdWithID(id)) << id;
    EXPECT_EQ(services.requestCount("/vellum/bundles/zero.zip"), 0u);
    EXPECT_EQ(services.requestCount("/vellum/bundles/up.zip"), 0u);
    EXPECT_EQ(services.requestCount("/vellum/bundles/wrong.zip"), tries);
    EXPECT_FALSE(fs::exists(cacheFolder() / ".." / "escaped"));
    EXPECT_FALSE(fs::exists(cacheFolder() / "hostile"));
}

TEST_F(CacheLoadTest, AdInstructionsOfTheTrackingReplyReachTheCache) {
    manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
    vellum::MRCachedAdDatabase::registerWithTrackingUpload();
    storeAd("cached", {{"maxRunImpressions", 5}});
    vellum::ECActionResponse reply;
    reply.setBroadcastURL(services.url("/event"));
    reply.setAdInstructions(std::vector<std::string>{
        control("<key>adID</key><string>cached</string><key>maxRunImpressions</key><integer>1</integer>"
                "<key>slotTargetNames</key><array><string>Home</string></array>"),
        control("<key>adID</key><string>unknown</string><key>maxRunImpressions</key><integer>1</integer>"),
        "not a property list"});
    auto bytes = vellum::encodeWireStruct(reply);
    tracking.replyWithBytes(std::string(bytes.begin(), bytes.end()));
    auto broadcaster = vellum::MRBroadcaster::sharedInstance();
    broadcaster->sendEvents(*manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false));
    ASSERT_TRUE(clock.runUntil([&] { return tracking.uploads().size() >= 1 && broadcaster->available(); }));
    auto ad = db().adWithID("cached");
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->maxRunImpressions, 1);
    EXPECT_EQ(ad->slotTargetNames, vellum::StringList{"home"});
    EXPECT_FALSE(db().haveAdWithID("unknown"));
}

class RecordingDelegate : public vellum::AdServerDelegate {
public:
    void adRequestCompleted() override { ++completed; }
    void adRequestFailed() override { ++failed; }
    void downloadingAd(int number, int of) override { downloads.emplace_back(number, of); }
    int completed = 0;
    int failed = 0;
    std::vector<std::pair<int, int>> downloads;
};

TEST_F(CacheLoadTest, WithoutNetworkTheAttemptIsRetriedLater) {
    manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
    vellum::VellumAnalyticsManager::resetReadyForRequest();
    platform::Reachability::setTestFlagsForAllHosts(platform::ReachabilityFlags{});
    vellum::MRReachability::resetForTesting();
    vellum::VellumAdManager::sharedInstance();
    auto delegate = std::make_shared<RecordingDelegate>();
    VellumAdServer::existing()->delegate = delegate;
    clock.advance(5.0);
    EXPECT_EQ(delegate->failed, 1);
    platform::Reachability::setTestFlagsForAllHosts(vellumtest::kWiFiFlags);
    vellum::MRReachability::resetForTesting();
    clock.advance(119.0);
    EXPECT_EQ(services.requestCount(services::kVellumAdPath), 0u);
    clock.advance(1.0);
    ASSERT_TRUE(clock.runUntil([&] { return delegate->completed == 1; }));
    EXPECT_EQ(services.requestCount(services::kVellumAdPath), 1u);
}

TEST_F(CacheLoadTest, CachedOfferIsNotFetchedAgainButItsControlApplies) {
    const auto bundle = ads.addAdBundle("have");
    storeAd("have", {{"adVersion", 3}, {"maxImpressions", 5}});
    const auto newer =
        control("<key>adID</key><string>have</string><key>maxImpressions</key><integer>8</integer>"
                "<key>endDate</key><real>1800000000</real>");
    const auto fresh = control("<key>endDate</key><real>1800000000</real>");
    ads.setOffers({{"have", 3, bundle, newer},
                   {"fresh-1", 1, ads.addAdBundle("fresh-1"), fresh},
                   {"fresh-2", 1, ads.addAdBundle("fresh-2"), fresh}});
    // One chain: the cached offer must hand over to the next one in line.
    platform::Bundle::main().setInfoDictionaryValue("VellumConsecutiveMediaDownloadKey", 1);
    startEngine();
    ASSERT_TRUE(clock.runUntil([&] { return announced.size() == 2; }));
    EXPECT_EQ(announced, (std::vector<std::string>{"fresh-1", "fresh-2"}));
    EXPECT_EQ(services.requestCount("/vellum/bundles/have.zip"), 0u);
    EXPECT_EQ(db().adWithID("have")->maxImpressions, 8);

    // With the override disabled the stored record stays as it is.
    platform::Bundle::main().setInfoDictionaryValue("VellumDisableAdDataOverride", true);
    ads.setOffers({{"have", 3, bundle,
                    control("<key>adID</key><string>have</string>"
                            "<key>maxImpressions</key><integer>2</integer>")}});
    auto delegate = std::make_shared<RecordingDelegate>();
    VellumAdServer::existing()->delegate = delegate;
    VellumAdServer::existing()->startCacheLoad();
    // The reply is applied in full before the delegate hears of it.
    ASSERT_TRUE(clock.runUntil([&] { return delegate->completed == 1; }));
    EXPECT_EQ(services.requestCount("/vellum/bundles/have.zip"), 0u);
    EXPECT_EQ(db().adWithID("have")->maxImpressions, 8);
}

TEST_F(CacheLoadTest, DownloadsRunInParallelChains) {
    std::vector<services::VellumAdOffer> offers;
    for (int i = 1; i <= 5; ++i) {
        const std::string id = "ad-" + std::to_string(i);
        offers.push_back({id, 1, ads.addAdBundle(id), control("<key>endDate</key><real>1800000000</real>")});
    }
    ads.setOffers(offers);
    manager()->initializeWithAppID("app-1", "1.0", nullptr, false);
    vellum::VellumAnalyticsManager::resetReadyForRequest();
    vellum::VellumAdManager::sharedInstance();
    auto delegate = std::make_shared<RecordingDelegate>();
    VellumAdServer::existing()->delegate = delegate;
    clock.advance(5.0);
    ASSERT_TRUE(clock.runUntil([&] { return announced.size() == 5; }));
    ASSERT_EQ(delegate->downloads.size(), 5u);
    // The first three start together, before any has reported back.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(delegate->downloads[static_cast<std::size_t>(i)], (std::pair<int, int>{1, 5}));
    EXPECT_EQ(delegate->downloads[3].first, 2);
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(db().haveAdWithID("ad-" + std::to_string(i)));
}

} // namespace
