// Request figures kept in the user defaults, timings on the manual clock, click URLs, and the
// cached fetch against the loopback service: kept for a day, revalidated with a conditional
// GET, failures reported once.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "LumenTestSupport.h"
#include "lumen/CachedFile.h"
#include "lumen/Statistics.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/RunLoop.h"
#include "support/FolderSnapshot.h"

using lumen::LMNStatistics;
using lumentest::LumenFixture;

class LumenStatisticsTest : public LumenFixture {};

TEST_F(LumenStatisticsTest, FiguresAreReportedOnceThenResetAndPersisted) {
    auto& statistics = LMNStatistics::sharedStatistics();
    statistics.startTimingNamed("ptime");
    EXPECT_EQ(statistics.incrementAdRequestCount(), 1);
    EXPECT_EQ(statistics.incrementAdRequestCount(), 2);
    statistics.startTimingNamed("prl");
    clock.advance(0.25);
    statistics.endTimingNamed("prl");
    statistics.startTimingNamed("ppcl");
    clock.advance(1.5);
    auto click = statistics.urlForClick(*platform::URL::parse("http://ads.example/c?ai=tok-9&z=1"));
    EXPECT_EQ(click.absoluteString(), "http://ads.example/c?ai=tok-9&z=1")
        << "a hook that answers NO adds nothing";
    statistics.incrementPageNavigationCount();
    statistics.setBreakOutToSafari();
    clock.advance(2);
    statistics.endTimingNamed("pcl");

    auto first = statistics.parameters();
    EXPECT_EQ(first.at("prl").stringOr(""), "250");
    EXPECT_EQ(first.at("ppcl").stringOr(""), "1500");
    EXPECT_EQ(first.at("pcl").stringOr(""), "2000");
    EXPECT_EQ(first.at("pai").stringOr(""), "tok-9");
    EXPECT_EQ(first.at("ptime").stringOr(""), "3750");
    const std::pair<const char*, int> counts[] = {{"preqs", 2}, {"pcc", 1}, {"plpnc", 1}, {"pcbo", 1}};
    for (auto [key, value] : counts)
        EXPECT_EQ(first.at(key).intOr(-1), value) << key;
    for (const char* absent : {"plpsnc", "pclb", "aoi_nofill", "aoi_timedout", "date"})
        EXPECT_EQ(first.count(absent), 0u) << absent;

    clock.advance(1);
    auto second = statistics.parameters();
    EXPECT_EQ(second.at("ptime").stringOr(""), "4750") << "ptime grows and is never removed";
    EXPECT_EQ(second.at("preqs").intOr(0), 2) << "the request count is never reset";
    for (const char* gone : {"prl", "ppcl", "pcl", "pai", "pcc", "plpnc", "pcbo"})
        EXPECT_EQ(second.count(gone), 0u) << gone;

    statistics.synchronize();
    auto stored = platform::UserDefaults::standard().dictionaryForKey("lumen_stats_shared");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at("preqs").intOr(0), 2);
    auto timings = platform::UserDefaults::standard().dictionaryForKey("lumen_timing_shared");
    ASSERT_TRUE(timings);
    EXPECT_EQ(timings->count("ptime"), 1u);
    EXPECT_EQ(timings->at("ptime").find("category")->stringOr(""), "ptime");

    // A new keeper reads what the last one wrote.
    LMNStatistics::releaseSharedStatistics();
    EXPECT_EQ(LMNStatistics::sharedStatistics().adRequestCount(), 2);
    EXPECT_TRUE(LMNStatistics::sharedStatistics().timingNamed("ptime"));
}

