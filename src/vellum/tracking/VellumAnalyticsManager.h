#pragma once
// VellumAnalyticsManager: the one service object of the Vellum engine. Every other class of
// the tracking library and of the rich-media side reaches settings, logging, device facts and
// the tracking session through it.
//
// Service half (VellumAnalyticsManager.cpp): the settings store (process environment, then
// user defaults, then the main bundle's information dictionary, consulted afresh on every
// call), the typed readers (booleans, floats and integers only from number objects, so a text
// value reads as NO or 0 and still hides the later sources), levelled logging ("*MRT* ...
// (run ID %X)"), device and application facts, the identity values issued by the tracking
// server, the network status cache and the availability tests.
//
// Session half (VellumTrackingSession.cpp): start-up, runs and foreground sessions, event
// recording into the tracked-event store, pending events and the location fix, the upload
// decisions and the partial-upload timer, the version alert and shut-down.
//
// Ownership and threads: one shared instance, created on first use and kept for the process
// (resetForTesting() stops it and drops it with every process-wide value, so each test starts
// clean). Everything runs on the main thread: the start-up call, its timers (added to the
// main run loop), the application and ad notifications, the location callbacks and the alert
// callback. The timers and observations hold the manager weakly; after setShutdown(true)
// every timer is invalidated and every observation removed, so nothing fires afterwards.
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/AlertView.h"

namespace platform {
class Timer;
}

