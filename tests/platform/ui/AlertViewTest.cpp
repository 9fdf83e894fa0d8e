#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/AlertView.h"
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
