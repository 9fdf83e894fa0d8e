#pragma once
// The Meridian ad view family.
//
// MRAdView: the public face. Its factories pick the class and frame from the ad type
//   (kAdTypes in the .cpp) and raise MRException "Invalid delegate" on a null delegate.
// MRGenericAdView: the working view. It fetches one ad at a time from "getAd.php5" (every
//   query value percent-encoded on its own), reads the X-MR reply headers, hands an HTML
//   reply to its MRHTMLAdView child and a JSON reply ("application/json") to its MRJSONAdView
//   child, refreshes on a repeating timer whose period comes from the handshake or the host,
//   and reports to its MRAdDelegate.
// MRBannerAdView (types 1 to 3) and MRIntersticialAdView (4 and 5).
//
// Ownership: made with the factories (shared_ptr). The delegate is held weakly. The running
//   refresh timer holds the view, as the platform's timers do: stop it with disableAdRefresh
//   before letting the view go. Callbacks (connection, timer, notifications) arrive on the
//   main run loop. A new request cancels the previous one; replies of a cancelled or replaced
//   connection are ignored, and nothing reaches the delegate after the view is gone.
//
// Failures: a reply with an HTTP status outside 200-299, an empty body or a failed
//   connection sends adRequestFailed. With the handshake's kill switch set the view logs
//   "MRSDK: Ad requests have been disabled." and reports adRequestFailed on the next turn
//   (so a waiting host always hears an outcome); nothing is requested.
//
// Taps: a tap on the ad goes to the host (adWasTapped), then either opens the landing-page
//   overlay (MROverlayView, built from the ad's overlay settings and presented by the view
//   controller found on the responder chain of the window's first subview, else by itself)
//   or, for "sms", "tel" and "mrbrowser" links and ads marked "X-Openinbrowser", leaves the
//   application through the platform (an "mrbrowser" link with "mrbrowser://" removed). The
//   refresh timer stops while an overlay is open and restarts when it closes. The host hears
//   adModalWillAppear / adModalDidAppear and adModalWasDismissed around each overlay, paired:
//   an overlay replaced by a newer one, or still open when the view stops, is closed first.
//
// Video ads: a video reply goes to the JSON child, which plays the video from the cache or
//   caches it (reported as adRequestFailed then adRequestIsCaching; refresh is held back
//   until the download ends). Before each request the view looks for the marker of a video
//   whose download finished ("mrsdk/cachedVideo.plist") and plays that video instead, unless
//   the handshake's deferred time-out or the record has expired, or the record holds no ad; it
//   also sweeps expired records. Such a replay may report its outcome during creation. A
//   playing video is a modal screen for the host (adModalWillAppear...).
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "meridian/MRAdDelegate.h"
#include "meridian/MRHTMLAdView.h"
#include "meridian/MRJSONAdView.h"
#include "meridian/MROverlayView.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"

namespace meridian {

inline constexpr std::string_view kDefaultApid = "357";

class MRAdView : public platform::View {
public:
    // adWithFrame:type:apid:delegate:loadAd:startTimer:
    static std::shared_ptr<MRAdView> adWithFrame(const platform::Rect& frame, int type,
                                                 std::optional<std::string> apid,
                                                 const std::shared_ptr<MRAdDelegate>& delegate,
                                                 bool loadAd = true, bool startTimer = true);
    // interstitialWithType:apid:delegate:loadAd: null for a type other than 4 or 5.
    static std::shared_ptr<MRAdView> interstitialWithType(int type, std::optional<std::string> apid,
                                                          const std::shared_ptr<MRAdDelegate>& delegate,
                                                          bool loadAd = true);
    // Sends the conversion report synchronously; raises "Invalid goal id" on no goal id.
    // Answers whether the report succeeded.
    static bool startSynchronousConversionTrackerWithGoalId(const std::optional<std::string>& goalId);
    static std::string version();

    virtual void refreshAd() {}
    void startConversionTrackerWithGoalId(const std::string&) {}
    virtual void enableAdRefresh() {}
    virtual void disableAdRefresh() {}
    virtual bool refreshTimerEnabled() const { return refreshTimerEnabled_; }
    virtual void setRefreshTimerEnabled(bool enabled) { refreshTimerEnabled_ = enabled; }
    double adRequestTimeoutInterval() const { return adRequestTimeoutInterval_; }
    void setAdRequestTimeoutInterval(double seconds) { adRequestTimeoutInterval_ = seconds; }
    std::shared_ptr<MRAdDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MRAdDelegate> delegate) { delegate_ = std::move(delegate); }
    // Where and how the landing-page overlay is laid out; zero until set.
    const platform::Rect& overlayFrame() const { return overlayFrame_; }
    void setOverlayFrame(const platform::Rect& frame) { overlayFrame_ = frame; }
    int overlayOrientation() const { return overlayOrientation_; }
    void setOverlayOrientation(int orientation) { overlayOrientation_ = orientation; }

protected:
    using View::View;
    std::weak_ptr<MRAdDelegate> delegate_;
    bool refreshTimerEnabled_ = false;
    double adRequestTimeoutInterval_ = 0;
    platform::Rect overlayFrame_{};
    int overlayOrientation_ = 0;
};

