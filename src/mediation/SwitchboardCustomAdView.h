#pragma once
// SwitchboardCustomAdView: the view of a custom or Nimbus ad, a button-like 320 by 53 view
// that shows either a full banner image (ad type 1) or an icon and a line of text on a
// gradient (ad type 2). Ad types 3 to 5 are accepted and drawn empty. A plain overlay button
// covering the view takes the touches and tells the delegate adTapped on touch-up inside.
//
// Drawing: drawRect draws into the current graphics context (a white fill, the two gradients,
// the image or the clipped icon and its bevel strokes); the view keeps the list of what it
// drew (lastDrawing) and the screen picture paints it. setImage asks for a redraw.
//
// Ownership: made by its adapter (create), which keeps it as its ad view and the slot then
// shows it; the delegate (the adapter) is held weakly, so a view whose adapter is gone or
// detached (stopBeingDelegate clears the delegate) reports no taps. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/ui/Button.h"
#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace mediation {

class SwitchboardCustomAdView;

// Told when the user taps a custom ad view (main thread).
class SwitchboardCustomAdViewDelegate {
public:
    virtual ~SwitchboardCustomAdViewDelegate() = default;
    virtual void adTapped(SwitchboardCustomAdView& view) = 0;
};

class SwitchboardCustomAdView : public platform::Button {
public:
    // Ad types: 1 banner image, 2 icon and text (3 to 5 are drawn empty).
    static constexpr int kAdTypeBanner = 1;
    static constexpr int kAdTypeIconAndText = 2;
    // Launch types: 1 open outside the application, 2 the in-app browser (3 is not opened).
    static constexpr int kLaunchTypeOutside = 1;
    static constexpr int kLaunchTypeBrowser = 2;

    static constexpr double kWidth = 320, kHeight = 53;
    // Type 2: the icon's rounded square and the text's left edge.
    static constexpr double kIconSize = 39, kIconCornerRadius = 7, kIconX = 4;
    static constexpr double kTextX = 50, kTextWidth = 270;
    static constexpr int kTextLines = 3;
    static constexpr const char* kTextFontName = "TrebuchetMS-Bold";
    static constexpr double kTextFontSize = 13;
    static constexpr double kBevelLineWidth = 0.5;
    static constexpr double kBevelDarkWhite = 0.4, kBevelLightWhite = 0.9;
    static constexpr double kGradientTopAlpha = 0.6;

    // initWithDelegate:text:redirectURL:clickMetricsURL:adType:launchType:animType:
    // backgroundColor:textColor:
    static std::shared_ptr<SwitchboardCustomAdView>
    create(std::weak_ptr<SwitchboardCustomAdViewDelegate> delegate, std::string text,
           std::optional<platform::URL> redirectURL, std::optional<platform::URL> clickMetricsURL, int adType,
           int launchType, int animType, std::optional<platform::Color> backgroundColor,
           std::optional<platform::Color> textColor);
    SwitchboardCustomAdView();

    std::shared_ptr<SwitchboardCustomAdViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<SwitchboardCustomAdViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    const std::shared_ptr<platform::Image>& image() const { return image_; }
    // Keeps the image and asks for a redraw.
    void setImage(std::shared_ptr<platform::Image> image);
    // The text line of a type-2 ad; null for other types.
    const std::shared_ptr<platform::Label>& textLabel() const { return textLabel_; }
    const std::optional<platform::URL>& redirectURL() const { return redirectURL_; }
    const std::optional<platform::URL>& clickMetricsURL() const { return clickMetricsURL_; }
    int adType() const { return adType_; }
    int launchType() const { return launchType_; }
    int animType() const { return animType_; }
    // The gradient colour (the backgroundColor field; the view's own background is another).
    const std::optional<platform::Color>& adBackgroundColor() const { return backgroundColor_; }
    const std::optional<platform::Color>& textColor() const { return textColor_; }
    // The overlay button that takes the touches.
    const std::shared_ptr<platform::Button>& tapButton() const { return tapButton_; }

    // Tells the delegate adTapped when there is one.
    void buttonTapUp();
    void drawRect(const platform::Rect& rect) override;

    void drawText(platform::TextCanvas& canvas, const platform::Rect& rect) const override;

private:
    std::weak_ptr<SwitchboardCustomAdViewDelegate> delegate_;
    std::shared_ptr<platform::Image> image_;
    std::shared_ptr<platform::Label> textLabel_;
    std::optional<platform::URL> redirectURL_;
    std::optional<platform::URL> clickMetricsURL_;
    int adType_ = 0;
    int launchType_ = 0;
    int animType_ = 0;
    std::optional<platform::Color> backgroundColor_;
    std::optional<platform::Color> textColor_;
    std::shared_ptr<platform::Button> tapButton_;
};

} // namespace mediation
