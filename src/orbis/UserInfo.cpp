#include "orbis/UserInfo.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "orbis/OrbisAdView.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Device.h"

namespace orbis {

namespace {

constexpr std::string_view kUserAgentPrefix = "Orbis_iPhoneSDK=";
constexpr std::string_view kUserAgentHeader = "User-Agent";
constexpr const char* kBundleIdentifierKey = "CFBundleIdentifier";
constexpr const char* kBundleVersionKey = "CFBundleVersion";
constexpr std::string_view kWiFiInterface = "en0";
// Above this system version the location service answers its test at class level.
constexpr double kClassLevelLocationTestSystem = 4.0;
constexpr double kBytesPerUnit = 1024.0;
constexpr std::array<std::string_view, 3> kSizeUnits = {" KB", " MB", " GB"};
// The date's standard description text.
constexpr std::string_view kDateDescriptionPattern = "yyyy-MM-dd HH:mm:ss '+0000'";
constexpr std::string_view kBirthDatePattern = "y-M-d";

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty())
        return std::nullopt;
    return text;
}

} // namespace

UserInfo::UserInfo() = default;

UserInfo::~UserInfo() {
    if (locationManager) {
        locationManager->setDelegate({});
        locationManager->stopUpdatingLocation();
    }
    if (userAgentWebView_)
        userAgentWebView_->setDelegate({});
}

void UserInfo::updateInfo(std::weak_ptr<OrbisAdDelegate> delegate) {
    adDelegate = std::move(delegate);
    platform::callGuarded("Orbis: updateInfo", [&] { fillDeviceInfo(); });
}

void UserInfo::fillDeviceInfo() {
    if (!phoneUserAgent) {
        auto& device = platform::Device::current();
        deviceId = device.uniqueIdentifier();
        deviceName = nonEmpty(device.name());
        deviceModel = device.model();
        deviceSystemName = device.systemName();
        deviceSystemVersion = device.systemVersion();

        deviceMachineHW = machineHW();
        deviceStorageSize = getTotalDiskSpace();
        deviceModelHW = modelHW();
        deviceCpuFqHW = cpuFreqHW();
        deviceCpuFqMaxHW = cpuFreqMaxHW();
        deviceRAMHW = ramHW();
        deviceCpuTypeHW = cpuTypeHW();
        deviceCpuSubTypeHW = cpuSubTypeHW();
        deviceBTHW = bootTimeHW();

        localization = platform::Locale::current().identifier();
        currentSDKVersion = std::string(kOrbisSDKVersion);
        userAgent = std::string(kUserAgentPrefix) + std::string(kOrbisSDKVersion) + " (" + *deviceModel +
                    "; " + *deviceSystemName + " " + *deviceSystemVersion + "; HW " +
                    deviceMachineHW.value_or("") + ")";

        auto& bundle = platform::Bundle::main();
        if (auto id = bundle.objectForInfoDictionaryKey(kBundleIdentifierKey); id && id->string())
            appBId = *id->string();
        if (auto version = bundle.objectForInfoDictionaryKey(kBundleVersionKey)) {
            long long number = 0;
            if (auto n = version->number())
                number = platform::saturatingCast<long long>(*n);
            else if (version->string())
                number = std::atoll(version->string()->c_str());
            char hex[32];
            std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(number));
            appVer = hex;
        }
        appDisplayName = platform::FileManager::displayName(bundle.resourceDirectory());

        // Only the navigation question matters: it carries the browser's request headers.
        auto request = platform::URLRequest::withURLString(kUserAgentProbeURL);
        userAgentWebView_ = std::make_shared<platform::WebView>(platform::Rect());
        userAgentWebView_->setDelegate(
            std::static_pointer_cast<platform::WebViewDelegate>(shared_from_this()));
        if (request)
            userAgentWebView_->loadRequest(*request);
    } else {
        updateUserInfo();
    }
    onWifi = localWiFiAvailable();
}

