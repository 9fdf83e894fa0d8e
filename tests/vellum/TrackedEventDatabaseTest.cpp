// The tracked-event store on real SQLite files in a temporary device home.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "TrackingFixture.h"
#include "support/FolderSnapshot.h"
#include "platform/foundation/FileManager.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace {

using vellum::VellumTrackedEvent;
using vellum::VellumTrackedEventDatabase;
using vellumtest::TrackingFixture;

// 2023-11-14 10:00:00 UTC.
constexpr double kTenOClock = 1'699'956'000.0;

std::shared_ptr<VellumTrackedEvent> makeEvent(std::string type, double time, std::uint32_t runID = 100) {
    auto e = std::make_shared<VellumTrackedEvent>();
    e->eventType = std::move(type);
    e->timestamp = platform::Date{time};
    e->runID = runID;
    e->connStatus = "WiFiConnected";
    return e;
}

// Runs one statement on the store file with a separate connection; answers the first column
// of the first row as an integer (0 when none).
std::int64_t sqlValue(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    std::int64_t value = 0;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        value = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return value;
}

void runSQL(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

class TrackedEventDatabaseTest : public TrackingFixture {};

TEST_F(TrackedEventDatabaseTest, EveryValueComesBackAsStoredQuotesIncluded) {
    VellumTrackedEventDatabase db;
    ASSERT_TRUE(db.dbOK());
    auto e = makeEvent("it's \"quoted\"; DROP TABLE v2TrackedEvents; --", kTenOClock + 0.25);
    e->adID = "ad'1";
    e->adExit = 3;
    e->runDuration = 42;
    e->runNumber = 7;
    e->userCount = 2;
    e->userDuration = 9;
    e->location = platform::Location({48.5, -2.25}, 12.0, 5.0, 7.0, platform::Date{kTenOClock});
    e->stringValues = platform::Dictionary{{"MRAdSlot", "top slot"}, {"quote", "a \"b\" = c;\nd"}};
    e->numericValues = platform::Dictionary{{"MRAdExit", 3}, {"ratio", 2.5}};
    e->durationValues = platform::Dictionary{{"MRAdViewDuration", 12.75}};
    e->breadcrumbs =
        platform::Array{platform::Dictionary{{"URL", "http://x/?a=1&b='2'"}, {"Timestamp", 10.5}}};
    e->adChildAdID = "child";
    e->adParentAdID = "parent";
    e->adIsAClone = true;
    ASSERT_TRUE(db.insertTrackedEventToQueue(*e));

    auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    const auto& r = *events->front();
    EXPECT_EQ(r.eventType, e->eventType);
    EXPECT_EQ(r.adID, e->adID);
    EXPECT_EQ(r.timestamp->secondsSince1970, kTenOClock + 0.25);
    EXPECT_EQ(r.eventID, e->eventID);
    EXPECT_EQ(r.runID, 100u);
    EXPECT_EQ(r.runDuration, 42u);
    EXPECT_EQ(r.runNumber, 7);
    EXPECT_EQ(r.adExit, 3);
    EXPECT_EQ(r.userCount, 2);
    EXPECT_EQ(r.userDuration, 9u);
    ASSERT_TRUE(r.location);
    EXPECT_EQ(r.location->coordinate().latitude, 48.5);
    EXPECT_EQ(r.location->coordinate().longitude, -2.25);
    EXPECT_EQ(r.location->verticalAccuracy(), 7.0);
    // Values come back as texts.
    EXPECT_EQ(r.stringValues, e->stringValues);
    EXPECT_EQ(r.numericValues, (platform::Dictionary{{"MRAdExit", "3"}, {"ratio", "2.5"}}));
    EXPECT_EQ(r.durationValues, (platform::Dictionary{{"MRAdViewDuration", "12.75"}}));
    ASSERT_TRUE(r.breadcrumbs);
    EXPECT_EQ(r.breadcrumbs->at(0),
              (platform::Dictionary{{"URL", "http://x/?a=1&b='2'"}, {"Timestamp", "10.5"}}));
    EXPECT_EQ(r.adChildAdID, "child");
    EXPECT_EQ(r.adParentAdID, "parent");
    EXPECT_TRUE(r.adIsAClone);
    EXPECT_EQ(r.appVersion, "1.0");
    EXPECT_EQ(sqlValue(storePath(), "SELECT count(*) FROM v2TrackedEvents"), 1);
}

TEST_F(TrackedEventDatabaseTest, TextsThatLookLikeCommentsComeBackInArrayAndDictionaryColumns) {
    VellumTrackedEventDatabase db;
    ASSERT_TRUE(db.dbOK());
    auto e = makeEvent("Tap", kTenOClock);
    e->breadcrumbs = platform::Array{"//cdn.x/y", "b"};
    e->stringValues = platform::Dictionary{{"link", "//cdn.x/y"}, {"//key", "v"}};
    ASSERT_TRUE(db.insertTrackedEventToQueue(*e));
    auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ(events->front()->breadcrumbs, e->breadcrumbs);
    EXPECT_EQ(events->front()->stringValues, e->stringValues);
}

TEST_F(TrackedEventDatabaseTest, EventWithoutAdOrLocationComesBackAsRegularWithoutLocation) {
    VellumTrackedEventDatabase db;
    auto plain = makeEvent("Plain", kTenOClock);
    auto ad = makeEvent("MRAdViewed", kTenOClock + 1);
    ad->adID = "ad-1";
    ASSERT_TRUE(db.insertTrackedEventToQueue(*plain));
    ASSERT_TRUE(db.insertTrackedEventToQueue(*ad));
    EXPECT_EQ(sqlValue(storePath(), "SELECT count(*) FROM v2TrackedEvents WHERE adID = '(null)'"), 1);

    auto regular = db.retrieveQueuedPartialAdEvents(false);
    auto adEvents = db.retrieveQueuedPartialAdEvents(true);
    ASSERT_EQ(regular->size(), 1u);
    ASSERT_EQ(adEvents->size(), 1u);
    EXPECT_FALSE(regular->front()->isAdEvent());
    EXPECT_FALSE(regular->front()->location);
    EXPECT_TRUE(adEvents->front()->isAdEvent());

    // On the wire the event without a location carries no location fields.
    auto wire = regular->front()->thriftRepresentation();
    ASSERT_TRUE(wire.event);
    EXPECT_FALSE(wire.event->latIsSet());
    EXPECT_FALSE(wire.event->lonIsSet());
}

TEST_F(TrackedEventDatabaseTest, ExcludingTheCurrentRunLeavesItsEventsOut) {
    manager(); // made before the run ID is set: making it clears the run ID
    vellum::trackingState().runID = 200;
    VellumTrackedEventDatabase db;
    db.insertTrackedEventToQueue(*makeEvent("Old", kTenOClock, 100));
    db.insertTrackedEventToQueue(*makeEvent("Current", kTenOClock + 1, 200));
    auto all = db.retrieveQueuedEventsExcludeCurrentRun(false);
    auto earlier = db.retrieveQueuedEventsExcludeCurrentRun(true);
    ASSERT_EQ(all->size(), 2u);
    ASSERT_EQ(earlier->size(), 1u);
    EXPECT_EQ(earlier->front()->eventType, "Old");
}

TEST_F(TrackedEventDatabaseTest, HourDayAndMonthCountsFollowTheCalendar) {
    vellum::trackingState().firstRun = false;
    VellumTrackedEventDatabase db;
    struct Case {
        double minutesAfterTen;
        int hour, day, month;
        bool firstHour, firstDay;
    };
    const Case cases[] = {
        {1, 1, 1, 1, true, true},           // nothing stored for the type yet
        {5, 2, 2, 2, false, false},         // 10:05
        {40, 3, 3, 3, false, false},        // 10:40
        {70, 1, 4, 4, true, false},         // 11:10: first of its hour
        {60 * 24 + 5, 1, 1, 5, true, true}, // next day
    };
    for (const auto& c : cases) {
        auto e = makeEvent("Tap", kTenOClock + c.minutesAfterTen * 60);
        ASSERT_TRUE(db.insertTrackedEventToQueue(*e));
        SCOPED_TRACE(c.minutesAfterTen);
        EXPECT_EQ(e->countForHour, c.hour);
        EXPECT_EQ(e->countForDay, c.day);
        EXPECT_EQ(e->countForMonth, c.month);
        EXPECT_EQ(e->isFirstForHour, c.firstHour);
        EXPECT_EQ(e->isFirstForDay, c.firstDay);
        EXPECT_FALSE(e->isFirstEver);
    }
    // The statistics survive a reopening of the store.
    VellumTrackedEventDatabase::resetForTesting();
    VellumTrackedEventDatabase reopened;
    auto later = makeEvent("Tap", kTenOClock + (60 * 24 + 6) * 60);
    ASSERT_TRUE(reopened.insertTrackedEventToQueue(*later));
    EXPECT_EQ(later->countForHour, 2);
    EXPECT_EQ(later->countForMonth, 6);
}

TEST_F(TrackedEventDatabaseTest, FirstRunCountsEveryEventAsFirstOfItsPeriods) {
    vellum::trackingState().firstRun = true;
    VellumTrackedEventDatabase db;
    auto first = makeEvent("Tap", kTenOClock);
    auto second = makeEvent("Tap", kTenOClock + 60);
    db.insertTrackedEventToQueue(*first);
    db.insertTrackedEventToQueue(*second);
    EXPECT_TRUE(first->isFirstEver);
    EXPECT_FALSE(second->isFirstEver);
    EXPECT_TRUE(second->isFirstForHour);
    EXPECT_EQ(second->countForHour, 1);
}

TEST_F(TrackedEventDatabaseTest, MarkingTakesOnlyDecimalIDsAndDeletingRemovesTheMarked) {
    VellumTrackedEventDatabase db;
    std::vector<std::shared_ptr<VellumTrackedEvent>> events;
    for (int i = 0; i < 3; ++i) {
        events.push_back(makeEvent("E" + std::to_string(i), kTenOClock + i));
        ASSERT_TRUE(db.insertTrackedEventToQueue(*events.back()));
    }
    const std::string first = std::to_string(events[0]->eventID);
    const std::string third = std::to_string(events[2]->eventID);
    EXPECT_TRUE(db.updateEventsAsBroadcast(
        {first, "1) OR (1=1", "", "-5", "12abc", "99999999999999999999999", third}));
    auto queued = db.retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_EQ(queued->size(), 1u);
    EXPECT_EQ(queued->front()->eventType, "E1");
    EXPECT_EQ(sqlValue(storePath(), "SELECT count(*) FROM v2TrackedEvents"), 3);

    EXPECT_TRUE(db.deleteBroadcastEvents());
    EXPECT_EQ(sqlValue(storePath(), "SELECT count(*) FROM v2TrackedEvents"), 1);
    EXPECT_TRUE(db.updateEventsAsBroadcast({}));
}

TEST_F(TrackedEventDatabaseTest, AFailedInsertRollsBackTheRowAndTheStatistics) {
    // An insert on its own runs in a transaction of its own; inside a caller's transaction a
    // failed statistics write must take the row back out before the caller goes on.
    for (const bool insideTransaction : {false, true}) {
        SCOPED_TRACE(insideTransaction ? "inside a caller's transaction" : "on its own");
        std::filesystem::remove_all(storePath().parent_path());
        VellumTrackedEventDatabase::resetForTesting();
        VellumTrackedEventDatabase db;
        ASSERT_TRUE(db.insertTrackedEventToQueue(*makeEvent("Before", kTenOClock)));
        runSQL(storePath(), "DROP TABLE eventMaxTimestamps;");
        setLogLevel("VERBOSE");
        const std::string statsTable =
            "CREATE TABLE eventMaxTimestamps (eventType CHAR(50) NOT NULL, maxTimestamp REAL NOT NULL, "
            "countForMonth INT NOT NULL, countForDay INT NOT NULL, countForHour INT NOT NULL);";
        bool failed = false;
        auto lostThenAfter = [&] {
            failed = !db.insertTrackedEventToQueue(*makeEvent("Lost", kTenOClock + 1));
            if (insideTransaction) {
                // The caller carries on in its transaction after the failure.
                EXPECT_TRUE(db.executeScript(statsTable));
                EXPECT_TRUE(db.insertTrackedEventToQueue(*makeEvent("After", kTenOClock + 2)));
            }
            return true;
        };
        if (insideTransaction) {
            ASSERT_TRUE(db.runInTransaction(lostThenAfter));
        } else {
            lostThenAfter();
            // The connection is not left inside a transaction: later statements still commit.
            runSQL(storePath(), statsTable);
            EXPECT_TRUE(db.insertTrackedEventToQueue(*makeEvent("After", kTenOClock + 2)));
        }
        EXPECT_TRUE(failed);
        EXPECT_TRUE(log.contains("insertTrackedEventToQueue insert failed"));
        EXPECT_EQ(sqlValue(storePath(), "SELECT count(*) FROM v2TrackedEvents WHERE eventType = 'Lost'"), 0);
        EXPECT_EQ(sqlValue(storePath(), "SELECT count(*) FROM v2TrackedEvents"), 2);
        EXPECT_EQ(VellumTrackedEventDatabase::statistics().count("Lost"), 0u);
        EXPECT_EQ(VellumTrackedEventDatabase::statistics().count("After"), 1u);
    }
}

TEST_F(TrackedEventDatabaseTest, AdRequestsAreCountedPerSlotUntilCleared) {
    VellumTrackedEventDatabase db;
    db.incrementRunForecastingForAdSlot("top");
    db.incrementRunForecastingForAdSlot("top");
    db.incrementRunForecastingForAdSlot("it's bottom");
    EXPECT_EQ(db.runForecastingData(), (platform::Dictionary{{"it's bottom", 1}, {"top", 2}}));
    EXPECT_TRUE(db.clearRunForecasting());
    EXPECT_EQ(db.runForecastingData(), platform::Dictionary{});
}

TEST_F(TrackedEventDatabaseTest, OlderFilesGainTheMissingColumnsAndEventIDs) {
    std::filesystem::create_directories(storePath().parent_path());
    runSQL(storePath(),
           "CREATE TABLE v2TrackedEvents (dbID INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, wasBroadcast "
           "INTEGER NOT "
           "NULL, timestamp REAL NOT NULL, eventType CHAR(50) NOT NULL, adID CHAR(50), connStatus CHAR(20) "
           "NOT NULL, "
           "latitude REAL NOT NULL, longitude REAL NOT NULL, altitude REAL NOT NULL, horizontalAccuracy REAL "
           "NOT "
           "NULL, verticalAccuracy REAL NOT NULL, isFirstEver INT NOT NULL, isFirstForMonth INT NOT NULL, "
           "isFirstForDay INT NOT NULL, isFirstForHour INT NOT NULL, countForMonth INT NOT NULL, countForDay "
           "INT NOT "
           "NULL, countForHour INT NOT NULL, runID INT NOT NULL, runNumber INT NOT NULL, runDuration INT NOT "
           "NULL, "
           "adExit INT NOT NULL, userCount INT, userDuration INT, userDict TEXT);"
           "INSERT INTO v2TrackedEvents VALUES (5, 0, 1699956000, 'Old', '(null)', 'WiFiConnected', 0, 0, 0, "
           "0, 0, "
           "0, 0, 0, 0, 1, 1, 1, 9, 1, 0, 0, 0, 0, '{\n    color = blue;\n    count = 3;\n}');");
    VellumTrackedEventDatabase db;
    auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ(events->front()->eventID, 5u);
    EXPECT_EQ(events->front()->userDict, (platform::Dictionary{{"color", "blue"}, {"count", "3"}}));
    EXPECT_FALSE(events->front()->location); // all-zero location columns: no location
    EXPECT_TRUE(db.columnNamed("adIsAClone", "v2TrackedEvents"));
}

class LegacyStoreTest : public TrackingFixture {
protected:
    std::filesystem::path legacyPath() const {
        return home.root() / "Documents" / "Tolvane" / "MRTracking" / "MRTracking.sql";
    }
    void makeLegacyStore() { makeLegacyStoreAt(legacyPath()); }
    void makeLegacyStoreAt(const std::filesystem::path& path) {
        std::filesystem::create_directories(path.parent_path());
        runSQL(
            path,
            "CREATE TABLE trackedEvents (dbID INTEGER PRIMARY KEY, wasBroadcast INTEGER, timestamp REAL, "
            "eventType CHAR(50), connStatus CHAR(20), latitude REAL, longitude REAL, altitude REAL, userDict "
            "TEXT);"
            "INSERT INTO trackedEvents VALUES (1, 0, 1699956060, 'Launch', 'WiFiConnected', 45.5, 7.25, 3, "
            "'{}');"
            "INSERT INTO trackedEvents VALUES (2, 0, 1699956120, 'Launch', 'CDNConnected', 0, 0, 0, '{}');"
            "INSERT INTO trackedEvents VALUES (3, 1, 1699956180, 'Tap', 'WiFiConnected', 0, 0, 0, "
            "'{\n    button = \"Buy now\";\n}');");
    }
};

TEST_F(LegacyStoreTest, TheLegacyStoreIsMovedAndMigrated) {
    makeLegacyStore();
    VellumTrackedEventDatabase db;
    ASSERT_TRUE(db.dbOK());
    EXPECT_FALSE(std::filesystem::exists(home.root() / "Documents" / "Tolvane"));
    EXPECT_TRUE(std::filesystem::exists(storePath()));
    EXPECT_TRUE(defaults().boolForKey("MRV1Upgrade"));

    // The acknowledged legacy row is deleted at the opening; the others are queued with IDs.
    auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 2u);
    EXPECT_EQ(events->at(0)->eventType, "Launch");
    EXPECT_EQ(events->at(0)->eventID, 1u);
    EXPECT_EQ(events->at(1)->eventID, 2u);
    ASSERT_TRUE(events->at(0)->location);
    EXPECT_EQ(events->at(0)->location->coordinate().latitude, 45.5);
    EXPECT_FALSE(events->at(1)->location);

    const auto& stats = VellumTrackedEventDatabase::statistics();
    ASSERT_EQ(stats.count("Launch"), 1u);
    EXPECT_EQ(stats.at("Launch").maxTimestamp, 1699956120.0);
    EXPECT_EQ(stats.at("Launch").countForHour, 2); // both are later than the start of 10:00
    EXPECT_EQ(stats.at("Launch").countForDay, 2);
    EXPECT_EQ(stats.at("Tap").countForMonth, 1);
}

