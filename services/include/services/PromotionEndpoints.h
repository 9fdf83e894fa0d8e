#pragma once
// The publisher's promotion service on a ServiceHost: the house news, launch pop-up, push-news,
// more-apps and wallpaper lists (both phone and tablet forms), and their impression and click
// reports.
//
// Lists are read from the fixture files under "promo/" (houseNews.json, popUp.json,
// pushNews.json, moreApps.json, wallpaper.json) with every "{{base}}" replaced by
// "http://" + the request's Host header, so the image and store links in them point back at
// this server; the images themselves are fixture files under "/promo/images/". Reports answer
// 200 "OK"; the request log keeps them, which is how tests count them.
//
// Handlers are thread-safe (they only read fixture files).
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kPromotionFixtures = "promo";

void installPromotionEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
