// The service half of the analytics manager: settings, logging, facts, identity values,
// network status and availability. The session half is in VellumTrackingSession.cpp.
#include "vellum/tracking/VellumAnalyticsManager.h"

#include <md5.h>
#include <sys/utsname.h>

#include <array>
#include <cstdio>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Device.h"
#include "vellum/tracking/MRReachability.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace vellum {

namespace {

constexpr const char* kVersionString = "2.4";
constexpr int kBuildNumber = 6;
constexpr int kVersionPatch = 0;
constexpr const char* kLogLineFormat = "*MRT* %s  (run ID %X)";
constexpr const char* kLevelVerbose = "VERBOSE";
constexpr const char* kLevelDebug = "DEBUG";
constexpr const char* kUnavailableFormat = "%s because the Vellum Tracking Library %s.";
constexpr const char* kShutDownReason = "has been shut down on this device";
constexpr const char* kNotStartedReason = "has not been started";
constexpr const char* kShutdownKey = "MRShutdown";

// Identity lookups: where each getter looks, in order.
enum class Source { Defaults, Info };
struct Lookup {
    Source source;
    const char* key;
};
constexpr std::array<Lookup, 4> kAppIDLookup{{
    {Source::Defaults, "VellumAppID"},
    {Source::Defaults, "MRAppID"},
    {Source::Info, "VellumAppID"},
    {Source::Info, "MRAppID"},
}};
constexpr std::array<Lookup, 5> kAppVersionLookup{{
    {Source::Info, "CFBundleShortVersionString"},
    {Source::Info, "CFBundleShortVersion"},
    {Source::Defaults, "VellumAppVersion"},
    {Source::Defaults, "MRAppVersion"},
    {Source::Info, "CFBundleVersion"},
}};
constexpr std::array<Lookup, 2> kAppTokenLookup{
    {{Source::Defaults, "MRAppToken"}, {Source::Info, "MRAppToken"}}};
constexpr std::array<Lookup, 2> kDeviceTokenLookup{
    {{Source::Defaults, "MRDeviceToken"}, {Source::Info, "MRDeviceToken"}}};
constexpr const char* kAppIDKey = "MRAppID";
constexpr const char* kAppVersionKey = "MRAppVersion";
constexpr const char* kAppTokenKey = "MRAppToken";
constexpr const char* kDeviceTokenKey = "MRDeviceToken";

template <std::size_t N> std::optional<std::string> lookupString(const std::array<Lookup, N>& table) {
    for (const auto& row : table) {
        std::optional<platform::Value> v = row.source == Source::Defaults
                                               ? platform::UserDefaults::standard().objectForKey(row.key)
                                               : platform::Bundle::main().objectForInfoDictionaryKey(row.key);
        if (v && v->string())
            return *v->string();
    }
    return std::nullopt;
}

void storeOrRemove(const char* key, const std::optional<std::string>& value) {
    auto& defaults = platform::UserDefaults::standard();
    if (value)
        defaults.setString(key, *value);
    else
        defaults.removeObjectForKey(key);
    defaults.synchronize();
}

std::optional<std::string> levelText() {
    if (auto level = VellumAnalyticsManager::stringForKey(VellumLogLevelKey))
        return level;
    return VellumAnalyticsManager::stringForKey(MRLogLevelKey);
}

} // namespace

// ---- Settings store ----

std::optional<platform::Value> VellumAnalyticsManager::objectForKey(std::string_view key) {
    if (auto env = platform::ProcessInfo::environmentValue(key))
        return platform::Value(*env);
    if (auto v = platform::UserDefaults::standard().objectForKey(key))
        return v;
    return platform::Bundle::main().objectForInfoDictionaryKey(key);
}

std::optional<std::string> VellumAnalyticsManager::stringForKey(std::string_view key) {
    auto v = objectForKey(key);
    if (v && v->string())
        return *v->string();
    return std::nullopt;
}

bool VellumAnalyticsManager::boolForKey(std::string_view key) {
    auto v = objectForKey(key);
    return v && v->isNumber() && v->doubleOr(0) != 0;
}

float VellumAnalyticsManager::floatForKey(std::string_view key) {
    auto v = objectForKey(key);
    return v && v->isNumber() ? static_cast<float>(v->doubleOr(0)) : 0.0f;
}

int VellumAnalyticsManager::intForKey(std::string_view key) {
    auto v = objectForKey(key);
    return v && v->isNumber() ? static_cast<int>(v->intOr(0)) : 0;
}

bool VellumAnalyticsManager::keyExists(std::string_view key) {
    return objectForKey(key).has_value();
}

void VellumAnalyticsManager::setObject(const platform::Value& value, std::string_view key) {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(key, value);
    defaults.synchronize();
}

void VellumAnalyticsManager::setString(std::string_view value, std::string_view key) {
    setObject(platform::Value(value), key);
}
void VellumAnalyticsManager::setBool(bool value, std::string_view key) {
    setObject(platform::Value(value), key);
}
void VellumAnalyticsManager::setFloat(float value, std::string_view key) {
    setObject(platform::Value(static_cast<double>(value)), key);
}
void VellumAnalyticsManager::setInt(int value, std::string_view key) {
    setObject(platform::Value(value), key);
}

// ---- Logging ----

bool VellumAnalyticsManager::logInternalEnabled() const {
    auto level = levelText();
    return level && (platform::equalsIgnoringCase(*level, kLevelVerbose) ||
                     platform::equalsIgnoringCase(*level, kVellumAccessCode));
}

