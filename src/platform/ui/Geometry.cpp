#include "platform/ui/Geometry.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Strings.h"
#include "platform/ui/Color.h"

namespace platform {

double Rect::minX() const {
    return std::min(origin.x, origin.x + size.width);
}
double Rect::maxX() const {
    return std::max(origin.x, origin.x + size.width);
}
double Rect::minY() const {
    return std::min(origin.y, origin.y + size.height);
}
double Rect::maxY() const {
    return std::max(origin.y, origin.y + size.height);
}

bool Rect::contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::intersects(const Rect& other) const {
    return !isEmpty() && !other.isEmpty() && minX() < other.maxX() && other.minX() < maxX() &&
           minY() < other.maxY() && other.minY() < maxY();
}

Rect Rect::intersection(const Rect& other) const {
    if (!intersects(other))
        return Rect();
    double x0 = std::max(minX(), other.minX());
    double y0 = std::max(minY(), other.minY());
    double x1 = std::min(maxX(), other.maxX());
    double y1 = std::min(maxY(), other.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& other) const {
    if (isEmpty())
        return other;
    if (other.isEmpty())
        return *this;
    double x0 = std::min(minX(), other.minX());
    double y0 = std::min(minY(), other.minY());
    double x1 = std::max(maxX(), other.maxX());
    double y1 = std::max(maxY(), other.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::insetBy(double dx, double dy) const {
    return Rect(origin.x + dx, origin.y + dy, size.width - 2 * dx, size.height - 2 * dy);
}

AffineTransform AffineTransform::makeRotation(double radians) {
    double c = std::cos(radians);
    double s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::concat(const AffineTransform& t1, const AffineTransform& t2) {
    // Row-vector convention: p' = p · t1 · t2.
    return {t1.a * t2.a + t1.b * t2.c,           t1.a * t2.b + t1.b * t2.d,
            t1.c * t2.a + t1.d * t2.c,           t1.c * t2.b + t1.d * t2.d,
            t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

AffineTransform AffineTransform::inverted() const {
    double det = a * d - b * c;
    if (det == 0)
        return *this;
    AffineTransform r;
    r.a = d / det;
    r.b = -b / det;
    r.c = -c / det;
    r.d = a / det;
    r.tx = (c * ty - d * tx) / det;
    r.ty = (b * tx - a * ty) / det;
    return r;
}

Rect AffineTransform::apply(const Rect& r) const {
    Point corners[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                        apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
    double x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

std::string toString(Point p) {
    return "{" + formatDouble(p.x) + ", " + formatDouble(p.y) + "}";
}
std::string toString(Size s) {
    return "{" + formatDouble(s.width) + ", " + formatDouble(s.height) + "}";
}
std::string toString(const Rect& r) {
    return "{" + toString(r.origin) + ", " + toString(r.size) + "}";
}
std::string toString(const AffineTransform& t) {
    return "[" + formatDouble(t.a) + ", " + formatDouble(t.b) + ", " + formatDouble(t.c) + ", " +
           formatDouble(t.d) + ", " + formatDouble(t.tx) + ", " + formatDouble(t.ty) + "]";
}
std::string toString(const Color& c) {
    return "rgba(" + formatDouble(c.red) + ", " + formatDouble(c.green) + ", " + formatDouble(c.blue) + ", " +
           formatDouble(c.alpha) + ")";
}

} // namespace platform
