#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Toolbar.h"

using namespace platform;

namespace {

class Rendering : public uitest::UiTest {
protected:
    std::shared_ptr<Label> addLabel(View& parent, Rect frame, std::string text) {
        auto label = std::make_shared<Label>(frame);
        label->setText(std::move(text));
        parent.addSubview(label);
        return label;
    }
};

} // namespace

TEST_F(Rendering, ASmallTreeLandsInTheCellsItsPointsScaleTo) {
    auto window = makeKeyWindow();
    // One cell is 4 x 16 points: (16, 32) is column 4, row 2.
    addLabel(*window, Rect(16, 32, 60, 16), "Free Memory: 2.00 GB");
    auto button = std::make_shared<Button>(Rect(0, 64, 80, 16));
    button->setTitle("OK");
    window->addSubview(button);
    auto toggle = std::make_shared<Switch>(Rect(200, 96, 0, 0));
    toggle->setOn(true);
    window->addSubview(toggle);
    auto field = std::make_shared<TextField>(Rect(0, 128, 160, 16));
    field->setSecureTextEntry(true);
    field->setText("123");
    window->addSubview(field);
    auto placeholder = std::make_shared<TextField>(Rect(0, 144, 160, 16));
    placeholder->setPlaceholder("Pass key");
    window->addSubview(placeholder);
    auto image = std::make_shared<ImageView>(Image::solid(80, 16, 255, 0, 0, 255, "upgrade.png"));
    image->setFrame(Rect(0, 160, 160, 16));
    window->addSubview(image);

    auto canvas = TextRenderer::renderCanvas();
    EXPECT_EQ(canvas.columns(), 80);
    EXPECT_EQ(canvas.rows(), 30);
    EXPECT_EQ(canvas.row(2), "    Free Memory: 2."); // cut to the label's 15 columns
    EXPECT_EQ(canvas.row(4), "        [OK]");
    EXPECT_EQ(canvas.row(6).substr(50), "         [on]");
    EXPECT_EQ(canvas.row(8), "•••");
    EXPECT_EQ(canvas.row(9), "(Pass key)");
    EXPECT_EQ(canvas.row(10), "             <upgrade.png>");
}

TEST_F(Rendering, HiddenAndTransparentViewsAreSkippedWithTheirSubviews) {
    auto window = makeKeyWindow();
    auto panel = std::make_shared<View>(Rect(0, 0, 320, 100));
    window->addSubview(panel);
    addLabel(*panel, Rect(0, 0, 200, 16), "inside the panel");
    addLabel(*window, Rect(0, 200, 200, 16), "faded")->setAlpha(0);
    EXPECT_NE(TextRenderer::renderScreen().find("inside the panel"), std::string::npos);
    panel->setHidden(true);
    auto screen = TextRenderer::renderScreen();
    EXPECT_EQ(screen.find("inside the panel"), std::string::npos);
    EXPECT_EQ(screen.find("faded"), std::string::npos);
}

TEST_F(Rendering, AnOpaqueViewCoversWhatLiesBelowAndClippingCutsSubviews) {
    auto window = makeKeyWindow();
    addLabel(*window, Rect(0, 0, 320, 16), "underneath");
    auto cover = std::make_shared<View>(Rect(0, 0, 20, 16));
    cover->setBackgroundColor(Color::whiteColor());
    window->addSubview(cover);
    EXPECT_EQ(TextRenderer::renderCanvas().row(0), "     neath");

    auto clip = std::make_shared<View>(Rect(0, 32, 12, 16));
    clip->setClipsToBounds(true);
    addLabel(*clip, Rect(0, 0, 200, 16), "clipped text");
    window->addSubview(clip);
    EXPECT_EQ(TextRenderer::renderCanvas().row(2), "cli");
}

TEST_F(Rendering, OnlyOverlapsThatStaySeenAreReported) {
    auto window = makeKeyWindow();
    // Two labels written into the same cells overlap while nothing covers them...
    addLabel(*window, Rect(0, 64, 200, 16), "the lower text");
    addLabel(*window, Rect(8, 64, 200, 16), "over it");
    ASSERT_FALSE(TextRenderer::overlaps().empty());
    // ...and a page laid over the whole screen hides them: nobody reads what it covers.
    auto page = std::make_shared<View>(window->bounds());
    page->setBackgroundColor(Color::whiteColor());
    addLabel(*page, Rect(0, 0, 200, 16), "Back");
    window->addSubview(page);
    EXPECT_TRUE(TextRenderer::overlaps().empty());
    // A page that leaves the row open leaves the overlap seen.
    page->setFrame(Rect(0, 0, 320, 32));
    EXPECT_FALSE(TextRenderer::overlaps().empty());
}

TEST_F(Rendering, MultiLineLabelsWrapAtWordsWithinTheirRectangle) {
    auto window = makeKeyWindow();
    auto label = addLabel(*window, Rect(0, 0, 40, 48), "There is an error. Please try again later.");
    label->setNumberOfLines(0);
    auto canvas = TextRenderer::renderCanvas();
    EXPECT_EQ(canvas.row(0), "There is");
    EXPECT_EQ(canvas.row(1), "an error.");
    EXPECT_EQ(canvas.row(2), "Please try"); // three lines fit; the rest is cut
    EXPECT_EQ(canvas.row(3), "");
}

