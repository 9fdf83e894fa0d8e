#include "platform/ui/ScreenPicture.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-font.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextFonts.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

// What covers the screen behind a shown alert.
const Color kBehindAlertDimming = Color::white(0, 0.4);
// Views more transparent than this are left out, as hit testing leaves them out.
constexpr double kMinimumVisibleAlpha = 0.01;
// The largest picture painted, in pixels a side (the library's own limit is 32767).
constexpr int kMaxPictureSide = 16384;
// Lines of text are this many times the font size apart.
constexpr double kLineSpacing = 1.2;
// Text in the system font is set in the plain sans-serif face; the platform's fixed-pitch faces
// in the monospace face.
constexpr const char* kSansFamily = "sans-serif";
constexpr const char* kMonospaceFamily = "monospace";
constexpr const char* kFixedPitchFaces[] = {"Courier", "Courier-Bold", "Menlo", "Monaco"};

// The surface snapshots paint into, kept from one to the next (main thread only).
struct KeptSurface {
    cairo_surface_t* surface = nullptr;
    Size size;
} keptSurface;

void releaseKeptSurface() {
    if (keptSurface.surface)
        cairo_surface_destroy(keptSurface.surface);
    keptSurface = {};
}

// The kept surface is released when the process ends, before the fonts (TextFonts), so that a
// leak checker sees a clean exit; nothing paints after that. The 2D library's own static data
// is left to the exit: the text library may still hold a face of it then, and resetting that
// data with a face alive aborts.
void releaseKeptSurfaceAtExit() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(releaseKeptSurface); });
}

// ---- Composition: view trees into one display list ----

// The step from a view's bounds coordinates to its superview's: the bounds' centre lands on
// the view's centre, through its transform.
AffineTransform placement(const View& v) {
    Rect b = v.bounds();
    auto toCentre = AffineTransform::makeTranslation(-(b.x() + b.width() / 2), -(b.y() + b.height() / 2));
    return AffineTransform::concat(AffineTransform::concat(toCentre, v.transform()),
                                   AffineTransform::makeTranslation(v.center().x, v.center().y));
}

// The view's bounds as a path, rounded by its layer's corner radius.
void addBoundsPath(GraphicsContext& g, const Rect& b, double radius) {
    radius = std::min({radius, b.width() / 2, b.height() / 2});
    if (radius <= 0) {
        g.addRect(b);
        return;
    }
    g.moveToPoint(b.minX() + radius, b.minY());
    g.addArcToPoint(b.maxX(), b.minY(), b.maxX(), b.maxY(), radius);
    g.addArcToPoint(b.maxX(), b.maxY(), b.minX(), b.maxY(), radius);
    g.addArcToPoint(b.minX(), b.maxY(), b.minX(), b.minY(), radius);
    g.addArcToPoint(b.minX(), b.minY(), b.maxX(), b.minY(), radius);
    g.closePath();
}

ContentMode gravityMode(const std::string& gravity) {
    if (gravity == "center")
        return ContentMode::Center;
    if (gravity == "resizeAspect")
        return ContentMode::ScaleAspectFit;
    if (gravity == "resizeAspectFill")
        return ContentMode::ScaleAspectFill;
    if (gravity == "top")
        return ContentMode::Top;
    if (gravity == "bottom")
        return ContentMode::Bottom;
    if (gravity == "left")
        return ContentMode::Left;
    if (gravity == "right")
        return ContentMode::Right;
    return ContentMode::ScaleToFill;
}

void composeView(GraphicsContext& g, View& v, bool evenIfHidden = false);

// The layer's own look and the view's content, in the view's bounds coordinates.
void composeBody(GraphicsContext& g, View& v) {
    const Layer& layer = v.layer();
    Rect b = v.bounds();
    double radius = layer.cornerRadius();
    if (layer.shadowOpacity() > 0 && !v.backgroundColor().isClear()) {
        Size off = layer.shadowOffset();
        g.setFillColor(layer.shadowColor().withAlpha(layer.shadowColor().alpha * layer.shadowOpacity()));
        g.beginPath();
        addBoundsPath(g, b.offsetBy(off.width, off.height), radius);
        g.fillPathWithBlur(layer.shadowRadius());
    }
    if (!v.backgroundColor().isClear()) {
        g.setFillColor(v.backgroundColor());
        g.beginPath();
        addBoundsPath(g, b, radius);
        g.fillPath();
    }
    if (v.clipsToBounds()) {
        g.beginPath();
        addBoundsPath(g, b, radius);
        g.clip();
    }
    if (const auto& contents = layer.contents())
        g.drawImage(rectForContentMode(gravityMode(layer.contentsGravity()), contents->size(), b), contents);
    v.drawPicture(g);
    auto subviews = v.subviews();
    for (const auto& sub : subviews)
        composeView(g, *sub);
}

// `evenIfHidden` draws a view that is hidden (a mask, which is in no tree, or the status
// bar's window, which is never shown as a window); its alpha still counts.
void composeView(GraphicsContext& g, View& v, bool evenIfHidden) {
    if ((!evenIfHidden && v.isHidden()) || v.alpha() < kMinimumVisibleAlpha)
        return;
    const Layer& layer = v.layer();
    g.saveGState();
    g.concatCTM(placement(v));
    auto mask = layer.mask();
    bool group = v.alpha() < 1 || mask;
    if (group) {
        g.setAlpha(v.alpha());
        g.beginTransparencyLayer();
        g.setAlpha(1);
    }
    // The clip of clipsToBounds must not cut the border: the border is drawn after it ends.
    g.saveGState();
    composeBody(g, v);
    g.restoreGState();
    if (layer.borderWidth() > 0 && !layer.borderColor().isClear()) {
        double w = layer.borderWidth();
        g.setStrokeColor(layer.borderColor());
        g.setLineWidth(w);
        g.beginPath();
        addBoundsPath(g, v.bounds().insetBy(w / 2, w / 2), std::max(layer.cornerRadius() - w / 2, 0.0));
        g.strokePath();
    }
    if (group) {
        DrawOp end;
        end.kind = DrawOp::Kind::EndTransparencyLayer;
        end.alpha = v.alpha();
        if (mask) {
            GraphicsContext maskContext(v.bounds().size);
            // The mask's frame is in this view's bounds coordinates.
            composeView(maskContext, *mask, true);
            end.mask = std::make_shared<const DisplayList>(maskContext.takeDisplayList());
        }
        // Close the group by hand so the mask travels with its end.
        g.record(std::move(end));
    }
    g.restoreGState();
}

