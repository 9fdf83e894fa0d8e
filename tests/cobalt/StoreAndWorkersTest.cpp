// The store (version wipe, statements, records through the DB thread, the authorizer on
// scripts' statements), the codecs, and the worker threads with their commands and wake-ups.
#include <sqlite3.h>

#include <atomic>
#include <set>
#include <chrono>
#include <thread>

#include "CobaltTestSupport.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBDatabase.h"
#include "platform/runloop/BackgroundWork.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/WaitingMessages.h"
#include "services/VellumAdEndpoints.h"
#include "support/ManualClockScope.h"
#include "support/ToolMadeArchives.h"

namespace {

using namespace cobalt;
using platform::Value;
namespace fs = std::filesystem;

class StoreTest : public cobalttest::CobaltTest {};

TEST_F(StoreTest, AStoreOfAnotherVersionIsWipedAndTheUserFilesStay) {
    write(store() / "Config" / "1_1.0" / "driver.js", "old");
    write(store() / "Content" / "cbBanner" / "7" / "index.html", "old ad");
    write(store() / "thesis.docx", "the person's");
    write(documents() / "my-notes.txt", "mine");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((store() / "cobaltdb.sql").c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE settings ('id' TEXT PRIMARY KEY, 'data' BLOB);"
                         "INSERT INTO settings VALUES('version', '3.1.1');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    // A stale journal beside the old store would be rolled into the fresh one.
    write(store() / "cobaltdb.sql-journal", "stale");
    write(store() / "cobaltdb.sql-wal", "stale");
    auto database = CBDatabase::create();
    database->init();
    EXPECT_TRUE(database->initialized());
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(store()))
        left.insert(e.path().filename().string());
    // Only the engine's own names go: a file of the person's in the folder stays.
    EXPECT_EQ(left, (std::set<std::string>{"cobaltdb.sql", "thesis.docx"}));
    EXPECT_EQ(read(store() / "thesis.docx"), "the person's");
    EXPECT_EQ(read(documents() / "my-notes.txt"), "mine");
    EXPECT_EQ(database->sqlExecute("SELECT id, data FROM settings"),
              (platform::Array{Value(platform::Array{Value("version"), Value("3.1.2")})}));

    // The same version is kept as it is.
    database->sqlExecute("CREATE TABLE ads (slotName TEXT)");
    database.reset();
    auto again = CBDatabase::create();
    again->init();
    EXPECT_EQ(again->sqlExecute("SELECT count(*) FROM sqlite_master WHERE name='ads'"),
              (platform::Array{Value(platform::Array{Value(1)})}));
}

TEST_F(StoreTest, StatementsAnswerTypedRowsAndScriptsCannotReachOtherFiles) {
    auto database = CBDatabase::create();
    database->init();
    EXPECT_EQ(database->sqlExecute("SELECT 1, 2.5, 'x', NULL, x'0102'"),
              (platform::Array{Value(platform::Array{Value(1), Value(2.5), Value("x"), Value(), Value(platform::Data{1, 2})})}));
    EXPECT_TRUE(database->sqlExecute("UPDATE settings SET data='y' WHERE id='none'").empty());
    EXPECT_TRUE(database->sqlExecute("SELEC nonsense").empty());
    // Values are bound: a quote in an id is matched literally.
    database->sqlExecute("INSERT INTO settings (id, data) VALUES(?, ?)", {Value("it's"), Value("q")});
    EXPECT_EQ(database->sqlExecute("SELECT data FROM settings WHERE id=?", {Value("it's")}).size(), 1u);

    const fs::path other = home.root() / "tmp" / "other.db";
    for (const std::string& statement :
         std::vector<std::string>{"ATTACH DATABASE '" + other.string() + "' AS other", "SELECT load_extension('/tmp/none.so')"}) {
        SCOPED_TRACE(statement);
        EXPECT_FALSE(database->sqlExecuteFromScript(statement));
    }
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(database->sqlExecuteFromScript("SELECT count(*) FROM settings")->size(), 1u);
    EXPECT_FALSE(CBDatabase::isPlainIdentifier("settings; DROP TABLE settings"));
}

// A script's statement calls only the store's listed functions. What the driver script's
// statements and work on plain columns need still runs; the rest is refused, and so are
// triggers and views, which the engine's own statements would run outside a script's bounds.
TEST_F(StoreTest, ScriptStatementsKeepToTheListedFunctions) {
    auto database = CBDatabase::create();
    database->init();
    const char* accepted[] = {
        "CREATE TABLE IF NOT EXISTS ads (slotName TEXT, dlTime INTEGER, expiration INTEGER, trackers TEXT, "
        "PRIMARY KEY (slotName, dlTime))",
        "INSERT OR REPLACE INTO ads (slotName, dlTime, expiration, trackers) VALUES ('banner', 1, 2, 'aGk=')",
        "SELECT count(*), max(dlTime), min(expiration), sum(dlTime), total(dlTime), avg(dlTime), "
        "group_concat(slotName) FROM ads",
        "SELECT length(trackers), substr(slotName, 2), substring(slotName, 2), instr(slotName, 'n'), "
        "replace(slotName, 'b', 'B'), upper(slotName), lower(slotName), hex(trackers), quote(slotName), "
        "length(zeroblob(4)), typeof(dlTime), coalesce(NULL, 1), ifnull(NULL, 1), nullif(1, 2), iif(1, 2, 3), "
        "abs(-1), round(1.5), max(1, 2), min(1, 2), printf('%d', dlTime) FROM ads "
        "WHERE slotName LIKE 'ban%' AND slotName GLOB 'b*'",
        "ALTER TABLE ads ADD COLUMN shown INTEGER",
        "ALTER TABLE ads RENAME COLUMN shown TO seen",
        "ALTER TABLE ads DROP COLUMN seen",
        "CREATE INDEX adsByExpiration ON ads (expiration)",
        "DELETE FROM ads WHERE slotName='banner' AND dlTime=1",
        "CREATE TABLE scratch (x)",
        "ALTER TABLE scratch RENAME TO scratch2",
        "DROP TABLE scratch2",
    };
    for (const char* statement : accepted) {
        SCOPED_TRACE(statement);
        EXPECT_TRUE(database->sqlExecuteFromScript(statement));
    }
    const char* refused[] = {
        "SELECT json_group_array(slotName) FROM ads",
        "SELECT json_group_object(slotName, dlTime) FROM ads",
        "SELECT json('[1]')",
        "SELECT '[1]' -> '$[0]'",
        "SELECT date('now')",
        "SELECT random()",
        "SELECT randomblob(8)",
        "SELECT trim('  a  ')",
        "SELECT row_number() OVER () FROM ads",
        "SELECT char(65)",
        "SELECT format('%d', 1)",
        "SELECT sqlite_version()",
        "CREATE TRIGGER kept AFTER DELETE ON ads BEGIN SELECT 1; END",
        "CREATE TEMP TRIGGER kept AFTER DELETE ON ads BEGIN SELECT 1; END",
        "CREATE VIEW adsView AS SELECT 1",
        "CREATE TEMP VIEW ads AS SELECT 'banner' AS slotName",
    };
    for (const char* statement : refused) {
        SCOPED_TRACE(statement);
        EXPECT_FALSE(database->sqlExecuteFromScript(statement));
    }
    EXPECT_EQ(database->sqlExecute("SELECT count(*) FROM sqlite_master WHERE type IN ('trigger', 'view')"),
              (platform::Array{Value(platform::Array{Value(0)})}));
    EXPECT_EQ(database->sqlExecute("SELECT count(*) FROM sqlite_temp_master"),
              (platform::Array{Value(platform::Array{Value(0)})}));
}

TEST_F(StoreTest, RecordsTravelThroughTheDatabaseThread) {
    auto database = CBDatabase::create();
    database->init();
    auto manager = std::make_shared<CBAsyncCommandManager>(CBAsyncCommandQueue::create(), "CBDBQueryManager thread");
    database->setQueryManager(manager);
    const platform::Data bytes{0, 1, 2, 250, 255};
    database->setRecordData("blob", "settings", bytes);
    database->setRecordNumber("count", "settings", -42);
    std::optional<Value> data, number, missing;
    bool missingAnswered = false;
    database->fetchDataForRecordID("blob", "settings", [&](std::optional<Value> v) { data = v; });
    database->fetchNumberForRecordID("count", "settings", [&](std::optional<Value> v) { number = v; });
    database->fetchStringForRecordID("none", "settings", [&](std::optional<Value> v) {
        missing = v;
        missingAnswered = true;
    });
    ASSERT_TRUE(waitFor([&] { return data && number && missingAnswered; }));
    EXPECT_EQ(*data, Value(bytes));
    EXPECT_EQ(*number, Value(-42));
    EXPECT_FALSE(missing);
    manager->shutdown();
}

TEST_F(StoreTest, APersonsFileNamedCBIsLeftAloneAndTheEngineRunsWithoutAStore) {
    write(store(), "the person's own file");
    auto database = CBDatabase::create();
    database->init();
    EXPECT_TRUE(database->initialized());
    EXPECT_FALSE(database->isOpen());
    EXPECT_TRUE(database->sqlExecute("SELECT 1").empty());
    EXPECT_FALSE(database->sqlExecuteFromScript("SELECT 1"));
    EXPECT_FALSE(database->recoverIfGone());
    EXPECT_EQ(read(store()), "the person's own file");
    // Once the person's file is gone, the store is made at the next check.
    fs::remove(store());
    EXPECT_TRUE(database->recoverIfGone());
    EXPECT_EQ(database->sqlExecute("SELECT data FROM settings WHERE id='version'"),
              (platform::Array{Value(platform::Array{Value("3.1.2")})}));
}

// The person deletes the store while the engine runs: a write finds it gone (or a check finds
// the file missing), and the store is made again, whole and bounded, with the handler told.
TEST_F(StoreTest, AStoreThatHasGoneIsMadeAgain) {
    struct Case {
        const char* what;
        std::function<void(CBDatabase&)> notice;
    };
    const Case cases[] = {
        {"a write by the engine", [](CBDatabase& d) { d.sqlExecute("INSERT INTO settings VALUES('a', 'b')"); }},
        {"a script's write", [](CBDatabase& d) { d.sqlExecuteFromScript("CREATE TABLE ads (slotName TEXT)"); }},
        {"a check before a refresh", [](CBDatabase& d) { EXPECT_TRUE(d.recoverIfGone()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(store());
        auto database = CBDatabase::create();
        database->init();
        int resets = 0;
        database->setStoreResetHandler([&resets] { ++resets; });
        EXPECT_FALSE(database->recoverIfGone()) << "a whole store is left as it is";
        database->sqlExecute("CREATE TABLE mine (x)");
        for (const std::string gone : {"the folder", "the file"}) {
            SCOPED_TRACE(gone);
            const int before = resets;
            gone == "the folder" ? (void)fs::remove_all(store()) : (void)fs::remove(store() / "cobaltdb.sql");
            c.notice(*database);
            EXPECT_EQ(resets, before + 1);
            EXPECT_TRUE(fs::is_regular_file(store() / "cobaltdb.sql"));
            EXPECT_EQ(database->sqlExecute("SELECT data FROM settings WHERE id='version'"),
                      (platform::Array{Value(platform::Array{Value("3.1.2")})}));
            // Writes work again, and the store's bound holds for the new connection.
            database->sqlExecute("INSERT INTO settings VALUES('after', 'x')");
            EXPECT_EQ(database->sqlExecute("SELECT count(*) FROM settings WHERE id='after'").size(), 1u);
            EXPECT_EQ(database->sqlExecute("PRAGMA max_page_count"),
                      (platform::Array{Value(platform::Array{Value(CBDatabase::kMaxStoreBytes / 4096)})}));
        }
    }
}

TEST(Codecs, Base64AndScriptLiterals) {
    struct Case {
        std::string bytes, text;
    };
    for (const auto& c : {Case{"abc", "YWJj"}, Case{"ab", "YWI="}, Case{"a", "YQ=="}, Case{"", ""}}) {
        EXPECT_EQ(CBBase64::base64StringWithString(c.bytes), c.text);
        EXPECT_EQ(CBBase64::stringWithBase64String(c.text), c.bytes);
    }
    EXPECT_EQ(CBBase64::stringWithBase64String("YWI"), "ab") << "exactly the encoded bytes";
    EXPECT_EQ(CBBase64::stringWithBase64String("YW\nJj"), "abc");

    EXPECT_EQ(CBJSON::stringByEscapingCharacters("a\t\"b"), "a\\t\\\"b");
    EXPECT_EQ(CBJSON::stringByEscapingCharacters("plain"), "plain");
    EXPECT_EQ(CBJSON::stringByEscapingCharacters(std::string("\x01", 1)), "\\u0001");
    EXPECT_EQ(CBJSON::stringByUnescapingCharacters("a\\tb\\u0041\\\\"), "a\tbu0041\\");
    platform::Dictionary d;
    d["a"] = Value(platform::Array{Value(1), Value("b")});
    EXPECT_EQ(CBJSON::stringWithObject(Value(d)), "{a:[1,\"b\"]}");
    EXPECT_EQ(CBJSON::objectWithString("7"), Value(7));
    EXPECT_FALSE(CBJSON::objectWithString("{nope"));
    EXPECT_EQ(scriptStringLiteral("</script>\xE2\x80\xA8'"), "\"\\u003c/script>\\u2028\\'\"");
}

constexpr const char* kEndlessStatement =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT count(*) FROM c";

TEST_F(StoreTest, ScriptStatementsEndWithinTheirBudgetAndFailuresAnswerNull) {
    auto database = CBDatabase::create();
    database->init();
    // A statement that never ends on its own is cut at its budget; a cancelled one at once.
    EXPECT_FALSE(database->sqlExecuteFromScript(kEndlessStatement));
    const std::atomic<bool> cancelled{true};
    EXPECT_FALSE(
        database->sqlExecuteFromScript("SELECT count(*) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                                       "SELECT x+1 FROM c WHERE x < 100000) SELECT x FROM c)",
                                       &cancelled));
    // Memory is bounded: one value, and the rows together.
    EXPECT_FALSE(database->sqlExecuteFromScript("SELECT zeroblob(1000000000)"));
    EXPECT_FALSE(database->sqlExecuteFromScript("SELECT length(zeroblob(" +
                                                std::to_string(CBDatabase::kMaxScriptValueBytes + 1) + "))"));
    // A row wider than the bound is refused before it is made.
    std::string columns = "1";
    for (int i = 0; i < CBDatabase::kMaxScriptColumns; ++i)
        columns += ",1";
    EXPECT_FALSE(database->sqlExecuteFromScript("SELECT " + columns));
    EXPECT_EQ(database->sqlExecute("SELECT " + columns).size(), 1u);
    const std::string rows = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x < %d) "
                             "SELECT zeroblob(4000) FROM c";
    auto rowsOf = [&](int n) { return std::string(rows).replace(rows.find("%d"), 2, std::to_string(n)); };
    EXPECT_FALSE(database->sqlExecuteFromScript(rowsOf(3000)));
    EXPECT_EQ(database->sqlExecuteFromScript(rowsOf(1000))->size(), 1000u);
    // The bounds hold for scripts only.
    EXPECT_EQ(database->sqlExecute("SELECT length(zeroblob(5000000))"),
              (platform::Array{Value(platform::Array{Value(5000000)})}));
    // The handle is whole afterwards, and an empty result is not a failure.
    EXPECT_EQ(database->sqlExecuteFromScript("SELECT 1"),
              (platform::Array{Value(platform::Array{Value(1)})}));
    EXPECT_EQ(database->sqlExecuteFromScript("SELECT 1 WHERE 0"), platform::Array{});

    // Through the DB thread: the cut statement answers null, the next one its rows, in order.
    auto manager =
        std::make_shared<CBAsyncCommandManager>(CBAsyncCommandQueue::create(), "CBDBQueryManager thread");
    database->setQueryManager(manager);
    std::vector<Value> answers;
    auto record = [&answers] {
        return CBCallbackContext::contextWithCallbackInvocation(
            [&answers](const Value& v) { answers.push_back(v); }, true);
    };
    database->sendQuery(kEndlessStatement, {}, record(), true);
    database->sendQuery("SELEC nonsense", {}, record(), true);
    database->sendQuery("SELECT 2", {}, record(), true);
    ASSERT_TRUE(waitFor([&] { return answers.size() == 3; }, 0.1, 60.0));
    EXPECT_EQ(answers, (std::vector<Value>{Value(), Value(),
                                           Value(platform::Array{Value(platform::Array{Value(2)})})}));
    manager->shutdown();
}

TEST_F(StoreTest, SendingAQueryNeverWaitsForTheStatementInProgress) {
    auto database = CBDatabase::create();
    database->init();
    auto manager =
        std::make_shared<CBAsyncCommandManager>(CBAsyncCommandQueue::create(), "CBDBQueryManager thread");
    database->setQueryManager(manager);
    // A command on the DB thread holds the store for as long as the test wants, as a long
    // statement does; sending another query from the main thread must not wait for it.
    struct Holding : CBAsyncCommand {
        std::shared_ptr<CBDatabase> database;
        std::atomic<bool> started{false}, release{false};
        int type() const override { return 99; }
        void execute() override {
            database->withStoreLockForTesting([this] {
                started = true;
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        }
    };
    auto holding = std::make_shared<Holding>();
    holding->database = database;
    manager->sendAsyncCommand(holding);
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return holding->started.load(); }, 20.0));
    // Without the fix the send waits until the watchdog lets the holder go.
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!holding->release && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        holding->release = true;
    });
    database->sendQuery("SELECT 1", {}, nullptr, true);
    EXPECT_FALSE(holding->release.exchange(true)) << "sendQuery waited for the statement in progress";
    watchdog.join();
    manager->shutdown();
}

