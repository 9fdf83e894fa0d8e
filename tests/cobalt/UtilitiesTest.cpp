// The utilities shared by the ad view and the full-screen window, the built-in images and
// video page, and the safe filling of the scripts' callback templates.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "cobalt/CBAdView.h"
#include "cobalt/CBResources.h"
#include "cobalt/CBUtil.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Image.h"

namespace {

using cobalt::CBUtil;

TEST(CBUtil, AddressesThatOpenAnotherApplication) {
    struct Case {
        const char* url;
        const char* systemVersion;
        bool external;
    };
    const Case cases[] = {
        {"tel:5550100", "4.3", true},
        {"tel:5550100", "4.2", false},
        {"tel:5550100", "4.2.1", true},
        {"tel:5550100", "4.10", true},
        {"mailto:someone@example.com", "3.0", true},
        {"http://www.example.com/page.html", "6.1", false},
        {"http://apps.platform.test/app/123", "6.1", true},
        {"https://store.platform.test/x", "6.1", true},
        {"http://maps.platform.test/?q=here", "6.1", true},
    };
    for (const Case& c : cases) {
        auto url = platform::URL::parse(c.url);
        ASSERT_TRUE(url) << c.url;
        EXPECT_EQ(CBUtil::URLWillLoadExternalApp(*url, c.systemVersion), c.external) << c.url << " " << c.systemVersion;
    }
}

TEST(CBUtil, VersionsCompareByTheirNumbers) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    for (const Case& c : {Case{"4.2.1", "4.2.1", 0}, Case{"4.10", "4.9", 1}, Case{"4.2", "4.2.1", -1},
                          Case{"10.0", "9.9.9", 1}, Case{"4.02", "4.2", 0}, Case{"a2", "a10", -1}})
        EXPECT_EQ(CBUtil::versionCompare(c.a, c.b), c.order) << c.a << " vs " << c.b;
}

TEST(CBUtil, OrientationTransforms) {
    auto near = [](const platform::AffineTransform& t, double radians) {
        auto r = platform::AffineTransform::makeRotation(radians);
        return std::abs(t.a - r.a) < 1e-9 && std::abs(t.b - r.b) < 1e-9 && std::abs(t.c - r.c) < 1e-9 &&
               std::abs(t.d - r.d) < 1e-9;
    };
    EXPECT_TRUE(near(CBUtil::transformForOrientation(2), std::numbers::pi));
    EXPECT_TRUE(near(CBUtil::transformForOrientation(3), std::numbers::pi / 2));
    EXPECT_TRUE(near(CBUtil::transformForOrientation(4), -std::numbers::pi / 2));
    for (int flat : {0, 1, 5, 6, 42})
        EXPECT_TRUE(CBUtil::transformForOrientation(flat) == platform::AffineTransform::identity()) << flat;
}

TEST(CBUtil, DelimitedTexts) {
    EXPECT_EQ(CBUtil::delimitedStringFromString("a[b]c", "[", "]"), "b");
    EXPECT_EQ(CBUtil::delimitedStringFromString("a[]c", "[", "]"), "");
    // The right delimiter is looked for from the start too: one only before the left fails.
    EXPECT_EQ(CBUtil::delimitedStringFromString("a]b[c", "[", "]"), std::nullopt);
    EXPECT_EQ(CBUtil::delimitedStringFromString("x[a]y[b]", "[", "]", 4), "b");
    EXPECT_EQ(CBUtil::delimitedStringFromString("a[b]c", std::nullopt, "]"), std::nullopt);
    EXPECT_EQ(CBUtil::delimitedStringFromString("a[b", "[", "]"), std::nullopt);
    EXPECT_EQ(CBUtil::delimitedStringFromString("ab", "[", "]", 10), std::nullopt);

    EXPECT_EQ(CBUtil::replaceString("NEW", "<<", ">>", "keep <<old>> keep"), "keep <<NEW>> keep");
    EXPECT_EQ(CBUtil::replaceString("NEW", "<<", ">>", "no pair here >> <<"), "no pair here >> <<");
    EXPECT_EQ(CBUtil::replaceString("NEW", "<<", ">>", ""), "");
}

TEST(CBResources, ArrowImagesAndTheVideoPage) {
    for (const auto& image : {cobalt::CBResources::backButton(), cobalt::CBResources::backButtonDisabled(),
                              cobalt::CBResources::forwardButton(), cobalt::CBResources::forwardButtonDisabled()}) {
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixelWidth(), 8);
        EXPECT_EQ(image->pixelHeight(), 10);
    }
    // The back arrow points left: its left column has more ink than its right one.
    const auto back = cobalt::CBResources::backButton();
    auto alphaAt = [&](int x, int y) { return back->pixels()[static_cast<std::size_t>((y * 8 + x) * 4 + 3)]; };
    int left = 0, right = 0;
    for (int y = 0; y < 10; ++y) {
        left += alphaAt(0, y) > 0;
        right += alphaAt(7, y) > 0;
    }
    EXPECT_LT(left, right);

    const std::string page = cobalt::CBResources::youtubePage(320, "http://video.platform.test/v?a=1&b=\"2\"", 320, 480);
    EXPECT_NE(page.find("content=\"width=320\""), std::string::npos) << page;
    EXPECT_NE(page.find("width: 100%;height: 100%;"), std::string::npos) << page;
    EXPECT_NE(page.find("src=\"http://video.platform.test/v?a=1&amp;b=&quot;2&quot;\""), std::string::npos) << page;
    EXPECT_NE(page.find("width=\"320\" height=\"480\""), std::string::npos) << page;
}

TEST(CBAdViewInternal, BoundsCallbacksTakeTwoNumbersAndLeaveTheRestAlone) {
    struct Case {
        const char* callback;
        const char* filled;
    };
    const Case cases[] = {
        {"setBounds(%f,%f);", "setBounds(320.000000,48.000000);"},
        {"setBounds(%.1f, %.0f);", "setBounds(320.0, 48);"},
        {"one(%g);", "one(320);"},
        // Anything beyond the two numbers, and conversions that are not numbers, stay as text.
        {"three(%f,%f,%f);", "three(320.000000,48.000000,%f);"},
        {"text(%s,%d,%n,%f);", "text(%s,%d,%n,320.000000);"},
        {"pct(100%%,%f)", "pct(100%%,320.000000)"},
        {"plain();", "plain();"},
        {"tail%", "tail%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cobalt::CBAdViewInternal::fillBoundsCallback(c.callback, 320, 48), c.filled) << c.callback;
}

} // namespace
