// Draws the drive application's bundle images and writes them as PNG files into the folder
// given as the only argument (the main bundle's resource folder). Run by the build, so the
// images are made from this source rather than kept as binary files.
//
// Every image is drawn from simple shapes (fills, gradients, rounded rectangles, triangles)
// and the small stroke font of stb_easy_font, scaled up.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

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

    // Text centred horizontally on `centreX`.
    void centredText(double centreX, double y, const std::string& s, double scale, Rgba c) {
        std::string copy = s;
        double w = stb_easy_font_width(copy.data()) * scale;
        text(centreX - w / 2, y, s, scale, c);
    }

    bool writePNG(const std::filesystem::path& path) const {
        return stbi_write_png(path.c_str(), width_, height_, 4, pixels_.data(), width_ * 4) != 0;
    }

private:
    int width_, height_;
    std::vector<Rgba> pixels_;
};

constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kNavy{20, 40, 80, 255};
constexpr Rgba kSteel{70, 110, 160, 255};
constexpr Rgba kLight{235, 238, 242, 255};
constexpr Rgba kSilver{200, 205, 212, 255};
constexpr Rgba kOrange{240, 140, 30, 255};
constexpr Rgba kGold{250, 200, 60, 255};
constexpr Rgba kGreen{40, 150, 70, 255};
constexpr Rgba kLime{110, 200, 90, 255};

Canvas launchImage() {
    Canvas c(320, 480);
    c.verticalGradient(kNavy, kSteel);
    c.roundedRect(100, 150, 120, 70, 10, kSilver, {150, 155, 165, 255}); // the drive's body
    c.rect(200, 175, 32, 20, {120, 125, 135, 255});                      // its plug
    c.rect(204, 180, 8, 4, kNavy);
    c.rect(204, 186, 8, 4, kNavy);
    c.centredText(160, 250, "FERRO WICK", 3.0, kWhite);
    c.centredText(160, 290, "portable file drive", 1.5, kLight);
    return c;
}

Canvas rowBackground() {
    Canvas c(320, 70);
    c.verticalGradient(kWhite, {225, 229, 235, 255});
    c.rect(0, 69, 320, 1, {180, 185, 195, 255});
    return c;
}

// The storage button's arrow: pointing down while the panel is up, up while it is down.
Canvas arrow(bool up, bool highlighted) {
    Canvas c(30, 40);
    Rgba colour = highlighted ? kGold : kWhite;
    if (up)
        c.triangle(15, 8, 3, 30, 27, 30, colour);
    else
        c.triangle(3, 10, 27, 10, 15, 32, colour);
    return c;
}

Canvas upgradeImage(bool lit) {
    Canvas c(140, 40);
    c.roundedRect(2, 4, 136, 32, 8, lit ? kGold : kLime, lit ? kOrange : kGreen);
    c.centredText(70, 12, "UPGRADE", 2.5, lit ? kNavy : kWhite);
    return c;
}

// The help page's hint arrows.
Canvas hintArrow(bool up) {
    Canvas c(38, 33);
    c.roundedRect(0, 0, 38, 33, 8, {0, 0, 0, 140}, {0, 0, 0, 140});
    if (up)
        c.triangle(19, 6, 6, 26, 32, 26, kWhite);
    else
        c.triangle(6, 7, 32, 7, 19, 27, kWhite);
    return c;
}

Canvas helpPage(int number, const std::vector<std::string>& lines) {
    Canvas c(320, 416);
    c.verticalGradient(kLight, kSilver);
    c.rect(0, 0, 320, 60, kSteel);
    c.centredText(160, 18, "HELP " + std::to_string(number) + " / 3", 3.0, kWhite);
    double y = 110;
    for (const auto& line : lines) {
        c.centredText(160, y, line, 2.0, kNavy);
        y += 34;
    }
    return c;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RESOURCE_FOLDER\n", argv[0]);
        return 2;
    }
    std::filesystem::path out = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", out.c_str(), ec.message().c_str());
        return 1;
    }
    struct Image {
        const char* name;
        Canvas canvas;
    };
    const Image images[] = {
        {"Default.png", launchImage()},
        {"Bar3.png", rowBackground()},
        {"Arrow_2.png", arrow(false, false)},
        {"Arrow_21.png", arrow(false, true)},
        {"Arrow_1.png", arrow(true, false)},
        {"Arrow_11.png", arrow(true, true)},
        {"upgrade.png", upgradeImage(true)},
        {"upgrade1.png", upgradeImage(false)},
        {"Button_Up1.png", hintArrow(true)},
        {"Button_Down1.png", hintArrow(false)},
        {"Help_Page_1.png", helpPage(1, {"Connect the device", "to your computer and", "copy files into",
                                         "Ferro Wick with", "file sharing."})},
        {"Help_Page_2.png", helpPage(2, {"Every file shows", "its name, type,", "date and size.",
                                         "Swipe a row", "to delete it."})},
        {"Help_Page_3.png", helpPage(3, {"Settings choose", "what the list shows", "and lock the drive",
                                         "behind a numeric", "pass key."})},
    };
    for (const auto& image : images) {
        if (!image.canvas.writePNG(out / image.name)) {
            std::fprintf(stderr, "cannot write %s\n", (out / image.name).c_str());
            return 1;
        }
    }
    return 0;
}
