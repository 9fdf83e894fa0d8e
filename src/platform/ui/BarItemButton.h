#pragma once
// Internal to the user-interface library: the button that shows a bar button item in a
// toolbar or navigation bar and presses the item when tapped.
#include <memory>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"

namespace platform::detail {

inline constexpr double kBarItemButtonHeight = 30;

std::shared_ptr<Button> makeBarItemButton(const std::shared_ptr<BarButtonItem>& item);

} // namespace platform::detail
