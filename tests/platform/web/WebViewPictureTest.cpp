// Pictures of a web view, as the device shows them: an opaque view (the default) paints a
// white canvas under a page that gives no background, a view made non-opaque with a clear
// background shows what lies behind it, and the page's own background and text colours win.
// Each case reads what a person sees: the canvas's colour, and the text standing out from what
// lies behind it (a contrast ratio of at least 3), wrapped inside the view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/web/Dom.h"
#include "platform/web/PageLook.h"
#include "support/PictureContrast.h"

namespace {

using platform::Bitmap;
using platform::Color;

using fwtest::contrast;
using fwtest::luminance;

Bitmap::RGBA rgba(unsigned rgb) {
    return {std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb), 255};
}

struct PictureCase {
    const char* name;
    const char* page;
    bool opaque;
    std::optional<Color> viewBackground; // the web view's own background colour (none: its default)
    unsigned behind;                     // the colour of the view under the web view
    unsigned canvas;                     // the colour a person sees where the page has no text
};

constexpr const char* kPlain =
    "<html><body><h1>Thanks for visiting</h1><p>Carry every file.</p></body></html>";

const PictureCase kCases[] = {
    {"default view over black", kPlain, true, std::nullopt, 0x000000, 0xffffff},
    {"opaque navy view (a landing page's own colour)", kPlain, true, Color::rgba(0.14, 0.18, 0.25), 0x000000,
     0xffffff},
    {"clear view shows a white screen behind", kPlain, false, Color::clearColor(), 0xffffff, 0xffffff},
    {"clear view with a page of its own colours",
     R"(<body style="background:#202020; color: #f0f0f0"><p>Dark page</p>)", false, Color::clearColor(),
     0xffffff, 0x202020},
    {"style sheet colours",
     "<style>/* look */ html, body { background-color: navy; color: yellow }</style><p>Sheet</p>", true,
     std::nullopt, 0x000000, 0x000080},
    {"presentational attributes", R"(<body bgcolor="#ffffcc" text="#000080"><p>Old page</p></body>)", false,
     Color::clearColor(), 0x000000, 0xffffcc},
    {"inline style wins over the sheet",
     R"(<style>body{background:red}</style><body style="background:rgb(0,128,0);color:white">x y z</body>)",
     true, std::nullopt, 0x000000, 0x008000},
    {"transparent page background over a clear view",
     R"(<body style="background:transparent;color:white"><p>On black</p></body>)", false, Color::clearColor(),
     0x000000, 0x000000},
};

class WebViewPicture : public webtest::WebViewTest, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(WebViewPicture, CanvasAndTextReadAsOnTheDevice) {
    const PictureCase& c = GetParam();
    auto behind = std::make_shared<platform::View>(platform::Rect{0, 0, 320, 480});
    Bitmap::RGBA behindColour = rgba(c.behind);
    behind->setBackgroundColor(
        Color::rgba(behindColour.r / 255.0, behindColour.g / 255.0, behindColour.b / 255.0));
    behind->addSubview(webView);
    webView->setOpaque(c.opaque);
    if (c.viewBackground)
        webView->setBackgroundColor(*c.viewBackground);
    loadHTML(c.page);

    const platform::Size size{320, 480};
    Bitmap with = platform::ScreenPicture::renderView(*behind, size);
    EXPECT_EQ(with.pixel(300, 460), rgba(c.canvas)) << c.name;

    auto body = webView->document()->body();
    auto content = body->children();
    for (const auto& child : content)
        body->removeChild(child.get());
    Bitmap without = platform::ScreenPicture::renderView(*behind, size);
    int standingOut = 0;
    for (int y = 0; y < with.height; ++y)
        for (int x = 0; x < with.width; ++x)
            if (!(with.pixel(x, y) == without.pixel(x, y)) &&
                contrast(with.pixel(x, y), without.pixel(x, y)) >= 3)
                ++standingOut;
    EXPECT_GE(standingOut, 20) << c.name << ": the text does not stand out";
}

INSTANTIATE_TEST_SUITE_P(Pages, WebViewPicture, ::testing::ValuesIn(kCases));

using WebViewPictureLayout = webtest::WebViewTest;

