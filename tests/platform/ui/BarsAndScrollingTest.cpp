#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Toolbar.h"

using namespace platform;

namespace {
class Bars : public uitest::UiTest {};

class ScrollRecorder : public ScrollViewDelegate {
public:
    std::vector<std::string> calls;
    void scrollViewWillBeginDragging(ScrollView&) override { calls.push_back("will-begin-dragging"); }
    void scrollViewDidEndDragging(ScrollView&, bool decelerate) override {
        calls.push_back(decelerate ? "did-end-dragging, decelerating" : "did-end-dragging");
    }
    void scrollViewDidEndDecelerating(ScrollView& s) override {
        calls.push_back("did-end-decelerating at " + std::to_string(int(s.contentOffset().y)));
    }
    void scrollViewDidEndScrollingAnimation(ScrollView& s) override {
        calls.push_back("did-end-scrolling-animation at " + std::to_string(int(s.contentOffset().y)));
    }
};
} // namespace

TEST_F(Bars, ToolbarItemsAreLaidOutLeftToRightWithTheirSpaces) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 436, 320, 44));
    auto memory = std::make_shared<Button>(Rect(100, 2, 30, 40));
    auto upgrade = std::make_shared<Button>(Rect(70, 2, 140, 40));
    auto refresh = BarButtonItem::withSystemItem(BarButtonSystemItem::Refresh);
    auto fixed2 = BarButtonItem::fixedSpace(10);
    auto memoryItem = BarButtonItem::withCustomView(memory);
    auto upgradeItem = BarButtonItem::withCustomView(upgrade);
    auto fixed = BarButtonItem::fixedSpace(19);
    toolbar->setItems({refresh, fixed2, memoryItem, upgradeItem, fixed});

    Rect r = toolbar->frameForItem(*refresh);
    EXPECT_EQ(r.x(), kToolbarMargin);
    EXPECT_EQ(r.width(), kToolbarIconWidth); // drawn as an icon
    double x = r.maxX();                     // a space stands in for the spacing
    EXPECT_EQ(toolbar->frameForItem(*fixed2), Rect(x, 0, 10, 44));
    x += 10;
    EXPECT_EQ(memory->frame(), Rect(x, 2, 30, 40)); // a custom view keeps its size
    EXPECT_EQ(memory->superview(), toolbar);
    x += 30 + kToolbarItemSpacing;
    EXPECT_EQ(upgrade->frame().x(), x);

    // The editing toggle changes a fixed space and sets the items again: everything after it moves.
    fixed2->setWidth(12);
    EXPECT_EQ(memory->frame().x(), toolbar->frameForItem(*fixed2).maxX());

    // An item no longer in the bar takes its view with it.
    toolbar->setItems({refresh, upgradeItem});
    EXPECT_EQ(memory->superview(), nullptr);
    EXPECT_EQ(upgrade->superview(), toolbar);
}

TEST_F(Bars, FlexibleSpacesShareTheRoomThatIsLeft) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 44));
    auto left = BarButtonItem::fixedSpace(20);
    auto flex1 = BarButtonItem::flexibleSpace();
    auto flex2 = BarButtonItem::flexibleSpace();
    auto right = BarButtonItem::fixedSpace(20);
    toolbar->setItems({left, flex1, flex2, right});
    double room = 320 - 2 * kToolbarMargin - 40;
    EXPECT_DOUBLE_EQ(toolbar->frameForItem(*flex1).width(), room / 2);
    EXPECT_DOUBLE_EQ(toolbar->frameForItem(*right).maxX(), 320 - kToolbarMargin);
}

TEST_F(Bars, TheBackButtonIsNamedByTheScreenBelow) {
    struct Case {
        const char* name;
        std::string belowTitle;
        std::string belowBackItem;
        const char* expected;
    };
    const Case cases[] = {
        {"the title of the screen below", "Files", "", "Files"},
        {"its own back item first", "Files", "List", "List"},
        {"Back when there is no title", "", "", "Back"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bar = std::make_shared<NavigationBar>(Rect(0, 0, 320, 44));
        auto below = std::make_shared<NavigationItem>(c.belowTitle);
        if (!c.belowBackItem.empty())
            below->setBackBarButtonItem(BarButtonItem::withTitle(c.belowBackItem, BarButtonItemStyle::Plain));
        bar->pushNavigationItem(below);
        EXPECT_EQ(bar->backButton(), nullptr); // nothing to go back to yet
        bar->pushNavigationItem(std::make_shared<NavigationItem>("Help"));
        ASSERT_TRUE(bar->backButton());
        EXPECT_EQ(bar->backButton()->currentTitle(), c.expected);
        bar->topItem()->setHidesBackButton(true);
        EXPECT_EQ(bar->backButton(), nullptr);
    }
}

TEST_F(Bars, PagingSnapsADragToAPageAndReportsTheEndOnTheNextTurn) {
    auto scroll = std::make_shared<ScrollView>(Rect(0, 0, 320, 416));
    scroll->setContentSize({320, 3 * 416});
    scroll->setPagingEnabled(true);
    auto recorder = std::make_shared<ScrollRecorder>();
    scroll->setDelegate(recorder);

    scroll->simulateDrag(0, 300); // most of a page down
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 416}));
    EXPECT_EQ(recorder->calls,
              (std::vector<std::string>{"will-begin-dragging", "did-end-dragging, decelerating"}));
    clock_.drain();
    EXPECT_EQ(recorder->calls.back(), "did-end-decelerating at 416");

    scroll->simulateDrag(0, 5000); // never past the content
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 832}));
    clock_.drain();

    recorder->calls.clear();
    scroll->setContentOffset({0, 0}, true);
    EXPECT_TRUE(recorder->calls.empty());
    clock_.advance(kScrollAnimationDuration);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"did-end-scrolling-animation at 0"}));
}
