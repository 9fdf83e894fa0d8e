#pragma once
// Facts about the device the application runs on, from a phone or tablet profile chosen
// for the run (`Device::setProfile`, phone by default; `ferrowick` and tests pick one).
// The profile also decides the main screen (Screen.h).
//
// The battery: with monitoring off (the default) the level reads -1 and the state unknown,
// as the platform reports them. With monitoring on they come from the reading set by a test
// or the runner (setBatteryReading), else from the machine's own battery when it has one,
// else they stay -1 and unknown.
//
// The unique identifier is 40 lower-case hexadecimal digits made once per device home and
// kept under its Library folder, so it is stable across runs with the same home.
// The orientation is set by the runner or a test; a change is posted to the application's
// observers as kDeviceOrientationDidChangeNotification. Main thread only, except the
// plain readers (model, system name and version, idiom), which are safe anywhere.
#include <optional>
#include <string>

#include "platform/ui/Orientation.h"

namespace platform {

enum class DeviceProfile { Phone, Tablet };

// The platform's interface idioms: 0 phone, 1 tablet.
enum class UserInterfaceIdiom { Phone = 0, Tablet = 1 };

inline constexpr const char* kDeviceOrientationDidChangeNotification =
    "DeviceOrientationDidChangeNotification";
// The file under the device home's Library folder that keeps the unique identifier.
inline constexpr const char* kDeviceIdentifierFileName = "DeviceIdentifier";

// The platform's battery states.
enum class DeviceBatteryState { Unknown = 0, Unplugged = 1, Charging = 2, Full = 3 };

struct BatteryReading {
    float level = -1.0f; // 0 to 1
    DeviceBatteryState state = DeviceBatteryState::Unknown;
};

class Device {
public:
    static Device& current();
    static void setProfile(DeviceProfile profile);
    static DeviceProfile profile();
    // Phone profile, portrait, no orientation notifications, battery monitoring off and the
    // machine's own battery.
    static void resetForTesting();

    std::string model() const; // "Phone" or "Tablet"
    std::string localizedModel() const { return model(); }
    std::string name() const;          // the device's name as its owner set it
    std::string systemName() const;    // "MobileOS"
    std::string systemVersion() const; // "6.1"
    // 40 lower-case hexadecimal digits, stable per device home; see the class comment.
    std::string uniqueIdentifier() const;
    UserInterfaceIdiom userInterfaceIdiom() const;

    // Background execution is supported.
    bool isMultitaskingSupported() const { return true; }

    bool isBatteryMonitoringEnabled() const { return batteryMonitoring_; }
    void setBatteryMonitoringEnabled(bool enabled) { batteryMonitoring_ = enabled; }
    // From 0 to 1; -1 when monitoring is off or the level is not known.
    float batteryLevel() const;
    DeviceBatteryState batteryState() const;
    // Replaces the machine's battery with `reading`; nullopt brings the machine's back.
    static void setBatteryReading(std::optional<BatteryReading> reading);

    DeviceOrientation orientation() const { return orientation_; }
    void setOrientation(DeviceOrientation orientation);
    void beginGeneratingDeviceOrientationNotifications() { ++generatingNotifications_; }
    void endGeneratingDeviceOrientationNotifications() {
        if (generatingNotifications_ > 0)
            --generatingNotifications_;
    }
    bool isGeneratingDeviceOrientationNotifications() const { return generatingNotifications_ > 0; }

private:
    DeviceOrientation orientation_ = DeviceOrientation::Portrait;
    int generatingNotifications_ = 0;
    bool batteryMonitoring_ = false;
};

} // namespace platform
