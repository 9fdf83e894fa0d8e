#include "platform/ui/TableViewCell.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextRenderer.h"

namespace platform {
namespace {
// The delete control's look: a red disc with a white bar across it, centred in its column.
constexpr double kDeleteDiscDiameter = 22;
constexpr double kDeleteBarWidth = 12;
constexpr double kDeleteBarHeight = 3;
const Color kDeleteDisc = Color::rgba(0.87, 0.13, 0.13);
const Color kDeleteDiscEdge = Color::rgba(0.6, 0.05, 0.05);

// The delete control a cell shows on its left while its table edits. It lies above the
// cell's backgrounds and content, so it shows whatever they draw, and it lets touches through
// to the row.
class DeleteControlView : public View {
public:
    DeleteControlView() { setUserInteractionEnabled(false); }

    void drawText(TextCanvas& canvas, const Rect& rect) const override { canvas.writeInRect(rect, "(-)", 1); }

    void drawPicture(GraphicsContext& g) const override {
        Rect b = bounds();
        double diameter = std::min({kDeleteDiscDiameter, b.width(), b.height()});
        if (!(diameter > 2))
            return;
        Rect disc(b.midX() - diameter / 2, b.midY() - diameter / 2, diameter, diameter);
        g.saveGState();
        g.setFillColor(kDeleteDisc);
        g.fillEllipseInRect(disc);
        g.setStrokeColor(kDeleteDiscEdge);
        g.setLineWidth(1);
        g.beginPath();
        g.addEllipseInRect(disc.insetBy(0.5, 0.5));
        g.strokePath();
        double bar = std::min(kDeleteBarWidth, diameter * 0.6);
        g.setFillColor(Color::whiteColor());
        g.fillRect(Rect(disc.midX() - bar / 2, disc.midY() - kDeleteBarHeight / 2, bar, kDeleteBarHeight));
        g.restoreGState();
    }
};

constexpr double kCellMargin = 10;
constexpr double kAccessoryWidth = 20;
constexpr double kDeleteButtonHeight = 30;
constexpr double kTextFontSize = 18;
constexpr double kDetailFontSize = 14;
constexpr Rect kDefaultCellFrame{0, 0, 320, 44};

std::shared_ptr<Label> makeCellLabel(double size, bool bold) {
    auto label = std::make_shared<Label>();
    label->setFont(bold ? Font::boldSystemFont(size) : Font::systemFont(size));
    label->setBackgroundColor(Color::clearColor());
    return label;
}

void collectTexts(const View& view, std::vector<std::string>& out) {
    if (view.isHidden() || view.alpha() < 0.01)
        return;
    if (auto* label = dynamic_cast<const Label*>(&view); label && !label->text().empty())
        out.push_back(label->text());
    if (auto* field = dynamic_cast<const TextField*>(&view);
        field && !field->text().empty() && !field->isSecureTextEntry())
        out.push_back(field->text());
    for (const auto& sub : view.subviews())
        collectTexts(*sub, out);
}
} // namespace

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : View(kDefaultCellFrame), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
    setBackgroundColor(Color::whiteColor());
    contentView_ = std::make_shared<View>(bounds());
    addSubview(contentView_);
    imageView_ = std::make_shared<ImageView>();
    contentView_->addSubview(imageView_);
    textLabel_ = makeCellLabel(kTextFontSize, true);
    contentView_->addSubview(textLabel_);
    if (style != TableViewCellStyle::Default) {
        detailTextLabel_ = makeCellLabel(kDetailFontSize, false);
        detailTextLabel_->setTextColor(Color::grayColor());
        contentView_->addSubview(detailTextLabel_);
    }
}

void TableViewCell::setAccessoryType(TableViewCellAccessoryType type) {
    accessoryType_ = type;
    setNeedsLayout();
}

void TableViewCell::setAccessoryView(std::shared_ptr<View> view) {
    if (accessoryView_ && accessoryView_->superview().get() == this)
        accessoryView_->removeFromSuperview();
    accessoryView_ = std::move(view);
    if (accessoryView_)
        addSubview(accessoryView_);
    setNeedsLayout();
}

void TableViewCell::setBackgroundView(std::shared_ptr<View> view) {
    if (backgroundView_ && backgroundView_->superview().get() == this)
        backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    if (backgroundView_)
        insertSubview(backgroundView_, 0);
    setNeedsLayout();
}

void TableViewCell::setSelectedBackgroundView(std::shared_ptr<View> view) {
    if (selectedBackgroundView_ && selectedBackgroundView_->superview().get() == this)
        selectedBackgroundView_->removeFromSuperview();
    selectedBackgroundView_ = std::move(view);
    if (selectedBackgroundView_) {
        insertSubview(selectedBackgroundView_, backgroundView_ ? 1 : 0);
        selectedBackgroundView_->setHidden(!selected_);
    }
    setNeedsLayout();
}

void TableViewCell::setSelected(bool selected, bool animated) {
    (void)animated;
    selected_ = selected;
    if (selectedBackgroundView_)
        selectedBackgroundView_->setHidden(!selected);
}

