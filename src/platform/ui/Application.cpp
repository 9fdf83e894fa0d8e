#include "platform/ui/Application.h"

#include <algorithm>
#include <mutex>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/FileSupport.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

const char* const kDefaultInstalledSchemes[] = {"http", "https", "mailto", "tel", "sms"};
constexpr const char* kRemoteNotificationErrorDomain = "RemoteNotificationErrorDomain";
constexpr std::int64_t kRemoteNotificationTokenUnavailable = 1;

Application*& instanceSlot() {
    // Never destroyed at exit: views and callbacks may still reach it during shutdown.
    static Application* instance = nullptr;
    return instance;
}

Application::EventDispatch& dispatchSlot() {
    static auto* slot = new Application::EventDispatch();
    return *slot;
}

// Calls into the delegate or an observer: an exception is logged and goes no further.
template <typename F> void guarded(const char* what, F&& f) { callGuarded(std::string("Application: ") + what, f); }

// The scheme of a URL in lower case ("" when the text does not start with a valid one).
std::string schemeOf(std::string_view url) {
    auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    std::string_view scheme = url.substr(0, colon);
    auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isAlpha(scheme[0]))
        return {};
    for (char c : scheme)
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return {};
    return toLower(scheme);
}

} // namespace

Application& Application::shared() {
    Application*& slot = instanceSlot();
    if (!slot)
        slot = new Application();
    return *slot;
}

void Application::resetForTesting() {
    Application*& slot = instanceSlot();
    Application* old = slot;
    slot = new Application();
    delete old;
    Responder::resetFirstResponderForTesting();
    AnimationLog::resetForTesting();
    MailComposeViewController::setCanSendMailForTesting(true);
}

Application::Application() {
    for (const char* s : kDefaultInstalledSchemes)
        installedSchemes_.insert(s);
}

Application::~Application() {
    *alive_ = false;
}

// ---- Life cycle ----

void Application::launch(std::shared_ptr<ApplicationDelegate> delegate, Dictionary launchOptions) {
    if (launched_) {
        logLine("Application: launch called twice; ignored");
        return;
    }
    launched_ = true;
    delegate_ = std::move(delegate);
    state_ = ApplicationState::Inactive;
    if (delegate_) {
        bool ok = true;
        guarded("did-finish-launching",
                [&] { ok = delegate_->applicationDidFinishLaunchingWithOptions(*this, launchOptions); });
        if (!ok)
            logLine("Application: the delegate answered NO to did-finish-launching");
    }
    postNotification(kApplicationDidFinishLaunchingNotification);
    becomeActive();
}

void Application::resignActive() {
    if (state_ != ApplicationState::Active)
        return;
    if (delegate_)
        guarded("will-resign-active", [&] { delegate_->applicationWillResignActive(*this); });
    postNotification(kApplicationWillResignActiveNotification);
    state_ = ApplicationState::Inactive;
}

void Application::becomeActive() {
    if (state_ != ApplicationState::Inactive || terminated_)
        return;
    state_ = ApplicationState::Active;
    if (delegate_)
        guarded("did-become-active", [&] { delegate_->applicationDidBecomeActive(*this); });
    postNotification(kApplicationDidBecomeActiveNotification);
}

void Application::enterBackground() {
    resignActive();
    if (state_ != ApplicationState::Inactive)
        return;
    state_ = ApplicationState::Background;
    if (delegate_)
        guarded("did-enter-background", [&] { delegate_->applicationDidEnterBackground(*this); });
    postNotification(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
    if (state_ != ApplicationState::Background)
        return;
    if (delegate_)
        guarded("will-enter-foreground", [&] { delegate_->applicationWillEnterForeground(*this); });
    postNotification(kApplicationWillEnterForegroundNotification);
    state_ = ApplicationState::Inactive;
    becomeActive();
}

void Application::terminate() {
    if (terminated_)
        return;
    terminated_ = true;
    if (delegate_)
        guarded("will-terminate", [&] { delegate_->applicationWillTerminate(*this); });
    postNotification(kApplicationWillTerminateNotification);
    RunLoop::main().stop();
}

void Application::receiveMemoryWarning() {
    if (delegate_)
        guarded("memory-warning", [&] { delegate_->applicationDidReceiveMemoryWarning(*this); });
    postNotification(kApplicationDidReceiveMemoryWarningNotification);
}

int Application::run() {
    if (!terminated_)
        RunLoop::main().run();
    return 0;
}

// ---- URLs ----

bool Application::openURL(std::string_view url) {
    openedURLs_.emplace_back(url);
    std::string scheme = schemeOf(url);
    bool handled = !scheme.empty() && installedSchemes_.count(scheme) > 0;
    logLine("Application: open URL " + std::string(url) + (handled ? "" : " (no application handles it)"));
    return handled;
}

bool Application::canOpenURL(std::string_view url) {
    canOpenQueries_.emplace_back(url);
    std::string scheme = schemeOf(url);
    return !scheme.empty() && installedSchemes_.count(scheme) > 0;
}

// ---- Remote notifications ----

std::optional<Data> Application::persistentDeviceToken(Error* error) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto path = DeviceHome::library() / kDeviceTokenFileName;
    if (auto stored = detail::readSmallFile(path, kDeviceTokenLength);
        stored && stored->size() == kDeviceTokenLength)
        return Data(stored->begin(), stored->end());
    // Missing (or not a token): make one and keep it.
    std::string token = detail::randomBytes(kDeviceTokenLength);
    std::string reason;
    if (!detail::writeFileAtomically(path, token, &reason)) {
        if (error)
            *error = Error{kRemoteNotificationErrorDomain,
                           kRemoteNotificationTokenUnavailable,
                           "the device token cannot be stored: " + reason,
                           {}};
        return std::nullopt;
    }
    return Data(token.begin(), token.end());
}

