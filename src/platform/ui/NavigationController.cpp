#include "platform/ui/NavigationController.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Screen.h"

namespace platform {
namespace {
constexpr const char* kMovePerformName = "navigation-move";
} // namespace

struct NavigationController::Move {
    std::shared_ptr<ViewController> incoming;
    std::shared_ptr<ViewController> outgoing;
    bool animated = false;
    bool appearing = false; // whether the controller was on screen (appearance calls sent)
    std::uint64_t recordId = 0;
};

std::shared_ptr<NavigationController> NavigationController::create(std::shared_ptr<ViewController> root) {
    auto nav = std::make_shared<NavigationController>();
    if (root)
        nav->setViewControllers({root});
    return nav;
}

NavigationController::NavigationController() {
    double width = Screen::main().applicationFrame().width();
    navigationBar_ = std::make_shared<NavigationBar>(Rect(0, 0, width, kNavigationBarHeight));
    navigationBar_->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleBottomMargin);
    toolbar_ = std::make_shared<Toolbar>(Rect(0, 0, width, kToolbarHeight));
    toolbar_->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleTopMargin);
    toolbar_->setHidden(true);
}

NavigationController::~NavigationController() {
    if (pendingMove_)
        RunLoop::main().cancelPerforms(this, kMovePerformName);
}

void NavigationController::loadView() {
    auto v = std::make_shared<View>(Screen::main().applicationFrame());
    v->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    v->setBackgroundColor(Color::whiteColor());
    setView(v);
    std::weak_ptr<NavigationController> weak =
        std::static_pointer_cast<NavigationController>(sharedController());
    navigationBar_->setBackHandler([weak] {
        if (auto nav = weak.lock())
            nav->popViewControllerAnimated(true);
    });
    if (auto top = topViewController())
        v->addSubview(top->view());
    v->addSubview(navigationBar_);
    v->addSubview(toolbar_);
    layoutContent();
}

void NavigationController::layoutContent() {
    if (!isViewLoaded())
        return;
    auto v = view();
    Rect b = v->bounds();
    navigationBar_->setFrame(Rect(0, 0, b.width(), kNavigationBarHeight));
    navigationBar_->setHidden(navigationBarHidden_);
    toolbar_->setFrame(Rect(0, b.height() - kToolbarHeight, b.width(), kToolbarHeight));
    toolbar_->setHidden(toolbarHidden_);
    double top = navigationBarHidden_ ? 0 : kNavigationBarHeight;
    double bottom = b.height() - (toolbarHidden_ ? 0 : kToolbarHeight);
    if (auto c = topViewController()) {
        auto cv = c->view();
        cv->setFrame(Rect(0, top, b.width(), std::max(0.0, bottom - top)));
        cv->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
        toolbar_->setItems(c->toolbarItems());
    }
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
    if (auto presented = presentedViewController())
        return presented;
    return topViewController();
}

NavigationBar& NavigationController::navigationBar() {
    return *navigationBar_;
}
std::shared_ptr<NavigationBar> NavigationController::sharedNavigationBar() {
    return navigationBar_;
}
Toolbar& NavigationController::toolbar() {
    return *toolbar_;
}

void NavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    (void)animated;
    navigationBarHidden_ = hidden;
    layoutContent();
}

void NavigationController::setToolbarHidden(bool hidden, bool animated) {
    (void)animated;
    toolbarHidden_ = hidden;
    layoutContent();
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                                              bool animated) {
    (void)animated;
    completeMove();
    auto self = std::static_pointer_cast<NavigationController>(sharedController());
    auto oldTop = topViewController();
    bool onScreen = isAppearing();
    std::erase_if(controllers, [](const auto& c) { return !c; });
    for (auto& old : stack_)
        if (std::find(controllers.begin(), controllers.end(), old) == controllers.end())
            old->setParentNavigationController(nullptr);
    stack_ = std::move(controllers);
    std::vector<std::shared_ptr<NavigationItem>> items;
    for (auto& c : stack_) {
        c->setParentNavigationController(self);
        items.push_back(c->sharedNavigationItem());
    }
    navigationBar_->setItems(std::move(items));
    auto newTop = topViewController();
    if (oldTop == newTop)
        return;
    if (onScreen && oldTop)
        oldTop->beginAppearance(false, false);
    if (isViewLoaded()) {
        if (oldTop && oldTop->isViewLoaded())
            oldTop->view()->removeFromSuperview();
        if (newTop)
            view()->insertSubview(newTop->view(), 0);
        layoutContent();
    }
    if (onScreen && newTop)
        newTop->beginAppearance(true, false);
    if (onScreen && oldTop)
        oldTop->endAppearance(false);
    if (onScreen && newTop)
        newTop->endAppearance(false);
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller,
                                              bool animated) {
    if (!controller)
        return;
    completeMove();
    if (std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) {
        logLine("NavigationController: the controller is already in the stack; push refused");
        return;
    }
    auto outgoing = topViewController();
    stack_.push_back(controller);
    controller->setParentNavigationController(
        std::static_pointer_cast<NavigationController>(sharedController()));
    navigationBar_->pushNavigationItem(controller->sharedNavigationItem(), animated);
    showTop(controller, outgoing, animated, "push");
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
    completeMove();
    if (stack_.size() <= 1)
        return nullptr;
    auto outgoing = stack_.back();
    stack_.pop_back();
    navigationBar_->popNavigationItem(animated);
    showTop(topViewController(), outgoing, animated, "pop");
    outgoing->setParentNavigationController(nullptr);
    return outgoing;
}

