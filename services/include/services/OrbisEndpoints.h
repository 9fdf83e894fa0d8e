#pragma once
// The Orbis ad service on a ServiceHost, under "/orbis/":
//
// - POST "/orbis/showad.asm" (live) and "/orbis/test/showad.asm" (test mode): a form-encoded
//   ad request. A form without "ob-siteid" or "requestactivity" gets 400. Otherwise the reply
//   is the XML fixture "orbis/ad-live.xml" (or "orbis/ad-test.xml"), with every "{{services}}"
//   replaced by the host's base URL so that the ad's click URL points back here.
// - POST "/orbis/click": a click; answered 302 to "/orbis/landing.html" with "Action-Type" 2.
//   GET "/orbis/landing.html" is the fixture file of that name (the landing page).
// - POST "/orbis/deviceinfo": the device-information upload; answered 200 "OK".
//
// The request log keeps every request, which is how tests read forms and headers. Handlers
// only read fixture files, so they are thread-safe.
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kOrbisAdPath = "/orbis/showad.asm";
inline constexpr std::string_view kOrbisTestAdPath = "/orbis/test/showad.asm";
inline constexpr std::string_view kOrbisClickPath = "/orbis/click";
inline constexpr std::string_view kOrbisLandingPath = "/orbis/landing.html";
inline constexpr std::string_view kOrbisDeviceInfoPath = "/orbis/deviceinfo";
// Replaced in the ad fixtures by the host's base URL.
inline constexpr std::string_view kOrbisServicesPlaceholder = "{{services}}";

void installOrbisEndpoints(ServiceHost& host, std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
