#pragma once
// The publisher's promotion service as the house promotions see it: the table of its
// endpoints with their phone and tablet forms, the URLs built on the configured services base,
// fire-and-forget reports, the tablet test, the installed-application test, the network test
// `connectedToNetwork` and the device generation `machineName`.
//
// Every value placed in a query is percent-encoded on its own before it goes into the URL.
// The house-news requests name the host with the prefix "www."; that prefix is only put in
// front of a host that is a name (not an IP address, not "localhost", not already "www."),
// so the loopback services answer them too.
//
// Free functions; call them on the main thread (machineName and the URL builders are safe
// anywhere).
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/Button.h"

namespace promo {

// One row of the endpoint table: the path's phone form and its tablet form (the same when the
// request has only one form), and whether it goes to the "www." host.
struct PromotionEndpoint {
    std::string_view phonePath;
    std::string_view tabletPath;
    bool wwwHost = false;
};

namespace endpoints {
inline constexpr PromotionEndpoint kHouseNewsList{"/applications/newNews/newNewsPhone.php?",
                                                  "/applications/newNews/newNewsPad.php?", true};
inline constexpr PromotionEndpoint kHouseNewsImpression{"/applications/newNews/updateImpressionPhone.php",
                                                        "/applications/newNews/updateImpressionPad.php", true};
inline constexpr PromotionEndpoint kHouseNewsClick{"/applications/newNews/c_newNewsPhone.php",
                                                   "/applications/newNews/c_newNewsPad.php", true};
inline constexpr PromotionEndpoint kPopUpRequest{"/applications/popupAds/iPhonePopupAdsNew.php",
                                                 "/applications/popupAds/iPadPopupAdsNew.php"};
inline constexpr PromotionEndpoint kPopUpImpression{"/applications/popupAds/updateImpressionPhone.php",
                                                    "/applications/popupAds/updateImpressionPad.php"};
inline constexpr PromotionEndpoint kPopUpClick{"/applications/popupAds/c_iPhonePopupAdsNew.php",
                                               "/applications/popupAds/c_iPadPopupAdsNew.php"};
inline constexpr PromotionEndpoint kPushNews{"/pushNews/newPushNews.php", "/pushNews/newPushNews.php"};
inline constexpr PromotionEndpoint kPushNewsClick{"/pushNews/countClick.php", "/pushNews/countClick.php"};
inline constexpr PromotionEndpoint kMoreAppsList{"/applications/moreAppsNew/moreAppsPhone.php?",
                                                 "/applications/moreAppsNew/moreAppsPad.php?"};
inline constexpr PromotionEndpoint kMoreAppsImpression{"/applications/moreAppsNew/updateImpressionPhone.php",
                                                       "/applications/moreAppsNew/updateImpressionPad.php"};
inline constexpr PromotionEndpoint kMoreAppsClick{"/applications/moreAppsNew/moreAppsClickPhone.php",
                                                  "/applications/moreAppsNew/moreAppsClickPad.php"};
inline constexpr PromotionEndpoint kWallpaperRequest{"/wallPopUp/wallPopUp.php", "/wallPopUp/wallPopUp.php"};
inline constexpr PromotionEndpoint kWallpaperImpression{"/wallPopUp/updateImpression.php",
                                                        "/wallPopUp/updateImpression.php"};
inline constexpr PromotionEndpoint kWallpaperClick{"/wallPopUp/c_wallPromotion.php", "/wallPopUp/c_wallPromotion.php"};
} // namespace endpoints

using QueryItems = std::vector<std::pair<std::string, std::string>>;

// YES when the device answers userInterfaceIdiom with a non-zero value.
bool isTabletDevice();

// The endpoint's URL for this device's form, with `query` appended ("name=value" pairs, each
// value percent-encoded on its own). A list request without parameters keeps its bare "?".
std::string promotionURL(const PromotionEndpoint& endpoint, const QueryItems& query = {});

// The services base URL with the "www." prefix applied to its host when that is a name (see
// above); its scheme, port and path prefix are kept. Empty when no services base is configured.
std::string houseNewsBaseURL();
// The host with the "www." prefix when it is a name; IP addresses, "localhost" and hosts that
// already begin with "www." are left alone. A ":port" suffix is kept.
std::string wwwHostForm(std::string_view hostAndPort);

// A report: an asynchronous GET whose reply and failure are ignored.
void sendPromotionReport(const std::string& url);

// Whether the application object can open `appIdentity` (the promoted application is
// installed). An empty or malformed identity counts as not installed.
bool isApplicationInstalled(std::string_view appIdentity);

// Reachability of the default route (0.0.0.0): reachable and no connection required.
bool connectedToNetwork();

// The device generation ("iPhone 4G", ... or "Unknown") from the hardware machine identifier.
std::string machineName();
// The name of one machine identifier by the table (no logging).
std::string machineNameForIdentifier(std::string_view identifier);
// Tests: replaces the hardware machine identifier (empty: read the real one again).
void setMachineIdentifierForTesting(std::string identifier);

// The close button of a promotion screen: a custom button showing `image` (`highlightedImage`
// while pressed) that runs `onClose` on touch-up inside; `owner` identifies the action.
std::shared_ptr<platform::Button> makeCloseButton(const platform::Rect& frame, std::string label,
                                                  std::string_view image, std::string_view highlightedImage,
                                                  std::function<void()> onClose, const void* owner);

} // namespace promo
