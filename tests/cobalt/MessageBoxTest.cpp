// The floating message box: how it stacks and fits its content (a table of boxes), removal
// from the middle of the stack, its labels, the pre-drawn background, and showing and hiding
// with their animations on the manual clock.
#include <gtest/gtest.h>

#include "cobalt/CBMessageBox.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Device.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/UiTestSupport.h"

namespace {

using namespace cobalt;
using namespace platform;

constexpr double kPhoneRadius = 16;        // 320 / 20
constexpr double kLabelLineHeight = 21.25; // a 17-point line

class MessageBoxTest : public uitest::UiTest {
protected:
    static std::shared_ptr<View> block(double width, double height) {
        return std::make_shared<View>(Rect(0, 0, width, height));
    }
    static std::shared_ptr<ActivityIndicatorView> spinner() {
        auto indicator = std::make_shared<ActivityIndicatorView>(ActivityIndicatorViewStyle::WhiteLarge);
        indicator->startAnimating();
        return indicator;
    }
    static std::vector<double> centresY(const CBMessageBoxView& box) {
        std::vector<double> ys;
        for (const auto& v : box.contentView()->subviews())
            ys.push_back(v->center().y);
        return ys;
    }
};

TEST_F(MessageBoxTest, StartsAsA256PointSquareInTheMiddleOfTheKeyWindow) {
    auto window = makeKeyWindow();
    auto box = CBMessageBox::messageBox()->boxView();
    EXPECT_EQ(box->frame(), Rect(32, 112, 256, 256));
    EXPECT_EQ(box->autoresizingMask(), 45u);
    EXPECT_DOUBLE_EQ(box->cornerRadius(), kPhoneRadius);
    EXPECT_EQ(box->contentView()->frame(), Rect(16, 16, 224, 224));
    EXPECT_EQ(box->contentView()->autoresizingMask(), 18u);
    EXPECT_FALSE(box->isOpaque());
    EXPECT_FALSE(box->superview()) << "made hidden, in no view";
}

TEST_F(MessageBoxTest, FitsItsStackedContentUpToTheMaximumHeight) {
    struct Case {
        const char* what;
        std::function<void(CBMessageBox&)> fill;
        Size box;
        double contentHeight;
        std::vector<double> centres; // of the content views, in the content area
    };
    const double r2 = 2 * kPhoneRadius;
    const Case cases[] = {
        {"the loading box",
         [](CBMessageBox& b) {
             b.addView(spinner());
             b.setMessage("Loading");
         },
         {56 + r2, 37 + kLabelLineHeight + r2},
         37 + kLabelLineHeight,
         {18.5, 37 + kLabelLineHeight / 2}},
        {"title, indicator and message",
         [](CBMessageBox& b) {
             b.setTitle("Please wait");
             b.addView(spinner());
             b.setMessage("Loading");
         },
         {88 + r2, 2 * kLabelLineHeight + 37 + r2},
         2 * kLabelLineHeight + 37,
         {kLabelLineHeight / 2, kLabelLineHeight + 18.5, kLabelLineHeight + 37 + kLabelLineHeight / 2}},
        {"a long message wraps inside the first square",
         [](CBMessageBox& b) { b.setMessage("The ad could not be shown. Please try again in a moment."); },
         {29 * 8 + r2, 2 * kLabelLineHeight + r2}, // "Please try again in a moment." is the wider line
         2 * kLabelLineHeight,
         {kLabelLineHeight}},
        {"content taller than the maximum scrolls",
         [](CBMessageBox& b) {
             for (int i = 0; i < 4; ++i)
                 b.addView(block(100, 100));
         },
         {100 + r2, CBMessageBoxView::kMaximumHeight},
         400,
         {50, 150, 250, 350}},
        {"nothing to fit keeps the square", [](CBMessageBox&) {}, {256, 256}, 0, {}},
    };
    auto window = makeKeyWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto controller = CBMessageBox::messageBox();
        c.fill(*controller);
        controller->showInView(*window);
        auto box = controller->boxView();
        EXPECT_EQ(box->bounds().size, c.box);
        EXPECT_EQ(box->center(), Point(160, 240)) << "centred on the container";
        EXPECT_EQ(box->contentView()->frame().size, (Size{c.box.width - r2, c.box.height - r2}));
        EXPECT_DOUBLE_EQ(box->contentView()->contentSize().height, c.contentHeight);
        EXPECT_EQ(centresY(*box), c.centres);
        for (const auto& v : box->contentView()->subviews())
            EXPECT_DOUBLE_EQ(v->center().x, (c.box.width - r2) / 2) << "centred on the content width";
        EXPECT_EQ(box->bgLayer()->size(), c.box) << "the background is drawn for the new size";
        controller->hide();
    }
}

