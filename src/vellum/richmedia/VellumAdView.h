#pragma once
// VellumAdView: the public view of the rich-media engine, standing for one ad slot of the
// host application. The host tells it which slot it is (or which cached ad to show in which
// host web view), gives it a delegate, and asks it to show a banner or an interstitial and
// later to dismiss it. The view picks the cached ad through the ad server, installs the ad's
// controller and makes the controller's view its content, builds the interstitial's page with
// its close button, fills the ad's URL macros, and relays each lifecycle step to its
// delegate. While no qualifying ad exists it waits for "MRNewAdDidDownloadNotification".
//
// Ownership: create with make_shared; it owns its controller; the delegate is held weakly.
// Main thread only. The process keeps one interstitial page at a time.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"
#include "vellum/richmedia/MRAdNetworkPromoSlider.h"
#include "vellum/richmedia/VellumAdServer.h"

namespace vellum {

class VellumAdView;
class VellumAdViewController;

// Writes the local page `page` with the slot's macros filled in (when there is a slot view)
// beside itself as "<name>.temp.html", as UTF-8 and atomically. Only a page inside the ad's
// `folder` is read or written; answers the written file, nullopt when the page is outside,
// unreadable or cannot be written (the caller then shows the original page). `logPrefix`,
// when given, logs the rewritten text after it at the debug level.
std::optional<std::filesystem::path> writePageWithMacros(const std::filesystem::path& page, const std::string& folder,
                                                         const VellumAdView* adView, const char* logPrefix = nullptr);

// The slot view's delegate. Every method is optional: the defaults stand for a delegate that
// does not implement it. Methods whose absence changes behaviour answer nullopt (or false)
// by default.
class VellumAdViewDelegate {
public:
    virtual ~VellumAdViewDelegate() = default;
    // Asked before an ad page loads a request; nullopt: not implemented (load allowed).
    virtual std::optional<bool> adViewCustomInteractionInterrogator(VellumAdView&, const platform::URLRequest&,
                                                                    const std::string& host,
                                                                    const std::string& scheme,
                                                                    unsigned navigationType,
                                                                    const std::string& basePath) {
        (void)host, (void)scheme, (void)navigationType, (void)basePath;
        return std::nullopt;
    }
    virtual void adViewWillDisplayInterstitial(VellumAdView&) {}
    virtual void adViewDidDisplayInterstitial(VellumAdView&) {}
    virtual void adViewWillDismissInterstitial(VellumAdView&) {}
    virtual void adViewDidDismissInterstitial(VellumAdView&) {}
    virtual void adViewWillStartFullScreen(VellumAdView&) {}
    virtual void adViewDidStartFullScreen(VellumAdView&) {}
    virtual void adViewWillEndFullScreen(VellumAdView&) {}
    virtual void adViewDidEndFullScreen(VellumAdView&) {}
    virtual void adViewWillExpand(VellumAdView&) {}
    virtual void adViewDidExpand(VellumAdView&) {}
    virtual void adViewWillCollapse(VellumAdView&) {}
    virtual void adViewDidCollapse(VellumAdView&) {}
    virtual void adViewWillDisplayEmbeddedBrowser(VellumAdView&) {}
    virtual void adViewDidDisplayEmbeddedBrowser(VellumAdView&) {}
    virtual void adViewWillDismissEmbeddedBrowser(VellumAdView&) {}
    virtual void adViewDidDismissEmbeddedBrowser(VellumAdView&) {}
    // Answers whether the delegate handled it; false makes the view load the ad itself.
    virtual bool adViewDidBecomeAvailable(VellumAdView&) { return false; }
    virtual void adViewDidFinishRendering(VellumAdView&) {}
    // nullopt: not implemented (the ad hides).
    virtual std::optional<bool> adViewShouldHide(VellumAdView&) { return std::nullopt; }
    virtual void adViewDidStartPlayingAudio(VellumAdView&) {}
    virtual void adViewDidFinishPlayingAudio(VellumAdView&) {}
};

class VellumAdView : public platform::View, public VellumAdSlot, public MRAdNetworkPromoSliderDelegate {
public:
    static constexpr const char* kNewAdDidDownloadNotification = "MRNewAdDidDownloadNotification";
    static constexpr const char* kClickThroughURLStringKey = "clickThroughURLString";
    static constexpr const char* kCloseButtonImageName = "closebtn.png";
    static constexpr std::size_t kMaxSlotNameLength = 48;
    static constexpr double kInterstitialAnimationSeconds = 0.3;
    static constexpr double kInterstitialBackdropAlpha = 0.35;
    static constexpr int kPortraitInterstitial = 5;
    static constexpr int kLandscapeInterstitial = 6;
    static constexpr int kLandscapeMovie = 7;
    static constexpr const char* kPrepareMessage = "Cannot prepare the ad";
    static constexpr const char* kDisplayMessage = "cannot display the ad";
    static constexpr const char* kDrawMessage = "Cannot display the ad";

    explicit VellumAdView(const platform::Rect& frame = {});
    ~VellumAdView() override;

    // ---- Slot (read by selection) ----
    int adSlotType() const override { return adSlotType_; }
    platform::Size adSlotSize() const override { return adSlotSize_; }
    std::optional<std::string> adSlotKey() const override { return adSlotKey_; }
    std::optional<StringList> adSlotKeywords() const override { return adSlotKeywords_; }
    std::optional<StringList> adBlockKeywords() const override { return adBlockKeywords_; }
    void setAdSlotType(int type);
    void setAdSlotSize(platform::Size size) { adSlotSize_ = size; }
    void setAdSlotKey(std::optional<std::string> key) { adSlotKey_ = std::move(key); }
    void setAdSlotKeywords(std::optional<StringList> k) { adSlotKeywords_ = std::move(k); }
    void setAdBlockKeywords(std::optional<StringList> k) { adBlockKeywords_ = std::move(k); }
    void setAdKeyValuePairs(std::optional<platform::Dictionary> pairs) { adKeyValuePairs_ = std::move(pairs); }
    const std::optional<platform::Dictionary>& adKeyValuePairs() const { return adKeyValuePairs_; }

