#include "platform/ui/ActionSheet.h"

#include <algorithm>

#include "platform/runloop/RunLoop.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {
constexpr double kTitleHeight = 32;
constexpr double kTitleFontSize = 13;
constexpr double kSheetAlpha = 0.8;
const Color kDestructiveColor = Color::rgba(0.8, 0.1, 0.1);
} // namespace

std::shared_ptr<ActionSheet> ActionSheet::create(std::optional<std::string> title,
                                                 std::weak_ptr<ActionSheetDelegate> delegate,
                                                 std::optional<std::string> cancelButtonTitle,
                                                 std::optional<std::string> destructiveButtonTitle,
                                                 std::vector<std::string> otherButtonTitles) {
    auto sheet = std::make_shared<ActionSheet>();
    sheet->title_ = std::move(title);
    sheet->delegate_ = std::move(delegate);
    if (destructiveButtonTitle)
        sheet->destructiveIndex_ = sheet->addButtonWithTitle(std::move(*destructiveButtonTitle));
    for (auto& other : otherButtonTitles)
        sheet->addButtonWithTitle(std::move(other));
    if (cancelButtonTitle)
        sheet->cancelIndex_ = sheet->addButtonWithTitle(std::move(*cancelButtonTitle));
    return sheet;
}

ActionSheet::ActionSheet(const Rect& frame) : View(frame) {
    setBackgroundColor(Color::white(0, kSheetAlpha));
    setOpaque(false);
}

ActionSheet::~ActionSheet() = default;

int ActionSheet::addButtonWithTitle(std::string title) {
    titles_.push_back(std::move(title));
    if (visible_)
        rebuildButtons();
    return int(titles_.size()) - 1;
}

std::string ActionSheet::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons())
        return {};
    return titles_[std::size_t(index)];
}

int ActionSheet::firstOtherButtonIndex() const {
    for (int i = 0; i < numberOfButtons(); ++i)
        if (i != cancelIndex_ && i != destructiveIndex_)
            return i;
    return -1;
}

int ActionSheet::indexOfButtonWithTitle(std::string_view title) const {
    auto it = std::find(titles_.begin(), titles_.end(), title);
    return it == titles_.end() ? -1 : int(it - titles_.begin());
}

void ActionSheet::rebuildButtons() {
    for (auto& b : buttonViews_)
        b->removeFromSuperview();
    buttonViews_.clear();
    std::weak_ptr<View> weak = sharedView();
    for (int i = 0; i < numberOfButtons(); ++i) {
        auto button = std::make_shared<Button>(Rect(), ButtonType::RoundedRect);
        button->setTitle(titles_[std::size_t(i)]);
        if (i == destructiveIndex_) {
            button->setBackgroundColor(kDestructiveColor);
            button->setTitleColor(Color::whiteColor());
        }
        button->addAction(
            [weak, i](Control&) {
                if (auto sheet = std::static_pointer_cast<ActionSheet>(weak.lock()))
                    sheet->pressButton(i);
            },
            ControlEvent::TouchUpInside);
        buttonViews_.push_back(button);
        addSubview(button);
    }
    setNeedsLayout();
}

double ActionSheet::contentHeight() const {
    double h = kSpacing + (title_ && !title_->empty() ? kTitleHeight : 0);
    return h + numberOfButtons() * (kButtonHeight + kSpacing);
}

void ActionSheet::showInView(View& view) {
    if (visible_)
        return;
    auto keep = std::static_pointer_cast<ActionSheet>(sharedView());
    if (!keep)
        return; // not made with make_shared: nothing can hold it on the screen
    auto window = view.window();
    View* host = window ? static_cast<View*>(window.get()) : &view;
    if (auto d = delegate())
        d->willPresentActionSheet(*this);
    rebuildButtons();
    Rect hostBounds = host->bounds();
    double height = std::min(contentHeight(), hostBounds.height());
    setFrame(Rect(hostBounds.x(), hostBounds.maxY() - height, hostBounds.width(), height));
    visible_ = true;
    host->addSubview(keep);
    layoutIfNeeded();
    std::weak_ptr<ActionSheet> weak = keep;
    RunLoop::main().perform([weak] {
        auto sheet = weak.lock();
        if (sheet && sheet->visible_)
            if (auto d = sheet->delegate())
                d->didPresentActionSheet(*sheet);
    });
}

void ActionSheet::layoutSubviews() {
    double y = kSpacing + (title_ && !title_->empty() ? kTitleHeight : 0);
    double width = std::max(bounds().width() - 2 * kSpacing * 2, 0.0);
    for (auto& b : buttonViews_) {
        b->setFrame(Rect(2 * kSpacing, y, width, kButtonHeight));
        y += kButtonHeight + kSpacing;
    }
}

void ActionSheet::dismissWithClickedButtonIndex(int index, bool animated) {
    if (!visible_ || dismissing_)
        return;
    auto keep = std::static_pointer_cast<ActionSheet>(sharedView());
    dismissing_ = true;
    if (auto d = delegate())
        d->actionSheetWillDismissWithButtonIndex(*this, index);
    visible_ = false;
    removeFromSuperview();
    dismissing_ = false;
    if (!animated) {
        if (auto d = delegate())
            d->actionSheetDidDismissWithButtonIndex(*this, index);
        return;
    }
    // The sheet stays alive until its did-dismiss has been told.
    RunLoop::main().perform([keep, index] {
        if (auto d = keep->delegate())
            d->actionSheetDidDismissWithButtonIndex(*keep, index);
    });
}

bool ActionSheet::pressButton(int index) {
    if (!visible_ || dismissing_ || index < 0 || index >= numberOfButtons())
        return false;
    auto keep = sharedView();
    if (auto d = delegate())
        d->actionSheetClickedButtonAtIndex(*this, index);
    dismissWithClickedButtonIndex(index, true);
    return true;
}

bool ActionSheet::pressButtonWithTitle(std::string_view title) {
    int index = indexOfButtonWithTitle(title);
    return index >= 0 && pressButton(index);
}

void ActionSheet::drawText(TextCanvas& canvas, const Rect& rect) const {
    canvas.frame(rect);
    if (title_ && !title_->empty())
        canvas.writeInRect(Rect(rect.x(), rect.y() + kSpacing, rect.width(), kTitleHeight), *title_, 1);
}

void ActionSheet::drawPicture(GraphicsContext& g) const {
    if (title_ && !title_->empty()) {
        g.setFillColor(Color::whiteColor());
        g.drawText(*title_, Rect(kSpacing, kSpacing, bounds().width() - 2 * kSpacing, kTitleHeight),
                   Font::systemFont(kTitleFontSize), TextAlignment::Center, 2);
    }
}

} // namespace platform
