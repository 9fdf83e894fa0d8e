#include "promo/AdViewController.h"

namespace promo {

AdViewController::AdViewController(const platform::Rect& frame) : platform::View(frame) {}

void AdViewController::getAdFromNetwork() {}

} // namespace promo
