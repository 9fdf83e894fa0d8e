#pragma once
// Plane geometry of the user interface, in points: Point, Size, Rect, EdgeInsets and the
// 2-D AffineTransform that views carry. Plain values, copyable and comparable; the origin
// is at the top left and y grows downwards, as on the screen.
//
// AffineTransform maps (x, y) to (a·x + c·y + tx, b·x + d·y + ty). `concat(t1, t2)` applies
// t1 first, then t2, so translate-then-rotate is `concat(translation, rotation)`; the
// "transform an existing transform" helpers (`translated`, `scaled`, `rotated`) apply the
// new step before the existing one, as the platform's helpers of the same meaning do.
#include <string>

namespace platform {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}
    constexpr Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    // Edges of the rectangle made standard (a negative width or height flipped).
    double minX() const;
    double maxX() const;
    double minY() const;
    double maxY() const;
    double midX() const { return (minX() + maxX()) / 2; }
    double midY() const { return (minY() + maxY()) / 2; }
    Point center() const { return {midX(), midY()}; }

    bool isEmpty() const { return size.width == 0 || size.height == 0; }
    // Half-open: the left and top edges are inside, the right and bottom edges are not.
    bool contains(Point p) const;
    bool intersects(const Rect& other) const;
    // The common part; an empty rectangle at the origin when there is none.
    Rect intersection(const Rect& other) const;
    Rect unionWith(const Rect& other) const;
    Rect offsetBy(double dx, double dy) const {
        return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
    }
    // Shrinks each side by `dx`, `dy` (grows for negative values).
    Rect insetBy(double dx, double dy) const;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// Space kept free at each edge of a rectangle.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    Rect inset(const Rect& r) const {
        return Rect(r.x() + left, r.y() + top, r.width() - left - right, r.height() - top - bottom);
    }
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform makeTranslation(double dx, double dy) { return {1, 0, 0, 1, dx, dy}; }
    static AffineTransform makeScale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    // Rotation by `radians`, clockwise on the screen (y grows downwards).
    static AffineTransform makeRotation(double radians);
    // `first` then `second`.
    static AffineTransform concat(const AffineTransform& first, const AffineTransform& second);

    // The step applied before this transform.
    AffineTransform translated(double dx, double dy) const { return concat(makeTranslation(dx, dy), *this); }
    AffineTransform scaled(double sx, double sy) const { return concat(makeScale(sx, sy), *this); }
    AffineTransform rotated(double radians) const { return concat(makeRotation(radians), *this); }
    // The reverse mapping; the transform itself when it cannot be inverted.
    AffineTransform inverted() const;
    bool isInvertible() const { return a * d - b * c != 0; }
    bool isIdentity() const { return *this == identity(); }

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    // Size mapped without translation (components may become negative).
    Size apply(Size s) const { return {a * s.width + c * s.height, b * s.width + d * s.height}; }
    // The smallest upright rectangle holding the four mapped corners.
    Rect apply(const Rect& r) const;

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

// Readable forms for logs and test messages: "{1, 2}", "{{0, 383}, {320, 53}}".
std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);
std::string toString(const AffineTransform& t);

} // namespace platform
