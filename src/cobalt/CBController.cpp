#include "cobalt/CBController.h"

#include <cmath>
#include <filesystem>

#include "cobalt/CBAdManager.h"
#include "cobalt/CBAdView.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBAudioEngine.h"
#include "cobalt/CBClientManager.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBPaths.h"
#include "cobalt/CBReachability.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/Application.h"
#include "platform/runloop/RunLoop.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSbwSettingID = "sbw";
constexpr const char* kDefaultServerPath = "/cobalt/AdBridgeServer";

std::shared_ptr<CBController>& sharedSlot() {
    static std::shared_ptr<CBController> shared;
    return shared;
}

std::function<std::shared_ptr<CBFullScreenSupport>()>& fullScreenFactory() {
    static std::function<std::shared_ptr<CBFullScreenSupport>()> factory;
    return factory;
}

} // namespace

std::shared_ptr<CBController> CBController::sharedController() {
    auto& shared = sharedSlot();
    if (!shared) {
        shared.reset(new CBController());
        // Components made during creation reach the controller through existing().
        shared->create();
    }
    return shared;
}

std::shared_ptr<CBController> CBController::existing() { return sharedSlot(); }

int CBController::currentExecMode() {
    auto controller = existing();
    return controller ? controller->execMode() : 0;
}

void CBController::resetForTesting() {
    if (auto controller = sharedSlot()) {
        controller->shutdown();
        sharedSlot().reset();
    }
}

void CBController::setFullScreenSupportFactory(std::function<std::shared_ptr<CBFullScreenSupport>()> factory) {
    fullScreenFactory() = std::move(factory);
}

CBController::~CBController() { platform::NotificationCenter::defaultCenter().removeObserver(this); }

void CBController::create() {
    // A link or a file at the store folder's name is left alone: the store runs without it.
    platform::DeviceHome::makeOwnFolder(CBPaths::cbBaseDir());
    database_ = CBDatabase::create();
    database_->init();
    // The store may be made again from the DB thread (a write found it gone): the rest of the
    // engine catches up on the main thread.
    std::weak_ptr<CBController> weakSelf = weak_from_this();
    database_->setStoreResetHandler([weakSelf] {
        platform::performOnMain([weakSelf] {
            if (auto self = weakSelf.lock())
                self->storeWasReset();
        });
    });
    for (const auto& row : database_->sqlExecute("SELECT id,data from settings where id in(?,?)",
                                                 {kSettingDisabled, kSbwSettingID})) {
        if (row.size() < 2)
            continue;
        const std::string id = row.at(0)->stringOr("");
        const auto& data = *row.at(1);
        if (id == kSettingDisabled)
            disabled_ = data.string() ? std::atoi(data.string()->c_str()) != 0 : data.boolOr(false);
        else if (id == kSbwSettingID)
            sbwPropName_ = data.stringOr("");
    }
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<CBController> weak = weak_from_this();
    center.addObserver(
        platform::kApplicationDidEnterBackgroundNotification,
        [weak](const platform::Notification&) {
            if (auto self = weak.lock())
                self->applicationDidEnterBackground();
        },
        nullptr, this);
    center.addObserver(
        platform::kApplicationWillEnterForegroundNotification,
        [weak](const platform::Notification&) {
            if (auto self = weak.lock())
                self->applicationWillEnterForeground();
        },
        nullptr, this);
    ioRequestManager_ = std::make_shared<CBAsyncCommandManager>(CBAsyncCommandQueue::create(), kIOThreadName);
    dbQueryManager_ = std::make_shared<CBAsyncCommandManager>(CBAsyncCommandQueue::create(), kDBThreadName);
    database_->setQueryManager(dbQueryManager_);
    clientManager_ = CBClientManager::create();
}

std::string CBController::defaultServerURL() { return platform::servicesBaseURL() + kDefaultServerPath; }