void TableViewCell::setEditing(bool editing, bool animated) {
    (void)animated;
    editing_ = editing;
    if (!editing)
        hideDeleteConfirmation();
    if (editing && !editingControl_) {
        editingControl_ = std::make_shared<DeleteControlView>();
        addSubview(editingControl_);
    } else if (!editing && editingControl_) {
        editingControl_->removeFromSuperview();
        editingControl_.reset();
    }
    setNeedsLayout();
}

void TableViewCell::prepareForReuse() {
    setSelected(false);
    hideDeleteConfirmation();
    setEditing(false);
}

std::vector<std::string> TableViewCell::visibleTexts() const {
    std::vector<std::string> out;
    collectTexts(*this, out);
    return out;
}

void TableViewCell::showDeleteConfirmation(std::function<void()> onDelete) {
    hideDeleteConfirmation();
    deleteButton_ = std::make_shared<Button>(Rect(), ButtonType::Custom);
    deleteButton_->setTitle(kDeleteConfirmationTitle);
    deleteButton_->setBackgroundColor(Color::redColor());
    deleteButton_->addAction([onDelete = std::move(onDelete)](Control&) { onDelete(); },
                             ControlEvent::TouchUpInside);
    addSubview(deleteButton_);
    setNeedsLayout();
    layoutIfNeeded();
}

void TableViewCell::hideDeleteConfirmation() {
    if (!deleteButton_)
        return;
    auto button = std::move(deleteButton_);
    deleteButton_.reset();
    button->removeFromSuperview();
    setNeedsLayout();
}

void TableViewCell::layoutSubviews() {
    Rect b = bounds();
    double left = editing_ ? kEditingControlWidth : 0;
    double right = b.width();
    bool hasAccessory = accessoryView_ || accessoryType_ != TableViewCellAccessoryType::None;
    if (deleteButton_) {
        right -= kDeleteConfirmationWidth;
        deleteButton_->setFrame(Rect(right + 2, (b.height() - kDeleteButtonHeight) / 2,
                                     kDeleteConfirmationWidth - 4, kDeleteButtonHeight));
    } else if (hasAccessory && !editing_) {
        right -= kAccessoryWidth;
        if (accessoryView_) {
            Rect f = accessoryView_->frame();
            accessoryView_->setFrame(
                Rect(b.width() - f.width() - 5, (b.height() - f.height()) / 2, f.width(), f.height()));
        }
    }
    if (accessoryView_)
        accessoryView_->setHidden(deleteButton_ != nullptr || editing_);
    if (editingControl_) {
        editingControl_->setFrame(Rect(0, 0, kEditingControlWidth, b.height()));
        if (subviews().back() != editingControl_)
            bringSubviewToFront(editingControl_.get());
    }
    if (backgroundView_)
        backgroundView_->setFrame(b);
    if (selectedBackgroundView_)
        selectedBackgroundView_->setFrame(b);
    contentView_->setFrame(Rect(left, 0, std::max(0.0, right - left), b.height()));

    Rect c = contentView_->bounds();
    double x = kCellMargin;
    if (auto image = imageView_->image()) {
        Size s = image->size();
        imageView_->setFrame(Rect(kCellMargin, (c.height() - s.height) / 2, s.width, s.height));
        x += s.width + kCellMargin;
    } else {
        imageView_->setFrame(Rect());
    }
    double width = std::max(0.0, c.width() - x - kCellMargin);
    switch (style_) {
    case TableViewCellStyle::Default:
        textLabel_->setFrame(Rect(x, 0, width, c.height()));
        break;
    case TableViewCellStyle::Subtitle:
        textLabel_->setFrame(Rect(x, 0, width, c.height() / 2));
        detailTextLabel_->setFrame(Rect(x, c.height() / 2, width, c.height() / 2));
        break;
    case TableViewCellStyle::Value1:
    case TableViewCellStyle::Value2:
        textLabel_->setFrame(Rect(x, 0, width / 2, c.height()));
        detailTextLabel_->setFrame(Rect(x + width / 2, 0, width / 2, c.height()));
        detailTextLabel_->setTextAlignment(style_ == TableViewCellStyle::Value1 ? TextAlignment::Right
                                                                                : TextAlignment::Left);
        break;
    }
}

void TableViewCell::drawText(TextCanvas& canvas, const Rect& rect) const {
    if (deleteButton_ || editing_ || accessoryView_)
        return;
    Rect accessory(rect.maxX() - kAccessoryWidth, rect.y(), kAccessoryWidth, rect.height());
    switch (accessoryType_) {
    case TableViewCellAccessoryType::None:
        break;
    case TableViewCellAccessoryType::DisclosureIndicator:
        canvas.writeInRect(accessory, ">", 1);
        break;
    case TableViewCellAccessoryType::DetailDisclosureButton:
        canvas.writeInRect(accessory, "(>)", 1);
        break;
    case TableViewCellAccessoryType::Checkmark:
        canvas.writeInRect(accessory, "\xE2\x9C\x93", 1);
        break;
    }
}

} // namespace platform
