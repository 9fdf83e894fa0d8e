#include <gtest/gtest.h>

#include <ctime>

#include "MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardConfig.h"
#include "platform/foundation/Log.h"
#include "support/ManualClockScope.h"

using namespace mediation;
using mediationtest::ConfigurableHost;
using mediationtest::Events;
using mediationtest::RecordingSlot;
using mediationtest::TestAdapter;

namespace {

// An adapter of type 1 with a host, a slot and a configuration, all recording into `events`.
class AdapterFixture : public ::testing::Test {
protected:
    AdapterFixture()
        : events(mediationtest::makeEvents()), host(std::make_shared<ConfigurableHost>(events)),
          slot(std::make_shared<RecordingSlot>(events)), config(SwitchboardConfig::create("key", nullptr)),
          adapter(SwitchboardAdNetworkAdapter::create<TestAdapter<1>>(host, slot, config, nullptr)) {
        adapter->events = events;
    }

    Events events;
    std::shared_ptr<ConfigurableHost> host;
    std::shared_ptr<RecordingSlot> slot;
    std::shared_ptr<SwitchboardConfig> config;
    std::shared_ptr<TestAdapter<1>> adapter;
};

// Seconds since 1970 of a local date and time.
double localTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<double>(std::mktime(&t));
}

TEST_F(AdapterFixture, AgeInWholeGregorianYears) {
    fwtest::ManualClockScope time;
    struct Case {
        const char* name;
        double now;
        std::optional<double> birth;
        int age;
    };
    const Case cases[] = {
        {"no birth date", localTime(2024, 6, 15), std::nullopt, -1},
        {"born today", localTime(2024, 6, 15), localTime(2024, 6, 15), 0},
        {"less than a year", localTime(2024, 6, 15), localTime(2023, 9, 1), 0},
        {"one second short of a year", localTime(2024, 6, 15, 12, 0, 0), localTime(2023, 6, 15, 12, 0, 1), 0},
        {"exact first birthday", localTime(2024, 6, 15), localTime(2023, 6, 15), 1},
        {"exact 30th birthday", localTime(2024, 6, 15, 8), localTime(1994, 6, 15, 8), 30},
        {"day before the 30th birthday", localTime(2024, 6, 14, 23, 59, 59), localTime(1994, 6, 15, 0, 0, 0),
         29},
        {"leap day, the 28th of February after", localTime(2001, 2, 28), localTime(2000, 2, 29), 0},
        {"leap day, the 1st of March after", localTime(2001, 3, 1), localTime(2000, 2, 29), 1},
        {"across the year end", localTime(2024, 1, 2), localTime(2000, 12, 31), 23},
        {"born before 1970", localTime(2024, 6, 15), localTime(1950, 6, 16), 73},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        time.clock().setNow(c.now);
        host->birth = c.birth ? std::optional<platform::Date>(platform::Date{*c.birth}) : std::nullopt;
        EXPECT_EQ(adapter->helperCalculateAge(), c.age);
    }
    host.reset();
    EXPECT_EQ(adapter->helperCalculateAge(), -1); // no host left to ask
}

TEST_F(AdapterFixture, ColoursFallBackFromHostOverrideToHostToConfiguration) {
    const platform::Color red = platform::Color::redColor(), blue = platform::Color::blueColor(),
                          green = platform::Color::greenColor();
    struct Case {
        const char* name;
        std::set<std::string> responds;
        std::optional<platform::Color> override, plain, expected; // expected nullopt: the configuration's
    };
    const Case cases[] = {
        {"override answered", {"OVERRIDE", "PLAIN"}, red, blue, red},
        {"override answers nil: the plain one", {"OVERRIDE", "PLAIN"}, std::nullopt, blue, blue},
        {"both nil: the configuration's", {"OVERRIDE", "PLAIN"}, std::nullopt, std::nullopt, std::nullopt},
        {"override not implemented", {"PLAIN"}, red, green, green},
        {"nothing implemented", {}, red, green, std::nullopt},
    };
    struct Helper {
        const char* overrideSelector;
        const char* plainSelector;
        std::optional<platform::Color> ConfigurableHost::*overrideField;
        std::optional<platform::Color> ConfigurableHost::*plainField;
        std::optional<platform::Color> (SwitchboardAdNetworkAdapter::*helper)() const;
        std::optional<platform::Color> configColor;
    };
    const Helper helpers[] = {
        {"switchboardTextColor", "textColor", &ConfigurableHost::textOverride, &ConfigurableHost::text,
         &SwitchboardAdNetworkAdapter::helperTextColorToUse, config->textColor()},
        {"switchboardAdBackgroundColor", "backgroundColor", &ConfigurableHost::backgroundOverride,
         &ConfigurableHost::background, &SwitchboardAdNetworkAdapter::helperBackgroundColorToUse,
         config->backgroundColor()},
    };
    for (const auto& h : helpers) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(h.overrideSelector) + ": " + c.name);
            host->implemented.clear();
            for (const auto& r : c.responds)
                host->implemented.insert(r == "OVERRIDE" ? h.overrideSelector : h.plainSelector);
            (*host).*(h.overrideField) = c.override;
            (*host).*(h.plainField) = c.plain;
            EXPECT_EQ(((*adapter).*(h.helper))(), c.expected ? c.expected : h.configColor);
        }
    }
}