// Applies the placements of `root`'s ancestors, outermost first, so the root lands where it
// is on the screen.
void placeAncestors(GraphicsContext& g, const View& root) {
    std::vector<const View*> chain;
    for (const View* a = root.superviewPointer(); a; a = a->superviewPointer())
        chain.push_back(a);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        g.concatCTM(placement(**it));
}

// ---- Painting: display lists into a cairo surface ----

// The images an image surface was made for, so each is converted once per painting.
class ImageSurfaces {
public:
    ~ImageSurfaces() {
        for (auto& [image, surface] : surfaces_)
            if (surface)
                cairo_surface_destroy(surface);
    }
    // Null for an image whose pixels do not match its size, or that is too large.
    cairo_surface_t* surfaceFor(const Image& image) {
        if (auto it = surfaces_.find(&image); it != surfaces_.end())
            return it->second;
        cairo_surface_t* surface = make(image);
        surfaces_[&image] = surface;
        return surface;
    }

private:
    static void reportOnce(const Image& image, std::string_view why) {
        static std::mutex lock;
        static std::set<std::string> reported;
        std::lock_guard guard(lock);
        std::string name = image.name().empty() ? "an unnamed image" : image.name();
        if (reported.insert(name).second)
            logLine("ScreenPicture: " + name + " not drawn: " + std::string(why));
    }

    static cairo_surface_t* make(const Image& image) {
        int w = image.pixelWidth(), h = image.pixelHeight();
        if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) {
            reportOnce(image, "its size is out of range");
            return nullptr;
        }
        const auto& px = image.pixels();
        if (px.size() != std::size_t(w) * std::size_t(h) * 4) {
            reportOnce(image, "its pixels do not match its size");
            return nullptr;
        }
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            reportOnce(image, "no memory for its pixels");
            return nullptr;
        }
        cairo_surface_flush(surface);
        unsigned char* data = cairo_image_surface_get_data(surface);
        int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
            const std::uint8_t* in = px.data() + std::size_t(y) * std::size_t(w) * 4;
            for (int x = 0; x < w; ++x, in += 4) {
                std::uint32_t a = in[3];
                auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
                row[x] = (a << 24) | (pre(in[0]) << 16) | (pre(in[1]) << 8) | pre(in[2]);
            }
        }
        cairo_surface_mark_dirty(surface);
        return surface;
    }

    std::unordered_map<const Image*, cairo_surface_t*> surfaces_;
};

// ---- Text: faces, measuring, wrapping and fitting ----

// A face asked for by name, as the platform names faces ("Georgia", "Helvetica-Bold",
// "TimesNewRomanPS-ItalicMT"): the family before the style, and the style's weight and slant.
struct FaceRequest {
    std::string family;
    bool bold = false;
    bool italic = false;
};

FaceRequest faceFor(const Font& font) {
    FaceRequest face;
    face.bold = font.bold;
    if (font.name == kSystemFontName || font.name.empty()) {
        face.family = kSansFamily;
        return face;
    }
    if (std::find(std::begin(kFixedPitchFaces), std::end(kFixedPitchFaces), font.name) != std::end(kFixedPitchFaces))
        face.family = kMonospaceFamily;
    std::string_view name = font.name;
    std::string_view style;
    if (auto dash = name.find('-'); dash != std::string_view::npos) {
        style = name.substr(dash + 1);
        name = name.substr(0, dash);
    }
    for (std::string_view marker : {"Bold", "Heavy", "Black"})
        if (style.find(marker) != std::string_view::npos || name.ends_with(marker))
            face.bold = true;
    for (std::string_view marker : {"Italic", "Oblique"})
        if (style.find(marker) != std::string_view::npos)
            face.italic = true;
    // Suffixes that only say how the face was made.
    for (std::string_view suffix : {"PSMT", "PS", "MT"})
        if (name.size() > suffix.size() && name.ends_with(suffix)) {
            name.remove_suffix(suffix.size());
            break;
        }
    if (face.family.empty())
        face.family = std::string(name);
    return face;
}

// The context every text is laid out in (see TextFonts).
PangoContext* textContext() {
    PangoContext* context = textLayoutContext();
    releaseKeptSurfaceAtExit();
    return context;
}

