#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/ViewController.h"

using namespace platform;

namespace {

std::vector<std::string>* gJournal = nullptr;

// Writes every life-cycle call into the shared journal as "<name> <call>".
class Screen_ : public ViewController {
public:
    explicit Screen_(std::string name) : name_(std::move(name)) {}
    void loadView() override {
        note("loadView");
        ViewController::loadView();
    }
    void viewDidLoad() override { note("viewDidLoad"); }
    void viewWillAppear(bool) override { note("viewWillAppear"); }
    void viewDidAppear(bool) override { note("viewDidAppear"); }
    void viewWillDisappear(bool) override { note("viewWillDisappear"); }
    void viewDidDisappear(bool) override { note("viewDidDisappear"); }
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) const override {
        return isPortrait(o);
    }

private:
    void note(const char* call) {
        if (gJournal)
            gJournal->push_back(name_ + " " + call);
    }
    std::string name_;
};

class Controllers : public uitest::UiTest {
protected:
    Controllers() { gJournal = &journal; }
    ~Controllers() override { gJournal = nullptr; }

    // A window whose root is a navigation controller over `root`, as the drive sets up.
    std::shared_ptr<NavigationController> showNavigation(const std::shared_ptr<ViewController>& root) {
        window = makeKeyWindow();
        auto nav = NavigationController::create(root);
        window->setRootViewController(nav);
        journal.clear();
        return nav;
    }

    std::vector<std::string> journal;
    std::shared_ptr<Window> window;
};

} // namespace

TEST_F(Controllers, TheViewLoadsOnceOnFirstUse) {
    auto c = std::make_shared<Screen_>("A");
    EXPECT_FALSE(c->isViewLoaded());
    auto v = c->view();
    EXPECT_EQ(c->view(), v);
    EXPECT_EQ(journal, (std::vector<std::string>{"A loadView", "A viewDidLoad"}));
    EXPECT_EQ(v->frame(), Screen::main().applicationFrame());
}

TEST_F(Controllers, AnAnimatedModalPresentationCompletesAfterItsTransition) {
    auto root = std::make_shared<Screen_>("Root");
    auto nav = showNavigation(root);
    auto settings = std::make_shared<Screen_>("Settings");
    auto wrapper = NavigationController::create(settings);
    wrapper->setModalTransitionStyle(ModalTransitionStyle::FlipHorizontal);
    bool completed = false;

    root->presentViewController(wrapper, true, [&] { completed = true; });
    // The presentation goes through the root's navigation controller.
    EXPECT_EQ(nav->presentedViewController(), wrapper);
    EXPECT_EQ(wrapper->presentingViewController(), nav);
    EXPECT_EQ(wrapper->parentViewController(), nav);
    EXPECT_EQ(settings->parentViewController(), wrapper);
    EXPECT_EQ(journal, (std::vector<std::string>{"Settings loadView", "Settings viewDidLoad",
                                                 "Settings viewWillAppear", "Root viewWillDisappear"}));
    EXPECT_FALSE(completed);
    auto r = AnimationLog::shared().last();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, AnimationKind::Presentation);
    EXPECT_EQ(r->transitionType, "flipHorizontal");
    EXPECT_EQ(r->state, AnimationState::Running);

    journal.clear();
    clock_.advance(kModalTransitionDuration);
    EXPECT_TRUE(completed);
    EXPECT_EQ(journal, (std::vector<std::string>{"Settings viewDidAppear", "Root viewDidDisappear"}));
    EXPECT_EQ(wrapper->view()->window(), window);

    // The presented screen dismisses itself: its presenter takes it away.
    journal.clear();
    settings->dismissModalViewControllerAnimated(true);
    EXPECT_EQ(journal, (std::vector<std::string>{"Settings viewWillDisappear", "Root viewWillAppear"}));
    clock_.advance(kModalTransitionDuration);
    EXPECT_EQ(nav->presentedViewController(), nullptr);
    EXPECT_EQ(wrapper->presentingViewController(), nullptr);
    EXPECT_EQ(wrapper->view()->superview(), nullptr);
    EXPECT_EQ(journal.back(), "Root viewDidAppear");
}

