// The pass-key lock at start and the settings screen.
#include "AppFixture.h"

#include <optional>

#include "app/SettingsView.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TextField.h"

namespace apptest {
namespace {

class PassKeyLock : public AppTest {
protected:
    void storeKey(const std::string& key) {
        defaults().setString("firstTime", "noFirst");
        defaults().setBool("device", true);
        defaults().setBool("extension", true);
        defaults().setBool("size", true);
        defaults().setString("passKey", key);
    }
    bool panelShown() { return root()->passCodeView->frame().y() == panelDownY(); }
    double panelDownY() const { return -76 + 120; }
};

TEST_F(PassKeyLock, PromptWaitsForTheLaunchScreenThenSlidesIn) {
    storeKey("4321");
    auto delegate = launch();
    auto r = root();
    EXPECT_TRUE(r->fileTable->isHidden());
    EXPECT_FALSE(navigation()->navigationBar().isUserInteractionEnabled());

    // A pop-up that takes 14.5 s to call back.
    delegate->popUpView()->setDelegate({});
    clock_.advance(14.5);
    EXPECT_FALSE(panelShown());
    EXPECT_TRUE(animations("pass", *r->passCodeView, "frame").empty());

    delegate->removeSplashPage(delegate->popUpView(), false);
    EXPECT_FALSE(panelShown()) << "not before the next look";
    clock_.advance(1.0);
    EXPECT_TRUE(panelShown()) << "within 1 s of the call-back";
    auto slide = animations("pass", *r->passCodeView, "frame");
    ASSERT_EQ(slide.size(), 1u);
    EXPECT_DOUBLE_EQ(slide[0].duration, 0.3);
    EXPECT_TRUE(r->pass1->isFirstResponder());
    EXPECT_EQ(r->pass1->keyboardType(), platform::KeyboardType::NumberPad);
}

TEST_F(PassKeyLock, WrongKeyShakesAndClearsRightKeyUnlocks) {
    storeKey("4321");
    launch();
    clock_.advance(1.0);
    auto r = root();
    ASSERT_TRUE(panelShown());

    r->pass1->typeText("1111");
    r->passCodeDone();
    EXPECT_EQ(r->pass1->text(), "");
    clock_.drain();
    auto shake = animations("identifier", *r->passCodeView, "transform");
    ASSERT_EQ(shake.size(), 1u);
    EXPECT_EQ(shake[0].context, "shake");
    EXPECT_DOUBLE_EQ(shake[0].repeatCount, 3);
    EXPECT_TRUE(shake[0].autoreverses);
    EXPECT_DOUBLE_EQ(shake[0].totalDuration(), 0.6);
    EXPECT_EQ(std::get<platform::AffineTransform>(shake[0].from),
              platform::AffineTransform::makeTranslation(10, 0));
    EXPECT_TRUE(r->passCodeView->transform().isIdentity());
    EXPECT_TRUE(r->fileTable->isHidden());
    EXPECT_TRUE(panelShown());

    r->pass1->typeText("4321");
    r->passCodeDone();
    EXPECT_FALSE(r->fileTable->isHidden());
    EXPECT_TRUE(navigation()->navigationBar().isUserInteractionEnabled());
    EXPECT_FALSE(r->pass1->isFirstResponder());
    EXPECT_DOUBLE_EQ(r->passCodeView->frame().y(), -76);
    EXPECT_EQ(animations("view", *r->passCodeView, "frame").size(), 1u);
}

TEST_F(PassKeyLock, DoneFadesThePanelAndKeepsTheListHidden) {
    storeKey("4321");
    launch();
    clock_.advance(1.0);
    root()->done();
    EXPECT_DOUBLE_EQ(root()->passCodeView->alpha(), 0);
    auto fade = animations("alpha", *root()->passCodeView, "alpha");
    ASSERT_EQ(fade.size(), 1u);
    EXPECT_EQ(fade[0].context, "zero");
    EXPECT_DOUBLE_EQ(fade[0].duration, 0.6);
    EXPECT_TRUE(root()->fileTable->isHidden());
}

TEST_F(PassKeyLock, NoStoredKeyMeansNoLock) {
    storeKey("");
    launch();
    clock_.advance(3.0);
    EXPECT_FALSE(root()->fileTable->isHidden());
    EXPECT_FALSE(panelShown());
}

// The root screen's button titled `title` (the action row and the pass-key panel's buttons).
std::shared_ptr<platform::Button> buttonTitled(const platform::View& view, const std::string& title) {
    for (const auto& sub : view.subviews()) {
        if (auto button = std::dynamic_pointer_cast<platform::Button>(sub); button && button->currentTitle() == title)
            return button;
        if (auto inner = buttonTitled(*sub, title))
            return inner;
    }
    return nullptr;
}

// While locked, the controls that reach the key or the files do nothing; the panel and the
// extras keep working, and unlocking gives everything back.
TEST_F(PassKeyLock, LockedScreenRefusesSettingsEditAndDeletion) {
    addFile("secret.txt", 6);
    storeKey("4321");
    launch();
    clock_.advance(1.0);
    auto r = root();
    ASSERT_TRUE(panelShown());
    ASSERT_TRUE(r->isLocked());
    auto tap = [&](const std::string& title) {
        auto button = buttonTitled(*r->view(), title);
        ASSERT_NE(button, nullptr) << title;
        button->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
        clock_.advance(0.5);
    };

    tap("Settings");
    EXPECT_EQ(navigation()->presentedViewController(), nullptr) << "no way to the key";
    tap("Edit");
    EXPECT_FALSE(r->fileTable->isEditing());
    EXPECT_FALSE(r->fileTable->swipeToDeleteRow({0, 0}));
    r->tableViewCommitEditingStyleForRowAtIndexPath(*r->fileTable, platform::TableViewCellEditingStyle::Delete,
                                                    {0, 0});
    EXPECT_TRUE(std::filesystem::exists(documents() / "secret.txt"));
    EXPECT_EQ(defaults().stringForKey("passKey"), "4321");
    EXPECT_TRUE(r->fileTable->isHidden());

    // The storage panel, the upgrade button and the news button still answer.
    r->memoryButton->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_TRUE(r->showMemoryPanel);
    r->upgradeButon->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    EXPECT_EQ(platform::Application::shared().openedURLs().size(), 1u);
    r->pushNews->newsButton()->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_TRUE(r->pushNews->isViewAdded());

    // The panel's own buttons: a wrong key clears the field, the right one unlocks.
    r->pass1->typeText("1111");
    tap("OK");
    EXPECT_EQ(r->pass1->text(), "");
    EXPECT_TRUE(r->isLocked());
    r->pass1->typeText("4321");
    tap("OK");
    EXPECT_FALSE(r->isLocked());
    EXPECT_FALSE(r->fileTable->isHidden());
    tap("Edit");
    EXPECT_TRUE(r->fileTable->isEditing());
    tap("Edit");
    tap("Settings");
    EXPECT_NE(navigation()->presentedViewController(), nullptr);
}

TEST_F(PassKeyLock, CancelKeepsTheScreenLocked) {
    storeKey("4321");
    launch();
    clock_.advance(1.0);
    auto r = root();
    auto cancel = buttonTitled(*r->view(), "Cancel");
    ASSERT_NE(cancel, nullptr);
    cancel->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    EXPECT_DOUBLE_EQ(r->passCodeView->alpha(), 0);
    EXPECT_TRUE(r->isLocked());
    r->setting();
    clock_.advance(0.5);
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
}

// Cancel fades the panel and keeps the list hidden; back from the background the panel is
// there again with the number pad, and the right key still unlocks.
TEST_F(PassKeyLock, CancelledPanelComesBackAtTheNextForeground) {
    storeKey("4321");
    launch();
    clock_.advance(1.0);
    auto r = root();
    ASSERT_TRUE(panelShown());
    buttonTitled(*r->view(), "Cancel")->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
    ASSERT_DOUBLE_EQ(r->passCodeView->alpha(), 0);
    r->pass1->resignFirstResponder(); // whatever took the keyboard meanwhile

    auto& application = platform::Application::shared();
    application.enterBackground();
    EXPECT_DOUBLE_EQ(r->passCodeView->alpha(), 0);
    application.enterForeground();
    EXPECT_DOUBLE_EQ(r->passCodeView->alpha(), 1);
    EXPECT_TRUE(panelShown());
    EXPECT_TRUE(r->pass1->isFirstResponder());
    EXPECT_TRUE(r->fileTable->isHidden());
    EXPECT_TRUE(r->isLocked());

    r->pass1->typeText("4321");
    r->passCodeDone();
    EXPECT_FALSE(r->isLocked());
    EXPECT_FALSE(r->fileTable->isHidden());
    // Unlocked, a later trip to the background brings no panel back.
    application.enterBackground();
    application.enterForeground();
    EXPECT_FALSE(r->pass1->isFirstResponder());
    EXPECT_DOUBLE_EQ(r->passCodeView->frame().y(), -76);
}

class Settings : public AppTest {
protected:
    // Opens the settings screen from the root screen and lets its presentation finish.
    std::shared_ptr<app::SettingsView> open() {
        root()->setting();
        clock_.advance(0.5);
        auto presented = std::dynamic_pointer_cast<platform::NavigationController>(
            navigation()->presentedViewController());
        if (!presented)
            return nullptr;
        auto settings = std::dynamic_pointer_cast<app::SettingsView>(presented->topViewController());
        if (settings)
            settings->view()->layoutIfNeeded();
        return settings;
    }
    // Launches; with a stored key, the user first unlocks with it (the settings stay shut
    // while the screen is locked).
    void start() {
        launch();
        clock_.drain();
        if (root()->isLocked()) {
            root()->pass1->typeText(defaults().stringForKey("passKey").value_or(""));
            root()->passCodeDone();
        }
    }
    template <typename T> std::shared_ptr<T> control(app::SettingsView& s, int tag) {
        s.setTable->layoutIfNeeded();
        return std::dynamic_pointer_cast<T>(s.controlWithTag(tag));
    }
    static void flip(platform::Switch& toggle) {
        toggle.setOn(!toggle.isOn());
        toggle.sendActionsForControlEvents(platform::ControlEvent::ValueChanged);
    }
    static void type(platform::TextField& field, const std::string& text) {
        ASSERT_TRUE(field.becomeFirstResponder());
        field.typeText(text);
    }
};

TEST_F(Settings, TableRowsLabelsAndTags) {
    defaults().setString("passKey", "77");
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->title(), "Settings");
    EXPECT_EQ(s->setTable->numberOfSections(), 2);
    struct Row {
        int section, row;
        const char* label;
        int tag;
        bool isSwitch;
    };
    const Row rows[] = {
        {0, 0, "Show file size", 11, true},   {0, 1, "Show file extension", 12, true},
        {0, 2, "Show file device", 13, true}, {1, 0, "Enable passkey lock", 21, true},
        {1, 1, "Pass Key", 22, false},        {1, 2, "Confirm pass key", 23, false},
    };
    for (const auto& r : rows) {
        auto cell = s->setTable->cellForRowAtIndexPath({r.section, r.row});
        ASSERT_NE(cell, nullptr) << r.label;
        auto label = std::dynamic_pointer_cast<platform::Label>(cell->contentView().viewWithTag(2000));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), r.label);
        auto control = cell->contentView().viewWithTag(r.tag);
        ASSERT_NE(control, nullptr) << r.label;
        EXPECT_EQ(std::dynamic_pointer_cast<platform::Switch>(control) != nullptr, r.isSwitch);
        if (!r.isSwitch) {
            auto field = std::static_pointer_cast<platform::TextField>(control);
            EXPECT_TRUE(field->isSecureTextEntry());
            EXPECT_EQ(field->keyboardType(), platform::KeyboardType::NumberPad);
            EXPECT_EQ(field->text(), "77") << "a stored key fills both fields";
        }
    }
    EXPECT_TRUE(control<platform::Switch>(*s, 21)->isOn());
}

