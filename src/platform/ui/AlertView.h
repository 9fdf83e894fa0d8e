#pragma once
// A modal alert: title, message, buttons and optional text fields. The cancel button, when
// there is one, has index 0 and the others follow in order; buttons added later come after.
//
// show() puts the alert on screen above every window (the application lists it in
// visibleAlerts, holding it until it is dismissed, so `alert->show()` needs no owner);
// the delegate hears will-present and did-present. Pressing a button (pressButton, or a tap
// on the button's view) tells the delegate clickedButtonAtIndex, then dismisses with that
// index: will-dismiss, the alert leaves the screen, did-dismiss (on the next turn of the
// main run loop when animated). The delegate is held weakly. Text fields come from the
// style (secure, plain, or login and password) and can be given a keyboard type through
// textFieldAtIndex. The panel is centred on the screen and stays inside it: a message too
// long for it is cut, its last line ending in "…", while the title, fields and buttons stay
// in view. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

namespace platform {

enum class AlertViewStyle { Default = 0, SecureTextInput = 1, PlainTextInput = 2, LoginAndPasswordInput = 3 };

class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    // Selectors alertView:clickedButtonAtIndex: and friends, named by their joined keywords.
    virtual void alertViewClickedButtonAtIndex(AlertView&, int buttonIndex) { (void)buttonIndex; }
    virtual void willPresentAlertView(AlertView&) {}
    virtual void didPresentAlertView(AlertView&) {}
    virtual void alertViewWillDismissWithButtonIndex(AlertView&, int buttonIndex) { (void)buttonIndex; }
    virtual void alertViewDidDismissWithButtonIndex(AlertView&, int buttonIndex) { (void)buttonIndex; }
    virtual void alertViewCancel(AlertView&) {}
};

inline constexpr double kAlertWidth = 284;

class AlertView : public View {
public:
    AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
              std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles = {});
    static std::shared_ptr<AlertView> create(std::string title, std::string message,
                                             std::weak_ptr<AlertViewDelegate> delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles = {});
    ~AlertView() override;

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    const std::string& message() const { return message_; }
    void setMessage(std::string message) { message_ = std::move(message); }
    std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { delegate_ = std::move(delegate); }

    int addButtonWithTitle(std::string title);
    int numberOfButtons() const { return int(buttonTitles_.size()); }
    // Empty for an index out of range.
    std::string buttonTitleAtIndex(int index) const;
    int cancelButtonIndex() const { return cancelIndex_; }
    void setCancelButtonIndex(int index);
    int firstOtherButtonIndex() const;
    // The index of the first button with `title`, -1 when none.
    int indexOfButtonWithTitle(std::string_view title) const;

    AlertViewStyle alertViewStyle() const { return style_; }
    // Set before show(): makes the style's text fields.
    void setAlertViewStyle(AlertViewStyle style);
    // Null when the style has no such field.
    std::shared_ptr<TextField> textFieldAtIndex(int index) const;
    int numberOfTextFields() const { return int(textFields_.size()); }

    void show();
    bool isVisible() const { return visible_; }
    // Dismisses without telling clickedButtonAtIndex (as the platform does).
    void dismissWithClickedButtonIndex(int index, bool animated);
    // A button press: clickedButtonAtIndex, then dismissal. Answers false for an index out
    // of range or an alert that is not shown.
    bool pressButton(int index);
    bool pressButtonWithTitle(std::string_view title);

    // The button views (index order), for hit testing and the text renderer.
    const std::vector<std::shared_ptr<Button>>& buttons() const { return buttonViews_; }

    void layoutSubviews() override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    // A rounded white panel with a grey edge: the title in bold and the message below it,
    // each centred and wrapped (shrinking when its rows are too few), in the rows the layout
    // gave them; the fields and buttons draw themselves below.
    void drawPicture(GraphicsContext& context) const override;

private:
    // The rows the title and the message take in the panel: as many as their text wraps to,
    // fewer when the panel would not fit the screen (the message cut first, with "…").
    struct TextRows {
        int title = 1;
        int message = 0;
    };
    TextRows textRows() const;
    void rebuildButtons();
    std::shared_ptr<AlertView> self();

    std::string title_;
    std::string message_;
    std::weak_ptr<AlertViewDelegate> delegate_;
    std::vector<std::string> buttonTitles_;
    std::vector<std::shared_ptr<Button>> buttonViews_;
    std::vector<std::shared_ptr<TextField>> textFields_;
    int cancelIndex_ = -1;
    AlertViewStyle style_ = AlertViewStyle::Default;
    bool visible_ = false;
    bool dismissing_ = false;
};

} // namespace platform