class WorkerTest : public cobalttest::CobaltTest {
protected:
    std::shared_ptr<CBCallbackContext> record(std::vector<Value>& results) {
        return CBCallbackContext::contextWithCallbackTarget([&results](const Value& v) { results.push_back(v); }, true);
    }
    CBAsyncCommandManager io{CBAsyncCommandQueue::create(), "CBIORequestManager thread"};
};

TEST_F(WorkerTest, FileCommandsRunInOrderAndAnswerOnTheMainThread) {
    const fs::path file = store() / "a.txt";
    fs::create_directories(store());
    std::vector<Value> results;
    io.sendAsyncCommand(CBIOWriteRequest::requestWithPath(file.string(), {'o', 'n', 'e'}, false));
    io.sendAsyncCommand(CBIOWriteRequest::requestWithPath(file.string(), {'+'}, true));
    io.sendAsyncCommand(CBIOReadRequest::requestWithPathToRead(file.string(), record(results)));
    io.sendAsyncCommand(CBIOWriteRequest::requestWithPath(file.string(), {'t', 'w', 'o'}, false));
    io.sendAsyncCommand(CBIOReadRequest::requestWithPathToRead(file.string(), record(results)));
    io.sendAsyncCommand(CBIOReadRequest::requestWithPathToRead((store() / "missing").string(), record(results)));
    write(store() / "empty", "");
    io.sendAsyncCommand(CBIOReadRequest::requestWithPathToRead((store() / "empty").string(), record(results)));
    io.sendAsyncCommand(CBJSONCommand::jsonCommandWithType(2, Value("[1]"), record(results)));
    io.sendAsyncCommand(CBJSONCommand::jsonCommandWithType(CBJSONCommand::kParse, Value("[1]"), record(results)));
    ASSERT_TRUE(waitFor([&] { return results.size() == 4; }));
    time.advance(1.0);
    EXPECT_EQ(results, (std::vector<Value>{Value(platform::Data{'o', 'n', 'e', '+'}), Value(platform::Data{'t', 'w', 'o'}),
                                           Value(platform::Data{}), Value(platform::Array{Value(1)})}));
}

