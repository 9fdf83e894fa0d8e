#pragma once
// The more-apps page: a full-screen page of the publisher's other applications, presented
// modally by the root screen.
//
// This is its interface as the root screen drives it (init, then a modal presentation).
// Until the list request is built into it there is nothing to show, so the page leaves
// again (`back`) as soon as it has appeared. Main thread only.
#include "platform/ui/ViewController.h"

namespace promo {

class MoreApps : public platform::ViewController {
public:
    MoreApps() = default;

    // Closes the page.
    void back();

    void viewDidAppear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const override;
};

} // namespace promo