struct LayoutRelease {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutHandle = std::unique_ptr<PangoLayout, LayoutRelease>;
struct DescriptionRelease {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
using DescriptionHandle = std::unique_ptr<PangoFontDescription, DescriptionRelease>;

// The description of `font` at `size` points (one pixel per point). The font configuration
// picks the face for each character from it: the named family where it has the glyph, else
// the closest installed face that has it.
DescriptionHandle descriptionFor(const Font& font, double size) {
    FaceRequest face = faceFor(font);
    DescriptionHandle d(pango_font_description_new());
    pango_font_description_set_family(d.get(), face.family.c_str());
    pango_font_description_set_weight(d.get(), face.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d.get(), face.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(d.get(), size * PANGO_SCALE);
    return d;
}

int toLayoutUnits(double points) {
    return int(std::clamp(points * PANGO_SCALE, 0.0, double(std::numeric_limits<int>::max() / 2)));
}
double fromLayoutUnits(int units) {
    return double(units) / PANGO_SCALE;
}

// The text as it is set: valid UTF-8 (anything else shown as the replacement character), and
// on a text of one line, line breaks shown as spaces, as the text screen shows them.
std::string settableText(const std::string& text, int maxLines) {
    gchar* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    std::string out(valid);
    g_free(valid);
    if (maxLines == 1)
        for (char& c : out)
            if (c == '\n' || c == '\r' || c == '\t')
                c = ' ';
    return out;
}

// Sizes are tried down to this step when text shrinks to fit.
constexpr double kFontSizeStep = 0.25;
// Lines may overrun their width by this much (rounding) and still count as fitting.
constexpr double kFitTolerance = 0.01;

struct TextLayout {
    double fontSize = 0;
    LayoutHandle layout;
    int lines = 0;    // the lines shown, at most the lines allowed
    bool fits = true; // nothing was cut: every line fits the width, none left over
};

// `text` set in `font` at `fontSize` in a box of `size` with `maxLines` lines (0: as many as
// the height holds). Lines break between words; a word longer than a line stands alone on its
// line and does not fit. A text of one line does not wrap.
TextLayout layOutAt(const std::string& text, const Font& font, double fontSize, Size size, int maxLines) {
    TextLayout out;
    out.fontSize = fontSize;
    out.layout.reset(pango_layout_new(textContext()));
    PangoLayout* layout = out.layout.get();
    pango_layout_set_font_description(layout, descriptionFor(font, fontSize).get());
    pango_layout_set_text(layout, text.data(), int(text.size()));
    if (maxLines != 1) {
        pango_layout_set_width(layout, toLayoutUnits(size.width));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
    }
    double lineHeight = fontSize * kLineSpacing;
    int fit = int(std::clamp(std::floor(size.height / lineHeight), 1.0, double(std::numeric_limits<int>::max())));
    int limit = maxLines > 0 ? maxLines : fit;
    int count = pango_layout_get_line_count(layout);
    out.lines = std::min(count, limit);
    out.fits = count <= limit;
    for (int i = 0; i < out.lines && out.fits; ++i) {
        PangoRectangle logical;
        pango_layout_line_get_extents(pango_layout_get_line_readonly(layout, i), nullptr, &logical);
        if (fromLayoutUnits(logical.width) > size.width + kFitTolerance)
            out.fits = false;
    }
    return out;
}

// The width of `text` set on one line at `fontSize`.
double lineWidth(const std::string& text, const Font& font, double fontSize) {
    TextLayout line = layOutAt(text, font, fontSize, {0, 0}, 1);
    PangoRectangle logical;
    pango_layout_get_extents(line.layout.get(), nullptr, &logical);
    return fromLayoutUnits(logical.width);
}

constexpr const char* kEllipsis = "\xE2\x80\xA6";
// No character a line is cut after is narrower than this many ems (a thin space is about 0.2):
// what a line can hold is bounded by its width, however long the text.
constexpr double kNarrowestCharacterEm = 0.1;

// `cut` (the layout of `text` that does not fit) with its tail truncated, as a label's text is:
// when text runs past the last line shown (more lines follow, or that line is wider than the
// box), that line becomes the longest start of the text from it onwards that fits the width
// with an ellipsis after it, cut between characters as a person sees them (never between a
// letter and its accent), blanks before the ellipsis dropped. A line cut earlier (a word wider
// than the box) is left to the clip.
TextLayout truncateTail(const std::string& text, const Font& font, Size size, int maxLines, TextLayout cut) {
    PangoLayout* layout = cut.layout.get();
    int count = pango_layout_get_line_count(layout);
    if (cut.lines <= 0)
        return cut;
    PangoLayoutLine* last = pango_layout_get_line_readonly(layout, cut.lines - 1);
    PangoRectangle logical;
    pango_layout_line_get_extents(last, nullptr, &logical);
    bool runsOn = count > cut.lines || fromLayoutUnits(logical.width) > size.width + kFitTolerance;
    if (!runsOn)
        return cut;
    const std::size_t lastStart = std::size_t(std::clamp(last->start_index, 0, int(text.size())));
    std::string rest = text.substr(lastStart);
    if (auto paragraphEnd = rest.find_first_of("\r\n"); paragraphEnd != std::string::npos)
        rest.resize(paragraphEnd);
    // Where the line may be cut: the boundaries between characters as a person sees them.
    int attrCount = 0;
    const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(layout, &attrCount);
    std::vector<std::size_t> cuts; // byte lengths of the candidate starts of `rest`
    const double mostCharacters = std::ceil(size.width / (kNarrowestCharacterEm * cut.fontSize)) + 1;
    const std::size_t mostCuts = std::size_t(std::clamp(mostCharacters, 1.0, double(rest.size() + 1)));
    long charIndex = g_utf8_pointer_to_offset(text.data(), text.data() + lastStart);
    for (const char* p = rest.data(); p <= rest.data() + rest.size() && cuts.size() < mostCuts; ++charIndex) {
        if (charIndex >= attrCount || attrs[charIndex].is_cursor_position)
            cuts.push_back(std::size_t(p - rest.data()));
        if (p == rest.data() + rest.size())
            break;
        p = g_utf8_next_char(p);
    }
    auto candidate = [&](std::size_t length) {
        std::string start = rest.substr(0, length);
        while (!start.empty() && (start.back() == ' ' || start.back() == '\t'))
            start.pop_back();
        return start + kEllipsis;
    };
    // Widths only grow with the length: search for the longest start that fits.
    std::size_t low = 0, high = cuts.size();
    while (high - low > 1) {
        std::size_t mid = (low + high) / 2;
        if (lineWidth(candidate(cuts[mid]), font, cut.fontSize) <= size.width + kFitTolerance)
            low = mid;
        else
            high = mid;
    }
    std::string shown = text.substr(0, lastStart) + candidate(cuts.empty() ? 0 : cuts[low]);
    TextLayout out = layOutAt(shown, font, cut.fontSize, size, maxLines);
    out.lines = std::min(pango_layout_get_line_count(out.layout.get()), cut.lines);
    out.fits = false;
    return out;
}

// The text's layout at the font's size or, when `minimumFontSize` is above 0 and it does not
// fit, at the largest size down to that minimum at which it does (the minimum when none does).
// With `truncatingTail`, text that still does not fit ends its last line in an ellipsis.
TextLayout layOutText(const std::string& rawText, const Font& font, Size size, int maxLines,
                      double minimumFontSize, bool truncatingTail = false) {
    std::string text = settableText(rawText, maxLines);
    TextLayout full = layOutAt(text, font, font.pointSize, size, maxLines);
    if (full.fits)
        return full;
    if (!(minimumFontSize > 0) || minimumFontSize >= font.pointSize)
        return truncatingTail ? truncateTail(text, font, size, maxLines, std::move(full)) : std::move(full);
    TextLayout smallest = layOutAt(text, font, minimumFontSize, size, maxLines);
    if (!smallest.fits)
        return truncatingTail ? truncateTail(text, font, size, maxLines, std::move(smallest))
                              : std::move(smallest);
    // Fitting only gets easier as the size falls: search between the two for the largest fit.
    double low = minimumFontSize, high = font.pointSize;
    TextLayout best = std::move(smallest);
    while (high - low > kFontSizeStep) {
        double mid = (low + high) / 2;
        TextLayout tried = layOutAt(text, font, mid, size, maxLines);
        if (tried.fits) {
            low = mid;
            best = std::move(tried);
        } else {
            high = mid;
        }
    }
    return best;
}

// The ascent and descent of `font` at `size`, in points: where a line's baseline sits.
std::pair<double, double> lineMetrics(const Font& font, double size) {
    PangoFontMetrics* metrics = pango_context_get_metrics(textContext(), descriptionFor(font, size).get(), nullptr);
    std::pair<double, double> out{fromLayoutUnits(pango_font_metrics_get_ascent(metrics)),
                                  fromLayoutUnits(pango_font_metrics_get_descent(metrics))};
    pango_font_metrics_unref(metrics);
    return out;
}

bool finite(Point p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}
bool finite(const Rect& r) {
    return finite(r.origin) && std::isfinite(r.width()) && std::isfinite(r.height());
}

class Painter {
public:
    explicit Painter(cairo_t* cr) : cr_(cr) {}

    void paint(const DisplayList& list) {
        std::size_t base = frames_.size();
        for (const auto& op : list.ops())
            step(op);
        // Whatever the list left open is closed here.
        while (frames_.size() > base)
            closeFrame();
    }

private:
    enum class Frame { Save, Group };
    struct Open {
        Frame kind;
        bool hiddenBefore;
    };

    void closeFrame() {
        Open top = frames_.back();
        frames_.pop_back();
        if (top.kind == Frame::Save) {
            cairo_restore(cr_);
        } else {
            cairo_pop_group_to_source(cr_);
            if (!hidden_)
                cairo_paint(cr_);
        }
        hidden_ = top.hiddenBefore;
    }

    void step(const DrawOp& op) {
        switch (op.kind) {
        case DrawOp::Kind::SaveGState:
            cairo_save(cr_);
            frames_.push_back({Frame::Save, hidden_});
            return;
        case DrawOp::Kind::RestoreGState:
            if (!frames_.empty() && frames_.back().kind == Frame::Save)
                closeFrame();
            return;
        case DrawOp::Kind::BeginTransparencyLayer:
            cairo_push_group(cr_);
            frames_.push_back({Frame::Group, hidden_});
            return;
        case DrawOp::Kind::EndTransparencyLayer:
            if (!frames_.empty() && frames_.back().kind == Frame::Group)
                endGroup(op);
            return;
        case DrawOp::Kind::ConcatCTM:
            concat(op.transform);
            return;
        default:
            break;
        }
        if (hidden_)
            return;
        switch (op.kind) {
        case DrawOp::Kind::Clip:
            buildPath(op.path);
            cairo_set_fill_rule(cr_, op.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            cairo_clip(cr_);
            break;
        case DrawOp::Kind::FillPath:
            if (op.blurRadius > 0) {
                blurredFill(op);
                break;
            }
            buildPath(op.path);
            setColor(op.color, op.alpha);
            cairo_set_fill_rule(cr_, op.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            cairo_fill(cr_);
            break;
        case DrawOp::Kind::StrokePath:
            if (!(op.lineWidth > 0) || !std::isfinite(op.lineWidth))
                break;
            buildPath(op.path);
            setColor(op.color, op.alpha);
            cairo_set_line_width(cr_, op.lineWidth);
            cairo_set_line_cap(cr_, op.lineCap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                                    : op.lineCap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                                    : CAIRO_LINE_CAP_BUTT);
            cairo_set_line_join(cr_, op.lineJoin == LineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                                     : op.lineJoin == LineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                                      : CAIRO_LINE_JOIN_MITER);
            cairo_stroke(cr_);
            break;
        case DrawOp::Kind::ClearRect:
            if (!finite(op.rect))
                break;
            cairo_save(cr_);
            cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
            cairo_rectangle(cr_, op.rect.x(), op.rect.y(), op.rect.width(), op.rect.height());
            cairo_fill(cr_);
            cairo_restore(cr_);
            break;
        case DrawOp::Kind::LinearGradient:
            gradient(op);
            break;
        case DrawOp::Kind::Image:
            if (op.image)
                image(*op.image, op.rect, op.alpha);
            break;
        case DrawOp::Kind::Text:
            text(op);
            break;
        case DrawOp::Kind::Layer:
            drawnLayer(op);
            break;
        default:
            break;
        }
    }

    // A fill softened by a blur: the shape is drawn into a coverage mask in device pixels,
    // blurred there, and the colour painted through it.
    void blurredFill(const DrawOp& op) {
        buildPath(op.path);
        cairo_matrix_t m;
        cairo_get_matrix(cr_, &m);
        // The platform's blur radius spans about two standard deviations.
        double sigma = op.blurRadius / 2 * std::sqrt(std::abs(m.xx * m.yy - m.xy * m.yx));
        int reach = int(std::ceil(3 * sigma));
        double x1, y1, x2, y2;
        cairo_fill_extents(cr_, &x1, &y1, &x2, &y2);
        DeviceBox shape = deviceBox(x1, y1, x2, y2);
        cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
        DeviceBox clip = deviceBox(x1, y1, x2, y2);
        if (!(sigma > 0) || !std::isfinite(sigma) || reach > kMaxPictureSide) {
            cairo_fill(cr_);
            return;
        }
        // Only what lands inside the clip is needed, and only the shape within the blur's
        // reach of it contributes.
        double left = std::max(shape.x1 - reach, clip.x1 - reach);
        double top = std::max(shape.y1 - reach, clip.y1 - reach);
        double right = std::min(shape.x2 + reach, clip.x2 + reach);
        double bottom = std::min(shape.y2 + reach, clip.y2 + reach);
        if (!(right > left) || !(bottom > top) || right - left > kMaxPictureSide || bottom - top > kMaxPictureSide) {
            cairo_new_path(cr_);
            return;
        }
        int x0 = int(std::floor(left)), y0 = int(std::floor(top));
        int w = int(std::ceil(right)) - x0, h = int(std::ceil(bottom)) - y0;
        cairo_path_t* path = cairo_copy_path(cr_);
        cairo_new_path(cr_);
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
        cairo_t* mc = cairo_create(mask);
        cairo_matrix_t shifted = m;
        shifted.x0 -= x0;
        shifted.y0 -= y0;
        cairo_set_matrix(mc, &shifted);
        cairo_append_path(mc, path);
        cairo_set_fill_rule(mc, op.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_fill(mc);
        cairo_destroy(mc);
        cairo_path_destroy(path);
        if (cairo_surface_status(mask) == CAIRO_STATUS_SUCCESS) {
            cairo_surface_flush(mask);
            boxBlur(cairo_image_surface_get_data(mask), w, h, cairo_image_surface_get_stride(mask), sigma);
            cairo_surface_mark_dirty(mask);
            cairo_save(cr_);
            cairo_identity_matrix(cr_);
            setColor(op.color, op.alpha);
            cairo_mask_surface(cr_, mask, x0, y0);
            cairo_restore(cr_);
        }
        cairo_surface_destroy(mask);
    }

    struct DeviceBox {
        double x1, y1, x2, y2;
    };
    // The device-space box around a user-space box.
    DeviceBox deviceBox(double x1, double y1, double x2, double y2) {
        DeviceBox box{INFINITY, INFINITY, -INFINITY, -INFINITY};
        for (Point p : {Point{x1, y1}, Point{x2, y1}, Point{x1, y2}, Point{x2, y2}}) {
            cairo_user_to_device(cr_, &p.x, &p.y);
            box = {std::min(box.x1, p.x), std::min(box.y1, p.y), std::max(box.x2, p.x), std::max(box.y2, p.y)};
        }
        return box;
    }

    // Three passes of a box blur each way come close to a Gaussian blur of `sigma` pixels.
    static void boxBlur(unsigned char* data, int w, int h, int stride, double sigma) {
        int radius = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
        std::vector<unsigned char> line(std::size_t(std::max(w, h)));
        auto pass = [&](unsigned char* start, int count, std::ptrdiff_t step) {
            for (int i = 0; i < count; ++i)
                line[std::size_t(i)] = start[i * step];
            int window = 2 * radius + 1;
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += i >= 0 && i < count ? line[std::size_t(i)] : 0;
            for (int i = 0; i < count; ++i) {
                start[i * step] = static_cast<unsigned char>((sum + window / 2) / window);
                int out = i - radius, in = i + radius + 1;
                sum += (in < count ? line[std::size_t(in)] : 0) - (out >= 0 ? line[std::size_t(out)] : 0);
            }
        };
        for (int round = 0; round < 3; ++round) {
            for (int y = 0; y < h; ++y)
                pass(data + std::ptrdiff_t(y) * stride, w, 1);
            for (int x = 0; x < w; ++x)
                pass(data + x, h, stride);
        }
    }

    void concat(const AffineTransform& t) {
        double det = t.a * t.d - t.b * t.c;
        if (!std::isfinite(det) || !std::isfinite(t.tx) || !std::isfinite(t.ty) || det == 0) {
            // A flattened space shows nothing; the library would refuse it outright.
            hidden_ = true;
            return;
        }
        cairo_matrix_t m{t.a, t.b, t.c, t.d, t.tx, t.ty};
        cairo_transform(cr_, &m);
    }

    void endGroup(const DrawOp& op) {
        Open top = frames_.back();
        frames_.pop_back();
        cairo_pattern_t* content = cairo_pop_group(cr_);
        hidden_ = top.hiddenBefore;
        if (!hidden_) {
            cairo_set_source(cr_, content);
            if (op.mask) {
                cairo_push_group(cr_);
                frames_.push_back({Frame::Group, hidden_});
                paint(*op.mask);
                frames_.pop_back();
                cairo_pattern_t* maskPattern = cairo_pop_group(cr_);
                cairo_set_source(cr_, content);
                if (op.alpha < 1) {
                    cairo_push_group(cr_);
                    cairo_mask(cr_, maskPattern);
                    cairo_pop_group_to_source(cr_);
                    cairo_paint_with_alpha(cr_, op.alpha);
                } else {
                    cairo_mask(cr_, maskPattern);
                }
                cairo_pattern_destroy(maskPattern);
            } else {
                cairo_paint_with_alpha(cr_, std::clamp(op.alpha, 0.0, 1.0));
            }
        }
        cairo_pattern_destroy(content);
    }

    void setColor(const Color& c, double alpha) {
        cairo_set_source_rgba(cr_, c.red, c.green, c.blue, std::clamp(c.alpha * alpha, 0.0, 1.0));
    }

    void buildPath(const Path& path) {
        cairo_new_path(cr_);
        for (const auto& e : path.elements)
            addElement(e);
    }

    void addElement(const PathElement& e) {
        using K = PathElement::Kind;
        switch (e.kind) {
        case K::MoveTo:
            if (finite(e.points[0]))
                cairo_move_to(cr_, e.points[0].x, e.points[0].y);
            break;
        case K::LineTo:
            if (finite(e.points[0]))
                lineTo(e.points[0]);
            break;
        case K::QuadCurveTo: {
            if (!finite(e.points[0]) || !finite(e.points[1]))
                break;
            Point p0 = currentPoint().value_or(e.points[0]);
            Point c = e.points[0], p = e.points[1];
            // The cubic with the same shape as the quadratic.
            cairo_curve_to(cr_, p0.x + 2.0 / 3 * (c.x - p0.x), p0.y + 2.0 / 3 * (c.y - p0.y),
                           p.x + 2.0 / 3 * (c.x - p.x), p.y + 2.0 / 3 * (c.y - p.y), p.x, p.y);
            break;
        }
        case K::CurveTo:
            if (finite(e.points[0]) && finite(e.points[1]) && finite(e.points[2])) {
                if (!currentPoint())
                    cairo_move_to(cr_, e.points[0].x, e.points[0].y);
                cairo_curve_to(cr_, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                               e.points[2].y);
            }
            break;
        case K::ArcToPoint:
            arcToPoint(e.points[0], e.points[1], e.radius);
            break;
        case K::Arc:
            if (finite(e.points[0]) && std::isfinite(e.radius) && e.radius >= 0 && std::isfinite(e.startAngle) &&
                std::isfinite(e.endAngle)) {
                if (e.clockwise)
                    cairo_arc_negative(cr_, e.points[0].x, e.points[0].y, e.radius, e.startAngle, e.endAngle);
                else
                    cairo_arc(cr_, e.points[0].x, e.points[0].y, e.radius, e.startAngle, e.endAngle);
            }
            break;
        case K::Rect:
            if (finite(e.rect))
                cairo_rectangle(cr_, e.rect.x(), e.rect.y(), e.rect.width(), e.rect.height());
            break;
        case K::Ellipse: {
            Rect r = e.rect;
            if (!finite(r) || r.width() == 0 || r.height() == 0)
                break;
            cairo_save(cr_);
            cairo_translate(cr_, r.midX(), r.midY());
            cairo_scale(cr_, std::abs(r.width()) / 2, std::abs(r.height()) / 2);
            cairo_new_sub_path(cr_);
            cairo_arc(cr_, 0, 0, 1, 0, 2 * std::numbers::pi);
            cairo_close_path(cr_);
            cairo_restore(cr_);
            break;
        }
        case K::Close:
            cairo_close_path(cr_);
            break;
        }
    }

    std::optional<Point> currentPoint() {
        if (!cairo_has_current_point(cr_))
            return std::nullopt;
        double x, y;
        cairo_get_current_point(cr_, &x, &y);
        return Point{x, y};
    }

    void lineTo(Point p) {
        if (currentPoint())
            cairo_line_to(cr_, p.x, p.y);
        else
            cairo_move_to(cr_, p.x, p.y);
    }

    // A line to the first tangent point and the arc of `r` round the corner p1, towards p2.
    void arcToPoint(Point p1, Point p2, double r) {
        if (!finite(p1) || !finite(p2) || !std::isfinite(r))
            return;
        auto start = currentPoint();
        if (!start) {
            cairo_move_to(cr_, p1.x, p1.y);
            return;
        }
        Point p0 = *start;
        double v1x = p0.x - p1.x, v1y = p0.y - p1.y, v2x = p2.x - p1.x, v2y = p2.y - p1.y;
        double l1 = std::hypot(v1x, v1y), l2 = std::hypot(v2x, v2y);
        double cross = v1x * v2y - v1y * v2x;
        if (r <= 0 || l1 == 0 || l2 == 0 || std::abs(cross) < 1e-12 * l1 * l2) {
            cairo_line_to(cr_, p1.x, p1.y);
            return;
        }
        v1x /= l1, v1y /= l1, v2x /= l2, v2y /= l2;
        double cosTheta = std::clamp(v1x * v2x + v1y * v2y, -1.0, 1.0);
        double theta = std::acos(cosTheta);
        double d = r / std::tan(theta / 2);
        Point t1{p1.x + v1x * d, p1.y + v1y * d};
        Point t2{p1.x + v2x * d, p1.y + v2y * d};
        double bx = v1x + v2x, by = v1y + v2y, bl = std::hypot(bx, by);
        double h = r / std::sin(theta / 2);
        Point c{p1.x + bx / bl * h, p1.y + by / bl * h};
        double a0 = std::atan2(t1.y - c.y, t1.x - c.x);
        double a1 = std::atan2(t2.y - c.y, t2.x - c.x);
        cairo_line_to(cr_, t1.x, t1.y);
        if (cross < 0)
            cairo_arc(cr_, c.x, c.y, r, a0, a1);
        else
            cairo_arc_negative(cr_, c.x, c.y, r, a0, a1);
    }

    void gradient(const DrawOp& op) {
        if (!op.linear)
            return;
        const LinearGradientFill& fill = *op.linear;
        const auto& colors = fill.gradient.colors;
        if (colors.empty() || !finite(fill.start) || !finite(fill.end))
            return;
        cairo_pattern_t* pattern = cairo_pattern_create_linear(fill.start.x, fill.start.y, fill.end.x, fill.end.y);
        for (std::size_t i = 0; i < colors.size(); ++i) {
            double at = i < fill.gradient.locations.size()
                            ? fill.gradient.locations[i]
                            : (colors.size() == 1 ? 0 : double(i) / double(colors.size() - 1));
            const Color& c = colors[i];
            cairo_pattern_add_color_stop_rgba(pattern, std::clamp(at, 0.0, 1.0), c.red, c.green, c.blue,
                                              std::clamp(c.alpha * op.alpha, 0.0, 1.0));
        }
        bool before = fill.options & GradientDrawing::DrawsBeforeStartLocation;
        bool after = fill.options & GradientDrawing::DrawsAfterEndLocation;
        cairo_pattern_set_extend(pattern, before || after ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
        cairo_save(cr_);
        if (before != after)
            clipToGradientSide(fill.start, fill.end, before);
        cairo_set_source(cr_, pattern);
        cairo_paint(cr_);
        cairo_restore(cr_);
        cairo_pattern_destroy(pattern);
    }

    // The library pads a gradient on both sides or neither. To extend it on one side only,
    // the paint is clipped to the band between start and end plus the half-plane beyond the
    // side that is extended.
    void clipToGradientSide(Point start, Point end, bool before) {
        double dx = end.x - start.x, dy = end.y - start.y;
        double length = std::hypot(dx, dy);
        if (!(length > 0) || !std::isfinite(length))
            return;
        double ux = dx / length, uy = dy / length; // along the axis
        double nx = -uy, ny = ux;                  // across it
        // Far enough to cover everything the current clip lets through.
        double x1, y1, x2, y2;
        cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
        double reach = length;
        for (Point corner : {Point{x1, y1}, Point{x2, y1}, Point{x1, y2}, Point{x2, y2}})
            reach = std::max(reach, std::hypot(corner.x - start.x, corner.y - start.y) + length);
        double from = before ? -reach : 0;
        double to = before ? length : reach;
        auto at = [&](double along, double across) {
            return Point{start.x + ux * along + nx * across, start.y + uy * along + ny * across};
        };
        Point corners[] = {at(from, -reach), at(to, -reach), at(to, reach), at(from, reach)};
        cairo_new_path(cr_);
        cairo_move_to(cr_, corners[0].x, corners[0].y);
        for (int i = 1; i < 4; ++i)
            cairo_line_to(cr_, corners[i].x, corners[i].y);
        cairo_close_path(cr_);
        cairo_clip(cr_);
    }

    void image(const Image& image, const Rect& rect, double alpha) {
        if (!finite(rect) || rect.width() == 0 || rect.height() == 0)
            return;
        cairo_surface_t* surface = images_.surfaceFor(image);
        if (!surface)
            return;
        cairo_save(cr_);
        cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
        cairo_clip(cr_);
        cairo_translate(cr_, rect.x(), rect.y());
        cairo_scale(cr_, rect.width() / image.pixelWidth(), rect.height() / image.pixelHeight());
        cairo_set_source_surface(cr_, surface, 0, 0);
        // Padding keeps the picture's edges solid when it is scaled; the clip keeps it in
        // its rectangle.
        cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
        cairo_paint_with_alpha(cr_, std::clamp(alpha, 0.0, 1.0));
        cairo_restore(cr_);
    }

    void text(const DrawOp& op) {
        if (op.text.empty() || !finite(op.rect) || !(op.font.pointSize > 0) || !std::isfinite(op.font.pointSize))
            return;
        cairo_save(cr_);
        Rect r = op.rect;
        TextLayout layout =
            layOutText(op.text, op.font, r.size, op.lines, op.minimumFontSize, op.truncatesTail);
        auto [ascent, descent] = lineMetrics(op.font, layout.fontSize);
        double lineHeight = layout.fontSize * kLineSpacing;
        double blockHeight = lineHeight * double(layout.lines);
        double top = op.centerVertically ? r.midY() - blockHeight / 2 : r.minY();
        cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height());
        cairo_clip(cr_);
        auto drawLines = [&](double dx, double dy, const Color& color) {
            setColor(color, op.alpha);
            for (int i = 0; i < layout.lines; ++i) {
                PangoLayoutLine* line = pango_layout_get_line_readonly(layout.layout.get(), i);
                PangoRectangle logical;
                pango_layout_line_get_extents(line, nullptr, &logical);
                double w = fromLayoutUnits(logical.width);
                double x = r.minX();
                if (op.alignment == int(TextAlignment::Center))
                    x = r.midX() - w / 2;
                else if (op.alignment == int(TextAlignment::Right))
                    x = r.maxX() - w;
                x -= fromLayoutUnits(logical.x);
                double baseline = top + double(i) * lineHeight + (lineHeight - ascent - descent) / 2 + ascent;
                cairo_move_to(cr_, x + dx, baseline + dy);
                pango_cairo_show_layout_line(cr_, line);
            }
        };
        if (op.shadow && !op.shadow->color.isClear())
            drawLines(op.shadow->offset.width, op.shadow->offset.height, op.shadow->color);
        drawLines(0, 0, op.color);
        cairo_restore(cr_);
    }

    void drawnLayer(const DrawOp& op) {
        if (!op.layer || !finite(op.rect) || op.layerSize.width <= 0 || op.layerSize.height <= 0)
            return;
        cairo_save(cr_);
        frames_.push_back({Frame::Save, hidden_});
        cairo_rectangle(cr_, op.rect.x(), op.rect.y(), op.rect.width(), op.rect.height());
        cairo_clip(cr_);
        cairo_translate(cr_, op.rect.x(), op.rect.y());
        cairo_scale(cr_, op.rect.width() / op.layerSize.width, op.rect.height() / op.layerSize.height);
        paint(*op.layer);
        closeFrame();
    }

    cairo_t* cr_;
    std::vector<Open> frames_;
    bool hidden_ = false;
    ImageSurfaces images_;
};

int pixelsFor(double points) {
    if (!std::isfinite(points) || points <= 0)
        return 0;
    return int(std::min(std::ceil(points), double(kMaxPictureSide)));
}

} // namespace

Bitmap::RGBA Bitmap::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return {};
    const std::uint8_t* p = pixels.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4;
    return {p[0], p[1], p[2], p[3]};
}

namespace {
// The tree under `root` composed straight into `g`, its placement undone afterwards.
void composeTreeInto(GraphicsContext& g, View& root, bool evenIfHidden) {
    root.layoutIfNeeded();
    View::displayTreeIfNeeded(root);
    g.saveGState();
    placeAncestors(g, root);
    composeView(g, root, evenIfHidden);
    g.restoreGState();
}

DisplayList composeTree(View& root, bool evenIfHidden) {
    GraphicsContext g(root.bounds().size);
    root.layoutIfNeeded();
    View::displayTreeIfNeeded(root);
    placeAncestors(g, root);
    composeView(g, root, evenIfHidden);
    return g.takeDisplayList();
}
} // namespace

DisplayList ScreenPicture::compose(View& root) {
    return composeTree(root, false);
}

namespace {
// The key window, the status bar and the shown alerts, composed into `g`.
void composeScreenInto(GraphicsContext& g) {
    auto& app = Application::shared();
    if (auto window = app.keyWindow())
        composeTreeInto(g, *window, false);
    if (!app.isStatusBarHidden()) {
        auto bar = app.statusBarWindow();
        bar->setFrame(app.statusBarFrame());
        composeTreeInto(g, *bar, true);
    }
    auto alerts = app.visibleAlerts();
    if (!alerts.empty()) {
        // The screen behind an alert is dimmed, so the panel stands out even on a white screen.
        g.saveGState();
        g.setFillColor(kBehindAlertDimming);
        g.fillRect(Screen::main().bounds());
        g.restoreGState();
    }
    for (const auto& alert : alerts)
        composeTreeInto(g, *alert, false);
}
} // namespace

DisplayList ScreenPicture::composeScreen() {
    GraphicsContext g(Screen::main().bounds().size);
    composeScreenInto(g);
    return g.takeDisplayList();
}

namespace {

// Owns one of the library's image surfaces.
struct Surface {
    cairo_surface_t* surface = nullptr;
    Surface() = default;
    explicit Surface(cairo_surface_t* s) : surface(s) {}
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    ~Surface() {
        if (surface)
            cairo_surface_destroy(surface);
    }
};

// Paints `list` over what `surface` holds.
void paintInto(cairo_surface_t* surface, const DisplayList& list) {
    cairo_t* cr = cairo_create(surface);
    {
        Painter painter(cr);
        painter.paint(list);
    }
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
        logLine(std::string("ScreenPicture: painting stopped: ") + cairo_status_to_string(cairo_status(cr)));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
}

// A new transparent surface of `size` points; none when the size is empty or there is no
// memory for it.
std::unique_ptr<Surface> makeSurface(Size size) {
    int w = pixelsFor(size.width), h = pixelsFor(size.height);
    if (w == 0 || h == 0)
        return nullptr;
    auto out = std::make_unique<Surface>(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    if (cairo_surface_status(out->surface) != CAIRO_STATUS_SUCCESS) {
        logLine("ScreenPicture: no memory for a picture of " + toString(size));
        return nullptr;
    }
    return out;
}

// `list` painted into a transparent surface of `size` points.
std::unique_ptr<Surface> paintSurface(const DisplayList& list, Size size) {
    auto out = makeSurface(size);
    if (out)
        paintInto(out->surface, list);
    return out;
}

// The list of the whole screen: white where nothing is drawn, as an empty screen shows.
// `recycled` lends its room (a list of the previous picture).
DisplayList screenList(Size size, DisplayList recycled = {}) {
    GraphicsContext g(size, std::move(recycled));
    g.setFillColor(Color::whiteColor());
    g.fillRect(Rect(Point{}, size));
    composeScreenInto(g);
    return g.takeDisplayList();
}

// Writes `surface` as a PNG file through a temporary name renamed into place.
bool writeSurface(cairo_surface_t* surface, const std::filesystem::path& path, Error* error) {
    auto fail = [&](std::string why) {
        if (error)
            *error = Error{kPOSIXErrorDomain, 5, "Cannot write the picture " + path.string() + ": " + why, {}};
        return false;
    };
    if (!surface)
        return fail("the picture is empty or malformed");
    std::filesystem::path temporary = path;
    temporary += ".partial";
    cairo_status_t status = cairo_surface_write_to_png(surface, temporary.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return fail(cairo_status_to_string(status));
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return fail(ec.message());
    }
    return true;
}

} // namespace

Bitmap ScreenPicture::render(const DisplayList& list, Size size) {
    Bitmap out;
    auto painted = paintSurface(list, size);
    if (!painted)
        return out;
    cairo_surface_t* surface = painted->surface;
    int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    out.width = w;
    out.height = h;
    out.pixels.resize(std::size_t(w) * std::size_t(h) * 4);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<const std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
        std::uint8_t* px = out.pixels.data() + std::size_t(y) * std::size_t(w) * 4;
        for (int x = 0; x < w; ++x, px += 4) {
            std::uint32_t v = row[x];
            std::uint32_t a = v >> 24;
            auto un = [a](std::uint32_t c) { return std::uint8_t(a ? std::min<std::uint32_t>(255, (c * 255 + a / 2) / a) : 0); };
            px[0] = un((v >> 16) & 0xff);
            px[1] = un((v >> 8) & 0xff);
            px[2] = un(v & 0xff);
            px[3] = std::uint8_t(a);
        }
    }
    return out;
}

double ScreenPicture::fittedFontSize(const std::string& text, const Font& font, Size size, int lines,
                                     double minimumFontSize) {
    if (text.empty() || !(font.pointSize > 0) || !std::isfinite(font.pointSize) || !std::isfinite(size.width) ||
        !std::isfinite(size.height))
        return font.pointSize;
    double fitted = layOutText(text, font, size, lines, minimumFontSize).fontSize;
    return fitted;
}

double ScreenPicture::textWidth(const std::string& text, const Font& font) {
    if (text.empty() || !(font.pointSize > 0) || !std::isfinite(font.pointSize))
        return 0;
    TextLayout line = layOutAt(settableText(text, 1), font, font.pointSize, {0, 0}, 1);
    PangoRectangle logical;
    pango_layout_get_extents(line.layout.get(), nullptr, &logical);
    return fromLayoutUnits(logical.width);
}

double ScreenPicture::textHeight(const std::string& text, const Font& font, double width) {
    if (text.empty() || !(font.pointSize > 0) || !std::isfinite(font.pointSize) || !std::isfinite(width))
        return 0;
    // As tall a box as any text needs: the layout counts every line.
    const Size unbounded{std::max(width, 0.0), std::numeric_limits<double>::max()};
    TextLayout block = layOutAt(settableText(text, 0), font, font.pointSize, unbounded, 0);
    return double(block.lines) * font.pointSize * kLineSpacing;
}

std::vector<std::string> ScreenPicture::shownLines(const DrawOp& text) {
    std::vector<std::string> lines;
    if (text.kind != DrawOp::Kind::Text || text.text.empty() || !finite(text.rect) ||
        !(text.font.pointSize > 0) || !std::isfinite(text.font.pointSize))
        return lines;
    TextLayout layout = layOutText(text.text, text.font, text.rect.size, text.lines, text.minimumFontSize,
                                   text.truncatesTail);
    const std::string set = pango_layout_get_text(layout.layout.get());
    for (int i = 0; i < layout.lines; ++i) {
        PangoLayoutLine* line = pango_layout_get_line_readonly(layout.layout.get(), i);
        std::size_t start = std::min(std::size_t(std::max(line->start_index, 0)), set.size());
        std::string shown = set.substr(start, std::size_t(std::max(line->length, 0)));
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
            shown.pop_back();
        lines.push_back(std::move(shown));
    }
    return lines;
}

std::vector<ScreenPicture::FontRun> ScreenPicture::fontRuns(const std::string& text, const Font& font) {
    std::vector<FontRun> runs;
    if (text.empty() || !(font.pointSize > 0) || !std::isfinite(font.pointSize))
        return runs;
    TextLayout layout = layOutText(text, font, Size{INFINITY, INFINITY}, 1, 0);
    const char* set = pango_layout_get_text(layout.layout.get());
    PangoLayoutIter* it = pango_layout_get_iter(layout.layout.get());
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(it);
        if (!run)
            continue;
        const PangoItem* item = run->item;
        FontRun out;
        out.text.assign(set + item->offset, std::size_t(item->length));
        if (PANGO_IS_FC_FONT(item->analysis.font)) {
            FcPattern* pattern = pango_fc_font_get_pattern(PANGO_FC_FONT(item->analysis.font));
            FcChar8* value = nullptr;
            if (FcPatternGetString(pattern, FC_FAMILY, 0, &value) == FcResultMatch)
                out.family = reinterpret_cast<const char*>(value);
            if (FcPatternGetString(pattern, FC_FILE, 0, &value) == FcResultMatch)
                out.file = reinterpret_cast<const char*>(value);
            int index = 0;
            if (FcPatternGetInteger(pattern, FC_INDEX, 0, &index) == FcResultMatch)
                out.faceIndex = index;
        }
        runs.push_back(std::move(out));
    } while (pango_layout_iter_next_run(it));
    pango_layout_iter_free(it);
    return runs;
}

Bitmap ScreenPicture::renderScreen() {
    Size size = Screen::main().bounds().size;
    return render(screenList(size), size);
}

Bitmap ScreenPicture::renderView(View& root, Size size) {
    GraphicsContext g(size);
    Rect placed = root.convertRectTo(root.bounds(), nullptr);
    g.translateCTM(-placed.x(), -placed.y());
    g.replay(compose(root));
    return render(g.takeDisplayList(), size);
}

bool ScreenPicture::writePNG(const Bitmap& bitmap, const std::filesystem::path& path, Error* error) {
    if (bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.pixels.size() != std::size_t(bitmap.width) * std::size_t(bitmap.height) * 4)
        return writeSurface(nullptr, path, error);
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height));
    if (cairo_surface_status(surface.surface) != CAIRO_STATUS_SUCCESS)
        return writeSurface(nullptr, path, error);
    cairo_surface_flush(surface.surface);
    unsigned char* data = cairo_image_surface_get_data(surface.surface);
    int stride = cairo_image_surface_get_stride(surface.surface);
    for (int y = 0; y < bitmap.height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
        const std::uint8_t* in = bitmap.pixels.data() + std::size_t(y) * std::size_t(bitmap.width) * 4;
        for (int x = 0; x < bitmap.width; ++x, in += 4) {
            std::uint32_t a = in[3];
            auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
            row[x] = (a << 24) | (pre(in[0]) << 16) | (pre(in[1]) << 8) | pre(in[2]);
        }
    }
    cairo_surface_mark_dirty(surface.surface);
    return writeSurface(surface.surface, path, error);
}

bool ScreenPicture::snapshot(const std::filesystem::path& path, Error* error) {
    // The painted surface is written as it is, with no trip through a bitmap. The surface is
    // kept for the next snapshot of a screen of the same size (snapshots are taken on the
    // main thread only), which spares the system a fresh picture's worth of memory each time.
    Size size = Screen::main().bounds().size;
    if (!keptSurface.surface || keptSurface.size != size) {
        releaseKeptSurface();
        if (auto made = makeSurface(size)) {
            keptSurface.surface = std::exchange(made->surface, nullptr);
            keptSurface.size = size;
            releaseKeptSurfaceAtExit();
        }
    }
    if (!keptSurface.surface)
        return writeSurface(nullptr, path, error);
    // The list of the last snapshot lends its room to this one, so that the list of some
    // hundred ops is not grown, moved and freed again for each picture.
    static DisplayList keptList;
    DisplayList list = screenList(size, std::move(keptList)); // the list starts by covering the whole screen
    paintInto(keptSurface.surface, list);
    keptList = std::move(list);
    return writeSurface(keptSurface.surface, path, error);
}

} // namespace platform