void CBController::startupWithAppID(const std::string& appID, const std::optional<std::string>& serverURL,
                                    const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots) {
    if (hasStartedUp_)
        throw platform::NamedException(kNSInternalInconsistencyException,
                                       "Attempt to start up CBAdEngine after it has already been started.");
    setServerURL(serverURL.value_or(defaultServerURL()));
    setApplicationID(appID);
    adManager_ = CBAdManager::create(slots);
    clientManager_->startup();
    hasStartedUp_ = true;
}

std::string CBController::serverURL() const {
    std::lock_guard lock(propertiesLock_);
    return serverURL_;
}

void CBController::setServerURL(std::string url) {
    std::lock_guard lock(propertiesLock_);
    serverURL_ = std::move(url);
}

std::string CBController::applicationID() const {
    std::lock_guard lock(propertiesLock_);
    return applicationID_;
}

void CBController::setApplicationID(std::string id) {
    std::lock_guard lock(propertiesLock_);
    applicationID_ = std::move(id);
}

void CBController::setExecMode(int mode) {
    if (mode != execMode_)
        execMode_ = mode;
}

std::string CBController::installedClientVersion() const {
    return clientManager_ ? clientManager_->clientVersion() : CBClientManager::kNoClientVersion;
}

void CBController::captureAccelerometer(std::weak_ptr<platform::AccelerometerDelegate> delegate) {
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    auto wanted = delegate.lock();
    if (!wanted)
        return;
    if (accelerometer.delegate() != wanted) {
        if (!accelerometerCaptured_) {
            appAccelerometerDelegate_ = accelerometer.delegate();
            appAccelerometerUpdateInterval_ = accelerometer.updateInterval();
        }
        accelerometerCaptured_ = true;
    }
    accelerometer.setDelegate(std::move(delegate));
    accelerometer.setUpdateInterval(sdkAccelerometerUpdateInterval_);
}

void CBController::releaseAccelerometer() {
    if (!accelerometerCaptured_)
        return;
    accelerometerCaptured_ = false;
    auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
    accelerometer.setDelegate(appAccelerometerDelegate_);
    accelerometer.setUpdateInterval(appAccelerometerUpdateInterval_);
    appAccelerometerDelegate_.reset();
}

void CBController::setSbwPropName(const std::string& name) {
    if (name.empty()) {
        if (database_)
            database_->removeRecordID(kSbwSettingID, kSettingsTableName);
        return;
    }
    if (sbwPropName_.empty())
        sbwPropName_ = name;
    if (database_)
        database_->setRecordString(kSbwSettingID, kSettingsTableName, name);
}

bool CBController::hasStore() const { return database_ && database_->isOpen(); }

bool CBController::checkStore() {
    if (shutDown_ || !database_ || !database_->recoverIfGone())
        return false;
    // The rest follows on a later turn through the reset handler.
    if (adManager_)
        adManager_->forgetAdsWithoutFiles();
    return true;
}

void CBController::storeWasReset() {
    if (shutDown_)
        return;
    platform::logLine("CBAdEngine: the store was made again; installing the client afresh");
    if (clientManager_) {
        clientManager_->synchronizeWithFileSystem();
        if (hasStartedUp_)
            clientManager_->synchronizeWithServer();
    }
    if (adManager_)
        adManager_->storeWasReset();
}

void CBController::registerView(std::shared_ptr<CBAdViewBase> view, const std::string& slotName) {
    viewDict_[slotName] = std::move(view);
}

std::shared_ptr<CBAdViewBase> CBController::viewForSlotNamed(const std::string& slotName) const {
    auto it = viewDict_.find(slotName);
    return it == viewDict_.end() ? nullptr : it->second;
}

bool CBController::isNextAdDownloadedForSlotNamed(const std::string& name) const {
    return adManager_ && adManager_->isAdFetchedForSlotNamed(name);
}

