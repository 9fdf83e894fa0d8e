#pragma once
// VellumAdViewController: the controller of one rich-media ad placed in a slot view. It owns
// the ad's event ("MRAdViewed") from load to unload and then hands it to the tracking library
// by posting "MRADAdViewedNotification" with the event as the notification's object. In
// between it decides when the ad is visible (one process-wide 0.2 s timer hit-tests every
// monitored ad against the latest touch event), records the impression and fires the ad's
// tracking pixels the first time the ad is seen, measures the view duration, performs
// click-throughs and dismisses the ad with the host's consent. An ad with a main file shows
// it in a web view whose navigations go through the script bridge, with this controller as
// the page host and bridge delegate.
//
// The same file owns the process-wide event hook: installed before main, it keeps the latest
// touch event for the visibility test and passes every event on to the dispatch it replaced.
// The touch-tracking registry (TouchTracking) records which observer watches which rectangle
// of which view.
//
// Ownership: made through platform::ClassTable under the selection's controller class names
// (registerClasses()), held by its slot view; the slot view link is weak. Main thread only.
// Timer and notification callbacks of a controller that is gone, or no longer monitored,
// are ignored.
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Event.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"
#include "vellum/richmedia/MRPageHost.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/VellumEvent.h"

namespace vellum {

class MRModalAdViewController;
class VellumAdView;

// Names of the controller's notifications (object: the controller unless said otherwise).
inline constexpr const char* AdVCDidLoad = "MRADDidLoad";
inline constexpr const char* AdVCDidUnload = "MRADDidUnload";
inline constexpr const char* AdVCDidAppear = "MRADDidAppear";
inline constexpr const char* AdVCDidDisappear = "MRADDidDisappear";
// User info {"MRAdEvent": the ad's VellumEvent}.
inline constexpr const char* AdVCAdViewedNotification = "MRADAdViewedNotification";
inline constexpr const char* AdVCAdClickedNotification = "MRADAdClickedNotification";
inline constexpr const char* AdVCWasTouched = "MRADWasTouched";
inline constexpr const char* AdVCDidTimeout = "MRADDidTimeout";

// The process-wide event hook.
class VellumEventHook {
public:
    // Installs the hook once (idempotent); done before main by a static initializer.
    static void install();
    static bool isInstalled();
    // The latest touch event the application dispatched (null before any).
    static std::shared_ptr<platform::Event> storedEvent();
    static void resetStoredEventForTesting();
};

// Registry of touch-tracking rectangles, by view.
class TouchTracking {
public:
    struct Entry {
        std::shared_ptr<void> object;
        platform::Rect rect;
    };
    static void tellObjectAboutTouchInRect(std::shared_ptr<void> observer, const platform::Rect& rect,
                                           const platform::View* view);
    static void ignoreTouchesInRect(const platform::Rect& rect, const platform::View* view);
    static void ignoreTouchesInView(const platform::View* view);
    static std::vector<Entry> entriesForView(const platform::View* view);
    static void resetForTesting();
};

class VellumAdViewController : public VellumAdViewControllerBase,
                               public platform::ViewController,
                               public platform::WebViewDelegate,
                               public MRPageHost,
                               public MR_JSBridgeDelegate {
public:
    static constexpr double kVisibilityInterval = 0.2;
    static constexpr double kTallViewHeight = 100;
    static constexpr double kTallViewTestPointRaise = 50;
    static constexpr double kTouchCaptureResumeDelay = 2.0;
    static constexpr const char* kAdVisibilityCheckDisabledKey = "MREnablePatch1";
    static constexpr const char* kDeviceIDPixelMacro = "[MR_DEVICEID]";
    static constexpr const char* kRandomPixelMacro = "[MR_RANDOM]";

    VellumAdViewController();
    ~VellumAdViewController() override;
    // Registers this class under its own name and the selection's controller names.
    static void registerClasses();
    static void unregisterClasses();
    static std::vector<std::string> prodNotifications() { return {AdVCAdViewedNotification}; }

    // ---- Used by the slot view ----
    void setAd(std::shared_ptr<MRCachedAd> ad) { ad_ = std::move(ad); }
    void setAdView(const std::shared_ptr<VellumAdView>& view);
    std::shared_ptr<VellumAdView> adView() const { return adView_.lock(); }
    void loadAdViewController();
    void unloadAdViewController();
    void viewDidDisappear(bool animated) override;
    void dismissAd() override;
    void showClickThroughInMiniBrowser(const std::string& url) override;
    std::shared_ptr<VellumEvent> event() const override { return event_; }
    void touchCaptureTrackingRectChangedFrom(const platform::Rect& oldBounds);
    bool loaded() const { return loaded_; }
    bool visible() const { return visible_; }
    bool firstView() const { return firstView_; }

    // ---- Used by the script bridge (page host and delegate) ----
    bool responds(std::string_view selector) const override;
    void dismissEmbeddedBrowser() override;
    void audioPlayBackDidStart() override;
    void audioPlayBackDidFinish() override;
    void expandAd() override;
    void expandAdExternal() override;
    std::shared_ptr<VellumAdViewController> adVC() const override;
    // The expanded-ad controller while one is installed for this ad, else this controller.
    std::shared_ptr<MR_JSBridgeDelegate> bridgeDelegate() override;
    // Installed by the expanded-ad controller while it shows; an empty pointer removes it.
    void setExpandedBridgeDelegate(std::weak_ptr<MR_JSBridgeDelegate> delegate) {
        expandedBridgeDelegate_ = std::move(delegate);
    }
    std::shared_ptr<MRCachedAd> ad() const override { return ad_; }
    std::string strRequest() const override { return strRequest_; }
    void setStrRequest(const std::string& request) { strRequest_ = request; }
    // Stored on the expanded-ad controller while there is one.
    void setTHEStrRequest(const std::string& request) override;
    void performClickThrough(const std::string& url) override;
    void performClickThrough() override;
    bool launchAnotherApp(const std::string& url, const std::optional<std::string>& parentID) override;
    bool downloadNewAdIntoBrowser(const std::string& adID, const std::optional<std::string>& parentID) override;
    void screenCapture(const std::string&) override {}
    // Plays a movie over the ad: a web URL, a file URL inside the ad's folder, or a file name of
    // the ad's folder; with a navigation bar whose Done button ends it.
    void createAndPlayVideo(const std::string& url) override;
    void moviePlayBackDidFinish();
    // The movie interstitial: plays the ad's main file as its movie.
    void playMovie();
    void doneButtonAction();
    std::shared_ptr<platform::MoviePlayerController> embeddedMoviePlayer() const { return embeddedMoviePlayer_; }
    std::shared_ptr<platform::View> navBar() const { return navBar_; }
    std::shared_ptr<platform::ActivityIndicatorView> activityInd() const { return activityInd_; }
    // The page's web view while the ad shows a page.
    std::shared_ptr<platform::WebView> webView() const { return webView_; }

    // ---- Expansion ----
    std::shared_ptr<MRModalAdViewController> modalAdVC() const { return modalAdVC_; }
    void setModalAdVC(std::shared_ptr<MRModalAdViewController> controller) { modalAdVC_ = std::move(controller); }
    platform::Rect baseFrame() const { return baseFrame_; }
    void setBaseFrame(const platform::Rect& frame) { baseFrame_ = frame; }
    int baseOrientation() const { return baseOrientation_; }
    void setBaseOrientation(int orientation) { baseOrientation_ = orientation; }
    platform::Rect originalAdFrame() const { return originalAdFrame_; }
    void expandModalAd();

    // ---- Visibility ----
    void monitorVisibility();
    void stopMonitoringVisibility();
    // The process-wide set of controllers whose visibility the 0.2 s timer tests.
    static void monitorAdVisibility(const std::shared_ptr<VellumAdViewController>& controller);
    static void stopMonitoringAdVisibility(const VellumAdViewController& controller);
    static std::vector<std::shared_ptr<VellumAdViewController>> monitoredAds();
    void firstTimeDisplayed();
    platform::Point visibilityTestPoint() const;
    static void testAdVisibility();
    static bool adVisibilityCheckDisabled();
    static std::size_t monitoredAdCount();
    static bool visibilityTimerRunning();
    static void resetForTesting();

    // ---- Touch capture ----
    void enableTouchCapture();
    void disableTouchCapture();
    void viewGotTouch();
    // What a touch on the ad does: the click-through.
    void performTouchAction() { performClickThrough(); }

    void appWillTerminate();
    void trackAdEvent();

    // ---- View controller and web view callbacks ----
    void loadView() override;
    void viewDidLoad() override;
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;

private:
    std::shared_ptr<VellumAdViewController> self();
    void post(const char* name, bool withEvent);
    void hideAd();
    bool expandGateOpen() const;
    void viewDidAppearInternal();
    void setExit(int code);
    void sendTrackingPixel(const std::string& text);
    static void startVisibilityTimer();
    static void stopVisibilityTimer();

    std::weak_ptr<VellumAdView> adView_;
    std::shared_ptr<MRCachedAd> ad_;
    std::optional<std::string> clickThroughURLString_;
    bool loaded_ = false;
    bool visible_ = false;
    bool firstView_ = false;
    bool appCapturesSwipe_ = true;
    std::shared_ptr<VellumEvent> event_;
    platform::Rect originalAdFrame_;
    std::shared_ptr<MRModalAdViewController> modalAdVC_;
    std::weak_ptr<MR_JSBridgeDelegate> expandedBridgeDelegate_;
    platform::Rect baseFrame_;
    int baseOrientation_ = 1;
    std::shared_ptr<platform::MoviePlayerController> embeddedMoviePlayer_;
    std::shared_ptr<platform::View> backGround_;
    std::shared_ptr<platform::View> navBar_;
    std::shared_ptr<platform::ActivityIndicatorView> activityInd_;
    platform::NotificationCenter::ObserverToken movieFinishToken_;
    std::string strRequest_;
    std::shared_ptr<platform::WebView> webView_;
    platform::Application::ObserverToken terminateToken_ = 0;
    std::vector<std::shared_ptr<platform::URLConnection>> pixelConnections_;
};

} // namespace vellum
