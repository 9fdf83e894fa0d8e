#pragma once
// Background image downloads of the house promotions: each download runs on a thread of its
// own with a synchronous fetch and decodes the picture there; the result is handed to the
// main run loop, where `completion` runs. Every view change therefore happens on the main
// thread. The completion receives the decoded image (nullptr when the data is not a picture)
// and whether any data arrived at all (a failed fetch, an HTTP status outside 200-299 or an
// empty body count as no data). Bodies are capped at kMaxImageBytes. Each download counts as
// platform::BackgroundWork until its result is queued on the main run loop.
//
// A completion is dropped when the main run loop is reset before it runs; callers capture
// their owner weakly so that a completion for an owner that is gone does nothing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ui/Image.h"

namespace promo {

inline constexpr std::int64_t kMaxImageBytes = 4 * 1024 * 1024;
inline constexpr double kImageDownloadTimeout = 60.0;

using ImageCompletion = std::function<void(std::shared_ptr<platform::Image> image, bool gotData)>;

// Starts the download of `url` on a background thread.
void loadImageInBackground(const std::string& url, ImageCompletion completion);

// Tests: downloads started and whose completion has not yet been handed to the main run loop.
std::size_t backgroundImageDownloadsInFlight();

} // namespace promo