TEST_F(LumenStatisticsTest, LeavingTheApplicationAfterAClickReportsTheTimeToTheNextRequest) {
    auto& statistics = LMNStatistics::sharedStatistics();
    statistics.startTimingNamed("ppcl");
    auto message = *platform::URL::parse("lmsg://x/click?u=1");
    EXPECT_EQ(statistics.urlForClick(message).absoluteString(), message.absoluteString());
    EXPECT_FALSE(statistics.isTimingClick()) << "a message URL counts no click";
    statistics.urlForClick(*platform::URL::parse("http://ads.example/c"));
    ASSERT_TRUE(statistics.isTimingClick());
    lumen::LMNDelegateManager manager;
    manager.willLeaveApplication();
    clock.clock().setNow(clock.clock().now() + 12.5);
    auto p = statistics.parameters();
    EXPECT_EQ(p.at("pclb").intOr(0), 1);
    EXPECT_EQ(p.at("pcl").intOr(0), 12500);
    EXPECT_EQ(statistics.parameters().count("pclb"), 0u);
}

TEST_F(LumenStatisticsTest, LeavingTheApplicationFromAnotherThreadCountsOnTheMainThread) {
    // The delegate runs on the main thread and posts a look at the figures to its next turn.
    // Flags changed from another thread are made on the main thread after what is queued
    // there, so the look sees the backgrounding only when the whole event ran on the main
    // thread: the outcome does not depend on how the two threads are scheduled.
    class Looker : public lumen::LMNBannerViewDelegate {
    public:
        void adViewWillLeaveApplication(lumen::LMNBannerView*) override {
            calledOnMain = platform::RunLoop::isMainThread();
            platform::RunLoop::main().perform([this] {
                backgrounded = LMNStatistics::sharedStatistics().parameters().count("pclb") == 1;
                looked = true;
            });
        }
        bool calledOnMain = false, looked = false, backgrounded = false;
    };
    auto& statistics = LMNStatistics::sharedStatistics();
    statistics.urlForClick(*platform::URL::parse("http://ads.example/c"));
    auto looker = std::make_shared<Looker>();
    auto manager = std::make_shared<lumen::LMNDelegateManager>();
    manager->addDelegate(looker, {});
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        manager->willLeaveApplication();
        returned = true;
    });
    EXPECT_TRUE(waitFor([&] { return returned.load() && looker->looked; }));
    worker.join();
    EXPECT_TRUE(looker->calledOnMain);
    EXPECT_TRUE(looker->backgrounded)
        << "the click's backgrounding is counted before the main thread goes on";
}

TEST_F(LumenStatisticsTest, StoresAnswerOnlyTheKindAskedForAndTimingsGoInGroups) {
    {
        lumen::LMNStatisticsCore core("typed");
        core.setArray("list", platform::Array{"x", 2});
        core.setDictionary("map", platform::Dictionary{{"k", "v"}});
        core.setString("text", "t");
        EXPECT_EQ(core.arrayForKey("list"), (platform::Array{"x", 2}));
        EXPECT_EQ(core.dictionaryForKey("map"), (platform::Dictionary{{"k", "v"}}));
        EXPECT_FALSE(core.arrayForKey("map"));
        EXPECT_FALSE(core.dictionaryForKey("text"));
        EXPECT_FALSE(core.arrayForKey("missing"));
    } // written when released
    lumen::LMNStatisticsCore again("typed");
    EXPECT_EQ(again.arrayForKey("list"), (platform::Array{"x", 2}));
    EXPECT_EQ(again.dictionaryForKey("map"), (platform::Dictionary{{"k", "v"}}));

    lumen::LMNTimingManager timings("groups");
    for (const char* name : {"a", "b", "c", "d"})
        timings.addTimingWithCategory(name).start();
    timings.removeTiming(lumen::LMNTiming("a"));
    timings.removeTimingsForCategories({"b", "c", "not-there"});
    const auto left = timings.timings();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].category(), "d");
    EXPECT_TRUE(left[0].isActive());
}

TEST_F(LumenStatisticsTest, RequestWithoutAClickSendsNoPreClickLatency) {
    auto& statistics = LMNStatistics::sharedStatistics();
    statistics.startTimingNamed("ppcl");
    clock.advance(3);
    EXPECT_EQ(statistics.parameters().count("ppcl"), 0u);
}

