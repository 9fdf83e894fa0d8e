#pragma once
// A reply that a test changes while the loopback server's threads answer with it. Handlers
// hold it by shared pointer, so a late request never reads a reply the test has let go.
//
//   auto reply = std::make_shared<fwtest::SharedReply>(services::ServiceReply{200, "<p>a</p>", "text/html", {}});
//   services.handle("GET", "/ad", reply->handler());
//   reply->set({200, "<p>b</p>", "text/html", {}});
#include <memory>
#include <mutex>

#include "services/ServiceHost.h"

namespace fwtest {

class SharedReply : public std::enable_shared_from_this<SharedReply> {
public:
    explicit SharedReply(services::ServiceReply reply = {}) : reply_(std::move(reply)) {}

    void set(services::ServiceReply reply) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(reply);
    }
    services::ServiceReply get() const {
        std::lock_guard lock(mutex_);
        return reply_;
    }
    // A handler that answers with the reply as it is when the request arrives.
    services::ServiceHandler handler() {
        return [self = shared_from_this()](const services::LoggedRequest&) { return self->get(); };
    }

private:
    mutable std::mutex mutex_;
    services::ServiceReply reply_;
};

} // namespace fwtest
