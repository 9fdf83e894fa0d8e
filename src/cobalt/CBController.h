#pragma once
// The process-wide hub of the Cobalt engine: it owns every engine component (the store, the
// IO and DB worker threads, the client-script manager with its driver page, the ad manager,
// the registered ad views) and the engine settings that scripts read and write by name.
//
// Created on first use (sharedController), started once (startupWithAppID). The worker
// threads start at creation and run until shutdown(); nothing in the engine calls shutdown()
// itself: program exit and tests do (resetForTesting joins the threads).
//
// The ad views and the full-screen presentation plug in through CBAdViewBase and
// CBFullScreenSupport; until a full-screen support is installed, full-screen display is
// refused. Main thread only, except the store, whose handle has its own lock.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cobalt/CBAdEngine.h"
#include "platform/foundation/Value.h"

namespace platform {
class AccelerometerDelegate;
} // namespace platform

namespace cobalt {

class CBAdManager;
class CBAsyncCommandManager;
class CBClientManager;
class CBDatabase;

// Told when a slot has a downloaded ad (the ad views and the full-screen presentation).
class CBAdSlotListener {
public:
    virtual ~CBAdSlotListener() = default;
    virtual void adDownloadedForSlotNamed(const std::string& slotName) = 0;
};

// What the controller asks of a registered ad view.
class CBAdViewBase {
public:
    virtual ~CBAdViewBase() = default;
    virtual bool isAdReady() const = 0;
    virtual bool controlsFullScreenSlot() const = 0;
    virtual void fullScreenAdWindowDidClose() {}
    virtual void applicationWillEnterForeground() {}
};

// The full-screen presentation: its controller and window, as the controller uses them.
class CBFullScreenSupport : public CBAdSlotListener {
public:
    virtual void setDelegate(std::weak_ptr<CobaltDelegate> delegate, const std::string& slotName) = 0;
    virtual bool isDisplaying() const = 0;
    // The window's own displaying mark, checked and set under the window's lock.
    virtual bool markWindowDisplayingIfIdle() = 0;
    virtual bool displayAdForSlot(const std::shared_ptr<CBAdSlot>& slot) = 0;
    virtual void applicationDidEnterBackground() {}
    // The full-screen controller's own step (the window is told by CBController first).
    virtual void applicationWillEnterForeground() {}
};

class CBController : public std::enable_shared_from_this<CBController> {
public:
    static constexpr double kDefaultSdkAccelerometerUpdateInterval = 1000.0;
    static constexpr double kDefaultExitItemDisplayTime = 4.0;
    static constexpr double kDefaultMenuDisplayTime = 10.0;
    static constexpr const char* kIOThreadName = "CBIORequestManager thread";
    static constexpr const char* kDBThreadName = "CBDBQueryManager thread";

    static std::shared_ptr<CBController> sharedController();
    // The controller when it exists (no creation).
    static std::shared_ptr<CBController> existing();
    // The exec mode every bridge polls with: the controller's, 0 without one.
    static int currentExecMode();
    // Shuts the controller down (joining its threads) and forgets it.
    static void resetForTesting();
    // Installs how the full-screen presentation is made (by the display library).
    static void setFullScreenSupportFactory(std::function<std::shared_ptr<CBFullScreenSupport>()> factory);

    ~CBController();

    void startupWithAppID(const std::string& appID, const std::optional<std::string>& serverURL,
                          const std::vector<std::shared_ptr<CBAdSlotDescription>>& slots);
    // The ad bridge server used when the host names none: on the configured services.
    static std::string defaultServerURL();

    bool disabled() const { return disabled_; }
    void setDisabled(bool disabled) { disabled_ = disabled; }
    bool hasStartedUp() const { return hasStartedUp_; }
    std::string serverURL() const;
    void setServerURL(std::string url);
    std::string applicationID() const;
    void setApplicationID(std::string id);
    int execMode() const { return execMode_; }
    void setExecMode(int mode);
    double exitItemDisplayTime() const { return exitItemDisplayTime_; }
    double menuDisplayTime() const { return menuDisplayTime_; }
    double sdkAccelerometerUpdateInterval() const { return sdkAccelerometerUpdateInterval_; }
    void setSdkAccelerometerUpdateInterval(double seconds) { sdkAccelerometerUpdateInterval_ = seconds; }
    // Hands the shared accelerometer to `delegate` at the engine's update interval, keeping the
    // application's delegate and interval to give back; releaseAccelerometer gives them back
    // (only after a capture).
    void captureAccelerometer(std::weak_ptr<platform::AccelerometerDelegate> delegate);
    void releaseAccelerometer();
    const std::string& sbwPropName() const { return sbwPropName_; }
    void setSbwPropName(const std::string& name);

