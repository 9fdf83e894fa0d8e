#include "platform/media/MoviePlayerView.h"

#include <cmath>
#include <cstdio>

#include "platform/media/MoviePlayerController.h"
#include "platform/ui/TextRenderer.h"

namespace platform {
namespace {

std::string clockText(double seconds) {
    long whole = std::isfinite(seconds) && seconds > 0 ? long(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

} // namespace

MoviePlayerView::MoviePlayerView(std::weak_ptr<MoviePlayerController> player, const Rect& frame)
    : View(frame), player_(std::move(player)) {
    setBackgroundColor(Color::blackColor());
}

std::string MoviePlayerView::statusText() const {
    auto player = player_.lock();
    if (!player)
        return "movie";
    std::string name = player->contentURL() ? player->contentURL()->lastPathComponent() : "";
    std::string text = name.empty() ? "movie" : name;
    if (player->loadError())
        return text + " failed";
    if (!player->isPreparedToPlay())
        return player->contentURL() ? text + " loading" : text;
    return text + " " + toString(player->playbackState()) + " " + clockText(player->currentPlaybackTime()) +
           "/" + clockText(player->duration());
}

void MoviePlayerView::drawText(TextCanvas& canvas, const Rect& rect) const {
    canvas.writeInRect(rect, "[" + statusText() + "]", 1);
}

} // namespace platform
