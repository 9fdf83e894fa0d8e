// Runs and sessions across launches, foreground and background on the manual clock; event
// recording, pending events and location; the upload schedule, the version alert and
// shut-down, with real uploads to the loopback tracking service.
#include <gtest/gtest.h>

#include "TrackingFixture.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/AlertView.h"
#include "services/TrackingEndpoints.h"
#include "support/LoopbackServices.h"
#include "vellum/tracking/VellumEvent.h"
#include "vellum/tracking/VellumEventKeys.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace {

using vellum::VellumAnalyticsManager;
using vellum::VellumEvent;
using vellum::VellumTrackedEventDatabase;

class SessionTest : public vellumtest::TrackingFixture {
public:
    SessionTest() : service(services.host()) { setLogLevel("VERBOSE"); }

    void start(std::shared_ptr<platform::LocationManager> locationManager = nullptr) {
        manager()->initializeWithAppID("app-1", "1.0", std::move(locationManager), false);
    }
    std::vector<std::string> queuedTypes() {
        std::vector<std::string> types;
        const auto events = manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false).value();
        for (const auto& e : events)
            types.push_back(e->eventType.value_or(""));
        return types;
    }
    bool waitForUploads(std::size_t count) {
        return clock.runUntil([&] {
            return service.uploads().size() >= count && vellum::MRBroadcaster::sharedInstance()->available();
        });
    }
    void post(const char* name) { platform::Application::shared().postNotification(name); }

    fwtest::LoopbackServices services;
    services::TrackingService service;
};

TEST_F(SessionTest, FirstRunStartsARunAndRecordsItsStart) {
    EXPECT_FALSE(VellumTrackedEventDatabase::databaseExists());
    start();
    EXPECT_TRUE(manager()->isTracking());
    EXPECT_TRUE(manager()->isFirstRun());
    EXPECT_EQ(manager()->runCount(), 1);
    EXPECT_EQ(VellumAnalyticsManager::runID(),
              static_cast<std::uint32_t>(kStartTime - platform::kTimeIntervalSince1970To2001));
    EXPECT_TRUE(defaults().objectForKey("MRFirstLaunchDate"));
    EXPECT_EQ(queuedTypes(), std::vector<std::string>{"MRRunStartEvent"});
    EXPECT_TRUE(log.contains("first run of application on device"));
    EXPECT_TRUE(
        log.contains("(run ID " + platform::formatString("%X", VellumAnalyticsManager::runID()) + ")"));

    // The upload 10 s later leaves the current run out, so there is nothing to send.
    clock.advance(10);
    EXPECT_TRUE(log.contains("skipping broadcast of 0 events - no events to send"));
    EXPECT_EQ(service.uploads().size(), 0u);
}

TEST_F(SessionTest, NoApplicationIDOrAShutDownRefusesTheStart) {
    manager()->initializeWithAppID("  \n", std::nullopt, nullptr, false);
    EXPECT_FALSE(manager()->isTracking());
    manager()->trackEvent("Dropped");
    EXPECT_TRUE(log.contains("Error: trackEvent called with tracking off. Event discarded."));

    defaults().setBool("MRShutdown", true);
    manager()->initializeWithAppID("app-1", std::nullopt, nullptr, false);
    EXPECT_FALSE(manager()->isTracking());
    EXPECT_TRUE(log.contains("Cannot start the tracking library because the Vellum Tracking Library has been "
                             "shut down on this device."));
}

TEST_F(SessionTest, ALaterLaunchUploadsTheEarlierRunsAfterTenSeconds) {
    start();
    manager()->trackEvent("Tap");
    relaunch();
    clock.advance(3600);
    start();
    EXPECT_FALSE(manager()->isFirstRun());
    EXPECT_EQ(manager()->runCount(), 2);

    clock.advance(10);
    ASSERT_TRUE(waitForUploads(1));
    const auto upload = service.uploads()[0];
    ASSERT_EQ(upload.runIDs.size(), 1u); // the earlier run only
    EXPECT_EQ(upload.eventIDs.size(), 1u);
    EXPECT_TRUE(log.contains("never connected - attempting broadcast of 2 events"));
    // Acknowledged events are deleted at the next start.
    relaunch();
    start();
    EXPECT_EQ(queuedTypes(),
              (std::vector<std::string>{"MRRunStartEvent", "MRRunStartEvent", "MRRunStartEvent"}));
}

