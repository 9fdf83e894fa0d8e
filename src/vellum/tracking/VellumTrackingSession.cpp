// The tracking half of the analytics manager: start-up, runs and foreground sessions, event
// recording, pending events and location, upload decisions, the version alert and shut-down.
#include <cmath>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "vellum/tracking/AnalyticsSeam.h"
#include "vellum/tracking/MRBroadcaster.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEvent.h"
#include "vellum/tracking/VellumEventKeys.h"
#include "vellum/tracking/VellumTrackedEvent.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace vellum {

namespace {

// Persisted keys of the session.
constexpr const char* kFirstLaunchDateKey = "MRFirstLaunchDate";
constexpr const char* kLastTermDateKey = "MRLastTermDate";
constexpr const char* kCurrentRunCountKey = "MRCurrentRunCount";
constexpr const char* kBroadcastIntervalKey = "MRBroadcastInterval";
constexpr const char* kLastBroadcastDateKey = "MRLastBroadcastDate";
constexpr const char* kVersionMsgKey = "MRVersionMsg";
constexpr const char* kVersionMsgURLKey = "MRVersionMsgURL";
constexpr const char* kShutdownKey = "MRShutdown";
constexpr const char* kBroadcastDebugLevelKey = "MRBroadcastDebugLevel";
constexpr const char* kBackGroundSessionIntervalKey = "VellumBackGroundSessionInterval";
constexpr const char* kBundleNameKey = "CFBundleName";

// Event value keys read from a VellumEvent besides the exported ones.
constexpr const char* kUserCountKey = "MRUserCount";
constexpr const char* kUserDurationKey = "MRUserDuration";
constexpr const char* kAdCloneAdIDKey = "MRAdCloneAdID";

constexpr const char* kCannotStartMessage = "Cannot start the tracking library";
constexpr double kDefaultBroadcastInterval = 10.0;
constexpr double kConnStatusRefreshInterval = 30.0;
constexpr double kStartUploadDelay = 10.0;
constexpr double kVersionAlertDelay = 1.0;
constexpr float kBackgroundSessionsSystemVersion = 4.0f;

constexpr const char* kVersionAlertTitle = "%s Version Alert";
constexpr const char* kVersionAlertMessage =
    "Version %s of this application is now available from the App Store. Would you like to update now?";
constexpr const char* kCancelTitle = "Cancel";
constexpr const char* kOKTitle = "OK";
constexpr const char* kDismissTitle = "Dismiss";

std::shared_ptr<VellumAnalyticsManager>& sharedSlot() {
    static std::shared_ptr<VellumAnalyticsManager> instance;
    return instance;
}

double nowSince1970() {
    return platform::Clock::current().now();
}
double nowSinceReference() {
    return nowSince1970() - platform::kTimeIntervalSince1970To2001;
}

platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

std::optional<platform::Date> storedDate(const char* key) {
    auto v = defaults().objectForKey(key);
    return v ? v->date() : std::nullopt;
}

void storeNow(const char* key) {
    defaults().setObject(key, platform::Value(platform::Clock::current().date()));
    defaults().synchronize();
}

// Run count := the stored count when present (else the one in memory), plus 1, stored.
void incrementRunCount() {
    auto& state = trackingState();
    if (auto stored = defaults().objectForKey(kCurrentRunCountKey); stored && stored->isNumber())
        state.runCount = static_cast<int>(stored->intOr(0));
    state.runCount += 1;
    VellumAnalyticsManager::setInt(state.runCount, kCurrentRunCountKey);
}

const platform::Value* entry(const platform::Dictionary& d, const char* key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : &it->second;
}

std::optional<std::string> stringEntry(const platform::Dictionary& d, const char* key) {
    const platform::Value* v = entry(d, key);
    if (v && v->string())
        return *v->string();
    return std::nullopt;
}

} // namespace

// ---- Process-wide values ----

VellumTrackingState& trackingState() {
    static VellumTrackingState state;
    return state;
}

void resetTrackingState() {
    trackingState() = VellumTrackingState{};
}

// ---- Shared instance ----

VellumAnalyticsManager::VellumAnalyticsManager() {
    trackingState().runID = 0;
}

