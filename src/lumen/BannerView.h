#pragma once
// LMNBannerView, the Lumen client's public banner, and its companion LMNObjectPrivate, which
// runs one ad load at a time: the core script (kept for a day in the Caches folder, shared by
// every banner through the "expireDate" of the statistics store "LMNObjectPrivate"), the ad
// URL built by that script in a hidden builder web view, the ad page fetched from that URL
// and shown in the banner's web view, the delegates told, and a reload after the interval the
// ad server sets ("X-Luma-Refresh-Rate").
//
// Ownership: the banner owns its companion; the companion holds the banner weakly and owns
// its web views, the script and page files and the refresh timer. Everything runs on the main
// thread and its run loop; delegate events reach the publisher through LMNDelegateManager.
// Each load ends with exactly one didReceiveAd or didFailToReceiveAdWithError, unless a newer
// load replaced it or the banner went away: callbacks of a replaced builder, page or timer are
// ignored, and nothing arrives after destruction.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumen/Bridge.h"
#include "lumen/CachedFile.h"
#include "lumen/DelegateManager.h"
#include "lumen/Request.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

namespace lumen {

class LMNObjectPrivate;

class LMNBannerView : public platform::View {
public:
    static std::shared_ptr<LMNBannerView> create(const platform::Rect& frame = {});
    ~LMNBannerView() override;

