#include "services/OrbisEndpoints.h"
#include "EndpointSupport.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace services {

namespace {

constexpr std::string_view kLiveAdFixture = "orbis/ad-live.xml";
constexpr std::string_view kTestAdFixture = "orbis/ad-test.xml";
constexpr std::uintmax_t kFixtureLimit = 256 * 1024;
constexpr std::string_view kLandingActionType = "2";


bool hasFormItem(const LoggedRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.formItems())
        if (key == name)
            return true;
    return false;
}

ServiceReply adReply(const ServiceHost& host, const std::string& fixturesDir, std::string_view fixture,
                     const LoggedRequest& request) {
    if (!hasFormItem(request, "ob-siteid") || !hasFormItem(request, "requestactivity"))
        return ServiceReply{400, "missing ob-siteid or requestactivity", "text/plain", {}};
    auto xml = readFixture(std::filesystem::path(fixturesDir) / fixture, kFixtureLimit);
    if (!xml)
        return ServiceReply{404, "no ad fixture", "text/plain", {}};
    const std::string base = host.baseURL();
    for (auto at = xml->find(kOrbisServicesPlaceholder); at != std::string::npos;
         at = xml->find(kOrbisServicesPlaceholder, at + base.size()))
        xml->replace(at, kOrbisServicesPlaceholder.size(), base);
    return ServiceReply{200, *xml, "text/xml", {}};
}

} // namespace

void installOrbisEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("POST", std::string(kOrbisAdPath), [&host, fixturesDir](const LoggedRequest& request) {
        return adReply(host, fixturesDir, kLiveAdFixture, request);
    });
    host.handle("POST", std::string(kOrbisTestAdPath), [&host, fixturesDir](const LoggedRequest& request) {
        return adReply(host, fixturesDir, kTestAdFixture, request);
    });
    host.handle("POST", std::string(kOrbisClickPath), [&host](const LoggedRequest&) {
        return ServiceReply{
            302,
            "",
            "text/plain",
            {{"Location", host.url(kOrbisLandingPath)}, {"Action-Type", std::string(kLandingActionType)}}};
    });
    host.handle("POST", std::string(kOrbisDeviceInfoPath), [](const LoggedRequest&) {
        return ServiceReply{200, "OK", "text/plain", {}};
    });
}

} // namespace services
