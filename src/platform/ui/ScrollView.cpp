#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/runloop/RunLoop.h"

namespace platform {

ScrollView::ScrollView(const Rect& frame) : View(frame) {
    setClipsToBounds(true);
}

ScrollView::~ScrollView() {
    *alive_ = false;
}

void ScrollView::setContentSize(Size size) {
    contentSize_ = size;
    setNeedsLayout();
}

Point ScrollView::clampedOffset(Point offset) const {
    Size view = bounds().size;
    double minX = -contentInset_.left;
    double minY = -contentInset_.top;
    double maxX = std::max(minX, contentSize_.width + contentInset_.right - view.width);
    double maxY = std::max(minY, contentSize_.height + contentInset_.bottom - view.height);
    return {std::clamp(offset.x, minX, maxX), std::clamp(offset.y, minY, maxY)};
}

void ScrollView::applyOffset(Point offset) {
    Rect b = bounds();
    if (b.origin == offset)
        return;
    b.origin = offset;
    setBounds(b);
    contentOffsetChanged();
    if (auto d = delegate())
        d->scrollViewDidScroll(*this);
}

void ScrollView::setContentOffset(Point offset, bool animated) {
    applyOffset(offset);
    if (!animated)
        return;
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<View> weak = sharedView();
    RunLoop::main().performAfter(kScrollAnimationDuration, [alive, weak] {
        auto flag = alive.lock();
        auto self = std::static_pointer_cast<ScrollView>(weak.lock());
        if (!flag || !*flag || !self)
            return;
        if (auto d = self->delegate())
            d->scrollViewDidEndScrollingAnimation(*self);
    });
}

void ScrollView::simulateDrag(double dx, double dy) {
    if (!scrollEnabled_)
        return;
    auto keep = sharedView();
    if (auto d = delegate())
        d->scrollViewWillBeginDragging(*this);
    Point target = clampedOffset(Point{contentOffset().x + dx, contentOffset().y + dy});
    applyOffset(target);
    if (auto d = delegate())
        d->scrollViewDidEndDragging(*this, true);
    if (paging_) {
        Size page = bounds().size;
        Point snapped = target;
        if (page.width > 0)
            snapped.x = std::round(target.x / page.width) * page.width;
        if (page.height > 0)
            snapped.y = std::round(target.y / page.height) * page.height;
        applyOffset(clampedOffset(snapped));
    }
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<View> weak = sharedView();
    RunLoop::main().perform([alive, weak] {
        auto flag = alive.lock();
        auto self = std::static_pointer_cast<ScrollView>(weak.lock());
        if (!flag || !*flag || !self)
            return;
        if (auto d = self->delegate())
            d->scrollViewDidEndDecelerating(*self);
    });
}

} // namespace platform
