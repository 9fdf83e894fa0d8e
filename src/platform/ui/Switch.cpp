#include "platform/ui/Switch.h"

#include "platform/ui/TextRenderer.h"

namespace platform {

Switch::Switch(const Rect& frame) : Control(Rect(frame.origin, kSwitchSize)) {}

void Switch::setOn(bool on, bool animated) {
    (void)animated;
    on_ = on;
}

std::string Switch::accessibilityLabel() const {
    auto own = View::accessibilityLabel();
    return own.empty() ? (on_ ? "[on]" : "[off]") : own;
}

void Switch::didTapInside() {
    on_ = !on_;
    sendActionsForControlEvents(ControlEvent::ValueChanged);
}

void Switch::drawText(TextCanvas& canvas, const Rect& rect) const {
    canvas.writeInRect(rect, on_ ? "[on]" : "[off]", 1);
}

} // namespace platform
