#include "meridian/MROverlayView.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "meridian/MRBasicAd.h"
#include "meridian/MRCommon.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Strings.h"
#include "platform/net/URLError.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace meridian {

namespace {

using platform::Autoresizing;
using platform::InterfaceOrientation;
using platform::Rect;

constexpr std::string_view kShouldCloseOverlay = "shouldCloseOverlay()";
constexpr std::string_view kShouldEnableBottomBar = "shouldEnableBottomBar()";
constexpr std::string_view kShouldShowBottomBar = "shouldShowBottomBar()";
constexpr std::string_view kShouldAccelerate = "shouldAccelerate()";
constexpr double kAccelerometerInterval = 1.0 / 60;
constexpr double kAccelerationFilter = 0.1;
constexpr std::string_view kTransparentBody = "document.body.style.backgroundColor='transparent'";
constexpr std::string_view kTrue = "true";
constexpr std::string_view kMRBrowserScheme = "mrbrowser";
constexpr std::string_view kMRBrowserPrefix = "mrbrowser://";
constexpr std::string_view kHTTPPrefix = "http://";
constexpr std::string_view kMapsPrefix = "maps://";
// Schemes whose links leave the application.
constexpr std::array<std::string_view, 4> kLeavingSchemes = {"itms", "sms", "tel", "mrbrowser"};
constexpr std::int64_t kCancelledErrorCode = -999;
// The name of the bars' close item, so a person (and a screen reader) finds the way out by it.
constexpr std::string_view kCloseItemTitle = "Close";

constexpr std::string_view kShowAnimation = "ShowAdOverlayView";
constexpr std::string_view kShowVideoAnimation = "ShowVideoAdOverlayView";
constexpr double kStatusBarInset = 20;
// Full-screen heights of the wanted orientation: phone, tablet.
constexpr double kLandscapeHeights[] = {320, 768};
constexpr double kPortraitHeights[] = {480, 1024};
// The video landscape case: the shift of the rotated overlay on a phone and on a tablet.
constexpr double kVideoShiftPhone = 80;
constexpr double kVideoShiftTablet = 128;

// Modal panel.
constexpr double kModalMargin = 10;
constexpr double kModalWebInsetX = 11;
constexpr double kModalWebInsetY = 10;
constexpr double kModalWebInsetWidth = 22;
constexpr double kModalWebInsetHeight = 21;
constexpr double kModalTitleX = 26;
constexpr double kModalTitleExtra = 8;
constexpr double kModalTitleGap = 16;
constexpr double kModalTitleFontSize = 14;
constexpr double kModalCloseFontSize = 12;
constexpr std::string_view kModalCloseTitle = "X";
constexpr double kStartScale = 0.001;
// Bounce stages: duration as a factor of transitionDuration (divided for stage 1), scale.
struct BounceStage {
    double durationFactor;
    double scale;
};
constexpr std::array<BounceStage, 3> kBounceStages = {{{1 / 1.5, 1.1}, {0.5, 0.9}, {0.5, 1.0}}};

// Slide transitions: start offset as a multiple of (w, h); the animation moves back.
struct SlideRow {
    std::string_view name;
    double dx, dy;
};
constexpr std::array<SlideRow, 4> kSlides = {{
    {"SlideUp", 0, 1},
    {"SlideDown", 0, -1},
    {"SlideRight", -1, 0},
    {"SlideLeft", 1, 0},
}};

struct StyleRow {
    std::string_view name;
    platform::ModalTransitionStyle style;
};
constexpr std::array<StyleRow, 7> kTransitionStyles = {{
    {"Curl", platform::ModalTransitionStyle::PartialCurl},
    {"CurlUp", platform::ModalTransitionStyle::PartialCurl},
    {"CurlDown", platform::ModalTransitionStyle::PartialCurl},
    {"Dissolve", platform::ModalTransitionStyle::CrossDissolve},
    {"Flip", platform::ModalTransitionStyle::FlipHorizontal},
    {"FlipRight", platform::ModalTransitionStyle::FlipHorizontal},
    {"FlipLeft", platform::ModalTransitionStyle::FlipHorizontal},
}};

// The bottom bar's arrows are known by these names (their pictures carry none).
constexpr std::string_view kBackItemLabel = "Back";
constexpr std::string_view kForwardItemLabel = "Forward";
// The bottom bar's arrows: 30 by 30 white arrows on a transparent ground, as PNG.
constexpr std::string_view kBackArrowPNG =
    "iVBORw0KGgoAAAANSUhEUgAAAB4AAAAeCAYAAAA7MK6iAAAASklEQVR42u3Vuw0AIAwD0ey/tKGhpeDjA8lvgZNQSKoi4lXq7MHB"
    "HrSENWEPXglrgz24FNZBf4Sxp8aHC/9O+ALBVyZ+JPCzGBENY6ldv4g04gAAAAAASUVORK5CYII=";
constexpr std::string_view kForwardArrowPNG =
    "iVBORw0KGgoAAAANSUhEUgAAAB4AAAAeCAYAAAA7MK6iAAAAR0lEQVR42u3WsRUAIAhDQfdfOtrY2sAjqP8WSApAxwBQSYsteLMF"
    "lxbQgS04tYACbMGhAkr0T/Bdw2Vbp9YH5P1Hgs8B0NYEQrZdv3nCKWIAAAAASUVORK5CYII=";

bool isLandscape(int orientation) {
    return orientation == static_cast<int>(InterfaceOrientation::LandscapeLeft) ||
           orientation == static_cast<int>(InterfaceOrientation::LandscapeRight);
}

bool containsText(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool isTablet() {
    return platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet;
}

// A page answer: nullopt when the page does not define the function.
std::optional<bool> pageAnswer(platform::WebView& webView, std::string_view call) {
    auto answer = webView.stringByEvaluatingJavaScriptFromString(call);
    if (answer.empty())
        return std::nullopt;
    return answer == kTrue;
}

} // namespace

std::shared_ptr<MROverlayView> MROverlayView::create(int type, std::weak_ptr<MROverlayDelegate> delegate) {
    std::shared_ptr<MROverlayView> overlay(new MROverlayView(type, std::move(delegate)));
    overlay->setUp();
    return overlay;
}

MROverlayView::MROverlayView(int type, std::weak_ptr<MROverlayDelegate> delegate)
    : View(Rect{}), type_(type), delegate_(std::move(delegate)) {}

void MROverlayView::setUp() {
    auto& device = platform::Device::current();
    if (!device.isGeneratingDeviceOrientationNotifications()) {
        device.beginGeneratingDeviceOrientationNotifications();
        startedOrientationNotifications_ = true;
    }
    auto me = self();
    auto& center = platform::NotificationCenter::defaultCenter();
    auto boolObject = [](const platform::Notification& n) {
        const auto* value = std::any_cast<platform::Value>(&n.object);
        return value && value->number() && *value->number() != 0;
    };
    center.observe<MROverlayView>(me, kMRBottomBarToBeShownNotification,
                                  [boolObject](MROverlayView& o, const platform::Notification& n) {
                                      o.bottomBarToBeShown(boolObject(n));
                                  });
    center.observe<MROverlayView>(me, kMRBottomBarToBeEnabledNotification,
                                  [boolObject](MROverlayView& o, const platform::Notification& n) {
                                      o.bottomBarToBeEnabled(boolObject(n));
                                  });
    center.observe<MROverlayView>(me, kCloseMROverlayNotification,
                                  [](MROverlayView& o, const platform::Notification&) { o.close(); });
    notifyOpenDelegates_ = true;
    notifyCloseDelegates_ = true;
    transitionDuration_ = type_ == kModal ? kModalTransitionDuration : kFullScreenTransitionDuration;
    headerTitle_ = std::string(kDefaultHeaderTitle);
    setAutoresizesSubviews(true);
    setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    statusBarOrientation_ = platform::Application::shared().statusBarOrientation();

    webView_ = std::make_shared<platform::WebView>(Rect{});
    webView_->setDelegate(
        std::shared_ptr<platform::WebViewDelegate>(me, static_cast<WebViewDelegate*>(this)));
    webView_->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    addSubview(webView_);
    spinner_ = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::WhiteLarge);
    spinner_->setAutoresizingMask(Autoresizing::FlexibleLeftMargin | Autoresizing::FlexibleRightMargin |
                                  Autoresizing::FlexibleTopMargin | Autoresizing::FlexibleBottomMargin);
    addSubview(spinner_);
}

