#pragma once
// The two closed paths a rich-media view clips its drawing to, and the clip by type that the
// slot view and the promo slider apply in their drawRect.
//
// CGContextAddRoundedRect and CGContextAddMaxCircle only add a closed path to the context's
// current path; they neither clip nor fill. clipContextForClipType clips the current
// graphics context (GraphicsContext::current()) to the view's bounds in the shape of the
// type, and does nothing outside any drawing. Main thread only, like all drawing.
#include "platform/ui/Geometry.h"

namespace platform {
class GraphicsContext;
class View;
} // namespace platform

namespace vellum {

// The clip types an ad's control list may give.
enum MRClipType { kMRClipNone = 0, kMRClipMaxCircle = 1, kMRClipRoundedRect = 2 };
inline constexpr int kMRClipCornerRadius = 10;

// Starts a new path: `rect` with corners rounded by `radius`, every coordinate cut to a
// whole number toward zero.
void CGContextAddRoundedRect(platform::GraphicsContext& context, const platform::Rect& rect, int radius);
// Adds the largest circle that fits `rect`'s size, centred along its longer side, with the
// rectangle's origin taken as (0, 0).
void CGContextAddMaxCircle(platform::GraphicsContext& context, const platform::Rect& rect);
// Clips the current context to `view`'s bounds: 1 the largest circle, 2 a rounded rectangle
// of radius 10, anything else no clip.
void clipContextForClipType(const platform::View& view, int clipType);

} // namespace vellum
