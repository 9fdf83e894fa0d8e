// A button a person can touch has a label to tap it by, even when only a picture draws it.
#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/TextRenderer.h"

using namespace platform;

namespace {

class ButtonLabels : public uitest::UiTest {};

TEST_F(ButtonLabels, APictureOnlyButtonIsKnownByItsPicturesName) {
    auto named = [](const char* name) { return Image::solid(10, 10, 1, 2, 3, 255, name); };
    struct Case {
        const char* what;
        const char* ownLabel;
        const char* title;
        std::shared_ptr<Image> image;
        std::shared_ptr<Image> background;
        const char* expected;
    };
    const Case cases[] = {
        {"background only", "", "", nullptr, named("button-close.png"), "button-close.png"},
        {"unnamed image over a named background", "", "", named(""), named("button-more.png"), "button-more.png"},
        {"named image first", "", "", named("arrow.png"), named("button-more.png"), "arrow.png"},
        {"title first", "", "Close", nullptr, named("button-close.png"), "Close"},
        {"own label first", "Skip", "Close", nullptr, named("button-close.png"), "Skip"},
        {"nothing named", "", "", nullptr, named(""), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto window = makeKeyWindow();
        auto button = std::make_shared<Button>(Rect(40, 100, 120, 40));
        if (*c.ownLabel)
            button->setAccessibilityLabel(c.ownLabel);
        if (*c.title)
            button->setTitle(c.title);
        if (c.image)
            button->setImage(c.image);
        button->setBackgroundImage(c.background);
        int taps = 0;
        button->addAction([&](Control&) { ++taps; }, ControlEvent::TouchUpInside);
        window->addSubview(button);
        EXPECT_EQ(button->accessibilityLabel(), c.expected);
        if (*c.expected) {
            EXPECT_TRUE(TextRenderer::tap(c.expected));
            EXPECT_EQ(taps, 1);
        }
    }
}

} // namespace
