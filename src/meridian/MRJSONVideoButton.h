#pragma once
// MRJSONVideoButton: one button drawn over a playing video ad. Built from an element of the
// video's "buttons" array: a picture button (its picture fetched once from "image") or a text
// button ("title" with its colours, size and font), placed at ("x-location", "y-location"),
// with the appearance delay, inactivity time-out and opacities that the control view's
// schedule follows, a tap address ("url": an "mrsdk" command or an address to open) and the
// tracking addresses of a tap ("activity"). Keyed-archivable, picture bytes included, so a
// cached video's buttons need no network when it is replayed.
//
// Ownership: held by its ad model (and through the model's archive by the video cache); the
// delegate (the control view) is held weakly; the built on-screen button is owned here and by
// the view it is added to. Main thread only. `button` never waits for the network: a missing
// picture is fetched asynchronously (at most kMaximumImageBytes, HTTP status 200-299, the
// whole fetch within kImageFetchSeconds of the main run loop's clock, whatever the server's
// pace). Until it arrives, and for good when the fetch fails, the built button has no picture
// and zero size at its point; when it arrives, its bytes are kept in `imageData` (the archive
// carries them), the built button takes the picture and its size, and the picture-arrived
// handler runs (the video cache saves its record then). A button that goes away cancels its
// fetch; no handler runs after that.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/archive/KeyedArchiver.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Button.h"
#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Image.h"

namespace meridian {

class MRJSONVideoButton;

class MRJSONVideoButtonDelegate {
public:
    virtual ~MRJSONVideoButtonDelegate() = default;
    virtual void jsonVideoButtonWasTapped(MRJSONVideoButton& button) = 0;
};

class MRJSONVideoButton : public platform::Coding, public std::enable_shared_from_this<MRJSONVideoButton> {
public:
    static constexpr std::string_view kCodingClassName = "MRJSONVideoButton";
    static constexpr std::string_view kButtonWasTappedNotification = "MRVideoOverlayButtonWasTapped";
    static constexpr double kDefaultFontSize = 10;
    static constexpr std::int64_t kMaximumImageBytes = 2 * 1024 * 1024;
    static constexpr double kImageFetchSeconds = 30.0;

    // initWithJSONButton: nothing is fetched.
    static std::shared_ptr<MRJSONVideoButton> initWithJSONButton(const platform::Dictionary& json);
    static std::shared_ptr<MRJSONVideoButton> initWithCoder(platform::KeyedUnarchiver& coder);
    ~MRJSONVideoButton() override;
    // Moves the picture, tap and tracking addresses onto this run's services base
    // (mrResolveCachedAddress).
    void resolveCachedAddresses();
    // colorFromString: see the .cpp's table; nullopt is "no colour".
    static std::optional<platform::Color> colorFromString(std::string_view text);

    // The on-screen button, built on the first call (this may start the picture's fetch).
    std::shared_ptr<platform::Button> button();
    bool hasBuiltButton() const { return generatedButton_ != nullptr; }
    // True while the picture's fetch runs.
    bool isFetchingImage() const { return imageFetch_ != nullptr; }
    // Runs on the main run loop once the fetched picture has been stored.
    void setImageArrivedHandler(std::function<void()> handler) { imageArrived_ = std::move(handler); }
    // Posts "MRVideoOverlayButtonWasTapped", then tells the delegate.
    void buttonWasTapped();
    bool isEqualToVideoButton(const MRJSONVideoButton& other) const;
    // "<MRJSONVideoButton : %x>" with this object's address: the name of its fade-in.
    std::string animationId() const;
    std::string description() const;

    const std::optional<platform::URL>& imageURL() const { return imageURL_; }
    const std::optional<platform::URL>& tapURL() const { return tapURL_; }
    const std::shared_ptr<platform::Image>& image() const { return image_; }
    const std::optional<platform::Data>& imageData() const { return imageData_; }
    double xLocation() const { return xLocation_; }
    double yLocation() const { return yLocation_; }
    const std::string& title() const { return title_; }
    const std::optional<platform::Color>& buttonColor() const { return buttonColor_; }
    const std::optional<platform::Color>& textColor() const { return textColor_; }
    double buttonHeight() const { return buttonHeight_; }
    double buttonWidth() const { return buttonWidth_; }
    const platform::Font& buttonFont() const { return buttonFont_; }
    const std::string& component() const { return component_; }
    // A picture button, once built, is labelled by its component.
    void setComponent(std::string component);
    const std::optional<platform::Array>& activity() const { return activity_; }
    void setActivity(std::optional<platform::Array> activity) { activity_ = std::move(activity); }
    double appearanceDelay() const { return appearanceDelay_; }
    double inactivityTimeout() const { return inactivityTimeout_; }
    double startOpacity() const { return startOpacity_; }
    double endOpacity() const { return endOpacity_; }
    double fadeDuration() const { return fadeDuration_; }
    std::shared_ptr<MRJSONVideoButtonDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MRJSONVideoButtonDelegate> delegate) { delegate_ = std::move(delegate); }

    // Coding.
    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;

private:
    MRJSONVideoButton() = default;
    void startImageFetch();
    void imageFetchEnded(const std::optional<platform::URLResponse>& response, const platform::Data& data,
                         const std::optional<platform::Error>& error);
    void stopImageFetch();
    // Gives the built button the picture and its size.
    void layOutPicture();

    std::optional<platform::URL> imageURL_;
    std::shared_ptr<platform::Image> image_;
    std::optional<platform::Data> imageData_;
    std::optional<platform::URL> tapURL_;
    double xLocation_ = 0;
    double yLocation_ = 0;
    std::string title_;
    std::optional<platform::Color> buttonColor_;
    std::optional<platform::Color> textColor_;
    double buttonHeight_ = 0;
    double buttonWidth_ = 0;
    platform::Font buttonFont_ = platform::Font::systemFont(kDefaultFontSize);
    std::string component_;
    std::shared_ptr<platform::Button> generatedButton_;
    std::optional<platform::Array> activity_;
    double appearanceDelay_ = 0;
    double inactivityTimeout_ = 0;
    double startOpacity_ = 1.0;
    double endOpacity_ = 1.0;
    double fadeDuration_ = 1.0;
    std::weak_ptr<MRJSONVideoButtonDelegate> delegate_;
    std::shared_ptr<platform::URLConnection> imageFetch_;
    std::function<void()> imageArrived_;
};

} // namespace meridian
