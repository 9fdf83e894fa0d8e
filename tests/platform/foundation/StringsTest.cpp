#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Strings.h"

using namespace platform;

TEST(Strings, LenientNumberReaders) {
    struct Case {
        const char* text;
        std::int64_t integer;
        double real;
        bool boolean;
    };
    const Case cases[] = {
        {"42", 42, 42.0, true},
        {"  -17abc", -17, -17.0, true}, // leading white space, trailing junk ignored
        {"+8", 8, 8.0, true},
        {"1.5", 1, 1.5, true},
        {".5", 0, 0.5, false},
        {"-2e3", -2, -2000.0, true},
        {"abc", 0, 0.0, false},
        {"", 0, 0.0, false},
        {"YES", 0, 0.0, true},
        {"no", 0, 0.0, false},
        {"true", 0, 0.0, true},
        {"0009", 9, 9.0, true}, // leading zeros are skipped before the boolean test
        {"00", 0, 0.0, false},
        {"nan", 0, 0.0, false}, // words are not numbers here
        {"inf", 0, 0.0, false},
        {"99999999999999999999", std::numeric_limits<std::int64_t>::max(), 1e20, true},
        {"-99999999999999999999", std::numeric_limits<std::int64_t>::min(), -1e20, true},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min(), -9.223372036854775808e18, true},
        {"1e999", 1, std::numeric_limits<double>::infinity(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(integerValue(c.text), c.integer);
        EXPECT_DOUBLE_EQ(doubleValue(c.text), c.real);
        EXPECT_EQ(boolValue(c.text), c.boolean);
    }
    EXPECT_EQ(intValue("99999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(intValue("-99999999999"), std::numeric_limits<std::int32_t>::min());
}

TEST(Strings, NumbersIgnoreTheProcessLocale) {
    // A locale with a decimal comma must change neither reading nor writing. Machines without
    // such a locale keep "C", which makes the test weaker but still valid.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE"})
        if (std::setlocale(LC_NUMERIC, name))
            break;
    EXPECT_DOUBLE_EQ(doubleValue("1.25"), 1.25);
    EXPECT_EQ(formatDouble(1.25), "1.25");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Strings, SplitJoinReplaceAndTrim) {
    EXPECT_EQ(split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(split("a::b::", "::"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(split("abc", ""), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(join({"a", "", "b"}, "/"), "a//b");
    EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa"); // no re-scan of inserted text
    EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(trim(" \t\r\n x y \n"), "x y");
    EXPECT_EQ(trim("   "), "");
}

TEST(Strings, CaseHelpersTouchOnlyASCII) {
    EXPECT_EQ(toUpper("mp3 ä"), "MP3 ä");
    EXPECT_EQ(toLower("ÄBC"), "Äbc");
    EXPECT_TRUE(equalsIgnoringCase("HTTP", "http"));
    EXPECT_FALSE(equalsIgnoringCase("http", "https"));
    EXPECT_TRUE(caseInsensitiveCompare("b.txt", "A.txt") > 0);
    EXPECT_TRUE(caseInsensitiveCompare("B.pdf", "c.doc") < 0);
    EXPECT_TRUE(caseInsensitiveCompare("abc", "ABC") == 0);
    EXPECT_TRUE(caseInsensitiveCompare("ab", "abc") < 0);
}

TEST(Strings, FormattingIsPrintfInThePOSIXLocale) {
    EXPECT_EQ(formatString("%.1f KB", 1.0), "1.0 KB");
    EXPECT_EQ(formatString("%X", 255u), "FF");
    EXPECT_EQ(formatString("%s", std::string(5000, 'x').c_str()).size(), 5000u);
    EXPECT_EQ(formatDouble(0.1), "0.1");
    EXPECT_EQ(formatDouble(3.0), "3");
    EXPECT_EQ(doubleValue(formatDouble(1.0 / 3.0)), 1.0 / 3.0);
}

TEST(Strings, UTF8Validation) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"plain", true},
        {"\xC3\xA4", true},          // ä
        {"\xE2\x80\xA8", true},      // U+2028
        {"\xF0\x9F\x98\x80", true},  // emoji
        {"\xC3", false},             // truncated
        {"\xC0\xAF", false},         // overlong "/"
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
        {"\xFF", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isValidUTF8(c.text), c.valid) << hexString(c.text);
}

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
    // RFC 4648 section 10.
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(std::string_view(plain)), encoded);
        auto decoded = base64Decode(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), plain);
    }
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    auto back = base64Decode(base64Encode(all));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(back->begin(), back->end()), all);
}

TEST(Base64, DecodingToleratesWrappingButRefusesJunk) {
    auto wrapped = base64Decode("Zm9v\n\tYmFy\n");
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(std::string(wrapped->begin(), wrapped->end()), "foobar");
    auto unpadded = base64Decode("Zm8");
    ASSERT_TRUE(unpadded);
    EXPECT_EQ(std::string(unpadded->begin(), unpadded->end()), "fo");
    for (const char* bad : {"Zm9v!", "Z", "Zm==Zm9v", "Zm9v===", "Zg=", "====", "Zm9-"})
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(Strings, HTMLEscapingCoversContentAndQuotedAttributes) {
    EXPECT_EQ(escapeHTML("<a href=\"x\" title='y'>Tom & Jerry</a>"),
              "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;Tom &amp; Jerry&lt;/a&gt;");
    EXPECT_EQ(escapeHTML("plain text, ünïcode"), "plain text, ünïcode");
    EXPECT_EQ(escapeHTML("&amp;"), "&amp;amp;"); // escaped text is escaped again, never passed through
}
