#include "platform/ui/Event.h"

#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {

Touch::Touch(std::shared_ptr<Window> window, Point locationInWindow, double timestamp)
    : window_(std::move(window)), location_(locationInWindow), previous_(locationInWindow),
      timestamp_(timestamp) {}

Point Touch::locationInView(const View* view) const {
    return view ? view->convertPointFrom(location_, nullptr) : location_;
}

Point Touch::previousLocationInView(const View* view) const {
    return view ? view->convertPointFrom(previous_, nullptr) : previous_;
}

void Touch::update(TouchPhase phase, Point locationInWindow, double timestamp) {
    previous_ = location_;
    location_ = locationInWindow;
    phase_ = phase;
    timestamp_ = timestamp;
}

TouchSet Event::touchesForView(const View* view) const {
    TouchSet out;
    for (const auto& t : touches_)
        if (t->view().get() == view)
            out.push_back(t);
    return out;
}

} // namespace platform
