#pragma once
// TGMRComponent: shows a Vellum rich-media ad inside a Tangent ad. A Tangent page hands an
// ad over by navigating to a "vellum" URL ("vellum:launchAd?adID=<id>&adSlotType=<type>";
// "launchVellumAd" is the same command); the ad view then makes this component its display
// component. Once the rich-media engine has been initialised (TGAdWidget::initializeAdService),
// the component registers the ad's web view as a Vellum slot, populates a VellumAdView with
// the cached ad into it, shows and dismisses it, and turns the engine's callbacks into the
// Tangent ad's view, action and sync states; a hand-off on an ad already on screen keeps its
// state (it is not loading again). Without the engine a hand-off ends the ad
// (dismissingState, then dismissedState). A "vellum" URL is never loaded in the web view.
//
// Ownership: the ad view owns its component; the component holds the ad view weakly and owns
// the web view and the VellumAdView, whose delegate it is (held weakly by that view). After
// endDisplay() it changes no state. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/net/URLRequest.h"
#include "platform/ui/Geometry.h"
#include "tangent/TGAdView.h"
#include "vellum/richmedia/VellumAdView.h"

namespace tangent {

class TGAdEventCollection;

// The pieces of a hand-off URL.
struct TGVellumHandOff {
    std::string command;
    std::optional<std::string> adID;
    std::optional<std::string> adSlotType;
};

class TGMRComponent final : public TGLanternClient,
                            public vellum::VellumAdViewDelegate,
                            public std::enable_shared_from_this<TGMRComponent> {
public:
    static constexpr std::string_view kScheme = "vellum";

    // initWithWebView:stateModifier:containerFrame:interstitial:adSlotName:.
    static std::shared_ptr<TGMRComponent> create(std::shared_ptr<platform::WebView> webView,
                                                 std::weak_ptr<TGStateModifier> stateModifier,
                                                 const platform::Rect& containerFrame, bool interstitial,
                                                 std::string adSlotName);
    ~TGMRComponent() override;

    // Parses the hand-off URL's text (after "vellum:"); pairs with an empty name or value are
    // left out, other commands than the launch give no ad id.
    static TGVellumHandOff parseHandOff(std::string_view resourceSpecifier);

    // The page's "vellum" navigation; always false (never loaded).
    bool webViewShouldStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request);
    // Always false.
    bool launchVellumAd(platform::WebView& webView, const std::optional<std::string>& adID,
                        const std::optional<std::string>& adSlotType);
    void setVellumAdView(std::shared_ptr<vellum::VellumAdView> view);

    // TGLanternClient.
    void rotate() override {}
    void beginDisplayInView(const std::shared_ptr<platform::View>& container) override;
    void setWorking(bool) override {}
    void endDisplay() override;
    bool respondsToLantern(std::string_view selector) const override;
    bool lanternCommand(std::string_view selector, const TGLanternArguments& arguments) override;
    std::shared_ptr<platform::View> stopForHandOff() override;

    // VellumAdViewDelegate.
    std::optional<bool> adViewShouldHide(vellum::VellumAdView&) override { return true; }
    bool adViewDidBecomeAvailable(vellum::VellumAdView&) override;
    void adViewDidFinishRendering(vellum::VellumAdView&) override;
    void adViewWillExpand(vellum::VellumAdView&) override;
    void adViewWillCollapse(vellum::VellumAdView&) override;
    void adViewDidCollapse(vellum::VellumAdView&) override;
    void adViewWillDisplayEmbeddedBrowser(vellum::VellumAdView&) override;
    void adViewDidDisplayEmbeddedBrowser(vellum::VellumAdView&) override;
    void adViewDidDismissEmbeddedBrowser(vellum::VellumAdView&) override;
    void adViewWillDisplayInterstitial(vellum::VellumAdView&) override;
    void adViewWillDismissInterstitial(vellum::VellumAdView&) override;
    void adViewDidDismissInterstitial(vellum::VellumAdView&) override;
    std::optional<bool> adViewCustomInteractionInterrogator(vellum::VellumAdView&, const platform::URLRequest& request,
                                                            const std::string& host, const std::string& scheme,
                                                            unsigned navigationType,
                                                            const std::string& basePath) override;

    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::shared_ptr<vellum::VellumAdView>& vellumAdView() const { return vellumAdView_; }
    const std::string& adSlotName() const { return adSlotName_; }
    bool interstitial() const { return interstitial_; }

private:
    TGMRComponent() = default;
    std::shared_ptr<TGAdEventCollection> adEventCollection() const;
    void setViewState(int state);
    void endAd();

    std::weak_ptr<TGStateModifier> stateModifier_;
    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<vellum::VellumAdView> vellumAdView_;
    std::string adSlotName_;
    bool interstitial_ = false;
};

} // namespace tangent
