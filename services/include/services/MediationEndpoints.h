#pragma once
// The mediation services on a ServiceHost: the configuration service and the metrics pings,
// under the folder "/switchboard/" that the mediation layer puts on the services base.
//
// - GET "/switchboard/getInfo.php?appid=KEY&appver=N&client=1": the configuration of KEY,
//   read from the fixture file "switchboard/config/KEY.json" (either reply format: an object,
//   or the legacy array) and answered as JSON. A request without appid, appver or client, or
//   whose appid is not a plain file name (letters, digits, "-", "_", "."; not starting with
//   "."), gets 400; a key without a file gets 404.
// - GET "/switchboard/exmet.php" (impressions) and "/switchboard/exclick.php" (clicks) with
//   appid, nid, type, country_code, appver and client: answered 200 "OK" (400 when one is
//   missing). The host's request log keeps every ping, which is how tests count them.
//
// Handlers are thread-safe (they only read fixture files).
#include <string>
#include <string_view>

#include "services/ServiceHost.h"

namespace services {

inline constexpr std::string_view kMediationConfigPath = "/switchboard/getInfo.php";
inline constexpr std::string_view kMediationImpressionPath = "/switchboard/exmet.php";
inline constexpr std::string_view kMediationClickPath = "/switchboard/exclick.php";
// Folder of the configuration fixtures, under the fixtures folder.
inline constexpr std::string_view kMediationConfigFixtures = "switchboard/config";

// Installs the handlers; configurations come from `fixturesDir` (default: the project's).
void installMediationEndpoints(ServiceHost& host,
                               std::string fixturesDir = ServiceHost::defaultFixturesDir());

} // namespace services
