#pragma once
// A spinner that shows work in progress. Its style picks its size and colour: white large
// (37 × 37 points), white or grey (20 × 20). It is stopped when made; startAnimating and
// stopAnimating switch it, and with hidesWhenStopped (on by default) a stopped spinner is
// hidden and a started one shown. The text renderer shows a running spinner as "(*)"; the
// screen picture draws its twelve spokes. Owned by its superview; main thread only.
#include "platform/ui/View.h"

namespace platform {

// The platform's numbers.
enum class ActivityIndicatorViewStyle { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicatorView : public View {
public:
    static constexpr double kLargeSize = 37;
    static constexpr double kSmallSize = 20;

    // initWithActivityIndicatorStyle: the style's size at the origin.
    explicit ActivityIndicatorView(ActivityIndicatorViewStyle style = ActivityIndicatorViewStyle::White);
    // initWithFrame: the white style in `frame`.
    explicit ActivityIndicatorView(const Rect& frame);

    ActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
    // Changes the colour and, as on the platform, the size to the style's own.
    void setActivityIndicatorViewStyle(ActivityIndicatorViewStyle style);
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    // The spokes' colour.
    Color color() const;

    Size sizeThatFits(Size size) const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;

private:
    ActivityIndicatorViewStyle style_;
    bool hidesWhenStopped_ = true;
    bool animating_ = false;
};

} // namespace platform
