#pragma once
// The help screen: three help images stacked vertically in a paging scroll view, with hint
// arrows that flash at the bottom (more below) and top (more above) whenever the user comes
// to rest on a page: only the down arrow on the first page, both on the middle one, only the
// up arrow on the last. Each flash fades the arrow in over 0.5 s, out again over 0.5 s after
// 0.3 s, then takes it off the screen.
//
// Made anew each time the root screen opens it, wrapped in a navigation controller and
// presented modally; its view comes from the "HelpPage" interface builder. It turns only
// between the two portrait orientations. Main thread only.
#include <memory>

#include "platform/ui/ImageView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"

namespace app {

class HelpPage : public platform::ViewController, public platform::ScrollViewDelegate {
public:
    static constexpr int kPageCount = 3;
    static constexpr double kPageWidth = 320, kPageHeight = 416;
    // Offsets past which an arrow hints at more content.
    static constexpr double kUpArrowFromY = 240;
    static constexpr double kDownArrowBeforeY = 700;
    static constexpr double kFirstHintDelay = 0.5;
    static constexpr double kFadeDuration = 0.5;
    static constexpr double kFadeOutDelay = 0.3;

    HelpPage() = default;
    std::shared_ptr<HelpPage> sharedHelp();

    void loadView() override; // the "HelpPage" interface
    void viewDidLoad() override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const override;

    void scrollViewDidEndScrollingAnimation(platform::ScrollView& scrollView) override;
    void scrollViewDidEndDecelerating(platform::ScrollView& scrollView) override;

    void downButtonEffect1();
    void downButtonEffect2();
    void downButtonEffect3();
    void upButtonEffect1();
    void upButtonEffect2();
    void upButtonEffect3();
    void backButtonPressed();
    void homeButtonPressed();

    std::shared_ptr<platform::ScrollView> contentView; // outlet
    std::shared_ptr<platform::ImageView> imageView;    // the page being built
    std::shared_ptr<platform::ImageView> upImage;
    std::shared_ptr<platform::ImageView> downImage;

private:
    // Fades `arrow` in, then on to `next` when that stops.
    void fadeIn(const std::shared_ptr<platform::ImageView>& arrow, void (HelpPage::*next)());
    void fadeOut(const std::shared_ptr<platform::ImageView>& arrow, void (HelpPage::*next)());
};

} // namespace app