class MRGenericAdView : public MRAdView,
                        public platform::URLConnectionDelegate,
                        public MRHTMLAdViewDelegate,
                        public MRJSONAdViewDelegate,
                        public MROverlayDelegate {
public:
    static constexpr double kCloseBeforeLeavingDelay = 0.5;
    static constexpr double kLeaveDelay = 0.7;
    // The content of a landing page: a request or HTML text.
    using OverlayContent = std::variant<platform::URLRequest, std::string>;

    static constexpr std::int64_t kMaximumReplyBytes = 1024 * 1024;
    static constexpr int kShortestRefresh = 15;
    static constexpr int kLongestRefresh = 60;
    static constexpr int kDefaultRefresh = 60;

    ~MRGenericAdView() override;

    // The query's type name of an ad-type number.
    static std::string adTypeName(int type);
    static std::string urlEncode(std::string_view text);
    // Whether a system of `systemVersion` replays cached videos: the version compared
    // numerically, part by part, is not below "3.2".
    static bool isCachedVideoSupported(std::string_view systemVersion);
    // Device facts under "device_id", "device_name", "device_type", "device_version",
    // "device_localized_model", "device_model" and "device_model_number".
    static platform::Dictionary UIDeviceValues();

    void refreshAd() override;
    void enableAdRefresh() override;
    void disableAdRefresh() override;
    bool refreshTimerEnabled() const override { return enableAdRefresh_; }
    void setRefreshTimerEnabled(bool enabled) override;

    void setApid(const std::optional<std::string>& apid);
    const std::string& getApid() const { return apid_; }
    void setRequestData(platform::Dictionary data) { additionalRequestParameters_ = std::move(data); }
    std::string getValueFromRequestParameters(std::string_view key) const;
    // The ad request's URL; raises "Invalid Meta Data" for a value outside its key's set.
    platform::URL adRequestURL();
    void connectOrPlayCache();
    void startTimer();
    void stopTimer();
    bool isAccelerometerEnabled() const;
    std::string adType() const { return adTypeName(adType_); }
    int adTypeNumber() const { return adType_; }
    int refreshAdTime() const { return refreshAdTime_; }
    bool isRefreshTimerRunning() const { return refreshAdTimer_ != nullptr; }
    bool enableManualAdRefresh() const { return enableManualAdRefresh_; }
    bool openClickInBrowser() const { return openClickInBrowser_; }
    const std::string& adMimeType() const { return adMimeType_; }
    void updateTimerDuration();
    void resizeToHeight(double height);
    const platform::Size& overlaySize() const { return overlaySize_; }
    void setOverlaySize(const platform::Size& size) { overlaySize_ = size; }
    const std::shared_ptr<MRHTMLAdView>& htmlAdView() const { return htmlAdView_; }
    const std::shared_ptr<MRJSONAdView>& jsonAdView() const { return jsonAdView_; }
    // Shows `child` (the HTML or the JSON view) in place of the other one, with a fade.
    void fadeAdView(const platform::View& child);
    void setFrame(const platform::Rect& frame);

    // URLConnectionDelegate.
    void connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) override;
    void connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection& c) override;
    void connectionDidFailWithError(platform::URLConnection& c, const platform::Error& error) override;
    // MRHTMLAdViewDelegate.
    void htmlAdViewTransitionAnimationWillBegin(MRHTMLAdView&) override {}
    void htmlAdViewTransitionAnimationDidEnd(MRHTMLAdView& view) override { fadeAdView(view); }
    void htmlAdViewWantsToOpenURL(MRHTMLAdView&, const platform::URL& url) override;
    void htmlAdViewWasTapped(MRHTMLAdView&, const platform::URLRequest& request) override;
    void htmlAdViewRequestSucceeded(MRHTMLAdView&) override;
    void htmlAdViewRequestFailed(MRHTMLAdView&) override { reportFailure(); }
    bool htmlAdViewAccelerometerEnabled() override { return isAccelerometerEnabled(); }
    // MRJSONAdViewDelegate.
    void jsonAdViewRequestSucceeded(MRJSONAdView&) override;
    void jsonAdViewRequestFailed(MRJSONAdView&) override { reportFailure(); }
    void jsonAdViewWasTapped(MRJSONAdView&, const platform::URLRequest& request) override;
    void jsonAdViewTransitionAnimationDidEnd(MRJSONAdView& view) override { fadeAdView(view); }
    void jsonAdViewWantsToMoveToTheFront(MRJSONAdView& view) override { fadeAdView(view); }
    void jsonAdViewWantsToOpenURL(MRJSONAdView&, const platform::URL& url) override;
    void jsonAdViewVideoAdWillDisappear(MRJSONAdView&) override;
    void jsonAdViewVideoAdWillAppear(MRJSONAdView&) override;
    void jsonAdViewVideoAdDidAppear(MRJSONAdView&) override;
    void jsonAdViewWillPlayChachedVideo(MRJSONAdView&) override { stopTimer(); }
    void jsonAdViewWillLoadVideoURL(MRJSONAdView&) override { stopTimer(); }
    bool jsonAdViewWantToShowOverlayWithHTML(MRJSONAdView&, MRJSONVideoAdView&, const std::string& html,
                                             int orientation, bool notifyOpenDelegates,
                                             bool notifyCloseDelegates) override;
    bool jsonAdViewWantToShowOverlayWithRequest(MRJSONAdView&, MRJSONVideoAdView&, const platform::URLRequest& request,
                                                int orientation, bool notifyOpenDelegates,
                                                bool notifyCloseDelegates) override;
    void jsonAdViewVideoCacheFailed(MRJSONAdView&) override { startTimer(); }
    void jsonAdViewVideoCacheSucceeded(MRJSONAdView&) override { startTimer(); }
    void jsonAdViewVideoAdFailed(MRJSONAdView&) override;
    void jsonAdViewVideoAdSucceeded(MRJSONAdView&) override;
    void jsonAdViewVideoAdFinishedPlaying(MRJSONAdView&, bool startTimerFlag) override {
        if (startTimerFlag)
            startTimer();
    }
    // MROverlayDelegate.
    void overlayWillAppear(MROverlayView& overlay) override;
    void overlayDidAppear(MROverlayView& overlay) override;
    void overlayWillDisappear(MROverlayView& overlay) override;
    void overlayDidDisappear(MROverlayView& overlay) override;
    void overlayWantsToTerminateAppToOpenURL(MROverlayView& overlay, const platform::URL& url) override;

    // Landing pages.
    const std::shared_ptr<MROverlayView>& overlayView() const { return overlayView_; }
    // Answers whether the overlay appeared (it cannot without a window, and is then dropped).
    bool showOverlayWithAd(const std::shared_ptr<MRBasicAd>& ad, const OverlayContent& content,
                           int orientation, bool notifyOpenDelegates = true, bool notifyCloseDelegates = true,
                           bool shownFromVideo = false);
    // Closes an open overlay at once (the host hears its dismissal).
    void closeOverlay();
    // Leaves the application for `url`: applicationWillTerminateFromAd, then the platform.
    void openURL(const platform::URL& url);
    static std::shared_ptr<platform::ViewController>
    traverseResponderChainForUIViewControllerWithView(const platform::View* view);
    bool isStatusBarHiddenBeforeOverlay() const { return isStatusBarHidden_; }
    void showStatusBar();

