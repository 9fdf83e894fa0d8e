#include <gtest/gtest.h>

#include "mediation/SwitchboardError.h"

using mediation::SwitchboardError;

namespace {

const platform::Error kUnderlying{"URLErrorDomain", -1001, "The request timed out.", {{"url", "http://x/"}}};

TEST(SwitchboardError, ConstructorsFillDomainCodeAndUserInfo) {
    struct Case {
        const char* name;
        SwitchboardError error;
        int code;
        std::string description;
        bool hasDescriptionEntry;
        bool hasUnderlying;
    };
    const Case cases[] = {
        {"description", SwitchboardError::errorWithCode(90, "Ad request already in progress"), 90,
         "Ad request already in progress", true, false},
        {"description and underlying",
         SwitchboardError::errorWithCode(10, std::string("Error connecting to config server"), kUnderlying),
         10, "Error connecting to config server", true, true},
        {"nil underlying leaves only the description",
         SwitchboardError::errorWithCode(20, std::string("Error parsing config JSON from server"),
                                         std::nullopt),
         20, "Error parsing config JSON from server", true, false},
        {"nil description keeps the underlying error",
         SwitchboardError::errorWithCode(40, std::nullopt, kUnderlying), 40, "", false, true},
        {"nil description and underlying", SwitchboardError(60, std::nullopt, std::nullopt), 60, "", false,
         false},
        {"user info",
         SwitchboardError(30, platform::Dictionary{{"LocalizedDescription", "Bad"}, {"extra", 1}}), 30, "Bad",
         true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.error.domain, mediation::kSwitchboardErrorDomain);
        EXPECT_EQ(c.error.code, c.code);
        EXPECT_EQ(c.error.localizedDescription, c.description);
        EXPECT_EQ(c.error.userInfo.count(mediation::kLocalizedDescriptionKey) == 1, c.hasDescriptionEntry);
        EXPECT_EQ(c.error.userInfo.count(mediation::kUnderlyingErrorKey) == 1, c.hasUnderlying);
        std::size_t expectedEntries = (c.hasDescriptionEntry ? 1 : 0) + (c.hasUnderlying ? 1 : 0);
        if (std::string(c.name) != "user info") {
            EXPECT_EQ(c.error.userInfo.size(), expectedEntries);
        }
    }
}

TEST(SwitchboardError, UnderlyingErrorReadsBackWhole) {
    SwitchboardError e(10, std::string("Error connecting to config server"), kUnderlying);
    auto underlying = SwitchboardError::underlyingError(e);
    ASSERT_TRUE(underlying);
    EXPECT_EQ(underlying->domain, kUnderlying.domain);
    EXPECT_EQ(underlying->code, kUnderlying.code);
    EXPECT_EQ(underlying->localizedDescription, kUnderlying.localizedDescription);
    EXPECT_EQ(underlying->userInfo, kUnderlying.userInfo);

    EXPECT_FALSE(SwitchboardError::underlyingError(SwitchboardError(10, "no cause")));
}

TEST(SwitchboardError, IsAPlatformError) {
    platform::Error asPlatform = SwitchboardError(120, "No more ad networks to roll over");
    EXPECT_EQ(asPlatform.description(), std::string("Error Domain=") + mediation::kSwitchboardErrorDomain +
                                            " Code=120 \"No more ad networks to roll over\"");
}

} // namespace
