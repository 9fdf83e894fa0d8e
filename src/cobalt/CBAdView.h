#pragma once
// One ad slot of the Cobalt engine on screen: the public view CBAdView that a host places in
// its layout, its controller CBAdViewInternal, and CBDisplayCommandHandler ("BridgeDisplay"),
// through which the slot's display script drives the controller.
//
// The controller owns the slot's web view and runs the downloaded display script in it behind
// a script bridge. It decides when the next downloaded ad may be shown (the display cycle:
// display -> content loaded -> drawn -> next fetch), turns taps into click-throughs and landing
// pages (shown in the full-screen window with a browser bar), fires the ad's impression
// trackers and reports to the host's CobaltDelegate. The full-screen slot is driven by the
// subclass CBFullScreenAdController (CBFullScreenAdController.h).
//
// Ownership: CBController keeps one registered CBAdView per slot for the life of the engine;
// the view owns its controller; the ad manager holds the controller as the slot's listener.
// The host's delegate is held weakly (a mediation adapter lets go of itself when it goes).
// The display handler holds its controller weakly. Delayed display requests and the exit
// item's timer hold the controller weakly; downloads started for trackers report to it while
// it lives. Main thread only; the display script is read on the IO thread and the tracker
// query runs on the DB thread, both answering on the main run loop.
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "cobalt/CBCommandHandler.h"
#include "cobalt/CBController.h"
#include "cobalt/CBDownloadConnection.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

namespace platform {
class ActivityIndicatorView;
class NavigationBar;
class NavigationItem;
class SegmentedControl;
class Timer;
} // namespace platform

namespace cobalt {

class CBAdViewInternal;
class CBJavascriptBridge;
class CBFullScreenAdWindow;

inline constexpr const char* kCBAdViewRetrievalFailure = "CBAdView retrieval failure.";
inline constexpr const char* kCBAdViewInternalInitializationError = "CBAdViewInternal initialization error.";

class CBAdView : public platform::View, public CBAdViewBase {
public:
    // The slot's registered view, now with `delegate` and the refresh interval, or a new one
    // registered with the controller. Throws "CBAdView retrieval failure." for a slot the
    // engine does not know, NSInvalidArgumentException for an interval under 5 s.
    static std::shared_ptr<CBAdView> adViewForSlotNamed(const std::string& name,
                                                        std::weak_ptr<CobaltDelegate> delegate,
                                                        double refreshInterval = 0);
    static std::shared_ptr<CBAdView> create(std::shared_ptr<CBAdSlot> slot, std::weak_ptr<CobaltDelegate> delegate,
                                            double refreshInterval);
    // 1 320x48, 2 the main screen, 3 300x250, 4 728x90, 5 160x600; NSInvalidArgumentException
    // for any other code.
    static platform::Size sizeForCBAdSize(int size);

    explicit CBAdView(const platform::Rect& frame) : View(frame) {}

    const std::shared_ptr<CBAdViewInternal>& controller() const { return m_adViewInternal; }
    void setDelegate(std::weak_ptr<CobaltDelegate> delegate);
    void setRefreshInterval(double seconds);
    // Answers whether a display of the next ad was started.
    bool refresh();

    // A drawn banner counts as displayed.
    void drawRect(const platform::Rect& rect) override;
    // A drawing asked for while the view was in no window (a mediation slot adds its ad view
    // only after the ad is reported ready) happens once it is in one.
    void didMoveToWindow() override;