TEST_F(WorkerTest, WakeUpsAreThrottledAndABurstRunsTogether) {
    std::vector<Value> results;
    auto queue = io.commandQueue();
    // A first command makes sure the worker runs; then a quiet period.
    io.sendAsyncCommand(CBJSONCommand::jsonCommandWithType(CBJSONCommand::kParse, Value("0"), record(results)));
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return !results.empty(); }, 10.0));
    time.advance(1.0);
    results.clear();
    io.sendAsyncCommand(CBJSONCommand::jsonCommandWithType(CBJSONCommand::kParse, Value("1"), record(results)));
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return !results.empty(); }, 10.0));
    const double firstWake = queue->lastFiredTime();
    ASSERT_GT(firstWake, 0);
    time.advance(0.05);
    io.sendAsyncCommand(CBJSONCommand::jsonCommandWithType(CBJSONCommand::kParse, Value("2"), record(results)));
    io.sendAsyncCommand(CBJSONCommand::jsonCommandWithType(CBJSONCommand::kParse, Value("3"), record(results)));
    // Within the interval the worker is not woken again: the two wait for the delayed fire.
    EXPECT_EQ(queue->lastFiredTime(), firstWake);
    time.advance(0.25);
    EXPECT_GE(queue->lastFiredTime(), firstWake + 0.3);
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return results.size() == 3; }, 10.0));
    EXPECT_EQ(results, (std::vector<Value>{Value(1), Value(2), Value(3)}));
}

