// Draws the rich-media engine's built-in images (the mini browser's toolbar and buttons, the
// interstitial close button and the engine's other pictures) and writes them, as Base64 text
// of their PNG or JPEG files, into a C++ source of program-wide string constants named after
// the images (`back_png`, `back_png_iPad`, `closebtn_png`, `bg_a_jpg`, ...). The same source
// gets the engine's own page script, read from the file given, as `mrbridge_js`. Run by the
// build, so the images are made from this code rather than kept as binary files.
//
// Usage: vellum_image_generator OUTPUT.cpp PAGE_SCRIPT.js
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using imagegen::Canvas;
using imagegen::Rgba;

constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kGreyTranslucent{160, 160, 160, 110};
constexpr Rgba kBlack{0, 0, 0, 255};

Canvas arrow(int w, int h, bool left, Rgba c) {
    Canvas canvas(w, h);
    const double m = 3;
    if (left)
        canvas.triangle(w - m, m, w - m, h - m, m, h / 2.0, c);
    else
        canvas.triangle(m, m, m, h - m, w - m, h / 2.0, c);
    return canvas;
}

Canvas cross(int size) {
    Canvas canvas(size, size);
    const double m = 4;
    canvas.line(m, m, size - m, size - m, 3, kWhite);
    canvas.line(size - m, m, m, size - m, 3, kWhite);
    return canvas;
}

Canvas toolbarSlice(int height) {
    Canvas canvas(1, height);
    canvas.fill([](double, double) { return true; },
                [=](int, int y) {
                    const auto v = static_cast<std::uint8_t>(std::lround(80 * (1.0 - double(y) / (height - 1))));
                    return Rgba{v, v, v, 255};
                });
    return canvas;
}

Canvas closeButton() {
    Canvas canvas(52, 52);
    canvas.triangle(0, 52, 52, 0, 52, 52, kBlack);
    canvas.text(22, 36, "CLOSE", 1.2, kWhite);
    return canvas;
}

// A vertical grey tab with words written down it: the words are drawn across a landscape
// canvas, which is then turned a quarter turn.
Canvas tab(int w, int h, const std::vector<std::string>& words) {
    Canvas turned(h, w, {90, 90, 90, 255});
    double y = (w - 9.0 * static_cast<double>(words.size())) / 2;
    for (const auto& word : words) {
        turned.text((h - turned.textWidth(word, 1.0)) / 2, y, word, 1.0, kWhite);
        y += 9;
    }
    Canvas canvas(w, h);
    canvas.fill([](double, double) { return true; }, [&](int x, int yy) { return turned.at(h - 1 - yy, x); });
    return canvas;
}

Canvas strip() {
    Canvas canvas(499, 41, kBlack);
    canvas.rect(6, 8, 25, 25, {200, 40, 40, 255});
    canvas.text(40, 14, "ADS BY VELLUM", 1.5, kWhite);
    return canvas;
}

Canvas glow(Rgba centre) {
    Canvas canvas(480, 106, kBlack);
    canvas.fill([](double, double) { return true; },
                [=](int x, int y) {
                    const double dx = (x - 240) / 240.0, dy = (y - 53) / 53.0;
                    const double t = std::clamp(1.0 - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
                    return Rgba{centre.r, centre.g, centre.b, static_cast<std::uint8_t>(std::lround(t * 255))};
                });
    return canvas;
}

Canvas logo(Rgba colour) {
    Canvas canvas(125, 48);
    canvas.rect(0, 0, 125, 48, {colour.r, colour.g, colour.b, 255});
    canvas.text(14, 16, "VELLUM", 2.0, kWhite);
    return canvas;
}

std::string base64(const std::string& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i + 2]);
        out += {kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63], kAlphabet[n & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned n = std::uint8_t(bytes[i]) << 16;
        out += {kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned n = (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8);
        out += {kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63], '='};
    }
    return out;
}

// The text as a C++ string literal, cut into lines.
std::string literal(const std::string& text) {
    std::string out = "\"";
    std::size_t column = 0;
    for (unsigned char c : text) {
        if (column++ >= 100) {
            out += "\"\n    \"";
            column = 0;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n\"\n    \""; column = 0; break;
        case '?': out += "\\?"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\%03o", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp PAGE_SCRIPT.js\n", argv[0]);
        return 2;
    }
    std::ifstream scriptFile(argv[2], std::ios::binary);
    if (!scriptFile) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    const std::string script((std::istreambuf_iterator<char>(scriptFile)), std::istreambuf_iterator<char>());
    struct Image {
        const char* key;
        const char* constant;
        Canvas canvas;
        bool jpeg;
    };
    const Image images[] = {
        {"back.png", "back_png", arrow(20, 20, true, kWhite), false},
        {"back_disabled.png", "back_disabled_png", arrow(20, 20, true, kGreyTranslucent), false},
        {"forward.png", "forward_png", arrow(20, 20, false, kWhite), false},
        {"forward_disabled.png", "forward_disabled_png", arrow(20, 20, false, kGreyTranslucent), false},
        {"close.png", "close_png", cross(20), false},
        {"toolbar_slice.png", "toolbar_slice_png", toolbarSlice(30), false},
        {"back_iPad.png", "back_png_iPad", arrow(17, 20, true, kWhite), false},
        {"back_disabled_iPad.png", "back_disabled_png_iPad", arrow(17, 20, true, kGreyTranslucent), false},
        {"forward_iPad.png", "forward_png_iPad", arrow(17, 20, false, kWhite), false},
        {"forward_disabled_iPad.png", "forward_disabled_png_iPad", arrow(17, 20, false, kGreyTranslucent), false},
        {"close_iPad.png", "close_png_iPad", cross(19), false},
        {"toolbar_slice_iPad.png", "toolbar_slice_png_iPad", toolbarSlice(49), false},
        {"closebtn.png", "closebtn_png", closeButton(), false},
        {"More.png", "More_png", tab(36, 110, {"MORE", "INFO"}), false},
        {"Skip.png", "Skip_png", tab(36, 130, {"SKIP", "THIS AD"}), false},
        {"AdsByVellumOverlay.png", "AdsByVellumOverlay_png", strip(), false},
        {"bg_a.jpg", "bg_a_jpg", glow({200, 60, 160, 255}), true},
        {"bg_b.jpg", "bg_b_jpg", glow({60, 140, 220, 255}), true},
        {"bg_c.jpg", "bg_c_jpg", glow({80, 200, 120, 255}), true},
        {"ml_logo_a.png", "ml_logo_a_png", logo({200, 40, 40, 255}), false},
        {"ml_logo_b.png", "ml_logo_b_png", logo({40, 40, 200, 255}), false},
    };
    std::ostringstream out;
    out << "// Generated by vellum_image_generator from resources/VellumImageGenerator.cpp and\n"
           "// src/vellum/richmedia/mrbridge.js. Do not edit.\n"
           "#include \"vellum/richmedia/VellumResourceStrings.h\"\n\nnamespace vellum {\n\n";
    for (const auto& image : images)
        out << "extern const char* const " << image.constant << " = " << literal(base64(image.canvas.encode(image.jpeg)))
            << ";\n";
    out << "\nconst VellumResourceString kVellumResourceStrings[] = {\n";
    for (const auto& image : images)
        out << "    {\"" << image.key << "\", " << image.constant << "},\n";
    out << "};\nconst std::size_t kVellumResourceStringCount = " << std::size(images) << ";\n\n";
    out << "extern const char* const mrbridge_js = " << literal(script) << ";\n\n} // namespace vellum\n";
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << out.str();
    return file ? 0 : 1;
}