TEST_F(SessionTest, TheAgeGateSkipsUploadsTooSoonAfterTheLastOne) {
    start();
    manager()->trackEvent("Tap");
    relaunch();
    defaults().setInteger("MRBroadcastInterval", 60);
    defaults().setObject("MRLastBroadcastDate", platform::Value(platform::Date{kStartTime + 80}));
    clock.advance(100); // 20 s after the last upload
    start();
    clock.advance(10);
    EXPECT_TRUE(log.contains("skipping broadcast of 2 events - max queued event age < 60.00 seconds"));
    EXPECT_EQ(service.uploads().size(), 0u);

    // With the access code the gate is off.
    relaunch();
    platform::Bundle::main().setInfoDictionaryValue("MRBroadcastDebugLevel", "7QV2KXPD");
    start();
    clock.advance(10);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_TRUE(log.contains("debugging - attempting broadcast of 3 events"));
    EXPECT_EQ(service.uploads()[0].part("v"), "2.4D");
}

TEST_F(SessionTest, OnlyABackgroundStayLongerThanTheIntervalStartsANewSession) {
    struct Case {
        double stay;
        std::optional<double> configuredInterval;
        bool newSession;
    };
    const Case cases[] = {{20, std::nullopt, false}, {40, std::nullopt, true}, {40, 60.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stay);
        relaunch();
        if (c.configuredInterval)
            platform::Bundle::main().setInfoDictionaryValue("VellumBackGroundSessionInterval",
                                                            *c.configuredInterval);
        else
            platform::Bundle::main().setInfoDictionary(
                {{"CFBundleShortVersionString", "1.0"}, {"VellumLogLevel", "VERBOSE"}});
        start();
        const int runCount = manager()->runCount();
        const auto runID = VellumAnalyticsManager::runID();
        post(platform::kApplicationDidEnterBackgroundNotification);
        EXPECT_FALSE(VellumAnalyticsManager::readyForRequest());
        clock.advance(10); // the start's own upload
        ASSERT_TRUE(clock.runUntil([] { return vellum::MRBroadcaster::sharedInstance()->available(); }));
        clock.advance(c.stay - 10);
        const auto uploadsBefore = service.uploads().size();
        post(platform::kApplicationWillEnterForegroundNotification);
        EXPECT_EQ(manager()->runCount(), runCount + (c.newSession ? 1 : 0));
        EXPECT_EQ(VellumAnalyticsManager::readyForRequest(), c.newSession);
        EXPECT_EQ(VellumAnalyticsManager::runID(), runID);
        EXPECT_EQ(defaults().integerForKey("MRCurrentRunCount"), manager()->runCount());
        if (c.newSession) {
            // The new session uploads every queued event, the current run included.
            ASSERT_TRUE(waitForUploads(uploadsBefore + 1));
            EXPECT_FALSE(service.uploads().back().eventIDs.empty());
        }
    }
}

TEST_F(SessionTest, TerminationRecordsUploadsAndRemembersTheDate) {
    start();
    auto ad = std::make_shared<VellumEvent>(vellum::MRAdViewedKey);
    ad->setString("ad-9", vellum::MRAdIDKey);
    ad->setString("banner", vellum::MRAdSlotKey);
    manager()->observeNotifications(std::vector<std::string>{vellum::kMRADAdViewedNotification}, this);
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{vellum::kMRADAdViewedNotification, ad, this, {}});
    EXPECT_EQ(manager()->sessionImpressions(), std::vector<std::string>{"banner Ad:ad-9"});

    post(platform::kApplicationWillTerminateNotification);
    ASSERT_TRUE(waitForUploads(1));
    const auto upload = service.uploads()[0];
    EXPECT_EQ(upload.adEventIDs.size(), 1u);
    EXPECT_EQ(upload.eventIDs.size(), 1u); // the termination event; the run start is left out
    EXPECT_TRUE(defaults().objectForKey("MRLastTermDate"));
    EXPECT_TRUE(log.contains("Impression: Slot:banner Ad:ad-9"));
}