void Application::registerForRemoteNotificationTypes(unsigned types) {
    enabledTypes_ = types;
    if (types == RemoteNotificationType::None)
        return;
    std::weak_ptr<bool> alive = alive_;
    RunLoop::main().perform([this, alive] {
        auto flag = alive.lock();
        if (!flag || !*flag || !delegate_)
            return;
        if (forcedFailure_) {
            Error e = *forcedFailure_;
            guarded("did-fail-to-register", [&] {
                delegate_->applicationDidFailToRegisterForRemoteNotificationsWithError(*this, e);
            });
            return;
        }
        Error error;
        auto token = persistentDeviceToken(&error);
        if (token)
            guarded("did-register", [&] {
                delegate_->applicationDidRegisterForRemoteNotificationsWithDeviceToken(*this, *token);
            });
        else
            guarded("did-fail-to-register", [&] {
                delegate_->applicationDidFailToRegisterForRemoteNotificationsWithError(*this, error);
            });
    });
}

void Application::deliverRemoteNotification(const Dictionary& payload) {
    if (!launched_ || terminated_) {
        logLine("Application: remote notification dropped: the application is not running");
        return;
    }
    if (delegate_)
        guarded("did-receive-remote-notification",
                [&] { delegate_->applicationDidReceiveRemoteNotification(*this, payload); });
}

// ---- Status bar ----

void Application::setStatusBarHidden(bool hidden, StatusBarAnimation animation) {
    statusBarHidden_ = hidden;
    lastStatusBarAnimation_ = animation;
}

void Application::setStatusBarStyle(StatusBarStyle style, bool animated) {
    (void)animated;
    statusBarStyle_ = style;
}

void Application::setStatusBarOrientation(InterfaceOrientation orientation, bool animated) {
    (void)animated;
    statusBarOrientation_ = orientation;
}

Rect Application::statusBarFrame() const {
    if (statusBarHidden_)
        return Rect();
    return Rect(0, 0, Screen::main().bounds().width(), kStatusBarHeight);
}

// ---- Key-value coding ----

std::shared_ptr<Window> Application::statusBarWindow() {
    if (!statusBarWindow_) {
        statusBarWindow_ = std::make_shared<Window>(Rect(0, 0, Screen::main().bounds().width(), kStatusBarHeight));
        statusBarWindow_->setWindowLevel(kWindowLevelStatusBar);
        statusBarWindow_->setBackgroundColor(Color::blackColor());
    }
    return statusBarWindow_;
}

std::any Application::valueForKey(std::string_view key) {
    if (key == "keyWindow")
        return keyWindow();
    if (key == "statusBarWindow")
        return statusBarWindow();
    if (key == "applicationIconBadgeNumber")
        return Value(std::int64_t(badge_));
    if (key == "statusBarHidden")
        return Value(statusBarHidden_);
    if (key == "networkActivityIndicatorVisible")
        return Value(networkActivityIndicatorVisible_);
    throw NamedException("NSUnknownKeyException",
                         "this class is not key value coding-compliant for the key " + std::string(key) + ".");
}

// ---- Interaction ----

void Application::beginIgnoringInteractionEvents() {
    ++ignoringCount_;
}

void Application::endIgnoringInteractionEvents() {
    if (ignoringCount_ == 0) {
        logLine("Application: endIgnoringInteractionEvents without a matching begin; ignored");
        return;
    }
    --ignoringCount_;
}

// ---- Events ----

Application::EventDispatch Application::replaceEventDispatch(EventDispatch dispatch) {
    EventDispatch& slot = dispatchSlot();
    EventDispatch previous = slot;
    if (!previous)
        previous = [](Application& app, const Event& event) { app.defaultSendEvent(event); };
    slot = std::move(dispatch);
    return previous;
}

