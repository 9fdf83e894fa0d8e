#pragma once
// TGWebComponent: shows a Tangent banner in place. beginDisplayInView() puts the ad's web
// view into the widget and marks the ad inactiveState (shown); the page's begin and end
// interaction commands move it between inactiveState and activeState; stop() (also
// endDisplay()) takes it off screen and ends the ad (dismissingState, then dismissedState).
//
// Ownership: the ad view owns its component; the component holds the ad view weakly and the
// web view strongly. Main thread only.
#include <memory>
#include <optional>

#include "platform/ui/Color.h"
#include "platform/ui/View.h"
#include "tangent/TGAdView.h"

namespace tangent {

class TGDelegateAdaptor;

class TGWebComponent final : public platform::View, public TGLanternClient {
public:
    static constexpr int kDefaultTransition = 3;

    static std::shared_ptr<TGWebComponent> create(std::shared_ptr<platform::WebView> webView,
                                                  std::weak_ptr<TGStateModifier> stateModifier,
                                                  std::weak_ptr<TGDelegateAdaptor> languageDelegate);
    ~TGWebComponent() override;

    // The adaptor's transition, autorotation and colours.
    void setGenericProperties(TGDelegateAdaptor& adaptor);
    int transition = kDefaultTransition;
    bool autorotate = false;
    std::optional<platform::Color> adForegroundColor;
    platform::Color adBackgroundColor = platform::Color::clearColor();
    // 0 at banner size, 1 expanded.
    int status = 0;

    // TGLanternClient.
    void rotate() override {}
    void beginDisplayInView(const std::shared_ptr<platform::View>& container) override;
    void setWorking(bool) override {}
    void endDisplay() override { stop(); }
    bool respondsToLantern(std::string_view selector) const override;
    bool lanternCommand(std::string_view selector, const TGLanternArguments& arguments) override;

    void stop();
    const std::shared_ptr<platform::WebView>& content() const { return content_; }

private:
    explicit TGWebComponent(std::shared_ptr<platform::WebView> webView);
    // Sets the ad's view state, forwarding only the changes a component may make.
    void setCurrentViewState(int state);

    std::shared_ptr<platform::WebView> content_;
    std::weak_ptr<TGStateModifier> stateModifier_;
    std::weak_ptr<TGDelegateAdaptor> languageDelegate_;
    bool stopped_ = false;
};

} // namespace tangent
