#include "platform/ui/ViewController.h"

#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

constexpr const char* kTransitionPerformName = "modal-transition";

enum AppearanceState { kDisappeared = 0, kAppearing = 1, kAppeared = 2, kDisappearing = 3 };

} // namespace

const char* toString(ModalTransitionStyle style) {
    switch (style) {
    case ModalTransitionStyle::CoverVertical:
        return "coverVertical";
    case ModalTransitionStyle::FlipHorizontal:
        return "flipHorizontal";
    case ModalTransitionStyle::CrossDissolve:
        return "crossDissolve";
    case ModalTransitionStyle::PartialCurl:
        return "partialCurl";
    }
    return "?";
}

// A presentation or dismissal under way from one presentation root.
struct ViewController::Transition {
    bool presenting = true;
    std::shared_ptr<ViewController> root;              // the presenter
    std::vector<std::shared_ptr<ViewController>> gone; // dismissal: the screens taken away
    std::shared_ptr<ViewController> presented;         // presentation: the new screen
    bool animated = false;
    std::function<void()> completion;
    std::uint64_t recordId = 0;
};

ViewController::ViewController() = default;

ViewController::~ViewController() {
    if (view_)
        view_->setOwningViewController(nullptr);
    if (pendingTransition_)
        RunLoop::main().cancelPerforms(this, kTransitionPerformName);
}

std::shared_ptr<ViewController> ViewController::sharedController() {
    return std::static_pointer_cast<ViewController>(weak_from_this().lock());
}

// ---- View ----

std::shared_ptr<View> ViewController::view() {
    if (view_ || loadingView_)
        return view_;
    loadingView_ = true;
    loadView();
    if (!view_)
        ViewController::loadView();
    loadingView_ = false;
    viewDidLoad();
    return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view_)
        view_->setOwningViewController(nullptr);
    view_ = std::move(view);
    if (view_)
        view_->setOwningViewController(this);
}

void ViewController::loadView() {
    auto v = std::make_shared<View>(Screen::main().applicationFrame());
    v->setBackgroundColor(Color::whiteColor());
    v->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    setView(v);
}

void ViewController::setTitle(std::string title) {
    title_ = std::move(title);
    navigationItem().setTitle(title_);
}

NavigationItem& ViewController::navigationItem() {
    return *sharedNavigationItem();
}

std::shared_ptr<NavigationItem> ViewController::sharedNavigationItem() {
    if (!navigationItem_)
        navigationItem_ = std::make_shared<NavigationItem>(title_);
    return navigationItem_;
}

void ViewController::setToolbarItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated) {
    toolbarItems_ = std::move(items);
    if (auto nav = navigationController(); nav && nav->topViewController().get() == this)
        nav->toolbar().setItems(toolbarItems_, animated);
}

// ---- Containment ----

std::shared_ptr<NavigationController> ViewController::navigationController() const {
    return navigationController_.lock();
}

std::shared_ptr<ViewController> ViewController::parentViewController() const {
    if (auto nav = navigationController_.lock())
        return nav;
    return presenting_.lock();
}

void ViewController::setParentNavigationController(const std::shared_ptr<NavigationController>& nav) {
    navigationController_ = nav;
}

ViewController& ViewController::presentationRoot() {
    ViewController* root = this;
    while (auto nav = root->navigationController_.lock())
        root = nav.get();
    return *root;
}

std::shared_ptr<Window> ViewController::windowForPresentation() {
    return isViewLoaded() ? view_->window() : nullptr;
}

// ---- Appearance ----

void ViewController::beginAppearance(bool appearing, bool animated) {
    if (appearing) {
        if (appearanceState_ == kAppearing || appearanceState_ == kAppeared)
            return;
        appearanceState_ = kAppearing;
        appearing_ = true;
        view(); // a screen that appears has its view
        viewWillAppear(animated);
        forwardAppearance(true, true, animated);
    } else {
        if (appearanceState_ == kDisappeared || appearanceState_ == kDisappearing)
            return;
        appearanceState_ = kDisappearing;
        appearing_ = false;
        viewWillDisappear(animated);
        forwardAppearance(false, true, animated);
    }
}

void ViewController::endAppearance(bool animated) {
    if (appearanceState_ == kAppearing) {
        appearanceState_ = kAppeared;
        viewDidAppear(animated);
        forwardAppearance(true, false, animated);
    } else if (appearanceState_ == kDisappearing) {
        appearanceState_ = kDisappeared;
        viewDidDisappear(animated);
        forwardAppearance(false, false, animated);
    }
}

// ---- Modal presentation ----

