// The Halo, generic and event adapters, driven through a recording slot, and through the
// real slot where the slot's side matters.
#include <gtest/gtest.h>

#include <stdexcept>

#include "MediationTestSupport.h"
#include "SlotTestSupport.h"
#include "mediation/SwitchboardAdapterEvent.h"
#include "mediation/SwitchboardAdapterGeneric.h"
#include "mediation/SwitchboardAdapterHalo.h"
#include "platform/foundation/ClassTable.h"
#include "platform/foundation/Log.h"
#include "platform/ui/HaloBannerView.h"

namespace {

using mediation::SwitchboardAdapterEvent;
using mediation::SwitchboardAdapterGeneric;
using mediation::SwitchboardAdapterHalo;
using mediation::SwitchboardAdNetworkAdapter;
using mediationtest::Events;
using mediationtest::RecordingSlot;

// The platform's banner as a test stand-in: the test makes it load or fail.
class StandInBanner : public platform::HaloBannerView {
  public:
    bool definesOrientationSizeIdentifiers() const override { return orientationNames; }
    void load() {
        setFrame(platform::Rect(10, 20, 320, 50));
        if (auto d = delegate())
            d->bannerViewDidLoadAd(*this);
    }
    void failToLoad() {
        if (auto d = delegate())
            d->bannerViewDidFailToReceiveAdWithError(*this,
                                                     platform::Error{"HaloErrorDomain", 3, "inventory", {}});
    }
    bool tap(bool leaves) {
        return delegate() ? delegate()->bannerViewActionShouldBegin(*this, leaves) : false;
    }
    void closeAction() {
        if (auto d = delegate())
            d->bannerViewActionDidFinish(*this);
    }
    static inline bool orientationNames = true;
};

// Registers the stand-in banner class for the length of a test.
class BannerClassScope {
  public:
    BannerClassScope() {
        platform::ClassTable::registerClass<platform::HaloBannerView>(
            platform::kHaloBannerViewClassName, [] { return std::make_shared<StandInBanner>(); });
    }
    ~BannerClassScope() {
        platform::ClassTable::unregisterClass(platform::kHaloBannerViewClassName);
        StandInBanner::orientationNames = true;
    }
};

// A host that records what the adapters send it and answers the items a test sets.
class AdapterHost : public mediationtest::MinimalHost {
  public:
    explicit AdapterHost(Events events) : events_(std::move(events)) {}
    bool responds(std::string_view selector) const override {
        return implemented.count(std::string(selector)) > 0 || SwitchboardDelegate::responds(selector);
    }
    std::optional<int> switchboardCurrentOrientation() override { return orientation; }
    void switchboardDidReceiveAd(mediation::SwitchboardView* view) override {
        events_->push_back(view ? "host:didReceiveAd" : "host:didReceiveAd:nil");
    }
    void switchboardReceivedRequestForDeveloperToFufill(mediation::SwitchboardView*) override {
        events_->push_back("host:fill");
    }
    void switchboardWillPresentFullScreenModal() override { events_->push_back("host:willPresent"); }
    void switchboardDidDismissFullScreenModal() override { events_->push_back("host:didDismiss"); }

    std::set<std::string> implemented;
    std::optional<int> orientation;

  private:
    Events events_;
};

class AdaptersTest : public ::testing::Test {
  protected:
    AdaptersTest() {
        platform::Device::resetForTesting();
        mediationtest::registerProgramTypes(registry);
    }
    ~AdaptersTest() override { platform::Device::resetForTesting(); }

    std::shared_ptr<mediation::SwitchboardAdNetworkConfig> entry(int type,
                                                                 std::optional<std::string> key = {}) {
        platform::Dictionary ration{
            {"type", type}, {"nid", "n"}, {"nname", "net"}, {"weight", 1}, {"priority", 1}};
        if (key)
            ration["key"] = *key;
        return mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
    }
    template <typename T> std::shared_ptr<T> make(std::optional<std::string> key = {}) {
        return SwitchboardAdNetworkAdapter::create<T>(host, slot, nullptr, entry(T::networkType(), key));
    }

    fwtest::ManualClockScope clock;
    Events events = mediationtest::makeEvents();
    std::shared_ptr<AdapterHost> host = std::make_shared<AdapterHost>(events);
    std::shared_ptr<RecordingSlot> slot = std::make_shared<RecordingSlot>(events);
    mediation::SwitchboardAdNetworkRegistry registry;
};

// ---- Halo ----

TEST_F(AdaptersTest, HaloRegistersOnlyWhenThePlatformHasTheBannerClass) {
    platform::ClassTable::unregisterClass(platform::kHaloBannerViewClassName);
    EXPECT_FALSE(SwitchboardAdapterHalo::load());
    BannerClassScope banner;
    EXPECT_TRUE(SwitchboardAdapterHalo::load());
    auto wrapper = mediation::SwitchboardAdNetworkRegistry::sharedRegistry().adapterClassFor(19);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->theClass()->name, "mediation::SwitchboardAdapterHalo");
}

