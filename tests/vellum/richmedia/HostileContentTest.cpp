// Hostile content from the ad service, through the engine's own cache load over loopback:
// server-chosen ad ids, bundle entries and close-button names that try to leave their
// folders, schemes the engine must not fetch, oversized numbers and strings, damaged
// bundles and malformed replies. After every row nothing outside the engine's folders has
// changed, the ad already cached is intact, the main run loop still answers, and at the end
// the next ad is downloaded and shown.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>

#include "AdDisplayFixture.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "services/TrackingEndpoints.h"
#include "services/VellumAdEndpoints.h"
#include "support/FolderSnapshot.h"
#include "support/LoopbackServices.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"

namespace richmediatest {
namespace {

namespace fs = std::filesystem;
using vellum::VellumAdServer;

std::string control(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + body +
           "<key>endDate</key><real>1800000000</real></dict></plist>";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Completion : public vellum::AdServerDelegate {
public:
    void adRequestCompleted() override { ++answered; }
    void adRequestFailed() override { ++answered; }
    int answered = 0;
};

class HostileContentTest : public AdDisplayFixture {
protected:
    HostileContentTest() : tracking(services.host()), ads(services.host()) {}

    // Every file of the device home outside the engine's own folders and the scratch areas
    // that the platform and the tracking library write to, with its content.
    std::map<std::string, std::string> outsideFiles() const {
        static const char* kOwnOrScratch[] = {"Library/Vellum", "tmp", "Library/Preferences", "Library/Logs",
                                              "Library/Caches"};
        std::map<std::string, std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(home.root())) {
            const std::string relative = fs::relative(item.path(), home.root()).generic_string();
            bool skipped = false;
            for (const char* prefix : kOwnOrScratch)
                skipped = skipped || relative.rfind(prefix, 0) == 0;
            if (!skipped && !item.is_directory())
                files[relative] = item.is_regular_file() ? readFile(item.path()) : "(not a regular file)";
        }
        return files;
    }
    // Serves raw bytes as a close-button bundle of that name, in both libraries.
    void serveCloseButton(const std::string& name, const std::string& bytes) {
        for (auto root : {services::kVellumCloseButtonsPath, services::kVellumTestCloseButtonsPath})
            services.handle("GET", std::string(root) + name + ".zip", [bytes](const services::LoggedRequest&) {
                return services::ServiceReply{200, bytes, "application/zip", {}};
            });
    }
    std::string serveBytes(const std::string& name, const std::string& bytes) {
        const std::string path = "/hostile/" + name;
        services.handle("GET", path, [bytes](const services::LoggedRequest&) {
            return services::ServiceReply{200, bytes, "application/zip", {}};
        });
        return services.url(path);
    }
    // One cache load, until the reply is answered and every download it caused has ended.
    void loadCache() {
        const int before = completion->answered;
        VellumAdServer::existing()->startCacheLoad();
        ASSERT_TRUE(clock.runUntil([&] { return completion->answered > before; }));
        for (int quiet = 0; quiet < 3;) {
            ASSERT_TRUE(clock.runUntil([] { return platform::URLConnection::runningCount() == 0; }));
            clock.advance(1.0);
            quiet = platform::URLConnection::runningCount() == 0 ? quiet + 1 : 0;
        }
    }
    // The main run loop runs a task posted now.
    bool mainLoopAnswers() {
        bool ran = false;
        platform::RunLoop::main().performAfter(0, [&ran] { ran = true; }, this);
        return clock.runUntil([&] { return ran; }, 2.0);
    }

    fwtest::LoopbackServices services;
    services::TrackingService tracking;
    services::VellumAdService ads;
    std::shared_ptr<Completion> completion = std::make_shared<Completion>();
};

TEST_F(HostileContentTest, HostileOffersChangeNothingOutsideTheirFolders) {
    fs::create_directories(home.root() / "Documents");
    std::ofstream(home.root() / "Documents" / "notes.txt") << "the user's own file";
    // The ad already cached, whose page and record the hostile rows go after.
    ads.setOffers({{"victim", 1, ads.addAdBundle("victim"), control("<key>adSlotType</key><integer>3</integer>")}});
    vellum::VellumAdManager::sharedInstance();
    ASSERT_TRUE(VellumAdServer::existing());
    VellumAdServer::existing()->delegate = completion;
    clock.advance(5.0);
    ASSERT_TRUE(clock.runUntil([&] { return db().haveAdWithID("victim"); }));
    loadCache();
    const auto victimPage = readFile(cacheFolder() / "victim" / "index.html");
    ASSERT_FALSE(victimPage.empty());
    const auto outside = outsideFiles();
    ASSERT_TRUE(vellum::VellumCachedCloseButtonDatabase::create()) << "the close-button store is open";

    std::string truncated = services::makeZipArchive({{"cut/index.html", std::string(3000, 'x')}});
    // Declares 4000 bytes for an entry of 3000 (in its local header and the central directory).
    for (auto [signature, offset] : {std::pair{std::string("PK\x03\x04", 4), 22}, {std::string("PK\x01\x02", 4), 24}}) {
        const auto at = truncated.find(signature);
        ASSERT_NE(at, std::string::npos);
        truncated.replace(at + offset, 4, std::string("\xa0\x0f\x00\x00", 4));
    }
    const std::string longID(5000, 'a');
    const std::string button = "<key>displaysCloseButton</key><true/><key>closeButtonLibID</key><string>";

    // Bundles served under these names; one named in a row's notFetched is refused before it is
    // asked for.
    auto bundle = [](const std::string& name) {
        return std::string(services::kVellumBundlesPath) + name + ".zip";
    };
    auto closeButtons = [](const std::string& name) {
        return std::vector<std::string>{std::string(services::kVellumCloseButtonsPath) + name + ".zip",
                                        std::string(services::kVellumTestCloseButtonsPath) + name + ".zip"};
    };
    struct Row {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::string> notRecorded;
        std::vector<std::string> notFetched = {};
    };
    const Row rows[] = {
        {"ad id that leaves the cache",
         [&] {
             ads.setOffers(
                 {{"../../Documents/evil", 1, ads.addBundle("up", {{"../../Documents/evil/x", "x"}}), ""}});
         },
         {"../../Documents/evil"},
         {bundle("up")}},
        {"bundle that writes another ad and the store",
         [&] {
             ads.setOffers({{"evil", 1,
                             ads.addBundle("evil", {{"evil/index.html", "evil"},
                                                    {"victim/index.html", "replaced"},
                                                    {"MRAdCache.sql", "not a database"}}),
                             control("")}});
         },
         {"evil"}},
        {"bundle entry that climbs out of the ad's folder",
         [&] {
             ads.setOffers({{"climb", 1,
                             ads.addBundle("climb", {{"climb/index.html", "x"},
                                                     {"climb/../../../../Documents/notes.txt", "overwritten"}}),
                             control("")}});
         },
         {"climb"}},
        {"bundle entry that is a link",
         [&] {
             ads.setOffers({{"link", 1, ads.addBundle("link", {{"link/index.html", "/etc/hostname", true}}), control("")}});
         },
         {"link"}},
        {"truncated bundle entry",
         [&] {
             ads.setOffers({{"cut", 1, serveBytes("cut.zip", truncated), control("")}});
         },
         {"cut"}},
        {"bundle from a file: URL and from an unknown scheme",
         [&] {
             ads.setOffers({{"local", 1, "file:///etc/hostname", control("")},
                            {"gopher", 1, "gopher://example.com/ad.zip", control("")}});
         },
         {"local", "gopher"}},
        {"oversized id and numbers",
         [&] {
             ads.setOffers({{longID, 1, ads.addAdBundle("long"), control("")},
                            {"huge", 32767, ads.addAdBundle("huge"),
                             control("<key>adSlotType</key><real>1e300</real><key>maxImpressions</key><real>1e300</real>"
                                     "<key>width</key><real>1e12</real><key>expandedHeight</key><string>99999999999999999999</string>"
                                     "<key>capImpressionTime</key><real>nan</real>")}});
         },
         {longID},
         {bundle("long")}},
        {"close buttons that leave their folder or write beside it",
         [&] {
             serveCloseButton("Sneaky", services::makeZipArchive({{"Sneaky/Sneaky.plist", "<plist/>"},
                                                                  {"Other/Other.plist", "<plist/>"},
                                                                  {"MRCloseButtonCache.sql", "not a database"}}));
             ads.setOffers({{"buttoned", 1, ads.addAdBundle("buttoned"), control(button + "Sneaky</string>")},
                            {"buttoned-2", 1, ads.addAdBundle("buttoned-2"), control(button + "../../Documents</string>")}});
         },
         {}},
        {"ad ids and close buttons named like the stores and their journals",
         [&] {
             for (const char* name : {"MRCloseButtonCache.sql", "MRCloseButtonCache.sql-journal"})
                 serveCloseButton(name, services::makeZipArchive(
                                            {{std::string(name) + "/" + name + ".plist", "<plist/>"}}));
             ads.setOffers(
                 {{"MRAdCache.sql", 1, ads.addBundle("store", {{"MRAdCache.sql/index.html", "x"}}),
                   control("")},
                  {"MRAdCache.sql-journal", 1,
                   ads.addBundle("journal", {{"MRAdCache.sql-journal/index.html", "x"}}), control("")},
                  {"store-button", 1, ads.addAdBundle("store-button"),
                   control(button + "MRCloseButtonCache.sql</string>")},
                  {"journal-button", 1, ads.addAdBundle("journal-button"),
                   control(button + "MRCloseButtonCache.sql-journal</string>")}});
         },
         {"MRAdCache.sql", "MRAdCache.sql-journal"},
         [&] {
             std::vector<std::string> paths = {bundle("store"), bundle("journal")};
             for (const char* name : {"MRCloseButtonCache.sql", "MRCloseButtonCache.sql-journal"})
                 for (auto& path : closeButtons(name))
                     paths.push_back(path);
             return paths;
         }()},
        {"reply that is no reply", [&] { ads.replyWithBytes(std::string(64, '\xff')); }, {}},
        // Field 1, a list of structs that claims two billion offers.
        {"reply claiming two billion offers",
         [&] { ads.replyWithBytes(std::string("\x0f\x00\x01\x0c\x7f\xff\xff\xff", 8)); },
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.arrange();
        loadCache();
        EXPECT_TRUE(mainLoopAnswers());
        for (const auto& id : row.notRecorded)
            EXPECT_FALSE(db().haveAdWithID(id)) << id;
        for (const auto& path : row.notFetched)
            EXPECT_EQ(services.requestCount(path), 0u) << path;
        EXPECT_EQ(outsideFiles(), outside);
        EXPECT_EQ(readFile(cacheFolder() / "victim" / "index.html"), victimPage);
        EXPECT_TRUE(db().haveAdWithID("victim")) << "the store still reads";
        // Each store is still its file, and nothing takes the place of its companions.
        for (const auto& [folder, store] :
             {std::pair{cacheFolder(), "MRAdCache.sql"},
              {cacheFolder().parent_path() / "MRCloseButtonCache", "MRCloseButtonCache.sql"}}) {
            EXPECT_TRUE(fs::is_regular_file(folder / store)) << store;
            for (const auto& item : fs::directory_iterator(folder))
                EXPECT_FALSE(item.path().filename().string().rfind(store, 0) == 0 && item.is_directory())
                    << item.path().filename();
        }
        for (const char* refused : {"evil", "cut", "climb", "link"})
            EXPECT_FALSE(fs::exists(cacheFolder() / refused)) << refused;
        EXPECT_FALSE(fs::exists(home.root() / "Documents" / "evil"));
        EXPECT_FALSE(fs::exists(cacheFolder().parent_path() / "MRCloseButtonCache" / "Other"));
        EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());
    }
    // The huge numbers were stored as the nearest numbers a record can hold.
    auto huge = db().adWithID("huge");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->adSlotType, std::numeric_limits<int>::max());
    EXPECT_EQ(huge->maxImpressions, std::numeric_limits<int>::max());
    EXPECT_EQ(huge->expandedHeight, std::numeric_limits<int>::max());
    // The close button's bundle was fetched and refused whole.
    EXPECT_GE(services.requestCount(std::string(services::kVellumCloseButtonsPath) + "Sneaky.zip") +
                  services.requestCount(std::string(services::kVellumTestCloseButtonsPath) + "Sneaky.zip"),
              1u);
    EXPECT_FALSE(vellum::VellumCachedCloseButtonDatabase::create()->hasCloseButtonNamed("Sneaky"));
    EXPECT_FALSE(fs::exists(cacheFolder().parent_path() / "MRCloseButtonCache" / "Sneaky"));

