#pragma once
// TGWebComponent: shows a Tangent banner in place and lets its page grow it over the
// application and shrink it back. beginDisplayInView() puts the ad's web view into the widget
// and marks the ad inactiveState (shown); the page's begin and end interaction commands move
// it between inactiveState and activeState; its resize commands expand the banner through the
// shade view (activeState) or collapse it (inactiveState once the collapse has ended). While a
// resize runs the application takes no touches and the ad is protected; a resize request that
// arrives meanwhile is dropped. stop() (also endDisplay()) takes it off screen and ends the
// ad (dismissingState, then dismissedState).
//
// Ownership: the ad view owns its component; the component holds the ad view weakly and owns
// the web view, its activity indicator and its shade view. A resize still running at stop()
// gives back its touch blocking at once. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ActivityIndicatorView.h"
#include "tangent/TGComponent.h"
#include "tangent/TGShadeView.h"

namespace tangent {

class TGWebComponent final : public TGComponent, public TGShadeViewDelegate {
public:
    // initWithWebView:stateModifier:languageDelegate:.
    static std::shared_ptr<TGWebComponent> create(std::shared_ptr<platform::WebView> webView,
                                                  std::weak_ptr<TGStateModifier> stateModifier,
                                                  std::weak_ptr<TGDelegateAdaptor> languageDelegate);
    ~TGWebComponent() override;

    // 0 at banner size, 1 expanded.
    int status = 0;

    // TGComponent.
    std::shared_ptr<platform::WebView> lanternView() const override { return content_; }
    void render() override { setHidden(false); }
    void stop() override;
    void setAdBackgroundColor(std::optional<platform::Color> colour) override;
    // TGLanternClient.
    void rotate() override;
    void beginDisplayInView(const std::shared_ptr<platform::View>& container) override;
    void setWorking(bool working) override;
    bool respondsToLantern(std::string_view selector) const override;
    bool lanternCommand(std::string_view selector, const TGLanternArguments& arguments) override;
    std::shared_ptr<platform::View> stopForHandOff() override;

    // A resize to (width, height); a size the banner already contains is a collapse.
    void changeSizeWidth(int width, int height, int transition, const std::string& callback);
    // TGShadeViewDelegate.
    void shadeOpenBegining(TGShadeView& shadeView) override;
    void shadeOpenFinished(TGShadeView& shadeView) override;
    void shadeCloseBegining(TGShadeView& shadeView) override;
    void shadeClosedFinished(TGShadeView& shadeView) override;

    const std::shared_ptr<platform::WebView>& content() const { return content_; }
    const std::shared_ptr<platform::ActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }
    const std::shared_ptr<TGShadeView>& shadeView() const { return shadeView_; }
    bool onAnimation() const { return onAnimation_; }

private:
    TGWebComponent(std::shared_ptr<platform::WebView> webView, std::weak_ptr<TGStateModifier> stateModifier,
                   std::weak_ptr<TGDelegateAdaptor> languageDelegate);
    void animationEnded(TGShadeView& shadeView);

    std::shared_ptr<platform::WebView> content_;
    std::shared_ptr<platform::ActivityIndicatorView> activityIndicator_;
    std::shared_ptr<TGShadeView> shadeView_;
    bool onAnimation_ = false;
    bool stopped_ = false;
};

} // namespace tangent
