#pragma once
// MROverlayView: the Meridian landing-page overlay. It holds a web view with the page an ad
// leads to (a request or HTML text) above the application's interface, in one of two types
// fixed at creation: kFullScreen (added to the key window with an animated transition, or
// shown as the view of an MROverlayViewController that the caller presents) and kModal (a
// panel of the ad's size that grows in with a bounce). It may show a 44-point title bar and
// a 44-point bottom bar (back, forward and, without a title bar, close), polls its page once
// a second ("shouldCloseOverlay()", "shouldEnableBottomBar()", "shouldShowBottomBar()"), and
// hands navigations that must leave the application (telephone, text message, store, maps
// and "mrbrowser" links) to its delegate instead of loading them.
//
// Notifications: every overlay hears "CloseMROverlay" (closes), "MRBottomBarToBeShown" and
// "MRBottomBarToBeEnabled" from any sender; a closing overlay posts "MROverlayWillClose"; a
// full-screen overlay that adds itself to a window posts "MRUpdateStatusBarVisibility" with
// the status bar's hidden state before it.
//
// Pairing: the appear callbacks are sent once per presentation and the disappear callbacks
// once per close; a close request (button, notification, page, load failure) reaching an
// overlay that is not showing does nothing, so every open has exactly one close.
//
// Ownership: made with create() and owned by its creator (the ad view); the delegate is held
// weakly. The polls and delayed work hold the overlay weakly, so they end with it. Main
// thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"

namespace meridian {

class MROverlayView;

// What the overlay tells its creator. Every callback is optional.
class MROverlayDelegate {
public:
    virtual ~MROverlayDelegate() = default;
    virtual void overlayWillAppear(MROverlayView&) {}
    virtual void overlayDidAppear(MROverlayView&) {}
    virtual void overlayWillDisappear(MROverlayView&) {}
    virtual void overlayDidDisappear(MROverlayView&) {}
    // A navigation that must leave the application; the overlay does not load it.
    virtual void overlayWantsToTerminateAppToOpenURL(MROverlayView&, const platform::URL&) {}
};

// The screen that shows a full-screen overlay when a view controller presents it. It turns
// to every orientation.
class MROverlayViewController : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) const override {
        return true;
    }
};