    // CBAdViewBase
    bool isAdReady() const override;
    bool controlsFullScreenSlot() const override;
    void fullScreenAdWindowDidClose() override;
    void applicationWillEnterForeground() override;

private:
    std::shared_ptr<CBAdViewInternal> m_adViewInternal;
};

class CBAdViewInternal : public platform::WebViewDelegate,
                         public CBAdSlotListener,
                         public CBDownloadConnectionDelegate,
                         public platform::AccelerometerDelegate,
                         public std::enable_shared_from_this<CBAdViewInternal> {
public:
    static constexpr double kBrowserBarHeight = 32;
    static constexpr double kFadeDuration = 0.5;
    static constexpr double kRedisplayDelay = 3.0;
    static constexpr double kNavigationSegmentWidth = 40;
    // The navigation segments are pictures: they are known by these names.
    static constexpr std::string_view kBackSegmentLabel = "Back";
    static constexpr std::string_view kForwardSegmentLabel = "Forward";
    static constexpr const char* kTrackerSeparator = "$$CBURL$$";
    // The web host whose video pages open in the video template.
    static constexpr const char* kVideoWebHost = "video.platform.test";

    // Banner controllers; throws as CBAdView::adViewForSlotNamed, and
    // "CBAdViewInternal initialization error." when the ad manager refuses the listener.
    static std::shared_ptr<CBAdViewInternal> create(std::shared_ptr<CBAdSlot> slot,
                                                    std::weak_ptr<CobaltDelegate> delegate, double refreshInterval);
    ~CBAdViewInternal() override;

    const std::shared_ptr<platform::View>& view() const { return m_view; }
    virtual bool controlsFullScreenSlot() const { return false; }
    virtual bool isAdReady();
    virtual void setDelegate(std::weak_ptr<CobaltDelegate> delegate);
    // Forgets the delegate when it is `delegate` (an adapter going away).
    void releaseDelegate(const CobaltDelegate* delegate);
    virtual void setRefreshInterval(double seconds);
    double refreshInterval() const { return m_refreshInterval; }
    // Both answer whether a display of the next ad was started. A refresh first checks that the
    // engine's store is still there (the person may have deleted it).
    bool refresh();
    bool requestDisplay(bool applyRefreshInterval);
    bool display();

    // CBAdSlotListener
    void adDownloadedForSlotNamed(const std::string& slotName) override;
    virtual void adContentWillLoad() {}
    virtual void adContentDidLoad();
    void adDisplayed();
    // The script could not show the ad: the ad is dropped and another fetched; a banner shows
    // its previous ad again, the full-screen slot closes.
    virtual void adDisplayFailedForSlotNamed(const std::string& slotName);
    void adReadyDelayed(const std::string& slotName);
    void adViewNeedsDisplay();
    void trackImpression();
    // The tracker query's answer: each row's text holds Base64 addresses joined by "$$CBURL$$",
    // each fetched once.
    void fetchUrlsStashedInDB(const platform::Value& results);
    void fetchUrl(const std::string& url) { fetchUrl(url, 0, std::nullopt); }
    void fetchUrl(const std::string& url, double timeout, std::optional<std::string> callback);
    void requestPage(const platform::URL& url);
    void expand();
    void dismiss() { dismissAnimated(true); }
    void dismissAnimated(bool animated);
    void setExecMode(int mode);
    int execMode() const { return m_execMode; }
    void loadScriptAndExecute(const std::string& command);
    virtual void layout();
    // The outermost same-sized view around the controller's view; the fades out act on it.
    virtual std::shared_ptr<platform::View> containerView() const;
    // The view the last fade out acted on, while it lives; else the container view. The fade
    // in acts on it: by then the walk may end elsewhere (the ad view moved into a new
    // adapter's containers before they were placed, then placed in a host of the same size).
    std::shared_ptr<platform::View> fadedContainerView() const;
    virtual void applicationWillEnterForeground();
    void fullScreenAdWindowWillOpen() { notifyDelegateFullScreenAdDisplayWillOpen(); }
    void fullScreenAdWindowWillClose() { notifyDelegateFullScreenAdDisplayWillClose(); }
    void fullScreenAdWindowDidClose();
    void adViewWillExpand();
    void adViewDidCollapse();
    void prepareAdViewBrowserMode(bool on);
    void markAsLoading(bool loading);
    void enableNavigationControls();
    void disableNavigationControls();
    void showNavigationExitItem();
    void hideNavigationExitItem();
    void handleClickthroughToExternalAppURL(const platform::URL& url);
    void applicationDidLoadExternalAppURL();
    // Starts a click-through: marks the full-screen window displaying when it is idle and no
    // refresh runs, then sends `script` to the page; otherwise nothing.
    void requestClickthroughWithCallback(const std::string& script);
    // Sends the callback filled with the web view's bounds width and height.
    void getViewBoundsWithCallback(const std::string& callback);
    void captureAccelerometer(double updateInterval);
    void sendDriverCommand(const std::string& command);
    // The menu's action sheet; only the full-screen controller has one.
    virtual void prepareActionSheet() {}
    virtual void addButtonToActionSheet(const std::string&, const std::string&) {}
    virtual void displayActionSheet() {}
    // The full-screen controller's "Loading" box; a banner has none.
    virtual void hideAdLoadingIndicator() {}

    virtual bool notifyDelegateAdReadyForSlotNamed(const std::string& slotName);
    bool notifyDelegateFullScreenAdDisplayWillOpen();
    bool notifyDelegateFullScreenAdDisplayWillClose();
    bool notifyDelegateDidReceiveMemoryWarning();
    bool notifyDelegateAdDisplayFailed() { return true; }

    const std::shared_ptr<platform::WebView>& webView() const { return m_webView; }
    const std::shared_ptr<CBJavascriptBridge>& bridge() const { return m_bridge; }
    const std::shared_ptr<CBAdSlot>& slot() const { return m_slot; }
    bool isRefreshing() const { return m_isRefreshing; }
    bool shouldWipeContentOnDismiss() const { return m_shouldWipeContentOnDismiss; }
    bool isBrowserMode() const { return m_isBrowserMode; }
    bool isExpanded() const { return m_isExpanded; }
    bool isLoading() const { return m_isLoading; }
    bool hasDisplayedCurrentAd() const { return m_hasDisplayedCurrentAd; }
    double lastDisplayTime() const { return m_lastDisplayTime; }
    const std::shared_ptr<platform::NavigationBar>& navigationBar() const { return m_navigationBar; }
    const std::shared_ptr<platform::NavigationItem>& navigationItem() const { return m_navigationItem; }
    const std::shared_ptr<platform::SegmentedControl>& navigationControls() const { return m_navigationControls; }
    std::size_t pendingFetchCount() const { return m_fetches.size(); }

    // The file URL the display page is loaded with.
    static std::string baseURL();
    // The script text of a two-number callback: the first two floating-point conversions
    // ("%f", "%.2f", "%g", "%e", ...) filled in order, every other "%" left as it is.
    static std::string fillBoundsCallback(std::string_view callback, double width, double height);

    // WebViewDelegate (forwarded by the bridge)
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;
    // CBDownloadConnectionDelegate
    void downloadSucceeded(CBDownloadConnection& download) override;
    void downloadFailed(CBDownloadConnection& download) override;
    void downloadTimedOut(CBDownloadConnection& download) override;
    // AccelerometerDelegate
    void accelerometerDidAccelerate(platform::Accelerometer&, const platform::Acceleration& acceleration) override;

protected:
    CBAdViewInternal() = default;
    // The creation steps; `slot` null for the full-screen controller.
    void initWithSlot(std::shared_ptr<CBAdSlot> slot, std::weak_ptr<CobaltDelegate> delegate, double refreshInterval);
    void sendCommand(const std::string& script);
    bool slotIsFullScreen() const { return controlsFullScreenSlot(); }
    std::shared_ptr<CobaltDelegate> delegate() const { return m_delegate.lock(); }
    void finishDownload(CBDownloadConnection& download, bool succeeded);
    void showNavigationBar();
    void hideNavigationBar();
    void scheduleExitItem();

    std::shared_ptr<platform::View> m_view;
    std::shared_ptr<platform::NavigationBar> m_navigationBar;
    std::shared_ptr<platform::WebView> m_webView;
    std::shared_ptr<platform::SegmentedControl> m_navigationControls;
    std::shared_ptr<platform::NavigationItem> m_navigationItem;
    std::shared_ptr<platform::ActivityIndicatorView> m_navigationLoadingIndicator;
    int m_execMode = 0;
    std::shared_ptr<CBJavascriptBridge> m_bridge;
    std::vector<std::shared_ptr<CBCommandHandler>> m_handlers;
    bool m_isBrowserMode = false;
    bool m_isLoading = false;
    bool m_shouldWipeContentOnDismiss = false;
    std::shared_ptr<CBAdSlot> m_slot;
    std::weak_ptr<CobaltDelegate> m_delegate;
    const CobaltDelegate* m_delegateIdentity = nullptr; // for comparison only, never used
    bool m_isExpanded = false;
    double m_lastDisplayTime = 0;
    double m_refreshInterval = 0;
    bool m_isRefreshing = false;
    bool m_hasDisplayedCurrentAd = false;
    // The view faded to alpha 0 by the last display or return to the foreground, until it
    // is faded back in.
    std::weak_ptr<platform::View> m_fadedContainer;
    // The download time handed to the display script by the last display.
    std::int64_t m_displayingDlTime = 0;
    std::shared_ptr<platform::Timer> m_exitItemTimer;
    std::set<std::shared_ptr<CBDownloadConnection>> m_fetches;
    bool m_observingExternalApp = false;
};

// "BridgeDisplay": the display script's commands to its ad view's controller.
class CBDisplayCommandHandler : public CBCommandHandler {
public:
    static constexpr const char* kName = "BridgeDisplay";
    explicit CBDisplayCommandHandler(std::weak_ptr<CBAdViewInternal> adController);

private:
    std::shared_ptr<CBAdViewInternal> controller() const { return m_adController.lock(); }
    std::weak_ptr<CBAdViewInternal> m_adController;
};

} // namespace cobalt
