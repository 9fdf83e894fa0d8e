#include "platform/ui/GraphicsContext.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Log.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace platform {
namespace {

// The stack of current contexts (drawing happens on the main thread only).
std::vector<GraphicsContext*>& contextStack() {
    static std::vector<GraphicsContext*> stack;
    return stack;
}

} // namespace

std::vector<Point> Path::points() const {
    std::vector<Point> out;
    for (const auto& e : elements) {
        switch (e.kind) {
        case PathElement::Kind::MoveTo:
        case PathElement::Kind::LineTo:
            out.push_back(e.points[0]);
            break;
        case PathElement::Kind::QuadCurveTo:
            out.push_back(e.points[1]);
            break;
        case PathElement::Kind::CurveTo:
            out.push_back(e.points[2]);
            break;
        case PathElement::Kind::ArcToPoint:
            out.push_back(e.points[0]);
            break;
        case PathElement::Kind::Rect:
        case PathElement::Kind::Ellipse:
            out.push_back(e.rect.origin);
            out.push_back({e.rect.maxX(), e.rect.maxY()});
            break;
        case PathElement::Kind::Arc:
        case PathElement::Kind::Close:
            break;
        }
    }
    return out;
}

std::vector<DrawOp> DisplayList::paintOps() const {
    std::vector<DrawOp> out;
    for (const auto& op : ops_) {
        switch (op.kind) {
        case DrawOp::Kind::SaveGState:
        case DrawOp::Kind::RestoreGState:
        case DrawOp::Kind::ConcatCTM:
        case DrawOp::Kind::Clip:
        case DrawOp::Kind::BeginTransparencyLayer:
        case DrawOp::Kind::EndTransparencyLayer:
            break;
        default:
            out.push_back(op);
        }
    }
    return out;
}

void DisplayList::reserveMore(std::size_t count) {
    const std::size_t needed = ops_.size() + count;
    if (needed > ops_.capacity())
        ops_.reserve(std::max(needed, ops_.capacity() + ops_.capacity() / 2));
}

GraphicsContext::GraphicsContext(Size size) : size_(size) {}

GraphicsContext::GraphicsContext(Size size, DisplayList recycled) : size_(size), list_(std::move(recycled)) {
    list_.clear();
}

GraphicsContext* GraphicsContext::current() {
    auto& stack = contextStack();
    return stack.empty() ? nullptr : stack.back();
}

void GraphicsContext::pushContext(GraphicsContext& context) {
    contextStack().push_back(&context);
}

void GraphicsContext::popContext() {
    auto& stack = contextStack();
    if (!stack.empty())
        stack.pop_back();
}

DisplayList GraphicsContext::takeDisplayList() {
    DisplayList out = std::move(list_);
    list_ = DisplayList();
    return out;
}

DrawOp GraphicsContext::op(DrawOp::Kind kind) const {
    DrawOp o;
    o.kind = kind;
    o.alpha = state().alpha;
    return o;
}

void GraphicsContext::record(DrawOp op) {
    list_.append(std::move(op));
}

void GraphicsContext::replay(const DisplayList& list) {
    // Open saves and groups, innermost last.
    std::vector<DrawOp::Kind> open;
    list_.reserveMore(list.size());
    for (const auto& o : list.ops()) {
        if (o.kind == DrawOp::Kind::SaveGState || o.kind == DrawOp::Kind::BeginTransparencyLayer) {
            open.push_back(o.kind);
        } else if (o.kind == DrawOp::Kind::RestoreGState || o.kind == DrawOp::Kind::EndTransparencyLayer) {
            auto begin = o.kind == DrawOp::Kind::RestoreGState ? DrawOp::Kind::SaveGState
                                                               : DrawOp::Kind::BeginTransparencyLayer;
            if (open.empty() || open.back() != begin)
                continue;
            open.pop_back();
        }
        record(o);
    }
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        DrawOp close;
        close.kind = *it == DrawOp::Kind::SaveGState ? DrawOp::Kind::RestoreGState
                                                     : DrawOp::Kind::EndTransparencyLayer;
        record(std::move(close));
    }
}

// ---- State ----

void GraphicsContext::saveGState() {
    states_.push_back(state());
    record(op(DrawOp::Kind::SaveGState));
}

void GraphicsContext::restoreGState() {
    if (states_.size() < 2) {
        logLine("GraphicsContext: restoreGState without a matching saveGState ignored");
        return;
    }
    states_.pop_back();
    record(op(DrawOp::Kind::RestoreGState));
}

void GraphicsContext::translateCTM(double tx, double ty) {
    concatCTM(AffineTransform::makeTranslation(tx, ty));
}

void GraphicsContext::scaleCTM(double sx, double sy) {
    concatCTM(AffineTransform::makeScale(sx, sy));
}

void GraphicsContext::rotateCTM(double radians) {
    concatCTM(AffineTransform::makeRotation(radians));
}

void GraphicsContext::concatCTM(const AffineTransform& transform) {
    // The new step applies to user coordinates before the existing transform.
    state().ctm = AffineTransform::concat(transform, state().ctm);
    DrawOp o = op(DrawOp::Kind::ConcatCTM);
    o.transform = transform;
    record(std::move(o));
}

