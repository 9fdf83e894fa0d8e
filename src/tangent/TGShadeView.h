#pragma once
// TGShadeView: grows a banner's web view (the shade) over the application and shrinks it
// back. On the first expansion it lifts the shade out of its holder (the banner component)
// into itself, a full-screen layer put into the view of the holder's root view controller,
// over a backdrop that darkens as the shade grows; it animates the shade to the requested
// height (upwards when there is more room above the banner, else downwards) and, on collapse,
// animates it back over the banner and returns it to the holder.
//
// Every expansion or collapse request ends with exactly one shadeOpenFinished or
// shadeClosedFinished to the delegate: at once when there is nothing to animate, else when
// the animation stops. A page callback script given with the request is run in the shade.
//
// Ownership: the component owns its shade view; the shade view holds the delegate, the holder
// and the shade weakly, and the backdrop and indicator strongly. stop() puts the shade back
// into the holder with its original transform; after it the shade view is off screen until
// the next expansion. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/View.h"

namespace tangent {

class TGShadeView;

class TGShadeViewDelegate {
public:
    virtual ~TGShadeViewDelegate() = default;
    virtual void shadeOpenBegining(TGShadeView& shadeView) = 0;
    virtual void shadeOpenFinished(TGShadeView& shadeView) = 0;
    virtual void shadeCloseBegining(TGShadeView& shadeView) = 0;
    virtual void shadeClosedFinished(TGShadeView& shadeView) = 0;
};

class TGShadeView final : public platform::View {
public:
    static constexpr double kAnimationSeconds = 0.75;
    static constexpr double kBackdropAlpha = 0.55;
    static constexpr const char* kOpenAnimation = "eatAndGetFat";
    static constexpr const char* kCloseAnimation = "playAndGetSkinny";

    // initShade:containedIn:andDelegate:.
    static std::shared_ptr<TGShadeView> initShade(const std::shared_ptr<platform::View>& shade,
                                                  const std::shared_ptr<platform::View>& holder,
                                                  std::weak_ptr<TGShadeViewDelegate> delegate);
    ~TGShadeView() override;

    void deviceHasRotated(int orientation);
    void updateFrame();
    // The frame the shade takes for `height`: `view` (the holder) grown within `container`
    // (this shade view), see the class comment.
    platform::Rect expandedFrameForView(platform::View& view, double height, platform::View& container);
    void eatAndGetFat(double height, int transition, const std::string& callback);
    void playAndGetSkinnyInStyle(int transition, const std::string& callback);
    void animationDidStop(const std::string& animationID, bool finished, const std::string& context);
    void stop();
    void layoutSubviews() override;

    std::shared_ptr<platform::View> shade() const { return shade_.lock(); }
    std::shared_ptr<platform::View> shadeHolder() const { return shadeHolder_.lock(); }
    const std::shared_ptr<platform::View>& shadeBackground() const { return shadeBackground_; }
    const std::shared_ptr<platform::ActivityIndicatorView>& indicator() const { return indicator_; }
    int lastRequestedHeight() const { return lastRequestedHeight_; }
    int status() const { return status_; }
    // Whether the shade is lifted into this view.
    bool shadeIsInside() const;

private:
    TGShadeView();
    // Adds this view to the holder's root view (its window's when no controller owns it) and
    // moves the shade and the indicator in, the shade where the banner is.
    void liftShade();
    // The holder's frame in this view's coordinates.
    platform::Rect holderFrameHere() const;
    void centreIndicatorOnShade();
    void runCallback(const std::string& script);
    void finishOpen();

    std::weak_ptr<TGShadeViewDelegate> shadeViewDelegate_;
    std::weak_ptr<platform::View> shadeHolder_;
    std::weak_ptr<platform::View> shade_;
    std::shared_ptr<platform::View> shadeBackground_;
    std::shared_ptr<platform::ActivityIndicatorView> indicator_;
    platform::AffineTransform shadeTransformation_;
    int lastRequestedHeight_ = 0;
    int status_ = 0;
    // The shade's own accessibility label while it is lifted and carries the banner's.
    std::optional<std::string> shadeOwnLabel_;
};

} // namespace tangent
