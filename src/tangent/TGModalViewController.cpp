#include "tangent/TGModalViewController.h"

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGViewCategories.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

bool firstGeneration() {
    return TGDeviceInfo::instance().tgSystemVersion == 0;
}

// Styles outside the table are taken as the default.
int knownTransition(int transition) {
    return transition >= TGModalViewController::kPageCurl && transition <= TGModalViewController::kNoAnimation
               ? transition
               : TGModalViewController::kDefaultTransition;
}

} // namespace

// ---- TGModalViewContainer ----

TGModalViewContainer::TGModalViewContainer() : platform::View(platform::Screen::main().bounds()) {
    setBackgroundColor(platform::Color::clearColor());
    setOpaque(false);
    updateBoundsToFrame(*this);
}

void TGModalViewContainer::layoutSubviews() {
    for (const auto& subview : subviews())
        subview->setNeedsLayout();
}

// ---- TGModalViewController ----

std::shared_ptr<TGModalViewController> TGModalViewController::create(
    std::shared_ptr<platform::ViewController> mainController, const std::shared_ptr<platform::View>& view,
    std::weak_ptr<TGModalViewControllerDelegate> delegate) {
    auto controller = std::shared_ptr<TGModalViewController>(new TGModalViewController());
    controller->delegate_ = std::move(delegate);
    controller->mainController_ = std::move(mainController);
    controller->content_ = view;
    auto root = controller->view();
    if (view)
        root->addSubview(view);
    root->setNeedsLayout();
    return controller;
}

TGModalViewController::~TGModalViewController() {
    TGLog::log("- dealloc: TGModalViewController");
    // A controller presented by its main controller is held by it, so only a view put
    // straight onto the window can still be showing here.
    if (isViewLoaded() && directlyShown_) {
        if (platform::Application::shared().isStatusBarHidden() != statusBarHidden_)
            platform::Application::shared().setStatusBarHidden(statusBarHidden_, true);
        view()->removeFromSuperview();
    }
}

void TGModalViewController::loadView() {
    setView(std::make_shared<TGModalViewContainer>());
}

std::shared_ptr<TGModalViewControllerDelegate> TGModalViewController::delegate() const {
    return alertDelegate_ || isAnimating_ ? delegate_.lock() : nullptr;
}

void TGModalViewController::setShouldHideStatusBar(bool hide) {
    shouldHideStatusBar_ = hide && !firstGeneration();
}

bool TGModalViewController::inModalView() const {
    if (mainController_ && mainController_->modalViewController().get() == this)
        return true;
    if (!isViewLoaded())
        return false;
    auto window = const_cast<TGModalViewController*>(this)->view()->window();
    if (!window)
        return false;
    for (const auto& shown : platform::Application::shared().windows())
        if (shown == window)
            return true;
    return false;
}

int TGModalViewController::statusBarOrientation() const {
    return static_cast<int>(mainController_ ? mainController_->interfaceOrientation()
                                            : platform::Application::shared().statusBarOrientation());
}

bool TGModalViewController::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const {
    if (firstGeneration())
        return false;
    return mainController_ && mainController_->shouldAutorotateToInterfaceOrientation(orientation);
}

void TGModalViewController::willRotateToInterfaceOrientation(platform::InterfaceOrientation, double) {
    view()->setNeedsLayout();
}

void TGModalViewController::beginPageCurl() {
    platform::View::beginAnimations(kAnimationID);
    std::weak_ptr<TGModalViewController> weak = std::static_pointer_cast<TGModalViewController>(sharedController());
    platform::View::setAnimationDidStop([weak](const std::string&, bool) {
        if (auto self = weak.lock())
            self->pageCurlStopped();
    });
    isAnimating_ = true;
    if (auto d = delegate())
        d->modalViewBeganAnimation();
}

void TGModalViewController::pageCurlStopped() {
    if (auto d = delegate())
        d->modalViewFinishedAnimation();
    isAnimating_ = false;
    alertDelegate_ = false;
}

