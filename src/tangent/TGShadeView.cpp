#include "tangent/TGShadeView.h"

#include <cmath>

#include "platform/foundation/Log.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/WebView.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGViewCategories.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

// Autoresizing: flexible width and height.
constexpr unsigned kFillSuperview = platform::Autoresizing::FlexibleWidth | platform::Autoresizing::FlexibleHeight;

bool containsRect(const platform::Rect& outer, const platform::Rect& inner) {
    return inner.minX() >= outer.minX() && inner.maxX() <= outer.maxX() && inner.minY() >= outer.minY() &&
           inner.maxY() <= outer.maxY();
}

// The view of the holder's root view controller; its window's when no controller owns it.
std::shared_ptr<platform::View> rootViewFor(const platform::View& view) {
    if (auto controller = rootRespondingViewController(view))
        return controller->view();
    return view.window();
}

std::string frameLine(const char* name, const platform::Rect& r) {
    return platform::formatString("%s: %f\t\t%f\t\t%f\t\t%f", name, r.origin.x, r.origin.y, r.size.width, r.size.height);
}

// How much of `parent`'s top the status bar covers. A parent that starts at the top of the
// screen loses the bar's thickness; one that already lies below the bar (a navigation view
// under it) loses nothing, so the backdrop dims from the bar's lower edge and not further down.
double statusBarInset(const platform::View& parent) {
    const auto bar = platform::Application::shared().statusBarFrame();
    const double thickness = std::min(bar.size.width, bar.size.height);
    auto window = parent.window();
    if (!window || thickness <= 0)
        return thickness;
    const platform::Rect bounds = parent.bounds();
    const platform::Rect covered = window->convertRectTo(bar, &parent).intersection(bounds);
    if (covered.isEmpty() || covered.minY() > bounds.minY())
        return 0;
    return std::min(covered.maxY() - bounds.minY(), thickness);
}

} // namespace

std::shared_ptr<TGShadeView> TGShadeView::initShade(const std::shared_ptr<platform::View>& shade,
                                                    const std::shared_ptr<platform::View>& holder,
                                                    std::weak_ptr<TGShadeViewDelegate> delegate) {
    auto view = std::shared_ptr<TGShadeView>(new TGShadeView());
    view->shade_ = shade;
    view->shadeHolder_ = holder;
    view->shadeViewDelegate_ = std::move(delegate);
    if (shade)
        view->shadeTransformation_ = shade->transform();
    view->addSubview(view->shadeBackground_);
    view->lastRequestedHeight_ = holder ? static_cast<int>(holder->frame().size.height) : 0;
    return view;
}

TGShadeView::TGShadeView() : platform::View(platform::Screen::main().bounds()) {
    setBackgroundColor(platform::Color::clearColor());
    setOpaque(false);
    setAutoresizingMask(kFillSuperview);
    indicator_ = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White);
    indicator_->setHidesWhenStopped(true);
    indicator_->setCenter(bounds().center());
    shadeBackground_ = std::make_shared<platform::View>(bounds());
    shadeBackground_->setBackgroundColor(platform::Color::clearColor());
    shadeBackground_->setAlpha(kBackdropAlpha);
}

TGShadeView::~TGShadeView() {
    TGLog::log("- dealloc: TGShadeView");
    auto shade = shade_.lock();
    auto holder = shadeHolder_.lock();
    if (shade && holder && shadeIsInside())
        holder->addSubview(shade);
    if (shade && shadeOwnLabel_)
        shade->setAccessibilityLabel(*shadeOwnLabel_);
}

bool TGShadeView::shadeIsInside() const {
    auto shade = shade_.lock();
    return shade && shade->superviewPointer() == this;
}

void TGShadeView::deviceHasRotated(int) {
    setNeedsLayout();
    layoutIfNeeded();
}

void TGShadeView::updateFrame() {
    auto parent = superview();
    if (!parent)
        return;
    platform::Rect frame = parent->bounds();
    if (TGDeviceInfo::instance().tgSystemVersion != 0) {
        const double inset = statusBarInset(*parent);
        frame.origin.y += inset;
        frame.size.height -= inset;
    }
    updateBoundsToFrame(*this, frame);
}