void MROverlayView::placeSpinner() {
    spinner_->sizeToFit();
    spinner_->startAnimating();
    spinner_->setCenter(webView_->center());
    bringSubviewToFront(spinner_.get());
}

void MROverlayView::loadingDone() {
    spinner_->stopAnimating();
}

MROverlayView::~MROverlayView() {
    platform::NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
    if (startedOrientationNotifications_)
        platform::Device::current().endGeneratingDeviceOrientationNotifications();
    stop(closePoll_);
    stop(enablePoll_);
    stop(showPoll_);
    if (webView_)
        webView_->setDelegate({});
}

void MROverlayView::setMakeOverlayTransparent(bool transparent) {
    makeOverlayTransparent_ = transparent;
    if (transparent) {
        setBackgroundColor(platform::Color::clearColor());
        setOpaque(false);
        webView_->setBackgroundColor(platform::Color::clearColor());
    } else {
        setBackgroundColor(platform::Color::blackColor());
        setOpaque(true);
    }
    webView_->setOpaque(!transparent);
}

// ---- Presenting ----

void MROverlayView::showWithRequest(const platform::URLRequest& request) {
    webView_->loadRequest(request);
    showOverlayForType(type_);
}

void MROverlayView::showWithHTML(const std::string& html) {
    webView_->loadHTMLString(html, std::nullopt);
    showOverlayForType(type_);
}