bool CBController::isAdReadyForSlotNamed(const std::string& name) const {
    auto slot = adManager_ ? adManager_->slotForName(name) : nullptr;
    if (!slot) {
        platform::logLine("CBAdEngine: WARNING - call to isAdReadyForSlotNamed: for slot " + name +
                          " which is a slot that has not been registered with the CBAdEngine.");
        return false;
    }
    auto view = viewForSlotNamed(name);
    if (slot->slotDescription()->size() == kCBAdSizeFullScreen || !view)
        return adManager_->isAdFetchedForSlotNamed(name);
    return view->isAdReady();
}

void CBController::setFullScreenDelegate(std::weak_ptr<CobaltDelegate> delegate, const std::string& slotName) {
    auto slot = adManager_ ? adManager_->slotForName(slotName) : nullptr;
    if (!slot) {
        platform::logLine("CBAdEngine: WARNING - Unable to set full screen delegate for slot named " + slotName +
                          " because no slot with that name has been registered with the CBAdEngine.");
        return;
    }
    if (slot->slotDescription()->size() != kCBAdSizeFullScreen)
        throw platform::NamedException(kNSInternalInconsistencyException,
                                       "Attempt to register full screen delegate for slot not having full screen size.");
    if (fullScreenSupport_)
        fullScreenSupport_->setDelegate(std::move(delegate), slotName);
}

bool CBController::displayFullScreenAdForSlotNamed(const std::string& name) {
    if (serverReachability() == 0) {
        platform::logLine("CBAdEngine: Unable to display full screen ad due to no network connectivity.");
        return false;
    }
    auto slot = adManager_ ? adManager_->slotForName(name) : nullptr;
    if (!slot) {
        platform::logLine("CBAdEngine: WARNING - Unable to display full screen ad for slot named " + name +
                          " because no slot with that name has been registered with the CBAdEngine.");
        return false;
    }
    if (!adManager_->isAdFetchedForSlotNamed(name)) {
        platform::logLine("CBAdEngine: Unable to display full screen ad for slot named " + name +
                          " because no ad is ready to be displayed for that slot.");
        return false;
    }
    if (!fullScreenSupport_) {
        platform::logLine("CBAdEngine: Unable to display full screen ad for slot named " + name +
                          " because full-screen display is not available.");
        return false;
    }
    if (fullScreenSupport_->isDisplaying()) {
        platform::logLine("CBAdEngine: Attempt to display full-screen ad for slot named " + name +
                          " when a full-screen ad is already displaying. Ignoring ad display request.");
        return false;
    }
    if (!fullScreenSupport_->markWindowDisplayingIfIdle()) {
        platform::logLine("CBAdEngine: Attempt to display full-screen ad for slot named " + name +
                          " when another ad is already displaying.  Ignoring ad display request.");
        return false;
    }
    return fullScreenSupport_->displayAdForSlot(slot);
}

void CBController::initializeFullScreenAdSupport() {
    if (!fullScreenSupport_ && fullScreenFactory())
        fullScreenSupport_ = fullScreenFactory()();
}

void CBController::fullScreenAdWindowIsDisplaying(bool displaying) {
    std::lock_guard lock(controllerLock_);
    if (displaying)
        return;
    auto window = CBFullScreenAdWindow::existingWindow();
    const auto content = window ? window->contentController() : nullptr;
    for (const auto& [name, view] : viewDict_) {
        auto adView = std::dynamic_pointer_cast<CBAdView>(view);
        if (content && adView && adView->controller() == content)
            continue;
        if (!view->controlsFullScreenSlot())
            view->fullScreenAdWindowDidClose();
    }
}

void CBController::fullScreenAdDisplayWillClose() { CBAudioEngine::teardown(); }

int CBController::serverReachability() {
    auto& reachability = CBReachability::sharedReachability();
    if (auto url = platform::URL::parse(serverURL()))
        if (auto host = url->host())
            reachability.setHostName(*host);
    return reachability.internetConnectionStatus();
}