TEST_F(WorkerTest, UnzipConfinesEntriesAndRemovesTheArchive) {
    const fs::path zip = store() / "t.zip";
    write(zip, services::makeZipArchive({{"img/", ""}, {"img/a.png", "PNG"}, {"blank.txt", ""}}));
    write(store() / "bad.zip", services::makeZipArchive({{"ok.txt", "x"}, {"../../escape.txt", "x"}}));
    std::vector<Value> results;
    io.sendAsyncCommand(CBIOUnzipRequest::requestWithSourceZipFilePath(zip.string(), (store() / "out").string(), record(results)));
    io.sendAsyncCommand(CBIOUnzipRequest::requestWithSourceZipFilePath((store() / "bad.zip").string(),
                                                                       (store() / "bad").string(), record(results)));
    ASSERT_TRUE(waitFor([&] { return results.size() == 2; }));
    EXPECT_EQ(results, (std::vector<Value>{Value(true), Value(false)}));
    EXPECT_TRUE(fs::is_directory(store() / "out" / "img"));
    EXPECT_EQ(read(store() / "out" / "img" / "a.png"), "PNG");
    EXPECT_TRUE(fs::is_regular_file(store() / "out" / "blank.txt"));
    EXPECT_FALSE(fs::exists(zip));
    EXPECT_FALSE(fs::exists(documents() / "escape.txt"));
}