TEST_F(SessionTest, AdImpressionsBecomeAdEventsDatedFromTheirFirstDisplay) {
    start();
    VellumEvent ad(vellum::MRAdViewedKey);
    ad.setString("ad-3", vellum::MRAdIDKey);
    ad.setString("7", vellum::MRAdVersionKey);
    ad.setString("parent", vellum::MRAdParentAdID);
    ad.setString("x", "MRAdCloneAdID");
    ad.setNumber(platform::Value(1), vellum::MRAdExitKey);
    ad.setNumber(platform::Value(kStartTime - platform::kTimeIntervalSince1970To2001 - 30),
                 vellum::MRAdStartTimeKey);
    ad.setDuration(100000, vellum::MRAdViewDurationKey);
    manager()->trackEvent(ad);
    auto events = *manager()->trackedEventDB()->retrieveQueuedPartialAdEvents(true);
    ASSERT_EQ(events.size(), 1u);
    const auto& e = *events[0];
    EXPECT_EQ(e.adID, "ad-3");
    EXPECT_EQ(e.adExit, 1);
    EXPECT_EQ(e.timestamp->secondsSince1970, kStartTime - 30);
    EXPECT_EQ(e.adParentAdID, "parent");
    EXPECT_TRUE(e.adIsAClone);
    auto wire = e.thriftRepresentation();
    ASSERT_TRUE(wire.adEvent);
    EXPECT_EQ(wire.adEvent->uDur(), 32767); // clamped to the field
    EXPECT_EQ(wire.adEvent->adVersion(), "7");
}

TEST_F(SessionTest, EventsOfUnexpectedKindsAreLoggedOrSkipped) {
    start();
    manager()->trackUnexpectedEventObject("NSNumber");
    EXPECT_TRUE(log.contains("an unexpected event object type was passed to -trackEvent: NSNumber"));
    manager()->trackEventWithUserDict(
        "Buy", platform::Dictionary{{"item", "hat"}, {"price", 3.5}, {"tags", platform::Array{"a"}}});
    EXPECT_TRUE(log.contains("skipping object in dictionary that is not an NSString or an NSNumber: tags"));
    auto events = *manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1]->stringValues, (platform::Dictionary{{"item", "hat"}}));
    EXPECT_EQ(events[1]->numericValues, (platform::Dictionary{{"price", "3.5"}}));
}

TEST_F(SessionTest, ObservingEveryNotificationOfASenderRecordsEachByName) {
    start();
    int sender = 0;
    manager()->observeNotifications(std::vector<std::string>{}, &sender);
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(platform::Notification{"SomethingHappened", {}, &sender, {{"k", "v"}}});
    center.post(platform::Notification{"FromElsewhere", {}, nullptr, {}});
    const auto types = queuedTypes();
    EXPECT_EQ(types, (std::vector<std::string>{"MRRunStartEvent", "SomethingHappened"}));
}

class RecordingLocationDelegate : public platform::LocationManagerDelegate,
                                  public vellum::VellumLocationUpdateQuery {
public:
    void locationManagerDidUpdateToLocation(platform::LocationManager&, const platform::Location&,
                                            const std::optional<platform::Location>&) override {
        ++updates;
    }
    std::optional<bool> locationManagerShouldStopUpdatingLocation(platform::LocationManager&) override {
        return keepUpdating ? std::optional<bool>(false) : std::nullopt;
    }
    int updates = 0;
    bool keepUpdating = false;
};