    // The next ad still arrives and shows.
    ads.setOffers({{"next", 1, ads.addAdBundle("next"),
                    control("<key>adSlotType</key><integer>3</integer><key>mainFile</key><string>index.html</string>")}});
    loadCache();
    ASSERT_TRUE(db().haveAdWithID("next"));
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("next", std::nullopt));
    auto c = view->adVC();
    ASSERT_TRUE(c);
    ASSERT_TRUE(clock.runUntil([&] {
        auto w = c->webView();
        return w && !w->isLoading() && w->stringByEvaluatingJavaScriptFromString("document.body.innerHTML") == "next";
    }));
}

// The ad cache and the close-button cache are used only as real folders: with a link to a
// folder of the person's or a file of the person's at either name, a cache load writes and
// removes nothing behind it, and the library runs without that cache (no ad, or no custom
// close button, is taken).
struct CacheFolderRow {
    const char* what;
    bool adCache; // else the close-button cache
    bool link;    // else a file
};

void PrintTo(const CacheFolderRow& row, std::ostream* out) { *out << row.what; }

class CacheFolderTest : public HostileContentTest, public ::testing::WithParamInterface<CacheFolderRow> {};

TEST_P(CacheFolderTest, NothingIsWrittenOrRemovedBehindTheName) {
    const auto& row = GetParam();
    const fs::path person = home.root() / "Documents" / "Holiday";
    fs::create_directories(person / "buttoned");
    std::ofstream(person / "buttoned" / "index.html") << "the person's page";
    std::ofstream(person / "notes.txt") << "the person's notes";
    std::ofstream(person / "MRAdCache.sql") << "the person's database";
    const fs::path name = row.adCache ? cacheFolder() : cacheFolder().parent_path() / "MRCloseButtonCache";
    fs::create_directories(name.parent_path());
    if (row.link)
        fs::create_directory_symlink(person, name);
    else
        std::ofstream(name) << "the person's own file";
    const auto before = fwtest::FolderSnapshot::of(home.root());

    serveCloseButton("Corner", services::makeZipArchive({{"Corner/Corner.plist", "<plist version=\"1.0\"><dict/></plist>"}}));
    ads.setOffers({{"buttoned", 1, ads.addAdBundle("buttoned"),
                    control("<key>displaysCloseButton</key><true/><key>closeButtonLibID</key><string>Corner</string>")}});
    vellum::VellumAdManager::sharedInstance();
    ASSERT_TRUE(VellumAdServer::existing());
    VellumAdServer::existing()->delegate = completion;
    loadCache();

    // Only the other cache, the settings and the scratch areas may have changed.
    std::vector<std::string> owned = {"Library/Preferences", "Library/Logs", "Library/Caches", "tmp",
                                      "Library/Vellum/MRTracking", "Library/DeviceIdentifier"};
    owned.push_back(row.adCache ? "Library/Vellum/MRCloseButtonCache" : "Library/Vellum/MRAdCache");
    EXPECT_EQ(fwtest::FolderSnapshot::of(home.root()).changesOutside(before, owned), std::vector<std::string>{});
    auto adStore = vellum::MRCachedAdDatabase::create();
    auto buttonStore = vellum::VellumCachedCloseButtonDatabase::create();
    if (row.adCache) {
        EXPECT_FALSE(adStore && adStore->haveAdWithID("buttoned"));
    } else {
        ASSERT_TRUE(adStore);
        EXPECT_TRUE(adStore->haveAdWithID("buttoned")) << "the ads run without the button cache";
        EXPECT_FALSE(buttonStore && buttonStore->hasCloseButtonNamed("Corner"));
    }
    EXPECT_TRUE(mainLoopAnswers());
}