void CBController::setDriverPollingIntervalOverride(double seconds) {
    if (clientManager_ && clientManager_->clientDriver())
        clientManager_->clientDriver()->setBridgePollingIntervalOverride(seconds);
}

std::optional<platform::Value> CBController::valueForKey(const std::string& key) const {
    if (key == "disabled")
        return platform::Value(disabled_);
    if (key == "hasStartedUp")
        return platform::Value(hasStartedUp_);
    if (key == "execMode")
        return platform::Value(execMode_);
    if (key == "sbwPropName")
        return platform::Value(sbwPropName_);
    if (key == "menuDisplayTime")
        return platform::Value(menuDisplayTime_);
    if (key == "exitItemDisplayTime")
        return platform::Value(exitItemDisplayTime_);
    if (key == "sdkAccelerometerUpdateInterval")
        return platform::Value(sdkAccelerometerUpdateInterval_);
    if (key == "serverURL")
        return platform::Value(serverURL());
    if (key == "applicationID")
        return platform::Value(applicationID());
    platform::logLine("CBAdEngine: refused read of controller property " + key);
    return std::nullopt;
}

bool CBController::setValueForKey(const std::string& key, const platform::Value& value) {
    // Values arrive as texts or numbers; numbers must be finite.
    auto number = [&]() -> std::optional<double> {
        double d = 0;
        if (const auto* s = value.string())
            d = std::strtod(s->c_str(), nullptr);
        else if (auto n = value.number())
            d = *n;
        else
            return std::nullopt;
        if (!std::isfinite(d))
            return std::nullopt;
        return d;
    };
    const auto text = value.string() ? *value.string() : CBJSON::stringWithObject(value);
    if (key == "sbwPropName") {
        setSbwPropName(text);
        return true;
    }
    if (key == "serverURL" || key == "applicationID") {
        key == "serverURL" ? setServerURL(text) : setApplicationID(text);
        return true;
    }
    const auto n = number();
    // Every bridge polls with the execution mode: one other than background (0) or
    // foreground (1) would stop them all, so only those two are taken.
    const int mode = n ? platform::saturatingCast<int>(*n) : -1;
    if (n && key == "disabled")
        disabled_ = *n != 0;
    else if (key == "execMode" && (mode == CBJavascriptBridge::kBG || mode == CBJavascriptBridge::kFG))
        setExecMode(mode);
    else if (n && key == "menuDisplayTime")
        menuDisplayTime_ = *n;
    else if (n && key == "exitItemDisplayTime")
        exitItemDisplayTime_ = *n;
    else if (n && key == "sdkAccelerometerUpdateInterval")
        sdkAccelerometerUpdateInterval_ = *n;
    else {
        platform::logLine("CBAdEngine: refused write of controller property " + key);
        return false;
    }
    return true;
}

void CBController::applicationDidEnterBackground() {
    if (fullScreenSupport_)
        fullScreenSupport_->applicationDidEnterBackground();
}

void CBController::applicationWillEnterForeground() {
    // The window first: it decides whether it still shows an ad (a landing page, an expanded
    // banner or an interstitial), with or without a full-screen slot. Only when it does not
    // are the banners told, so that no banner's foreground step reaches into the window.
    auto window = CBFullScreenAdWindow::existingWindow();
    if (window)
        window->applicationWillEnterForeground();
    if (!window || !window->isDisplaying())
        for (const auto& [name, view] : viewDict_)
            view->applicationWillEnterForeground();
    if (fullScreenSupport_)
        fullScreenSupport_->applicationWillEnterForeground();
}

void CBController::shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    execMode_ = 1;
    if (adManager_)
        adManager_->shutdown();
    if (clientManager_)
        clientManager_->shutdown();
    if (ioRequestManager_)
        ioRequestManager_->shutdown();
    if (dbQueryManager_)
        dbQueryManager_->shutdown();
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

} // namespace cobalt