TEST_F(Settings, ViewSwitchesStoreAndAnnounce) {
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    struct Case {
        int tag;
        const char* key;
        const char* notification;
    };
    const Case cases[] = {
        {11, "size", "showFile"}, {12, "extension", "fileExtension"}, {13, "device", "showFile"}};
    for (const auto& c : cases) {
        int heard = 0;
        auto token = platform::NotificationCenter::defaultCenter().addObserver(
            c.notification, [&](const platform::Notification&) { ++heard; });
        auto toggle = control<platform::Switch>(*s, c.tag);
        ASSERT_NE(toggle, nullptr);
        EXPECT_TRUE(toggle->isOn()) << c.key;
        flip(*toggle);
        EXPECT_FALSE(defaults().boolForKey(c.key)) << c.key;
        EXPECT_EQ(heard, 1) << c.key;
        flip(*toggle);
        EXPECT_TRUE(defaults().boolForKey(c.key)) << c.key;
        platform::NotificationCenter::defaultCenter().removeObserver(token);
    }
}

TEST_F(Settings, MatchingKeysAreStoredAndTheNextLaunchAsksForThem) {
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->setTable->numberOfRowsInSection(1), 1);
    flip(*control<platform::Switch>(*s, 21));
    EXPECT_EQ(s->setTable->numberOfRowsInSection(1), 3);
    EXPECT_EQ(defaults().stringForKey("passKey"), "") << "on before any key: the empty key, no lock";
    EXPECT_FALSE(defaults().boolForKey("security")) << "no lock without a key";

    auto key = control<platform::TextField>(*s, 22);
    auto confirm = control<platform::TextField>(*s, 23);
    ASSERT_TRUE(key && confirm);
    double tableY = s->setTable->frame().y();
    type(*key, "2468");
    EXPECT_DOUBLE_EQ(s->setTable->frame().y(), tableY - 160);
    ASSERT_NE(s->navigationItem().rightBarButtonItem(), nullptr);
    type(*confirm, "2468");
    EXPECT_DOUBLE_EQ(s->setTable->frame().y(), tableY - 160) << "lifted only once";
    ASSERT_TRUE(s->navigationItem().rightBarButtonItem()->press());

    EXPECT_EQ(defaults().stringForKey("passKey"), "2468");
    EXPECT_TRUE(defaults().boolForKey("security"));
    EXPECT_TRUE(alertTitles().empty());
    EXPECT_DOUBLE_EQ(s->setTable->frame().y(), tableY);
    EXPECT_EQ(s->navigationItem().rightBarButtonItem(), nullptr);

    // Next launch.
    platform::Application::resetForTesting();
    app::resetLaunchStateForTesting();
    launch();
    EXPECT_TRUE(root()->fileTable->isHidden());
}

