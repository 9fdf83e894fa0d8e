// The engine end to end against the embedded ad service over loopback HTTP: the client sync
// installs the scripts, the driver page starts, every slot gets an ad that is stored and
// reported; later launches restore stored ads and take a newer client; failed or partial
// updates leave the installed client alone.
#include <set>

#include "CobaltTestSupport.h"
#include "cobalt/CBAdManager.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBClientManager.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBLibraryHandlers.h"
#include "services/CobaltEndpoints.h"
#include "support/FolderSnapshot.h"
#include "support/LoopbackServices.h"

namespace {

using namespace cobalt;
using cobalttest::fs::path;
namespace fs = std::filesystem;

struct Listener : CBAdSlotListener {
    std::vector<std::string> ready;
    void adDownloadedForSlotNamed(const std::string& name) override { ready.push_back(name); }
};

class EngineTest : public cobalttest::CobaltTest {
protected:
    std::string serverURL() const { return services.url(std::string(services::kCobaltServerPath)); }

    std::shared_ptr<Listener> launch(const std::vector<std::pair<int, std::string>>& slots) {
        std::vector<std::shared_ptr<CBAdSlotDescription>> descriptions;
        for (const auto& [size, name] : slots)
            descriptions.push_back(CBAdSlotDescription::descriptionWithSize(size, name));
        CBAdEngine::startupWithAppID(std::string("demoapp"), serverURL(), descriptions);
        auto listener = std::make_shared<Listener>();
        for (const auto& [size, name] : slots)
            CBController::existing()->adManager()->registerListener(listener, name);
        return listener;
    }
    // Ends a launch: the engine stops and its threads are joined.
    void quit() { CBController::resetForTesting(); }

    bool waitForSync(std::size_t count) {
        return waitFor([&] { return services.requestCount(services::kCobaltSyncPath) >= count && ioIdle(); });
    }
    // True once the IO thread has nothing pending and the main loop has taken its replies.
    static bool ioIdle() {
        auto c = CBController::existing();
        return !c || c->ioRequestManager()->commandQueue()->numPendingCommands() == 0;
    }
    std::vector<std::string> configEntries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(store() / "Config"))
            names.insert(e.path().filename().string());
        return {names.begin(), names.end()};
    }
    platform::Array storedAds() const {
        return CBController::existing()->database()->sqlExecute("SELECT slotName, dlTime FROM ads ORDER BY slotName");
    }

    fwtest::LoopbackServices services;
    services::CobaltService cobaltService{services.host()};
};

TEST_F(EngineTest, FirstLaunchInstallsTheClientAndFetchesAnAdForEverySlot) {
    auto listener = launch({{1, "banner"}, {3, "box"}});
    ASSERT_TRUE(waitFor([&] { return listener->ready.size() == 2; }));
    EXPECT_EQ((std::set<std::string>(listener->ready.begin(), listener->ready.end())),
              (std::set<std::string>{"banner", "box"}));

    // The sync asked as a first install, with the engine's facts in its query.
    const auto syncs = services.requestsTo(services::kCobaltSyncPath);
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].queryValue("appguid"), "demoapp");
    EXPECT_EQ(syncs[0].queryValue("clientversion"), "0.0");
    EXPECT_EQ(syncs[0].queryValue("hostversion"), "3.1.2");
    EXPECT_EQ(syncs[0].queryValue("deviceid"), CBPaths::deviceName());

    auto controller = CBController::existing();
    EXPECT_EQ(controller->installedClientVersion(), "1.0");
    const std::string folder = std::to_string(kSessionStart) + "_1.0";
    EXPECT_EQ(fs::read_symlink(store() / "Config" / "driver.js"), path(folder) / "driver.js");
    EXPECT_EQ(fs::read_symlink(store() / "Config" / "display.js"), path(folder) / "display.js");

    for (const std::string slot : {"banner", "box"}) {
        SCOPED_TRACE(slot);
        EXPECT_TRUE(CBAdEngine::isNextAdDownloadedForSlotNamed(slot));
        const auto dlTime = controller->adManager()->slotForName(slot)->nextAdDlTime();
        EXPECT_NE(read(store() / "Content" / slot / std::to_string(dlTime) / "index.html").find("cobalt-ad"),
                  std::string::npos);
    }
    ASSERT_TRUE(waitFor([&] { return storedAds().size() == 2; }));
    EXPECT_FALSE(fs::exists(documents() / "temp.zip"));
    EXPECT_TRUE(controller->adManager()->fetchQueue().empty());
}

