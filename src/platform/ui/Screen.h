#pragma once
// The device's main screen: its bounds in points and its scale, from the device profile
// (320 × 480 points at scale 2 for the phone, 768 × 1024 at scale 1 for the tablet), and the
// application frame (the bounds less the status bar while it shows). Main thread only.
#include "platform/ui/Geometry.h"

namespace platform {

class Screen {
public:
    static Screen& main();

    Rect bounds() const;
    // The bounds less the 20-point status bar while the application shows it.
    Rect applicationFrame() const;
    double scale() const;
};

inline constexpr double kStatusBarHeight = 20;

} // namespace platform
