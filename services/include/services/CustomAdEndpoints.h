#pragma once
// The custom-ad service and the Nimbus feed on a ServiceHost.
//
// - GET "/switchboard/custom.php?appver=N&country_code=C&appid=KEY&nid=ID&client=1" (location
//   and location_timestamp optional): the ad description of KEY, read from the fixture file
//   "switchboard/custom/KEY.json".
// - GET "/nimbus/ads/feed.php?appver=N&v=V&apikey=A&appkey=KEY&deviceid=D&width=W&height=H&
//   fmt=json&ua=U&test=T": the feed reply of KEY, from "nimbus/feed/KEY.json".
// In both replies "${BASE}" stands for the server's own base URL ("http://" and the request's
// Host), so fixtures can point at the images and landing pages served next to them. A
// request that lacks a query item, or whose key is not a plain file name, gets 400; a key
// without a file gets 404. Images and landing pages are plain fixture files.
//
// Handlers are thread-safe (they only read fixture files).
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kCustomAdPath = "/switchboard/custom.php";
inline constexpr std::string_view kNimbusFeedPath = "/nimbus/ads/feed.php";
inline constexpr std::string_view kCustomAdFixtures = "switchboard/custom";
inline constexpr std::string_view kNimbusFeedFixtures = "nimbus/feed";
// Replaced by the server's base URL in the replies.
inline constexpr std::string_view kBaseURLPlaceholder = "${BASE}";

void installCustomAdEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