// Script archives packed by common zip tools unpack whole; those the reader cannot read fail.
TEST_F(WorkerTest, UnzipReadsArchivesMadeByCommonTools) {
    std::vector<Value> results;
    std::vector<Value> expected;
    for (const auto& made : fwtest::kToolMadeArchives) {
        const fs::path zip = store() / made.file;
        fs::create_directories(store());
        fs::copy_file(fwtest::toolMadeArchivePath(made.file), zip);
        io.sendAsyncCommand(CBIOUnzipRequest::requestWithSourceZipFilePath(
            zip.string(), (store() / "out" / made.file).string(), record(results)));
        expected.push_back(Value(made.refusal == nullptr));
    }
    ASSERT_TRUE(waitFor([&] { return results.size() == expected.size(); }));
    EXPECT_EQ(results, expected);
    for (const auto& made : fwtest::kToolMadeArchives) {
        SCOPED_TRACE(made.file);
        const fs::path out = store() / "out" / made.file;
        if (made.refusal)
            EXPECT_FALSE(fs::exists(out / "ad" / "pad.txt"));
        else
            EXPECT_EQ(read(out / "ad" / "pad.txt"), fwtest::kToolMadePad);
    }
}

TEST(WorkerThreads, AWorkerCountsAsBusyWhileAnyCommandIsQueued) {
    struct Nothing : CBAsyncCommand {
        int type() const override { return 99; }
        void execute() override {}
    };
    // The test plays the worker: it takes commands the way the worker does.
    auto queue = CBAsyncCommandQueue::create();
    platform::RunLoop loop;
    queue->attachToRunLoop(loop);
    const auto idle = platform::BackgroundWork::pendingCount();
    auto first = std::make_shared<Nothing>();
    queue->addCommand(first); // woken for it
    EXPECT_EQ(platform::BackgroundWork::pendingCount(), idle + 1);
    EXPECT_EQ(queue->nextCommandOrMarkDrained(), first);
    // A command queued while the worker runs keeps it busy: the worker takes it before it
    // reports rest, so the count never drops with a command waiting.
    auto second = std::make_shared<Nothing>();
    queue->addCommand(second, false);
    EXPECT_EQ(queue->nextCommandOrMarkDrained(), second);
    EXPECT_EQ(platform::BackgroundWork::pendingCount(), idle + 1);
    EXPECT_EQ(queue->nextCommandOrMarkDrained(), nullptr);
    EXPECT_EQ(platform::BackgroundWork::pendingCount(), idle);
    EXPECT_EQ(queue->numPendingCommands(), 0u);
    // Nothing is taken from an invalidated queue, and it reports rest.
    queue->addCommand(std::make_shared<Nothing>(), false);
    queue->invalidate();
    EXPECT_EQ(queue->nextCommandOrMarkDrained(), nullptr);
    EXPECT_EQ(platform::BackgroundWork::pendingCount(), idle);
}

