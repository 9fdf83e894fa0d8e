#include "cobalt/CBFullScreenAdWindow.h"

#include <any>

#include "cobalt/CBAdView.h"
#include "cobalt/CBController.h"
#include "cobalt/CBFullScreenAdController.h"
#include "cobalt/CBUtil.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Accelerometer.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

namespace cobalt {
namespace {

std::shared_ptr<CBFullScreenAdWindow>& sharedSlot() {
    static std::shared_ptr<CBFullScreenAdWindow> window;
    return window;
}

platform::Rect screenBounds() { return platform::Screen::main().bounds(); }

bool isFlatOrUnknown(int orientation) { return orientation == 0 || orientation == 5 || orientation == 6; }

} // namespace

std::shared_ptr<CBFullScreenAdWindow> CBFullScreenAdWindow::shared() {
    auto& window = sharedSlot();
    if (!window)
        window = std::make_shared<CBFullScreenAdWindow>();
    return window;
}

std::shared_ptr<CBFullScreenAdWindow> CBFullScreenAdWindow::existingWindow() { return sharedSlot(); }

void CBFullScreenAdWindow::resetForTesting() {
    if (auto window = sharedSlot()) {
        window->stopListeningToDeviceOrientationNotifications();
        if (window->m_displayingTimer)
            window->m_displayingTimer->invalidate();
        window->m_contentController.reset();
        window->m_isPresenting = false;
        window->setHidden(true);
    }
    sharedSlot().reset();
}

CBFullScreenAdWindow::CBFullScreenAdWindow() : Window(screenBounds()) {
    setBackgroundColor(platform::Color::blackColor());
    setAutoresizesSubviews(false);
    setHidden(true);
}

CBFullScreenAdWindow::~CBFullScreenAdWindow() { platform::NotificationCenter::defaultCenter().removeObserver(this); }

// ---- The displaying mark ----

bool CBFullScreenAdWindow::isDisplaying() const {
    std::lock_guard lock(m_lock);
    return m_isDisplaying;
}

void CBFullScreenAdWindow::setIsDisplaying(bool displaying) {
    {
        std::lock_guard lock(m_lock);
        if (m_isDisplaying != displaying)
            m_isDisplaying = displaying;
    }
    if (auto controller = CBController::existing())
        controller->fullScreenAdWindowIsDisplaying(displaying);
}

bool CBFullScreenAdWindow::markDisplayingIfIdle(bool alsoRequired) {
    {
        std::lock_guard lock(m_lock);
        if (m_isDisplaying || !alsoRequired)
            return false;
        m_isDisplaying = true;
    }
    if (auto controller = CBController::existing())
        controller->fullScreenAdWindowIsDisplaying(true);
    return true;
}

// ---- Presentation ----

std::weak_ptr<CBFullScreenAdWindow> CBFullScreenAdWindow::weakSelf() {
    return std::static_pointer_cast<CBFullScreenAdWindow>(sharedWindow());
}

bool CBFullScreenAdWindow::contentIsBanner() const {
    return m_contentController && !m_contentController->controlsFullScreenSlot();
}

bool CBFullScreenAdWindow::contentIsBannerAd() const {
    return contentIsBanner() && !m_contentController->shouldWipeContentOnDismiss();
}

void CBFullScreenAdWindow::displayController(const std::shared_ptr<CBAdViewInternal>& controller) {
    if (!controller)
        return;
    setUserInteractionEnabled(false);
    m_contentController = controller;
    m_prevSuperview = controller->view()->superview();
    m_prevTransform = controller->view()->transform();
    m_wasForceDismissed = false;
    m_isPresenting = true;
    beginListeningToDeviceOrientationNotifications();
    if (!contentIsBanner()) {
        openPresentation();
        return;
    }
    auto container = controller->containerView();
    std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
    platform::AnimationOptions fade(kContentFadeOut, kAnimationDuration);
    platform::View::animate(
        fade, [&] { container->setAlpha(0); },
        [weak](const std::string& id, bool finished) {
            if (auto self = weak.lock())
                self->presentControllerAnimationDidStop(id, finished);
        });
}

void CBFullScreenAdWindow::openPresentation() {
    auto& app = platform::Application::shared();
    if (auto key = app.keyWindow(); key && key.get() != this)
        m_appWindow = key;
    m_contentController->fullScreenAdWindowWillOpen();
    hideStatusBarAnimated(true);
    platform::Rect frame = screenBounds();
    frame.origin.y += frame.size.height;
    setFrame(frame);
    setAlpha(0);
    insertSubviewAtIndex(m_contentController->view(), 0);
    if (contentIsBannerAd())
        m_contentController->adViewWillExpand();
    std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
    platform::AnimationOptions expand(kExpand, kAnimationDuration);
    platform::View::animate(
        expand,
        [&] {
            setAlpha(1.0);
            setFrame(screenBounds());
            makeKeyAndVisible();
        },
        [weak](const std::string& id, bool finished) {
            if (auto self = weak.lock())
                self->presentControllerAnimationDidStop(id, finished);
        });
}

void CBFullScreenAdWindow::presentControllerAnimationDidStop(const std::string& animationID, bool) {
    if (m_wasForceDismissed || !m_contentController)
        return;
    if (animationID == kContentFadeOut) {
        openPresentation();
        return;
    }
    if (animationID != kExpand)
        return;
    m_isPresenting = false;
    if (contentIsBanner() && m_contentController->shouldWipeContentOnDismiss()) {
        m_contentController->prepareAdViewBrowserMode(true);
        if (auto host = appWindow())
            host->setHidden(true);
    }
    setUserInteractionEnabled(true);
}

void CBFullScreenAdWindow::insertSubviewAtIndex(const std::shared_ptr<platform::View>& view, std::size_t index) {
    insertSubview(view, index);
    layoutInterfaceWithAnimation(false);
}

// ---- Dismissal ----

void CBFullScreenAdWindow::dismissAnimated(bool animated) {
    if (!animated)
        m_wasForceDismissed = true;
    m_isPresenting = false;
    setUserInteractionEnabled(false);
    stopListeningToDeviceOrientationNotifications();
    restoreStatusBarAnimated(animated);
    auto content = m_contentController;
    if (content)
        content->fullScreenAdWindowWillClose();
    if (contentIsBanner()) {
        collapseAnimated(animated);
        return;
    }
    auto host = appWindow();
    const double hostAlpha = host ? host->alpha() : 1.0;
    if (host) {
        host->setAlpha(0);
        host->setHidden(false);
    }
    std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
    auto changes = [&] {
        setAlpha(0);
        platform::Rect frame = this->frame();
        frame.origin.y += frame.size.height;
        setFrame(frame);
        if (host)
            host->setAlpha(hostAlpha);
    };
    if (!animated) {
        changes();
        didDisappearAnimated(false);
        return;
    }
    platform::AnimationOptions fade(kWindowFadeOut, kAnimationDuration);
    platform::View::animate(fade, changes, [weak](const std::string& id, bool finished) {
        if (auto self = weak.lock())
            self->dismissControllerAnimationDidStop(id, finished);
    });
}

void CBFullScreenAdWindow::collapseAnimated(bool animated) {
    auto changes = [&] {
        setAlpha(0);
        platform::Rect frame = this->frame();
        frame.origin.y = frame.size.height;
        setFrame(frame);
    };
    if (!animated) {
        changes();
        didDisappearAnimated(false);
        return;
    }
    std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
    platform::AnimationOptions fade(kWindowFadeOut, kAnimationDuration);
    platform::View::animate(fade, changes, [weak](const std::string& id, bool finished) {
        if (auto self = weak.lock())
            self->dismissControllerAnimationDidStop(id, finished);
    });
}

void CBFullScreenAdWindow::dismissControllerAnimationDidStop(const std::string& animationID, bool) {
    if (animationID == kWindowFadeOut)
        didDisappearAnimated(true);
}

void CBFullScreenAdWindow::didDisappearAnimated(bool animated) {
    auto content = m_contentController;
    const bool bannerAd = contentIsBannerAd();
    if (bannerAd)
        content->adViewDidCollapse();
    if (content && !subviews().empty()) {
        auto view = content->view();
        if (contentIsBanner()) {
            view->setTransform(m_prevTransform);
            if (auto previous = m_prevSuperview.lock())
                previous->insertSubview(view, 0);
            else
                view->removeFromSuperview();
            if (auto container = content->containerView())
                container->setAlpha(0);
        } else {
            view->removeFromSuperview();
        }
    }
    setHidden(true);
    if (auto host = appWindow()) {
        host->setHidden(false);
        host->makeKeyAndVisible();
    }
    if (bannerAd) {
        if (auto container = content->containerView()) {
            if (animated) {
                platform::AnimationOptions fade(kContentFadeIn, kAnimationDuration);
                std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
                platform::View::animate(fade, [&] { container->setAlpha(1.0); },
                                        [weak](const std::string& id, bool finished) {
                                            if (auto self = weak.lock())
                                                self->dismissControllerAnimationDidStop(id, finished);
                                        });
            } else {
                container->setAlpha(1.0);
            }
        }
    }
    m_contentController.reset();
    m_appWindow.reset();
    setUserInteractionEnabled(true);
    if (!animated) {
        setIsDisplaying(false);
        return;
    }
    if (m_displayingTimer)
        m_displayingTimer->invalidate();
    std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
    m_displayingTimer = platform::Timer::scheduled(kDisplayingClearDelay, false, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->setIsDisplaying(false);
    });
}

