#pragma once
// The small RGBA canvas the build-time image generators draw with: source-over blending of
// fills, gradients, rounded rectangles, triangles, thick lines and text in the stroke font of
// stb_easy_font, scaled up; written out as PNG or JPEG. The including program defines
// STB_IMAGE_WRITE_IMPLEMENTATION once, before including this header.
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace imagegen {

struct Rgba {
    std::uint8_t r, g, b, a;
};

Rgba mix(Rgba x, Rgba y, double t) {
    auto lerp = [t](std::uint8_t p, std::uint8_t q) {
        return static_cast<std::uint8_t>(std::lround(p + (q - p) * std::clamp(t, 0.0, 1.0)));
    };
    return {lerp(x.r, y.r), lerp(x.g, y.g), lerp(x.b, y.b), lerp(x.a, y.a)};
}

// An RGBA picture with source-over blending of opaque or translucent fills.
class Canvas {
public:
    Canvas(int width, int height, Rgba fill = {0, 0, 0, 0})
        : width_(width), height_(height), pixels_(static_cast<std::size_t>(width * height), fill) {}

    int width() const { return width_; }
    int height() const { return height_; }

    void blend(int x, int y, Rgba c) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_ || c.a == 0)
            return;
        Rgba& d = pixels_[static_cast<std::size_t>(y * width_ + x)];
        double sa = c.a / 255.0, da = d.a / 255.0;
        double oa = sa + da * (1 - sa);
        auto channel = [&](std::uint8_t s, std::uint8_t t) {
            return static_cast<std::uint8_t>(std::lround((s * sa + t * da * (1 - sa)) / oa));
        };
        d = {channel(c.r, d.r), channel(c.g, d.g), channel(c.b, d.b),
             static_cast<std::uint8_t>(std::lround(oa * 255))};
    }

    // Fills every pixel whose centre passes `inside`.
    void fill(const std::function<bool(double, double)>& inside,
              const std::function<Rgba(int, int)>& colour) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (inside(x + 0.5, y + 0.5))
                    blend(x, y, colour(x, y));
    }

    void rect(double x, double y, double w, double h, Rgba c) {
        fill([=](double px, double py) { return px >= x && px < x + w && py >= y && py < y + h; },
             [=](int, int) { return c; });
    }

    void verticalGradient(Rgba top, Rgba bottom) {
        fill([](double, double) { return true; },
             [&](int, int y) { return mix(top, bottom, height_ > 1 ? y / double(height_ - 1) : 0); });
    }

    void roundedRect(double x, double y, double w, double h, double radius, Rgba top, Rgba bottom) {
        auto inside = [=](double px, double py) {
            double cx = std::clamp(px, x + radius, x + w - radius);
            double cy = std::clamp(py, y + radius, y + h - radius);
            return px >= x && px < x + w && py >= y && py < y + h &&
                   (px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius;
        };
        fill(inside, [=](int, int py) { return mix(top, bottom, (py - y) / std::max(1.0, h)); });
    }

    // A filled triangle through three points.
    void triangle(double x0, double y0, double x1, double y1, double x2, double y2, Rgba c) {
        auto edge = [](double ax, double ay, double bx, double by, double px, double py) {
            return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
        };
        fill(
            [=](double px, double py) {
                double e0 = edge(x0, y0, x1, y1, px, py), e1 = edge(x1, y1, x2, y2, px, py),
                       e2 = edge(x2, y2, x0, y0, px, py);
                return (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
            },
            [=](int, int) { return c; });
    }

    // A thick line segment.
    void line(double x0, double y0, double x1, double y1, double thickness, Rgba c) {
        fill(
            [=](double px, double py) {
                const double dx = x1 - x0, dy = y1 - y0;
                const double t = std::clamp(((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
                const double qx = x0 + t * dx - px, qy = y0 + t * dy - py;
                return qx * qx + qy * qy <= thickness * thickness / 4;
            },
            [=](int, int) { return c; });
    }
    // Text in the stroke font, `scale` pixels per font unit, its top left corner at (x, y).
    void text(double x, double y, const std::string& s, double scale, Rgba c) {
        std::vector<char> vertices(s.size() * 300 + 1024);
        std::string copy = s;
        int quads = stb_easy_font_print(0, 0, copy.data(), nullptr, vertices.data(),
                                        static_cast<int>(vertices.size()));
        struct Vertex {
            float x, y, z;
            unsigned char colour[4];
        };
        const auto* v = reinterpret_cast<const Vertex*>(vertices.data());
        for (int q = 0; q < quads; ++q) {
            const Vertex* quad = v + q * 4;
            double qx0 = x + quad[0].x * scale, qy0 = y + quad[0].y * scale;
            double qx1 = x + quad[2].x * scale, qy1 = y + quad[2].y * scale;
            rect(std::min(qx0, qx1), std::min(qy0, qy1), std::fabs(qx1 - qx0), std::fabs(qy1 - qy0), c);
        }
    }

    double textWidth(const std::string& s, double scale) const {
        std::string copy = s;
        return stb_easy_font_width(copy.data()) * scale;
    }

    // Text centred horizontally on `centreX`.
    void centredText(double centreX, double y, const std::string& s, double scale, Rgba c) {
        text(centreX - textWidth(s, scale) / 2, y, s, scale, c);
    }

    // The picture as PNG file bytes, or as JPEG (quality 90, no alpha).
    std::string encode(bool jpeg) const {
        std::string bytes;
        auto sink = [](void* context, void* data, int size) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
        };
        if (jpeg) {
            std::vector<std::uint8_t> rgb;
            for (const auto& p : pixels_)
                rgb.insert(rgb.end(), {p.r, p.g, p.b});
            stbi_write_jpg_to_func(sink, &bytes, width_, height_, 3, rgb.data(), 90);
        } else {
            stbi_write_png_to_func(sink, &bytes, width_, height_, 4, pixels_.data(), width_ * 4);
        }
        return bytes;
    }

    Rgba at(int x, int y) const { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }

    bool writePNG(const std::filesystem::path& path) const {
        return stbi_write_png(path.c_str(), width_, height_, 4, pixels_.data(), width_ * 4) != 0;
    }

private:
    int width_, height_;
    std::vector<Rgba> pixels_;
};

} // namespace imagegen
