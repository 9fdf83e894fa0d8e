#pragma once
// UserInfo: everything an Orbis request says about the device, the application, the user and
// the banner: device and hardware facts, the browser user agent captured from a hidden web
// view, the application's identity, the delegate's targeting answers and a location (from the
// delegate or from the platform's location service).
//
// Ownership: created with its banner manager and owned by it (the manager's location refresh
// timer holds it too while it runs); it holds the manager and the delegate weakly. Main
// thread only: the hidden web view and the location manager call back on the main run loop.
// Once the manager is gone, updateUserInfo sends nothing.
//
// An update (updateInfo) gathers the facts once, the delegate's non-empty answers once each,
// renews the Wi-Fi test and the location, and then asks the manager to send the request
// (setupAdRequest). The first update waits for the hidden web view's navigation question,
// which carries the browser's request headers.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orbis/OrbisAdDelegate.h"
#include "platform/location/LocationManager.h"
#include "platform/web/WebView.h"

namespace orbis {

class OrbisAdManager;

inline constexpr std::string_view kOrbisSDKVersion = "2.0.0";
// The ad unit of every banner of this system, as slot text.
inline constexpr std::string_view kDefaultAdUnitSlot = "9";

class UserInfo : public platform::WebViewDelegate,
                 public platform::LocationManagerDelegate,
                 public std::enable_shared_from_this<UserInfo> {
public:
    // The location manager's desired accuracy, in metres.
    static constexpr double kDesiredAccuracyMetres = 3000.0;
    // The page the hidden web view is asked to load; its navigation question is all we use.
    static constexpr std::string_view kUserAgentProbeURL = "http://www.example.com/";

    UserInfo();
    ~UserInfo() override;
    UserInfo(const UserInfo&) = delete;
    UserInfo& operator=(const UserInfo&) = delete;

    // Stores the delegate and starts an update; exceptions inside are caught and dropped.
    void updateInfo(std::weak_ptr<OrbisAdDelegate> delegate);
    void fillDeviceInfo();
    void updateUserInfo();

    // ---- Location ----
    void switchOnLocUpdate();
    void switchOffLocUpdate();
    void fillLocationInfo(const platform::Location& location);

    // ---- Facts (nullopt when the system cannot tell) ----
    // The system key's value: text (an empty text is nothing), or an integer written as
    // signed decimal. A key the system does not know, or of the other kind, gives nothing.
    static std::optional<std::string> requestSysCtlByName(std::string_view key, bool useIntType);
    static std::optional<std::string> machineHW();
    static std::optional<std::string> modelHW();
    static std::optional<std::string> cpuFreqHW();
    static std::optional<std::string> cpuFreqMaxHW();
    static std::optional<std::string> ramHW();
    static std::optional<std::string> cpuTypeHW();
    static std::optional<std::string> cpuSubTypeHW();
    static std::optional<std::string> bootTimeHW();
    // The size of the file system holding Documents, as "%.2Lf" plus " KB", " MB" or " GB".
    static std::optional<std::string> getTotalDiskSpace();
    static std::string formatDiskSpace(long double bytes);
    // An interface "en0" with an IPv4 address that is not a loopback interface.
    static bool localWiFiAvailable();
    // The location-services test for this system: the class-level one above system 4.0,
    // the manager's own before.
    bool locationServicesEnabled() const;
    // "year-month-day" of the date in the Gregorian calendar, without leading zeros.
    static std::string dateOfBirthText(platform::Date date);

    // WebViewDelegate (the hidden web view).
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    // LocationManagerDelegate.
    void locationManagerDidUpdateToLocation(platform::LocationManager&, const platform::Location& newLocation,
                                            const std::optional<platform::Location>& oldLocation) override;
    void locationManagerDidFailWithError(platform::LocationManager&, const platform::Error& error) override;

    // ---- Fields ----
    std::optional<std::string> appBId;
    std::optional<std::string> appDisplayName;
    std::optional<std::string> appVer;
    bool onWifi = false;
    std::optional<std::string> deviceId;
    std::optional<std::string> localization;
    std::optional<std::string> deviceName;
    std::optional<std::string> deviceModel;
    std::optional<std::string> deviceSystemName;
    std::optional<std::string> deviceSystemVersion;
    std::optional<std::string> currentSDKVersion;
    std::optional<std::string> userAgent;
    std::optional<std::string> deviceStorageSize;
    std::optional<std::string> deviceModelHW;
    std::optional<std::string> deviceCpuFqHW;
    std::optional<std::string> deviceCpuFqMaxHW;
    std::optional<std::string> deviceRAMHW;
    std::optional<std::string> deviceCpuTypeHW;
    std::optional<std::string> deviceCpuSubTypeHW;
    std::optional<std::string> deviceBTHW;
    std::optional<std::string> deviceMachineHW;
    std::optional<std::string> siteId;
    std::optional<std::string> postalCode;
    std::optional<std::string> areaCode;
    std::optional<std::string> dateOfBirth;
    int gender = 0;
    std::optional<std::string> keywords;
    std::optional<std::string> searchString;
    unsigned income = 0;
    int education = 0;
    int ethnicity = 0;
    int age = 0;
    std::optional<std::string> interests;
    std::shared_ptr<platform::LocationManager> locationManager;
    bool locationInquiryAllowed = false;
    bool locationMethodImplemented = false;
    bool locationDeniedByUser = false;
    double lat = 0;
    double lon = 0;
    double locAccuracy = 0;
    bool validGeoInfo = false;
    std::optional<platform::Date> lastLocationUpdateDT;
    bool loctionEngineSwitchedON = false;
    bool testMode = false;
    std::optional<std::string> testModeAdActionType;
    std::string adUnitSlot{kDefaultAdUnitSlot};
    std::weak_ptr<OrbisAdManager> adManager;
    std::weak_ptr<OrbisAdDelegate> adDelegate;
    std::optional<std::string> phoneUserAgent;
    std::optional<std::string> hRefTag;
    std::optional<std::string> hRefKey;
    // Further request parameters, sent in key order.
    std::optional<std::vector<std::pair<std::string, std::string>>> paramsDictionary;

    // The hidden web view while it waits for its navigation question (tests read it).
    const std::shared_ptr<platform::WebView>& userAgentWebView() const { return userAgentWebView_; }

private:
    std::shared_ptr<platform::WebView> userAgentWebView_;
};

} // namespace orbis
