#pragma once
// Drawing in the platform's terms: a graphics context with a stack of saved states
// (transform, fill and stroke colours, line width, alpha, clipping), a current path built
// from lines, arcs, curves, rectangles and ellipses, and painting operations (fill, stroke,
// clip, linear gradients, images, text, drawing layers).
//
// A context does not paint pixels itself: every operation that paints, or that changes what
// later painting looks like (save, restore, a transform, a clip, a transparency layer), is
// appended to its DisplayList, with the path, colour and line width it used. Tests read that
// list to check what a view drew; the screen picture (ScreenPicture.h) composes the lists of
// a whole view tree and paints them into a bitmap.
//
// Coordinates are the view's: origin at the top left, y growing downwards. Images and text
// are drawn upright in that space. Angles are in radians; an arc with `clockwise` false runs
// towards growing angles (which, with y downwards, turns clockwise on the screen).
//
// The current context: drawRect draws into GraphicsContext::current(), which View::display
// pushes for the length of the call; ContextScope pushes one for a block of code.
// Main thread only. A context is owned by whoever made it; the list it built can outlive it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Forward.h"
#include "platform/ui/Geometry.h"

namespace platform {

enum class TextAlignment;

// One step of a path, kept as it was given.
struct PathElement {
    enum class Kind {
        MoveTo,     // points[0]
        LineTo,     // points[0]
        QuadCurveTo, // control points[0], end points[1]
        CurveTo,    // controls points[0], points[1], end points[2]
        ArcToPoint, // tangent arc: corner points[0], towards points[1], radius
        Arc,        // centre points[0], radius, startAngle, endAngle, clockwise
        Rect,       // rect (a closed sub-path)
        Ellipse,    // the ellipse inscribed in rect (a closed sub-path)
        Close,
    };
    Kind kind = Kind::MoveTo;
    Point points[3];
    double radius = 0;
    double startAngle = 0;
    double endAngle = 0;
    bool clockwise = false;
    platform::Rect rect;

