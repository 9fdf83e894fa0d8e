#pragma once
// SwitchboardDelegate: the protocol that the host of a mediation slot adopts. The slot sends
// it its callbacks and asks it for the application key and optional overrides; every adapter
// asks it for per-network keys, demographics, location, colours and the test switch through
// its `switchboardDelegate` field. The host is held weakly (std::weak_ptr) by the slot and by
// every adapter, so hosts live in a std::shared_ptr.
//
// Items 1 and 2 are required (pure virtual); items 3 to 74 are optional, in declaration order.
// An optional query answers std::optional: std::nullopt means "no answer" (not implemented, or
// nil). An optional callback does nothing unless overridden.
//
// Probing. Senders ask responds(selector) before every optional item, as the selector names
// in kSwitchboardDelegateSelectors spell them ("dateOfBirth",
// "switchboardDidFailToReceiveAd:usingBackup:"), and send nothing when it answers false.
// The base responds() answers true for the two required items and for the names of the
// registered event actions (below), false for everything else; so a host overrides
// responds() to list the optional items it implements and falls back to the base:
//
//     bool responds(std::string_view s) const override {
//         return s == "switchboardDidReceiveAd:" || s == "adRefreshDuration" ||
//                SwitchboardDelegate::responds(s);
//     }
//
// A host that implements an item but does not list it is treated as not implementing it,
// exactly as a host that hides a method by answering the probe itself.
//
// Event actions. An event ration (network type 17) names a host method to call. Such names
// come from the remote configuration, so they reach only the actions the host registers
// here: "name" for an action called without argument, "name:" for one called with the slot.
// A registered action also makes responds() answer true for its name.
//
// Answers are read at the moment they are needed (each request or event), never cached by
// the sender. Everything is called on the main thread.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mediation/SwitchboardForward.h"
#include "platform/foundation/Value.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/Color.h"

namespace mediation {

struct SwitchboardDelegateSelector {
    std::string_view selector;
    bool required;
};

// The 74 items of the protocol, in declaration order.
inline constexpr std::array<SwitchboardDelegateSelector, 74> kSwitchboardDelegateSelectors = {{
    {"switchboardApplicationKey", true},
    {"viewControllerForPresentingModalView", true},
    {"switchboardConfigURL", false},
    {"switchboardImpMetricURL", false},
    {"switchboardClickMetricURL", false},
    {"switchboardCustomAdURL", false},
    {"adRefreshDuration", false},
    {"switchboardDidReceiveAd:", false},
    {"switchboardDidFailToReceiveAd:usingBackup:", false},
    {"switchboardDidAnimateToNewAdIn:", false},
    {"switchboardReceivedRequestForDeveloperToFufill:", false},
    {"switchboardReceivedNotificationAdsAreOff:", false},
    {"switchboardWillPresentFullScreenModal", false},
    {"switchboardDidDismissFullScreenModal", false},
    {"switchboardDidReceiveConfig:", false},
    {"switchboardTestMode", false},
    {"switchboardCurrentOrientation", false},
    {"switchboardAdBackgroundColor", false},
    {"switchboardTextColor", false},
    {"switchboardSecondaryTextColor", false},
    {"backgroundColor", false},
    {"textColor", false},
    {"lumenPublisherID", false},
    {"harborWirelessDictionary", false},
    {"tallyApplicationKey", false},
    {"pumiceConfigDictionary", false},
    {"meridianApIDString", false},
    {"NimbusApplicationKey", false},
    {"lumenSyndicationClientID", false},
    {"pebbleClientID", false},
    {"kelpAppId", false},
    {"orbisAppID", false},
    {"monsoonAppID", false},
    {"cobaltAppID", false},
    {"locationInfo", false},
    {"postalCode", false},
    {"areaCode", false},
    {"dateOfBirth", false},
    {"gender", false},
    {"keywords", false},
    {"searchString", false},
    {"incomeLevel", false},
    {"harborWirelessAdType", false},
    {"harborWirelessEducationLevel", false},
    {"harborWirelessEthnicity", false},
    {"meridianAdType", false},
    {"meridianEducationLevel", false},
    {"meridianEthnicity", false},
    {"meridianAge", false},
    {"tangentSiteId", false},
    {"tangentSpotId", false},
    {"tangentCategory", false},
    {"tangentAdultContent", false},
    {"tangentTransitionType", false},
    {"lumenSyndicationCompanyName", false},
    {"lumenSyndicationAppName", false},
    {"lumenSyndicationApplicationAppleID", false},
    {"lumenSyndicationKeywords", false},
    {"lumenSyndicationAppWebContentURL", false},
    {"lumenSyndicationChannelIDs", false},
    {"lumenSyndicationAdType", false},
    {"lumenSyndicationHostID", false},
    {"lumenSyndicationAdTopBackgroundColor", false},
    {"lumenSyndicationAdBorderColor", false},
    {"lumenSyndicationAdLinkColor", false},
    {"lumenSyndicationAdURLColor", false},
    {"lumenSyndicationAlternateAdColor", false},
    {"lumenSyndicationAlternateAdURL", false},
    {"lumenSyndicationAllowAdsafeMedium", false},
    {"orbisEducation", false},
    {"orbisEthnicity", false},
    {"orbisInterests", false},
    {"HaloAdvertisingSection", false},
    {"monsoonContextParameters", false},
}};

// Whether `selector` is one of the protocol's items.
bool isSwitchboardDelegateSelector(std::string_view selector);

class SwitchboardDelegate {
public:
    virtual ~SwitchboardDelegate() = default;

