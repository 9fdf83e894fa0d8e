#include "services/CustomAdEndpoints.h"
#include "EndpointSupport.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace services {

namespace {

constexpr std::array<std::string_view, 5> kCustomQueryItems = {"appver", "country_code", "appid", "nid",
                                                               "client"};
constexpr std::array<std::string_view, 10> kNimbusQueryItems = {
    "appver", "v", "apikey", "appkey", "deviceid", "width", "height", "fmt", "ua", "test"};
constexpr std::string_view kFixtureExtension = ".json";




std::string withBaseURL(std::string body, const LoggedRequest& request) {
    std::string base = "http://" + request.header("Host").value_or("127.0.0.1");
    for (auto at = body.find(kBaseURLPlaceholder); at != std::string::npos;
         at = body.find(kBaseURLPlaceholder, at + base.size()))
        body.replace(at, kBaseURLPlaceholder.size(), base);
    return body;
}

template <typename Items>
ServiceReply fixtureReply(const std::string& fixturesDir, std::string_view folder, const Items& items,
                          std::string_view keyItem, const LoggedRequest& request) {
    if (auto missing = missingQueryItem(request, items))
        return ServiceReply{400, "missing " + *missing, "text/plain", {}};
    std::string key = *request.queryValue(keyItem);
    if (!isSafeFixtureName(key))
        return ServiceReply{400, "bad " + std::string(keyItem), "text/plain", {}};
    auto body =
        readFixture(std::filesystem::path(fixturesDir) / folder / (key + std::string(kFixtureExtension)));
    if (!body)
        return ServiceReply{404, "no ad for " + key, "text/plain", {}};
    return ServiceReply{200, withBaseURL(std::move(*body), request), "application/json", {}};
}

} // namespace

void installCustomAdEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("GET", std::string(kCustomAdPath), [fixturesDir](const LoggedRequest& request) {
        return fixtureReply(fixturesDir, kCustomAdFixtures, kCustomQueryItems, "appid", request);
    });
    host.handle("GET", std::string(kNimbusFeedPath), [fixturesDir](const LoggedRequest& request) {
        return fixtureReply(fixturesDir, kNimbusFeedFixtures, kNimbusQueryItems, "appkey", request);
    });
}

} // namespace services
