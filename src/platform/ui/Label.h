#pragma once
// A view that shows text: font, colour, alignment and the number of lines it may use
// (1 by default; 0 means as many as needed). It does not take user interaction. The text
// renderer writes its text into its rectangle, wrapping to its lines and cutting what does
// not fit. With adjustsFontSizeToFitWidth on, the picture sets the text in the largest size
// between minimumFontSize and the font's own size at which it fits the label's width and
// lines. In the picture, text that still does not fit ends its last line in "…" (tail
// truncation). Owned by its superview; main thread only.
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace platform {

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };

class Label : public View {
public:
    explicit Label(const Rect& frame = {});

    const std::string& text() const { return text_; }
    void setText(std::string text);
    const Font& font() const { return font_; }
    void setFont(const Font& font) { font_ = font; }
    const Color& textColor() const { return textColor_; }
    void setTextColor(const Color& color) { textColor_ = color; }
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
    int numberOfLines() const { return lines_; }
    void setNumberOfLines(int lines) { lines_ = lines < 0 ? 0 : lines; }
    // A copy of the text drawn under it, moved by the offset (clear: no shadow).
    const Color& shadowColor() const { return shadowColor_; }
    void setShadowColor(const Color& color) { shadowColor_ = color; }
    Size shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(Size offset) { shadowOffset_ = offset; }
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
    void setAdjustsFontSizeToFitWidth(bool on) { adjustsFontSize_ = on; }
    // The smallest size the text shrinks to (0, the default: down to kSmallestFittedFontSize).
    double minimumFontSize() const { return minimumFontSize_; }
    void setMinimumFontSize(double size);

    std::string accessibilityLabel() const override;
    Size sizeThatFits(Size size) const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;

private:
    std::string text_;
    Font font_;
    Color textColor_ = Color::blackColor();
    TextAlignment alignment_ = TextAlignment::Left;
    int lines_ = 1;
    bool adjustsFontSize_ = false;
    double minimumFontSize_ = 0;
    Color shadowColor_ = Color::clearColor();
    Size shadowOffset_{0, -1};
};

} // namespace platform