TEST_F(MessageBoxTest, RemovingAContentViewMovesTheLaterOnesUp) {
    auto controller = CBMessageBox::messageBox();
    auto box = controller->boxView();
    auto first = block(40, 10), middle = block(40, 30), last = block(40, 20);
    for (const auto& v : {first, middle, last})
        controller->addView(v);
    // Added views are centred on the box's own width until the box is laid out.
    EXPECT_DOUBLE_EQ(last->center().x, 128);
    EXPECT_EQ(centresY(*box), (std::vector<double>{5, 25, 50}));
    EXPECT_DOUBLE_EQ(box->contentView()->contentSize().height, 60);

    controller->removeView(middle.get());
    EXPECT_FALSE(middle->superview());
    EXPECT_EQ(centresY(*box), (std::vector<double>{5, 20}));
    EXPECT_DOUBLE_EQ(box->contentView()->contentSize().height, 30);

    auto stranger = block(40, 50);
    controller->removeView(stranger.get());
    controller->removeView(middle.get()); // no longer in the box
    EXPECT_DOUBLE_EQ(box->contentView()->contentSize().height, 30);
    EXPECT_EQ(centresY(*box), (std::vector<double>{5, 20}));
}

TEST_F(MessageBoxTest, LabelsAreReplacedNotStacked) {
    auto controller = CBMessageBox::messageBox();
    auto box = controller->boxView();
    controller->setTitle("Notice");
    controller->setMessage("first");
    controller->setMessage("second");
    controller->setTitle("Later notice");
    const auto& stack = box->contentView()->subviews();
    ASSERT_EQ(stack.size(), 2u);
    EXPECT_EQ(stack[0], controller->messageView());
    EXPECT_EQ(controller->messageView()->text(), "second");
    EXPECT_EQ(stack[1], controller->titleView());
    EXPECT_DOUBLE_EQ(box->contentView()->contentSize().height, 2 * kLabelLineHeight);

    const auto& title = *controller->titleView();
    EXPECT_TRUE(title.font().bold);
    EXPECT_EQ(title.numberOfLines(), 2);
    EXPECT_TRUE(title.adjustsFontSizeToFitWidth());
    EXPECT_DOUBLE_EQ(title.minimumFontSize(), 5.0);
    const auto& message = *controller->messageView();
    EXPECT_FALSE(message.font().bold);
    EXPECT_EQ(message.numberOfLines(), 0);
    for (const Label* label : {&title, &message}) {
        EXPECT_EQ(label->textColor(), Color::whiteColor());
        EXPECT_EQ(label->shadowColor(), Color::blackColor());
        EXPECT_EQ(label->backgroundColor(), Color::clearColor());
        EXPECT_FALSE(label->isOpaque());
    }
}

