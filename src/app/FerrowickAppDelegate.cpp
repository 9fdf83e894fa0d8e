#include "app/FerrowickAppDelegate.h"

#include "app/AppConfiguration.h"
#include "app/DriveLayout.h"
#include "app/RootViewController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "promo/PushNewsView.h"

namespace app {

bool isAlertNo = false;
std::shared_ptr<promo::AdViewController> adView;
std::shared_ptr<platform::ImageView> imageV;

void resetLaunchStateForTesting() {
    isAlertNo = false;
    adView.reset();
    imageV.reset();
    promo::isPush = false;
    resetRootScreenStateForTesting();
}

namespace {

constexpr const char* kDisplayNameKey = "CFBundleDisplayName";
constexpr const char* kBundleVersionKey = "CFBundleVersion";
constexpr std::size_t kDescriptionGroupBytes = 4;

std::string infoString(const char* key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    return value ? value->stringOr("") : std::string();
}

// The token's description without "<", ">" and blanks: its bytes as hexadecimal digits.
std::string bareToken(const platform::Data& token) {
    std::string text = FerrowickAppDelegate::dataDescription(token);
    std::string bare;
    for (char c : text)
        if (c != '<' && c != '>' && c != ' ')
            bare += c;
    return bare;
}

} // namespace

std::string FerrowickAppDelegate::dataDescription(const platform::Data& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "<";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0 && i % kDescriptionGroupBytes == 0)
            text += ' ';
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0xF];
    }
    return text + ">";
}

std::string FerrowickAppDelegate::deviceDataPathForToken(const platform::Data& token) {
    const platform::Device& device = platform::Device::current();
    // The query keys in their order, each value percent-encoded on its own.
    const std::pair<const char*, std::string> items[] = {
        {"appName", infoString(kDisplayNameKey)},  {"appVersion", infoString(kBundleVersionKey)},
        {"deviceUDID", device.uniqueIdentifier()}, {"deviceToken", bareToken(token)},
        {"deviceModel", device.model()},           {"deviceOS", device.systemVersion()},
    };
    std::string path(kDeviceDataPath);
    char separator = '?';
    for (const auto& [key, value] : items) {
        path += separator;
        path += key;
        path += '=';
        path += platform::percentEncode(value);
        separator = '&';
    }
    return path;
}

bool FerrowickAppDelegate::applicationDidFinishLaunchingWithOptions(
    platform::Application& application, const platform::Dictionary& launchOptions) {
    if (launchOptions.find(platform::kApplicationLaunchOptionsRemoteNotificationKey) != launchOptions.end())
        promo::isPush = true;

    // Loading the navigation view sets up the root screen.
    window_->addSubview(navigationController_->view());
    window_->makeKeyAndVisible();

    if (promo::isPush) {
        imageV = std::make_shared<platform::ImageView>(platform::Image::named(kLaunchImageName));
        window_->addSubview(imageV);
        window_->bringSubviewToFront(imageV.get());
        auto self = shared_from_this();
        platform::RunLoop::main().performAfter(
            kLaunchImageDelay, [self] { self->push(); }, this, "push");
    } else {
        loadUpgradeSplashPage();
    }

    application.setApplicationIconBadgeNumber(0);
    application.registerForRemoteNotificationTypes(kRemoteNotificationTypes);
    return true;
}

void FerrowickAppDelegate::loadUpgradeSplashPage() {
    popUpView_ = std::make_shared<promo::PopupController>();
    popUpView_->initPopUp();
    popUpView_->setDelegate(weak_from_this());
    popUpView_->setFrame(platform::Screen::main().applicationFrame());
    popUpView_->setCenter(navigationController_->view()->center());
    popUpView_->popUpId(kPopUpApplicationNumber, std::string(kPopUpPublisherCode),
                        std::string(kLaunchImageName), kPopUpOrientationIsLandscape);
    navigationController_->view()->addSubview(popUpView_);
}

void FerrowickAppDelegate::push() {
    if (imageV) {
        platform::View::beginAnimations();
        platform::View::setAnimationDuration(kLaunchImageFadeDuration);
        imageV->setAlpha(0);
        platform::View::commitAnimations();
    }
    isAlertNo = true;
    createBannerHost();
}

void FerrowickAppDelegate::removeSplashPage(const std::shared_ptr<platform::View>& sender,
                                            bool appIsAdEnabled) {
    if (sender) {
        platform::View::beginAnimations(kPopUpFadeAnimation);
        platform::View::setAnimationDuration(kPopUpFadeDuration);
        sender->setAlpha(0);
        platform::View::commitAnimations();
    }
    isAlertNo = true;
    if (appIsAdEnabled)
        createBannerHost();
}

void FerrowickAppDelegate::createBannerHost() {
    if (adView)
        return; // one banner host per run
    adView = std::make_shared<promo::AdViewController>(layout::bannerHostFrame());
    adView->setRootViewController(navigationController_);
    adView->setDelegate(weak_from_this());
    adView->setAutoresizingMask(kBannerHostAutoresizing);
    adView->getAdFromNetwork();
    navigationController_->view()->addSubview(adView);
}

void FerrowickAppDelegate::adViewControllerDidReceiveAd(platform::Size size) {
    if (!adView)
        return;
    double width = navigationController_->view()->bounds().width();
    adView->setFrame(
        platform::Rect((width - size.width) * 0.5, adView->frame().y(), size.width, size.height));
}

void FerrowickAppDelegate::applicationDidRegisterForRemoteNotificationsWithDeviceToken(
    platform::Application&, const platform::Data& token) {
    std::string path = deviceDataPathForToken(token);
    std::string host = platform::servicesHost();
    if (host.empty()) {
        platform::logLine("Register URL: " + path + " (no push service configured; not sent)");
        return;
    }
    auto url = platform::URL::parse("http://" + host + std::string(kPushServicePrefix) + path);
    if (!url) {
        platform::logLine("Register URL: " + path + " (not a valid URL; not sent)");
        return;
    }
    // Fire and forget: the reply and any failure are ignored.
    platform::URLConnection::create(platform::URLRequest(*url), nullptr);
    platform::logLine("Register URL: " + path);
}

void FerrowickAppDelegate::applicationDidReceiveRemoteNotification(platform::Application&,
                                                                   const platform::Dictionary& payload) {
    platform::logLine("User Info : " + platform::Value(payload).toJSON());
    auto& defaults = platform::UserDefaults::standard();
    defaults.removeObjectForKey(kPromoAppLinkKey);
    if (auto link = payload.find(kPayloadAppLinkField); link != payload.end()) {
        // Only a store identifier (text, or a number) is taken from the untrusted payload.
        if (link->second.isString() || (link->second.isNumber() && !link->second.isBool()))
            defaults.setObject(kPromoAppLinkKey, link->second);
    }
    platform::NotificationCenter::defaultCenter().post(kBackgroundPushNotification);
}

} // namespace app
