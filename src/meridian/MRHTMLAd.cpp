#include "meridian/MRHTMLAd.h"

#include <array>

#include "meridian/MRAdView.h"
#include "meridian/MRCommon.h"
#include "platform/foundation/Strings.h"

namespace meridian {

namespace {

// The page functions and what the native side reads from them.
constexpr std::string_view kIsBottomBarEnabledCall = "shouldEnableBottomBar()";
constexpr std::string_view kShowBottomBarCall = "shouldShowBottomBar()";
constexpr std::string_view kCloseOverlayCall = "shouldCloseOverlay()";
constexpr std::string_view kResizeAdToCall = "shouldResizeAdTo()";
constexpr std::string_view kTransitionDurationCall = "transitionDuration()";
constexpr std::string_view kOrientationLockCall = "orientationLock()";
constexpr std::string_view kShouldAccelerateCall = "shouldAccelerate()";
constexpr std::string_view kTitleBarColorCall = "titleBarColor()";
constexpr std::string_view kOverlayTransitionCall = "overlayTransition()";
constexpr std::string_view kTransparentOverlayCall = "shouldMakeOverlayTransparent()";
constexpr std::string_view kOverlayTitleCall = "overlayTitle()";
constexpr std::string_view kShowTitlebarCall = "shouldShowTitlebar()";
constexpr std::string_view kModalBorderColorCall = "modalBorderColor()";
constexpr std::string_view kAlphaForModalBorderCall = "alphaForModalBorder()";
constexpr std::string_view kShowModalCall = "shouldShowModal()";
constexpr std::string_view kModalLocationCall = "modalLocation()";
constexpr std::string_view kModalSizeCall = "modalSize()";
constexpr std::string_view kShouldOpenCall = "shouldOpen()";
constexpr std::string_view kPointToMimicTapCall = "pointToMimicTap()";

// Answers without a web view, and on "".
constexpr double kTransitionDurationWithoutPage = 0.6;
constexpr double kTransitionDurationOnEmpty = 0.8;
constexpr std::string_view kDefaultOverlayTransition = "SlideUp";
constexpr std::string_view kPageOverlayTitle = "Advertisement";
constexpr double kDefaultBorderAlpha = 1.0;

struct OrientationName {
    std::string_view name;
    int lock;
};
constexpr std::array<OrientationName, 2> kOrientationLocks = {{{"portrait", 1}, {"landscape", 3}}};

constexpr std::size_t kHexColorLength = 6;
constexpr std::size_t kShortestColorText = 5;
constexpr double kColorByte = 255.0;

// Two comma-separated numbers, or nothing.
std::optional<std::pair<double, double>> numberPair(const std::string& answer) {
    auto parts = platform::split(answer, ",");
    if (parts.size() != 2)
        return std::nullopt;
    return std::make_pair(platform::doubleValue(parts[0]), platform::doubleValue(parts[1]));
}

} // namespace

std::shared_ptr<MRHTMLAd> MRHTMLAd::create(std::optional<std::string> markup,
                                           std::shared_ptr<platform::WebView> webView,
                                           bool accelerometerEnabled) {
    std::shared_ptr<MRHTMLAd> ad(new MRHTMLAd());
    if (!markup || !webView)
        return ad;
    ad->overlayObserver_ = platform::NotificationCenter::defaultCenter().observe<MRHTMLAd>(
        ad, kMROverlayWillCloseNotification,
        [](MRHTMLAd& self, const platform::Notification&) { self.overlayWasClosed(); });
    ad->ad_ = std::string(kStylePrefix) + *markup;
    ad->webView_ = std::move(webView);
    ad->webView_->loadHTMLString(ad->ad_, std::nullopt);
    ad->shouldResizeAdToTimer_ = ad->startPoll(&MRHTMLAd::shouldResizeAdTo);
    ad->accelerometerIsEnabled_ = accelerometerEnabled;
    if (accelerometerEnabled) {
        auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
        accelerometer.setUpdateInterval(kAccelerometerInterval);
        accelerometer.setDelegate(std::shared_ptr<platform::AccelerometerDelegate>(
            ad, static_cast<platform::AccelerometerDelegate*>(ad.get())));
    }
    return ad;
}

MRHTMLAd::~MRHTMLAd() {
    platform::NotificationCenter::defaultCenter().removeObserver(overlayObserver_);
    // The weakly held delegate is already gone; readings stop with it.
    stop(shouldCloseOverlayTimer_);
    stop(shouldShowBottomBarTimer_);
    stop(shouldResizeAdToTimer_);
}

std::string MRHTMLAd::ask(std::string_view call) {
    return webView_ ? webView_->stringByEvaluatingJavaScriptFromString(call) : std::string();
}

bool MRHTMLAd::askRemembered(bool& flag, std::string_view call, bool onEmpty) {
    if (flag)
        return true;
    auto answer = ask(call);
    bool value = answer.empty() ? onEmpty : platform::boolValue(answer);
    if (value)
        flag = true;
    return value;
}

bool MRHTMLAd::isBottomBarEnabled() {
    auto answer = ask(kIsBottomBarEnabledCall);
    return answer.empty() ? true : platform::boolValue(answer);
}

bool MRHTMLAd::showBottomBar() {
    if (!webView_)
        return true;
    return askRemembered(shouldShowBottomBar_, kShowBottomBarCall, true);
}

double MRHTMLAd::transitionDuration() {
    if (!webView_)
        return kTransitionDurationWithoutPage;
    auto answer = ask(kTransitionDurationCall);
    return answer.empty() ? kTransitionDurationOnEmpty : platform::doubleValue(answer);
}

int MRHTMLAd::orientationLock() {
    auto answer = ask(kOrientationLockCall);
    for (const auto& row : kOrientationLocks)
        if (row.name == answer)
            return row.lock;
    return 0;
}

bool MRHTMLAd::shouldAccelerate() {
    return askRemembered(shouldAccelerate_, kShouldAccelerateCall, false);
}

std::optional<platform::Color> MRHTMLAd::titlebarColor() {
    return colorFromAnswer(ask(kTitleBarColorCall));
}

std::optional<std::string> MRHTMLAd::overlayTransition() {
    auto answer = ask(kOverlayTransitionCall);
    return answer.empty() ? std::string(kDefaultOverlayTransition) : answer;
}

bool MRHTMLAd::shouldMakeOverlayTransparent() {
    return askRemembered(shouldMakeOverlayTransparent_, kTransparentOverlayCall, false);
}

std::string MRHTMLAd::overlayTitle() {
    auto answer = ask(kOverlayTitleCall);
    return answer.empty() ? std::string(kPageOverlayTitle) : answer;
}

bool MRHTMLAd::showTitlebar() {
    return askRemembered(shouldShowTitlebar_, kShowTitlebarCall, false);
}

std::optional<platform::Color> MRHTMLAd::modalBorderColor() {
    return colorFromAnswer(ask(kModalBorderColorCall));
}

double MRHTMLAd::alphaForModalBorder() {
    auto answer = ask(kAlphaForModalBorderCall);
    return answer.empty() ? kDefaultBorderAlpha : platform::doubleValue(answer);
}

bool MRHTMLAd::shouldShowModal() {
    if (!webView_)
        return true;
    return askRemembered(shouldShowModal_, kShowModalCall, false);
}

platform::Point MRHTMLAd::modalLocation() {
    auto pair = numberPair(ask(kModalLocationCall));
    return pair ? platform::Point{pair->first, pair->second} : platform::Point{};
}

platform::Size MRHTMLAd::modalSize() {
    auto pair = numberPair(ask(kModalSizeCall));
    return pair ? platform::Size{pair->first, pair->second} : platform::Size{};
}

std::optional<platform::URL> MRHTMLAd::openURL() {
    auto answer = ask(kShouldOpenCall);
    if (answer.empty())
        return std::nullopt;
    return platform::URL::parse(platform::percentEscapeURLString(answer));
}

platform::Point MRHTMLAd::pointToMimicTapAt() {
    auto pair = numberPair(ask(kPointToMimicTapCall));
    return pair ? platform::Point{pair->first, pair->second} : platform::Point{};
}

platform::Color MRHTMLAd::colorFromAnswer(std::string_view answer) {
    const auto black = platform::Color::blackColor();
    auto parts = platform::split(answer, ",");
    if (parts.size() == 4 || parts.size() == 3) {
        double alpha = parts.size() == 4 ? platform::doubleValue(parts[3]) : 1.0;
        return platform::Color::rgba(platform::doubleValue(parts[0]), platform::doubleValue(parts[1]),
                                     platform::doubleValue(parts[2]), alpha);
    }
    if (parts.size() != 1)
        return black;
    std::string text = platform::toUpper(platform::trim(parts[0]));
    if (text.size() <= kShortestColorText)
        return black;
    if (text.front() == '#')
        text.erase(0, 1);
    if (text.size() != kHexColorLength)
        return black;
    double channels[3];
    for (std::size_t i = 0; i < 3; ++i) {
        int high = platform::hexDigitValue(text[2 * i]);
        int low = platform::hexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return black;
        channels[i] = (high * 16 + low) / kColorByte;
    }
    return platform::Color::rgba(channels[0], channels[1], channels[2], 1.0);
}

std::shared_ptr<platform::Timer> MRHTMLAd::startPoll(void (MRHTMLAd::*poll)()) {
    std::weak_ptr<MRHTMLAd> weak = weak_from_this();
    return platform::Timer::scheduled(kPollInterval, true, [weak, poll](platform::Timer& timer) {
        auto self = weak.lock();
        if (!self) {
            timer.invalidate();
            return;
        }
        ((*self).*poll)();
    });
}

void MRHTMLAd::stop(std::shared_ptr<platform::Timer>& timer) {
    if (timer)
        timer->invalidate();
    timer.reset();
}

void MRHTMLAd::startCloseOverlayTimer() {
    stop(shouldCloseOverlayTimer_);
    shouldCloseOverlayTimer_ = startPoll(&MRHTMLAd::shouldCloseOverlay);
}

void MRHTMLAd::stopCloseOverlayTimer() {
    stop(shouldCloseOverlayTimer_);
}

void MRHTMLAd::startBottomBarTimer() {
    stop(shouldShowBottomBarTimer_);
    shouldShowBottomBarTimer_ = startPoll(&MRHTMLAd::shouldShowBottomBar);
}

void MRHTMLAd::stopShowBottomBarTimer() {
    stop(shouldShowBottomBarTimer_);
}

void MRHTMLAd::shouldCloseOverlay() {
    auto answer = ask(kCloseOverlayCall);
    if (answer.empty()) {
        stopCloseOverlayTimer();
        return;
    }
    if (platform::boolValue(answer))
        platform::NotificationCenter::defaultCenter().post(kCloseMROverlayNotification);
}

void MRHTMLAd::shouldShowBottomBar() {
    auto answer = ask(kShowBottomBarCall);
    if (answer.empty()) {
        stopShowBottomBarTimer();
        return;
    }
    if (platform::boolValue(answer)) {
        stopShowBottomBarTimer();
        platform::NotificationCenter::defaultCenter().post(platform::Notification{
            std::string(kMRBottomBarToBeShownNotification), platform::Value(true), nullptr, {}});
    }
}

void MRHTMLAd::shouldResizeAdTo() {
    auto answer = ask(kResizeAdToCall);
    if (answer.empty()) {
        stop(shouldResizeAdToTimer_);
        return;
    }
    if (platform::intValue(answer) > 0)
        platform::NotificationCenter::defaultCenter().post(
            platform::Notification{std::string(kMRResizeAdToHeightNotification),
                                   platform::Value(static_cast<double>(platform::floatValue(answer))),
                                   nullptr,
                                   {}});
}

void MRHTMLAd::overlayWasClosed() {
    stopCloseOverlayTimer();
    stopShowBottomBarTimer();
}

void MRHTMLAd::didAccelerate(double x, double y, double z) {
    if (!webView_ || !htmlHasLoaded_ || !shouldAccelerate_)
        return;
    auto view = adView();
    if (!view || !view->isAccelerometerEnabled())
        return;
    accelX_ = kAccelerationFilter * x + (1 - kAccelerationFilter) * accelX_;
    accelY_ = kAccelerationFilter * y + (1 - kAccelerationFilter) * accelY_;
    accelZ_ = kAccelerationFilter * z + (1 - kAccelerationFilter) * accelZ_;
    // Numbers only: nothing from outside reaches the script text.
    ask(platform::formatString("didAccelerate(%f,%f,%f)", accelX_, accelY_, accelZ_));
}

bool MRHTMLAd::showModalOverlay(const std::string& markup) {
    auto webView = std::make_shared<platform::WebView>(platform::Rect{});
    webView->loadHTMLString(markup, std::nullopt);
    return platform::boolValue(webView->stringByEvaluatingJavaScriptFromString(kShowModalCall));
}

} // namespace meridian
