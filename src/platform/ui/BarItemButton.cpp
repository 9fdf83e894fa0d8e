#include "platform/ui/BarItemButton.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace platform::detail {
namespace {

// System pictures are drawn this many points a side (or the item's height, when smaller).
constexpr double kSystemPictureSide = 20;
constexpr double kSystemPictureLine = 2;
// A title shrinks to fit its item down to this size.
constexpr double kSmallestTitleSize = 8;

// The items whose system picture is drawn; the others show their title.
bool hasSystemPicture(BarButtonSystemItem item) {
    switch (item) {
    case BarButtonSystemItem::Refresh:
    case BarButtonSystemItem::Action:
    case BarButtonSystemItem::Stop:
    case BarButtonSystemItem::Add:
    case BarButtonSystemItem::Play:
    case BarButtonSystemItem::Pause:
    case BarButtonSystemItem::Rewind:
    case BarButtonSystemItem::FastForward:
        return true;
    default:
        return false;
    }
}

// The button of a bar item. Its title stays the item's (taps and the text screen find the
// item by it), but its picture is what the device shows: the item's image alone when it has
// one, the system item's picture, or else the title fitted to the item (shrunk down to a
// smallest size, then cut with "…").
class BarItemButton final : public Button {
public:
    BarItemButton(std::optional<BarButtonSystemItem> systemItem, bool hasImage)
        : Button(Rect(), ButtonType::Custom), systemItem_(systemItem), hasImage_(hasImage) {}

    void drawPicture(GraphicsContext& g) const override {
        Rect b = bounds();
        g.saveGState();
        if (!isEnabled())
            g.setAlpha(kDisabledAlpha);
        if (auto image = currentImage(); image && hasImage_) {
            Size size = image->size();
            double scale = std::min(
                {1.0, b.width() / std::max(size.width, 1.0), b.height() / std::max(size.height, 1.0)});
            Size shown{size.width * scale, size.height * scale};
            g.drawImage(
                Rect(b.midX() - shown.width / 2, b.midY() - shown.height / 2, shown.width, shown.height),
                image);
        } else if (systemItem_ && hasSystemPicture(*systemItem_)) {
            drawSystemPicture(g, *systemItem_, b);
        } else if (std::string title = currentTitle(); !title.empty()) {
            DrawOp text;
            text.kind = DrawOp::Kind::Text;
            text.text = title;
            text.rect = b;
            text.font = titleLabel().font();
            text.color = titleColorForState(state());
            text.alignment = int(TextAlignment::Center);
            text.lines = 1;
            text.centerVertically = true;
            text.minimumFontSize = kSmallestTitleSize;
            // A title too long for the item even at the smallest size ends in an ellipsis
            // rather than being cut mid-letter by the item's edge.
            text.truncatesTail = true;
            g.record(std::move(text));
        }
        g.restoreGState();
    }

private:
    static constexpr double kDisabledAlpha = 0.4;

