#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TextField.h"

using namespace platform;

namespace {

class Target {
public:
    void pressed() { ++presses; }
    void pressedWithSender(Control& sender) { senders.push_back(&sender); }
    int presses = 0;
    std::vector<Control*> senders;
};

class Controls : public uitest::UiTest {};

} // namespace

TEST_F(Controls, ATapSendsTouchDownThenTouchUpInsideToTheTargets) {
    auto window = makeKeyWindow();
    auto button = std::make_shared<Button>(Rect(100, 2, 30, 40));
    window->addSubview(button);
    std::vector<std::string> events;
    button->addAction([&](Control&) { events.push_back("down"); }, ControlEvent::TouchDown);
    button->addAction([&](Control&) { events.push_back("up-inside"); }, ControlEvent::TouchUpInside);
    auto target = std::make_shared<Target>();
    button->addTarget(target, &Target::pressed, ControlEvent::TouchUpInside);
    button->addTarget(target, &Target::pressedWithSender, ControlEvent::TouchUpInside);

    EXPECT_TRUE(button->simulateTap());
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up-inside"}));
    EXPECT_EQ(target->presses, 1);
    ASSERT_EQ(target->senders.size(), 1u);
    EXPECT_EQ(target->senders[0], button.get());
    EXPECT_FALSE(button->isHighlighted());
}

TEST_F(Controls, AGoneTargetIsSkippedAndRemovedTargetsAreNotCalled) {
    auto button = std::make_shared<Button>(Rect(0, 0, 10, 10));
    auto kept = std::make_shared<Target>();
    {
        auto gone = std::make_shared<Target>();
        button->addTarget(gone, &Target::pressed, ControlEvent::TouchUpInside);
    }
    button->addTarget(kept, &Target::pressed, ControlEvent::TouchUpInside | ControlEvent::ValueChanged);
    button->sendActionsForControlEvents(ControlEvent::TouchUpInside);
    EXPECT_EQ(kept->presses, 1);
    button->removeTarget(kept.get(), ControlEvent::TouchUpInside);
    button->sendActionsForControlEvents(ControlEvent::TouchUpInside);
    EXPECT_EQ(kept->presses, 1);
    button->sendActionsForControlEvents(ControlEvent::ValueChanged);
    EXPECT_EQ(kept->presses, 2);
}

TEST_F(Controls, ATouchThatEndsOutsideIsNotATap) {
    auto window = makeKeyWindow();
    auto button = std::make_shared<Button>(Rect(0, 0, 50, 50));
    window->addSubview(button);
    std::vector<std::string> events;
    button->addAction([&](Control&) { events.push_back("inside"); }, ControlEvent::TouchUpInside);
    button->addAction([&](Control&) { events.push_back("outside"); }, ControlEvent::TouchUpOutside);
    button->addAction([&](Control&) { events.push_back("exit"); }, ControlEvent::TouchDragExit);
    Application::shared().simulateDrag({10, 10}, {200, 200});
    EXPECT_EQ(events, (std::vector<std::string>{"exit", "outside"}));
}

TEST_F(Controls, ACoveredOrDisabledButtonIsNotPressed) {
    auto window = makeKeyWindow();
    auto button = std::make_shared<Button>(Rect(0, 0, 100, 100));
    int presses = 0;
    button->addAction([&](Control&) { ++presses; }, ControlEvent::TouchUpInside);
    window->addSubview(button);

    auto cover = std::make_shared<View>(Rect(0, 0, 320, 480));
    window->addSubview(cover);
    EXPECT_FALSE(button->simulateTap());
    cover->setAlpha(0); // a faded-out cover no longer takes touches
    EXPECT_TRUE(button->simulateTap());
    EXPECT_EQ(presses, 1);

    button->setEnabled(false);
    button->simulateTap(); // reaches the button, which ignores it
    EXPECT_EQ(presses, 1);
}

