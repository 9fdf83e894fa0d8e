#include "platform/ui/TextRenderer.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <typeinfo>

#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/Screen.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextSupport.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

constexpr double kMinimumVisibleAlpha = 0.01;
// Bounds on what is drawn: a grid larger than this on either axis is cut, and coordinates
// far outside any screen are pinned, so no conversion to int can overflow.
constexpr int kMaxCanvasCells = 2000;
constexpr double kMaxCoordinate = 1e6;

bool invisible(const View& v) {
    return v.isHidden() || v.alpha() < kMinimumVisibleAlpha;
}

struct Offset {
    double x = 0, y = 0;
};

void drawTree(TextCanvas& canvas, const View& view, TextCanvas::CellRect clip, Offset offset) {
    if (invisible(view))
        return;
    Rect rect = view.convertRectTo(view.bounds(), nullptr).offsetBy(-offset.x, -offset.y);
    canvas.setClip(clip);
    canvas.setOwner(&view);
    if (view.backgroundColor().alpha > 0 && !dynamic_cast<const Window*>(&view))
        canvas.fill(TextCanvas::intersect(clip, TextCanvas::cellsFor(rect)), U' ');
    view.drawText(canvas, rect);
    TextCanvas::CellRect inner =
        view.clipsToBounds() ? TextCanvas::intersect(clip, TextCanvas::cellsFor(rect)) : clip;
    auto subviews = view.subviews();
    for (const auto& sub : subviews)
        drawTree(canvas, *sub, inner, offset);
    canvas.setClip(clip);
}

TextCanvas screenCanvas() {
    Rect b = Screen::main().bounds();
    return TextCanvas(int(std::ceil(b.width() / kCellWidth)), int(std::ceil(b.height() / kCellHeight)));
}

TextCanvas::CellRect full(const TextCanvas& c) {
    return {0, 0, c.columns(), c.rows()};
}

// Visible views of a tree, front-most first.
void collectFrontToBack(const std::shared_ptr<View>& view, std::vector<std::shared_ptr<View>>& out) {
    if (invisible(*view))
        return;
    auto subviews = view->subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
        collectFrontToBack(*it, out);
    out.push_back(view);
}

std::shared_ptr<TableViewCell> enclosingCell(const std::shared_ptr<View>& view) {
    for (auto v = view; v; v = v->superview())
        if (auto cell = std::dynamic_pointer_cast<TableViewCell>(v))
            return cell;
    return nullptr;
}

std::shared_ptr<Control> firstControl(const std::shared_ptr<View>& root) {
    std::vector<std::shared_ptr<View>> all;
    collectFrontToBack(root, all);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (auto c = std::dynamic_pointer_cast<Control>(*it);
            c && c->isEnabled() && c->isUserInteractionEnabled())
            return c;
    return nullptr;
}

Point centerInBase(const View& v) {
    return v.convertPointTo(Point{v.bounds().midX(), v.bounds().midY()}, nullptr);
}

// Points across the shown part of a control that a touch may try, per side.
constexpr int kTouchGrid = 5;

// Where a touch reaches `target` within `area` (in the target's own coordinates), in window
// points: the middle of the part of `area` that shows (inside the window and every ancestor
// that clips) when a touch there reaches the target, else the first of a grid of points over
// that part that does. A control partly off screen or partly covered is touched where it
// shows. nullopt when no touch reaches it.
std::optional<Point> touchPoint(Window& window, const View& target, const Rect& area) {
    Rect shown = target.convertRectTo(area, nullptr);
    for (auto ancestor = target.superview(); ancestor; ancestor = ancestor->superview())
        if (ancestor->clipsToBounds())
            shown = shown.intersection(ancestor->convertRectTo(ancestor->bounds(), nullptr));
    shown = shown.intersection(window.convertRectTo(window.bounds(), nullptr));
    if (shown.isEmpty())
        return std::nullopt;
    auto reaches = [&](Point p) {
        auto hit = window.hitTest(window.convertPointFrom(p, nullptr), nullptr);
        return hit && hit->isDescendantOf(&target);
    };
    if (reaches(shown.center()))
        return shown.center();
    for (int row = 0; row < kTouchGrid; ++row)
        for (int column = 0; column < kTouchGrid; ++column) {
            Point p{shown.minX() + shown.width() * (column + 0.5) / kTouchGrid,
                    shown.minY() + shown.height() * (row + 0.5) / kTouchGrid};
            if (reaches(p))
                return p;
        }
    return std::nullopt;
}

} // namespace