// Timers and observations hold the manager weakly, so they need no cleanup here; the
// destructor may run at process exit, after the run loop and the application are gone.
VellumAnalyticsManager::~VellumAnalyticsManager() {
    if (internalLocationManager_) {
        internalLocationManager_->stopUpdatingLocation();
        internalLocationManager_->setDelegate(locationManagerDelegate_);
    }
}

std::shared_ptr<VellumAnalyticsManager> VellumAnalyticsManager::sharedInstance() {
    auto& slot = sharedSlot();
    if (!slot) {
        slot.reset(new VellumAnalyticsManager());
        // The ad event model and the SQLite base log and find their folder through us.
        AnalyticsSeam seam;
        seam.logInternal = [](std::string_view message) {
            if (auto m = sharedSlot(); m && m->logInternalEnabled())
                m->log("%.*s", static_cast<int>(message.size()), message.data());
        };
        seam.log = [](std::string_view message) {
            if (auto m = sharedSlot())
                m->log("%.*s", static_cast<int>(message.size()), message.data());
        };
        seam.libraryDirectory = [] { return std::filesystem::path(libraryDirectory()); };
        setAnalyticsSeam(std::move(seam));
    }
    return slot;
}

void VellumAnalyticsManager::resetForTesting() {
    auto& slot = sharedSlot();
    if (slot) {
        slot->stopAllTimers();
        slot->removeAllObservations();
        if (slot->versionAlert_ && slot->versionAlert_->isVisible())
            slot->versionAlert_->dismissWithClickedButtonIndex(0, false);
    }
    slot.reset();
    setAnalyticsSeam({});
    resetTrackingState();
}

void VellumAnalyticsManager::stopAllTimers() {
    for (auto* timer : {&broadcastTimer_, &connStatusTimer_, &startUploadTimer_})
        if (*timer)
            (*timer)->invalidate();
    broadcastTimerScheduled_ = false;
    platform::RunLoop::main().cancelPerforms(this);
}

void VellumAnalyticsManager::removeAllObservations() {
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const auto& token : notificationTokens_)
        center.removeObserver(token);
    notificationTokens_.clear();
    auto& application = platform::Application::shared();
    for (auto token : appObserverTokens_)
        application.removeObserver(token);
    appObserverTokens_.clear();
}

// ---- Start-up ----

void VellumAnalyticsManager::initializeWithAppID(const std::optional<std::string>& appID,
                                                 const std::optional<std::string>& appVersion,
                                                 std::shared_ptr<platform::LocationManager> locationManager,
                                                 bool locationTracking) {
    if (appID)
        setAppID(appID);
    if (appVersion)
        setAppVersion(appVersion);
    if (locationManager)
        _startTrackingWithLocationManager(std::move(locationManager));
    else
        _startTracking(locationTracking);
}

void VellumAnalyticsManager::initialize(bool locationTracking) {
    _startTracking(locationTracking);
}

void VellumAnalyticsManager::_startTracking(bool locationTracking) {
    _startTrackingWithLocationManager(locationTracking ? platform::LocationManager::create() : nullptr);
}

void VellumAnalyticsManager::_startTrackingWithLocationManager(
    std::shared_ptr<platform::LocationManager> locationManager) {
    if (isShutdownWithErrorMessage(kCannotStartMessage))
        return;
    auto id = appID();
    if (!id || platform::trim(*id).empty())
        return;
    auto& state = trackingState();
    state.locationTracking = locationManager != nullptr;
    const char* with = state.locationTracking ? "with" : "without";
    logDebugOrInternal("starting tracking (%s build %d) %s location", versionString().c_str(), buildNumber(),
                       with);
    _initializeTracking(locationManager);
    if (state.firstRun)
        logDebugOrInternal("first run of application on device");
    trackEvent(kMRRunStartEvent);
    observeAppNotifications();
    startConnStatusTimer();
    if (state.locationTracking)
        refreshLocation();
    std::weak_ptr<VellumAnalyticsManager> weak = weak_from_this();
    if (startUploadTimer_)
        startUploadTimer_->invalidate();
    startUploadTimer_ = platform::Timer::scheduled(kStartUploadDelay, false, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->attemptBroadcast();
    });
    logDebugOrInternal("finished tracking %s location start-up", with);
    platform::RunLoop::main().cancelPerforms(this, "displayVersionMessageIfAppropriate");
    platform::RunLoop::main().performAfter(
        kVersionAlertDelay,
        [weak] {
            if (auto self = weak.lock())
                self->displayVersionMessageIfAppropriate();
        },
        this, "displayVersionMessageIfAppropriate");
    tracking_ = true;
}

