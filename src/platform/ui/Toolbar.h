#pragma once
// A bar of items along the bottom of a screen. Items are laid out left to right, with
// kToolbarMargin at both ends and kToolbarItemSpacing between two neighbouring items that are
// not spaces; fixed spaces take their width, flexible spaces share what is left, custom views
// keep their own size, and system items the platform draws as icons (refresh, stop, action...)
// take kToolbarIconWidth. Every
// item other than a space is shown by a view in the toolbar (the custom view itself, or a
// button that presses the item), so hit testing and the text renderer find them like any
// other view. Owned by its superview; main thread only.
#include <memory>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"

namespace platform {

enum class BarStyle { Default = 0, Black = 1, BlackTranslucent = 2 };

inline constexpr double kToolbarHeight = 44;
inline constexpr double kToolbarMargin = 12;
inline constexpr double kToolbarItemSpacing = 10;
inline constexpr double kToolbarIconWidth = 30;

class Toolbar : public View {
public:
    explicit Toolbar(const Rect& frame = {});

    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);
    const Color& tintColor() const { return tintColor_; }
    void setTintColor(const Color& color) { tintColor_ = color; }
    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle style) { barStyle_ = style; }

    // The view that shows `item` (null for spaces and unknown items).
    std::shared_ptr<View> viewForItem(const BarButtonItem& item) const;
    // Frame of each item in the toolbar's coordinates, after layout (spaces included).
    Rect frameForItem(const BarButtonItem& item);

    void layoutSubviews() override;

private:
    void rebuild();

    std::vector<std::shared_ptr<BarButtonItem>> items_;
    std::vector<std::shared_ptr<View>> itemViews_; // parallel to items_, null for spaces
    std::vector<Rect> itemFrames_;
    Color tintColor_;
    BarStyle barStyle_ = BarStyle::Default;
};

} // namespace platform