void MROverlayView::showOverlayForType(int type) {
    if (type == kModal)
        showModalOverlay();
    else
        showFullScreenOverlay();
}

std::shared_ptr<platform::Window> MROverlayView::targetWindow() const {
    auto& app = platform::Application::shared();
    if (auto key = app.keyWindow())
        return key;
    auto windows = app.windows();
    return windows.empty() ? nullptr : windows.front();
}

void MROverlayView::showFullScreenOverlay() {
    if (superview() || showing_)
        return;
    auto window = targetWindow();
    auto parent = parentViewController();
    if (!window && !parent) {
        mrLog("no window for the overlay");
        return;
    }
    auto keep = self();
    showing_ = true;
    if (auto d = delegate())
        d->overlayWillAppear(*this);
    if (window)
        window->setOpaque(true);
    if (parent && window)
        setFrame(window->frame());
    else
        sizeToFitOrientation();

    double w = frame().width(), h = frame().height();
    webView_->setFrame(Rect(0, 0, w, h));
    placeSpinner();
    if (showTitlebar_) {
        titleBar_ = createTitlebar(Rect(0, 0, w, kBarHeight));
        addSubview(titleBar_);
        webView_->setFrame(Rect(0, kBarHeight, w, h - kBarHeight));
    }
    if (showBottomBar_) {
        auto wf = webView_->frame();
        webView_->setFrame(Rect(wf.x(), wf.y(), wf.width(), wf.height() - kBarHeight));
        double top = showTitlebar_ ? kBarHeight : 0;
        bottomBar_ =
            createBottombar(Rect(0, top + webView_->frame().height(), webView_->frame().width(), kBarHeight),
                            !showTitlebar_, enableBottomBar_);
        addSubview(bottomBar_);
    }

    if (!parent) {
        const SlideRow* slide = nullptr;
        for (const auto& row : kSlides)
            if (transition_ && *transition_ == row.name)
                slide = &row;
        if (slide) {
            auto f = frame();
            setFrame(
                Rect(f.x() + slide->dx * f.width(), f.y() + slide->dy * f.height(), f.width(), f.height()));
        }
        auto& app = platform::Application::shared();
        platform::NotificationCenter::defaultCenter().post(
            platform::Notification{std::string(kMRUpdateStatusBarVisibilityNotification),
                                   platform::Value(app.isStatusBarHidden()),
                                   nullptr,
                                   {}});
        if (isLandscape(overlayOrientation_) && shownFromVideo_) {
            bool left = overlayOrientation_ == static_cast<int>(InterfaceOrientation::LandscapeLeft);
            auto screen = platform::Screen::main().bounds();
            double sw = screen.width(), sh = screen.height();
            setFrame(Rect(-sw, 0, sh, sw));
            double shift = isTablet() ? kVideoShiftTablet : kVideoShiftPhone;
            double sign = left ? -1 : 1;
            setTransform(platform::AffineTransform::makeRotation(sign * M_PI / 2)
                             .translated(sign * shift, sign * shift));
            app.setStatusBarHidden(true);
            View::setAnimationsEnabled(true);
            View::beginAnimations(std::string(kShowVideoAnimation));
            View::setAnimationDuration(transitionDuration_);
            View::setAnimationTransition(platform::ViewAnimationTransition::None, *window, true);
            window->addSubview(keep);
            // Slides in to where the video player stands: the same bounds, centre and turn,
            // so the rotated page (and its bar with the way out) covers the screen exactly.
            // Moving the centre keeps the landscape bounds; a frame would be the turned one.
            setCenter(platform::Point{sh / 2, sw / 2});
            View::commitAnimations();
        } else {
            auto viewTransition = static_cast<platform::ViewAnimationTransition>(
                MRBasicAd::transitionFromHeader(transition_.value_or("")));
            View::setAnimationsEnabled(true);
            View::beginAnimations(std::string(kShowAnimation));
            View::setAnimationDuration(transitionDuration_);
            if (window->subviews().size() > 1 || window->subviews().empty()) {
                if (window->subviews().size() > 1)
                    setTransform(transformForOrientation());
                View::setAnimationTransition(viewTransition, *window, true);
                window->addSubview(keep);
            } else {
                auto root = window->subviews().front();
                View::setAnimationTransition(viewTransition, *root, true);
                root->addSubview(keep);
            }
            if (slide) {
                auto f = frame();
                setFrame(Rect(f.x() - slide->dx * f.width(), f.y() - slide->dy * f.height(), f.width(),
                              f.height()));
            }
            View::commitAnimations();
        }
    }
    if (auto d = delegate())
        d->overlayDidAppear(*this);
}

