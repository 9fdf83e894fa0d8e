#pragma once
// The banner host: the strip at the bottom of the application's screens that holds the
// mediation slot and fills it with the publisher's house news ads whenever the network ads
// leave room. Despite its name it is a view.
//
// The application makes it with initWithFrame (the constructor, through std::make_shared),
// gives it the navigation controller as its root view controller and the application
// delegate as its delegate (both held weakly), then asks it to getAdFromNetwork: the host
// creates the mediation slot, which fetches its configuration and asks for ads by itself.
// As the slot's host it answers the application key (phone or tablet), the controller for
// modal screens and the orientation, resizes the slot to each new network ad and tells the
// application the ad's size.
//
// House news: at creation the host asks the promotion service for its news list and keeps the
// entries whose applications are not installed. It downloads each entry's image ahead on a
// background thread (the result comes back on the main thread) and puts a house-ad button in
// the slot (replaceBannerViewWith) when the configuration says ads are off (then every 60 s),
// when a network fails and no house ad has shown for a refresh interval, and when its first
// image arrives while the slot is empty. Each house ad is reported once; a tap reports a click
// and opens the entry's "appLink" half a second later. The seconds since the last house ad
// are counted by a one-second timer on the main run loop. Main thread only; the timer and
// delayed work hold the host weakly, so nothing fires for a host that is gone.
#include <cstdint>
#include <memory>
#include <string>

#include <vector>

#include "mediation/SwitchboardDelegate.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace mediation {
class SwitchboardView;
}
namespace platform {
class Timer;
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

    // The house ads' constants.
    static constexpr int kHouseAdTag = 1000;
    static constexpr int kNewsShowTimerStart = 60;
    static constexpr double kAdsOffRotationInterval = 60.0;
    static constexpr double kNewsCountInterval = 1.0;
    static constexpr double kClickOpenDelay = 0.5;

    const std::shared_ptr<mediation::SwitchboardView>& mediationView() const { return mediationView_; }
    bool isNewsPresent() const { return isNewsPresent_; }
    const platform::Array& dataArray() const { return dataArray_; }
    const std::shared_ptr<platform::Image>& newsImage() const { return newsImage_; }
    const std::shared_ptr<platform::Button>& newsView() const { return newsView_; }
    int newsAdCounter() const { return newsAdCounter_; }
    int newsShowTimer() const { return newsShowTimer_; }
    const std::shared_ptr<platform::Timer>& refreshTimer() const { return refreshTimer_; }

    // ---- House news ----
    // Requests the house news list (run at creation).
    void getNewsAdDetails();
    // The list reply.
    void jsonDataReturn(const std::optional<platform::Value>& json);
    // Downloads the picture of entry `index` of dataArray in the background; on the main
    // thread it replaces newsImage, which then belongs to that entry. An entry whose picture
    // cannot be had (no link, no data, not a picture) is skipped: the next entry's picture is
    // fetched instead, once round the list, and newsImage stays with its own entry.
    void imageLoadwithDic(std::size_t index);
    // Puts the house ad of the picture at hand into the slot, with that picture's entry, and
    // fetches the next entry's picture (or fetches the first picture when none is ready).
    void showNewsAd();
    void impressionUpdate();
    void timerRequestFreshNews() { ++newsShowTimer_; }
    void callOffNews();
    // The house button's touch-down: the click report of `entry` (the one the tapped button
    // shows), then its "appLink" 0.5 s later. Without an argument: the entry shown now.
    void getItNow();
    void getItNow(const platform::Value& entry);
    void gotoItune(const std::string& appLink);
    void rotateToOrientation(int orientation);

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
    // Counts image downloads; a completion whose count is no longer the newest is dropped.
    std::uint64_t imageGeneration_ = 0;
    std::weak_ptr<platform::ViewController> rootViewController_;
    std::weak_ptr<AdViewControllerDelegate> delegate_;
    std::shared_ptr<mediation::SwitchboardView> mediationView_;
    int devOrientation_ = 0;
    platform::Array dataArray_;
    std::shared_ptr<platform::Image> newsImage_;
    std::shared_ptr<platform::Button> newsView_;
    int newsAdCounter_ = -1;
    int newsImageIndex_ = -1; // the dataArray entry whose picture newsImage is
    int newsShowTimer_ = kNewsShowTimerStart;
    bool isNewsPresent_ = false;
    std::shared_ptr<platform::Timer> refreshTimer_;
    std::shared_ptr<class AsyncAdData> newsFetcher_;

    std::weak_ptr<AdViewController> weakSelf();
    void showNewsAd(bool mayScheduleRotation);
    void loadEntryPicture(std::size_t index, std::size_t triesLeft);
    void skipFailedPicture(std::size_t index, std::size_t triesLeft);
    const platform::Value* shownEntry() const;
};

} // namespace promo
