#include "cobalt/CBResources.h"

#include <cstdint>
#include <cstdio>

#include "platform/foundation/Strings.h"
#include "platform/ui/Image.h"

namespace cobalt {
namespace resources {
// Written by the build (resources/CobaltImageGenerator.cpp).
extern const std::uint8_t cobalt_backButton_png[];
extern const std::size_t cobalt_backButton_png_size;
extern const std::uint8_t cobalt_backButtonDisabled_png[];
extern const std::size_t cobalt_backButtonDisabled_png_size;
extern const std::uint8_t cobalt_forwardButton_png[];
extern const std::size_t cobalt_forwardButton_png_size;
extern const std::uint8_t cobalt_forwardButtonDisabled_png[];
extern const std::size_t cobalt_forwardButtonDisabled_png_size;
} // namespace resources

namespace {

std::shared_ptr<platform::Image> decode(const std::uint8_t* bytes, std::size_t size, const char* name) {
    return platform::Image::fromBytes(std::string_view(reinterpret_cast<const char*>(bytes), size), name);
}

} // namespace

const std::string& CBResources::youtubeTemplateHTML() {
    static const std::string kTemplate =
        "<html><head><meta name=\"viewport\" content=\"width=%d\" /><title>YouTube</title><style>body "
        "{background: #000000;width: 100%%;height: 100%%;margin: 0px;}</style></head><body><embed src=\"%@\" "
        "type=\"application/x-shockwave-flash\" width=\"%0.0f\" height=\"%0.0f\"></embed></body></html>";
    return kTemplate;
}

std::string CBResources::youtubePage(int screenWidth, const std::string& videoURL, double width, double height) {
    // The template is filled piece by piece: the address goes in as text, never as a format.
    std::string out;
    const std::string& t = youtubeTemplateHTML();
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '%') {
            out += t[i];
            continue;
        }
        if (t.compare(i, 2, "%%") == 0) {
            out += '%';
            ++i;
        } else if (t.compare(i, 2, "%d") == 0) {
            out += std::to_string(screenWidth);
            ++i;
        } else if (t.compare(i, 2, "%@") == 0) {
            out += platform::escapeHTML(videoURL);
            ++i;
        } else if (t.compare(i, 6, "%0.0f\"") == 0) {
            char number[64];
            std::snprintf(number, sizeof number, "%0.0f", width);
            out += number;
            width = height; // the second number is the height
            i += 4;
        } else {
            out += t[i];
        }
    }
    return out;
}

std::shared_ptr<platform::Image> CBResources::backButton() {
    static auto image = decode(resources::cobalt_backButton_png, resources::cobalt_backButton_png_size, "backButton");
    return image;
}

std::shared_ptr<platform::Image> CBResources::backButtonDisabled() {
    static auto image = decode(resources::cobalt_backButtonDisabled_png, resources::cobalt_backButtonDisabled_png_size,
                               "backButtonDisabled");
    return image;
}

std::shared_ptr<platform::Image> CBResources::forwardButton() {
    static auto image =
        decode(resources::cobalt_forwardButton_png, resources::cobalt_forwardButton_png_size, "forwardButton");
    return image;
}

std::shared_ptr<platform::Image> CBResources::forwardButtonDisabled() {
    static auto image = decode(resources::cobalt_forwardButtonDisabled_png,
                               resources::cobalt_forwardButtonDisabled_png_size, "forwardButtonDisabled");
    return image;
}

} // namespace cobalt