TEST_F(Settings, DifferentKeysAreRefused) {
    defaults().setString("passKey", "1357");
    start();
    clock_.advance(1.0);
    auto s = open();
    ASSERT_NE(s, nullptr);
    type(*control<platform::TextField>(*s, 22), "1111");
    type(*control<platform::TextField>(*s, 23), "2222");
    s->editDone();
    EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Pass key does not match"}));
    EXPECT_EQ(defaults().stringForKey("passKey"), "1357");
}

// Done compares the two fields' texts. Tapping the key field empties it; a stray Done then
// does not match the confirmation, which still shows the stored key: nothing is stored and the
// lock stays, also at the next launch.
TEST_F(Settings, DoneAfterTappingTheKeyFieldKeepsTheLock) {
    defaults().setString("passKey", "1357");
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    auto key = control<platform::TextField>(*s, 22);
    auto confirm = control<platform::TextField>(*s, 23);
    ASSERT_TRUE(key && confirm);
    ASSERT_TRUE(key->becomeFirstResponder());
    ASSERT_EQ(key->text(), "") << "the key field empties when editing begins";
    ASSERT_NE(s->navigationItem().rightBarButtonItem(), nullptr);
    ASSERT_TRUE(s->navigationItem().rightBarButtonItem()->press());
    EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Pass key does not match"}));
    EXPECT_EQ(defaults().stringForKey("passKey"), "1357");
    EXPECT_TRUE(control<platform::Switch>(*s, 21)->isOn());
    EXPECT_EQ(confirm->text(), "1357");

    platform::Application::resetForTesting();
    app::resetLaunchStateForTesting();
    launch();
    EXPECT_TRUE(root()->isLocked());
    EXPECT_TRUE(root()->fileTable->isHidden());
}

