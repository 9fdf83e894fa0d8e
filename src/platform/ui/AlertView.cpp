#include "platform/ui/AlertView.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/TextSupport.h"

namespace platform {
namespace {

// The alert is laid out in whole text rows, so its box, texts, fields and buttons each get
// rows of their own: a border row, the title, the message, one row per field, one row per
// button (two buttons share a row), a border row.
constexpr double kAlertPadding = kTextAdvance;
constexpr double kLineHeight = kCellHeight;
constexpr double kFieldHeight = kCellHeight;
constexpr double kButtonRowHeight = kCellHeight;
// The panel's look in pictures.
constexpr double kPanelRadius = 10;
const Color kPanelEdge = Color::white(0.55);
constexpr double kTitleFontSize = 15;
constexpr double kMessageFontSize = 13;
constexpr double kSmallestAlertFontSize = 8;
// The panel keeps this far from the screen's top and bottom edges (the status bar's height),
// however much its message holds.
constexpr double kScreenMargin = 20;

// Number of lines `text` takes when wrapped to `width` points (at least 1 for non-empty).
int linesFor(const std::string& text, double width) {
    if (text.empty())
        return 0;
    std::size_t perLine = std::max<std::size_t>(1, std::size_t(width / kTextAdvance));
    int lines = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t nl = text.find('\n', start);
        std::string part = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        std::size_t cells = detail::cellLength(part);
        // Word wrapping may need a little more than the plain division; one spare line per
        // paragraph keeps the box from cutting text.
        lines += int(std::max<std::size_t>(1, (cells + perLine - 1) / perLine + (cells > perLine ? 1 : 0)));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

} // namespace

AlertView::TextRows AlertView::textRows() const {
    const double inner = kAlertWidth - 2 * kAlertPadding;
    TextRows rows{std::max(1, linesFor(title_, inner)), linesFor(message_, inner)};
    // Fields, buttons and the two border rows always show; the message gives up rows first,
    // then the title (down to one), so the panel stays inside the screen.
    int buttonRows = buttonViews_.size() == 2 ? 1 : int(buttonViews_.size());
    int fixedRows = 2 + int(textFields_.size()) + buttonRows;
    double room = Screen::main().bounds().height() - 2 * kScreenMargin;
    int available = std::max(0, int(std::floor(room / kLineHeight)) - fixedRows);
    if (rows.title + rows.message > available) {
        rows.message = std::clamp(available - rows.title, 0, rows.message);
        rows.title = std::clamp(available - rows.message, 1, rows.title);
    }
    return rows;
}

AlertView::AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
                     std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles)
    : View(Rect(0, 0, kAlertWidth, 0)), title_(std::move(title)), message_(std::move(message)),
      delegate_(std::move(delegate)) {
    setBackgroundColor(Color::whiteColor());
    layer().setCornerRadius(kPanelRadius);
    if (cancelButtonTitle) {
        buttonTitles_.push_back(*cancelButtonTitle);
        cancelIndex_ = 0;
    }
    for (auto& t : otherButtonTitles)
        buttonTitles_.push_back(std::move(t));
}

std::shared_ptr<AlertView> AlertView::create(std::string title, std::string message,
                                             std::weak_ptr<AlertViewDelegate> delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles) {
    auto alert = std::make_shared<AlertView>(std::move(title), std::move(message), std::move(delegate),
                                             std::move(cancelButtonTitle), std::move(otherButtonTitles));
    alert->rebuildButtons();
    return alert;
}

AlertView::~AlertView() = default;

std::shared_ptr<AlertView> AlertView::self() {
    return std::static_pointer_cast<AlertView>(sharedView());
}

int AlertView::addButtonWithTitle(std::string title) {
    buttonTitles_.push_back(std::move(title));
    rebuildButtons();
    return int(buttonTitles_.size()) - 1;
}

std::string AlertView::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= int(buttonTitles_.size()))
        return {};
    return buttonTitles_[std::size_t(index)];
}

void AlertView::setCancelButtonIndex(int index) {
    cancelIndex_ = index >= 0 && index < int(buttonTitles_.size()) ? index : -1;
}