    // Whether the host implements `selector` (see the header comment).
    virtual bool responds(std::string_view selector) const;

    // An action for an event ration; its argument is the slot for "name:" actions, null
    // for "name" actions.
    using EventAction = std::function<void(SwitchboardView*)>;
    // Registers (or, with an empty action, removes) the action for `selector`.
    void setEventAction(std::string selector, EventAction action);
    // Runs the action registered for `selector`; false when there is none.
    bool performEventAction(std::string_view selector, SwitchboardView* argument);

    // Objects ("object" answers) are passed as platform values; colours, dates and location
    // fixes as the platform's; URLs as absolute URL text; unsigned integers as uint64_t.

    // --- Required ---
    // 1. Key of the configuration to fetch; asked by the slot and the class-level fetch.
    virtual std::string switchboardApplicationKey() = 0;
    // 2. The controller that presents in-app browsers and landing pages. Its presence is
    //    what the slot's factory checks; asked by the custom, Nimbus, Lumen and Orbis adapters.
    virtual std::shared_ptr<platform::ViewController> viewControllerForPresentingModalView() = 0;

    // --- Service endpoints and refresh ---
    // 3. Base URL of the configuration request; none: the default endpoint.
    virtual std::optional<std::string> switchboardConfigURL() { return std::nullopt; }
    // 4. Base URL of impression pings; none: the default.
    virtual std::optional<std::string> switchboardImpMetricURL() { return std::nullopt; }
    // 5. Base URL of click pings; none: the default.
    virtual std::optional<std::string> switchboardClickMetricURL() { return std::nullopt; }
    // 6. Base URL of custom-ad requests.
    virtual std::optional<std::string> switchboardCustomAdURL() { return std::nullopt; }
    // 7. Seconds between refreshes, over the configuration's interval.
    virtual std::optional<int> adRefreshDuration() { return std::nullopt; }

    // --- Callbacks ---
    // 8. An adapter reported an ad view (sent before the new view is in place); the Halo
    //    adapter also sends it with null.
    virtual void switchboardDidReceiveAd(SwitchboardView* view) { (void)view; }
    // 9. usingBackup true: a network failed and the next one is being tried; false: the cycle
    //    or the configuration fetch ended with an error, which the slot's lastError holds.
    virtual void switchboardDidFailToReceiveAd(SwitchboardView* view, bool usingBackup) {
        (void)view;
        (void)usingBackup;
    }
    // 10. The new ad view is in place.
    virtual void switchboardDidAnimateToNewAdIn(SwitchboardView* view) { (void)view; }
    // 11. A generic ration was chosen: the host fills the slot itself.
    virtual void switchboardReceivedRequestForDeveloperToFufill(SwitchboardView* view) { (void)view; }
    // 12. The configuration says ads are off; no request follows.
    virtual void switchboardReceivedNotificationAdsAreOff(SwitchboardView* view) { (void)view; }
    // 13. An ad opens a full-screen or modal screen.
    virtual void switchboardWillPresentFullScreenModal() {}
    // 14. That screen closed.
    virtual void switchboardDidDismissFullScreenModal() {}
    // 15. A configuration arrived (null view: from a class-level fetch).
    virtual void switchboardDidReceiveConfig(SwitchboardView* view) { (void)view; }

    // --- Display ---
    // 16. Test ads (Nimbus, Lumen, Orbis adapters).
    virtual std::optional<bool> switchboardTestMode() { return std::nullopt; }
    // 17. Interface orientation (Halo adapter).
    virtual std::optional<int> switchboardCurrentOrientation() { return std::nullopt; }
    // 18. First choice of the background-colour helper; also asked by the Lumen adapter.
    virtual std::optional<platform::Color> switchboardAdBackgroundColor() { return std::nullopt; }
    // 19. First choice of the text-colour helper.
    virtual std::optional<platform::Color> switchboardTextColor() { return std::nullopt; }
    // 20. Answer of the secondary-text-colour helper.
    virtual std::optional<platform::Color> switchboardSecondaryTextColor() { return std::nullopt; }
    // 21. Second choice of the background-colour helper.
    virtual std::optional<platform::Color> backgroundColor() { return std::nullopt; }
    // 22. Second choice of the text-colour helper.
    virtual std::optional<platform::Color> textColor() { return std::nullopt; }

