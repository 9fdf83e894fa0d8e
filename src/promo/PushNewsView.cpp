#include "promo/PushNewsView.h"

namespace promo {

bool isPush = false;

PushNewsView::PushNewsView() : platform::View(platform::Rect{}) {}

void PushNewsView::getNewsData() {}

void PushNewsView::newsButtonFrame(const platform::Rect& frame) {
    newsButton_ = std::make_shared<platform::Button>(frame, platform::ButtonType::Custom);
    std::weak_ptr<View> weakSelf = sharedView();
    newsButton_->addAction(
        [weakSelf](platform::Control&) {
            if (auto self = std::static_pointer_cast<PushNewsView>(weakSelf.lock()))
                self->showNews();
        },
        platform::ControlEvent::TouchUpInside, this);
    // No news service yet: the button stays hidden, as it does while the device is offline.
    newsButton_->setHidden(true);
}

void PushNewsView::showNews() {
    isClosed_ = false;
    if (!newsImage_)
        isPush = true; // wait for the image, as the panel does before it has arrived
}

void PushNewsView::closePush() {
    auto host = delegate();
    if (!host)
        return;
    host->hideNews(*this);
    isClosed_ = true;
    isPush = false;
}

} // namespace promo
