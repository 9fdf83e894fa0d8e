#include "platform/ui/Label.h"

#include <algorithm>

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

std::string Label::accessibilityLabel() const {
    auto own = View::accessibilityLabel();
    return own.empty() ? text_ : own;
}

Size Label::sizeThatFits(Size size) const {
    (void)size;
    return {detail::textWidth(text_), std::max(font_.pointSize * 1.25, kCellHeight)};
}

void Label::drawText(TextCanvas& canvas, const Rect& rect) const {
    if (text_.empty())
        return;
    canvas.writeWrapped(rect, text_, lines_, int(alignment_));
}

} // namespace platform
