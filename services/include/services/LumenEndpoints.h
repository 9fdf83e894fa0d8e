#pragma once
// The Lumen ad service on a ServiceHost:
//
// - GET "/luma/sdk-core-v40.js": the core script (fixture "lumen/sdk-core-v40.js") with a fixed
//   "Last-Modified"; a request whose "If-Modified-Since" is that date or later gets 304.
//   The script builds "/lumen/ad?..." from the request parameters, every value encoded on its
//   own, and answers "loadAdURL"; without a slot name it answers "invalidRequest", for the slot
//   name "noserve" "unableToServe".
// - GET "/lumen/ad": 400 without "slotname"; otherwise 302 to "/lumen/creative?slot=<slot>"
//   with "X-Luma-Tracking-Urls" (two "/lumen/track?t=..." URLs) and "X-Luma-Orientation".
// - GET "/lumen/creative": the fixture "lumen/ad-<slot>.html" when there is one, else
//   "lumen/ad-banner.html", with "X-Luma-Refresh-Rate" 30 (the slot "norefresh": 0).
// - GET "/lumen/click": 302 to "/lumen/landing.html" (fixture). GET "/lumen/track": 200.
//
// Handlers only read fixture files, so they are thread-safe.
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kLumenCoreScriptPath = "/luma/sdk-core-v40.js";
inline constexpr std::string_view kLumenAdPath = "/lumen/ad";
inline constexpr std::string_view kLumenCreativePath = "/lumen/creative";
inline constexpr std::string_view kLumenClickPath = "/lumen/click";
inline constexpr std::string_view kLumenLandingPath = "/lumen/landing.html";
inline constexpr std::string_view kLumenTrackPath = "/lumen/track";
inline constexpr std::string_view kLumenScriptLastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
inline constexpr std::string_view kLumenRefreshRate = "30";

void installLumenEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
