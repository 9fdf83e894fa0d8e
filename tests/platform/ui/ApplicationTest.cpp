#include <gtest/gtest.h>

#include <fstream>

#include "UiTestSupport.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

using namespace platform;

namespace {

class DelegateRecorder : public ApplicationDelegate {
public:
    std::vector<std::string> calls;
    Dictionary launchOptions;
    std::optional<Data> token;
    std::optional<Error> failure;
    std::vector<Dictionary> payloads;

    bool applicationDidFinishLaunchingWithOptions(Application& app, const Dictionary& options) override {
        calls.push_back("did-finish-launching");
        launchOptions = options;
        app.setApplicationIconBadgeNumber(0);
        app.registerForRemoteNotificationTypes(RemoteNotificationType::Badge | RemoteNotificationType::Sound |
                                               RemoteNotificationType::Alert);
        return true;
    }
    void applicationDidBecomeActive(Application&) override { calls.push_back("did-become-active"); }
    void applicationWillResignActive(Application&) override { calls.push_back("will-resign-active"); }
    void applicationDidEnterBackground(Application&) override { calls.push_back("did-enter-background"); }
    void applicationWillEnterForeground(Application&) override { calls.push_back("will-enter-foreground"); }
    void applicationWillTerminate(Application&) override { calls.push_back("will-terminate"); }
    void applicationDidReceiveRemoteNotification(Application&, const Dictionary& payload) override {
        payloads.push_back(payload);
    }
    void applicationDidRegisterForRemoteNotificationsWithDeviceToken(Application&, const Data& t) override {
        token = t;
    }
    void applicationDidFailToRegisterForRemoteNotificationsWithError(Application&, const Error& e) override {
        failure = e;
    }
};

class Applications : public uitest::UiTest {
protected:
    std::shared_ptr<DelegateRecorder> delegate = std::make_shared<DelegateRecorder>();
};

} // namespace

TEST_F(Applications, LaunchPassesTheOptionsAndBecomesActive) {
    Dictionary push{{"applink", Value("12345")}};
    Dictionary options{{kApplicationLaunchOptionsRemoteNotificationKey, Value(push)}};
    std::vector<std::string> posted;
    Application::shared().addObserver(kApplicationDidBecomeActiveNotification,
                                      [&](const std::string& n) { posted.push_back(n); });
    NotificationCenter::defaultCenter().addObserver(
        kApplicationDidBecomeActiveNotification,
        [&](const Notification& n) { posted.push_back("centre " + n.name); });
    Application::shared().setApplicationIconBadgeNumber(5);
    Application::shared().launch(delegate, options);

    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"did-finish-launching", "did-become-active"}));
    EXPECT_NE(delegate->launchOptions.find(kApplicationLaunchOptionsRemoteNotificationKey),
              delegate->launchOptions.end());
    EXPECT_EQ(Application::shared().applicationState(), ApplicationState::Active);
    EXPECT_EQ(posted,
              (std::vector<std::string>{kApplicationDidBecomeActiveNotification,
                                        std::string("centre ") + kApplicationDidBecomeActiveNotification}));
    EXPECT_EQ(Application::shared().applicationIconBadgeNumber(), 0);
    EXPECT_EQ(Application::shared().enabledRemoteNotificationTypes(), 7u);
}

TEST_F(Applications, StateChangesFollowTheLifeCycleAndAreObserved) {
    std::vector<std::string> posted;
    for (const char* name :
         {kApplicationWillResignActiveNotification, kApplicationDidBecomeActiveNotification,
          kApplicationDidEnterBackgroundNotification, kApplicationWillEnterForegroundNotification})
        Application::shared().addObserver(name, [&](const std::string& n) { posted.push_back(n); });
    auto& app = Application::shared();
    app.launch(delegate);
    delegate->calls.clear();
    posted.clear();

    app.enterBackground();
    EXPECT_EQ(app.applicationState(), ApplicationState::Background);
    app.enterBackground(); // already there: nothing
    app.enterForeground();
    EXPECT_EQ(app.applicationState(), ApplicationState::Active);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"will-resign-active", "did-enter-background",
                                                         "will-enter-foreground", "did-become-active"}));
    EXPECT_EQ(posted, (std::vector<std::string>{kApplicationWillResignActiveNotification,
                                                kApplicationDidEnterBackgroundNotification,
                                                kApplicationWillEnterForegroundNotification,
                                                kApplicationDidBecomeActiveNotification}));
    app.terminate();
    app.terminate();
    EXPECT_EQ(delegate->calls.back(), "will-terminate");
    EXPECT_EQ(std::count(delegate->calls.begin(), delegate->calls.end(), "will-terminate"), 1);
    EXPECT_EQ(app.run(), 0); // returns at once after termination
}

