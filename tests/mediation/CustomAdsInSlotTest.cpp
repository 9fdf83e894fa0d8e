// A custom ad through the real slot: shown, tapped, the slot held while its browser is up,
// and no impression or click ping to the mediation metrics service.
#include <gtest/gtest.h>

#include "SlotTestSupport.h"
#include "mediation/SwitchboardAdapterCustom.h"
#include "mediation/SwitchboardCustomAdView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "services/CustomAdEndpoints.h"

namespace {

using slottest::RecordingHost;

// A recording host that presents the in-app browser from a shown window.
class PresentingHost : public RecordingHost {
public:
    using RecordingHost::RecordingHost;
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override {
        return presenter;
    }
    std::shared_ptr<platform::ViewController> presenter;
};

class CustomAdsInSlotTest : public slottest::SlotTest {
protected:
    CustomAdsInSlotTest() {
        services::installCustomAdEndpoints(services.host());
        registry.registerClass(mediation::switchboardAdapterClass<mediation::SwitchboardAdapterCustom>());
        window->makeKeyAndVisible();
        window->setRootViewController(root);
    }
    ~CustomAdsInSlotTest() override { platform::Application::resetForTesting(); }

    std::shared_ptr<platform::Window> window =
        std::make_shared<platform::Window>(platform::Screen::main().bounds());
    std::shared_ptr<platform::ViewController> root = std::make_shared<platform::ViewController>();
};

TEST_F(CustomAdsInSlotTest, CustomAdIsShownTappedAndNeverPinged) {
    auto host = std::make_shared<PresentingHost>("custom-ads-app");
    host->presenter = root;
    host->implemented.insert("switchboardWillPresentFullScreenModal");
    auto view = startSlot(host);
    ASSERT_TRUE(waitFor([&] { return view->adExists(); }));
    auto adapter = std::dynamic_pointer_cast<mediation::SwitchboardAdapterCustom>(view->currAdapter());
    ASSERT_NE(adapter, nullptr);
    EXPECT_EQ(services.requestCount("/switchboard/custom/images/banner.png"), 1u);

    // A touch on the slot and a tap on the ad: the ad's own click ping, the browser, the hold.
    auto touch = slottest::touchEvent();
    EXPECT_TRUE(view->pointInside({10, 10}, &touch));
    adapter->adView()->buttonTapUp();
    EXPECT_TRUE(view->showingModalView());
    ASSERT_TRUE(waitFor([&] { return services.requestCount("/switchboard/customclick.php") == 1; }));
    view->requestFreshAd();
    EXPECT_EQ(view->lastError()->code, mediation::kSBErrorModalViewActive);

    ASSERT_NE(adapter->webBrowserController(), nullptr);
    clock.advance(platform::kModalTransitionDuration + 0.1);
    adapter->webBrowserController()->closeButton()->press();
    clock.advance(platform::kModalTransitionDuration + 0.1);
    EXPECT_FALSE(view->showingModalView());
    EXPECT_EQ(adapter->webBrowserController(), nullptr);

    clock.drain();
    EXPECT_EQ(services.requestCount(services::kMediationImpressionPath), 0u);
    EXPECT_EQ(services.requestCount(services::kMediationClickPath), 0u);
}

} // namespace
