#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "support/TemporaryHome.h"

using namespace platform;

namespace {

Value sample() {
    Dictionary inner{{"flag", Value(true)}, {"off", Value(false)}, {"empty", Value(Array{})}};
    return Value(Dictionary{
        {"name", Value("Ferro <Wick> & \"friends\"")},
        {"spaces", Value("   ")},
        {"count", Value(-42)},
        {"big", Value(9007199254740993LL)},
        {"ratio", Value(0.1)},
        {"when", Value(Date{1299334029})},
        {"bytes", Value(Data{0, 1, 2, 254, 255})},
        {"list", Value(Array{Value("a"), Value(1), Value(inner)})},
        {"nested", Value(inner)},
        {"unicode", Value("äöü \xE2\x80\xA8 😀")},
    });
}

} // namespace

TEST(PropertyList, EveryKindRoundTrips) {
    Value original = sample();
    std::string xml = original.toPropertyList();
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(xml.find("<plist version=\"1.0\">"), std::string::npos);
    EXPECT_NE(xml.find("<date>2011-03-05T14:07:09Z</date>"), std::string::npos);
    std::string error;
    auto back = Value::fromPropertyList(xml, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, original);
}

TEST(PropertyList, ReadsListsFromOtherWriters) {
    // A document type line, CDATA, wrapped data, special reals and a repeated key.
    const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Example//DTD PLIST 1.0//EN" "http://example.invalid/plist.dtd">
<plist version="1.0">
<dict>
    <key>text</key><string><![CDATA[a < b]]></string>
    <key>blob</key><data>
        Zm9v
        YmFy
    </data>
    <key>nan</key><real>nan</real>
    <key>inf</key><real>-infinity</real>
    <key>huge</key><integer>18446744073709551615</integer>
    <key>empty</key><string/>
    <key>dup</key><integer>1</integer>
    <key>dup</key><integer>2</integer>
</dict>
</plist>)";
    std::string error;
    auto v = Value::fromPropertyList(xml, &error);
    ASSERT_TRUE(v) << error;
    EXPECT_EQ(v->find("text")->stringOr(""), "a < b");
    EXPECT_EQ(*v->find("blob")->data(), (Data{'f', 'o', 'o', 'b', 'a', 'r'}));
    EXPECT_TRUE(std::isnan(*v->find("nan")->number()));
    EXPECT_EQ(*v->find("inf")->number(), -INFINITY);
    EXPECT_DOUBLE_EQ(*v->find("huge")->number(), 18446744073709551615.0);
    EXPECT_EQ(v->find("empty")->stringOr("x"), "");
    EXPECT_EQ(v->find("dup")->intOr(0), 2);
    // A bare array without the plist element is read too.
    EXPECT_EQ(Value::fromPropertyList("<array><string>x</string></array>")->size(), 1u);
}

TEST(PropertyList, MalformedListsAreRefusedWithAReason) {
    const char* cases[] = {
        "",
        "not xml",
        "<plist version=\"1.0\"><dict><key>a</key></dict></plist>",       // key without value
        "<plist version=\"1.0\"><dict><string>a</string></dict></plist>", // value without key
        "<plist version=\"1.0\"><integer>12x</integer></plist>",
        "<plist version=\"1.0\"><integer></integer></plist>",
        "<plist version=\"1.0\"><real>1.5.5</real></plist>",
        "<plist version=\"1.0\"><date>yesterday</date></plist>",
        "<plist version=\"1.0\"><data>!!!</data></plist>",
        "<plist version=\"1.0\"><object/></plist>",
        "<plist version=\"1.0\"></plist>",
        "<plist version=\"1.0\"><dict><key>a</key><string>x</string></plist>", // unclosed
    };
    for (const char* xml : cases) {
        std::string error;
        EXPECT_FALSE(Value::fromPropertyList(xml, &error)) << xml;
        EXPECT_FALSE(error.empty()) << xml;
    }
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "<array>";
    for (int i = 0; i < 300; ++i)
        deep += "</array>";
    EXPECT_FALSE(Value::fromPropertyList(deep));
}

TEST(PropertyList, FilesAreWrittenWholeAndNullIsRefused) {
    fwtest::TemporaryHome home;
    auto file = home.root() / "Documents" / "savedData.plist";
    Value seen(Array{Value("7"), Value("9")});
    Error error;
    ASSERT_TRUE(writePropertyListFile(file, seen, &error)) << error.description();
    EXPECT_EQ(readPropertyListFile(file), seen);
    // No temporary file is left beside it.
    EXPECT_EQ(FileManager::contentsOfDirectory(file.parent_path())->size(), 1u);

    // A value with a null inside cannot be written as it is: the old file stays.
    Value withNull(Array{Value("x"), Value()});
    EXPECT_FALSE(isPropertyListValue(withNull));
    EXPECT_FALSE(writePropertyListFile(file, withNull, &error));
    EXPECT_EQ(error.domain, kPropertyListErrorDomain);
    EXPECT_EQ(readPropertyListFile(file), seen);

    // Unreadable and missing files are errors, not empty values.
    ASSERT_TRUE(FileManager::writeAtomically(file, std::string_view("<plist><dict><key>")));
    EXPECT_FALSE(readPropertyListFile(file, &error));
    EXPECT_EQ(error.code, kPropertyListReadCorrupt);
    EXPECT_FALSE(readPropertyListFile(home.root() / "missing.plist", &error));
    EXPECT_EQ(error.domain, kPOSIXErrorDomain);
}

// A write cut short by a crash leaves "<file>.tmp-<id>" beside the list; reading the list
// sweeps it (another file's temporary stays), even when the list itself is missing.
TEST(PropertyList, TemporariesOfWritesCutShortAreSweptWhenTheFileIsRead) {
    fwtest::TemporaryHome home;
    const auto folder = home.root() / "Documents";
    const auto file = folder / "savedData.plist";
    ASSERT_TRUE(writePropertyListFile(file, Value(Array{Value("7")})));
    const auto stale = folder / ("savedData.plist.tmp-" + ProcessInfo::globallyUniqueString());
    const auto other = folder / ("other.plist.tmp-" + ProcessInfo::globallyUniqueString());
    ASSERT_TRUE(FileManager::writeAtomically(stale, std::string_view("<plist><array><string>")));
    ASSERT_TRUE(FileManager::writeAtomically(other, std::string_view("<plist>")));

    EXPECT_EQ(readPropertyListFile(file), Value(Array{Value("7")}));
    EXPECT_FALSE(FileManager::fileExists(stale));
    EXPECT_TRUE(FileManager::fileExists(other));

    const auto absent = folder / "absent.plist";
    const auto orphan = folder / ("absent.plist.tmp-" + ProcessInfo::globallyUniqueString());
    ASSERT_TRUE(FileManager::writeAtomically(orphan, std::string_view("<plist>")));
    EXPECT_FALSE(readPropertyListFile(absent));
    EXPECT_FALSE(FileManager::fileExists(orphan));
}