TEST_F(Applications, ARemovedObserverHearsNothingMore) {
    int heard = 0;
    auto& app = Application::shared();
    auto token =
        app.addObserver(kApplicationWillResignActiveNotification, [&](const std::string&) { ++heard; });
    app.launch(delegate);
    app.resignActive();
    app.removeObserver(token);
    app.becomeActive();
    app.resignActive();
    EXPECT_EQ(heard, 1);
}

TEST_F(Applications, TheDeviceTokenIsMadeOnceAndKeptAcrossRuns) {
    Application::shared().launch(delegate);
    EXPECT_FALSE(delegate->token); // the answer comes on a later turn
    clock_.drain();
    ASSERT_TRUE(delegate->token);
    EXPECT_EQ(delegate->token->size(), kDeviceTokenLength);
    EXPECT_TRUE(std::filesystem::exists(DeviceHome::library() / kDeviceTokenFileName));

    Application::resetForTesting(); // a new run with the same device home
    auto second = std::make_shared<DelegateRecorder>();
    Application::shared().launch(second);
    clock_.drain();
    ASSERT_TRUE(second->token);
    EXPECT_EQ(*second->token, *delegate->token);
}

TEST_F(Applications, ACorruptTokenFileIsReplacedAndARegistrationFailureIsReported) {
    { std::ofstream(DeviceHome::library() / kDeviceTokenFileName) << "short"; }
    auto token = Application::persistentDeviceToken();
    ASSERT_TRUE(token);
    EXPECT_EQ(token->size(), kDeviceTokenLength);
    EXPECT_EQ(Application::persistentDeviceToken(), token);

    Application::shared().setRemoteNotificationFailureForTesting(
        Error{"RemoteNotificationErrorDomain", 3010, "no", {}});
    Application::shared().launch(delegate);
    clock_.drain();
    EXPECT_FALSE(delegate->token);
    ASSERT_TRUE(delegate->failure);
    EXPECT_EQ(delegate->failure->code, 3010);
}

TEST_F(Applications, RegistrationAnsweredAfterAResetReachesNobody) {
    Application::shared().launch(delegate);
    Application::resetForTesting();
    clock_.drain();
    EXPECT_FALSE(delegate->token);
}

TEST_F(Applications, RemoteNotificationsWhileRunningReachTheDelegate) {
    Dictionary payload{{"applink", Value("999")}};
    Application::shared().deliverRemoteNotification(payload); // not running yet: dropped
    Application::shared().launch(delegate);
    Application::shared().deliverRemoteNotification(payload);
    ASSERT_EQ(delegate->payloads.size(), 1u);
    EXPECT_EQ(delegate->payloads[0].at("applink"), Value("999"));
}

