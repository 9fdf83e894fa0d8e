#include "platform/ui/View.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/AnimationEngine.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

// Views more transparent than this are invisible to hit testing and drawing.
constexpr double kMinimumVisibleAlpha = 0.01;

// Shares `delta` among the flexible parts of one axis in proportion to their lengths,
// evenly when those are all 0. Answers the change of each part.
struct AxisChange {
    double leading = 0, size = 0, trailing = 0;
};
AxisChange shareAxis(double delta, bool flexLeading, bool flexSize, bool flexTrailing, double leading,
                     double size, double trailing) {
    AxisChange out;
    int count = int(flexLeading) + int(flexSize) + int(flexTrailing);
    if (count == 0 || delta == 0)
        return out;
    double total = (flexLeading ? std::max(leading, 0.0) : 0) + (flexSize ? std::max(size, 0.0) : 0) +
                   (flexTrailing ? std::max(trailing, 0.0) : 0);
    auto part = [&](bool flexible, double length) {
        if (!flexible)
            return 0.0;
        return total > 0 ? delta * std::max(length, 0.0) / total : delta / count;
    };
    out.leading = part(flexLeading, leading);
    out.size = part(flexSize, size);
    out.trailing = part(flexTrailing, trailing);
    return out;
}

// One display pass per turn of the main run loop, whatever the number of views marked. The
// flag is cleared when the queued pass runs or is dropped (a run loop reset in tests).
bool displayPassQueued = false;
struct DisplayPassFlag {
    DisplayPassFlag() { displayPassQueued = true; }
    ~DisplayPassFlag() { displayPassQueued = false; }
    DisplayPassFlag(const DisplayPassFlag&) = delete;
    DisplayPassFlag& operator=(const DisplayPassFlag&) = delete;
};

void queueDisplayPass() {
    if (displayPassQueued)
        return;
    auto flag = std::make_shared<DisplayPassFlag>();
    RunLoop::main().perform([flag] {
        displayPassQueued = false;
        for (const auto& window : Application::shared().windows())
            View::displayTreeIfNeeded(*window);
    });
}

const DisplayList& emptyDisplayList() {
    static const DisplayList empty;
    return empty;
}

} // namespace

View::View(const Rect& frame) {
    bounds_ = Rect(0, 0, frame.width(), frame.height());
    center_ = frame.center();
}

View::~View() {
    for (auto& sub : subviews_)
        sub->superview_ = nullptr;
    AnimationEngine::shared().viewDestroyed(this);
}

std::shared_ptr<View> View::sharedView() {
    return std::static_pointer_cast<View>(weak_from_this().lock());
}

std::shared_ptr<const View> View::sharedView() const {
    return std::static_pointer_cast<const View>(weak_from_this().lock());
}

// ---- Geometry ----

Rect View::frame() const {
    Size s = bounds_.size;
    if (transform_.isIdentity())
        return Rect(center_.x - s.width / 2, center_.y - s.height / 2, s.width, s.height);
    return transform_.apply(Rect(-s.width / 2, -s.height / 2, s.width, s.height))
        .offsetBy(center_.x, center_.y);
}

void View::setFrame(const Rect& frame) {
    Rect old = this->frame();
    AnimationEngine::shared().record(*this, "frame", old, frame);
    center_ = frame.center();
    setBoundsSize(frame.size);
}

void View::setBounds(const Rect& bounds) {
    AnimationEngine::shared().record(*this, "bounds", bounds_, bounds);
    bounds_.origin = bounds.origin;
    setBoundsSize(bounds.size);
}

void View::setCenter(Point center) {
    AnimationEngine::shared().record(*this, "center", center_, center);
    center_ = center;
}

void View::setTransform(const AffineTransform& transform) {
    AnimationEngine::shared().record(*this, "transform", transform_, transform);
    transform_ = transform;
}

void View::setBoundsSize(Size size) {
    Size old = bounds_.size;
    bounds_.size = size;
    if (old == size)
        return;
    if (autoresizesSubviews_)
        resizeSubviews(old);
    setNeedsLayout();
}

void View::resizeSubviews(Size oldSize) {
    auto subs = subviews_;
    for (const auto& sub : subs)
        sub->autoresize(oldSize, bounds_.size);
}

void View::autoresize(Size oldSuper, Size newSuper) {
    unsigned m = autoresizingMask_;
    if (m == Autoresizing::None)
        return;
    Rect f = frame();
    AxisChange h = shareAxis(newSuper.width - oldSuper.width, m & Autoresizing::FlexibleLeftMargin,
                             m & Autoresizing::FlexibleWidth, m & Autoresizing::FlexibleRightMargin, f.x(),
                             f.width(), oldSuper.width - f.maxX());
    AxisChange v = shareAxis(newSuper.height - oldSuper.height, m & Autoresizing::FlexibleTopMargin,
                             m & Autoresizing::FlexibleHeight, m & Autoresizing::FlexibleBottomMargin, f.y(),
                             f.height(), oldSuper.height - f.maxY());
    Rect next(f.x() + h.leading, f.y() + v.leading, f.width() + h.size, f.height() + v.size);
    if (next != f)
        setFrame(next);
}

