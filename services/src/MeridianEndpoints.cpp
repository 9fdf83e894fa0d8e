#include "services/MeridianEndpoints.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace services {

namespace {

constexpr std::string_view kHTMLAdFixture = "meridian/ad.html";
constexpr std::string_view kJSONAdFixture = "meridian/ad.json";
constexpr std::string_view kHandshakeFixture = "meridian/handshake.json";
constexpr std::uintmax_t kMaximumFixtureBytes = 256 * 1024;

std::optional<std::string> readFixture(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaximumFixtureBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ServiceReply fixtureReply(const std::string& dir, std::string_view fixture, std::string contentType,
                          std::vector<NameValue> headers = {}) {
    auto body = readFixture(std::filesystem::path(dir) / fixture);
    if (!body)
        return ServiceReply{404, "no fixture", "text/plain", {}};
    return ServiceReply{200, *body, std::move(contentType), std::move(headers)};
}

} // namespace

void installMeridianEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("GET", std::string(kMeridianAdPath), [fixturesDir](const LoggedRequest& request) {
        if (!request.queryValue("sdkapid"))
            return ServiceReply{400, "missing sdkapid", "text/plain", {}};
        auto type = request.queryValue("adtype").value_or("");
        if (type == "MRFullScreenAdLaunch" || type == "MRFullScreenAdTransition")
            return fixtureReply(fixturesDir, kJSONAdFixture, "application/json");
        return fixtureReply(fixturesDir, kHTMLAdFixture, "text/html",
                            {{"X-MR-Refresh", "30"}, {"X-Openinbrowser", "1"}});
    });
    host.handle("GET", std::string(kMeridianHandshakePath), [fixturesDir](const LoggedRequest&) {
        return fixtureReply(fixturesDir, kHandshakeFixture, "application/json");
    });
    host.handle("GET", std::string(kMeridianConversionPath), [](const LoggedRequest&) {
        return ServiceReply{200, "OK", "text/plain", {}};
    });
    for (auto path : {kMeridianDemoPixelPath, kMeridianLivePixelPath})
        host.handle("GET", std::string(path), [](const LoggedRequest&) {
            return ServiceReply{200, "", "image/gif", {}};
        });
}

} // namespace services
