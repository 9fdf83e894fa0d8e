#pragma once
// A one-line text entry. Editing begins when the field becomes first responder (a tap on
// it, or becomeFirstResponder): the delegate may refuse (should-begin); with
// clearsOnBeginEditing the text empties; the delegate hears did-begin and the
// editing-did-begin actions run. Editing ends when it resigns (should-end, did-end,
// editing-did-end).
//
// Typing is simulated: `typeText` enters characters one by one as the keyboard would. The
// number pad and phone pad have only digits (and, for the phone pad, "+*#"), so other
// characters are dropped; the delegate's should-change question may refuse any change.
// `pressReturn` asks should-return and sends editing-did-end-on-exit; keyboards without a
// return key (number pad, phone pad) do nothing and answer false.
//
// The delegate is held weakly. The text renderer shows the text (bullets, one per
// character, for secure entry) or, when empty, the placeholder in parentheses. Owned by its
// superview; main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/Label.h"

namespace platform {

// The platform's numbers.
enum class KeyboardType {
    Default = 0,
    ASCIICapable = 1,
    NumbersAndPunctuation = 2,
    URL = 3,
    NumberPad = 4,
    PhonePad = 5,
    NamePhonePad = 6,
    EmailAddress = 7,
};
enum class ReturnKeyType {
    Default = 0,
    Go = 1,
    Google = 2,
    Join = 3,
    Next = 4,
    Route = 5,
    Search = 6,
    Send = 7,
    Done = 9
};
enum class TextBorderStyle { None = 0, Line = 1, Bezel = 2, RoundedRect = 3 };

class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    // Optional questions: nullopt means "not implemented" (the field then answers yes).
    virtual std::optional<bool> textFieldShouldBeginEditing(TextField&) { return std::nullopt; }
    virtual void textFieldDidBeginEditing(TextField&) {}
    virtual std::optional<bool> textFieldShouldEndEditing(TextField&) { return std::nullopt; }
    virtual void textFieldDidEndEditing(TextField&) {}
    // Byte range of the UTF-8 text that `replacement` replaces.
    virtual std::optional<bool> textFieldShouldChangeCharactersInRange(TextField&, std::size_t location,
                                                                       std::size_t length,
                                                                       const std::string& replacement) {
        (void)location;
        (void)length;
        (void)replacement;
        return std::nullopt;
    }
    virtual std::optional<bool> textFieldShouldClear(TextField&) { return std::nullopt; }
    virtual std::optional<bool> textFieldShouldReturn(TextField&) { return std::nullopt; }
};

class TextField : public Control {
public:
    explicit TextField(const Rect& frame = {});

    const std::string& text() const { return text_; }
    void setText(std::string text);
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string placeholder) { placeholder_ = std::move(placeholder); }
    const Font& font() const { return font_; }
    void setFont(const Font& font) { font_ = font; }
    const Color& textColor() const { return textColor_; }
    void setTextColor(const Color& color) { textColor_ = color; }
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
    TextBorderStyle borderStyle() const { return borderStyle_; }
    void setBorderStyle(TextBorderStyle style) { borderStyle_ = style; }
    bool isSecureTextEntry() const { return secure_; }
    void setSecureTextEntry(bool secure) { secure_ = secure; }
    KeyboardType keyboardType() const { return keyboardType_; }
    void setKeyboardType(KeyboardType type) { keyboardType_ = type; }
    ReturnKeyType returnKeyType() const { return returnKeyType_; }
    void setReturnKeyType(ReturnKeyType type) { returnKeyType_ = type; }
    bool clearsOnBeginEditing() const { return clearsOnBeginEditing_; }
    void setClearsOnBeginEditing(bool clears) { clearsOnBeginEditing_ = clears; }

    std::shared_ptr<TextFieldDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<TextFieldDelegate> delegate) { delegate_ = std::move(delegate); }

    bool isEditing() const { return editing_; }
    bool canBecomeFirstResponder() const override;
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;

    // Simulated keyboard; see the class comment. Starts editing first when needed; answers
    // the number of characters entered.
    std::size_t typeText(std::string_view text);
    // Removes the last character (as the delete key).
    bool deleteBackward();
    bool pressReturn();
    // Whether the current keyboard can enter `codePoint`.
    bool keyboardAccepts(char32_t codePoint) const;

    std::string accessibilityLabel() const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;

protected:
    void didTapInside() override;

private:
    bool replace(std::size_t location, std::size_t length, const std::string& replacement);

    std::string text_;
    std::string placeholder_;
    Font font_;
    Color textColor_ = Color::blackColor();
    TextAlignment alignment_ = TextAlignment::Left;
    TextBorderStyle borderStyle_ = TextBorderStyle::None;
    bool secure_ = false;
    KeyboardType keyboardType_ = KeyboardType::Default;
    ReturnKeyType returnKeyType_ = ReturnKeyType::Default;
    bool clearsOnBeginEditing_ = false;
    bool editing_ = false;
    std::weak_ptr<TextFieldDelegate> delegate_;
};

} // namespace platform
