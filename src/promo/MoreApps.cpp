#include "promo/MoreApps.h"

namespace promo {

void MoreApps::back() {
    dismissModalViewControllerAnimated(true);
}

void MoreApps::viewDidAppear(bool animated) {
    platform::ViewController::viewDidAppear(animated);
    back();
}

bool MoreApps::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const {
    return orientation == platform::InterfaceOrientation::Portrait;
}

} // namespace promo