namespace {

class FileRecorder : public lumen::LMNCachedFileDelegate {
public:
    std::optional<platform::Error> cachedFileShouldRedirectToURL(lumen::LMNCachedFile&,
                                                                 const platform::URL& url) override {
        redirects.push_back(url.absoluteString());
        return std::nullopt;
    }
    void cachedFileDownloadDidEnd(lumen::LMNCachedFile&) override { ++ends; }
    void cachedFileDownloadDidFail(lumen::LMNCachedFile&, const std::optional<platform::Error>& e) override {
        ++fails;
        lastError = e;
    }
    int ends = 0, fails = 0;
    std::optional<platform::Error> lastError;
    std::vector<std::string> redirects;
};

} // namespace

TEST_F(LumenStatisticsTest, CachedFetchStoresRevalidatesAndFails) {
    auto recorder = std::make_shared<FileRecorder>();
    auto file = lumen::LMNCachedFile::create(recorder, services.urlFor(services::kLumenCoreScriptPath));
    EXPECT_FALSE(file->hasContent());
    file->validate();
    file->validate();
    ASSERT_TRUE(waitFor([&] { return recorder->ends + recorder->fails > 0; }));
    EXPECT_EQ(services.requestCount(services::kLumenCoreScriptPath), 1u)
        << "a second validate while running does nothing";
    EXPECT_EQ(recorder->ends, 1);
    ASSERT_TRUE(file->content());
    EXPECT_NE(file->content()->find("LUMA_buildAdURL"), std::string::npos);
    EXPECT_EQ(file->fileModificationDate(), "Mon, 01 Jan 2024 00:00:00") << "the server's Last-Modified";
    EXPECT_TRUE(file->filePath().starts_with((home.root() / "Library/Caches/127.0.0.1").string()));

    file->validate();
    ASSERT_TRUE(waitFor([&] { return recorder->ends == 2; }));
    auto second = services.requestsTo(services::kLumenCoreScriptPath).back();
    EXPECT_EQ(second.header("If-Modified-Since"), "Mon, 01 Jan 2024 00:00:00 GMT");
    EXPECT_EQ(file->httpStatusCode(), 304);
    EXPECT_TRUE(file->hasContent()) << "304 keeps the stored file";

    const std::pair<int, bool> statuses[] = {{204, false}, {500, false}, {404, false}};
    for (auto [status, ok] : statuses) {
        services.setFault(std::string(services::kLumenCoreScriptPath), services::Fault::errorStatus(status));
        int before = recorder->fails;
        file->validate();
        ASSERT_TRUE(waitFor([&] { return recorder->fails > before; })) << status;
        EXPECT_EQ(file->httpStatusCode(), status);
        EXPECT_FALSE(recorder->lastError) << "an unexpected status fails with no error";
        EXPECT_TRUE(file->hasContent()) << "a failed fetch leaves the earlier file";
        (void)ok;
    }
    file->invalidate();
    EXPECT_FALSE(file->hasContent());
}

// A cached file's folder (named after its host) is the app's only as a real folder: with a
// link to a folder of the person's or a file of the person's at its name, the fetch fails,
// nothing is written behind it, and invalidating removes nothing there.
TEST_F(LumenStatisticsTest, ACachedFileIsNeverWrittenThroughALinkOrAFile) {
    namespace fs = std::filesystem;
    const fs::path folder = home.root() / "Library" / "Caches" / "127.0.0.1";
    const fs::path person = home.root() / "Documents" / "Holiday";
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link to the person's folder" : "a file of the person's");
        fs::remove_all(folder);
        fs::remove_all(person);
        fs::create_directories(person);
        auto recorder = std::make_shared<FileRecorder>();
        auto file = lumen::LMNCachedFile::create(recorder, services.urlFor(services::kLumenCoreScriptPath));
        // The person keeps a file at the very name the cached file would take.
        std::ofstream(person / fs::path(file->filePath()).filename()) << "the person's own file";
        if (link)
            fs::create_directory_symlink(person, folder);
        else
            std::ofstream(folder) << "the person's own file";
        const auto before = fwtest::FolderSnapshot::of(home.root());
        file->validate();
        ASSERT_TRUE(waitFor([&] { return recorder->ends + recorder->fails > 0; }));
        EXPECT_EQ(recorder->fails, 1);
        file->invalidate();
        EXPECT_EQ(fwtest::FolderSnapshot::of(home.root())
                      .changesOutside(before, {"Library/Preferences", "Library/DeviceIdentifier"}),
                  std::vector<std::string>{});
    }
}

