#pragma once
// What a server answered to one request (or one redirect hop): the URL it answers for, the
// HTTP status, the header fields (looked up without regard to case) and what they say about
// the body: its expected length, MIME type, text encoding and a file name to save it under.
// A status outside 200-299 is still a response: the transport reports it, the caller judges.
// A plain value, safe to copy between threads.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"
#include "platform/net/HTTPHeaders.h"

namespace platform {

class URLResponse {
  public:
    // Length reported when the reply does not state one (chunked, or closed at the end).
    static constexpr std::int64_t kUnknownLength = -1;
    // File name suggested when neither the reply nor the URL gives one.
    static constexpr std::string_view kUnknownFilename = "Unknown";

    URLResponse(URL url, int statusCode, HTTPHeaders headers);

    const URL& url() const { return url_; }
    int statusCode() const { return statusCode_; }
    const HTTPHeaders& allHeaderFields() const { return headers_; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
        return headers_.value(field);
    }

    // "Content-Length" as a number; kUnknownLength when absent or not a plain number.
    std::int64_t expectedContentLength() const;
    // The type of "Content-Type" in lower case, without parameters ("text/html"); empty when
    // the reply has none.
    std::string mimeType() const;
    // The "charset" parameter of "Content-Type" in lower case ("utf-8"); nullopt when none.
    std::optional<std::string> textEncodingName() const;
    // A single safe file name: the "filename" of "Content-Disposition", else the last
    // component of the URL's path, else "Unknown". Never holds a path separator, never
    // "." or "..", never a control character.
    std::string suggestedFilename() const;

    friend bool operator==(const URLResponse&, const URLResponse&) = default;

  private:
    URL url_;
    int statusCode_;
    HTTPHeaders headers_;
};

} // namespace platform