// ---- Appearance ----

void View::setAlpha(double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    AnimationEngine::shared().record(*this, "alpha", alpha_, alpha);
    alpha_ = alpha;
}

void View::setHidden(bool hidden) {
    if (hidden_ == hidden)
        return;
    hidden_ = hidden;
    if (hidden) {
        // A hidden view keeps no keyboard focus.
        auto first = std::dynamic_pointer_cast<View>(Responder::currentFirstResponder());
        if (first && first->isDescendantOf(this))
            first->resignFirstResponder();
    }
}

void View::setBackgroundColor(const Color& color) {
    AnimationEngine::shared().record(*this, "backgroundColor", backgroundColor_, color);
    backgroundColor_ = color;
}

bool View::isEffectivelyVisible() const {
    for (const View* v = this; v; v = v->superview_)
        if (v->hidden_ || v->alpha_ < kMinimumVisibleAlpha)
            return false;
    return true;
}

std::shared_ptr<View> View::viewWithTag(int tag) {
    if (tag_ == tag)
        return sharedView();
    for (const auto& sub : subviews_)
        if (auto found = sub->viewWithTag(tag))
            return found;
    return nullptr;
}

// ---- Tree ----

Window* View::windowPointer() const {
    for (const View* v = this; v; v = v->superview_)
        if (auto* w = dynamic_cast<const Window*>(v))
            return const_cast<Window*>(w);
    return nullptr;
}

std::shared_ptr<Window> View::window() const {
    Window* w = windowPointer();
    return w ? w->sharedWindow() : nullptr;
}

bool View::isDescendantOf(const View* view) const {
    if (!view)
        return false;
    for (const View* v = this; v; v = v->superview_)
        if (v == view)
            return true;
    return false;
}

void View::notifyWillMoveToWindow(Window* window) {
    willMoveToWindow(window);
    auto subs = subviews_;
    for (const auto& sub : subs)
        sub->notifyWillMoveToWindow(window);
}

void View::notifyDidMoveToWindow() {
    if (needsDisplay_ && windowPointer())
        queueDisplayPass();
    didMoveToWindow();
    auto subs = subviews_;
    for (const auto& sub : subs)
        sub->notifyDidMoveToWindow();
}

void View::insertSubview(const std::shared_ptr<View>& view, std::size_t index) {
    if (!view)
        return;
    if (view.get() == this || isDescendantOf(view.get())) {
        logLine("View: refused to add a view to itself or to one of its own subviews");
        return;
    }
    View* oldSuper = view->superview_;
    auto keepOldSuper = oldSuper ? oldSuper->sharedView() : nullptr;
    if (oldSuper == this) {
        // Only the order changes.
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        if (it != subviews_.end())
            subviews_.erase(it);
        subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
        return;
    }
    Window* newWindow = windowPointer();
    Window* oldWindow = view->windowPointer();
    view->willMoveToSuperview(this);
    if (newWindow != oldWindow)
        view->notifyWillMoveToWindow(newWindow);
    if (oldSuper)
        oldSuper->detachChild(view.get());
    subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
    view->superview_ = this;
    view->didMoveToSuperview();
    if (newWindow != oldWindow)
        view->notifyDidMoveToWindow();
    didAddSubview(view.get());
    setNeedsLayout();
}

void View::detachChild(View* child) {
    willRemoveSubview(child);
    auto it =
        std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == child; });
    if (it != subviews_.end())
        subviews_.erase(it);
}

void View::addSubview(const std::shared_ptr<View>& view) {
    insertSubview(view, subviews_.size());
}

void View::insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling) {
    auto it =
        std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == sibling; });
    std::size_t index = it == subviews_.end() ? subviews_.size() : std::size_t(it - subviews_.begin()) + 1;
    if (view && view->superview_ == this && it != subviews_.end() &&
        std::size_t(std::find(subviews_.begin(), subviews_.end(), view) - subviews_.begin()) < index)
        --index; // the view itself leaves a place below the sibling
    insertSubview(view, index);
}

void View::insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling) {
    auto it =
        std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == sibling; });
    std::size_t index = it == subviews_.end() ? 0 : std::size_t(it - subviews_.begin());
    if (view && view->superview_ == this && it != subviews_.end() &&
        std::size_t(std::find(subviews_.begin(), subviews_.end(), view) - subviews_.begin()) < index)
        --index;
    insertSubview(view, index);
}

void View::removeFromSuperview() {
    View* sup = superview_;
    if (!sup)
        return;
    // Keep both alive through the hooks: the superview may hold the only reference.
    auto keepSuperview = sup->sharedView();
    std::shared_ptr<View> keep;
    for (const auto& v : sup->subviews_)
        if (v.get() == this)
            keep = v;
    auto first = std::dynamic_pointer_cast<View>(Responder::currentFirstResponder());
    if (first && first->isDescendantOf(this))
        first->resignFirstResponder();
    Window* oldWindow = windowPointer();
    willMoveToSuperview(nullptr);
    if (oldWindow)
        notifyWillMoveToWindow(nullptr);
    sup->detachChild(this);
    superview_ = nullptr;
    didMoveToSuperview();
    if (oldWindow)
        notifyDidMoveToWindow();
}

