#pragma once
// A stack of screens with a navigation bar on top and an optional toolbar at the bottom.
// The top screen's view fills the space between them. Pushing and popping send the
// appearance calls to the screens coming and going (the did-calls after
// kNavigationTransitionDuration on the main run loop when animated, at once otherwise) and
// record the move in the AnimationLog (kind Presentation, transition type "push" or "pop").
// The navigation controller forwards its own appearance calls to its top screen.
// Owns its screens; main thread only.
#include <memory>
#include <vector>

#include "platform/ui/NavigationBar.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace platform {

inline constexpr double kNavigationTransitionDuration = 0.35;

class NavigationController : public ViewController {
public:
    // Use create(): the controller needs to know itself as a shared object.
    static std::shared_ptr<NavigationController> create(std::shared_ptr<ViewController> root = nullptr);
    NavigationController();
    ~NavigationController() override;

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
    void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated = false);
    std::shared_ptr<ViewController> topViewController() const {
        return stack_.empty() ? nullptr : stack_.back();
    }
    // The top screen, or the screen presented over it.
    std::shared_ptr<ViewController> visibleViewController() const;

    void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    // Answers the popped screen; null (nothing happens) when only the root is left.
    std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);
    std::vector<std::shared_ptr<ViewController>> popToRootViewControllerAnimated(bool animated);

    NavigationBar& navigationBar();
    std::shared_ptr<NavigationBar> sharedNavigationBar();
    bool isNavigationBarHidden() const { return navigationBarHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    Toolbar& toolbar();
    bool isToolbarHidden() const { return toolbarHidden_; }
    void setToolbarHidden(bool hidden, bool animated = false);

    void loadView() override;

protected:
    void forwardAppearance(bool appearing, bool begin, bool animated) override;

private:
    void layoutContent();
    void showTop(const std::shared_ptr<ViewController>& incoming,
                 const std::shared_ptr<ViewController>& outgoing, bool animated, const char* direction);
    void completeMove();

    std::vector<std::shared_ptr<ViewController>> stack_;
    std::shared_ptr<NavigationBar> navigationBar_;
    std::shared_ptr<Toolbar> toolbar_;
    std::shared_ptr<View> contentView_;
    bool navigationBarHidden_ = false;
    bool toolbarHidden_ = true;
    struct Move;
    std::shared_ptr<Move> pendingMove_;
};

} // namespace platform
