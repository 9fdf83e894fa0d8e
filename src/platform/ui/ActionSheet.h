#pragma once
// A sheet of buttons that slides up over a view to offer a choice: an optional title, then
// the destructive button (when given), the other buttons in order, and the cancel button
// last. Button indexes follow that order; buttons added later with addButtonWithTitle come
// after them (a later setCancelButtonIndex can name any of them).
//
// showInView puts the sheet at the bottom of the view's window (of the view itself when it
// is in no window); the window then holds it until it is dismissed, so `sheet->showInView`
// needs no other owner. The delegate hears will-present and, on the next turn,
// did-present. A button press (pressButton, or a tap on its view) tells the delegate
// clickedButtonAtIndex and dismisses the sheet with that index. dismissWithClickedButtonIndex
// dismisses from code, with any index (−1 for "none"), without clickedButtonAtIndex:
// will-dismiss, the sheet leaves the screen, did-dismiss (on the next turn when animated).
// The delegate is held weakly. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/View.h"

namespace platform {

class ActionSheetDelegate {
public:
    virtual ~ActionSheetDelegate() = default;
    // Selectors actionSheet:clickedButtonAtIndex: and friends, named by their joined keywords.
    virtual void actionSheetClickedButtonAtIndex(ActionSheet&, int buttonIndex) { (void)buttonIndex; }
    virtual void willPresentActionSheet(ActionSheet&) {}
    virtual void didPresentActionSheet(ActionSheet&) {}
    virtual void actionSheetWillDismissWithButtonIndex(ActionSheet&, int buttonIndex) { (void)buttonIndex; }
    virtual void actionSheetDidDismissWithButtonIndex(ActionSheet&, int buttonIndex) { (void)buttonIndex; }
    virtual void actionSheetCancel(ActionSheet&) {}
};

// The platform's numbers.
enum class ActionSheetStyle { Automatic = -1, Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };

class ActionSheet : public View {
public:
    static constexpr double kButtonHeight = 44;
    static constexpr double kSpacing = 8;

    // initWithTitle:delegate:cancelButtonTitle:destructiveButtonTitle:otherButtonTitles:
    static std::shared_ptr<ActionSheet> create(std::optional<std::string> title,
                                               std::weak_ptr<ActionSheetDelegate> delegate,
                                               std::optional<std::string> cancelButtonTitle = std::nullopt,
                                               std::optional<std::string> destructiveButtonTitle = std::nullopt,
                                               std::vector<std::string> otherButtonTitles = {});
    // initWithFrame: an empty sheet (no title, no buttons, no delegate).
    explicit ActionSheet(const Rect& frame = {});
    ~ActionSheet() override;

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    std::shared_ptr<ActionSheetDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ActionSheetDelegate> delegate) { delegate_ = std::move(delegate); }
    ActionSheetStyle actionSheetStyle() const { return style_; }
    void setActionSheetStyle(ActionSheetStyle style) { style_ = style; }

    int addButtonWithTitle(std::string title);
    int numberOfButtons() const { return int(titles_.size()); }
    // Empty for an index out of range.
    std::string buttonTitleAtIndex(int index) const;
    int cancelButtonIndex() const { return cancelIndex_; }
    void setCancelButtonIndex(int index) { cancelIndex_ = index; }
    int destructiveButtonIndex() const { return destructiveIndex_; }
    void setDestructiveButtonIndex(int index) { destructiveIndex_ = index; }
    // The first button that is neither the cancel nor the destructive one, −1 when none.
    int firstOtherButtonIndex() const;
    int indexOfButtonWithTitle(std::string_view title) const;

    void showInView(View& view);
    bool isVisible() const { return visible_; }
    void dismissWithClickedButtonIndex(int index, bool animated);
    // A button press: clickedButtonAtIndex, then dismissal. False for an index out of range
    // or a sheet that is not shown.
    bool pressButton(int index);
    bool pressButtonWithTitle(std::string_view title);

    // The button views (index order), for hit testing, the renderers and tests.
    const std::vector<std::shared_ptr<Button>>& buttons() const { return buttonViews_; }

    void layoutSubviews() override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;

private:
    void rebuildButtons();
    double contentHeight() const;

    std::optional<std::string> title_;
    std::weak_ptr<ActionSheetDelegate> delegate_;
    std::vector<std::string> titles_;
    std::vector<std::shared_ptr<Button>> buttonViews_;
    int cancelIndex_ = -1;
    int destructiveIndex_ = -1;
    ActionSheetStyle style_ = ActionSheetStyle::Automatic;
    bool visible_ = false;
    bool dismissing_ = false;
};

} // namespace platform