TEST_F(Controllers, ADismissalDuringThePresentationFinishesThePresentationFirst) {
    auto root = std::make_shared<Screen_>("Root");
    showNavigation(root);
    auto modal = std::make_shared<Screen_>("Modal");
    root->presentModalViewController(modal, true);
    root->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(journal, (std::vector<std::string>{"Modal loadView", "Modal viewDidLoad",
                                                 "Modal viewWillAppear", "Root viewWillDisappear",
                                                 "Modal viewDidAppear", "Root viewDidDisappear",
                                                 "Modal viewWillDisappear", "Root viewWillAppear",
                                                 "Modal viewDidDisappear", "Root viewDidAppear"}));
    journal.clear();
    clock_.advance(1); // no late completion of the finished presentation
    EXPECT_TRUE(journal.empty());
}

TEST_F(Controllers, PresentingOverAPresentedScreenStacksAndDismissalTakesTheWholeChain) {
    auto root = std::make_shared<Screen_>("Root");
    auto nav = showNavigation(root);
    auto first = std::make_shared<Screen_>("First");
    auto second = std::make_shared<Screen_>("Second");
    root->presentModalViewController(first, false);
    root->presentModalViewController(second, false); // root already presents: goes on top
    EXPECT_EQ(first->presentedViewController(), second);
    nav->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(nav->presentedViewController(), nullptr);
    EXPECT_EQ(first->presentedViewController(), nullptr);
    EXPECT_EQ(second->view()->superview(), nullptr);
}

TEST_F(Controllers, PresentationNeedsAWindow) {
    auto loose = std::make_shared<Screen_>("Loose");
    auto modal = std::make_shared<Screen_>("Modal");
    loose->presentModalViewController(modal, false);
    EXPECT_EQ(loose->presentedViewController(), nullptr);
    EXPECT_FALSE(modal->isViewLoaded());
}

TEST_F(Controllers, PushAndPopSendTheAppearanceCallsAndShowABackButton) {
    auto root = std::make_shared<Screen_>("Root");
    root->setTitle("Files");
    auto nav = showNavigation(root);
    auto help = std::make_shared<Screen_>("Help");
    nav->pushViewController(help, true);
    EXPECT_EQ(nav->topViewController(), help);
    EXPECT_EQ(help->navigationController(), nav);
    clock_.advance(kNavigationTransitionDuration);
    EXPECT_EQ(journal, (std::vector<std::string>{"Help loadView", "Help viewDidLoad",
                                                 "Root viewWillDisappear", "Help viewWillAppear",
                                                 "Root viewDidDisappear", "Help viewDidAppear"}));
    ASSERT_TRUE(nav->navigationBar().backButton());
    EXPECT_EQ(nav->navigationBar().backButton()->currentTitle(), "Files");

    journal.clear();
    EXPECT_TRUE(TextRenderer::tap("Files")); // the back button pops
    clock_.advance(kNavigationTransitionDuration);
    EXPECT_EQ(nav->topViewController(), root);
    EXPECT_EQ(help->navigationController(), nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"Help viewWillDisappear", "Root viewWillAppear",
                                                 "Help viewDidDisappear", "Root viewDidAppear"}));
    EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr); // the root stays
}

TEST_F(Controllers, NavigationItemsShowInTheBarAndPressTheirActions) {
    auto root = std::make_shared<Screen_>("Root");
    root->setTitle("Settings");
    showNavigation(root);
    int backs = 0;
    root->navigationItem().setLeftBarButtonItem(
        BarButtonItem::withTitle("Back", BarButtonItemStyle::Plain, [&](BarButtonItem&) { ++backs; }));
    auto screen = TextRenderer::renderScreen();
    EXPECT_NE(screen.find("Settings"), std::string::npos);
    EXPECT_NE(screen.find("[Back]"), std::string::npos);
    EXPECT_TRUE(TextRenderer::tap("Back"));
    EXPECT_EQ(backs, 1);
    root->navigationItem().setLeftBarButtonItem(nullptr);
    EXPECT_FALSE(TextRenderer::findTappable("Back"));
}

TEST_F(Controllers, RotationAsksTheScreenFirst) {
    auto help = std::make_shared<Screen_>("Help");
    EXPECT_FALSE(help->rotateToInterfaceOrientation(InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(help->interfaceOrientation(), InterfaceOrientation::Portrait);
    EXPECT_TRUE(help->rotateToInterfaceOrientation(InterfaceOrientation::PortraitUpsideDown));
    EXPECT_EQ(help->interfaceOrientation(), InterfaceOrientation::PortraitUpsideDown);
}