// ---- TextCanvas ----

TextCanvas::TextCanvas(int columns, int rows)
    : columns_(std::clamp(columns, 0, kMaxCanvasCells)), rows_(std::clamp(rows, 0, kMaxCanvasCells)),
      cells_(std::size_t(columns_) * std::size_t(rows_), U' '), owners_(cells_.size()), clip_{0, 0, columns_, rows_} {}

TextCanvas::CellRect TextCanvas::cellsFor(const Rect& rect) {
    // A cell belongs to a rectangle when its centre does, so two rectangles that meet
    // inside a cell never both claim it. A rectangle too small to hold any centre gets the
    // one cell its middle falls into.
    auto first = [](double from, double size) {
        if (std::isnan(from))
            from = 0;
        return int(std::ceil(std::clamp(from, -kMaxCoordinate, kMaxCoordinate) / size - 0.5));
    };
    CellRect r;
    r.left = first(rect.minX(), kCellWidth);
    r.right = first(rect.maxX(), kCellWidth);
    r.top = first(rect.minY(), kCellHeight);
    r.bottom = first(rect.maxY(), kCellHeight);
    if (rect.width() > 0 && r.right <= r.left) {
        r.left = int(std::floor(std::clamp(rect.midX(), -kMaxCoordinate, kMaxCoordinate) / kCellWidth));
        r.right = r.left + 1;
    }
    if (rect.height() > 0 && r.bottom <= r.top) {
        r.top = int(std::floor(std::clamp(rect.midY(), -kMaxCoordinate, kMaxCoordinate) / kCellHeight));
        r.bottom = r.top + 1;
    }
    if (r.right < r.left)
        r.right = r.left;
    if (r.bottom < r.top)
        r.bottom = r.top;
    return r;
}

TextCanvas::CellRect TextCanvas::intersect(CellRect a, CellRect b) {
    CellRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.right < r.left)
        r.right = r.left;
    if (r.bottom < r.top)
        r.bottom = r.top;
    return r;
}

void TextCanvas::put(int column, int row, char32_t ch) {
    if (column < clip_.left || column >= clip_.right || row < clip_.top || row >= clip_.bottom)
        return;
    if (column < 0 || column >= columns_ || row < 0 || row >= rows_)
        return;
    std::size_t index = std::size_t(row) * std::size_t(columns_) + std::size_t(column);
    if (ch == U' ') {
        cells_[index] = ch;
        owners_[index] = {};
        return;
    }
    CellOwner below = owners_[index];
    if (cells_[index] != U' ' && below.view && below.view != owner_) {
        if (below.imageName)
            eraseImageName(row, below.view);
        else
            noteOverlap(column, row, below.view);
    } else if (cells_[index] == U' ' && !writingImageName_) {
        // Text that runs into a neighbour's text reads as one word: as bad as an overlap.
        for (int neighbour : {column - 1, column + 1}) {
            if (neighbour < 0 || neighbour >= columns_)
                continue;
            std::size_t at = std::size_t(row) * std::size_t(columns_) + std::size_t(neighbour);
            if (cells_[at] != U' ' && owners_[at].view && owners_[at].view != owner_ && !owners_[at].imageName)
                noteOverlap(column, row, owners_[at].view);
        }
    }
    cells_[index] = ch;
    owners_[index] = {owner_, writingImageName_};
}

