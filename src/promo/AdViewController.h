#pragma once
// The banner host: the strip at the bottom of the application's screens that holds the
// mediation slot (and, later, the house news ads). Despite its name it is a view.
//
// The application makes it with initWithFrame (the constructor, through std::make_shared),
// gives it the navigation controller as its root view controller and the application
// delegate as its delegate (both held weakly), then asks it to getAdFromNetwork: the host
// creates the mediation slot, which fetches its configuration and asks for ads by itself.
// As the slot's host it answers the application key (phone or tablet), the controller for
// modal screens and the orientation, resizes the slot to each new network ad and tells the
// application the ad's size. The house news ads are not part of this host yet: the
// callbacks that would show them only keep `isNewsPresent`. Main thread only.
#include <memory>
#include <string>

#include "mediation/SwitchboardDelegate.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace mediation {
class SwitchboardView;
}

namespace promo {

// The application keys of the mediation configuration: one for phones, one for tablets.
inline constexpr const char* kPhoneApplicationKey = "4c1e9b07d2a85f36e0b47a9c13d6f285";
inline constexpr const char* kTabletApplicationKey = "e3a05d8c71b94f2e6d0c8b17a4f953d6";

// Told by the banner host after each new network ad has been animated in.
class AdViewControllerDelegate {
public:
    virtual ~AdViewControllerDelegate() = default;
    // The size of the ad now shown (adViewControllerDidReceiveAd:).
    virtual void adViewControllerDidReceiveAd(platform::Size size) = 0;
};

class AdViewController : public platform::View, public mediation::SwitchboardDelegate {
public:
    // initWithFrame:
    explicit AdViewController(const platform::Rect& frame);
    ~AdViewController() override;

    std::shared_ptr<platform::ViewController> rootViewController() const { return rootViewController_.lock(); }
    void setRootViewController(std::weak_ptr<platform::ViewController> controller) {
        rootViewController_ = std::move(controller);
    }
    std::shared_ptr<AdViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AdViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Creates the mediation slot, which starts its configuration fetch and first request.
    void getAdFromNetwork();

    const std::shared_ptr<mediation::SwitchboardView>& mediationView() const { return mediationView_; }
    bool isNewsPresent() const { return isNewsPresent_; }

    // ---- As the slot's host ----
    bool responds(std::string_view selector) const override;
    std::string switchboardApplicationKey() override;
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override;
    std::optional<int> switchboardCurrentOrientation() override;
    void switchboardDidReceiveAd(mediation::SwitchboardView* view) override;
    void switchboardDidFailToReceiveAd(mediation::SwitchboardView* view, bool usingBackup) override;
    void switchboardReceivedNotificationAdsAreOff(mediation::SwitchboardView* view) override;
    void switchboardDidAnimateToNewAdIn(mediation::SwitchboardView* view) override;
    void switchboardReceivedRequestForDeveloperToFufill(mediation::SwitchboardView* view) override;

private:
    std::weak_ptr<platform::ViewController> rootViewController_;
    std::weak_ptr<AdViewControllerDelegate> delegate_;
    std::shared_ptr<mediation::SwitchboardView> mediationView_;
    int devOrientation_ = 0;
    bool isNewsPresent_ = false;
};

} // namespace promo
