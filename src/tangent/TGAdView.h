#pragma once
// TGAdView: one Tangent ad. It owns the web view in which the ad's markup runs inside a page
// made from the support files, carries the ad's view, action and sync states and reports
// their changes to its listener (the widget), and is the native end of the script bridge:
// the page's "tgc" navigations become calls of the handlers in an explicit command table.
// On the first bridge call it creates its display component, which puts the web view on
// screen.
//
// View state: setCurrentViewState() changes the actual state (never after dismissedState);
// while a click is handled the change is held back and replayed when the click ends;
// otherwise it is reported at once. Entering activeState protects the ad, leaving it for
// inactiveState unprotects it.
//
// Ownership: the widget owns its ad views (shared_ptr); the listener and the web view's
// delegate link are weak. endDisplay() ends the ad: the component stops, the web view is
// dropped and any protection still held is released; after it no bridge call arrives and no
// location update reaches the page.
// Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/runloop/WaitingMessages.h"
#include "platform/ui/Geometry.h"
#include "platform/web/WebView.h"
#include "tangent/TGAdStates.h"
#include "tangent/TGLocation.h"

namespace tangent {

class TGActionController;
class TGAdEventCollection;
class TGAdView;
class TGComponent;
class TGDelegateAdaptor;
class TGMRComponent;

// Arguments of one bridge command: the pieces of the URL's query, percent-decoded; missing
// pieces are nullopt.
using TGLanternArguments = std::vector<std::optional<std::string>>;

class TGStateListener {
public:
    virtual ~TGStateListener() = default;
    virtual void tgAdViewDidUpdateSyncState(TGAdView& adView, int syncState) = 0;
    virtual void tgAdViewDidTransitionFromViewState(TGAdView& adView, int fromState, int toState,
                                                    const std::optional<platform::Error>& error) = 0;
};

// How display components and click handling change an ad's states.
class TGStateModifier {
public:
    virtual ~TGStateModifier() = default;
    virtual void errorOccured(const platform::Error& error) = 0;
    virtual bool currentSyncState() const = 0;
    virtual void setCurrentSyncState(int state) = 0;
    virtual int currentViewState() const = 0;
    virtual void setCurrentViewState(int state) = 0;
    virtual int actualViewState() const = 0;
    virtual int currentActionState() const = 0;
    virtual void setCurrentActionState(int state) = 0;
    virtual std::shared_ptr<TGAdEventCollection> adEventCollection() const = 0;
};

// A display component: shows the ad's web view and handles the page's commands that concern
// it. lanternCommand() answers false for a command the component has no handler for.
class TGLanternClient {
public:
    virtual ~TGLanternClient() = default;
    virtual void rotate() = 0;
    virtual void beginDisplayInView(const std::shared_ptr<platform::View>& container) = 0;
    virtual void setWorking(bool working) = 0;
    virtual void endDisplay() = 0;
    virtual bool respondsToLantern(std::string_view selector) const = 0;
    virtual bool lanternCommand(std::string_view selector, const TGLanternArguments& arguments) = 0;
    // Takes the component off screen because another one takes the ad over (a rich-media
    // hand-off): whatever it put on screen (shade, overlay, modal presentation) goes and its
    // touch blocking ends; after it the component changes no state. The ad's states and its
    // web view (still loaded, still the ad view's) are left to the new component. Answers the
    // view the ad was shown in, or null when it was not on screen.
    virtual std::shared_ptr<platform::View> stopForHandOff() { return nullptr; }
};

class TGAdView final : public TGStateModifier,
                       public platform::WebViewDelegate,
                       public TGLocationListener,
                       public std::enable_shared_from_this<TGAdView> {
public:
    static constexpr std::string_view kBridgeScheme = "tgc";
    static constexpr std::string_view kContinueActionQueue = "Lantern.continueActionQueue();";

    static std::shared_ptr<TGAdView> create(const platform::Rect& frame, std::shared_ptr<TGDelegateAdaptor> adaptor,
                                            std::weak_ptr<TGStateListener> listener);
    ~TGAdView() override;
    TGAdView(const TGAdView&) = delete;
    TGAdView& operator=(const TGAdView&) = delete;

    // Builds the page around `markup` and loads it; false when the support files are missing.
    bool loadAdContent(const std::string& markup);
    // The script and style parts of the page.
    std::optional<std::string> js();
    std::optional<std::string> css();

    void beginDisplayInView(const std::shared_ptr<platform::View>& container);
    void endDisplay();
    void setWorking(bool working);
    void rotate();
    void fireChangeOrientationToJS(int orientation);
    // Evaluates `script` in the web view; nothing for an empty script or without a web view.
    std::string evalJS(std::string_view script);

    // TGStateModifier.
    void errorOccured(const platform::Error& error) override;
    bool currentSyncState() const override { return syncDepth_ != 0; }
    void setCurrentSyncState(int state) override;
    int currentViewState() const override { return reportedViewState_; }
    void setCurrentViewState(int state) override;
    int actualViewState() const override { return currentViewState_; }
    int currentActionState() const override { return currentActionState_; }
    void setCurrentActionState(int state) override;
    // The adaptor's event collection.
    std::shared_ptr<TGAdEventCollection> adEventCollection() const override;

    // TGLocationListener: fixes and location status to the page.
    void locationUpdated(const platform::Location& location) override;
    void locationUpdateEncounteredAnError() override;
    void locationDisabled() override;

    // Page navigation and the bridge.
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) override;
    // Runs the command that `url` names; false when no handler takes it.
    bool bridgeUrl(const platform::URL& url);

