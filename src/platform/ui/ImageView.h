#pragma once
// A view that shows an image (and, while highlighted, its highlighted image). Made with an
// image, it takes the image's size. It does not take user interaction unless told to.
// The text renderer shows it as the image's name in angle brackets, "<upgrade.png>"; the
// screen picture draws it by the view's content mode.
//
// Frame animation: with animationImages set, startAnimating shows them in turn, each for
// animationDuration / count seconds (1/30 s each when the duration is 0), on the main run
// loop's clock; animationRepeatCount rounds (0: until stopped), after which the animation
// stops by itself and the view shows its image again. stopAnimating does the same at once.
// Owned by its superview; main thread only.
#include <memory>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {

// Where content of `content` size lands in `bounds` under `mode` (Redraw fills like
// ScaleToFill).
Rect rectForContentMode(ContentMode mode, Size content, const Rect& bounds);

class ImageView : public View {
public:
    explicit ImageView(const Rect& frame = {});
    explicit ImageView(std::shared_ptr<Image> image);

    const std::shared_ptr<Image>& image() const { return image_; }
    void setImage(std::shared_ptr<Image> image);
    const std::shared_ptr<Image>& highlightedImage() const { return highlightedImage_; }
    void setHighlightedImage(std::shared_ptr<Image> image) { highlightedImage_ = std::move(image); }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

    // ---- Frame animation ----
    const std::vector<std::shared_ptr<Image>>& animationImages() const { return animationImages_; }
    // Setting new images stops a running animation.
    void setAnimationImages(std::vector<std::shared_ptr<Image>> images);
    double animationDuration() const { return animationDuration_; }
    void setAnimationDuration(double seconds) { animationDuration_ = seconds < 0 ? 0 : seconds; }
    int animationRepeatCount() const { return animationRepeatCount_; }
    void setAnimationRepeatCount(int count) { animationRepeatCount_ = count < 0 ? 0 : count; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animationTimer_ != nullptr; }
    // The image on show now: the current animation frame while animating, else the
    // highlighted image while highlighted (when there is one), else the image.
    std::shared_ptr<Image> displayedImage() const;

    Size sizeThatFits(Size size) const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    void drawPicture(GraphicsContext& context) const override;
    ~ImageView() override;

private:
    void advanceFrame();

    std::vector<std::shared_ptr<Image>> animationImages_;
    double animationDuration_ = 0;
    int animationRepeatCount_ = 0;
    std::shared_ptr<Timer> animationTimer_;
    std::size_t frame_ = 0;
    int roundsDone_ = 0;

    std::shared_ptr<Image> image_;
    std::shared_ptr<Image> highlightedImage_;
    bool highlighted_ = false;
};

} // namespace platform
