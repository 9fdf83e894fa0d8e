#pragma once
// A Cobalt engine launched against the embedded ad service over loopback HTTP, for tests that
// drive it through its driver page: launch and quit, waits for installed clients and ads, and
// the driver page's own script evaluation.
#include "CobaltTestSupport.h"
#include "cobalt/CBAdEngine.h"
#include "cobalt/CBAdManager.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBClientManager.h"
#include "cobalt/CBDatabase.h"
#include "services/CobaltEndpoints.h"
#include "support/LoopbackServices.h"

namespace cobalttest {

struct SlotListener : cobalt::CBAdSlotListener {
    std::vector<std::string> ready;
    void adDownloadedForSlotNamed(const std::string& name) override { ready.push_back(name); }
};

class EngineHarness : public CobaltTest {
protected:
    std::string serverURL() const { return services.url(std::string(services::kCobaltServerPath)); }

    // Starts the engine with one banner slot named "banner" and listens for its ads.
    std::shared_ptr<SlotListener> launch() {
        CBAdEngineStart();
        auto listener = std::make_shared<SlotListener>();
        cobalt::CBController::existing()->adManager()->registerListener(listener, "banner");
        return listener;
    }
    void CBAdEngineStart() {
        cobalt::CBAdEngine::startupWithAppID(std::string("demoapp"), serverURL(),
                                             {cobalt::CBAdSlotDescription::descriptionWithSize(1, "banner")});
    }
    // Ends a launch: the engine stops and its threads are joined.
    static void quit() { cobalt::CBController::resetForTesting(); }

    static std::shared_ptr<platform::WebView> driverPage() {
        return cobalt::CBController::existing()->clientManager()->clientDriver()->webView();
    }
    static std::string evaluate(const std::string& script) {
        return driverPage()->stringByEvaluatingJavaScriptFromString(script);
    }
    static std::int64_t nextAd() {
        return cobalt::CBController::existing()->adManager()->slotForName("banner")->nextAdDlTime();
    }

    fwtest::LoopbackServices services;
    services::CobaltService cobaltService{services.host()};
};

} // namespace cobalttest
