#pragma once
// A screen: a view controller owns its root view (loaded on first use through loadView,
// then viewDidLoad) and gets the appearance calls around it (viewWillAppear, viewDidAppear,
// viewWillDisappear, viewDidDisappear) from whoever shows it: the window for its root
// controller, a navigation controller for its stack, a modal presentation.
//
// Modal presentation: presentModalViewController puts another screen over this one. The
// presentation goes through the controller at the root of this one's containment (its
// navigation controller, for instance), which becomes the presented screen's
// `presentingViewController` and `parentViewController`; the presented view fills the
// window and is added to it on top. Animated presentations and dismissals complete after
// kModalTransitionDuration on the main run loop (the did-appear and did-disappear calls come
// then); each is recorded in the AnimationLog (kind Presentation, the transition style as
// its transition type). Starting a new presentation or dismissal first completes one still
// running, so every appearance call is paired. Dismissing takes away the whole chain of
// screens presented above the presenter. Main thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Forward.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/Responder.h"

namespace platform {

enum class ModalTransitionStyle { CoverVertical = 0, FlipHorizontal = 1, CrossDissolve = 2, PartialCurl = 3 };
enum class ModalPresentationStyle { FullScreen = 0, PageSheet = 1, FormSheet = 2, CurrentContext = 3 };
const char* toString(ModalTransitionStyle style);

inline constexpr double kModalTransitionDuration = 0.3;

class ViewController : public Responder {
public:
    ViewController();
    ~ViewController() override;

    std::shared_ptr<ViewController> sharedController();

    // ---- View ----
    // Loads the view on first use (loadView, then viewDidLoad).
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<View> view);
    // Default: a plain white view with the main screen's application frame, flexible in
    // width and height.
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }
    virtual void didReceiveMemoryWarning() {}
    // True between viewWillAppear and viewWillDisappear.
    bool isAppearing() const { return appearing_; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    NavigationItem& navigationItem();
    std::shared_ptr<NavigationItem> sharedNavigationItem();

    // Items shown in a navigation controller's toolbar while this screen is on top.
    const std::vector<std::shared_ptr<BarButtonItem>>& toolbarItems() const { return toolbarItems_; }
    void setToolbarItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);

    // ---- Containment ----
    std::shared_ptr<NavigationController> navigationController() const;
    // The navigation controller holding this screen, else the screen that presented it.
    std::shared_ptr<ViewController> parentViewController() const;
    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }
    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
    std::shared_ptr<ViewController> modalViewController() const { return presented_; }

    // ---- Modal presentation ----
    ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(ModalTransitionStyle style) { transitionStyle_ = style; }
    ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle style) { presentationStyle_ = style; }
    // Presents `controller` over this screen (see the class comment). Refused (logged) when
    // the presenter already presents a screen, when `controller` is already presented, or
    // when the presenter's view is not in a window.
    void presentModalViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    void presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses the screen this one presents; called on a presented screen that presents
    // nothing, asks its presenter to dismiss it.
    void dismissModalViewControllerAnimated(bool animated);
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    // True while a presentation or dismissal from this controller is running.
    bool isTransitioning() const { return pendingTransition_ != nullptr; }

    // ---- Orientation ----
    // Default: portrait only.
    virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) const {
        return orientation == InterfaceOrientation::Portrait;
    }
    InterfaceOrientation interfaceOrientation() const { return interfaceOrientation_; }
    // Asks the screen whether it turns to `orientation`; when it does, sends the rotation
    // calls around the change and answers true.
    bool rotateToInterfaceOrientation(InterfaceOrientation orientation, double duration = 0.3);
    virtual void willRotateToInterfaceOrientation(InterfaceOrientation to, double duration) {
        (void)to;
        (void)duration;
    }
    virtual void didRotateFromInterfaceOrientation(InterfaceOrientation from) { (void)from; }

    Responder* nextResponder() const override;

    // ---- For containers ----
    // Sends the appearance calls, keeping them paired.
    void beginAppearance(bool appearing, bool animated);
    void endAppearance(bool animated);
    void setParentNavigationController(const std::shared_ptr<NavigationController>& nav);
    // Completes a running presentation or dismissal at once.
    void finishPendingTransition();

protected:
    // Containers forward their own appearance to their visible child.
    virtual void forwardAppearance(bool appearing, bool begin, bool animated) {
        (void)appearing;
        (void)begin;
        (void)animated;
    }

private:
    struct Transition;
    void completeTransition();
    ViewController& presentationRoot();
    std::shared_ptr<Window> windowForPresentation();

    std::shared_ptr<View> view_;
    bool loadingView_ = false;
    std::string title_;
    std::shared_ptr<NavigationItem> navigationItem_;
    std::vector<std::shared_ptr<BarButtonItem>> toolbarItems_;
    std::weak_ptr<NavigationController> navigationController_;
    std::weak_ptr<ViewController> presenting_;
    std::shared_ptr<ViewController> presented_;
    ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::FullScreen;
    InterfaceOrientation interfaceOrientation_ = InterfaceOrientation::Portrait;
    bool appearing_ = false;
    // Appearance state machine: 0 disappeared, 1 appearing, 2 appeared, 3 disappearing.
    int appearanceState_ = 0;
    std::shared_ptr<Transition> pendingTransition_;
};

} // namespace platform
