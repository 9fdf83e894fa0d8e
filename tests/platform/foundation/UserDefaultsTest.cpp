#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/RunLoop.h"
#include "support/TemporaryHome.h"

using namespace platform;

TEST(UserDefaults, ValuesSurviveARestartWithoutSynchronize) {
    fwtest::TemporaryHome home;
    Bundle::main().setInfoDictionary({}); // no bundle identifier: the default file name
    {
        auto& defaults = UserDefaults::standard();
        defaults.setString("firstTime", "noFirst");
        defaults.setBool("extension", true);
        defaults.setInteger("Orbis_cached_timestamp", 1299334029);
        defaults.setDouble("ratio", 0.25);
        defaults.setObject("TGEventRecordStore", Value(Array{Value("http://r/1"), Value("http://r/2")}));
        defaults.setObject("MRLastCacheLoadDate", Value(Date{1299334029}));
        defaults.setObject("lumen_stats_x", Value(Dictionary{{"clicks", Value(3)}}));
    }
    // A new process: nothing in memory, everything from the file.
    UserDefaults::resetForTesting();
    auto& again = UserDefaults::standard();
    EXPECT_EQ(again.filePath(), home.root() / "Library" / "Preferences" / "ferrowick.plist");
    EXPECT_EQ(again.stringForKey("firstTime"), "noFirst");
    EXPECT_TRUE(again.boolForKey("extension"));
    EXPECT_EQ(again.integerForKey("Orbis_cached_timestamp"), 1299334029);
    EXPECT_DOUBLE_EQ(again.doubleForKey("ratio"), 0.25);
    EXPECT_EQ(again.stringArrayForKey("TGEventRecordStore"),
              (std::vector<std::string>{"http://r/1", "http://r/2"}));
    EXPECT_EQ(again.objectForKey("MRLastCacheLoadDate")->date(), Date{1299334029});
    EXPECT_EQ(again.dictionaryForKey("lumen_stats_x")->at("clicks").intOr(0), 3);
    EXPECT_TRUE(again.synchronize());
}

