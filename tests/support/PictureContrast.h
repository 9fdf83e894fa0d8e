#pragma once
// How far two pixels of a picture stand apart for a reader: the contrast ratio of their
// relative luminances, from 1 (the same) to 21 (black on white). Text that reads well stands
// at 3 or more from what lies behind it.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/ui/ScreenPicture.h"

namespace fwtest {

inline double luminance(platform::Bitmap::RGBA p) {
    auto linear = [](std::uint8_t c) {
        double v = c / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(p.r) + 0.7152 * linear(p.g) + 0.0722 * linear(p.b);
}

inline double contrast(platform::Bitmap::RGBA a, platform::Bitmap::RGBA b) {
    double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace fwtest