void VellumAnalyticsManager::_initializeTracking(
    const std::shared_ptr<platform::LocationManager>& locationManager) {
    auto& state = trackingState();
    state.runID = static_cast<std::uint32_t>(std::floor(std::max(0.0, nowSinceReference())));
    state.firstRun = !VellumTrackedEventDatabase::databaseExists();
    if (state.firstRun || !defaults().objectForKey(kFirstLaunchDateKey))
        storeNow(kFirstLaunchDateKey);
    state.lastTermDate = storedDate(kLastTermDateKey);
    state.firstLaunchDate = storedDate(kFirstLaunchDateKey);
    incrementRunCount();
    auto interval = defaults().objectForKey(kBroadcastIntervalKey);
    broadcastInterval_ = interval && interval->isNumber() ? interval->doubleOr(kDefaultBroadcastInterval)
                                                          : kDefaultBroadcastInterval;
    if (auto bg = platform::Bundle::main().objectForInfoDictionaryKey(kBackGroundSessionIntervalKey)) {
        if (auto n = bg->number())
            state.backgroundSessionInterval = *n;
        else if (auto s = bg->string())
            state.backgroundSessionInterval = platform::doubleValue(*s);
    }
    connStatusRefreshInterval_ = kConnStatusRefreshInterval;
    updateConnStatus(); // so the run's first events record the real network status
    trackedEventDB_ = std::make_shared<VellumTrackedEventDatabase>();
    trackedEventDB_->clearRunForecasting();
    if (connStatusTimer_)
        connStatusTimer_->invalidate();
    std::weak_ptr<VellumAnalyticsManager> weak = weak_from_this();
    connStatusTimer_ = platform::Timer::create(connStatusRefreshInterval_, true, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->updateConnStatus();
    });
    if (locationManager) {
        if (internalLocationManager_ && internalLocationManager_ != locationManager)
            internalLocationManager_->setDelegate(locationManagerDelegate_);
        internalLocationManager_ = locationManager;
        auto previous = locationManager->delegate();
        if (previous.get() != static_cast<platform::LocationManagerDelegate*>(this))
            locationManagerDelegate_ = previous;
        locationManager->setDelegate(std::weak_ptr<platform::LocationManagerDelegate>(shared_from_this()));
        locationManager->setDesiredAccuracy(platform::kLocationAccuracyBest);
    }
}

void VellumAnalyticsManager::startConnStatusTimer() {
    if (connStatusTimer_ && connStatusTimer_->isValid())
        platform::RunLoop::current().add(connStatusTimer_);
}

void VellumAnalyticsManager::stopConnStatusTimer() {
    if (connStatusTimer_)
        connStatusTimer_->invalidate();
}

// ---- Application notifications ----

void VellumAnalyticsManager::observeAppNotifications() {
    auto& application = platform::Application::shared();
    for (auto token : appObserverTokens_)
        application.removeObserver(token); // a repeated start observes once, not twice
    appObserverTokens_.clear();
    std::vector<const char*> names{platform::kApplicationDidFinishLaunchingNotification,
                                   platform::kApplicationWillTerminateNotification};
    if (systemVersionFloat() >= kBackgroundSessionsSystemVersion) {
        names.push_back(platform::kApplicationDidEnterBackgroundNotification);
        names.push_back(platform::kApplicationWillEnterForegroundNotification);
    }
    std::weak_ptr<VellumAnalyticsManager> weak = weak_from_this();
    for (const char* name : names)
        appObserverTokens_.push_back(application.addObserver(name, [weak](const std::string& posted) {
            if (auto self = weak.lock())
                self->receivedAppNotification(posted, nullptr);
        }));
}

