#include "platform/ui/Device.h"

#include <atomic>
#include <charconv>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Application.h"
#include "platform/ui/FileSupport.h"

namespace platform {
namespace {

constexpr const char* kPhoneModel = "Phone";
constexpr const char* kTabletModel = "Tablet";
constexpr const char* kDeviceName = "Ferro Wick Device";
constexpr const char* kSystemName = "MobileOS";
constexpr const char* kSystemVersion = "6.1";
constexpr std::size_t kIdentifierBytes = 20; // 40 hexadecimal digits

std::atomic<DeviceProfile> gProfile{DeviceProfile::Phone};

constexpr const char* kPowerSupplyFolder = "/sys/class/power_supply";
constexpr double kPercent = 100.0;

std::mutex gBatteryMutex;
std::optional<BatteryReading> gBatteryReading;

// The machine's first battery, as its kernel reports it; nullopt when it has none.
std::optional<BatteryReading> machineBattery() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kPowerSupplyFolder, ec)) {
        auto type = detail::readSmallFile(entry.path() / "type", 64);
        if (!type || trim(*type) != "Battery")
            continue;
        BatteryReading reading;
        if (auto capacity = detail::readSmallFile(entry.path() / "capacity", 16)) {
            int percent = -1;
            std::string text(trim(*capacity));
            auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), percent);
            if (err == std::errc() && end == text.data() + text.size() && percent >= 0 && percent <= 100)
                reading.level = static_cast<float>(percent / kPercent);
        }
        if (auto status = detail::readSmallFile(entry.path() / "status", 64)) {
            const std::string_view s = trim(*status);
            if (s == "Charging")
                reading.state = DeviceBatteryState::Charging;
            else if (s == "Full")
                reading.state = DeviceBatteryState::Full;
            else if (s == "Discharging" || s == "Not charging")
                reading.state = DeviceBatteryState::Unplugged;
        }
        return reading;
    }
    return std::nullopt;
}

BatteryReading currentBattery() {
    {
        std::lock_guard lock(gBatteryMutex);
        if (gBatteryReading)
            return *gBatteryReading;
    }
    return machineBattery().value_or(BatteryReading{});
}

bool isIdentifier(const std::string& text) {
    if (text.size() != 2 * kIdentifierBytes)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

InterfaceOrientation interfaceOrientationFor(DeviceOrientation o) {
    switch (o) {
    case DeviceOrientation::PortraitUpsideDown:
        return InterfaceOrientation::PortraitUpsideDown;
    // The interface turns against the device.
    case DeviceOrientation::LandscapeLeft:
        return InterfaceOrientation::LandscapeRight;
    case DeviceOrientation::LandscapeRight:
        return InterfaceOrientation::LandscapeLeft;
    default:
        return InterfaceOrientation::Portrait;
    }
}

Device& Device::current() {
    static auto* device = new Device();
    return *device;
}

void Device::setProfile(DeviceProfile profile) {
    gProfile = profile;
}
DeviceProfile Device::profile() {
    return gProfile;
}

void Device::resetForTesting() {
    gProfile = DeviceProfile::Phone;
    setBatteryReading(std::nullopt);
    current().batteryMonitoring_ = false;
    current().orientation_ = DeviceOrientation::Portrait;
    current().generatingNotifications_ = 0;
}

std::string Device::model() const {
    return gProfile == DeviceProfile::Tablet ? kTabletModel : kPhoneModel;
}
std::string Device::name() const {
    return kDeviceName;
}
std::string Device::systemName() const {
    return kSystemName;
}
std::string Device::systemVersion() const {
    return kSystemVersion;
}

float Device::batteryLevel() const {
    if (!batteryMonitoring_)
        return -1.0f;
    return currentBattery().level;
}

DeviceBatteryState Device::batteryState() const {
    if (!batteryMonitoring_)
        return DeviceBatteryState::Unknown;
    return currentBattery().state;
}

void Device::setBatteryReading(std::optional<BatteryReading> reading) {
    // A level outside 0 to 1 is not a level: it reads as unknown.
    if (reading && !(reading->level >= 0.0f && reading->level <= 1.0f))
        reading->level = -1.0f;
    std::lock_guard lock(gBatteryMutex);
    gBatteryReading = reading;
}

UserInterfaceIdiom Device::userInterfaceIdiom() const {
    return gProfile == DeviceProfile::Tablet ? UserInterfaceIdiom::Tablet : UserInterfaceIdiom::Phone;
}

std::string Device::uniqueIdentifier() const {
    static std::mutex mutex;
    static std::map<std::string, std::string> byHome;
    std::lock_guard lock(mutex);
    std::string home = DeviceHome::root().string();
    if (auto it = byHome.find(home); it != byHome.end())
        return it->second;
    auto path = DeviceHome::library() / kDeviceIdentifierFileName;
    std::string id;
    if (auto stored = detail::readSmallFile(path, 2 * kIdentifierBytes + 2)) {
        std::string text(trim(*stored));
        if (isIdentifier(text))
            id = text;
    }
    if (id.empty()) {
        id = hexString(detail::randomBytes(kIdentifierBytes));
        std::string reason;
        if (!detail::writeFileAtomically(path, id, &reason))
            logLine("Device: the unique identifier cannot be kept: " + reason);
    }
    byHome[home] = id;
    return id;
}

void Device::setOrientation(DeviceOrientation orientation) {
    if (orientation == orientation_)
        return;
    orientation_ = orientation;
    if (isGeneratingDeviceOrientationNotifications())
        Application::shared().postNotification(kDeviceOrientationDidChangeNotification);
}

} // namespace platform
