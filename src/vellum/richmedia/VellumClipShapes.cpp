#include "vellum/richmedia/VellumClipShapes.h"

#include <cmath>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/View.h"

namespace vellum {

void CGContextAddRoundedRect(platform::GraphicsContext& context, const platform::Rect& rect, int radius) {
    const double r = radius;
    const double x = rect.origin.x, y = rect.origin.y, w = rect.size.width, h = rect.size.height;
    const double left = std::trunc(x), leftIn = std::trunc(x + r);
    const double top = std::trunc(y), topIn = std::trunc(y + r);
    const double right = std::trunc(x + w), rightIn = std::trunc(x + w - r);
    const double bottom = std::trunc(y + h), bottomIn = std::trunc(y + h - r);
    context.beginPath();
    context.moveToPoint(left, topIn);
    context.addArcToPoint(left, top, leftIn, top, r);
    context.addLineToPoint(rightIn, top);
    context.addArcToPoint(right, top, right, topIn, r);
    context.addLineToPoint(right, bottomIn);
    context.addArcToPoint(right, bottom, rightIn, bottom, r);
    context.addLineToPoint(leftIn, bottom);
    context.addArcToPoint(left, bottom, left, bottomIn, r);
    context.addLineToPoint(left, topIn);
    context.closePath();
}

void CGContextAddMaxCircle(platform::GraphicsContext& context, const platform::Rect& rect) {
    const double w = rect.size.width, h = rect.size.height;
    context.addEllipseInRect(w > h ? platform::Rect((w - h) / 2, 0, h, h) : platform::Rect(0, (h - w) / 2, w, w));
}

void clipContextForClipType(const platform::View& view, int clipType) {
    auto* context = platform::GraphicsContext::current();
    if (!context)
        return;
    switch (clipType) {
    case kMRClipMaxCircle:
        CGContextAddMaxCircle(*context, view.bounds());
        context->clip();
        break;
    case kMRClipRoundedRect:
        CGContextAddRoundedRect(*context, view.bounds(), kMRClipCornerRadius);
        context->clip();
        break;
    default: break;
    }
}

} // namespace vellum
