#pragma once
// MRModalAdViewController: the expanded page of a rich-media ad. The sliding kind (every
// expandable type but 1) slides a screen-wide panel up from the bottom of the screen; the
// floating kind (type 1) opens a panel of the ad's expanded size next to the slot ad, turned
// to the interface orientation, and follows the slot while it moves (one class-wide 0.2 s
// timer). The ad view controller creates it and shows its view; this controller loads the
// expanded page (with the ad's macros filled in), animates it in and out, places the close
// control, and hands every navigation of its web view to the script bridge, whose delegate it
// is while expanded.
//
// Interaction events: the ad view controller begins ignoring them when it expands; this
// controller ends that when its page has shown, and its own begin at collapse ends when the
// collapse is done, so every begin has its end, also when the page fails (a failed expanded
// page collapses the expansion).
//
// Ownership: the ad view controller holds it as modalAdVC; it also holds itself from its view
// being loaded until its collapse has ended. The ad view controller, the old bridge delegate
// and the event are held weakly. Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"
#include "vellum/richmedia/MRPageHost.h"

namespace vellum {

class MRCachedAd;
class VellumAdView;
class VellumAdViewController;
struct VellumCachedCloseButton;

class MRModalAdViewController : public platform::ViewController,
                                public platform::WebViewDelegate,
                                public MRPageHost,
                                public MR_JSBridgeDelegate {
public:
    static constexpr double kSlideSeconds = 0.5;
    static constexpr double kNavigationBarHeight = 44;
    static constexpr double kMovementInterval = 0.2;
    static constexpr double kStatusBarInset = 20;
    static constexpr const char* kDefaultTitle = "Advertisement";
    static constexpr const char* kExpandAnimation = "expand";
    static constexpr const char* kCollapseAnimation = "collapse";

    static std::shared_ptr<MRModalAdViewController> create(const std::shared_ptr<VellumAdViewController>& adVC,
                                                           const std::shared_ptr<VellumEvent>& event);
    ~MRModalAdViewController() override;

    // ---- Expansion ----
    void displayAd();
    void dismissAd() override;
    void doneButtonAction() { dismissAd(); }
    void dismissAdFromButton() { dismissAd(); }
    void animationDidStop(const std::string& animationID);
    void willDisplayEmbeddedBrowser();
    void willDismissEmbeddedBrowser();
    void orientationDidChange();
    void updatePositionExpandableType1();
    static void startExpandableMovementTimer();
    static void stopExpandableMovementTimer();
    static void testExpandableMovement();
    static bool movementTimerRunning();
    // Places the named custom close button in `view` around `expandedFrame`.
    void placeCustomCloseButtonInView(platform::View& view, const std::string& name, bool rotated,
                                      const platform::Rect& expandedFrame);
    // A custom close button's frame around `expandedFrame` for the corner placement `corner`,
    // one function per interface orientation; a placement outside 0 to 3 gives an empty frame.
    static platform::Rect verticalPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& button, int corner,
                                                                 const platform::Rect& expandedFrame);
    static platform::Rect upsideDownPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& button, int corner,
                                                                   const platform::Rect& expandedFrame);
    static platform::Rect horizonalLeftPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& button,
                                                                      int corner, const platform::Rect& expandedFrame);
    static platform::Rect horizonalRightPlaceCustomCloseButtonInCorner(const VellumCachedCloseButton& button,
                                                                       int corner, const platform::Rect& expandedFrame);
    // The frame of a custom close button for an interface orientation (1 to 4; others as 1).
    static platform::Rect closeButtonFrame(const VellumCachedCloseButton& button, int orientation,
                                           const platform::Rect& expandedFrame);
    // The floating panel's frame for the slot rectangle, before it is kept on screen.
    static platform::Rect floatingPanelFrame(const MRCachedAd& ad, int orientation, const platform::Rect& slot);
    // `panel` moved into the visible screen.
    static platform::Rect keptOnScreen(platform::Rect panel, int orientation, bool statusBarVisible,
                                       const platform::Rect& screen);

    // ---- State ----
    std::shared_ptr<platform::WebView> webView() const { return webView_; }
    std::shared_ptr<platform::View> transformView() const { return transformView_; }
    std::shared_ptr<platform::View> navigationBar() const { return navBar_; }
    std::shared_ptr<platform::Button> closeButton() const { return closeButton_; }
    std::shared_ptr<platform::Button> hiddenButton() const { return hiddenButton_; }
    platform::Rect frame() const { return frame_; }
    int expandableType() const { return expandableType_; }
    bool appStatusBarWasHidden() const { return appStatusBarWasHidden_; }
    const std::optional<std::string>& pagePath() const { return pagePath_; }

    // ---- Page host and bridge delegate ----
    std::shared_ptr<VellumEvent> event() const override { return event_.lock(); }
    std::shared_ptr<VellumAdViewController> adVC() const override { return adVC_.lock(); }
    // The expanded page's commands act on this controller.
    std::shared_ptr<MR_JSBridgeDelegate> bridgeDelegate() override { return self(); }
    std::string strRequest() const override { return strRequest_; }
    void setStrRequest(const std::string& request) { strRequest_ = request; }
    void setTHEStrRequest(const std::string& request) override { strRequest_ = request; }
    const std::string& getStrRequest() const { return strRequest_; }
    void showClickThroughInMiniBrowser(const std::string& url) override;
    bool responds(std::string_view selector) const override { return selector == "dismissAd"; }

    // ---- View controller and web view ----
    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;

private:
    MRModalAdViewController() = default;
    std::shared_ptr<MRModalAdViewController> self();
    std::shared_ptr<VellumAdView> slotView() const;
    std::shared_ptr<MRCachedAd> ad() const override;
    void loadView1();
    void displayAd1();
    void setUpWebView(const MRCachedAd& ad);
    void placeCloseControl(const MRCachedAd& ad);
    void raiseCloseButtons();
    void finishCollapse();
    void beginIgnoring();
    void endIgnoring();
    double closeOffset(const MRCachedAd& ad) const;

    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::View> transformView_;
    std::weak_ptr<VellumAdViewController> adVC_;
    std::weak_ptr<MR_JSBridgeDelegate> oldBridgeDelegate_;
    std::weak_ptr<VellumEvent> event_;
    bool appStatusBarWasHidden_ = false;
    std::string strRequest_;
    platform::Rect frame_;
    int currentDeviceOrientation_ = 1;
    platform::Point offset_, baseOffset_;
    std::shared_ptr<platform::Button> closeButton_, hiddenButton_;
    std::shared_ptr<platform::View> navBar_;
    int expandableType_ = 0;
    std::optional<std::string> pagePath_;
    std::shared_ptr<MRModalAdViewController> selfRetain_;
    bool displayed_ = false;
    bool collapsing_ = false;
    // The slot view was told willExpand; only then is it told of the collapse, so a page that
    // never showed does not end a full screen it never began.
    bool expandAnnounced_ = false;
    int ignoring_ = 0;
    platform::NotificationCenter::ObserverToken orientationToken_;
};

} // namespace vellum