std::vector<std::shared_ptr<ViewController>>
NavigationController::popToRootViewControllerAnimated(bool animated) {
    completeMove();
    std::vector<std::shared_ptr<ViewController>> popped;
    if (stack_.size() <= 1)
        return popped;
    auto outgoing = stack_.back();
    popped.assign(stack_.begin() + 1, stack_.end());
    stack_.resize(1);
    std::vector<std::shared_ptr<NavigationItem>> items{stack_.front()->sharedNavigationItem()};
    navigationBar_->setItems(std::move(items), animated);
    showTop(topViewController(), outgoing, animated, "pop");
    for (auto& c : popped)
        c->setParentNavigationController(nullptr);
    return popped;
}

void NavigationController::showTop(const std::shared_ptr<ViewController>& incoming,
                                   const std::shared_ptr<ViewController>& outgoing, bool animated,
                                   const char* direction) {
    auto move = std::make_shared<Move>();
    move->incoming = incoming;
    move->outgoing = outgoing;
    move->animated = animated;
    move->appearing = isAppearing();
    if (isViewLoaded()) {
        auto v = view();
        if (incoming)
            v->insertSubview(incoming->view(), 0);
        layoutContent();
        AnimationRecord r;
        r.kind = AnimationKind::Presentation;
        r.name = direction;
        if (incoming) {
            r.view = incoming->view();
            r.viewIdentity = incoming->view().get();
        }
        r.property = "navigation";
        r.transitionType = direction;
        r.to = std::string(direction);
        r.duration = animated ? kNavigationTransitionDuration : 0;
        r.startTime = Clock::current().monotonic();
        move->recordId = AnimationLog::shared().append(std::move(r));
    }
    if (move->appearing) {
        if (outgoing)
            outgoing->beginAppearance(false, animated);
        if (incoming)
            incoming->beginAppearance(true, animated);
    }
    pendingMove_ = move;
    if (animated && isViewLoaded()) {
        std::weak_ptr<NavigationController> weak =
            std::static_pointer_cast<NavigationController>(sharedController());
        RunLoop::main().performAfter(
            kNavigationTransitionDuration,
            [weak, move] {
                if (auto nav = weak.lock(); nav && nav->pendingMove_ == move)
                    nav->completeMove();
            },
            this, kMovePerformName);
    } else {
        completeMove();
    }
}

void NavigationController::completeMove() {
    auto move = std::move(pendingMove_);
    pendingMove_.reset();
    if (!move)
        return;
    RunLoop::main().cancelPerforms(this, kMovePerformName);
    if (AnimationRecord* r = AnimationLog::shared().find(move->recordId))
        r->state = AnimationState::Finished;
    if (move->outgoing && move->outgoing != topViewController() && move->outgoing->isViewLoaded())
        move->outgoing->view()->removeFromSuperview();
    if (move->appearing) {
        if (move->outgoing)
            move->outgoing->endAppearance(move->animated);
        if (move->incoming)
            move->incoming->endAppearance(move->animated);
    }
}

void NavigationController::forwardAppearance(bool appearing, bool begin, bool animated) {
    auto top = topViewController();
    if (!top)
        return;
    if (begin)
        top->beginAppearance(appearing, animated);
    else
        top->endAppearance(animated);
}

} // namespace platform
