#pragma once
// Where the mediation services are reached, and how their request URLs are made.
//
// The services (configuration "getInfo.php", metrics "exmet.php" and "exclick.php", custom
// ads "custom.php") live under kSwitchboardServicePrefix on the configured services base
// (platform::servicesBaseURL(): `ferrowick --services URL`, the environment, or a test), so
// that no host name is a constant in code. A host may override each base through its
// delegate; a query is then resolved against that base, replacing any query the base has.
#include <string>
#include <string_view>

namespace mediation {

// The library version sent as "appver" in every request to the mediation services.
inline constexpr int kSwitchboardLibraryVersion = 300;
// Folder of the mediation services on the services base.
inline constexpr std::string_view kSwitchboardServicePrefix = "/switchboard/";

// Full URL of `path` (such as "getInfo.php") on the configured mediation services.
std::string switchboardDefaultEndpoint(std::string_view path);

// Resolves the relative reference "?query" against `base`: the base without its query and
// fragment, followed by "?" and the query.
std::string switchboardURLWithQuery(std::string_view base, std::string_view query);

// Percent-encodes a value for a URL query (UTF-8 bytes; letters, digits and "-._~" stay).
std::string switchboardEscapeQueryValue(std::string_view value);

} // namespace mediation
