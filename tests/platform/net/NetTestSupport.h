#pragma once
// Shared pieces of the net tests: a delegate that records every callback in order.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/URLConnection.h"

namespace nettest {

class RecordingDelegate : public platform::URLConnectionDelegate {
  public:
    // One line per callback: "will-send URL", "will-send URL after 302", "response 200",
    // "data", "finish", "fail -1001".
    std::vector<std::string> events;
    std::vector<std::string> offeredURLs;
    std::optional<platform::URLResponse> response;
    std::string body;
    int dataCallbacks = 0;
    std::optional<platform::Error> error;
    bool finished = false;

    // Optional behaviour, per callback.
    std::function<std::optional<platform::URLRequest>(const platform::URLRequest&,
                                                      const platform::URLResponse*)>
        willSend;
    std::function<void(platform::URLConnection&)> onResponse;
    std::function<void(platform::URLConnection&)> onData;

    bool ended() const { return finished || error.has_value(); }

    std::optional<platform::URLRequest>
    connectionWillSendRequestRedirectResponse(platform::URLConnection&, const platform::URLRequest& request,
                                              const platform::URLResponse* redirectResponse) override {
        offeredURLs.push_back(request.url().absoluteString());
        std::string line = "will-send " + request.url().absoluteString();
        if (redirectResponse)
            line += " after " + std::to_string(redirectResponse->statusCode());
        events.push_back(line);
        return willSend ? willSend(request, redirectResponse) : std::optional(request);
    }
    void connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) override {
        events.push_back("response " + std::to_string(r.statusCode()));
        response = r;
        body.clear();
        if (onResponse)
            onResponse(c);
    }
    void connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) override {
        if (events.empty() || events.back() != "data")
            events.push_back("data");
        ++dataCallbacks;
        body.append(data.begin(), data.end());
        if (onData)
            onData(c);
    }
    void connectionDidFinishLoading(platform::URLConnection&) override {
        events.push_back("finish");
        finished = true;
    }
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& e) override {
        events.push_back("fail " + std::to_string(e.code));
        error = e;
    }
};

} // namespace nettest
