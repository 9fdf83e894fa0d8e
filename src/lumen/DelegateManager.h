#pragma once
// LMNBannerViewDelegate (the publisher's protocol) and LMNDelegateManager, which fans each of
// the six ad events out to its delegate containers in insertion order, always on the main
// thread (an event raised elsewhere hops there and waits). Delegates are held weakly; a
// delegate set to nil hears nothing more. Each event calls the banner selector, then the
// interstitial one, for every delegate that answers them. A container holds its banner weakly
// too: a full-screen screen can outlive the banner that opened it, and its later events then
// name no banner (a null pointer) rather than a freed one.
#include <memory>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"

namespace lumen {

class LMNBannerView;

class LMNBannerViewDelegate {
public:
    virtual ~LMNBannerViewDelegate() = default;
    // Which callbacks this delegate implements; by default the six banner ones.
    virtual bool responds(std::string_view selector) const { return !selector.starts_with("interstitial"); }
    virtual void adViewDidReceiveAd(LMNBannerView*) {}
    virtual void adViewDidFailToReceiveAdWithError(LMNBannerView*, const platform::Error&) {}
    virtual void adViewWillPresentScreen(LMNBannerView*) {}
    virtual void adViewWillDismissScreen(LMNBannerView*) {}
    virtual void adViewDidDismissScreen(LMNBannerView*) {}
    virtual void adViewWillLeaveApplication(LMNBannerView*) {}
    virtual void interstitialDidReceiveAd(LMNBannerView*) {}
    virtual void interstitialDidFailToReceiveAdWithError(LMNBannerView*, const platform::Error&) {}
    virtual void interstitialWillPresentScreen(LMNBannerView*) {}
    virtual void interstitialWillDismissScreen(LMNBannerView*) {}
    virtual void interstitialDidDismissScreen(LMNBannerView*) {}
    virtual void interstitialWillLeaveApplication(LMNBannerView*) {}
};

struct LMNDelegateContainer {
    std::weak_ptr<LMNBannerViewDelegate> delegate_;
    std::weak_ptr<LMNBannerView> object_;
    bool disabled_ = false;
    bool internal_ = false;
    bool didYouNilOutYourDelegate(std::string_view selector) const {
        auto d = delegate_.lock();
        return d && d->responds(selector);
    }
};

class LMNDelegateManager : public std::enable_shared_from_this<LMNDelegateManager> {
public:
    LMNDelegateContainer& addDelegate(std::weak_ptr<LMNBannerViewDelegate> delegate,
                                      std::weak_ptr<LMNBannerView> object);
    void removeDelegate(const LMNBannerViewDelegate* delegate);
    LMNDelegateContainer* containerForDelegate(const LMNBannerViewDelegate* delegate);
    LMNDelegateContainer* publisherDelegateContainer();
    const std::vector<LMNDelegateContainer>& delegateContainers() const { return delegates_; }

    void didReceiveAd();
    void didFailToReceiveAdWithError(const platform::Error& error);
    void willPresentScreen();
    void willDismissScreen();
    void didDismissScreen();
    void willLeaveApplication();

private:
    enum class Event { DidReceive, DidFail, WillPresent, WillDismiss, DidDismiss, WillLeave };
    void fire(Event event, const platform::Error* error);
    void callActiveSelectors(Event event, const platform::Error* error);
    std::vector<LMNDelegateContainer> delegates_;
};

} // namespace lumen