    friend bool operator==(const PathElement&, const PathElement&) = default;
};

// A path: its elements in order. Plain value.
struct Path {
    std::vector<PathElement> elements;
    bool isEmpty() const { return elements.empty(); }
    // The corner points of the path's straight-line steps, for tests and hit checks; arcs and
    // curves contribute their end points.
    std::vector<Point> points() const;
    friend bool operator==(const Path&, const Path&) = default;
};

// A linear gradient's colours and where each sits along the axis (0 to 1). With no
// locations the colours are spread evenly.
struct Gradient {
    std::vector<Color> colors;
    std::vector<double> locations;
    friend bool operator==(const Gradient&, const Gradient&) = default;
};

// Whether a gradient also covers the area before its start and after its end.
struct GradientDrawing {
    static constexpr unsigned DrawsBeforeStartLocation = 1u << 0;
    static constexpr unsigned DrawsAfterEndLocation = 1u << 1;
};

enum class PathDrawingMode { Fill = 0, EOFill = 1, Stroke = 2, FillStroke = 3, EOFillStroke = 4 };
enum class LineCap : std::uint8_t { Butt = 0, Round = 1, Square = 2 };
enum class LineJoin : std::uint8_t { Miter = 0, Round = 1, Bevel = 2 };

// A linear gradient as it is painted: its colours, the axis from `start` to `end`, and
// GradientDrawing options.
struct LinearGradientFill {
    Gradient gradient;
    Point start, end;
    unsigned options = 0;
    friend bool operator==(const LinearGradientFill&, const LinearGradientFill&) = default;
};

// A text's shadow: the text again in `color`, moved by `offset`, under the text.
struct TextShadow {
    Color color;
    Size offset;
    // None (null) when the colour is clear, so an op carries a shadow only when it shows.
    static std::shared_ptr<const TextShadow> make(const Color& color, Size offset) {
        if (color.isClear())
            return nullptr;
        return std::make_shared<const TextShadow>(TextShadow{color, offset});
    }
};

// One recorded operation. Only the fields its kind names are meaningful.
// A picture holds some hundreds of these and the screen picture copies each one as it
// composes a view tree, so the op is kept small: the parts only rare kinds use (a
// gradient, a text shadow) are held by pointer and shared between copies.
struct DrawOp {
    enum class Kind : std::uint8_t {
        SaveGState,
        RestoreGState,
        ConcatCTM,              // transform
        Clip,                   // path, evenOdd
        FillPath,               // path, color, evenOdd, blurRadius
        StrokePath,             // path, color, lineWidth, lineCap, lineJoin
        ClearRect,              // rect
        LinearGradient,         // linear
        Image,                  // image, rect
        Text,                   // text, rect, font, color, alignment, lines, shadow
        Layer,                  // layer (its list), rect (where it lands, its own size)
        BeginTransparencyLayer, // alpha: the group is painted with this alpha when it ends
        EndTransparencyLayer,   // mask: when set, the group shows only where the mask is opaque
    };
    Kind kind = Kind::FillPath;
    bool evenOdd = false;
    LineCap lineCap = LineCap::Butt;
    LineJoin lineJoin = LineJoin::Miter;
    bool centerVertically = false; // text: the lines sit in the middle of the rect (labels)
    // Text: a text that still does not fit ends its last line in an ellipsis (labels).
    bool truncatesTail = false;
    int alignment = 0; // TextAlignment's number
    int lines = 1;     // 0: as many as needed
    Path path;
    Color color;
    double lineWidth = 1;
    double alpha = 1; // the context's alpha when the op was recorded
    // FillPath: the fill is softened by a blur of this radius, as a layer's shadow is (0: sharp).
    double blurRadius = 0;
    // Text: when above 0, the font shrinks (down to this size) until the text fits the rect's
    // width within its lines; 0 keeps the font's size.
    double minimumFontSize = 0;
    AffineTransform transform;
    platform::Rect rect;
    std::shared_ptr<const LinearGradientFill> linear;
    std::shared_ptr<const Image> image;
    std::string text;
    Font font;
    std::shared_ptr<const TextShadow> shadow; // text shadow (null: none)
    std::shared_ptr<const DisplayList> layer; // with layerSize, the size it was drawn at
    Size layerSize;
    std::shared_ptr<const DisplayList> mask;
};

// What a context drew, in order. Plain value.
class DisplayList {
public:
    const std::vector<DrawOp>& ops() const { return ops_; }
    bool empty() const { return ops_.empty(); }
    std::size_t size() const { return ops_.size(); }
    const DrawOp& operator[](std::size_t i) const { return ops_[i]; }
    void append(DrawOp op) { ops_.push_back(std::move(op)); }
    // Room for `count` more ops without moving those already here; grows at least by half
    // its size, so that repeated calls stay linear.
    void reserveMore(std::size_t count);
    // Empties the list and keeps its room, for a list that is drawn into again.
    void clear() { ops_.clear(); }
    // The ops that paint (everything but state changes), for tests that look only at those.
    std::vector<DrawOp> paintOps() const;

private:
    std::vector<DrawOp> ops_;
};

class GraphicsContext {
public:
    explicit GraphicsContext(Size size);
    // Records into `recycled`, emptied first: its room is kept, so a picture drawn again and
    // again does not grow a new list each time.
    GraphicsContext(Size size, DisplayList recycled);
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    // The context drawing goes to now (the top of the stack), or null outside any drawing.
    static GraphicsContext* current();
    static void pushContext(GraphicsContext& context);
    static void popContext();

    Size size() const { return size_; }
    const DisplayList& displayList() const { return list_; }
    // Hands the list over (the context starts a new, empty one).
    DisplayList takeDisplayList();

    // ---- State ----
    void saveGState();
    // Without a matching save this does nothing (logged).
    void restoreGState();
    void translateCTM(double tx, double ty);
    void scaleCTM(double sx, double sy);
    void rotateCTM(double radians);
    void concatCTM(const AffineTransform& transform);
    const AffineTransform& getCTM() const { return state().ctm; }
    void setFillColor(const Color& color) { state().fill = color; }
    void setStrokeColor(const Color& color) { state().stroke = color; }
    void setRGBFillColor(double r, double g, double b, double a) { setFillColor(Color::rgba(r, g, b, a)); }
    void setRGBStrokeColor(double r, double g, double b, double a) { setStrokeColor(Color::rgba(r, g, b, a)); }
    void setGrayFillColor(double gray, double a) { setFillColor(Color::white(gray, a)); }
    void setGrayStrokeColor(double gray, double a) { setStrokeColor(Color::white(gray, a)); }
    const Color& fillColor() const { return state().fill; }
    const Color& strokeColor() const { return state().stroke; }
    void setLineWidth(double width) { state().lineWidth = width; }
    double lineWidth() const { return state().lineWidth; }
    void setLineCap(LineCap cap) { state().lineCap = cap; }
    void setLineJoin(LineJoin join) { state().lineJoin = join; }
    // Multiplies everything painted afterwards (clamped to 0...1).
    void setAlpha(double alpha);