bool UserInfo::webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                               const platform::URLRequest& request,
                                                               platform::WebViewNavigationType) {
    if (&webView != userAgentWebView_.get())
        return false;
    auto keepAlive = shared_from_this();
    phoneUserAgent = request.valueForHTTPHeaderField(kUserAgentHeader);
    userAgentWebView_->setDelegate({});
    userAgentWebView_.reset();
    platform::callGuarded("Orbis: updateUserInfo", [&] { updateUserInfo(); });
    return false;
}

void UserInfo::updateUserInfo() {
    auto delegate = adDelegate.lock();
    if (delegate) {
        auto askText = [&](std::optional<std::string>& field, std::string_view selector, auto question) {
            if (!field && delegate->responds(selector))
                field = nonEmpty((delegate.get()->*question)());
        };
        askText(siteId, "siteId", &OrbisAdDelegate::siteId);
        askText(postalCode, "postalCode", &OrbisAdDelegate::postalCode);
        askText(areaCode, "areaCode", &OrbisAdDelegate::areaCode);
        if (!dateOfBirth && delegate->responds("dateOfBirth"))
            if (auto birth = delegate->dateOfBirth())
                dateOfBirth = dateOfBirthText(*birth);
        if (gender == 0 && delegate->responds("gender"))
            gender = delegate->gender().value_or(0);
        askText(keywords, "keywords", &OrbisAdDelegate::keywords);
        askText(searchString, "searchString", &OrbisAdDelegate::searchString);
        if (income == 0 && delegate->responds("income"))
            income = delegate->income().value_or(0);
        if (education == 0 && delegate->responds("education"))
            education = delegate->education().value_or(0);
        if (ethnicity == 0 && delegate->responds("ethnicity"))
            ethnicity = delegate->ethnicity().value_or(0);
        if (age == 0 && delegate->responds("age"))
            age = delegate->age().value_or(0);
        askText(interests, "interests", &OrbisAdDelegate::interests);
        if (!testMode && delegate->responds("testMode"))
            testMode = delegate->testMode().value_or(false);
        if (testMode)
            askText(testModeAdActionType, "testModeAdActionType", &OrbisAdDelegate::testModeAdActionType);
        if (!locationInquiryAllowed && delegate->responds("isLocationInquiryAllowed"))
            locationInquiryAllowed = delegate->isLocationInquiryAllowed().value_or(false);

        if (locationInquiryAllowed && !locationDeniedByUser) {
            if (!locationMethodImplemented && delegate->responds("currentLocation"))
                locationMethodImplemented = true;
            if (locationMethodImplemented) {
                if (auto location = delegate->currentLocation())
                    fillLocationInfo(*location);
            } else if (!lastLocationUpdateDT) {
                switchOnLocUpdate();
            }
        }
    }
    if (auto manager = adManager.lock())
        manager->setupAdRequest();
}

void UserInfo::switchOnLocUpdate() {
    if (!locationManager) {
        locationManager = platform::LocationManager::create();
        locationManager->setDelegate(
            std::static_pointer_cast<platform::LocationManagerDelegate>(shared_from_this()));
        locationManager->setDesiredAccuracy(kDesiredAccuracyMetres);
    }
    if (!loctionEngineSwitchedON && locationServicesEnabled()) {
        locationManager->startUpdatingLocation();
        loctionEngineSwitchedON = true;
        validGeoInfo = false;
    }
}

void UserInfo::switchOffLocUpdate() {
    if (loctionEngineSwitchedON) {
        if (locationManager)
            locationManager->stopUpdatingLocation();
        loctionEngineSwitchedON = false;
    }
}

void UserInfo::fillLocationInfo(const platform::Location& location) {
    if (std::signbit(location.horizontalAccuracy()))
        return;
    validGeoInfo = true;
    lat = location.coordinate().latitude;
    lon = location.coordinate().longitude;
    locAccuracy = location.horizontalAccuracy();
    lastLocationUpdateDT = platform::Clock::current().date();
    switchOffLocUpdate();
}

