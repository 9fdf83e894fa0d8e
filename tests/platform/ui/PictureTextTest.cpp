#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "UiTestSupport.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
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

    // At its own size the word is wider than the label and is cut at both edges.
    Bitmap picture = ScreenPicture::renderView(*root, root->bounds().size);
    Ink cut = inkIn(picture, 50, 0, 90, 40);
    ASSERT_TRUE(cut.any());
    EXPECT_EQ(cut.left, 50);
    EXPECT_EQ(cut.right, 89);

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
