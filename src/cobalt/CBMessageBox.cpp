#include "cobalt/CBMessageBox.h"

#include <algorithm>

#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Window.h"

namespace cobalt {
namespace {

using platform::Color;
using platform::Point;
using platform::Rect;
using platform::Size;
using platform::View;

// The panel's gradient, top to bottom, all at three quarters opacity.
const platform::Gradient& backgroundGradient() {
    static const platform::Gradient gradient{
        {Color::rgba(0.5, 0.5, 0.5, 0.75), Color::rgba(0.25, 0.25, 0.25, 0.75), Color::rgba(0, 0, 0, 0.75)},
        {0.0, 0.1, 1.0}};
    return gradient;
}

// The label font size of the platform.
constexpr double kLabelFontSize = platform::kDefaultFontSize;

// A rectangle with rounded corners: straight edges stop `r` short of each corner, and each
// corner is a cubic curve whose control points sit r/2 along the two edges.
void addRoundedRect(platform::GraphicsContext& g, Size size, double r) {
    const double w = size.width, h = size.height, half = r / 2;
    g.beginPath();
    g.moveToPoint(r, 0);
    g.addLineToPoint(w - r, 0);
    g.addCurveToPoint(w - half, 0, w, half, w, r);
    g.addLineToPoint(w, h - r);
    g.addCurveToPoint(w, h - half, w - half, h, w - r, h);
    g.addLineToPoint(r, h);
    g.addCurveToPoint(half, h, 0, h - half, 0, h - r);
    g.addLineToPoint(0, r);
    g.addCurveToPoint(0, half, half, 0, r, 0);
    g.closePath();
}

double heightOf(const platform::View& view) {
    return view.frame().size.height;
}

} // namespace

// ---- CBMessageBoxView ----

CBMessageBoxView::CBMessageBoxView(const Rect& frame) : View(frame) {
    initialize();
}

CBMessageBoxView::~CBMessageBoxView() = default;

void CBMessageBoxView::initialize() {
    updateBackgroundLayerForSize(bounds().size);
    layoutViews();
    contentView_ = std::make_shared<platform::ScrollView>(bounds().insetBy(cornerRadius_, cornerRadius_));
    contentView_->setBackgroundColor(Color::clearColor());
    contentView_->setAutoresizingMask(platform::Autoresizing::FlexibleWidth |
                                      platform::Autoresizing::FlexibleHeight);
    addSubview(contentView_);
}

void CBMessageBoxView::addView(const std::shared_ptr<platform::View>& view) {
    if (!view || !contentView_)
        return;
    Size content = contentView_->contentSize();
    const double height = heightOf(*view);
    view->setCenter(Point(bounds().size.width / 2, content.height + height / 2));
    contentView_->addSubview(view);
    content.height += height;
    contentView_->setContentSize(content);
}

void CBMessageBoxView::removeView(const platform::View* view) {
    if (!view || !contentView_ || view->superviewPointer() != contentView_.get())
        return;
    const double height = heightOf(*view);
    const auto& stack = contentView_->subviews();
    auto it = std::find_if(stack.begin(), stack.end(), [view](const auto& v) { return v.get() == view; });
    for (auto later = std::next(it); later != stack.end(); ++later) {
        Point c = (*later)->center();
        (*later)->setCenter(Point(c.x, c.y - height));
    }
    auto keep = *it; // removal must not end the view while we still touch it
    keep->removeFromSuperview();
    Size content = contentView_->contentSize();
    content.height -= height;
    contentView_->setContentSize(content);
}

void CBMessageBoxView::layoutViews() {
    if (!contentView_)
        return;
    const double width = contentView_->bounds().size.width;
    double y = 0;
    for (const auto& view : contentView_->subviews()) {
        const double height = heightOf(*view);
        view->setCenter(Point(width / 2, y + height / 2));
        y += height;
    }
    contentView_->setContentSize(Size{width, y});
}

void CBMessageBoxView::sizeToFit() {
    if (!contentView_ || contentView_->subviews().empty())
        return;
    Rect all = contentView_->subviews().front()->frame();
    for (const auto& view : contentView_->subviews())
        all = all.unionWith(view->frame());
    Size size{all.size.width + 2 * cornerRadius_, all.size.height + 2 * cornerRadius_};
    size.height = std::min(size.height, kMaximumHeight); // longer content scrolls inside
    setBounds(Rect(Point(0, 0), size));
    updateBackgroundLayerForSize(size);
    layoutViews();
}

void CBMessageBoxView::updateBackgroundLayerForSize(Size size) {
    cornerRadius_ = platform::Screen::main().bounds().size.width / kCornerRadiusDivisor;
    bgLayer_ = platform::DrawingLayer::createWithContext(platform::GraphicsContext::current(), size);
    auto& g = bgLayer_->context();
    platform::ContextScope current(g);

    g.saveGState();
    addRoundedRect(g, size, cornerRadius_);
    g.clip();
    g.drawLinearGradient(backgroundGradient(), Point(0, 0), Point(0, size.height));
    g.restoreGState();

    addRoundedRect(g, size, cornerRadius_);
    g.setRGBStrokeColor(1, 1, 1, 1);
    g.setLineWidth(kBorderWidth);
    g.strokePath();

    setOpaque(false);
    setBackgroundColor(Color::clearColor());
    setNeedsDisplay();
}

void CBMessageBoxView::drawRect(const Rect&) {
    if (auto* g = platform::GraphicsContext::current(); g && bgLayer_)
        g->drawLayerAtPoint(Point(0, 0), *bgLayer_);
}

// ---- CBMessageBox ----

std::shared_ptr<CBMessageBox> CBMessageBox::messageBox() {
    auto box = std::make_shared<CBMessageBox>();
    box->view();
    return box;
}

CBMessageBox::CBMessageBox() = default;

void CBMessageBox::loadView() {
    auto window = platform::Application::shared().keyWindow();
    const Rect area = window ? window->bounds() : platform::Screen::main().bounds();
    const Point origin((area.size.width - kInitialSize) * 0.5, (area.size.height - kInitialSize) * 0.5);
    auto box = std::make_shared<CBMessageBoxView>(Rect(origin, Size{kInitialSize, kInitialSize}));
    using platform::Autoresizing;
    box->setAutoresizingMask(Autoresizing::FlexibleLeftMargin | Autoresizing::FlexibleRightMargin |
                             Autoresizing::FlexibleTopMargin | Autoresizing::FlexibleBottomMargin);
    setView(box);
}

std::shared_ptr<CBMessageBoxView> CBMessageBox::boxView() {
    return std::static_pointer_cast<CBMessageBoxView>(view());
}

std::shared_ptr<platform::Label> CBMessageBox::makeLabel(const std::string& text,
                                                         const platform::Font& font) {
    auto label = std::make_shared<platform::Label>(view()->bounds());
    label->setOpaque(false);
    label->setBackgroundColor(Color::clearColor());
    label->setTextColor(Color::whiteColor());
    label->setShadowColor(Color::blackColor());
    label->setFont(font);
    label->setText(text);
    return label;
}

void CBMessageBox::setMessage(const std::string& message) {
    if (messageView_)
        removeView(messageView_.get());
    messageView_ = makeLabel(message, platform::Font::systemFont(kLabelFontSize));
    messageView_->setNumberOfLines(0);
    messageView_->sizeToFit();
    addView(messageView_);
}

void CBMessageBox::setTitle(const std::string& title) {
    if (titleView_)
        removeView(titleView_.get());
    titleView_ = makeLabel(title, platform::Font::boldSystemFont(kLabelFontSize));
    titleView_->setNumberOfLines(kTitleLines);
    titleView_->setAdjustsFontSizeToFitWidth(true);
    titleView_->setMinimumFontSize(kTitleMinimumFontSize);
    titleView_->sizeToFit();
    addView(titleView_);
}

void CBMessageBox::addView(const std::shared_ptr<platform::View>& view) {
    boxView()->addView(view);
}

void CBMessageBox::removeView(const platform::View* view) {
    boxView()->removeView(view);
}

void CBMessageBox::setTransform(const platform::AffineTransform& transform) {
    view()->setTransform(transform);
}

void CBMessageBox::showInView(platform::View& container) {
    auto box = boxView();
    box->sizeToFit();
    const Size area = container.bounds().size;
    box->setCenter(Point(area.width / 2, area.height / 2));
    box->setTransform(box->transform().scaled(kShowScale, kShowScale));
    box->setAlpha(0);
    container.addSubview(box);
    ++shownCount_;

    View::beginAnimations(kAnimationName);
    View::setAnimationTransition(platform::ViewAnimationTransition::None, container, true);
    View::setAnimationDuration(kAnimationDuration);
    box->setTransform(box->transform().scaled(1 / kShowScale, 1 / kShowScale));
    box->setAlpha(1.0);
    View::commitAnimations();
}

void CBMessageBox::hide() {
    auto box = boxView();
    std::weak_ptr<CBMessageBox> weak = std::static_pointer_cast<CBMessageBox>(sharedController());
    const std::uint64_t shown = shownCount_;
    View::beginAnimations(kAnimationName);
    if (auto superview = box->superview())
        View::setAnimationTransition(platform::ViewAnimationTransition::None, *superview, true);
    View::setAnimationDuration(kAnimationDuration);
    View::setAnimationDidStop([weak, shown](const std::string& animationID, bool finished) {
        if (auto self = weak.lock())
            self->animationFinished(animationID, finished, shown);
    });
    box->setAlpha(0);
    View::commitAnimations();
    // Gone at once; the stop callback later finds it removed.
    box->removeFromSuperview();
}

void CBMessageBox::animationFinished(const std::string&, bool, std::uint64_t shownCount) {
    if (shownCount == shownCount_ && isViewLoaded())
        view()->removeFromSuperview();
}

void CBMessageBox::touchesEnded(const platform::TouchSet&, const platform::Event&) {}

} // namespace cobalt
