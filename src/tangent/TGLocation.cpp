#include "tangent/TGLocation.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Strings.h"
#include "platform/runloop/Clock.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

std::shared_ptr<TGLocation>& sharedLocation() {
    static std::shared_ptr<TGLocation> location;
    return location;
}

} // namespace

TGLocation& TGLocation::instance() {
    auto& shared = sharedLocation();
    if (!shared)
        shared = std::shared_ptr<TGLocation>(new TGLocation());
    return *shared;
}

void TGLocation::resetForTesting() {
    if (auto& shared = sharedLocation()) {
        shared->shutdownLocationManager();
        shared.reset();
    }
}

bool TGLocation::enabled() {
    return instance().locationManager_ != nullptr;
}

std::optional<platform::Location> TGLocation::location() {
    return instance().currentLocation_;
}

void TGLocation::initializeLocationManager() {
    if (locationManager_)
        return;
    locationManager_ = platform::LocationManager::create();
    locationManager_->setDelegate(weak_from_this());
    locationManager_->startUpdatingLocation();
}

void TGLocation::shutdownLocationManager() {
    if (locationManager_) {
        locationManager_->stopUpdatingLocation();
        locationManager_->setDelegate({});
        locationManager_.reset();
    }
    locationUpdateListeners_.clear();
}

std::vector<std::shared_ptr<TGLocationListener>> TGLocation::liveListeners() {
    std::vector<std::shared_ptr<TGLocationListener>> live;
    std::erase_if(locationUpdateListeners_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : locationUpdateListeners_)
        if (auto listener = weak.lock())
            live.push_back(std::move(listener));
    return live;
}

void TGLocation::removeListener(const TGLocationListener* listener) {
    std::erase_if(locationUpdateListeners_, [listener](const auto& weak) {
        auto strong = weak.lock();
        return !strong || strong.get() == listener;
    });
}

void TGLocation::stopUpdates() {
    TGLog::log("Turning off location updates");
    if (locationManager_)
        locationManager_->stopUpdatingLocation();
}

void TGLocation::startListeningToLocationUpdates(const std::shared_ptr<TGLocationListener>& listener) {
    if (!listener)
        return;
    if (!locationManager_) {
        listener->locationDisabled();
        return;
    }
    if (liveListeners().empty()) {
        TGLog::log("Turning on location updates");
        locationManager_->startUpdatingLocation();
    }
    removeListener(listener.get());
    locationUpdateListeners_.push_back(listener);
}

void TGLocation::stopListeningToLocationUpdates(const TGLocationListener* listener) {
    if (locationUpdateListeners_.empty())
        return;
    removeListener(listener);
    if (liveListeners().empty())
        stopUpdates();
}

bool TGLocation::isLocationDifferentFrom(const platform::Location& newLocation,
                                         const std::optional<platform::Location>& currentLocation) {
    if (!currentLocation)
        return true;
    if (newLocation.timestamp().secondsSince1970 - currentLocation->timestamp().secondsSince1970 >= kMaximumFixAge)
        return true;
    return newLocation.coordinate() != currentLocation->coordinate() ||
           newLocation.altitude() != currentLocation->altitude() ||
           newLocation.horizontalAccuracy() != currentLocation->horizontalAccuracy() ||
           newLocation.verticalAccuracy() != currentLocation->verticalAccuracy() ||
           newLocation.course() != currentLocation->course() || newLocation.speed() != currentLocation->speed();
}

void TGLocation::locationManagerDidUpdateToLocation(platform::LocationManager& manager,
                                                    const platform::Location& newLocation,
                                                    const std::optional<platform::Location>&) {
    auto keepAlive = shared_from_this();
    const double age = newLocation.timestamp().secondsSince1970 - platform::Clock::current().now();
    if (std::isnan(age) || age >= 0 || age <= -kMaximumFixAge) {
        TGLog::log("Location Update: Ignored -- location updates directly after manager is constructed are unreliable");
        return;
    }
    const bool isNew = isLocationDifferentFrom(newLocation, currentLocation_);
    const double elapsed = currentLocation_ ? newLocation.timestamp().secondsSince1970 -
                                                  currentLocation_->timestamp().secondsSince1970
                                            : 0.0;
    TGLog::log(platform::formatString("Location Update (is new: %s) (elapsed:%f): <%f, %f>", isNew ? "Yes" : "No",
                                      elapsed, newLocation.coordinate().latitude,
                                      newLocation.coordinate().longitude));
    if (isNew) {
        currentLocation_ = newLocation;
        for (const auto& listener : liveListeners())
            listener->locationUpdated(newLocation);
    }
    if (liveListeners().empty() && &manager == locationManager_.get())
        stopUpdates();
}

void TGLocation::locationManagerDidFailWithError(platform::LocationManager&, const platform::Error& error) {
    auto keepAlive = shared_from_this();
    TGLog::log("Location Update: Error -- " + error.description());
    for (const auto& listener : liveListeners())
        listener->locationUpdateEncounteredAnError();
    shutdownLocationManager();
}

} // namespace tangent
