#include "platform/ui/SegmentedControl.h"

#include <algorithm>

#include "platform/ui/Application.h"
#include "platform/ui/Event.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextRenderer.h"

namespace platform {
namespace {
constexpr double kSegmentPadding = 10;
constexpr double kSegmentFontSize = 13;
constexpr double kSelectedDarkening = 0.6;

std::string itemName(const SegmentedControl::Item& item) {
    if (auto* title = std::get_if<std::string>(&item))
        return *title;
    const auto& image = std::get<std::shared_ptr<Image>>(item);
    return image ? "<" + image->name() + ">" : std::string();
}
} // namespace

SegmentedControl::SegmentedControl(std::vector<Item> items) {
    for (auto& item : items)
        segments_.push_back(Segment{std::move(item)});
    Size fit = sizeThatFits({});
    setFrame(Rect(0, 0, fit.width, fit.height));
}

void SegmentedControl::setTitle(std::string title, int segment) {
    if (segment >= 0 && segment < numberOfSegments())
        segments_[std::size_t(segment)].item = std::move(title);
}

std::string SegmentedControl::titleForSegmentAtIndex(int segment) const {
    if (segment < 0 || segment >= numberOfSegments())
        return {};
    auto* title = std::get_if<std::string>(&segments_[std::size_t(segment)].item);
    return title ? *title : std::string();
}

void SegmentedControl::setImage(std::shared_ptr<Image> image, int segment) {
    if (segment >= 0 && segment < numberOfSegments())
        segments_[std::size_t(segment)].item = std::move(image);
}

std::shared_ptr<Image> SegmentedControl::imageForSegmentAtIndex(int segment) const {
    if (segment < 0 || segment >= numberOfSegments())
        return nullptr;
    auto* image = std::get_if<std::shared_ptr<Image>>(&segments_[std::size_t(segment)].item);
    return image ? *image : nullptr;
}

void SegmentedControl::setWidth(double width, int segment) {
    if (segment < 0 || segment >= numberOfSegments())
        return;
    // A control still at the width that fits its segments (as its creation leaves it) keeps
    // fitting them, as the platform's does; a width its owner gave it stays as given.
    const bool fitted = frame().width() == sizeThatFits({}).width;
    segments_[std::size_t(segment)].width = std::max(width, 0.0);
    if (fitted) {
        Rect f = frame();
        setFrame(Rect(f.x(), f.y(), sizeThatFits({}).width, f.height()));
    }
}

double SegmentedControl::widthForSegmentAtIndex(int segment) const {
    if (segment < 0 || segment >= numberOfSegments())
        return 0;
    return segments_[std::size_t(segment)].width;
}

void SegmentedControl::setEnabled(bool enabled, int segment) {
    if (segment >= 0 && segment < numberOfSegments())
        segments_[std::size_t(segment)].enabled = enabled;
}

bool SegmentedControl::isEnabledForSegmentAtIndex(int segment) const {
    return segment >= 0 && segment < numberOfSegments() && segments_[std::size_t(segment)].enabled;
}

void SegmentedControl::insert(Item item, int segment) {
    std::size_t at = std::size_t(std::clamp(segment, 0, numberOfSegments()));
    segments_.insert(segments_.begin() + std::ptrdiff_t(at), Segment{std::move(item)});
    if (selected_ != NoSegment && int(at) <= selected_)
        ++selected_;
}

void SegmentedControl::insertSegmentWithTitle(std::string title, int segment, bool) {
    insert(std::move(title), segment);
}

void SegmentedControl::insertSegmentWithImage(std::shared_ptr<Image> image, int segment, bool) {
    insert(std::move(image), segment);
}

void SegmentedControl::removeSegmentAtIndex(int segment, bool) {
    if (segment < 0 || segment >= numberOfSegments())
        return;
    segments_.erase(segments_.begin() + segment);
    if (selected_ == segment)
        selected_ = NoSegment;
    else if (selected_ > segment)
        --selected_;
}

void SegmentedControl::removeAllSegments() {
    segments_.clear();
    selected_ = NoSegment;
}

void SegmentedControl::setSelectedSegmentIndex(int segment) {
    if (segment == NoSegment || (segment >= 0 && segment < numberOfSegments()))
        selected_ = segment;
}

void SegmentedControl::setSegmentedControlStyle(SegmentedControlStyle style) {
    style_ = style;
    Rect f = frame();
    double height = style == SegmentedControlStyle::Bar ? kBarHeight : kDefaultHeight;
    setFrame(Rect(f.x(), f.y(), f.width(), height));
}

Rect SegmentedControl::rectForSegmentAtIndex(int segment) const {
    if (segment < 0 || segment >= numberOfSegments())
        return {};
    double fixed = 0;
    int flexible = 0;
    for (const auto& s : segments_) {
        fixed += s.width;
        flexible += s.width == 0;
    }
    double share = flexible ? std::max(bounds().width() - fixed, 0.0) / flexible : 0;
    double x = 0;
    for (int i = 0; i < segment; ++i) {
        const auto& s = segments_[std::size_t(i)];
        x += s.width > 0 ? s.width : share;
    }
    const auto& s = segments_[std::size_t(segment)];
    return Rect(x, 0, s.width > 0 ? s.width : share, bounds().height());
}

int SegmentedControl::segmentAtPoint(Point point) const {
    for (int i = 0; i < numberOfSegments(); ++i)
        if (rectForSegmentAtIndex(i).contains(point))
            return i;
    return NoSegment;
}

void SegmentedControl::select(int segment) {
    if (segment == NoSegment || !isEnabledForSegmentAtIndex(segment))
        return;
    auto keep = sharedView();
    selected_ = segment;
    sendActionsForControlEvents(ControlEvent::ValueChanged);
    if (momentary_)
        selected_ = NoSegment;
}

void SegmentedControl::touchesEnded(const TouchSet& touches, const Event& event) {
    bool wasTracking = isTracking() && isEnabled();
    Control::touchesEnded(touches, event);
    if (wasTracking && !touches.empty())
        select(segmentAtPoint(touches.front()->locationInView(this)));
}

bool SegmentedControl::tapSegment(int segment) {
    if (!isEnabledForSegmentAtIndex(segment) || !isEnabled() || isHidden())
        return false;
    if (auto w = window()) {
        Rect r = rectForSegmentAtIndex(segment);
        Point centre = convertPointTo(r.center(), nullptr);
        auto hit = Application::shared().simulateTap(centre, w);
        return hit.get() == this;
    }
    select(segment);
    return true;
}

std::string SegmentedControl::accessibilityLabel() const {
    std::string out;
    for (const auto& s : segments_)
        out += (out.empty() ? "" : "|") + itemName(s.item);
    return out;
}

Size SegmentedControl::sizeThatFits(Size) const {
    double width = 0;
    for (const auto& s : segments_) {
        if (s.width > 0) {
            width += s.width;
        } else if (auto* image = std::get_if<std::shared_ptr<Image>>(&s.item); image && *image) {
            width += (*image)->size().width + 2 * kSegmentPadding;
        } else {
            width += double(itemName(s.item).size()) * kCellWidth + 2 * kSegmentPadding;
        }
    }
    return {width, style_ == SegmentedControlStyle::Bar ? kBarHeight : kDefaultHeight};
}

void SegmentedControl::drawText(TextCanvas& canvas, const Rect& rect) const {
    std::string text = "<";
    for (int i = 0; i < numberOfSegments(); ++i) {
        std::string name = itemName(segments_[std::size_t(i)].item);
        if (i)
            text += "|";
        text += i == selected_ ? "*" + name + "*" : name;
    }
    text += ">";
    canvas.writeInRect(rect, text, 1);
}

void SegmentedControl::drawPicture(GraphicsContext& g) const {
    for (int i = 0; i < numberOfSegments(); ++i) {
        Rect r = rectForSegmentAtIndex(i);
        const auto& s = segments_[std::size_t(i)];
        Color fill = tintColor_;
        if (i == selected_)
            fill = Color::rgba(fill.red * kSelectedDarkening, fill.green * kSelectedDarkening,
                               fill.blue * kSelectedDarkening, fill.alpha);
        g.setFillColor(fill);
        g.fillRect(r);
        g.setStrokeColor(Color::darkGrayColor());
        g.strokeRect(r.insetBy(0.5, 0.5));
        if (auto* image = std::get_if<std::shared_ptr<Image>>(&s.item); image && *image) {
            Size size = (*image)->size();
            g.drawImage(Rect(r.midX() - size.width / 2, r.midY() - size.height / 2, size.width, size.height),
                        *image);
        } else {
            Font font = Font::boldSystemFont(kSegmentFontSize);
            g.setFillColor(s.enabled ? Color::whiteColor() : Color::lightGrayColor());
            g.drawText(itemName(s.item), Rect(r.x(), r.midY() - font.pointSize * 0.6, r.width(), font.pointSize * 1.2),
                       font, TextAlignment::Center, 1);
        }
    }
}

} // namespace platform
