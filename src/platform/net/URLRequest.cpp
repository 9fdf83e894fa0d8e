#include "platform/net/URLRequest.h"

#include <cmath>

namespace platform {

URLRequest::URLRequest(URL url, URLRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy) {
    setTimeoutInterval(timeoutInterval);
}

std::optional<URLRequest> URLRequest::withURLString(std::string_view text) {
    auto url = URL::parse(text);
    if (!url || !url->isAbsolute())
        return std::nullopt;
    return URLRequest(std::move(*url));
}

void URLRequest::setTimeoutInterval(double seconds) {
    timeout_ = (std::isfinite(seconds) && seconds > 0) ? seconds : kDefaultTimeoutInterval;
}

} // namespace platform
