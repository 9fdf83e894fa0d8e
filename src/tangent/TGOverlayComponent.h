#pragma once
// TGOverlayComponent: the display component of an interstitial ad. The ad's web view sits
// under a navigation bar titled "Advertisement" with a Dismiss button, inside a full-screen
// view that a TGModalViewController presents modally. beginDisplayInView() marks the ad shown
// (inactiveState) and presents it with the widget's transition; the Dismiss button, the page's
// dismiss command or the ad view's endDisplay() (the widget's auto-dismiss timer) take it down
// animated (inactiveState, dismissingState, then dismissedState when it has disappeared), and
// stop() ends it without animation. The ad is protected while a presentation or dismissal
// animates.
//
// Ownership: the ad view owns its component; the component owns its modal view controller,
// bar, indicator and the web view, and holds the ad view and the adaptor weakly. After stop()
// it changes no state and is off screen. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "tangent/TGComponent.h"
#include "tangent/TGModalViewController.h"

namespace tangent {

class TGOverlayComponent final : public TGComponent, public TGModalViewControllerDelegate {
public:
    static constexpr double kNavBarHeight = 48.0;
    static constexpr const char* kDefaultTitle = "Advertisement";
    static constexpr const char* kDefaultDismiss = "Dismiss";

    // initWithWebView:stateModifier:delegateAdaptor:.
    static std::shared_ptr<TGOverlayComponent> create(std::shared_ptr<platform::WebView> webView,
                                                      std::weak_ptr<TGStateModifier> stateModifier,
                                                      const std::shared_ptr<TGDelegateAdaptor>& adaptor);
    ~TGOverlayComponent() override;

    // TGComponent.
    std::shared_ptr<platform::WebView> lanternView() const override { return webContent_; }
    void render() override;
    void stop() override;
    void setAdBackgroundColor(std::optional<platform::Color> colour) override;
    // TGLanternClient.
    void rotate() override;
    void beginDisplayInView(const std::shared_ptr<platform::View>& container) override;
    void setWorking(bool working) override;
    void endDisplay() override;
    bool respondsToLantern(std::string_view selector) const override;
    bool lanternCommand(std::string_view selector, const TGLanternArguments& arguments) override;
    std::shared_ptr<platform::View> stopForHandOff() override;

    // The page's dismissal: "false" is the user's (counted), anything else automatic.
    void lanternDismiss(const std::string& flag);
    void lanternStatusBarVisible(const std::string& flag);
    void dismissButtonClicked();
    void dismissOverlay();
    void dismissAnimationStoped();
    void layoutSubviews() override;

    // TGModalViewControllerDelegate.
    void modalViewWillAppear(bool animated) override;
    void modalViewDidAppear(bool animated) override;
    void modalViewWillDisappear(bool animated) override;
    void modalViewDidDisappear(bool animated) override;
    void modalViewBeganAnimation() override;
    void modalViewFinishedAnimation() override;

    const std::shared_ptr<TGModalViewController>& modalViewController() const { return modalViewController_; }
    const std::shared_ptr<platform::NavigationBar>& navBar() const { return navBar_; }
    const std::shared_ptr<platform::WebView>& webContent() const { return webContent_; }
    const std::shared_ptr<platform::ActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }
    const std::shared_ptr<platform::BarButtonItem>& dismissButton() const { return dismissButton_; }
    platform::Point realCenter() const { return realCenter_; }

private:
    TGOverlayComponent(const platform::Rect& frame, std::shared_ptr<platform::WebView> webView,
                       std::weak_ptr<TGStateModifier> stateModifier, std::weak_ptr<TGDelegateAdaptor> adaptor);
    void setViewState(int state);

    std::shared_ptr<TGModalViewController> modalViewController_;
    std::shared_ptr<platform::NavigationBar> navBar_;
    std::shared_ptr<platform::WebView> webContent_;
    std::shared_ptr<platform::ActivityIndicatorView> activityIndicator_;
    std::shared_ptr<platform::Label> label_;
    std::shared_ptr<platform::BarButtonItem> dismissButton_;
    platform::Point realCenter_;
    bool stopped_ = false;
};

} // namespace tangent
