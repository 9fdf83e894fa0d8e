#pragma once
// A rectangle on the screen and the tree of views inside it.
//
// Ownership: a view owns its subviews (shared_ptr); its link back to the superview is a plain
// pointer that the superview clears when it lets the view go or is destroyed, so it never
// dangles. Removing a view from its superview releases it unless someone else holds it.
// Views are created with std::make_shared (superview() answers a shared pointer).
//
// Geometry follows the platform: `center` (in the superview's coordinates), `bounds` (the
// view's own coordinate system) and `transform` (applied about the centre) are stored;
// `frame` is derived from them (with a transform, the upright box around the transformed
// bounds). Changing the size of the bounds resizes the subviews by their autoresizing mask
// (the change is shared among the flexible margins and size in proportion to their current
// lengths, evenly when those are all 0) and marks the view for layout.
//
// Hit testing: a view that is hidden, has alpha below 0.01, or does not take user
// interaction finds nothing; nor does a point outside its bounds (subviews sticking out are
// not reached). Otherwise the front-most subview that finds something wins, else the view.
//
// Animations: changing frame, bounds, centre, alpha, transform or background colour inside
// an animation block records an animation (see Animation.h); the block API is the static
// part of this class. Main thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/Forward.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Responder.h"

namespace platform {

// Autoresizing mask bits, the platform's numbers (5 = flexible left and right margins).
struct Autoresizing {
    static constexpr unsigned None = 0;
    static constexpr unsigned FlexibleLeftMargin = 1u << 0;
    static constexpr unsigned FlexibleWidth = 1u << 1;
    static constexpr unsigned FlexibleRightMargin = 1u << 2;
    static constexpr unsigned FlexibleTopMargin = 1u << 3;
    static constexpr unsigned FlexibleHeight = 1u << 4;
    static constexpr unsigned FlexibleBottomMargin = 1u << 5;
};

enum class ContentMode {
    ScaleToFill = 0,
    ScaleAspectFit = 1,
    ScaleAspectFill = 2,
    Redraw = 3,
    Center = 4,
    Top = 5,
    Bottom = 6,
    Left = 7,
    Right = 8,
    TopLeft = 9,
    TopRight = 10,
    BottomLeft = 11,
    BottomRight = 12,
};

class View : public Responder {
public:
    explicit View(const Rect& frame = {});
    ~View() override;

    // This view as a shared pointer (empty when it was not made with make_shared).
    std::shared_ptr<View> sharedView();
    std::shared_ptr<const View> sharedView() const;

    // ---- Geometry ----
    // The setters are virtual so that a subclass that overrides one (to re-lay out its
    // content, say) is reached through every caller, the platform's own code included.
    Rect frame() const;
    virtual void setFrame(const Rect& frame);
    Rect bounds() const { return bounds_; }
    virtual void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    virtual void setCenter(Point center);
    const AffineTransform& transform() const { return transform_; }
    virtual void setTransform(const AffineTransform& transform);

    // ---- Appearance ----
    double alpha() const { return alpha_; }
    virtual void setAlpha(double alpha); // clamped to 0...1
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    const Color& backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(const Color& color);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode) { contentMode_ = mode; }
    // True when neither this view nor an ancestor is hidden or (nearly) transparent.
    bool isEffectivelyVisible() const;

