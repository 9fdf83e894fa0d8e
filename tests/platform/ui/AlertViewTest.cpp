#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/ui/TextRenderer.h"

using namespace platform;

namespace {

class AlertRecorder : public AlertViewDelegate {
public:
    std::vector<std::string> calls;
    std::string typed;
    void alertViewClickedButtonAtIndex(AlertView& alert, int index) override {
        calls.push_back("clicked " + std::to_string(index));
        if (auto field = alert.textFieldAtIndex(0))
            typed = field->text();
    }
    void didPresentAlertView(AlertView&) override { calls.push_back("did-present"); }
    void alertViewWillDismissWithButtonIndex(AlertView&, int index) override {
        calls.push_back("will-dismiss " + std::to_string(index));
    }
    void alertViewDidDismissWithButtonIndex(AlertView&, int index) override {
        calls.push_back("did-dismiss " + std::to_string(index));
    }
};

class Alerts : public uitest::UiTest {
protected:
    std::shared_ptr<AlertRecorder> recorder = std::make_shared<AlertRecorder>();
};

} // namespace

TEST_F(Alerts, TheCancelButtonComesFirstAndLaterButtonsFollow) {
    auto alert = AlertView::create("Email", "Email sent successfully!", recorder, "OK", {"Retry", "Later"});
    EXPECT_EQ(alert->numberOfButtons(), 3);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
    EXPECT_EQ(alert->addButtonWithTitle("More"), 3);
    EXPECT_EQ(alert->buttonTitleAtIndex(2), "Later");
    EXPECT_EQ(alert->buttonTitleAtIndex(9), "");

    auto noCancel = AlertView::create("t", "m", recorder, std::nullopt, {"A"});
    EXPECT_EQ(noCancel->cancelButtonIndex(), -1);
    EXPECT_EQ(noCancel->firstOtherButtonIndex(), 0);
}

TEST_F(Alerts, PressingAButtonReachesTheDelegateThenDismisses) {
    auto window = makeKeyWindow();
    std::weak_ptr<AlertView> weak;
    {
        auto alert = AlertView::create("Pass key does not match", "", recorder, "OK");
        weak = alert;
        alert->show();
    }
    ASSERT_EQ(Application::shared().visibleAlerts().size(), 1u); // the application holds it
    clock_.drain();
    EXPECT_TRUE(TextRenderer::renderScreen().find("Pass key does not match") != std::string::npos);

    EXPECT_TRUE(TextRenderer::tap("OK")); // through the event dispatch, as a finger
    EXPECT_TRUE(Application::shared().visibleAlerts().empty());
    clock_.drain();
    EXPECT_EQ(recorder->calls,
              (std::vector<std::string>{"did-present", "clicked 0", "will-dismiss 0", "did-dismiss 0"}));
    EXPECT_TRUE(weak.expired()); // released once dismissed
    EXPECT_EQ(TextRenderer::renderScreen().find("Pass key"), std::string::npos);
}

TEST_F(Alerts, AnAlertIsModalForTouches) {
    auto window = makeKeyWindow();
    auto button = std::make_shared<Button>(Rect(0, 0, 320, 480));
    int presses = 0;
    button->addAction([&](Control&) { ++presses; }, ControlEvent::TouchUpInside);
    window->addSubview(button);
    auto alert = AlertView::create("Email", "There is an error.\nPlease try again later.", recorder, "OK");
    alert->show();
    Application::shared().simulateTap({5, 5}); // outside the alert
    EXPECT_EQ(presses, 0);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_FALSE(TextRenderer::findTappable("Background"));
}

TEST_F(Alerts, TextFieldsComeFromTheStyleAndTakeTyping) {
    auto alert = AlertView::create("Pass key", "Enter the key", recorder, "Cancel", {"OK"});
    alert->setAlertViewStyle(AlertViewStyle::SecureTextInput);
    auto field = alert->textFieldAtIndex(0);
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->isSecureTextEntry());
    EXPECT_EQ(alert->textFieldAtIndex(1), nullptr);
    field->setKeyboardType(KeyboardType::NumberPad);
    alert->show();
    EXPECT_TRUE(field->isFirstResponder()); // the keyboard comes up with the alert
    field->typeText("4711");
    auto screen = TextRenderer::renderScreen();
    EXPECT_NE(screen.find("••••"), std::string::npos);
    EXPECT_EQ(screen.find("4711"), std::string::npos);
    EXPECT_TRUE(alert->pressButtonWithTitle("OK"));
    EXPECT_EQ(recorder->typed, "4711");
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_FALSE(alert->pressButton(1)); // no longer shown
}

TEST_F(Alerts, DismissingInCodeDoesNotCountAsAClick) {
    auto alert = AlertView::create("t", "m", recorder, "OK");
    alert->show();
    alert->dismissWithClickedButtonIndex(0, false);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"will-dismiss 0", "did-dismiss 0"}));
    clock_.drain(); // the did-present of a dismissed alert never comes
    EXPECT_EQ(recorder->calls.size(), 2u);
}