INSTANTIATE_TEST_SUITE_P(EachCacheFolder, CacheFolderTest,
                         ::testing::Values(CacheFolderRow{"ad cache a link", true, true},
                                           CacheFolderRow{"ad cache a file", true, false},
                                           CacheFolderRow{"close-button cache a link", false, true},
                                           CacheFolderRow{"close-button cache a file", false, false}),
                         [](const auto& info) {
                             std::string name;
                             for (char c : std::string(info.param.what))
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name += c;
                             return name;
                         });

// Commands of a shown ad's page that choose what the app loads or records, sent as the page's
// own navigations: a URL the page chose reaches no file outside the ad's folder (the mini
// browser fails that load), and numbers past what a tracked event holds are recorded as the
// nearest it can hold.
class HostilePageTest : public AdDisplayFixture {
protected:
    std::shared_ptr<vellum::VellumAdViewController> show(const std::string& id) {
        storeBanner(id);
        view = slotView();
        EXPECT_TRUE(view->loadAdWithID(id, std::nullopt));
        auto c = view->adVC();
        EXPECT_TRUE(c && pageLoaded(*c));
        return c;
    }
    static void navigate(vellum::VellumAdViewController& c, const std::string& url) {
        c.webView()->stringByEvaluatingJavaScriptFromString("location.href = '" + url + "';");
    }
    std::shared_ptr<vellum::VellumAdView> view;
    fwtest::LoopbackServices services;
};

