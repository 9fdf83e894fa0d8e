// Geometry of expanded ads: a custom close button's corner in each interface orientation, the
// floating panel's place next to the slot, and the rule that keeps it on screen.
#include <gtest/gtest.h>

#include "vellum/richmedia/MRCachedAd.h"
#include "vellum/richmedia/MRModalAdViewController.h"
#include "vellum/richmedia/VellumCachedCloseButton.h"

namespace richmediatest {
namespace {

using platform::Rect;
using vellum::MRModalAdViewController;

// Every offset and size differs, so a value taken from the wrong field shows.
vellum::VellumCachedCloseButton button(int vertical, int horizonal) {
    vellum::VellumCachedCloseButton b;
    b.verticalCornerPlacement = vertical;
    b.verticalCornerOffsetX = 1;
    b.verticalCornerOffsetY = 2;
    b.verticalWidth = 30;
    b.verticalHeight = 40;
    b.horizonalCornerPlacement = horizonal;
    b.horizonalCornerOffsetX = 3;
    b.horizonalCornerOffsetY = 4;
    b.horizonalWidth = 50;
    b.horizonalHeight = 60;
    return b;
}

TEST(ExpandedGeometry, CloseButtonCornerForEachOrientationAndPlacement) {
    const Rect e(100, 200, 300, 400); // x + w = 400, y + h = 600
    struct Case {
        int orientation;
        int placement;
        Rect frame;
    };
    const Case cases[] = {
        // Portrait (and anything outside 1 to 4).
        {1, 0, {401, 202, 30, 40}},
        {1, 1, {401, 602, 30, 40}},
        {1, 2, {101, 202, 30, 40}},
        {1, 3, {101, 602, 30, 40}},
        {0, 2, {101, 202, 30, 40}},
        {7, 1, {401, 602, 30, 40}},
        // Upside down.
        {2, 0, {101, 602, 30, 40}},
        {2, 1, {101, 202, 30, 40}},
        {2, 2, {401, 602, 30, 40}},
        {2, 3, {401, 202, 30, 40}},
        // Landscape left: the horizonal sizes turned, except placement 2.
        {3, 0, {400 - 60 - 4, 600 - 50 - 3, 60, 50}},
        {3, 1, {400 - 60 + 4, 203, 60, 50}},
        {3, 2, {401, 202, 30, 40}},
        {3, 3, {104, 203, 60, 50}},
        // Landscape right.
        {4, 0, {100 - 60 - 4, 203, 60, 50}},
        {4, 1, {101, 202, 30, 40}},
        {4, 2, {103, 600 - 60 - 4, 50, 60}},
        {4, 3, {400 - 50 - 4, 600 - 60 + 4, 50, 60}},
        // Another placement leaves no frame.
        {1, 4, {}},
        {3, -1, {}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::to_string(tc.orientation) + "/" + std::to_string(tc.placement));
        EXPECT_EQ(MRModalAdViewController::closeButtonFrame(button(tc.placement, tc.placement), tc.orientation, e),
                  tc.frame);
    }
    // Portrait and upside down read the vertical placement, landscape the horizonal one.
    EXPECT_EQ(MRModalAdViewController::closeButtonFrame(button(2, 0), 1, e), Rect(101, 202, 30, 40));
    EXPECT_EQ(MRModalAdViewController::closeButtonFrame(button(2, 0), 4, e), Rect(36, 203, 60, 50));
}

TEST(ExpandedGeometry, FloatingPanelAnchorsToTheSlotsCorner) {
    const Rect slot(10.7, 20.9, 100, 50); // x + w = 110.7, y + h = 70.9
    struct Case {
        int orientation;
        int corner;
        Rect frame;
    };
    // Expanded 200 by 120, offset (5, 7); anchors are cut to whole numbers.
    const Case cases[] = {
        {1, 1, {10 + 5, 20 + 7, 200, 120}},
        {1, 2, {110 + 5, 20 + 7, 200, 120}},
        {1, 3, {110 + 5, 70 + 7, 200, 120}},
        {1, 4, {10 + 5, 70 + 7, 200, 120}},
        {0, 3, {110 + 5, 70 + 7, 200, 120}},
        {1, 0, {5, 7, 200, 120}},
        {1, 5, {5, 7, 200, 120}},
        {2, 1, {10 - 5, -49 - 7, 200, 120}},  // (x, y + h − EH)
        {2, 2, {-89 - 5, -49 - 7, 200, 120}}, // (x − w, y + h − EH)
        {2, 3, {-89 - 5, -99 - 7, 200, 120}}, // (x − w, y − EH)
        {2, 4, {10 - 5, -99 - 7, 200, 120}},  // (x, y − EH)
        {3, 1, {-9 - 7, 20 + 5, 120, 200}},   // (x + w − EH, y)
        {3, 2, {-9 - 7, 70 + 5, 120, 200}},   // (x + w − EH, y + h)
        {3, 3, {-109 - 7, 70 + 5, 120, 200}}, // (x − EH, y + h)
        {3, 4, {-109 - 7, 20 + 5, 120, 200}}, // (x − EH, y)
        {4, 1, {10 + 7, 20 - 5, 120, 200}},   // (x, y)
        {4, 2, {10 + 7, -29 - 5, 120, 200}},  // (x, y − h)
        {4, 3, {110 + 7, -29 - 5, 120, 200}}, // (x + w, y − h)
        {4, 4, {110 + 7, 20 - 5, 120, 200}},  // (x + w, y)
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::to_string(tc.orientation) + "/" + std::to_string(tc.corner));
        vellum::MRCachedAd ad;
        ad.expandedWidth = 200;
        ad.expandedHeight = 120;
        ad.offsetExpandableX = 5;
        ad.offsetExpandableY = 7;
        ad.offsetExpandableCorner = tc.corner;
        EXPECT_EQ(MRModalAdViewController::floatingPanelFrame(ad, tc.orientation, slot), tc.frame);
    }
}

TEST(ExpandedGeometry, PanelIsKeptInsideTheVisibleScreen) {
    const Rect screen(0, 0, 320, 480);
    struct Case {
        Rect panel;
        int orientation;
        bool statusBar;
        Rect kept;
    };
    const Case cases[] = {
        {{0, 100, 320, 200}, 1, true, {0, 100, 320, 200}},   // inside: unchanged
        {{0, 5, 320, 200}, 1, true, {0, 20, 320, 200}},      // above the status bar: down
        {{0, -30, 320, 200}, 1, false, {0, 0, 320, 200}},    // no status bar: to the top
        {{0, 400, 320, 200}, 2, true, {0, 260, 320, 200}},   // past the bottom: up
        {{0, 0, 320, 600}, 1, true, {0, -140, 320, 600}},    // taller than the area: the bottom wins
        {{-50, 0, 200, 320}, 3, true, {20, 0, 200, 320}},    // landscape: left edge
        {{250, -40, 200, 320}, 4, false, {120, -40, 200, 320}}, // right edge; height left alone
        {{-80, 0, 200, 320}, 1, true, {-80, 20, 200, 320}},  // portrait: x left alone
    };
    for (const auto& tc : cases) {
        EXPECT_EQ(MRModalAdViewController::keptOnScreen(tc.panel, tc.orientation, tc.statusBar, screen), tc.kept);
    }
}

} // namespace
} // namespace richmediatest
