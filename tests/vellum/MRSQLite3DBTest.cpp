// The SQLite database base on real SQLite in a temporary Library folder: where files go,
// opening and its failures, column upgrades, bound statements and transactions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <sqlite3.h>

#include "AnalyticsRecorder.h"
#include "vellum/tracking/MRSQLite3DB.h"

using namespace vellum;
namespace fs = std::filesystem;

namespace {

constexpr const char* kName = "MRTracking";
constexpr const char* kSubfolder = "Vellum/MRTracking";

class MRSQLite3DBTest : public ::testing::Test {
  protected:
    MRSQLite3DBTest() : library_(makeTemporaryFolder()), log_(library_) {}
    ~MRSQLite3DBTest() override {
        std::error_code ec;
        fs::remove_all(library_, ec);
    }

    static fs::path makeTemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "vellum-library-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        return pattern;
    }

    std::vector<std::string> names(MRSQLite3DB& db, const char* sql) {
        std::vector<std::string> out;
        EXPECT_TRUE(db.query(sql, {}, [&](const MRSQLite3DB::Row& row) {
            out.push_back(row.text(0).value_or("NULL"));
        })) << db.errorMessage();
        return out;
    }

    fs::path library_;
    vellumtest::AnalyticsRecorder log_;
};

} // namespace

TEST_F(MRSQLite3DBTest, CreatesTheFileUnderTheLibraryFolderAndReopensIt) {
    EXPECT_FALSE(MRSQLite3DB::databaseExistsInDocumentsSubdir(kName, kSubfolder));
    {
        MRSQLite3DB db(kName, kSubfolder);
        ASSERT_TRUE(db.dbOK());
        EXPECT_NE(db.database(), nullptr);
        ASSERT_TRUE(db.executeScript("CREATE TABLE t (name TEXT); INSERT INTO t VALUES ('kept');"));
    }
    EXPECT_TRUE(fs::is_regular_file(library_ / "Vellum" / "MRTracking" / "MRTracking.sql"));
    EXPECT_TRUE(MRSQLite3DB::databaseExistsInDocumentsSubdir(kName, kSubfolder));

    MRSQLite3DB again(kName, kSubfolder);
    EXPECT_EQ(names(again, "SELECT name FROM t"), std::vector<std::string>{"kept"});
    EXPECT_TRUE(log_.internal.empty());
    EXPECT_TRUE(log_.always.empty());
}

TEST_F(MRSQLite3DBTest, WithoutASubfolderThereIsNoDatabaseAndNoFile) {
    MRSQLite3DB db(kName, "");
    EXPECT_FALSE(db.dbOK());
    EXPECT_EQ(db.database(), nullptr);
    EXPECT_TRUE(fs::is_empty(library_));

    // Every statement then fails, each the way its operation reports it.
    EXPECT_FALSE(db.execute("CREATE TABLE t (a)"));
    EXPECT_EQ(db.errorMessage(), "database is not open");
    EXPECT_FALSE(db.executeScript("CREATE TABLE t (a)"));
    EXPECT_FALSE(db.columnNamed("a", "t"));
    EXPECT_EQ(log_.internal,
              std::vector<std::string>{"columnsFromTable select failed: 'database is not open'"});
}

TEST_F(MRSQLite3DBTest, FailuresToOpenAreLoggedAndLeaveNoConnection) {
    // A file where the folder should be: the folder cannot be made, SQLite is never asked.
    std::ofstream(library_ / "Blocked") << "a file";
    MRSQLite3DB blocked(kName, "Blocked/Sub");
    EXPECT_FALSE(blocked.dbOK());
    EXPECT_EQ(log_.always, std::vector<std::string>{"Failed to create DB path."});
    EXPECT_TRUE(log_.internal.empty());

    // A folder where the file should be: SQLite cannot open it.
    fs::create_directories(library_ / "Vellum" / "Odd" / "Name.sql");
    MRSQLite3DB odd("Name", "Vellum/Odd");
    EXPECT_FALSE(odd.dbOK());
    ASSERT_EQ(log_.internal.size(), 1u);
    EXPECT_EQ(log_.internal[0], "failed to open database '" + (library_ / "Vellum/Odd/Name.sql").string() +
                                    "' with message 'unable to open database file'.");

    // Names that would leave the Library folder are refused before anything is made.
    for (auto [name, subfolder] : {std::pair{"../escape", "Vellum"}, std::pair{"x", "../../outside"},
                                   std::pair{"x", "/absolute"}, std::pair{"", "Vellum"}}) {
        MRSQLite3DB refused(name, subfolder);
        EXPECT_FALSE(refused.dbOK()) << name << " in " << subfolder;
        EXPECT_FALSE(MRSQLite3DB::databaseExistsInDocumentsSubdir(name, subfolder));
    }
    EXPECT_FALSE(fs::exists(library_.parent_path() / "escape.sql"));
    EXPECT_FALSE(fs::exists(library_.parent_path().parent_path() / "outside"));
}

