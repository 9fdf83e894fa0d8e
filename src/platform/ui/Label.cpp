#include "platform/ui/Label.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/TextSupport.h"

namespace platform {

Label::Label(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
    setBackgroundColor(Color::whiteColor());
}

void Label::setText(std::string text) {
    text_ = std::move(text);
    setNeedsLayout();
}

void Label::setMinimumFontSize(double size) {
    minimumFontSize_ = std::isfinite(size) && size > 0 ? size : 0;
}

std::string Label::accessibilityLabel() const {
    auto own = View::accessibilityLabel();
    return own.empty() ? text_ : own;
}

Size Label::sizeThatFits(Size size) const {
    const double lineHeight = std::max(font_.pointSize * 1.25, kCellHeight);
    const double width = detail::textWidth(text_);
    const bool breaks = text_.find('\n') != std::string::npos;
    if (lines_ == 1 || !(size.width > 0) || (width <= size.width && !breaks))
        return {width, lineHeight};
    // Text of several lines wraps at the width it is offered, as it is drawn.
    auto lines = detail::wrapText(detail::decodeUTF8(text_), std::size_t(size.width / kTextAdvance));
    if (lines.empty())
        return {width, lineHeight};
    if (lines_ > 0 && lines.size() > std::size_t(lines_))
        lines.resize(std::size_t(lines_));
    std::size_t widest = 0;
    for (const auto& line : lines)
        widest = std::max(widest, line.size());
    return {double(widest) * kTextAdvance, double(lines.size()) * lineHeight};
}

void Label::drawText(TextCanvas& canvas, const Rect& rect) const {
    if (text_.empty())
        return;
    canvas.writeWrapped(rect, text_, lines_, int(alignment_));
}

void Label::drawPicture(GraphicsContext& g) const {
    if (text_.empty())
        return;
    // A label sets its lines in the middle of its height, as the platform does.
    DrawOp text;
    text.kind = DrawOp::Kind::Text;
    text.text = text_;
    text.rect = bounds();
    text.font = font_;
    text.color = textColor_;
    text.alignment = int(alignment_);
    text.lines = lines_;
    text.shadow = TextShadow::make(shadowColor_, shadowOffset_);
    text.centerVertically = true;
    text.truncatesTail = true;
    if (adjustsFontSize_)
        text.minimumFontSize = minimumFontSize_ > 0 ? minimumFontSize_ : kSmallestFittedFontSize;
    g.record(std::move(text));
}

} // namespace platform