TEST_F(AdapterFixture, ColourHelpersWithoutHostOrConfigurationColour) {
    host->secondaryText = platform::Color::grayColor();
    EXPECT_EQ(adapter->helperSecondaryTextColorToUse(), std::nullopt); // not listed in responds
    host->implemented.insert("switchboardSecondaryTextColor");
    EXPECT_EQ(adapter->helperSecondaryTextColorToUse(), platform::Color::grayColor());

    // A malformed colour object in the reply leaves the configuration without colours.
    ASSERT_TRUE(config->parseConfig(
        R"({"extra":{"text_color_rgb":{},"background_color_rgb":7},"rations":[]})", nullptr));
    host.reset();
    EXPECT_EQ(adapter->helperTextColorToUse(), std::nullopt);
    EXPECT_EQ(adapter->helperBackgroundColorToUse(), std::nullopt);
    EXPECT_EQ(adapter->helperSecondaryTextColorToUse(), std::nullopt);
}

TEST_F(AdapterFixture, ModalHelpersMarkTheSlotAroundTheHostCallbacks) {
    host->implemented = {"switchboardWillPresentFullScreenModal", "switchboardDidDismissFullScreenModal"};
    adapter->helperNotifyDelegateOfFullScreenModal();
    EXPECT_TRUE(slot->showingModalView());
    adapter->helperNotifyDelegateOfFullScreenModalDismissal();
    EXPECT_FALSE(slot->showingModalView());
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:modal=YES", "host:willPresentFullScreenModal",
                                                 "host:didDismissFullScreenModal", "slot:modal=NO"}));

    // A host that does not list the callbacks is not told; the slot is marked all the same.
    events->clear();
    host->implemented.clear();
    adapter->helperNotifyDelegateOfFullScreenModal();
    adapter->helperNotifyDelegateOfFullScreenModalDismissal();
    EXPECT_EQ(*events, (std::vector<std::string>{"slot:modal=YES", "slot:modal=NO"}));

    // Without host and slot the helpers do nothing and do not fail.
    events->clear();
    adapter->setSwitchboardDelegate({});
    adapter->setSwitchboardView({});
    adapter->helperNotifyDelegateOfFullScreenModal();
    adapter->helperNotifyDelegateOfFullScreenModalDismissal();
    EXPECT_TRUE(events->empty());
}

TEST_F(AdapterFixture, TeardownDetachesOnceAndEndsAnOpenModalMark) {
    host->implemented = {"switchboardDidDismissFullScreenModal"};
    adapter->helperNotifyDelegateOfFullScreenModal();
    events->clear();
    adapter.reset();
    EXPECT_EQ(*events, (std::vector<std::string>{"adapter1:stopBeingDelegate",
                                                 "host:didDismissFullScreenModal", "slot:modal=NO"}));
    EXPECT_FALSE(slot->showingModalView());
}

TEST_F(AdapterFixture, TeardownAfterTheSlotLetGoTouchesNothingButTheClient) {
    adapter->helperNotifyDelegateOfFullScreenModal();
    adapter->helperNotifyDelegateOfFullScreenModalDismissal();
    adapter->stopBeingDelegate(); // sent by the slot when the next adapter has the same type
    adapter->setSwitchboardDelegate({});
    adapter->setSwitchboardView({});
    events->clear();
    adapter.reset();
    EXPECT_EQ(*events, std::vector<std::string>{"adapter1:stopBeingDelegate"});
}

TEST_F(AdapterFixture, BaseDefaults) {
    EXPECT_TRUE(adapter->shouldSendExMetric());
    for (int type = 0; type <= 8; ++type)
        EXPECT_TRUE(adapter->isBannerAnimationOK(type)) << type;

    mediationtest::LogLevelScope debug(50);
    platform::LogCapture log;
    adapter->rotateToOrientation(3);
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "rotate to orientation 3 called for adapter mediationtest::TestAdapter<1>"});
}

TEST_F(AdapterFixture, SettersReplaceTheFields) {
    auto otherConfig = SwitchboardConfig::create("other", nullptr);
    adapter->setSwitchboardConfig(otherConfig);
    EXPECT_EQ(adapter->switchboardConfig(), otherConfig);
    adapter->setNetworkConfig(nullptr);
    EXPECT_EQ(adapter->networkConfig(), nullptr);
    auto otherHost = std::make_shared<mediationtest::MinimalHost>();
    adapter->setSwitchboardDelegate(otherHost);
    EXPECT_EQ(adapter->switchboardDelegate(), otherHost);
}

} // namespace