TEST(UserDefaults, TypedReadersFollowThePlatformRules) {
    fwtest::TemporaryHome home;
    auto& d = UserDefaults::standard();
    d.setString("yes", "YES");
    d.setString("twelve", "12abc");
    d.setString("text", "hello");
    d.setInteger("number", 7);
    d.setDouble("real", 2.5);
    d.setObject("mixed", Value(Array{Value("a"), Value(1)}));
    d.setObject("blob", Value(Data{1, 2}));

    struct Case {
        const char* key;
        bool boolean;
        std::int64_t integer;
        std::optional<std::string> string;
    };
    const Case cases[] = {
        {"yes", true, 0, "YES"},
        {"twelve", true, 12, "12abc"},
        {"text", false, 0, "hello"},
        {"number", true, 7, "7"},
        {"real", true, 2, "2.5"},
        {"mixed", false, 0, std::nullopt},
        {"missing", false, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(d.boolForKey(c.key), c.boolean);
        EXPECT_EQ(d.integerForKey(c.key), c.integer);
        EXPECT_EQ(d.stringForKey(c.key), c.string);
    }
    EXPECT_FALSE(d.stringArrayForKey("mixed")); // not all strings
    EXPECT_EQ(d.arrayForKey("mixed")->size(), 2u);
    EXPECT_FALSE(d.arrayForKey("text"));
    EXPECT_FALSE(d.dictionaryForKey("text"));
    EXPECT_EQ(d.dataForKey("blob"), (Data{1, 2}));
    EXPECT_FLOAT_EQ(d.floatForKey("real"), 2.5f);
}

TEST(UserDefaults, RemovalNullAndRegisteredDefaults) {
    fwtest::TemporaryHome home;
    auto& d = UserDefaults::standard();
    d.registerDefaults({{"size", Value(true)}, {"device", Value(true)}});
    EXPECT_TRUE(d.boolForKey("size"));
    d.setBool("size", false);
    EXPECT_FALSE(d.boolForKey("size"));
    d.removeObjectForKey("size");
    EXPECT_TRUE(d.boolForKey("size")); // the registered value shows again
    EXPECT_EQ(d.dictionaryRepresentation().size(), 2u);

    d.setString("passKey", "1234");
    EXPECT_TRUE(d.setObject("passKey", Value())); // null removes, as setting nil does
    EXPECT_FALSE(d.objectForKey("passKey"));

    // A null inside a value cannot be stored: refused, logged, nothing changes.
    d.setString("keep", "old");
    LogCapture log;
    EXPECT_FALSE(d.setObject("keep", Value(Array{Value()})));
    EXPECT_TRUE(log.contains("keep"));
    EXPECT_EQ(d.stringForKey("keep"), "old");

    // Registered values are not stored in the file.
    UserDefaults::resetForTesting();
    EXPECT_FALSE(UserDefaults::standard().objectForKey("device"));
    EXPECT_EQ(UserDefaults::standard().stringForKey("keep"), "old");
}

TEST(UserDefaults, AnUnreadableFileIsMovedAsideNotOverwritten) {
    fwtest::TemporaryHome home;
    Bundle::main().setInfoDictionary({}); // no bundle identifier: the default file name
    auto file = home.root() / "Library" / "Preferences" / "ferrowick.plist";
    const std::string garbage = "<plist><dict><key>half";
    ASSERT_TRUE(FileManager::writeAtomically(file, std::string_view(garbage)));
    LogCapture log;
    auto& d = UserDefaults::standard();
    EXPECT_FALSE(d.objectForKey("anything"));
    EXPECT_TRUE(log.contains("moved aside"));
    auto aside = file;
    aside += ".unreadable";
    EXPECT_EQ(FileManager::stringWithContentsOfFile(aside), garbage);
    d.setString("promoAppLink", "12345");
    RunLoop::main().drain();
    EXPECT_EQ(readPropertyListFile(file)->find("promoAppLink")->stringOr(""), "12345");
    EXPECT_EQ(FileManager::stringWithContentsOfFile(aside), garbage);
}

TEST(UserDefaults, AFailedWriteIsRetriedBySynchronize) {
    fwtest::TemporaryHome home;
    auto folder = home.root() / "prefs";
    UserDefaults d(folder / "x.plist");
    // A plain file where the folder should be makes every write fail.
    ASSERT_TRUE(FileManager::writeAtomically(folder, std::string_view("in the way")));
    LogCapture log;
    d.setString("k", "v");
    RunLoop::main().drain();
    EXPECT_TRUE(log.contains("cannot save"));
    EXPECT_FALSE(d.synchronize());
    EXPECT_EQ(d.stringForKey("k"), "v"); // memory still holds it
    ASSERT_TRUE(FileManager::removeItem(folder));
    EXPECT_TRUE(d.synchronize());
    UserDefaults reread(folder / "x.plist");
    EXPECT_EQ(reread.stringForKey("k"), "v");
}

TEST(UserDefaults, FileIsNamedAfterTheBundleIdentifier) {
    fwtest::TemporaryHome home;
    Bundle::main().setInfoDictionaryValue("CFBundleIdentifier", Value("com.example.drive"));
    UserDefaults::resetForTesting();
    EXPECT_EQ(UserDefaults::standard().filePath().filename(), "com.example.drive.plist");
    // An identifier that is no single file name is not used as one.
    Bundle::main().setInfoDictionaryValue("CFBundleIdentifier", Value("../../evil"));
    UserDefaults::resetForTesting();
    EXPECT_EQ(UserDefaults::standard().filePath().filename(), "ferrowick.plist");
    Bundle::resetForTesting();
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
    fwtest::TemporaryHome home;
    auto& d = UserDefaults::standard();
    constexpr int kThreads = 4, kKeys = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < kKeys; ++k)
                d.setInteger("t" + std::to_string(t) + "k" + std::to_string(k), k);
        });
    for (auto& th : threads)
        th.join();
    RunLoop::main().drain();
    UserDefaults reread(d.filePath());
    EXPECT_EQ(reread.dictionaryRepresentation().size(), static_cast<std::size_t>(kThreads * kKeys));
}

namespace {

std::vector<std::string> temporariesBeside(const std::filesystem::path& file) {
    std::vector<std::string> found;
    std::string prefix = file.filename().string() + ".tmp-";
    for (const auto& name : FileManager::contentsOfDirectory(file.parent_path()).value_or(std::vector<std::string>{}))
        if (name.rfind(prefix, 0) == 0)
            found.push_back(name);
    return found;
}

} // namespace

// Writes cut short by a crash leave "<file>.tmp-<id>" behind; they are swept when the file
// is next opened, while a temporary that a live writer holds stays.
TEST(UserDefaults, TemporariesOfWritesCutShortAreSweptWhenTheFileIsOpened) {
    fwtest::TemporaryHome home;
    Bundle::main().setInfoDictionary({});
    auto file = home.root() / "Library" / "Preferences" / "ferrowick.plist";
    UserDefaults::standard().setString("promoAppLink", "12345");
    UserDefaults::resetForTesting();

    auto leave = [](const std::filesystem::path& p) {
        ASSERT_TRUE(FileManager::writeAtomically(p, std::string_view("<plist><dict><key>half")));
    };
    auto folder = file.parent_path();
    const auto temporary = [](const std::string& name) {
        return name + ".tmp-" + ProcessInfo::globallyUniqueString();
    };
    leave(folder / temporary("ferrowick.plist"));
    leave(folder / temporary("ferrowick.plist"));
    const auto other = folder / temporary("notes.plist"); // another file's: not this file's business
    leave(other);
    // A writer at work elsewhere holds its temporary locked.
    auto live = folder / temporary("ferrowick.plist");
    leave(live);
    int liveFd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(liveFd, 0);
    ASSERT_EQ(::flock(liveFd, LOCK_EX), 0);

    auto& reopened = UserDefaults::standard();
    EXPECT_EQ(reopened.stringForKey("promoAppLink"), "12345");
    EXPECT_EQ(temporariesBeside(file), std::vector<std::string>{live.filename().string()});
    EXPECT_TRUE(FileManager::fileExists(other));

    // Once its writer is gone, the next write sweeps it too.
    ::close(liveFd);
    reopened.setString("seenLink", "4");
    RunLoop::main().drain();
    EXPECT_TRUE(temporariesBeside(file).empty());
    EXPECT_EQ(readPropertyListFile(file)->find("seenLink")->stringOr(""), "4");
}

