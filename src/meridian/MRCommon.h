#pragma once
// Shared pieces of the Meridian client: the SDK version texts, the console prefix, the named
// exception of its public interface, the service paths (all under the services base URL) and
// the notification names that the Meridian views post and hear. Header only.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace meridian {

inline constexpr std::string_view kMRSDKVersion = "4.2.5-11.5.16.i";
inline constexpr std::string_view kMRLogPrefix = "MRSDK: ";
inline constexpr std::string_view kMRUserAgent = "MRSDK/4.2.5";

// Service paths, appended to platform::servicesBaseURL().
inline constexpr std::string_view kMRAdServerPath = "/meridian/";
inline constexpr std::string_view kMRGetAdPath = "getAd.php5";
inline constexpr std::string_view kMRHandshakePath = "appConfigServlet";
inline constexpr std::string_view kMRConversionPath = "/meridian/conversion/handleConversion";
inline constexpr std::string_view kMRDemoPixelPath =
    "/meridian/pixel-demo/productiton/common/pixel/image.php";
inline constexpr std::string_view kMRLivePixelPath = "/meridian/pixel-live/custom/common/pixel/image.php";

// Notifications. "MRResizeAdToHeight", "MRBottomBarToBeShown", "MRBottomBarToBeEnabled" and
// "MRUpdateStatusBarVisibility" carry a platform::Value (a number) as their object.
inline constexpr std::string_view kCloseMROverlayNotification = "CloseMROverlay";
inline constexpr std::string_view kMROverlayWillCloseNotification = "MROverlayWillClose";
inline constexpr std::string_view kMRBottomBarToBeShownNotification = "MRBottomBarToBeShown";
inline constexpr std::string_view kMRBottomBarToBeEnabledNotification = "MRBottomBarToBeEnabled";
inline constexpr std::string_view kMRUpdateStatusBarVisibilityNotification = "MRUpdateStatusBarVisibility";
inline constexpr std::string_view kMRShowStatusBarIfNeededNotification = "MRShowStatusBarIfNeeded";
inline constexpr std::string_view kMRShowStatusBarIfNeededFromVideoOverlayNotification =
    "MRShowStatusBarIfNeededFromVideoOverlay";
inline constexpr std::string_view kMRCachingBeganNotification = "MRCachingBeganNotification";
inline constexpr std::string_view kMRCachingEndedNotification = "MRCachingEndedNotification";
inline constexpr std::string_view kMRResizeAdToHeightNotification = "MRResizeAdToHeight";

// A named exception raised on misuse of the client's public interface ("Invalid delegate",
// "Invalid Meta Data", "Invalid goal id"). what() is "name: reason".
class MRException : public std::runtime_error {
public:
    MRException(std::string name, std::string reason)
        : std::runtime_error(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

private:
    std::string name_;
    std::string reason_;
};

// Writes "MRSDK: <text>" to the process log.
void mrLog(std::string_view text);

// The device facts the requests carry, computed once per process.
struct MRDeviceFacts {
    std::string uniqueIdentifier;
    std::string model;
    std::string systemVersion;
    std::string machine;   // hardware machine identifier
    std::string userAgent; // "<model> <system version>"
};
const MRDeviceFacts& mrDeviceFacts();
// The base URL of the ad server ("<services>/meridian/").
std::string mrAdServerBaseURL();

// An address kept in a cached video record, as it reads in this run. The loopback services
// listen on a new port every run and their replies name that port, so an address whose host is
// a loopback host moves onto the current services base (when that is a loopback host too),
// keeping its path and query; any other address stays as it is.
std::string mrResolveCachedAddress(const std::string& address);
std::optional<platform::URL> mrResolveCachedURL(const std::optional<platform::URL>& url);
// Every address text of `addresses`; other values stay.
void mrResolveCachedAddresses(platform::Array& addresses);

} // namespace meridian