TEST_F(HostilePageTest, PageCommandsOpenNoPersonsFile) {
    fs::create_directories(home.root() / "Documents");
    std::ofstream(home.root() / "Documents" / "secret.txt") << "the person's secret";
    std::ofstream(home.root() / "Documents" / "diary.html") << "<html><body>the person's diary</body></html>";
    auto c = show("ad-1");
    ASSERT_TRUE(c);
    std::ofstream(cacheFolder() / "ad-1" / "own.html") << "<html><body>the ad's own page</body></html>";
    const auto fileURL = [](const fs::path& path) {
        return platform::percentEncodeQueryValue(platform::URL::fileURL(path).absoluteString());
    };
    platform::Application::shared().setInstalledSchemes({"http", "https"});
    auto browser = vellum::MREmbeddedBrowserController::sharedInstance();

    // A web page for an application: the browser shows it and keeps the page's fallback.
    services.handle("GET", "/app", [](const services::LoggedRequest&) {
        return services::ServiceReply{
            200, "<html><body>the application's page</body></html>", "text/html", {}};
    });
    const std::string appPage = services.url("/app");

    struct Row {
        const char* name;
        std::string command;
        std::string shown; // the browser's URL once the command has run
        std::string text;  // what the browser's page then shows (a refused load leaves the page before)
        // When set, the browser first shows this page, which then sends the person to an
        // application that is not installed: the browser loads the fallback instead.
        std::string throughPage = {};
    };
    const std::string secret =
        platform::URL::fileURL(home.root() / "Documents" / "secret.txt").absoluteString();
    const std::string diary =
        platform::URL::fileURL(home.root() / "Documents" / "diary.html").absoluteString();
    const std::string own = platform::URL::fileURL(cacheFolder() / "ad-1" / "own.html").absoluteString();
    const std::string climb =
        platform::URL::fileURL(cacheFolder() / "ad-1").absoluteString() + "/../../../../Documents/secret.txt";
    const Row rows[] = {
        // The ad's own folder stays open to it: the check below sees a page that did load.
        {"click-through to a page of the ad's own",
         "mrbridge:clickThrough?url=" + fileURL(cacheFolder() / "ad-1" / "own.html"), own,
         "the ad's own page"},
        {"click-through to a person's file",
         "mrbridge:clickThrough?url=" + fileURL(home.root() / "Documents" / "secret.txt"), secret, ""},
        {"application fallback that is a person's file",
         "mrbridge:launchApp?appURL=nosuch%3Ax&alternateID=" +
             fileURL(home.root() / "Documents" / "diary.html"),
         diary, ""},
        {"click-through through the ad's folder to a person's file",
         "mrbridge:clickThrough?url=" + platform::percentEncodeQueryValue(climb), climb, ""},
        {"application page whose fallback is a person's file",
         "mrbridge:launchApp?appURL=" + platform::percentEncodeQueryValue(appPage) +
             "&alternateID=" + fileURL(home.root() / "Documents" / "diary.html"),
         diary, "the application's page", appPage},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        navigate(*c, row.command);
        if (!row.throughPage.empty()) {
            ASSERT_TRUE(clock.runUntil([&] {
                auto w = browser->webView();
                return w && !w->isLoading() && browser->currentURLString() == row.throughPage;
            }));
            browser->webView()->stringByEvaluatingJavaScriptFromString("location.href = 'noapp://open';");
        }
        ASSERT_TRUE(clock.runUntil([&] {
            auto w = browser->webView();
            return w && !w->isLoading() && browser->currentURLString() == row.shown;
        }));
        const std::string text = browser->webView()->stringByEvaluatingJavaScriptFromString(
            "document.body ? document.body.textContent : ''");
        EXPECT_EQ(text, row.text);
        EXPECT_EQ(text.find("person's"), std::string::npos);
        // Whatever the load did, the browser closes.
        for (auto& alert : platform::Application::shared().visibleAlerts())
            alert->pressButton(0);
        browser->dismiss();
        ASSERT_TRUE(clock.runUntil([&] { return !browser->isViewLoaded(); }));
        clock.advance(1.0);
        EXPECT_FALSE(platform::Application::shared().isIgnoringInteractionEvents());
    }
}