TEST_F(EngineTest, LaterLaunchesRestoreStoredAdsAndTakeANewerClient) {
    auto first = launch({{1, "banner"}});
    ASSERT_TRUE(waitFor([&] { return first->ready.size() == 1; }));
    ASSERT_TRUE(waitFor([&] { return storedAds().size() == 1; }));
    const auto firstAd = CBController::existing()->adManager()->slotForName("banner")->nextAdDlTime();
    quit();

    // Second launch: the stored ad is the slot's next ad at once, no fetch is queued; the
    // server offers 1.1, written for the next launch while 1.0 keeps running.
    cobaltService.setClient("1.1");
    CBPaths::setSessionStartForTesting(kSessionStart + 1000);
    auto second = launch({{1, "banner"}});
    EXPECT_EQ(second->ready, std::vector<std::string>{"banner"});
    EXPECT_EQ(CBController::existing()->adManager()->slotForName("banner")->nextAdDlTime(), firstAd);
    EXPECT_TRUE(CBController::existing()->adManager()->fetchQueue().empty());
    ASSERT_TRUE(waitForSync(2));
    ASSERT_TRUE(waitFor([&] { return fs::exists(store() / "Config" / (std::to_string(kSessionStart + 1000) + "_1.1")); }));
    EXPECT_EQ(CBController::existing()->installedClientVersion(), "1.0");
    quit();

    // Third launch: the newer complete folder becomes current, the older one goes.
    CBPaths::setSessionStartForTesting(kSessionStart + 2000);
    launch({{1, "banner"}});
    EXPECT_EQ(CBController::existing()->installedClientVersion(), "1.1");
    EXPECT_EQ(configEntries(), (std::vector<std::string>{std::to_string(kSessionStart + 1000) + "_1.1", "display.js",
                                                         "driver.js"}));
}

TEST_F(EngineTest, FailedOrPartialUpdatesLeaveTheInstalledClient) {
    auto first = launch({{1, "banner"}});
    ASSERT_TRUE(waitFor([&] { return first->ready.size() == 1; }));
    quit();
    const auto installed = configEntries();

    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::size_t syncRequests;
    };
    const Case cases[] = {
        {"reply without a driver script", [&] { cobaltService.setIncompleteSource(true); }, 1},
        {"the same version", [&] { cobaltService.setClient("1.0", "function driverInit(){}"); }, 1},
        {"server errors on every attempt",
         [&] { services.setFault(std::string(services::kCobaltSyncPath), services::Fault::errorStatus(500)); }, 3},
        {"a reply cut short",
         [&] {
             services.setFault(std::string(services::kCobaltSyncPath),
                               services::Fault::truncated(R"({"status":"AllOkay","content":{"clientResp)", 20));
         },
         3},
    };
    std::int64_t session = kSessionStart;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cobaltService.setClient("2.0");
        cobaltService.setIncompleteSource(false);
        services.host().clearFaults();
        services.host().clearRequestLog();
        c.arrange();
        CBPaths::setSessionStartForTesting(session += 1000);
        launch({{1, "banner"}});
        ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kCobaltSyncPath) >= c.syncRequests; }));
        // Let the attempts and the IO thread settle.
        waitFor([] { return false; }, 1.0, 0.5);
        EXPECT_EQ(CBController::existing()->installedClientVersion(), "1.0");
        quit();
        EXPECT_EQ(configEntries(), installed);
    }
}

