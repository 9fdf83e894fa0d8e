// Custom close buttons: the record from a bundle's property list, the table, the bundle
// download from the loopback ad service, and the button placed on an interstitial.
#include <gtest/gtest.h>

#include "AdDisplayFixture.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "services/VellumAdEndpoints.h"
#include "support/LoopbackServices.h"
#include "vellum/richmedia/MRCachedAdLoader.h"
#include "vellum/richmedia/VellumCachedCloseButton.h"

namespace richmediatest {
namespace {

using vellum::VellumCachedCloseButton;
using vellum::VellumCachedCloseButtonDatabase;
using vellum::VellumCachedCloseButtonLoader;

class CloseButtonTest : public AdDisplayFixture {
public:
    CloseButtonTest() { VellumCachedCloseButtonDatabase::resetForTesting(); }
    ~CloseButtonTest() override { VellumCachedCloseButtonDatabase::resetForTesting(); }

    static std::string plist(const std::string& body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + body + "</dict></plist>";
    }
    // A bundle for `name` whose property list places a 40 by 40 portrait button in the upper
    // left corner with its touch area in the button's inner 20 by 20.
    static std::vector<services::ZipEntry> bundle(const std::string& name) {
        return {{name + "/", ""},
                {name + "/" + name + ".plist",
                 plist("<key>verticalAdAsset </key><string>close.png</string>"
                       "<key>verticalWidth</key><integer>40</integer><key>verticalHeight</key><integer>40</integer>"
                       "<key>verticallHitX1</key><integer>10</integer><key>verticallHitY1</key><integer>10</integer>"
                       "<key>verticallHitX2</key><integer>30</integer><key>verticallHitY2</key><integer>30</integer>"
                       "<key>horizonalcornerplacement</key><string>MRCloseButtonUpperLeft</string>")},
                {name + "/close.png", "not really an image"}};
    }
    bool download(fwtest::LoopbackServices& services, const std::string& name) {
        const std::string path = "/closebuttons/" + name + ".zip";
        services.handle("GET", path, [archive = services::makeZipArchive(bundle(name))](const services::LoggedRequest&) {
            return services::ServiceReply{200, archive, "application/zip", {}};
        });
        auto db = VellumCachedCloseButtonDatabase::create();
        db->downloadCloseButton(name, services.urlFor(path));
        return clock.runUntil([&] { return platform::URLConnection::runningCount() == 0; });
    }
};

// Property-list keys as bundles spell them: the misspelt ones are the ones read.
TEST_F(CloseButtonTest, RecordReadsThePropertyListKeysAsBundlesWriteThem) {
    struct Case {
        const char* name;
        platform::Dictionary plist;
        std::function<bool(const VellumCachedCloseButton&)> holds;
    };
    const Case cases[] = {
        {"no placement: upper right both ways", {}, [](const auto& b) {
             return b.horizonalCornerPlacement == 0 && b.verticalCornerPlacement == 0;
         }},
        {"placement name goes to both", {{"horizonalcornerplacement", "MRCloseButtonLowerRight"}},
         [](const auto& b) { return b.horizonalCornerPlacement == 1 && b.verticalCornerPlacement == 1; }},
        {"unknown placement name is 3", {{"horizonalcornerplacement", "Middle"}},
         [](const auto& b) { return b.horizonalCornerPlacement == 3; }},
        {"vertical image key has its trailing blank", {{"verticalAdAsset ", "v.png"}},
         [](const auto& b) { return b.verticalImageName == "v.png"; }},
        {"vertical image key without the blank is not read", {{"verticalAdAsset", "v.png"}},
         [](const auto& b) { return !b.verticalImageName; }},
        {"vertical hit corner with double l", {{"verticallHitX1", 7}}, [](const auto& b) { return b.verticalHitX1 == 7; }},
        {"vertical hit corner spelt right is not read", {{"verticalHitX1", 7}},
         [](const auto& b) { return b.verticalHitX1 == 0; }},
        {"horizontal values", {{"horizonalWidth", 50}, {"horizonalAdAsset", "h.png"}, {"horizonalHitAsset", "hh.png"}},
         [](const auto& b) {
             return b.horizonalWidth == 50 && b.horizonalImageName == "h.png" && b.horizonalHitImageName == "hh.png";
         }},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto b = VellumCachedCloseButton::fromPropertyList("btn", tc.plist);
        EXPECT_EQ(b.closebuttonName, "btn");
        EXPECT_TRUE(tc.holds(b));
    }
}

TEST_F(CloseButtonTest, TableKeepsTheFirstRowAndTakesAnyName) {
    auto db = VellumCachedCloseButtonDatabase::create();
    ASSERT_TRUE(db);
    auto all = db->retrieveAllCloseButtons();
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->empty());

