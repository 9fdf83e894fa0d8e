#include "platform/ui/TextField.h"

#include "platform/ui/GraphicsContext.h"

#include "platform/ui/TextRenderer.h"
#include "platform/ui/TextSupport.h"

namespace platform {
namespace {
constexpr const char* kSecureBullet = "\xE2\x80\xA2"; // U+2022
// Room between a field's edge and its text in the screen picture.
constexpr double kFieldTextInset = 4;
} // namespace

TextField::TextField(const Rect& frame) : Control(frame) {}

void TextField::setText(std::string text) {
    text_ = std::move(text);
}

bool TextField::canBecomeFirstResponder() const {
    return isEnabled() && !isHidden();
}

bool TextField::becomeFirstResponder() {
    if (isFirstResponder())
        return true;
    if (!canBecomeFirstResponder())
        return false;
    if (auto d = delegate(); d && !d->textFieldShouldBeginEditing(*this).value_or(true))
        return false;
    if (!Control::becomeFirstResponder())
        return false;
    editing_ = true;
    if (clearsOnBeginEditing_)
        text_.clear();
    if (auto d = delegate())
        d->textFieldDidBeginEditing(*this);
    sendActionsForControlEvents(ControlEvent::EditingDidBegin);
    return true;
}

bool TextField::resignFirstResponder() {
    if (!isFirstResponder())
        return true;
    if (auto d = delegate(); d && !d->textFieldShouldEndEditing(*this).value_or(true))
        return false;
    if (!Control::resignFirstResponder())
        return false;
    editing_ = false;
    if (auto d = delegate())
        d->textFieldDidEndEditing(*this);
    sendActionsForControlEvents(ControlEvent::EditingDidEnd);
    return true;
}

bool TextField::keyboardAccepts(char32_t cp) const {
    switch (keyboardType_) {
    case KeyboardType::NumberPad:
        return cp >= U'0' && cp <= U'9';
    case KeyboardType::PhonePad:
        return (cp >= U'0' && cp <= U'9') || cp == U'+' || cp == U'*' || cp == U'#';
    default:
        return cp >= 0x20 && cp != 0x7F; // one-line entry: no control characters
    }
}

bool TextField::replace(std::size_t location, std::size_t length, const std::string& replacement) {
    if (location > text_.size() || length > text_.size() - location)
        return false;
    if (auto d = delegate();
        d && !d->textFieldShouldChangeCharactersInRange(*this, location, length, replacement).value_or(true))
        return false;
    text_.replace(location, length, replacement);
    sendActionsForControlEvents(ControlEvent::EditingChanged);
    return true;
}

std::size_t TextField::typeText(std::string_view text) {
    if (!isEditing() && !becomeFirstResponder())
        return 0;
    std::size_t entered = 0;
    for (char32_t cp : detail::decodeUTF8(text)) {
        if (!keyboardAccepts(cp))
            continue;
        if (replace(text_.size(), 0, detail::encodeUTF8(std::u32string(1, cp))))
            ++entered;
    }
    return entered;
}

bool TextField::deleteBackward() {
    if (!isEditing() || text_.empty())
        return false;
    // Step back over one whole UTF-8 sequence.
    std::size_t start = text_.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(text_[start]) & 0xC0) == 0x80)
        --start;
    return replace(start, text_.size() - start, "");
}

bool TextField::pressReturn() {
    if (!isEditing())
        return false;
    if (keyboardType_ == KeyboardType::NumberPad || keyboardType_ == KeyboardType::PhonePad)
        return false; // these keyboards have no return key
    if (auto d = delegate(); d && !d->textFieldShouldReturn(*this).value_or(true))
        return false;
    sendActionsForControlEvents(ControlEvent::EditingDidEndOnExit);
    return true;
}

std::string TextField::accessibilityLabel() const {
    auto own = View::accessibilityLabel();
    return own.empty() ? placeholder_ : own;
}

void TextField::didTapInside() {
    becomeFirstResponder();
}

void TextField::drawText(TextCanvas& canvas, const Rect& rect) const {
    std::string shown;
    if (text_.empty()) {
        if (!placeholder_.empty())
            shown = "(" + placeholder_ + ")";
    } else if (secure_) {
        for (std::size_t i = 0, n = detail::cellLength(text_); i < n; ++i)
            shown += kSecureBullet;
    } else {
        shown = text_;
    }
    if (isEditing())
        shown += "_"; // the caret
    canvas.writeInRect(rect, shown, int(alignment_));
}

void TextField::drawPicture(GraphicsContext& g) const {
    Rect b = bounds();
    if (borderStyle() != TextBorderStyle::None) {
        g.setStrokeColor(Color::grayColor());
        g.strokeRect(b.insetBy(0.5, 0.5));
    }
    std::string shown = text_;
    Color color = textColor_;
    if (shown.empty()) {
        shown = placeholder_;
        color = Color::grayColor();
    } else if (secure_) {
        shown.clear();
        for (std::size_t i = 0, n = detail::cellLength(text_); i < n; ++i)
            shown += kSecureBullet;
    }
    if (shown.empty())
        return;
    DrawOp text;
    text.kind = DrawOp::Kind::Text;
    text.text = shown;
    text.rect = b.insetBy(kFieldTextInset, 0);
    text.font = font_;
    text.color = color;
    text.alignment = int(alignment_);
    text.lines = 1;
    text.centerVertically = true;
    g.record(std::move(text));
}

} // namespace platform