TEST_F(MessageBoxTest, TheBackgroundIsARoundedGradientPanelWithAWhiteBorder) {
    struct Case {
        DeviceProfile profile;
        double radius;
    };
    for (const Case c : {Case{DeviceProfile::Phone, 16}, Case{DeviceProfile::Tablet, 38.4}}) {
        SCOPED_TRACE(c.radius);
        Device::setProfile(c.profile);
        auto view = std::make_shared<CBMessageBoxView>(Rect(0, 0, 200, 100));
        auto& box = *view;
        EXPECT_DOUBLE_EQ(box.cornerRadius(), c.radius);
        const auto& ops = box.bgLayer()->displayList().ops();
        auto find = [&](DrawOp::Kind kind) {
            return std::find_if(ops.begin(), ops.end(), [kind](const DrawOp& op) { return op.kind == kind; });
        };
        auto clip = find(DrawOp::Kind::Clip), gradient = find(DrawOp::Kind::LinearGradient),
             stroke = find(DrawOp::Kind::StrokePath);
        ASSERT_TRUE(clip != ops.end() && gradient != ops.end() && stroke != ops.end());
        EXPECT_TRUE(clip < gradient && gradient < stroke)
            << "the gradient is clipped, the border drawn on top";

        const double r = c.radius;
        const std::vector<Point> outline = {{r, 0},   {200 - r, 0}, {200, r}, {200, 100 - r}, {200 - r, 100},
                                            {r, 100}, {0, 100 - r}, {0, r},   {r, 0}};
        EXPECT_EQ(clip->path.points(), outline);
        EXPECT_EQ(stroke->path, clip->path);
        // The corners bend through control points half a radius along each edge.
        const auto& corner = clip->path.elements[2];
        ASSERT_EQ(corner.kind, PathElement::Kind::CurveTo);
        EXPECT_EQ(corner.points[0], Point(200 - r / 2, 0));
        EXPECT_EQ(corner.points[1], Point(200, r / 2));

        ASSERT_TRUE(gradient->linear);
        EXPECT_EQ(gradient->linear->gradient.locations, (std::vector<double>{0, 0.1, 1.0}));
        EXPECT_EQ(gradient->linear->gradient.colors,
                  (std::vector<Color>{Color::rgba(0.5, 0.5, 0.5, 0.75), Color::rgba(0.25, 0.25, 0.25, 0.75),
                                      Color::rgba(0, 0, 0, 0.75)}));
        EXPECT_EQ(gradient->linear->start, Point(0, 0));
        EXPECT_EQ(gradient->linear->end, Point(0, 100));
        EXPECT_EQ(stroke->color, Color::rgba(1, 1, 1, 1));
        EXPECT_DOUBLE_EQ(stroke->lineWidth, 4.0);

        // Drawing the view draws the layer at its origin.
        box.display();
        ASSERT_EQ(box.lastDrawing().size(), 1u);
        EXPECT_EQ(box.lastDrawing()[0].kind, DrawOp::Kind::Layer);
        EXPECT_EQ(box.lastDrawing()[0].rect, Rect(0, 0, 200, 100));
    }
}

TEST_F(MessageBoxTest, PopsInAndDisappearsAtOnceOnHide) {
    auto window = makeKeyWindow();
    auto container = std::make_shared<View>(Rect(0, 0, 300, 200));
    window->addSubview(container);
    auto controller = CBMessageBox::messageBox();
    controller->addView(spinner());
    controller->setMessage("Loading");
    auto box = controller->boxView();
    AnimationLog::resetForTesting();

    controller->showInView(*container);
    EXPECT_EQ(box->superview(), container);
    EXPECT_EQ(box->center(), Point(150, 100));
    EXPECT_DOUBLE_EQ(box->alpha(), 1.0);
    EXPECT_EQ(box->transform(), AffineTransform::identity()) << "back to its size";
    auto shown = AnimationLog::shared().recordsFor(*box);
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& record : shown) {
        EXPECT_EQ(record.name, CBMessageBox::kAnimationName);
        EXPECT_DOUBLE_EQ(record.duration, 0.5);
    }
    auto alpha = AnimationLog::shared().recordsFor(*box, "alpha");
    ASSERT_EQ(alpha.size(), 1u);
    EXPECT_EQ(alpha[0].from, AnimatedValue(0.0));
    auto transform = AnimationLog::shared().recordsFor(*box, "transform");
    ASSERT_EQ(transform.size(), 1u);
    EXPECT_EQ(transform[0].from, AnimatedValue(AffineTransform::makeScale(1.25, 1.25)));

    // Hiding fades it in the log but takes it away at once.
    controller->hide();
    EXPECT_FALSE(box->superview());
    EXPECT_DOUBLE_EQ(box->alpha(), 0.0);
    clock_.advance(0.6);
    EXPECT_FALSE(box->superview());

    // Shown again before the fade's stop: the late stop leaves it in place.
    controller->showInView(*container);
    controller->hide();
    controller->showInView(*container);
    clock_.advance(0.6);
    EXPECT_EQ(box->superview(), container);
    EXPECT_DOUBLE_EQ(box->alpha(), 1.0);
}

} // namespace