TEST_F(LumenStatisticsTest, RedirectChainEndsAtTheLastURLWithItsHeaders) {
    auto recorder = std::make_shared<FileRecorder>();
    auto file = lumen::LMNCachedFile::create(recorder, services.urlFor("/lumen/ad?slotname=banner"));
    file->validate();
    ASSERT_TRUE(waitFor([&] { return recorder->ends + recorder->fails > 0; }));
    ASSERT_EQ(recorder->ends, 1);
    ASSERT_EQ(recorder->redirects.size(), 1u);
    EXPECT_EQ(file->httpDestinationURL().absoluteString(), services.url("/lumen/creative?slot=banner"));
    EXPECT_EQ(file->httpHeaders().value("X-Luma-Refresh-Rate"), "30");
    EXPECT_FALSE(file->httpHeaders().value("X-Luma-Orientation")) << "the final reply's headers";
}

TEST_F(LumenStatisticsTest, APingRedirectedToAnotherSchemeCountsAsTracked) {
    services.handle("GET", "/lumen/store", [](const services::LoggedRequest&) {
        return services::ServiceReply{302, "", "text/plain", {{"Location", "itms://store/app/1"}}};
    });
    auto tracker = lumen::LMNClickTracker::create();
    tracker->trackURL(services.urlFor("/lumen/store"));
    EXPECT_TRUE(lumen::LMNClickTracker::activeTrackings());
    ASSERT_TRUE(waitFor([&] { return tracker->hasTracked(); }));
    EXPECT_FALSE(lumen::LMNClickTracker::activeTrackings());
    EXPECT_TRUE(platform::Application::shared().openedURLs().empty()) << "no application switch";

    // A second trackURL cancels the first ping.
    services.setFault("/lumen/track", services::Fault::delay(5));
    tracker->trackURL(services.urlFor("/lumen/track?t=a"));
    tracker->trackURL(services.urlFor("/lumen/click"));
    ASSERT_TRUE(waitFor([&] { return tracker->hasTracked(); }));
    EXPECT_EQ(tracker->trackingURL()->absoluteString(), services.url("/lumen/landing.html"));
    EXPECT_EQ(lumen::LMNClickTracker::trackingCount(), 0u);
}

// Counts read back from a damaged or hand-edited preferences file may be any number: adding
// to them saturates, and the request count reads as the nearest int.
TEST_F(LumenStatisticsTest, StoredCountsOutOfRangeSaturate) {
    struct Row {
        const char* name;
        platform::Value stored;
        int requests; // the request count after one more request
    };
    const Row rows[] = {
        {"a huge real", platform::Value(1e300), std::numeric_limits<int>::max()},
        {"a huge negative real", platform::Value(-1e300), std::numeric_limits<int>::min()},
        {"the largest integer", platform::Value(std::numeric_limits<std::int64_t>::max()),
         std::numeric_limits<int>::max()},
        {"an ordinary count", platform::Value(41), 42},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        lumentest::resetClient();
        platform::UserDefaults::standard().setObject(
            "lumen_stats_shared", platform::Value(platform::Dictionary{{"preqs", row.stored}}));
        EXPECT_EQ(lumen::LMNStatistics::sharedStatistics().incrementAdRequestCount(), row.requests);
        EXPECT_EQ(lumen::LMNStatistics::sharedStatistics().adRequestCount(), row.requests);
    }
    lumentest::resetClient();
}