TEST(AdapterRegistration, GenericAndEventAreRegisteredWhenTheProgramLoads) {
    auto& shared = mediation::SwitchboardAdNetworkRegistry::sharedRegistry();
    for (auto [type, name] : std::vector<std::pair<int, std::string>>{
             {16, "mediation::SwitchboardAdapterGeneric"}, {17, "mediation::SwitchboardAdapterEvent"}}) {
        auto wrapper = shared.adapterClassFor(type);
        ASSERT_NE(wrapper, nullptr) << type;
        EXPECT_EQ(wrapper->theClass()->name, name);
    }
}

TEST_F(AdaptersTest, HaloSizesFollowDeviceAndOrientation) {
    BannerClassScope bannerClass;
    using namespace platform;
    struct Case {
        DeviceProfile device;
        std::optional<int> hostOrientation;
        DeviceOrientation deviceOrientation;
        bool orientationNames;
        std::set<std::string> required;
        std::string current;
    };
    const std::string P = kHaloBannerContentSizeIdentifierPortrait,
                      L = kHaloBannerContentSizeIdentifierLandscape;
    const std::string P50 = kHaloBannerContentSizeIdentifier320x50,
                      L32 = kHaloBannerContentSizeIdentifier480x32;
    const std::vector<Case> cases = {
        {DeviceProfile::Phone, std::nullopt, DeviceOrientation::LandscapeLeft, true, {P}, P},
        {DeviceProfile::Phone, 4, DeviceOrientation::Portrait, true, {P}, P},
        {DeviceProfile::Tablet, std::nullopt, DeviceOrientation::Portrait, true, {P, L}, P},
        {DeviceProfile::Tablet, std::nullopt, DeviceOrientation::LandscapeRight, true, {P, L}, L},
        {DeviceProfile::Tablet, 3, DeviceOrientation::Portrait, true, {P, L}, L},
        {DeviceProfile::Tablet, 1, DeviceOrientation::LandscapeLeft, true, {P, L}, P},
        {DeviceProfile::Tablet, 4, DeviceOrientation::Portrait, false, {P50, L32}, L32},
        {DeviceProfile::Phone, std::nullopt, DeviceOrientation::Portrait, false, {P50}, P50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "tablet " << (c.device == DeviceProfile::Tablet) << " host "
                     << c.hostOrientation.value_or(-1) << " names " << c.orientationNames);
        Device::setProfile(c.device);
        Device::current().setOrientation(c.deviceOrientation);
        StandInBanner::orientationNames = c.orientationNames;
        host->implemented.clear();
        host->orientation = c.hostOrientation;
        if (c.hostOrientation)
            host->implemented.insert("switchboardCurrentOrientation");
        auto adapter = make<SwitchboardAdapterHalo>();
        adapter->getAd();
        auto banner = std::dynamic_pointer_cast<StandInBanner>(adapter->adNetworkView());
        ASSERT_NE(banner, nullptr);
        EXPECT_EQ(banner->frame(), Rect());
        EXPECT_EQ(banner->requiredContentSizeIdentifiers(), c.required);
        EXPECT_EQ(banner->currentContentSizeIdentifier(), c.current);
        EXPECT_EQ(banner->delegate().get(), static_cast<HaloBannerViewDelegate*>(adapter.get()));
        Device::resetForTesting();
    }
    EXPECT_TRUE(events->empty()); // nothing is reported before the banner calls back
}

TEST_F(AdaptersTest, HaloBannerCallbacksReachTheSlot) {
    BannerClassScope bannerClass;
    host->implemented = {"switchboardWillPresentFullScreenModal", "switchboardDidDismissFullScreenModal"};
    auto adapter = make<SwitchboardAdapterHalo>();
    adapter->getAd();
    auto banner = std::dynamic_pointer_cast<StandInBanner>(adapter->adNetworkView());
    ASSERT_NE(banner, nullptr);
    banner->load();
    EXPECT_EQ(banner->frame(), platform::Rect(0, 0, 320, 50)); // origin moved, size kept
    EXPECT_TRUE(banner->tap(true));
    banner->closeAction();
    banner->failToLoad();
    EXPECT_EQ(*events,
              (std::vector<std::string>{"slot:didReceiveAdView", "slot:modal=YES", "host:willPresent",
                                        "host:didDismiss", "slot:modal=NO", "slot:didFailAd"}));

    // A banner that is not the adapter's own is not listened to.
    events->clear();
    StandInBanner stranger;
    adapter->bannerViewDidLoadAd(stranger);
    adapter->bannerViewDidFailToReceiveAdWithError(stranger, platform::Error{});
    EXPECT_TRUE(events->empty());

    // Detached (twice is harmless): the banner no longer reaches the adapter.
    adapter->stopBeingDelegate();
    adapter->stopBeingDelegate();
    EXPECT_EQ(banner->delegate(), nullptr);
    banner->load();
    EXPECT_TRUE(events->empty());
}

