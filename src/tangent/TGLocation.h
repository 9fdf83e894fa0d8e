#pragma once
// TGLocation: the Tangent client's one location source. It owns the location manager (none
// while location is off), keeps the last accepted fix and fans new fixes out to its listeners
// (the ad views). The manager updates only while at least one listener is registered.
//
// Fixes older than 10 seconds, or not in the past at all, are ignored (the first fixes after a
// manager starts are cached ones); a fix equal to the current one in every value, and less than
// 10 seconds newer, reaches nobody. A failure tells the listeners and turns location off until
// initializeLocationManager() runs again.
//
// Ownership: one shared object for the process, created on first use. Listeners are held
// weakly, each at most once, so a listener that is gone is skipped and dropped. Main thread
// only; the manager's callbacks arrive on the main run loop.
#include <memory>
#include <optional>
#include <vector>

#include "platform/location/LocationManager.h"

namespace tangent {

class TGLocationListener {
public:
    virtual ~TGLocationListener() = default;
    virtual void locationUpdated(const platform::Location& location) = 0;
    virtual void locationUpdateEncounteredAnError() = 0;
    virtual void locationDisabled() = 0;
};

class TGLocation final : public platform::LocationManagerDelegate, public std::enable_shared_from_this<TGLocation> {
public:
    static constexpr double kMaximumFixAge = 10.0;

    static TGLocation& instance();
    static void resetForTesting();
    // Whether the location manager exists.
    static bool enabled();
    // The last accepted fix.
    static std::optional<platform::Location> location();

    void initializeLocationManager();
    void shutdownLocationManager();
    void startListeningToLocationUpdates(const std::shared_ptr<TGLocationListener>& listener);
    void stopListeningToLocationUpdates(const TGLocationListener* listener);
    static bool isLocationDifferentFrom(const platform::Location& newLocation,
                                        const std::optional<platform::Location>& currentLocation);
    bool locationManagerShouldDisplayHeadingCalibration() const { return false; }

    const std::shared_ptr<platform::LocationManager>& locationManager() const { return locationManager_; }
    const std::optional<platform::Location>& currentLocation() const { return currentLocation_; }
    std::size_t listenerCount() const { return locationUpdateListeners_.size(); }

    // platform::LocationManagerDelegate.
    void locationManagerDidUpdateToLocation(platform::LocationManager& manager, const platform::Location& newLocation,
                                            const std::optional<platform::Location>& oldLocation) override;
    void locationManagerDidFailWithError(platform::LocationManager& manager, const platform::Error& error) override;

private:
    TGLocation() = default;
    std::vector<std::shared_ptr<TGLocationListener>> liveListeners();
    void removeListener(const TGLocationListener* listener);
    void stopUpdates();

    std::shared_ptr<platform::LocationManager> locationManager_;
    std::optional<platform::Location> currentLocation_;
    std::vector<std::weak_ptr<TGLocationListener>> locationUpdateListeners_;
};

} // namespace tangent
