#include "vellum/richmedia/MRAdNetworkPromoSlider.h"

#include "vellum/richmedia/VellumClipShapes.h"

namespace vellum {

MRAdNetworkPromoSlider::MRAdNetworkPromoSlider(const platform::Rect& frame) : platform::View(frame) {
    setBackgroundColor(platform::Color::clearColor());
    setOpaque(false);
}

std::shared_ptr<MRAdNetworkPromoSlider> MRAdNetworkPromoSlider::create(const platform::Rect& frame) {
    auto slider = std::make_shared<MRAdNetworkPromoSlider>(frame);
    slider->promoSlideButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
    slider->promoSlideButton_->setOpaque(false);
    slider->addSubview(slider->promoSlideButton_);
    return slider;
}

void MRAdNetworkPromoSlider::addToView(platform::View& view, int clipType) {
    if (!promoSliderEnabled())
        return;
    setFrame(platform::Rect({0, 0}, view.bounds().size));
    clipType_ = clipType;
    setClipsToBounds(true);
    view.addSubview(sharedView());
    view.bringSubviewToFront(this);
}

void MRAdNetworkPromoSlider::displayPromoAnimated(bool) {
    // With promotions off there is nothing to show: the delegate hears at once.
    tellDelegatePromoDidDisplay();
}

void MRAdNetworkPromoSlider::drawRect(const platform::Rect& rect) {
    clipContextForClipType(*this, clipType_);
    platform::View::drawRect(rect);
}

void MRAdNetworkPromoSlider::tellDelegatePromoDidDisplay() {
    if (auto delegate = delegate_.lock())
        delegate->promoDidDisplay(*this);
}

} // namespace vellum