// Both fields emptied on purpose and Done: the empty key (no lock) is stored and the screen
// shows it as turning the switch off does: switch off, only the switch row.
TEST_F(Settings, DoneWithBothFieldsEmptiedTurnsTheLockOff) {
    defaults().setString("passKey", "1357");
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    auto key = control<platform::TextField>(*s, 22);
    auto confirm = control<platform::TextField>(*s, 23);
    double tableY = s->setTable->frame().y();
    ASSERT_TRUE(key->becomeFirstResponder());
    ASSERT_TRUE(confirm->becomeFirstResponder());
    ASSERT_EQ(confirm->text(), "");
    ASSERT_TRUE(s->navigationItem().rightBarButtonItem()->press());
    EXPECT_TRUE(alertTitles().empty());
    EXPECT_EQ(defaults().stringForKey("passKey"), "");
    EXPECT_FALSE(defaults().boolForKey("security"));
    EXPECT_FALSE(control<platform::Switch>(*s, 21)->isOn());
    EXPECT_EQ(s->setTable->numberOfRowsInSection(1), 1);
    EXPECT_EQ(s->navigationItem().rightBarButtonItem(), nullptr);
    EXPECT_DOUBLE_EQ(s->setTable->frame().y(), tableY);
    EXPECT_FALSE(confirm->isFirstResponder());

    platform::Application::resetForTesting();
    app::resetLaunchStateForTesting();
    launch();
    EXPECT_FALSE(root()->isLocked());
}

