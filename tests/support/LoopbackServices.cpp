#include "support/LoopbackServices.h"

#include <gtest/gtest.h>

#include "platform/foundation/Services.h"
#include "platform/net/URLConnection.h"

namespace fwtest {

LoopbackServices::LoopbackServices() : previousServicesURL_(platform::servicesBaseURL()) {
    baseURL_ = host_.start();
    if (baseURL_.empty())
        ADD_FAILURE() << "the loopback services could not start";
    platform::setServicesBaseURL(baseURL_);
}

LoopbackServices::~LoopbackServices() {
    platform::URLConnection::cancelAllForTesting();
    host_.stop();
    platform::setServicesBaseURL(previousServicesURL_);
}

platform::URL LoopbackServices::urlFor(std::string_view pathAndQuery) const {
    auto parsed = platform::URL::parse(url(pathAndQuery));
    if (!parsed) {
        ADD_FAILURE() << "not a URL: " << url(pathAndQuery);
        return *platform::URL::parse(baseURL_ + "/");
    }
    return *parsed;
}

} // namespace fwtest