    const std::shared_ptr<CBDatabase>& database() const { return database_; }
    // Whether the engine has its store (not when a person's file named "CB" stands in the way).
    bool hasStore() const;
    // Before an ad is shown: when the store has gone (the person deleted its folder or file),
    // it is made again at once, the ads whose files went with it are forgotten, and the engine
    // carries on (storeWasReset). Answers whether the store was made again.
    bool checkStore();
    // After the store was made again: the client scripts are installed afresh from the server
    // (they were under the store folder) and the slots fetch new ads.
    void storeWasReset();
    const std::shared_ptr<CBAsyncCommandManager>& dbQueryManager() const { return dbQueryManager_; }
    const std::shared_ptr<CBAsyncCommandManager>& ioRequestManager() const { return ioRequestManager_; }
    const std::shared_ptr<CBAdManager>& adManager() const { return adManager_; }
    const std::shared_ptr<CBClientManager>& clientManager() const { return clientManager_; }
    // The installed client version ("0.0" for none).
    std::string installedClientVersion() const;

    void registerView(std::shared_ptr<CBAdViewBase> view, const std::string& slotName);
    std::shared_ptr<CBAdViewBase> viewForSlotNamed(const std::string& slotName) const;

    bool isNextAdDownloadedForSlotNamed(const std::string& name) const;
    bool isAdReadyForSlotNamed(const std::string& name) const;
    void setFullScreenDelegate(std::weak_ptr<CobaltDelegate> delegate, const std::string& slotName);
    bool displayFullScreenAdForSlotNamed(const std::string& name);
    void initializeFullScreenAdSupport();
    const std::shared_ptr<CBFullScreenSupport>& fullScreenSupport() const { return fullScreenSupport_; }
    void fullScreenAdWindowIsDisplaying(bool displaying);
    void fullScreenAdDisplayWillClose();

    // 0 when the server's host cannot be reached.
    int serverReachability();
    void setDriverPollingIntervalOverride(double seconds);

    // Script access by name, limited to the engine settings and scalar properties.
    std::optional<platform::Value> valueForKey(const std::string& key) const;
    bool setValueForKey(const std::string& key, const platform::Value& value);

    void applicationDidEnterBackground();
    void applicationWillEnterForeground();

    void shutdown();

private:
    CBController() = default;
    void create();

    bool disabled_ = false;
    bool hasStartedUp_ = false;
    mutable std::mutex propertiesLock_; // serverURL and applicationID are atomic properties
    std::string serverURL_;
    std::string applicationID_;
    int execMode_ = 0;
    std::shared_ptr<CBDatabase> database_;
    std::shared_ptr<CBAsyncCommandManager> dbQueryManager_;
    std::shared_ptr<CBAsyncCommandManager> ioRequestManager_;
    std::shared_ptr<CBAdManager> adManager_;
    std::shared_ptr<CBClientManager> clientManager_;
    std::shared_ptr<CBFullScreenSupport> fullScreenSupport_;
    std::map<std::string, std::shared_ptr<CBAdViewBase>> viewDict_;
    double sdkAccelerometerUpdateInterval_ = kDefaultSdkAccelerometerUpdateInterval;
    double exitItemDisplayTime_ = kDefaultExitItemDisplayTime;
    double menuDisplayTime_ = kDefaultMenuDisplayTime;
    std::string sbwPropName_;
    bool accelerometerCaptured_ = false;
    std::weak_ptr<platform::AccelerometerDelegate> appAccelerometerDelegate_;
    double appAccelerometerUpdateInterval_ = 0;
    mutable std::mutex controllerLock_;
    bool shutDown_ = false;
};

} // namespace cobalt
