#include "platform/ui/ImageView.h"

#include <algorithm>

#include "platform/runloop/RunLoop.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextRenderer.h"

namespace platform {
namespace {
// The platform's pace when no duration is given: 30 frames a second.
constexpr double kDefaultFrameSeconds = 1.0 / 30;
} // namespace

Rect rectForContentMode(ContentMode mode, Size content, const Rect& b) {
    double w = content.width, h = content.height;
    switch (mode) {
    case ContentMode::ScaleToFill:
    case ContentMode::Redraw:
        return b;
    case ContentMode::ScaleAspectFit:
    case ContentMode::ScaleAspectFill: {
        if (w <= 0 || h <= 0)
            return b;
        double sx = b.width() / w, sy = b.height() / h;
        double s = mode == ContentMode::ScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
        return Rect(b.midX() - w * s / 2, b.midY() - h * s / 2, w * s, h * s);
    }
    case ContentMode::Center:
        return Rect(b.midX() - w / 2, b.midY() - h / 2, w, h);
    case ContentMode::Top:
        return Rect(b.midX() - w / 2, b.minY(), w, h);
    case ContentMode::Bottom:
        return Rect(b.midX() - w / 2, b.maxY() - h, w, h);
    case ContentMode::Left:
        return Rect(b.minX(), b.midY() - h / 2, w, h);
    case ContentMode::Right:
        return Rect(b.maxX() - w, b.midY() - h / 2, w, h);
    case ContentMode::TopLeft:
        return Rect(b.minX(), b.minY(), w, h);
    case ContentMode::TopRight:
        return Rect(b.maxX() - w, b.minY(), w, h);
    case ContentMode::BottomLeft:
        return Rect(b.minX(), b.maxY() - h, w, h);
    case ContentMode::BottomRight:
        return Rect(b.maxX() - w, b.maxY() - h, w, h);
    }
    return b;
}

ImageView::ImageView(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

ImageView::ImageView(std::shared_ptr<Image> image)
    : View(image ? Rect(Point{}, image->size()) : Rect()), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

ImageView::~ImageView() {
    if (animationTimer_)
        animationTimer_->invalidate();
}

void ImageView::setImage(std::shared_ptr<Image> image) {
    image_ = std::move(image);
}

void ImageView::setAnimationImages(std::vector<std::shared_ptr<Image>> images) {
    stopAnimating();
    animationImages_ = std::move(images);
}

void ImageView::startAnimating() {
    if (animationImages_.empty() || animationTimer_)
        return;
    frame_ = 0;
    roundsDone_ = 0;
    double perFrame = animationDuration_ > 0 ? animationDuration_ / double(animationImages_.size())
                                             : kDefaultFrameSeconds;
    // The timer holds the view weakly: a view that goes away stops its animation.
    std::weak_ptr<View> weak = sharedView();
    animationTimer_ = Timer::scheduled(perFrame, true, [weak](Timer& timer) {
        auto view = std::static_pointer_cast<ImageView>(weak.lock());
        if (!view) {
            timer.invalidate();
            return;
        }
        view->advanceFrame();
    });
}

void ImageView::advanceFrame() {
    if (++frame_ < animationImages_.size())
        return;
    frame_ = 0;
    ++roundsDone_;
    if (animationRepeatCount_ > 0 && roundsDone_ >= animationRepeatCount_)
        stopAnimating();
}

void ImageView::stopAnimating() {
    if (animationTimer_) {
        animationTimer_->invalidate();
        animationTimer_.reset();
    }
    frame_ = 0;
}

std::shared_ptr<Image> ImageView::displayedImage() const {
    if (animationTimer_ && frame_ < animationImages_.size())
        return animationImages_[frame_];
    return highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
}

Size ImageView::sizeThatFits(Size size) const {
    return image_ ? image_->size() : size;
}

void ImageView::drawText(TextCanvas& canvas, const Rect& rect) const {
    auto shown = displayedImage();
    if (!shown)
        return;
    canvas.writeImageName(rect, "<" + (shown->name().empty() ? std::string("image") : shown->name()) + ">");
}

void ImageView::drawPicture(GraphicsContext& context) const {
    if (auto shown = displayedImage())
        context.drawImage(rectForContentMode(contentMode(), shown->size(), bounds()), shown);
}

} // namespace platform
