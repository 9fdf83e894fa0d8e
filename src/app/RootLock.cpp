// The root screen's pass-key panel and the way into the settings screen.
#include "app/FerrowickAppDelegate.h"
#include "app/RootViewController.h"
#include "app/SettingsView.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/NavigationController.h"

namespace app {
namespace {

constexpr const char* kShowPanelAnimation = "pass";
constexpr const char* kHidePanelAnimation = "view";
constexpr const char* kShakeAnimation = "identifier";
constexpr const char* kShakeContext = "shake";
constexpr double kShakeOffset = 10;
constexpr double kShakeDuration = 0.1;
constexpr double kShakeRepeats = 3;
constexpr const char* kFadePanelAnimation = "alpha";
constexpr const char* kFadePanelContext = "zero";
constexpr double kFadePanelDuration = 0.6;

std::string storedPassKey() {
    return platform::UserDefaults::standard().stringForKey(kPassKeyKey).value_or("");
}

void slide(platform::View& view, const char* animation, double dy, double duration) {
    platform::View::beginAnimations(animation);
    platform::View::setAnimationDuration(duration);
    view.setFrame(view.frame().offsetBy(0, dy));
    platform::View::commitAnimations();
}

} // namespace

void RootViewController::checkForAlert() {
    if (!isAlertNo) {
        // The launch pop-up or launch image is still up: look again in a second.
        auto self = sharedRoot();
        platform::RunLoop::main().performAfter(
            kAlertPollInterval, [self] { self->checkForAlert(); }, this, "checkForAlert");
        return;
    }
    if (storedPassKey().empty())
        return;
    pass1->becomeFirstResponder();
    slide(*passCodeView, kShowPanelAnimation, kPassCodeSlide, kPassCodeSlideDuration);
}

void RootViewController::passCodeDone() {
    if (pass1->text() == storedPassKey()) {
        locked_ = false;
        pass1->resignFirstResponder();
        slide(*passCodeView, kHidePanelAnimation, -kPassCodeSlide, kPassCodeSlideDuration);
        fileTable->setHidden(false);
        if (auto nav = navigationController())
            nav->navigationBar().setUserInteractionEnabled(true);
        return;
    }
    pass1->setText("");
    auto self = sharedRoot();
    platform::RunLoop::main().perform([self] { self->shakeEffect(); });
}

void RootViewController::shakeEffect() {
    passCodeView->setTransform(platform::AffineTransform::makeTranslation(kShakeOffset, 0));
    platform::View::beginAnimations(kShakeAnimation, kShakeContext);
    platform::View::setAnimationDuration(kShakeDuration);
    platform::View::setAnimationRepeatCount(kShakeRepeats);
    platform::View::setAnimationRepeatAutoreverses(true);
    passCodeView->setTransform(platform::AffineTransform::makeScale(1, 1));
    platform::View::commitAnimations();
}

void RootViewController::done() {
    platform::View::beginAnimations(kFadePanelAnimation, kFadePanelContext);
    platform::View::setAnimationDuration(kFadePanelDuration);
    passCodeView->setAlpha(0);
    platform::View::commitAnimations();
}

void RootViewController::passCodePanelReturns() {
    if (!locked_ || passCodeView->alpha() > 0)
        return;
    passCodeView->setAlpha(1);
    // Before the launch screen has gone the panel has not slid in yet; checkForAlert will.
    if (isAlertNo && !storedPassKey().empty())
        pass1->becomeFirstResponder();
}

void RootViewController::setting() {
    // The settings can turn the lock off or set a new key: not while the list is locked.
    if (locked_)
        return;
    moveBannerHost(layout::bannerHostAsideY());
    auto settings = std::make_shared<SettingsView>();
    presentModalViewController(platform::NavigationController::create(settings), true);
}

} // namespace app
