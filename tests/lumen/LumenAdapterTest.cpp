// The Lumen mediation adapter driven through a recording slot, with the banner talking real
// HTTP to the loopback Lumen service: one outcome per request, the request as the service
// receives it, the modal begin and end of a full-screen screen, detaching, and registration.
#include <gtest/gtest.h>

#include "LumenTestSupport.h"
#include "lumen/Screens.h"
#include "lumen/SwitchboardAdapterLumen.h"
#include "mediation/MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardConfig.h"
#include "platform/location/LocationManager.h"

using lumen::SwitchboardAdapterLumen;
using lumentest::countOf;

namespace {

class LumenHost : public mediationtest::MinimalHost {
public:
    LumenHost(lumentest::Events events, std::shared_ptr<platform::ViewController> root)
        : events_(std::move(events)), root_(std::move(root)) {}
    bool responds(std::string_view selector) const override {
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() override {
        return root_;
    }
    std::optional<std::string> lumenPublisherID() override { return publisher; }
    std::optional<bool> switchboardTestMode() override { return testMode; }
    std::optional<platform::Color> switchboardAdBackgroundColor() override { return background; }
    std::optional<platform::Color> switchboardTextColor() override { return text; }
    std::optional<platform::Location> locationInfo() override { return location; }
    std::optional<std::string> gender() override { return genderAnswer; }
    std::optional<platform::Value> keywords() override { return keywordsAnswer; }
    void switchboardWillPresentFullScreenModal() override { events_->push_back("host:willPresent"); }
    void switchboardDidDismissFullScreenModal() override { events_->push_back("host:didDismiss"); }

    std::set<std::string> implemented;
    std::optional<std::string> publisher;
    std::optional<bool> testMode;
    std::optional<platform::Color> background, text;
    std::optional<platform::Location> location;
    std::optional<std::string> genderAnswer;
    std::optional<platform::Value> keywordsAnswer;

private:
    lumentest::Events events_;
    std::shared_ptr<platform::ViewController> root_;
};

} // namespace

class LumenAdapterTest : public lumentest::LumenFixture {
protected:
    LumenAdapterTest() { mediationtest::registerProgramTypes(registry); }

    std::shared_ptr<SwitchboardAdapterLumen> makeAdapter(std::optional<std::string> pubid = "pub one") {
        platform::Dictionary ration{
            {"type", 1}, {"nid", "n1"}, {"nname", "lumen"}, {"weight", 1}, {"priority", 1}};
        if (pubid)
            ration["key"] = *pubid;
        auto entry =
            mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
        return mediation::SwitchboardAdNetworkAdapter::create<SwitchboardAdapterLumen>(host, slot, config,
                                                                                       entry);
    }
    std::size_t outcomes() const {
        return countOf(*events, "slot:didReceiveAdView") + countOf(*events, "slot:didFailAd");
    }

    mediation::SwitchboardAdNetworkRegistry registry;
    // A configuration with the location switch as given.
    static std::shared_ptr<mediation::SwitchboardConfig> makeConfig(bool locationOn) {
        auto c = mediation::SwitchboardConfig::create("app-key", nullptr);
        std::string json =
            std::string("{\"extra\":{\"location_on\":") + (locationOn ? "1" : "0") + "},\"rations\":[]}";
        EXPECT_TRUE(c->parseConfig(json, nullptr));
        return c;
    }