TEST_F(MRSQLite3DBTest, ColumnsAreFoundExactlyAndMissingOnesAdded) {
    MRSQLite3DB db(kName, kSubfolder);
    ASSERT_TRUE(
        db.executeScript("CREATE TABLE v2TrackedEvents (dbID INTEGER PRIMARY KEY, eventType CHAR(50));"));
    EXPECT_EQ(db.columnsFromTable("v2TrackedEvents"), (std::vector<std::string>{"dbID", "eventType"}));
    EXPECT_TRUE(db.columnNamed("eventType", "v2TrackedEvents"));
    EXPECT_FALSE(db.columnNamed("EventType", "v2TrackedEvents")) << "letter case counts";

    EXPECT_TRUE(db.addColumn("appVersion CHAR(20)", "v2TrackedEvents"));
    EXPECT_TRUE(db.columnNamed("appVersion", "v2TrackedEvents"));
    EXPECT_EQ(log_.internal.back(), "added a column (appVersion CHAR(20)) to the v2TrackedEvents table.");

    // A missing table: the check answers no after logging, and adding then fails, logged.
    EXPECT_FALSE(db.columnNamed("adSlot", "runForecasting"));
    EXPECT_EQ(log_.internal.back(), "columnsFromTable select failed: 'no such table: runForecasting'");
    EXPECT_FALSE(db.addColumn("adSlot CHAR(50)", "runForecasting"));
    EXPECT_EQ(log_.internal.back(), "error adding column (adSlot CHAR(50)): 'no such table: runForecasting'");

    // Definitions that are more than a name and a type are refused, and change nothing.
    for (const char* definition : {"x INTEGER; DROP TABLE v2TrackedEvents", "x TEXT DEFAULT 'a'", "x -- note",
                                   "", "1x INTEGER", "x\"y TEXT"}) {
        EXPECT_FALSE(db.addColumn(definition, "v2TrackedEvents")) << definition;
        EXPECT_EQ(log_.internal.back(),
                  "error adding column (" + std::string(definition) + "): 'invalid column definition'");
    }
    EXPECT_EQ(db.columnsFromTable("v2TrackedEvents"),
              (std::vector<std::string>{"dbID", "eventType", "appVersion"}));

    // Table names are quoted as identifiers, never pasted.
    ASSERT_TRUE(db.executeScript("CREATE TABLE \"odd \"\"name\"\"\" (a);"));
    EXPECT_EQ(db.columnsFromTable("odd \"name\""), std::vector<std::string>{"a"});
    EXPECT_TRUE(db.addColumn("b TEXT", "odd \"name\""));
    EXPECT_FALSE(db.columnsFromTable("v2TrackedEvents; DROP TABLE v2TrackedEvents"));
    EXPECT_TRUE(db.columnNamed("dbID", "v2TrackedEvents"));
}

