#pragma once
// The application object: one per process (Application::shared()), standing in for the
// platform's. It owns the delegate for the run, drives the life cycle (launch, active,
// inactive, background, termination), keeps the icon badge, records opened and tested
// URLs, registers for remote notifications (the device token is 32 random bytes made once
// per device home and kept under its Library folder), keeps the status-bar settings, counts
// the nested begin/end of ignoring interaction events, lists windows and shown alerts, and
// dispatches events.
//
// Event dispatch goes through a process-wide hook (replaceEventDispatch): a replacement
// gets the previous dispatch back and is expected to call it, as a method replacement on
// the platform would. The default dispatch hands touch events to their window, unless
// interaction events are being ignored.
//
// Life-cycle changes are sent to the delegate and posted as named notifications, both to the
// application's own observers (addObserver) and on NotificationCenter::defaultCenter().
// Everything runs on the main thread; remote-notification registration answers on a later
// turn of the main run loop.
//
// Tests call resetForTesting() to start from a fresh application (the event dispatch hook,
// being process-wide, stays as installed).
#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Event.h"
#include "platform/ui/Forward.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Orientation.h"

namespace platform {

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };
enum class StatusBarStyle { Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };
enum class StatusBarAnimation { None = 0, Fade = 1, Slide = 2 };

// Remote-notification type bits: badge, sound and alert together are the mask 7.
struct RemoteNotificationType {
    static constexpr unsigned None = 0;
    static constexpr unsigned Badge = 1u << 0;
    static constexpr unsigned Sound = 1u << 1;
    static constexpr unsigned Alert = 1u << 2;
};

// Launch-option key under which a remote notification that started the application lies.
inline constexpr const char* kApplicationLaunchOptionsRemoteNotificationKey =
    "UIApplicationLaunchOptionsRemoteNotificationKey";

// Names posted to the application's observers.
inline constexpr const char* kApplicationDidFinishLaunchingNotification =
    "ApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification =
    "ApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification =
    "ApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification =
    "ApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "ApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "ApplicationWillTerminateNotification";
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "ApplicationDidReceiveMemoryWarningNotification";

// The file under the device home's Library folder that keeps the device token.
inline constexpr const char* kDeviceTokenFileName = "RemoteNotificationDeviceToken";
inline constexpr std::size_t kDeviceTokenLength = 32;

// The application delegate: every callback is optional and does nothing by default.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // Answers whether the launch went well (the answer is only logged when false).
    virtual bool applicationDidFinishLaunchingWithOptions(Application& application,
                                                          const Dictionary& launchOptions) {
        (void)application;
        (void)launchOptions;
        return true;
    }
    virtual void applicationDidBecomeActive(Application&) {}
    virtual void applicationWillResignActive(Application&) {}
    virtual void applicationDidEnterBackground(Application&) {}
    virtual void applicationWillEnterForeground(Application&) {}
    virtual void applicationWillTerminate(Application&) {}
    virtual void applicationDidReceiveMemoryWarning(Application&) {}
    virtual void applicationDidReceiveRemoteNotification(Application&, const Dictionary& payload) {
        (void)payload;
    }
    virtual void applicationDidRegisterForRemoteNotificationsWithDeviceToken(Application&,
                                                                             const Data& token) {
        (void)token;
    }
    virtual void applicationDidFailToRegisterForRemoteNotificationsWithError(Application&,
                                                                             const Error& error) {
        (void)error;
    }
};

class Application {
public:
    static Application& shared();
    static void resetForTesting();

    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // ---- Life cycle ----
    // Keeps `delegate` for the run, sends it did-finish-launching with `launchOptions`, then
    // becomes active. A second launch is refused (logged).
    void launch(std::shared_ptr<ApplicationDelegate> delegate, Dictionary launchOptions = {});
    bool isLaunched() const { return launched_; }
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
    ApplicationState applicationState() const { return state_; }
    // Transitions, each a no-op from a state it does not start from:
    // active → inactive, inactive → active, inactive → background, background → inactive.
    void resignActive();
    void becomeActive();
    void enterBackground(); // resigns active first when needed
    void enterForeground(); // then becomes active
    // Sends will-terminate once and stops run().
    void terminate();
    bool isTerminated() const { return terminated_; }
    void receiveMemoryWarning();
    // Runs the main run loop until terminate(); answers the exit status (0).
    int run();

    // ---- Badge ----
    int applicationIconBadgeNumber() const { return badge_; }
    void setApplicationIconBadgeNumber(int number) { badge_ = number; }

    // ---- URLs ----
    // Records the URL; answers whether an installed scheme handles it. Opening does not
    // move the application to the background here.
    bool openURL(std::string_view url);
    bool canOpenURL(std::string_view url);
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    const std::vector<std::string>& canOpenURLQueries() const { return canOpenQueries_; }
    // Schemes (lower case) of the applications installed on the device. By default the
    // browser, mail, telephone and text-message schemes.
    void setInstalledSchemes(std::set<std::string> schemes) { installedSchemes_ = std::move(schemes); }
    const std::set<std::string>& installedSchemes() const { return installedSchemes_; }

    // ---- Network activity indicator (the spinner in the status bar) ----
    bool isNetworkActivityIndicatorVisible() const { return networkActivityIndicatorVisible_; }
    void setNetworkActivityIndicatorVisible(bool visible) { networkActivityIndicatorVisible_ = visible; }