void MROverlayView::sizeToFitOrientation() {
    setTransform(platform::AffineTransform::identity());
    auto& app = platform::Application::shared();
    statusBarOrientation_ = app.statusBarOrientation();
    bool hasSize = overlaySize_.width != 0 || overlaySize_.height != 0;
    if (hasSize) {
        setFrame(Rect(0, 0, overlaySize_.width, overlaySize_.height));
        return;
    }
    bool statusBarVisible = !app.isStatusBarHidden();
    auto window = targetWindow();
    if (window && window->subviews().size() > 1) {
        auto wf = window->frame();
        double ww = wf.width(), hw = wf.height();
        int idiom = isTablet() ? 1 : 0;
        double full = isLandscape(overlayOrientation_) ? kLandscapeHeights[idiom] : kPortraitHeights[idiom];
        double s = statusBarVisible && hw == full ? kStatusBarInset : 0;
        if (isLandscape(overlayOrientation_))
            setFrame(Rect(0, s, hw - s, ww));
        else
            setFrame(Rect(0, s, ww, hw - s));
        return;
    }
    auto screen = platform::Screen::main().bounds();
    double s = statusBarVisible ? kStatusBarInset : 0;
    if (isLandscape(static_cast<int>(statusBarOrientation_)))
        setFrame(Rect(0, s, screen.height(), screen.width() - s));
    else
        setFrame(Rect(0, s, screen.width(), screen.height() - s));
}

void MROverlayView::modalSizeToFitOrientation(bool applyTransform) {
    if (applyTransform)
        setTransform(platform::AffineTransform::identity());
    auto app = platform::Screen::main().applicationFrame();
    bool zeroLocation = modalLocation_.x == 0 && modalLocation_.y == 0;
    platform::Point origin = zeroLocation ? platform::Point{kModalMargin, kModalMargin} : modalLocation_;
    statusBarOrientation_ = platform::Application::shared().statusBarOrientation();
    platform::Size size =
        modalSize_.width != 0 && modalSize_.height != 0
            ? modalSize_
            : platform::Size{app.width() - 2 * kModalMargin, app.height() - 2 * kModalMargin};
    if (isLandscape(static_cast<int>(statusBarOrientation_)))
        setFrame(Rect(origin.y, origin.x, size.height, size.width));
    else
        setFrame(Rect(origin.x, origin.y, size.width, size.height));
    if (applyTransform)
        setTransform(transformForOrientation());
    if (zeroLocation)
        setCenter(
            platform::Point{app.x() + std::ceil(app.width() * 0.5), app.y() + std::ceil(app.height() * 0.5)});
}

void MROverlayView::showModalOverlay() {
    if (superview() || showing_)
        return;
    auto window = targetWindow();
    if (!window) {
        mrLog("no window for the overlay");
        return;
    }
    auto keep = self();
    showing_ = true;
    if (auto d = delegate())
        d->overlayWillAppear(*this);
    modalSizeToFitOrientation(false);
    layOutModalContent();
    placeSpinner();
    window->addSubview(keep);
    setTransform(transformForOrientation().scaled(kStartScale, kStartScale));
    bounce(0);
    if (auto d = delegate())
        d->overlayDidAppear(*this);
}

// ---- The panel's drawing ----

namespace {

const platform::Color kBorderGray = platform::Color::rgba(0.3, 0.3, 0.3, 0.8);
const platform::Color kBorderBlack = platform::Color::rgba(0.3, 0.3, 0.3, 1.0);
constexpr double kBorderRadius = 5;
constexpr double kBorderInset = 10;
constexpr double kOutlineWidth = 2;

// A grey colour: black, white and the greys have two components (grey, alpha).
bool isGray(const platform::Color& c) {
    return c.numberOfComponents() == 2;
}

} // namespace

