#pragma once
// An on/off switch. A tap flips it and sends value-changed; setOn does not send anything.
// Its size is fixed at kSwitchSize whatever frame it is given. The text renderer shows it
// as "[on]" or "[off]". Owned by its superview; main thread only.
#include "platform/ui/Control.h"

namespace platform {

inline constexpr Size kSwitchSize{94, 27};

class Switch : public Control {
public:
    explicit Switch(const Rect& frame = {});

    bool isOn() const { return on_; }
    void setOn(bool on, bool animated = false);

    std::string accessibilityLabel() const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;

protected:
    void didTapInside() override;

private:
    bool on_ = false;
};

} // namespace platform
