#include "platform/ui/Screen.h"

#include "platform/ui/Application.h"
#include "platform/ui/Device.h"

namespace platform {
namespace {
constexpr Size kPhoneScreen{320, 480};
constexpr Size kTabletScreen{768, 1024};
constexpr double kPhoneScale = 2.0;
constexpr double kTabletScale = 1.0;
} // namespace

Screen& Screen::main() {
    static auto* screen = new Screen();
    return *screen;
}

Rect Screen::bounds() const {
    Size s = Device::profile() == DeviceProfile::Tablet ? kTabletScreen : kPhoneScreen;
    return Rect(0, 0, s.width, s.height);
}

Rect Screen::applicationFrame() const {
    Rect b = bounds();
    if (Application::shared().isStatusBarHidden())
        return b;
    return Rect(0, kStatusBarHeight, b.width(), b.height() - kStatusBarHeight);
}

double Screen::scale() const {
    return Device::profile() == DeviceProfile::Tablet ? kTabletScale : kPhoneScale;
}

} // namespace platform