void GraphicsContext::setAlpha(double alpha) {
    state().alpha = std::clamp(alpha, 0.0, 1.0);
}

// ---- Path ----

void GraphicsContext::moveToPoint(double x, double y) {
    PathElement e;
    e.kind = PathElement::Kind::MoveTo;
    e.points[0] = {x, y};
    path_.elements.push_back(e);
}

void GraphicsContext::addLineToPoint(double x, double y) {
    PathElement e;
    e.kind = PathElement::Kind::LineTo;
    e.points[0] = {x, y};
    path_.elements.push_back(e);
}

void GraphicsContext::addQuadCurveToPoint(double cpx, double cpy, double x, double y) {
    PathElement e;
    e.kind = PathElement::Kind::QuadCurveTo;
    e.points[0] = {cpx, cpy};
    e.points[1] = {x, y};
    path_.elements.push_back(e);
}

void GraphicsContext::addCurveToPoint(double cp1x, double cp1y, double cp2x, double cp2y, double x, double y) {
    PathElement e;
    e.kind = PathElement::Kind::CurveTo;
    e.points[0] = {cp1x, cp1y};
    e.points[1] = {cp2x, cp2y};
    e.points[2] = {x, y};
    path_.elements.push_back(e);
}

void GraphicsContext::addArcToPoint(double x1, double y1, double x2, double y2, double radius) {
    PathElement e;
    e.kind = PathElement::Kind::ArcToPoint;
    e.points[0] = {x1, y1};
    e.points[1] = {x2, y2};
    e.radius = radius;
    path_.elements.push_back(e);
}

void GraphicsContext::addArc(double x, double y, double radius, double startAngle, double endAngle,
                             bool clockwise) {
    PathElement e;
    e.kind = PathElement::Kind::Arc;
    e.points[0] = {x, y};
    e.radius = radius;
    e.startAngle = startAngle;
    e.endAngle = endAngle;
    e.clockwise = clockwise;
    path_.elements.push_back(e);
}

void GraphicsContext::addRect(const Rect& rect) {
    PathElement e;
    e.kind = PathElement::Kind::Rect;
    e.rect = rect;
    path_.elements.push_back(e);
}

void GraphicsContext::addRoundedRect(const Rect& rect, double radius) {
    radius = std::min({radius, rect.width() / 2, rect.height() / 2});
    if (!(radius > 0)) {
        addRect(rect);
        return;
    }
    moveToPoint(rect.minX() + radius, rect.minY());
    addArcToPoint(rect.maxX(), rect.minY(), rect.maxX(), rect.maxY(), radius);
    addArcToPoint(rect.maxX(), rect.maxY(), rect.minX(), rect.maxY(), radius);
    addArcToPoint(rect.minX(), rect.maxY(), rect.minX(), rect.minY(), radius);
    addArcToPoint(rect.minX(), rect.minY(), rect.maxX(), rect.minY(), radius);
    closePath();
}

void GraphicsContext::addEllipseInRect(const Rect& rect) {
    PathElement e;
    e.kind = PathElement::Kind::Ellipse;
    e.rect = rect;
    path_.elements.push_back(e);
}

void GraphicsContext::addPath(const Path& path) {
    path_.elements.insert(path_.elements.end(), path.elements.begin(), path.elements.end());
}

void GraphicsContext::closePath() {
    PathElement e;
    e.kind = PathElement::Kind::Close;
    path_.elements.push_back(e);
}

// ---- Painting ----

void GraphicsContext::paintPath(DrawOp::Kind kind, bool evenOdd, Path path) {
    if (path.isEmpty())
        return;
    DrawOp o = op(kind);
    o.path = std::move(path);
    o.evenOdd = evenOdd;
    if (kind == DrawOp::Kind::FillPath)
        o.color = state().fill;
    if (kind == DrawOp::Kind::StrokePath) {
        o.color = state().stroke;
        o.lineWidth = state().lineWidth;
        o.lineCap = state().lineCap;
        o.lineJoin = state().lineJoin;
    }
    record(std::move(o));
}

void GraphicsContext::fillPath() {
    paintPath(DrawOp::Kind::FillPath, false, std::move(path_));
    path_ = {};
}

void GraphicsContext::fillPathWithBlur(double radius) {
    if (path_.isEmpty())
        return;
    DrawOp o = op(DrawOp::Kind::FillPath);
    o.path = std::move(path_);
    path_ = {};
    o.color = state().fill;
    o.blurRadius = std::isfinite(radius) && radius > 0 ? radius : 0;
    record(std::move(o));
}

void GraphicsContext::eoFillPath() {
    paintPath(DrawOp::Kind::FillPath, true, std::move(path_));
    path_ = {};
}

void GraphicsContext::strokePath() {
    paintPath(DrawOp::Kind::StrokePath, false, std::move(path_));
    path_ = {};
}