void TGModalViewController::showModalView(bool animated, int transition) {
    if (inModalView())
        return;
    auto keepAlive = sharedController();
    transition = knownTransition(transition);
    alertDelegate_ = true;
    animated = animated && transition != kNoAnimation;
    if (transition == kPageCurl && animated)
        beginPageCurl();
    auto& app = platform::Application::shared();
    statusBarHidden_ = app.isStatusBarHidden();
    if (shouldHideStatusBar_)
        app.setStatusBarHidden(true, true);
    doAnimationBlock(transition, animated, true);
}

void TGModalViewController::hideModalView(bool animated, int transition) {
    if (!inModalView())
        return;
    auto keepAlive = sharedController();
    transition = knownTransition(transition);
    alertDelegate_ = true;
    animated = animated && transition != kNoAnimation;
    if (transition == kPageCurl && animated)
        beginPageCurl();
    auto& app = platform::Application::shared();
    if (app.isStatusBarHidden() != statusBarHidden_)
        app.setStatusBarHidden(statusBarHidden_, true);
    if (mainController_) {
        auto mainView = mainController_->view();
        updateBoundsToFrame(*mainView);
        mainView->setNeedsLayout();
    }
    doAnimationBlock(transition, animated, false);
}

void TGModalViewController::doAnimationBlock(int transition, bool animated, bool presenting) {
    switch (transition) {
    case kFlip:
        setModalTransitionStyle(platform::ModalTransitionStyle::FlipHorizontal);
        break;
    case kCoverVertical:
        setModalTransitionStyle(platform::ModalTransitionStyle::CoverVertical);
        break;
    case kCrossDissolve:
        setModalTransitionStyle(platform::ModalTransitionStyle::CrossDissolve);
        break;
    default:
        break;
    }
    auto window = platform::Application::shared().keyWindow();
    if (presenting) {
        if (mainController_) {
            directlyShown_ = false;
            mainController_->presentModalViewController(sharedController(), animated);
        } else if (window) {
            // Straight onto the window: the appearance calls come from here.
            directlyShown_ = true;
            beginAppearance(true, animated);
            window->addSubview(view());
            endAppearance(animated);
        }
    } else {
        if (mainController_ && mainController_->modalViewController().get() == this) {
            // Once the platform has begun taking the screen away, it finishes on its own.
            if (isAppearing())
                mainController_->dismissModalViewControllerAnimated(animated);
        } else {
            const bool wasDirect = directlyShown_;
            directlyShown_ = false;
            if (wasDirect)
                beginAppearance(false, animated);
            view()->removeFromSuperview();
            if (wasDirect)
                endAppearance(animated);
        }
    }
    if (transition == kPageCurl && animated) {
        if (window)
            platform::View::setAnimationTransition(presenting ? platform::ViewAnimationTransition::CurlDown
                                                              : platform::ViewAnimationTransition::CurlUp,
                                                   *window, true);
        platform::View::setAnimationDuration(kPageCurlSeconds);
        platform::View::commitAnimations();
    }
}

void TGModalViewController::viewWillAppear(bool animated) {
    if (auto d = delegate())
        d->modalViewWillAppear(animated);
    view()->setNeedsLayout();
    platform::ViewController::viewWillAppear(animated);
}

void TGModalViewController::viewDidAppear(bool animated) {
    if (auto d = delegate())
        d->modalViewDidAppear(animated);
    alertDelegate_ = false;
    platform::ViewController::viewDidAppear(animated);
}

void TGModalViewController::viewWillDisappear(bool animated) {
    if (auto d = delegate())
        d->modalViewWillDisappear(animated);
    platform::ViewController::viewWillDisappear(animated);
}

void TGModalViewController::viewDidDisappear(bool animated) {
    if (auto d = delegate())
        d->modalViewDidDisappear(animated);
    alertDelegate_ = false;
    platform::ViewController::viewDidDisappear(animated);
}

} // namespace tangent
