#pragma once
// Location fixes and the location manager, standing in for the platform's location service.
// Fixes are injected: the runner or a test hands a fix (or a failure) to a manager with
// simulateUpdate / simulateFailure, and a manager that is updating passes it to its delegate,
// as the platform delivers fixes on the main run loop. Whether the user allows location
// services is a process-wide switch (on by default), set by tests.
//
// Ownership: whoever creates a manager owns it; the manager holds its delegate unretained
// (weak), as the platform does, so a delegate that is gone simply hears nothing. Main thread
// only. After stopUpdatingLocation no fix reaches the delegate until updating starts again.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace platform {

struct LocationCoordinate2D {
    double latitude = 0;  // degrees
    double longitude = 0; // degrees
    friend bool operator==(const LocationCoordinate2D&, const LocationCoordinate2D&) = default;
};

// One fix: a plain value. A negative horizontal accuracy marks a fix without a valid position;
// a negative course or speed marks one without a valid heading or speed.
class Location {
public:
    Location(LocationCoordinate2D coordinate, double altitude, double horizontalAccuracy,
             double verticalAccuracy, Date timestamp, double course = -1, double speed = -1)
        : coordinate_(coordinate), altitude_(altitude), horizontalAccuracy_(horizontalAccuracy),
          verticalAccuracy_(verticalAccuracy), timestamp_(timestamp), course_(course), speed_(speed) {}

    LocationCoordinate2D coordinate() const { return coordinate_; }
    double altitude() const { return altitude_; }
    double horizontalAccuracy() const { return horizontalAccuracy_; }
    double verticalAccuracy() const { return verticalAccuracy_; }
    Date timestamp() const { return timestamp_; }
    // Degrees clockwise from north, and metres per second.
    double course() const { return course_; }
    double speed() const { return speed_; }
    // "<+12.34567890,-98.76543210> +/- 5.00m (speed -1.00 mps / course -1.00) @ <seconds>".
    std::string description() const;

    friend bool operator==(const Location&, const Location&) = default;

private:
    LocationCoordinate2D coordinate_;
    double altitude_;
    double horizontalAccuracy_;
    double verticalAccuracy_;
    Date timestamp_;
    double course_;
    double speed_;
};

inline constexpr double kLocationAccuracyBest = -1.0;
inline constexpr double kLocationAccuracyHundredMeters = 100.0;

inline constexpr const char* kLocationErrorDomain = "LocationErrorDomain";
enum LocationErrorCode : std::int64_t {
    kLocationErrorLocationUnknown = 0,
    kLocationErrorDenied = 1,
};

class LocationManager;

// The delegate's callbacks; each does nothing unless overridden.
class LocationManagerDelegate {
public:
    virtual ~LocationManagerDelegate() = default;
    virtual void locationManagerDidUpdateToLocation(LocationManager&, const Location& newLocation,
                                                    const std::optional<Location>& oldLocation) {
        (void)newLocation;
        (void)oldLocation;
    }
    virtual void locationManagerDidFailWithError(LocationManager&, const Error& error) { (void)error; }
};

class LocationManager : public std::enable_shared_from_this<LocationManager> {
public:
    static std::shared_ptr<LocationManager> create();

    // Whether the user allows location services on the device.
    static bool locationServicesEnabled();
    static void setLocationServicesEnabledForTesting(bool enabled);

    // The same answer asked of one manager, as older systems did.
    bool servicesEnabled() const { return locationServicesEnabled(); }

    std::shared_ptr<LocationManagerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) { delegate_ = std::move(delegate); }

    double desiredAccuracy() const { return desiredAccuracy_; }
    void setDesiredAccuracy(double accuracy) { desiredAccuracy_ = accuracy; }

    void startUpdatingLocation() { updating_ = true; }
    void stopUpdatingLocation() { updating_ = false; }
    bool isUpdatingLocation() const { return updating_; }

    // The latest fix delivered, if any.
    const std::optional<Location>& location() const { return location_; }

    // Delivers a fix to the delegate when updating (ignored otherwise); answers whether it was
    // delivered.
    bool simulateUpdate(const Location& location);
    // Delivers a failure to the delegate when updating; answers whether it was delivered.
    bool simulateFailure(const Error& error);

private:
    LocationManager() = default;
    std::weak_ptr<LocationManagerDelegate> delegate_;
    double desiredAccuracy_ = kLocationAccuracyHundredMeters;
    bool updating_ = false;
    std::optional<Location> location_;
};

} // namespace platform
