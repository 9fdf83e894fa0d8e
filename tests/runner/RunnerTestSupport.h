#pragma once
// Helpers shared by the runner's tests of the whole application.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cobalt/CBController.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/SwitchboardAdapterCobalt.h"
#include "lumen/BannerView.h"
#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "mediation/SwitchboardConfigStore.h"
#include "mediation/SwitchboardView.h"
#include "meridian/MRHandshake.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/TextRenderer.h"
#include "platform/ui/Window.h"
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

// Answers the launch pop-up's requests (phone and tablet) with a promotion to show (the
// fixtures' reply shows none): its picture is a plain box, as any server's may be.
inline void servePopUpPromotion(fwtest::LoopbackServices& services) {
    const std::string reply = R"({"calledApp":[{"adStatus":true,"adNetStatus":true}],"adsData":[)"
                              R"({"appIdentity":"promoted://","imageLink":")" +
                              services.url("/promo/images/popup-1.png") +
                              R"(","id":"41","adFullLink":"http://store.example/promoted-app"}]})";
    for (const char* path :
         {"/applications/popupAds/iPhonePopupAdsNew.php", "/applications/popupAds/iPadPopupAdsNew.php"})
        services.handle("GET", path, [reply](const services::LoggedRequest&) {
            return services::ServiceReply{200, reply, "application/json", {}};
        });
}

// The text screen and `tap` follow one rule: every label the text screen brackets ("[Done]",
// "[<close.png>]" for a picture) is one `tap` can press, and every button shown that `tap`
// presses by its label shows that label on the text screen. A switch's "[on]" and "[off]" are
// its state, not a label.
inline ::testing::AssertionResult tapsMatchTheTextScreen() {
    const std::string screen = platform::TextRenderer::renderScreen();
    std::vector<std::string> problems;
    for (std::size_t open = screen.find('['); open != std::string::npos; open = screen.find('[', open + 1)) {
        std::size_t close = screen.find_first_of("]\n", open + 1);
        if (close == std::string::npos || screen[close] != ']')
            continue;
        std::string label = screen.substr(open + 1, close - open - 1);
        if (label == "on" || label == "off" || label.empty())
            continue;
        if (label.size() > 2 && label.front() == '<' && label.back() == '>')
            label = label.substr(1, label.size() - 2);
        if (!platform::TextRenderer::findTappable(label))
            problems.push_back("\"[" + label + "]\" shows, but tap cannot press it");
    }
    std::vector<std::shared_ptr<platform::Button>> buttons;
    std::function<void(const std::shared_ptr<platform::View>&)> collect =
        [&](const std::shared_ptr<platform::View>& v) {
            if (!v || v->isHidden() || v->alpha() < 0.01)
                return;
            if (auto button = std::dynamic_pointer_cast<platform::Button>(v))
                buttons.push_back(button);
            for (const auto& sub : v->subviews())
                collect(sub);
        };
    collect(platform::Application::shared().keyWindow());
    for (const auto& alert : platform::Application::shared().visibleAlerts())
        collect(alert);
    for (const auto& button : buttons) {
        const std::string label = button->accessibilityLabel();
        auto found = label.empty() ? std::nullopt : platform::TextRenderer::findTappable(label);
        if (found && found->view == button && screen.find(label) == std::string::npos)
            problems.push_back("tap presses \"" + label + "\", but the text screen does not show it");
    }
    if (problems.empty())
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (const auto& p : problems)
        failure << p << "\n";
    return failure << screen;
}

} // namespace runnertest
