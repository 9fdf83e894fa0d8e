#pragma once
// TGComponent: the base of the Tangent display components, the views that put an ad's web
// view on screen (TGWebComponent for banners, TGOverlayComponent for interstitials). It
// carries what every component shares: the transition style handed to presentations, the
// ad's colours and autorotation, and the two delegates: the ad view whose states it changes
// (the state modifier) and the adaptor that gives button and title texts.
//
// State changes go through the state modifier. A component may move a shown ad only between
// inactiveState and activeState with setCurrentViewState(); its own display steps (shown,
// dismissing, dismissed) are set on the modifier directly.
//
// Ownership: the ad view owns its component; the component holds the ad view and the adaptor
// weakly. endDisplay() calls stop(); after stop() the component changes no state. Main thread
// only.
#include <memory>
#include <optional>

#include "platform/ui/Color.h"
#include "platform/ui/View.h"
#include "tangent/TGAdView.h"

namespace tangent {

class TGDelegateAdaptor;

class TGComponent : public platform::View, public TGLanternClient {
public:
    static constexpr int kDefaultTransition = 3;

    ~TGComponent() override;

    // The web view the component shows.
    virtual std::shared_ptr<platform::WebView> lanternView() const = 0;
    virtual void render() {}
    virtual void errorOccured(const platform::Error&) {}
    virtual void stop() {}

    // TGLanternClient: rotate does nothing, endDisplay stops.
    void rotate() override {}
    void endDisplay() override { stop(); }
    bool respondsToLantern(std::string_view) const override { return false; }
    bool lanternCommand(std::string_view, const TGLanternArguments&) override { return false; }

    bool tabBarHidden() const { return true; }
    bool statusBarHidden() const;
    int getCurrentOrientation() const;

    // Forwards to the state modifier.
    void setCurrentSyncState(int state);
    // Forwards only inactiveState while the ad is in activeState and activeState while it is
    // in inactiveState; every other request is dropped.
    void setCurrentViewState(int state);

    std::shared_ptr<TGStateModifier> stateModifier() const { return stateModifer.lock(); }
    std::shared_ptr<TGDelegateAdaptor> languageDelegate() const { return languageDelegate_.lock(); }

    // Colours; a missing background is stored as the clear colour.
    const std::optional<platform::Color>& adForegroundColor() const { return adForegroundColor_; }
    void setAdForegroundColor(std::optional<platform::Color> colour) { adForegroundColor_ = std::move(colour); }
    const platform::Color& adBackgroundColor() const { return adBackgroundColor_; }
    virtual void setAdBackgroundColor(std::optional<platform::Color> colour);

    int transition = kDefaultTransition;
    bool autorotate = false;

protected:
    // `className` names the component in its log lines.
    TGComponent(const char* className, const platform::Rect& frame, std::weak_ptr<TGStateModifier> stateModifier,
                std::weak_ptr<TGDelegateAdaptor> languageDelegate);
    // Drops both delegates (after stop, nothing is changed any more).
    void dropDelegates();

    std::weak_ptr<TGStateModifier> stateModifer;
    std::weak_ptr<TGDelegateAdaptor> languageDelegate_;

private:
    const char* className_;
    std::optional<platform::Color> adForegroundColor_;
    platform::Color adBackgroundColor_ = platform::Color::clearColor();
};

} // namespace tangent
