#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/RunnerOptions.h"

using runner::parseRunnerOptions;

TEST(RunnerOptions, AcceptedForms) {
    std::string error;
    auto defaults = parseRunnerOptions({}, error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->home, "device");
    EXPECT_FALSE(defaults->tablet);
    EXPECT_TRUE(defaults->servicesURL.empty());
    EXPECT_FALSE(defaults->script);
    EXPECT_FALSE(defaults->launchPush);

    auto all = parseRunnerOptions({"--home", "/tmp/h", "--device=tablet", "--services", "http://127.0.0.1:9",
                                   "--script", "-", "--launch-push={\"applink\":\"42\"}", "--manual-clock"},
                                  error);
    ASSERT_TRUE(all) << error;
    EXPECT_EQ(all->home, "/tmp/h");
    EXPECT_TRUE(all->tablet);
    EXPECT_EQ(all->servicesURL, "http://127.0.0.1:9");
    EXPECT_EQ(all->script, "-");
    ASSERT_TRUE(all->launchPush);
    EXPECT_EQ(all->launchPush->at("applink").stringOr(""), "42");
    EXPECT_TRUE(all->manualClock);
    EXPECT_TRUE(all->installedSchemes.empty());

    struct Schemes {
        std::vector<std::string> args;
        std::vector<std::string> expected;
    };
    const Schemes schemes[] = {
        {{"--installed-schemes", "MoreApp, other-app2,x.y+z"}, {"moreapp", "other-app2", "x.y+z"}},
        {{"--installed-schemes=fb123"}, {"fb123"}},
        {{"--installed-schemes="}, {}},
    };
    for (const auto& c : schemes) {
        auto parsed = parseRunnerOptions(c.args, error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_EQ(parsed->installedSchemes, c.expected) << c.args.front();
    }
}

TEST(RunnerOptions, BadInputIsRefusedWithAReason) {
    const std::vector<std::vector<std::string>> cases = {
        {"--device", "watch"},        {"--device"},          {"--services", "ftp://x"},
        {"--home"},                   {"--home="},           {"--script"},
        {"--launch-push=[1]"},        {"--launch-push={"},   {"--colour"},
        {"--installed-schemes"},      {"--installed-schemes=a,,b"}, {"--installed-schemes=1app"},
        {"--installed-schemes=a:b"},
    };
    for (const auto& args : cases) {
        std::string error;
        EXPECT_FALSE(parseRunnerOptions(args, error)) << args.front();
        EXPECT_FALSE(error.empty()) << args.front();
    }
}