void MROverlayView::drawRect(const platform::Rect& rect) {
    if (type_ != kModal)
        return;
    platform::Rect border(rect.x() - 0.5, rect.y() - 0.5, rect.width(), rect.height());
    std::optional<platform::Color> fill;
    if (modalBorderColor_)
        fill = isGray(*modalBorderColor_)
                   ? kBorderGray
                   : platform::Color::rgba(modalBorderColor_->red, modalBorderColor_->green, modalBorderColor_->blue,
                                           alphaForModalBorder_);
    drawRectFillRadius(border, fill, kBorderRadius);
    double x = std::ceil(rect.x() + kBorderInset);
    double y = std::ceil(rect.y() + kBorderInset);
    double width = rect.width() - 2 * kBorderInset;
    double titleHeight = modalTitleLabel_ ? modalTitleLabel_->frame().height() : 0;
    double webHeight = webView_ ? webView_->frame().height() : 0;
    if (showTitlebar_) {
        platform::Color strip = platform::Color::blackColor();
        if (titlebarColor_ && !isGray(*titlebarColor_))
            strip = platform::Color::rgba(titlebarColor_->red, titlebarColor_->green, titlebarColor_->blue, 1.0);
        platform::Rect title(x, y, width, titleHeight);
        drawRectFillRadius(title, strip, 0);
        strokeLines(title, strip);
        strokeLines(platform::Rect(x, y + titleHeight, width, webHeight + 1), kBorderBlack);
    } else {
        strokeLines(platform::Rect(x, y - titleHeight, width, titleHeight + webHeight + 1), kBorderBlack);
    }
}

void MROverlayView::drawRectFillRadius(const platform::Rect& rect, const std::optional<platform::Color>& fill,
                                       double radius) {
    auto* context = platform::GraphicsContext::current();
    if (!context || !fill)
        return;
    context->saveGState();
    context->setFillColor(*fill);
    if (radius == 0) {
        context->fillRect(rect);
    } else {
        addRoundedRectToPath(*context, rect, radius);
        context->fillPath();
    }
    context->restoreGState();
}

void MROverlayView::addRoundedRectToPath(platform::GraphicsContext& context, const platform::Rect& rect,
                                         double radius) {
    context.beginPath();
    if (radius == 0) {
        context.addRect(rect);
        return;
    }
    platform::Rect inner(rect.x() + 0.5, rect.y() + 0.5, rect.width() - 1, rect.height() - 1);
    context.saveGState();
    context.translateCTM(inner.x(), inner.y());
    double w = inner.width(), h = inner.height();
    context.moveToPoint(w, h / 2);
    context.addArcToPoint(w, h, w / 2, h, radius);
    context.addArcToPoint(0, h, 0, h / 2, radius);
    context.addArcToPoint(0, 0, w / 2, 0, radius);
    context.addArcToPoint(w, 0, w, h / 2, radius);
    context.closePath();
    context.restoreGState();
}

void MROverlayView::strokeLines(const platform::Rect& rect, const platform::Color& stroke) {
    auto* context = platform::GraphicsContext::current();
    if (!context)
        return;
    double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    const std::array<std::array<double, 4>, 4> lines = {{
        {x + 0.5, y - 0.5, x + w, y - 0.5},
        {x + 0.5, y + h - 0.5, x + w - 0.5, y + h - 0.5},
        {x + w - 0.5, y, x + w - 0.5, y + h},
        {x + 0.5, y, x + 0.5, y + h},
    }};
    context->saveGState();
    context->setStrokeColor(stroke);
    context->setLineWidth(kOutlineWidth);
    for (const auto& l : lines) {
        context->beginPath();
        context->moveToPoint(l[0], l[1]);
        context->addLineToPoint(l[2], l[3]);
        context->strokePath();
    }
    context->restoreGState();
}

void MROverlayView::layOutModalContent() {
    double w = frame().width(), h = frame().height();
    if (!showTitlebar_) {
        webView_->setFrame(
            Rect(kModalWebInsetX, kModalWebInsetY, w - kModalWebInsetWidth, h - kModalWebInsetHeight));
        return;
    }
    modalCloseButton_ = platform::Button::buttonWithType(platform::ButtonType::Custom);
    modalCloseButton_->setTitle(std::string(kModalCloseTitle), platform::ControlState::Normal);
    modalCloseButton_->setTitleColor(platform::Color::whiteColor(), platform::ControlState::Normal);
    modalCloseButton_->setTitleColor(platform::Color::whiteColor(), platform::ControlState::Highlighted);
    modalCloseButton_->titleLabel().setFont(platform::Font::boldSystemFont(kModalCloseFontSize));
    modalCloseButton_->setAutoresizingMask(Autoresizing::FlexibleLeftMargin |
                                           Autoresizing::FlexibleBottomMargin);
    std::weak_ptr<MROverlayView> weak = self();
    modalCloseButton_->addAction(
        [weak](auto&&...) {
            if (auto o = weak.lock())
                o->close();
        },
        platform::ControlEvent::TouchUpInside);
    addSubview(modalCloseButton_);
    modalTitleLabel_ = std::make_shared<platform::Label>(Rect{});
    modalTitleLabel_->setText(headerTitle_);
    modalTitleLabel_->setTextColor(platform::Color::whiteColor());
    modalTitleLabel_->setFont(platform::Font::boldSystemFont(kModalTitleFontSize));
    modalTitleLabel_->setBackgroundColor(platform::Color::clearColor());
    modalTitleLabel_->setAutoresizingMask(Autoresizing::FlexibleRightMargin |
                                          Autoresizing::FlexibleBottomMargin);
    addSubview(modalTitleLabel_);
    modalCloseButton_->sizeToFit();
    modalTitleLabel_->sizeToFit();
    double lh = modalTitleLabel_->frame().height();
    modalTitleLabel_->setFrame(Rect(kModalTitleX, kModalMargin,
                                    (w - kModalWebInsetWidth) - (kModalTitleGap + lh),
                                    lh + kModalTitleExtra));
    double t = lh + kModalTitleExtra;
    modalCloseButton_->setFrame(Rect(w - (kModalMargin + t), kModalMargin, t, t));
    webView_->setFrame(
        Rect(kModalWebInsetX, kModalWebInsetY + t, w - kModalWebInsetWidth, h - (t + kModalWebInsetHeight)));
}