void UserInfo::locationManagerDidUpdateToLocation(platform::LocationManager&,
                                                  const platform::Location& newLocation,
                                                  const std::optional<platform::Location>&) {
    fillLocationInfo(newLocation);
}

void UserInfo::locationManagerDidFailWithError(platform::LocationManager&, const platform::Error& error) {
    if (error.domain == platform::kLocationErrorDomain && error.code == platform::kLocationErrorDenied) {
        locationDeniedByUser = true;
        switchOffLocUpdate();
        if (locationManager)
            locationManager->setDelegate({});
        locationManager.reset();
    }
}

std::optional<std::string> UserInfo::requestSysCtlByName(std::string_view key, bool useIntType) {
    if (useIntType) {
        auto value = platform::SystemFacts::sysctlInteger(key);
        if (!value)
            return std::nullopt;
        return std::to_string(*value);
    }
    return nonEmpty(platform::SystemFacts::sysctlString(key));
}

std::optional<std::string> UserInfo::machineHW() {
    return requestSysCtlByName("hw.machine", false);
}
std::optional<std::string> UserInfo::modelHW() {
    return requestSysCtlByName("hw.model", false);
}
std::optional<std::string> UserInfo::cpuFreqHW() {
    return requestSysCtlByName("hw.cpufrequency", true);
}
std::optional<std::string> UserInfo::cpuFreqMaxHW() {
    return requestSysCtlByName("hw.cpufrequency_max", true);
}
std::optional<std::string> UserInfo::ramHW() {
    return requestSysCtlByName("hw.memsize", true);
}
std::optional<std::string> UserInfo::cpuTypeHW() {
    return requestSysCtlByName("hw.cputype", true);
}
std::optional<std::string> UserInfo::cpuSubTypeHW() {
    return requestSysCtlByName("hw.cpusubtype", true);
}

std::optional<std::string> UserInfo::bootTimeHW() {
    auto seconds = platform::SystemFacts::kernBootTime();
    if (!seconds) {
        platform::logLine("sysctl(kern.boottime): boot time unavailable");
        return std::nullopt;
    }
    return platform::DateFormatter(kDateDescriptionPattern, platform::TimeZone::utc())
        .string(platform::Date{static_cast<double>(*seconds)});
}

std::string UserInfo::formatDiskSpace(long double bytes) {
    std::string_view unit;
    for (std::size_t i = 0; i < kSizeUnits.size() && bytes > kBytesPerUnit; ++i) {
        bytes /= kBytesPerUnit;
        unit = kSizeUnits[i];
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2Lf", bytes);
    return std::string(text) + std::string(unit);
}

std::optional<std::string> UserInfo::getTotalDiskSpace() {
    struct statvfs info {};
    std::error_code ec;
    auto documents = platform::DeviceHome::documents();
    if (statvfs(documents.c_str(), &info) != 0)
        return std::nullopt;
    return formatDiskSpace(static_cast<long double>(info.f_blocks) * static_cast<long double>(info.f_frsize));
}

bool UserInfo::localWiFiAvailable() {
    auto interfaces = platform::SystemFacts::networkInterfaces();
    if (!interfaces)
        return false;
    return std::any_of(interfaces->begin(), interfaces->end(), [](const platform::NetworkInterface& entry) {
        return entry.name == kWiFiInterface && entry.family == platform::NetworkInterface::Family::IPv4 &&
               !entry.loopback;
    });
}

bool UserInfo::locationServicesEnabled() const {
    const double system = std::strtod(platform::Device::current().systemVersion().c_str(), nullptr);
    if (system > kClassLevelLocationTestSystem || !locationManager)
        return platform::LocationManager::locationServicesEnabled();
    return locationManager->servicesEnabled();
}

std::string UserInfo::dateOfBirthText(platform::Date date) {
    return platform::DateFormatter(kBirthDatePattern).string(date);
}

} // namespace orbis
