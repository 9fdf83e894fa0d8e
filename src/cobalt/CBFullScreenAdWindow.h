#pragma once
// The one window in which Cobalt ads go full screen: a banner expanding into a landing page or
// rich ad, and the full-screen slot's interstitial. Presenting lifts the controller's view out
// of the host's layout (a banner) or takes the full-screen controller's view, covers the host
// application's window with a slide-up, hides the status bar and follows the device
// orientation; dismissing puts everything back and clears the displaying mark (0.4 s later
// when animated).
//
// The displaying mark is tested and set under the window's lock, a recursive one, because the
// engine controller and the display handler test-and-set it from their own calls, and
// setting it may re-enter through the engine controller's notice. Every change is reported
// to CBController (fullScreenAdWindowIsDisplaying).
//
// Ownership: made on first use and kept for the process (shared(); resetForTesting drops
// it). Holds the content controller while it is shown, the host's window and the banner's old
// superview weakly. Animation stop callbacks hold the window weakly and do nothing after a
// forced (not animated) dismissal. Main thread only, apart from the lock.
#include <memory>
#include <mutex>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Window.h"

namespace cobalt {

class CBAdViewInternal;

class CBFullScreenAdWindow : public platform::Window {
public:
    static constexpr double kAnimationDuration = 0.8;
    static constexpr double kRotationDuration = 0.3;
    static constexpr double kStatusBarFadeDuration = 1.0;
    static constexpr double kDisplayingClearDelay = 0.4;
    static constexpr const char* kContentFadeOut = "CBFullSreenAdWindow_contentFadeOut";
    static constexpr const char* kExpand = "CBFullScreenAdWindow_expand";
    static constexpr const char* kWindowFadeOut = "CBFullScreenAdWindow_windowFadeOut";
    static constexpr const char* kContentFadeIn = "CBFullScreenAdWindow_contentFadeIn";

    static std::shared_ptr<CBFullScreenAdWindow> shared();
    // The window when it exists (no creation).
    static std::shared_ptr<CBFullScreenAdWindow> existingWindow();
    static void resetForTesting();

    CBFullScreenAdWindow();
    ~CBFullScreenAdWindow() override;

    void displayController(const std::shared_ptr<CBAdViewInternal>& controller);
    void dismissAnimated(bool animated);
    void dismiss() { dismissAnimated(true); }
    void collapseAnimated(bool animated);
    void collapse() { collapseAnimated(true); }
    void didDisappearAnimated(bool animated);
    void presentControllerAnimationDidStop(const std::string& animationID, bool finished);
    void dismissControllerAnimationDidStop(const std::string& animationID, bool finished);
    void layoutInterfaceWithAnimation(bool animated);
    void insertSubviewAtIndex(const std::shared_ptr<platform::View>& view, std::size_t index);
    void deviceOrientationDidChange();
    void beginListeningToDeviceOrientationNotifications();
    void stopListeningToDeviceOrientationNotifications();
    void hideStatusBarAnimated(bool animated);
    void restoreStatusBarAnimated(bool animated);
    void applicationWillEnterForeground();

    void setIsDisplaying(bool displaying);
    bool isDisplaying() const;
    // Marks the window displaying when it is not, and `alsoRequired` holds; whether it did.
    bool markDisplayingIfIdle(bool alsoRequired = true);
    std::recursive_mutex& displayLock() const { return m_lock; }

    const std::shared_ptr<CBAdViewInternal>& contentController() const { return m_contentController; }
    std::shared_ptr<platform::Window> appWindow() const { return m_appWindow.lock(); }
    bool wasForceDismissed() const { return m_wasForceDismissed; }
    bool prevStatusBarHidden() const { return m_prevStatusBarHidden; }

private:
    std::weak_ptr<CBFullScreenAdWindow> weakSelf();
    void openPresentation();
    bool contentIsBannerAd() const;
    bool contentIsBanner() const;
    // The application's object named by the engine's status-bar property, when it is a view.
    std::shared_ptr<platform::View> namedStatusBarWindow() const;

    std::weak_ptr<platform::Window> m_appWindow;
    std::weak_ptr<platform::View> m_prevSuperview;
    std::shared_ptr<CBAdViewInternal> m_contentController;
    bool m_isDisplaying = false;
    platform::AffineTransform m_prevTransform;
    bool m_prevStatusBarHidden = true;
    std::weak_ptr<platform::View> m_hostAppFrameViewToRestore;
    bool m_prevGeneratingDeviceOrientationNotifications = false;
    bool m_listeningToOrientation = false;
    bool m_wasForceDismissed = false;
    // From displayController until the window has slid up (or the content is dismissed): a
    // banner first fades out in its place, and only then does the window become key.
    bool m_isPresenting = false;
    mutable std::recursive_mutex m_lock;
    std::shared_ptr<platform::Timer> m_displayingTimer;
};

} // namespace cobalt
