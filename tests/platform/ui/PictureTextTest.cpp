#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "UiTestSupport.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/ScreenPicture.h"

using namespace platform;

namespace {

using RGBA = Bitmap::RGBA;

class PictureText : public uitest::UiTest {};

// The columns of `picture` inside [x0, x1) × [y0, y1) that hold any dark pixel.
struct Ink {
    int left = -1, right = -1, top = -1, bottom = -1;
    bool any() const { return left >= 0; }
};
Ink inkIn(const Bitmap& picture, int x0, int y0, int x1, int y1) {
    Ink ink;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            if (picture.pixel(x, y).r >= 128)
                continue;
            if (!ink.any() || x < ink.left)
                ink.left = x;
            if (x > ink.right)
                ink.right = x;
            if (ink.top < 0)
                ink.top = y;
            ink.bottom = y;
        }
    return ink;
}

std::shared_ptr<Label> blackLabel(const Rect& frame, std::string text, Font font) {
    auto label = std::make_shared<Label>(frame);
    label->setText(std::move(text));
    label->setFont(font);
    label->setTextColor(Color::blackColor());
    label->setTextAlignment(TextAlignment::Center);
    return label;
}

} // namespace

TEST_F(PictureText, FittedFontSizeShrinksOnlyAsFarAsNeeded) {
    const Font bold17 = Font::boldSystemFont(17);
    const std::string title = "Downloading your documents";
    struct Case {
        const char* what;
        std::string text;
        Size size;
        int lines;
        double minimum;
        double expectedAtLeast, expectedAtMost;
    } cases[] = {
        {"fits already", "Hi", {200, 40}, 1, 5, 17, 17},
        {"no minimum keeps the size", title, {60, 40}, 1, 0, 17, 17},
        {"a minimum above the size keeps the size", title, {60, 40}, 1, 30, 17, 17},
        {"one line shrinks", title, {120, 40}, 1, 5, 5.01, 16.99},
        {"stops at the minimum", title, {10, 40}, 1, 5, 5, 5},
        {"two lines shrink less than one", title, {120, 80}, 2, 5, 5.01, 17},
    };
    for (const auto& c : cases) {
        double size = ScreenPicture::fittedFontSize(c.text, bold17, c.size, c.lines, c.minimum);
        EXPECT_GE(size, c.expectedAtLeast) << c.what;
        EXPECT_LE(size, c.expectedAtMost) << c.what;
    }
    double oneLine = ScreenPicture::fittedFontSize(title, bold17, {120, 80}, 1, 5);
    double twoLines = ScreenPicture::fittedFontSize(title, bold17, {120, 80}, 2, 5);
    double wider = ScreenPicture::fittedFontSize(title, bold17, {180, 80}, 1, 5);
    EXPECT_GT(twoLines, oneLine);
    EXPECT_GT(wider, oneLine);
    // The size found is the largest that fits: half a point more no longer does.
    EXPECT_LT(ScreenPicture::fittedFontSize(title, Font::boldSystemFont(oneLine + 0.5), {120, 80}, 1, 1),
              oneLine + 0.5);
    // A word wider than the line makes even many lines shrink.
    EXPECT_LT(ScreenPicture::fittedFontSize("Incomprehensibilities", bold17, {60, 200}, 0, 5), 17);
}

