#include "mediation/SwitchboardCustomAdView.h"

#include <cmath>
#include <numbers>

#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/TextRenderer.h"

namespace mediation {

namespace {

// What the text renderer shows for a banner image.
constexpr const char* kImagePlaceholderText = "<ad image>";
// Gradient stops of a type-2 ad: (background at 0.6 alpha, background, background).
constexpr double kGradientLocations[] = {0.0, 0.7, 1.0};

platform::Point arcPoint(platform::Point centre, double radius, double degrees) {
    double a = degrees * std::numbers::pi / 180.0;
    return {centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)};
}

// The three bevel strokes of the icon's rounded square, clockwise from the bottom of the
// left edge. Angles are in view coordinates (y down): 180 is left, 270 is up.
struct BevelPart {
    double white;
    std::vector<platform::Point> path;
};

std::vector<BevelPart> bevelParts(const platform::Rect& r, double radius) {
    double left = r.origin.x, top = r.origin.y, right = left + r.size.width, bottom = top + r.size.height;
    platform::Point topLeft{left + radius, top + radius}, topRight{right - radius, top + radius};
    platform::Point bottomRight{right - radius, bottom - radius}, bottomLeft{left + radius, bottom - radius};
    return {
        // The left edge and the first half of the top-left corner: dark.
        {SwitchboardCustomAdView::kBevelDarkWhite,
         {{left, bottom - radius}, {left, top + radius}, arcPoint(topLeft, radius, 225)}},
        // The rest of that corner, the top edge, the top-right corner, the right edge and the
        // first half of the bottom-right corner: light.
        {SwitchboardCustomAdView::kBevelLightWhite,
         {arcPoint(topLeft, radius, 225),
          {left + radius, top},
          {right - radius, top},
          arcPoint(topRight, radius, 315),
          {right, top + radius},
          {right, bottom - radius},
          arcPoint(bottomRight, radius, 45)}},
        // The rest of the bottom-right corner, the bottom edge and the bottom-left corner: dark.
        {SwitchboardCustomAdView::kBevelDarkWhite,
         {arcPoint(bottomRight, radius, 45),
          {right - radius, bottom},
          {left + radius, bottom},
          arcPoint(bottomLeft, radius, 135),
          {left, bottom - radius}}},
    };
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
    view->drawRect(view->bounds());
    return view;
}

void SwitchboardCustomAdView::setImage(std::shared_ptr<platform::Image> image) {
    image_ = std::move(image);
    drawRect(bounds());
}

void SwitchboardCustomAdView::buttonTapUp() {
    if (auto d = delegate())
        d->adTapped(*this);
}

void SwitchboardCustomAdView::drawRect(const platform::Rect&) {
    drawing_.clear();
    const platform::Size size = bounds().size;
    if (adType_ == kAdTypeBanner) {
        if (!image_)
            return;
        platform::Size imageSize = image_->size();
        DrawCommand c;
        c.kind = DrawCommand::Kind::Image;
        c.image = image_;
        c.rect = platform::Rect((size.width - imageSize.width) / 2, (size.height - imageSize.height) / 2,
                                imageSize.width, imageSize.height);
        drawing_.push_back(std::move(c));
        return;
    }
    if (adType_ != kAdTypeIconAndText)
        return;

    DrawCommand fill;
    fill.kind = DrawCommand::Kind::Fill;
    fill.rect = platform::Rect(0, 0, size.width, size.height);
    fill.colors = {platform::Color::whiteColor()};
    drawing_.push_back(std::move(fill));

    platform::Color background = backgroundColor_.value_or(platform::Color::whiteColor());
    std::vector<platform::Color> stops = {background.withAlpha(kGradientTopAlpha), background, background};
    const double middle = size.height / 2;
    for (double edge : {0.0, size.height}) {
        DrawCommand g;
        g.kind = DrawCommand::Kind::LinearGradient;
        g.colors = stops;
        g.locations.assign(std::begin(kGradientLocations), std::end(kGradientLocations));
        g.start = {0, edge};
        g.end = {0, middle};
        g.rect = platform::Rect(0, std::min(edge, middle), size.width, middle);
        drawing_.push_back(std::move(g));
    }

    const platform::Rect iconRect(kIconX, (size.height - kIconSize) / 2, kIconSize, kIconSize);
    if (image_) {
        DrawCommand icon;
        icon.kind = DrawCommand::Kind::Image;
        icon.image = image_;
        icon.rect = iconRect;
        icon.cornerRadius = kIconCornerRadius;
        drawing_.push_back(std::move(icon));
    }
    for (auto& part : bevelParts(iconRect, kIconCornerRadius)) {
        DrawCommand stroke;
        stroke.kind = DrawCommand::Kind::Stroke;
        stroke.rect = iconRect;
        stroke.colors = {platform::Color::white(part.white)};
        stroke.lineWidth = kBevelLineWidth;
        stroke.cornerRadius = kIconCornerRadius;
        stroke.path = std::move(part.path);
        drawing_.push_back(std::move(stroke));
    }
}

void SwitchboardCustomAdView::drawText(platform::TextCanvas& canvas, const platform::Rect& rect) const {
    if (adType_ == kAdTypeBanner && image_)
        canvas.writeInRect(rect, kImagePlaceholderText, 1);
}

} // namespace mediation
