// Draws the Cobalt ad view's four browser-bar arrows (back and forward, enabled and disabled),
// each an 8 x 10 palette PNG, and writes their bytes into a C++ source as arrays named after
// the images (`cobalt_backButton_png`, ...). Run by the build, so the images come from this code
// rather than from binary files kept in the repository.
//
// Usage: cobalt_image_generator OUTPUT.cpp
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 8;
constexpr int kHeight = 10;

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(Bytes& png, const char* type, const Bytes& data) {
    put32(png, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put32(png, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A left-pointing (back) or right-pointing (forward) filled arrow head; index 1 is the arrow,
// index 0 transparent.
Bytes arrowPNG(bool back, std::array<std::uint8_t, 4> colour) {
    Bytes raw;
    for (int y = 0; y < kHeight; ++y) {
        raw.push_back(0); // filter: none
        const double half = (kHeight - 1) / 2.0;
        const double reach = kWidth * (1.0 - std::abs(y - half) / (half + 0.5));
        for (int x = 0; x < kWidth; ++x) {
            const int from = back ? kWidth - 1 - x : x; // distance from the arrow's flat side
            raw.push_back(from < reach ? 1 : 0);
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
    packed.resize(packedSize);

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    put32(header, kWidth);
    put32(header, kHeight);
    header.insert(header.end(), {8, 3, 0, 0, 0}); // 8-bit palette indices
    chunk(png, "IHDR", header);
    chunk(png, "PLTE", {0, 0, 0, colour[0], colour[1], colour[2]});
    chunk(png, "tRNS", {0, colour[3]});
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});
    return png;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    constexpr std::array<std::uint8_t, 4> kEnabled = {255, 255, 255, 255};
    // The arrows sit on the bar's grey control: enabled ones are white, disabled ones a dark
    // grey that still shows on it.
    constexpr std::array<std::uint8_t, 4> kDisabled = {48, 48, 48, 255};
    struct Entry {
        const char* name;
        Bytes png;
    };
    const Entry entries[] = {
        {"cobalt_backButton_png", arrowPNG(true, kEnabled)},
        {"cobalt_backButtonDisabled_png", arrowPNG(true, kDisabled)},
        {"cobalt_forwardButton_png", arrowPNG(false, kEnabled)},
        {"cobalt_forwardButtonDisabled_png", arrowPNG(false, kDisabled)},
    };
    std::string source = "// Made by cobalt_image_generator; do not edit.\n#include <cstddef>\n#include <cstdint>\n"
                         "namespace cobalt::resources {\n";
    for (const auto& e : entries) {
        source += "extern const std::uint8_t " + std::string(e.name) + "[] = {";
        for (std::size_t i = 0; i < e.png.size(); ++i)
            source += (i % 16 == 0 ? "\n    " : " ") + std::to_string(e.png[i]) + ",";
        source += "\n};\nextern const std::size_t " + std::string(e.name) + "_size = " + std::to_string(e.png.size()) +
                  ";\n";
    }
    source += "} // namespace cobalt::resources\n";
    std::ofstream out(argv[1], std::ios::binary);
    out << source;
    return out ? 0 : 1;
}