TEST_F(AdaptersTest, HaloFailsWhenTheBannerCannotBeMade) {
    platform::ClassTable::unregisterClass(platform::kHaloBannerViewClassName);
    auto adapter = make<SwitchboardAdapterHalo>();
    adapter->getAd();
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});
    adapter->stopBeingDelegate(); // no banner: nothing to detach
}

TEST_F(AdaptersTest, HaloRefusesOnlyTheFade) {
    auto adapter = make<SwitchboardAdapterHalo>();
    for (int type = 1; type <= 8; ++type)
        EXPECT_EQ(adapter->isBannerAnimationOK(type), type != 7) << type;
}

TEST_F(AdaptersTest, HaloRotationResizesTheBanner) {
    BannerClassScope bannerClass;
    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    host->implemented = {"switchboardDidReceiveAd:"};
    auto adapter = make<SwitchboardAdapterHalo>();
    adapter->rotateToOrientation(3); // no banner yet: nothing
    EXPECT_TRUE(events->empty());
    adapter->getAd();
    auto banner = std::dynamic_pointer_cast<StandInBanner>(adapter->adNetworkView());
    banner->setFrame(platform::Rect(5, 5, 320, 50));
    platform::LogCapture capture;
    adapter->rotateToOrientation(4);
    EXPECT_EQ(banner->currentContentSizeIdentifier(), platform::kHaloBannerContentSizeIdentifierLandscape);
    EXPECT_EQ(banner->frame().origin, (platform::Point{0, 0}));
    EXPECT_EQ(*events, std::vector<std::string>{"host:didReceiveAd:nil"});
    EXPECT_TRUE(capture.contains("yes responed"));
    adapter->rotateToOrientation(1);
    EXPECT_EQ(banner->currentContentSizeIdentifier(), platform::kHaloBannerContentSizeIdentifierPortrait);
}

// ---- Generic ----

TEST_F(AdaptersTest, GenericHandsTheSlotToTheHost) {
    host->implemented = {"switchboardReceivedRequestForDeveloperToFufill:"};
    auto adapter = make<SwitchboardAdapterGeneric>();
    adapter->getAd();
    EXPECT_EQ(*events, (std::vector<std::string>{"host:fill", "slot:didFinishAdRequest"}));

    events->clear();
    host->implemented.clear();
    platform::LogCapture capture;
    auto without = make<SwitchboardAdapterGeneric>();
    without->getAd();
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});
    EXPECT_TRUE(
        capture.contains("Delegate does not implement switchboardReceivedRequestForDeveloperToFufill"));
    without->stopBeingDelegate();
    without->stopBeingDelegate();
}

// ---- Event ----

TEST_F(AdaptersTest, EventCallsOnlyRegisteredHostActions) {
    struct Case {
        const char* name;
        std::optional<std::string> key;
        std::vector<std::string> actions; // registered on the host
        bool hostClaimsWithoutAction;     // the host answers responds() for the name itself
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"plain action", "house|;|showAd", {"showAd"}, false, {"action:showAd", "slot:didFinishAdRequest"}},
        {"action with the slot",
         "house|;|showAd",
         {"showAd:"},
         false,
         {"action:showAd:", "slot:didFinishAdRequest"}},
        {"both: the plain one",
         "house|;|showAd",
         {"showAd", "showAd:"},
         false,
         {"action:showAd", "slot:didFinishAdRequest"}},
        {"only the first separator counts",
         "a|;|b|;|c",
         {"b|;|c"},
         false,
         {"action:b|;|c", "slot:didFinishAdRequest"}},
        {"unknown name", "house|;|missing", {"showAd"}, false, {"slot:didFailAd"}},
        {"claimed but not in the table", "house|;|showAd", {}, true, {"slot:didFailAd"}},
        {"no separator", "showAd", {"showAd"}, false, {"slot:didFailAd"}},
        {"empty name", "house|;|", {""}, false, {"slot:didFailAd"}},
        {"no key", std::nullopt, {"showAd"}, false, {"slot:didFailAd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events->clear();
        auto caseHost = std::make_shared<AdapterHost>(events);
        if (c.hostClaimsWithoutAction)
            caseHost->implemented = {"showAd", "showAd:"};
        for (const auto& name : c.actions)
            caseHost->setEventAction(
                name, [this, name](mediation::SwitchboardView*) { events->push_back("action:" + name); });
        auto adapter = SwitchboardAdNetworkAdapter::create<SwitchboardAdapterEvent>(caseHost, slot, nullptr,
                                                                                    entry(17, c.key));
        adapter->getAd();
        EXPECT_EQ(*events, c.expected);
    }
}

TEST_F(AdaptersTest, EventActionThatThrowsFailsTheRequest) {
    host->setEventAction("explode", [](mediation::SwitchboardView*) { throw std::runtime_error("boom"); });
    auto adapter = make<SwitchboardAdapterEvent>("x|;|explode");
    adapter->getAd();
    EXPECT_EQ(*events, std::vector<std::string>{"slot:didFailAd"});
}

TEST_F(AdaptersTest, EventKeyParsing) {
    struct Case {
        const char* key;
        std::optional<std::string> method;
    };
    for (const auto& c : {Case{"label|;|go", "go"}, Case{"|;|go", "go"}, Case{"label|;|", std::nullopt},
                          Case{"label", std::nullopt}, Case{"label|go", std::nullopt}}) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(SwitchboardAdapterEvent::methodNameFromKey(c.key), c.method);
    }
}