class MROverlayView : public platform::View,
                      public platform::WebViewDelegate,
                      public platform::AccelerometerDelegate {
public:
    static constexpr int kFullScreen = 1;
    static constexpr int kModal = 2;
    static constexpr double kBarHeight = 44;
    static constexpr double kFullScreenTransitionDuration = 0.5;
    static constexpr double kModalTransitionDuration = 0.3;
    static constexpr double kFadeOutDuration = 0.3;
    static constexpr double kPollInterval = 1.0;
    static constexpr int kNoContentErrorCode = 204;
    static constexpr std::string_view kDefaultHeaderTitle = "Advertisement";
    // Navigations containing this stay in the overlay, whatever their scheme or host.
    static constexpr std::string_view kClickPath = "/meridian/handleClick.php5";
    static constexpr std::string_view kMapsHost = "maps.example.com";
    static constexpr std::string_view kStoreHosts[] = {"store.example.com", "apps.example.com"};

    static std::shared_ptr<MROverlayView> create(int type, std::weak_ptr<MROverlayDelegate> delegate);
    ~MROverlayView() override;

    int type() const { return type_; }
    std::shared_ptr<MROverlayDelegate> delegate() const { return delegate_.lock(); }

    // Settings, given after creation and before the content.
    const std::optional<std::string>& transition() const { return transition_; }
    void setTransition(std::optional<std::string> name) { transition_ = std::move(name); }
    int overlayOrientation() const { return overlayOrientation_; }
    void setOverlayOrientation(int orientation) { overlayOrientation_ = orientation; }
    const platform::Size& overlaySize() const { return overlaySize_; }
    void setOverlaySize(const platform::Size& size) { overlaySize_ = size; }
    bool showTitlebar() const { return showTitlebar_; }
    void setShowTitlebar(bool show) { showTitlebar_ = show; }
    bool showBottomBar() const { return showBottomBar_; }
    void setShowBottomBar(bool show) { showBottomBar_ = show; }
    bool enableBottomBar() const { return enableBottomBar_; }
    void setEnableBottomBar(bool enable) { enableBottomBar_ = enable; }
    const std::optional<platform::Color>& titlebarColor() const { return titlebarColor_; }
    void setTitlebarColor(std::optional<platform::Color> color) { titlebarColor_ = std::move(color); }
    const std::string& headerTitle() const { return headerTitle_; }
    void setHeaderTitle(std::string title) { headerTitle_ = std::move(title); }
    bool makeOverlayTransparent() const { return makeOverlayTransparent_; }
    void setMakeOverlayTransparent(bool transparent);
    double transitionDuration() const { return transitionDuration_; }
    void setTransitionDuration(double seconds) { transitionDuration_ = seconds; }
    const platform::Size& modalSize() const { return modalSize_; }
    void setModalSize(const platform::Size& size) { modalSize_ = size; }
    const platform::Point& modalLocation() const { return modalLocation_; }
    void setModalLocation(const platform::Point& point) { modalLocation_ = point; }
    const std::optional<platform::Color>& modalBorderColor() const { return modalBorderColor_; }
    void setModalBorderColor(std::optional<platform::Color> color) { modalBorderColor_ = std::move(color); }
    double alphaForModalBorder() const { return alphaForModalBorder_; }
    void setAlphaForModalBorder(double alpha) { alphaForModalBorder_ = alpha; }
    bool notifyOpenDelegates() const { return notifyOpenDelegates_; }
    void setNotifyOpenDelegates(bool notify) { notifyOpenDelegates_ = notify; }
    bool notifyCloseDelegates() const { return notifyCloseDelegates_; }
    void setNotifyCloseDelegates(bool notify) { notifyCloseDelegates_ = notify; }
    bool shownFromVideo() const { return shownFromVideo_; }
    void setShownFromVideo(bool fromVideo) { shownFromVideo_ = fromVideo; }
    const platform::Rect& overlayFrame() const { return overlayFrame_; }
    void setOverlayFrame(const platform::Rect& frame) { overlayFrame_ = frame; }
    std::shared_ptr<platform::ViewController> parentViewController() const {
        return parentViewController_.lock();
    }
    void setParentViewController(std::weak_ptr<platform::ViewController> c) {
        parentViewController_ = std::move(c);
    }

    // Content: loads it, then presents the overlay by its type.
    void showWithRequest(const platform::URLRequest& request);
    void showWithHTML(const std::string& html);
    void showOverlayForType(int type);
    void showFullScreenOverlay();
    void showModalOverlay();
    void close() { closeWithAnimation(true); }
    void closeWithAnimation(bool animated);
    // Between the appear callbacks and the close.
    bool isShowing() const { return showing_; }
    // Accelerometer readings reach the page (when it asks for them) only with this set.
    bool isAccelerometerEnabled() const { return isAccelerometerEnabled_; }
    void setIsAccelerometerEnabled(bool enabled) { isAccelerometerEnabled_ = enabled; }
    // The page's wish for readings, asked once and remembered once it is YES.
    bool shouldAccelerate();
    void didAccelerate(double x, double y, double z);
    void accelerometerDidAccelerate(platform::Accelerometer&, const platform::Acceleration& a) override {
        didAccelerate(a.x, a.y, a.z);
    }

    // The spinner: turning from each navigation to the end of a load or the close.
    bool isSpinnerAnimating() const { return spinner_ && spinner_->isAnimating(); }
    const std::shared_ptr<platform::ActivityIndicatorView>& spinner() const { return spinner_; }
    void loadingDone();

    platform::ModalTransitionStyle transitionStyle() const;
    platform::AffineTransform transformForOrientation() const;
    void sizeToFitOrientation();
    void modalSizeToFitOrientation(bool applyTransform);
    // The panel's drawing (type 2 only): the rounded border, the title strip and the outline
    // of the page, in the current graphics context.
    void drawRect(const platform::Rect& rect) override;
    // Drawing helpers: a filled (rounded when `radius` > 0) rectangle, the rounded path, and
    // an outline of four 2-point lines. Colours are red, green, blue, alpha.
    static void drawRectFillRadius(const platform::Rect& rect, const std::optional<platform::Color>& fill, double radius);
    static void addRoundedRectToPath(platform::GraphicsContext& context, const platform::Rect& rect, double radius);
    static void strokeLines(const platform::Rect& rect, const platform::Color& stroke);
    const std::shared_ptr<platform::Label>& modalTitleLabel() const { return modalTitleLabel_; }

    // Bars.
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::shared_ptr<platform::Toolbar>& titleBar() const { return titleBar_; }
    const std::shared_ptr<platform::Toolbar>& bottomBar() const { return bottomBar_; }
    std::shared_ptr<platform::BarButtonItem> backItem() const { return backItem_.lock(); }
    std::shared_ptr<platform::BarButtonItem> forwardItem() const { return forwardItem_.lock(); }
    std::shared_ptr<platform::BarButtonItem> closeItem() const { return closeItem_.lock(); }
    const std::shared_ptr<platform::Button>& modalCloseButton() const { return modalCloseButton_; }
    void setBottomBarVisible(bool visible);
    void closeButtonClicked() { close(); }
    void back();
    void forward();
    static std::shared_ptr<platform::Image> imageWithBase64EncodedString(std::string_view text);

    // Page polls.
    void startCloseOverlayTimer();
    void stopCloseOverlayTimer() { stop(closePoll_); }
    void startEnableBottomBarTimer();
    void stopEnableBottomBarTimer() { stop(enablePoll_); }
    void startBottomBarTimer();
    void stopShowBottomBarTimer() { stop(showPoll_); }
    bool isClosePollRunning() const { return closePoll_ != nullptr; }
    bool isEnablePollRunning() const { return enablePoll_ != nullptr; }
    bool isShowPollRunning() const { return showPoll_ != nullptr; }

    // WebViewDelegate.
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) override;

