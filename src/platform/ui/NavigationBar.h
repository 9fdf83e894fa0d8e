#pragma once
// The bar across the top of a navigation controller's screens, and the NavigationItem each
// screen gives it: a title (or title view), left and right bar button items, and the back
// button that the screen below offers (titled by that screen's back item, else its title,
// else "Back").
//
// The bar shows the top item: its left item, or the back button when there is an item
// below and the top item neither has a left item nor hides the back button; the title in
// the middle; the right item. Like the toolbar, it shows each item with a view of its own,
// rebuilt whenever an item changes. Pressing the back button asks the bar's back handler
// (the navigation controller pops). Owned by its navigation controller's view; main
// thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/View.h"

namespace platform {

inline constexpr double kNavigationBarHeight = 44;
inline constexpr const char* kDefaultBackButtonTitle = "Back";

class NavigationItem {
public:
    NavigationItem() = default;
    explicit NavigationItem(std::string title) : title_(std::move(title)) {}

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    const std::shared_ptr<View>& titleView() const { return titleView_; }
    void setTitleView(std::shared_ptr<View> view);
    const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return left_; }
    void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
    const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const { return right_; }
    void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
    // The item the screen above shows to come back here.
    const std::shared_ptr<BarButtonItem>& backBarButtonItem() const { return back_; }
    void setBackBarButtonItem(std::shared_ptr<BarButtonItem> item);
    bool hidesBackButton() const { return hidesBackButton_; }
    void setHidesBackButton(bool hides, bool animated = false);
    const std::string& prompt() const { return prompt_; }
    void setPrompt(std::string prompt);

    // For the bar.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

private:
    void changed() {
        if (changed_)
            changed_();
    }
    std::string title_;
    std::string prompt_;
    std::shared_ptr<View> titleView_;
    std::shared_ptr<BarButtonItem> left_;
    std::shared_ptr<BarButtonItem> right_;
    std::shared_ptr<BarButtonItem> back_;
    bool hidesBackButton_ = false;
    std::function<void()> changed_;
};

class NavigationBar : public View {
public:
    explicit NavigationBar(const Rect& frame = {});
    ~NavigationBar() override;

    const std::vector<std::shared_ptr<NavigationItem>>& items() const { return items_; }
    std::shared_ptr<NavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
    std::shared_ptr<NavigationItem> backItem() const;
    void pushNavigationItem(std::shared_ptr<NavigationItem> item, bool animated = false);
    std::shared_ptr<NavigationItem> popNavigationItem(bool animated = false);
    void setItems(std::vector<std::shared_ptr<NavigationItem>> items, bool animated = false);

    const Color& tintColor() const { return tintColor_; }
    void setTintColor(const Color& color) { tintColor_ = color; }
    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle style) { barStyle_ = style; }

    // Called when the back button is pressed; without one the bar pops its own item.
    void setBackHandler(std::function<void()> handler) { backHandler_ = std::move(handler); }
    // The button standing for the back item (null when none is shown).
    std::shared_ptr<Button> backButton() const { return backButton_; }
    // The view showing `item` (left or right item of the top item).
    std::shared_ptr<View> viewForItem(const BarButtonItem& item) const;

    void layoutSubviews() override;

private:
    void rebuild();
    void watch(const std::shared_ptr<NavigationItem>& item);

    std::vector<std::shared_ptr<NavigationItem>> items_;
    std::shared_ptr<Button> backButton_;
    std::shared_ptr<View> leftView_;
    std::shared_ptr<View> rightView_;
    std::shared_ptr<View> titleView_;
    std::shared_ptr<BarButtonItem> leftItem_;
    std::shared_ptr<BarButtonItem> rightItem_;
    Color tintColor_;
    BarStyle barStyle_ = BarStyle::Default;
    std::function<void()> backHandler_;
};

} // namespace platform
