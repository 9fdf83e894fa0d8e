#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <algorithm>
#include <ctime>
#include <string>

#include "platform/foundation/SystemFacts.h"

using namespace platform;

namespace {

class SystemFactsTest : public ::testing::Test {
protected:
    void TearDown() override { SystemFacts::resetForTesting(); }
};

TEST_F(SystemFactsTest, TheMachinesOwnFactsByKeyAndKind) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(SystemFacts::sysctlString("hw.machine"), std::string(names.machine));
    auto memory = SystemFacts::sysctlInteger("hw.memsize");
    ASSERT_TRUE(memory);
    EXPECT_GT(*memory, 1 << 20);
    EXPECT_GE(SystemFacts::sysctlInteger("hw.ncpu").value_or(0), 1);
    auto booted = SystemFacts::kernBootTime();
    ASSERT_TRUE(booted);
    EXPECT_GT(*booted, 0);
    EXPECT_LE(*booted, static_cast<std::int64_t>(std::time(nullptr)));
    if (std::string(names.machine) == "x86_64") {
        EXPECT_EQ(SystemFacts::sysctlInteger("hw.cputype"), 0x01000007);
    }

    // Unknown keys, and a key read as the other kind, answer nothing.
    EXPECT_FALSE(SystemFacts::sysctlString("hw.nonsense"));
    EXPECT_FALSE(SystemFacts::sysctlInteger("hw.machine"));
    EXPECT_FALSE(SystemFacts::sysctlString("hw.memsize"));
    EXPECT_FALSE(SystemFacts::sysctlString(""));
}

TEST_F(SystemFactsTest, FactsAndInterfacesCanBeReplaced) {
    SystemFacts::setSysctlStringForTesting("hw.machine", "Phone9,1");
    SystemFacts::setSysctlStringForTesting("hw.model", std::nullopt);
    SystemFacts::setSysctlIntegerForTesting("hw.cpufrequency", 1'400'000'000);
    SystemFacts::setSysctlIntegerForTesting("kern.boottime", 1'300'000'000);
    EXPECT_EQ(SystemFacts::sysctlString("hw.machine"), "Phone9,1");
    EXPECT_FALSE(SystemFacts::sysctlString("hw.model"));
    EXPECT_EQ(SystemFacts::sysctlInteger("hw.cpufrequency"), 1'400'000'000);
    EXPECT_EQ(SystemFacts::kernBootTime(), 1'300'000'000);

    using Family = NetworkInterface::Family;
    SystemFacts::setNetworkInterfacesForTesting(std::vector<NetworkInterface>{
        {"lo0", Family::IPv4, "127.0.0.1", true}, {"en0", Family::IPv6, "fe80::1", false}});
    auto list = SystemFacts::networkInterfaces();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[1].name, "en0");
    // A list that cannot be read.
    SystemFacts::setNetworkInterfacesForTesting(std::nullopt);
    EXPECT_FALSE(SystemFacts::networkInterfaces());
    SystemFacts::resetForTesting();
    EXPECT_TRUE(SystemFacts::networkInterfaces()); // the machine's own list again
    EXPECT_NE(SystemFacts::sysctlString("hw.machine"), "Phone9,1");
}

TEST_F(SystemFactsTest, TheMachinesInterfacesCarryThePlatformsNames) {
    auto list = SystemFacts::networkInterfaces();
    ASSERT_TRUE(list);
    bool sawLoopback = false;
    for (const auto& itf : *list) {
        EXPECT_FALSE(itf.address.empty());
        if (itf.loopback) {
            EXPECT_EQ(itf.name, "lo0");
            sawLoopback = true;
        } else {
            EXPECT_EQ(itf.name.rfind("en", 0), 0u) << itf.name;
        }
    }
    EXPECT_TRUE(sawLoopback);
    if (std::any_of(list->begin(), list->end(), [](const auto& i) { return !i.loopback; })) {
        EXPECT_TRUE(std::any_of(list->begin(), list->end(), [](const auto& i) { return i.name == "en0"; }));
    }
}

} // namespace
