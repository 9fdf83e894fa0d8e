#pragma once
// Errors of the URL-loading system: every failure of a URLConnection, of the completion form
// and of a synchronous send is an Error in kURLErrorDomain with one of the codes of Error.h,
// a readable description and, under kURLErrorFailingURLStringKey, the URL that failed.
#include <cstdint>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

// User-information key of the failing URL's text.
inline constexpr const char* kURLErrorFailingURLStringKey = "URLErrorFailingURLStringKey";
// A secure (TLS) connection could not be made.
inline constexpr std::int64_t kURLErrorSecureConnectionFailed = -1200;

// The readable description of a URL error code ("The request timed out.").
std::string_view urlErrorDescription(std::int64_t code);
// An Error in kURLErrorDomain with the code's description and the failing URL.
Error makeURLError(std::int64_t code, std::string_view failingURL);

} // namespace platform
