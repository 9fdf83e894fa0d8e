#include "services/LumenEndpoints.h"
#include "EndpointSupport.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace services {

namespace {

constexpr std::uintmax_t kFixtureLimit = 256 * 1024;
constexpr const char* kHTTPDateFormat = "%a, %d %b %Y %H:%M:%S";


std::optional<std::time_t> parseDate(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), kHTTPDateFormat, &tm);
    if (!end)
        return std::nullopt;
    return timegm(&tm);
}

// A slot name as one safe file-name piece: letters, digits, "-" and "_" only.
bool isSafeSlot(const std::string& slot) {
    if (slot.empty() || slot.size() > 64)
        return false;
    for (unsigned char c : slot)
        if (!std::isalnum(c) && c != '-' && c != '_')
            return false;
    return true;
}

} // namespace

void installLumenEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("GET", std::string(kLumenCoreScriptPath), [fixturesDir](const LoggedRequest& request) {
        auto script = readFixture(std::filesystem::path(fixturesDir) / "lumen/sdk-core-v40.js", kFixtureLimit);
        if (!script)
            return ServiceReply{404, "no script", "text/plain", {}};
        const std::vector<NameValue> headers = {{"Last-Modified", std::string(kLumenScriptLastModified)}};
        if (auto since = request.header("If-Modified-Since")) {
            auto a = parseDate(*since), b = parseDate(std::string(kLumenScriptLastModified));
            if (a && b && *a >= *b)
                return ServiceReply{304, "", "text/plain", headers};
        }
        return ServiceReply{200, *script, "application/javascript", headers};
    });
    host.handle("GET", std::string(kLumenAdPath), [&host](const LoggedRequest& request) {
        auto slot = request.queryValue("slotname");
        if (!slot || slot->empty())
            return ServiceReply{400, "missing slotname", "text/plain", {}};
        std::string target = host.baseURL() + std::string(kLumenCreativePath) +
                             "?slot=" + (isSafeSlot(*slot) ? *slot : "banner");
        std::string tracking = host.baseURL() + std::string(kLumenTrackPath) + "?t=imp-1 " + host.baseURL() +
                               std::string(kLumenTrackPath) + "?t=imp-2";
        return ServiceReply{
            302,
            "",
            "text/plain",
            {{"Location", target}, {"X-Luma-Tracking-Urls", tracking}, {"X-Luma-Orientation", "portrait"}}};
    });
    host.handle("GET", std::string(kLumenCreativePath), [fixturesDir](const LoggedRequest& request) {
        std::string slot = request.queryValue("slot").value_or("banner");
        std::optional<std::string> page;
        if (isSafeSlot(slot))
            page = readFixture(std::filesystem::path(fixturesDir) / ("lumen/ad-" + slot + ".html"), kFixtureLimit);
        if (!page)
            page = readFixture(std::filesystem::path(fixturesDir) / "lumen/ad-banner.html", kFixtureLimit);
        if (!page)
            return ServiceReply{404, "no ad page", "text/plain", {}};
        std::string rate = slot == "norefresh" ? "0" : std::string(kLumenRefreshRate);
        return ServiceReply{200, *page, "text/html", {{"X-Luma-Refresh-Rate", rate}}};
    });
    host.handle("GET", std::string(kLumenClickPath), [&host](const LoggedRequest&) {
        return ServiceReply{
            302, "", "text/plain", {{"Location", host.baseURL() + std::string(kLumenLandingPath)}}};
    });
    host.handle("GET", std::string(kLumenTrackPath), [](const LoggedRequest&) {
        return ServiceReply{200, "OK", "text/plain", {}};
    });
}

} // namespace services
