#pragma once
// LMNIntrinsicImages: the three button pictures of the full-screen screens (the close button
// and the browser's back and forward arrows), held in the program as Base64 PNG text drawn at
// double resolution, decoded once and kept for the process. Main thread only.
#include <memory>
#include <string_view>

#include "platform/ui/Image.h"

namespace lumen {

class LMNIntrinsicImages {
public:
    static std::shared_ptr<platform::Image> closeButton();
    static std::shared_ptr<platform::Image> browserBackButton();
    static std::shared_ptr<platform::Image> browserForwardButton();
    // Decodes standard Base64 PNG text into an image of scale 2; null when it is no picture.
    static std::shared_ptr<platform::Image> createImageFromEncoding(std::string_view encoding);
};

} // namespace lumen
