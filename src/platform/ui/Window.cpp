#include "platform/ui/Window.h"

#include <map>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"

namespace platform {

Window::Window(const Rect& frame) : View(frame.isEmpty() ? Screen::main().bounds() : frame) {
    // A new window is hidden until it is shown.
    View::setHidden(true);
}

Window::~Window() = default;

std::shared_ptr<Window> Window::sharedWindow() {
    return std::static_pointer_cast<Window>(sharedView());
}

void Window::makeKeyAndVisible() {
    setHidden(false);
    makeKeyWindow();
    layoutIfNeeded();
}

void Window::makeKeyWindow() {
    if (auto self = sharedWindow())
        Application::shared().setKeyWindow(self);
}

bool Window::isKeyWindow() const {
    return Application::shared().keyWindow().get() == this;
}

void Window::setHidden(bool hidden) {
    bool was = isHidden();
    View::setHidden(hidden);
    if (was == hidden)
        return;
    auto self = sharedWindow();
    if (hidden) {
        Application::shared().windowBecameHidden(this);
        if (rootViewController_)
            rootViewController_->beginAppearance(false, false), rootViewController_->endAppearance(false);
        if (self)
            NotificationCenter::defaultCenter().post(kWindowDidBecomeHiddenNotification, self);
        return;
    }
    if (self)
        Application::shared().windowBecameVisible(self);
    if (rootViewController_)
        rootViewController_->beginAppearance(true, false), rootViewController_->endAppearance(false);
    if (self)
        NotificationCenter::defaultCenter().post(kWindowDidBecomeVisibleNotification, self);
}

void Window::setRootViewController(const std::shared_ptr<ViewController>& controller) {
    if (controller == rootViewController_)
        return;
    if (auto old = rootViewController_) {
        if (!isHidden())
            old->beginAppearance(false, false);
        if (old->isViewLoaded())
            old->view()->removeFromSuperview();
        if (!isHidden())
            old->endAppearance(false);
    }
    rootViewController_ = controller;
    if (!controller)
        return;
    auto view = controller->view();
    view->setFrame(Screen::main().applicationFrame());
    if (!isHidden())
        controller->beginAppearance(true, false);
    insertSubview(view, 0);
    if (!isHidden())
        controller->endAppearance(false);
}

void Window::deliverTouches(View& root, const Event& event) {
    // Touches that begin go to the view hit testing finds; later phases go to that view.
    std::map<View*, std::pair<std::shared_ptr<View>, TouchSet>> byView;
    std::map<View*, TouchPhase> phaseOf;
    for (const auto& touch : event.allTouches()) {
        if (touch->phase() == TouchPhase::Began && !touch->view()) {
            Point p = root.convertPointFrom(touch->locationInWindow(), nullptr);
            touch->setView(root.hitTest(p, &event));
        }
        auto view = touch->view();
        if (!view)
            continue;
        auto& entry = byView[view.get()];
        entry.first = view;
        entry.second.push_back(touch);
        phaseOf[view.get()] = touch->phase();
    }
    for (auto& [raw, entry] : byView) {
        auto& [view, touches] = entry;
        switch (phaseOf[raw]) {
        case TouchPhase::Began:
            view->touchesBegan(touches, event);
            break;
        case TouchPhase::Moved:
        case TouchPhase::Stationary:
            view->touchesMoved(touches, event);
            break;
        case TouchPhase::Ended:
            view->touchesEnded(touches, event);
            break;
        case TouchPhase::Cancelled:
            view->touchesCancelled(touches, event);
            break;
        }
    }
}

void Window::sendEvent(const Event& event) {
    if (event.type() != Event::Type::Touches)
        return;
    layoutIfNeeded();
    deliverTouches(*this, event);
}

} // namespace platform
