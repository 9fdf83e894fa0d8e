#pragma once
// The Tangent ad service on a ServiceHost, under "/tangent/":
//
// - GET "/tangent/a/ads": an ad request. Without "pub" the reply is 400. Otherwise the reply
//   is the banner markup of the fixture "tangent/banner.html" (or "tangent/interstitial.html"
//   when "mt-interstitial" is "t"), with the response id in the header "Xjt-Responseid".
//   The publisher "empty" gets the network's empty-ad marker instead (a page that refers to
//   "default/empty.gif"); the banners of the publishers "expanding" ("tangent/expanding.html",
//   an ad that grows to 320 by 300 and back; a touch on the grown ad shrinks it) and "vellum" ("tangent/vellum.html", which hands
//   the Vellum demo rich-media ad "vellum-rich-ad" over) are demo ads of those kinds.
//   "${BASE}" in a fixture stands for this server's own address.
// - GET "/tangent/a/conversion": an event report. Without "event" the reply is 400, else 200.
// - GET "/tangent/click": where the demo ads' links lead, a redirect chain of two hops
//   ("/tangent/r/landing", then "/tangent/landing.html", the landing page).
//
// Handlers only read fixture files, so they are thread-safe.
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kTangentAdPath = "/tangent/a/ads";
inline constexpr std::string_view kTangentReportPath = "/tangent/a/conversion";
inline constexpr std::string_view kTangentClickPath = "/tangent/click";
inline constexpr std::string_view kTangentRedirectPath = "/tangent/r/landing";
inline constexpr std::string_view kTangentLandingPath = "/tangent/landing.html";
inline constexpr std::string_view kTangentResponseId = "fw-tangent-response-1";
inline constexpr std::string_view kTangentEmptyPublisher = "empty";
inline constexpr std::string_view kTangentExpandingPublisher = "expanding";
inline constexpr std::string_view kTangentVellumPublisher = "vellum";

void installTangentEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
