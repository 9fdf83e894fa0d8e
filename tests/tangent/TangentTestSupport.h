#pragma once
// Shared pieces of the Tangent tests: a request delegate that records the one outcome.
#include <optional>
#include <string>

#include "tangent/TGRequest.h"

namespace tangenttest {

struct RecordingRequestDelegate : tangent::TGRequestDelegate {
    int finished = 0;
    int failed = 0;
    std::optional<platform::Error> error;
    std::optional<std::string> content;
    std::string appendToUrl;

    void requestDidFinishLoading(tangent::TGRequest& request) override {
        ++finished;
        content = request.content();
    }
    void requestDidFailWithError(tangent::TGRequest&, const std::optional<platform::Error>& e) override {
        ++failed;
        error = e;
    }
    void modifyUrl(std::string& url, tangent::TGRequest&) override { url += appendToUrl; }
    int outcomes() const { return finished + failed; }
};

} // namespace tangenttest
