#pragma once
// MRAdNetworkPromoSlider: the view a slot view puts in front of an ad when the user leaves it
// (an interstitial closed, a click-through). The slot view finishes the action only when the
// slider reports back through promoDidDisplay. Promotions are switched off here
// (promoSliderEnabled answers NO): the slider is never shown and reports back at once,
// inside displayPromoAnimated, so it stays the one path by which both actions finish.
//
// Ownership: made with make_shared and owned by its slot view; the delegate is held weakly.
// Main thread only.
#include <memory>
#include <optional>

#include "platform/foundation/Value.h"
#include "platform/ui/Button.h"
#include "platform/ui/View.h"

namespace vellum {

class MRAdNetworkPromoSlider;

// The slider's delegate; promoDidDisplay is its one optional method.
class MRAdNetworkPromoSliderDelegate {
public:
    virtual ~MRAdNetworkPromoSliderDelegate() = default;
    virtual void promoDidDisplay(MRAdNetworkPromoSlider& slider) = 0;
};

class MRAdNetworkPromoSlider : public platform::View {
public:
    static constexpr double kScrollDuration = static_cast<double>(0.2f);
    static constexpr double kRemoveIdleDuration = 0.5;

    static bool promoSliderEnabled() { return false; }
    static std::shared_ptr<MRAdNetworkPromoSlider> create(const platform::Rect& frame);

    void addToView(platform::View& view, int clipType);
    void displayPromoAnimated(bool animated);
    void tellDelegatePromoDidDisplay();
    // Clips the slider's drawing to its clip type (runs only while it is shown).
    void drawRect(const platform::Rect& rect) override;

    std::shared_ptr<platform::Button> promoSlideButton() const { return promoSlideButton_; }
    int clipType() const { return clipType_; }
    double scrollDuration() const { return scrollDuration_; }
    double removeIdleDuration() const { return removeIdleDuration_; }
    void setDelegate(std::weak_ptr<MRAdNetworkPromoSliderDelegate> delegate) { delegate_ = std::move(delegate); }
    const std::optional<platform::Dictionary>& userInfo() const { return userInfo_; }
    void setUserInfo(std::optional<platform::Dictionary> info) { userInfo_ = std::move(info); }

    explicit MRAdNetworkPromoSlider(const platform::Rect& frame);

private:
    std::shared_ptr<platform::Button> promoSlideButton_;
    int clipType_ = 0;
    double scrollDuration_ = kScrollDuration;
    double removeIdleDuration_ = kRemoveIdleDuration;
    std::weak_ptr<MRAdNetworkPromoSliderDelegate> delegate_;
    std::optional<platform::Dictionary> userInfo_;
};

} // namespace vellum
