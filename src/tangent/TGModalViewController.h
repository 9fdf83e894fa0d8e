#pragma once
// TGModalViewController: presents a full-screen view modally for the Tangent client (the
// interstitial overlay, the in-app browser). It shows its container view over a main view
// controller when it has one, or straight onto the application's key window when it has
// none, with one of five transition styles (the widget's numbering):
//   2 a page curl of the window (1.5 s), 3 flip, 4 cover vertical, 5 cross dissolve,
//   6 no animation whatever the caller asks.
// Any other style is taken as the default, 4. While shown it may hide the status bar, and it
// puts the bar back as it was when it hides. Its delegate hears will/did appear and
// disappear, for presentations this controller started only, also when the view goes
// straight onto the key window (no platform presentation sends them then), and the start and
// end of the page-curl animation.
//
// Ownership: the component that shows it owns it (the main controller holds it while it is
// presented); the delegate is held weakly, the main controller strongly. Show and hide are
// refused in the state where they make no sense. Main thread only.
#include <memory>

#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace tangent {

class TGModalViewControllerDelegate {
public:
    virtual ~TGModalViewControllerDelegate() = default;
    virtual void modalViewWillAppear(bool animated) = 0;
    virtual void modalViewDidAppear(bool animated) = 0;
    virtual void modalViewWillDisappear(bool animated) = 0;
    virtual void modalViewDidDisappear(bool animated) = 0;
    virtual void modalViewBeganAnimation() = 0;
    virtual void modalViewFinishedAnimation() = 0;
};

// The full-screen root view of a modal presentation: the main screen's bounds, clear. Asking
// it for layout asks each of its subviews too.
class TGModalViewContainer final : public platform::View {
public:
    TGModalViewContainer();
    void didMoveToSuperview() override { setNeedsLayout(); }
    void layoutSubviews() override;
};

class TGModalViewController final : public platform::ViewController {
public:
    static constexpr int kPageCurl = 2;
    static constexpr int kFlip = 3;
    static constexpr int kCoverVertical = 4;
    static constexpr int kCrossDissolve = 5;
    static constexpr int kNoAnimation = 6;
    static constexpr int kDefaultTransition = kCoverVertical;
    static constexpr double kPageCurlSeconds = 1.5;
    static constexpr const char* kAnimationID = "TGModalViewController";

    // initWithController:view:delegate:.
    static std::shared_ptr<TGModalViewController> create(std::shared_ptr<platform::ViewController> mainController,
                                                         const std::shared_ptr<platform::View>& view,
                                                         std::weak_ptr<TGModalViewControllerDelegate> delegate);
    ~TGModalViewController() override;

    void showModalView(bool animated) { showModalView(animated, transition_); }
    void hideModalView(bool animated) { hideModalView(animated, transition_); }
    void showModalView(bool animated, int transition);
    void hideModalView(bool animated, int transition);

    // The delegate while this controller is showing, hiding or animating; null otherwise.
    std::shared_ptr<TGModalViewControllerDelegate> delegate() const;
    const std::shared_ptr<platform::ViewController>& mainController() const { return mainController_; }
    bool shouldHideStatusBar() const { return shouldHideStatusBar_; }
    // Stores true only when asked and the system generation is not 0.
    void setShouldHideStatusBar(bool hide);
    int transition() const { return transition_; }
    void setTransition(int transition) { transition_ = transition; }
    bool inModalView() const;
    bool currentlyAnimating() const { return isAnimating_; }
    int statusBarOrientation() const;

    // ViewController.
    void loadView() override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const override;
    void willRotateToInterfaceOrientation(platform::InterfaceOrientation to, double duration) override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

private:
    TGModalViewController() = default;
    // doAnimationBlock:animated:presenting:.
    void doAnimationBlock(int transition, bool animated, bool presenting);
    void beginPageCurl();
    void pageCurlStopped();

    std::weak_ptr<TGModalViewControllerDelegate> delegate_;
    std::shared_ptr<platform::ViewController> mainController_;
    std::shared_ptr<platform::View> content_;
    bool statusBarHidden_ = false;
    bool alertDelegate_ = false;
    bool isAnimating_ = false;
    bool shouldHideStatusBar_ = true;
    int transition_ = 0;
    // The view went straight onto the key window (no platform presentation).
    bool directlyShown_ = false;
};

} // namespace tangent
