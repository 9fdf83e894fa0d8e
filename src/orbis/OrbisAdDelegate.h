#pragma once
// OrbisAdDelegate: what an Orbis banner asks its owner and tells it. The banner holds its
// delegate weakly (std::weak_ptr), so delegates live in a std::shared_ptr.
//
// The two required questions are pure virtual. Every optional question answers std::optional
// (std::nullopt: no answer) and every optional notice does nothing unless overridden. The
// banner asks responds(selector) before each optional item ("testMode",
// "adReceivedNotification:") and sends nothing when it answers false; the base answers true
// for the required items only, so a delegate lists the optional items it implements:
//
//     bool responds(std::string_view s) const override {
//         return s == "adReceivedNotification:" || OrbisAdDelegate::responds(s);
//     }
//
// Every call arrives on the main thread, on the banner's own run-loop turns.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/location/LocationManager.h"

namespace platform {
class ViewController;
}

namespace orbis {

class OrbisAdManager;

class OrbisAdDelegate {
public:
    virtual ~OrbisAdDelegate() = default;

    // Whether the delegate implements `selector`. The base answers true for the required
    // "siteId" and "rootViewControllerForAd" only.
    virtual bool responds(std::string_view selector) const {
        return selector == "siteId" || selector == "rootViewControllerForAd";
    }

    // ---- Required ----
    virtual std::optional<std::string> siteId() = 0;
    virtual std::shared_ptr<platform::ViewController> rootViewControllerForAd() = 0;

    // ---- Optional questions ----
    virtual std::optional<bool> isLocationInquiryAllowed() { return std::nullopt; }
    virtual std::optional<platform::Location> currentLocation() { return std::nullopt; }
    virtual std::optional<bool> testMode() { return std::nullopt; }
    virtual std::optional<std::string> postalCode() { return std::nullopt; }
    virtual std::optional<std::string> areaCode() { return std::nullopt; }
    virtual std::optional<platform::Date> dateOfBirth() { return std::nullopt; }
    // 1 male, 2 female, 0 none.
    virtual std::optional<int> gender() { return std::nullopt; }
    virtual std::optional<std::string> keywords() { return std::nullopt; }
    virtual std::optional<std::string> searchString() { return std::nullopt; }
    virtual std::optional<unsigned> income() { return std::nullopt; }
    virtual std::optional<int> education() { return std::nullopt; }
    virtual std::optional<int> ethnicity() { return std::nullopt; }
    virtual std::optional<int> age() { return std::nullopt; }
    virtual std::optional<std::string> interests() { return std::nullopt; }
    // Outside the protocol: asked in test mode only, for the action type of test ads.
    virtual std::optional<std::string> testModeAdActionType() { return std::nullopt; }

    // ---- Optional notices (the banner that sends them is the argument) ----
    virtual void adReceivedNotification(OrbisAdManager&) {}
    virtual void adFailedNotification(OrbisAdManager&) {}
    virtual void adModalScreenDisplayNotification(OrbisAdManager&) {}
    virtual void adModalScreenDismissNotification(OrbisAdManager&) {}
    virtual void applicationWillTerminateFromAd(OrbisAdManager&) {}
};

} // namespace orbis
