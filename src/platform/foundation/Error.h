#pragma once
// An error object: a domain, a numeric code, a readable description and optional extra
// information, passed through delegate failure callbacks as the platform's error objects are.
#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
    Dictionary userInfo;

    std::string description() const;
};

// The URL-loading error domain and its codes.
inline constexpr const char* kURLErrorDomain = "URLErrorDomain";
enum URLErrorCode : std::int64_t {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorHTTPTooManyRedirects = -1007,
    kURLErrorResourceUnavailable = -1008,
    kURLErrorNotConnectedToInternet = -1009,
    kURLErrorBadServerResponse = -1011,
    kURLErrorDataLengthExceedsMaximum = -1103,
    kURLErrorFileDoesNotExist = -1100,
    kURLErrorNoPermissionsToReadFile = -1102,
};

// A named exception, standing in for the platform's exceptions raised on misuse.
class NamedException : public std::exception {
public:
    NamedException(std::string name, std::string reason)
        : name_(std::move(name)), reason_(std::move(reason)), what_(name_ + ": " + reason_) {}
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string name_, reason_, what_;
};

} // namespace platform