TEST_F(WebViewPictureLayout, LongTextWrapsInsideTheViewWidth) {
    webView->setFrame({0, 0, 200, 300});
    loadHTML("<p>" + std::string(40, 'w') +
             " and then many more words that a narrow view must wrap onto lines</p>");
    Bitmap picture = platform::ScreenPicture::renderView(*webView, {260, 300});
    int rightmost = -1, lowest = -1;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (luminance(picture.pixel(x, y)) < 0.5 && picture.pixel(x, y).a > 0) {
                rightmost = std::max(rightmost, x);
                lowest = std::max(lowest, y);
            }
    EXPECT_GE(rightmost, 0) << "no text drawn";
    EXPECT_LT(rightmost, 200) << "text runs past the view's right edge";
    EXPECT_GT(lowest, 3 * platform::WebView::kPageFontSize) << "the words are not wrapped onto more lines";
}

// The rows of ink (dark pixels) of a picture, as runs of rows: each block of text is one run
// or more (one per line), the blank between two blocks a gap between runs.
struct InkRun {
    int top, bottom; // rows, inclusive
};
std::vector<InkRun> inkRuns(const Bitmap& picture) {
    std::vector<InkRun> runs;
    for (int y = 0; y < picture.height; ++y) {
        bool ink = false;
        for (int x = 0; x < picture.width && !ink; ++x)
            ink = picture.pixel(x, y).a > 0 && luminance(picture.pixel(x, y)) < 0.5;
        if (!ink)
            continue;
        if (!runs.empty() && runs.back().bottom >= y - 1)
            runs.back().bottom = y;
        else
            runs.push_back({y, y});
    }
    return runs;
}

// A page that gives no sizes of its own is set as a browser sets it: headings larger and
// bold, paragraphs and headings apart by their margins (the larger of two neighbours'), the
// first block's top margin merged with the body's, and blocks without margins (divisions,
// text straight in the body) line under line.
TEST_F(WebViewPictureLayout, HeadingsAreLargerAndBlocksStandApartByTheirMargins) {
    webView->setFrame({0, 0, 320, 400});
    loadHTML("<body><h1>Heading</h1><p>First paragraph</p><p>Second paragraph</p></body>");
    auto runs = inkRuns(platform::ScreenPicture::renderView(*webView, {320, 400}));
    ASSERT_EQ(runs.size(), 3u);
    const double size = platform::WebView::kPageFontSize;
    const int heading = runs[0].bottom - runs[0].top, paragraph = runs[1].bottom - runs[1].top;
    EXPECT_GT(heading, 1.6 * paragraph) << "the heading is set at twice the text's size";
    // The heading's margin (0.67 of its size) stands above it, not the body's 8 points alone.
    EXPECT_GT(runs[0].top, 0.67 * 2 * size);
    // A paragraph's margin (its text's size) stands between the two paragraphs, and the
    // heading's, the larger, between the heading and the first.
    EXPECT_GE(runs[2].top - runs[1].bottom, size);
    EXPECT_GE(runs[1].top - runs[0].bottom, 0.67 * 2 * size);

    loadHTML("<body><div>One</div><div>Two</div>Three</body>");
    runs = inkRuns(platform::ScreenPicture::renderView(*webView, {320, 400}));
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_LT(runs[0].top, 0.67 * 2 * size) << "plain text starts at the body's margin";
    const double lineHeight = runs[2].top - runs[1].top;
    EXPECT_LT(lineHeight, 1.5 * size) << "blocks without margins follow line under line";
    EXPECT_NEAR(runs[1].top - runs[0].top, lineHeight, 1);
}

