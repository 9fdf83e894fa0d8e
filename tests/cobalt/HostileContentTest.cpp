// Hostile content fed to the Cobalt engine through its real entry points over loopback: the
// driver page's commands with path escapes, archives whose entries leave their folder, file:
// and unknown schemes, numbers and texts out of every range, endless SQL and script, and
// malformed replies. Nothing outside the store folder changes, nothing in it but the ads'
// content is within a script's reach, one statement holds neither time nor memory, the main
// thread keeps answering, the engine still fetches its next ad, and it shuts down with a
// statement running.
#include <sqlite3.h>

#include <map>
#include <set>

#include "EngineHarness.h"
#include "cobalt/CBAdView.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/CBLibraryHandlers.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "services/VellumAdEndpoints.h"

namespace {

using namespace cobalt;
namespace fs = std::filesystem;

// What the store may take beyond its resting memory while one row runs: room for a
// statement's bounded result (4 MiB) and its working pages, far below what a statement that
// grew until its deadline would take.
constexpr sqlite3_int64 kRowStoreMemoryBytes = 16 * 1024 * 1024;

constexpr const char* kEndless =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT count(*) FROM c";

class HostileContentTest : public cobalttest::EngineHarness {
protected:
    void SetUp() override {
        services.handle("GET", "/hostile/good.zip", [](const services::LoggedRequest&) {
            return services::ServiceReply{
                200, services::makeZipArchive({{"index.html", "<p>ad</p>"}}), "application/zip", {}};
        });
        services.handle("GET", "/hostile/escape.zip", [](const services::LoggedRequest&) {
            return services::ServiceReply{
                200,
                services::makeZipArchive({{"ok.html", "x"}, {"../../../escaped.html", "evil"}}),
                "application/zip",
                {}};
        });
        services.handle("GET", "/hostile/notzip", [](const services::LoggedRequest&) {
            return services::ServiceReply{200, "PK\x03\x04 this is not an archive", "application/zip", {}};
        });
    }
    std::string url(const char* path) const { return services.url(path); }

    // Every file, folder and link in the whole home but the engine's own (its store file, its
    // client and content folders, its cache folder), with its content.
    std::map<std::string, std::string> outsideTheStore() const {
        static const std::set<std::string> kEngineOwn = {
            "Documents/CB/cobaltdb.sql", "Documents/CB/cobaltdb.sql-journal", "Documents/CB/cobaltdb.sql-wal",
            "Documents/CB/cobaltdb.sql-shm", "Documents/CB/Config", "Documents/CB/Content", "Library/Caches/CB"};
        std::map<std::string, std::string> files;
        for (auto it = fs::recursive_directory_iterator(home.root());
             it != fs::recursive_directory_iterator(); ++it) {
            const auto relative = it->path().lexically_relative(home.root()).generic_string();
            if (kEngineOwn.count(relative)) {
                it.disable_recursion_pending();
                continue;
            }
            files[relative] = it->is_symlink()        ? "<link " + fs::read_symlink(it->path()).string() + ">"
                              : it->is_regular_file() ? read(it->path())
                                                      : "<folder>";
        }
        return files;
    }