// The old library folder sits in the person's Documents: after the move only what the old
// library made goes (the store's companion files, then "MRTracking" and "Tolvane" when
// nothing else is left in them); the person's files there stay, byte for byte.
TEST_F(LegacyStoreTest, TheMoveLeavesThePersonsFilesBesideTheOldStore) {
    makeLegacyStore();
    const auto tolvane = home.root() / "Documents" / "Tolvane";
    const std::pair<std::string, std::string> theirs[] = {
        {"notes.txt", "a person's notes"},
        {"Photos/beach.jpg", "not really a picture"},
        {"MRTrackingOld/MRTracking.sql", "a copy the person kept"},
        {"MRTracking/export.csv", "a,b\n1,2\n"},
    };
    for (const auto& [name, text] : theirs) {
        std::filesystem::create_directories((tolvane / name).parent_path());
        std::ofstream(tolvane / name, std::ios::binary) << text;
    }
    std::ofstream(legacyPath().parent_path() / "MRTracking.sql-journal") << "";
    {
        VellumTrackedEventDatabase db;
        ASSERT_TRUE(db.dbOK());
        EXPECT_TRUE(std::filesystem::exists(storePath()));
        EXPECT_FALSE(std::filesystem::exists(legacyPath()));
        EXPECT_FALSE(std::filesystem::exists(legacyPath().string() + "-journal"));
        for (const auto& [name, text] : theirs) {
            SCOPED_TRACE(name);
            std::ifstream in(tolvane / name, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
        }
        auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
        ASSERT_TRUE(events);
        EXPECT_EQ(events->size(), 2u);
    }
}

TEST_F(LegacyStoreTest, AnExistingStoreFolderLeavesTheLegacyFileAlone) {
    makeLegacyStore();
    std::filesystem::create_directories(storePath().parent_path());
    VellumTrackedEventDatabase db;
    EXPECT_TRUE(std::filesystem::exists(legacyPath()));
    auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_TRUE(events);
    EXPECT_TRUE(events->empty());
}

// The old library's folders in Documents and the store's folder in Library are used only as
// real folders: with a link to a folder of the person's (or a file of the person's) at any of
// their names, nothing is moved, written or removed behind it, and the tracking runs without
// the legacy move (or without a store).
TEST_F(LegacyStoreTest, NoStoreFolderIsUsedThroughALinkOrAFile) {
    namespace fs = std::filesystem;
    const fs::path documents = home.root() / "Documents";
    const fs::path person = documents / "Holiday";
    const fs::path tolvane = documents / "Tolvane";
    const fs::path storeFolder = storePath().parent_path();
    struct Row {
        const char* what;
        std::function<void()> arrange;
        bool storeOpens;
    };
    auto linkTo = [&](const fs::path& name, const fs::path& target) {
        fs::create_directories(name.parent_path());
        fs::create_symlink(target, name);
    };
    auto fileAt = [&](const fs::path& name) {
        fs::create_directories(name.parent_path());
        std::ofstream(name) << "the person's own file";
    };
    const Row rows[] = {
        {"Tolvane a link to the person's folder", [&] { linkTo(tolvane, person); }, true},
        {"Tolvane/MRTracking a link to the person's folder",
         [&] { linkTo(tolvane / "MRTracking", person / "MRTracking"); }, true},
        {"the old store a link to the person's database",
         [&] { linkTo(legacyPath(), person / "MRTracking" / "MRTracking.sql"); }, true},
        {"the store folder a link to the person's folder", [&] { linkTo(storeFolder, person); }, false},
        {"the store folder a file", [&] { fileAt(storeFolder); }, false},
        {"the library's folder a link to the person's folder",
         [&] { linkTo(storeFolder.parent_path(), person); }, false},
        {"the library's folder a file", [&] { fileAt(storeFolder.parent_path()); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        VellumTrackedEventDatabase::resetForTesting();
        for (const auto& folder : {person, tolvane, storeFolder.parent_path()})
            fs::remove_all(folder);
        // The person's folder looks like what the libraries keep: an old store with its
        // journal, and a file beside them.
        makeLegacyStoreAt(person / "MRTracking" / "MRTracking.sql");
        std::ofstream(person / "MRTracking" / "MRTracking.sql-journal") << "";
        std::ofstream(person / "notes.txt") << "the person's notes";
        row.arrange();
        const auto before = fwtest::FolderSnapshot::of(home.root());
        {
            VellumTrackedEventDatabase db;
            EXPECT_EQ(db.dbOK(), row.storeOpens);
            if (row.storeOpens) {
                auto events = db.retrieveQueuedEventsExcludeCurrentRun(false);
                ASSERT_TRUE(events);
                EXPECT_TRUE(events->empty()) << "nothing of the person's was taken as the old store";
            }
        }
        std::vector<std::string> owned = {"Library/Preferences", "Library/Logs"};
        if (row.storeOpens)
            owned.push_back(storeFolder.parent_path().lexically_relative(home.root()).generic_string());
        EXPECT_EQ(fwtest::FolderSnapshot::of(home.root()).changesOutside(before, owned), std::vector<std::string>{});
    }
}

TEST(TrackedEventIDs, AreStrictlyIncreasingWithinTheProcess) {
    fwtest::ManualClockScope clock;
    clock.clock().setNow(1'700'000'000.0);
    VellumTrackedEvent::resetEventIDsForTesting();
    const auto a = VellumTrackedEvent::nextEventID();
    const auto b = VellumTrackedEvent::nextEventID();
    EXPECT_EQ(a, static_cast<std::uint32_t>(1'700'000'000.0 - platform::kTimeIntervalSince1970To2001));
    EXPECT_EQ(b, a + 1);
    clock.clock().setNow(1'700'000'100.0);
    EXPECT_EQ(VellumTrackedEvent::nextEventID(), a + 100);
}

} // namespace
