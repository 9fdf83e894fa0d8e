#pragma once
// The Meridian ad service on a ServiceHost, under "/meridian/":
//
// - GET "/meridian/getAd.php5": an ad request. Without "sdkapid" the reply is 400. A request
//   of the application's own placement ("fw-meridian") that says "video=true" gets the video
//   ad "meridian/video-ad.json" ("application/json", header "X-MR-Video: 1"), laid out for
//   the phone's 480 × 320 player; a tablet's request (a banner "hswd" of 728 or more) gets
//   "meridian/video-ad-tablet.json", the same ad laid out for its 1024 × 768 player. Otherwise the
//   "adtype" picks the reply: "MRFullScreenAdLaunch" and "MRFullScreenAdTransition" get the
//   image ad "meridian/ad.json" ("application/json"), every other type the HTML fixture
//   "meridian/ad.html" ("text/html") with the headers "X-MR-Refresh: 30" and
//   "X-Openinbrowser: 1". In the JSON replies "{{base}}" becomes this host's address.
// - GET "/meridian/videos/NAME" for the names of kMeridianVideoFiles: the video file of that
//   name under "meridian/videos", honouring "Range" (206, or 416 past the end).
// - GET "/meridian/track/EVENT" for the events of kMeridianTrackingEvents: the tracking
//   addresses of the video ad; 200 with an empty body.
// - Pictures the replies name are fixture files under "meridian/images".
// - GET "/meridian/appConfigServlet": the handshake; the fixture "meridian/handshake.json".
// - GET "/meridian/conversion/handleConversion": a conversion report; 200 "OK".
// - GET on the demo and live pixel paths: 200 with an empty body.
//
// Tests replace any of these with their own handlers; the request log keeps every request.
// Handlers only read fixture files, so they are thread-safe.
#include <array>
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

inline constexpr std::string_view kMeridianVideoPath = "/meridian/videos/";
inline constexpr std::array<std::string_view, 1> kMeridianVideoFiles = {"spot.avi"};
inline constexpr std::string_view kMeridianTrackingPath = "/meridian/track/";
inline constexpr std::array<std::string_view, 7> kMeridianTrackingEvents = {"start", "end", "0s", "5s",
                                                                            "15s", "close", "more"};

void installMeridianEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
