#include "platform/ui/Control.h"

#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace platform {

Control::Control(const Rect& frame) : View(frame) {}

unsigned Control::state() const {
    unsigned s = ControlState::Normal;
    if (highlighted_)
        s |= ControlState::Highlighted;
    if (!enabled_)
        s |= ControlState::Disabled;
    if (selected_)
        s |= ControlState::Selected;
    return s;
}

void Control::addAction(Action action, unsigned events, const void* target) {
    addEntry(std::move(action), events, target, {});
}

void Control::addEntry(Action action, unsigned events, const void* target, std::function<bool()> alive) {
    if (!action || events == 0)
        return;
    entries_.push_back(Entry{std::move(action), events, target, std::move(alive)});
}

void Control::removeTarget(const void* target, unsigned events) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (target && it->target != target) {
            ++it;
            continue;
        }
        it->events &= ~events;
        if (it->events == 0)
            it = entries_.erase(it);
        else
            ++it;
    }
}

unsigned Control::allControlEvents() const {
    unsigned all = 0;
    for (const auto& e : entries_)
        if (!e.alive || e.alive())
            all |= e.events;
    return all;
}

void Control::sendActionsForControlEvents(unsigned events) {
    // Keep this control alive through its actions, and call a snapshot: an action may
    // remove or add actions.
    auto keep = sharedView();
    auto entries = entries_;
    for (auto& e : entries) {
        if (!(e.events & events))
            continue;
        if (e.alive && !e.alive())
            continue;
        e.action(*this);
    }
}

bool Control::simulateTap() {
    if (auto w = window()) {
        Point center = convertPointTo(Point{bounds().midX(), bounds().midY()}, nullptr);
        auto hit = Application::shared().simulateTap(center, w);
        return hit && hit->isDescendantOf(this);
    }
    if (!enabled_ || isHidden() || !isUserInteractionEnabled())
        return false;
    sendActionsForControlEvents(ControlEvent::TouchDown);
    sendActionsForControlEvents(ControlEvent::TouchUpInside);
    didTapInside();
    return true;
}

void Control::touchesBegan(const TouchSet& touches, const Event& event) {
    (void)touches;
    (void)event;
    if (!enabled_)
        return;
    tracking_ = true;
    setHighlighted(true);
    sendActionsForControlEvents(ControlEvent::TouchDown);
}

void Control::touchesMoved(const TouchSet& touches, const Event& event) {
    (void)event;
    if (!enabled_ || !tracking_ || touches.empty())
        return;
    bool inside = pointInside(touches.front()->locationInView(this), nullptr);
    bool wasInside = pointInside(touches.front()->previousLocationInView(this), nullptr);
    setHighlighted(inside);
    unsigned events = inside ? ControlEvent::TouchDragInside : ControlEvent::TouchDragOutside;
    if (inside != wasInside)
        events |= inside ? ControlEvent::TouchDragEnter : ControlEvent::TouchDragExit;
    sendActionsForControlEvents(events);
}

void Control::touchesEnded(const TouchSet& touches, const Event& event) {
    (void)event;
    if (!enabled_ || !tracking_)
        return;
    tracking_ = false;
    setHighlighted(false);
    bool inside = !touches.empty() && pointInside(touches.front()->locationInView(this), nullptr);
    if (inside) {
        sendActionsForControlEvents(ControlEvent::TouchUpInside);
        didTapInside();
    } else {
        sendActionsForControlEvents(ControlEvent::TouchUpOutside);
    }
}

void Control::touchesCancelled(const TouchSet& touches, const Event& event) {
    (void)touches;
    (void)event;
    if (!tracking_)
        return;
    tracking_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(ControlEvent::TouchCancel);
}

} // namespace platform