// Each block takes the colour its text takes on the device: the nearest element that gives
// one (inline style, the sheets' simple rules by specificity and then order, a font colour),
// else the page's.
TEST_F(WebViewPictureLayout, EachBlockTakesTheColourOfTheElementsAroundIt) {
    struct Row {
        const char* name;
        const char* page;
        unsigned colour; // of the block "x"
    };
    const Row rows[] = {
        {"the page's colour", R"(<body style="color:#00ff00"><p>x</p></body>)", 0x00ff00},
        {"an id rule on a link", R"(<style>a#ad { color: #ffffff; }</style><div><a id="ad">x</a></div>)",
         0xffffff},
        {"a class rule", R"(<style>.hot { color: red }</style><p class="big hot">x</p>)", 0xff0000},
        {"a class that only begins the same", R"(<style>.hot { color: red }</style><p class="hotter">x</p>)",
         0x000000},
        {"the id beats the tag, whatever the order",
         R"(<style>#a { color: navy } p { color: red }</style><p id="a">x</p>)", 0x000080},
        {"the later of equals", R"(<style>p { color: red } p { color: navy }</style><p>x</p>)", 0x000080},
        {"inline style beats the sheet",
         R"(<style>#a { color: red }</style><p id="a" style="color:#0000ff">x</p>)", 0x0000ff},
        {"inherited from a division", R"(<div style="color:teal"><p><span>x</span></p></div>)", 0x008080},
        {"a font colour", R"(<p><font color="#ff0000">x</font></p>)", 0xff0000},
        {"a link the page does not colour is blue", R"(<body style="color:white"><p><a href="#">x</a></p>)",
         0x0000ee},
        {"an anchor without an address is no link", R"(<body style="color:white"><p><a name="n">x</a></p>)",
         0xffffff},
        {"a link's own colour", R"(<style>a { color: #ffffff }</style><p><a href="#">x</a></p>)", 0xffffff},
        {"a selector of more than one compound is left out",
         R"(<style>body:not(.w) p { color: red } div p { color: red }</style><div><p>x</p></div>)", 0x000000},
    };
    for (const auto& row : rows) {
        loadHTML(row.page);
        auto blocks = platform::visiblePageBlocks(*webView->document());
        ASSERT_EQ(blocks.size(), 1u) << row.name;
        EXPECT_EQ(blocks[0].text, "x") << row.name;
        const Color& c = blocks[0].color;
        EXPECT_EQ((unsigned(std::lround(c.red * 255)) << 16) | (unsigned(std::lround(c.green * 255)) << 8) |
                      unsigned(std::lround(c.blue * 255)),
                  row.colour)
            << row.name;
    }

    // In the picture: a banner whose link is coloured by its rule stands out on a dark canvas.
    webView->setFrame({0, 0, 320, 50});
    loadHTML(R"(<style>a#ad { color: #ffffff; }</style><body style="background:#000000"><div>)"
             R"(<a id="ad" href="#">Carry every file</a></div></body>)");
    Bitmap picture = platform::ScreenPicture::renderView(*webView, {320, 50});
    int standingOut = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            standingOut += contrast(picture.pixel(x, y), rgba(0x000000)) >= 3;
    EXPECT_GE(standingOut, 20) << "the link's text does not show on the dark canvas";
}

TEST(PageColors, ParseAsPagesWriteThem) {
    struct Row {
        const char* text;
        std::optional<Color> colour;
    };
    const Row rows[] = {
        {"#fff", Color::rgba(1, 1, 1)},
        {"#000080", Color::rgba(0, 0, 128 / 255.0)},
        {" Navy ", Color::rgba(0, 0, 128 / 255.0)},
        {"rgb(255, 0, 0)", Color::rgba(1, 0, 0)},
        {"rgba(0,0,0,0.5)", Color::rgba(0, 0, 0, 0.5)},
        {"rgb(100%, 0%, 0%)", Color::rgba(1, 0, 0)},
        {"transparent", Color::clearColor()},
        {"#12", std::nullopt},
        {"#gggggg", std::nullopt},
        {"rgb(1,2)", std::nullopt},
        {"url(x.png)", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        auto parsed = platform::parsePageColor(row.text);
        ASSERT_EQ(parsed.has_value(), row.colour.has_value()) << row.text;
        if (parsed) {
            EXPECT_NEAR(parsed->red, row.colour->red, 1e-9) << row.text;
            EXPECT_NEAR(parsed->green, row.colour->green, 1e-9) << row.text;
            EXPECT_NEAR(parsed->blue, row.colour->blue, 1e-9) << row.text;
            EXPECT_NEAR(parsed->alpha, row.colour->alpha, 1e-9) << row.text;
        }
    }
}

} // namespace
