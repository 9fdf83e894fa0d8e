#include "promo/PopupController.h"

#include "platform/runloop/RunLoop.h"

namespace promo {

PopupController::PopupController() : platform::View(platform::Rect{}) {}

void PopupController::initPopUp() {
    popStatus_ = kIdle;
}

void PopupController::popUpId(int appId, const std::string& companyName, const std::string& launchImage,
                              bool orientationIsLandscape) {
    appId_ = appId;
    companyName_ = companyName;
    launchImage_ = launchImage;
    orientation_ = orientationIsLandscape;
    popStatus_ = kWaitingForReply;
    // No promotion request yet: answer as a reply without a promotion and with ads off.
    std::weak_ptr<View> weakSelf = sharedView();
    platform::RunLoop::main().perform([weakSelf] {
        auto self = std::static_pointer_cast<PopupController>(weakSelf.lock());
        if (!self)
            return;
        self->popStatus_ = kIdle;
        if (auto delegate = self->delegate())
            delegate->removeSplashPage(self, false);
    });
}

} // namespace promo
