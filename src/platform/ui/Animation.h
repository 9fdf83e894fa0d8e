#pragma once
// The animation model of the user interface.
//
// As on the platform, an animation never delays the model: a view property set inside an
// animation block (View::beginAnimations ... View::commitAnimations, or View::animate) takes
// its new value at once. What the animation adds is
//   - a record in the AnimationLog (name, context, duration, delay, curve, repeats, view,
//     property, from, to), which tests and the runner read, and
//   - the block's did-stop callback, fired on the main run loop once the animation is over:
//     delay + duration × max(repeatCount, 1), doubled with autoreverses (one repeat then runs
//     forward and back, so 0.1 s repeated 3 times with autoreverse lasts 0.6 s).
// A did-stop is never lost. When a new animation takes a property of a view that an earlier,
// unfinished block animates (geometry: frame, centre and bounds count as one; alpha;
// transform; background colour; a view transition), the earlier block's hold on it ends; a
// block that loses every property this way stops on the next turn with finished = false, and
// a block that lost some of them reports finished = false at its natural end.
//
// Layer animations (LayerAnimation, added to a view's Layer under a key) are recorded and
// stopped the same way: a layer transition records its type, subtype and duration; adding
// another animation under the same key, or removing it, stops the old one with
// finished = false.
//
// Everything here runs on the main thread; did-stop callbacks arrive on the main run loop
// (on the manual clock in tests: ManualClockScope::advance).
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Forward.h"
#include "platform/ui/Geometry.h"

namespace platform {

// Numbers as the platform's.
enum class AnimationCurve { EaseInOut = 0, EaseIn = 1, EaseOut = 2, Linear = 3 };
enum class ViewAnimationTransition {
    None = 0,
    FlipFromLeft = 1,
    FlipFromRight = 2,
    CurlUp = 3,
    CurlDown = 4
};
const char* toString(AnimationCurve curve);
const char* toString(ViewAnimationTransition transition);

// The platform's default duration of an animation block.
inline constexpr double kDefaultAnimationDuration = 0.2;
// The default duration of a layer animation.
inline constexpr double kDefaultLayerAnimationDuration = 0.25;

// A value an animation moves from or to.
using AnimatedValue = std::variant<std::monostate, double, Point, Size, Rect, AffineTransform, Color,
                                   std::string, std::shared_ptr<Image>>;
std::string toString(const AnimatedValue& value);

enum class AnimationKind {
    Property,        // a view property changed inside an animation block
    ViewTransition,  // View::setAnimationTransition inside a block (property "transition")
    LayerTransition, // a LayerAnimation of kind Transition (property "transition")
    LayerProperty,   // a basic or key-frame LayerAnimation (property = its key path)
    Presentation,    // a modal presentation or dismissal, or a navigation push or pop
    TableRows,       // rows inserted or deleted with a row animation
};
const char* toString(AnimationKind kind);

enum class AnimationState { Running, Finished, Interrupted };

struct AnimationRecord {
    std::uint64_t id = 0; // increases through the run
    AnimationKind kind = AnimationKind::Property;
    std::string name;    // the block's animation name, or the layer key
    std::string context; // the block's context
    std::weak_ptr<View> view;
    const View* viewIdentity = nullptr; // for matching after the view is gone; never dereferenced
    std::string property;               // "frame", "center", "bounds", "alpha", "transform",
                                        // "backgroundColor", "transition", a key path, ...
    AnimatedValue from;
    AnimatedValue to;
    double duration = 0;
    double delay = 0;
    AnimationCurve curve = AnimationCurve::EaseInOut;
    double repeatCount = 0;
    bool autoreverses = false;
    bool beginsFromCurrentState = false;
    // Transitions: the platform's names ("flipFromLeft", "curlUp"; layer types "push",
    // "fade", ... with subtypes "fromLeft", ...; presentation styles "coverVertical", ...).
    std::string transitionType;
    std::string transitionSubtype;
    bool cache = false;
    double startTime = 0; // monotonic time of the commit
    AnimationState state = AnimationState::Running;

    // delay + duration × repeats (× 2 with autoreverses).
    double totalDuration() const;
};

// Called when an animation block stops: its name and whether it ran to its end.
using AnimationDidStop = std::function<void(const std::string& animationID, bool finished)>;

// Settings of one animation block, for View::animate: `{"pass", 0.3}` names a block of 0.3 s.
struct AnimationOptions {
    AnimationOptions(std::string animationName = {}, double seconds = kDefaultAnimationDuration)
        : name(std::move(animationName)), duration(seconds) {}

    std::string name;
    std::string context;
    double duration = kDefaultAnimationDuration;
    double delay = 0;
    AnimationCurve curve = AnimationCurve::EaseInOut;
    double repeatCount = 0;
    bool autoreverses = false;
    bool beginsFromCurrentState = false;
};

// The process-wide log of animations, newest last. Holds the latest kMaxRecords records so
// a long run (the runner blinks a button every second) stays bounded.
class AnimationLog {
public:
    static constexpr std::size_t kMaxRecords = 4096;

    static AnimationLog& shared();
    // Empties the log and forgets running animations without calling their did-stop
    // (use with RunLoop::resetMainForTesting, which drops their pending callbacks anyway).
    static void resetForTesting();

    std::vector<AnimationRecord> records() const;
    std::vector<AnimationRecord> recordsNamed(std::string_view name) const;
    std::vector<AnimationRecord> recordsFor(const View& view) const;
    std::vector<AnimationRecord> recordsFor(const View& view, std::string_view property) const;
    std::optional<AnimationRecord> last() const;
    void clear();
    // Animation blocks and layer animations whose did-stop has not fired yet.
    std::size_t runningCount() const;

