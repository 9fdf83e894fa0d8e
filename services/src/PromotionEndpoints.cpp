#include "services/PromotionEndpoints.h"

#include <array>
#include <fstream>
#include <sstream>

namespace services {
namespace {

constexpr std::string_view kBasePlaceholder = "{{base}}";
constexpr std::size_t kMaxFixtureBytes = 256 * 1024;

struct ListRoute {
    std::string_view path;
    std::string_view fixture;
};

constexpr std::array<ListRoute, 8> kListRoutes = {{
    {"/applications/newNews/newNewsPhone.php", "houseNews.json"},
    {"/applications/newNews/newNewsPad.php", "houseNews.json"},
    {"/applications/popupAds/iPhonePopupAdsNew.php", "popUp.json"},
    {"/applications/popupAds/iPadPopupAdsNew.php", "popUp.json"},
    {"/pushNews/newPushNews.php", "pushNews.json"},
    {"/applications/moreAppsNew/moreAppsPhone.php", "moreApps.json"},
    {"/applications/moreAppsNew/moreAppsPad.php", "moreApps.json"},
    {"/wallPopUp/wallPopUp.php", "wallpaper.json"},
}};

constexpr std::array<std::string_view, 15> kReportPaths = {
    "/applications/newNews/updateImpressionPhone.php",
    "/applications/newNews/updateImpressionPad.php",
    "/applications/newNews/c_newNewsPhone.php",
    "/applications/newNews/c_newNewsPad.php",
    "/applications/popupAds/updateImpressionPhone.php",
    "/applications/popupAds/updateImpressionPad.php",
    "/applications/popupAds/c_iPhonePopupAdsNew.php",
    "/applications/popupAds/c_iPadPopupAdsNew.php",
    "/pushNews/countClick.php",
    "/applications/moreAppsNew/updateImpressionPhone.php",
    "/applications/moreAppsNew/updateImpressionPad.php",
    "/applications/moreAppsNew/moreAppsClickPhone.php",
    "/applications/moreAppsNew/moreAppsClickPad.php",
    "/wallPopUp/updateImpression.php",
    "/wallPopUp/c_wallPromotion.php",
};

std::string readFixture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    // Read in pieces up to the cap, rather than filling a buffer of the cap's size first.
    std::string text;
    char piece[16 * 1024];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        text.append(piece, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFixtureBytes)
            return {};
    }
    return text;
}

std::string replaceAll(std::string text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

void installPromotionEndpoints(ServiceHost& host, std::string fixturesDir) {
    for (const auto& route : kListRoutes) {
        std::string file = fixturesDir + "/" + std::string(kPromotionFixtures) + "/" + std::string(route.fixture);
        host.handle("GET", std::string(route.path), [file](const LoggedRequest& request) {
            std::string text = readFixture(file);
            if (text.empty())
                return ServiceReply{404, "no such list", "text/plain", {}};
            std::string base = "http://" + request.header("Host").value_or("127.0.0.1");
            return ServiceReply{200, replaceAll(std::move(text), kBasePlaceholder, base), "application/json", {}};
        });
    }
    auto ok = [](const LoggedRequest&) { return ServiceReply{200, "OK", "text/plain", {}}; };
    for (auto path : kReportPaths)
        host.handle("GET", std::string(path), ok);
}

} // namespace services