void MROverlayView::bounce(int stage) {
    if (stage >= static_cast<int>(kBounceStages.size()))
        return;
    const auto& row = kBounceStages[static_cast<std::size_t>(stage)];
    std::weak_ptr<MROverlayView> weak = self();
    View::animate(
        transitionDuration_ * row.durationFactor,
        [this, &row] { setTransform(transformForOrientation().scaled(row.scale, row.scale)); },
        [weak, stage](const std::string&, bool) {
            if (auto o = weak.lock())
                if (o->showing_)
                    o->bounce(stage + 1);
        });
}

platform::ModalTransitionStyle MROverlayView::transitionStyle() const {
    for (const auto& row : kTransitionStyles)
        if (transition_ && *transition_ == row.name)
            return row.style;
    return platform::ModalTransitionStyle::CoverVertical;
}

platform::AffineTransform MROverlayView::transformForOrientation() const {
    switch (platform::Application::shared().statusBarOrientation()) {
    case InterfaceOrientation::LandscapeLeft:
        return platform::AffineTransform::makeRotation(M_PI * 1.5);
    case InterfaceOrientation::LandscapeRight:
        return platform::AffineTransform::makeRotation(M_PI / 2);
    case InterfaceOrientation::PortraitUpsideDown:
        return platform::AffineTransform::makeRotation(-M_PI);
    default:
        return platform::AffineTransform::identity();
    }
}

// ---- Closing ----

void MROverlayView::closeWithAnimation(bool animated) {
    if (!showing_)
        return;
    showing_ = false;
    auto keep = self();
    if (auto d = delegate())
        d->overlayWillDisappear(*this);
    platform::NotificationCenter::defaultCenter().post(kMROverlayWillCloseNotification);
    if (isAccelerometerEnabled_)
        platform::Accelerometer::sharedAccelerometer().setDelegate({});
    stop(closePoll_);
    stop(showPoll_);
    stop(enablePoll_);
    spinner_->stopAnimating();
    if (auto parent = parentViewController()) {
        parent->dismissModalViewControllerAnimated(animated);
    } else if (animated) {
        std::weak_ptr<MROverlayView> weak = keep;
        View::animate(
            kFadeOutDuration, [this] { setAlpha(0); },
            [weak](const std::string&, bool) {
                if (auto o = weak.lock())
                    if (!o->showing_)
                        o->removeFromSuperview();
            });
    } else {
        removeFromSuperview();
    }
    if (auto d = delegate())
        d->overlayDidDisappear(*this);
}

// ---- Navigation ----

void MROverlayView::leave(const platform::URL& url) {
    if (auto d = delegate())
        d->overlayWantsToTerminateAppToOpenURL(*this, url);
}

bool MROverlayView::webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                                    const platform::URLRequest& request,
                                                                    platform::WebViewNavigationType) {
    spinner_->startAnimating();
    const auto& url = request.url();
    const auto& s = url.absoluteString();
    if (containsText(s, kClickPath))
        return true;
    if (containsText(s, kMapsHost)) {
        if (auto maps = platform::URL::parse(platform::replaceAll(s, kHTTPPrefix, kMapsPrefix)))
            leave(*maps);
        return false;
    }
    auto scheme = url.scheme();
    bool leaving = std::find(kLeavingSchemes.begin(), kLeavingSchemes.end(), scheme) != kLeavingSchemes.end();
    for (auto host : kStoreHosts)
        leaving = leaving || containsText(s, host);
    if (!leaving)
        return true;
    if (scheme == kMRBrowserScheme) {
        if (auto target = platform::URL::parse(platform::replaceAll(s, kMRBrowserPrefix, "")))
            leave(*target);
    } else {
        leave(url);
    }
    return false;
}