void GraphicsContext::drawPath(PathDrawingMode mode) {
    Path path = std::move(path_);
    path_ = {};
    bool evenOdd = mode == PathDrawingMode::EOFill || mode == PathDrawingMode::EOFillStroke;
    if (mode != PathDrawingMode::Stroke)
        paintPath(DrawOp::Kind::FillPath, evenOdd, path);
    if (mode == PathDrawingMode::Stroke || mode == PathDrawingMode::FillStroke ||
        mode == PathDrawingMode::EOFillStroke)
        paintPath(DrawOp::Kind::StrokePath, false, std::move(path));
}

void GraphicsContext::clip() {
    // Clipping to an empty path leaves nothing visible, as on the platform.
    DrawOp o = op(DrawOp::Kind::Clip);
    o.path = std::move(path_);
    path_ = {};
    record(std::move(o));
}

void GraphicsContext::eoClip() {
    DrawOp o = op(DrawOp::Kind::Clip);
    o.path = std::move(path_);
    o.evenOdd = true;
    path_ = {};
    record(std::move(o));
}

namespace {
Path rectPath(const Rect& rect, PathElement::Kind kind = PathElement::Kind::Rect) {
    PathElement e;
    e.kind = kind;
    e.rect = rect;
    return Path{{e}};
}
} // namespace

void GraphicsContext::fillRect(const Rect& rect) {
    paintPath(DrawOp::Kind::FillPath, false, rectPath(rect));
}

void GraphicsContext::strokeRect(const Rect& rect) {
    paintPath(DrawOp::Kind::StrokePath, false, rectPath(rect));
}

void GraphicsContext::strokeRectWithWidth(const Rect& rect, double width) {
    double saved = state().lineWidth;
    state().lineWidth = width;
    strokeRect(rect);
    state().lineWidth = saved;
}

void GraphicsContext::clearRect(const Rect& rect) {
    DrawOp o = op(DrawOp::Kind::ClearRect);
    o.rect = rect;
    record(std::move(o));
}

void GraphicsContext::fillEllipseInRect(const Rect& rect) {
    paintPath(DrawOp::Kind::FillPath, false, rectPath(rect, PathElement::Kind::Ellipse));
}

void GraphicsContext::strokeEllipseInRect(const Rect& rect) {
    paintPath(DrawOp::Kind::StrokePath, false, rectPath(rect, PathElement::Kind::Ellipse));
}

void GraphicsContext::clipToRect(const Rect& rect) {
    DrawOp o = op(DrawOp::Kind::Clip);
    o.path = rectPath(rect);
    record(std::move(o));
}

void GraphicsContext::drawLinearGradient(const Gradient& gradient, Point start, Point end, unsigned options) {
    if (gradient.colors.empty())
        return;
    DrawOp o = op(DrawOp::Kind::LinearGradient);
    o.linear = std::make_shared<const LinearGradientFill>(LinearGradientFill{gradient, start, end, options});
    record(std::move(o));
}

void GraphicsContext::drawImage(const Rect& rect, const std::shared_ptr<const Image>& image) {
    if (!image)
        return;
    DrawOp o = op(DrawOp::Kind::Image);
    o.image = image;
    o.rect = rect;
    record(std::move(o));
}

void GraphicsContext::drawText(const std::string& text, const Rect& rect, const Font& font,
                               TextAlignment alignment, int lines) {
    if (text.empty())
        return;
    DrawOp o = op(DrawOp::Kind::Text);
    o.text = text;
    o.rect = rect;
    o.font = font;
    o.color = state().fill;
    o.alignment = int(alignment);
    o.lines = std::max(lines, 0);
    record(std::move(o));
}

void GraphicsContext::drawLayerAtPoint(Point point, const DrawingLayer& layer) {
    drawLayerInRect(Rect(point, layer.size()), layer);
}

void GraphicsContext::drawLayerInRect(const Rect& rect, const DrawingLayer& layer) {
    DrawOp o = op(DrawOp::Kind::Layer);
    o.rect = rect;
    o.layer = std::make_shared<const DisplayList>(layer.displayList());
    o.layerSize = layer.size();
    record(std::move(o));
}

void GraphicsContext::beginTransparencyLayer() {
    ++transparencyDepth_;
    record(op(DrawOp::Kind::BeginTransparencyLayer));
}

void GraphicsContext::endTransparencyLayer() {
    if (transparencyDepth_ == 0) {
        logLine("GraphicsContext: endTransparencyLayer without a matching begin ignored");
        return;
    }
    --transparencyDepth_;
    record(op(DrawOp::Kind::EndTransparencyLayer));
}

std::shared_ptr<DrawingLayer> DrawingLayer::createWithContext(GraphicsContext*, Size size) {
    return std::make_shared<DrawingLayer>(Size{std::max(size.width, 0.0), std::max(size.height, 0.0)});
}

void drawImageInRect(const std::shared_ptr<const Image>& image, const Rect& rect) {
    if (auto* g = GraphicsContext::current())
        g->drawImage(rect, image);
}

void drawImageAtPoint(const std::shared_ptr<const Image>& image, Point point) {
    if (image)
        drawImageInRect(image, Rect(point, image->size()));
}

} // namespace platform