TEST_F(EngineTest, DisabledSwitchFromTheServerTakesEffectAtTheNextLaunch) {
    cobaltService.setDisabled(true);
    auto first = launch({{1, "banner"}});
    ASSERT_TRUE(waitFor([&] { return first->ready.size() == 1; }));
    EXPECT_FALSE(CBController::existing()->disabled());
    ASSERT_TRUE(waitFor([] {
        const auto rows =
            CBController::existing()->database()->sqlExecute("SELECT data FROM settings WHERE id='disabled'");
        return !rows.empty();
    }));
    quit();
    launch({{1, "banner"}});
    EXPECT_TRUE(CBController::existing()->disabled());
}

TEST_F(EngineTest, HostileScriptCommandsAreRefused) {
    auto listener = launch({{1, "banner"}});
    ASSERT_TRUE(waitFor([&] { return listener->ready.size() == 1; }));
    write(documents() / "user.txt", "mine");
    const fs::path attached = home.root() / "tmp" / "attached.db";
    auto driverPage = CBController::existing()->clientManager()->clientDriver()->webView();
    const std::string commands = R"(
        BridgeLib.fileWriteString("../escape.txt", "x");
        BridgeLib.fileWriteString("CB/../user.txt", "overwritten");
        BridgeLib.deleteFile("user.txt");
        BridgeLib.writeFileWithContentsOfURLWithCallback("CB/f.txt", "file:///etc/passwd", "window.download=%d");
        BridgeLib.loadStringFromFileWithCallback("CB/../user.txt", "window.read=%s");
        BridgeLib.sqlExecuteWithCallback("ATTACH DATABASE ')" + attached.string() + R"(' AS x", "window.attach=%s");
        BridgeLib.getControllerPropertyWithCallback("database", "window.property=%s");
        BridgeCocoa.performSelectorOnClassWithCallback("terminate", "UIApplication", "window.cocoa=%s");
        BridgeCocoa.classDoesRespondToSelectorNamedWithCallback("NSString", "stringWithString:", "window.responds=%d");
        BridgeLib.fileWriteString("CB/Content/done.txt", "quote \" and\nline");
        BridgeLib.loadStringFromFileWithCallback("CB/Content/done.txt", "window.done=%s");
    )";
    CBAdEngine::executeCommand(commands);
    ASSERT_TRUE(waitFor([&] { return driverPage->stringByEvaluatingJavaScriptFromString("window.done") != ""; }))
        << driverPage->stringByEvaluatingJavaScriptFromString("g_commandQueue.length + ' ' + window.read + ' ' + window.attach");
    auto page = [&](const char* name) { return driverPage->stringByEvaluatingJavaScriptFromString(name); };
    EXPECT_EQ(page("window.done"), "quote \" and\nline");
    EXPECT_FALSE(fs::exists(documents() / "escape.txt"));
    EXPECT_FALSE(fs::exists(home.root() / "escape.txt"));
    EXPECT_EQ(read(documents() / "user.txt"), "mine");
    EXPECT_EQ(page("window.download"), "0");
    EXPECT_EQ(page("window.read"), "(null)");
    EXPECT_EQ(page("window.attach"), "null") << "a refused statement answers its failure";
    EXPECT_FALSE(fs::exists(attached));
    EXPECT_EQ(page("window.property"), "");
    EXPECT_EQ(page("window.responds"), "1");
    const std::string handle = page("window.cocoa");
    ASSERT_TRUE(CBCocoaCommandHandler::isObjectHandle(handle));
}

} // namespace

