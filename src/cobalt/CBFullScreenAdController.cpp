#include "cobalt/CBFullScreenAdController.h"

#include <utility>

#include "cobalt/CBAdManager.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBMessageBox.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Button.h"

namespace cobalt {
namespace {

constexpr double kMenuButtonMargin = 8;
constexpr double kMenuButtonBottom = 32;
constexpr double kMenuButtonWidth = 64;
constexpr double kMenuButtonHeight = 24;

// The engine's full-screen presentation as CBController uses it: the one full-screen
// controller and the full-screen window.
class CBFullScreenSupportImpl final : public CBFullScreenSupport {
public:
    CBFullScreenSupportImpl() : controller_(CBFullScreenAdController::create()) {}
    void adDownloadedForSlotNamed(const std::string& slotName) override {
        controller_->adDownloadedForSlotNamed(slotName);
    }
    void setDelegate(std::weak_ptr<CobaltDelegate> delegate, const std::string& slotName) override {
        controller_->setDelegateForSlotNamed(std::move(delegate), slotName);
    }
    bool isDisplaying() const override { return controller_->isDisplaying(); }
    bool markWindowDisplayingIfIdle() override { return CBFullScreenAdWindow::shared()->markDisplayingIfIdle(); }
    bool displayAdForSlot(const std::shared_ptr<CBAdSlot>& slot) override {
        const bool started = controller_->displayAdForSlot(slot);
        // A refused display leaves the window free for the next one.
        if (!started)
            CBFullScreenAdWindow::shared()->setIsDisplaying(false);
        return started;
    }
    void applicationDidEnterBackground() override { controller_->applicationDidEnterBackground(); }
    void applicationWillEnterForeground() override { controller_->applicationWillEnterForeground(); }

private:
    std::shared_ptr<CBFullScreenAdController> controller_;
};

// Installs the full-screen presentation into the engine when the program loads.
const bool kFullScreenSupportInstalled = [] {
    CBController::setFullScreenSupportFactory([] { return std::make_shared<CBFullScreenSupportImpl>(); });
    return true;
}();

} // namespace

std::shared_ptr<CBFullScreenAdController> CBFullScreenAdController::create() {
    (void)kFullScreenSupportInstalled;
    std::shared_ptr<CBFullScreenAdController> controller(new CBFullScreenAdController());
    controller->initWithSlot(nullptr, {}, 0);
    return controller;
}

bool CBFullScreenAdController::isAdReady() { return m_slot && m_slot->hasNextAdDownloaded(); }

void CBFullScreenAdController::setDelegateForSlotNamed(std::weak_ptr<CobaltDelegate> delegate,
                                                       const std::string& slotName) {
    if (delegate.expired()) {
        m_delegateDict.erase(slotName);
        return;
    }
    m_delegateDict[slotName] = std::move(delegate);
    auto c = CBController::existing();
    if (c && c->isAdReadyForSlotNamed(slotName))
        adDownloadedForSlotNamed(slotName);
}

bool CBFullScreenAdController::notifyDelegateAdReadyForSlotNamed(const std::string& slotName) {
    auto it = m_delegateDict.find(slotName);
    auto d = it == m_delegateDict.end() ? nullptr : it->second.lock();
    if (!d)
        return false;
    d->cobaltAdReadyForSlotNamed(slotName);
    return true;
}

bool CBFullScreenAdController::displayAdForSlot(const std::shared_ptr<CBAdSlot>& slot) {
    m_slot = slot;
    auto it = slot ? m_delegateDict.find(slot->slotDescription()->name()) : m_delegateDict.end();
    m_delegate = it == m_delegateDict.end() ? std::weak_ptr<CobaltDelegate>() : it->second;
    return display();
}

void CBFullScreenAdController::adContentWillLoad() {
    m_execMode = 1;
    CBFullScreenAdWindow::shared()->displayController(shared_from_this());
    adDisplayed();
    showAdLoadingIndicator();
}

void CBFullScreenAdController::adContentDidLoad() { hideAdLoadingIndicator(); }

void CBFullScreenAdController::adDisplayFailedForSlotNamed(const std::string&) {
    m_hasDisplayedCurrentAd = true;
    m_isRefreshing = false;
    const std::int64_t broken = std::exchange(m_displayingDlTime, 0);
    if (!m_slot)
        return;
    const std::string name = m_slot->slotDescription()->name();
    auto manager = CBController::existing() ? CBController::existing()->adManager() : nullptr;
    // The broken ad goes; the dismissal below fetches the slot's next one.
    if (broken != 0 && manager)
        manager->deleteAd(broken, name, false);
    auto window = CBFullScreenAdWindow::shared();
    if (window->contentController().get() == this) {
        // Presented already (with its "Loading" box): taken down at once.
        dismissAnimated(false);
        return;
    }
    // Marked displaying but not presented yet: the mark and the slot are given back.
    hideAdLoadingIndicator();
    setExecMode(0);
    m_slot->setIsDisplayed(false);
    window->setIsDisplaying(false);
    if (manager)
        manager->queueFetchForSlotNamed(name);
}

void CBFullScreenAdController::showAdLoadingIndicator() {
    if (!m_adLoadingIndicator) {
        m_adLoadingIndicator = CBMessageBox::messageBox();
        auto indicator =
            std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::WhiteLarge);
        indicator->startAnimating();
        m_adLoadingIndicator->addView(indicator);
        m_adLoadingIndicator->setMessage(kLoadingMessage);
    }
    m_adLoadingIndicator->showInView(*m_view);
    m_view->setUserInteractionEnabled(false);
}