    // ---- Remote notifications ----
    // Registers for `types` (RemoteNotificationType bits). On a later turn the delegate gets
    // the persistent device token, or the failure. Types 0 unregisters.
    void registerForRemoteNotificationTypes(unsigned types);
    void unregisterForRemoteNotifications() { enabledTypes_ = RemoteNotificationType::None; }
    unsigned enabledRemoteNotificationTypes() const { return enabledTypes_; }
    // The device token of the current device home, created on first use; nullopt (with the
    // reason in `error`) when it can be neither read nor stored.
    static std::optional<Data> persistentDeviceToken(Error* error = nullptr);
    // Delivers a payload while the application runs (the runner's `push`, tests).
    void deliverRemoteNotification(const Dictionary& payload);
    // Makes the next registrations fail with `error` (nullopt restores success).
    void setRemoteNotificationFailureForTesting(std::optional<Error> error) {
        forcedFailure_ = std::move(error);
    }

    // ---- Status bar ----
    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden, StatusBarAnimation animation = StatusBarAnimation::None);
    void setStatusBarHidden(bool hidden, bool animated) {
        setStatusBarHidden(hidden, animated ? StatusBarAnimation::Fade : StatusBarAnimation::None);
    }
    StatusBarAnimation lastStatusBarAnimation() const { return lastStatusBarAnimation_; }
    StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(StatusBarStyle style, bool animated = false);
    InterfaceOrientation statusBarOrientation() const { return statusBarOrientation_; }
    void setStatusBarOrientation(InterfaceOrientation orientation, bool animated = false);
    // 20 points high across the top of the screen; empty while hidden.
    Rect statusBarFrame() const;

    // ---- Interaction ----
    // Nested: touches are dropped until every begin has had its end. An end without a
    // begin is logged and ignored.
    void beginIgnoringInteractionEvents();
    void endIgnoringInteractionEvents();
    bool isIgnoringInteractionEvents() const { return ignoringCount_ > 0; }

    // ---- Events ----
    using EventDispatch = std::function<void(Application&, const Event&)>;
    // Installs `dispatch` for the whole process and answers the one it replaces, which the
    // new one calls to pass the event on. An empty function restores the default.
    static EventDispatch replaceEventDispatch(EventDispatch dispatch);
    // Sends `event` through the current dispatch.
    void sendEvent(const Event& event);
    // The default dispatch: touches to their window, unless interaction is being ignored.
    void defaultSendEvent(const Event& event);
    // A touch that begins and ends at `point` (window coordinates) of `window` (the key
    // window when null), sent through sendEvent; answers the view that was hit (or null).
    std::shared_ptr<View> simulateTap(Point point, std::shared_ptr<Window> window = nullptr);
    // A touch that begins at `from`, moves to `to` and ends there.
    std::shared_ptr<View> simulateDrag(Point from, Point to, std::shared_ptr<Window> window = nullptr);

    // ---- Key-value coding ----
    // The application's properties read by name, for code that gets the name from data:
    // "keyWindow" and "statusBarWindow" (std::shared_ptr<Window>), "applicationIconBadgeNumber"
    // (Value integer), "statusBarHidden" and "networkActivityIndicatorVisible" (Value bool).
    // Any other key raises NamedException "NSUnknownKeyException".
    std::any valueForKey(std::string_view key);
    // The window behind the status bar: drawn over the top of the screen while the status
    // bar shows, so its alpha fades the bar. Made on first use; not listed among windows().
    std::shared_ptr<Window> statusBarWindow();

    // ---- Windows and alerts ----
    std::shared_ptr<Window> keyWindow() const { return keyWindow_.lock(); }
    // Visible windows, lowest level first.
    std::vector<std::shared_ptr<Window>> windows() const;
    std::vector<std::shared_ptr<AlertView>> visibleAlerts() const { return alerts_; }

    // ---- Observers of the application's notifications (also posted on the default centre) ----
    using ObserverToken = std::uint64_t;
    using Observer = std::function<void(const std::string& name)>;
    ObserverToken addObserver(std::string name, Observer observer);
    void removeObserver(ObserverToken token);
    void postNotification(const std::string& name);

    // For Window and AlertView.
    void windowBecameVisible(const std::shared_ptr<Window>& window);
    void windowBecameHidden(const Window* window);
    void setKeyWindow(const std::shared_ptr<Window>& window);
    void alertShown(const std::shared_ptr<AlertView>& alert);
    void alertDismissed(const AlertView* alert);

private:
    std::shared_ptr<ApplicationDelegate> delegate_;
    bool launched_ = false;
    bool terminated_ = false;
    ApplicationState state_ = ApplicationState::Inactive;
    int badge_ = 0;
    std::vector<std::string> openedURLs_;
    std::vector<std::string> canOpenQueries_;
    std::set<std::string> installedSchemes_;
    unsigned enabledTypes_ = RemoteNotificationType::None;
    std::optional<Error> forcedFailure_;
    bool statusBarHidden_ = false;
    StatusBarAnimation lastStatusBarAnimation_ = StatusBarAnimation::None;
    StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
    InterfaceOrientation statusBarOrientation_ = InterfaceOrientation::Portrait;
    int ignoringCount_ = 0;
    bool networkActivityIndicatorVisible_ = false;
    std::weak_ptr<Window> keyWindow_;
    std::shared_ptr<Window> statusBarWindow_;
    std::vector<std::weak_ptr<Window>> windows_;
    std::vector<std::shared_ptr<AlertView>> alerts_;
    std::multimap<std::string, std::pair<ObserverToken, Observer>, std::less<>> observers_;
    ObserverToken nextToken_ = 1;
    // Guards callbacks queued on the run loop against a reset application.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace platform