int AlertView::firstOtherButtonIndex() const {
    for (int i = 0; i < int(buttonTitles_.size()); ++i)
        if (i != cancelIndex_)
            return i;
    return -1;
}

int AlertView::indexOfButtonWithTitle(std::string_view title) const {
    for (int i = 0; i < int(buttonTitles_.size()); ++i)
        if (buttonTitles_[std::size_t(i)] == title)
            return i;
    return -1;
}

void AlertView::setAlertViewStyle(AlertViewStyle style) {
    for (auto& f : textFields_)
        f->removeFromSuperview();
    textFields_.clear();
    style_ = style;
    auto addField = [&](bool secure) {
        auto field = std::make_shared<TextField>();
        field->setSecureTextEntry(secure);
        field->setBorderStyle(TextBorderStyle::Line);
        field->setBackgroundColor(Color::whiteColor());
        textFields_.push_back(field);
        addSubview(field);
    };
    switch (style) {
    case AlertViewStyle::Default:
        break;
    case AlertViewStyle::SecureTextInput:
        addField(true);
        break;
    case AlertViewStyle::PlainTextInput:
        addField(false);
        break;
    case AlertViewStyle::LoginAndPasswordInput:
        addField(false);
        addField(true);
        break;
    }
    setNeedsLayout();
}

std::shared_ptr<TextField> AlertView::textFieldAtIndex(int index) const {
    if (index < 0 || index >= int(textFields_.size()))
        return nullptr;
    return textFields_[std::size_t(index)];
}

void AlertView::rebuildButtons() {
    for (auto& b : buttonViews_)
        b->removeFromSuperview();
    buttonViews_.clear();
    std::weak_ptr<View> weak = sharedView();
    for (int i = 0; i < int(buttonTitles_.size()); ++i) {
        auto button = std::make_shared<Button>(Rect(), ButtonType::RoundedRect);
        button->setTitle(buttonTitles_[std::size_t(i)]);
        button->addAction(
            [weak, i](Control&) {
                if (auto alert = std::static_pointer_cast<AlertView>(weak.lock()))
                    alert->pressButton(i);
            },
            ControlEvent::TouchUpInside);
        buttonViews_.push_back(button);
        addSubview(button);
    }
    setNeedsLayout();
}

void AlertView::layoutSubviews() {
    double inner = kAlertWidth - 2 * kAlertPadding;
    TextRows rows = textRows();
    double y = kLineHeight; // the top border row
    y += kLineHeight * rows.title;
    y += kLineHeight * rows.message;
    for (auto& field : textFields_) {
        field->setFrame(Rect(kAlertPadding, y, inner, kFieldHeight));
        y += kFieldHeight;
    }
    bool sideBySide = buttonViews_.size() == 2;
    if (sideBySide) {
        double w = inner / 2;
        buttonViews_[0]->setFrame(Rect(kAlertPadding, y, w, kButtonRowHeight));
        buttonViews_[1]->setFrame(Rect(kAlertPadding + w, y, w, kButtonRowHeight));
        y += kButtonRowHeight;
    } else {
        for (auto& b : buttonViews_) {
            b->setFrame(Rect(kAlertPadding, y, inner, kButtonRowHeight));
            y += kButtonRowHeight;
        }
    }
    y += kLineHeight; // the bottom border row
    // Centred on the screen, on cell boundaries so the text renderer draws it crisply.
    Rect screen = Screen::main().bounds();
    double x = std::floor((screen.width() - kAlertWidth) / 2 / kCellWidth) * kCellWidth;
    double top = std::max(std::floor((screen.height() - y) / 2 / kCellHeight) * kCellHeight, 0.0);
    Rect frame(x, top, kAlertWidth, y);
    if (this->frame() != frame) {
        setFrame(frame);
        // The size is settled now: no second pass is needed.
        View::layoutIfNeeded();
    }
}

