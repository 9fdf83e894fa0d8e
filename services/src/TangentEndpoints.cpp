#include "services/TangentEndpoints.h"
#include "EndpointSupport.h"

#include <filesystem>

namespace services {

namespace {

constexpr std::string_view kBannerFixture = "tangent/banner.html";
constexpr std::string_view kInterstitialFixture = "tangent/interstitial.html";
constexpr std::string_view kExpandingFixture = "tangent/expanding.html";
constexpr std::string_view kVellumFixture = "tangent/vellum.html";
constexpr std::uintmax_t kFixtureLimit = 256 * 1024;
constexpr std::string_view kEmptyAd = R"(<a href="#"><img src="http://ads.invalid/default/empty.gif"/></a>)";

} // namespace

void installTangentEndpoints(ServiceHost& host, std::string fixturesDir) {
    host.handle("GET", std::string(kTangentAdPath), [fixturesDir](const LoggedRequest& request) {
        auto publisher = request.queryValue("pub");
        if (!publisher || publisher->empty())
            return ServiceReply{400, "missing pub", "text/plain", {}};
        const NameValue responseId{"Xjt-Responseid", std::string(kTangentResponseId)};
        if (*publisher == kTangentEmptyPublisher)
            return ServiceReply{200, std::string(kEmptyAd), "text/html; charset=utf-8", {responseId}};
        std::string_view fixture = kBannerFixture;
        if (request.queryValue("mt-interstitial") == "t")
            fixture = kInterstitialFixture;
        else if (*publisher == kTangentExpandingPublisher)
            fixture = kExpandingFixture;
        else if (*publisher == kTangentVellumPublisher)
            fixture = kVellumFixture;
        auto markup = readFixture(std::filesystem::path(fixturesDir) / fixture, kFixtureLimit);
        if (!markup)
            return ServiceReply{404, "no ad fixture", "text/plain", {}};
        return ServiceReply{200, *markup, "text/html; charset=utf-8", {responseId}};
    });
}

} // namespace services
