#include "tangent/TGViewCategories.h"

#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace tangent {

namespace {
constexpr std::string_view kOkButton = "OK";
}

std::shared_ptr<platform::ViewController> respondingViewController(const platform::View& view) {
    const platform::Responder* responder = &view;
    while (auto* asView = dynamic_cast<const platform::View*>(responder)) {
        if (dynamic_cast<const platform::Window*>(asView))
            return nullptr;
        responder = asView->nextResponder();
    }
    if (auto* controller = dynamic_cast<const platform::ViewController*>(responder))
        return const_cast<platform::ViewController*>(controller)->sharedController();
    return nullptr;
}

std::shared_ptr<platform::ViewController> rootRespondingViewController(const platform::View& view) {
    auto last = respondingViewController(view);
    const platform::Responder* responder = last.get();
    while (responder && !dynamic_cast<const platform::Window*>(responder)) {
        if (auto* controller = dynamic_cast<const platform::ViewController*>(responder))
            last = const_cast<platform::ViewController*>(controller)->sharedController();
        responder = responder->nextResponder();
    }
    return last;
}

void updateBoundsToFrame(platform::View& view) {
    const auto frame = view.frame();
    view.setBounds(platform::Rect{0, 0, frame.size.width, frame.size.height});
    view.setCenter(platform::Point{frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2});
}

void updateBoundsToFrame(platform::View& view, const platform::Rect& frame) {
    view.setFrame(frame);
    updateBoundsToFrame(view);
}

bool isSupportedByDevice(std::string_view url) {
    return platform::Application::shared().canOpenURL(url);
}

void showAlert(std::string title, std::string message) {
    platform::AlertView::create(std::move(title), std::move(message), {}, std::string(kOkButton))->show();
}

} // namespace tangent