    std::shared_ptr<mediation::SwitchboardConfig> config = makeConfig(true);
    std::shared_ptr<LumenHost> host = std::make_shared<LumenHost>(events, rootController);
    std::shared_ptr<mediationtest::RecordingSlot> slot =
        std::make_shared<mediationtest::RecordingSlot>(events);
};

TEST_F(LumenAdapterTest, OneSuccessWithTheRequestAsTheServiceReceivesIt) {
    host->implemented = {
        "switchboardTestMode", "switchboardAdBackgroundColor", "switchboardTextColor", "gender", "keywords",
        "locationInfo"};
    host->testMode = true;
    host->background = platform::Color::whiteColor();
    host->text = platform::Color::rgba(1, 0.5, 0);
    host->genderAnswer = "m";
    host->keywordsAnswer = platform::Value(platform::Array{"news", "sport"});
    host->location = platform::Location({48.85, 2.35}, 0, 10, 10, platform::Date{1700000000});
    auto adapter = makeAdapter();
    adapter->getAd();
    ASSERT_NE(adapter->banner(), nullptr);
    EXPECT_EQ(adapter->banner()->frame().size.width, 320);
    EXPECT_EQ(adapter->banner()->frame().size.height, 50);
    ASSERT_TRUE(waitFor([&] { return outcomes() > 0; }));
    clock.drain();
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didReceiveAdView"});
    auto sent = services.requestsTo(services::kLumenAdPath).at(0);
    EXPECT_EQ(sent.queryValue("slotname"), "pub one") << "the network entry's pubId";
    EXPECT_EQ(sent.queryValue("cust_gender"), "m");
    EXPECT_EQ(sent.queryValue("kw"), "news,sport");
    EXPECT_TRUE(sent.queryValue("ulcn").value_or("").starts_with("e1+"));
    auto extras = platform::Value::fromJSON(sent.queryValue("extras").value_or(""));
    ASSERT_TRUE(extras);
    EXPECT_EQ(extras->find("adtest")->stringOr(""), "on");
    EXPECT_EQ(extras->find("color_bg")->stringOr(""), "FFFFFF");
    EXPECT_EQ(extras->find("color_text")->stringOr(""), "FF7F00");
}

TEST_F(LumenAdapterTest, PublisherIdLocationAndSizeFollowTheHostAndDevice) {
    host->implemented = {"lumenPublisherID", "locationInfo"};
    host->publisher = "host-slot";
    host->location = platform::Location({48.85, 2.35}, 0, 10, 10, platform::Date{1700000000});
    config = makeConfig(false);
    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    auto adapter = makeAdapter();
    EXPECT_EQ(adapter->publisherId(), "host-slot");
    adapter->getAd();
    EXPECT_EQ(adapter->banner()->frame().size.width, 728);
    EXPECT_EQ(adapter->banner()->frame().size.height, 90);
    ASSERT_TRUE(waitFor([&] { return outcomes() > 0; }));
    auto sent = services.requestsTo(services::kLumenAdPath).at(0);
    EXPECT_EQ(sent.queryValue("slotname"), "host-slot");
    EXPECT_FALSE(sent.queryValue("ulcn")) << "the configuration does not allow a location";
    EXPECT_FALSE(sent.queryValue("extras"));
    platform::Device::setProfile(platform::DeviceProfile::Phone);
}

TEST_F(LumenAdapterTest, FailuresReachTheSlotOnce) {
    auto adapter = makeAdapter("noserve");
    adapter->getAd();
    ASSERT_TRUE(waitFor([&] { return outcomes() > 0; }));
    clock.advance(60);
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});

    events->clear();
    auto noRoot = std::make_shared<LumenHost>(events, nullptr);
    host = noRoot;
    auto orphan = makeAdapter();
    orphan->getAd();
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"}) << "no root view controller: at once";
}

TEST_F(LumenAdapterTest, ARefreshThatFailsReachesTheSlotLikeARefreshedAd) {
    auto adapter = makeAdapter();
    adapter->getAd();
    ASSERT_TRUE(waitFor([&] { return outcomes() == 1; }));
    clock.drain();
    // The banner's own refreshes, every 30 s: a new ad, then a failure.
    clock.advance(30);
    ASSERT_TRUE(waitFor([&] { return outcomes() == 2; }));
    services.setFault(std::string(services::kLumenAdPath), services::Fault::errorStatus(500));
    clock.advance(30);
    ASSERT_TRUE(waitFor([&] { return outcomes() == 3; }));
    EXPECT_EQ(*events,
              (std::vector<std::string>{"slot:didReceiveAdView", "slot:didReceiveAdView", "slot:didFailAd"}));
}

TEST_F(LumenAdapterTest, FullScreenScreenMarksTheSlotModalUntilItCloses) {
    host->implemented = {"switchboardWillPresentFullScreenModal", "switchboardDidDismissFullScreenModal"};
    auto adapter = makeAdapter();
    adapter->getAd();
    ASSERT_TRUE(waitFor([&] { return outcomes() > 0; }));
    ASSERT_TRUE(adapter->banner()->webView()->clickLinkWithId("ad-link"));
    ASSERT_TRUE(waitFor([&] { return countOf(*events, "slot:modal=YES") > 0; }));
    EXPECT_TRUE(slot->showingModalView());
    clock.advance(1);
    auto browser =
        std::dynamic_pointer_cast<lumen::LMNBrowserController>(rootController->presentedViewController());
    ASSERT_NE(browser, nullptr);
    browser->relinquishScreen();
    clock.advance(1);
    EXPECT_FALSE(slot->showingModalView());
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:didReceiveAdView", "slot:modal=YES",
                                                 "host:willPresent", "host:didDismiss", "slot:modal=NO"}));
}

TEST_F(LumenAdapterTest, StopBeingDelegateDetachesTheBanner) {
    auto adapter = makeAdapter();
    adapter->getAd();
    adapter->stopBeingDelegate();
    adapter->stopBeingDelegate();
    EXPECT_EQ(adapter->banner()->delegate(), nullptr);
    clock.advance(1);
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kLumenCreativePath) == 1; }));
    ASSERT_TRUE(waitFor(
        [&] { return adapter->banner()->privateObject().state() == lumen::LMNObjectPrivate::kShown; }));
    EXPECT_EQ(outcomes(), 0u);
    adapter->setAdNetworkView(nullptr);
    adapter->stopBeingDelegate();
}

TEST(LumenAdapterRegistration, RegisteredForType1WhenTheProgramLoads) {
    auto wrapper = mediation::SwitchboardAdNetworkRegistry::sharedRegistry().adapterClassFor(1);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->theClass()->name, "lumen::SwitchboardAdapterLumen");
    EXPECT_EQ(SwitchboardAdapterLumen::hexStringFromUIColor(platform::Color::white(0.5)), "7F7F7F");
}
