#pragma once
// The Orbis banner. OrbisAdView is the public face: the class factories (which validate the
// delegate under one lock and answer a banner that is already requesting its first ad), the
// SDK version, and a container mode for a view placed in an interface file, which creates one
// manager and forwards to it. OrbisAdManager, its subclass, does the work for one banner:
// 0.2 s after loadNewAd it updates its UserInfo, sends the ad request, loads the reply's
// markup into the spare one of its two web views, swaps the web views when the markup has
// loaded and tells the delegate (adReceivedNotification / adFailedNotification); a touch on
// the shown ad becomes a click whose answer leads to the landing page or another application.
//
// Ownership: whoever asked for the banner owns it (the mediation adapter, and the slot's view
// tree while it is shown); delayed performs and the load watchdog hold it until they run. The
// delegate is held weakly; setDelegate(nullptr) detaches the banner: no notice reaches anyone
// afterwards, the timers stop, the requests and the landing page forget it, and the shown ad
// stays on screen. Main thread only: connection, web view, timer and delayed callbacks all
// arrive on the main run loop, and none crosses it with an exception.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orbis/AdUnit.h"
#include "orbis/EmbededWebViewController.h"
#include "orbis/OrbisAdDelegate.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

namespace platform {
class NavigationController;
}

namespace orbis {

class APIRequest;
class ClickRequest;
class OrbisAdManager;
class UserInfo;

class OrbisAdView : public platform::View {
public:
    using View::View;
    ~OrbisAdView() override;

    // A new banner for ad unit 9 that requests its first ad 0.2 s later, or null when the
    // delegate is refused (each refusal is logged).
    static std::shared_ptr<OrbisAdManager>
    startOrbisAdEngineAttachedDelegate(std::shared_ptr<OrbisAdDelegate> delegate);
    static std::shared_ptr<OrbisAdManager> requestAdUnit(int adUnit,
                                                         std::shared_ptr<OrbisAdDelegate> delegate);
    static std::string orbisSDKVersion();

    // ---- Container mode (a plain OrbisAdView) ----
    // Creates the manager that fills this view and keeps it in the process-wide slot.
    virtual void awakeFromNib();
    virtual void loadNewAd();
    virtual void setDelegate(std::shared_ptr<OrbisAdDelegate> delegate);
    virtual void setAdUnit(int adUnit);
    virtual void setRequestParameter(std::optional<std::string> value, std::optional<std::string> key);
    virtual void setRequestParams(std::vector<std::pair<std::string, std::string>> params);
    // The manager a container created (the process-wide slot).
    static std::shared_ptr<OrbisAdManager> adViewManager();

private:
    bool owningContainer_ = false;
};

class OrbisAdManager : public OrbisAdView, public platform::WebViewDelegate, public AdScreenDismissDelegate {
public:
    static constexpr int kDefaultAdUnit = 9;
    static constexpr double kRequestDelaySeconds = 0.2;
    static constexpr double kLoadWatchdogSeconds = 30.0;
    static constexpr double kLocationRefreshSeconds = 30.0;
    static constexpr double kSwapAnimationSeconds = 0.75;
    static constexpr double kLandingPageDelaySeconds = 0.1;
    static constexpr double kDismissNoticeDelaySeconds = 0.2;
    static constexpr double kPressHighlightAlpha = 0.2;
    static constexpr double kPresenterAlpha = 0.7;
    static constexpr int kNoCoverActionType = 3;

    // initWithFrame: two web views and the touch cover, none in the view tree yet.
    static std::shared_ptr<OrbisAdManager> create(const platform::Rect& frame);
    ~OrbisAdManager() override;

    static std::shared_ptr<OrbisAdManager>
    startOrbisAdManagerAttachedDelegate(std::shared_ptr<OrbisAdDelegate> delegate);
    static std::shared_ptr<OrbisAdManager> requestAdUnit(int adUnit,
                                                         std::shared_ptr<OrbisAdDelegate> delegate);
    // The validation with its refusal messages, in order.
    static bool areFieldsValid(int adUnit, const std::shared_ptr<OrbisAdDelegate>& delegate);

    void finishAdViewInitializationDelegate(std::shared_ptr<OrbisAdDelegate> delegate);
    void loadNewAd() override;
    void setDelegate(std::shared_ptr<OrbisAdDelegate> delegate) override;
    std::shared_ptr<OrbisAdDelegate> getDelegate() const { return sdkDelegate_.lock(); }
    void setAdUnit(int adUnit) override;
    void setRequestParameter(std::optional<std::string> value, std::optional<std::string> key) override;
    void setRequestParams(std::vector<std::pair<std::string, std::string>> params) override;
    // Sizes both web views and the cover to (0, 0, width, height), then the banner itself.
    void setAdFrame(const platform::Rect& frame);