TEST(WorkerThreads, ACommandWaitingForTheDelayedWakeUpIsAWaitingMessage) {
    struct Nothing : CBAsyncCommand {
        int type() const override { return 99; }
        void execute() override {}
    };
    fwtest::ManualClockScope clock;
    // The test plays the worker; the wake-ups are fired from the main run loop, as the
    // bridge's commands are.
    auto queue = CBAsyncCommandQueue::create();
    platform::RunLoop loop;
    queue->attachToRunLoop(loop);
    queue->addCommand(std::make_shared<Nothing>()); // woken at once
    EXPECT_FALSE(queue->awaitsWakeUp());
    ASSERT_TRUE(queue->nextCommandOrMarkDrained());
    EXPECT_EQ(queue->nextCommandOrMarkDrained(), nullptr);
    const auto idle = platform::BackgroundWork::pendingCount();

    // Within the fire interval of that wake-up, the next command waits for a delayed one:
    // no worker counts as busy meanwhile, but the queue holds a message.
    clock.advance(CBAsyncCommandQueue::kFireInterval / 3);
    queue->addCommand(std::make_shared<Nothing>());
    EXPECT_EQ(platform::BackgroundWork::pendingCount(), idle);
    EXPECT_TRUE(queue->awaitsWakeUp());
    EXPECT_TRUE(platform::WaitingMessages::anyHeld());

    // The delayed wake-up comes: the worker counts as busy, and nothing waits any more.
    clock.advance(CBAsyncCommandQueue::kFireInterval);
    EXPECT_EQ(platform::BackgroundWork::pendingCount(), idle + 1);
    EXPECT_FALSE(queue->awaitsWakeUp());
    EXPECT_FALSE(platform::WaitingMessages::anyHeld());
    ASSERT_TRUE(queue->nextCommandOrMarkDrained());
    EXPECT_EQ(queue->nextCommandOrMarkDrained(), nullptr);

    // A queue that is gone is no longer asked.
    const auto places = platform::WaitingMessages::count();
    queue.reset();
    EXPECT_EQ(platform::WaitingMessages::count(), places - 1);
}

