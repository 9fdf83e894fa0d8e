#pragma once
// One row of a table. Its content view holds the text label, the detail label, the image
// view and any views the table's data source adds (often found again by tag); the
// accessory sits at the right. Cells are made by the data source and reused by the table
// under their reuse identifier (TableView::dequeueReusableCellWithIdentifier); a reused
// cell keeps its subviews and gets prepareForReuse first.
//
// While the table edits, the cell shows the delete control "(-)" on its left; a swipe (or
// a tap on that control) shows the "Delete" confirmation button on its right, which the
// table wires to its data source. Owned by its table while shown; main thread only.
#include <memory>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace platform {

enum class TableViewCellStyle { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };
enum class TableViewCellAccessoryType {
    None = 0,
    DisclosureIndicator = 1,
    DetailDisclosureButton = 2,
    Checkmark = 3
};
enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2 };
enum class TableViewCellEditingStyle { None = 0, Delete = 1, Insert = 2 };

inline constexpr const char* kDeleteConfirmationTitle = "Delete";
inline constexpr double kEditingControlWidth = 32;
inline constexpr double kDeleteConfirmationWidth = 64;

class TableViewCell : public View {
public:
    TableViewCell(TableViewCellStyle style, std::string reuseIdentifier);

    TableViewCellStyle style() const { return style_; }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }

    View& contentView() { return *contentView_; }
    std::shared_ptr<View> sharedContentView() const { return contentView_; }
    Label& textLabel() { return *textLabel_; }
    const Label& textLabel() const { return *textLabel_; }
    // Empty for the default style (it has no detail label).
    Label* detailTextLabel() { return detailTextLabel_.get(); }
    const Label* detailTextLabel() const { return detailTextLabel_.get(); }
    ImageView& imageView() { return *imageView_; }

    TableViewCellAccessoryType accessoryType() const { return accessoryType_; }
    void setAccessoryType(TableViewCellAccessoryType type);
    const std::shared_ptr<View>& accessoryView() const { return accessoryView_; }
    void setAccessoryView(std::shared_ptr<View> view);
    TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(TableViewCellSelectionStyle style) { selectionStyle_ = style; }
    const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& selectedBackgroundView() const { return selectedBackgroundView_; }
    void setSelectedBackgroundView(std::shared_ptr<View> view);

    bool isSelected() const { return selected_; }
    void setSelected(bool selected, bool animated = false);
    bool isEditing() const { return editing_; }
    void setEditing(bool editing, bool animated = false);
    bool showingDeleteConfirmation() const { return deleteButton_ != nullptr; }
    // The "Delete" button while it shows.
    std::shared_ptr<Button> deleteConfirmationButton() const { return deleteButton_; }
    // The delete control on the left while the cell edits (a red disc with a white bar in the
    // picture, "(-)" on the text screen); empty otherwise.
    std::shared_ptr<View> editingControl() const { return editingControl_; }

    // Resets the per-row state (selection, editing marks) before the cell is reused.
    virtual void prepareForReuse();

    // The texts the row shows: every label in the cell, in tree order.
    std::vector<std::string> visibleTexts() const;

    void layoutSubviews() override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;

private:
    friend class TableView;
    void showDeleteConfirmation(std::function<void()> onDelete);
    void hideDeleteConfirmation();

    TableViewCellStyle style_;
    std::string reuseIdentifier_;
    std::shared_ptr<View> contentView_;
    std::shared_ptr<Label> textLabel_;
    std::shared_ptr<Label> detailTextLabel_;
    std::shared_ptr<ImageView> imageView_;
    std::shared_ptr<View> accessoryView_;
    std::shared_ptr<View> backgroundView_;
    std::shared_ptr<View> selectedBackgroundView_;
    std::shared_ptr<Button> deleteButton_;
    std::shared_ptr<View> editingControl_;
    TableViewCellAccessoryType accessoryType_ = TableViewCellAccessoryType::None;
    TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
    bool selected_ = false;
    bool editing_ = false;
};

} // namespace platform