    VellumCachedCloseButton first;
    first.closebuttonName = "it's";
    first.verticalWidth = 40;
    first.horizonalImageName = "(null)";
    ASSERT_TRUE(db->insertCachedCloseButton(first));
    VellumCachedCloseButton second = first;
    second.verticalWidth = 99;
    EXPECT_FALSE(db->insertCachedCloseButton(second));

    auto stored = db->closebuttonWithName("it's");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->verticalWidth, 40);
    EXPECT_FALSE(stored->horizonalImageName); // "(null)" reads back as no name
    EXPECT_TRUE(db->hasCloseButtonNamed("it's"));
    EXPECT_FALSE(db->hasCloseButtonNamed("it"));
    EXPECT_FALSE(db->hasCloseButtonNamed("' OR '1'='1"));
    EXPECT_EQ(db->retrieveAllCloseButtons()->size(), 1u);
}

TEST_F(CloseButtonTest, DownloadedBundleEntersTheButton) {
    fwtest::LoopbackServices services;
    ASSERT_TRUE(download(services, "Corner1"));
    auto db = VellumCachedCloseButtonDatabase::existing();
    auto b = db->closebuttonWithName("Corner1");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->verticalImageName, "close.png");
    EXPECT_EQ(b->verticalCornerPlacement, 2);
    EXPECT_EQ(b->verticalHitX2, 30);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(vellum::VellumAdServer::cachedCloseButtonsFolderPath()) /
                                        "Corner1" / "close.png"));
    EXPECT_TRUE(std::filesystem::is_empty(home.root() / "tmp") || !std::filesystem::exists(home.root() / "tmp") ||
                [&] {
                    for (auto& e : std::filesystem::directory_iterator(home.root() / "tmp"))
                        if (e.path().filename().string().starts_with("MRCloseButton-"))
                            return false;
                    return true;
                }());
}

TEST_F(CloseButtonTest, FailedOrUnsafeDownloadsEnterNothing) {
    struct Case {
        const char* name;
        int status;
    };
    const Case cases[] = {{"Missing", 404}, {"../escape", 200}};
    fwtest::LoopbackServices services;
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        services.handle("GET", "/cb.zip", [&](const services::LoggedRequest&) {
            return services::ServiceReply{tc.status, services::makeZipArchive(bundle(tc.name)), "application/zip", {}};
        });
        VellumCachedCloseButtonDatabase::create()->downloadCloseButton(tc.name, services.urlFor("/cb.zip"));
        ASSERT_TRUE(clock.runUntil([&] { return platform::URLConnection::runningCount() == 0; }));
        EXPECT_FALSE(VellumCachedCloseButtonDatabase::existing()->hasCloseButtonNamed(tc.name));
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(vellum::VellumAdServer::cachedCloseButtonsFolderPath()) /
                                         ".." / "escape"));
}