void CBFullScreenAdController::hideAdLoadingIndicator() {
    if (m_adLoadingIndicator) {
        m_adLoadingIndicator->hide();
        m_adLoadingIndicator.reset();
    }
    m_view->setUserInteractionEnabled(true);
}

void CBFullScreenAdController::layout() {
    CBAdViewInternal::layout();
    if (m_adLoadingIndicator) {
        auto box = m_adLoadingIndicator->view();
        if (box->superview() == m_view) {
            const platform::Size bounds = m_view->bounds().size;
            const platform::Size size = box->frame().size;
            box->setFrame({(bounds.width - size.width) * 0.5, (bounds.height - size.height) * 0.5, size.width,
                           size.height});
        }
    }
    placeMenuButton();
}

// ---- Menu and action sheet ----

void CBFullScreenAdController::prepareActionSheet() {
    m_actionSheetButtons.clear();
    m_actionSheetButtons.reserve(kActionSheetCapacity);
    scheduleMenuButtonAppearance();
}

void CBFullScreenAdController::addButtonToActionSheet(const std::string& title, const std::string& callback) {
    m_actionSheetButtons.push_back({title, callback});
}

void CBFullScreenAdController::scheduleMenuButtonAppearance() {
    auto c = CBController::existing();
    const double delay = c ? c->menuDisplayTime() : CBController::kDefaultMenuDisplayTime;
    if (delay > 0) {
        if (m_menuTimer)
            m_menuTimer->invalidate();
        std::weak_ptr<CBFullScreenAdController> weak =
            std::static_pointer_cast<CBFullScreenAdController>(shared_from_this());
        m_menuTimer = platform::Timer::scheduled(delay, false, [weak](platform::Timer&) {
            if (auto self = weak.lock())
                self->showMenuButton();
        });
    } else if (delay == 0) {
        showMenuButton();
    } else {
        hideMenuButton();
    }
}

void CBFullScreenAdController::addMenuButton() {
    if (m_menuButton) {
        m_menuButton->removeFromSuperview();
        m_menuButton.reset();
    }
    if (m_isBrowserMode)
        return;
    m_menuButton = platform::Button::buttonWithType(platform::ButtonType::RoundedRect);
    m_menuButton->setTitle(kMenuTitle);
    std::weak_ptr<CBFullScreenAdController> weak = std::static_pointer_cast<CBFullScreenAdController>(shared_from_this());
    m_menuButton->addAction(
        [weak](platform::Control&) {
            if (auto self = weak.lock())
                self->displayActionSheet();
        },
        platform::ControlEvent::TouchUpInside, this);
    m_menuButton->setHidden(true);
    m_view->addSubview(m_menuButton);
    placeMenuButton();
}

void CBFullScreenAdController::placeMenuButton() {
    if (m_menuButton)
        m_menuButton->setFrame({kMenuButtonMargin, m_view->bounds().size.height - kMenuButtonBottom, kMenuButtonWidth,
                                kMenuButtonHeight});
}

void CBFullScreenAdController::showMenuButton() {
    addMenuButton();
    if (!m_menuButton)
        return;
    m_menuButton->setHidden(false);
    m_menuButton->setAlpha(0);
    platform::AnimationOptions fade("", kMenuFadeDuration);
    auto button = m_menuButton;
    platform::View::animate(fade, [&] { button->setAlpha(1.0); });
}

void CBFullScreenAdController::hideMenuButton() {
    if (m_menuTimer) {
        m_menuTimer->invalidate();
        m_menuTimer.reset();
    }
    if (m_menuButton)
        m_menuButton->setHidden(true);
}

void CBFullScreenAdController::displayActionSheetWithDismissAnimation(bool animated) {
    if (m_isBrowserMode)
        return;
    hideMenuButton();
    if (auto old = m_actionSheet) {
        m_actionSheet.reset();
        old->dismissWithClickedButtonIndex(-1, animated);
    }
    auto self = std::static_pointer_cast<CBFullScreenAdController>(shared_from_this());
    auto sheet = platform::ActionSheet::create(std::nullopt, self);
    sheet->setFrame(m_webView->bounds());
    for (const auto& button : m_actionSheetButtons)
        sheet->addButtonWithTitle(button.title);
    sheet->addButtonWithTitle(kSkipTitle);
    m_actionSheet = sheet;
    sheet->showInView(*m_webView);
    sheet->setContentMode(static_cast<platform::ContentMode>(3));
}

void CBFullScreenAdController::actionSheetDidDismissWithButtonIndex(platform::ActionSheet& sheet, int index) {
    // The field is cleared whenever its sheet goes away.
    if (m_actionSheet.get() == &sheet)
        m_actionSheet.reset();
    if (index < 0)
        return;
    if (static_cast<std::size_t>(index) < m_actionSheetButtons.size()) {
        sendCommand(m_actionSheetButtons[static_cast<std::size_t>(index)].callback);
        return;
    }
    const std::string answer = m_webView->stringByEvaluatingJavaScriptFromString("handleSkip();");
    if (answer == "true" || answer == "1")
        dismiss();
}

void CBFullScreenAdController::applicationDidEnterBackground() {
    if (m_actionSheet)
        m_shouldDisplayActionSheetOnEnterForeground = true;
}

void CBFullScreenAdController::applicationWillEnterForeground() {
    if (!m_shouldDisplayActionSheetOnEnterForeground)
        return;
    m_shouldDisplayActionSheetOnEnterForeground = false;
    displayActionSheetWithDismissAnimation(false);
}

} // namespace cobalt