namespace {

// Each folder the engine writes or deletes under, with a link to a folder of the person's or a
// file of the person's at its name: nothing of it is written or removed, the person's folder
// stays as it was through a client update and the launches that take it, and the engine runs
// without the folder (no client without the store or client folder, no ad without the
// content or cache folder).
TEST_F(EngineTest, NoFolderOfTheEnginesIsUsedThroughALinkOrAFile) {
    const path person = documents() / "Holiday";
    const path cache = home.root() / "Library" / "Caches" / "CB";
    struct Row {
        const char* what;
        path name;
        bool link; // a link to the person's folder, else a file of the person's
        bool clientRuns;
    };
    const Row rows[] = {
        {"the store folder a link", store(), true, false},
        {"the store folder a file", store(), false, false},
        {"the client folder a link", store() / "Config", true, false},
        {"the client folder a file", store() / "Config", false, false},
        {"the content folder a link", store() / "Content", true, true},
        {"the content folder a file", store() / "Content", false, true},
        {"the cache folder a link", cache, true, true},
        {"the cache folder a file", cache, false, true},
    };
    // What the engine may change in the row: its own folders that are real ones.
    auto ownedBesides = [&](const path& name) {
        std::vector<std::string> owned;
        for (const path& own : {store() / "cobaltdb.sql", store() / "Config", store() / "Content", cache})
            if (own != name && own.lexically_relative(name).string().rfind("..", 0) == 0)
                owned.push_back(own.lexically_relative(home.root()).generic_string());
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            if (name != store())
                owned.push_back("Documents/CB/cobaltdb.sql" + std::string(suffix));
        // The store folder itself is the engine's when the row's name lies elsewhere.
        if (name != store() && name.parent_path() != store())
            owned.push_back("Documents/CB");
        owned.push_back("Library/Preferences");
        owned.push_back("Library/DeviceIdentifier");
        return owned;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(store());
        fs::remove_all(cache);
        fs::remove_all(person);
        // The person's folder holds what the engine would write or delete were it its own.
        write(person / "Config" / "Holiday" / "photo.jpg", "the person's photo");
        write(person / "Content" / "banner" / "notes.txt", "the person's notes");
        write(person / "temp.zip", "the person's archive");
        write(person / "cobaltdb.sql", "the person's database");
        fs::create_directories(row.name.parent_path());
        if (row.link)
            fs::create_directory_symlink(person, row.name);
        else
            write(row.name, "the person's own file");
        const auto before = fwtest::FolderSnapshot::of(home.root());

        cobaltService.setClient("1.0");
        CBPaths::setSessionStartForTesting(kSessionStart);
        auto first = launch({{1, "banner"}});
        ASSERT_TRUE(waitForSync(1 + 3 * (&row - rows)));
        if (row.clientRuns) {
            // The driver runs and fetches an ad, which cannot be unpacked without the folder.
            ASSERT_TRUE(waitFor([] {
                auto page = CBController::existing()->clientManager()->clientDriver()->webView();
                return page->stringByEvaluatingJavaScriptFromString(
                           "String(Object.keys(g_unpacked).some(function(k){return g_unpacked[k].failed;}))") ==
                       "true";
            }));
            EXPECT_TRUE(first->ready.empty());
            EXPECT_EQ(CBController::existing()->installedClientVersion(), "1.0");
        } else {
            EXPECT_EQ(CBController::existing()->installedClientVersion(), "0.0");
        }
        quit();
        // A client update from the server, then the launch that takes it.
        cobaltService.setClient("1.1");
        CBPaths::setSessionStartForTesting(kSessionStart + 1000);
        launch({{1, "banner"}});
        ASSERT_TRUE(waitForSync(2 + 3 * (&row - rows)));
        if (row.clientRuns) {
            ASSERT_TRUE(waitFor([&] {
                return fs::exists(store() / "Config" / (std::to_string(kSessionStart + 1000) + "_1.1"));
            }));
        }
        quit();
        CBPaths::setSessionStartForTesting(kSessionStart + 2000);
        launch({{1, "banner"}});
        ASSERT_TRUE(waitForSync(3 + 3 * (&row - rows)));
        EXPECT_EQ(CBController::existing()->installedClientVersion(), row.clientRuns ? "1.1" : "0.0");
        quit();

        EXPECT_EQ(fwtest::FolderSnapshot::of(home.root()).changesOutside(before, ownedBesides(row.name)),
                  std::vector<std::string>{});
        EXPECT_EQ(read(person / "Config" / "Holiday" / "photo.jpg"), "the person's photo");
    }
}

} // namespace