    // ---- Identity and behaviour ----
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // This view when its tag matches, else the first match among its descendants, depth
    // first in subview order; null when none.
    std::shared_ptr<View> viewWithTag(int tag);
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
    // A short text naming the view for people and for the runner's `tap <label>`
    // (buttons answer their title, labels their text).
    virtual std::string accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }

    // ---- Tree ----
    std::shared_ptr<View> superview() const { return superview_ ? superview_->sharedView() : nullptr; }
    View* superviewPointer() const { return superview_; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    // Adds on top; a view already elsewhere leaves its old superview first. Adding a view to
    // itself or to one of its own descendants is refused (logged).
    void addSubview(const std::shared_ptr<View>& view);
    void insertSubview(const std::shared_ptr<View>& view, std::size_t index);
    void insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling);
    void insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling);
    void removeFromSuperview();
    void bringSubviewToFront(const View* view);
    void sendSubviewToBack(const View* view);
    bool isDescendantOf(const View* view) const; // true for the view itself
    // The window this view is in, or null.
    std::shared_ptr<Window> window() const;

    // Hooks around moves in the tree (superview or window null when leaving).
    virtual void willMoveToSuperview(View* newSuperview) { (void)newSuperview; }
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(Window* newWindow) { (void)newWindow; }
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(View* subview) { (void)subview; }
    virtual void willRemoveSubview(View* subview) { (void)subview; }

    // ---- Layout ----
    // Override to place subviews; runs in layoutIfNeeded after setNeedsLayout (a size change
    // sets it), and for every view of a window before it is drawn or takes an event.
    virtual void layoutSubviews() {}
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Runs layoutSubviews on this view (when marked) and then on its subviews.
    void layoutIfNeeded();
    virtual Size sizeThatFits(Size size) const {
        return size.width == 0 && size.height == 0 ? bounds_.size : size;
    }
    void sizeToFit();

    // ---- Touches ----
    virtual std::shared_ptr<View> hitTest(Point point, const Event* event);
    virtual bool pointInside(Point point, const Event* event);
    // Converts between this view's coordinates and `other`'s (the window's when null).
    Point convertPointTo(Point point, const View* other) const;
    Point convertPointFrom(Point point, const View* other) const;
    Rect convertRectTo(const Rect& rect, const View* other) const;
    // Platform spelling: `convertPoint:toView:`.
    Point convertPoint(Point point, const View* toView) const { return convertPointTo(point, toView); }
    Responder* nextResponder() const override;

    // ---- Layer ----
    Layer& layer() { return layer_; }
    const Layer& layer() const { return layer_; }

    // ---- Text rendering ----
    // Draws this view's own content (not its subviews) into `canvas`, where `rect` is the
    // view's frame in window coordinates. The default draws nothing; TextRenderer.h tells
    // how points map to cells.
    virtual void drawText(TextCanvas& canvas, const Rect& rect) const;

    // ---- Drawing ----
    // A view that draws itself overrides drawRect: it draws into GraphicsContext::current(),
    // in its own coordinates (the bounds), and `rect` is the part that needs drawing (the
    // whole bounds here). drawRect runs when the view is displayed: on the turn of the main
    // run loop after setNeedsDisplay (or after it first enters a window), or at once through
    // display(). The default draws nothing.
    virtual void drawRect(const Rect& rect) { (void)rect; }
    // Marks the view for drawing; in a window, a display pass follows on the next turn.
    void setNeedsDisplay();
    bool needsDisplay() const { return needsDisplay_; }
    // Runs drawRect now into a fresh context of the bounds' size and keeps what it drew.
    void display();
    // display() when marked.
    void displayIfNeeded();
    // Displays every marked view of the tree under `root`.
    static void displayTreeIfNeeded(View& root);
    // What the last drawRect drew (empty before the first).
    const DisplayList& lastDrawing() const;
    // Paints this view's own content (not its subviews, background or border) into
    // `context`, in the view's coordinates, for a screen picture. The default replays
    // lastDrawing(); views whose content is an image or text paint that.
    virtual void drawPicture(GraphicsContext& context) const;

    // ---- Animation blocks (the platform's class-level animation API) ----
    static void beginAnimations(std::string animationID = {}, std::string context = {});
    static void commitAnimations();
    static void setAnimationDuration(double seconds);
    static void setAnimationDelay(double seconds);
    static void setAnimationCurve(AnimationCurve curve);
    static void setAnimationRepeatCount(double count);
    static void setAnimationRepeatAutoreverses(bool autoreverses);
    static void setAnimationBeginsFromCurrentState(bool fromCurrent);
    static void setAnimationDidStop(AnimationDidStop didStop);
    // A flip or curl of `view` as part of the current block (recorded; the change of
    // subviews made in the block is what the transition shows).
    static void setAnimationTransition(ViewAnimationTransition transition, View& view, bool cache);
    // When disabled, blocks record nothing and their did-stop follows on the next turn.
    static void setAnimationsEnabled(bool enabled);
    static bool areAnimationsEnabled();
    // True inside beginAnimations ... commitAnimations.
    static bool isInAnimationBlock();
    // One block: `changes` runs inside it; `didStop` gets the block's end.
    static void animate(const AnimationOptions& options, const std::function<void()>& changes,
                        AnimationDidStop didStop = {});
    static void animate(double duration, const std::function<void()>& changes, AnimationDidStop didStop = {});

protected:
    // The view controller whose root view this is (set by ViewController).
    friend class ViewController;
    void setOwningViewController(ViewController* controller) { owningController_ = controller; }

private:
    friend class Window;
    void resizeSubviews(Size oldSize);
    void autoresize(Size oldSuperSize, Size newSuperSize);
    void setBoundsSize(Size size);
    void notifyWillMoveToWindow(Window* window);
    void notifyDidMoveToWindow();
    void detachChild(View* child);
    Window* windowPointer() const;
    // One step of coordinate conversion between this view and its superview.
    Point toSuperview(Point p) const;
    Point fromSuperview(Point p) const;
    // Between this view and the base space: its window's coordinates, or for a tree that is
    // in no window (an alert), the space its root's frame is given in.
    Point toBase(Point p) const;
    Point fromBase(Point p) const;

    View* superview_ = nullptr; // cleared by the superview when it lets go or dies
    std::vector<std::shared_ptr<View>> subviews_;
    Rect bounds_;
    Point center_;
    AffineTransform transform_;
    double alpha_ = 1.0;
    bool hidden_ = false;
    bool opaque_ = true;
    bool clipsToBounds_ = false;
    bool userInteractionEnabled_ = true;
    bool autoresizesSubviews_ = true;
    bool needsLayout_ = true;
    Color backgroundColor_ = Color::clearColor();
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    unsigned autoresizingMask_ = Autoresizing::None;
    int tag_ = 0;
    std::string accessibilityLabel_;
    ViewController* owningController_ = nullptr;
    Layer layer_{*this};
    bool needsDisplay_ = true;
    std::shared_ptr<const DisplayList> drawing_;
};

} // namespace platform
