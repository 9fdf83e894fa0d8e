#include "lumen/DelegateManager.h"

#include "lumen/Statistics.h"
#include "platform/runloop/RunLoop.h"

namespace lumen {

namespace {

using Call = void (*)(LMNBannerViewDelegate&, LMNBannerView*, const platform::Error*);

struct EventRow {
    std::string_view bannerSelector;
    Call banner;
    std::string_view interstitialSelector;
    Call interstitial;
};

const platform::Error kNoError{};

// The six events: the banner's selector and the interstitial's, in calling order.
const EventRow kEvents[] = {
    {"adViewDidReceiveAd:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) { d.adViewDidReceiveAd(v); },
     "interstitialDidReceiveAd:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) {
         d.interstitialDidReceiveAd(v);
     }},
    {"adView:didFailToReceiveAdWithError:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error* e) {
         d.adViewDidFailToReceiveAdWithError(v, e ? *e : kNoError);
     },
     "interstitial:didFailToReceiveAdWithError:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error* e) {
         d.interstitialDidFailToReceiveAdWithError(v, e ? *e : kNoError);
     }},
    {"adViewWillPresentScreen:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) { d.adViewWillPresentScreen(v); },
     "interstitialWillPresentScreen:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) {
         d.interstitialWillPresentScreen(v);
     }},
    {"adViewWillDismissScreen:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) { d.adViewWillDismissScreen(v); },
     "interstitialWillDismissScreen:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) {
         d.interstitialWillDismissScreen(v);
     }},
    {"adViewDidDismissScreen:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) { d.adViewDidDismissScreen(v); },
     "interstitialDidDismissScreen:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) {
         d.interstitialDidDismissScreen(v);
     }},
    {"adViewWillLeaveApplication:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) {
         d.adViewWillLeaveApplication(v);
     },
     "interstitialWillLeaveApplication:",
     [](LMNBannerViewDelegate& d, LMNBannerView* v, const platform::Error*) {
         d.interstitialWillLeaveApplication(v);
     }},
};

} // namespace

LMNDelegateContainer& LMNDelegateManager::addDelegate(std::weak_ptr<LMNBannerViewDelegate> delegate,
                                                      std::weak_ptr<LMNBannerView> object) {
    delegates_.push_back(LMNDelegateContainer{std::move(delegate), std::move(object), false, false});
    return delegates_.back();
}

void LMNDelegateManager::removeDelegate(const LMNBannerViewDelegate* delegate) {
    for (auto it = delegates_.begin(); it != delegates_.end(); ++it)
        if (it->delegate_.lock().get() == delegate) {
            delegates_.erase(it);
            return;
        }
}

LMNDelegateContainer* LMNDelegateManager::containerForDelegate(const LMNBannerViewDelegate* delegate) {
    for (auto& c : delegates_)
        if (c.delegate_.lock().get() == delegate)
            return &c;
    return nullptr;
}

LMNDelegateContainer* LMNDelegateManager::publisherDelegateContainer() {
    for (auto& c : delegates_)
        if (!c.internal_)
            return &c;
    return nullptr;
}

void LMNDelegateManager::didReceiveAd() {
    fire(Event::DidReceive, nullptr);
}
void LMNDelegateManager::didFailToReceiveAdWithError(const platform::Error& error) {
    fire(Event::DidFail, &error);
}
void LMNDelegateManager::willPresentScreen() {
    fire(Event::WillPresent, nullptr);
}
void LMNDelegateManager::willDismissScreen() {
    fire(Event::WillDismiss, nullptr);
}
void LMNDelegateManager::didDismissScreen() {
    fire(Event::DidDismiss, nullptr);
}
void LMNDelegateManager::willLeaveApplication() {
    // The statistics are main-thread state: the whole event, figures included, runs there.
    if (!platform::RunLoop::isMainThread()) {
        auto self = weak_from_this().lock(); // the caller waits, so `this` outlives the call
        platform::performOnMain([this, self] { willLeaveApplication(); }, true);
        return;
    }
    fire(Event::WillLeave, nullptr);
    auto& statistics = LMNStatistics::sharedStatistics();
    if (statistics.isTimingClick())
        statistics.setClickBackgroundedApp();
}

void LMNDelegateManager::fire(Event event, const platform::Error* error) {
    if (!platform::RunLoop::isMainThread()) {
        platform::performOnMain([this, event, error] { fire(event, error); }, true);
        return;
    }
    // Keeps itself alive when a delegate lets the banner go during the callback.
    auto self = weak_from_this().lock();
    callActiveSelectors(event, error);
}

void LMNDelegateManager::callActiveSelectors(Event event, const platform::Error* error) {
    const auto& row = kEvents[static_cast<int>(event)];
    auto containers = delegates_; // a delegate may change the list while it is called
    for (const auto& container : containers) {
        if (container.disabled_)
            continue;
        auto delegate = container.delegate_.lock();
        if (!delegate)
            continue;
        auto banner = container.object_.lock(); // null once the banner has gone
        if (delegate->responds(row.bannerSelector))
            row.banner(*delegate, banner.get(), error);
        if (delegate->responds(row.interstitialSelector))
            row.interstitial(*delegate, banner.get(), error);
    }
}

} // namespace lumen
