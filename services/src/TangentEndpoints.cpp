#include "services/TangentEndpoints.h"
#include "EndpointSupport.h"

#include <filesystem>

namespace services {

namespace {

constexpr std::string_view kBannerFixture = "tangent/banner.html";
constexpr std::string_view kInterstitialFixture = "tangent/interstitial.html";
constexpr std::string_view kExpandingFixture = "tangent/expanding.html";
constexpr std::string_view kVellumFixture = "tangent/vellum.html";
constexpr std::string_view kLandingFixture = "tangent/landing.html";
constexpr std::string_view kBaseURLPlaceholder = "${BASE}";
constexpr std::uintmax_t kFixtureLimit = 256 * 1024;
constexpr std::string_view kEmptyAd = R"(<a href="#"><img src="http://ads.invalid/default/empty.gif"/></a>)";

std::string baseOf(const LoggedRequest& request) {
    return "http://" + request.header("Host").value_or("127.0.0.1");
}

// The fixture with every "${BASE}" replaced by this server's own address.
std::string withBaseURL(std::string body, const LoggedRequest& request) {
    const std::string base = baseOf(request);
    for (auto at = body.find(kBaseURLPlaceholder); at != std::string::npos;
         at = body.find(kBaseURLPlaceholder, at + base.size()))
        body.replace(at, kBaseURLPlaceholder.size(), base);
    return body;
}

ServiceReply redirectTo(const LoggedRequest& request, std::string_view path) {
    return ServiceReply{302, "", "text/plain", {{"Location", baseOf(request) + std::string(path)}}};
}

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
        return ServiceReply{200, withBaseURL(*markup, request), "text/html; charset=utf-8", {responseId}};
    });
    host.handle("GET", std::string(kTangentClickPath),
                [](const LoggedRequest& request) { return redirectTo(request, kTangentRedirectPath); });
    host.handle("GET", std::string(kTangentRedirectPath),
                [](const LoggedRequest& request) { return redirectTo(request, kTangentLandingPath); });
    host.handle("GET", std::string(kTangentLandingPath), [fixturesDir](const LoggedRequest&) {
        auto page = readFixture(std::filesystem::path(fixturesDir) / kLandingFixture, kFixtureLimit);
        if (!page)
            return ServiceReply{404, "no landing fixture", "text/plain", {}};
        return ServiceReply{200, *page, "text/html; charset=utf-8", {}};
    });
    host.handle("GET", std::string(kTangentReportPath), [](const LoggedRequest& request) {
        if (!request.queryValue("event"))
            return ServiceReply{400, "missing event", "text/plain", {}};
        return ServiceReply{200, "ok", "text/plain", {}};
    });
}

} // namespace services