TEST_F(PictureText, ALabelThatAdjustsItsFontFitsItsWidthInThePicture) {
    auto root = std::make_shared<View>(Rect(0, 0, 200, 40));
    root->setBackgroundColor(Color::whiteColor());
    auto label = blackLabel(Rect(50, 0, 40, 40), "Settings", Font::boldSystemFont(17));
    label->setBackgroundColor(Color::whiteColor());
    root->addSubview(label);

    // At its own size the word is wider than the label: its start shows, ending in "…", with
    // no letter cut by the label's edges.
    Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
    Ink cut = inkIn(picture, 50, 0, 90, 40);
    ASSERT_TRUE(cut.any());
    EXPECT_GT(cut.left, 50);
    EXPECT_LT(cut.right, 89);
    auto cutLines = ScreenPicture::shownLines(ScreenPicture::compose(*label).paintOps().back());
    ASSERT_EQ(cutLines.size(), 1u);
    EXPECT_TRUE(cutLines[0].ends_with("\xE2\x80\xA6")) << cutLines[0];

    label->setAdjustsFontSizeToFitWidth(true);
    label->setMinimumFontSize(5);
    ASSERT_EQ(ScreenPicture::compose(*label).paintOps().back().minimumFontSize, 5);
    picture = ScreenPicture::renderView(*root, root->bounds().size);
    Ink fitted = inkIn(picture, 50, 0, 90, 40);
    ASSERT_TRUE(fitted.any());
    // The whole word shows, smaller: its ink no longer spans the label edge to edge.
    EXPECT_LT(fitted.right - fitted.left, 39) << fitted.left << ".." << fitted.right;
    EXPECT_LT(fitted.bottom - fitted.top, cut.bottom - cut.top);

    // Adjusting with no minimum shrinks too; a minimum that is no number is no minimum.
    label->setMinimumFontSize(std::nan(""));
    EXPECT_EQ(label->minimumFontSize(), 0);
    EXPECT_EQ(ScreenPicture::compose(*label).paintOps().back().minimumFontSize, kSmallestFittedFontSize);
    label->setAdjustsFontSizeToFitWidth(false);
    EXPECT_EQ(ScreenPicture::compose(*label).paintOps().back().minimumFontSize, 0);
}

TEST_F(PictureText, BarTitlesAndButtonTitlesShowWhole) {
    auto root = std::make_shared<View>(Rect(0, 0, 320, 100));
    root->setBackgroundColor(Color::whiteColor());
    auto bar = std::make_shared<NavigationBar>(Rect(0, 0, 320, kNavigationBarHeight));
    bar->pushNavigationItem(std::make_shared<NavigationItem>("Documents"));
    root->addSubview(bar);
    // A button too narrow for its title at the title's own size.
    auto button = std::make_shared<Button>(Rect(100, 60, 53, 30));
    button->setTitle("Settings");
    button->setTitleColor(Color::blackColor());
    root->addSubview(button);

    Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
    // The white title shows on the grey bar, which shows around its letters.
    const RGBA barGrey = picture.pixel(2, 2);
    int light = 0, grey = 0;
    for (int y = 0; y < 44; ++y)
        for (int x = 100; x < 220; ++x) {
            light += picture.pixel(x, y).r > 220;
            grey += picture.pixel(x, y) == barGrey;
        }
    EXPECT_GT(light, 40);
    EXPECT_GT(grey, 44 * 120 / 2);
    // The title shrinks into its button instead of running past both of its edges.
    Ink ink = inkIn(picture, 100, 60, 153, 90);
    ASSERT_TRUE(ink.any());
    EXPECT_FALSE(ink.left == 100 && ink.right == 152) << ink.left << ".." << ink.right;
    EXPECT_LT(ScreenPicture::compose(*button).paintOps().back().minimumFontSize, button->titleLabel().font().pointSize);
}

