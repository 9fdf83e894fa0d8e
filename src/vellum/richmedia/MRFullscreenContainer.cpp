#include "vellum/richmedia/MRFullscreenContainer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/NavigationController.h"

namespace vellum {
namespace {

std::shared_ptr<MRFullscreenContainer>& sharedSlot() {
    static std::shared_ptr<MRFullscreenContainer> container;
    return container;
}

bool isLandscape(int orientation) {
    return orientation == 3 || orientation == 4;
}

// The window level just above the key window's, kept below alerts and, under the status
// bar, just below 9.
double levelAbove(double keyLevel) {
    float level = std::nextafter(static_cast<float>(keyLevel), INFINITY);
    if (level >= platform::kWindowLevelAlert)
        level = std::nextafter(static_cast<float>(platform::kWindowLevelAlert), -INFINITY);
    if (level < platform::kWindowLevelStatusBar)
        level = std::nextafter(9.0f, static_cast<float>(platform::kWindowLevelNormal));
    return level;
}

} // namespace

void MRFullscreenWindow::resignKeyWindow() {
    if (auto container = sharedSlot())
        container->windowDidResignKeyWindow();
}

std::shared_ptr<MRFullscreenContainer> MRFullscreenContainer::sharedContainer() {
    auto& shared = sharedSlot();
    if (!shared) {
        shared.reset(new MRFullscreenContainer());
        shared->build();
    }
    return shared;
}

void MRFullscreenContainer::resetForTesting() {
    if (auto& shared = sharedSlot()) {
        platform::RunLoop::current().cancelPerforms(shared.get());
        if (shared->window_)
            shared->window_->setHidden(true);
    }
    sharedSlot().reset();
}

MRFullscreenContainer::~MRFullscreenContainer() {
    if (orientationToken_.isValid())
        platform::NotificationCenter::defaultCenter().removeObserver(orientationToken_);
}

void MRFullscreenContainer::build() {
    auto& app = platform::Application::shared();
    auto key = app.keyWindow();
    const platform::Rect frame = key ? key->frame() : platform::Rect{};
    window_ = std::make_shared<MRFullscreenWindow>(frame);
    window_->setWindowLevel(levelAbove(key ? key->windowLevel() : platform::kWindowLevelNormal));
    window_->setHidden(true);
    rootView_ = std::make_shared<platform::View>(platform::Rect({0, 0}, frame.size));
    rootView_->setClipsToBounds(true);
}

void MRFullscreenContainer::post(const char* name) {
    platform::Notification n;
    n.name = name;
    n.object = shared_from_this();
    n.sender = this;
    platform::NotificationCenter::defaultCenter().post(n);
}

void MRFullscreenContainer::pushView(const std::shared_ptr<platform::View>& view) {
    if (!view || (!views_.empty() && views_.front() == view))
        return;
    std::erase(views_, view);
    views_.insert(views_.begin(), view);
    view->removeFromSuperview();
    view->setAutoresizingMask(platform::Autoresizing::FlexibleWidth | platform::Autoresizing::FlexibleHeight);
    view->setFrame(rootView_->bounds());
    rootView_->addSubview(view);
    if (views_.size() != 1)
        return;
    auto& app = platform::Application::shared();
    window_->addSubview(rootView_);
    rootView_->setAutoresizesSubviews(true);
    auto key = app.keyWindow();
    formerKeyWindow_ = key != window_ ? key : nullptr;
    window_->makeKeyAndVisible();
    post(MRFullscreenContainerDidEnterFullscreen);
}

void MRFullscreenContainer::popView(const platform::View* view) {
    auto found = std::find_if(views_.begin(), views_.end(), [&](const auto& v) { return v.get() == view; });
    if (found == views_.end())
        return;
    const bool top = found == views_.begin();
    (*found)->removeFromSuperview();
    views_.erase(found);
    if (!top || !views_.empty())
        return;
    rootView_->removeFromSuperview();
    window_->setHidden(true);
    platform::RunLoop::current().cancelPerforms(this, "reclaimKey");
    if (auto former = std::move(formerKeyWindow_))
        former->makeKeyWindow();
    post(MRFullscreenContainerDidExitFullscreen);
}

void MRFullscreenContainer::popTopView() {
    if (!views_.empty())
        popView(views_.front().get());
}

void MRFullscreenContainer::windowDidResignKeyWindow() {
    if (views_.empty())
        return;
    std::weak_ptr<MRFullscreenContainer> weak = shared_from_this();
    platform::RunLoop::current().performAfter(
        kReclaimKeyDelay,
        [weak] {
            if (auto self = weak.lock(); self && !self->views_.empty())
                self->window_->makeKeyWindow();
        },
        this, "reclaimKey");
}

void MRFullscreenContainer::setOrientation(int orientation, bool animated) {
    if (orientation == orientation_ || orientation < 1 || orientation > 4)
        return;
    auto bounds = window_->bounds();
    if (isLandscape(orientation))
        bounds = platform::Rect(0, 0, bounds.height(), bounds.width());
    const bool opposite = (orientation_ + orientation == 3 && !isLandscape(orientation)) ||
                          (isLandscape(orientation) && isLandscape(orientation_));
    double angle = 0;
    switch (orientation) {
    case 2: angle = std::numbers::pi; break;
    case 3: angle = std::numbers::pi / 2; break;
    case 4: angle = -std::numbers::pi / 2; break;
    default: break;
    }
    orientation_ = orientation;
    auto root = rootView_;
    auto apply = [root, bounds, angle] {
        root->setBounds(platform::Rect({0, 0}, bounds.size));
        root->setTransform(platform::AffineTransform::makeRotation(angle));
    };
    if (animated && !views_.empty()) {
        platform::AnimationOptions options("MRFullscreenContainerRotation",
                                           kOrientationAnimationDuration * (opposite ? 2 : 1));
        options.beginsFromCurrentState = true;
        platform::View::animate(options, apply);
    } else {
        apply();
    }
}

void MRFullscreenContainer::setTracksDeviceOrientation(bool tracks) {
    if (tracks == tracksDeviceOrientation_)
        return;
    tracksDeviceOrientation_ = tracks;
    auto& center = platform::NotificationCenter::defaultCenter();
    if (tracks) {
        orientationToken_ = center.observe<MRFullscreenContainer>(
            shared_from_this(), platform::kDeviceOrientationDidChangeNotification,
            [](MRFullscreenContainer& self, const platform::Notification&) { self.deviceOrientationDidChange(); });
        setOrientation(static_cast<int>(platform::Application::shared().statusBarOrientation()));
    } else {
        if (orientationToken_.isValid())
            center.removeObserver(orientationToken_);
        orientationToken_ = {};
        setOrientation(1);
    }
}

void MRFullscreenContainer::deviceOrientationDidChange() {
    const int orientation = static_cast<int>(platform::Device::current().orientation());
    if (orientation >= 1 && orientation <= 4)
        setOrientation(orientation);
}

void MRFullscreenContainer::presentModalViewController(const std::shared_ptr<platform::ViewController>& controller,
                                                       bool animated) {
    if (!controller)
        return;
    auto holder = std::make_shared<platform::ViewController>();
    auto navigation = platform::NavigationController::create(holder);
    navigation->setNavigationBarHidden(true);
    pushView(navigation->view());
    navigation->presentModalViewController(controller, animated);
    navigationControllers_[controller.get()] = navigation;
}

void MRFullscreenContainer::dismissModalViewController(const std::shared_ptr<platform::ViewController>& controller,
                                                       bool animated) {
    auto found = navigationControllers_.find(controller.get());
    if (found == navigationControllers_.end())
        return;
    auto navigation = found->second;
    navigationControllers_.erase(found);
    navigation->dismissModalViewControllerAnimated(animated);
    std::weak_ptr<MRFullscreenContainer> weak = shared_from_this();
    auto pop = [weak, navigation] {
        if (auto self = weak.lock())
            self->popView(navigation->view().get());
    };
    if (animated)
        platform::RunLoop::current().performAfter(kModalPopDelay, pop, this, "modalPop");
    else
        pop();
}

// ---- Web-view container ----
MRWebViewContainer::MRWebViewContainer(const platform::Rect& frame) : platform::View(frame) {}

std::shared_ptr<MRWebViewContainer> MRWebViewContainer::create(const platform::Rect& frame) {
    auto container = std::make_shared<MRWebViewContainer>(frame);
    container->webView_ = std::make_shared<platform::WebView>(platform::Rect({0, 0}, frame.size));
    container->webView_->setAutoresizingMask(platform::Autoresizing::FlexibleWidth |
                                             platform::Autoresizing::FlexibleHeight);
    container->webView_->setBackgroundColor(container->backgroundColor());
    container->webView_->setBackgroundColor(platform::Color::clearColor());
    container->webView_->setOpaque(false);
    container->addSubview(container->webView_);
    return container;
}

void MRWebViewContainer::addPortalView(const std::shared_ptr<platform::View>& view) {
    if (!view || std::find(portalViews_.begin(), portalViews_.end(), view) != portalViews_.end())
        return;
    portalViews_.push_back(view);
    insertSubviewBelow(view, webView_.get());
}

void MRWebViewContainer::willRemoveSubview(platform::View* subview) {
    std::erase_if(portalViews_, [&](const auto& v) { return v.get() == subview; });
}

std::shared_ptr<platform::View> MRWebViewContainer::hitTest(platform::Point point, const platform::Event* event) {
    for (const auto& rect : ignoredRects_)
        if (rect.contains(point))
            return platform::View::hitTest(point, event);
    for (auto it = portalViews_.rbegin(); it != portalViews_.rend(); ++it) {
        const auto f = (*it)->frame();
        if (point.x >= f.x() && point.y >= f.y() && point.x < f.x() + f.width() && point.y < f.y() + f.height())
            if (auto hit = (*it)->hitTest({point.x - f.x(), point.y - f.y()}, event))
                return hit;
    }
    return platform::View::hitTest(point, event);
}

} // namespace vellum