void MROverlayView::webViewDidFinishLoad(platform::WebView&) {
    loadingDone();
    // A page that finishes after the close polls nothing.
    if (!showing_)
        return;
    startCloseOverlayTimer();
    if (!webView_->canGoBack() && !webView_->canGoForward()) {
        if (auto enable = pageAnswer(*webView_, kShouldEnableBottomBar))
            enableBottomBar_ = *enable;
        if (auto show = pageAnswer(*webView_, kShouldShowBottomBar); show && *show != showBottomBar_) {
            showBottomBar_ = *show;
            setBottomBarVisible(*show);
        }
        startEnableBottomBarTimer();
        startBottomBarTimer();
    } else {
        stopEnableBottomBarTimer();
        enableBottomBar_ = true;
        stopShowBottomBarTimer();
        // After a navigation the bar is always shown; its flag says so too, so a later
        // "MRBottomBarToBeShown" answer is measured against what is on screen.
        showBottomBar_ = true;
        setBottomBarVisible(true);
    }
    if (bottomBar_)
        updateBottomBarItems(enableBottomBar_);
    if (makeOverlayTransparent_)
        webView_->stringByEvaluatingJavaScriptFromString(kTransparentBody);
    if (isAccelerometerEnabled_) {
        auto& accelerometer = platform::Accelerometer::sharedAccelerometer();
        accelerometer.setUpdateInterval(kAccelerometerInterval);
        accelerometer.setDelegate(
            std::shared_ptr<platform::AccelerometerDelegate>(self(), static_cast<platform::AccelerometerDelegate*>(this)));
    }
    shouldAccelerate();
}

bool MROverlayView::shouldAccelerate() {
    if (!webView_)
        return false;
    if (!shouldAccelerate_)
        shouldAccelerate_ = platform::boolValue(webView_->stringByEvaluatingJavaScriptFromString(kShouldAccelerate));
    return shouldAccelerate_;
}

void MROverlayView::didAccelerate(double x, double y, double z) {
    if (!webView_ || !shouldAccelerate_ || !isAccelerometerEnabled_)
        return;
    accelX_ = kAccelerationFilter * x + (1 - kAccelerationFilter) * accelX_;
    accelY_ = kAccelerationFilter * y + (1 - kAccelerationFilter) * accelY_;
    accelZ_ = kAccelerationFilter * z + (1 - kAccelerationFilter) * accelZ_;
    // Numbers only: nothing from outside reaches the script text.
    webView_->stringByEvaluatingJavaScriptFromString(
        platform::formatString("didAccelerate(%f,%f,%f)", accelX_, accelY_, accelZ_));
}

void MROverlayView::webViewDidFailLoadWithError(platform::WebView&, const platform::Error& error) {
    loadingDone();
    // A load that another one replaced is no failure of the page shown.
    if (error.code == kNoContentErrorCode || error.code == kCancelledErrorCode)
        return;
    close();
}

// ---- Bars ----

std::shared_ptr<platform::Image> MROverlayView::imageWithBase64EncodedString(std::string_view text) {
    auto bytes = platform::base64Decode(text);
    return bytes ? platform::Image::fromData(*bytes) : nullptr;
}

std::shared_ptr<platform::Toolbar> MROverlayView::createTitlebar(const Rect& frame) {
    auto bar = std::make_shared<platform::Toolbar>(frame);
    bar->setAutoresizingMask(Autoresizing::FlexibleWidth);
    if (titlebarColor_)
        bar->setTintColor(*titlebarColor_);
    else
        bar->setBarStyle(platform::BarStyle::Black);
    auto space = platform::BarButtonItem::flexibleSpace();
    auto title = platform::BarButtonItem::withTitle(headerTitle_, platform::BarButtonItemStyle::Plain);
    auto stopItem = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Stop);
    stopItem->setTarget(self(), &MROverlayView::closeButtonClicked);
    stopItem->setTitle(std::string(kCloseItemTitle));
    bar->setItems({space, title, space, stopItem});
    return bar;
}

std::shared_ptr<platform::Toolbar> MROverlayView::createBottombar(const Rect& frame, bool showCloseButton,
                                                                  bool enableCloseButton) {
    auto bar = std::make_shared<platform::Toolbar>(frame);
    bar->setBarStyle(platform::BarStyle::Default);
    bar->setTintColor(titlebarColor_.value_or(platform::Color::blackColor()));
    bar->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleTopMargin);
    auto me = self();
    auto back = platform::BarButtonItem::withImage(imageWithBase64EncodedString(kBackArrowPNG),
                                                   platform::BarButtonItemStyle::Plain);
    back->setTarget(me, &MROverlayView::back);
    back->setAccessibilityLabel(std::string(kBackItemLabel));
    back->setEnabled(false);
    auto fwd = platform::BarButtonItem::withImage(imageWithBase64EncodedString(kForwardArrowPNG),
                                                  platform::BarButtonItemStyle::Plain);
    fwd->setTarget(me, &MROverlayView::forward);
    fwd->setAccessibilityLabel(std::string(kForwardItemLabel));
    fwd->setEnabled(false);
    backItem_ = back;
    forwardItem_ = fwd;
    closeItem_.reset();
    if (showCloseButton) {
        auto closeButton = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Stop);
        closeButton->setTarget(me, &MROverlayView::closeButtonClicked);
        closeButton->setTitle(std::string(kCloseItemTitle));
        closeButton->setEnabled(enableCloseButton);
        closeItem_ = closeButton;
        bar->setItems({back, fwd, platform::BarButtonItem::flexibleSpace(), closeButton});
    } else {
        bar->setItems({back, platform::BarButtonItem::flexibleSpace(), fwd});
    }
    return bar;
}