TEST_F(MRSQLite3DBTest, ValuesAreBoundNeverPasted) {
    MRSQLite3DB db(kName, kSubfolder);
    ASSERT_TRUE(db.executeScript("CREATE TABLE t (s TEXT, i INTEGER, r REAL, b BLOB, n TEXT);"));
    const std::string hostile = "O'Brien'); DROP TABLE t; --";
    ASSERT_TRUE(
        db.execute("INSERT INTO t VALUES (?, ?, ?, ?, ?)",
                   {hostile, std::int64_t{-4294967296}, 2.5, std::vector<std::uint8_t>{0, 1, 255}, nullptr}))
        << db.errorMessage();
    int rows = 0;
    ASSERT_TRUE(
        db.query("SELECT s, i, r, b, n FROM t WHERE s = ?", {hostile}, [&](const MRSQLite3DB::Row& row) {
            ++rows;
            EXPECT_EQ(row.columnCount(), 5);
            EXPECT_EQ(row.text(0), hostile);
            EXPECT_EQ(row.integer(1), -4294967296);
            EXPECT_EQ(row.real(2), 2.5);
            EXPECT_EQ(row.blob(3), (std::vector<std::uint8_t>{0, 1, 255}));
            EXPECT_TRUE(row.isNull(4));
            EXPECT_EQ(row.text(4), std::nullopt);
        }));
    EXPECT_EQ(rows, 1);

    // Mistakes are reported, never half-run.
    EXPECT_FALSE(db.execute("INSERT INTO t (s) VALUES (?)", {}));
    EXPECT_EQ(db.errorMessage(), "the number of values does not match the statement's parameters");
    EXPECT_FALSE(db.execute("DELETE FROM t; DROP TABLE t"));
    EXPECT_EQ(db.errorMessage(), "only one statement can run at a time");
    EXPECT_FALSE(db.execute("SELEC 1"));
    EXPECT_NE(db.errorMessage().find("syntax error"), std::string::npos) << db.errorMessage();
    EXPECT_EQ(names(db, "SELECT count(*) FROM t"), std::vector<std::string>{"1"});
}

TEST_F(MRSQLite3DBTest, ChangesThatBelongTogetherCommitOrRollBackTogether) {
    MRSQLite3DB db(kName, kSubfolder);
    ASSERT_TRUE(db.executeScript(
        "CREATE TABLE events (name TEXT NOT NULL); CREATE TABLE stats (name TEXT NOT NULL);"));
    auto insertBoth = [&](SQLValue event, SQLValue stat) {
        return db.runInTransaction([&] {
            return db.execute("INSERT INTO events VALUES (?)", {event}) &&
                   db.execute("INSERT INTO stats VALUES (?)", {stat});
        });
    };
    EXPECT_TRUE(insertBoth(std::string("a"), std::string("a")));
    EXPECT_FALSE(insertBoth(std::string("b"), nullptr)) << "the second insert fails";
    EXPECT_NE(db.errorMessage().find("NOT NULL"), std::string::npos) << db.errorMessage();
    EXPECT_EQ(names(db, "SELECT name FROM events"), std::vector<std::string>{"a"})
        << "the first was rolled back";

    EXPECT_THROW(db.runInTransaction([&]() -> bool {
        db.execute("INSERT INTO events VALUES ('c')");
        throw std::runtime_error("interrupted");
    }),
                 std::runtime_error);
    EXPECT_EQ(names(db, "SELECT name FROM events"), std::vector<std::string>{"a"});

    // A failing inner group rolls back alone; the outer one still commits.
    EXPECT_TRUE(db.runInTransaction([&] {
        db.execute("INSERT INTO events VALUES ('outer')");
        EXPECT_FALSE(insertBoth(std::string("inner"), nullptr));
        return true;
    }));
    EXPECT_EQ(names(db, "SELECT name FROM events ORDER BY rowid"), (std::vector<std::string>{"a", "outer"}));
    EXPECT_TRUE(db.execute("INSERT INTO events VALUES ('after')")) << "no transaction was left open";
    EXPECT_TRUE(sqlite3_get_autocommit(db.database()));
}

TEST_F(MRSQLite3DBTest, AFailedCloseIsLoggedAndTheConnectionStillReleased) {
    sqlite3_stmt* leaked = nullptr;
    {
        MRSQLite3DB db(kName, kSubfolder);
        ASSERT_EQ(sqlite3_prepare_v2(db.database(), "SELECT 1", -1, &leaked, nullptr), SQLITE_OK);
    }
    ASSERT_EQ(log_.internal.size(), 1u);
    EXPECT_EQ(log_.internal[0], "error: failed to close database with message 'unable to close due to "
                                "unfinalized statements or unfinished backups'.");
    sqlite3_finalize(leaked); // the deferred close completes here (no leak under the sanitizer)
}

TEST(MRSQLite3DBText, StringWithUTF8String) {
    EXPECT_EQ(MRSQLite3DB::stringWithUTF8String(nullptr), std::nullopt);
    EXPECT_EQ(MRSQLite3DB::stringWithUTF8String(""), "");
    EXPECT_EQ(MRSQLite3DB::stringWithUTF8String("Zürich"), "Zürich");
}