    // ---- The request cycle ----
    void getAd();
    void setupAdRequest();
    void startDeviceInfoUploadOnUrl(const std::string& url);
    void adRequestDataFinishedLoading(const platform::Data& data);
    void adRequestDataFailedToLoad();
    void checkAdUnitLoadComplete();
    void updateAdViewForAdUnit();

    // WebViewDelegate of both web views.
    void webViewDidStartLoad(platform::WebView&) override {}
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;
    bool
    webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                    const platform::URLRequest& request,
                                                    platform::WebViewNavigationType navigationType) override;

    // ---- Clicks ----
    void touchesBegan(const platform::TouchSet& touches, const platform::Event& event) override;
    void touchesEnded(const platform::TouchSet& touches, const platform::Event& event) override;
    void touchesCancelled(const platform::TouchSet& touches, const platform::Event& event) override;
    void adClicked();
    void adClickedDataFinishedLoadingWithRedirectUrl(const std::optional<std::string>& url,
                                                     const std::optional<std::string>& actionType);
    void adClickedDataFailedToLoad();
    // A click whose final response named a new cached server: the normal state returns and a
    // fresh ad request goes to that server.
    void clickAbandonedForNewServer();
    void restoreNormalAdState();
    void setWebViewUserInteraction(bool enabled);
    void showWebViewWithUrl(const std::string& url);
    void showEmbedWebController(const std::shared_ptr<platform::NavigationController>& navigation);
    void doWebBGCall(const std::string& url);
    void adDisplayScreenDismissed() override;
    void finishWebViewDismiss();

    // ---- State (read by tests and the adapter) ----
    bool isAdRequestDone() const { return isAdRequestDone_; }
    const std::optional<AdUnit>& currentAd() const { return currentAd_; }
    const std::shared_ptr<UserInfo>& userInfo() const { return userInfo_; }
    bool touchedDownOnAd() const { return touchedDownOnAd_; }
    const std::shared_ptr<platform::WebView>& webView1() const { return webView1_; }
    const std::shared_ptr<platform::WebView>& webView2() const { return webView2_; }
    bool shouldLoadWebView1() const { return shouldLoadWebView1_; }
    const std::shared_ptr<platform::View>& hideWebView() const { return hideWebView_; }
    const std::shared_ptr<EmbededWebViewController>& ewvController() const { return ewvController_; }
    const std::shared_ptr<platform::ViewController>& pushController() const { return pushController_; }
    bool hasLoadWatchdog() const { return adUnitFailLoadTimer_ != nullptr; }
    bool hasLocationRefreshTimer() const { return gpsRefreshTimer_ != nullptr; }
    const std::shared_ptr<APIRequest>& adRequest() const { return adRequest_; }
    const std::shared_ptr<ClickRequest>& clickRequest() const { return clickReqeust_; }

private:
    OrbisAdManager() = default;
    void setUp(const platform::Rect& frame);
    std::shared_ptr<OrbisAdManager> self();
    std::shared_ptr<platform::WebViewDelegate> asWebViewDelegate();
    // The web view named by shouldLoadWebView1: the one that receives the next markup.
    const std::shared_ptr<platform::WebView>& loadingWebView() const {
        return shouldLoadWebView1_ ? webView1_ : webView2_;
    }
    void performAdSuccessNotification();
    void performAdFailedNotification();
    // The display notice for a landing page, the will-terminate notice otherwise.
    void sendAdClickedNotification(bool landingPage);
    void stopLoadWatchdog();
    bool touchInside(const platform::TouchSet& touches) const;

    bool isAdRequestDone_ = true;
    std::optional<AdUnit> currentAd_;
    std::weak_ptr<OrbisAdDelegate> sdkDelegate_;
    std::shared_ptr<UserInfo> userInfo_;
    bool touchedDownOnAd_ = false;
    std::shared_ptr<platform::ViewController> pushController_;
    std::shared_ptr<platform::Timer> adUnitFailLoadTimer_;
    std::shared_ptr<platform::Timer> gpsRefreshTimer_;
    std::shared_ptr<platform::WebView> webView1_;
    std::shared_ptr<platform::WebView> webView2_;
    bool shouldLoadWebView1_ = true;
    std::shared_ptr<APIRequest> adRequest_;
    std::shared_ptr<ClickRequest> clickReqeust_;
    std::shared_ptr<EmbededWebViewController> ewvController_;
    std::shared_ptr<platform::View> hideWebView_;
};

} // namespace orbis
