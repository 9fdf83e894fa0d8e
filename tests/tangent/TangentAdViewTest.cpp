// The Tangent ad view: its view, action and sync state rules, the bridge's command table, and
// a real page that reports its load statuses through the script library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/web/WebView.h"
#include "support/FolderSnapshot.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TGAdView.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGLanternFileManager.h"

using namespace tangent;

namespace {

struct RecordingListener : TGStateListener {
    std::vector<std::pair<int, int>> transitions;
    std::vector<int> syncStates;
    void tgAdViewDidUpdateSyncState(TGAdView&, int syncState) override { syncStates.push_back(syncState); }
    void tgAdViewDidTransitionFromViewState(TGAdView&, int from, int to, const std::optional<platform::Error>&) override {
        transitions.emplace_back(from, to);
    }
};

struct RecordingComponent : TGLanternClient {
    std::vector<std::pair<std::string, TGLanternArguments>> commands;
    int working = 0;
    void rotate() override {}
    void beginDisplayInView(const std::shared_ptr<platform::View>&) override {}
    void setWorking(bool on) override { working += on ? 1 : -1; }
    void endDisplay() override {}
    bool respondsToLantern(std::string_view selector) const override {
        return selector == "beginAdInteraction:" || selector == "width:height:transition:callback:options:" ||
               selector == "dismiss:";
    }
    bool lanternCommand(std::string_view selector, const TGLanternArguments& arguments) override {
        commands.emplace_back(std::string(selector), arguments);
        return true;
    }
};

struct Fixture {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    std::shared_ptr<RecordingListener> listener = std::make_shared<RecordingListener>();
    std::shared_ptr<TGAdView> adView =
        TGAdView::create({0, 0, 320, 50}, std::make_shared<TGDelegateAdaptorImmutable>(), listener);
};

} // namespace

TEST(TangentAdView, ViewStateRules) {
    Fixture f;
    EXPECT_EQ(f.adView->actualViewState(), pendingState);
    EXPECT_EQ(f.adView->currentViewState(), uninitializedState);

    f.adView->setCurrentViewState(loadedState);
    f.adView->setCurrentViewState(loadedState); // same state: nothing
    f.adView->setCurrentViewState(inactiveState);
    f.adView->setCurrentViewState(activeState); // protects
    f.adView->setCurrentViewState(inactiveState); // unprotects
    EXPECT_EQ(f.listener->transitions, (std::vector<std::pair<int, int>>{{0, 3}, {3, 4}, {4, 5}, {5, 4}}));
    EXPECT_EQ(f.listener->syncStates, (std::vector<int>{1, 0}));
    EXPECT_FALSE(f.adView->currentSyncState());

    f.adView->errorOccured(platform::Error{"test", 1, "boom", {}});
    EXPECT_EQ(f.adView->actualViewState(), errorState);
    EXPECT_EQ(f.adView->currentViewState(), inactiveState); // the reported state stays
    f.adView->errorOccured(platform::Error{"test", 2, "again", {}}); // once only
    EXPECT_EQ(f.listener->transitions.back(), std::make_pair(4, -1));
    EXPECT_EQ(f.listener->transitions.size(), 5u);

    f.adView->setCurrentViewState(dismissedState);
    f.adView->setCurrentViewState(inactiveState); // nothing after dismissedState
    EXPECT_EQ(f.adView->actualViewState(), dismissedState);
}

TEST(TangentAdView, ClickHoldsStatesAndReplaysThemInOrder) {
    Fixture f;
    auto component = std::make_shared<RecordingComponent>();
    f.adView->setAdWrapper(component);
    f.adView->setCurrentViewState(inactiveState);
    f.listener->transitions.clear();

    f.adView->setCurrentActionState(clickingState);
    EXPECT_TRUE(f.adView->currentSyncState());
    EXPECT_EQ(component->working, 1);
    f.adView->setCurrentViewState(activeState); // held back while the click runs
    f.adView->setCurrentActionState(clickedState);
    f.adView->setCurrentViewState(inactiveState);
    EXPECT_EQ(f.listener->transitions, (std::vector<std::pair<int, int>>{{4, 6}, {6, 7}}));
    EXPECT_EQ(f.adView->pendingViewStates(), (std::vector<int>{4, 5, 4}));

    f.adView->setCurrentActionState(inactiveState); // the click ends: replay
    EXPECT_EQ(f.listener->transitions,
              (std::vector<std::pair<int, int>>{{4, 6}, {6, 7}, {7, 4}, {4, 5}, {5, 4}}));
    EXPECT_TRUE(f.adView->pendingViewStates().empty());
    EXPECT_EQ(component->working, 0);
    EXPECT_FALSE(f.adView->currentSyncState());
    EXPECT_EQ(f.adView->currentViewState(), inactiveState);
}

