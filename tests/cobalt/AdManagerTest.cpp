// The ad manager driven directly: stored ads restored or expired at start-up, the fetch queue
// against a busy driver, downloads and failures reported by the driver, expiry on the manual
// clock, and the listeners.
#include "CobaltTestSupport.h"
#include "cobalt/CBAdManager.h"
#include "cobalt/CBClientManager.h"
#include "cobalt/CBDatabase.h"
#include "platform/runloop/Clock.h"

namespace {

using namespace cobalt;
using platform::Value;
namespace fs = std::filesystem;

struct Listener : CBAdSlotListener {
    std::vector<std::string> ready;
    void adDownloadedForSlotNamed(const std::string& name) override { ready.push_back(name); }
};

class AdManagerTest : public cobalttest::CobaltTest {
protected:
    AdManagerTest() : controller(CBController::sharedController()) {
        controller->database()->sqlExecute(
            "CREATE TABLE ads (slotName TEXT, dlTime INTEGER, expiration INTEGER, trackers TEXT)");
    }
    std::int64_t nowMs(double offsetSeconds = 0) const {
        return static_cast<std::int64_t>((platform::Clock::current().now() + offsetSeconds) * 1000.0);
    }
    void storeAd(const std::string& slot, std::int64_t dlTime, std::int64_t expiration) {
        controller->database()->sqlExecute("INSERT INTO ads VALUES(?, ?, ?, '')",
                                           {Value(slot), Value(static_cast<long long>(dlTime)),
                                            Value(static_cast<long long>(expiration))});
        write(adFolder(slot, dlTime) / "index.html", "ad");
    }
    fs::path adFolder(const std::string& slot, std::int64_t dlTime) const {
        return store() / "Content" / slot / std::to_string(dlTime);
    }
    std::shared_ptr<CBAdManager> makeManager(const std::vector<std::string>& names) {
        std::vector<std::shared_ptr<CBAdSlotDescription>> slots;
        for (const auto& n : names)
            slots.push_back(CBAdSlotDescription::descriptionWithSize(1, n));
        return CBAdManager::create(slots);
    }
    std::size_t rowsFor(const std::string& slot) const {
        return controller->database()->sqlExecute("SELECT dlTime FROM ads WHERE slotName=?", {Value(slot)}).size();
    }

    std::shared_ptr<CBController> controller;
};

TEST_F(AdManagerTest, StartUpKeepsTheNewestUnexpiredAdOfEachSlot) {
    storeAd("a", 100, nowMs(3600));
    storeAd("a", 200, nowMs(3600)); // newer: kept, 100 deleted
    storeAd("b", 300, nowMs(3600));
    storeAd("b", 400, nowMs(-1)); // newer but expired: b ends with none
    storeAd("gone", 500, nowMs(3600)); // slot no longer configured
    auto manager = makeManager({"a", "b"});
    EXPECT_EQ(manager->slotForName("a")->nextAdDlTime(), 200);
    EXPECT_EQ(manager->slotForName("b")->nextAdDlTime(), 0);
    EXPECT_EQ(manager->fetchQueue(), std::vector<std::string>{"b"});
    EXPECT_FALSE(fs::exists(adFolder("a", 100)));
    EXPECT_TRUE(fs::exists(adFolder("a", 200)));
    EXPECT_FALSE(fs::exists(adFolder("b", 300)));
    EXPECT_FALSE(fs::exists(store() / "Content" / "gone"));
    EXPECT_EQ(rowsFor("a"), 1u);
    EXPECT_EQ(rowsFor("b"), 0u);
    EXPECT_EQ(rowsFor("gone"), 0u);
    EXPECT_THROW(makeManager({"x", "x"}), platform::NamedException);
}

TEST_F(AdManagerTest, FetchQueueWaitsForAReadyDriverAndFailuresComeBackAfterTheDelay) {
    auto manager = makeManager({"a", "b"});
    EXPECT_EQ(manager->fetchQueue(), (std::vector<std::string>{"a", "b"}));
    manager->fetchNextAd(); // no driver page loaded: the queue stays as it is
    EXPECT_EQ(manager->fetchQueue().size(), 2u);

    auto listener = std::make_shared<Listener>();
    EXPECT_TRUE(manager->registerListener(listener, "a"));
    EXPECT_FALSE(manager->registerListener(listener, "nope"));
    manager->adDownloadedForSlotNamed("a", 700, nowMs(3600));
    EXPECT_EQ(listener->ready, std::vector<std::string>{"a"});
    EXPECT_TRUE(manager->isAdFetchedForSlotNamed("a"));
    manager->adDownloadedForSlotNamed("unknown", 1, nowMs(60)); // ignored

    // A second listener of a slot that has an ad hears at once, with every other listener.
    auto late = std::make_shared<Listener>();
    manager->registerListener(late, "a");
    EXPECT_EQ(late->ready, std::vector<std::string>{"a"});
    EXPECT_EQ(listener->ready.size(), 2u);

    manager->setFetchReenqueueDelay(10);
    manager->adDownloadFailedForSlotNamed("b");
    const auto before = manager->fetchQueue().size();
    time.advance(9.9);
    EXPECT_EQ(manager->fetchQueue().size(), before);
    time.advance(0.2);
    EXPECT_EQ(manager->fetchQueue().size(), before + 1);
    manager->setFetchReenqueueDelay(0);
    manager->adDownloadFailedForSlotNamed("b");
    time.advance(120);
    EXPECT_EQ(manager->fetchQueue().size(), before + 1) << "a delay of 0 queues nothing again";
}

TEST_F(AdManagerTest, UnshownAdsExpireAndShownOnesDoNot) {
    auto manager = makeManager({"a", "b"});
    storeAd("a", 10, nowMs(30));
    storeAd("b", 20, nowMs(30));
    manager->adDownloadedForSlotNamed("a", 10, nowMs(30));
    manager->adDownloadedForSlotNamed("b", 20, nowMs(30));
    // b's ad is shown before it expires.
    manager->slotForName("b")->setDlTime(20);
    manager->slotForName("b")->setNextAdDlTime(0);
    const auto queued = manager->fetchQueue().size();
    ASSERT_TRUE(waitFor([&] { return manager->fetchQueue().size() > queued; }, 1.0));
    EXPECT_EQ(manager->slotForName("a")->nextAdDlTime(), 0);
    EXPECT_FALSE(fs::exists(adFolder("a", 10)));
    EXPECT_EQ(rowsFor("a"), 0u);
    EXPECT_EQ(manager->slotForName("b")->dlTime(), 20);
    EXPECT_TRUE(fs::exists(adFolder("b", 20)));
    EXPECT_EQ(manager->fetchQueue().back(), "a");
}

TEST_F(AdManagerTest, NamesThatWouldLeaveTheContentFolderRemoveNothing) {
    write(store() / "keep.txt", "x");
    controller->database()->sqlExecute("INSERT INTO ads VALUES('..', 1, 0, '')");
    controller->database()->sqlExecute("INSERT INTO ads VALUES('x'' OR ''1''=''1', 1, 0, '')");
    storeAd("a", 5, nowMs(3600));
    auto manager = makeManager({"a"});
    EXPECT_TRUE(fs::exists(store() / "keep.txt"));
    EXPECT_TRUE(fs::exists(store() / "Content"));
    EXPECT_EQ(rowsFor("a"), 1u) << "a stored name is bound, so it cannot widen the deletion";
}

} // namespace