TEST_F(SessionTest, PendingEventsAreStoredWithTheFirstFix) {
    auto locationManager = platform::LocationManager::create();
    auto appDelegate = std::make_shared<RecordingLocationDelegate>();
    locationManager->setDelegate(appDelegate);
    start(locationManager);
    EXPECT_TRUE(locationManager->isUpdatingLocation());
    manager()->trackEvent("Tap");
    EXPECT_EQ(manager()->pendingEventCount(), 2u); // the run start and the tap wait for a fix
    EXPECT_TRUE(queuedTypes().empty());

    const platform::Location fix({52.5, 13.4}, 30, 10, 15, platform::Date{kStartTime});
    locationManager->simulateUpdate(fix);
    EXPECT_EQ(manager()->pendingEventCount(), 0u);
    auto events = *manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false);
    ASSERT_EQ(events.size(), 2u);
    ASSERT_TRUE(events[1]->location);
    EXPECT_EQ(events[1]->location->coordinate().latitude, 52.5);
    EXPECT_FALSE(locationManager->isUpdatingLocation());
    EXPECT_EQ(appDelegate->updates, 1); // passed on to the application's delegate
    EXPECT_TRUE(log.contains("got new location: "));
}

TEST_F(SessionTest, PendingEventsAreStoredWithoutLocationWhenNoFixCanCome) {
    struct Case {
        const char* name;
        std::function<void(platform::LocationManager&, SessionTest&)> end;
        bool trackingStays;
    };
    const Case cases[] = {
        {"access denied",
         [](platform::LocationManager& m, SessionTest&) {
             m.simulateFailure(platform::Error{
                 platform::kLocationErrorDomain, platform::kLocationErrorDenied, "denied", {}});
         },
         false},
        {"location unknown",
         [](platform::LocationManager& m, SessionTest&) {
             m.simulateFailure(platform::Error{
                 platform::kLocationErrorDomain, platform::kLocationErrorLocationUnknown, "unknown", {}});
         },
         true},
        {"entering the background",
         [](platform::LocationManager&, SessionTest& t) {
             t.post(platform::kApplicationDidEnterBackgroundNotification);
         },
         true},
        {"stopping", [](platform::LocationManager&, SessionTest& t) { t.manager()->stopLocationTracking(); },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        relaunch();
        auto locationManager = platform::LocationManager::create();
        start(locationManager);
        manager()->trackEvent("Tap");
        ASSERT_GT(manager()->pendingEventCount(), 0u);
        c.end(*locationManager, *this);
        EXPECT_EQ(manager()->pendingEventCount(), 0u);
        auto events = *manager()->trackedEventDB()->retrieveQueuedEventsExcludeCurrentRun(false);
        bool tapStored = false;
        for (const auto& e : events)
            if (e->eventType == "Tap" && e->runID == VellumAnalyticsManager::runID()) {
                tapStored = true;
                EXPECT_FALSE(e->location);
            }
        EXPECT_TRUE(tapStored);
        EXPECT_EQ(manager()->locationTrackingEnabled(), c.trackingStays);
    }
}

TEST_F(SessionTest, PartialUploadsRunOnTheirTimerAndAfterImpressions) {
    start();
    manager()->updateInternalTimerEventUpdate(60);
    EXPECT_EQ(defaults().integerForKey("MRBroadcastInterval"), 60);
    VellumEvent ad(vellum::MRAdViewedKey);
    ad.setString("ad-1", vellum::MRAdIDKey);
    manager()->trackEvent(ad);
    EXPECT_EQ(service.uploads().size(), 0u);
    clock.advance(60);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_TRUE(service.uploads()[0].partial);

    manager()->updateInternalTimerEventUpdate(0);
    clock.advance(120);
    clock.drain();
    EXPECT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(manager()->broadcastInterval(), 60); // the gate keeps the longer interval

    manager()->updateInternalImpressionEventUpdate(1);
    manager()->trackEvent("NotAnImpression");
    clock.drain();
    EXPECT_EQ(service.uploads().size(), 1u);
    VellumEvent second(vellum::MRAdViewedKey);
    second.setString("ad-2", vellum::MRAdIDKey);
    manager()->trackEvent(second);
    ASSERT_TRUE(waitForUploads(2));
    EXPECT_EQ(service.uploads()[1].adEventIDs.size(), 1u);
}

TEST_F(SessionTest, SlotRequestsTravelAsAnInventoryEvent) {
    start();
    manager()->incrementRunForecastingForAdSlot("top");
    manager()->incrementRunForecastingForAdSlot("top");
    post(platform::kApplicationWillTerminateNotification);
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_NE(service.uploads()[0].description.find("key:\"MRInventoryTrackingForSession\""),
              std::string::npos);
    EXPECT_EQ(manager()->trackedEventDB()->runForecastingData(), platform::Dictionary{});
}

TEST_F(SessionTest, TheVersionAlertOffersTheNewVersion) {
    manager()->recordVersionMessage("2.0", "http://store/app");
    start();
    clock.advance(1);
    auto alerts = platform::Application::shared().visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "Drive Version Alert");
    EXPECT_EQ(
        alerts[0]->message(),
        "Version 2.0 of this application is now available from the App Store. Would you like to update now?");
    EXPECT_TRUE(alerts[0]->pressButtonWithTitle("OK"));
    EXPECT_EQ(platform::Application::shared().openedURLs(), std::vector<std::string>{"http://store/app"});
    EXPECT_FALSE(defaults().objectForKey("MRVersionMsg"));
    EXPECT_FALSE(defaults().objectForKey("MRVersionMsgURL"));
}

