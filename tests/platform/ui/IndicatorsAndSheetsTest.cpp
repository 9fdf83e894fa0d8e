#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextRenderer.h"

using namespace platform;

namespace {
class IndicatorsAndSheets : public uitest::UiTest {};
} // namespace

TEST_F(IndicatorsAndSheets, ActivityIndicatorSizesByStyleAndHidesWhenStopped) {
    struct Case {
        ActivityIndicatorViewStyle style;
        double side;
        Color color;
    };
    for (auto c : {Case{ActivityIndicatorViewStyle::WhiteLarge, 37, Color::whiteColor()},
                   Case{ActivityIndicatorViewStyle::White, 20, Color::whiteColor()},
                   Case{ActivityIndicatorViewStyle::Gray, 20, Color::grayColor()}}) {
        ActivityIndicatorView spinner(c.style);
        EXPECT_EQ(spinner.frame().size, (Size{c.side, c.side}));
        EXPECT_EQ(spinner.color(), c.color);
        EXPECT_TRUE(spinner.isHidden());
    }

    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorViewStyle::WhiteLarge);
    spinner->startAnimating();
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isHidden());
    spinner->stopAnimating();
    EXPECT_TRUE(spinner->isHidden());
    // Not hiding when stopped shows the still spinner at once.
    spinner->setHidesWhenStopped(false);
    EXPECT_FALSE(spinner->isHidden());
    spinner->startAnimating();
    spinner->stopAnimating();
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_FALSE(spinner->isAnimating());
    // The style's size follows a change of style.
    spinner->setActivityIndicatorViewStyle(ActivityIndicatorViewStyle::Gray);
    EXPECT_EQ(spinner->bounds().size, (Size{20, 20}));
}

namespace {
struct ValueLog {
    std::vector<int> values;
    void changed(Control& sender) { values.push_back(static_cast<SegmentedControl&>(sender).selectedSegmentIndex()); }
};
} // namespace

TEST_F(IndicatorsAndSheets, SegmentedControlWidthsAndValueChangedTaps) {
    auto control = std::make_shared<SegmentedControl>(
        std::vector<SegmentedControl::Item>{Image::solid(10, 10, 0, 0, 0, 255, "back.png"), std::string("Fwd")});
    control->setSegmentedControlStyle(SegmentedControlStyle::Bar);
    control->setFrame(Rect(80, 0, 200, 30));
    control->setWidth(40, 0);
    EXPECT_EQ(control->rectForSegmentAtIndex(0), Rect(0, 0, 40, 30));
    EXPECT_EQ(control->rectForSegmentAtIndex(1), Rect(40, 0, 160, 30));
    EXPECT_EQ(control->imageForSegmentAtIndex(0)->name(), "back.png");
    EXPECT_EQ(control->titleForSegmentAtIndex(1), "Fwd");
    EXPECT_EQ(control->segmentAtPoint({39, 5}), 0);
    EXPECT_EQ(control->segmentAtPoint({201, 5}), SegmentedControl::NoSegment);

    auto log = std::make_shared<ValueLog>();
    control->addTarget(log, &ValueLog::changed, ControlEvent::ValueChanged);
    auto window = makeKeyWindow();
    window->addSubview(control);

    // Real touches through the window select the segment under the finger.
    EXPECT_TRUE(control->tapSegment(1));
    EXPECT_EQ(control->selectedSegmentIndex(), 1);
    // Momentary: the action sees the pressed segment, then the selection is gone.
    control->setMomentary(true);
    EXPECT_TRUE(control->tapSegment(0));
    EXPECT_EQ(control->selectedSegmentIndex(), SegmentedControl::NoSegment);
    EXPECT_EQ(log->values, (std::vector<int>{1, 0}));
    // A disabled segment takes no tap; setting the selection from code sends nothing.
    control->setEnabled(false, 0);
    EXPECT_FALSE(control->tapSegment(0));
    control->setSelectedSegmentIndex(1);
    control->setSelectedSegmentIndex(7);
    EXPECT_EQ(control->selectedSegmentIndex(), 1);
    EXPECT_EQ(log->values.size(), 2u);
    EXPECT_NE(TextRenderer::renderScreen().find("<<back.png>|*Fwd*>"), std::string::npos);
}

