// Draws the bundle images of the drive application and its house promotions and writes them as PNG files into the folder
// given as the only argument (the main bundle's resource folder). Run by the build, so the
// images are made from this source rather than kept as binary files.
//
// Every image is drawn from simple shapes (fills, gradients, rounded rectangles, triangles)
// and the small stroke font of stb_easy_font, scaled up.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using imagegen::Canvas;
using imagegen::mix;
using imagegen::Rgba;

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


// ---- House promotions ----

// The toolbar's news button: a folded newspaper, with a red badge while an item is unseen.
// `scale` 2 draws the double-size form.
Canvas newsIcon(double scale, bool badge) {
    Canvas c(static_cast<int>(40 * scale), static_cast<int>(30 * scale));
    c.roundedRect(6 * scale, 4 * scale, 26 * scale, 22 * scale, 3 * scale, kWhite, kLight);
    c.rect(9 * scale, 8 * scale, 20 * scale, 4 * scale, kNavy);
    for (int line = 0; line < 3; ++line)
        c.rect(9 * scale, (15 + 3.5 * line) * scale, 20 * scale, 1.5 * scale, kSteel);
    if (badge) {
        double cx = 32 * scale, cy = 7 * scale, r = 6 * scale;
        c.fill([=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; },
               [](int, int) { return Rgba{210, 30, 30, 255}; });
        c.centredText(cx, cy - 3.5 * scale, "1", 1.0 * scale, kWhite);
    }
    return c;
}

// A close button: a white cross on a dark disc; `highlighted` lights the disc.
Canvas closeCross(int width, int height, double diameter, bool highlighted) {
    Canvas c(width, height);
    double r = diameter / 2, cx = width / 2.0, cy = height / 2.0;
    Rgba disc = highlighted ? Rgba{200, 60, 40, 230} : Rgba{30, 30, 30, 200};
    c.fill([=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; },
           [=](int, int) { return disc; });
    double arm = r * 0.55, half = std::max(1.0, r * 0.12);
    c.fill(
        [=](double x, double y) {
            double dx = x - cx, dy = y - cy;
            bool inBox = std::fabs(dx) <= arm && std::fabs(dy) <= arm;
            return inBox && (std::fabs(dx - dy) <= half * 1.414 || std::fabs(dx + dy) <= half * 1.414);
        },
        [](int, int) { return kWhite; });
    return c;
}

// The launch pop-up's progress strip, step `step` of 19: a track filling from the left.
Canvas progressStrip(int step) {
    Canvas c(161, 16);
    c.roundedRect(0, 2, 161, 12, 6, {40, 40, 40, 200}, {70, 70, 70, 200});
    double filled = 161.0 * step / 19.0;
    if (filled >= 1)
        c.roundedRect(1, 3, std::max(10.0, filled - 2), 10, 5, kLime, kGreen);
    return c;
}

// The more-apps row while its picture loads.
Canvas rowPlaceholder() {
    Canvas c(300, 100);
    c.roundedRect(0, 0, 300, 100, 10, kSteel, kNavy);
    return c;
}

// A more-apps row whose picture could not be loaded: tapping it loads it again.
Canvas unloadImage() {
    Canvas c(300, 100);
    c.roundedRect(0, 0, 300, 100, 10, {120, 125, 135, 255}, {80, 85, 95, 255});
    c.centredText(150, 30, "Unable to load", 2.5, kWhite);
    c.centredText(150, 62, "tap to try again", 1.8, kLight);
    return c;
}

Canvas moreAppsBackground() {
    Canvas c(320, 480);
    c.verticalGradient(kNavy, {10, 15, 30, 255});
    c.rect(0, 0, 320, 46, kSteel);
    c.centredText(160, 14, "MORE APPS", 2.5, kWhite);
    return c;
}

// The slide view's upgrade button, and the soft band its shine is cut from.
Canvas upgradeButtonImage() {
    Canvas c(140, 40);
    c.roundedRect(0, 0, 140, 40, 8, kGold, kOrange);
    c.centredText(70, 12, "UPGRADE NOW", 2.0, kNavy);
    return c;
}

Canvas shineMask() {
    Canvas c(40, 40);
    c.fill([](double, double) { return true; },
           [](int x, int) {
               double t = 1.0 - std::fabs(x + 0.5 - 20.0) / 20.0;
               return Rgba{255, 255, 255, static_cast<std::uint8_t>(std::lround(255 * t * t))};
           });
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
    const Image promotionImages[] = {
        {"News1.png", newsIcon(1, false)},
        {"News1@2x.png", newsIcon(2, false)},
        {"News_badge.png", newsIcon(1, true)},
        {"News_badge@2x.png", newsIcon(2, true)},
        {"Cross.png", closeCross(100, 50, 40, false)},
        {"Cross_1.png", closeCross(100, 50, 40, true)},
        {"Cross1.png", closeCross(40, 40, 36, false)},
        {"Cross_11.png", closeCross(40, 40, 36, true)},
        {"CrossMore.png", closeCross(40, 40, 34, false)},
        {"CrossMore_H.png", closeCross(40, 40, 34, true)},
        {"Placeholder.png", rowPlaceholder()},
        {"unload.png", unloadImage()},
        {"BackgroundMore.png", moreAppsBackground()},
        {"upgradeButton.png", upgradeButtonImage()},
        {"Mask.png", shineMask()},
    };
    auto write = [&out](const char* name, const Canvas& canvas) {
        if (canvas.writePNG(out / name))
            return true;
        std::fprintf(stderr, "cannot write %s\n", (out / name).c_str());
        return false;
    };
    for (const auto& image : images)
        if (!write(image.name, image.canvas))
            return 1;
    for (const auto& image : promotionImages)
        if (!write(image.name, image.canvas))
            return 1;
    for (int step = 1; step <= 19; ++step)
        if (!write(("ProgressBar" + std::to_string(step) + ".png").c_str(), progressStrip(step)))
            return 1;
    return 0;
}