protected:
    MRGenericAdView(const platform::Rect& frame) : MRAdView(frame) {}
    // initWithFrame:loadAd: and the rest of the creation, once the view is shared.
    void setUp(int type, const std::optional<std::string>& apid,
               const std::shared_ptr<MRAdDelegate>& delegate, bool loadAd, bool startTimer);
    template <typename T>
    friend std::shared_ptr<MRAdView> makeAdView(const platform::Rect&, int, const std::optional<std::string>&,
                                                const std::shared_ptr<MRAdDelegate>&, bool, bool);

    // Plays the video that the marker file names, when it is still valid: answers whether
    // it did (and no request is sent).
    bool playCachedVideo();

private:
    std::shared_ptr<MRGenericAdView> self() {
        return std::static_pointer_cast<MRGenericAdView>(sharedView());
    }
    void timerRefreshAd();
    // A tap (`tapped`) or an ad's own wish to open `request`; `json` picks the ad's view.
    void routeRequest(const platform::URLRequest& request, bool json, bool tapped);
    std::shared_ptr<MRBasicAd> currentAd(bool json) const;
    void reportFailure();
    bool showVideoOverlay(const OverlayContent& content, int orientation, bool notifyOpenDelegates,
                          bool notifyCloseDelegates);
    void askRequestData();
    std::string extraParams();

    std::string apid_;
    bool enableAdRefresh_ = false;
    bool enableManualAdRefresh_ = true;
    int refreshAdTime_ = kDefaultRefresh;
    platform::Dictionary additionalRequestParameters_;
    std::shared_ptr<platform::Timer> refreshAdTimer_;
    std::shared_ptr<platform::URLConnection> connection_;
    platform::Data adData_;
    int replyStatus_ = 0;
    bool openClickInBrowser_ = false;
    std::string adMimeType_;
    int adType_ = 1;
    std::shared_ptr<MRHTMLAdView> htmlAdView_;
    std::shared_ptr<MRJSONAdView> jsonAdView_;
    platform::Size overlaySize_{};
    std::shared_ptr<MROverlayView> overlayView_;
    bool isStatusBarHidden_ = false;
};

class MRBannerAdView final : public MRGenericAdView {
    using MRGenericAdView::MRGenericAdView;
    template <typename T>
    friend std::shared_ptr<MRAdView> makeAdView(const platform::Rect&, int, const std::optional<std::string>&,
                                                const std::shared_ptr<MRAdDelegate>&, bool, bool);
};

class MRIntersticialAdView final : public MRGenericAdView {
    using MRGenericAdView::MRGenericAdView;
    template <typename T>
    friend std::shared_ptr<MRAdView> makeAdView(const platform::Rect&, int, const std::optional<std::string>&,
                                                const std::shared_ptr<MRAdDelegate>&, bool, bool);
};

} // namespace meridian