TEST_F(SessionTest, TheVersionAlertStaysAwayForTheCurrentVersion) {
    manager()->recordVersionMessage("1.0", std::nullopt);
    start();
    clock.advance(1);
    EXPECT_TRUE(platform::Application::shared().visibleAlerts().empty());

    manager()->recordVersionMessage("3.0", std::nullopt);
    relaunch();
    start();
    clock.advance(1);
    auto alerts = platform::Application::shared().visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->buttonTitleAtIndex(0), "Dismiss");
    EXPECT_EQ(alerts[0]->numberOfButtons(), 1);
}

TEST_F(SessionTest, ShutDownStopsTimersObservationsAndEvents) {
    start();
    manager()->updateInternalTimerEventUpdate(30);
    manager()->setShutdown(true);
    EXPECT_FALSE(manager()->isTracking());
    EXPECT_FALSE(manager()->broadcastTimer()->isValid());
    EXPECT_FALSE(manager()->connStatusTimer()->isValid());
    const auto before = queuedTypes();
    manager()->trackEvent("Dropped");
    post(platform::kApplicationWillTerminateNotification);
    EXPECT_EQ(queuedTypes(), before);
    clock.advance(60);
    EXPECT_EQ(services.requests().size(), 0u);
    EXPECT_TRUE(manager()->isUnavailableWithErrorMessage("Cannot show ads"));
    manager()->setShutdown(false);
    EXPECT_FALSE(manager()->isShutdown());
}

TEST_F(SessionTest, TheAdServersSettingsRestartNoUploadAfterShutDown) {
    start();
    VellumEvent ad(vellum::MRAdViewedKey);
    ad.setString("ad-1", vellum::MRAdIDKey);
    manager()->trackEvent(ad);
    manager()->setShutdown(true);
    // Settings the ad server sends later, in the order its reply applies them.
    manager()->updateInternalTimerEventUpdate(0);
    manager()->updateInternalTimerEventUpdate(30);
    manager()->updateInternalImpressionEventUpdate(1);
    manager()->attemptInternalAdEventBroadcast();
    clock.advance(90);
    auto broadcaster = vellum::MRBroadcaster::sharedInstance();
    EXPECT_TRUE(broadcaster->available()) << "no upload under way";
    ASSERT_TRUE(clock.runUntil([&] { return broadcaster->available(); }));
    EXPECT_EQ(service.uploads().size(), 0u);
}

TEST_F(SessionTest, WithoutANetworkTheUploadWaits) {
    start();
    manager()->trackEvent("Tap");
    platform::Reachability::setTestFlagsForAllHosts(0);
    post(platform::kApplicationWillTerminateNotification);
    EXPECT_TRUE(log.contains("skipping broadcast - no connection to server"));
    EXPECT_EQ(manager()->internetConnectionStatus(), "NotConnected");
    clock.drain();
    EXPECT_EQ(services.requests().size(), 0u);
}

} // namespace