// ---- Through the real slot ----

class AdaptersInSlotTest : public slottest::SlotTest {
  protected:
    std::shared_ptr<mediation::SwitchboardAdNetworkConfig> entry19() {
        registry.registerClass(mediation::switchboardAdapterClass<SwitchboardAdapterHalo>());
        platform::Dictionary ration{
            {"type", 19}, {"nid", "halo"}, {"nname", "halo"}, {"weight", 1}, {"priority", 1}};
        return mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
    }
};

TEST_F(AdaptersInSlotTest, EventAndGenericRationsCountAsCompletedRequests) {
    registry.registerClass(mediation::switchboardAdapterClass<SwitchboardAdapterEvent>());
    registry.registerClass(mediation::switchboardAdapterClass<SwitchboardAdapterGeneric>());
    auto host = std::make_shared<slottest::RecordingHost>("host-fills-app");
    host->implemented.insert("switchboardReceivedRequestForDeveloperToFufill:");
    mediation::SwitchboardView* slotSeen = nullptr;
    host->setEventAction("showHouseAd:", [&](mediation::SwitchboardView* s) { slotSeen = s; });
    auto view = mediation::SwitchboardView::requestSwitchboardViewWithDelegate(host);
    useRegistry(view->config());
    view->setTestDarts(std::vector<double>{10}); // the event ration (priority 1, weight 50)
    ASSERT_TRUE(waitFor([&] { return services.requestCount(services::kMediationImpressionPath) == 1; }));
    EXPECT_EQ(slotSeen, view.get());
    EXPECT_FALSE(view->isRequesting());
    EXPECT_FALSE(view->adExists()); // nothing new is shown
    auto ping = services.requestsTo(services::kMediationImpressionPath)[0];
    EXPECT_EQ(ping.queryValue("nid"), "event-17");
    EXPECT_EQ(ping.queryValue("type"), "17");
    EXPECT_EQ(view->refreshTimer(), nullptr); // refresh 0: one cycle only
}

TEST_F(AdaptersInSlotTest, HaloCurrentRefusesTheFadeSoAnotherTransitionIsUsed) {
    BannerClassScope bannerClass;
    auto host = std::make_shared<slottest::RecordingHost>("cycle-app");
    auto config = mediation::SwitchboardConfig::create("local", nullptr);
    ASSERT_TRUE(config->parseConfig("{\"extra\":{\"transition\":7},\"rations\":[]}", nullptr));
    auto view = mediation::SwitchboardView::create(host);
    view->setConfig(config);
    view->setRandomSource([] { return 0u; }); // draws type 1, flip from the left
    auto halo = SwitchboardAdNetworkAdapter::create<SwitchboardAdapterHalo>(host, view, config, entry19());
    view->setCurrAdapter(halo);
    view->replaceBannerViewWith(std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50)));
    view->replaceBannerViewWith(std::make_shared<platform::View>(platform::Rect(0, 0, 320, 50)));
    auto records =
        platform::AnimationLog::shared().recordsNamed(mediation::SwitchboardView::kTransitionAnimationID);
    ASSERT_FALSE(records.empty());
    for (const auto& r : records)
        EXPECT_NE(r.property, "alpha");
    EXPECT_EQ(records[0].transitionType, "flipFromLeft");
}

} // namespace
