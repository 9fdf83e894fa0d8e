// The store (version wipe, statements, records through the DB thread, the authorizer on
// scripts' statements), the codecs, and the worker threads with their commands and wake-ups.
#include <sqlite3.h>

#include <atomic>

#include "CobaltTestSupport.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBDatabase.h"
#include "services/VellumAdEndpoints.h"

namespace {

using namespace cobalt;
using platform::Value;
namespace fs = std::filesystem;

class StoreTest : public cobalttest::CobaltTest {};

TEST_F(StoreTest, AStoreOfAnotherVersionIsWipedAndTheUserFilesStay) {
    write(store() / "Config" / "1_1.0" / "driver.js", "old");
    write(documents() / "my-notes.txt", "mine");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((store() / "cobaltdb.sql").c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE settings ('id' TEXT PRIMARY KEY, 'data' BLOB);"
                         "INSERT INTO settings VALUES('version', '3.1.1');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    auto database = CBDatabase::create();
    database->init();
    EXPECT_TRUE(database->initialized());
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(store()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"cobaltdb.sql"});
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
        EXPECT_TRUE(database->sqlExecuteFromScript(statement).empty());
    }
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(database->sqlExecuteFromScript("SELECT count(*) FROM settings").size(), 1u);
    EXPECT_FALSE(CBDatabase::isPlainIdentifier("settings; DROP TABLE settings"));
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
    // A queue can be attached to one run loop only.
    auto single = CBAsyncCommandQueue::create();
    platform::RunLoop a, b;
    single->attachToRunLoop(a);
    EXPECT_THROW(single->attachToRunLoop(b), platform::NamedException);
    single->invalidate();
}

} // namespace
