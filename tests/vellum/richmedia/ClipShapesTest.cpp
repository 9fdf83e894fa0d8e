// The built-in images' codec and the clip shapes: the circle and rounded-rectangle paths, the
// clip by type, and the slot view clipping its drawing to the shown ad's type.
#include <gtest/gtest.h>

#include <fstream>

#include "AdDisplayFixture.h"
#include "platform/ui/GraphicsContext.h"
#include "vellum/richmedia/MRAdNetworkPromoSlider.h"
#include "vellum/richmedia/VellumClipShapes.h"
#include "vellum/richmedia/VellumResourceExpander.h"

namespace richmediatest {
namespace {

using platform::PathElement;
using platform::Point;
using platform::Rect;
using vellum::VellumResourceExpander;

platform::Data bytes(std::string_view text) {
    return platform::Data(text.begin(), text.end());
}

TEST(VellumResourceExpander, Base64DecodesWithOrWithoutPaddingAndSkipsWhiteSpace) {
    struct Case {
        const char* text;
        std::optional<std::string_view> decoded;
    };
    const Case cases[] = {
        {"", ""},
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TWE", "Ma"},
        {"TQ==", "M"},
        {"TQ", "M"},
        {" T W\nF\tu ", "Man"},
        {"TW=Fu", "Man"}, // "=" is skipped anywhere
        {"TWFuT", std::nullopt},  // a last group of one character
        {"TW.u", std::nullopt},   // outside the alphabet
        {"TWF\xc3\xa9", std::nullopt}, // not ASCII
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.text);
        auto decoded = VellumResourceExpander::dataWithBase64EncodedString(tc.text);
        ASSERT_EQ(decoded.has_value(), tc.decoded.has_value());
        if (decoded) {
            EXPECT_EQ(*decoded, bytes(*tc.decoded));
        }
    }
}

TEST(VellumResourceExpander, Base64EncodingPadsTheLastGroupAndNeverBreaksLines) {
    struct Case {
        std::string_view data;
        const char* text;
    };
    const Case cases[] = {{"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"}};
    for (const auto& tc : cases) {
        EXPECT_EQ(VellumResourceExpander::base64Encoding(bytes(tc.data)), tc.text);
    }
    const platform::Data long_(300, 0xfb);
    const auto text = VellumResourceExpander::base64Encoding(long_);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(VellumResourceExpander::dataWithBase64EncodedString(text), long_);
}

TEST(VellumResourceExpander, ImagesDecodeOnceToTheirSizes) {
    struct Case {
        const char* name;
        double width, height;
    };
    const Case cases[] = {{"close.png", 20, 20},        {"toolbar_slice_iPad.png", 1, 49}, {"closebtn.png", 52, 52},
                          {"back_iPad.png", 17, 20},    {"bg_b.jpg", 480, 106},            {"Skip.png", 36, 130}};
    VellumResourceExpander expander;
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto image = expander.imageForKey(tc.name);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), platform::Size(tc.width, tc.height));
    }
    EXPECT_EQ(expander.resourceData().size(), std::size(cases));
    const auto cached = expander.resourceData().at("close.png");
    EXPECT_EQ(expander.dataForKey("close.png"), cached);
    EXPECT_EQ(expander.resourceData().size(), std::size(cases));
    EXPECT_FALSE(expander.dataForKey("missing.png"));
}

TEST(ClipShapes, MaxCircleSitsInTheMiddleOfTheLongerSide) {
    struct Case {
        Rect rect;
        Rect box;
    };
    const Case cases[] = {
        {{0, 0, 300, 100}, {100, 0, 100, 100}},
        {{0, 0, 100, 300}, {0, 100, 100, 100}},
        {{0, 0, 80, 80}, {0, 0, 80, 80}},
        // The rectangle's origin is not used; odd differences give half points.
        {{40, 60, 101, 100}, {0.5, 0, 100, 100}},
    };
    for (const auto& tc : cases) {
        platform::GraphicsContext context({320, 480});
        vellum::CGContextAddMaxCircle(context, tc.rect);
        ASSERT_EQ(context.currentPath().elements.size(), 1u);
        const auto& e = context.currentPath().elements[0];
        EXPECT_EQ(e.kind, PathElement::Kind::Ellipse);
        EXPECT_EQ(e.rect, tc.box);
        EXPECT_TRUE(context.displayList().empty()); // a path only: nothing clipped or painted
    }
}