// A name that reaches the unpacking although the download's start refused it (the loader's
// name changed while its bundle was on the way) is refused again when the bundle is unpacked:
// no folder of an ad or a button takes the name of a store's companion file, where SQLite would
// find a folder instead of its journal.
TEST_F(CloseButtonTest, StoreNamesAreRefusedWhenTheBundleIsUnpacked) {
    fwtest::LoopbackServices services;
    const std::string adStore = "MRAdCache.sql-journal";
    const std::string buttonStore = "MRCloseButtonCache.sql-journal";
    services.handle("GET", "/ad.zip", [archive = services::makeZipArchive({{adStore + "/index.html", "x"}})](
                                          const services::LoggedRequest&) {
        return services::ServiceReply{200, archive, "application/zip", {}};
    });
    services.handle("GET", "/button.zip", [archive = services::makeZipArchive(bundle(buttonStore))](
                                              const services::LoggedRequest&) {
        return services::ServiceReply{200, archive, "application/zip", {}};
    });
    db(); // the ad store is open, as a loaded ad is recorded in it
    auto adLoader = vellum::MRCachedAdLoader::create();
    adLoader->adID = "ad-ok";
    ASSERT_TRUE(adLoader->startAdLoadFromURL(services.urlFor("/ad.zip")));
    adLoader->adID = adStore;
    auto buttons = VellumCachedCloseButtonDatabase::create();
    auto buttonLoader = VellumCachedCloseButtonLoader::create();
    ASSERT_TRUE(buttonLoader->downloadCloseButton("button-ok", services.urlFor("/button.zip")));
    buttonLoader->closebuttonName = buttonStore;
    ASSERT_TRUE(clock.runUntil([&] { return !adLoader->loading && !buttonLoader->loading; }));
    EXPECT_EQ(services.requestCount("/ad.zip"), 1u);
    EXPECT_EQ(services.requestCount("/button.zip"), 1u);
    const std::filesystem::path buttonCache = vellum::VellumAdServer::cachedCloseButtonsFolderPath();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(cacheFolder() / adStore)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(buttonCache / buttonStore)));
    EXPECT_FALSE(db().haveAdWithID(adStore));
    EXPECT_FALSE(buttons->hasCloseButtonNamed(buttonStore));
}

TEST_F(CloseButtonTest, CustomButtonClosesThePortraitInterstitialThroughItsTouchArea) {
    fwtest::LoopbackServices services;
    ASSERT_TRUE(download(services, "Corner1"));
    storeAd("full", {{"mainFile", "index.html"}, {"width", 320}, {"height", 480}, {"adSlotType", 5},
                     {"avcClassName", kControllerClass}, {"displaysCloseButton", true},
                     {"closeButtonLibID", "Corner1"}});
    auto view = std::make_shared<vellum::VellumAdView>();
    ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
    view->displayInterstitial();
    clock.advance(vellum::VellumAdView::kInterstitialAnimationSeconds);
    auto page = vellum::VellumAdView::interstitialPageView();
    ASSERT_TRUE(page);
    // Upper left: the image button at (0, 0, 40, 40), its touch area (10, 10, 20, 20).
    auto& app = platform::Application::shared();
    EXPECT_FALSE(std::dynamic_pointer_cast<platform::Button>(app.simulateTap({300, 470})));
    app.simulateTap({3, 3});
    clock.advance(vellum::VellumAdView::kInterstitialAnimationSeconds);
    EXPECT_TRUE(vellum::VellumAdView::interstitialPageView());
    app.simulateTap({20, 20});
    clock.advance(vellum::VellumAdView::kInterstitialAnimationSeconds);
    EXPECT_FALSE(vellum::VellumAdView::interstitialPageView());
}

TEST_F(CloseButtonTest, UncachedCustomButtonLeavesTheBuiltInOne) {
    storeAd("full", {{"mainFile", "index.html"}, {"width", 320}, {"height", 480}, {"adSlotType", 5},
                     {"avcClassName", kControllerClass}, {"displaysCloseButton", true},
                     {"closeButtonLibID", "NotHere"}});
    auto view = std::make_shared<vellum::VellumAdView>();
    ASSERT_TRUE(view->loadAdWithID("full", std::nullopt));
    view->displayInterstitial();
    clock.advance(vellum::VellumAdView::kInterstitialAnimationSeconds);
    ASSERT_TRUE(std::dynamic_pointer_cast<platform::Button>(platform::Application::shared().simulateTap({315, 475})));
    clock.advance(vellum::VellumAdView::kInterstitialAnimationSeconds);
    EXPECT_FALSE(vellum::VellumAdView::interstitialPageView());
}

} // namespace
} // namespace richmediatest