// An alert whose message is taller than the screen stays inside it on either device: the
// title, the fields and every button show and take taps, and the message is cut with "…".
TEST_F(Alerts, AnAlertTallerThanTheScreenKeepsItsTitleAndButtonsOnIt) {
    std::string message;
    for (int i = 1; i <= 150; ++i)
        message += "Line " + std::to_string(i) + " of a message far too long for any screen.\n";
    struct Case {
        const char* what;
        AlertViewStyle style;
        std::vector<std::string> others;
    } cases[] = {
        {"one button", AlertViewStyle::Default, {}},
        {"two buttons side by side", AlertViewStyle::Default, {"Retry"}},
        {"three buttons", AlertViewStyle::Default, {"Retry", "Later"}},
        {"two fields", AlertViewStyle::LoginAndPasswordInput, {"Sign in"}},
    };
    for (auto device : {DeviceProfile::Phone, DeviceProfile::Tablet})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) +
                         (device == DeviceProfile::Phone ? " on the phone" : " on the tablet"));
            Device::setProfile(device);
            auto window = makeKeyWindow();
            window->setBackgroundColor(Color::whiteColor());
            auto alert = AlertView::create("Could not delete", message, recorder, "OK", c.others);
            alert->setAlertViewStyle(c.style);
            alert->show();
            const Rect screen = Screen::main().bounds();
            const Rect panel = alert->frame();
            EXPECT_TRUE(screen.contains(panel.origin) && panel.maxY() <= screen.maxY())
                << toString(panel) << " on " << toString(screen);
            for (int i = 0; i < alert->numberOfTextFields(); ++i) {
                Rect field =
                    alert->textFieldAtIndex(i)->convertRectTo(alert->textFieldAtIndex(i)->bounds(), nullptr);
                EXPECT_EQ(panel.intersection(field), field) << "field " << i;
            }
            for (const auto& button : alert->buttons()) {
                Rect b = button->convertRectTo(button->bounds(), nullptr);
                EXPECT_EQ(panel.intersection(b), b) << button->currentTitle();
            }
            const std::string text = TextRenderer::renderScreen();
            EXPECT_NE(text.find("Could not delete"), std::string::npos) << text;
            for (int i = 0; i < alert->numberOfButtons(); ++i)
                EXPECT_NE(text.find(alert->buttonTitleAtIndex(i)), std::string::npos) << text;

            // The message shows its start, cut with an ellipsis; the title shows whole.
            std::vector<std::string> title, shown;
            for (const auto& op : ScreenPicture::compose(*alert).paintOps()) {
                if (op.kind == DrawOp::Kind::Text && op.text == message)
                    shown = ScreenPicture::shownLines(op);
                if (op.kind == DrawOp::Kind::Text && op.text == "Could not delete")
                    title = ScreenPicture::shownLines(op);
            }
            EXPECT_EQ(title, std::vector<std::string>{"Could not delete"});
            ASSERT_FALSE(shown.empty());
            EXPECT_EQ(shown.front().rfind("Line 1 ", 0), 0u) << shown.front();
            EXPECT_TRUE(shown.back().ends_with("\xE2\x80\xA6")) << shown.back();

            // The last button takes the tap.
            const std::string last = alert->buttonTitleAtIndex(alert->numberOfButtons() - 1);
            EXPECT_TRUE(TextRenderer::tap(last)) << last;
            EXPECT_FALSE(alert->isVisible());
            window->setHidden(true);
        }
}

// The screen behind an alert is dimmed, so a white panel stands out on a white screen.
TEST_F(Alerts, TheScreenBehindAnAlertIsDimmed) {
    auto window = makeKeyWindow();
    window->setBackgroundColor(Color::whiteColor());
    const Bitmap before = ScreenPicture::renderScreen();
    auto alert = AlertView::create("Email", "Email sent successfully!", recorder, "OK");
    alert->show();
    const Bitmap during = ScreenPicture::renderScreen();
    const Rect panel = alert->frame();
    // A point well away from the panel, and one inside it between its texts' rows.
    const Point away{panel.midX(), panel.maxY() + 40};
    const Point inside{panel.minX() + 4, panel.midY()};
    auto luminance = [](Bitmap::RGBA p) { return 0.2126 * p.r + 0.7152 * p.g + 0.0722 * p.b; };
    EXPECT_GT(luminance(before.pixel(int(away.x), int(away.y))), 250);
    EXPECT_LT(luminance(during.pixel(int(away.x), int(away.y))), 200) << "the screen is not dimmed";
    EXPECT_GT(luminance(during.pixel(int(inside.x), int(inside.y))), 250) << "the panel itself is dimmed";
    alert->pressButton(0);
    const Bitmap after = ScreenPicture::renderScreen();
    EXPECT_GT(luminance(after.pixel(int(away.x), int(away.y))), 250) << "the dimming outlives the alert";
}