void TextCanvas::noteOverlap(int column, int row, const View* below) {
    auto describe = [](const View* v) {
        if (!v)
            return std::string("?");
        auto label = v->accessibilityLabel();
        return label.empty() ? std::string(typeid(*v).name()) : label;
    };
    overlaps_.push_back(Overlap{column, row, describe(below), describe(owner_)});
}

void TextCanvas::eraseImageName(int row, const View* view) {
    for (int c = 0; c < columns_; ++c) {
        std::size_t at = std::size_t(row) * std::size_t(columns_) + std::size_t(c);
        if (owners_[at].view == view && owners_[at].imageName) {
            cells_[at] = U' ';
            owners_[at] = {};
        }
    }
}

void TextCanvas::writeImageName(const Rect& rect, std::string_view text) {
    CellRect cells = intersect(intersect(cellsFor(rect), clip_), CellRect{0, 0, columns_, rows_});
    int row = cells.top + (cells.bottom - cells.top - 1) / 2;
    if (cells.right <= cells.left || cells.bottom <= cells.top)
        return;
    for (int c = cells.left; c < cells.right; ++c)
        if (at(c, row) != U' ')
            return;
    writingImageName_ = true;
    writeInRect(rect, text, 1);
    writingImageName_ = false;
}

void TextCanvas::write(int column, int row, std::string_view text) {
    for (char32_t ch : detail::decodeUTF8(text)) {
        if (ch == U'\n' || ch == U'\r' || ch == U'\t')
            ch = U' ';
        put(column++, row, ch);
    }
}

void TextCanvas::writeInRect(const Rect& rect, std::string_view text, int alignment) {
    CellRect cells = cellsFor(rect);
    int width = cells.right - cells.left;
    if (width <= 0 || cells.bottom <= cells.top)
        return;
    std::u32string line = detail::decodeUTF8(text);
    for (auto& ch : line)
        if (ch == U'\n' || ch == U'\r' || ch == U'\t')
            ch = U' ';
    if (int(line.size()) > width)
        line.resize(std::size_t(width));
    int free = width - int(line.size());
    int start = cells.left + (alignment == 1 ? free / 2 : alignment == 2 ? free : 0);
    int row = cells.top + (cells.bottom - cells.top - 1) / 2;
    for (char32_t ch : line)
        put(start++, row, ch);
}

void TextCanvas::writeInShownRect(const Rect& rect, std::string_view text, int alignment) {
    CellRect cells = cellsFor(rect);
    CellRect area = intersect(clip_, CellRect{0, 0, columns_, rows_});
    int middle = cells.top + (cells.bottom - cells.top - 1) / 2;
    // The rows of the part of `rect` that shows, in points; a sliver thinner than a row still
    // gets the row it lies in.
    double top = std::max(rect.minY(), double(area.top) * kCellHeight);
    double bottom = std::min(rect.maxY(), double(area.bottom) * kCellHeight);
    if ((middle >= area.top && middle < area.bottom) || !(bottom > top)) {
        writeInRect(rect, text, alignment);
        return;
    }
    // The middle row is cut off: the same line, on the middle row of the part that shows.
    int row = std::clamp(int(std::floor((top + bottom) / 2 / kCellHeight)), area.top, area.bottom - 1);
    writeInRect(Rect(rect.x(), double(row) * kCellHeight, rect.width(), kCellHeight), text, alignment);
}

void TextCanvas::writeWrapped(const Rect& rect, std::string_view text, int maxLines, int alignment) {
    CellRect cells = cellsFor(rect);
    int width = cells.right - cells.left;
    int height = cells.bottom - cells.top;
    if (width <= 0 || height <= 0)
        return;
    int allowed = maxLines > 0 ? std::min(maxLines, height) : height;
    std::vector<std::u32string> lines;
    if (maxLines == 1) {
        std::u32string one = detail::decodeUTF8(text);
        for (auto& ch : one)
            if (ch == U'\n' || ch == U'\r' || ch == U'\t')
                ch = U' ';
        lines.push_back(one);
    } else {
        lines = detail::wrapText(detail::decodeUTF8(text), std::size_t(width));
    }
    if (int(lines.size()) > allowed)
        lines.resize(std::size_t(allowed));
    int first = cells.top + (height - int(lines.size())) / 2;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::u32string line = lines[i];
        if (int(line.size()) > width)
            line.resize(std::size_t(width));
        int free = width - int(line.size());
        int col = cells.left + (alignment == 1 ? free / 2 : alignment == 2 ? free : 0);
        for (char32_t ch : line)
            put(col++, first + int(i), ch);
    }
}

