#pragma once
// A row of segments, each showing a title or an image, of which one can be selected.
//
// A tap on an enabled segment selects it and sends value-changed (ControlEvent::ValueChanged)
// to the actions. A momentary control does not keep the selection: the tapped segment is
// selected while the actions run and the selection is cleared (NoSegment) right after, so
// an action reads which segment was pressed from selectedSegmentIndex. Setting the
// selection from code sends no action, as on the platform.
//
// Segments take the width set for them (setWidth); segments with width 0 share what is left
// of the control's width equally. A control made with its items is sized to fit them, and
// stays fitted as their widths are set, until its owner gives it a frame of its own. The text
// renderer shows the segments as "<Back|*Fwd*>" (titles, or image names; the selected one
// between asterisks). Owned by its superview; main thread only.
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

namespace platform {

// The platform's numbers.
enum class SegmentedControlStyle { Plain = 0, Bordered = 1, Bar = 2, Bezeled = 3 };

class SegmentedControl : public Control {
public:
    static constexpr int NoSegment = -1;
    // The height the platform gives a control in the bar style, and in the others.
    static constexpr double kBarHeight = 30, kDefaultHeight = 44;

    // A segment's content: a title or an image.
    using Item = std::variant<std::string, std::shared_ptr<Image>>;

    // initWithItems: one segment per item.
    explicit SegmentedControl(std::vector<Item> items = {});

    int numberOfSegments() const { return int(segments_.size()); }
    // Out-of-range indexes are ignored (setters) or answer the empty value (getters).
    void setTitle(std::string title, int segment);
    std::string titleForSegmentAtIndex(int segment) const;
    void setImage(std::shared_ptr<Image> image, int segment);
    std::shared_ptr<Image> imageForSegmentAtIndex(int segment) const;
    void setWidth(double width, int segment);
    double widthForSegmentAtIndex(int segment) const;
    void setEnabled(bool enabled, int segment);
    bool isEnabledForSegmentAtIndex(int segment) const;
    using Control::setEnabled;

    // Inserting at an index past the end appends.
    void insertSegmentWithTitle(std::string title, int segment, bool animated = false);
    void insertSegmentWithImage(std::shared_ptr<Image> image, int segment, bool animated = false);
    void removeSegmentAtIndex(int segment, bool animated = false);
    void removeAllSegments();

    int selectedSegmentIndex() const { return selected_; }
    // NoSegment or an index in range; anything else is ignored.
    void setSelectedSegmentIndex(int segment);
    bool isMomentary() const { return momentary_; }
    void setMomentary(bool momentary) { momentary_ = momentary; }
    SegmentedControlStyle segmentedControlStyle() const { return style_; }
    void setSegmentedControlStyle(SegmentedControlStyle style);
    const Color& tintColor() const { return tintColor_; }
    void setTintColor(const Color& color) { tintColor_ = color; }

    // The segment's rectangle in the control's coordinates.
    Rect rectForSegmentAtIndex(int segment) const;
    // The segment under `point` (control coordinates), NoSegment when none.
    int segmentAtPoint(Point point) const;
    // A tap on the segment as a finger would make it (through simulateTap when the control
    // is in a window). Answers whether the segment took it.
    bool tapSegment(int segment);

    std::string accessibilityLabel() const override;
    Size sizeThatFits(Size size) const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;

private:
    struct Segment {
        Item item;
        double width = 0;
        bool enabled = true;
    };
    void insert(Item item, int segment);
    void select(int segment);

    std::vector<Segment> segments_;
    int selected_ = NoSegment;
    bool momentary_ = false;
    SegmentedControlStyle style_ = SegmentedControlStyle::Plain;
    Color tintColor_ = Color::grayColor();
};

} // namespace platform
