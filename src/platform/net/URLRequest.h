#pragma once
// What a URLConnection is asked to load: a URL, a method, header fields, a body, a time-out
// and a cache policy. A plain value: copy it, change the copy, hand it over; connections keep
// their own copy. Header lookup ignores case.
//
// The time-out is the longest the load may stay idle (no response and no data) before it
// fails with "timed out"; 60 seconds unless set. The cache policy is carried for callers that
// state one; loads never answer from a local cache, so every policy fetches from the network.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/net/HTTPHeaders.h"

namespace platform {

enum class URLRequestCachePolicy {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
    ReturnCacheDataElseLoad = 2,
    ReturnCacheDataDontLoad = 3,
};

class URLRequest {
  public:
    static constexpr double kDefaultTimeoutInterval = 60.0;

    explicit URLRequest(URL url,
                        URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy,
                        double timeoutInterval = kDefaultTimeoutInterval);
    // A request for `text`, or nullopt when the text is not an absolute URL.
    static std::optional<URLRequest> withURLString(std::string_view text);

    const URL& url() const { return url_; }
    void setURL(URL url) { url_ = std::move(url); }

    // "GET" unless set; methods are sent as given (upper-case them yourself).
    const std::string& httpMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }

    const HTTPHeaders& allHTTPHeaderFields() const { return headers_; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
        return headers_.value(field);
    }
    // Replaces the field; an empty `value` is sent as an empty field.
    void setValue(std::string_view value, std::string_view field) { headers_.set(field, value); }
    // Appends to the field with ", ".
    void addValue(std::string_view value, std::string_view field) { headers_.add(field, value); }
    void removeValue(std::string_view field) { headers_.remove(field); }

    const std::vector<std::uint8_t>& httpBody() const { return body_; }
    void setHTTPBody(std::vector<std::uint8_t> body) { body_ = std::move(body); }
    void setHTTPBody(std::string_view body) { body_.assign(body.begin(), body.end()); }

    // Seconds; a value that is not positive and finite reads as the default.
    double timeoutInterval() const { return timeout_; }
    void setTimeoutInterval(double seconds);

    URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }

    friend bool operator==(const URLRequest&, const URLRequest&) = default;

  private:
    URL url_;
    std::string method_ = "GET";
    HTTPHeaders headers_;
    std::vector<std::uint8_t> body_;
    double timeout_ = kDefaultTimeoutInterval;
    URLRequestCachePolicy cachePolicy_ = URLRequestCachePolicy::UseProtocolCachePolicy;
};

} // namespace platform