void TextCanvas::fill(CellRect cells, char32_t ch) {
    cells = intersect(intersect(cells, clip_), CellRect{0, 0, columns_, rows_});
    // What a later view covers cannot be seen: overlaps found there go with it.
    std::erase_if(overlaps_, [&](const Overlap& o) {
        return o.row >= cells.top && o.row < cells.bottom && o.column >= cells.left && o.column < cells.right;
    });
    for (int r = cells.top; r < cells.bottom; ++r)
        for (int c = cells.left; c < cells.right; ++c)
            put(c, r, ch);
}

void TextCanvas::frame(const Rect& rect) {
    CellRect c = cellsFor(rect);
    if (c.right - c.left < 2 || c.bottom - c.top < 2)
        return;
    CellRect visible = intersect(c, CellRect{0, 0, columns_, rows_});
    for (int x = visible.left; x < visible.right; ++x) {
        put(x, c.top, U'-');
        put(x, c.bottom - 1, U'-');
    }
    for (int y = visible.top; y < visible.bottom; ++y) {
        put(c.left, y, U'|');
        put(c.right - 1, y, U'|');
    }
    for (auto [x, y] : {std::pair{c.left, c.top},
                        {c.right - 1, c.top},
                        {c.left, c.bottom - 1},
                        {c.right - 1, c.bottom - 1}})
        put(x, y, U'+');
}

char32_t TextCanvas::at(int column, int row) const {
    if (column < 0 || column >= columns_ || row < 0 || row >= rows_)
        return U' ';
    return cells_[std::size_t(row) * std::size_t(columns_) + std::size_t(column)];
}

std::string TextCanvas::row(int index) const {
    if (index < 0 || index >= rows_)
        return {};
    std::u32string line(cells_.begin() + std::ptrdiff_t(index) * columns_,
                        cells_.begin() + std::ptrdiff_t(index + 1) * columns_);
    while (!line.empty() && line.back() == U' ')
        line.pop_back();
    return detail::encodeUTF8(line);
}

std::string TextCanvas::toString() const {
    std::vector<std::string> lines;
    for (int r = 0; r < rows_; ++r)
        lines.push_back(row(r));
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += '\n';
        out += lines[i];
    }
    return out;
}

// ---- TextRenderer ----

TextCanvas TextRenderer::renderCanvas() {
    TextCanvas canvas = screenCanvas();
    if (auto window = Application::shared().keyWindow()) {
        window->layoutIfNeeded();
        drawTree(canvas, *window, full(canvas), {});
    }
    for (const auto& alert : Application::shared().visibleAlerts()) {
        alert->layoutIfNeeded();
        drawTree(canvas, *alert, full(canvas), {});
    }
    canvas.setClip(full(canvas));
    return canvas;
}

std::string TextRenderer::renderScreen() {
    return renderCanvas().toString();
}

TextCanvas TextRenderer::renderView(const View& root, Size size) {
    auto cells = [](double points, double cell) {
        return int(std::ceil(std::clamp(points, 0.0, kMaxCoordinate) / cell));
    };
    TextCanvas canvas(cells(size.width, kCellWidth), cells(size.height, kCellHeight));
    const_cast<View&>(root).layoutIfNeeded();
    Rect placed = root.convertRectTo(root.bounds(), nullptr);
    drawTree(canvas, root, full(canvas), {placed.x(), placed.y()});
    canvas.setClip(full(canvas));
    return canvas;
}