// ---- Orientation ----

void CBFullScreenAdWindow::beginListeningToDeviceOrientationNotifications() {
    if (m_listeningToOrientation)
        return;
    m_listeningToOrientation = true;
    auto& device = platform::Device::current();
    m_prevGeneratingDeviceOrientationNotifications = device.isGeneratingDeviceOrientationNotifications();
    if (!m_prevGeneratingDeviceOrientationNotifications)
        device.beginGeneratingDeviceOrientationNotifications();
    std::weak_ptr<CBFullScreenAdWindow> weak = weakSelf();
    platform::NotificationCenter::defaultCenter().addObserver(
        platform::kDeviceOrientationDidChangeNotification,
        [weak](const platform::Notification&) {
            if (auto self = weak.lock())
                self->deviceOrientationDidChange();
        },
        nullptr, this);
}

void CBFullScreenAdWindow::stopListeningToDeviceOrientationNotifications() {
    if (!m_listeningToOrientation)
        return;
    m_listeningToOrientation = false;
    platform::NotificationCenter::defaultCenter().removeObserver(this, platform::kDeviceOrientationDidChangeNotification);
    if (!m_prevGeneratingDeviceOrientationNotifications)
        platform::Device::current().endGeneratingDeviceOrientationNotifications();
}

void CBFullScreenAdWindow::deviceOrientationDidChange() {
    const int orientation = static_cast<int>(platform::Device::current().orientation());
    if (isFlatOrUnknown(orientation) || !m_contentController)
        return;
    auto accelerometerDelegate = platform::Accelerometer::sharedAccelerometer().delegate();
    if (accelerometerDelegate &&
        accelerometerDelegate.get() == static_cast<platform::AccelerometerDelegate*>(m_contentController.get()))
        return;
    if (auto fullScreen = std::dynamic_pointer_cast<CBFullScreenAdController>(m_contentController)) {
        if (auto sheet = fullScreen->actionSheet()) {
            if (sheet->isVisible())
                fullScreen->displayActionSheetWithDismissAnimation(false);
            return;
        }
    }
    layoutInterfaceWithAnimation(true);
}

