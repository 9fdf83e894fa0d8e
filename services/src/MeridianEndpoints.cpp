#include "services/MeridianEndpoints.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "EndpointSupport.h"

namespace services {

namespace {

constexpr std::string_view kHTMLAdFixture = "meridian/ad.html";
constexpr std::string_view kJSONAdFixture = "meridian/ad.json";
constexpr std::string_view kVideoAdFixture = "meridian/video-ad.json";
constexpr std::string_view kTabletVideoAdFixture = "meridian/video-ad-tablet.json";
// Banners at least this wide ("hswd") are a tablet's: their video's controls are laid out for
// the tablet's screen.
constexpr double kTabletBannerWidth = 728;
constexpr std::string_view kHandshakeFixture = "meridian/handshake.json";
constexpr std::string_view kVideoFixtures = "meridian/videos";
constexpr std::string_view kBasePlaceholder = "{{base}}";
constexpr std::string_view kVideoContentType = "video/avi";
constexpr std::uintmax_t kMaximumVideoBytes = 64 * 1024 * 1024;
// Placements whose banners take the video ad whenever the request allows a video.
constexpr std::array<std::string_view, 1> kVideoPlacements = {"fw-meridian"};

std::string replaceAll(std::string text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The fixture with "{{base}}" replaced by the address the request came to, so the pictures,
// videos and tracking addresses a reply names are served by this same host.
ServiceReply fixtureReply(const std::string& dir, std::string_view fixture, const LoggedRequest& request,
                          std::string contentType, std::vector<NameValue> headers = {}) {
    auto body = readFixture(std::filesystem::path(dir) / fixture);
    if (!body)
        return ServiceReply{404, "no fixture", "text/plain", {}};
    std::string base = "http://" + request.header("Host").value_or("127.0.0.1");
    return ServiceReply{200, replaceAll(std::move(*body), kBasePlaceholder, base), std::move(contentType),
                        std::move(headers)};
}

bool wantsVideo(const LoggedRequest& request) {
    auto apid = request.queryValue("sdkapid").value_or("");
    return request.queryValue("video") == "true" &&
           std::find(kVideoPlacements.begin(), kVideoPlacements.end(), apid) != kVideoPlacements.end();
}

// The video fixture laid out for the screen of the device that asks: its buttons sit at fixed
// points of the player, so a tablet gets its own places for them.
std::string_view videoAdFixtureFor(const LoggedRequest& request) {
    auto width = request.queryValue("hswd").value_or("");
    char* end = nullptr;
    const double value = std::strtod(width.c_str(), &end);
    const bool tablet = !width.empty() && end && *end == '\0' && value >= kTabletBannerWidth;
    return tablet ? kTabletVideoAdFixture : kVideoAdFixture;
}

} // namespace

void installMeridianEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("GET", std::string(kMeridianAdPath), [fixturesDir](const LoggedRequest& request) {
        if (!request.queryValue("sdkapid"))
            return ServiceReply{400, "missing sdkapid", "text/plain", {}};
        auto type = request.queryValue("adtype").value_or("");
        if (wantsVideo(request))
            return fixtureReply(fixturesDir, videoAdFixtureFor(request), request, "application/json",
                                {{"X-MR-Video", "1"}});
        if (type == "MRFullScreenAdLaunch" || type == "MRFullScreenAdTransition")
            return fixtureReply(fixturesDir, kJSONAdFixture, request, "application/json");
        return fixtureReply(fixturesDir, kHTMLAdFixture, request, "text/html",
                            {{"X-MR-Refresh", "30"}, {"X-Openinbrowser", "1"}});
    });
    host.handle("GET", std::string(kMeridianHandshakePath), [fixturesDir](const LoggedRequest& request) {
        return fixtureReply(fixturesDir, kHandshakeFixture, request, "application/json");
    });
    host.handle("GET", std::string(kMeridianConversionPath), [](const LoggedRequest&) {
        return ServiceReply{200, "OK", "text/plain", {}};
    });
    for (auto path : {kMeridianDemoPixelPath, kMeridianLivePixelPath})
        host.handle("GET", std::string(path), [](const LoggedRequest&) {
            return ServiceReply{200, "", "image/gif", {}};
        });
    for (auto name : kMeridianVideoFiles) {
        std::string path = std::string(kMeridianVideoPath) + std::string(name);
        std::filesystem::path file = std::filesystem::path(fixturesDir) / kVideoFixtures / name;
        host.handle("GET", path, [file](const LoggedRequest& request) {
            auto body = readFixture(file, kMaximumVideoBytes);
            if (!body)
                return ServiceReply{404, "no video", "text/plain", {}};
            return byteRangeReply(request, *body, std::string(kVideoContentType));
        });
    }
    for (auto event : kMeridianTrackingEvents)
        host.handle("GET", std::string(kMeridianTrackingPath) + std::string(event), [](const LoggedRequest&) {
            return ServiceReply{200, "", "image/gif", {}};
        });
}

} // namespace services