bool VellumAnalyticsManager::logDebugEnabled() const {
    auto level = levelText();
    return level && platform::equalsIgnoringCase(*level, kLevelDebug);
}

void VellumAnalyticsManager::vlog(bool enabled, const char* format, va_list args) {
    if (enabled)
        logWithArgs(format, args);
}

void VellumAnalyticsManager::logWithArgs(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (needed > 0) {
        message.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(message.data(), message.size(), format, args);
        message.resize(static_cast<std::size_t>(needed));
    }
    platform::logLine(platform::formatString(kLogLineFormat, message.c_str(), trackingState().runID));
}

void VellumAnalyticsManager::logInternal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(logInternalEnabled(), format, args);
    va_end(args);
}

void VellumAnalyticsManager::logDebug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(logDebugEnabled(), format, args);
    va_end(args);
}

void VellumAnalyticsManager::logDebugOrInternal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(logDebugEnabled() || logInternalEnabled(), format, args);
    va_end(args);
}

void VellumAnalyticsManager::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logWithArgs(format, args);
    va_end(args);
}

// ---- Facts ----

std::string VellumAnalyticsManager::versionString() {
    return kVersionString;
}
int VellumAnalyticsManager::buildNumber() {
    return kBuildNumber;
}
std::string VellumAnalyticsManager::version() {
    return platform::formatString("%s.%d.%d", kVersionString, kBuildNumber, kVersionPatch);
}

std::string VellumAnalyticsManager::deviceHardware() {
    struct utsname names {};
    if (::uname(&names) != 0)
        return {};
    return names.machine;
}

std::string VellumAnalyticsManager::deviceModel() {
    return platform::Device::current().model();
}
std::string VellumAnalyticsManager::deviceSystemName() {
    return platform::Device::current().systemName();
}
std::string VellumAnalyticsManager::deviceID() {
    return platform::Device::current().uniqueIdentifier();
}

std::string VellumAnalyticsManager::md5DeviceID() const {
    const std::string id = deviceID();
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const std::uint8_t*>(id.data()), id.size());
    std::uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &context);
    std::string out;
    for (std::uint8_t byte : digest)
        out += platform::formatString("%02x", byte);
    return out;
}

std::string VellumAnalyticsManager::systemVersion() {
    if (!sysVersion_)
        sysVersion_ = platform::Device::current().systemVersion();
    return *sysVersion_;
}

float VellumAnalyticsManager::systemVersionFloat() {
    return platform::floatValue(systemVersion());
}

std::string VellumAnalyticsManager::libraryDirectory() {
    return platform::DeviceHome::library().string();
}
std::string VellumAnalyticsManager::documentsDirectory() {
    return platform::DeviceHome::documents().string();
}

// ---- Identity values ----

std::optional<std::string> VellumAnalyticsManager::appID() const {
    return lookupString(kAppIDLookup);
}
void VellumAnalyticsManager::setAppID(const std::optional<std::string>& appID) {
    storeOrRemove(kAppIDKey, appID);
}
std::optional<std::string> VellumAnalyticsManager::appVersion() const {
    return lookupString(kAppVersionLookup);
}
void VellumAnalyticsManager::setAppVersion(const std::optional<std::string>& appVersion) {
    storeOrRemove(kAppVersionKey, appVersion);
}
std::optional<std::string> VellumAnalyticsManager::appToken() const {
    return lookupString(kAppTokenLookup);
}
void VellumAnalyticsManager::setAppToken(const std::optional<std::string>& appToken) {
    storeOrRemove(kAppTokenKey, appToken);
}
std::optional<std::string> VellumAnalyticsManager::deviceToken() const {
    return lookupString(kDeviceTokenLookup);
}
void VellumAnalyticsManager::setDeviceToken(const std::optional<std::string>& deviceToken) {
    storeOrRemove(kDeviceTokenKey, deviceToken);
}

std::optional<std::string> VellumAnalyticsManager::appIdentifier() const {
    auto token = appToken();
    if (token && !token->empty())
        return token;
    return appID();
}

// ---- Network status ----

void VellumAnalyticsManager::updateConnStatus() {
    trackingState().networkStatus = MRReachability::sharedReachability().internetConnectionStatus();
}

int VellumAnalyticsManager::internetConnectionStatusCode() const {
    return trackingState().networkStatus;
}

std::string VellumAnalyticsManager::internetConnectionStatus() const {
    return MRReachability::stringFromNetworkStatus(trackingState().networkStatus);
}

// ---- Availability ----

bool VellumAnalyticsManager::isShutdown() const {
    auto& defaults = platform::UserDefaults::standard();
    return defaults.objectForKey(kShutdownKey).has_value() && defaults.boolForKey(kShutdownKey);
}

bool VellumAnalyticsManager::isTracking() const {
    return tracking_ && !isShutdown();
}

bool VellumAnalyticsManager::isUnavailableWithErrorMessage(std::string_view message) {
    const std::string text(message);
    if (isShutdown()) {
        log(kUnavailableFormat, text.c_str(), kShutDownReason);
        return true;
    }
    if (tracking_)
        return false;
    log(kUnavailableFormat, text.c_str(), kNotStartedReason);
    return true;
}

bool VellumAnalyticsManager::isShutdownWithErrorMessage(std::string_view message) {
    const bool saved = tracking_;
    tracking_ = true;
    const bool unavailable = isUnavailableWithErrorMessage(message);
    tracking_ = saved;
    return unavailable;
}

} // namespace vellum