void VellumAnalyticsManager::receivedAppNotification(const std::string& name,
                                                     const platform::Dictionary* userInfo) {
    auto self = shared_from_this();
    auto& state = trackingState();
    logDebugOrInternal("start handling app notification: %s", name.c_str());
    std::optional<platform::Dictionary> dict;
    if (userInfo)
        dict = *userInfo;
    else if (auto d = eventKeyUserDict_.find(name); d != eventKeyUserDict_.end() && d->second.dictionary())
        dict = *d->second.dictionary();
    trackEventWithUserDict(name, dict);

    if (name == platform::kApplicationWillTerminateNotification) {
        updateEventsPendingLocation();
        attemptBroadcastExcludingCurrentRun(false, false);
        storeNow(kLastTermDateKey);
        shutDownImpressionDisplay();
    }
    if (systemVersionFloat() >= kBackgroundSessionsSystemVersion) {
        // Background stays are measured on the monotonic clock.
        const double now = platform::Clock::current().monotonic();
        if (name == platform::kApplicationDidEnterBackgroundNotification) {
            state.backgroundingTime = now;
            state.readyForRequest = false;
            updateEventsPendingLocation(); // the process may end in the background
        } else if (name == platform::kApplicationWillEnterForegroundNotification &&
                   now - state.backgroundSessionInterval > state.backgroundingTime) {
            incrementRunCount();
            if (trackedEventDB_)
                trackedEventDB_->deleteBroadcastEvents();
            updateEventsPendingLocation();
            attemptBroadcastExcludingCurrentRun(false, false);
            state.readyForRequest = true;
            storeNow(kLastTermDateKey);
        }
    }
    logInternal("finish handling app notification: %s", name.c_str());
}

// ---- Events ----

void VellumAnalyticsManager::trackEvent(std::string_view name) {
    trackEventWithEvent(VellumEvent(name), false);
}

void VellumAnalyticsManager::trackEvent(const VellumEvent& event) {
    trackEventWithEvent(event, false);
}

void VellumAnalyticsManager::trackUnexpectedEventObject(std::string_view typeName) {
    logDebugOrInternal("an unexpected event object type was passed to -trackEvent: %.*s",
                       static_cast<int>(typeName.size()), typeName.data());
}

void VellumAnalyticsManager::trackEventWithUserDict(std::string_view name,
                                                    const std::optional<platform::Dictionary>& userDict) {
    trackEventWithUserCount(name, 0, 0, userDict);
}

void VellumAnalyticsManager::trackEventWithUserCount(std::string_view name, int count, unsigned long duration,
                                                     const std::optional<platform::Dictionary>& userDict) {
    VellumEvent event(name);
    if (count != 0)
        event.setNumber(platform::Value(count), kUserCountKey);
    if (duration != 0)
        event.setDuration(static_cast<double>(duration), kUserDurationKey);
    if (userDict) {
        for (const auto& [key, value] : *userDict) {
            if (auto s = value.string())
                event.setString(*s, key);
            else if (value.isNumber())
                event.setNumber(value, key);
            else
                logDebugOrInternal("skipping object in dictionary that is not an NSString or an NSNumber: %s",
                                   key.c_str());
        }
    }
    trackEventWithEvent(event, false);
}

void VellumAnalyticsManager::observeNotifications(const std::optional<std::vector<std::string>>& names,
                                                  const void* sender) {
    auto& center = platform::NotificationCenter::defaultCenter();
    auto handler = [](VellumAnalyticsManager& self, const platform::Notification& n) {
        self.receivedNotification(n);
    };
    if (!names || names->empty()) {
        notificationTokens_.push_back(
            center.observe<VellumAnalyticsManager>(shared_from_this(), "", handler, sender));
        return;
    }
    for (const auto& name : *names)
        notificationTokens_.push_back(
            center.observe<VellumAnalyticsManager>(shared_from_this(), name, handler, sender));
}

void VellumAnalyticsManager::receivedNotification(const platform::Notification& notification) {
    logInternal("received notification: %s", notification.name.c_str());
    if (auto event = notification.objectAs<VellumEvent>()) {
        trackEventWithEvent(*event, true);
        return;
    }
    std::optional<platform::Dictionary> dict;
    if (!notification.userInfo.empty())
        dict = notification.userInfo;
    else if (auto d = eventKeyUserDict_.find(notification.name);
             d != eventKeyUserDict_.end() && d->second.dictionary())
        dict = *d->second.dictionary();
    trackEventWithUserDict(notification.name, dict);
}

