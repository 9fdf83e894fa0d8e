#include "platform/media/MoviePlayerViewController.h"

#include "platform/media/MoviePlayerController.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Screen.h"

namespace platform {
namespace {

constexpr Rect kDoneButtonFrame{{6, 6}, {60, 30}};

} // namespace

std::shared_ptr<MoviePlayerViewController> MoviePlayerViewController::create(std::optional<URL> contentURL,
                                                                             ReadableFolder readable) {
    auto controller = std::make_shared<MoviePlayerViewController>();
    controller->moviePlayer_ = MoviePlayerController::create(std::move(contentURL), std::move(readable));
    controller->moviePlayer_->setControlStyle(MovieControlStyle::Fullscreen);
    return controller;
}

void MoviePlayerViewController::loadView() {
    auto root = std::make_shared<View>(Screen::main().bounds());
    root->setBackgroundColor(Color::blackColor());
    root->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    auto playerView = moviePlayer_->view();
    playerView->setFrame(root->bounds());
    playerView->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    root->addSubview(playerView);
    auto doneButton = Button::buttonWithType(ButtonType::RoundedRect);
    doneButton->setFrame(kDoneButtonFrame);
    doneButton->setTitle("Done");
    doneButton->addTarget(std::static_pointer_cast<MoviePlayerViewController>(sharedController()),
                          &MoviePlayerViewController::done, ControlEvent::TouchUpInside);
    root->addSubview(doneButton);
    setView(root);
}

void MoviePlayerViewController::done() {
    moviePlayer_->stop();
}

void presentMoviePlayerViewControllerAnimated(ViewController& presenter,
                                              const std::shared_ptr<MoviePlayerViewController>& controller,
                                              bool animated) {
    if (controller)
        presenter.presentModalViewController(controller, animated);
}

void dismissMoviePlayerViewControllerAnimated(ViewController& presenter, bool animated) {
    if (std::dynamic_pointer_cast<MoviePlayerViewController>(presenter.presentedViewController()))
        presenter.dismissModalViewControllerAnimated(animated);
}

} // namespace platform
