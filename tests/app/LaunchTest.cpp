// Start-up, the banner host, the device-token upload and push payloads.
#include "AppFixture.h"

#include "platform/foundation/Strings.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Screen.h"
#include "promo/PushNewsView.h"
#include "support/LoopbackServices.h"

namespace apptest {
namespace {

using app::adView;
using app::isAlertNo;

class Launch : public AppTest {};

TEST_F(Launch, ByPushShowsTheLaunchImageForOneSecondThenFadesItAndMakesTheBannerHost) {
    platform::Application::shared().setApplicationIconBadgeNumber(5);
    auto delegate = launchByPush();

    EXPECT_TRUE(promo::isPush);
    EXPECT_EQ(delegate->popUpView(), nullptr) << "no launch pop-up on a launch by push";
    ASSERT_NE(app::imageV, nullptr);
    ASSERT_NE(app::imageV->image(), nullptr);
    EXPECT_EQ(app::imageV->image()->name(), "Default.png");
    EXPECT_EQ(delegate->window()->subviews().back(), app::imageV) << "the launch image covers everything";
    EXPECT_EQ(app::imageV->frame(), platform::Rect(0, 0, 320, 480));
    EXPECT_EQ(platform::Application::shared().applicationIconBadgeNumber(), 0);
    EXPECT_EQ(platform::Application::shared().enabledRemoteNotificationTypes(), 7u);

    clock_.advance(0.99);
    EXPECT_FALSE(isAlertNo);
    EXPECT_EQ(adView, nullptr);
    EXPECT_DOUBLE_EQ(app::imageV->alpha(), 1.0);

    clock_.advance(0.02);
    EXPECT_TRUE(isAlertNo);
    EXPECT_DOUBLE_EQ(app::imageV->alpha(), 0.0);
    auto fades = animations("", *app::imageV, "alpha");
    ASSERT_EQ(fades.size(), 1u);
    EXPECT_DOUBLE_EQ(fades[0].duration, 1.0);
    EXPECT_EQ(app::imageV->superview(), delegate->window()) << "the faded image stays in the window";

    ASSERT_NE(adView, nullptr);
    EXPECT_EQ(adView->frame(), platform::Rect(0, 383, 320, 53));
    EXPECT_EQ(adView->superview(), navigation()->view());
    EXPECT_EQ(adView->autoresizingMask(), 5u);
    EXPECT_EQ(adView->rootViewController(), navigation());
    EXPECT_EQ(adView->delegate(), delegate);
}

TEST_F(Launch, NormalLaunchStartsThePopUpOverTheRootScreen) {
    platform::Application::shared().setApplicationIconBadgeNumber(3);
    auto delegate = launch();

    EXPECT_FALSE(promo::isPush);
    EXPECT_EQ(app::imageV, nullptr);
    auto popUp = delegate->popUpView();
    ASSERT_NE(popUp, nullptr);
    EXPECT_EQ(popUp->superview(), navigation()->view());
    EXPECT_EQ(navigation()->view()->subviews().back(), popUp) << "on top of the root screen";
    EXPECT_EQ(popUp->appId(), 270);
    EXPECT_EQ(popUp->companyName(), "QZ");
    EXPECT_FALSE(popUp->orientation());
    EXPECT_EQ(popUp->frame().size, platform::Screen::main().applicationFrame().size);
    EXPECT_EQ(popUp->center(), navigation()->view()->center());
    EXPECT_EQ(platform::Application::shared().applicationIconBadgeNumber(), 0);
    EXPECT_EQ(platform::Application::shared().enabledRemoteNotificationTypes(), 7u);
    EXPECT_FALSE(isAlertNo);

    // The pop-up (with no promotion service yet) calls back with ads off.
    clock_.drain();
    EXPECT_TRUE(isAlertNo);
    EXPECT_EQ(adView, nullptr);
    EXPECT_DOUBLE_EQ(popUp->alpha(), 0.0);
    auto fades = animations("removeAlertView", *popUp, "alpha");
    ASSERT_EQ(fades.size(), 1u);
    EXPECT_DOUBLE_EQ(fades[0].duration, 0.5);
}

TEST_F(Launch, PopUpCallBacksMakeAtMostOneBannerHost) {
    struct Case {
        std::vector<bool> flags;
        bool bannerHost;
    };
    const Case cases[] = {
        {{false}, false},
        {{false, true}, true},
        {{true, true}, true},
        {{true, false}, true},
    };
    for (const auto& c : cases) {
        resetEverything();
        auto delegate = launch();
        clock_.drain();
        std::shared_ptr<promo::AdViewController> first;
        for (bool flag : c.flags) {
            delegate->removeSplashPage(delegate->popUpView(), flag);
            EXPECT_TRUE(isAlertNo);
            EXPECT_DOUBLE_EQ(delegate->popUpView()->alpha(), 0.0);
            if (!first)
                first = adView;
        }
        EXPECT_EQ(adView != nullptr, c.bannerHost);
        EXPECT_EQ(adView, first) << "a second call with YES makes no second banner host";
        int hosts = 0;
        for (const auto& v : navigation()->view()->subviews())
            hosts += std::dynamic_pointer_cast<promo::AdViewController>(v) != nullptr;
        EXPECT_EQ(hosts, c.bannerHost ? 1 : 0);
    }
}

TEST_F(Launch, BannerHostIsCentredAtEachNewAdSize) {
    auto delegate = launch();
    clock_.drain();
    makeBannerHost();
    ASSERT_NE(adView, nullptr);
    ASSERT_DOUBLE_EQ(navigation()->view()->bounds().width(), 320);
    struct Case {
        platform::Size ad;
        platform::Rect frame;
    };
    const Case cases[] = {
        {{300, 250}, {10, 383, 300, 250}},
        {{320, 50}, {0, 383, 320, 50}},
        {{468, 60}, {-74, 383, 468, 60}},
    };
    for (const auto& c : cases) {
        delegate->adViewControllerDidReceiveAd(c.ad);
        EXPECT_EQ(adView->frame(), c.frame) << platform::toString(c.ad);
    }
}

TEST_F(Launch, DeviceTokenReachesThePushServiceAsBareHexWithEncodedValues) {
    fwtest::LoopbackServices services;
    platform::Bundle::main().setInfoDictionaryValue("CFBundleDisplayName", "Ferro Wick");
    platform::Bundle::main().setInfoDictionaryValue("CFBundleVersion", "1.0 beta&2");
    launch();
    const std::string path = "/pushNotification/commonPhp/getDevicedata.php";
    ASSERT_TRUE(clock_.runUntil([&] { return services.requestCount(path) == 1; }));

    auto request = services.requestsTo(path).front();
    auto token = platform::Application::persistentDeviceToken();
    ASSERT_TRUE(token);
    std::string hex = platform::hexString(std::string(token->begin(), token->end()));
    ASSERT_EQ(hex.size(), 64u);
    const auto& device = platform::Device::current();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.rawQuery, "appName=Ferro%20Wick&appVersion=1.0%20beta%262&deviceUDID=" +
                                    device.uniqueIdentifier() + "&deviceToken=" + hex +
                                    "&deviceModel=" + device.model() + "&deviceOS=" + device.systemVersion());
    EXPECT_EQ(request.queryValue("appVersion"), "1.0 beta&2");
    EXPECT_EQ(request.queryValue("deviceToken"), hex);

