#pragma once
// MREmbeddedBrowserController: the in-application browser a rich-media ad sends the user to
// on a click-through. It shows one page full screen through the full-screen container, with a
// bottom toolbar of back, forward and close buttons. While it is up it keeps acting for the
// ad: every URL the page visits becomes a breadcrumb of the ad's event, links to outside
// destinations are counted and opened outside the application, and its pages can still reach
// the engine through the "mrbridge" scheme.
//
// Whoever opens it has begun ignoring interaction events; the browser ends that when its page
// shows (the first finished load or the 2-second fallback) and again when it closes, so every
// begin has its end.
//
// Ownership: one browser per process (sharedInstance(); resetForTesting() drops it). It holds
// the slot view and the ad's event while it is open. Main thread only; the 2-second reveal is
// a run-loop perform that showWebView and dismiss cancel; after dismiss a finished load
// changes nothing.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebView.h"
#include "vellum/richmedia/MRPageHost.h"

namespace vellum {

class MRWebViewContainer;
class VellumAdView;
class VellumEvent;

class MREmbeddedBrowserController : public platform::ViewController,
                                    public platform::WebViewDelegate,
                                    public platform::AlertViewDelegate,
                                    public MRPageHost {
public:
    static constexpr double kRevealDelay = 2.0;
    static constexpr double kRequestTimeout = 30.0;
    static constexpr double kSlideSeconds = 0.3;
    static constexpr const char* kLoadingText = "Loading...";
    static constexpr const char* kLoadFailedTitle = "Couldn't load web page";
    static constexpr const char* kClosedBreadcrumb = "MREmbeddedBrowserClosed";
    static constexpr const char* kFrameLoadInterrupted = "Frame load interrupted";
    static constexpr const char* kPlugInHandledLoad = "Plug-in handled load";

    static std::shared_ptr<MREmbeddedBrowserController> sharedInstance();
    static void resetForTesting();

    void showURL(const std::string& url, const std::optional<std::string>& adID,
                 const std::shared_ptr<VellumAdView>& adView, const std::shared_ptr<VellumEvent>& event) {
        showURL(url, adID, false, adView, event);
    }
    void showURL(const std::string& url, const std::optional<std::string>& adID, bool withLocation,
                 const std::shared_ptr<VellumAdView>& adView, const std::shared_ptr<VellumEvent>& event);
    static std::string urlString(const std::string& url, bool withLocation);
    void loadRequest();
    void dismiss();
    void dismissBrowserAnimated(bool animated);
    void goBack();
    void goForward();
    void updateNavigationButtons();
    void startProgressIndicator();
    void stopProgressIndicator();
    void showWebView();
    void viewGotTouch() { updateNavigationButtons(); }
    void appWillTerminate() { dismiss(); }

    // ---- Read-only state ----
    std::shared_ptr<MRWebViewContainer> webViewContainer() const { return webViewContainer_; }
    std::shared_ptr<platform::WebView> webView() const { return webView_; }
    std::shared_ptr<platform::ImageView> toolbarView() const { return toolbarView_; }
    std::shared_ptr<platform::Button> backButton() const { return backButton_; }
    std::shared_ptr<platform::Button> forwardButton() const { return forwardButton_; }
    std::shared_ptr<platform::Button> dismissButton() const { return dismissButton_; }
    std::shared_ptr<platform::Label> loadingMessage() const { return loadingMessage_; }
    bool isIndicatorAnimating() const { return activityInd_ && activityInd_->isAnimating(); }
    std::shared_ptr<platform::ActivityIndicatorView> activityInd() const { return activityInd_; }
    std::shared_ptr<VellumAdView> adView() const { return adView_; }
    std::shared_ptr<VellumAdView> getAdView() const { return adView_; }
    const std::string& currentURLString() const { return urlString_; }
    const std::optional<std::string>& adID() const { return adID_; }
    const std::optional<platform::Dictionary>& notifyDict() const { return notifyDict_; }
    std::optional<double> displayStartTime() const { return displayStartTime_; }
    bool firstPass() const { return firstPass_; }
    bool dismissed() const { return dismissed_; }
    bool redirectPass() const { return redirectPass_; }

    // ---- Page host: the ad's event; the rest goes to the slot's ad view controller ----
    std::shared_ptr<VellumEvent> event() const override { return event_; }
    std::shared_ptr<VellumAdViewController> adVC() const override;

    // ---- View, web view and alert callbacks ----
    void loadView() override;
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;
    void alertViewDidDismissWithButtonIndex(platform::AlertView&, int) override { dismiss(); }

private:
    MREmbeddedBrowserController() = default;
    std::shared_ptr<MREmbeddedBrowserController> self();
    void finishDismissal();
    void endIgnoring();
    // Loads `url` into `webView`. The URL was chosen by the ad's page (a click-through, a
    // fallback), so that page's local-file rule holds: a file: URL loads only from inside the
    // ad's folder, and from nowhere when the browser has no ad.
    void loadForAdPage(platform::WebView& webView, const platform::URL& url);

    std::shared_ptr<MRWebViewContainer> webViewContainer_;
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::ImageView> toolbarView_;
    std::shared_ptr<platform::Button> backButton_, forwardButton_, dismissButton_;
    std::shared_ptr<platform::ActivityIndicatorView> activityInd_;
    std::shared_ptr<platform::Label> loadingMessage_;
    std::shared_ptr<VellumAdView> adView_;
    std::shared_ptr<VellumEvent> event_;
    std::string urlString_;
    std::optional<std::string> adID_;
    std::optional<platform::Dictionary> notifyDict_;
    std::optional<double> displayStartTime_;
    bool lastURLLoadWasMRBridge_ = false;
    bool firstPass_ = true;
    bool dismissed_ = false;
    bool redirectPass_ = false;
    // Interaction events this browser still has to resume (begun by its opener, or by its
    // own dismissal).
    int ignoring_ = 0;
    std::shared_ptr<platform::AlertView> alert_;
    std::uint64_t terminateToken_ = 0;
};

} // namespace vellum