void VellumAnalyticsManager::trackEventWithEvent(const VellumEvent& event, bool endOfRun) {
    auto& state = trackingState();
    if (isShutdown())
        return;
    if (state.runID == 0) {
        logDebugOrInternal("Error: trackEvent called with tracking off. Event discarded.");
        return;
    }
    auto tracked = std::make_shared<VellumTrackedEvent>();
    const double now = nowSinceReference();
    tracked->eventType = event.eventKey();
    tracked->runID = state.runID;
    tracked->timestamp = platform::Date{now + platform::kTimeIntervalSince1970To2001};
    tracked->connStatus = internetConnectionStatus();
    tracked->runDuration = static_cast<std::uint32_t>(std::max(0.0, std::floor(now - state.runID)));

    const auto& numbers = event.numbers();
    const auto& durations = event.durations();
    const auto& strings = event.strings();
    if (const auto* count = entry(numbers, kUserCountKey))
        tracked->userCount = platform::saturatingCast<int>(count->intOr(0));
    if (const auto* duration = entry(durations, kUserDurationKey))
        tracked->userDuration = platform::saturatingCast<std::uint32_t>(duration->intOr(0));

    const bool adViewed = event.eventKey() && *event.eventKey() == MRAdViewedKey;
    if (adViewed) {
        tracked->adID = stringEntry(strings, MRAdIDKey);
        const auto* exit = entry(numbers, MRAdExitKey);
        tracked->adExit = exit ? platform::saturatingCast<int>(exit->intOr(0)) : 0;
        const auto* viewed = entry(durations, MRAdViewDurationKey);
        tracked->userDuration = viewed ? platform::saturatingCast<std::uint32_t>(viewed->intOr(0)) : 0;
        // The impression dates from the ad's first display; without a start time it keeps now.
        if (const auto* start = entry(numbers, MRAdStartTimeKey); start && start->number())
            tracked->timestamp = platform::Date{*start->number() + platform::kTimeIntervalSince1970To2001};
        tracked->adVersion = stringEntry(strings, MRAdVersionKey);
        if (auto parent = stringEntry(strings, MRAdParentAdID))
            tracked->adParentAdID = parent;
        if (auto child = stringEntry(strings, MRAdChildAdID))
            tracked->adChildAdID = child;
        tracked->adIsAClone = entry(strings, kAdCloneAdIDKey) != nullptr;
        const std::string slot = stringEntry(strings, MRAdSlotKey).value_or(kNullText);
        const std::string ad = tracked->adID.value_or(kNullText);
        if (endOfRun && state.impressionDisplayed)
            logDebug("Impression: Slot:%s Ad:%s", slot.c_str(), ad.c_str());
        else
            state.sessionImpressions.push_back(platform::formatString("%s Ad:%s", slot.c_str(), ad.c_str()));
    }
    if (!strings.empty())
        tracked->stringValues = strings;
    if (!numbers.empty())
        tracked->numericValues = numbers;
    if (!durations.empty())
        tracked->durationValues = durations;
    if (!event.breadcrumbs().empty())
        tracked->breadcrumbs = event.breadcrumbs();

    if (state.locationTracking && !currentLocation_) {
        state.pendingEvents.push_back(tracked);
    } else {
        tracked->location = currentLocation_;
        insertTrackedEvent(tracked);
    }
    if (impresssionEventUpdate_ != 0 && adViewed)
        attemptInternalAdEventBroadcast();
}

void VellumAnalyticsManager::insertTrackedEvent(const std::shared_ptr<VellumTrackedEvent>& event) {
    if (!trackedEventDB_ || !trackedEventDB_->insertTrackedEventToQueue(*event))
        return;
    if (logInternalEnabled())
        logInternal("tracked event %s", event->loggingDescription().c_str());
}

