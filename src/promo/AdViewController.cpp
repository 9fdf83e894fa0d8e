#include "promo/AdViewController.h"

#include <array>
#include <cstdio>

#include "mediation/SwitchboardView.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Device.h"

namespace promo {
namespace {

constexpr double kPhoneSlotHeight = 53;
constexpr double kTabletSlotHeight = 90;
constexpr unsigned kFlexibleSideMargins = 5;
constexpr double kResizeDuration = 0.7;

// The optional items of the slot's protocol that this host answers.
constexpr std::array<std::string_view, 6> kAnsweredSelectors = {
    "switchboardCurrentOrientation",
    "switchboardDidReceiveAd:",
    "switchboardDidFailToReceiveAd:usingBackup:",
    "switchboardReceivedNotificationAdsAreOff:",
    "switchboardDidAnimateToNewAdIn:",
    "switchboardReceivedRequestForDeveloperToFufill:",
};

bool isTablet() {
    return platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone;
}

} // namespace

AdViewController::AdViewController(const platform::Rect& frame) : platform::View(frame) {}

AdViewController::~AdViewController() = default;

void AdViewController::getAdFromNetwork() {
    if (mediationView_)
        return;
    if (auto root = rootViewController())
        devOrientation_ = static_cast<int>(root->interfaceOrientation());
    auto self = std::static_pointer_cast<AdViewController>(sharedView());
    if (!self)
        return;
    mediationView_ = mediation::SwitchboardView::requestSwitchboardViewWithDelegate(self);
    if (!mediationView_)
        return;
    mediationView_->setFrame(
        platform::Rect(0, 0, bounds().width(), isTablet() ? kTabletSlotHeight : kPhoneSlotHeight));
    mediationView_->setAutoresizingMask(kFlexibleSideMargins);
    addSubview(mediationView_);
}

bool AdViewController::responds(std::string_view selector) const {
    for (auto answered : kAnsweredSelectors)
        if (selector == answered)
            return true;
    return mediation::SwitchboardDelegate::responds(selector);
}

std::string AdViewController::switchboardApplicationKey() {
    return isTablet() ? kTabletApplicationKey : kPhoneApplicationKey;
}

std::shared_ptr<platform::ViewController> AdViewController::viewControllerForPresentingModalView() {
    return rootViewController();
}

std::optional<int> AdViewController::switchboardCurrentOrientation() {
    auto root = rootViewController();
    return static_cast<int>(root ? root->interfaceOrientation() : platform::InterfaceOrientation::Portrait);
}

void AdViewController::switchboardDidReceiveAd(mediation::SwitchboardView*) {
    isNewsPresent_ = false;
    platform::logLine("switchboardDidReceiveAd");
}

void AdViewController::switchboardDidFailToReceiveAd(mediation::SwitchboardView*, bool) {
    isNewsPresent_ = false;
}

void AdViewController::switchboardReceivedNotificationAdsAreOff(mediation::SwitchboardView*) {
    isNewsPresent_ = true;
}

void AdViewController::switchboardDidAnimateToNewAdIn(mediation::SwitchboardView* view) {
    if (!view || !mediationView_)
        return;
    platform::Size size = view->actualAdSize();
    char line[96];
    std::snprintf(line, sizeof line, "switchboardDidAnimateToNewAdIn: %f", size.width);
    platform::logLine(line);

    platform::View::beginAnimations("switchboardDidAnimateToNewAdIn");
    platform::View::setAnimationDuration(kResizeDuration);
    mediationView_->setFrame(platform::Rect(0, mediationView_->frame().y(), size.width, size.height));
    platform::View::commitAnimations();

    if (auto d = delegate())
        d->adViewControllerDidReceiveAd(mediationView_->frame().size);
}

void AdViewController::switchboardReceivedRequestForDeveloperToFufill(mediation::SwitchboardView*) {}

} // namespace promo
