#include "platform/ui/Image.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/ui/FileSupport.h"

// The decoder and encoder are compiled here, privately (static functions), with their own
// warnings silenced: they are third-party code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace platform {
namespace {

constexpr int kChannels = 4;
constexpr const char* kDefaultImageType = "png";

std::mutex& cacheMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::map<std::string, std::shared_ptr<Image>, std::less<>>& cache() {
    static auto* c = new std::map<std::string, std::shared_ptr<Image>, std::less<>>;
    return *c;
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<Data*>(context);
    auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

Image::Image(int width, int height, std::vector<std::uint8_t> pixels, std::string name, double scale)
    : width_(width), height_(height), scale_(scale > 0 ? scale : 1.0), pixels_(std::move(pixels)),
      name_(std::move(name)) {}

namespace {

// Reads the picture's size from its header, refusing what is empty, too large or unknown.
bool readHeader(std::string_view bytes, int& width, int& height) {
    if (bytes.empty() || bytes.size() > Image::kMaxEncodedBytes || bytes.size() > std::size_t(INT32_MAX))
        return false;
    int n = 0;
    // The dimensions are checked before decoding, so a hostile header cannot ask for gigabytes.
    if (!stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), int(bytes.size()), &width, &height,
                               &n))
        return false;
    return width > 0 && height > 0 && width <= Image::kMaxDimension && height <= Image::kMaxDimension;
}

// Decodes `bytes` into RGBA rows of exactly width × height; nullopt when it cannot.
std::optional<std::vector<std::uint8_t>> decode(std::string_view bytes, int width, int height) {
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), int(bytes.size()), &w, &h, &n, kChannels);
    if (!pixels)
        return std::nullopt;
    std::optional<std::vector<std::uint8_t>> out;
    if (w == width && h == height)
        out.emplace(pixels, pixels + std::size_t(w) * std::size_t(h) * kChannels);
    stbi_image_free(pixels);
    return out;
}

} // namespace

std::shared_ptr<Image> Image::fromBytes(std::string_view bytes, std::string name) {
    int w = 0, h = 0;
    if (!readHeader(bytes, w, h))
        return nullptr;
    auto pixels = decode(bytes, w, h);
    if (!pixels)
        return nullptr;
    return std::make_shared<Image>(w, h, std::move(*pixels), std::move(name));
}

const std::vector<std::uint8_t>& Image::pixels() const {
    std::call_once(decodeOnce_, [this] { decodePending(); });
    return pixels_;
}

void Image::decodePending() const {
    if (encoded_.empty())
        return;
    if (auto decoded = decode(encoded_, width_, height_)) {
        pixels_ = std::move(*decoded);
    } else {
        logLine("Image: cannot decode the resource " + name_);
        pixels_.assign(std::size_t(width_) * std::size_t(height_) * kChannels, 0);
    }
    std::string().swap(encoded_);
}

std::shared_ptr<Image> Image::fromData(const Data& bytes, std::string name) {
    return fromBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                     std::move(name));
}

std::shared_ptr<Image> Image::fromFile(const std::filesystem::path& path) {
    auto bytes = detail::readSmallFile(path, kMaxEncodedBytes);
    if (!bytes)
        return nullptr;
    return fromBytes(*bytes, path.filename().string());
}

std::shared_ptr<Image> Image::named(std::string_view name) {
    if (name.empty())
        return nullptr;
    {
        std::lock_guard lock(cacheMutex());
        if (auto it = cache().find(name); it != cache().end())
            return it->second;
    }
    std::optional<std::filesystem::path> path;
    if (name.find('.') == std::string_view::npos)
        path = Bundle::main().pathForResource(name, kDefaultImageType);
    if (!path)
        path = Bundle::main().pathForResource(name);
    if (!path)
        return nullptr;
    auto bytes = detail::readSmallFile(*path, kMaxEncodedBytes);
    int w = 0, h = 0;
    if (!bytes || !readHeader(*bytes, w, h)) {
        logLine("Image: cannot decode the resource " + path->filename().string());
        return nullptr;
    }
    auto image = std::make_shared<Image>(w, h, std::vector<std::uint8_t>{}, path->filename().string());
    image->encoded_ = std::move(*bytes);
    std::lock_guard lock(cacheMutex());
    cache().emplace(std::string(name), image);
    return image;
}

std::shared_ptr<Image> Image::solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                                    std::uint8_t a, std::string name) {
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
        return nullptr;
    std::vector<std::uint8_t> pixels(std::size_t(width) * std::size_t(height) * kChannels);
    for (std::size_t i = 0; i < pixels.size(); i += kChannels) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
        pixels[i + 3] = a;
    }
    return std::make_shared<Image>(width, height, std::move(pixels), std::move(name));
}

void Image::clearCache() {
    std::lock_guard lock(cacheMutex());
    cache().clear();
}

Data Image::pngRepresentation() const {
    Data out;
    if (pixels().empty())
        return out;
    if (!stbi_write_png_to_func(appendBytes, &out, width_, height_, kChannels, pixels_.data(),
                                width_ * kChannels))
        out.clear();
    return out;
}

Data Image::jpegRepresentation(double quality) const {
    Data out;
    if (pixels().empty())
        return out;
    int q = std::clamp(int(quality * 100 + 0.5), 1, 100);
    if (!stbi_write_jpg_to_func(appendBytes, &out, width_, height_, kChannels, pixels_.data(), q))
        out.clear();
    return out;
}

} // namespace platform
