#include "platform/ui/NavigationBar.h"

#include <algorithm>

#include "platform/ui/BarItemButton.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScreenPicture.h"

namespace platform {
namespace {
constexpr double kBarSideMargin = 5;
constexpr double kTitleFontSize = 20;
// Room left beside a title's measured width, so that rounding never cuts its last letter.
constexpr double kTitleSlack = 1;
} // namespace

// ---- NavigationItem ----

void NavigationItem::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}
void NavigationItem::setTitleView(std::shared_ptr<View> view) {
    titleView_ = std::move(view);
    changed();
}
void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated) {
    (void)animated;
    left_ = std::move(item);
    changed();
}
void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated) {
    (void)animated;
    right_ = std::move(item);
    changed();
}
void NavigationItem::setBackBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    back_ = std::move(item);
    changed();
}
void NavigationItem::setHidesBackButton(bool hides, bool animated) {
    (void)animated;
    hidesBackButton_ = hides;
    changed();
}
void NavigationItem::setPrompt(std::string prompt) {
    prompt_ = std::move(prompt);
    changed();
}

// ---- NavigationBar ----

NavigationBar::NavigationBar(const Rect& frame) : View(frame), tintColor_(Color::grayColor()) {
    setBackgroundColor(Color::grayColor());
}

NavigationBar::~NavigationBar() {
    for (auto& item : items_)
        item->setChangeHandler({});
}

std::shared_ptr<NavigationItem> NavigationBar::backItem() const {
    return items_.size() >= 2 ? items_[items_.size() - 2] : nullptr;
}

void NavigationBar::watch(const std::shared_ptr<NavigationItem>& item) {
    std::weak_ptr<View> weak = sharedView();
    item->setChangeHandler([weak] {
        if (auto bar = std::static_pointer_cast<NavigationBar>(weak.lock()))
            bar->rebuild();
    });
}

void NavigationBar::pushNavigationItem(std::shared_ptr<NavigationItem> item, bool animated) {
    (void)animated;
    if (!item)
        return;
    watch(item);
    items_.push_back(std::move(item));
    rebuild();
}

std::shared_ptr<NavigationItem> NavigationBar::popNavigationItem(bool animated) {
    (void)animated;
    if (items_.empty())
        return nullptr;
    auto item = items_.back();
    items_.pop_back();
    item->setChangeHandler({});
    rebuild();
    return item;
}

void NavigationBar::setItems(std::vector<std::shared_ptr<NavigationItem>> items, bool animated) {
    (void)animated;
    for (auto& old : items_)
        old->setChangeHandler({});
    items_ = std::move(items);
    for (auto& item : items_)
        watch(item);
    rebuild();
}

std::shared_ptr<View> NavigationBar::viewForItem(const BarButtonItem& item) const {
    if (leftItem_.get() == &item)
        return leftView_;
    if (rightItem_.get() == &item)
        return rightView_;
    return nullptr;
}

void NavigationBar::rebuild() {
    for (auto* v : {&leftView_, &rightView_, &titleView_}) {
        if (*v && (*v)->superview().get() == this)
            (*v)->removeFromSuperview();
        v->reset();
    }
    if (backButton_ && backButton_->superview().get() == this)
        backButton_->removeFromSuperview();
    backButton_.reset();
    leftItem_.reset();
    rightItem_.reset();
    auto top = topItem();
    if (!top)
        return;
    auto viewFor = [](const std::shared_ptr<BarButtonItem>& item) -> std::shared_ptr<View> {
        if (item->customView())
            return item->customView();
        return detail::makeBarItemButton(item);
    };
    if (top->leftBarButtonItem()) {
        leftItem_ = top->leftBarButtonItem();
        leftView_ = viewFor(leftItem_);
    } else if (auto below = backItem(); below && !top->hidesBackButton()) {
        std::string title = kDefaultBackButtonTitle;
        if (below->backBarButtonItem() && !below->backBarButtonItem()->title().empty())
            title = below->backBarButtonItem()->title();
        else if (!below->title().empty())
            title = below->title();
        backButton_ = std::make_shared<Button>(Rect(), ButtonType::Custom);
        backButton_->setTitle(title);
        std::weak_ptr<View> weak = sharedView();
        backButton_->addAction(
            [weak](Control&) {
                auto bar = std::static_pointer_cast<NavigationBar>(weak.lock());
                if (!bar)
                    return;
                if (bar->backHandler_) {
                    auto handler = bar->backHandler_;
                    handler();
                } else {
                    bar->popNavigationItem(true);
                }
            },
            ControlEvent::TouchUpInside);
        Size fit = backButton_->sizeThatFits({});
        backButton_->setFrame(Rect(0, 0, fit.width, detail::kBarItemButtonHeight));
        leftView_ = backButton_;
    }
    if (top->rightBarButtonItem()) {
        rightItem_ = top->rightBarButtonItem();
        rightView_ = viewFor(rightItem_);
    }
    if (top->titleView()) {
        titleView_ = top->titleView();
    } else {
        auto label = std::make_shared<Label>();
        label->setText(top->title());
        label->setFont(Font::boldSystemFont(kTitleFontSize));
        label->setTextAlignment(TextAlignment::Center);
        label->setTextColor(Color::whiteColor());
        // The bar shows through around the text (a label is white by default).
        label->setBackgroundColor(Color::clearColor());
        titleView_ = label;
    }
    for (auto* v : {&titleView_, &leftView_, &rightView_})
        if (*v)
            addSubview(*v);
    setNeedsLayout();
    layoutIfNeeded();
}

void NavigationBar::layoutSubviews() {
    Rect b = bounds();
    double leftEnd = kBarSideMargin;
    double rightStart = b.width() - kBarSideMargin;
    if (leftView_) {
        Rect f = leftView_->frame();
        double h = std::min(f.height() > 0 ? f.height() : b.height(), b.height());
        leftView_->setFrame(Rect(kBarSideMargin, (b.height() - h) / 2, f.width(), h));
        leftEnd = kBarSideMargin + f.width() + kBarSideMargin;
    }
    if (rightView_) {
        Rect f = rightView_->frame();
        double h = std::min(f.height() > 0 ? f.height() : b.height(), b.height());
        rightStart = b.width() - kBarSideMargin - f.width();
        rightView_->setFrame(Rect(rightStart, (b.height() - h) / 2, f.width(), h));
        rightStart -= kBarSideMargin;
    }
    if (auto label = std::dynamic_pointer_cast<Label>(titleView_)) {
        // Centred on the bar, narrowed to stay clear of the side items. A title too wide for
        // that moves off the centre as little as it must to stay whole between the items, as
        // the platform's bar places it; only a title wider than all the room is cut.
        double half = std::max(std::min(b.width() / 2 - leftEnd, rightStart - b.width() / 2), 0.0);
        double need = ScreenPicture::textWidth(label->text(), label->font()) + kTitleSlack;
        double room = std::max(rightStart - leftEnd, 0.0);
        if (need <= 2 * half)
            label->setFrame(Rect(b.width() / 2 - half, 0, 2 * half, b.height()));
        else if (need <= room)
            label->setFrame(
                Rect(std::clamp(b.width() / 2 - need / 2, leftEnd, rightStart - need), 0, need, b.height()));
        else
            label->setFrame(Rect(leftEnd, 0, room, b.height()));
    } else if (titleView_) {
        titleView_->setCenter(Point{b.width() / 2, b.height() / 2});
    }
}

} // namespace platform
