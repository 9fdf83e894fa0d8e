#pragma once
// View, URL and alert helpers of the Tangent client: finding the view controller that owns a
// view, matching bounds to frames, finding a child view by type, asking whether the device
// can open a URL, and showing a one-button alert. Main thread only.
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/Geometry.h"

namespace platform {
class View;
class ViewController;
} // namespace platform

namespace tangent {

// The view controller reached by walking the responder chain up from `view` through views
// that are not windows; nullptr when the walk ends elsewhere.
std::shared_ptr<platform::ViewController> respondingViewController(const platform::View& view);
// From respondingViewController on up the chain until a window or the end: the last view
// controller met.
std::shared_ptr<platform::ViewController> rootRespondingViewController(const platform::View& view);
// Bounds (0, 0, width, height) and centre at the frame's middle.
void updateBoundsToFrame(platform::View& view);
void updateBoundsToFrame(platform::View& view, const platform::Rect& frame);
// The view itself when it is a T, else the first T in a depth-first search of the subviews.
template <typename T> std::shared_ptr<T> findChildWithClass(const std::shared_ptr<platform::View>& view);
// Whether the application can open the URL.
bool isSupportedByDevice(std::string_view url);
// Shows at once an alert with the title, the message and one "OK" button.
void showAlert(std::string title, std::string message);

} // namespace tangent

#include "platform/ui/View.h"

namespace tangent {
template <typename T> std::shared_ptr<T> findChildWithClass(const std::shared_ptr<platform::View>& view) {
    if (!view)
        return nullptr;
    if (auto match = std::dynamic_pointer_cast<T>(view))
        return match;
    for (const auto& child : view->subviews())
        if (auto match = findChildWithClass<T>(child))
            return match;
    return nullptr;
}
} // namespace tangent