namespace vellum {

class VellumEvent;
class VellumTrackedEvent;
class VellumTrackedEventDatabase;

// Settings keys exported by the engine.
inline constexpr const char* VellumLogLevelKey = "VellumLogLevel";
inline constexpr const char* MRLogLevelKey = "MRLogLevel";
inline constexpr const char* VellumTrackingServerURLKey = "VellumTrackingServerURL";
inline constexpr const char* MRTrackingServerURLKey = "MRTrackingServerURL";
inline constexpr const char* VellumUseTestServersKey = "VellumUseTestServers";
inline constexpr const char* VellumUseStagingServersKey = "VellumUseStagingServers";
inline constexpr const char* MRUseTestServersKey = "MRUseTestServers";
inline constexpr const char* MRBroadcastTypeKey = "MRBroadcastType";
inline constexpr const char* VellumAdRequestTimeout = "VellumAdRequestTimeout";
inline constexpr const char* VellumConsecutiveMediaDownloadKey = "VellumConsecutiveMediaDownloadKey";
inline constexpr const char* VellumMediaDownloadOffsetTimerKey = "VellumMediaDownloadOffsetTimerKey";
inline constexpr const char* MRManualMediaDownloadKey = "MRManualMediaDownload";
inline constexpr const char* MRDisableAdDataOverride = "MRDisableAdDataOverride";
inline constexpr const char* VellumDisableAdDataOverride = "VellumDisableAdDataOverride";
inline constexpr const char* VellumShareGesturesWithApp = "VellumShareGesturesWithApp";

// The engine's access code: as a log level it opens the internal lines; stored under
// "MRBroadcastDebugLevel" it turns the upload gate's minimum interval off.
inline constexpr const char* kVellumAccessCode = "7QV2KXPD";

// An event name recorded for each tracking start.
inline constexpr const char* kMRRunStartEvent = "MRRunStartEvent";
// The event that carries the ad requests per slot since the counts were last cleared.
inline constexpr const char* kMRInventoryTrackingForSession = "MRInventoryTrackingForSession";

// The optional question the tracking session puts to the application's own location-manager
// delegate after a fix: answering false keeps the location updates running. A delegate that
// does not derive from this class (or answers nullopt) lets the session stop them.
class VellumLocationUpdateQuery {
public:
    virtual ~VellumLocationUpdateQuery() = default;
    virtual std::optional<bool> locationManagerShouldStopUpdatingLocation(platform::LocationManager&) {
        return std::nullopt;
    }
};

// The notification that each rich-media ad controller registers with the session. Its
// VellumEvent (user-information key MRAdEventKey) travels as the notification's object, a
// std::shared_ptr<VellumEvent>, since user information holds only property-list values.
inline constexpr const char* kMRADAdViewedNotification = "MRADAdViewedNotification";

class VellumAnalyticsManager : public std::enable_shared_from_this<VellumAnalyticsManager>,
                               public platform::LocationManagerDelegate,
                               public platform::AlertViewDelegate {
public:
    // ---- Shared instance ----
    static std::shared_ptr<VellumAnalyticsManager> sharedInstance();
    // Stops the shared instance (timers, observations, location) and drops it together with
    // every process-wide value (run ID, run count, pending events, ...), as at class set-up.
    static void resetForTesting();
    ~VellumAnalyticsManager() override;

    // ---- Settings store (class operations) ----
    static std::optional<platform::Value> objectForKey(std::string_view key);
    static std::optional<std::string> stringForKey(std::string_view key);
    static bool boolForKey(std::string_view key);
    static float floatForKey(std::string_view key);
    static int intForKey(std::string_view key);
    static bool keyExists(std::string_view key);
    static void setObject(const platform::Value& value, std::string_view key);
    static void setString(std::string_view value, std::string_view key);
    static void setBool(bool value, std::string_view key);
    static void setFloat(float value, std::string_view key);
    static void setInt(int value, std::string_view key);

    // ---- Logging (printf-style formats; strings with %s) ----
    void logInternal(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void logDebug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void logDebugOrInternal(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void logWithArgs(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
    bool logInternalEnabled() const;
    bool logDebugEnabled() const;

    // ---- Device and application facts ----
    static std::string versionString(); // "2.4"
    static int buildNumber();           // 6
    static std::string version();       // "2.4.6.0"
    static std::string deviceHardware();
    static std::string deviceModel();
    static std::string deviceSystemName();
    static std::string deviceID();
    std::string md5DeviceID() const;
    std::string systemVersion();
    float systemVersionFloat();
    static std::string libraryDirectory();
    static std::string documentsDirectory();

    // ---- Identity values ----
    std::optional<std::string> appID() const;
    void setAppID(const std::optional<std::string>& appID);
    std::optional<std::string> appVersion() const;
    void setAppVersion(const std::optional<std::string>& appVersion);
    std::optional<std::string> appToken() const;
    void setAppToken(const std::optional<std::string>& appToken);
    std::optional<std::string> deviceToken() const;
    void setDeviceToken(const std::optional<std::string>& deviceToken);
    std::optional<std::string> appIdentifier() const;

    // ---- Network status cache ----
    void updateConnStatus();
    int internetConnectionStatusCode() const;
    std::string internetConnectionStatus() const;

    // ---- Availability tests ----
    bool isShutdown() const;
    bool isTracking() const;
    bool isUnavailableWithErrorMessage(std::string_view message);
    bool isShutdownWithErrorMessage(std::string_view message);

    // ---- Session: start-up ----
    void initializeWithAppID(const std::optional<std::string>& appID,
                             const std::optional<std::string>& appVersion,
                             std::shared_ptr<platform::LocationManager> locationManager,
                             bool locationTracking);
    void initialize(bool locationTracking);
    void _startTracking(bool locationTracking);
    void _startTrackingWithLocationManager(std::shared_ptr<platform::LocationManager> locationManager);

    // ---- Session: events ----
    // A name records an event of that name.
    void trackEvent(std::string_view name);
    // A VellumEvent is recorded as it is.
    void trackEvent(const VellumEvent& event);
    // Any other object: logged and dropped (`typeName` names what was passed).
    void trackUnexpectedEventObject(std::string_view typeName);
    void trackEventWithUserDict(std::string_view name, const std::optional<platform::Dictionary>& userDict);
    void trackEventWithUserCount(std::string_view name, int count, unsigned long duration,
                                 const std::optional<platform::Dictionary>& userDict);
    // Observes the named notifications posted by `sender` on the default centre (every name
    // when the list is empty or absent), handled by receivedNotification.
    void observeNotifications(const std::optional<std::vector<std::string>>& names, const void* sender);
    void receivedNotification(const platform::Notification& notification);
    void trackEventWithEvent(const VellumEvent& event, bool endOfRun);
    void incrementRunForecastingForAdSlot(std::string_view slot);

    // ---- Session: uploads ----
    void attemptBroadcast();
    void attemptBroadcastExcludingCurrentRun(bool excludeCurrentRun, bool synchronously);
    void attemptInternalAdEventBroadcast();
    void attemptInternalAdEventBroadcastTimer() { attemptInternalAdEventBroadcast(); }
    void updateInternalTimerEventUpdate(int seconds);
    void updateInternalImpressionEventUpdate(int value);
    void setBroadcastInterval(double seconds);
    double broadcastInterval() const { return broadcastInterval_; }
    bool broadcastDebugEnabled() const;
    std::optional<platform::Date> lastBroadcastDate() const;
    bool isFirstRun() const;
    static std::uint32_t runID();
    int runCount() const;
    void markEventsAsBroadcast(const std::vector<std::string>& eventIDs);
    void recordBroadcastSuccess();
    void setShutdown(bool shutdown);

    // ---- Session: location ----
    void refreshLocation();
    void stopLocationTracking();
    bool locationServicesEnabled() const;
    bool locationTrackingEnabled() const;
    const std::optional<platform::Location>& currentLocation() const { return currentLocation_; }
    void locationManagerDidUpdateToLocation(platform::LocationManager& manager,
                                            const platform::Location& newLocation,
                                            const std::optional<platform::Location>& oldLocation) override;
    void locationManagerDidFailWithError(platform::LocationManager& manager,
                                         const platform::Error& error) override;
    std::shared_ptr<platform::LocationManager> internalLocationManager() const {
        return internalLocationManager_;
    }

    // ---- Session: version alert ----
    void displayVersionMessageIfAppropriate();
    bool haveUpdateVersion() const;
    void showUpdateVersionAlert();
    std::optional<std::string> updateVersionString() const;
    std::optional<std::string> updateVersionURL() const;
    std::string updateVersionMessage() const;
    void recordVersionMessage(const std::optional<std::string>& message,
                              const std::optional<std::string>& url);
    void alertViewClickedButtonAtIndex(platform::AlertView& alertView, int buttonIndex) override;

    // ---- Session: other ----
    static bool readyForRequest();
    static void resetReadyForRequest();
    void startConnStatusTimer();
    void stopConnStatusTimer();
    void startBroadcastTimer();
    void observeAppNotifications();
    void receivedAppNotification(const std::string& name, const platform::Dictionary* userInfo);
    void updateEventsPendingLocation();
    void shutDownImpressionDisplay();

    // Read-only views for tests and for the rich-media side.
    std::shared_ptr<VellumTrackedEventDatabase> trackedEventDB() const { return trackedEventDB_; }
    std::size_t pendingEventCount() const;
    const std::vector<std::string>& sessionImpressions() const;
    double impresssionEventUpdate() const { return impresssionEventUpdate_; }
    std::shared_ptr<platform::Timer> broadcastTimer() const { return broadcastTimer_; }
    std::shared_ptr<platform::Timer> connStatusTimer() const { return connStatusTimer_; }

private:
    VellumAnalyticsManager();
    void _initializeTracking(const std::shared_ptr<platform::LocationManager>& locationManager);
    void insertTrackedEvent(const std::shared_ptr<VellumTrackedEvent>& event);
    void recordInventoryIfAny();
    void removeAllObservations();
    void stopAllTimers();
    void vlog(bool enabled, const char* format, va_list args);

    std::shared_ptr<platform::Timer> broadcastTimer_;
    bool broadcastTimerScheduled_ = false;
    double broadcastInterval_ = 10.0;
    std::shared_ptr<platform::Timer> connStatusTimer_;
    double connStatusRefreshInterval_ = 30.0;
    std::optional<platform::Location> currentLocation_;
    std::shared_ptr<platform::LocationManager> internalLocationManager_;
    std::weak_ptr<platform::LocationManagerDelegate> locationManagerDelegate_;
    std::shared_ptr<VellumTrackedEventDatabase> trackedEventDB_;
    platform::Dictionary eventKeyUserDict_;
    bool tracking_ = false;
    double impresssionEventUpdate_ = 0;
    std::optional<std::string> sysVersion_;

    std::vector<platform::NotificationCenter::ObserverToken> notificationTokens_;
    std::vector<std::uint64_t> appObserverTokens_;
    std::shared_ptr<platform::Timer> startUploadTimer_;
    std::shared_ptr<platform::AlertView> versionAlert_;
};

} // namespace vellum
