#include <gtest/gtest.h>

#include <set>
#include <string>
#include <unistd.h>

#include "platform/foundation/ProcessInfo.h"

using namespace platform;

TEST(ProcessInfo, EnvironmentOverridesSetAndHideVariables) {
    // PATH is set in every test environment.
    ASSERT_TRUE(ProcessInfo::environmentValue("PATH"));
    EXPECT_FALSE(ProcessInfo::environmentValue("FW_SURELY_UNSET_VARIABLE"));

    ProcessInfo::setEnvironmentValueForTesting("TGLogEnabled", "YES");
    ProcessInfo::setEnvironmentValueForTesting("PATH", std::nullopt);
    EXPECT_EQ(ProcessInfo::environmentValue("TGLogEnabled"), "YES");
    EXPECT_FALSE(ProcessInfo::environmentValue("PATH"));
    auto all = ProcessInfo::environment();
    EXPECT_EQ(all.at("TGLogEnabled"), "YES");
    EXPECT_EQ(all.count("PATH"), 0u);

    ProcessInfo::resetForTesting();
    EXPECT_FALSE(ProcessInfo::environmentValue("TGLogEnabled"));
    EXPECT_TRUE(ProcessInfo::environmentValue("PATH"));
}

TEST(ProcessInfo, IdentityAndUniqueStrings) {
    EXPECT_EQ(ProcessInfo::processIdentifier(), getpid());
    EXPECT_FALSE(ProcessInfo::processName().empty());
    EXPECT_FALSE(ProcessInfo::hostName().empty());

    const char* argv[] = {"ferrowick", "--home", "/tmp/h"};
    ProcessInfo::setArguments(3, argv);
    EXPECT_EQ(ProcessInfo::arguments(), (std::vector<std::string>{"ferrowick", "--home", "/tmp/h"}));
    ProcessInfo::resetForTesting();

    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        std::string id = ProcessInfo::globallyUniqueString();
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[8], '-');
        EXPECT_EQ(id[14], '4'); // version 4
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
        // The sweep of stale temporaries recognises every identifier the writer draws.
        EXPECT_TRUE(ProcessInfo::isGloballyUniqueString(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}