TEST(TangentAdView, EndingAProtectedAdGivesEveryProtectionBack) {
    Fixture f;
    f.adView->setCurrentViewState(inactiveState);
    f.adView->setCurrentViewState(activeState);
    f.adView->setCurrentActionState(clickingState);
    f.adView->endDisplay();
    EXPECT_FALSE(f.adView->currentSyncState());
    EXPECT_EQ(f.listener->syncStates, (std::vector<int>{1, 1, 0, 0}));
}

TEST(TangentAdView, BridgeCommandTable) {
    Fixture f;
    auto component = std::make_shared<RecordingComponent>();
    f.adView->setAdWrapper(component);
    auto bridge = [&](const char* url) { return f.adView->bridgeUrl(*platform::URL::parse(url)); };

    EXPECT_TRUE(bridge("tgc://tangent/beginAdInteraction:"));
    ASSERT_EQ(component->commands.size(), 1u);
    EXPECT_EQ(component->commands[0].second, TGLanternArguments{std::string()});

    // The callback id becomes the script that runs it; extra arguments are dropped.
    EXPECT_TRUE(bridge("tgc://tangent/width:height:transition:callback:options:?320&200&3&LanternCB-1&%7B%7D&extra"));
    ASSERT_EQ(component->commands.size(), 2u);
    EXPECT_EQ(component->commands[1].second,
              (TGLanternArguments{"320", "200", "3", "Lantern.executeCallback('LanternCB-1');", "{}"}));

    EXPECT_TRUE(bridge("tgc://tangent/dismiss:?true")); // a component-only command
    EXPECT_EQ(component->commands.size(), 3u);
    EXPECT_FALSE(bridge("tgc://tangent/statusBarVisible:?1")); // nobody handles it
    EXPECT_FALSE(bridge("tgc://tangent/autoWidth:height:transition:callback:options:?1&2&3&4&5"));
    EXPECT_FALSE(bridge("tgc://tangent/deleteEverything:?now"));
    EXPECT_EQ(component->commands.size(), 3u);

    // Load statuses move the ad until it is shown; after that only the unload counts.
    EXPECT_TRUE(bridge("tgc://tangent/documentLoadStatus:?preload"));
    EXPECT_TRUE(bridge("tgc://tangent/documentLoadStatus:?onload"));
    EXPECT_TRUE(bridge("tgc://tangent/documentLoadStatus:?onload"));
    EXPECT_EQ(f.adView->actualViewState(), loadedState);
    f.adView->setCurrentViewState(inactiveState);
    EXPECT_TRUE(bridge("tgc://tangent/documentLoadStatus:?preload"));
    EXPECT_EQ(f.adView->actualViewState(), inactiveState);
    EXPECT_TRUE(bridge("tgc://tangent/documentLoadStatus:?onunload"));
    EXPECT_EQ(f.listener->transitions.back(), std::make_pair(8, 9));
}

TEST(TangentAdView, PageReportsItsLoadThroughTheLibrary) {
    Fixture f;
    ASSERT_TRUE(f.adView->loadAdContent("<p id='ad'>Hello</p>"));
    ASSERT_TRUE(f.clock.runUntil([&] {
        f.clock.advance(0.02);
        return f.adView->currentViewState() == loadedState;
    }));
    EXPECT_TRUE(f.adView->adWrapper()); // made on the first bridge call
    ASSERT_TRUE(f.adView->adWebView());
    EXPECT_TRUE(f.adView->adWebView()->elementById("ad"));
    // A status-bar tap does not scroll the loaded ad.
    ASSERT_TRUE(f.adView->adWebView()->scrollView());
    EXPECT_FALSE(f.adView->adWebView()->scrollView()->scrollsToTop());
    // The page's library holds the device id placed into it.
    EXPECT_EQ(f.adView->evalJS("Lantern.deviceId"), TGLanternFileManager::instance().deviceId());
    // Without a location source the page hears at its load that location is off.
    EXPECT_EQ(f.adView->evalJS("String(Lantern.locationStatus)"), "1");
}

