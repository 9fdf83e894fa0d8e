#pragma once
// Full-screen presentation for the rich-media engine.
//
// MRFullscreenContainer owns a window of its own above the application's windows and a stack
// of pushed views, the top one visible; the mini browser shows itself through it. The first
// push makes the window key and visible ("MRFullscreenContainerDidEnterFullscreen"); popping
// the last view hides it and gives key status back to the window that had it
// ("MRFullscreenContainerDidExitFullscreen"). The root view can turn to an interface
// orientation, following the device when asked to.
//
// MRFullscreenWindow is that window; while a view is pushed it takes key status back 0.1 s
// after losing it.
//
// MRWebViewContainer holds one web view whose hit testing can be steered: points inside an
// ignored rectangle get the ordinary hit test, portal views (kept below the web view) get the
// points inside their frames first.
//
// Ownership: one container per process (sharedContainer(); resetForTesting() drops it), made
// on first use. Main thread only; the delayed key-status reclaim and the delayed pop of a
// dismissed modal controller are run-loop performs cancelled by resetForTesting().
#include <map>
#include <memory>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/WebView.h"

namespace vellum {

inline constexpr const char* MRFullscreenContainerDidEnterFullscreen = "MRFullscreenContainerDidEnterFullscreen";
inline constexpr const char* MRFullscreenContainerDidExitFullscreen = "MRFullscreenContainerDidExitFullscreen";

class MRFullscreenWindow : public platform::Window {
public:
    using platform::Window::Window;
    // Does not give up key status itself: tells the shared container, which takes it back.
    void resignKeyWindow() override;
};

class MRFullscreenContainer : public std::enable_shared_from_this<MRFullscreenContainer> {
public:
    static constexpr double kReclaimKeyDelay = 0.1;
    static constexpr double kOrientationAnimationDuration = 0.3;
    static constexpr double kModalPopDelay = 2.0;

    static std::shared_ptr<MRFullscreenContainer> sharedContainer();
    static void resetForTesting();
    ~MRFullscreenContainer();

    std::shared_ptr<MRFullscreenWindow> window() const { return window_; }
    std::shared_ptr<platform::View> rootView() const { return rootView_; }
    // Index 0 is the top.
    const std::vector<std::shared_ptr<platform::View>>& views() const { return views_; }

    void pushView(const std::shared_ptr<platform::View>& view);
    void popView(const platform::View* view);
    void popTopView();
    void presentModalViewController(const std::shared_ptr<platform::ViewController>& controller, bool animated);
    void dismissModalViewController(const std::shared_ptr<platform::ViewController>& controller, bool animated);

    int orientation() const { return orientation_; }
    void setOrientation(int orientation) { setOrientation(orientation, true); }
    void setOrientation(int orientation, bool animated);
    bool tracksDeviceOrientation() const { return tracksDeviceOrientation_; }
    void setTracksDeviceOrientation(bool tracks);
    void deviceOrientationDidChange();
    void windowDidResignKeyWindow();

private:
    MRFullscreenContainer() = default;
    void build();
    void post(const char* name);

    std::shared_ptr<MRFullscreenWindow> window_;
    std::shared_ptr<platform::View> rootView_;
    std::shared_ptr<platform::Window> formerKeyWindow_;
    std::vector<std::shared_ptr<platform::View>> views_;
    std::map<const platform::ViewController*, std::shared_ptr<platform::ViewController>> navigationControllers_;
    int orientation_ = 1;
    bool tracksDeviceOrientation_ = false;
    platform::NotificationCenter::ObserverToken orientationToken_;
};

class MRWebViewContainer : public platform::View {
public:
    explicit MRWebViewContainer(const platform::Rect& frame);
    static std::shared_ptr<MRWebViewContainer> create(const platform::Rect& frame);

    std::shared_ptr<platform::WebView> webView() const { return webView_; }
    void ignoreRect(const platform::Rect& rect) { ignoredRects_.push_back(rect); }
    void clearIgnoredRects() { ignoredRects_.clear(); }
    void addPortalView(const std::shared_ptr<platform::View>& view);
    std::vector<std::shared_ptr<platform::View>> portalViews() const { return portalViews_; }

    std::shared_ptr<platform::View> hitTest(platform::Point point, const platform::Event* event) override;
    void willRemoveSubview(platform::View* subview) override;

private:
    std::shared_ptr<platform::WebView> webView_;
    std::vector<std::shared_ptr<platform::View>> portalViews_;
    std::vector<platform::Rect> ignoredRects_;
};

} // namespace vellum
