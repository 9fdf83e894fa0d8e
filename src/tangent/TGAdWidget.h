#pragma once
// TGAdWidget: the Tangent client's public view, a banner or full-screen ad slot that a host
// places in its view hierarchy. TGAdWidget::create() always makes the concrete widget,
// TGAdWidgetWorker, which schedules ad requests (TGRequest), keeps two ad views (the current
// one on screen and the future one loading in the background), swaps them when the future one
// has loaded and the host agrees, drives its refresh, render and auto-dismiss timers, and
// listens to both ad views' state changes. Everything it needs of its host it asks through a
// fresh delegate adaptor per request.
//
// Ownership: the host (or its mediation slot) owns the widget. The host is held weakly. While
// an ad is in interaction (protected) the widget keeps itself, the reporting ad view and its
// host alive, so that an expanded ad outlives its owners letting go; the protection ends when
// the ad leaves its interaction or is ended. Freeing the widget ends both ad views, stops the
// request and the timers. Main thread only; loadRequest, forceLoadRequest and renderAd run
// under the widget's recursive lock.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"
#include "tangent/TGAdView.h"
#include "tangent/TGRequest.h"

namespace tangent {

class TGAdWidgetDelegate;
class TGAdWidgetWorker;
class TGDelegateAdaptor;
class TGTimer;

class TGAdWidget : public platform::View {
public:
    // The client's version text, also sent with every request.
    static std::string version() { return "iphone2.0.14.1"; }
    // The designated initializer: a widget of 320 by 50 points that asks `delegate`.
    static std::shared_ptr<TGAdWidgetWorker> create(const std::shared_ptr<TGAdWidgetDelegate>& delegate,
                                                    bool shouldStartLoading);
    // Start the client's services; forwarded to the worker's.
    static void initializeAdService(bool allowLocation);
    static void enableLocationUse();

protected:
    using platform::View::View;
};

class TGAdWidgetWorker final : public TGAdWidget, public TGStateListener, public TGRequestDelegate {
public:
    static constexpr int kDefaultTransition = 4;
    static constexpr double kInitialWidth = 320;
    static constexpr double kInitialHeight = 50;

    ~TGAdWidgetWorker() override;

    // Starts the support files and, when the main bundle's information dictionary names a
    // "TGMAppId", the rich-media engine (then vellumInitialized() answers true).
    static void initializeAdService(bool allowLocation);
    static void enableLocationUse();
    static bool vellumInitialized();
    static void resetForTesting();

    int refreshInterval() const { return refreshInterval_; }
    void setRefreshInterval(int seconds);
    int transition() const { return transition_; }
    // Values of 0 and 1 (and below) are stored as the default, 4.
    void setTransition(int transition);
    bool autorotate() const { return autorotate_; }
    void setAutorotate(bool autorotate);
    int margin() const { return margin_; }

    std::shared_ptr<TGAdWidgetDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<TGAdWidgetDelegate>& delegate);
    const std::shared_ptr<TGDelegateAdaptor>& delegateAdaptor() const { return delegateAdaptor_; }
    const std::shared_ptr<TGRequest>& request() const { return request_; }
    const std::shared_ptr<TGAdView>& currentAdView() const { return currentAdView_; }
    const std::shared_ptr<TGAdView>& futureAdView() const { return futureAdView_; }
    const std::shared_ptr<TGTimer>& refreshTimer() const { return refreshTimer_; }
    const std::shared_ptr<TGTimer>& renderTimer() const { return renderTimer_; }
    const std::shared_ptr<TGTimer>& autoDismissTimer() const { return autoDismissTimer_; }
    int networkStatus() const { return networkStatus_; }
    int syncStateDepth() const { return syncStateDepth_; }

    void refreshAd();
    void renderAd();
    void loadRequest();
    void forceLoadRequest();
    void requestAdRotation();
    void startRefreshTimer();
    void stopRefreshTimer();
    void startRenderTimer();
    void stopRenderTimer();
    void startAutoDismissTimer();
    void stopAutoDismissTimer();

    // TGRequestDelegate.
    void requestDidFinishLoading(TGRequest& request) override;
    void requestDidFailWithError(TGRequest& request, const std::optional<platform::Error>& error) override;
    void modifyUrl(std::string& url, TGRequest& request) override;
    // TGStateListener.
    void tgAdViewDidUpdateSyncState(TGAdView& adView, int syncState) override;
    void tgAdViewDidTransitionFromViewState(TGAdView& adView, int fromState, int toState,
                                            const std::optional<platform::Error>& error) override;
    // Timer actions.
    void timeCompleteForRefreshTimer(TGTimer&);
    void timeCompleteForRenderTimer(TGTimer&);
    void timeCompleteForAutoDismissTimer(TGTimer&);
    // Notifications.
    void reachabilityChanged();
    void applicationWillTerminateNotification();
    void didRotate();

    void willMoveToSuperview(platform::View* newSuperview) override;
    void willMoveToWindow(platform::Window* newWindow) override;

private:
    friend class TGAdWidget;
    TGAdWidgetWorker();
    void setUp(const std::shared_ptr<TGAdWidgetDelegate>& delegate, bool shouldStartLoading);
    std::shared_ptr<TGAdWidgetWorker> self();
    std::shared_ptr<TGDelegateAdaptor> makeAdaptor();
    void futureDidTransition(TGAdView& adView, int fromState, int toState);
    void currentDidTransition(TGAdView& adView, int fromState, int toState);
    void observe(std::string_view name, void (TGAdWidgetWorker::*handler)());
    void removeAllEventObservers();
    void tearDown();

    bool autorotate_ = false;
    int transition_ = kDefaultTransition;
    int refreshInterval_ = 0;
    std::weak_ptr<TGAdWidgetDelegate> delegate_;
    std::shared_ptr<TGDelegateAdaptor> delegateAdaptor_;
    int knownOrientation_ = 1;
    std::shared_ptr<TGRequest> request_;
    std::shared_ptr<TGAdView> currentAdView_;
    std::shared_ptr<TGAdView> futureAdView_;
    int margin_ = 0;
    std::shared_ptr<TGTimer> refreshTimer_;
    std::shared_ptr<TGTimer> renderTimer_;
    std::shared_ptr<TGTimer> autoDismissTimer_;
    int networkStatus_ = 1;
    int syncStateDepth_ = 0;
    std::recursive_mutex lock_;
    std::vector<platform::NotificationCenter::ObserverToken> observers_;
    // What a protection keeps alive: the widget itself, the reporting ad view and the host,
    // once per protect notice.
    struct Protection {
        std::shared_ptr<TGAdWidgetWorker> widget;
        std::shared_ptr<TGAdView> adView;
        std::shared_ptr<TGAdWidgetDelegate> host;
    };
    std::vector<Protection> protections_;
};

} // namespace tangent
