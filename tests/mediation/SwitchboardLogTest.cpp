#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MediationTestSupport.h"
#include "mediation/SwitchboardLog.h"
#include "platform/foundation/Log.h"

using namespace mediation;
using mediationtest::LogLevelScope;

namespace {

TEST(SwitchboardLog, ShipsAtLevelFortyWarningsAndAbove) {
    EXPECT_EQ(g_SBLogLevel, kSBLogLevelShipped);
    EXPECT_EQ(kSBLogLevelShipped, 40u);
    platform::LogCapture log;
    SBLogDebug("debug line %d", 1);
    SBLogWarn("warn line %d", 2);
    SBLogError("error line %d", 3);
    SBLogCrit("crit line %d", 4);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"warn line 2", "error line 3", "crit line 4"}));
}

TEST(SwitchboardLog, EachFunctionPassesAboveItsThreshold) {
    struct Case {
        unsigned level;
        bool debug, warn, error, crit;
    };
    const Case cases[] = {
        {0, false, false, false, false}, {9, false, false, false, false}, {10, false, false, false, true},
        {19, false, false, false, true}, {20, false, false, true, true},  {29, false, false, true, true},
        {30, false, true, true, true},   {49, false, true, true, true},   {50, true, true, true, true},
        {~0u, true, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        LogLevelScope level(c.level);
        platform::LogCapture log;
        SBLogDebug("d");
        SBLogWarn("w");
        SBLogError("e");
        SBLogCrit("c");
        EXPECT_EQ(log.contains("d"), c.debug);
        EXPECT_EQ(log.contains("w"), c.warn);
        EXPECT_EQ(log.contains("e"), c.error);
        EXPECT_EQ(log.contains("c"), c.crit);
    }
}

// Counts how often it is turned into text.
struct Described {
    std::shared_ptr<int> calls = std::make_shared<int>(0);
    std::string description() const {
        ++*calls;
        return "described";
    }
};

TEST(SwitchboardLog, SuppressedLineDoesNotFormatItsArguments) {
    platform::LogCapture log;
    Described object;
    SBLogDebug("object %@", object);
    EXPECT_EQ(*object.calls, 0);
    EXPECT_TRUE(log.lines().empty());
    SBLogWarn("object %@", object);
    EXPECT_EQ(*object.calls, 1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"object described"});
}

TEST(SwitchboardLog, FormatsObjectPlaceholdersAndPrintfConversions) {
    Described object;
    std::shared_ptr<Described> none;
    struct Case {
        std::string formatted;
        std::string expected;
    };
    const Case cases[] = {
        {sbFormat("Received ad from Network: %@", std::string("lumen")), "Received ad from Network: lumen"},
        {sbFormat("%@ %@ %@", 42, 2.5, object), "42 2.5 described"},
        {sbFormat("%@|%@", platform::Value("text"), platform::Value(platform::Array{1, "a"})),
         "text|[1,\"a\"]"},
        {sbFormat("%@", none), "(null)"},
        {sbFormat("%@", std::optional<std::string>()), "(null)"},
        {sbFormat("type:%d weight:%lf", 12, 12.5), "type:12 weight:12.500000"},
        {sbFormat("Requesting fresh ad too soon! It has been only %lfs. Minimum %lfs", 2.0, 4.7),
         "Requesting fresh ad too soon! It has been only 2.000000s. Minimum 4.700000s"},
        {sbFormat("%c%c%c", 't', '-', 'R'), "t-R"},
        {sbFormat("%s:%d", "SwitchboardView.cpp", 120), "SwitchboardView.cpp:120"},
        {sbFormat("%x %5d|%-3d|%.2f", 255u, 7, 1, 3.14159), "ff     7|1  |3.14"},
        {sbFormat("100%% of %@", "rations"), "100% of rations"},
        {sbFormat("flag %d", true), "flag 1"},
        {sbFormat("missing %@ and %d", "one"), "missing one and %d"},
        {sbFormat("unknown %k stays", 5), "unknown %k stays"},
        {sbFormat("trailing %"), "trailing %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.formatted, c.expected);
}

} // namespace