TEST(ClipShapes, RoundedRectCutsEveryCoordinateTowardZero) {
    platform::GraphicsContext context({320, 480});
    context.moveToPoint(5, 5); // a path left over is replaced
    vellum::CGContextAddRoundedRect(context, Rect(0.6, 0.6, 50.7, 20.2), 10);
    // L = 0, L' = 10, T = 0, T' = 10, R = 51, R' = 41, B = 20, B' = 10.
    using K = PathElement::Kind;
    struct Step {
        K kind;
        Point a, b;
    };
    const Step steps[] = {
        {K::MoveTo, {0, 10}, {}},        {K::ArcToPoint, {0, 0}, {10, 0}},   {K::LineTo, {41, 0}, {}},
        {K::ArcToPoint, {51, 0}, {51, 10}}, {K::LineTo, {51, 10}, {}},      {K::ArcToPoint, {51, 20}, {41, 20}},
        {K::LineTo, {10, 20}, {}},       {K::ArcToPoint, {0, 20}, {0, 10}}, {K::LineTo, {0, 10}, {}},
        {K::Close, {}, {}},
    };
    const auto& elements = context.currentPath().elements;
    ASSERT_EQ(elements.size(), std::size(steps));
    for (std::size_t i = 0; i < elements.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(elements[i].kind, steps[i].kind);
        EXPECT_EQ(elements[i].points[0], steps[i].a);
        if (steps[i].kind == K::ArcToPoint) {
            EXPECT_EQ(elements[i].points[1], steps[i].b);
            EXPECT_EQ(elements[i].radius, 10);
        }
    }
}

// The clip a type gives, as the first op the view's drawing records.
struct ClipCase {
    int clipType;
    std::optional<PathElement::Kind> clip; // nullopt: no clip
};
constexpr ClipCase kClipCases[] = {
    {1, PathElement::Kind::Ellipse},
    {2, PathElement::Kind::MoveTo},
    {0, std::nullopt},
    {3, std::nullopt},
    {-1, std::nullopt},
};

void expectClip(const platform::DisplayList& drawn, const ClipCase& tc) {
    const auto clip = std::find_if(drawn.ops().begin(), drawn.ops().end(),
                                   [](const auto& op) { return op.kind == platform::DrawOp::Kind::Clip; });
    if (!tc.clip) {
        EXPECT_EQ(clip, drawn.ops().end());
        return;
    }
    ASSERT_NE(clip, drawn.ops().end());
    EXPECT_EQ(clip->path.elements.front().kind, *tc.clip);
}

TEST(ClipShapes, ClipByTypeOnTheViewsBounds) {
    platform::View view(Rect(30, 40, 300, 100));
    for (const auto& tc : kClipCases) {
        SCOPED_TRACE(tc.clipType);
        platform::GraphicsContext context(view.bounds().size);
        {
            platform::ContextScope scope(context);
            vellum::clipContextForClipType(view, tc.clipType);
        }
        expectClip(context.displayList(), tc);
        if (tc.clipType == 1) {
            EXPECT_EQ(context.displayList()[0].path.elements[0].rect, Rect(100, 0, 100, 100));
        }
    }
    vellum::clipContextForClipType(view, 1); // outside any drawing: nothing to clip, no crash
}

TEST(ClipShapes, PromoSliderClipsItsDrawingToItsType) {
    auto slider = vellum::MRAdNetworkPromoSlider::create(Rect(0, 0, 320, 50));
    slider->display();
    expectClip(slider->lastDrawing(), {0, std::nullopt});
}

class SlotDrawingTest : public AdDisplayFixture {};

TEST_F(SlotDrawingTest, SlotViewClipsToTheShownAdsType) {
    for (const auto& tc : kClipCases) {
        SCOPED_TRACE(tc.clipType);
        const std::string id = "ad-clip" + std::to_string(tc.clipType + 1);
        storeBanner(id, {{"clipType", tc.clipType}});
        auto view = slotView();
        view->display();
        expectClip(view->lastDrawing(), {0, std::nullopt}); // no ad yet: no clip
        ASSERT_TRUE(view->loadAdWithID(id, std::nullopt));
        view->display();
        expectClip(view->lastDrawing(), tc);
        view->removeFromSuperview();
    }
}

TEST_F(SlotDrawingTest, NothingIsClippedWhileTheLibraryIsShutDown) {
    storeBanner("ad-1", {{"clipType", 1}});
    auto view = slotView();
    ASSERT_TRUE(view->loadAdWithID("ad-1", std::nullopt));
    manager()->setShutdown(true);
    view->display();
    expectClip(view->lastDrawing(), {0, std::nullopt});
    EXPECT_TRUE(log.contains("Cannot display the ad"));
}

} // namespace
} // namespace richmediatest
