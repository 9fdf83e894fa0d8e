#include "promo/ImageLoader.h"

#include <atomic>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/BackgroundWork.h"
#include "platform/runloop/RunLoop.h"

namespace promo {
namespace {

constexpr int kFirstSuccessStatus = 200;
constexpr int kLastSuccessStatus = 299;

std::atomic<std::size_t> inFlight{0};

} // namespace

void loadImageInBackground(const std::string& url, ImageCompletion completion) {
    ++inFlight;
    // Counted as background work until its answer is queued on the main run loop, so those who
    // wait for the program to come to rest wait for the picture too.
    platform::BackgroundWork::begin();
    std::thread([url, completion = std::move(completion)]() mutable {
        std::shared_ptr<platform::Image> image;
        bool gotData = false;
        if (auto request = platform::URLRequest::withURLString(platform::percentEscapeURLString(url))) {
            request->setTimeoutInterval(kImageDownloadTimeout);
            auto reply = platform::URLConnection::sendSynchronousRequest(*request, kMaxImageBytes);
            bool ok = !reply.error && reply.response && reply.response->statusCode() >= kFirstSuccessStatus &&
                      reply.response->statusCode() <= kLastSuccessStatus;
            if (ok && !reply.data.empty()) {
                gotData = true;
                image = platform::Image::fromData(reply.data);
            }
        }
        platform::performOnMain([image, gotData, completion = std::move(completion)] {
            if (completion)
                platform::callGuarded("promotion image", [&] { completion(image, gotData); });
        });
        platform::BackgroundWork::end();
        --inFlight;
    }).detach();
}

std::size_t backgroundImageDownloadsInFlight() {
    return inFlight.load();
}

} // namespace promo
