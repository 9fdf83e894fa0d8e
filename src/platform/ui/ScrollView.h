#pragma once
// A view that shows a part of a larger content area: the content offset is the origin of
// its bounds. Scrolling is simulated: `setContentOffset` with animation moves at once and
// tells the delegate scrollViewDidEndScrollingAnimation after kScrollAnimationDuration on
// the main run loop; `simulateDrag` stands for a finger moving the content (will-begin-
// dragging, did-scroll, did-end-dragging, then, with paging, the offset snapped to a page,
// and did-end-decelerating on the next turn). Offsets are kept inside the content.
// The delegate is held weakly. Owned by its superview; main thread only.
#include <memory>

#include "platform/ui/View.h"

namespace platform {

inline constexpr double kScrollAnimationDuration = 0.3;

class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView&) {}
    virtual void scrollViewWillBeginDragging(ScrollView&) {}
    virtual void scrollViewDidEndDragging(ScrollView&, bool willDecelerate) { (void)willDecelerate; }
    virtual void scrollViewDidEndDecelerating(ScrollView&) {}
    virtual void scrollViewDidEndScrollingAnimation(ScrollView&) {}
};

class ScrollView : public View {
public:
    explicit ScrollView(const Rect& frame = {});
    ~ScrollView() override;

    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size);
    Point contentOffset() const { return bounds().origin; }
    void setContentOffset(Point offset, bool animated = false);
    EdgeInsets contentInset() const { return contentInset_; }
    void setContentInset(const EdgeInsets& insets) { contentInset_ = insets; }
    bool isPagingEnabled() const { return paging_; }
    void setPagingEnabled(bool on) { paging_ = on; }
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool on) { scrollEnabled_ = on; }
    bool showsVerticalScrollIndicator() const { return showsVertical_; }
    void setShowsVerticalScrollIndicator(bool on) { showsVertical_ = on; }
    bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
    void setShowsHorizontalScrollIndicator(bool on) { showsHorizontal_ = on; }
    bool bounces() const { return bounces_; }
    void setBounces(bool on) { bounces_ = on; }
    // Whether a tap on the status bar scrolls this view to the top (stored; nothing here taps it).
    bool scrollsToTop() const { return scrollsToTop_; }
    void setScrollsToTop(bool on) { scrollsToTop_ = on; }

    std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) { delegate_ = std::move(delegate); }

    // Moves the content by a finger drag of (dx, dy) points (a drag up scrolls down: pass
    // the change of the offset, not of the finger). Nothing while scrolling is disabled.
    void simulateDrag(double dx, double dy);
    // The offset clamped to the content.
    Point clampedOffset(Point offset) const;

protected:
    // Called after every change of the offset.
    virtual void contentOffsetChanged() {}

private:
    void applyOffset(Point offset);

    Size contentSize_;
    EdgeInsets contentInset_;
    bool paging_ = false;
    bool scrollEnabled_ = true;
    bool showsVertical_ = true;
    bool showsHorizontal_ = true;
    bool bounces_ = true;
    bool scrollsToTop_ = true;
    std::weak_ptr<ScrollViewDelegate> delegate_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace platform
