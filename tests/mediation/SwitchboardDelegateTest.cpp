#include <gtest/gtest.h>

#include <set>
#include <string>

#include "MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardDelegate.h"

using namespace mediation;

namespace {

TEST(SwitchboardDelegateProtocol, SeventyFourItemsTwoRequired) {
    std::set<std::string_view> names;
    std::vector<std::string_view> required;
    for (const auto& s : kSwitchboardDelegateSelectors) {
        names.insert(s.selector);
        if (s.required)
            required.push_back(s.selector);
    }
    EXPECT_EQ(names.size(), 74u); // no name twice
    EXPECT_EQ(required, (std::vector<std::string_view>{"switchboardApplicationKey",
                                                       "viewControllerForPresentingModalView"}));
    // Declaration order: spot checks along the table.
    EXPECT_EQ(kSwitchboardDelegateSelectors[8].selector, "switchboardDidFailToReceiveAd:usingBackup:");
    EXPECT_EQ(kSwitchboardDelegateSelectors[37].selector, "dateOfBirth");
    EXPECT_EQ(kSwitchboardDelegateSelectors[54].selector, "lumenSyndicationCompanyName");
    EXPECT_EQ(kSwitchboardDelegateSelectors[68].selector, "lumenSyndicationAllowAdsafeMedium");
    EXPECT_EQ(kSwitchboardDelegateSelectors[73].selector, "monsoonContextParameters");
    EXPECT_TRUE(isSwitchboardDelegateSelector("switchboardReceivedRequestForDeveloperToFufill:"));
    EXPECT_FALSE(isSwitchboardDelegateSelector("switchboardDidFailToReceiveAd"));
}

TEST(SwitchboardDelegateProtocol, HostWithOnlyTheRequiredItems) {
    auto host = std::make_shared<mediationtest::MinimalHost>();
    for (const auto& s : kSwitchboardDelegateSelectors)
        EXPECT_EQ(host->responds(s.selector), s.required) << s.selector;
    EXPECT_EQ(host->switchboardApplicationKey(), "minimal-key");

    // Every optional query answers nothing; every callback is harmless.
    SwitchboardDelegate& d = *host;
    EXPECT_FALSE(d.switchboardConfigURL() || d.switchboardImpMetricURL() || d.switchboardClickMetricURL() ||
                 d.switchboardCustomAdURL() || d.lumenPublisherID() || d.meridianApIDString() ||
                 d.NimbusApplicationKey() || d.orbisAppID() || d.cobaltAppID() || d.postalCode() ||
                 d.areaCode() || d.gender() || d.tangentSiteId() || d.tangentSpotId() ||
                 d.tangentCategory() || d.orbisInterests());
    EXPECT_FALSE(d.adRefreshDuration() || d.switchboardTestMode() || d.switchboardCurrentOrientation());
    EXPECT_FALSE(d.switchboardAdBackgroundColor() || d.switchboardTextColor() ||
                 d.switchboardSecondaryTextColor() || d.backgroundColor() || d.textColor());
    EXPECT_FALSE(d.locationInfo() || d.dateOfBirth() || d.keywords() || d.searchString());
    EXPECT_FALSE(d.incomeLevel() || d.meridianAdType() || d.meridianEducationLevel() ||
                 d.meridianEthnicity() || d.meridianAge() || d.tangentAdultContent() ||
                 d.tangentTransitionType() || d.orbisEducation() || d.orbisEthnicity());
    d.switchboardDidReceiveAd(nullptr);
    d.switchboardDidFailToReceiveAd(nullptr, true);
    d.switchboardDidAnimateToNewAdIn(nullptr);
    d.switchboardWillPresentFullScreenModal();
    d.switchboardDidDismissFullScreenModal();

    // Adapters serving it fall back to the configuration and send no demographics.
    auto config = SwitchboardConfig::create("k", nullptr);
    ASSERT_TRUE(config->parseConfig(R"({"extra":{"text_color_rgb":{"red":0,"green":255,"blue":0},
        "background_color_rgb":{"red":0,"green":0,"blue":255}},"rations":[]})",
                                    nullptr));
    auto events = mediationtest::makeEvents();
    auto slot = std::make_shared<mediationtest::RecordingSlot>(events);
    auto adapter =
        SwitchboardAdNetworkAdapter::create<mediationtest::TestAdapter<1>>(host, slot, config, nullptr);
    EXPECT_EQ(adapter->helperTextColorToUse(), (platform::Color{0, 1, 0, 1}));
    EXPECT_EQ(adapter->helperBackgroundColorToUse(), (platform::Color{0, 0, 1, 1}));
    EXPECT_EQ(adapter->helperSecondaryTextColorToUse(), std::nullopt);
    EXPECT_EQ(adapter->helperCalculateAge(), -1);
    adapter->helperNotifyDelegateOfFullScreenModal();
    adapter->helperNotifyDelegateOfFullScreenModalDismissal();
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:modal=YES", "slot:modal=NO"}));
}

TEST(SwitchboardDelegateProtocol, EventActionsReachOnlyRegisteredNames) {
    mediationtest::MinimalHost host;
    std::vector<std::string> calls;
    auto* slotIdentity = reinterpret_cast<SwitchboardView*>(&calls); // only compared, never used
    host.setEventAction("refreshPromo",
                        [&](SwitchboardView* v) { calls.push_back(v ? "refresh(view)" : "refresh"); });
    host.setEventAction("showOffer:", [&](SwitchboardView* v) {
        calls.push_back(v == slotIdentity ? "showOffer(slot)" : "showOffer(other)");
    });

    EXPECT_TRUE(host.responds("refreshPromo"));
    EXPECT_TRUE(host.responds("showOffer:"));
    EXPECT_FALSE(host.responds("showOffer"));
    EXPECT_FALSE(host.responds("refreshPromo:"));
    EXPECT_FALSE(host.responds("deleteAllFiles"));

    EXPECT_TRUE(host.performEventAction("refreshPromo", nullptr));
    EXPECT_TRUE(host.performEventAction("showOffer:", slotIdentity));
    EXPECT_FALSE(host.performEventAction("deleteAllFiles", nullptr));
    EXPECT_EQ(calls, (std::vector<std::string>{"refresh", "showOffer(slot)"}));

    // An action may remove itself while it runs; an empty action unregisters the name.
    host.setEventAction("once", [&](SwitchboardView*) {
        host.setEventAction("once", nullptr);
        calls.push_back("once");
    });
    EXPECT_TRUE(host.performEventAction("once", nullptr));
    EXPECT_FALSE(host.performEventAction("once", nullptr));
    EXPECT_FALSE(host.responds("once"));
    EXPECT_EQ(calls.back(), "once");
}

} // namespace