    // ---- The current path ----
    void beginPath() { path_.elements.clear(); }
    void moveToPoint(double x, double y);
    void addLineToPoint(double x, double y);
    void addQuadCurveToPoint(double cpx, double cpy, double x, double y);
    void addCurveToPoint(double cp1x, double cp1y, double cp2x, double cp2y, double x, double y);
    // A line towards the tangent point of (x1, y1)-(x2, y2) and an arc of `radius` round
    // the corner (x1, y1).
    void addArcToPoint(double x1, double y1, double x2, double y2, double radius);
    void addArc(double x, double y, double radius, double startAngle, double endAngle, bool clockwise);
    void addRect(const Rect& rect);
    // `rect` with its corners rounded by `radius` (at most half its shorter side), as a
    // closed subpath.
    void addRoundedRect(const Rect& rect, double radius);
    void addEllipseInRect(const Rect& rect);
    void addPath(const Path& path);
    void closePath();
    const Path& currentPath() const { return path_; }
    bool isPathEmpty() const { return path_.isEmpty(); }

    // ---- Painting (each consumes the current path) ----
    void fillPath();
    // fillPath softened by a blur of `radius` points, as a layer's shadow is drawn.
    void fillPathWithBlur(double radius);
    void eoFillPath();
    void strokePath();
    void drawPath(PathDrawingMode mode);
    void clip();
    void eoClip();
    // Rectangle shorthands; they leave the current path alone.
    void fillRect(const Rect& rect);
    void strokeRect(const Rect& rect);
    void strokeRectWithWidth(const Rect& rect, double width);
    void clearRect(const Rect& rect);
    void fillEllipseInRect(const Rect& rect);
    void strokeEllipseInRect(const Rect& rect);
    void clipToRect(const Rect& rect);
    void drawLinearGradient(const Gradient& gradient, Point start, Point end, unsigned options = 0);
    // The image scaled into `rect`, upright. A missing image draws nothing.
    void drawImage(const Rect& rect, const std::shared_ptr<const Image>& image);
    // Text in `rect` with the fill colour, wrapped to `lines` (0: as many as fit).
    void drawText(const std::string& text, const Rect& rect, const Font& font, TextAlignment alignment,
                  int lines = 0);
    // Draws what `layer` holds with its top left at `point`.
    void drawLayerAtPoint(Point point, const DrawingLayer& layer);
    void drawLayerInRect(const Rect& rect, const DrawingLayer& layer);
    // Everything until the end is painted as one group, then laid down with the current
    // alpha (so overlapping parts do not show through each other).
    void beginTransparencyLayer();
    void endTransparencyLayer();

    // Appends a ready-made op (the screen picture composes view trees this way).
    void record(DrawOp op);
    // Appends another list's ops, balanced: a restore or end of group without its begin is
    // dropped, and saves or groups left open are closed at the end, so the list cannot
    // disturb what surrounds it.
    void replay(const DisplayList& list);

private:
    struct State {
        AffineTransform ctm;
        Color fill = Color::blackColor();
        Color stroke = Color::blackColor();
        double lineWidth = 1;
        LineCap lineCap = LineCap::Butt;
        LineJoin lineJoin = LineJoin::Miter;
        double alpha = 1;
    };
    State& state() { return states_.back(); }
    const State& state() const { return states_.back(); }
    DrawOp op(DrawOp::Kind kind) const;
    void paintPath(DrawOp::Kind kind, bool evenOdd, Path path);

    Size size_;
    std::vector<State> states_{State{}};
    Path path_;
    DisplayList list_;
    int transparencyDepth_ = 0;
};

// Pushes `context` as the current one for the length of a scope.
class ContextScope {
public:
    explicit ContextScope(GraphicsContext& context) { GraphicsContext::pushContext(context); }
    ~ContextScope() { GraphicsContext::popContext(); }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;
};

// An offscreen drawing of a fixed size, made once and drawn many times (a pre-drawn
// background). Its own context records what is drawn into it; drawing the layer into
// another context records a Layer op that carries a snapshot of that list.
class DrawingLayer {
public:
    // `relativeTo` is the context the layer will be drawn into (it may be null).
    static std::shared_ptr<DrawingLayer> createWithContext(GraphicsContext* relativeTo, Size size);
    explicit DrawingLayer(Size size) : context_(size) {}

    Size size() const { return context_.size(); }
    GraphicsContext& context() { return context_; }
    const DisplayList& displayList() const { return context_.displayList(); }

private:
    GraphicsContext context_;
};

// Images as the platform draws them, into the current context (nothing without one).
void drawImageInRect(const std::shared_ptr<const Image>& image, const Rect& rect);
void drawImageAtPoint(const std::shared_ptr<const Image>& image, Point point);

} // namespace platform
