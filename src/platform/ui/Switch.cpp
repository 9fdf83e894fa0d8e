#include "platform/ui/Switch.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextRenderer.h"

namespace platform {
namespace {

const Color kOnTrack = Color::rgba(0.0, 0.47, 0.92);
const Color kOffTrack = Color::white(0.93);
const Color kTrackBorder = Color::white(0.6);
const Color kKnob = Color::whiteColor();
const Color kKnobBorder = Color::white(0.55);
const Color kOnText = Color::whiteColor();
const Color kOffText = Color::white(0.4);
constexpr double kTrackRadius = 6;
constexpr double kKnobInset = 1;
constexpr double kStateFontSize = 15;

} // namespace

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

void Switch::drawPicture(GraphicsContext& g) const {
    // Inset by half a line so the border's stroke stays inside the bounds.
    Rect track = bounds().insetBy(0.5, 0.5);
    if (!(track.width() > 0 && track.height() > 0))
        return;
    g.saveGState();
    g.setFillColor(on_ ? kOnTrack : kOffTrack);
    g.beginPath();
    g.addRoundedRect(track, kTrackRadius);
    g.fillPath();
    g.setStrokeColor(on_ ? kOnTrack : kTrackBorder);
    g.setLineWidth(1);
    g.beginPath();
    g.addRoundedRect(track, kTrackRadius);
    g.strokePath();
    // The knob is as wide as it is high and sits on the side the state points to; the state's
    // word fills the rest of the track.
    double side = std::max(0.0, track.height() - 2 * kKnobInset);
    double knobX = on_ ? track.maxX() - kKnobInset - side : track.minX() + kKnobInset;
    Rect knob(knobX, track.minY() + kKnobInset, side, side);
    Rect word = on_ ? Rect(track.minX(), track.minY(), knob.minX() - track.minX(), track.height())
                    : Rect(knob.maxX(), track.minY(), track.maxX() - knob.maxX(), track.height());
    DrawOp text;
    text.kind = DrawOp::Kind::Text;
    text.text = on_ ? "ON" : "OFF";
    text.rect = word;
    text.font = Font::boldSystemFont(kStateFontSize);
    text.color = on_ ? kOnText : kOffText;
    text.alignment = int(TextAlignment::Center);
    text.lines = 1;
    text.centerVertically = true;
    text.minimumFontSize = kSmallestFittedFontSize;
    g.record(std::move(text));
    g.setFillColor(kKnob);
    g.beginPath();
    g.addRoundedRect(knob, kTrackRadius - kKnobInset);
    g.fillPath();
    g.setStrokeColor(kKnobBorder);
    g.beginPath();
    g.addRoundedRect(knob.insetBy(0.5, 0.5), kTrackRadius - kKnobInset);
    g.strokePath();
    g.restoreGState();
}

void Switch::drawText(TextCanvas& canvas, const Rect& rect) const {
    canvas.writeInRect(rect, on_ ? "[on]" : "[off]", 1);
}

} // namespace platform
