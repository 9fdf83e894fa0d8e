#include "app/HelpPage.h"

#include "app/FerrowickAppDelegate.h"
#include "app/MainInterface.h"
#include "app/RootViewController.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {
namespace {

constexpr const char* kUpArrowImage = "Button_Up1.png";
constexpr const char* kDownArrowImage = "Button_Down1.png";
constexpr const char* kPageImageFormat = "Help_Page_%d";
const platform::Rect kUpArrowFrame{141, 30, 38, 33};
const platform::Rect kDownArrowFrame{141, 320, 38, 33};

} // namespace

std::shared_ptr<HelpPage> HelpPage::sharedHelp() {
    return std::static_pointer_cast<HelpPage>(shared_from_this());
}

void HelpPage::loadView() {
    loadHelpPageInterface(*this);
}

void HelpPage::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    auto self = sharedHelp();
    contentView->setPagingEnabled(true);
    contentView->setDelegate(self);
    contentView->setShowsVerticalScrollIndicator(false);
    contentView->setShowsHorizontalScrollIndicator(false);

    if (auto nav = navigationController())
        nav->navigationBar().setTintColor(platform::Color::grayColor());
    auto back = platform::BarButtonItem::withTitle("Back", platform::BarButtonItemStyle::Plain);
    back->setTarget(self, &HelpPage::backButtonPressed);
    navigationItem().setLeftBarButtonItem(back);

    // The arrows stand over the pages, wherever the pages sit in the view.
    const platform::Point pages = contentView->frame().origin;
    upImage = std::make_shared<platform::ImageView>(kUpArrowFrame.offsetBy(pages.x, pages.y));
    upImage->setImage(platform::Image::named(kUpArrowImage));
    upImage->setFrame(kUpArrowFrame.offsetBy(pages.x, pages.y));
    downImage = std::make_shared<platform::ImageView>(kDownArrowFrame.offsetBy(pages.x, pages.y));
    downImage->setImage(platform::Image::named(kDownArrowImage));
    downImage->setFrame(kDownArrowFrame.offsetBy(pages.x, pages.y));

    double y = 0;
    for (int n = 1; n <= kPageCount; ++n) {
        imageView = std::make_shared<platform::ImageView>(platform::Rect(0, y, kPageWidth, kPageHeight));
        imageView->setTag(n);
        imageView->setImage(platform::Image::named(platform::formatString(kPageImageFormat, n)));
        imageView->setFrame(platform::Rect(0, y, kPageWidth, kPageHeight));
        contentView->addSubview(imageView);
        y += contentView->frame().height();
    }
    contentView->setContentSize(platform::Size{contentView->frame().width(), y});

    platform::RunLoop::main().performAfter(
        kFirstHintDelay, [self] { self->downButtonEffect1(); }, this, "downButtonEffect1");
}

bool HelpPage::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const {
    return platform::isPortrait(orientation);
}

void HelpPage::scrollViewDidEndScrollingAnimation(platform::ScrollView& scrollView) {
    double y = scrollView.contentOffset().y;
    if (y >= kUpArrowFromY)
        upButtonEffect1();
    if (y < kDownArrowBeforeY)
        downButtonEffect1();
}

void HelpPage::scrollViewDidEndDecelerating(platform::ScrollView&) {
    if (contentView)
        scrollViewDidEndScrollingAnimation(*contentView);
}

void HelpPage::fadeIn(const std::shared_ptr<platform::ImageView>& arrow, void (HelpPage::*next)()) {
    arrow->setAlpha(0);
    view()->addSubview(arrow);
    auto self = sharedHelp();
    platform::View::animate(
        kFadeDuration, [&arrow] { arrow->setAlpha(1); },
        [self, next](const std::string&, bool) { ((*self).*next)(); });
}

void HelpPage::fadeOut(const std::shared_ptr<platform::ImageView>& arrow, void (HelpPage::*next)()) {
    platform::AnimationOptions options;
    options.duration = kFadeDuration;
    options.delay = kFadeOutDelay;
    auto self = sharedHelp();
    platform::View::animate(
        options, [&arrow] { arrow->setAlpha(0); },
        [self, next](const std::string&, bool) { ((*self).*next)(); });
}

void HelpPage::downButtonEffect1() {
    fadeIn(downImage, &HelpPage::downButtonEffect2);
}
void HelpPage::downButtonEffect2() {
    fadeOut(downImage, &HelpPage::downButtonEffect3);
}
void HelpPage::downButtonEffect3() {
    downImage->removeFromSuperview();
}
void HelpPage::upButtonEffect1() {
    fadeIn(upImage, &HelpPage::upButtonEffect2);
}
void HelpPage::upButtonEffect2() {
    fadeOut(upImage, &HelpPage::upButtonEffect3);
}
void HelpPage::upButtonEffect3() {
    upImage->removeFromSuperview();
}

void HelpPage::backButtonPressed() {
    moveBannerHost(layout::bannerHostY());
    if (auto nav = navigationController())
        nav->dismissModalViewControllerAnimated(true);
    else
        dismissModalViewControllerAnimated(true);
}

void HelpPage::homeButtonPressed() {
    if (auto nav = navigationController())
        nav->popViewControllerAnimated(true);
}

} // namespace app