void Application::sendEvent(const Event& event) {
    EventDispatch dispatch = dispatchSlot();
    if (dispatch)
        guarded("event dispatch", [&] { dispatch(*this, event); });
    else
        defaultSendEvent(event);
}

void Application::defaultSendEvent(const Event& event) {
    if (event.type() != Event::Type::Touches)
        return;
    if (isIgnoringInteractionEvents())
        return;
    if (!alerts_.empty()) {
        // An alert is modal: touches that begin go to the top alert, or nowhere.
        auto alert = alerts_.back();
        alert->layoutIfNeeded();
        Window::deliverTouches(*alert, event);
        return;
    }
    std::shared_ptr<Window> window;
    for (const auto& touch : event.allTouches())
        if ((window = touch->window()))
            break;
    if (!window)
        window = keyWindow();
    if (window)
        window->sendEvent(event);
}

std::shared_ptr<View> Application::simulateTap(Point point, std::shared_ptr<Window> window) {
    return simulateDrag(point, point, std::move(window));
}

std::shared_ptr<View> Application::simulateDrag(Point from, Point to, std::shared_ptr<Window> window) {
    if (!window)
        window = keyWindow();
    if (window)
        window->layoutIfNeeded();
    double now = Clock::current().monotonic();
    auto touch = std::make_shared<Touch>(window, from, now);
    sendEvent(Event(Event::Type::Touches, now, {touch}));
    if (!(from == to)) {
        touch->update(TouchPhase::Moved, to, now);
        sendEvent(Event(Event::Type::Touches, now, {touch}));
    }
    touch->update(TouchPhase::Ended, to, now);
    sendEvent(Event(Event::Type::Touches, now, {touch}));
    return touch->view();
}

// ---- Windows and alerts ----

std::vector<std::shared_ptr<Window>> Application::windows() const {
    std::vector<std::shared_ptr<Window>> out;
    for (const auto& w : windows_)
        if (auto window = w.lock(); window && !window->isHidden())
            out.push_back(window);
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a->windowLevel() < b->windowLevel(); });
    return out;
}

void Application::windowBecameVisible(const std::shared_ptr<Window>& window) {
    std::erase_if(windows_, [](const auto& w) { return w.expired(); });
    for (const auto& w : windows_)
        if (w.lock() == window)
            return;
    windows_.push_back(window);
}

void Application::windowBecameHidden(const Window* window) {
    std::erase_if(windows_, [&](const auto& w) {
        auto locked = w.lock();
        return !locked || locked.get() == window;
    });
    if (keyWindow_.lock().get() == window) {
        keyWindow_.reset();
        postNotification(kWindowDidResignKeyNotification);
    }
}

void Application::setKeyWindow(const std::shared_ptr<Window>& window) {
    auto old = keyWindow_.lock();
    if (old == window)
        return;
    keyWindow_ = window;
    if (old) {
        old->resignKeyWindow();
        postNotification(kWindowDidResignKeyNotification);
    }
    if (window) {
        window->becomeKeyWindow();
        postNotification(kWindowDidBecomeKeyNotification);
    }
}

void Application::alertShown(const std::shared_ptr<AlertView>& alert) {
    if (std::find(alerts_.begin(), alerts_.end(), alert) == alerts_.end())
        alerts_.push_back(alert);
}

void Application::alertDismissed(const AlertView* alert) {
    std::erase_if(alerts_, [&](const auto& a) { return a.get() == alert; });
}

// ---- Observers ----

Application::ObserverToken Application::addObserver(std::string name, Observer observer) {
    ObserverToken token = nextToken_++;
    observers_.emplace(std::move(name), std::make_pair(token, std::move(observer)));
    return token;
}

void Application::removeObserver(ObserverToken token) {
    for (auto it = observers_.begin(); it != observers_.end(); ++it) {
        if (it->second.first == token) {
            observers_.erase(it);
            return;
        }
    }
}

void Application::postNotification(const std::string& name) {
    // Observers may add or remove observers while being told: call a snapshot, skipping
    // any removed on the way.
    std::vector<std::pair<ObserverToken, Observer>> snapshot;
    auto range = observers_.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        snapshot.push_back(it->second);
    for (auto& [token, observer] : snapshot) {
        bool stillThere = false;
        auto now = observers_.equal_range(name);
        for (auto it = now.first; it != now.second; ++it)
            stillThere = stillThere || it->second.first == token;
        if (stillThere)
            guarded(name.c_str(), [&] { observer(name); });
    }
    // The same name goes out on the process-wide notification centre, for observers there.
    guarded(name.c_str(), [&] { NotificationCenter::defaultCenter().post(name); });
}

} // namespace platform
