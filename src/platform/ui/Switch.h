#pragma once
// An on/off switch. A tap flips it and sends value-changed; setOn does not send anything.
// Its size is fixed at kSwitchSize whatever frame it is given. The text renderer shows it
// as "[on]" or "[off]"; its picture is a rounded track with a round knob, blue with "ON" and
// the knob at the right when on, light grey with "OFF" and the knob at the left when off,
// all inside its bounds. Owned by its superview; main thread only.
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
    void drawPicture(GraphicsContext& context) const override;

protected:
    void didTapInside() override;

private:
    bool on_ = false;
};

} // namespace platform