void ViewController::presentModalViewController(const std::shared_ptr<ViewController>& controller,
                                                bool animated) {
    presentViewController(controller, animated);
}

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                                           std::function<void()> completion) {
    if (!controller)
        return;
    ViewController* root = &presentationRoot();
    root->finishPendingTransition();
    // A screen that already presents one passes the new one up to the top of its chain.
    while (root->presented_) {
        root = &root->presented_->presentationRoot();
        root->finishPendingTransition();
    }
    auto rootShared = root->sharedController();
    if (!rootShared) {
        logLine("ViewController: cannot present from a controller that is not shared");
        return;
    }
    if (controller->presentingViewController() || controller.get() == root) {
        logLine("ViewController: the controller is already presented; presentation refused");
        return;
    }
    auto window = root->windowForPresentation();
    if (!window) {
        logLine("ViewController: the presenting controller's view is not in a window; presentation refused");
        return;
    }

    root->presented_ = controller;
    controller->presenting_ = rootShared;
    auto presentedView = controller->view();
    presentedView->setFrame(Screen::main().applicationFrame()); // full screen, below the status bar

    AnimationRecord r;
    r.kind = AnimationKind::Presentation;
    r.name = "present";
    r.view = presentedView;
    r.viewIdentity = presentedView.get();
    r.property = "modalTransitionStyle";
    r.transitionType = toString(controller->modalTransitionStyle());
    r.to = r.transitionType;
    r.duration = animated ? kModalTransitionDuration : 0;
    r.startTime = Clock::current().monotonic();

    auto t = std::make_shared<Transition>();
    t->presenting = true;
    t->root = rootShared;
    t->presented = controller;
    t->animated = animated;
    t->completion = std::move(completion);
    t->recordId = AnimationLog::shared().append(std::move(r));
    root->pendingTransition_ = t;

    controller->beginAppearance(true, animated);
    root->beginAppearance(false, animated);
    window->addSubview(presentedView);

    if (animated) {
        std::weak_ptr<ViewController> weakRoot = rootShared;
        RunLoop::main().performAfter(
            kModalTransitionDuration,
            [weakRoot, t] {
                if (auto r = weakRoot.lock(); r && r->pendingTransition_ == t)
                    r->completeTransition();
            },
            root, kTransitionPerformName);
    } else {
        root->completeTransition();
    }
}

void ViewController::dismissModalViewControllerAnimated(bool animated) {
    dismissViewControllerAnimated(animated);
}

void ViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
    ViewController& root = presentationRoot();
    root.finishPendingTransition();
    if (!root.presented_) {
        if (auto presenter = root.presenting_.lock()) {
            presenter->dismissViewControllerAnimated(animated, std::move(completion));
            return;
        }
        logLine("ViewController: nothing to dismiss");
        return;
    }
    auto rootShared = root.sharedController();
    if (!rootShared)
        return;

    auto t = std::make_shared<Transition>();
    t->presenting = false;
    t->root = rootShared;
    t->animated = animated;
    t->completion = std::move(completion);
    for (auto c = root.presented_; c;) {
        t->gone.push_back(c);
        ViewController& next = c->presentationRoot();
        next.finishPendingTransition();
        c = next.presented_;
    }
    AnimationRecord r;
    r.kind = AnimationKind::Presentation;
    r.name = "dismiss";
    if (t->gone.front()->isViewLoaded()) {
        r.view = t->gone.front()->view();
        r.viewIdentity = r.view.lock().get();
    }
    r.property = "modalTransitionStyle";
    r.transitionType = toString(t->gone.front()->modalTransitionStyle());
    r.to = r.transitionType;
    r.duration = animated ? kModalTransitionDuration : 0;
    r.startTime = Clock::current().monotonic();
    t->recordId = AnimationLog::shared().append(std::move(r));
    root.pendingTransition_ = t;

    for (auto it = t->gone.rbegin(); it != t->gone.rend(); ++it)
        (*it)->beginAppearance(false, animated);
    root.beginAppearance(true, animated);

    if (animated) {
        std::weak_ptr<ViewController> weakRoot = rootShared;
        RunLoop::main().performAfter(
            kModalTransitionDuration,
            [weakRoot, t] {
                if (auto r = weakRoot.lock(); r && r->pendingTransition_ == t)
                    r->completeTransition();
            },
            &root, kTransitionPerformName);
    } else {
        root.completeTransition();
    }
}

void ViewController::finishPendingTransition() {
    if (!pendingTransition_)
        return;
    RunLoop::main().cancelPerforms(this, kTransitionPerformName);
    completeTransition();
}

void ViewController::completeTransition() {
    auto t = std::move(pendingTransition_);
    pendingTransition_.reset();
    if (!t)
        return;
    if (AnimationRecord* r = AnimationLog::shared().find(t->recordId))
        r->state = AnimationState::Finished;
    if (t->presenting) {
        t->presented->endAppearance(t->animated);
        endAppearance(t->animated);
    } else {
        for (auto it = t->gone.rbegin(); it != t->gone.rend(); ++it) {
            auto& c = *it;
            if (c->isViewLoaded())
                c->view()->removeFromSuperview();
            c->endAppearance(t->animated);
            ViewController& croot = c->presentationRoot();
            croot.presented_.reset();
            c->presenting_.reset();
        }
        presented_.reset();
        endAppearance(t->animated);
    }
    if (t->completion) {
        callGuarded("ViewController: transition completion", t->completion);
    }
}

// ---- Orientation ----

bool ViewController::rotateToInterfaceOrientation(InterfaceOrientation orientation, double duration) {
    if (orientation == interfaceOrientation_)
        return true;
    if (!shouldAutorotateToInterfaceOrientation(orientation))
        return false;
    InterfaceOrientation from = interfaceOrientation_;
    willRotateToInterfaceOrientation(orientation, duration);
    interfaceOrientation_ = orientation;
    didRotateFromInterfaceOrientation(from);
    return true;
}

Responder* ViewController::nextResponder() const {
    if (view_)
        return view_->superview().get();
    return nullptr;
}

} // namespace platform
