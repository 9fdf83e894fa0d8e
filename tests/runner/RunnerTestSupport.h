#pragma once
// Helpers shared by the runner's tests of the whole application.
#include <string>

#include "cobalt/CBController.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/SwitchboardAdapterCobalt.h"
#include "lumen/BannerView.h"
#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "meridian/MRHandshake.h"
#include "services/StandardEndpoints.h"
#include "support/LoopbackServices.h"

namespace runnertest {

// Starts as on a fresh device: no configuration or client state kept from an earlier run in
// this process, and the standard services installed on `services`.
inline void startAsOnAFreshDevice(fwtest::LoopbackServices& services) {
    mediation::SwitchboardConfigStore::resetStore();
    mediation::SwitchboardView::resetClassStateForTesting();
    lumen::LMNNetworkChecker::resetForTesting();
    lumen::LMNIdentifierUtilities::resetForTesting();
    lumen::LMNNetworkUtilities::resetForTesting();
    lumen::LMNObjectPrivate::resetForTesting();
    meridian::MRHandshake::resetForTesting();
    cobalt::CBFullScreenAdWindow::resetForTesting();
    cobalt::CBController::resetForTesting();
    cobalt::SwitchboardAdapterCobalt::resetForTesting();
    services::installStandardEndpoints(services.host());
}

// Answers every configuration request with these networks ("rations" entries, comma-joined),
// a 30 s refresh and the banner transition `transition` (0: none; the fixtures' own is 1).
inline void serveNetworks(fwtest::LoopbackServices& services, const std::string& rations, int transition = 0) {
    const std::string config = std::string(R"({"extra":{"refresh_interval":30,"transition":)") +
                               std::to_string(transition) + R"(},"rations":[)" + rations + "]}";
    services.handle("GET", "/switchboard/getInfo.php", [config](const services::LoggedRequest&) {
        return services::ServiceReply{200, config, "application/json", {}};
    });
}

// Answers the custom ad request with an ad (the phone key has none of its own among the
// fixtures) that links to the services' landing page and reports to their metrics address.
inline void serveCustomAd(fwtest::LoopbackServices& services) {
    std::string base = services.baseURL();
    services.handle("GET", "/switchboard/custom.php", [base](const services::LoggedRequest&) {
        return services::ServiceReply{
            200,
            R"({"ad_text":"","redirect_url":")" + base + R"(/landing/banner.html","metrics_url":")" + base +
                R"(/switchboard/customclick.php?ad=e2e","ad_type":1,"launch_type":2,"webview_animation_type":7,)"
                R"("img_url":")" +
                base + R"(/switchboard/custom/images/banner.png"})",
            "application/json",
            {}};
    });
}

} // namespace runnertest