    const std::shared_ptr<TGDelegateAdaptor>& delegateAdaptor() const { return delegateAdaptor_; }
    const std::shared_ptr<TGLanternClient>& adWrapper() const { return adWrapper_; }
    const std::shared_ptr<TGActionController>& actionController() const { return actionController_; }
    void setAdWrapper(std::shared_ptr<TGLanternClient> component) { adWrapper_ = std::move(component); }
    const std::shared_ptr<platform::WebView>& adWebView() const { return adWebView_; }
    const platform::Rect& adContainerRect() const { return adContainerRect_; }
    const std::vector<int>& pendingViewStates() const { return pendingViewStates_; }
    bool isInterstitial() const { return interstitial_; }
    // The component for the first bridge call: the overlay for interstitials, else the banner
    // component.
    void constructTangentComponent();
    void constructTangentWebComponent();
    void constructTangentInterstitialComponent();
    // The rich-media component for a "vellum" hand-off (not yet made the ad's component).
    std::shared_ptr<TGMRComponent> constructVellumComponent();
    // The adaptor's transition, autorotation and colours.
    void setGenericComponentProperties(TGComponent& component);

private:
    TGAdView(std::shared_ptr<TGDelegateAdaptor> adaptor, std::weak_ptr<TGStateListener> listener);
    void setUp(const platform::Rect& frame);
    void transitionViewFromStateToState(int fromState, int toState);
    void reportTransition(int fromState, int toState, const std::optional<platform::Error>& error);
    // Handlers of the command table.
    void lanternDocumentLoadStatus(const TGLanternArguments& arguments);
    void lanternBeginAdInteraction(const TGLanternArguments& arguments);
    void lanternEndAdInteraction(const TGLanternArguments& arguments);
    void lanternResize(const TGLanternArguments& arguments, std::string_view selector, std::size_t callbackIndex);
    void lanternOpenUri(const TGLanternArguments& arguments);
    void lanternLogMessage(const TGLanternArguments& arguments);
    void forwardToComponent(std::string_view selector, const TGLanternArguments& arguments);
    // The current fix to the page, or that location is off.
    void sendLocationToPage();
    // Ends the ad from the page's unload once it is on screen.
    void endFromPage();

    int currentViewState_ = uninitializedState;
    int reportedViewState_ = uninitializedState;
    std::vector<int> pendingViewStates_;
    int currentActionState_ = inactiveState;
    int syncDepth_ = 0;
    std::shared_ptr<TGDelegateAdaptor> delegateAdaptor_;
    std::weak_ptr<TGStateListener> stateListener_;
    std::shared_ptr<TGLanternClient> adWrapper_;
    std::shared_ptr<TGActionController> actionController_;
    std::shared_ptr<platform::WebView> adWebView_;
    platform::Rect adContainerRect_;
    bool interstitial_ = false;
    bool ended_ = false;
    // Tells those who wait for rest that the page's library holds a command it will send on
    // its next turn (see setUp).
    std::unique_ptr<platform::WaitingMessages::Registration> waitingCommands_;
};

} // namespace tangent