void VellumAnalyticsManager::updateEventsPendingLocation() {
    auto& state = trackingState();
    if (state.pendingEvents.empty())
        return;
    updateConnStatus();
    const std::string status = internetConnectionStatus();
    auto pending = std::move(state.pendingEvents);
    state.pendingEvents.clear();
    for (auto& event : pending) {
        event->location = currentLocation_;
        event->connStatus = status;
        insertTrackedEvent(event);
    }
}

std::size_t VellumAnalyticsManager::pendingEventCount() const {
    return trackingState().pendingEvents.size();
}

const std::vector<std::string>& VellumAnalyticsManager::sessionImpressions() const {
    return trackingState().sessionImpressions;
}

void VellumAnalyticsManager::shutDownImpressionDisplay() {
    auto& state = trackingState();
    logDebugOrInternal("Session Impressions ==========================================================");
    for (const auto& line : state.sessionImpressions)
        logDebugOrInternal("Impression: Slot:%s", line.c_str());
    state.impressionDisplayed = true;
}

void VellumAnalyticsManager::incrementRunForecastingForAdSlot(std::string_view slot) {
    if (trackedEventDB_)
        trackedEventDB_->incrementRunForecastingForAdSlot(slot);
}

// ---- Uploads ----

void VellumAnalyticsManager::attemptBroadcast() {
    attemptBroadcastExcludingCurrentRun(true, false);
}

bool VellumAnalyticsManager::broadcastDebugEnabled() const {
    auto level = stringForKey(kBroadcastDebugLevelKey);
    return level && *level == kVellumAccessCode;
}

std::optional<platform::Date> VellumAnalyticsManager::lastBroadcastDate() const {
    return storedDate(kLastBroadcastDateKey);
}

bool VellumAnalyticsManager::isFirstRun() const {
    return trackingState().firstRun;
}
std::uint32_t VellumAnalyticsManager::runID() {
    return trackingState().runID;
}
int VellumAnalyticsManager::runCount() const {
    return trackingState().runCount;
}

void VellumAnalyticsManager::recordInventoryIfAny() {
    if (!trackedEventDB_)
        return;
    auto counts = trackedEventDB_->runForecastingData();
    if (!counts || counts->empty())
        return;
    trackEventWithUserDict(kMRInventoryTrackingForSession, *counts);
    trackedEventDB_->clearRunForecasting();
}

void VellumAnalyticsManager::attemptBroadcastExcludingCurrentRun(bool excludeCurrentRun, bool synchronously) {
    auto self = shared_from_this();
    if (isShutdown())
        return;
    logInternal("checking if a broadcast is possible / needed");
    updateConnStatus();
    if (internetConnectionStatusCode() == 0) {
        logDebugOrInternal("skipping broadcast - no connection to server");
        return;
    }
    const auto last = lastBroadcastDate();
    const double age = last ? nowSince1970() - last->secondsSince1970 : 0.0;
    if (!trackedEventDB_)
        return;
    auto events = trackedEventDB_->retrieveQueuedEventsExcludeCurrentRun(excludeCurrentRun);
    if (!events || events->empty()) {
        logDebugOrInternal("skipping broadcast of %d events - no events to send", 0);
        return;
    }
    const int count = static_cast<int>(events->size());
    if (!isFirstRun() && last && age <= broadcastInterval_ && !broadcastDebugEnabled()) {
        logDebugOrInternal("skipping broadcast of %d events - max queued event age < %.2f seconds", count,
                           broadcastInterval_);
        return;
    }
    if (isFirstRun())
        logDebugOrInternal("attempting first run broadcast of %d events", count);
    else if (last)
        logInternal("debugging - attempting broadcast of %d events", count);
    else
        logDebugOrInternal("never connected - attempting broadcast of %d events", count);
    if (auto counts = trackedEventDB_->runForecastingData(); counts && !counts->empty()) {
        recordInventoryIfAny();
        events = trackedEventDB_->retrieveQueuedEventsExcludeCurrentRun(excludeCurrentRun);
        if (!events)
            return;
    }
    if (synchronously)
        MRBroadcaster::sharedInstance()->sendEventsSynchronously(*events);
    else
        MRBroadcaster::sharedInstance()->sendEvents(*events);
}