    void setDelegate(std::weak_ptr<VellumAdViewDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<VellumAdViewDelegate> delegate() const { return delegate_.lock(); }
    std::shared_ptr<VellumAdViewController> adVC() const { return adVC_; }
    void setAdVC(std::shared_ptr<VellumAdViewController> controller);
    bool adIsCurrentlyLoaded() const { return adIsCurrentlyLoaded_; }
    int blockers() const { return blockers_; }
    std::shared_ptr<platform::View> webPageView() const { return webPageView_.lock(); }
    static std::shared_ptr<platform::View> interstitialPageView();
    // Forgets the process's interstitial page.
    static void resetForTesting();
    void setFrame(const platform::Rect& frame) override;
    // Clips to the shown ad's clip type, then lets the controller's view draw.
    void drawRect(const platform::Rect& rect) override;
    std::shared_ptr<MRAdNetworkPromoSlider> promoSlider() const { return promoSlider_; }
    void setPromoSlider(std::shared_ptr<MRAdNetworkPromoSlider> slider) { promoSlider_ = std::move(slider); }
    // (smaller side, larger side) of the screen in portrait, the other way round in landscape.
    static platform::Size contentViewSizeForCurrentOrientation();

    // ---- Populating and loading ----
    // `webView` is the host web view that registered as a slot (under
    // VellumAdServer::webViewDescription of it); YES: the ad is shown in it.
    bool populateWithadID(platform::View& webView, const std::string& adID);
    bool populateWithadID1(platform::View& webView, const std::string& adID,
                           const std::optional<platform::Dictionary>& pairs);
    bool loadAd() { return loadAdWithID(std::nullopt, std::nullopt); }
    bool loadAdWithID(const std::optional<std::string>& adID, const std::optional<std::string>& parentID);
    bool loadAdIfNeeded();
    bool isWatchingForAd() const { return watchToken_.isValid(); }

    // ---- Display ----
    // `webViewFrame`: the host web view's frame; `host` the view that gets the page.
    void displayWebViewAd(platform::View& host);
    void displayInterstitial();
    void dismissInterstitial();
    void dismissInterstitialAnimated(bool animated);
    void dismissWebViewAd();
    void promoDidDisplay(MRAdNetworkPromoSlider& slider) override;

    // ---- From the other parts of the engine ----
    void didStartAudioInAd();
    void didFinishAudioInAd();
    bool adVCClickedThroughTo(const std::string& url);
    void willExpand(), didExpand(), willCollapse(), didCollapse();
    void willDisplayEmbeddedBrowser(), didDisplayEmbeddedBrowser();
    void willDismissEmbeddedBrowser(), didDismissEmbeddedBrowser();
    void willDisplayInterstitialAd(), didDisplayInterstitialAd();
    void willDismissInterstitialAd(), didDismissInterstitialAd();
    bool willStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request,
                                  platform::WebViewNavigationType type, const std::string& basePath);
    void adViewDismissEmbeddedBrowser();
    std::string updateURLWithKeyValuePairs(const std::string& text) const;
    static std::optional<platform::Dictionary> prepareKeyValuePairs(const std::optional<platform::Dictionary>& pairs);

    // The built-in close button placed in `view` (also the custom button's stand-in when
    // the named button is not cached).
    void placeCloseButtonInView(platform::View& view);
    // The cached custom button `name` placed in `view`; false (nothing placed) when the
    // button is not cached or the slot type has no corner rectangles.
    bool placeCustomCloseButtonInView(platform::View& view, const std::string& name, bool rotated);

private:
    std::shared_ptr<VellumAdView> self();
    bool prepareWithadIDInternal(const std::string& adID);
    bool installAd(const std::shared_ptr<MRCachedAd>& ad, double started);
    void unloadPresentController();
    void watchForAd();
    void newAdDidDownload();
    std::shared_ptr<MRCachedAd> nextQualifiedAd();
    platform::Size adDisplaySize() const;
    // The slot's type, or the shown ad's while the slot has none.
    int shownSlotType() const;
    void willAddBlocker(), didAddBlocker(), willRemoveBlocker(), didRemoveBlocker();
    void endInterstitial();
    void placeCloseButtons(platform::View& page, const MRCachedAd& ad, bool tablet);
    MRAdNetworkPromoSlider& slider(const platform::Rect& frame);
    void applyContainerTransform(platform::View& container, const MRCachedAd& ad, bool interstitial);

    bool appStatusBarHidden_ = false;
    platform::Size adSlotSize_;
    int adSlotType_ = 0;
    std::optional<std::string> adSlotKey_;
    std::optional<StringList> adSlotKeywords_;
    std::optional<StringList> adBlockKeywords_;
    std::shared_ptr<VellumAdViewController> adVC_;
    std::shared_ptr<MRAdNetworkPromoSlider> promoSlider_;
    std::weak_ptr<VellumAdViewDelegate> delegate_;
    bool adIsCurrentlyLoaded_ = false;
    int blockers_ = 0;
    // Held by the host web view it is in; the page holds this view, so holding it here too
    // would keep both alive for ever.
    std::weak_ptr<platform::View> webPageView_;
    std::optional<platform::Dictionary> adKeyValuePairs_;
    platform::NotificationCenter::ObserverToken watchToken_;
};

} // namespace vellum