// The browser's router lets a local page load only when it is one of the ad's own files: a
// person's file, a path that climbs out of the ad's folder, a link inside it that leads out and
// a scheme that merely begins like "file" are all refused.
TEST_F(HostilePageTest, TheBrowsersRouterLoadsOnlyTheAdsOwnFiles) {
    fs::create_directories(home.root() / "Documents");
    std::ofstream(home.root() / "Documents" / "secret.txt") << "the person's secret";
    auto c = show("ad-1");
    ASSERT_TRUE(c);
    const fs::path adFolder = cacheFolder() / "ad-1";
    std::ofstream(adFolder / "own.html") << "<html><body>the ad's own page</body></html>";
    fs::create_symlink(home.root() / "Documents" / "secret.txt", adFolder / "link.txt");
    const std::string own = platform::URL::fileURL(adFolder / "own.html").absoluteString();
    navigate(*c, "mrbridge:clickThrough?url=" + platform::percentEncodeQueryValue(own));
    auto browser = vellum::MREmbeddedBrowserController::sharedInstance();
    ASSERT_TRUE(clock.runUntil([&] {
        auto w = browser->webView();
        return w && !w->isLoading() && browser->currentURLString() == own;
    }));
    struct Row {
        const char* name;
        std::string url;
        bool loads;
    };
    const Row rows[] = {
        {"a page of the ad's own", own, true},
        {"a person's file", platform::URL::fileURL(home.root() / "Documents" / "secret.txt").absoluteString(), false},
        {"climbing out of the ad's folder",
         platform::URL::fileURL(adFolder).absoluteString() + "/../../../../Documents/secret.txt", false},
        {"a link inside the ad's folder leading out", platform::URL::fileURL(adFolder / "link.txt").absoluteString(),
         false},
        {"a scheme that only begins like a file's", "filez://x/own.html", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto url = platform::URL::parse(row.url);
        ASSERT_TRUE(url);
        EXPECT_EQ(browser->webViewShouldStartLoadWithRequestNavigationType(
                      *browser->webView(), platform::URLRequest(*url), platform::WebViewNavigationType::LinkClicked),
                  row.loads);
    }
    browser->dismiss();
    ASSERT_TRUE(clock.runUntil([&] { return !browser->isViewLoaded(); }));
}

TEST_F(HostilePageTest, PageNumbersPastATrackedEventsRangeSaturate) {
    struct Row {
        const char* name;
        const char* count;
        const char* duration;
        int userCount;
        std::uint32_t userDuration;
    };
    const Row rows[] = {
        {"past the top", "1e12", "1e10", std::numeric_limits<int>::max(),
         std::numeric_limits<std::uint32_t>::max()},
        {"past the bottom", "-1e12", "-1e10", std::numeric_limits<int>::min(), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string id = std::string("ad-") + (row.count[0] == '-' ? "low" : "high");
        auto c = show(id);
        ASSERT_TRUE(c);
        navigate(*c, std::string("mrbridge:setTrackingEventNumber?key=MRUserCount&val=") + row.count);
        ASSERT_TRUE(clock.runUntil([&] { return number(*c->event(), "MRUserCount").has_value(); }));
        navigate(*c, std::string("mrbridge:setDurationForKey?key=MRAdViewDuration&val=") + row.duration);
        ASSERT_TRUE(clock.runUntil([&] { return c->event()->durations().count("MRAdViewDuration") == 1; }));
        view->dismissWebViewAd();
        auto queued = manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false);
        ASSERT_TRUE(queued);
        int found = 0;
        for (const auto& event : *queued)
            if (event->eventType == "MRAdViewed" && event->adID == id) {
                ++found;
                EXPECT_EQ(event->userCount, row.userCount);
                EXPECT_EQ(event->userDuration, row.userDuration);
            }
        EXPECT_EQ(found, 1);
        view->removeFromSuperview();
    }
}

} // namespace
} // namespace richmediatest