platform::Rect TGShadeView::holderFrameHere() const {
    auto holder = shadeHolder_.lock();
    if (!holder)
        return {};
    auto holderParent = holder->superview();
    return holderParent ? holderParent->convertRectTo(holder->frame(), this) : holder->frame();
}

platform::Rect TGShadeView::expandedFrameForView(platform::View& view, double height, platform::View& container) {
    if (auto shade = shade_.lock())
        updateBoundsToFrame(*shade);
    auto viewParent = view.superview();
    const platform::Rect r = viewParent ? viewParent->convertRectTo(view.frame(), &container) : view.frame();
    const platform::Rect b = container.bounds();
    const double roomAbove = std::fabs(b.minY() - r.minY());
    const double roomBelow = std::fabs(b.maxY() - r.maxY());
    const double h = std::min(height, b.size.height);
    platform::Rect t{std::max(r.minX(), b.minX()), std::max(r.minY(), b.minY()), std::min(r.size.width, b.size.width), h};
    if (roomAbove > roomBelow) {
        // Grows upwards: the bottom edge stays where the banner's is.
        t.origin.y -= h - r.size.height;
        if (!containsRect(b, t)) {
            if (const double dx = b.minX() - t.minX(); dx > 0)
                t.origin.x += dx;
            if (const double dy = b.minY() - t.minY(); dy > 0)
                t.origin.y += dy;
        }
    } else if (!containsRect(b, t)) {
        // Grows downwards from the banner's top edge.
        if (const double dx = t.maxX() - b.maxX(); dx > 0)
            t.origin.x -= dx;
        if (const double dy = t.maxY() - b.maxY(); dy > 0)
            t.origin.y -= dy;
    }
    return t;
}

void TGShadeView::liftShade() {
    auto shade = shade_.lock();
    auto holder = shadeHolder_.lock();
    if (!shade || !holder)
        return;
    auto root = rootViewFor(*holder);
    if (!root)
        return;
    const auto where = holder->superview() ? holder->superview()->convertRectTo(holder->frame(), root.get())
                                           : holder->frame();
    root->addSubview(sharedView());
    addSubview(shade);
    addSubview(indicator_);
    // Lifted out of the views that name the banner for a person, the shade carries the nearest
    // such name along, so the expanded ad can still be found and touched.
    if (!shadeOwnLabel_) {
        shadeOwnLabel_ = shade->accessibilityLabel();
        for (auto view = holder; view; view = view->superview())
            if (auto label = view->accessibilityLabel(); !label.empty()) {
                shade->setAccessibilityLabel(std::move(label));
                break;
            }
    }
    setNeedsLayout();
    layoutIfNeeded();
    // The shade stays where the banner was until it animates.
    shade->setFrame(root->convertRectTo(where, this));
}

void TGShadeView::centreIndicatorOnShade() {
    auto shade = shade_.lock();
    if (!shade)
        return;
    const auto size = shade->frame().size;
    indicator_->setCenter(platform::Rect{bounds().origin, size}.center());
}

void TGShadeView::runCallback(const std::string& script) {
    if (script.empty())
        return;
    if (auto web = std::dynamic_pointer_cast<platform::WebView>(shade_.lock()))
        web->stringByEvaluatingJavaScriptFromString(script);
}

void TGShadeView::finishOpen() {
    if (auto delegate = shadeViewDelegate_.lock())
        delegate->shadeOpenFinished(*this);
}

void TGShadeView::eatAndGetFat(double height, int, const std::string& callback) {
    auto keepAlive = sharedView();
    status_ = 1;
    const int requested = platform::saturatingCast<int>(height);
    if (lastRequestedHeight_ == requested) {
        TGLog::log("Shade already at the expanded height");
        runCallback(callback);
        finishOpen();
        return;
    }
    lastRequestedHeight_ = requested;
    auto shade = shade_.lock();
    auto holder = shadeHolder_.lock();
    if (!shade || !holder) {
        finishOpen();
        return;
    }
    if (!shadeIsInside())
        liftShade();
    platform::Rect target = expandedFrameForView(*holder, lastRequestedHeight_, *this);
    if (target == shade->frame()) {
        runCallback(callback);
        finishOpen();
        return;
    }
    if (!containsRect(bounds(), target)) {
        TGLog::log("Target frame excedes the bounds of the view, using the intersection of the two frames");
        TGLog::log(frameLine("    Orig Target", target));
        target = bounds().intersection(target);
        TGLog::log(frameLine("    New Target", target));
    }
    std::weak_ptr<TGShadeView> weak = std::static_pointer_cast<TGShadeView>(keepAlive);
    platform::View::beginAnimations(kOpenAnimation);
    platform::View::setAnimationDuration(kAnimationSeconds);
    platform::View::setAnimationBeginsFromCurrentState(false);
    platform::View::setAnimationDidStop([weak](const std::string& id, bool finished) {
        if (auto self = weak.lock())
            self->animationDidStop(id, finished, {});
    });
    shadeBackground_->setBackgroundColor(platform::Color::blackColor());
    shade->setFrame(target);
    centreIndicatorOnShade();
    platform::View::commitAnimations();
    // The page's callback runs as the animation starts.
    runCallback(callback);
}

