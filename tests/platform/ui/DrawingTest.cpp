#include <gtest/gtest.h>

#include <cmath>

#include "UiTestSupport.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

using namespace platform;

namespace {

// A view that draws a rounded badge: a clipped gradient, an image and a caption.
class BadgeView : public View {
public:
    using View::View;
    int draws = 0;
    std::shared_ptr<Image> icon = Image::solid(4, 4, 0, 0, 255);

    void drawRect(const Rect& rect) override {
        ++draws;
        auto* g = GraphicsContext::current();
        ASSERT_NE(g, nullptr);
        g->saveGState();
        g->setRGBFillColor(1, 0, 0, 1);
        g->beginPath();
        g->moveToPoint(0, 5);
        g->addArcToPoint(0, 0, 5, 0, 5);
        g->addLineToPoint(rect.width(), 0);
        g->addLineToPoint(rect.width(), rect.height());
        g->closePath();
        g->fillPath();
        g->addEllipseInRect(rect);
        g->clip();
        g->drawLinearGradient({{Color::whiteColor(), Color::blackColor()}, {0, 1}}, {0, 0}, {0, rect.height()});
        g->restoreGState();
        g->setLineWidth(0.5);
        g->setGrayStrokeColor(0.4, 1);
        g->strokeRect(rect.insetBy(1, 1));
        drawImageAtPoint(icon, {2, 3});
        g->setFillColor(Color::whiteColor());
        g->drawText("New", rect, Font::boldSystemFont(12), TextAlignment::Center, 1);
    }
};

class Drawing : public uitest::UiTest {};

using Kind = DrawOp::Kind;

std::vector<Kind> kinds(const DisplayList& list) {
    std::vector<Kind> out;
    for (const auto& op : list.ops())
        out.push_back(op.kind);
    return out;
}

} // namespace

TEST_F(Drawing, AViewKeepsTheListOfWhatItsDrawRectDrew) {
    auto view = std::make_shared<BadgeView>(Rect(0, 0, 40, 20));
    view->display();
    const DisplayList& list = view->lastDrawing();
    EXPECT_EQ(kinds(list), (std::vector<Kind>{Kind::SaveGState, Kind::FillPath, Kind::Clip, Kind::LinearGradient,
                                              Kind::RestoreGState, Kind::StrokePath, Kind::Image, Kind::Text}));

    const DrawOp& fill = list[1];
    EXPECT_EQ(fill.color, Color::redColor());
    ASSERT_EQ(fill.path.elements.size(), 5u);
    EXPECT_EQ(fill.path.elements[1].kind, PathElement::Kind::ArcToPoint);
    EXPECT_EQ(fill.path.elements[1].radius, 5);
    EXPECT_EQ(fill.path.elements[4].kind, PathElement::Kind::Close);
    EXPECT_EQ(list[2].path.elements[0].kind, PathElement::Kind::Ellipse);
    ASSERT_TRUE(list[3].linear);
    EXPECT_EQ(list[3].linear->gradient.locations, (std::vector<double>{0, 1}));
    EXPECT_EQ(list[3].linear->end, (Point{0, 20}));

    // The stroke carries the state set after the restore: its own width and grey.
    const DrawOp& stroke = list[5];
    EXPECT_EQ(stroke.lineWidth, 0.5);
    EXPECT_EQ(stroke.color.numberOfComponents(), 2);
    EXPECT_EQ(stroke.path.elements[0].rect, Rect(1, 1, 38, 18));
    EXPECT_EQ(list[6].rect, Rect(2, 3, 4, 4));
    EXPECT_EQ(list[6].image, view->icon);
    EXPECT_EQ(list[7].text, "New");
    EXPECT_EQ(list[7].color, Color::whiteColor());
    // Outside drawRect there is no current context.
    EXPECT_EQ(GraphicsContext::current(), nullptr);
}

TEST_F(Drawing, ViewsInAWindowDrawOnTheNextTurnAndAgainOnlyWhenMarked) {
    auto window = makeKeyWindow();
    auto view = std::make_shared<BadgeView>(Rect(0, 0, 40, 20));
    auto loose = std::make_shared<BadgeView>(Rect(0, 0, 40, 20));
    window->addSubview(view);
    EXPECT_EQ(view->draws, 0);
    clock_.advance(0);
    EXPECT_EQ(view->draws, 1);
    EXPECT_FALSE(view->needsDisplay());
    clock_.advance(1);
    EXPECT_EQ(view->draws, 1);

    view->setNeedsDisplay();
    view->setNeedsDisplay();
    clock_.advance(0);
    EXPECT_EQ(view->draws, 2);
    // A view in no window waits for display().
    loose->setNeedsDisplay();
    clock_.advance(0);
    EXPECT_EQ(loose->draws, 0);
}

TEST_F(Drawing, UnbalancedStateChangesStayInsideTheirOwnList) {
    GraphicsContext g({10, 10});
    g.restoreGState(); // nothing saved: ignored
    g.endTransparencyLayer();
    EXPECT_TRUE(g.displayList().empty());

    DisplayList unbalanced;
    DrawOp op;
    op.kind = Kind::RestoreGState;
    unbalanced.append(op);
    op.kind = Kind::SaveGState;
    unbalanced.append(op);
    op.kind = Kind::BeginTransparencyLayer;
    unbalanced.append(op);
    GraphicsContext outer({10, 10});
    outer.replay(unbalanced);
    EXPECT_EQ(kinds(outer.displayList()), (std::vector<Kind>{Kind::SaveGState, Kind::BeginTransparencyLayer,
                                                             Kind::EndTransparencyLayer, Kind::RestoreGState}));
}

