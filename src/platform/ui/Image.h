#pragma once
// A decoded picture: its size in pixels and its pixels as 8-bit RGBA rows. Decoding
// (PNG, JPEG, GIF, BMP) happens once, when the image is made; data that cannot be decoded
// gives no image (nullptr), never an empty one. Images are immutable after creation and
// safe to share between threads (the background image loaders decode off the main thread).
//
// `Image::named` looks the name up among the main bundle's resources (adding ".png" when
// the name has no extension) and keeps what it found in a process-wide cache. A resource's
// size is read from its header at once, its pixels are decoded the first time they are
// asked for: most resources a screen names are never painted, and decoding them all made up
// much of the application's start-up. A resource whose header reads but whose pixels do not
// decode is reported once and stays fully transparent.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/Geometry.h"

namespace platform {

class Image {
public:
    // Upper bounds on what is decoded: larger pictures are refused (no image).
    static constexpr int kMaxDimension = 16384;
    static constexpr std::size_t kMaxEncodedBytes = 64u * 1024 * 1024;

    static std::shared_ptr<Image> named(std::string_view name);
    static std::shared_ptr<Image> fromFile(const std::filesystem::path& path);
    static std::shared_ptr<Image> fromData(const Data& bytes, std::string name = {});
    static std::shared_ptr<Image> fromBytes(std::string_view bytes, std::string name = {});
    // A picture of one colour (tests, placeholders).
    static std::shared_ptr<Image> solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                                        std::uint8_t a = 255, std::string name = {});
    static void clearCache();

    // Size in points (pixels divided by the scale).
    Size size() const { return {double(width_) / scale_, double(height_) / scale_}; }
    int pixelWidth() const { return width_; }
    int pixelHeight() const { return height_; }
    double scale() const { return scale_; }
    // width × height × 4 bytes, rows top to bottom.
    const std::vector<std::uint8_t>& pixels() const;
    // The resource or file name the image came from; empty for images made from data.
    const std::string& name() const { return name_; }

    // The picture encoded as PNG; empty when encoding fails.
    Data pngRepresentation() const;
    // The picture encoded as JPEG with `quality` from 0 to 1; empty when encoding fails.
    Data jpegRepresentation(double quality) const;

    Image(int width, int height, std::vector<std::uint8_t> pixels, std::string name, double scale = 1.0);

private:
    // Decodes the pixels of a resource made by `named` (once, from any thread).
    void decodePending() const;

    int width_;
    int height_;
    double scale_;
    mutable std::vector<std::uint8_t> pixels_;
    std::string name_;
    // The encoded resource until its pixels are decoded; empty otherwise.
    mutable std::string encoded_;
    mutable std::once_flag decodeOnce_;
};

} // namespace platform
