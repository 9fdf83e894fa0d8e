#pragma once
// The Meridian ad service on a ServiceHost, under "/meridian/":
//
// - GET "/meridian/getAd.php5": an ad request. Without "sdkapid" the reply is 400. Otherwise
//   the "adtype" picks the reply: "MRFullScreenAdLaunch" and "MRFullScreenAdTransition" get
//   the JSON fixture "meridian/ad.json" ("application/json"), every other type the HTML
//   fixture "meridian/ad.html" ("text/html") with the headers "X-MR-Refresh: 30" and
//   "X-Openinbrowser: 1".
// - GET "/meridian/appConfigServlet": the handshake; the fixture "meridian/handshake.json".
// - GET "/meridian/conversion/handleConversion": a conversion report; 200 "OK".
// - GET on the demo and live pixel paths: 200 with an empty body.
//
// Tests replace any of these with their own handlers; the request log keeps every request.
// Handlers only read fixture files, so they are thread-safe.
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kMeridianAdPath = "/meridian/getAd.php5";
inline constexpr std::string_view kMeridianHandshakePath = "/meridian/appConfigServlet";
inline constexpr std::string_view kMeridianConversionPath = "/meridian/conversion/handleConversion";
inline constexpr std::string_view kMeridianDemoPixelPath =
    "/meridian/pixel-demo/productiton/common/pixel/image.php";
inline constexpr std::string_view kMeridianLivePixelPath =
    "/meridian/pixel-live/custom/common/pixel/image.php";

void installMeridianEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
