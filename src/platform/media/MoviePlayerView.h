#pragma once
// The view of a movie player: a black rectangle that shows the movie. It holds its player
// weakly; the text screen draws it as "[NAME STATE M:SS/M:SS]" (the content's file name,
// playback state, current time and length), "[NAME loading]" before the movie is loaded and
// "[NAME failed]" when it cannot play; "movie" stands for a missing name.
// Made and owned by its MoviePlayerController, placed by the caller. Main thread only.
#include <memory>
#include <string>

#include "platform/ui/View.h"

namespace platform {

class MoviePlayerController;

class MoviePlayerView : public View {
public:
    explicit MoviePlayerView(std::weak_ptr<MoviePlayerController> player, const Rect& frame = {});

    std::shared_ptr<MoviePlayerController> player() const { return player_.lock(); }
    // What the text screen shows, without the brackets.
    std::string statusText() const;

    void drawText(TextCanvas& canvas, const Rect& rect) const override;

private:
    std::weak_ptr<MoviePlayerController> player_;
};

} // namespace platform
