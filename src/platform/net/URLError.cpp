#include "platform/net/URLError.h"

#include <string>

namespace platform {
namespace {

struct Description {
    std::int64_t code;
    std::string_view text;
};

constexpr Description kDescriptions[] = {
    {kURLErrorCancelled, "cancelled"},
    {kURLErrorBadURL, "bad URL"},
    {kURLErrorTimedOut, "The request timed out."},
    {kURLErrorUnsupportedURL, "unsupported URL"},
    {kURLErrorCannotFindHost, "A server with the specified hostname could not be found."},
    {kURLErrorCannotConnectToHost, "Could not connect to the server."},
    {kURLErrorNetworkConnectionLost, "The network connection was lost."},
    {kURLErrorHTTPTooManyRedirects, "too many HTTP redirects"},
    {kURLErrorBadServerResponse, "bad server response"},
    {kURLErrorDataLengthExceedsMaximum, "resource exceeds maximum size"},
    {kURLErrorNoPermissionsToReadFile, "no permission to read the file"},
    {kURLErrorSecureConnectionFailed,
     "An SSL error has occurred and a secure connection to the server cannot be made."},
};

constexpr std::string_view kUnknownDescription = "unknown error";

} // namespace

std::string_view urlErrorDescription(std::int64_t code) {
    for (const auto& d : kDescriptions)
        if (d.code == code)
            return d.text;
    return kUnknownDescription;
}

Error makeURLError(std::int64_t code, std::string_view failingURL) {
    Error error;
    error.domain = kURLErrorDomain;
    error.code = code;
    error.localizedDescription = std::string(urlErrorDescription(code));
    if (!failingURL.empty())
        error.userInfo[kURLErrorFailingURLStringKey] = Value(std::string(failingURL));
    return error;
}

} // namespace platform
