#pragma once
// The base of views that turn touches into actions: buttons, switches, text fields.
//
// Target-action: an action is registered for a set of control events and called, in the
// order of registration, when one of them happens. An action added with a target holds the
// target weakly: once the target is gone it is skipped, never called. A touch that begins
// on an enabled control highlights it and sends touch-down; when it ends inside the
// control, touch-up-inside, else touch-up-outside; a cancelled touch sends touch-cancel.
// A disabled control takes no touches (they stop there and do nothing).
//
// `simulateTap` taps the control's centre through the application's event dispatch when
// it is in a window (so whatever lies on top gets the touch, as a finger would), and
// otherwise sends touch-down and touch-up-inside directly. Owned by its superview; main
// thread only; actions run synchronously on the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

// Control event bits, the platform's numbers.
struct ControlEvent {
    static constexpr unsigned TouchDown = 1u << 0;
    static constexpr unsigned TouchDownRepeat = 1u << 1;
    static constexpr unsigned TouchDragInside = 1u << 2;
    static constexpr unsigned TouchDragOutside = 1u << 3;
    static constexpr unsigned TouchDragEnter = 1u << 4;
    static constexpr unsigned TouchDragExit = 1u << 5;
    static constexpr unsigned TouchUpInside = 1u << 6;
    static constexpr unsigned TouchUpOutside = 1u << 7;
    static constexpr unsigned TouchCancel = 1u << 8;
    static constexpr unsigned ValueChanged = 1u << 12;
    static constexpr unsigned EditingDidBegin = 1u << 16;
    static constexpr unsigned EditingChanged = 1u << 17;
    static constexpr unsigned EditingDidEnd = 1u << 18;
    static constexpr unsigned EditingDidEndOnExit = 1u << 19;
    static constexpr unsigned AllTouchEvents = 0x00000FFFu;
    static constexpr unsigned AllEditingEvents = 0x000F0000u;
    static constexpr unsigned AllEvents = 0xFFFFFFFFu;
};

// Control state bits: normal is 0.
struct ControlState {
    static constexpr unsigned Normal = 0;
    static constexpr unsigned Highlighted = 1u << 0;
    static constexpr unsigned Disabled = 1u << 1;
    static constexpr unsigned Selected = 1u << 2;
};

class Control : public View {
public:
    using Action = std::function<void(Control& sender)>;

    explicit Control(const Rect& frame = {});

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled) { enabled_ = enabled; }
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected) { selected_ = selected; }
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted) { highlighted_ = highlighted; }
    bool isTracking() const { return tracking_; }
    // ControlState bits of the current state.
    unsigned state() const;

    // Registers `action` for `events`; `target` only identifies it for removeTarget.
    void addAction(Action action, unsigned events, const void* target = nullptr);
    // `method` is called on `target` while it lives: a member function taking nothing or
    // the sender (as Control&), or any callable taking (T&) or (T&, Control&).
    template <typename T, typename F>
    void addTarget(const std::shared_ptr<T>& target, F method, unsigned events) {
        std::weak_ptr<T> weak = target;
        addEntry(
            [weak, method](Control& sender) {
                if (auto t = weak.lock()) {
                    if constexpr (std::is_invocable_v<F, T&, Control&>)
                        std::invoke(method, *t, sender);
                    else
                        std::invoke(method, *t);
                }
            },
            events, target.get(), [weak] { return !weak.expired(); });
    }
    // Removes the actions of `target` for `events` (every target when null).
    void removeTarget(const void* target, unsigned events = ControlEvent::AllEvents);
    // Events for which at least one action is registered.
    unsigned allControlEvents() const;
    // Calls every action registered for any of `events`.
    void sendActionsForControlEvents(unsigned events);

    // See the class comment. Answers whether the control received the tap.
    bool simulateTap();

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

protected:
    // Hooks for subclasses around a completed tap (after touch-up-inside's actions).
    virtual void didTapInside() {}

private:
    struct Entry {
        Action action;
        unsigned events;
        const void* target;
        std::function<bool()> alive; // empty: always alive
    };
    void addEntry(Action action, unsigned events, const void* target, std::function<bool()> alive);

    std::vector<Entry> entries_;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
};

} // namespace platform
