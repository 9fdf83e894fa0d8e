// Video buttons and their control view: the button model (JSON keys, colour texts, equality,
// the built button), and the appearance, fade and inactivity schedule on the manual clock.
#include "MeridianTestSupport.h"

#include "meridian/MRJSONVideoButton.h"
#include "meridian/MRJSONVideoOverlayControlView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Image.h"

using namespace meridiantest;
using meridian::MRJSONVideoButton;
using meridian::MRJSONVideoOverlayControlView;

namespace {

std::shared_ptr<MRJSONVideoButton> button(const std::string& json) {
    auto value = platform::Value::fromJSON(json);
    return MRJSONVideoButton::initWithJSONButton(*value->dictionary());
}

class MeridianVideoButtons : public MeridianFixture {
protected:
    MeridianVideoButtons() {
        platform::AnimationLog::resetForTesting();
        auto png = platform::Image::solid(20, 10, 0, 0, 200)->pngRepresentation();
        std::string picture(png.begin(), png.end());
        services.handle("GET", "/meridian/images/b.png", [picture](const services::LoggedRequest&) {
            return services::ServiceReply{200, picture, "image/png", {}};
        });
    }
    std::string picture() { return services.url("/meridian/images/b.png"); }
};

} // namespace

TEST(MeridianVideoButtonModel, ColourTexts) {
    struct Case {
        std::string text;
        std::optional<platform::Color> colour;
    };
    const Case cases[] = {
        {"#1E88E5", platform::Color::rgba(0x1E / 255.0, 0x88 / 255.0, 0xE5 / 255.0, 1)},
        {"1e88e5", platform::Color::rgba(0x1E / 255.0, 0x88 / 255.0, 0xE5 / 255.0, 1)},
        {" #ffffff\n", platform::Color::rgba(1, 1, 1, 1)},
        {"0.5,0.25,1", platform::Color::rgba(0.5, 0.25, 1, 1)},
        {"0.5,0.25,1,0.5", platform::Color::rgba(0.5, 0.25, 1, 0.5)},
        {"red", platform::Color::blackColor()},
        {"#12345G", platform::Color::blackColor()},
        {"1,2", std::nullopt},
        {"1,2,3,4,5", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MRJSONVideoButton::colorFromString(c.text), c.colour) << c.text;
}

TEST(MeridianVideoButtonModel, KeysDefaultsAndEquality) {
    auto plain = button(R"({"title":"Go","url":"mrsdk://playVideo","x-location":10,"y-location":20})");
    EXPECT_EQ(plain->startOpacity(), 1.0);
    EXPECT_EQ(plain->endOpacity(), 1.0);
    EXPECT_EQ(plain->fadeDuration(), 1.0);
    EXPECT_EQ(plain->buttonColor(), platform::Color::blackColor());
    EXPECT_EQ(plain->textColor(), platform::Color::whiteColor());
    EXPECT_EQ(plain->buttonFont().pointSize, 10);
    EXPECT_EQ(plain->component(), "");
    EXPECT_FALSE(plain->activity().has_value());
    auto faded = button(R"({"opacity":{"start":0.8},"fontSize":14,"activity":"not a list"})");
    EXPECT_EQ(faded->startOpacity(), 0.8);
    EXPECT_EQ(faded->endOpacity(), 0.0);
    EXPECT_EQ(faded->fadeDuration(), 0.0);
    EXPECT_EQ(faded->buttonFont().pointSize, 14);
    EXPECT_FALSE(faded->activity().has_value());

    auto a = button(R"({"image":"http://h.test/a.png","url":"http://h.test/x"})");
    auto b = button(R"({"image":"http://h.test/a.png"})");
    auto c = button(R"({"image":"http://h.test/a.png","url":"http://h.test/y"})");
    auto none = button(R"({"url":"http://h.test/x"})");
    EXPECT_TRUE(a->isEqualToVideoButton(*b));
    EXPECT_FALSE(a->isEqualToVideoButton(*c));
    EXPECT_FALSE(none->isEqualToVideoButton(*none));
    EXPECT_EQ(a->description(), "<MRJSONVideoButton: url = http://h.test/a.png, tap = http://h.test/x, component = >");
    EXPECT_NE(a->animationId(), b->animationId());
    EXPECT_EQ(a->animationId().rfind("<MRJSONVideoButton : ", 0), 0u);
}

TEST_F(MeridianVideoButtons, BuiltButtons) {
    auto textModel = button(R"({"title":"Learn more","x-location":10,"y-location":20,"width":0,"height":30,
                                "url":"http://h.test/x"})");
    auto text = textModel->button();
    EXPECT_EQ(text->currentTitle(), "Learn more");
    EXPECT_EQ(text->frame().origin, (platform::Point{10, 20}));
    EXPECT_GT(text->frame().width(), 0);
    EXPECT_NE(text->allControlEvents() & platform::ControlEvent::TouchUpInside, 0u);
    auto sized = button(R"({"title":"Go","width":120,"height":30})")->button();
    EXPECT_EQ(sized->frame(), platform::Rect(0, 0, 120, 30));
    EXPECT_EQ(sized->allControlEvents(), 0u); // no tap address: no action

    // A picture button is built at once, without its picture; the picture takes its place and
    // gives the button its size when it arrives.
    auto pictured = button(R"({"image":")" + picture() + R"(","url":"mrsdk://endVideo","x-location":5})");
    bool arrived = false;
    pictured->setImageArrivedHandler([&] { arrived = true; });
    auto built = pictured->button();
    EXPECT_EQ(built, pictured->button()); // built once
    EXPECT_EQ(built->frame(), platform::Rect(5, 0, 0, 0));
    ASSERT_TRUE(waitFor([&] { return arrived; }));
    EXPECT_EQ(built->frame(), platform::Rect(5, 0, 20, 10));
    EXPECT_NE(built->backgroundImageForState(platform::ControlState::Normal), nullptr);
    ASSERT_TRUE(pictured->imageData()); // the bytes the archive carries
    EXPECT_NE(platform::Image::fromData(*pictured->imageData()), nullptr);
    EXPECT_EQ(services.requestCount("/meridian/images/b.png"), 1u);
    auto missingModel = button(R"({"image":")" + services.url("/meridian/images/none.png") + R"("})");
    auto missing = missingModel->button();
    ASSERT_TRUE(waitFor([&] { return !missingModel->isFetchingImage(); }));
    EXPECT_EQ(missing->frame().size, (platform::Size{0, 0}));
    EXPECT_FALSE(missingModel->imageData());
}

TEST_F(MeridianVideoButtons, AppearanceFadeAndInactivitySchedule) {
    auto first = button(R"({"image":")" + picture() + R"(","url":"mrsdk://endVideo","appearanceDelay":2,
                            "inactivityTimeout":3,"opacity":{"start":0.9,"end":0.3,"fadeDuration":0.5}})");
    auto second = button(R"({"title":"Later","url":"http://h.test/x","appearanceDelay":10,"inactivityTimeout":0})");
    auto view = MRJSONVideoOverlayControlView::create(platform::Rect(0, 0, 480, 320), {first, second}, false, {});
    ASSERT_EQ(view->buttons().size(), 2u);
    EXPECT_EQ(view->countdownLabel(), nullptr);
    auto b1 = view->buttons()[0].button;
    auto b2 = view->buttons()[1].button;
    EXPECT_EQ(b1->superview(), nullptr);

    view->showButtons();
    clock.advance(1.5);
    EXPECT_EQ(b1->superview(), nullptr);
    clock.advance(0.5);
    ASSERT_EQ(b1->superview(), view);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.9);
    auto fadeIn = platform::AnimationLog::shared().recordsNamed(first->animationId());
    ASSERT_EQ(fadeIn.size(), 1u);
    EXPECT_DOUBLE_EQ(fadeIn[0].duration, 0.5);
    // Faded in at 2.5 s; the inactivity time-out of 3 s fades it out at 5.5 s.
    clock.advance(3.4);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.9);
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.3);

    // A finger on the video brings it back and holds it; lifting it starts the time-out again.
    platform::Event event(platform::Event::Type::Touches, 0);
    view->touchesBegan({}, event);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.9);
    clock.advance(10);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.9);
    EXPECT_EQ(b2->superview(), view); // its appearance delay (10 s) has passed meanwhile
    view->touchesEnded({}, event);
    clock.advance(2.9);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.9);
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.3);

    // The end of the video shows every button at its start opacity, in list order, for good.
    view->restart();
    EXPECT_EQ(b1->superview(), nullptr);
    ASSERT_NE(view->countdownLabel(), nullptr);
    clock.advance(2.6);
    ASSERT_EQ(b1->superview(), view);
    view->videoFinishedPlaying();
    EXPECT_TRUE(view->isVideoFinishedPlaying());
    EXPECT_EQ(view->countdownLabel(), nullptr);
    ASSERT_EQ(b2->superview(), view);
    EXPECT_DOUBLE_EQ(b2->alpha(), 1.0);
    auto subviews = view->subviews();
    auto at = [&](const std::shared_ptr<platform::View>& v) {
        return std::find(subviews.begin(), subviews.end(), v) - subviews.begin();
    };
    EXPECT_LT(at(b1), at(b2));
    clock.advance(20);
    EXPECT_DOUBLE_EQ(b1->alpha(), 0.9);
}
