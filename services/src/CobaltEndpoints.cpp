#include "services/CobaltEndpoints.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <numbers>

#include "EndpointSupport.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Strings.h"
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

// The demo ads' sound: a short chime the display script plays when the ad shows full screen.
constexpr const char* kChimeFile = "chime.wav";
constexpr int kChimeRate = 8000;
constexpr double kChimeSeconds = 0.25;
constexpr double kChimePitch = 880;

// A 16-bit mono PCM sound file of the chime, fading out.
std::string chimeWave() {
    const auto frames = static_cast<std::uint32_t>(kChimeRate * kChimeSeconds);
    std::string out;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    auto put16 = [&](std::uint16_t v) {
        out += static_cast<char>(v & 0xff);
        out += static_cast<char>(v >> 8);
    };
    out += "RIFF";
    put32(36 + frames * 2);
    out += "WAVEfmt ";
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(kChimeRate);
    put32(kChimeRate * 2);
    put16(2);
    put16(16);
    out += "data";
    put32(frames * 2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double fade = 1.0 - double(i) / frames;
        const double sample = std::sin(2 * std::numbers::pi * kChimePitch * i / kChimeRate) * fade * 12000;
        put16(static_cast<std::uint16_t>(static_cast<std::int16_t>(sample)));
    }
    return out;
}

std::optional<std::string> fixtureScript(const std::string& fixturesDir, const std::string& name) {
    return readFixture(std::filesystem::path(fixturesDir) / "cobalt" / (name + ".js"));
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
    host.handle("GET", std::string(kCobaltSyncPath), [state, fixturesDir = host.fixturesDir()](const LoggedRequest&) {
        std::lock_guard lock(state->mutex);
        platform::Dictionary source;
        const auto driver = state->driver ? state->driver : fixtureScript(fixturesDir, "driver");
        const auto display = state->display ? state->display : fixtureScript(fixturesDir, "display");
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
        // landing page named in the link. Plain lines, no heading or paragraph margins, so the
        // ad fits a banner as well as the full screen.
        const std::string landing = server->url(std::string(kCobaltLandingPath) + "?ad=" + number);
        const std::string html =
            "<div class=\"cobalt-ad\" data-slot=\"" + platform::escapeHTML(*slot) + "\"><div><b>" +
            platform::escapeHTML(ad.headline) + "</b></div><div>" + platform::escapeHTML(ad.line) +
            "</div><a href=\"cobalt://ct/?url=" + platform::escapeHTML(platform::percentEncode(landing)) +
            "\">Learn more</a><span id=\"cobalt-sound\" data-file=\"" + kChimeFile + "\"></span></div>";
        // The ad's impression trackers: Base64 texts of their addresses joined by "$$CBURL$$".
        const std::string trackers =
            platform::base64Encode(server->url(std::string(kCobaltImpressionPath) + "?ad=" + number +
                                               "&slot=" + platform::percentEncode(*slot)));
        const std::string zip = makeZipArchive({{"index.html", html}, {"trackers.txt", trackers}, {kChimeFile, chimeWave()}});
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
                            "<html><head><title>" + platform::escapeHTML(demo.headline) + "</title></head><body><h1>" +
                                platform::escapeHTML(demo.headline) + "</h1><p>" + platform::escapeHTML(demo.line) +
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