TEST_F(Drawing, PathShorthandsLeaveTheCurrentPathAndEmptyPathsPaintNothing) {
    GraphicsContext g({10, 10});
    g.moveToPoint(1, 1);
    g.fillRect(Rect(0, 0, 5, 5));
    EXPECT_EQ(g.currentPath().elements.size(), 1u);
    g.beginPath();
    g.fillPath();
    g.strokePath();
    g.drawImage(Rect(0, 0, 1, 1), nullptr);
    g.drawLinearGradient({}, {}, {});
    EXPECT_EQ(g.displayList().size(), 1u);
    // A transform concatenates before the existing one.
    g.translateCTM(10, 0);
    g.scaleCTM(2, 2);
    EXPECT_EQ(g.getCTM().apply(Point{1, 1}), (Point{12, 2}));
}

TEST_F(Drawing, ADrawingLayerIsDrawnAsASnapshotOfItsList) {
    auto layer = DrawingLayer::createWithContext(nullptr, {30, 30});
    layer->context().setFillColor(Color::blueColor());
    layer->context().fillRect(Rect(0, 0, 30, 30));
    GraphicsContext g({100, 100});
    g.drawLayerAtPoint({5, 6}, *layer);
    layer->context().fillRect(Rect(0, 0, 1, 1));
    ASSERT_EQ(g.displayList().size(), 1u);
    EXPECT_EQ(g.displayList()[0].rect, Rect(5, 6, 30, 30));
    EXPECT_EQ(g.displayList()[0].layer->size(), 1u);
}

namespace {
// Records every geometry change that reaches it.
class RecordingView : public View {
public:
    using View::View;
    std::vector<std::string> calls;
    void setFrame(const Rect& frame) override {
        calls.push_back("frame " + toString(frame));
        View::setFrame(frame);
    }
    void setCenter(Point center) override {
        calls.push_back("center");
        View::setCenter(center);
    }
    void setAlpha(double alpha) override {
        calls.push_back("alpha");
        View::setAlpha(alpha);
    }
};
} // namespace

TEST_F(Drawing, GeometrySettersReachSubclassOverrides) {
    auto parent = std::make_shared<View>(Rect(0, 0, 100, 100));
    auto child = std::make_shared<RecordingView>(Rect(0, 0, 50, 50));
    child->setAutoresizingMask(Autoresizing::FlexibleWidth);
    parent->addSubview(child);
    parent->setFrame(Rect(0, 0, 150, 100)); // autoresizing sets the child's frame
    View& base = *child;
    base.setCenter({10, 10});
    base.setAlpha(0.5);
    ASSERT_EQ(child->calls.size(), 3u);
    EXPECT_EQ(child->calls[0], "frame {{0, 0}, {100, 50}}");
    EXPECT_EQ(child->calls[1], "center");
    EXPECT_EQ(child->calls[2], "alpha");
}

TEST(Colors, KnowTheirColourSpaceAndComponentCount) {
    struct Case {
        const char* name;
        Color color;
        ColorSpaceModel space;
        std::vector<double> components;
    };
    const Case cases[] = {
        {"black", Color::blackColor(), ColorSpaceModel::Monochrome, {0, 1}},
        {"white", Color::whiteColor(), ColorSpaceModel::Monochrome, {1, 1}},
        {"clear", Color::clearColor(), ColorSpaceModel::Monochrome, {0, 0}},
        {"grey level", Color::white(0.4, 0.75), ColorSpaceModel::Monochrome, {0.4, 0.75}},
        {"red", Color::redColor(), ColorSpaceModel::RGB, {1, 0, 0, 1}},
        {"rgba", Color::rgba(0.2, 0.3, 0.4, 0.5), ColorSpaceModel::RGB, {0.2, 0.3, 0.4, 0.5}},
        {"grey with alpha", Color::grayColor().withAlpha(0.5), ColorSpaceModel::Monochrome, {0.5, 0.5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.color.colorSpaceModel(), c.space);
        EXPECT_EQ(c.color.numberOfComponents(), int(c.components.size()));
        EXPECT_EQ(c.color.components(), c.components);
    }
    // Equal colours show the same, whatever space they were made in.
    EXPECT_EQ(Color::blackColor(), Color::rgba(0, 0, 0, 1));
}

namespace {
class KeyWindow : public Window {
public:
    std::vector<std::string>* log = nullptr;
    std::string name;
    void becomeKeyWindow() override { log->push_back(name + " became key"); }
    void resignKeyWindow() override { log->push_back(name + " resigned"); }
};
} // namespace

TEST_F(Drawing, WindowsHearWhenTheyGainAndLoseKeyStatus) {
    std::vector<std::string> log;
    auto first = std::make_shared<KeyWindow>();
    first->log = &log;
    first->name = "first";
    auto second = std::make_shared<KeyWindow>();
    second->log = &log;
    second->name = "second";
    first->makeKeyAndVisible();
    second->makeKeyAndVisible();
    first->makeKeyWindow();
    EXPECT_EQ(log, (std::vector<std::string>{"first became key", "first resigned", "second became key",
                                             "second resigned", "first became key"}));
}