    void drawSystemPicture(GraphicsContext& g, BarButtonSystemItem item, const Rect& b) const {
        double side = std::min({kSystemPictureSide, b.width(), b.height()});
        Rect r(b.midX() - side / 2, b.midY() - side / 2, side, side);
        Color ink = titleColorForState(state());
        g.setStrokeColor(ink);
        g.setFillColor(ink);
        g.setLineWidth(kSystemPictureLine);
        g.setLineCap(LineCap::Round);
        g.setLineJoin(LineJoin::Round);
        double cx = r.midX(), cy = r.midY(), h = side / 2;
        auto triangle = [&](double x0, double y0, double x1, double y1, double x2, double y2) {
            g.beginPath();
            g.moveToPoint(x0, y0);
            g.addLineToPoint(x1, y1);
            g.addLineToPoint(x2, y2);
            g.closePath();
            g.fillPath();
        };
        switch (item) {
        case BarButtonSystemItem::Refresh: {
            // Most of a circle, with an arrow head at its open end.
            double radius = h - kSystemPictureLine;
            double start = -std::numbers::pi / 2, end = start + 1.6 * std::numbers::pi;
            g.beginPath();
            g.addArc(cx, cy, radius, start, end, false);
            g.strokePath();
            double ex = cx + radius * std::cos(end), ey = cy + radius * std::sin(end);
            double head = side / 4;
            triangle(ex - head, ey - head / 2, ex + head / 2, ey - head, ex, ey + head / 2);
            break;
        }
        case BarButtonSystemItem::Action: {
            // A tray with an arrow rising out of it.
            g.beginPath();
            g.moveToPoint(r.minX() + side * 0.3, r.minY() + side * 0.4);
            g.addLineToPoint(r.minX() + side * 0.1, r.minY() + side * 0.4);
            g.addLineToPoint(r.minX() + side * 0.1, r.maxY() - 1);
            g.addLineToPoint(r.maxX() - side * 0.1, r.maxY() - 1);
            g.addLineToPoint(r.maxX() - side * 0.1, r.minY() + side * 0.4);
            g.addLineToPoint(r.maxX() - side * 0.3, r.minY() + side * 0.4);
            g.strokePath();
            g.beginPath();
            g.moveToPoint(cx, r.minY() + side * 0.7);
            g.addLineToPoint(cx, r.minY() + side * 0.15);
            g.strokePath();
            triangle(cx - side * 0.2, r.minY() + side * 0.25, cx + side * 0.2, r.minY() + side * 0.25, cx,
                     r.minY());
            break;
        }
        case BarButtonSystemItem::Stop:
            g.beginPath();
            g.moveToPoint(r.minX() + 2, r.minY() + 2);
            g.addLineToPoint(r.maxX() - 2, r.maxY() - 2);
            g.moveToPoint(r.maxX() - 2, r.minY() + 2);
            g.addLineToPoint(r.minX() + 2, r.maxY() - 2);
            g.strokePath();
            break;
        case BarButtonSystemItem::Add:
            g.beginPath();
            g.moveToPoint(cx, r.minY() + 1);
            g.addLineToPoint(cx, r.maxY() - 1);
            g.moveToPoint(r.minX() + 1, cy);
            g.addLineToPoint(r.maxX() - 1, cy);
            g.strokePath();
            break;
        case BarButtonSystemItem::Play:
            triangle(r.minX() + side * 0.2, r.minY() + 1, r.maxX() - side * 0.1, cy, r.minX() + side * 0.2,
                     r.maxY() - 1);
            break;
        case BarButtonSystemItem::Pause:
            g.fillRect(Rect(r.minX() + side * 0.2, r.minY() + 1, side * 0.2, side - 2));
            g.fillRect(Rect(r.maxX() - side * 0.4, r.minY() + 1, side * 0.2, side - 2));
            break;
        case BarButtonSystemItem::Rewind:
            triangle(cx, r.minY() + side * 0.2, cx, r.maxY() - side * 0.2, r.minX(), cy);
            triangle(r.maxX(), r.minY() + side * 0.2, r.maxX(), r.maxY() - side * 0.2, cx, cy);
            break;
        case BarButtonSystemItem::FastForward:
            triangle(r.minX(), r.minY() + side * 0.2, r.minX(), r.maxY() - side * 0.2, cx, cy);
            triangle(cx, r.minY() + side * 0.2, cx, r.maxY() - side * 0.2, r.maxX(), cy);
            break;
        default:
            break;
        }
    }

    std::optional<BarButtonSystemItem> systemItem_;
    bool hasImage_;
};

} // namespace

std::shared_ptr<Button> makeBarItemButton(const std::shared_ptr<BarButtonItem>& item) {
    auto button = std::make_shared<BarItemButton>(item->systemItem(), item->image() != nullptr);
    std::string title = item->title();
    if (!title.empty())
        button->setTitle(title);
    if (item->image())
        button->setImage(item->image());
    if (!item->accessibilityLabel().empty())
        button->setAccessibilityLabel(item->accessibilityLabel());
    button->setEnabled(item->isEnabled());
    button->setTag(item->tag());
    std::weak_ptr<BarButtonItem> weak = item;
    button->addAction(
        [weak](Control&) {
            if (auto i = weak.lock())
                i->press();
        },
        ControlEvent::TouchUpInside);
    Size fit = button->sizeThatFits({});
    button->setFrame(Rect(0, 0, item->width() > 0 ? item->width() : fit.width, kBarItemButtonHeight));
    return button;
}

} // namespace platform::detail
