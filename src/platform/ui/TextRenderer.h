#pragma once
// Draws what is on screen as a grid of characters: the key window's view tree (presented
// screens included, as they live in the window), then the shown alerts on top. `ferrowick`
// prints it; tests read it.
//
// Scale: one cell is kCellWidth points wide and kCellHeight points high, so a phone screen
// of 320 × 480 points is 80 columns by 30 rows, and a tablet's 768 × 1024 is 192 by 64. A
// point (x, y) of the window falls into column floor(x / kCellWidth) and row
// floor(y / kCellHeight). Text is laid out at kTextAdvance points per character, twice a
// cell's width, so a control's text always fits the cells its frame covers with room to
// spare, and two neighbouring controls never run into each other on the grid.
//
// Views are drawn back to front. Hidden views and views with alpha below 0.01 are skipped
// with their subviews; a view with a visible background colour first blanks its cells, so
// what it covers does not show through; drawing is cut to the window and to every ancestor
// that clips. What each view draws is its own business (View::drawText): labels their text
// (wrapped to their lines), buttons "[title]" when `tap` can press them and their bare title
// otherwise, switches "[on]"/"[off]", text fields their text (bullets when secure) or
// "(placeholder)", image views "<name>", table cells their labels and, while editing, "(-)",
// alerts a framed box with title, message, fields and buttons.
//
// The renderer also finds things by what they show, for the runner's `tap <label>` and for
// tests: the tappable element with a given label (alert buttons first, then the window's
// views from the front), and table rows by their text. One rule (pressable) decides both what
// `tap` presses and what the text screen brackets. Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Forward.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/TableView.h"

namespace platform {

inline constexpr double kCellWidth = 4;
inline constexpr double kTextAdvance = 8;
inline constexpr double kCellHeight = 16;

// A grid of character cells being drawn into; cells hold one Unicode code point each.
class TextCanvas {
public:
    TextCanvas(int columns, int rows);

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // Current clip, in cells (half-open); drawing outside it is dropped.
    struct CellRect {
        int left = 0, top = 0, right = 0, bottom = 0;
    };
    CellRect clip() const { return clip_; }
    void setClip(CellRect clip) { clip_ = clip; }
    // Cells covered by a rectangle in window points.
    static CellRect cellsFor(const Rect& rect);
    static CellRect intersect(CellRect a, CellRect b);

    void put(int column, int row, char32_t ch);
    // Writes UTF-8 `text` from (column, row) to the right, inside the clip.
    void write(int column, int row, std::string_view text);
    // Writes `text` in one line of `rect` (window points), aligned 0 left, 1 centre,
    // 2 right, on the rect's middle row, cut to the rect's width.
    void writeInRect(const Rect& rect, std::string_view text, int alignment = 0);
    // Like writeInRect, on the middle row of the part of `rect` that shows (inside the clip and
    // the grid), so a control partly off screen shows its label where a touch reaches it.
    void writeInShownRect(const Rect& rect, std::string_view text, int alignment = 0);
    // Wraps `text` to the rect's width in up to `maxLines` lines (0: as many as fit), the
    // block centred vertically in the rect.
    void writeWrapped(const Rect& rect, std::string_view text, int maxLines, int alignment = 0);
    void fill(CellRect cells, char32_t ch);
    void blank(const Rect& rect) { fill(cellsFor(rect), U' '); }
    // A box outline with '+', '-' and '|'.
    void frame(const Rect& rect);

    // The view whose drawing comes next: cells it writes are marked as its own, so that text
    // written over (or right beside) another view's text is noticed as an overlap.
    void setOwner(const View* view) { owner_ = view; }
    // Like writeInRect, for an image's name: written only where nothing is drawn yet, and
    // erased again when a view's text is drawn over it (a picture gives way to text).
    void writeImageName(const Rect& rect, std::string_view text);
    // Two views' texts in one cell, or in neighbouring cells of a row with no blank between.
    struct Overlap {
        int column = 0, row = 0;
        std::string below, above; // the two views, by their accessibility labels
    };
    const std::vector<Overlap>& overlaps() const { return overlaps_; }

    char32_t at(int column, int row) const;
    std::string row(int index) const; // trailing blanks removed
    std::string toString() const;     // rows joined by '\n', trailing blank rows removed

private:
    int columns_;
    int rows_;
    struct CellOwner {
        const View* view = nullptr;
        bool imageName = false;
    };
    void noteOverlap(int column, int row, const View* below);
    void eraseImageName(int row, const View* view);

    std::vector<char32_t> cells_;
    std::vector<CellOwner> owners_;
    CellRect clip_;
    const View* owner_ = nullptr;
    bool writingImageName_ = false;
    std::vector<Overlap> overlaps_;
};

// What `tap <label>` found.
struct TappableElement {
    std::shared_ptr<View> view; // the view to touch
    Point center;               // where a touch reaches it, in window (screen) points
    std::string label;
};

class TextRenderer {
public:
    // The key window and the shown alerts; an empty grid of the screen's size without a
    // key window.
    static std::string renderScreen();
    static TextCanvas renderCanvas();
    // One tree alone, with its root at the canvas origin.
    static TextCanvas renderView(const View& root, Size size);

    // Whether `tap` can press `view` when a touch reaches it: it is shown, enabled when it is a
    // control, and takes touches, as does every view it lies in; while an alert shows, only the
    // front alert's own views can be pressed. The text screen marks exactly
    // these views as buttons ("[title]"); a button that cannot be pressed shows its bare title.
    static bool pressable(const View& view);
    // See the class comment. Matching is exact on the view's accessibility label (a
    // button's title, a label's text, a text field's placeholder) or on a segment's of a
    // segmented control; a visible, enabled, interaction-taking view is required, and a touch
    // must reach it: at the middle of the part of it that shows (inside the screen and its
    // clipping ancestors), else at some other point of that part, so a control partly off
    // screen or partly covered is touched where it shows.
    static std::optional<TappableElement> findTappable(std::string_view label);
    // Taps the element: a touch through the application's event dispatch at that point
    // (an alert's buttons are pressed through the alert). Answers false when none matches.
    static bool tap(std::string_view label);
    // Table rows showing `text` in the key window's visible tables.
    struct RowMatch {
        std::shared_ptr<TableView> table;
        std::vector<IndexPath> indexPaths;
    };
    static std::vector<RowMatch> findRows(std::string_view text);
    // The overlaps of texts on the screen as renderScreen() draws it (none on a readable screen).
    static std::vector<TextCanvas::Overlap> overlaps();
};

} // namespace platform
