#include "platform/ui/Toolbar.h"

#include <algorithm>

#include "platform/ui/BarItemButton.h"

namespace platform {

Toolbar::Toolbar(const Rect& frame) : View(frame), tintColor_(Color::grayColor()) {
    setBackgroundColor(Color::grayColor());
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated) {
    (void)animated;
    for (auto& item : items_)
        if (std::find(items.begin(), items.end(), item) == items.end())
            item->setChangeHandler({});
    items_ = std::move(items);
    std::weak_ptr<View> weak = sharedView();
    for (auto& item : items_)
        item->setChangeHandler([weak] {
            if (auto v = std::static_pointer_cast<Toolbar>(weak.lock()))
                v->rebuild();
        });
    rebuild();
}

void Toolbar::rebuild() {
    std::vector<std::shared_ptr<View>> next;
    for (auto& item : items_) {
        if (item->isFlexibleSpace() || item->isFixedSpace()) {
            next.push_back(nullptr);
            continue;
        }
        next.push_back(item->customView() ? item->customView() : detail::makeBarItemButton(item));
    }
    // Views of earlier items that no item shows any more leave the bar.
    for (auto& old : itemViews_)
        if (old && old->superview().get() == this && std::find(next.begin(), next.end(), old) == next.end())
            old->removeFromSuperview();
    itemViews_ = std::move(next);
    for (auto& v : itemViews_)
        if (v && v->superview().get() != this)
            addSubview(v);
    setNeedsLayout();
    layoutIfNeeded();
}

std::shared_ptr<View> Toolbar::viewForItem(const BarButtonItem& item) const {
    for (std::size_t i = 0; i < items_.size() && i < itemViews_.size(); ++i)
        if (items_[i].get() == &item)
            return itemViews_[i];
    return nullptr;
}

Rect Toolbar::frameForItem(const BarButtonItem& item) {
    layoutIfNeeded();
    for (std::size_t i = 0; i < items_.size() && i < itemFrames_.size(); ++i)
        if (items_[i].get() == &item)
            return itemFrames_[i];
    return Rect();
}

namespace {

// System items shown as a picture rather than a word.
bool drawnAsIcon(const BarButtonItem& item) {
    auto kind = item.systemItem();
    if (!kind)
        return false;
    switch (*kind) {
    case BarButtonSystemItem::Done:
    case BarButtonSystemItem::Cancel:
    case BarButtonSystemItem::Edit:
    case BarButtonSystemItem::Save:
    case BarButtonSystemItem::FlexibleSpace:
    case BarButtonSystemItem::FixedSpace:
        return false;
    default:
        return true;
    }
}

} // namespace

void Toolbar::layoutSubviews() {
    Rect b = bounds();
    std::vector<double> widths;
    double used = 0;
    int flexible = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        auto& item = items_[i];
        double w = 0;
        if (item->isFlexibleSpace())
            ++flexible;
        else if (item->isFixedSpace())
            w = item->width();
        else if (auto& v = itemViews_[i])
            w = item->customView()  ? v->frame().width()
                : item->width() > 0 ? item->width()
                : drawnAsIcon(*item) ? kToolbarIconWidth
                                     : v->sizeThatFits({}).width;
        widths.push_back(w);
        used += w;
    }
    auto isSpace = [](const BarButtonItem& item) { return item.isFlexibleSpace() || item.isFixedSpace(); };
    auto gapAfter = [&](std::size_t i) {
        return i + 1 < items_.size() && !isSpace(*items_[i]) && !isSpace(*items_[i + 1]) ? kToolbarItemSpacing
                                                                                           : 0.0;
    };
    double spacing = 0;
    for (std::size_t i = 0; i < items_.size(); ++i)
        spacing += gapAfter(i);
    double free = std::max(0.0, b.width() - 2 * kToolbarMargin - spacing - used);
    double x = kToolbarMargin;
    itemFrames_.clear();
    for (std::size_t i = 0; i < items_.size(); ++i) {
        double w = items_[i]->isFlexibleSpace() ? free / flexible : widths[i];
        auto& v = itemViews_[i];
        double h =
            v ? std::min(v->frame().height() > 0 ? v->frame().height() : b.height(), b.height()) : b.height();
        Rect f(x, (b.height() - h) / 2, w, h);
        itemFrames_.push_back(f);
        if (v && v->frame() != f)
            v->setFrame(f);
        x += w + gapAfter(i);
    }
}

} // namespace platform