    // For the animation engine.
    std::uint64_t append(AnimationRecord record);
    AnimationRecord* find(std::uint64_t id);

private:
    std::deque<AnimationRecord> records_;
    std::uint64_t nextId_ = 1;
};

// An animation added to a view's layer under a key: a layer transition, or a basic or
// key-frame animation of one of the layer's properties.
class LayerAnimation {
public:
    enum class Kind { Transition, Basic, Keyframe };

    // A layer transition of `type` ("fade", "push", "moveIn", "reveal") from `subtype`
    // ("fromLeft", "fromRight", "fromTop", "fromBottom", or empty).
    static std::shared_ptr<LayerAnimation> transition(std::string type, std::string subtype = {},
                                                      double duration = kDefaultLayerAnimationDuration);
    // A basic animation of `keyPath` ("opacity", "position.x", "contents", ...).
    static std::shared_ptr<LayerAnimation> basic(std::string keyPath, AnimatedValue from, AnimatedValue to,
                                                 double duration = kDefaultLayerAnimationDuration);
    // A key-frame animation of `keyPath` through `values` (a path is given as its points).
    static std::shared_ptr<LayerAnimation> keyframe(std::string keyPath, std::vector<AnimatedValue> values,
                                                    double duration = kDefaultLayerAnimationDuration);

    Kind kind = Kind::Basic;
    std::string type;    // transitions
    std::string subtype; // transitions
    std::string keyPath; // basic and key-frame
    AnimatedValue from;
    AnimatedValue to;
    AnimatedValue by;
    std::vector<AnimatedValue> values;
    double duration = kDefaultLayerAnimationDuration;
    double beginTime = 0; // delay after adding
    AnimationCurve timing = AnimationCurve::Linear;
    double repeatCount = 0;
    bool autoreverses = false;
    bool additive = false;
    bool removedOnCompletion = true;
    // Called on the main run loop when the animation starts (at once) and when it stops.
    std::function<void(LayerAnimation&)> didStart;
    std::function<void(LayerAnimation&, bool finished)> didStop;

    double totalDuration() const;
};

// The layer behind every view: its look beyond the view's own properties (rounded
// corners, border, contents image, mask, shadow), which the screen picture paints, and the
// view's layer animations. Its background colour is the view's. Owned by its view; main
// thread only.
class Layer {
public:
    explicit Layer(View& owner) : owner_(owner) {}
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    View& view() const { return owner_; }

    // ---- Look ----
    // Rounds the background and the border (and the clip, with masksToBounds).
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius < 0 ? 0 : radius; }
    // A border drawn inside the bounds, above the content and the sublayers.
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width) { borderWidth_ = width < 0 ? 0 : width; }
    const Color& borderColor() const { return borderColor_; }
    void setBorderColor(const Color& color) { borderColor_ = color; }
    // Clips the content and the sublayers to the (rounded) bounds; the view's clipsToBounds.
    bool masksToBounds() const;
    void setMasksToBounds(bool masks);
    // An image shown over the background, placed by contentsGravity ("resize" fills the
    // bounds, "center" keeps its size in the middle, "resizeAspect" fits it whole,
    // "resizeAspectFill" fills the bounds keeping its proportions).
    const std::shared_ptr<Image>& contents() const { return contents_; }
    void setContents(std::shared_ptr<Image> image) { contents_ = std::move(image); }
    const std::string& contentsGravity() const { return contentsGravity_; }
    void setContentsGravity(std::string gravity) { contentsGravity_ = std::move(gravity); }
    // A view whose alpha (background, contents, drawing) decides where this layer shows; its
    // frame is in this layer's coordinates. The layer keeps it; it is not a subview.
    const std::shared_ptr<View>& mask() const { return mask_; }
    void setMask(std::shared_ptr<View> mask) { mask_ = std::move(mask); }
    // A shadow of the background shape, offset below it (opacity 0: none).
    const Color& shadowColor() const { return shadowColor_; }
    void setShadowColor(const Color& color) { shadowColor_ = color; }
    Size shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(Size offset) { shadowOffset_ = offset; }
    double shadowOpacity() const { return shadowOpacity_; }
    void setShadowOpacity(double opacity) { shadowOpacity_ = opacity < 0 ? 0 : opacity > 1 ? 1 : opacity; }
    double shadowRadius() const { return shadowRadius_; }
    void setShadowRadius(double radius) { shadowRadius_ = radius < 0 ? 0 : radius; }

    // ---- Animations ----

    // Adds `animation` under `key` (an empty key makes it anonymous); a running animation
    // under the same key stops first with finished = false. The layer keeps its own copy of
    // the settings: later changes to `animation` do not affect the running one.
    void addAnimation(const std::shared_ptr<LayerAnimation>& animation, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    std::shared_ptr<LayerAnimation> animationForKey(const std::string& key) const;
    std::vector<std::string> animationKeys() const;

private:
    friend class AnimationEngine;
    View& owner_;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    Color borderColor_ = Color::blackColor();
    std::shared_ptr<Image> contents_;
    std::string contentsGravity_ = "resize";
    std::shared_ptr<View> mask_;
    Color shadowColor_ = Color::blackColor();
    Size shadowOffset_{0, -3};
    double shadowOpacity_ = 0;
    double shadowRadius_ = 3;
    struct Running {
        std::shared_ptr<LayerAnimation> animation;
        std::uint64_t recordId = 0;
        std::uint64_t token = 0;
    };
    std::map<std::string, Running> running_;
    std::uint64_t anonymousCount_ = 0;
};

} // namespace platform