    // One upload per registration.
    platform::Application::shared().registerForRemoteNotificationTypes(7);
    ASSERT_TRUE(clock_.runUntil([&] { return services.requestCount(path) == 2; }));
}

TEST(DeviceToken, DescriptionGroupsFourBytesAndTheUploadStripsIt) {
    struct Case {
        platform::Data bytes;
        const char* description;
    };
    const Case cases[] = {
        {{}, "<>"},
        {{0x0a}, "<0a>"},
        {{0x0a, 0x1b, 0x2c, 0x3d}, "<0a1b2c3d>"},
        {{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0xff}, "<0a1b2c3d 4eff>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::FerrowickAppDelegate::dataDescription(c.bytes), c.description);
    auto path = app::FerrowickAppDelegate::deviceDataPathForToken({0xde, 0xad, 0xbe, 0xef, 0x01});
    EXPECT_NE(path.find("&deviceToken=deadbeef01&"), std::string::npos) << path;
    EXPECT_EQ(path.rfind("/commonPhp/getDevicedata.php?appName=", 0), 0u) << path;
}

TEST_F(Launch, PushWhileRunningStoresTheAppLinkAndAnnouncesIt) {
    launch();
    clock_.drain();
    int posted = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "backgroundPush", [&](const platform::Notification&) { ++posted; });

    platform::Dictionary payload;
    payload["applink"] = "588123456";
    payload["aps"] = platform::Dictionary{{"alert", "News!"}};
    platform::Application::shared().deliverRemoteNotification(payload);
    EXPECT_EQ(defaults().stringForKey("promoAppLink"), "588123456");
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(promo::isPush) << "the root screen opened the news panel, which waits for its image";

    // A payload without the field leaves the key removed.
    platform::Application::shared().deliverRemoteNotification(
        platform::Dictionary{{"aps", platform::Dictionary{}}});
    EXPECT_FALSE(defaults().objectForKey("promoAppLink"));
    EXPECT_EQ(posted, 2);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(Launch, PushAtLaunchOnlySetsTheFlag) {
    launchByPush(platform::Dictionary{{"applink", "588123456"}});
    EXPECT_TRUE(promo::isPush);
    EXPECT_FALSE(defaults().objectForKey("promoAppLink"));
}

} // namespace
} // namespace apptest