void VellumAnalyticsManager::attemptInternalAdEventBroadcast() {
    auto self = shared_from_this();
    if (isShutdown())
        return;
    logInternal("checking if a broadcast is possible / needed");
    updateConnStatus();
    if (internetConnectionStatusCode() == 0) {
        logDebugOrInternal("skipping broadcast - no connection to server");
        return;
    }
    if (!trackedEventDB_)
        return;
    auto adEvents = trackedEventDB_->retrieveQueuedPartialAdEvents(true);
    if (!adEvents || adEvents->empty()) {
        logDebugOrInternal("skipping broadcast of %d events - no events to send", 0);
        return;
    }
    if (auto counts = trackedEventDB_->runForecastingData(); counts && !counts->empty()) {
        recordInventoryIfAny();
        adEvents = trackedEventDB_->retrieveQueuedPartialAdEvents(true);
        if (!adEvents)
            return;
    }
    auto regular = trackedEventDB_->retrieveQueuedPartialAdEvents(false);
    MRBroadcaster::sharedInstance()->sendPartialAdEvents(*adEvents, regular.value_or(TrackedEvents{}));
}

void VellumAnalyticsManager::setBroadcastInterval(double seconds) {
    broadcastInterval_ = seconds;
    setInt(static_cast<int>(seconds), kBroadcastIntervalKey);
    std::weak_ptr<VellumAnalyticsManager> weak = weak_from_this();
    auto timer = platform::Timer::create(seconds, true, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->attemptInternalAdEventBroadcastTimer();
    });
    const bool replaceRunning = broadcastTimer_ && broadcastTimer_->isValid();
    if (broadcastTimer_)
        broadcastTimer_->invalidate();
    broadcastTimer_ = timer;
    broadcastTimerScheduled_ = false;
    if (replaceRunning)
        startBroadcastTimer();
}

void VellumAnalyticsManager::startBroadcastTimer() {
    // After shut-down nothing uploads, whatever the ad server's settings say.
    if (isShutdown() || !broadcastTimer_ || !broadcastTimer_->isValid() || broadcastTimerScheduled_)
        return;
    platform::RunLoop::current().add(broadcastTimer_);
    broadcastTimerScheduled_ = true;
}

void VellumAnalyticsManager::updateInternalTimerEventUpdate(int seconds) {
    if (seconds > 0) {
        setBroadcastInterval(seconds);
        startBroadcastTimer();
    } else if (broadcastTimer_) {
        broadcastTimer_->invalidate();
        broadcastTimerScheduled_ = false;
    }
}

void VellumAnalyticsManager::updateInternalImpressionEventUpdate(int value) {
    impresssionEventUpdate_ = value;
}

void VellumAnalyticsManager::markEventsAsBroadcast(const std::vector<std::string>& eventIDs) {
    if (!eventIDs.empty() && trackedEventDB_)
        trackedEventDB_->updateEventsAsBroadcast(eventIDs);
}

void VellumAnalyticsManager::recordBroadcastSuccess() {
    storeNow(kLastBroadcastDateKey);
}

void VellumAnalyticsManager::setShutdown(bool shutdown) {
    setBool(shutdown, kShutdownKey);
    if (!shutdown)
        return;
    stopLocationTracking();
    stopAllTimers();
    removeAllObservations();
}

bool VellumAnalyticsManager::readyForRequest() {
    return trackingState().readyForRequest;
}
void VellumAnalyticsManager::resetReadyForRequest() {
    trackingState().readyForRequest = false;
}

// ---- Location ----

bool VellumAnalyticsManager::locationServicesEnabled() const {
    return platform::LocationManager::locationServicesEnabled();
}

bool VellumAnalyticsManager::locationTrackingEnabled() const {
    return trackingState().locationTracking;
}

void VellumAnalyticsManager::refreshLocation() {
    if (trackingState().locationTracking && internalLocationManager_ && locationServicesEnabled())
        internalLocationManager_->startUpdatingLocation();
}

