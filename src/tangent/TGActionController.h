#pragma once
// TGActionController: what happens after a Tangent ad is touched. The ad page asks to open a
// URI; the controller decides what kind of target it is (the URL table first, then the click's
// type word, then the URL's "t" parameter), follows the URL's HTTP redirects first when the
// URL alone does not say, and performs the action: the in-app browser, a video player, the
// video page, or a hand-over to the platform (store, map, telephone, text message, other
// applications). It reports its progress to the ad view as the action state (clicking,
// clicked, idle again) and its failures to the ad's failed-click record.
//
// Its own state uses the ad view state numbers: 1 ready for a click, 2 click taken, 5 action
// running or browser up, 4 action over, -1 error. One click at a time: a click while an
// action runs only updates the full-screen flag.
//
// Ownership: each ad view owns one controller for its whole life; the controller holds the
// ad view (its state modifier) and the adaptor weakly, and owns the redirect follower, the
// in-app browser with its modal view controller and the movie player. stop() ends everything
// in progress: no redirect result, movie notice or delayed open reaches it afterwards. Main
// thread only.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "tangent/TGBrowserView.h"
#include "tangent/TGModalViewController.h"
#include "tangent/TGRedirectFollower.h"

namespace platform {
class MoviePlayerController;
class MoviePlayerViewController;
} // namespace platform

namespace tangent {

class TGAdEventCollection;
class TGDelegateAdaptor;
class TGStateModifier;

class TGActionController final : public TGRedirectFollowerController,
                                 public TGBrowserController,
                                 public TGModalViewControllerDelegate,
                                 public std::enable_shared_from_this<TGActionController> {
public:
    // Click action numbers.
    static constexpr int kActionNone = -1;
    static constexpr int kActionYoutube = 0;
    static constexpr int kActionVideo = 1;
    static constexpr int kActionUri = 2;
    static constexpr int kActionNative = 3;
    static constexpr int kActionTel = 4;
    static constexpr int kActioniTunes = 5;
    static constexpr int kActionGMap = 6;
    static constexpr int kActionApplication = 7;

    static constexpr double kNativeRetryDelay = 2.0;
    static constexpr double kTimeoutInterval = 60.0;

    // initWithStateModifier:delegateAdaptor:.
    static std::shared_ptr<TGActionController> create(std::weak_ptr<TGStateModifier> stateModifier,
                                                      std::weak_ptr<TGDelegateAdaptor> delegateAdaptor);
    ~TGActionController() override;

    void handleURL(const platform::URL& url, const std::optional<platform::URL>& alternateURL,
                   const std::optional<std::string>& clickType, bool isFullScreen);
    void stop();
    void rotate() {}

    // The tables.
    static int clickActionForURL(const platform::URL& url);
    static int clickActionForType(const std::optional<std::string>& type);
    static int clickActionForURLTypeString(const platform::URL& url, const std::optional<std::string>& type);
    static std::optional<std::string> extractParamFromUrl(std::string_view name, const platform::URL& url);

    void doAction(int action, const platform::URL& url, bool followRedirects);

    // The ad view's state operations, through the controller.
    std::shared_ptr<TGAdEventCollection> adEventCollection() const;
    void setCurrentSyncState(int state);
    void errorOccured() { setCurrentViewState(-1); }
    int currentViewState() const { return currentViewState_; }
    void setCurrentViewState(int state);

    // TGRedirectFollowerController.
    bool shouldFollowRedirect(const platform::URL& url) override;
    void connectionSucceededWithStatusCode(const platform::URL& url, int statusCode) override;
    void connectionFailedWithError(const std::optional<platform::URL>& url,
                                   const std::optional<platform::Error>& error) override;

    // TGBrowserController and the browser's web view.
    void browserDismissalRequested() override { hideBrowser(); }
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest& request,
                                                         platform::WebViewNavigationType type) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;

    // TGModalViewControllerDelegate.
    void modalViewWillAppear(bool animated) override;
    void modalViewDidAppear(bool animated) override;
    void modalViewWillDisappear(bool animated) override;
    void modalViewDidDisappear(bool animated) override;
    void modalViewBeganAnimation() override;
    void modalViewFinishedAnimation() override;

    // Accessors.
    const std::optional<platform::URL>& currentUrl() const { return currentUrl_; }
    const std::optional<platform::URL>& alternateUrl() const { return alternateUrl_; }
    const std::optional<std::string>& clickType() const { return clickType_; }
    bool isFullScr() const { return isFullScr_; }
    int clickAction() const { return clickAction_; }
    const std::shared_ptr<TGBrowserView>& browserView() const { return browserView_; }
    const std::shared_ptr<TGModalViewController>& modalViewController() const { return modalViewController_; }
    const std::shared_ptr<TGRedirectFollower>& redirectFollower() const { return redirectFollower_; }
    const std::shared_ptr<platform::MoviePlayerController>& mpc() const { return mpc_; }
    const std::shared_ptr<platform::MoviePlayerViewController>& mpvc() const { return mpvc_; }

    void initializeBrowser(bool show);
    void showBrowser();
    void hideBrowser();

private:
    TGActionController(std::weak_ptr<TGStateModifier> stateModifier, std::weak_ptr<TGDelegateAdaptor> adaptor)
        : stateModifier_(std::move(stateModifier)), delegateAdaptor_(std::move(adaptor)) {}

    // Handlers of the action table.
    void handleYoutubeAction(const platform::URL& url);
    void handleVideoAction(const platform::URL& url);
    void handleUriAction(const platform::URL& url);
    void handleNativeAction(const platform::URL& url);
    void doHandleNativeAction(const platform::URL& url);
    void handleTelAction(const platform::URL& url);
    void handleiTunesAction(const platform::URL& url);
    void handleGMapAction(const platform::URL& url);
    void handleApplicationAction(const platform::URL& url);

    // Notifications.
    void listenForApplicationCallbacks();
    void observe(std::string_view name, const void* sender = nullptr);
    void removeAllEventObservers();
    void notificationCallback(const platform::Notification& notification);
    void startMoviePlayback();
    void moviePlaybackDidStop(const platform::Dictionary& userInfo);
    void stopMoviePlayback();
    void recievedInactiveNotification(const platform::Dictionary& userInfo);

    // Writes the messages to the failed-click record and closes it.
    void recordFailedClick(const std::vector<std::pair<std::string, std::optional<std::string>>>& messages);
    void cannotOpenPage();
    bool adIsLeaving() const;
    void openURL(const platform::URL& url);

    int currentViewState_ = 0;
    int currentSyncState_ = 0;
    std::weak_ptr<TGStateModifier> stateModifier_;
    std::weak_ptr<TGDelegateAdaptor> delegateAdaptor_;
    std::optional<platform::URL> currentUrl_;
    std::optional<std::string> clickType_;
    bool isFullScr_ = false;
    int clickAction_ = kActionNone;
    std::optional<platform::URL> alternateUrl_;
    std::shared_ptr<platform::MoviePlayerController> mpc_;
    std::shared_ptr<platform::MoviePlayerViewController> mpvc_;
    std::shared_ptr<platform::ViewController> mpvcPresenter_;
    std::shared_ptr<TGModalViewController> modalViewController_;
    std::shared_ptr<TGBrowserView> browserView_;
    std::shared_ptr<TGRedirectFollower> redirectFollower_;
    std::vector<platform::NotificationCenter::ObserverToken> observers_;
};

} // namespace tangent