void AlertView::drawText(TextCanvas& canvas, const Rect& rect) const {
    canvas.frame(rect);
    double inner = kAlertWidth - 2 * kAlertPadding;
    double y = rect.y() + kLineHeight;
    TextRows rows = textRows();
    canvas.writeWrapped(Rect(rect.x() + kAlertPadding, y, inner, kLineHeight * rows.title), title_, 0, 1);
    y += kLineHeight * rows.title;
    if (rows.message > 0)
        canvas.writeWrapped(Rect(rect.x() + kAlertPadding, y, inner, kLineHeight * rows.message), message_, 0,
                            1);
}

void AlertView::drawPicture(GraphicsContext& g) const {
    Rect b = bounds();
    double inner = kAlertWidth - 2 * kAlertPadding;
    g.saveGState();
    g.setStrokeColor(kPanelEdge);
    g.setLineWidth(1);
    g.beginPath();
    g.addRoundedRect(b.insetBy(0.5, 0.5), kPanelRadius - 0.5);
    g.strokePath();
    auto text = [&](const std::string& s, const Rect& rect, const Font& font) {
        DrawOp op;
        op.kind = DrawOp::Kind::Text;
        op.text = s;
        op.rect = rect;
        op.font = font;
        op.color = Color::blackColor();
        op.alignment = int(TextAlignment::Center);
        op.lines = 0;
        op.centerVertically = true;
        op.minimumFontSize = kSmallestAlertFontSize;
        op.truncatesTail = true;
        g.record(std::move(op));
    };
    double y = b.y() + kLineHeight;
    TextRows rows = textRows();
    text(title_, Rect(b.x() + kAlertPadding, y, inner, kLineHeight * rows.title),
         Font::boldSystemFont(kTitleFontSize));
    y += kLineHeight * rows.title;
    if (rows.message > 0)
        text(message_, Rect(b.x() + kAlertPadding, y, inner, kLineHeight * rows.message),
             Font::systemFont(kMessageFontSize));
    g.restoreGState();
}

void AlertView::show() {
    if (visible_)
        return;
    auto keep = self();
    if (!keep) {
        logLine("AlertView: an alert must be made with AlertView::create to be shown");
        return;
    }
    if (buttonViews_.size() != buttonTitles_.size())
        rebuildButtons();
    if (auto d = delegate())
        d->willPresentAlertView(*this);
    visible_ = true;
    Application::shared().alertShown(keep);
    layoutIfNeeded();
    if (!textFields_.empty())
        textFields_.front()->becomeFirstResponder();
    std::weak_ptr<View> weak = keep;
    RunLoop::main().perform([weak] {
        auto alert = std::static_pointer_cast<AlertView>(weak.lock());
        if (alert && alert->visible_)
            if (auto d = alert->delegate())
                d->didPresentAlertView(*alert);
    });
}

void AlertView::dismissWithClickedButtonIndex(int index, bool animated) {
    if (!visible_ || dismissing_)
        return;
    auto keep = self();
    dismissing_ = true;
    if (auto d = delegate())
        d->alertViewWillDismissWithButtonIndex(*this, index);
    for (auto& field : textFields_)
        field->resignFirstResponder();
    visible_ = false;
    Application::shared().alertDismissed(this);
    dismissing_ = false;
    if (!animated) {
        if (auto d = delegate())
            d->alertViewDidDismissWithButtonIndex(*this, index);
        return;
    }
    // The alert stays alive until its did-dismiss has been told.
    RunLoop::main().perform([keep, index] {
        if (auto d = keep->delegate())
            d->alertViewDidDismissWithButtonIndex(*keep, index);
    });
}

bool AlertView::pressButton(int index) {
    if (!visible_ || dismissing_ || index < 0 || index >= int(buttonTitles_.size()))
        return false;
    auto keep = self();
    if (auto d = delegate())
        d->alertViewClickedButtonAtIndex(*this, index);
    dismissWithClickedButtonIndex(index, true);
    return true;
}

bool AlertView::pressButtonWithTitle(std::string_view title) {
    int index = indexOfButtonWithTitle(title);
    return index >= 0 && pressButton(index);
}

} // namespace platform