void CBFullScreenAdWindow::layoutInterfaceWithAnimation(bool animated) {
    if (!m_contentController)
        return;
    std::shared_ptr<platform::View> root;
    if (auto host = appWindow(); host && !host->subviews().empty())
        root = host->subviews().front();
    const int orientation = static_cast<int>(platform::Device::current().orientation());
    platform::AffineTransform transform = CBUtil::transformForOrientation(orientation);
    if (isFlatOrUnknown(orientation) && root)
        transform = root->transform();
    auto view = m_contentController->view();
    if (animated) {
        platform::AnimationOptions rotate("", kRotationDuration);
        platform::View::animate(rotate, [&] { view->setTransform(transform); });
    } else {
        view->setTransform(transform);
    }
    view->setFrame(screenBounds());
    m_contentController->layout();
}

// ---- Status bar ----

std::shared_ptr<platform::View> CBFullScreenAdWindow::namedStatusBarWindow() const {
    auto controller = CBController::existing();
    if (!controller || controller->sbwPropName().empty())
        return nullptr;
    std::any value = platform::Application::shared().valueForKey(controller->sbwPropName());
    if (auto* window = std::any_cast<std::shared_ptr<platform::Window>>(&value))
        return *window;
    if (auto* view = std::any_cast<std::shared_ptr<platform::View>>(&value))
        return *view;
    return nullptr;
}