TEST(TangentSupportFiles, WrittenOnceAndFilledByCountedPlaceholders) {
    fwtest::TemporaryHome home;
    auto& files = TGLanternFileManager::instance();
    ASSERT_TRUE(files.lanternLibDirectory());
    for (const auto& [name, text] : getLanternDictionary())
        EXPECT_EQ(files.fileContentsAsString(name), text) << name;
    EXPECT_TRUE(files.writeStringToFile("changed", "tgadlantern.css", false)); // kept as it is
    EXPECT_EQ(files.fileContentsAsString("tgadlantern.css"), getLanternDictionary().at("tgadlantern.css"));
    EXPECT_FALSE(files.fillFile("tgadlantern.css", {}));
    EXPECT_FALSE(files.fillFile("tgadlantern.css", {"1", "2"}));
    EXPECT_FALSE(files.fileContentsAsString("../Preferences/x.plist"));

    EXPECT_EQ(fillPlaceholders("a%@b%@", {"%@", "x"}), "a%@bx");
    EXPECT_EQ(parseOptions("{alt-uri:x%3Ay,fullscreen:true}"),
              (std::map<std::string, std::string>{{"alt-uri", "x:y"}, {"fullscreen", "true"}}));
    EXPECT_EQ(escapeJS("a'b\"c/d\\e\r\nf\tg"), "a\\'b\\\"c\\/d\\\\e\\nf\\tg");
    const std::pair<double, const char*> components[] = {{0.5, "7F"}, {0.05, "0C"}, {1.0, "FF"}, {0.0, "00"}, {2.0, "FF"}};
    for (const auto& [value, text] : components)
        EXPECT_EQ(hexStringForColorComponent(value), text);
    EXPECT_EQ(htmlHexColorString(platform::Color::white(0.5)), "#7F7F7F");
}

// The support files' folders are the app's only as real folders: with a link to a folder of
// the person's or a file of the person's at "Tangent" or "Lantern", nothing is written behind
// it and the library runs without its files.
TEST(TangentSupportFiles, NoFolderIsUsedThroughALinkOrAFile) {
    namespace fs = std::filesystem;
    for (const char* name : {"Tangent", "Tangent/Lantern"}) {
        for (const bool link : {true, false}) {
            SCOPED_TRACE(std::string(name) + (link ? " a link" : " a file"));
            fwtest::TemporaryHome home;
            const fs::path person = home.root() / "Documents" / "Holiday";
            fs::create_directories(person);
            std::ofstream(person / "tgadlantern.css") << "the person's style sheet";
            const fs::path at = home.root() / "Library" / name;
            fs::create_directories(at.parent_path());
            if (link)
                fs::create_directory_symlink(person, at);
            else
                std::ofstream(at) << "the person's own file";
            const auto before = fwtest::FolderSnapshot::of(home.root());
            TGLanternFileManager::resetForTesting();
            auto& files = TGLanternFileManager::instance();
            EXPECT_FALSE(files.lanternLibDirectory());
            EXPECT_FALSE(files.writeStringToFile("changed", "tgadlantern.css", true));
            EXPECT_EQ(fwtest::FolderSnapshot::of(home.root()).changesOutside(before, {"Library/Preferences", "Library/DeviceIdentifier"}),
                      std::vector<std::string>{});
            TGLanternFileManager::resetForTesting();
        }
    }
}

TEST(TangentCategories, PhoneNumbersAndTheStatusBarFollowTheDevice) {
    platform::WebView web(platform::Rect(0, 0, 320, 50));
    compatibleDetectPhoneNumbers(web, false);
    EXPECT_EQ(web.dataDetectorTypes(), platform::kDataDetectorTypeNone);
    compatibleDetectPhoneNumbers(web, true);
    EXPECT_EQ(web.dataDetectorTypes(), platform::kDataDetectorTypePhoneNumber);

    // A generation-0 device keeps its status bar as it is.
    struct Case {
        int generation;
        bool hiddenAfter;
    };
    for (const Case c : {Case{0, false}, Case{10, true}}) {
        TGDeviceInfo::instance().tgSystemVersion = c.generation;
        platform::Application::shared().setStatusBarHidden(false, false);
        compatibleStatusBarHidden(true, true);
        EXPECT_EQ(platform::Application::shared().isStatusBarHidden(), c.hiddenAfter) << c.generation;
    }
    platform::Application::shared().setStatusBarHidden(false, false);
    TGDeviceInfo::resetForTesting();
}
