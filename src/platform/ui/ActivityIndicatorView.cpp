#include "platform/ui/ActivityIndicatorView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextRenderer.h"

namespace platform {
namespace {
constexpr int kSpokes = 12;
constexpr double kGrayLevel = 0.5;
// Each spoke, from the centre outwards, as fractions of the radius; the width is a
// fraction of the size.
constexpr double kSpokeInner = 0.45, kSpokeOuter = 0.95, kSpokeWidth = 0.09;
// The spokes fade round the circle from this alpha to full.
constexpr double kFaintestSpoke = 0.25;

double sizeFor(ActivityIndicatorViewStyle style) {
    return style == ActivityIndicatorViewStyle::WhiteLarge ? ActivityIndicatorView::kLargeSize
                                                           : ActivityIndicatorView::kSmallSize;
}
} // namespace

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorViewStyle style)
    : View(Rect(0, 0, sizeFor(style), sizeFor(style))), style_(style) {
    setBackgroundColor(Color::clearColor());
    setOpaque(false);
    setUserInteractionEnabled(false);
    setHidden(true);
}

ActivityIndicatorView::ActivityIndicatorView(const Rect& frame)
    : View(frame), style_(ActivityIndicatorViewStyle::White) {
    setBackgroundColor(Color::clearColor());
    setOpaque(false);
    setUserInteractionEnabled(false);
    setHidden(true);
}

void ActivityIndicatorView::setActivityIndicatorViewStyle(ActivityIndicatorViewStyle style) {
    style_ = style;
    double side = sizeFor(style);
    Rect f = frame();
    setFrame(Rect(f.x(), f.y(), side, side));
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_)
        setHidden(hides);
}

void ActivityIndicatorView::startAnimating() {
    animating_ = true;
    if (hidesWhenStopped_)
        setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_)
        setHidden(true);
}

Color ActivityIndicatorView::color() const {
    return style_ == ActivityIndicatorViewStyle::Gray ? Color::white(kGrayLevel) : Color::whiteColor();
}

Size ActivityIndicatorView::sizeThatFits(Size) const {
    return {sizeFor(style_), sizeFor(style_)};
}

void ActivityIndicatorView::drawText(TextCanvas& canvas, const Rect& rect) const {
    canvas.writeInRect(rect, animating_ ? "(*)" : "( )", 1);
}

void ActivityIndicatorView::drawPicture(GraphicsContext& g) const {
    Rect b = bounds();
    double side = std::min(b.width(), b.height());
    if (side <= 0)
        return;
    double radius = side / 2;
    g.saveGState();
    g.translateCTM(b.midX(), b.midY());
    g.setLineWidth(side * kSpokeWidth);
    g.setLineCap(LineCap::Round);
    for (int i = 0; i < kSpokes; ++i) {
        double angle = 2 * std::numbers::pi * i / kSpokes;
        double alpha = kFaintestSpoke + (1 - kFaintestSpoke) * i / (kSpokes - 1);
        g.setStrokeColor(color().withAlpha(alpha));
        g.beginPath();
        g.moveToPoint(std::cos(angle) * radius * kSpokeInner, std::sin(angle) * radius * kSpokeInner);
        g.addLineToPoint(std::cos(angle) * radius * kSpokeOuter, std::sin(angle) * radius * kSpokeOuter);
        g.strokePath();
    }
    g.restoreGState();
}

} // namespace platform
