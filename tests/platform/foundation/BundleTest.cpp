#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "support/TemporaryHome.h"

using namespace platform;

TEST(Bundle, InfoDictionaryAndResourcesFromTheResourceFolder) {
    fwtest::TemporaryHome home;
    auto resources = home.root() / "Resources";
    ASSERT_TRUE(FileManager::createDirectory(resources, true));
    ASSERT_TRUE(writePropertyListFile(
        resources / "Info.plist",
        Value(Dictionary{{"CFBundleShortVersionString", Value("2.1")}, {"TGMTest", Value(true)}})));
    ASSERT_TRUE(FileManager::writeAtomically(resources / "Default.png", std::string_view("png")));
    ASSERT_TRUE(FileManager::writeAtomically(home.root() / "secret.txt", std::string_view("no")));

    Bundle::main().setResourceDirectory(resources);
    EXPECT_EQ(Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString")->stringOr(""), "2.1");
    EXPECT_TRUE(Bundle::main().objectForInfoDictionaryKey("TGMTest")->boolOr(false));
    EXPECT_FALSE(Bundle::main().objectForInfoDictionaryKey("missing"));
    // A setting written at run time, as a client does before starting another.
    Bundle::main().setInfoDictionaryValue("VellumUseTestServers", Value(true));
    EXPECT_TRUE(Bundle::main().objectForInfoDictionaryKey("VellumUseTestServers")->boolOr(false));

    EXPECT_EQ(Bundle::main().pathForResource("Default", "png"), resources / "Default.png");
    EXPECT_EQ(Bundle::main().pathForResource("Default.png"), resources / "Default.png");
    EXPECT_FALSE(Bundle::main().pathForResource("Missing", "png"));
    EXPECT_FALSE(Bundle::main().pathForResource("../secret", "txt"));
    EXPECT_FALSE(Bundle::main().pathForResource(".."));
    Bundle::resetForTesting();
}