void MROverlayView::setBottomBarVisible(bool visible) {
    // The web view gives or takes the bar's height only when the bar really comes or goes.
    if (visible == (bottomBar_ != nullptr))
        return;
    auto wf = webView_->frame();
    if (bottomBar_) {
        bottomBar_->removeFromSuperview();
        bottomBar_.reset();
    }
    if (!visible) {
        webView_->setFrame(Rect(wf.x(), wf.y(), wf.width(), wf.height() + kBarHeight));
        return;
    }
    webView_->setFrame(Rect(wf.x(), wf.y(), wf.width(), wf.height() - kBarHeight));
    double top = showTitlebar_ ? kBarHeight : 0;
    bottomBar_ =
        createBottombar(Rect(0, top + webView_->frame().height(), webView_->frame().width(), kBarHeight),
                        !showTitlebar_, enableBottomBar_);
    addSubview(bottomBar_);
}

void MROverlayView::updateBottomBarItems(bool enabled) {
    if (auto b = backItem())
        b->setEnabled(enabled && webView_->canGoBack());
    if (auto f = forwardItem())
        f->setEnabled(enabled && webView_->canGoForward());
    if (auto c = closeItem())
        c->setEnabled(enabled);
}

void MROverlayView::back() {
    if (webView_)
        webView_->goBack();
}

void MROverlayView::forward() {
    if (webView_)
        webView_->goForward();
}

void MROverlayView::bottomBarToBeShown(bool show) {
    if (show == showBottomBar_)
        return;
    showBottomBar_ = show;
    setBottomBarVisible(show);
}

void MROverlayView::bottomBarToBeEnabled(bool enable) {
    if (bottomBar_)
        updateBottomBarItems(enable);
    stopEnableBottomBarTimer();
}

// ---- Polls ----

void MROverlayView::stop(std::shared_ptr<platform::Timer>& timer) {
    if (timer)
        timer->invalidate();
    timer.reset();
}

std::shared_ptr<platform::Timer> MROverlayView::startPoll(void (MROverlayView::*tick)()) {
    std::weak_ptr<MROverlayView> weak = self();
    return platform::Timer::scheduled(kPollInterval, true, [weak, tick](platform::Timer& timer) {
        auto o = weak.lock();
        if (!o) {
            timer.invalidate();
            return;
        }
        ((*o).*tick)();
    });
}

void MROverlayView::startCloseOverlayTimer() {
    stop(closePoll_);
    closePoll_ = startPoll(&MROverlayView::shouldCloseOverlayTick);
}

void MROverlayView::startEnableBottomBarTimer() {
    stop(enablePoll_);
    enablePoll_ = startPoll(&MROverlayView::shouldEnableBottomBarTick);
}

void MROverlayView::startBottomBarTimer() {
    stop(showPoll_);
    showPoll_ = startPoll(&MROverlayView::shouldShowBottomBarTick);
}

void MROverlayView::shouldCloseOverlayTick() {
    auto answer = pageAnswer(*webView_, kShouldCloseOverlay);
    if (!answer)
        stopCloseOverlayTimer();
    else if (*answer)
        close();
}

void MROverlayView::shouldEnableBottomBarTick() {
    if (webView_->isLoading())
        return;
    auto answer = pageAnswer(*webView_, kShouldEnableBottomBar);
    if (!answer)
        stopEnableBottomBarTimer();
    else if (*answer)
        platform::NotificationCenter::defaultCenter().post(platform::Notification{
            std::string(kMRBottomBarToBeEnabledNotification), platform::Value(true), nullptr, {}});
}

void MROverlayView::shouldShowBottomBarTick() {
    auto answer = pageAnswer(*webView_, kShouldShowBottomBar);
    if (!answer) {
        stopShowBottomBarTimer();
        return;
    }
    platform::NotificationCenter::defaultCenter().post(platform::Notification{
        std::string(kMRBottomBarToBeShownNotification), platform::Value(*answer), nullptr, {}});
}

} // namespace meridian
