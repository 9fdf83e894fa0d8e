#pragma once
// The banner host: the strip at the bottom of the application's screens that will hold the
// mediation slot and the house news ads. Despite its name it is a view.
//
// This is the host's interface as the application drives it: made with initWithFrame (the
// constructor), given the navigation controller as its root view controller and the
// application delegate as its delegate (both held weakly), then asked to getAdFromNetwork.
// Until the mediation slot and the house news are built into it, it shows nothing and asks
// for nothing, so the application places, moves and fades an empty strip. Main thread only.
#include <memory>

#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace promo {

// Told by the banner host after each new network ad has been animated in.
class AdViewControllerDelegate {
public:
    virtual ~AdViewControllerDelegate() = default;
    // The size of the ad now shown (adViewControllerDidReceiveAd:).
    virtual void adViewControllerDidReceiveAd(platform::Size size) = 0;
};

class AdViewController : public platform::View {
public:
    // initWithFrame:
    explicit AdViewController(const platform::Rect& frame);

    std::shared_ptr<platform::ViewController> rootViewController() const {
        return rootViewController_.lock();
    }
    void setRootViewController(std::weak_ptr<platform::ViewController> controller) {
        rootViewController_ = std::move(controller);
    }
    std::shared_ptr<AdViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AdViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Creates the mediation slot and its first request; nothing to create yet.
    void getAdFromNetwork();

private:
    std::weak_ptr<platform::ViewController> rootViewController_;
    std::weak_ptr<AdViewControllerDelegate> delegate_;
};

} // namespace promo