private:
    MROverlayView(int type, std::weak_ptr<MROverlayDelegate> delegate);
    void setUp();
    std::shared_ptr<MROverlayView> self() { return std::static_pointer_cast<MROverlayView>(sharedView()); }
    std::shared_ptr<platform::Window> targetWindow() const;
    std::shared_ptr<platform::Toolbar> createTitlebar(const platform::Rect& frame);
    std::shared_ptr<platform::Toolbar> createBottombar(const platform::Rect& frame, bool showCloseButton,
                                                       bool enableCloseButton);
    void updateBottomBarItems(bool enabled);
    void bottomBarToBeShown(bool show);
    void bottomBarToBeEnabled(bool enable);
    void layOutModalContent();
    void bounce(int stage);
    std::shared_ptr<platform::Timer> startPoll(void (MROverlayView::*tick)());
    static void stop(std::shared_ptr<platform::Timer>& timer);
    void shouldCloseOverlayTick();
    void shouldEnableBottomBarTick();
    void shouldShowBottomBarTick();
    void leave(const platform::URL& url);

    int type_;
    std::weak_ptr<MROverlayDelegate> delegate_;
    std::optional<std::string> transition_;
    int overlayOrientation_ = 0;
    platform::Size overlaySize_{};
    bool showTitlebar_ = false;
    bool showBottomBar_ = false;
    bool enableBottomBar_ = false;
    std::optional<platform::Color> titlebarColor_;
    std::string headerTitle_;
    bool makeOverlayTransparent_ = false;
    double transitionDuration_ = kFullScreenTransitionDuration;
    platform::Size modalSize_{};
    platform::Point modalLocation_{};
    std::optional<platform::Color> modalBorderColor_;
    double alphaForModalBorder_ = 0.0;
    bool notifyOpenDelegates_ = true;
    bool notifyCloseDelegates_ = true;
    bool shownFromVideo_ = false;
    platform::Rect overlayFrame_{};
    std::weak_ptr<platform::ViewController> parentViewController_;

    bool startedOrientationNotifications_ = false;
    platform::InterfaceOrientation statusBarOrientation_ = platform::InterfaceOrientation::Portrait;
    bool showing_ = false;
    bool isAccelerometerEnabled_ = false;
    bool shouldAccelerate_ = false;
    double accelX_ = 0, accelY_ = 0, accelZ_ = 0;
    std::shared_ptr<platform::ActivityIndicatorView> spinner_;
    // Sizes the spinner to fit, centres it on the web view and starts it.
    void placeSpinner();
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::Toolbar> titleBar_;
    std::shared_ptr<platform::Toolbar> bottomBar_;
    std::weak_ptr<platform::BarButtonItem> backItem_, forwardItem_, closeItem_;
    std::shared_ptr<platform::Label> modalTitleLabel_;
    std::shared_ptr<platform::Button> modalCloseButton_;
    std::shared_ptr<platform::Timer> closePoll_, enablePoll_, showPoll_;
};

} // namespace meridian
