#include "cobalt/SwitchboardAdapterCobalt.h"

#include "cobalt/CBAdView.h"
#include "cobalt/CBController.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/foundation/Error.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Device.h"

namespace cobalt {
namespace {

const mediation::SwitchboardAdapterRegistrar<SwitchboardAdapterCobalt> kRegistrar;

// Process-wide: the engine has been started (or was found started), and when the last banner
// was reported to a mediation view (seconds since 1970; 0 for never).
bool g_started = false;
double g_lastReadyTime = 0;

bool isTablet() { return platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone; }

double now() { return platform::Clock::current().now(); }

} // namespace

SwitchboardAdapterCobalt::SwitchboardAdapterCobalt(std::weak_ptr<mediation::SwitchboardDelegate> switchboardDelegate,
                                                   std::weak_ptr<mediation::SwitchboardViewInterface> switchboardView,
                                                   std::shared_ptr<mediation::SwitchboardConfig> switchboardConfig,
                                                   std::shared_ptr<mediation::SwitchboardAdNetworkConfig> networkConfig)
    : SwitchboardAdNetworkAdapter(std::move(switchboardDelegate), std::move(switchboardView),
                                  std::move(switchboardConfig), std::move(networkConfig)) {
    if (!g_started)
        startEngine();
}

SwitchboardAdapterCobalt::~SwitchboardAdapterCobalt() {
    // A released adapter is no longer the slot view's delegate.
    if (auto view = slotView_.lock())
        view->controller()->releaseDelegate(this);
}

std::string SwitchboardAdapterCobalt::bannerSlotName() { return isTablet() ? kSkyscraperSlotName : kBannerSlotName; }
bool SwitchboardAdapterCobalt::engineStarted() { return g_started; }
double SwitchboardAdapterCobalt::lastReadyTime() { return g_lastReadyTime; }

void SwitchboardAdapterCobalt::resetForTesting() {
    g_started = false;
    g_lastReadyTime = 0;
}

void SwitchboardAdapterCobalt::startEngine() {
    try {
        std::vector<std::shared_ptr<CBAdSlotDescription>> slots = {
            CBAdSlotDescription::descriptionWithSize(kCBAdSizeBanner, kBannerSlotName),
            isTablet() ? CBAdSlotDescription::descriptionWithSize(4, kSkyscraperSlotName)
                       : CBAdSlotDescription::descriptionWithSize(kCBAdSizeFullScreen, kFullScreenSlotName)};
        std::optional<std::string> appID;
        auto host = switchboardDelegate();
        if (host && host->responds("cobaltAppID"))
            appID = host->cobaltAppID();
        else if (networkConfig())
            appID = networkConfig()->pubId();
        CBAdEngine::startupWithAppID(appID, slots);
        g_started = true;
    } catch (const platform::NamedException& e) {
        if (e.name() == kNSInternalInconsistencyException) {
            g_started = true; // started before, by the host application
            return;
        }
        // Any other start-up failure fails this adapter's request (in getAd).
        mediation::SBLogError("Cobalt engine start-up failed: %@", std::string(e.what()));
    } catch (const std::exception& e) {
        mediation::SBLogError("Cobalt engine start-up failed: %@", std::string(e.what()));
    }
}

void SwitchboardAdapterCobalt::takeSlotView() {
    auto self = std::static_pointer_cast<SwitchboardAdapterCobalt>(shared_from_this());
    auto view = CBAdView::adViewForSlotNamed(bannerSlotName(), std::weak_ptr<CobaltDelegate>(self));
    slotView_ = view;
    const platform::Size size = isTablet() ? kTabletContainerSize : kPhoneContainerSize;
    innerContainer_ = std::make_shared<platform::View>(platform::Rect{{0, 0}, size});
    innerContainer_->setBackgroundColor(platform::Color::clearColor());
    innerContainer_->addSubview(view);
    outerContainer_ = std::make_shared<platform::View>(view->frame());
    outerContainer_->setBackgroundColor(platform::Color::clearColor());
    outerContainer_->addSubview(innerContainer_);
    setAdNetworkView(outerContainer_);
}

void SwitchboardAdapterCobalt::fail() {
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, std::nullopt);
}

void SwitchboardAdapterCobalt::getAd() {
    if (!g_started) {
        mediation::SBLogDebug("Failing Cobalt ad request because the Cobalt engine could not be started.");
        fail();
        return;
    }
    if (auto controller = CBController::existing(); controller && !controller->hasStore() &&
                                                    !controller->checkStore()) {
        mediation::SBLogDebug("Failing Cobalt ad request because the Cobalt engine has no store.");
        fail();
        return;
    }
    if (now() - g_lastReadyTime <= kCBMinimumRefreshInterval) {
        mediation::SBLogDebug("Failing Cobalt ad request because Cobalt's minimum refresh interval of %f has not "
                              "elapsed since the previous banner display.",
                              kCBMinimumRefreshInterval);
        fail();
        return;
    }
    try {
        if (g_lastReadyTime == 0) {
            // The first banner is reported when the engine says the slot's ad is ready.
            takeSlotView();
            return;
        }
        if (!CBAdEngine::isNextAdDownloadedForSlotNamed(bannerSlotName())) {
            mediation::SBLogDebug(
                "Failing Cobalt banner ad request because the next banner ad has not yet been downloaded.");
            fail();
            return;
        }
        // Reported only when the slot's view has started showing the next ad: one it cannot
        // show (its files are gone with the store, or the view refuses the refresh) fails the
        // request, and the view stays with the adapter whose ad is on screen.
        auto controller = CBController::existing();
        auto view = controller ? std::dynamic_pointer_cast<CBAdView>(controller->viewForSlotNamed(bannerSlotName()))
                               : nullptr;
        if (!view || !view->refresh()) {
            mediation::SBLogDebug("Failing Cobalt banner ad request because the next banner ad cannot be displayed.");
            fail();
            return;
        }
        takeSlotView();
        bannerAdReady();
    } catch (const std::exception& e) {
        mediation::SBLogError("Cobalt banner request failed: %@", std::string(e.what()));
        fail();
    }
}

void SwitchboardAdapterCobalt::bannerAdReady() {
    mediation::SBLogDebug("Cobalt received banner ad.");
    g_lastReadyTime = now();
    if (auto slot = switchboardView())
        slot->adapterDidReceiveAdView(*this, adNetworkView());
}

void SwitchboardAdapterCobalt::cobaltAdReadyForSlotNamed(const std::string& slotName) {
    if (slotName == bannerSlotName() && g_lastReadyTime == 0)
        bannerAdReady();
}

void SwitchboardAdapterCobalt::cobaltFullScreenDisplayWillOpen() { helperNotifyDelegateOfFullScreenModal(); }

void SwitchboardAdapterCobalt::cobaltFullScreenDisplayWillClose() { helperNotifyDelegateOfFullScreenModalDismissal(); }

} // namespace cobalt