TEST_F(Controls, ButtonTitlesAndImagesFallBackToTheNormalState) {
    auto button = Button::buttonWithType(ButtonType::Custom);
    auto arrow = Image::solid(2, 2, 0, 0, 0, 255, "Arrow_2.png");
    auto pressed = Image::solid(2, 2, 0, 0, 0, 255, "Arrow_21.png");
    button->setTitle("OK");
    button->setImage(arrow, ControlState::Normal);
    button->setImage(pressed, ControlState::Highlighted);
    struct Case {
        unsigned state;
        const char* title;
        std::shared_ptr<Image> image;
    };
    const Case cases[] = {
        {ControlState::Normal, "OK", arrow},
        {ControlState::Highlighted, "OK", pressed},
        {ControlState::Selected, "OK", arrow},
        {ControlState::Disabled, "OK", arrow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(button->titleForState(c.state), c.title);
        EXPECT_EQ(button->imageForState(c.state), c.image);
    }
    button->setTitle("Off", ControlState::Disabled);
    button->setEnabled(false);
    EXPECT_EQ(button->currentTitle(), "Off");
    EXPECT_EQ(button->accessibilityLabel(), "Off");
}

TEST_F(Controls, ASwitchFlipsOnATapAndReportsTheChange) {
    auto window = makeKeyWindow();
    auto toggle = std::make_shared<Switch>(Rect(200, 8, 10, 10));
    EXPECT_EQ(toggle->frame(), Rect(200, 8, 94, 27)); // a switch has its own size
    window->addSubview(toggle);
    std::vector<bool> seen;
    toggle->addAction([&](Control& c) { seen.push_back(static_cast<Switch&>(c).isOn()); },
                      ControlEvent::ValueChanged);
    toggle->simulateTap();
    toggle->simulateTap();
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    toggle->setOn(true);
    EXPECT_EQ(seen.size(), 2u); // setting it in code sends nothing
}

namespace {

class FieldDelegate : public TextFieldDelegate {
public:
    std::vector<std::string> calls;
    bool allowBegin = true;
    std::optional<bool> textFieldShouldBeginEditing(TextField&) override {
        calls.push_back("should-begin");
        return allowBegin;
    }
    void textFieldDidBeginEditing(TextField&) override { calls.push_back("did-begin"); }
    void textFieldDidEndEditing(TextField& f) override { calls.push_back("did-end:" + f.text()); }
    std::optional<bool> textFieldShouldReturn(TextField&) override {
        calls.push_back("should-return");
        return true;
    }
};

} // namespace

TEST_F(Controls, ASecureNumberPadFieldTakesDigitsOnlyAndClearsWhenEditingBegins) {
    auto window = makeKeyWindow();
    auto field = std::make_shared<TextField>(Rect(180, 10, 130, 31));
    field->setSecureTextEntry(true);
    field->setKeyboardType(KeyboardType::NumberPad);
    field->setClearsOnBeginEditing(true);
    field->setText("1234");
    auto delegate = std::make_shared<FieldDelegate>();
    field->setDelegate(delegate);
    window->addSubview(field);

    field->simulateTap();
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(field->typeText("12a3 4"), 4u);
    EXPECT_EQ(field->text(), "1234");
    EXPECT_FALSE(field->pressReturn()); // the number pad has no return key
    EXPECT_TRUE(field->deleteBackward());
    EXPECT_TRUE(field->resignFirstResponder());
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"should-begin", "did-begin", "did-end:123"}));
}

TEST_F(Controls, ADelegateCanRefuseEditing) {
    auto field = std::make_shared<TextField>(Rect(0, 0, 100, 30));
    auto delegate = std::make_shared<FieldDelegate>();
    delegate->allowBegin = false;
    field->setDelegate(delegate);
    EXPECT_FALSE(field->becomeFirstResponder());
    EXPECT_EQ(field->typeText("abc"), 0u);
    EXPECT_EQ(field->text(), "");
}

TEST_F(Controls, OnlyOneFieldHasTheKeyboardAndReturnReachesTheDelegate) {
    auto a = std::make_shared<TextField>(Rect(0, 0, 100, 30));
    auto b = std::make_shared<TextField>(Rect(0, 40, 100, 30));
    auto delegate = std::make_shared<FieldDelegate>();
    a->setDelegate(delegate);
    a->typeText("héllo\n");
    EXPECT_EQ(a->text(), "héllo"); // a one-line field drops the line break
    EXPECT_TRUE(a->pressReturn());
    EXPECT_TRUE(b->becomeFirstResponder());
    EXPECT_FALSE(a->isEditing());
    EXPECT_EQ(delegate->calls.back(), "did-end:héllo");
    EXPECT_FALSE(a->deleteBackward()); // not editing any more
    b->typeText("é");
    EXPECT_TRUE(b->deleteBackward());
    EXPECT_EQ(b->text(), ""); // the whole two-byte character went
}
