#pragma once
// Pictures of the screen: the key window's view tree (and any alerts shown above it, over the
// screen dimmed behind them) painted into an RGBA bitmap, and PNG files of it.
//
// ScreenPicture first composes a tree into one DisplayList, in window coordinates: for each
// visible view, its place (centre, bounds and transform), its alpha (a transparency group),
// its layer's shadow, background colour and corner radius, its clipping (clipsToBounds or
// masksToBounds), its layer contents, its own content (View::drawPicture: drawn content,
// images, label and button texts), its subviews, then its border, and its layer mask. The
// rasteriser then paints that list with the 2D library into a bitmap of the screen's size
// (one pixel per point). Hidden views and views with alpha below 0.01 are left out.
//
// Text is laid out with the text layout library over the 2D library: the face for each
// character comes from the font configuration (the named family where it has the glyph, else
// an installed face that has it), lines break between words, and measuring (wrapping, shrinking
// to fit) uses the very layout that is painted. A text of one line shows its line breaks as
// spaces, as the text screen does. A label's text that does not fit ends its last line in an
// ellipsis (tail truncation); other texts are cut by their rect.
//
// Images are read only within their own pixels; an image the library cannot take (too large)
// draws nothing and is logged once. Main thread only (it reads the view tree).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/ui/Forward.h"
#include "platform/ui/GraphicsContext.h"

namespace platform {

// Pixels as 8-bit RGBA rows, top to bottom, not premultiplied. Plain value.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // width × height × 4

    struct RGBA {
        std::uint8_t r = 0, g = 0, b = 0, a = 0;
        friend bool operator==(const RGBA&, const RGBA&) = default;
    };
    // The pixel at (x, y); transparent black outside the bitmap.
    RGBA pixel(int x, int y) const;
};

class ScreenPicture {
public:
    // The display list of the tree under `root`, with the root placed as it sits in its
    // window (or at the origin when it is in none).
    static DisplayList compose(View& root);
    // The key window and the shown alerts, composed into one list of the screen's size.
    static DisplayList composeScreen();

    // Paints `list` into a transparent bitmap of `size` points (rounded up to whole pixels).
    static Bitmap render(const DisplayList& list, Size size);
    // The current screen (white where nothing is drawn, as an empty screen shows).
    static Bitmap renderScreen();
    // One tree alone, in a bitmap of `size`, with the root's top left at the origin.
    static Bitmap renderView(View& root, Size size);

    // The size the picture sets text at: the font's own size, or, when `minimumFontSize` is
    // above 0 and the text does not fit, the largest size down to that minimum at which
    // `text` fits `size` within `lines` lines (0: as many as the height holds).
    static double fittedFontSize(const std::string& text, const Font& font, Size size, int lines,
                                 double minimumFontSize);

    // The lines a text op shows, as the picture sets them in its rect: wrapped, at its fitted
    // size, and with a cut tail ending in an ellipsis when the op truncates it.
    static std::vector<std::string> shownLines(const DrawOp& text);

    // The width `text` takes set on one line in `font` at its own size, as the picture sets
    // it (0 for no text): what a layout that must keep a text whole makes room for.
    static double textWidth(const std::string& text, const Font& font);
    // The height `text` takes set in `font` at its own size, wrapped to `width` as the picture
    // wraps it (every line it needs, each of the picture's line height; 0 for no text).
    static double textHeight(const std::string& text, const Font& font, double width);
    // One run of a text set in one face: its characters and the font file the font
    // configuration chose for them (family, file and the face's index in the file).
    struct FontRun {
        std::string text;
        std::string family;
        std::string file;
        int faceIndex = 0;
    };
    // The runs of `text` set in `font` on one line, as a label sets it, in order.
    static std::vector<FontRun> fontRuns(const std::string& text, const Font& font);

    // Writes `bitmap` as a PNG file, through a temporary file renamed into place, so a
    // reader never sees half a picture. False with `error` set when it cannot be written.
    static bool writePNG(const Bitmap& bitmap, const std::filesystem::path& path, Error* error = nullptr);
    // renderScreen then writePNG.
    static bool snapshot(const std::filesystem::path& path, Error* error = nullptr);
};

} // namespace platform
