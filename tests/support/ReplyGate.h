#pragma once
// Holds the loopback server's answers to a path until the test opens the gate: for a test that
// needs a reply to arrive only after something else has happened, whatever the machine's load
// (a fixed delay in real time says nothing about order on a busy machine). Handlers hold the
// gate by shared pointer, so a late request never waits on a gate the test has let go; a
// request that waits a minute is answered anyway, so a failing test cannot hang the server.
//
//   auto gate = std::make_shared<fwtest::ReplyGate>();
//   services.handle("GET", "/list", gate->holding({200, json, "application/json", {}}));
//   ...                // what must come first
//   gate->open();
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>

#include "services/ServiceHost.h"

namespace fwtest {

class ReplyGate : public std::enable_shared_from_this<ReplyGate> {
public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

    // A handler that waits until the gate is open, then answers with `reply`.
    services::ServiceHandler holding(services::ServiceReply reply) {
        return [self = shared_from_this(), reply = std::move(reply)](const services::LoggedRequest&) {
            std::unique_lock lock(self->mutex_);
            self->opened_.wait_for(lock, std::chrono::minutes(1), [&] { return self->open_; });
            return reply;
        };
    }

    // The same for the fixture file `path` under the host's fixtures folder.
    services::ServiceHandler holdingFile(const services::ServiceHost& host, const std::string& path,
                                         std::string contentType) {
        std::ifstream in(host.fixturesDir() + path, std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return holding({200, std::move(body), std::move(contentType), {}});
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace fwtest