    // --- Per-network keys ---
    // 23. Lumen adapter.
    virtual std::optional<std::string> lumenPublisherID() { return std::nullopt; }
    // 24 to 26. Declared; asked by nothing.
    virtual std::optional<platform::Value> harborWirelessDictionary() { return std::nullopt; }
    virtual std::optional<platform::Value> tallyApplicationKey() { return std::nullopt; }
    virtual std::optional<platform::Value> pumiceConfigDictionary() { return std::nullopt; }
    // 27. Meridian adapter.
    virtual std::optional<std::string> meridianApIDString() { return std::nullopt; }
    // 28. Nimbus adapter.
    virtual std::optional<std::string> NimbusApplicationKey() { return std::nullopt; }
    // 29 to 31. Declared; asked by nothing.
    virtual std::optional<platform::Value> lumenSyndicationClientID() { return std::nullopt; }
    virtual std::optional<platform::Value> pebbleClientID() { return std::nullopt; }
    virtual std::optional<platform::Value> kelpAppId() { return std::nullopt; }
    // 32. Orbis adapter (site id).
    virtual std::optional<std::string> orbisAppID() { return std::nullopt; }
    // 33. Declared; asked by nothing.
    virtual std::optional<platform::Value> monsoonAppID() { return std::nullopt; }
    // 34. Cobalt adapter.
    virtual std::optional<std::string> cobaltAppID() { return std::nullopt; }

    // --- Location and demographics ---
    // 35. Custom, Lumen, Meridian, Orbis and Tangent adapters.
    virtual std::optional<platform::Location> locationInfo() { return std::nullopt; }
    // 36. Meridian and Orbis adapters.
    virtual std::optional<std::string> postalCode() { return std::nullopt; }
    // 37. Orbis adapter.
    virtual std::optional<std::string> areaCode() { return std::nullopt; }
    // 38. The age helper; Lumen, Meridian, Orbis and Tangent adapters.
    virtual std::optional<platform::Date> dateOfBirth() { return std::nullopt; }
    // 39. "m" or "f"; Lumen, Meridian, Orbis and Tangent adapters.
    virtual std::optional<std::string> gender() { return std::nullopt; }
    // 40. An array of keyword strings (Lumen uses only that) or a string (Orbis and Tangent
    //     pass it on as their keyword text).
    virtual std::optional<platform::Value> keywords() { return std::nullopt; }
    // 41. Declared; asked by nothing.
    virtual std::optional<platform::Value> searchString() { return std::nullopt; }
    // 42. Orbis and Tangent adapters; the Meridian adapter only probes it.
    virtual std::optional<std::uint64_t> incomeLevel() { return std::nullopt; }
    // 43 to 45. Declared; asked by nothing.
    virtual std::optional<std::uint64_t> harborWirelessAdType() { return std::nullopt; }
    virtual std::optional<std::uint64_t> harborWirelessEducationLevel() { return std::nullopt; }
    virtual std::optional<std::uint64_t> harborWirelessEthnicity() { return std::nullopt; }
    // 46. Meridian adapter.
    virtual std::optional<std::uint64_t> meridianAdType() { return std::nullopt; }
    // 47, 48. Probed by the Meridian adapter.
    virtual std::optional<std::uint64_t> meridianEducationLevel() { return std::nullopt; }
    virtual std::optional<std::uint64_t> meridianEthnicity() { return std::nullopt; }
    // 49. Meridian adapter.
    virtual std::optional<std::uint64_t> meridianAge() { return std::nullopt; }

    // --- Tangent ---
    // 50 to 54. Tangent adapter.
    virtual std::optional<std::string> tangentSiteId() { return std::nullopt; }
    virtual std::optional<std::string> tangentSpotId() { return std::nullopt; }
    virtual std::optional<std::string> tangentCategory() { return std::nullopt; }
    virtual std::optional<std::uint64_t> tangentAdultContent() { return std::nullopt; }
    virtual std::optional<std::uint64_t> tangentTransitionType() { return std::nullopt; }

    // --- Lumen syndication: 55 to 69, declared; asked by nothing ---
    virtual std::optional<platform::Value> lumenSyndicationCompanyName() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAppName() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationApplicationAppleID() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationKeywords() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAppWebContentURL() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationChannelIDs() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAdType() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationHostID() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAdTopBackgroundColor() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAdBorderColor() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAdLinkColor() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAdURLColor() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAlternateAdColor() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAlternateAdURL() { return std::nullopt; }
    virtual std::optional<platform::Value> lumenSyndicationAllowAdsafeMedium() { return std::nullopt; }

    // --- Orbis demographics ---
    // 70 to 72. Orbis adapter.
    virtual std::optional<std::uint64_t> orbisEducation() { return std::nullopt; }
    virtual std::optional<std::uint64_t> orbisEthnicity() { return std::nullopt; }
    virtual std::optional<std::string> orbisInterests() { return std::nullopt; }

    // --- 73, 74. Declared; asked by nothing ---
    virtual std::optional<platform::Value> HaloAdvertisingSection() { return std::nullopt; }
    virtual std::optional<platform::Value> monsoonContextParameters() { return std::nullopt; }

private:
    std::map<std::string, EventAction, std::less<>> eventActions_;
};

} // namespace mediation
