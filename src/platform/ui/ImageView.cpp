#include "platform/ui/ImageView.h"

#include "platform/ui/TextRenderer.h"

namespace platform {

ImageView::ImageView(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

ImageView::ImageView(std::shared_ptr<Image> image)
    : View(image ? Rect(Point{}, image->size()) : Rect()), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

void ImageView::setImage(std::shared_ptr<Image> image) {
    image_ = std::move(image);
}

Size ImageView::sizeThatFits(Size size) const {
    return image_ ? image_->size() : size;
}

void ImageView::drawText(TextCanvas& canvas, const Rect& rect) const {
    const auto& shown = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
    if (!shown)
        return;
    canvas.writeImageName(rect, "<" + (shown->name().empty() ? std::string("image") : shown->name()) + ">");
}

} // namespace platform
