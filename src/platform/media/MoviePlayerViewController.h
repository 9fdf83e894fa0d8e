#pragma once
// A screen that shows one movie over the whole window: its view holds the movie player's
// view (filling it) and a "Done" button with which the user leaves the movie (the player
// stops and finishes with reason UserExited). The screen owns its player (moviePlayer()),
// whose control style it sets to full screen. Present it with
// presentMoviePlayerViewControllerAnimated and take it away with
// dismissMoviePlayerViewControllerAnimated; it does not dismiss itself. Main thread only.
#include <memory>
#include <optional>

#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/URL.h"
#include "platform/ui/ViewController.h"

namespace platform {

class MoviePlayerController;

class MoviePlayerViewController : public ViewController {
public:
    // `readable`: the folder the player may read files from (none by default; see
    // MoviePlayerController.h).
    static std::shared_ptr<MoviePlayerViewController> create(std::optional<URL> contentURL,
                                                             ReadableFolder readable = {});

    const std::shared_ptr<MoviePlayerController>& moviePlayer() const { return moviePlayer_; }

    void loadView() override;
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation) const override { return true; }

    // The Done button's action.
    void done();

private:
    std::shared_ptr<MoviePlayerController> moviePlayer_;
};

// Presents `controller` modally over `presenter`.
void presentMoviePlayerViewControllerAnimated(ViewController& presenter,
                                              const std::shared_ptr<MoviePlayerViewController>& controller,
                                              bool animated = true);
// Dismisses the movie screen that `presenter` presents; does nothing when it presents no
// movie screen, so a second call never takes away another screen.
void dismissMoviePlayerViewControllerAnimated(ViewController& presenter, bool animated = true);

} // namespace platform