void CBFullScreenAdWindow::hideStatusBarAnimated(bool animated) {
    auto& app = platform::Application::shared();
    m_prevStatusBarHidden = app.isStatusBarHidden();
    if (m_prevStatusBarHidden)
        return;
    try {
        if (auto bar = namedStatusBarWindow()) {
            if (animated) {
                platform::AnimationOptions fade("", kStatusBarFadeDuration);
                platform::View::animate(fade, [&] { bar->setAlpha(0); });
            } else {
                bar->setAlpha(0);
            }
            return;
        }
    } catch (const std::exception& e) {
        // A property the application does not have: the platform's calls below do the work.
        platform::logLine(std::string("CBAdEngine: status bar window unavailable: ") + e.what());
    }
    const platform::Rect appFrame = platform::Screen::main().applicationFrame();
    auto host = appWindow();
    auto key = app.keyWindow();
    std::shared_ptr<platform::View> view = key && !key->subviews().empty() ? key->subviews().front() : nullptr;
    for (; view; view = view->subviews().empty() ? nullptr : view->subviews().front()) {
        auto superview = view->superview();
        platform::Rect wanted = appFrame;
        if (host && superview)
            wanted = host->convertRectTo(appFrame, superview.get());
        if (view->frame() == wanted) {
            m_hostAppFrameViewToRestore = view;
            break;
        }
    }
    app.setStatusBarHidden(true, animated ? platform::StatusBarAnimation::Fade : platform::StatusBarAnimation::None);
}

void CBFullScreenAdWindow::restoreStatusBarAnimated(bool animated) {
    if (m_prevStatusBarHidden)
        return;
    std::shared_ptr<platform::View> bar;
    try {
        bar = namedStatusBarWindow();
    } catch (const std::exception& e) {
        platform::logLine(std::string("CBAdEngine: status bar window unavailable: ") + e.what());
    }
    if (bar) {
        if (animated) {
            platform::AnimationOptions fade("", kStatusBarFadeDuration);
            platform::View::animate(fade, [&] { bar->setAlpha(1.0); });
        } else {
            bar->setAlpha(1.0);
        }
    } else {
        platform::Application::shared().setStatusBarHidden(
            false, animated ? platform::StatusBarAnimation::Fade : platform::StatusBarAnimation::None);
        if (auto view = m_hostAppFrameViewToRestore.lock()) {
            const platform::Rect appFrame = platform::Screen::main().applicationFrame();
            auto host = appWindow();
            auto superview = view->superview();
            view->setFrame(host && superview ? host->convertRectTo(appFrame, superview.get()) : appFrame);
        }
        m_hostAppFrameViewToRestore.reset();
    }
    m_prevStatusBarHidden = true;
}

// ---- Foreground ----

void CBFullScreenAdWindow::applicationWillEnterForeground() {
    // A presentation still on its way in (a banner fading out before the window slides up)
    // finishes by itself and makes the window key then. The window stays displaying, so the
    // banners are not refreshed under it and the expanding ad keeps its touch and its Done.
    if (m_isPresenting && m_contentController) {
        setIsDisplaying(true);
        return;
    }
    bool displaying = isKeyWindow();
    if (auto fullScreen = std::dynamic_pointer_cast<CBFullScreenAdController>(m_contentController))
        displaying = displaying || fullScreen->shouldDisplayActionSheetOnEnterForeground();
    setIsDisplaying(displaying);
    auto host = appWindow();
    if (displaying) {
        if (host)
            host->setHidden(true);
        makeKeyAndVisible();
        // The remembered state keeps its meaning, "already hidden when the ad came up": the
        // bar this window hid is hidden again (should it show) and is still restored on
        // dismissal; a bar that was hidden before the ad, or has been restored already, is
        // left as it is.
        if (!m_prevStatusBarHidden) {
            hideStatusBarAnimated(false);
            m_prevStatusBarHidden = false;
        }
        return;
    }
    if (host) {
        host->setHidden(false);
        host->makeKeyAndVisible();
    }
    restoreStatusBarAnimated(false);
}

} // namespace cobalt
