#pragma once
// MRJSONAd: the ad model of a JSON reply of the Meridian ad service. The reply's "type" makes
// it an image ad (kImageAd: a picture with a tap-through address), a video ad (kVideoAd) or
// no usable ad (kNoAd: not a JSON object, no "type", or any other type). "meta-data" is kept
// (an empty dictionary when absent) and the "image" or "video" object is read by the tables
// in the .cpp; absent booleans read as NO, absent numbers as 0, and a value of the wrong kind
// as absent. The overlay questions of MRBasicAd have fixed answers here.
//
// A video ad is also the record that the video cache archives (keyed archive, below): its
// buttons are built once (`downloadButtons`, pictures fetched in the background) and travel
// in the archive.
//
// Ownership: made by the JSON ad view for each reply and held by the child view that shows
// it (and by a video cache record); it refers to that container weakly. Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <vector>

#include "meridian/MRBasicAd.h"
#include "meridian/MRJSONVideoButton.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/foundation/Value.h"

namespace meridian {

class MRJSONAdView;

class MRJSONAd : public MRBasicAd, public platform::Coding {
public:
    static constexpr std::string_view kCodingClassName = "MRJSONAd";
    using VideoButtons = std::vector<std::shared_ptr<MRJSONVideoButton>>;

    static constexpr int kImageAd = 1;
    static constexpr int kVideoAd = 2;
    static constexpr int kNoAd = 4;
    static constexpr double kTransitionDuration = 0.6;
    static constexpr std::string_view kOverlayTitle = "Advertisement";
    static constexpr std::string_view kOverlayTransition = "SlideUp";

    // initWithJSONAd:adView:: the reply bytes read as UTF-8 JSON text.
    MRJSONAd(const platform::Data& reply, std::weak_ptr<MRJSONAdView> adView);
    // Fills the fields from a parsed reply (nullopt: the text was no JSON).
    void parseResponse(const std::optional<platform::Value>& response);
    static VideoButtons arrayForVideoButtons(const platform::Array& buttons);
    // Builds every button once and starts fetching the pictures they lack; `pictureArrived`
    // runs each time one of them has been stored (the video cache saves its record then).
    void downloadButtons(std::function<void()> pictureArrived = {});
    // Takes over the buttons of `older` (already built, pictures fetched); each of them that
    // equals one of this model's own buttons takes that button's activity and component.
    void updateAdWithAd(const MRJSONAd& older);
    // Moves the addresses of an ad read from the video cache onto this run's services base
    // (mrResolveCachedAddress): the video, tracking, end action and buttons.
    void resolveCachedAddresses();
    // The classes a video ad archive may hold.
    static const platform::CodingClasses& codingClasses();
    static std::shared_ptr<MRJSONAd> initWithCoder(platform::KeyedUnarchiver& coder);
    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;

    std::shared_ptr<MRJSONAdView> adView() const { return adView_.lock(); }
    void setAdView(std::weak_ptr<MRJSONAdView> adView) { adView_ = std::move(adView); }
    int adType() const { return adType_; }
    const std::optional<platform::URL>& imageContentURL() const { return imageContentURL_; }
    const std::optional<platform::URL>& imageTapThroughURL() const { return imageTapThroughURL_; }
    const std::string& imageWillOpenApp() const { return imageWillOpenApp_; }
    bool doesImageExpand() const { return imageExpands_; }
    bool isImageInterstitial() const { return imageIsInterstitial_; }
    const std::string& videoId() const { return videoId_; }
    const std::optional<platform::URL>& videoContentURL() const { return videoContentURL_; }
    const std::optional<platform::Date>& videoExpirationDate() const { return videoExpirationDate_; }
    double videoSizeInMB() const { return videoSizeInMB_; }
    const std::optional<VideoButtons>& videoButtons() const { return videoButtons_; }
    void setVideoButtons(std::optional<VideoButtons> buttons) { videoButtons_ = std::move(buttons); }
    bool isFullscreen() const { return isFullscreen_; }
    const std::string& videoOreientation() const { return videoOreientation_; }
    bool buttonsHaveBeenDownloaded() const { return buttonsHaveBeenDownloaded_; }
    bool isVellumIntersticial() const { return false; }
    bool showControls() const { return showControls_; }
    bool showCountdownHUD() const { return showCountdownHUD_; }
    double videoHeight() const { return videoHeight_; }
    double videoWidth() const { return videoWidth_; }
    double videoDuration() const { return videoDuration_; }
    const std::optional<platform::Array>& startActivity() const { return startActivity_; }
    const std::optional<platform::Array>& endActivity() const { return endActivity_; }
    const std::optional<platform::Array>& logs() const { return logs_; }
    const std::optional<platform::Dictionary>& onCompletion() const { return onCompletion_; }
    const platform::Dictionary& logMetaData() const { return logMetaData_; }
    // The movie player's control style: none, in every case.
    int controlStyle() const { return 0; }
    // "MRJSONAd: <the reply>".
    std::string description() const;

    // MRBasicAd.
    std::optional<platform::URL> openURL() override { return std::nullopt; }
    std::string overlayTitle() override { return std::string(kOverlayTitle); }
    bool shouldShowModal() override { return false; }
    platform::Size modalSize() override { return {}; }
    std::optional<platform::Color> modalBorderColor() override { return platform::Color::blackColor(); }
    platform::Point modalLocation() override { return {}; }
    double alphaForModalBorder() override { return 1.0; }
    bool shouldMakeOverlayTransparent() override { return false; }
    bool showTitlebar() override { return false; }
    std::optional<platform::Color> titlebarColor() override { return platform::Color::blackColor(); }
    std::optional<std::string> overlayTransition() override { return std::string(kOverlayTransition); }
    bool showBottomBar() override { return true; }
    bool isBottomBarEnabled() override { return true; }
    bool shouldAccelerate() override { return true; }
    double transitionDuration() override { return kTransitionDuration; }

private:
    MRJSONAd() = default;

    std::weak_ptr<MRJSONAdView> adView_;
    std::optional<platform::Value> rawResponse_;
    int adType_ = kNoAd;
    std::optional<platform::URL> imageContentURL_;
    std::optional<platform::URL> imageTapThroughURL_;
    std::string imageWillOpenApp_;
    bool imageExpands_ = false;
    bool imageIsInterstitial_ = false;
    std::string videoId_;
    std::optional<platform::URL> videoContentURL_;
    std::optional<platform::Date> videoExpirationDate_;
    double videoSizeInMB_ = 0;
    std::optional<VideoButtons> videoButtons_;
    bool showControls_ = false;
    bool isFullscreen_ = false;
    std::string videoOreientation_;
    bool buttonsHaveBeenDownloaded_ = false;
    bool showCountdownHUD_ = false;
    double videoHeight_ = 0;
    double videoWidth_ = 0;
    double videoDuration_ = 0;
    std::optional<platform::Array> startActivity_;
    std::optional<platform::Array> endActivity_;
    std::optional<platform::Array> logs_;
    std::optional<platform::Dictionary> onCompletion_;
    platform::Dictionary logMetaData_;
};

} // namespace meridian
