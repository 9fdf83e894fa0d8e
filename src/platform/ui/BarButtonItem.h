#pragma once
// An item of a toolbar or navigation bar: a titled or image button, one of the platform's
// system items (Done, Refresh, flexible and fixed spaces, ...), or a custom view placed in
// the bar as it is. Pressing it calls its action; the action holds its target weakly when
// given with setTarget (a target that is gone is skipped, never called).
//
// Owned by whoever builds the bar (the screen); bars hold their items strongly. Main
// thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/ui/Forward.h"

namespace platform {

// The platform's numbers.
enum class BarButtonSystemItem {
    Done = 0,
    Cancel = 1,
    Edit = 2,
    Save = 3,
    Add = 4,
    FlexibleSpace = 5,
    FixedSpace = 6,
    Compose = 7,
    Reply = 8,
    Action = 9,
    Organize = 10,
    Bookmarks = 11,
    Search = 12,
    Refresh = 13,
    Stop = 14,
    Camera = 15,
    Trash = 16,
    Play = 17,
    Pause = 18,
    Rewind = 19,
    FastForward = 20,
};
enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };

// The text a system item shows ("Done", "Refresh", ...; empty for spaces).
const char* systemItemTitle(BarButtonSystemItem item);

class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
public:
    using Action = std::function<void(BarButtonItem& sender)>;

    static std::shared_ptr<BarButtonItem> withTitle(std::string title, BarButtonItemStyle style,
                                                    Action action = {});
    static std::shared_ptr<BarButtonItem> withImage(std::shared_ptr<Image> image, BarButtonItemStyle style,
                                                    Action action = {});
    static std::shared_ptr<BarButtonItem> withSystemItem(BarButtonSystemItem item, Action action = {});
    static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);
    static std::shared_ptr<BarButtonItem> fixedSpace(double width);
    static std::shared_ptr<BarButtonItem> flexibleSpace();

    // The title, or the system item's title.
    std::string title() const;
    void setTitle(std::string title);
    const std::shared_ptr<Image>& image() const { return image_; }
    void setImage(std::shared_ptr<Image> image);
    // What the item is called for those who cannot see its picture (and for `tap`): its
    // button's accessibility label; without one, the button goes by its title or picture.
    const std::string& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label);
    BarButtonItemStyle style() const { return style_; }
    void setStyle(BarButtonItemStyle style) { style_ = style; }
    bool isSystemItem() const { return systemItem_.has_value(); }
    std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }
    bool isFlexibleSpace() const { return systemItem_ == BarButtonSystemItem::FlexibleSpace; }
    bool isFixedSpace() const { return systemItem_ == BarButtonSystemItem::FixedSpace; }
    // Fixed spaces: their width; other items: 0 = the bar chooses.
    double width() const { return width_; }
    void setWidth(double width);
    const std::shared_ptr<View>& customView() const { return customView_; }
    void setCustomView(std::shared_ptr<View> view);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

    void setAction(Action action) { action_ = std::move(action); }
    // `method` is called on `target` while it lives: a member function taking nothing or
    // the sender, or any callable taking (T&) or (T&, BarButtonItem&).
    template <typename T, typename F> void setTarget(const std::shared_ptr<T>& target, F method) {
        std::weak_ptr<T> weak = target;
        action_ = [weak, method](BarButtonItem& sender) {
            if (auto t = weak.lock()) {
                if constexpr (std::is_invocable_v<F, T&, BarButtonItem&>)
                    std::invoke(method, *t, sender);
                else
                    std::invoke(method, *t);
            }
        };
    }
    bool hasAction() const { return static_cast<bool>(action_); }
    // Calls the action when the item is enabled; answers whether it was called.
    bool press();

    // For bars: called whenever something the bar shows changes.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

private:
    BarButtonItem() = default;
    void changed();

    std::string title_;
    std::string accessibilityLabel_;
    std::shared_ptr<Image> image_;
    BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
    std::optional<BarButtonSystemItem> systemItem_;
    double width_ = 0;
    std::shared_ptr<View> customView_;
    bool enabled_ = true;
    int tag_ = 0;
    Action action_;
    std::function<void()> changed_;
};

} // namespace platform
