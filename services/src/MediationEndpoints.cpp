#include "services/MediationEndpoints.h"
#include "EndpointSupport.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace services {

namespace {

constexpr std::array<std::string_view, 3> kConfigQueryItems = {"appid", "appver", "client"};
constexpr std::array<std::string_view, 6> kPingQueryItems = {"appid",        "nid",    "type",
                                                             "country_code", "appver", "client"};
constexpr std::string_view kFixtureExtension = ".json";
// Fixture files are ours, but a reply is still bounded.

ServiceReply badRequest(std::string reason) {
    return ServiceReply{400, std::move(reason), "text/plain", {}};
}




ServiceReply configReply(const std::string& fixturesDir, const LoggedRequest& request) {
    if (auto missing = missingQueryItem(request, kConfigQueryItems))
        return badRequest("missing " + *missing);
    std::string key = *request.queryValue("appid");
    if (!isSafeFixtureName(key))
        return badRequest("bad appid");
    auto path = std::filesystem::path(fixturesDir) / kMediationConfigFixtures /
                (key + std::string(kFixtureExtension));
    auto body = readFixture(path);
    if (!body)
        return ServiceReply{404, "no configuration for " + key, "text/plain", {}};
    return ServiceReply{200, std::move(*body), "application/json", {}};
}

ServiceReply pingReply(const LoggedRequest& request) {
    if (auto missing = missingQueryItem(request, kPingQueryItems))
        return badRequest("missing " + *missing);
    return ServiceReply{200, "OK", "text/plain", {}};
}

} // namespace

void installMediationEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("GET", std::string(kMediationConfigPath),
                [fixturesDir](const LoggedRequest& request) { return configReply(fixturesDir, request); });
    host.handle("GET", std::string(kMediationImpressionPath), pingReply);
    host.handle("GET", std::string(kMediationClickPath), pingReply);
}

} // namespace services
