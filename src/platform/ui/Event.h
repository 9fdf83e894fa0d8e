#pragma once
// Touches and events, as the application object dispatches them to views.
//
// A Touch is one finger on the screen; the same Touch object travels through its phases
// (began, moved, ended or cancelled), so views can keep it as an identity. Its view is the
// one found by hit testing when it began. An Event carries the touches of one moment; its
// type is the touch type (0) for every event this stand-in creates from touches.
//
// Events are created on the main thread by the runner or a test (Application::simulateTap,
// Application::sendEvent) and delivered synchronously through Application's dispatch hook.
#include <memory>
#include <vector>

#include "platform/ui/Forward.h"
#include "platform/ui/Geometry.h"

namespace platform {

enum class TouchPhase { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

class Touch {
public:
    Touch(std::shared_ptr<Window> window, Point locationInWindow, double timestamp);

    TouchPhase phase() const { return phase_; }
    double timestamp() const { return timestamp_; }
    int tapCount() const { return tapCount_; }
    // The view that hit testing found when the touch began (may be empty).
    std::shared_ptr<View> view() const { return view_.lock(); }
    std::shared_ptr<Window> window() const { return window_.lock(); }
    // Location in `view`'s coordinates; window coordinates when `view` is null.
    Point locationInView(const View* view) const;
    Point previousLocationInView(const View* view) const;

    // For the dispatcher: moves the touch to its next phase and place.
    void update(TouchPhase phase, Point locationInWindow, double timestamp);
    void setView(const std::shared_ptr<View>& view) { view_ = view; }
    void setTapCount(int count) { tapCount_ = count; }
    Point locationInWindow() const { return location_; }

private:
    std::weak_ptr<Window> window_;
    std::weak_ptr<View> view_;
    Point location_;
    Point previous_;
    double timestamp_;
    TouchPhase phase_ = TouchPhase::Began;
    int tapCount_ = 1;
};

using TouchSet = std::vector<std::shared_ptr<Touch>>;

class Event {
public:
    // The platform's event type numbers: touches are 0.
    enum class Type { Touches = 0, Motion = 1, RemoteControl = 2 };

    Event(Type type, double timestamp, TouchSet touches = {})
        : type_(type), timestamp_(timestamp), touches_(std::move(touches)) {}

    Type type() const { return type_; }
    double timestamp() const { return timestamp_; }
    const TouchSet& allTouches() const { return touches_; }
    // The touches whose view is `view`.
    TouchSet touchesForView(const View* view) const;

private:
    Type type_;
    double timestamp_;
    TouchSet touches_;
};

} // namespace platform
