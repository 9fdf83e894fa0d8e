#include "services/MediationEndpoints.h"

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
constexpr std::uintmax_t kMaximumFixtureBytes = 1024 * 1024;

ServiceReply badRequest(std::string reason) {
    return ServiceReply{400, std::move(reason), "text/plain", {}};
}

std::optional<std::string> missingItem(const LoggedRequest& request, const auto& items) {
    for (auto name : items)
        if (!request.queryValue(name))
            return std::string(name);
    return std::nullopt;
}

// A key that is one plain file name: no separators, no leading dot, nothing exotic.
bool isSafeKey(std::string_view key) {
    if (key.empty() || key.front() == '.')
        return false;
    for (unsigned char c : key) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<std::string> readFixture(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaximumFixtureBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ServiceReply configReply(const std::string& fixturesDir, const LoggedRequest& request) {
    if (auto missing = missingItem(request, kConfigQueryItems))
        return badRequest("missing " + *missing);
    std::string key = *request.queryValue("appid");
    if (!isSafeKey(key))
        return badRequest("bad appid");
    auto path = std::filesystem::path(fixturesDir) / kMediationConfigFixtures /
                (key + std::string(kFixtureExtension));
    auto body = readFixture(path);
    if (!body)
        return ServiceReply{404, "no configuration for " + key, "text/plain", {}};
    return ServiceReply{200, std::move(*body), "application/json", {}};
}

ServiceReply pingReply(const LoggedRequest& request) {
    if (auto missing = missingItem(request, kPingQueryItems))
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