TEST_F(Settings, LockSwitchOffClearsTheKeyAndBothFields) {
    defaults().setString("passKey", "1357");
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    auto key = control<platform::TextField>(*s, 22);
    auto confirm = control<platform::TextField>(*s, 23);
    type(*key, "9999");
    type(*confirm, "9999"); // typed and matching, but the lock goes off before Done

    flip(*control<platform::Switch>(*s, 21));
    EXPECT_EQ(defaults().stringForKey("passKey"), "");
    EXPECT_FALSE(defaults().boolForKey("security"));
    EXPECT_EQ(s->setTable->numberOfRowsInSection(1), 1);
    EXPECT_EQ(key->text(), "");
    EXPECT_EQ(confirm->text(), "");
    EXPECT_EQ(s->navigationItem().rightBarButtonItem(), nullptr);
    EXPECT_GE(s->setTable->frame().y(), 0);
    EXPECT_TRUE(alertTitles().empty());
    clock_.advance(1.0);
    EXPECT_EQ(defaults().stringForKey("passKey"), "") << "nothing typed is stored again";
}

// Leaving by Back with the lock on: what the screen shows as set is what is stored. Keys in
// both fields are stored when they match and keep the screen with the mismatch alert when they
// do not; with no key stored, the lock goes off. "security" is on exactly while a key is.
struct BackCase {
    const char* name;
    std::string stored;                      // the key stored before the screen opens
    std::optional<std::string> key;          // typed into the key field; none: not touched
    std::optional<std::string> confirmation; // typed into the confirmation field
    std::string kept;                        // "passKey" afterwards
    bool staysOpen;                          // the mismatch alert keeps the screen
};