TEST_F(Applications, OpenURLIsRecordedAndAnsweredByInstalledSchemes) {
    auto& app = Application::shared();
    struct Case {
        const char* url;
        bool handled;
    };
    const Case cases[] = {
        {"http://example.com/app?id=1", true},
        {"HTTPS://example.com", true},
        {"mailto:someone@example.com", true},
        {"promo-app://open", false},
        {"not a url", false},
        {"", false},
        {"1abc://x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app.canOpenURL(c.url), c.handled) << c.url;
    app.setInstalledSchemes({"promo-app"});
    EXPECT_TRUE(app.canOpenURL("promo-app://open"));
    EXPECT_TRUE(app.openURL("promo-app://open"));
    EXPECT_FALSE(app.openURL("http://example.com"));
    EXPECT_EQ(app.openedURLs(), (std::vector<std::string>{"promo-app://open", "http://example.com"}));
    EXPECT_EQ(app.canOpenURLQueries().size(), std::size(cases) + 1);
}

TEST_F(Applications, IgnoringInteractionNestsAndDropsTouches) {
    auto window = makeKeyWindow();
    auto button = std::make_shared<Button>(Rect(0, 0, 100, 100));
    int presses = 0;
    button->addAction([&](Control&) { ++presses; }, ControlEvent::TouchUpInside);
    window->addSubview(button);
    auto& app = Application::shared();
    app.beginIgnoringInteractionEvents();
    app.beginIgnoringInteractionEvents();
    app.simulateTap({50, 50});
    app.endIgnoringInteractionEvents();
    app.simulateTap({50, 50});
    EXPECT_EQ(presses, 0);
    app.endIgnoringInteractionEvents();
    app.simulateTap({50, 50});
    EXPECT_EQ(presses, 1);

    LogCapture log;
    app.endIgnoringInteractionEvents(); // unbalanced: ignored, not negative
    EXPECT_TRUE(log.contains("without a matching begin"));
    EXPECT_FALSE(app.isIgnoringInteractionEvents());
}

TEST_F(Applications, AReplacedEventDispatchSeesEveryEventAndPassesItOn) {
    auto window = makeKeyWindow();
    auto button = std::make_shared<Button>(Rect(0, 0, 100, 100));
    int presses = 0;
    button->addAction([&](Control&) { ++presses; }, ControlEvent::TouchUpInside);
    window->addSubview(button);

    std::optional<Point> lastTouch;
    int events = 0;
    auto previous = std::make_shared<Application::EventDispatch>();
    *previous = Application::replaceEventDispatch([&, previous](Application& app, const Event& event) {
        ++events;
        if (event.type() == Event::Type::Touches && !event.allTouches().empty())
            lastTouch = event.allTouches().front()->locationInWindow();
        (*previous)(app, event);
    });
    Application::shared().simulateTap({40, 60});
    Application::replaceEventDispatch(*previous); // restore for the other tests

    EXPECT_EQ(events, 2); // began and ended
    ASSERT_TRUE(lastTouch);
    EXPECT_EQ(*lastTouch, (Point{40, 60}));
    EXPECT_EQ(presses, 1);
}

TEST_F(Applications, WindowsAreListedByLevelAndTheKeyWindowIsTracked) {
    auto& app = Application::shared();
    EXPECT_EQ(app.keyWindow(), nullptr);
    auto main = makeKeyWindow();
    auto overlay = std::make_shared<Window>();
    overlay->setWindowLevel(kWindowLevelAlert);
    overlay->setHidden(false);
    auto hidden = std::make_shared<Window>();
    EXPECT_EQ(app.windows(), (std::vector<std::shared_ptr<Window>>{main, overlay}));
    EXPECT_TRUE(main->isKeyWindow());
    overlay->makeKeyAndVisible();
    EXPECT_TRUE(overlay->isKeyWindow());
    overlay->setHidden(true);
    EXPECT_EQ(app.keyWindow(), nullptr);
    EXPECT_EQ(app.windows(), (std::vector<std::shared_ptr<Window>>{main}));
}

TEST_F(Applications, StatusBarSettingsAndTheApplicationFrame) {
    auto& app = Application::shared();
    EXPECT_EQ(Screen::main().applicationFrame(), Rect(0, 20, 320, 460));
    EXPECT_EQ(app.statusBarFrame(), Rect(0, 0, 320, 20));
    app.setStatusBarHidden(true, StatusBarAnimation::Fade);
    EXPECT_EQ(app.lastStatusBarAnimation(), StatusBarAnimation::Fade);
    EXPECT_EQ(Screen::main().applicationFrame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(app.statusBarFrame(), Rect());
}

TEST_F(Applications, DeviceProfilesDecideTheScreenAndTheIdiom) {
    struct Case {
        DeviceProfile profile;
        Rect bounds;
        UserInterfaceIdiom idiom;
        const char* model;
    };
    const Case cases[] = {
        {DeviceProfile::Phone, Rect(0, 0, 320, 480), UserInterfaceIdiom::Phone, "Phone"},
        {DeviceProfile::Tablet, Rect(0, 0, 768, 1024), UserInterfaceIdiom::Tablet, "Tablet"},
    };
    for (const auto& c : cases) {
        Device::setProfile(c.profile);
        EXPECT_EQ(Screen::main().bounds(), c.bounds);
        EXPECT_EQ(Device::current().userInterfaceIdiom(), c.idiom);
        EXPECT_EQ(Device::current().model(), c.model);
    }
}

TEST_F(Applications, TheUniqueIdentifierIsStablePerDeviceHome) {
    std::string id = Device::current().uniqueIdentifier();
    EXPECT_EQ(id.size(), 40u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(Device::current().uniqueIdentifier(), id);
    EXPECT_TRUE(std::filesystem::exists(DeviceHome::library() / kDeviceIdentifierFileName));

    auto other = uitest::makeTemporaryFolder("fw-ui-other-home");
    DeviceHome::setCurrent(other);
    EXPECT_NE(Device::current().uniqueIdentifier(), id);
    DeviceHome::setCurrent(home_);
    EXPECT_EQ(Device::current().uniqueIdentifier(), id);
    std::filesystem::remove_all(other);
}

TEST_F(Applications, OrientationChangesArePostedWhileGenerated) {
    int changes = 0;
    Application::shared().addObserver(kDeviceOrientationDidChangeNotification,
                                      [&](const std::string&) { ++changes; });
    Device::current().setOrientation(DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(changes, 0);
    Device::current().beginGeneratingDeviceOrientationNotifications();
    Device::current().setOrientation(DeviceOrientation::Portrait);
    Device::current().setOrientation(DeviceOrientation::Portrait);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(interfaceOrientationFor(DeviceOrientation::LandscapeLeft),
              InterfaceOrientation::LandscapeRight);
}