bool TextRenderer::pressable(const View& view) {
    if (auto* control = dynamic_cast<const Control*>(&view); control && !control->isEnabled())
        return false;
    // An alert is modal: while one shows, only its own views take taps.
    auto alerts = Application::shared().visibleAlerts();
    if (!alerts.empty() && !view.isDescendantOf(alerts.back().get()))
        return false;
    for (const View* v = &view; v; v = v->superviewPointer())
        if (invisible(*v) || !v->isUserInteractionEnabled())
            return false;
    return true;
}

std::optional<TappableElement> TextRenderer::findTappable(std::string_view label) {
    auto& app = Application::shared();
    auto alerts = app.visibleAlerts();
    if (!alerts.empty()) {
        // An alert is modal: only its own views can be tapped.
        auto alert = alerts.back();
        alert->layoutIfNeeded();
        std::vector<std::shared_ptr<View>> views;
        collectFrontToBack(alert, views);
        for (const auto& v : views) {
            auto control = std::dynamic_pointer_cast<Control>(v);
            if (control && pressable(*control) && v->accessibilityLabel() == label)
                return TappableElement{v, centerInBase(*v), std::string(label)};
        }
        return std::nullopt;
    }
    auto window = app.keyWindow();
    if (!window)
        return std::nullopt;
    window->layoutIfNeeded();
    std::vector<std::shared_ptr<View>> views;
    collectFrontToBack(window, views);
    for (const auto& v : views) {
        // A segment of a segmented control, by its own label.
        if (auto segments = std::dynamic_pointer_cast<SegmentedControl>(v);
            segments && segments->isEnabled() && segments->isUserInteractionEnabled())
            for (int i = 0; i < segments->numberOfSegments(); ++i)
                if (segments->isEnabledForSegmentAtIndex(i) &&
                    segments->accessibilityLabelForSegmentAtIndex(i) == label)
                    if (auto at = touchPoint(*window, *segments, segments->rectForSegmentAtIndex(i)))
                        return TappableElement{segments, *at, std::string(label)};
        if (v->accessibilityLabel() != label)
            continue;
        std::shared_ptr<View> target;
        if (auto control = std::dynamic_pointer_cast<Control>(v)) {
            if (pressable(*control))
                target = control;
        } else if (auto cell = enclosingCell(v)) {
            // A label in a table row: the row's control when it has one (a settings switch),
            // else the row itself.
            target = firstControl(cell->sharedContentView());
            if (!target)
                target = cell;
        } else if (v->isUserInteractionEnabled() && !v->accessibilityLabel().empty()) {
            target = v;
        }
        if (!target)
            continue;
        // The element must be reachable: a touch on the part of it that shows has to land on it.
        if (auto at = touchPoint(*window, *target, target->bounds()))
            return TappableElement{target, *at, std::string(label)};
    }
    return std::nullopt;
}

bool TextRenderer::tap(std::string_view label) {
    auto element = findTappable(label);
    if (!element)
        return false;
    auto hit = Application::shared().simulateTap(element->center);
    return hit && hit->isDescendantOf(element->view.get());
}

std::vector<TextCanvas::Overlap> TextRenderer::overlaps() {
    return renderCanvas().overlaps();
}

std::vector<TextRenderer::RowMatch> TextRenderer::findRows(std::string_view text) {
    std::vector<RowMatch> out;
    auto window = Application::shared().keyWindow();
    if (!window)
        return out;
    window->layoutIfNeeded();
    std::vector<std::shared_ptr<View>> views;
    collectFrontToBack(window, views);
    for (const auto& v : views) {
        auto table = std::dynamic_pointer_cast<TableView>(v);
        if (!table)
            continue;
        auto rows = table->indexPathsOfRowsWithText(text);
        if (!rows.empty())
            out.push_back(RowMatch{table, std::move(rows)});
    }
    return out;
}

} // namespace platform
