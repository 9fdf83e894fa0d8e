#include "services/CobaltEndpoints.h"

#include <cstdlib>
#include <mutex>

#include "EndpointSupport.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "services/VellumAdEndpoints.h"

namespace services {
namespace {

constexpr const char* kDefaultClientVersion = "1.0";

struct DemoAd {
    const char* headline;
    const char* line;
};
constexpr DemoAd kDemoAds[] = {
    {"Ferro Wick Pro", "Every file, everywhere, no ads."},
    {"Cloud Locker", "Back up your drive in one tap."},
    {"Photo Press", "Shrink your pictures, keep the detail."},
};

std::optional<std::string> fixtureScript(const std::string& name) {
    return readFixture(std::filesystem::path(ServiceHost::defaultFixturesDir()) / "cobalt" / (name + ".js"));
}

std::string escapeHTML(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

struct CobaltService::State {
    mutable std::mutex mutex;
    std::string version = kDefaultClientVersion;
    std::optional<std::string> driver, display;
    bool incomplete = false;
    bool disabled = false;
    bool adsUnavailable = false;
    std::size_t adsServed = 0;
};

CobaltService::CobaltService(ServiceHost& host) : state_(std::make_shared<State>()) {
    auto state = state_;
    host.handle("GET", std::string(kCobaltSyncPath), [state](const LoggedRequest&) {
        std::lock_guard lock(state->mutex);
        platform::Dictionary source;
        const auto driver = state->driver ? state->driver : fixtureScript("driver");
        const auto display = state->display ? state->display : fixtureScript("display");
        if (!driver || !display)
            return ServiceReply{500, "missing script fixtures", "text/plain", {}};
        source["display"] = *display;
        if (!state->incomplete)
            source["driver"] = *driver;
        platform::Dictionary clientResponse;
        clientResponse["clientVersion"] = state->version;
        clientResponse["isDisabled"] = state->disabled;
        clientResponse["source"] = std::move(source);
        platform::Dictionary content;
        content["clientResponse"] = std::move(clientResponse);
        platform::Dictionary reply;
        reply["status"] = "AllOkay";
        reply["content"] = std::move(content);
        return ServiceReply{200, platform::Value(std::move(reply)).toJSON(), "application/json", {}};
    });
    ServiceHost* server = &host;
    host.handle("GET", std::string(kCobaltAdPath), [state, server](const LoggedRequest& request) {
        const auto slot = request.queryValue("slot");
        if (!slot || !isSafeFixtureName(*slot))
            return ServiceReply{400, "bad slot", "text/plain", {}};
        std::size_t index = 0;
        {
            std::lock_guard lock(state->mutex);
            if (state->adsUnavailable)
                return ServiceReply{404, "no ad", "text/plain", {}};
            index = state->adsServed++;
        }
        const DemoAd& ad = kDemoAds[index % std::size(kDemoAds)];
        const std::string number = std::to_string(index);
        // The tap goes through the display script: it asks for a click-through and opens the
        // landing page named in the link.
        const std::string landing = server->url(std::string(kCobaltLandingPath) + "?ad=" + number);
        const std::string html = "<div class=\"cobalt-ad\" data-slot=\"" + escapeHTML(*slot) + "\"><h1>" +
                                 escapeHTML(ad.headline) + "</h1><p>" + escapeHTML(ad.line) +
                                 "</p><a href=\"cobalt://ct/?url=" +
                                 escapeHTML(platform::percentEncode(landing)) + "\">Learn more</a></div>";
        // The ad's impression trackers: Base64 texts of their addresses joined by "$$CBURL$$".
        const std::string trackers =
            platform::base64Encode(server->url(std::string(kCobaltImpressionPath) + "?ad=" + number +
                                               "&slot=" + platform::percentEncode(*slot)));
        const std::string zip = makeZipArchive({{"index.html", html}, {"trackers.txt", trackers}});
        if (zip.empty())
            return ServiceReply{500, "cannot make the archive", "text/plain", {}};
        return ServiceReply{200, zip, "application/zip", {}};
    });
    host.handle("GET", std::string(kCobaltImpressionPath), [](const LoggedRequest&) {
        return ServiceReply{200, "", "text/plain", {}};
    });
    host.handle("GET", std::string(kCobaltLandingPath), [](const LoggedRequest& request) {
        const std::string ad = request.queryValue("ad").value_or("");
        const DemoAd& demo = kDemoAds[static_cast<std::size_t>(std::strtoul(ad.c_str(), nullptr, 10)) % std::size(kDemoAds)];
        return ServiceReply{200,
                            "<html><head><title>" + escapeHTML(demo.headline) + "</title></head><body><h1>" +
                                escapeHTML(demo.headline) + "</h1><p>" + escapeHTML(demo.line) +
                                "</p><p>Thanks for looking.</p></body></html>",
                            "text/html", {}};
    });
}

void CobaltService::setClient(std::string version, std::optional<std::string> driver,
                              std::optional<std::string> display) {
    std::lock_guard lock(state_->mutex);
    state_->version = std::move(version);
    state_->driver = std::move(driver);
    state_->display = std::move(display);
}

void CobaltService::setIncompleteSource(bool incomplete) {
    std::lock_guard lock(state_->mutex);
    state_->incomplete = incomplete;
}

void CobaltService::setDisabled(bool disabled) {
    std::lock_guard lock(state_->mutex);
    state_->disabled = disabled;
}

void CobaltService::setAdsUnavailable(bool unavailable) {
    std::lock_guard lock(state_->mutex);
    state_->adsUnavailable = unavailable;
}

std::size_t CobaltService::adsServed() const {
    std::lock_guard lock(state_->mutex);
    return state_->adsServed;
}

void installCobaltEndpoints(ServiceHost& host) {
    // The handlers hold the service's state; the service object itself may go.
    CobaltService service(host);
}

} // namespace services