TEST(LabelSize, LabelsOfSeveralLinesWrapAtTheOfferedWidth) {
    // Text advances kTextAdvance (8) points a character; a 17-point line is 21.25 high.
    struct Case {
        const char* text;
        int lines;
        double offeredWidth;
        Size fit;
    };
    const Case cases[] = {
        {"Loading", 0, 256, {56, 21.25}},
        {"one two three four", 1, 64, {144, 21.25}},  // a single line never wraps
        {"one two three four", 0, 64, {56, 63.75}},   // "one two", "three", "four"
        {"one two three four", 2, 64, {56, 42.5}},    // cut to its two lines
        {"first\nsecond", 0, 256, {48, 42.5}},       // line breaks count
        {"one two three four", 0, 0, {144, 21.25}},   // nothing offered: one line
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Label label(Rect(0, 0, c.offeredWidth, 300));
        label.setText(c.text);
        label.setNumberOfLines(c.lines);
        EXPECT_EQ(label.sizeThatFits(Size{c.offeredWidth, 300}), c.fit);
    }
}

TEST_F(Rendering, TapByLabelFindsControlsRowControlsAndToolbarItems) {
    auto window = makeKeyWindow();
    int refreshes = 0;
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 436, 320, 44));
    toolbar->setItems(
        {BarButtonItem::withSystemItem(BarButtonSystemItem::Refresh, [&](BarButtonItem&) { ++refreshes; }),
         BarButtonItem::flexibleSpace()});
    window->addSubview(toolbar);

    // A settings row: a label and a switch in one cell.
    auto cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "Cell");
    cell->setFrame(Rect(0, 100, 320, 44));
    auto rowLabel = std::make_shared<Label>(Rect(10, 5, 180, 31));
    rowLabel->setText("Show file size");
    auto toggle = std::make_shared<Switch>(Rect(200, 8, 94, 27));
    cell->contentView().addSubview(rowLabel);
    cell->contentView().addSubview(toggle);
    window->addSubview(cell);

    EXPECT_TRUE(TextRenderer::tap("Refresh"));
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(TextRenderer::tap("Show file size")); // taps the row's switch
    EXPECT_TRUE(toggle->isOn());
    EXPECT_FALSE(TextRenderer::tap("No such thing"));

    // Covered elements cannot be tapped.
    auto cover = std::make_shared<View>(Rect(0, 0, 320, 480));
    window->addSubview(cover);
    EXPECT_FALSE(TextRenderer::findTappable("Refresh"));
}

// The text screen brackets a button exactly when `tap` can press it by its label: a disabled
// button, or one in a view that takes no touches, shows its bare title; a button that shows
// only a sliver at the screen's edge shows its label in that sliver and is tapped there.
TEST_F(Rendering, BracketsMarkWhatTapCanPress) {
    auto window = makeKeyWindow();
    const double screenHeight = window->bounds().height();
    struct Case {
        const char* label;
        Rect frame;
        bool enabled;
        bool containerTakesTouches;
        bool pressable;
    } cases[] = {
        {"Enabled", {10, 10, 120, 30}, true, true, true},
        {"Disabled", {10, 50, 120, 30}, false, true, false},
        {"Held", {10, 90, 120, 30}, true, false, false},
        // 44 points high with only its top 8 on the screen: the middle row is off it.
        {"Sliver", {10, screenHeight - 8, 180, 44}, true, true, true},
    };
    for (const auto& c : cases) {
        auto container = std::make_shared<View>(c.frame);
        container->setUserInteractionEnabled(c.containerTakesTouches);
        auto button = std::make_shared<Button>(Rect(Point{}, c.frame.size), ButtonType::Custom);
        button->setAccessibilityLabel(c.label);
        button->setEnabled(c.enabled);
        container->addSubview(button);
        window->addSubview(container);
    }
    // A picture button goes by its picture's name.
    auto picture = std::make_shared<Button>(Rect(10, 130, 200, 30), ButtonType::Custom);
    picture->setImage(Image::solid(20, 20, 0, 0, 0, 255, "arrow.png"));
    picture->setEnabled(false);
    window->addSubview(picture);

    const std::string screen = TextRenderer::renderScreen();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string label = c.label;
        EXPECT_EQ(TextRenderer::findTappable(label).has_value(), c.pressable);
        EXPECT_EQ(screen.find("[" + label + "]") != std::string::npos, c.pressable) << screen;
        EXPECT_NE(screen.find(label), std::string::npos) << "the label does not show at all\n" << screen;
    }
    EXPECT_FALSE(TextRenderer::findTappable("arrow.png"));
    EXPECT_EQ(screen.find("[<arrow.png>]"), std::string::npos) << screen;
    EXPECT_NE(screen.find("<arrow.png>"), std::string::npos) << screen;
    picture->setEnabled(true);
    EXPECT_TRUE(TextRenderer::findTappable("arrow.png"));
    EXPECT_NE(TextRenderer::renderScreen().find("[<arrow.png>]"), std::string::npos);
}
