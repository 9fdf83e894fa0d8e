#include "lumen/SwitchboardAdapterLumen.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/Device.h"

namespace lumen {

namespace {

const mediation::SwitchboardAdapterRegistrar<SwitchboardAdapterLumen> kRegistrar;

constexpr double kColorScale = 255.0;

// The banner callbacks this adapter implements.
constexpr std::array<std::string_view, 4> kImplemented = {
    "adViewDidReceiveAd:", "adView:didFailToReceiveAdWithError:", "adViewWillPresentScreen:",
    "adViewDidDismissScreen:"};

struct GenderRow {
    std::string_view text;
    int gender;
};
constexpr GenderRow kGenders[] = {{"m", LMNRequest::kGenderMale}, {"f", LMNRequest::kGenderFemale}};

template <typename T, typename Q>
std::optional<T> ask(const std::shared_ptr<mediation::SwitchboardDelegate>& host, std::string_view item,
                     Q question) {
    if (!host || !host->responds(item))
        return std::nullopt;
    return ((*host).*question)();
}

} // namespace

std::optional<std::string> SwitchboardAdapterLumen::hexStringFromUIColor(const platform::Color& color) {
    // Our colours are all in the RGB model (a gray one has equal components).
    auto component = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * kColorScale); };
    char out[8];
    std::snprintf(out, sizeof out, "%02X%02X%02X", component(color.red), component(color.green),
                  component(color.blue));
    return std::string(out);
}

std::optional<std::string> SwitchboardAdapterLumen::publisherId() const {
    auto host = switchboardDelegate();
    if (host && host->responds(delegatePublisherIdSelector()))
        return host->lumenPublisherID();
    return networkConfig() ? networkConfig()->pubId() : std::nullopt;
}

void SwitchboardAdapterLumen::getAd() {
    using mediation::SwitchboardDelegate;
    auto host = switchboardDelegate();
    auto request = LMNRequest::request();
    platform::Dictionary extras;
    if (ask<bool>(host, "switchboardTestMode", &SwitchboardDelegate::switchboardTestMode).value_or(false))
        extras["adtest"] = "on";
    if (auto bg = ask<platform::Color>(host, "switchboardAdBackgroundColor",
                                       &SwitchboardDelegate::switchboardAdBackgroundColor))
        if (auto hex = hexStringFromUIColor(*bg))
            extras["color_bg"] = *hex;
    if (auto text =
            ask<platform::Color>(host, "switchboardTextColor", &SwitchboardDelegate::switchboardTextColor))
        if (auto hex = hexStringFromUIColor(*text))
            extras["color_text"] = *hex;
    if (!extras.empty())
        request->setAdditionalParameters(extras);
    auto location = ask<platform::Location>(host, "locationInfo", &SwitchboardDelegate::locationInfo);
    if (location && switchboardConfig() && switchboardConfig()->locationOn())
        request->setLocationWithLatitude(static_cast<float>(location->coordinate().latitude),
                                         static_cast<float>(location->coordinate().longitude),
                                         static_cast<float>(location->horizontalAccuracy()));
    int gender = LMNRequest::kGenderUnknown;
    if (auto g = ask<std::string>(host, "gender", &SwitchboardDelegate::gender))
        for (const auto& row : kGenders)
            if (row.text == *g)
                gender = row.gender;
    request->setGender(gender);
    if (auto birth = ask<platform::Date>(host, "dateOfBirth", &SwitchboardDelegate::dateOfBirth))
        request->setBirthday(*birth);
    if (auto words = ask<platform::Value>(host, "keywords", &SwitchboardDelegate::keywords);
        words && words->array()) {
        auto list = std::make_shared<std::vector<std::string>>();
        for (const auto& w : *words->array())
            if (w.string())
                list->push_back(*w.string());
        request->setKeywords(list);
    }
    const bool tablet =
        platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone;
    const auto size = tablet ? kTabletBannerSize : kPhoneBannerSize;
    auto bannerView = LMNBannerView::create(platform::Rect({0, 0}, size));
    bannerView->setAdUnitID(publisherId().value_or(""));
    std::shared_ptr<LMNBannerViewDelegate> self(shared_from_this(),
                                                static_cast<LMNBannerViewDelegate*>(this));
    bannerView->setDelegate(self);
    if (host)
        bannerView->setRootViewController(host->viewControllerForPresentingModalView());
    setAdNetworkView(bannerView);
    bannerView->loadRequest(request);
}

void SwitchboardAdapterLumen::stopBeingDelegate() {
    if (auto* b = banner())
        b->setDelegate({});
}

bool SwitchboardAdapterLumen::responds(std::string_view selector) const {
    for (auto name : kImplemented)
        if (name == selector)
            return true;
    return false;
}

void SwitchboardAdapterLumen::adViewDidReceiveAd(LMNBannerView* view) {
    if (!isOwnBanner(view))
        return;
    if (auto slot = switchboardView())
        slot->adapterDidReceiveAdView(*this, adNetworkView());
}

void SwitchboardAdapterLumen::adViewDidFailToReceiveAdWithError(LMNBannerView* view,
                                                                const platform::Error& error) {
    // Every failure goes to the slot, those of the banner's own refreshes too, as every
    // refreshed ad does: the slot then replaces the stale ad.
    if (!isOwnBanner(view))
        return;
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, error);
}

void SwitchboardAdapterLumen::adViewWillPresentScreen(LMNBannerView* view) {
    if (isOwnBanner(view))
        helperNotifyDelegateOfFullScreenModal();
}

void SwitchboardAdapterLumen::adViewDidDismissScreen(LMNBannerView* view) {
    if (isOwnBanner(view))
        helperNotifyDelegateOfFullScreenModalDismissal();
}

} // namespace lumen
