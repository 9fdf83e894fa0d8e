#pragma once
// The remote services for one test: starts a services::ServiceHost on a free loopback port,
// points the process's services base URL at it, and gives the test its request log and fault
// scripting. On destruction it cancels every URLConnection started on this thread (so no
// callback of this test reaches the next one), stops the server and restores the base URL.
//
//   fwtest::ManualClockScope clock;
//   fwtest::LoopbackServices services;
//   services.setFault("/slow", services::Fault::delay(30));
//   auto request = platform::URLRequest(services.urlFor("/slow"));
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"
#include "services/ServiceHost.h"

namespace fwtest {

class LoopbackServices {
  public:
    LoopbackServices();
    ~LoopbackServices();
    LoopbackServices(const LoopbackServices&) = delete;
    LoopbackServices& operator=(const LoopbackServices&) = delete;

    services::ServiceHost& host() { return host_; }
    // "http://127.0.0.1:PORT"
    const std::string& baseURL() const { return baseURL_; }
    // The base URL followed by `pathAndQuery` ("/net/hello.txt?x=1").
    std::string url(std::string_view pathAndQuery) const { return host_.url(pathAndQuery); }
    platform::URL urlFor(std::string_view pathAndQuery) const;

    void handle(std::string method, std::string path, services::ServiceHandler handler) {
        host_.handle(std::move(method), std::move(path), std::move(handler));
    }
    void setFault(std::string path, services::Fault fault) {
        host_.setFault(std::move(path), std::move(fault));
    }
    std::vector<services::LoggedRequest> requests() const { return host_.requests(); }
    std::vector<services::LoggedRequest> requestsTo(std::string_view path) const {
        return host_.requestsTo(path);
    }
    std::size_t requestCount(std::string_view path) const { return host_.requestCount(path); }

    // A loopback URL where nothing listens.
    static std::string closedPortURL() { return services::ServiceHost::closedPortURL(); }

  private:
    services::ServiceHost host_;
    std::string baseURL_;
    std::string previousServicesURL_;
};

} // namespace fwtest
