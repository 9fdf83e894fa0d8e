#include <gtest/gtest.h>

#include "platform/foundation/URL.h"

using namespace platform;

namespace {

TEST(URLEscaping, WholeURLEscapingTouchesOnlyWhatAURLCannotHold) {
    const std::pair<std::string, std::string> cases[] = {
        {"http://h/a b?q=x y", "http://h/a%20b?q=x%20y"},
        {"http://h/p?a=1&b=2#frag", "http://h/p?a=1&b=2#frag"}, // structure untouched
        {"http://h/%20already", "http://h/%20already"},         // never escaped twice
        {"http://h/100%", "http://h/100%25"},                   // a lone "%" cannot stand
        {"http://h/%zz", "http://h/%25zz"},
        {"http://h/\"q\"<t>\\^`{|}", "http://h/%22q%22%3Ct%3E%5C%5E%60%7B%7C%7D"},
        {"http://h/caf\xC3\xA9", "http://h/caf%C3%A9"}, // beyond ASCII, as UTF-8
        {"http://h/tab\there\n", "http://h/tab%09here%0A"},
        {"http://[::1]:8080/a[1]", "http://[::1]:8080/a%5B1%5D"}, // brackets only around the host
        {"http://h/p#a#b", "http://h/p#a%23b"},
        {"http://h/!$&'()*+,;=:@-._~", "http://h/!$&'()*+,;=:@-._~"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(percentEscapeURLString(in), out);
        if (!in.empty()) {
            EXPECT_TRUE(URL::parse(percentEscapeURLString(in))) << "escaped text must parse";
        }
    }
}

TEST(URLEscaping, ValuesAreEscapedOnTheirOwn) {
    const struct {
        const char* text;
        const char* queryValue;
        const char* pathComponent;
    } cases[] = {
        {"a b&c=d", "a%20b%26c%3Dd", "a%20b&c=d"},
        {"x/y?z#w", "x%2Fy%3Fz%23w", "x%2Fy%3Fz%23w"},
        {"50%", "50%25", "50%25"},
        {"!*'();:@&=+$,/?%#[]", "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D",
         "!*'();:@&=+$,%2F%3F%25%23%5B%5D"},
        {"\xC3\xA9-._~", "%C3%A9-._~", "%C3%A9-._~"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(percentEncodeQueryValue(c.text), c.queryValue);
        EXPECT_EQ(percentEncodePathComponent(c.text), c.pathComponent);
        EXPECT_EQ(percentDecode(percentEncodeQueryValue(c.text)), std::string(c.text));
    }
}

} // namespace