    // Sends `script` to the driver page and waits for it to set window.r.
    std::string answer(const std::string& script) {
        evaluate("window.r = undefined;");
        CBAdEngine::executeCommand(script);
        waitFor([] { return evaluate("typeof window.r") != "undefined"; }, 0.1, 60.0);
        return evaluate("String(window.r)");
    }
};

TEST_F(HostileContentTest, TheEngineKeepsToItsStoreAndKeepsRunning) {
    auto listener = launch();
    ASSERT_TRUE(waitFor([&] { return listener->ready.size() == 1; }));
    write(documents() / "user.txt", "mine");
    // The person's own archive at the name the scripts use for the engine's transient file.
    write(documents() / "temp.zip", services::makeZipArchive({{"theirs.html", "the person's"}}));
    const auto before = outsideTheStore();
    const std::string good = url("/hostile/good.zip");
    const std::string big = std::string(CBCocoaCommandHandler::kMaxObjectBytes + 1, 'x');
    const std::string execModeBefore =
        answer(R"(BridgeLib.getControllerPropertyWithCallback("execMode", "window.r=%s");)");
    const fs::path engineZip = CBPaths::transientZipPath();
    // A text of n letters "a", made by the statement itself.
    auto letters = [](int n) { return "replace(hex(zeroblob(" + std::to_string(n / 2) + ")),'0','a')"; };
    auto sql = [](const std::string& statement) {
        return "BridgeLib.sqlExecuteWithCallback(\"" + statement + "\", 'window.r=%s');";
    };
    // Whether the driver page may show a picture of the person's. A reload runs the check as
    // the new page's onload (a command still queued in the old page is dropped with it); the
    // same check also comes back through the engine's file queue, which answers in the page
    // as it is when no reload happens.
    const std::string pictureCheck =
        "(function(){var i=new Image();"
        "i.onload=function(){window.r=\\x27load\\x27;};i.onerror=function(){window.r=\\x27error\\x27;};"
        "i.src=\\x27" +
        platform::URL::fileURL(documents() / "user.txt").absoluteString() + "\\x27;})()";
    auto reloadWithBase = [&](const std::string& base) {
        return "BridgeDriver.reloadAndExecuteBaseURL('" + pictureCheck + "', '" + base +
               "'); BridgeLib.loadStringFromFileWithCallback('CB/Content/none.txt', '" + pictureCheck + "');";
    };

    struct Row {
        const char* what;
        std::string script;
        std::string expected;
        std::function<void()> arrange = [] {};
        int downloads = -1; // archives fetched from the server by the row; -1: not checked
    };
    const Row rows[] = {
        // Folders the scripts name are refused before anything is fetched.
        {"a folder outside Documents",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', '../out', 'window.r=%d');", "0", [] {}, 0},
        {"a folder in Documents beside the store",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', 'ads', 'window.r=%d');", "0", [] {}, 0},
        {"the temporary file as a folder",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', 'temp.zip', 'window.r=%d');", "0", [] {}, 0},
        {"a folder under the temporary file",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', 'CB/../temp.zip/x', 'window.r=%d');", "0",
         [] {}, 0},
        // "temp.zip" is the engine's own file: the person's archive of that name is never reached.
        {"the person's temp.zip read by name",
         "BridgeLib.loadStringFromFileWithCallback('temp.zip', 'window.r=%s');", "(null)"},
        {"the person's temp.zip read through the store folder",
         "BridgeLib.loadBase64StringFromFileWithCallback('CB/../temp.zip', 'window.r=%s');", "(null)"},
        {"the person's temp.zip unpacked by name",
         "BridgeLib.unzipFileToFolderWithCallback('temp.zip', 'CB/Content/theirs', 'window.r=%d');", "0"},
        {"the person's temp.zip deleted by name",
         "BridgeLib.deleteFile('temp.zip'); BridgeLib.deleteFile('./CB/../temp.zip');"
         "BridgeLib.fileWriteString('CB/Content/marker.txt', 'm');"
         "BridgeLib.loadStringFromFileWithCallback('CB/Content/marker.txt', 'window.r=%s');",
         "m"},
        {"the person's temp.zip overwritten by name",
         "BridgeLib.fileWriteString('temp.zip', 'engine');"
         "BridgeLib.loadStringFromFileWithCallback('temp.zip', 'window.r=%s');",
         "engine"},
        {"a download to the temporary name",
         "BridgeLib.writeFileWithContentsOfURLWithCallback('temp.zip', '" + good + "', 'window.r=%d');", "1", [] {}, 1},
        {"an archive into the store",
         "BridgeLib.writeFileWithContentsOfURLWithCallback('CB/Content/a.zip', '" + good + "', 'window.r=%d');", "1", [] {}, 1},
        {"a stored archive unpacked into the temporary file",
         "BridgeLib.unzipFileToFolderWithCallback('CB/Content/a.zip', 'temp.zip', 'window.r=%d');", "0",
         [engineZip] { fs::remove_all(engineZip); }},
        {"archive entries that leave their folder",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + url("/hostile/escape.zip") +
             "', 'CB/Content/escape', 'window.r=%d');",
         "0"},
        {"a malformed archive",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + url("/hostile/notzip") +
             "', 'CB/Content/bad', 'window.r=%d');",
         "0"},
        {"a file: download",
         "BridgeLib.writeFileWithContentsOfURLWithCallback('CB/Content/f.txt', 'file:///etc/hostname', "
         "'window.r=%d');",
         "0"},
        {"an unknown scheme",
         "BridgeLib.writeFileWithContentsOfURLWithCallback('CB/Content/f.txt', 'gopher://127.0.0.1/x', "
         "'window.r=%d');",
         "0"},
        {"a folder left at the temporary name by an earlier run",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', 'CB/Content/fresh', 'window.r=%d');", "1",
         [engineZip] {
             fs::remove_all(engineZip);
             write(engineZip / "old.html", "left over");
         },
         1},
        {"a link left at the temporary name by an earlier run",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', 'CB/Content/linked', 'window.r=%d');", "1",
         [this, engineZip] {
             fs::remove_all(engineZip);
             fs::create_symlink(documents() / "user.txt", engineZip);
         },
         1},
        {"an endless statement", sql(kEndless), "null"},
        {"a statement the store refuses", sql("ATTACH DATABASE 'x.db' AS x"), "null"},
        // An aggregate whose text grows past the value bound until its result is made.
        {"an aggregate that builds past the value bound",
         sql("SELECT length(json_group_array(x)) FROM (WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 "
             "FROM c) SELECT hex(zeroblob(32000)) AS x FROM c)"),
         "null"},
        // Bodies the engine's own statements on the table ads would run, unbounded.
        {"a trigger on the table ads", sql("CREATE TRIGGER kept AFTER DELETE ON ads BEGIN SELECT 1; END"), "null"},
        {"a view in place of the table ads", sql("CREATE TEMP VIEW ads AS SELECT 'banner' AS slotName"), "null"},
        // One statement holds neither the worker, nor memory, nor the disk for long.
        {"one costly step", sql("SELECT instr(" + letters(200000) + ", " + letters(100000) + "||'b')"), "null"},
        {"many costly steps",
         sql("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x < 100000) "
             "SELECT count(instr(substr(hex(zeroblob(16001)), 1 + x % 2), hex(zeroblob(8000))||'1')) FROM c"),
         "null"},
        // A set small enough that the value bound does not refuse it first (the function keeps
        // some 12 bytes per character of the set): the refusal of trim() answers for it.
        {"a trim over a long character set",
         sql("SELECT length(trim(replace(" + letters(4000) + ",'a','b'), " + letters(4000) + "||'b'))"),
         "null"},
        {"a long LIKE pattern",
         sql("SELECT " + letters(60000) + " LIKE '%'||" + letters(1000) + "||'b'"), "null"},
        {"a row wider than the bound",
         sql("SELECT " + [] {
             std::string columns = "1";
             for (int i = 1; i <= CBDatabase::kMaxScriptColumns; ++i)
                 columns += ",1";
             return columns;
         }()),
         "null"},
        {"a table that fills the disk",
         sql("CREATE TABLE big AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x < 500) "
             "SELECT zeroblob(60000) AS b FROM c"),
         "null"},
        {"a pragma that lifts the store's bound", sql("PRAGMA max_page_count=1000000000"), "null"},
        {"a stored number past the 64-bit range",
         "BridgeLib.sqlExecute(\"INSERT OR REPLACE INTO settings (id, data) VALUES ('big', 1e300)\");"
         "BridgeLib.getSettingWithCallback('big', 'window.r=%d');",
         "9223372036854776000"}, // the page reads the largest 64-bit integer as the nearest double
        {"an execution mode past the int range",
         "BridgeLib.setExecMode(1e300); BridgeLib.getExecModeWithCallback('window.r=%d');", "2147483647"},
        {"the controller's execution mode past the int range",
         R"(BridgeLib.setControllerProperty("execMode", "1e300"); BridgeLib.getControllerPropertyWithCallback("execMode", "window.r=%s");)",
         execModeBefore},
        {"a text past the native bound",
         "BridgeCocoa.performSelectorOnClassWithObjectWithCallback('stringWithString:', 'NSString', '" + big +
             "', 'BridgeCocoa.valueForObjectWithCallback(%s, \"window.r=\\x27%s\\x27\")');",
         CBCocoaCommandHandler::kDoesNotRespond},
        {"reports for a slot the engine does not have, with numbers past every range",
         R"(BridgeDriver.notifyAdFetchSucceededForSlotNamedDlTimeExpiration("../../..", "99999999999999999999999", "-1e400");)"
         R"(BridgeDriver.notifyAdFetchFailedForSlotNamed("../x"); BridgeDriver.setState("99999999999999999999");)",
         ""},
        {"the driver page reloaded with its folder at the person's files",
         reloadWithBase(platform::URL::fileURL(documents() / "temp.zip").absoluteString()), "error"},
        {"the driver page reloaded with the store folder named as a file",
         reloadWithBase(platform::URL::fileURL(store()).absoluteString()), "error"},
        {"an endless script, then a command", "while (true) {}", ""},
        {"the page still answers", "BridgeLib.getExecModeWithCallback('window.r=%d');", "0",
         [] { evaluate("BridgeLib.setExecMode(0);"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        row.arrange();
        if (row.expected.empty()) {
            CBAdEngine::executeCommand(row.script);
            continue;
        }
        const auto fetched = services.requestsTo("/hostile/good.zip").size();
        sqlite3_int64 start = 0, highest = 0;
        sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &start, &highest, 1); // the high water starts here
        EXPECT_EQ(answer(row.script), row.expected);
        sqlite3_int64 now = 0;
        sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &now, &highest, 0);
        EXPECT_LT(highest - start, kRowStoreMemoryBytes) << "the store's memory while the row ran";
        if (row.downloads >= 0) {
            EXPECT_EQ(services.requestsTo("/hostile/good.zip").size() - fetched, std::size_t(row.downloads));
        }
        // The person's files stay as they were, row by row, and the main thread answers.
        EXPECT_EQ(outsideTheStore(), before);
        EXPECT_EQ(evaluate("1 + 1"), "2");
    }
    EXPECT_LE(fs::file_size(store() / "cobaltdb.sql"), std::uintmax_t(CBDatabase::kMaxScriptStoreBytes));
    EXPECT_EQ(read(store() / "Content" / "linked" / "index.html"), "<p>ad</p>");
    EXPECT_EQ(read(store() / "Content" / "fresh" / "index.html"), "<p>ad</p>");
    EXPECT_FALSE(fs::exists(engineZip)) << "the unpacking removes its own transient file";
    EXPECT_EQ(outsideTheStore(), before);

    // The next ad still comes: the unshown one expires after its hour and another is fetched.
    const auto ad = nextAd();
    time.advance(3601);
    ASSERT_TRUE(waitFor([&] { return nextAd() != 0 && nextAd() != ad; }, 0.1, 60.0));

    // The engine shuts down with an endless statement running.
    CBAdEngine::executeCommand(std::string("BridgeLib.sqlExecute('") + kEndless + "');");
    ASSERT_TRUE(waitFor([] { return evaluate("g_commandQueue.length") == "0"; }));
    quit();
    EXPECT_EQ(outsideTheStore(), before);
}

// The scripts reach the ads' files under Documents/CB/Content and the engine's transient
// archive, nothing else: not a file or folder the person keeps in Documents/CB, not the store
// file, not the client scripts under Config. Every command that takes a path, for every such
// target, by every way of naming it.
TEST_F(HostileContentTest, ScriptsReachOnlyTheAdsContent) {
    auto listener = launch();
    ASSERT_TRUE(waitFor([&] { return listener->ready.size() == 1; }));
    // The person's own files in the engine's folder, beside the engine's store and scripts.
    write(store() / "thesis.docx", "the person's thesis");
    write(store() / "notes.txt", "the person's notes");
    write(store() / "readonly.doc", "kept read-only");
    fs::permissions(store() / "readonly.doc", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    write(store() / "photo.jpg", "\xFF\xD8\xFF the person's photo");
    write(store() / "sub" / "inner.txt", "in the person's folder");
    write(store() / "photos.zip", services::makeZipArchive({{"holiday.txt", "the person's archive"}}));
    // What a script may use: an archive and a probe in the ads' content.
    write(store() / "Content" / "ad.zip", services::makeZipArchive({{"index.html", "<p>ad</p>"}}));
    write(store() / "Content" / "probe.txt", "probe");
    std::string configFile;
    for (const auto& entry : fs::recursive_directory_iterator(store() / "Config"))
        if (entry.is_regular_file() && configFile.empty())
            configFile = fs::relative(entry.path(), store()).string();
    ASSERT_FALSE(configFile.empty()) << "the engine installed its client scripts";

    // Everything in Documents/CB outside Content, with its content (a long one by its size
    // and digest); the store file only by its header, since the engine's own writes change
    // the rest.
    auto outsideTheContent = [this] {
        std::map<std::string, std::string> files;
        for (auto it = fs::recursive_directory_iterator(store()); it != fs::recursive_directory_iterator(); ++it) {
            const auto relative = it->path().lexically_relative(store()).string();
            if (relative == "Content") {
                it.disable_recursion_pending();
                continue;
            }
            std::string content = it->is_regular_file() ? read(it->path()) : "<folder>";
            if (relative.rfind("cobaltdb.sql", 0) == 0)
                content = relative == "cobaltdb.sql" ? content.substr(0, 16) : "<journal>";
            else if (content.size() > 100)
                content = std::to_string(content.size()) + " bytes, digest " +
                          std::to_string(std::hash<std::string>{}(content));
            files[relative] = content;
        }
        return files;
    };
    const auto before = outsideTheContent();
    ASSERT_EQ(before.at("cobaltdb.sql"), std::string("SQLite format 3\0", 16));

    const std::string good = url("/hostile/good.zip");
    // A read from the content after a write or deletion answers once the IO thread has done
    // (or never had) the work the command asked for.
    const std::string probe = "BridgeLib.loadStringFromFileWithCallback('CB/Content/probe.txt', 'window.r=%s');";
    struct Command {
        const char* what;
        std::string script; // "@" stands for the path
        std::string expected;
    };
    const Command commands[] = {
        {"read as text", "BridgeLib.loadStringFromFileWithCallback('@', 'window.r=%s');", "(null)"},
        {"read in Base64", "BridgeLib.loadBase64StringFromFileWithCallback('@', 'window.r=%s');", "(null)"},
        {"written as text", "BridgeLib.fileWriteString('@', 'overwritten');" + probe, "probe"},
        {"written from Base64", "BridgeLib.fileWriteBase64String('@', 'b3ZlcndyaXR0ZW4=');" + probe, "probe"},
        {"downloaded into", "BridgeLib.writeFileWithContentsOfURLWithCallback('@', '" + good + "', 'window.r=%d');",
         "0"},
        {"downloaded and unpacked into",
         "BridgeLib.unzipContentsOfURLToFolderWithCallback('" + good + "', '@', 'window.r=%d');", "0"},
        {"unpacked from", "BridgeLib.unzipFileToFolderWithCallback('@', 'CB/Content/out', 'window.r=%d');", "0"},
        {"unpacked into", "BridgeLib.unzipFileToFolderWithCallback('CB/Content/ad.zip', '@', 'window.r=%d');", "0"},
        {"deleted", "BridgeLib.deleteFile('@');" + probe, "probe"},
    };
    const std::string targets[] = {"thesis.docx", "notes.txt", "readonly.doc", "photo.jpg", "sub",
                                   "sub/inner.txt", "photos.zip", "cobaltdb.sql", "Config", configFile, ""};
    // Straight, through the content folder, and through a slot's folder in it.
    const char* routes[] = {"CB/", "CB/Content/../", "./CB/Content/banner/../../"};
    for (const auto& command : commands)
        for (const auto& target : targets)
            for (const char* route : routes) {
                const std::string path = route + target;
                SCOPED_TRACE(std::string(command.what) + " " + path);
                std::string script = command.script;
                script.replace(script.find('@'), 1, path);
                EXPECT_EQ(answer(script), command.expected);
                EXPECT_EQ(outsideTheContent(), before);
            }
    EXPECT_FALSE(fs::exists(store() / "Content" / "out")) << "nothing was unpacked from outside the content";

    // The content folder replaced by a link to the store folder: nothing is reached through it.
    const fs::path contentAside = home.root() / "tmp" / "Content";
    fs::rename(store() / "Content", contentAside);
    fs::create_directory_symlink(store(), store() / "Content");
    const Command throughALink[] = {
        {"read", "BridgeLib.loadStringFromFileWithCallback('CB/Content/notes.txt', 'window.r=%s');", "(null)"},
        {"written", "BridgeLib.fileWriteString('CB/Content/notes.txt', 'overwritten');" + probe, "(null)"},
        {"downloaded into",
         "BridgeLib.writeFileWithContentsOfURLWithCallback('CB/Content/notes.txt', '" + good + "', 'window.r=%d');",
         "0"},
        {"deleted", "BridgeLib.deleteFile('CB/Content/photo.jpg');" + probe, "(null)"},
    };
    for (const auto& command : throughALink) {
        SCOPED_TRACE(std::string(command.what) + " through a link");
        EXPECT_EQ(answer(command.script), command.expected);
        EXPECT_EQ(outsideTheContent(), before);
    }
    fs::remove(store() / "Content");
    fs::rename(contentAside, store() / "Content");

    // The ads' own files stay within reach.
    EXPECT_EQ(answer("BridgeLib.fileWriteString('CB/Content/banner/x/own.txt', 'own');"
                     "BridgeLib.loadStringFromFileWithCallback('CB/Content/banner/x/own.txt', 'window.r=%s');"),
              "own");
    EXPECT_EQ(answer("BridgeLib.unzipFileToFolderWithCallback('CB/Content/ad.zip', 'CB/Content/unpacked', "
                     "'window.r=%d');"),
              "1");
    EXPECT_EQ(read(store() / "Content" / "unpacked" / "index.html"), "<p>ad</p>");
    EXPECT_EQ(answer("BridgeLib.deleteFile('CB/Content/banner/x');" + probe), "probe");
    EXPECT_FALSE(fs::exists(store() / "Content" / "banner" / "x"));
    EXPECT_EQ(outsideTheContent(), before);
}

// An ad's display page asking for pages the app then loads for it: a file of the person's is
// never shown, whichever way the URL names it.
class HostileDisplayTest : public cobalttest::CobaltTest {
protected:
    HostileDisplayTest() {
        platform::Application::resetForTesting();
        hostWindow = std::make_shared<platform::Window>(platform::Screen::main().bounds());
        hostWindow->makeKeyAndVisible();
    }
    ~HostileDisplayTest() override {
        CBFullScreenAdWindow::resetForTesting();
        CBController::resetForTesting();
        platform::Application::resetForTesting();
    }

    fwtest::LoopbackServices services;
    services::CobaltService cobaltService{services.host()};
    std::shared_ptr<platform::Window> hostWindow;
};

TEST_F(HostileDisplayTest, RequestedPagesShowNoFileOfThePersons) {
    write(documents() / "diary.html", "<html><body>the person's diary</body></html>");
    CBAdEngine::startupWithAppID(std::string("demoapp"),
                                 services.url(std::string(services::kCobaltServerPath)),
                                 {CBAdSlotDescription::descriptionWithSize(1, "banner")});
    auto view = CBAdView::adViewForSlotNamed("banner", std::weak_ptr<CobaltDelegate>(), 0);
    hostWindow->addSubview(view);
    auto c = view->controller();
    ASSERT_TRUE(waitFor([&] { return c->hasDisplayedCurrentAd() && !c->isRefreshing(); }));
    const auto diary = platform::URL::fileURL(documents() / "diary.html").absoluteString();
    const std::string rows[] = {
        diary,
        // Through the ad's own folder, which its page may reach.
        platform::URL::fileURL(store() / "Content").absoluteString() + "/../../diary.html",
    };
    for (const auto& url : rows) {
        SCOPED_TRACE(url);
        CBFullScreenAdWindow::shared()->setIsDisplaying(false);
        c->webView()->stringByEvaluatingJavaScriptFromString("BridgeDisplay.requestURL('" + url + "');");
        // The page asked for is loaded or refused in browser mode, and the loading ends.
        ASSERT_TRUE(
            waitFor([&] { return c->isBrowserMode() && !c->isLoading() && !c->webView()->isLoading(); }));
        EXPECT_EQ(
            c->webView()->stringByEvaluatingJavaScriptFromString("document.body.textContent").find("diary"),
            std::string::npos);
        // Done leaves browser mode.
        auto done = c->navigationItem()->leftBarButtonItem();
        ASSERT_TRUE(done);
        ASSERT_TRUE(done->press());
        ASSERT_TRUE(waitFor([&] { return !c->isBrowserMode() && !c->isExpanded(); }));
    }
}

} // namespace