// Processes killed at any moment of their writes leave a readable file and, once it has been
// opened again, no temporaries.
TEST(UserDefaults, KilledWritersLeaveNothingBehindOnceReopened) {
    fwtest::TemporaryHome home;
    auto file = home.root() / "Library" / "Preferences" / "killed.plist";
    ASSERT_TRUE(FileManager::createDirectory(file.parent_path(), true));
    const std::string payload = Value(Dictionary{{"k", Value(std::string(64 * 1024, 'x'))}}).toPropertyList();
    ASSERT_TRUE(FileManager::writeAtomically(file, std::string_view(payload)));
    for (int kill = 0; kill < 12; ++kill) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;)
                FileManager::writeAtomically(file, std::string_view(payload));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + kill % 5));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    UserDefaults reopened(file);
    EXPECT_TRUE(temporariesBeside(file).empty());
    EXPECT_EQ(reopened.stringForKey("k")->size(), 64u * 1024);
}

// The changes of one turn reach the file together when the turn is over, whichever thread made
// them, and each write is whole; the next turn's changes make a write of their own.
TEST(UserDefaults, ChangesOfATurnAreWrittenTogetherWhenItEnds) {
    fwtest::TemporaryHome home;
    RunLoop::resetMainForTesting();
    auto& d = UserDefaults::standard();
    const auto file = d.filePath();
    auto stored = [&file](const char* key) -> std::optional<std::string> {
        auto list = readPropertyListFile(file);
        const Value* found = list ? list->find(key) : nullptr;
        if (!found || !found->string())
            return std::nullopt;
        return *found->string();
    };
    RunLoop::main().perform([&] {
        d.setString("firstTime", "noFirst");
        std::thread([&] { d.setString("promoAppLink", "12345"); }).join();
        d.setString("seenLink", "4");
        d.removeObjectForKey("seenLink");
        EXPECT_TRUE(d.synchronize());
        // Within the turn, memory answers; the file waits for the turn's end.
        EXPECT_EQ(d.stringForKey("promoAppLink"), "12345");
        EXPECT_FALSE(FileManager::fileExists(file));
    });
    RunLoop::main().drain();
    EXPECT_EQ(stored("firstTime"), "noFirst");
    EXPECT_EQ(stored("promoAppLink"), "12345");
    EXPECT_EQ(stored("seenLink"), std::nullopt);

    RunLoop::main().perform([&] { d.setString("firstTime", "again"); });
    RunLoop::main().drain();
    EXPECT_EQ(stored("firstTime"), "again");
    EXPECT_TRUE(d.synchronize());
}

// A turn the loop drops unrun (a reset) loses nothing: the next change, or synchronize(),
// schedules a write again.
TEST(UserDefaults, ADroppedTurnLosesNothing) {
    fwtest::TemporaryHome home;
    auto& d = UserDefaults::standard();
    const auto file = d.filePath();
    d.setString("firstTime", "noFirst");
    RunLoop::resetMainForTesting();
    d.setString("promoAppLink", "12345");
    RunLoop::main().drain();
    EXPECT_EQ(readPropertyListFile(file)->find("firstTime")->stringOr(""), "noFirst");
    EXPECT_EQ(readPropertyListFile(file)->find("promoAppLink")->stringOr(""), "12345");

    d.setString("seenLink", "4");
    RunLoop::resetMainForTesting();
    EXPECT_TRUE(d.synchronize());
    RunLoop::main().drain();
    EXPECT_EQ(readPropertyListFile(file)->find("seenLink")->stringOr(""), "4");
}

// A process that exits before its last turn has ended still leaves every value it set on
// disk; so does an instance that is destroyed.
TEST(UserDefaults, UnwrittenChangesAreWrittenAtExit) {
    fwtest::TemporaryHome home;
    Bundle::main().setInfoDictionary({});
    const auto file = home.root() / "Library" / "Preferences" / "ferrowick.plist";
    RunLoop::resetMainForTesting();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UserDefaults::standard().setString("firstTime", "noFirst");
        UserDefaults::standard().setInteger("Orbis_cached_timestamp", 1299334029);
        std::exit(0); // no turn of the run loop comes
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    auto list = readPropertyListFile(file);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->find("firstTime")->stringOr(""), "noFirst");
    EXPECT_EQ(list->find("Orbis_cached_timestamp")->intOr(0), 1299334029);

    const auto own = home.root() / "own.plist";
    {
        UserDefaults d(own);
        d.setString("k", "v");
    }
    RunLoop::main().drain(); // the destroyed instance's scheduled write finds nothing to reach
    EXPECT_EQ(readPropertyListFile(own)->find("k")->stringOr(""), "v");
}