// The platform's bar keeps its title whole beside a wide left item: centred when it fits
// between the items there, else moved off the centre as little as keeps it whole; a title
// wider than all the room stays inside the room.
TEST_F(PictureText, ABarTitleBesideAWideItemStaysWholeAndCentredWhereItCan) {
    // The white ink of a bar's title in row band [0, 44).
    auto titleInk = [](const Bitmap& picture, int width) {
        Ink ink;
        for (int y = 0; y < 44; ++y)
            for (int x = 0; x < width; ++x)
                if (picture.pixel(x, y).r > 220) {
                    if (!ink.any() || x < ink.left)
                        ink.left = x;
                    ink.right = std::max(ink.right, x);
                }
        return ink;
    };
    auto picture = [](double width, const std::string& title, bool withItem, double* leftItemEnd) {
        auto bar = std::make_shared<NavigationBar>(Rect(0, 0, width, kNavigationBarHeight));
        auto item = std::make_shared<NavigationItem>(title);
        if (withItem)
            item->setLeftBarButtonItem(BarButtonItem::withTitle("Dismiss", BarButtonItemStyle::Plain));
        bar->pushNavigationItem(item);
        bar->layoutIfNeeded();
        if (leftItemEnd)
            *leftItemEnd = bar->subviews().empty() ? 0 : [&] {
                double end = 0;
                for (const auto& v : bar->subviews())
                    if (!std::dynamic_pointer_cast<Label>(v))
                        end = std::max(end, v->frame().maxX());
                return end;
            }();
        return ScreenPicture::renderView(*bar, bar->bounds().size);
    };
    struct Case {
        const char* title;
        enum { Centred, Whole, InsideTheRoom } expect;
    } cases[] = {
        {"Ads", Case::Centred},
        {"Advertisement", Case::Whole},
        {"An advertisement with a very long title indeed", Case::InsideTheRoom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        double itemEnd = 0;
        Ink shown = titleInk(picture(320, c.title, true, &itemEnd), 320);
        ASSERT_TRUE(shown.any());
        ASSERT_GT(itemEnd, 0);
        // Clear of the left item and of the bar's right edge.
        EXPECT_GT(shown.left, itemEnd);
        EXPECT_LT(shown.right, 319);
        // The same title alone on a bar wide enough for it.
        Ink alone = titleInk(picture(1000, c.title, false, nullptr), 1000);
        ASSERT_TRUE(alone.any());
        const int wholeWidth = alone.right - alone.left;
        switch (c.expect) {
        case Case::Centred:
            EXPECT_NEAR((shown.left + shown.right) / 2.0, 160, 2);
            EXPECT_NEAR(shown.right - shown.left, wholeWidth, 1);
            break;
        case Case::Whole:
            EXPECT_NEAR(shown.right - shown.left, wholeWidth, 1) << "the title is cut";
            EXPECT_GT((shown.left + shown.right) / 2.0, 160) << "it moves away from the left item";
            break;
        case Case::InsideTheRoom:
            EXPECT_LT(shown.right - shown.left, wholeWidth);
            break;
        }
    }
}

TEST_F(PictureText, NamedFacesAreUsedWhereInstalled) {
    auto picture = [this](const Font& font) {
        auto root = std::make_shared<View>(Rect(0, 0, 200, 40));
        root->setBackgroundColor(Color::whiteColor());
        root->addSubview(blackLabel(Rect(0, 0, 200, 40), "Hamburgefonstiv", font));
        return ScreenPicture::renderView(*root, root->bounds().size).pixels;
    };
    const auto plain = picture(Font::systemFont(20));
    const auto serif = picture(Font::named("DejaVu Serif", 20));
    EXPECT_NE(serif, plain);
    struct Case {
        const char* name;
        Font same;
    } cases[] = {
        // Family names as the platform writes them, with the style after a dash.
        {"DejaVuSerif", Font::named("DejaVu Serif", 20)},
        {"DejaVuSerif-Bold", Font{"DejaVu Serif", 20, true}},
        {"DejaVuSans-Bold", Font::boldSystemFont(20)},
        // A face that is not installed falls back to the plain face.
        {"NoSuchFace-Regular", Font::systemFont(20)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(picture(Font::named(c.name, 20)), picture(c.same)) << c.name;
    EXPECT_NE(picture(Font::named("DejaVuSerif-Italic", 20)), serif);
    EXPECT_NE(picture(Font::named("Courier", 20)), plain);
}

// A label's text that does not fit ends its last shown line in "…": the line shows the start
// of what follows, cut between characters, and fits the label's width, so no letter is cut by
// the label's edge. Text that fits is shown whole.
TEST_F(PictureText, ALabelEndsACutLineInAnEllipsis) {
    const std::string ellipsis = "\xE2\x80\xA6";
    const std::string longName = "A very long file name that goes on and on.txt";
    // "é" written as e and a combining accent: the cut never parts the two.
    std::string accents;
    for (int i = 0; i < 30; ++i)
        accents += "e\xCC\x81";
    struct Case {
        const char* what;
        std::string text;
        Rect frame;
        int lines;
        bool adjusts;
        std::size_t shownLines; // lines the picture shows
        bool cut;               // the last one ends in the ellipsis
    } cases[] = {
        {"one line, too long", longName, {8, 0, 250, 35}, 1, false, 1, true},
        {"one line that fits", "short.txt", {8, 0, 250, 35}, 1, false, 1, false},
        {"two lines, more text", longName + " " + longName, {8, 0, 150, 60}, 2, false, 2, true},
        {"as many lines as the height holds", longName + " " + longName, {8, 0, 150, 44}, 0, false, 2, true},
        {"paragraphs past the last line",
         "first line\nsecond line\nthird line",
         {8, 0, 200, 44},
         0,
         false,
         2,
         true},
        {"shrunk to its minimum and still too long", longName, {8, 0, 120, 35}, 1, true, 1, true},
        {"combining accents", accents, {8, 0, 100, 35}, 1, false, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto root = std::make_shared<View>(Rect(0, 0, c.frame.maxX() + 20, c.frame.maxY() + 20));
        root->setBackgroundColor(Color::whiteColor());
        auto label = blackLabel(c.frame, c.text, Font::systemFont(17));
        label->setTextAlignment(TextAlignment::Left);
        label->setNumberOfLines(c.lines);
        label->setAdjustsFontSizeToFitWidth(c.adjusts);
        label->setMinimumFontSize(c.adjusts ? 12 : 0);
        root->addSubview(label);

        auto ops = ScreenPicture::compose(*label).paintOps();
        ASSERT_FALSE(ops.empty());
        const DrawOp& text = ops.back();
        ASSERT_EQ(text.kind, DrawOp::Kind::Text);
        auto lines = ScreenPicture::shownLines(text);
        ASSERT_EQ(lines.size(), c.shownLines) << ::testing::PrintToString(lines);
        const std::string& last = lines.back();
        EXPECT_EQ(last.ends_with(ellipsis), c.cut) << last;
        // The lines are the text's own start (line breaks set as breaks or spaces), then the ellipsis.
        std::string shown;
        for (const auto& line : lines)
            shown += line;
        if (c.cut)
            shown.resize(shown.size() - ellipsis.size());
        std::string flat = c.text, flatShown = shown;
        for (std::string* s : {&flat, &flatShown})
            s->erase(std::remove_if(s->begin(), s->end(), [](char ch) { return ch == ' ' || ch == '\n'; }),
                     s->end());
        EXPECT_EQ(flat.rfind(flatShown, 0), 0u) << shown;
        if (c.cut) {
            ASSERT_LT(flatShown.size(), flat.size());
            // Cut between characters: what follows is not an accent of the last one shown.
            EXPECT_NE(flat.substr(flatShown.size(), 2), "\xCC\x81");
        } else {
            EXPECT_EQ(flatShown, flat);
        }
        // Every shown line fits the label, at the size the picture sets it.
        double size =
            ScreenPicture::fittedFontSize(c.text, text.font, text.rect.size, c.lines, text.minimumFontSize);
        for (const auto& line : lines)
            EXPECT_LE(ScreenPicture::textWidth(line, Font::systemFont(size)), c.frame.width() + 0.01) << line;

        // In the picture no letter is cut by the label's edge: the ink keeps off its last columns.
        Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
        Ink ink = inkIn(picture, int(c.frame.minX()), int(c.frame.minY()), int(c.frame.maxX()),
                        int(c.frame.maxY()));
        ASSERT_TRUE(ink.any());
        EXPECT_LT(ink.right, int(c.frame.maxX()) - 1) << "the text runs into the label's edge";
    }
}