void TGShadeView::playAndGetSkinnyInStyle(int transition, const std::string& callback) {
    auto keepAlive = sharedView();
    status_ = 0;
    auto holder = shadeHolder_.lock();
    auto shade = shade_.lock();
    lastRequestedHeight_ = holder ? static_cast<int>(holder->frame().size.height) : 0;
    if (shade)
        updateBoundsToFrame(*shade);
    std::weak_ptr<TGShadeView> weak = std::static_pointer_cast<TGShadeView>(keepAlive);
    platform::View::beginAnimations(kCloseAnimation, callback);
    platform::View::setAnimationDuration(kAnimationSeconds);
    platform::View::setAnimationBeginsFromCurrentState(true);
    // The page's transition numbers are the platform's; others mean none.
    const auto style = transition >= 0 && transition <= 4 ? static_cast<platform::ViewAnimationTransition>(transition)
                                                          : platform::ViewAnimationTransition::None;
    platform::View::setAnimationTransition(style, *this, false);
    platform::View::setAnimationDidStop([weak, callback](const std::string& id, bool finished) {
        if (auto self = weak.lock())
            self->animationDidStop(id, finished, callback);
    });
    shadeBackground_->setBackgroundColor(platform::Color::clearColor());
    if (shade && holder)
        shade->setFrame(holderFrameHere());
    centreIndicatorOnShade();
    platform::View::commitAnimations();
}

void TGShadeView::animationDidStop(const std::string& animationID, bool, const std::string& context) {
    auto keepAlive = sharedView();
    runCallback(context);
    auto delegate = shadeViewDelegate_.lock();
    if (animationID == kOpenAnimation) {
        if (delegate)
            delegate->shadeOpenFinished(*this);
    } else if (animationID == kCloseAnimation) {
        stop();
        if (delegate)
            delegate->shadeClosedFinished(*this);
    } else {
        TGLog::log("Unknown animation id");
    }
}

void TGShadeView::stop() {
    layer().removeAllAnimations();
    auto shade = shade_.lock();
    auto holder = shadeHolder_.lock();
    if (shade && holder && shadeIsInside()) {
        shade->removeFromSuperview();
        shade->setTransform(shadeTransformation_);
        shade->setFrame(holder->bounds());
        holder->insertSubview(shade, 0);
    }
    if (shade && shadeOwnLabel_)
        shade->setAccessibilityLabel(*shadeOwnLabel_);
    shadeOwnLabel_.reset();
    removeFromSuperview();
}

void TGShadeView::layoutSubviews() {
    if (!superview()) {
        if (status_ == 0) {
            TGLog::log("~~~~~>Nil Superview, normal status");
            return;
        }
        TGLog::log("~~~~~>Nil Superview, shouldn't be the case");
        if (auto holder = shadeHolder_.lock())
            if (auto root = rootViewFor(*holder)) {
                root->addSubview(sharedView());
                if (auto shade = shade_.lock())
                    addSubview(shade);
                addSubview(indicator_);
            }
        if (!superview())
            return;
    }
    updateFrame();
    shadeBackground_->setFrame(bounds());
    indicator_->setCenter(bounds().center());
    if (shadeIsInside())
        if (auto holder = shadeHolder_.lock())
            shade_.lock()->setFrame(expandedFrameForView(*holder, lastRequestedHeight_, *this));
}

} // namespace tangent
