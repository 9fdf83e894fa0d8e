#include "mediation/SwitchboardCustomAdView.h"

#include <cmath>
#include <numbers>

#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextRenderer.h"

namespace mediation {

namespace {

// What the text renderer shows for a banner image.
constexpr const char* kImagePlaceholderText = "<ad image>";
// Gradient stops of a type-2 ad: (background at 0.6 alpha, background, background).
constexpr double kGradientLocations[] = {0.0, 0.7, 1.0};

constexpr double kDegrees = std::numbers::pi / 180.0;

// The bevel of the icon's rounded square (side r.width, corner radius `radius`) in three
// strokes, clockwise from the bottom of the left edge: dark, light, dark. Angles are in view
// coordinates (y down): 180 is left, 270 is up.
void strokeBevel(platform::GraphicsContext& g, const platform::Rect& r, double radius) {
    double left = r.minX(), top = r.minY(), right = r.maxX(), bottom = r.maxY();
    auto stroke = [&](double white) {
        g.setStrokeColor(platform::Color::white(white));
        g.strokePath();
    };
    // The left edge and the first half of the top-left corner.
    g.beginPath();
    g.moveToPoint(left, bottom - radius);
    g.addLineToPoint(left, top + radius);
    g.addArc(left + radius, top + radius, radius, 180 * kDegrees, 225 * kDegrees, false);
    stroke(SwitchboardCustomAdView::kBevelDarkWhite);
    // The rest of that corner, the top edge, the top-right corner, the right edge and the
    // first half of the bottom-right corner.
    g.beginPath();
    g.addArc(left + radius, top + radius, radius, 225 * kDegrees, 270 * kDegrees, false);
    g.addLineToPoint(right - radius, top);
    g.addArc(right - radius, top + radius, radius, 270 * kDegrees, 360 * kDegrees, false);
    g.addLineToPoint(right, bottom - radius);
    g.addArc(right - radius, bottom - radius, radius, 0, 45 * kDegrees, false);
    stroke(SwitchboardCustomAdView::kBevelLightWhite);
    // The rest of the bottom-right corner, the bottom edge and the bottom-left corner.
    g.beginPath();
    g.addArc(right - radius, bottom - radius, radius, 45 * kDegrees, 90 * kDegrees, false);
    g.addLineToPoint(left + radius, bottom);
    g.addArc(left + radius, bottom - radius, radius, 90 * kDegrees, 180 * kDegrees, false);
    stroke(SwitchboardCustomAdView::kBevelDarkWhite);
}

// The rounded square of the icon as the current path.
void addRoundedSquare(platform::GraphicsContext& g, const platform::Rect& r, double radius) {
    g.beginPath();
    g.moveToPoint(r.minX() + radius, r.minY());
    g.addArcToPoint(r.maxX(), r.minY(), r.maxX(), r.maxY(), radius);
    g.addArcToPoint(r.maxX(), r.maxY(), r.minX(), r.maxY(), radius);
    g.addArcToPoint(r.minX(), r.maxY(), r.minX(), r.minY(), radius);
    g.addArcToPoint(r.minX(), r.minY(), r.maxX(), r.minY(), radius);
    g.closePath();
}

} // namespace

SwitchboardCustomAdView::SwitchboardCustomAdView()
    : platform::Button(platform::Rect(0, 0, kWidth, kHeight), platform::ButtonType::Custom) {}

std::shared_ptr<SwitchboardCustomAdView>
SwitchboardCustomAdView::create(std::weak_ptr<SwitchboardCustomAdViewDelegate> delegate, std::string text,
                                std::optional<platform::URL> redirectURL,
                                std::optional<platform::URL> clickMetricsURL, int adType, int launchType,
                                int animType, std::optional<platform::Color> backgroundColor,
                                std::optional<platform::Color> textColor) {
    auto view = std::make_shared<SwitchboardCustomAdView>();
    view->delegate_ = std::move(delegate);
    view->redirectURL_ = std::move(redirectURL);
    view->clickMetricsURL_ = std::move(clickMetricsURL);
    view->adType_ = adType;
    view->launchType_ = launchType;
    view->animType_ = animType;
    view->backgroundColor_ = backgroundColor;
    view->textColor_ = textColor;

    if (adType == kAdTypeIconAndText) {
        auto label = std::make_shared<platform::Label>(
            platform::Rect(kTextX, 0, kTextWidth, view->frame().size.height));
        label->setText(std::move(text));
        if (textColor)
            label->setTextColor(*textColor);
        label->setNumberOfLines(kTextLines);
        label->setBackgroundColor(platform::Color::clearColor());
        label->setFont(platform::Font::named(kTextFontName, kTextFontSize));
        view->addSubview(label);
        view->textLabel_ = label;
    }

    auto tap = std::make_shared<platform::Button>(view->bounds(), platform::ButtonType::Custom);
    tap->setShowsTouchWhenHighlighted(true);
    std::weak_ptr<SwitchboardCustomAdView> weak = view;
    tap->addAction(
        [weak](platform::Control&) {
            if (auto v = weak.lock())
                v->buttonTapUp();
        },
        platform::ControlEvent::TouchUpInside, view.get());
    view->addSubview(tap);
    view->tapButton_ = tap;
    view->setNeedsDisplay();
    return view;
}

void SwitchboardCustomAdView::setImage(std::shared_ptr<platform::Image> image) {
    image_ = std::move(image);
    setNeedsDisplay();
}

void SwitchboardCustomAdView::buttonTapUp() {
    if (auto d = delegate())
        d->adTapped(*this);
}

void SwitchboardCustomAdView::drawRect(const platform::Rect&) {
    auto* g = platform::GraphicsContext::current();
    if (!g)
        return;
    const platform::Size size = bounds().size;
    if (adType_ == kAdTypeBanner) {
        if (image_)
            platform::drawImageAtPoint(image_, {(size.width - image_->size().width) / 2,
                                                (size.height - image_->size().height) / 2});
        return;
    }
    if (adType_ != kAdTypeIconAndText)
        return;

    g->setFillColor(platform::Color::whiteColor());
    g->fillRect(platform::Rect(0, 0, size.width, size.height));
    platform::Color background = backgroundColor_.value_or(platform::Color::whiteColor());
    platform::Gradient gradient{{background.withAlpha(kGradientTopAlpha), background, background},
                                {std::begin(kGradientLocations), std::end(kGradientLocations)}};
    const double middle = size.height / 2;
    g->drawLinearGradient(gradient, {0, 0}, {0, middle});
    g->drawLinearGradient(gradient, {0, size.height}, {0, middle});

    const platform::Rect iconRect(kIconX, (size.height - kIconSize) / 2, kIconSize, kIconSize);
    if (image_) {
        g->saveGState();
        addRoundedSquare(*g, iconRect, kIconCornerRadius);
        g->clip();
        g->drawImage(iconRect, image_);
        g->restoreGState();
    }
    g->setLineWidth(kBevelLineWidth);
    strokeBevel(*g, iconRect, kIconCornerRadius);
}

void SwitchboardCustomAdView::drawText(platform::TextCanvas& canvas, const platform::Rect& rect) const {
    if (adType_ == kAdTypeBanner && image_)
        canvas.writeInRect(rect, kImagePlaceholderText, 1);
}

} // namespace mediation
