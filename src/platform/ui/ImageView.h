#pragma once
// A view that shows an image (and, while highlighted, its highlighted image). Made with an
// image, it takes the image's size. It does not take user interaction unless told to.
// The text renderer shows it as the image's name in angle brackets, "<upgrade.png>".
// Owned by its superview; main thread only.
#include <memory>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {

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

    Size sizeThatFits(Size size) const override;
    void drawText(TextCanvas& canvas, const Rect& rect) const override;

private:
    std::shared_ptr<Image> image_;
    std::shared_ptr<Image> highlightedImage_;
    bool highlighted_ = false;
};

} // namespace platform
