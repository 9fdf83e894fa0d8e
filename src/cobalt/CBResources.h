#pragma once
// The Cobalt ad view's built-in resources: the video page template and the browser bar's
// four arrow images, decoded from PNG data held in the program (drawn by the build). Main
// thread (the images are decoded once and kept).
#include <memory>
#include <string>

namespace platform {
class Image;
} // namespace platform

namespace cobalt {

class CBResources {
public:
    // A format of the screen width (integer), the video address and the width and height.
    static const std::string& youtubeTemplateHTML();
    // The template filled; the address is escaped for its place in the markup.
    static std::string youtubePage(int screenWidth, const std::string& videoURL, double width, double height);

    static std::shared_ptr<platform::Image> backButton();
    static std::shared_ptr<platform::Image> backButtonDisabled();
    static std::shared_ptr<platform::Image> forwardButton();
    static std::shared_ptr<platform::Image> forwardButtonDisabled();
};

} // namespace cobalt
