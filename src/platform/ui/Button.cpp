#include "platform/ui/Button.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/TextSupport.h"

namespace platform {
namespace {
// The smallest share of its size a title shrinks to in the picture.
constexpr double kTitleShrinkLimit = 0.5;
constexpr double kButtonPadding = 2 * kTextAdvance; // room for the brackets
constexpr double kButtonMinimumHeight = 30;
constexpr double kDefaultButtonFontSize = 15;
// The rounded-rectangle button's outline.
constexpr double kRoundedRectRadius = 8;
const Color kRoundedRectBorder = Color::rgba(0.6, 0.6, 0.65);
// A highlighted custom button without images of its own is darkened this much.
constexpr double kHighlightAlpha = 0.3;

template <typename T> T lookup(const std::map<unsigned, T>& table, unsigned state) {
    if (auto it = table.find(state); it != table.end())
        return it->second;
    if (auto it = table.find(ControlState::Normal); it != table.end())
        return it->second;
    return T{};
}
} // namespace

Button::Button(const Rect& frame, ButtonType type) : Control(frame), type_(type) {
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->setFont(Font::boldSystemFont(kDefaultButtonFontSize));
    titleLabel_->setTextAlignment(TextAlignment::Center);
    titleLabel_->setBackgroundColor(Color::clearColor());
    if (type == ButtonType::RoundedRect)
        setBackgroundColor(Color::whiteColor());
}

std::shared_ptr<Button> Button::buttonWithType(ButtonType type) {
    return std::make_shared<Button>(Rect(), type);
}

void Button::setTitle(std::string title, unsigned state) {
    titles_[state] = std::move(title);
    titleLabel_->setText(currentTitle());
}

std::string Button::titleForState(unsigned state) const {
    return lookup(titles_, state);
}

void Button::setTitleColor(const Color& color, unsigned state) {
    titleColors_[state] = color;
}

Color Button::titleColorForState(unsigned state) const {
    if (titleColors_.empty())
        return Color::blackColor();
    return lookup(titleColors_, state);
}

void Button::setImage(std::shared_ptr<Image> image, unsigned state) {
    images_[state] = std::move(image);
}

std::shared_ptr<Image> Button::imageForState(unsigned state) const {
    return lookup(images_, state);
}

void Button::setBackgroundImage(std::shared_ptr<Image> image, unsigned state) {
    backgroundImages_[state] = std::move(image);
}

std::shared_ptr<Image> Button::backgroundImageForState(unsigned state) const {
    return lookup(backgroundImages_, state);
}

std::string Button::accessibilityLabel() const {
    auto own = View::accessibilityLabel();
    if (!own.empty())
        return own;
    std::string title = currentTitle();
    if (!title.empty())
        return title;
    if (auto image = currentImage(); image && !image->name().empty())
        return image->name();
    // A button drawn only by its background picture is known by that picture's name.
    if (auto image = currentBackgroundImage())
        return image->name();
    return {};
}

Size Button::sizeThatFits(Size size) const {
    (void)size;
    std::string title = currentTitle();
    double width = detail::textWidth(title) + kButtonPadding;
    double height = kButtonMinimumHeight;
    if (auto image = currentImage()) {
        width = std::max(width, image->size().width);
        height = std::max(height, image->size().height);
    }
    return {width, height};
}

void Button::drawText(TextCanvas& canvas, const Rect& rect) const {
    // The title, else (an image-only button) the label a user taps it by.
    std::string text = currentTitle();
    if (text.empty())
        text = View::accessibilityLabel();
    // Brackets mark a button that `tap` can press; one that cannot (disabled, or in a view that
    // takes no touches) shows its bare text, as does a button too narrow for the brackets.
    const bool pressable = TextRenderer::pressable(*this);
    if (!text.empty()) {
        TextCanvas::CellRect cells = TextCanvas::cellsFor(rect);
        bool fits = int(detail::cellLength(text)) + 2 <= cells.right - cells.left;
        canvas.writeInShownRect(rect, fits && pressable ? "[" + text + "]" : text, 1);
        return;
    }
    auto image = currentImage();
    if (!image)
        image = currentBackgroundImage();
    if (image) {
        std::string name = "<" + (image->name().empty() ? std::string("image") : image->name()) + ">";
        canvas.writeInShownRect(rect, pressable ? "[" + name + "]" : name, 1);
    }
}

void Button::drawPicture(GraphicsContext& g) const {
    Rect b = bounds();
    if (type_ == ButtonType::RoundedRect) {
        g.setStrokeColor(kRoundedRectBorder);
        g.beginPath();
        g.moveToPoint(b.minX() + kRoundedRectRadius, b.minY() + 0.5);
        g.addArcToPoint(b.maxX() - 0.5, b.minY() + 0.5, b.maxX() - 0.5, b.maxY() - 0.5, kRoundedRectRadius);
        g.addArcToPoint(b.maxX() - 0.5, b.maxY() - 0.5, b.minX() + 0.5, b.maxY() - 0.5, kRoundedRectRadius);
        g.addArcToPoint(b.minX() + 0.5, b.maxY() - 0.5, b.minX() + 0.5, b.minY() + 0.5, kRoundedRectRadius);
        g.addArcToPoint(b.minX() + 0.5, b.minY() + 0.5, b.maxX() - 0.5, b.minY() + 0.5, kRoundedRectRadius);
        g.closePath();
        g.strokePath();
    }
    if (auto background = currentBackgroundImage())
        g.drawImage(b, background);
    if (auto image = currentImage())
        g.drawImage(rectForContentMode(ContentMode::Center, image->size(), b), image);
    std::string title = currentTitle();
    if (!title.empty()) {
        const Label& label = *titleLabel_;
        g.setFillColor(titleColorForState(state()));
        DrawOp text;
        text.kind = DrawOp::Kind::Text;
        text.text = title;
        text.rect = b;
        text.font = label.font();
        text.color = titleColorForState(state());
        text.alignment = int(label.textAlignment());
        text.lines = 1;
        text.shadow = TextShadow::make(label.shadowColor(), label.shadowOffset());
        text.centerVertically = true;
        // A title wider than its button shrinks to fit rather than being cut at both ends;
        // a title label that adjusts its own size says how far.
        text.minimumFontSize = label.adjustsFontSizeToFitWidth() && label.minimumFontSize() > 0
                                   ? label.minimumFontSize()
                                   : label.font().pointSize * kTitleShrinkLimit;
        g.record(std::move(text));
    }
    if (isHighlighted() && (showsTouch_ || type_ == ButtonType::RoundedRect)) {
        g.setFillColor(Color::white(0, kHighlightAlpha));
        g.fillRect(b);
    }
}

} // namespace platform
