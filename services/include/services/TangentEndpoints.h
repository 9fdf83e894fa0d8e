#pragma once
// The Tangent ad service on a ServiceHost, under "/tangent/":
//
// - GET "/tangent/a/ads": an ad request. Without "pub" the reply is 400. Otherwise the reply
//   is the banner markup of the fixture "tangent/banner.html" (or "tangent/interstitial.html"
//   when "mt-interstitial" is "t"), with the response id in the header "Xjt-Responseid".
//   The publisher "empty" gets the network's empty-ad marker instead (a page that refers to
//   "default/empty.gif"); the banners of the publishers "expanding" ("tangent/expanding.html",
//   an ad that grows to 320 by 300 and back) and "vellum" ("tangent/vellum.html", which hands
//   the Vellum demo rich-media ad "vellum-rich-ad" over) are demo ads of those kinds.
//
// Handlers only read fixture files, so they are thread-safe.
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kTangentAdPath = "/tangent/a/ads";
inline constexpr std::string_view kTangentResponseId = "fw-tangent-response-1";
inline constexpr std::string_view kTangentEmptyPublisher = "empty";
inline constexpr std::string_view kTangentExpandingPublisher = "expanding";
inline constexpr std::string_view kTangentVellumPublisher = "vellum";

void installTangentEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