TEST(WorkerThreads, ShutdownJoinsTheWorkerAndDropsWhatIsPending) {
    std::atomic<int> executed{0};
    struct Slow : CBAsyncCommand {
        std::atomic<int>* count;
        int type() const override { return 99; }
        void execute() override { ++*count; }
    };
    auto queue = CBAsyncCommandQueue::create();
    {
        CBAsyncCommandManager manager(queue, "test worker");
        for (int i = 0; i < 3; ++i) {
            auto command = std::make_shared<Slow>();
            command->count = &executed;
            queue->addCommand(command, false); // never woken: they wait for the 30-second run
        }
        manager.shutdown();
        EXPECT_EQ(queue->numPendingCommands(), 0u);
    }
    EXPECT_LE(executed.load(), 3);

    // Shutdown cancels the command in progress instead of waiting for it to end by itself.
    struct UntilCancelled : CBAsyncCommand {
        std::atomic<bool> started{false}, cancelled{false};
        int type() const override { return 99; }
        void execute() override {
            started = true;
            while (!cancelled)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        void cancel() override { cancelled = true; }
    };
    auto endless = std::make_shared<UntilCancelled>();
    {
        CBAsyncCommandManager manager(CBAsyncCommandQueue::create(), "test worker");
        manager.sendAsyncCommand(endless);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!endless->started && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(endless->started.load());
        manager.shutdown();
        EXPECT_TRUE(endless->cancelled.load());
    }
    // A queue can be attached to one run loop only.
    auto single = CBAsyncCommandQueue::create();
    platform::RunLoop a, b;
    single->attachToRunLoop(a);
    EXPECT_THROW(single->attachToRunLoop(b), platform::NamedException);
    single->invalidate();
}

} // namespace
