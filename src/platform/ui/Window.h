#pragma once
// A window: the root of a view tree on the screen. The application lists its windows
// (weakly: whoever creates a window owns it) and knows the key window, the one that takes
// touches and is drawn by the text renderer. A new window is hidden; makeKeyAndVisible
// shows it and makes it key.
//
// A root view controller's view fills the window; presented (modal) screens are added to
// the window above it. Touch events reach the window through Application::sendEvent and
// are delivered here: a touch that begins goes to the view found by hit testing, and its
// later phases go to that same view. Main thread only.
#include <memory>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

// Names posted through the application's observers.
inline constexpr const char* kWindowDidBecomeKeyNotification = "WindowDidBecomeKeyNotification";
inline constexpr const char* kWindowDidResignKeyNotification = "WindowDidResignKeyNotification";
// Posted by a window (the sender) when it is shown or hidden.
inline constexpr const char* kWindowDidBecomeVisibleNotification = "WindowDidBecomeVisibleNotification";
inline constexpr const char* kWindowDidBecomeHiddenNotification = "WindowDidBecomeHiddenNotification";

// Window levels, the platform's numbers.
inline constexpr double kWindowLevelNormal = 0;
inline constexpr double kWindowLevelAlert = 2000;
inline constexpr double kWindowLevelStatusBar = 1000;

class Window : public View {
public:
    explicit Window(const Rect& frame = {});
    ~Window() override;

    std::shared_ptr<Window> sharedWindow();

    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    // Told when the window gains or loses key status (after the application's key window
    // has changed, before the notification is posted). Subclasses override them to react.
    virtual void becomeKeyWindow() {}
    virtual void resignKeyWindow() {}
    // Shows or hides the window; a shown window is listed by the application. Posts
    // kWindowDidBecomeVisibleNotification or kWindowDidBecomeHiddenNotification when it changes.
    void setHidden(bool hidden) override;

    double windowLevel() const { return windowLevel_; }
    void setWindowLevel(double level) { windowLevel_ = level; }

    std::shared_ptr<ViewController> rootViewController() const { return rootViewController_; }
    // Installs `controller`'s view as the window's content, sized to the window; the old
    // root's view leaves the window. The controller gets its appearance calls when the
    // window is visible.
    void setRootViewController(const std::shared_ptr<ViewController>& controller);

    // Delivers a touch event (see the class comment). Used by the application's dispatch.
    void sendEvent(const Event& event);
    // Delivers the touches of `event` in the tree under `root` (a window, or an alert).
    static void deliverTouches(View& root, const Event& event);

    // Lays out every view of the tree that asked for it.
    void layoutTreeIfNeeded() { layoutIfNeeded(); }

private:
    std::shared_ptr<ViewController> rootViewController_;
    double windowLevel_ = kWindowLevelNormal;
};

} // namespace platform