void View::bringSubviewToFront(const View* view) {
    auto it =
        std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == view; });
    if (it == subviews_.end())
        return;
    auto keep = *it;
    subviews_.erase(it);
    subviews_.push_back(keep);
}

void View::sendSubviewToBack(const View* view) {
    auto it =
        std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == view; });
    if (it == subviews_.end())
        return;
    auto keep = *it;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), keep);
}

// ---- Layout ----

void View::setNeedsLayout() {
    needsLayout_ = true;
}

void View::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    auto subs = subviews_;
    for (const auto& sub : subs)
        sub->layoutIfNeeded();
}

void View::sizeToFit() {
    Size fit = sizeThatFits(bounds_.size);
    Rect f = frame();
    setFrame(Rect(f.origin, fit));
}

// ---- Touches and coordinates ----

std::shared_ptr<View> View::hitTest(Point point, const Event* event) {
    if (hidden_ || !userInteractionEnabled_ || alpha_ < kMinimumVisibleAlpha)
        return nullptr;
    if (!pointInside(point, event))
        return nullptr;
    auto subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        Point local = (*it)->fromSuperview(point);
        if (auto hit = (*it)->hitTest(local, event))
            return hit;
    }
    return sharedView();
}

bool View::pointInside(Point point, const Event* event) {
    (void)event;
    return bounds_.contains(point);
}

Point View::toSuperview(Point p) const {
    Point q{p.x - (bounds_.origin.x + bounds_.size.width / 2),
            p.y - (bounds_.origin.y + bounds_.size.height / 2)};
    Point t = transform_.apply(q);
    return {t.x + center_.x, t.y + center_.y};
}

Point View::fromSuperview(Point p) const {
    Point q = transform_.inverted().apply(Point{p.x - center_.x, p.y - center_.y});
    return {q.x + bounds_.origin.x + bounds_.size.width / 2,
            q.y + bounds_.origin.y + bounds_.size.height / 2};
}

Point View::toBase(Point p) const {
    for (const View* v = this; v; v = v->superview_) {
        if (!v->superview_) {
            // A window's own coordinates are the base; a detached tree (or an alert) is
            // placed by its root's frame.
            if (!dynamic_cast<const Window*>(v))
                p = v->toSuperview(p);
            break;
        }
        p = v->toSuperview(p);
    }
    return p;
}

Point View::fromBase(Point p) const {
    std::vector<const View*> chain;
    for (const View* v = this; v; v = v->superview_)
        chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const View* v = *it;
        bool isRoot = it == chain.rbegin();
        if (isRoot && dynamic_cast<const Window*>(v))
            continue;
        p = v->fromSuperview(p);
    }
    return p;
}

Point View::convertPointTo(Point point, const View* other) const {
    Point base = toBase(point);
    return other ? other->fromBase(base) : base;
}

Point View::convertPointFrom(Point point, const View* other) const {
    Point base = other ? other->toBase(point) : point;
    return fromBase(base);
}

Rect View::convertRectTo(const Rect& rect, const View* other) const {
    Point corners[4] = {
        convertPointTo({rect.minX(), rect.minY()}, other), convertPointTo({rect.maxX(), rect.minY()}, other),
        convertPointTo({rect.minX(), rect.maxY()}, other), convertPointTo({rect.maxX(), rect.maxY()}, other)};
    double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Responder* View::nextResponder() const {
    if (owningController_)
        return owningController_;
    return superview_;
}

void View::drawText(TextCanvas& canvas, const Rect& rect) const {
    (void)canvas;
    (void)rect;
}

} // namespace platform

namespace platform {

// ---- Drawing ----

void View::setNeedsDisplay() {
    needsDisplay_ = true;
    if (windowPointer())
        queueDisplayPass();
}

void View::display() {
    needsDisplay_ = false;
    auto keep = sharedView();
    GraphicsContext context(bounds_.size);
    {
        ContextScope scope(context);
        drawRect(bounds_);
    }
    drawing_ = std::make_shared<const DisplayList>(context.takeDisplayList());
}

void View::displayIfNeeded() {
    if (needsDisplay_)
        display();
}

void View::displayTreeIfNeeded(View& root) {
    auto keep = root.sharedView();
    root.displayIfNeeded();
    auto subs = root.subviews_;
    for (const auto& sub : subs)
        displayTreeIfNeeded(*sub);
}

const DisplayList& View::lastDrawing() const {
    return drawing_ ? *drawing_ : emptyDisplayList();
}

void View::drawPicture(GraphicsContext& context) const {
    context.replay(lastDrawing());
}

} // namespace platform