    const std::string& adUnitID() const;
    void setAdUnitID(std::string id);
    std::shared_ptr<platform::ViewController> rootViewController() const;
    void setRootViewController(std::weak_ptr<platform::ViewController> controller);
    std::shared_ptr<LMNBannerViewDelegate> delegate() const;
    // Replaces the publisher delegate; nil stops its callbacks.
    void setDelegate(std::weak_ptr<LMNBannerViewDelegate> delegate);
    const std::shared_ptr<platform::WebView>& webView() const;
    bool hasAutoRefreshed() const;
    void loadRequest(std::shared_ptr<LMNRequest> request);
    LMNObjectPrivate& privateObject() { return *private_; }

private:
    explicit LMNBannerView(const platform::Rect& frame) : platform::View(frame) {}
    std::shared_ptr<LMNObjectPrivate> private_;
};

class LMNBannerWebViewDelegate;

class LMNObjectPrivate : public LMNCachedFileDelegate,
                         public LMNClickTrackerDelegate,
                         public std::enable_shared_from_this<LMNObjectPrivate> {
public:
    enum State {
        kNew = 0,
        kFetchingScript = 1,
        kScriptFailed = 2,
        kBuildingURL = 3,
        kFetchingAd = 4,
        kLoadingAd = 5,
        kShown = 6,
        kFailed = 7
    };
    static constexpr const char* kCoreScriptPath = "/luma/sdk-core-v40.js";
    static constexpr double kScriptFreshSeconds = 86400;

    static std::shared_ptr<LMNObjectPrivate> initWithView(LMNBannerView& view);
    ~LMNObjectPrivate() override;

    void loadRequest(std::shared_ptr<LMNRequest> request);
    void loadInterstitialRequest(std::shared_ptr<LMNRequest> request);
    int state() const { return state_; }
    void changeState(int state) { state_ = state; }
    const std::shared_ptr<LMNRequest>& request() const { return request_; }
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::shared_ptr<LMNCachedFile>& adHTML() const { return adHTML_; }
    std::optional<std::string> adHTMLString() const { return adHTML_ ? adHTML_->content() : std::nullopt; }
    std::optional<platform::URL> adHTMLBaseURL() const {
        return adHTML_ ? std::optional<platform::URL>(adHTML_->httpDestinationURL()) : std::nullopt;
    }
    const std::shared_ptr<LMNDelegateManager>& delegateManager() const { return delegateManager_; }
    std::shared_ptr<platform::ViewController> rootViewController() const {
        return rootViewController_.lock();
    }
    void setRootViewController(std::weak_ptr<platform::ViewController> vc) {
        rootViewController_ = std::move(vc);
    }
    const std::string& adUnitID() const { return adUnitID_; }
    void setAdUnitID(std::string id) { adUnitID_ = std::move(id); }
    bool hasAutoRefreshed() const { return hasAutoRefreshed_; }
    int supportedOrientations() const { return supportedOrientations_; }
    std::vector<platform::URL> pendingTrackingURLs() const { return pendingTrackingURLs_; }
    double reloadSeconds() const { return reloadSeconds_; }
    bool isReloadScheduled() const { return reloadTimer_ && reloadTimer_->isValid(); }
    void trackURLs(const std::vector<std::string>& urls);
    void cancelPendingActions();
    // The banner view is going away: the companion no longer refers to it.
    void detachView() { adView_ = nullptr; }
    // The banner page finished or failed loading (from the banner web view's delegate).
    void bannerPageDidFinish();
    void bannerPageDidFail();

    // LMNCachedFileDelegate.
    std::optional<platform::Error> cachedFileShouldRedirectToURL(LMNCachedFile& file,
                                                                 const platform::URL& url) override;
    void cachedFileDownloadDidEnd(LMNCachedFile& file) override;
    void cachedFileDownloadDidFail(LMNCachedFile& file, const std::optional<platform::Error>& error) override;
    // LMNClickTrackerDelegate.
    void trackerDidRedirect(LMNClickTracker&, const platform::URL&) override { scheduleCleanupTrackers(); }
    void trackerDidFailWithError(LMNClickTracker&, const std::optional<platform::Error>&) override {
        scheduleCleanupTrackers();
    }
    static void resetForTesting();

private:
    LMNObjectPrivate() = default;
    bool isAppActive() const;
    void loadPrivateRequest(std::shared_ptr<LMNRequest> request);
    void ensureSupportFiles();
    void failedToDownloadJavaScriptWithError();
    void buildAdUrl();
    void setupBuildAdWebView();
    void resetBuildAdWebView();
    void loadAdURL(const platform::Notification& n);
    void builderRefused(const platform::Notification& n, const char* what);
    void setAdHTML(std::shared_ptr<LMNCachedFile> file);
    void showAd();
    void failedAdRequestWithError(LMNCachedFile& file);
    void addReloadInformationFromHeaders();
    void scheduleReloadTimer(double seconds);
    void resetReloadTimer();
    void reloadCurrentRequest();
    void scheduleCleanupTrackers();
    void report(int code);

    LMNBannerView* adView_ = nullptr;
    std::string adUnitID_;
    std::shared_ptr<LMNDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> rootViewController_;
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<platform::WebView> buildAdWebView_;
    std::shared_ptr<LMNBannerWebViewDelegate> webViewDelegate_;
    std::shared_ptr<LMNWebViewDelegate> buildAdWebViewDelegate_;
    std::shared_ptr<LMNCachedFile> buildAdJS_;
    std::shared_ptr<LMNCachedFile> adHTML_;
    std::shared_ptr<LMNRequest> request_;
    int state_ = kNew;
    std::vector<std::shared_ptr<LMNClickTracker>> trackers_;
    std::vector<platform::URL> pendingTrackingURLs_;
    std::shared_ptr<platform::Timer> reloadTimer_;
    double reloadSeconds_ = 0;
    bool hasAutoRefreshed_ = false;
    int supportedOrientations_ = 1;
    std::vector<platform::NotificationCenter::ObserverToken> observers_;
    std::vector<platform::NotificationCenter::ObserverToken> builderObservers_;
};

// The banner web view's delegate: drives states 5 and 6 and turns navigations of a shown
// banner into clicks that open the in-app browser.
class LMNBannerWebViewDelegate final : public LMNWebViewDelegate {
public:
    explicit LMNBannerWebViewDelegate(std::weak_ptr<LMNObjectPrivate> owner) : private_(std::move(owner)) {}
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                         const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;

private:
    std::weak_ptr<LMNObjectPrivate> private_;
};

} // namespace lumen