void PrintTo(const BackCase& c, std::ostream* os) {
    *os << c.name;
}

class SettingsBack : public Settings, public ::testing::WithParamInterface<BackCase> {};

TEST_P(SettingsBack, StoresWhatTheScreenShows) {
    const BackCase& c = GetParam();
    if (!c.stored.empty()) {
        defaults().setString("passKey", c.stored);
        defaults().setBool("security", true);
    }
    start();
    auto s = open();
    ASSERT_NE(s, nullptr);
    auto lock = control<platform::Switch>(*s, 21);
    ASSERT_NE(lock, nullptr);
    if (!lock->isOn())
        flip(*lock);
    auto key = control<platform::TextField>(*s, 22);
    auto confirm = control<platform::TextField>(*s, 23);
    ASSERT_TRUE(key && confirm);
    if (c.key)
        type(*key, *c.key);
    if (c.confirmation)
        type(*confirm, *c.confirmation);

    auto back = s->navigationItem().leftBarButtonItem();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->title(), "Back");
    back->press();
    clock_.advance(0.5);

    EXPECT_EQ(defaults().stringForKey("passKey").value_or(""), c.kept);
    EXPECT_EQ(defaults().boolForKey("security"), !c.kept.empty());
    EXPECT_EQ(alertTitles(),
              c.staysOpen ? std::vector<std::string>{"Pass key does not match"} : std::vector<std::string>{});
    EXPECT_EQ(navigation()->presentedViewController() != nullptr, c.staysOpen);
    EXPECT_EQ(lock->isOn(), c.staysOpen || !c.kept.empty()) << "the switch shows what is stored";
    if (c.staysOpen)
        return;

    // The next start asks for the key exactly when one is stored.
    platform::Application::resetForTesting();
    app::resetLaunchStateForTesting();
    launch();
    clock_.advance(1.0);
    EXPECT_EQ(root()->isLocked(), !c.kept.empty());
    EXPECT_EQ(root()->fileTable->isHidden(), !c.kept.empty());
}

INSTANTIATE_TEST_SUITE_P(
    LockOn, SettingsBack,
    ::testing::Values(BackCase{"NewKeyTypedTwice", "", "1357", "1357", "1357", false},
                      BackCase{"NewKeyReplacesTheStoredOne", "2468", "1357", "1357", "1357", false},
                      BackCase{"KeysDiffer", "2468", "1357", "9999", "2468", true},
                      BackCase{"NewKeysDiffer", "", "1357", "9999", "", true},
                      BackCase{"OnlyTheKeyRetyped", "2468", "1357", std::nullopt, "2468", true},
                      BackCase{"NothingTyped", "", std::nullopt, std::nullopt, "", false},
                      BackCase{"OnlyTheKeyTyped", "", "1357", std::nullopt, "", false},
                      BackCase{"StoredKeyUntouched", "2468", std::nullopt, std::nullopt, "2468", false},
                      BackCase{"StoredKeyFieldEmptied", "2468", "", std::nullopt, "2468", false}),
    [](const ::testing::TestParamInfo<BackCase>& info) { return std::string(info.param.name); });

TEST_F(Settings, OpeningAndClosingMovesTheBannerHost) {
    start();
    makeBannerHost();
    auto s = open();
    ASSERT_NE(s, nullptr);
    EXPECT_DOUBLE_EQ(app::adView->frame().y(), 427);
    ASSERT_NE(s->navigationItem().leftBarButtonItem(), nullptr);
    EXPECT_EQ(s->navigationItem().leftBarButtonItem()->title(), "Back");
    s->navigationItem().leftBarButtonItem()->press();
    EXPECT_DOUBLE_EQ(app::adView->frame().y(), 383);
    auto moves = animations("halo", *app::adView, "frame");
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_DOUBLE_EQ(moves[1].duration, 0.5);
    clock_.advance(0.5);
    EXPECT_EQ(navigation()->presentedViewController(), nullptr);
}

} // namespace
} // namespace apptest
