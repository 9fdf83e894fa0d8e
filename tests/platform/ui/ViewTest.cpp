#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "UiTestSupport.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

using namespace platform;

namespace {

void expectNear(Point actual, Point expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
}

void expectNear(const Rect& actual, const Rect& expected) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9);
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9);
}

} // namespace

TEST(AffineTransform, MapsPointsInTheOrderOfConcatenation) {
    const double quarter = std::numbers::pi / 2;
    struct Case {
        const char* name;
        AffineTransform t;
        Point in, out;
    };
    const Case cases[] = {
        {"identity", AffineTransform::identity(), {3, 4}, {3, 4}},
        {"translate", AffineTransform::makeTranslation(10, -2), {3, 4}, {13, 2}},
        {"scale", AffineTransform::makeScale(2, 3), {3, 4}, {6, 12}},
        // Clockwise on the screen: the x axis turns onto the y axis.
        {"rotate a quarter", AffineTransform::makeRotation(quarter), {1, 0}, {0, 1}},
        {"translate then scale",
         AffineTransform::concat(AffineTransform::makeTranslation(1, 1), AffineTransform::makeScale(2, 2)),
         {0, 0},
         {2, 2}},
        {"scale then translate",
         AffineTransform::concat(AffineTransform::makeScale(2, 2), AffineTransform::makeTranslation(1, 1)),
         {0, 0},
         {1, 1}},
        // translated() puts the new step before the existing transform.
        {"scaled().translated()", AffineTransform::makeScale(2, 2).translated(5, 0), {0, 0}, {10, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectNear(c.t.apply(c.in), c.out);
        expectNear(c.t.inverted().apply(c.out), c.in);
    }
    EXPECT_FALSE(AffineTransform::makeScale(0, 1).isInvertible());
}

TEST(Rect, IntersectionUnionAndHalfOpenContainment) {
    Rect a(0, 0, 10, 10), b(5, 5, 10, 10), far(20, 20, 1, 1);
    EXPECT_EQ(a.intersection(b), Rect(5, 5, 5, 5));
    EXPECT_EQ(a.unionWith(b), Rect(0, 0, 15, 15));
    EXPECT_TRUE(a.intersection(far).isEmpty());
    EXPECT_TRUE(a.contains({0, 0}));
    EXPECT_FALSE(a.contains({10, 5})); // the right edge is outside
    EXPECT_TRUE(Rect(10, 10, -5, -5).contains({7, 7}));
}

TEST(View, FrameCentreAndBoundsStayConsistent) {
    auto v = std::make_shared<View>(Rect(10, 20, 100, 50));
    EXPECT_EQ(v->center(), (Point{60, 45}));
    EXPECT_EQ(v->bounds(), Rect(0, 0, 100, 50));
    v->setCenter({0, 0});
    EXPECT_EQ(v->frame(), Rect(-50, -25, 100, 50));
    v->setTransform(AffineTransform::makeScale(2, 2));
    expectNear(v->frame(), Rect(-100, -50, 200, 100));
    EXPECT_EQ(v->bounds().size, (Size{100, 50})); // the transform leaves the bounds alone
}

TEST(View, HitTestingFollowsVisibilityInteractionTransformsAndBounds) {
    struct Case {
        const char* name;
        std::function<void(View& root, View& child)> setup;
        Point point;          // in the root's coordinates
        const char* expected; // "child", "root" or "none"
    };
    const Case cases[] = {
        {"inside the child", [](View&, View&) {}, {15, 15}, "child"},
        {"beside the child", [](View&, View&) {}, {50, 50}, "root"},
        {"outside the root", [](View&, View&) {}, {150, 10}, "none"},
        {"hidden child", [](View&, View& c) { c.setHidden(true); }, {15, 15}, "root"},
        {"transparent child", [](View&, View& c) { c.setAlpha(0.0); }, {15, 15}, "root"},
        {"nearly transparent child", [](View&, View& c) { c.setAlpha(0.009); }, {15, 15}, "root"},
        {"faint but visible child", [](View&, View& c) { c.setAlpha(0.02); }, {15, 15}, "child"},
        {"child without interaction",
         [](View&, View& c) { c.setUserInteractionEnabled(false); },
         {15, 15},
         "root"},
        {"root without interaction",
         [](View& r, View&) { r.setUserInteractionEnabled(false); },
         {15, 15},
         "none"},
        {"hidden root", [](View& r, View&) { r.setHidden(true); }, {15, 15}, "none"},
        // The child (10,10)-(30,30) moved 40 right by its transform now covers (50,10)-(70,30).
        {"translated child, old place",
         [](View&, View& c) { c.setTransform(AffineTransform::makeTranslation(40, 0)); },
         {15, 15},
         "root"},
        {"translated child, new place",
         [](View&, View& c) { c.setTransform(AffineTransform::makeTranslation(40, 0)); },
         {60, 15},
         "child"},
        {"child scaled up about its centre",
         [](View&, View& c) { c.setTransform(AffineTransform::makeScale(2, 2)); },
         {1, 1},
         "child"},
        // A part of the child outside the root's bounds is never reached.
        {"child sticking out", [](View&, View& c) { c.setFrame(Rect(90, 10, 40, 10)); }, {110, 15}, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = std::make_shared<View>(Rect(0, 0, 100, 100));
        auto child = std::make_shared<View>(Rect(10, 10, 20, 20));
        root->addSubview(child);
        c.setup(*root, *child);
        auto hit = root->hitTest(c.point, nullptr);
        std::string got = !hit ? "none" : hit == child ? "child" : hit == root ? "root" : "other";
        EXPECT_EQ(got, c.expected);
    }
}

TEST(View, TheFrontMostOverlappingSiblingWins) {
    auto root = std::make_shared<View>(Rect(0, 0, 100, 100));
    auto back = std::make_shared<View>(Rect(0, 0, 50, 50));
    auto front = std::make_shared<View>(Rect(0, 0, 50, 50));
    root->addSubview(back);
    root->addSubview(front);
    EXPECT_EQ(root->hitTest({10, 10}, nullptr), front);
    root->bringSubviewToFront(back.get());
    EXPECT_EQ(root->hitTest({10, 10}, nullptr), back);
    root->sendSubviewToBack(back.get());
    EXPECT_EQ(root->hitTest({10, 10}, nullptr), front);
}

TEST(View, AutoresizingSharesTheChangeAmongFlexibleParts) {
    using A = Autoresizing;
    struct Case {
        const char* name;
        unsigned mask;
        Rect start;
        Rect expected; // after the superview grows from 320x480 to 420x580
    };
    const Case cases[] = {
        {"none", A::None, Rect(10, 10, 100, 50), Rect(10, 10, 100, 50)},
        {"flexible width", A::FlexibleWidth, Rect(10, 10, 300, 50), Rect(10, 10, 400, 50)},
        {"flexible left margin", A::FlexibleLeftMargin, Rect(0, 10, 320, 53), Rect(100, 10, 320, 53)},
        // Left and right margins of 0 and 0: the change is split evenly, so the view stays centred.
        {"flexible side margins (mask 5)", A::FlexibleLeftMargin | A::FlexibleRightMargin,
         Rect(0, 383, 320, 53), Rect(50, 383, 320, 53)},
        // Margins of 10 and 30 take 1/4 and 3/4 of the change.
        {"proportional margins", A::FlexibleLeftMargin | A::FlexibleRightMargin, Rect(10, 0, 280, 10),
         Rect(35, 0, 280, 10)},
        {"width and height", A::FlexibleWidth | A::FlexibleHeight, Rect(0, 0, 320, 480),
         Rect(0, 0, 420, 580)},
        {"bottom pinned", A::FlexibleTopMargin, Rect(0, 436, 320, 44), Rect(0, 536, 320, 44)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
        auto child = std::make_shared<View>(c.start);
        child->setAutoresizingMask(c.mask);
        root->addSubview(child);
        root->setFrame(Rect(0, 0, 420, 580));
        expectNear(child->frame(), c.expected);
    }
}

TEST(View, AutoresizingCanBeSwitchedOffByTheSuperview) {
    auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
    root->setAutoresizesSubviews(false);
    auto child = std::make_shared<View>(Rect(0, 0, 320, 480));
    child->setAutoresizingMask(Autoresizing::FlexibleWidth);
    root->addSubview(child);
    root->setFrame(Rect(0, 0, 100, 100));
    EXPECT_EQ(child->frame(), Rect(0, 0, 320, 480));
}

namespace {

// Records the tree hooks a view receives.
class HookView : public View {
public:
    using View::View;
    std::vector<std::string> calls;
    void willMoveToSuperview(View* s) override {
        calls.push_back(s ? "willMoveToSuperview" : "willMoveToSuperview(nil)");
    }
    void didMoveToSuperview() override { calls.push_back("didMoveToSuperview"); }
    void willMoveToWindow(Window* w) override {
        calls.push_back(w ? "willMoveToWindow" : "willMoveToWindow(nil)");
    }
    void didMoveToWindow() override { calls.push_back("didMoveToWindow"); }
    int layouts = 0;
    void layoutSubviews() override { ++layouts; }
};

} // namespace

class ViewTree : public uitest::UiTest {};

TEST_F(ViewTree, MovesInAndOutOfAWindowAreAnnouncedToTheWholeSubtree) {
    auto window = makeKeyWindow();
    auto parent = std::make_shared<HookView>(Rect(0, 0, 100, 100));
    auto child = std::make_shared<HookView>(Rect(0, 0, 10, 10));
    parent->addSubview(child);
    EXPECT_EQ(child->calls, (std::vector<std::string>{"willMoveToSuperview", "didMoveToSuperview"}));
    child->calls.clear();

    window->addSubview(parent);
    EXPECT_EQ(child->calls, (std::vector<std::string>{"willMoveToWindow", "didMoveToWindow"}));
    EXPECT_EQ(child->window(), window);
    child->calls.clear();
    parent->calls.clear();

    parent->removeFromSuperview();
    EXPECT_EQ(parent->calls, (std::vector<std::string>{"willMoveToSuperview(nil)", "willMoveToWindow(nil)",
                                                       "didMoveToSuperview", "didMoveToWindow"}));
    EXPECT_EQ(child->calls, (std::vector<std::string>{"willMoveToWindow(nil)", "didMoveToWindow"}));
    EXPECT_EQ(child->window(), nullptr);
}

TEST_F(ViewTree, RemovingTheLastOwnerReleasesTheViewAfterItsHooks) {
    auto root = std::make_shared<View>(Rect(0, 0, 100, 100));
    std::weak_ptr<HookView> weak;
    {
        auto child = std::make_shared<HookView>();
        weak = child;
        root->addSubview(child);
    }
    ASSERT_FALSE(weak.expired());
    weak.lock()->removeFromSuperview();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(root->subviews().empty());
}

TEST_F(ViewTree, AViewCannotBecomeItsOwnAncestor) {
    auto a = std::make_shared<View>();
    auto b = std::make_shared<View>();
    a->addSubview(b);
    b->addSubview(a);
    b->addSubview(b);
    EXPECT_EQ(a->superview(), nullptr);
    EXPECT_TRUE(b->subviews().empty());
}

TEST_F(ViewTree, MovingAViewBetweenSuperviewsLeavesItInOnePlace) {
    auto a = std::make_shared<View>();
    auto b = std::make_shared<View>();
    auto v = std::make_shared<View>();
    a->addSubview(v);
    b->addSubview(v);
    EXPECT_TRUE(a->subviews().empty());
    ASSERT_EQ(b->subviews().size(), 1u);
    EXPECT_EQ(v->superview(), b);
}

TEST_F(ViewTree, ViewWithTagSearchesDepthFirstIncludingItself) {
    auto root = std::make_shared<View>();
    auto first = std::make_shared<View>();
    auto nested = std::make_shared<Label>();
    auto second = std::make_shared<View>();
    nested->setTag(1000);
    second->setTag(1000);
    first->addSubview(nested);
    root->addSubview(first);
    root->addSubview(second);
    root->setTag(7);
    EXPECT_EQ(root->viewWithTag(1000), nested);
    EXPECT_EQ(root->viewWithTag(7), root);
    EXPECT_EQ(root->viewWithTag(42), nullptr);
}

TEST_F(ViewTree, ConvertsPointsThroughOffsetsTransformsAndScrolledBounds) {
    auto window = makeKeyWindow();
    auto outer = std::make_shared<View>(Rect(10, 20, 200, 200));
    auto inner = std::make_shared<View>(Rect(5, 5, 50, 50));
    window->addSubview(outer);
    outer->addSubview(inner);
    expectNear(inner->convertPoint({0, 0}, nullptr), Point{15, 25});
    expectNear(inner->convertPointFrom({15, 25}, nullptr), Point{0, 0});
    expectNear(inner->convertPoint({1, 2}, outer.get()), Point{6, 7});

    outer->setBounds(Rect(0, 100, 200, 200)); // scrolled down by 100
    expectNear(inner->convertPoint({0, 0}, nullptr), Point{15, -75});

    outer->setBounds(Rect(0, 0, 200, 200));
    inner->setTransform(AffineTransform::makeScale(2, 2)); // about its centre (30, 30) in outer
    expectNear(inner->convertPoint({0, 0}, outer.get()), Point{-20, -20});
    expectNear(inner->convertPointFrom({-20, -20}, outer.get()), Point{0, 0});
}

TEST_F(ViewTree, SizeChangesAskForLayoutOnce) {
    auto v = std::make_shared<HookView>(Rect(0, 0, 10, 10));
    v->layoutIfNeeded();
    int after = v->layouts;
    v->layoutIfNeeded();
    EXPECT_EQ(v->layouts, after);
    v->setCenter({50, 50}); // no size change
    v->layoutIfNeeded();
    EXPECT_EQ(v->layouts, after);
    v->setFrame(Rect(0, 0, 20, 20));
    v->layoutIfNeeded();
    EXPECT_EQ(v->layouts, after + 1);
}

TEST_F(ViewTree, ARemovedFirstResponderGivesUpTheKeyboard) {
    class Focusable : public View {
    public:
        bool canBecomeFirstResponder() const override { return true; }
    };
    auto window = makeKeyWindow();
    auto panel = std::make_shared<View>();
    auto field = std::make_shared<Focusable>();
    panel->addSubview(field);
    window->addSubview(panel);
    ASSERT_TRUE(field->becomeFirstResponder());
    panel->removeFromSuperview();
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(Responder::currentFirstResponder(), nullptr);
}