void VellumAnalyticsManager::locationManagerDidUpdateToLocation(
    platform::LocationManager& manager, const platform::Location& newLocation,
    const std::optional<platform::Location>& oldLocation) {
    auto self = shared_from_this();
    const bool changed = !oldLocation || oldLocation->coordinate() != newLocation.coordinate() ||
                         oldLocation->altitude() != newLocation.altitude() ||
                         oldLocation->horizontalAccuracy() != newLocation.horizontalAccuracy();
    if (changed)
        logDebugOrInternal("got new location: %s", newLocation.description().c_str());
    currentLocation_ = newLocation;
    auto appDelegate = locationManagerDelegate_.lock();
    bool stop = true;
    if (auto query = std::dynamic_pointer_cast<VellumLocationUpdateQuery>(appDelegate))
        if (auto answer = query->locationManagerShouldStopUpdatingLocation(manager); answer && !*answer)
            stop = false;
    if (stop)
        manager.stopUpdatingLocation();
    updateEventsPendingLocation(); // the events that waited for this fix
    if (appDelegate)
        appDelegate->locationManagerDidUpdateToLocation(manager, newLocation, oldLocation);
}

void VellumAnalyticsManager::locationManagerDidFailWithError(platform::LocationManager& manager,
                                                             const platform::Error& error) {
    auto self = shared_from_this();
    auto keepManager = manager.shared_from_this();
    logDebugOrInternal("LocationManager did fail with error: %s", error.description().c_str());
    auto appDelegate = locationManagerDelegate_.lock();
    if (error.code == platform::kLocationErrorDenied)
        stopLocationTracking();
    else
        updateEventsPendingLocation(); // no fix is coming for them now
    if (appDelegate)
        appDelegate->locationManagerDidFailWithError(manager, error);
}

void VellumAnalyticsManager::stopLocationTracking() {
    trackingState().locationTracking = false;
    currentLocation_.reset();
    if (internalLocationManager_) {
        internalLocationManager_->stopUpdatingLocation();
        internalLocationManager_->setDelegate(locationManagerDelegate_);
        internalLocationManager_.reset();
    }
    logDebugOrInternal("location tracking disabled");
    updateEventsPendingLocation();
}

// ---- Version alert ----

void VellumAnalyticsManager::recordVersionMessage(const std::optional<std::string>& message,
                                                  const std::optional<std::string>& url) {
    if (message)
        defaults().setString(kVersionMsgKey, *message);
    else
        defaults().removeObjectForKey(kVersionMsgKey);
    if (url)
        defaults().setString(kVersionMsgURLKey, *url);
    defaults().synchronize();
}

std::optional<std::string> VellumAnalyticsManager::updateVersionString() const {
    return defaults().stringForKey(kVersionMsgKey);
}

std::optional<std::string> VellumAnalyticsManager::updateVersionURL() const {
    return defaults().stringForKey(kVersionMsgURLKey);
}

std::string VellumAnalyticsManager::updateVersionMessage() const {
    return platform::formatString(kVersionAlertMessage, updateVersionString().value_or("").c_str());
}

bool VellumAnalyticsManager::haveUpdateVersion() const {
    auto version = updateVersionString();
    return version && version != appVersion();
}

void VellumAnalyticsManager::displayVersionMessageIfAppropriate() {
    if (haveUpdateVersion())
        showUpdateVersionAlert();
}

void VellumAnalyticsManager::showUpdateVersionAlert() {
    auto name = platform::Bundle::main().objectForInfoDictionaryKey(kBundleNameKey);
    const std::string title =
        platform::formatString(kVersionAlertTitle, name ? name->stringOr("").c_str() : "");
    if (updateVersionURL())
        versionAlert_ = platform::AlertView::create(
            title, updateVersionMessage(), std::weak_ptr<platform::AlertViewDelegate>(shared_from_this()),
            std::string(kCancelTitle), {kOKTitle});
    else
        versionAlert_ =
            platform::AlertView::create(title, updateVersionMessage(), {}, std::string(kDismissTitle));
    versionAlert_->show();
}

void VellumAnalyticsManager::alertViewClickedButtonAtIndex(platform::AlertView&, int buttonIndex) {
    defaults().removeObjectForKey(kVersionMsgKey);
    if (buttonIndex > 0) {
        auto url = updateVersionURL();
        defaults().removeObjectForKey(kVersionMsgURLKey);
        if (url)
            platform::Application::shared().openURL(*url);
    }
    defaults().synchronize();
}

} // namespace vellum