// A control made from its items keeps fitting them as their widths are set, so a bar that
// places it by its frame keeps every segment on the bar: the last one shows whole and takes a
// tap at the bar's right end.
TEST_F(IndicatorsAndSheets, AFittedControlGrowsWithItsSegmentWidthsAndStaysOnItsBar) {
    auto control = std::make_shared<SegmentedControl>(std::vector<SegmentedControl::Item>{
        Image::solid(8, 10, 0, 0, 0, 255, "back.png"), Image::solid(8, 10, 0, 0, 0, 255, "forward.png")});
    control->setSegmentedControlStyle(SegmentedControlStyle::Bar);
    control->setWidth(40, 0);
    control->setWidth(40, 1);
    EXPECT_EQ(control->frame().width(), 80);
    EXPECT_EQ(control->rectForSegmentAtIndex(1), Rect(40, 0, 40, SegmentedControl::kBarHeight));

    auto bar = std::make_shared<NavigationBar>(Rect(0, 0, 320, kNavigationBarHeight));
    auto item = std::make_shared<NavigationItem>();
    item->setRightBarButtonItem(BarButtonItem::withCustomView(control));
    bar->pushNavigationItem(item);
    auto window = makeKeyWindow();
    window->addSubview(bar);
    bar->layoutIfNeeded();
    for (int segment : {0, 1}) {
        Rect onBar = control->convertRectTo(control->rectForSegmentAtIndex(segment), bar.get());
        EXPECT_LE(onBar.maxX(), 320) << segment;
        EXPECT_GE(onBar.minX(), 0) << segment;
    }
    int pressed = SegmentedControl::NoSegment;
    control->addAction(
        [&](Control& sender) { pressed = static_cast<SegmentedControl&>(sender).selectedSegmentIndex(); },
        ControlEvent::ValueChanged, this);
    EXPECT_TRUE(control->tapSegment(1));
    EXPECT_EQ(pressed, 1);

    // A width its owner gave it stays as given.
    control->setFrame(Rect(0, 0, 200, SegmentedControl::kBarHeight));
    control->setWidth(30, 0);
    EXPECT_EQ(control->frame().width(), 200);
}

TEST_F(IndicatorsAndSheets, SegmentInsertionAndRemovalKeepTheSelectionOnItsSegment) {
    SegmentedControl control({std::string("A"), std::string("B")});
    control.setSelectedSegmentIndex(1);
    control.insertSegmentWithTitle("Z", 0);
    EXPECT_EQ(control.selectedSegmentIndex(), 2);
    control.insertSegmentWithTitle("end", 99);
    EXPECT_EQ(control.titleForSegmentAtIndex(3), "end");
    control.removeSegmentAtIndex(2);
    EXPECT_EQ(control.selectedSegmentIndex(), SegmentedControl::NoSegment);
    control.removeSegmentAtIndex(42);
    EXPECT_EQ(control.numberOfSegments(), 3);
}

namespace {
class SheetRecorder : public ActionSheetDelegate {
public:
    std::vector<std::string> calls;
    void actionSheetClickedButtonAtIndex(ActionSheet&, int index) override {
        calls.push_back("clicked " + std::to_string(index));
    }
    void willPresentActionSheet(ActionSheet&) override { calls.push_back("will-present"); }
    void didPresentActionSheet(ActionSheet&) override { calls.push_back("did-present"); }
    void actionSheetWillDismissWithButtonIndex(ActionSheet&, int index) override {
        calls.push_back("will-dismiss " + std::to_string(index));
    }
    void actionSheetDidDismissWithButtonIndex(ActionSheet&, int index) override {
        calls.push_back("did-dismiss " + std::to_string(index));
    }
};
} // namespace

TEST_F(IndicatorsAndSheets, ActionSheetOrdersItsButtonsAndTellsItsDelegate) {
    auto recorder = std::make_shared<SheetRecorder>();
    auto sheet = ActionSheet::create("Share", recorder, "Cancel", "Delete", {"Mail", "Copy"});
    EXPECT_EQ(sheet->numberOfButtons(), 4);
    EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
    EXPECT_EQ(sheet->firstOtherButtonIndex(), 1);
    EXPECT_EQ(sheet->cancelButtonIndex(), 3);
    EXPECT_EQ(sheet->buttonTitleAtIndex(3), "Cancel");
    EXPECT_EQ(sheet->buttonTitleAtIndex(4), "");

    auto window = makeKeyWindow();
    auto content = std::make_shared<View>(Rect(0, 100, 320, 200));
    window->addSubview(content);
    std::weak_ptr<ActionSheet> weak = sheet;
    sheet->showInView(*content);
    sheet.reset(); // the window holds it while it is shown
    ASSERT_FALSE(weak.expired());
    EXPECT_TRUE(weak.lock()->isVisible());
    EXPECT_EQ(weak.lock()->frame().maxY(), window->bounds().maxY());
    clock_.advance(0);

    // A tap on a button's view, as a finger would.
    ASSERT_TRUE(TextRenderer::tap("Copy"));
    EXPECT_FALSE(weak.lock()->isVisible());
    clock_.advance(0);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"will-present", "did-present", "clicked 2", "will-dismiss 2",
                                                         "did-dismiss 2"}));
    EXPECT_TRUE(weak.expired());
}

TEST_F(IndicatorsAndSheets, ActionSheetDismissedFromCodeSkipsTheClick) {
    auto recorder = std::make_shared<SheetRecorder>();
    auto sheet = ActionSheet::create(std::nullopt, recorder);
    sheet->addButtonWithTitle("Reload");
    sheet->addButtonWithTitle("Skip");
    auto window = makeKeyWindow();
    sheet->showInView(*window);
    EXPECT_FALSE(sheet->pressButton(5));
    sheet->dismissWithClickedButtonIndex(-1, false);
    sheet->dismissWithClickedButtonIndex(-1, false); // already gone: nothing more
    EXPECT_FALSE(sheet->pressButton(0));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"will-present", "will-dismiss -1", "did-dismiss -1"}));
    EXPECT_EQ(sheet->superview(), nullptr);
}
