#pragma once
// The application delegate: the spine of the drive application.
//
// At launch it shows the navigation controller (whose root screen, RootViewController, sets
// itself up as its view loads), then either lays the launch image over the window for a
// launch by push and fades it out 1.0 s later, or starts the launch pop-up of the house
// promotions. It creates the banner host once the launch screen is out of the way (at most
// one per run, named by the global `adView`), centres it at the size of each new ad, clears
// the icon badge, registers for remote notifications and uploads the device token to the
// publisher's push service, and turns a push payload received while running into the
// promoted application's store identifier ("promoAppLink") and the notification
// "backgroundPush".
//
// The single instance comes from the main interface builder (MainInterface.h), which gives it
// its window and navigation controller. Everything runs on the main thread; the launch-by-
// push continuation is a delayed perform on the main run loop.
#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "promo/AdViewController.h"
#include "promo/PopupController.h"

namespace app {

// YES once the launch pop-up or the launch image has been dismissed; the pass-key prompt
// waits for it.
extern bool isAlertNo;
// The one banner host of the run, once created.
extern std::shared_ptr<promo::AdViewController> adView;
// The launch image laid over the window on a launch by push.
extern std::shared_ptr<platform::ImageView> imageV;

// Returns the launch globals (and the sort and blink state of the root screen) to their
// starting values, so each test launches as a fresh process would.
void resetLaunchStateForTesting();

// Paths and names of the device-token upload and the push payload.
inline constexpr std::string_view kPushServicePrefix = "/pushNotification";
inline constexpr std::string_view kDeviceDataPath = "/commonPhp/getDevicedata.php";
inline constexpr std::string_view kPromoAppLinkKey = "promoAppLink";
inline constexpr std::string_view kPayloadAppLinkField = "applink";
inline constexpr std::string_view kBackgroundPushNotification = "backgroundPush";

// The banner host's autoresizing; its frames are the drive layout's (app/DriveLayout.h).
inline constexpr unsigned kBannerHostAutoresizing = 5; // flexible left and right margins

class FerrowickAppDelegate : public platform::ApplicationDelegate,
                             public promo::PopupControllerDelegate,
                             public promo::AdViewControllerDelegate,
                             public std::enable_shared_from_this<FerrowickAppDelegate> {
public:
    // The pause before the launch image fades on a launch by push, and the fade's length.
    static constexpr double kLaunchImageDelay = 1.0;
    static constexpr double kLaunchImageFadeDuration = 1.0;
    static constexpr double kPopUpFadeDuration = 0.5;
    static constexpr const char* kPopUpFadeAnimation = "removeAlertView";
    // Badge, sound and alert.
    static constexpr unsigned kRemoteNotificationTypes = 7;

    FerrowickAppDelegate() = default;

    const std::shared_ptr<platform::Window>& window() const { return window_; }
    void setWindow(std::shared_ptr<platform::Window> window) { window_ = std::move(window); }
    const std::shared_ptr<platform::NavigationController>& navigationController() const {
        return navigationController_;
    }
    void setNavigationController(std::shared_ptr<platform::NavigationController> controller) {
        navigationController_ = std::move(controller);
    }
    // The launch pop-up of a normal launch (null on a launch by push).
    const std::shared_ptr<promo::PopupController>& popUpView() const { return popUpView_; }

    // ---- Application delegate ----
    bool applicationDidFinishLaunchingWithOptions(platform::Application& application,
                                                  const platform::Dictionary& launchOptions) override;
    void applicationDidReceiveRemoteNotification(platform::Application& application,
                                                 const platform::Dictionary& payload) override;
    void applicationDidRegisterForRemoteNotificationsWithDeviceToken(platform::Application& application,
                                                                     const platform::Data& token) override;
    // Resign, background, foreground, active, terminate and memory warning: nothing to do
    // (the inherited callbacks do nothing).

    // ---- Launch screens ----
    // Creates and starts the launch pop-up (the argument of the original action is ignored).
    void loadUpgradeSplashPage();
    // The launch-by-push continuation, 1.0 s after launch.
    void push();
    // removeSplashPage:appIsAdEnabled: — the launch pop-up is done.
    void removeSplashPage(const std::shared_ptr<platform::View>& sender, bool appIsAdEnabled) override;
    // adViewControllerDidReceiveAd: — centres the banner host at the new ad's size.
    void adViewControllerDidReceiveAd(platform::Size size) override;

    // The device-token upload's path and query for `token`, each value percent-encoded.
    static std::string deviceDataPathForToken(const platform::Data& token);
    // The token as the platform describes data: "<0a1b2c3d 4e5f...>", groups of four bytes.
    static std::string dataDescription(const platform::Data& data);

private:
    void createBannerHost();

    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::NavigationController> navigationController_;
    std::shared_ptr<promo::PopupController> popUpView_;
};

} // namespace app
