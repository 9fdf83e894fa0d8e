#include "platform/location/LocationManager.h"

#include <atomic>

#include "platform/foundation/Strings.h"

namespace platform {

namespace {
std::atomic<bool> gServicesEnabled{true};
} // namespace

std::string Location::description() const {
    return formatString("<%+.8f,%+.8f> +/- %.2fm (speed %.2f mps / course %.2f) @ %.0f",
                        coordinate_.latitude, coordinate_.longitude, horizontalAccuracy_, speed_, course_,
                        timestamp_.secondsSince1970);
}

std::shared_ptr<LocationManager> LocationManager::create() {
    return std::shared_ptr<LocationManager>(new LocationManager());
}

bool LocationManager::locationServicesEnabled() {
    return gServicesEnabled.load();
}

void LocationManager::setLocationServicesEnabledForTesting(bool enabled) {
    gServicesEnabled.store(enabled);
}

bool LocationManager::simulateUpdate(const Location& location) {
    if (!updating_)
        return false;
    auto self = shared_from_this(); // the delegate may release the manager inside the call
    std::optional<Location> old = location_;
    location_ = location;
    if (auto d = delegate())
        d->locationManagerDidUpdateToLocation(*this, location, old);
    return true;
}

bool LocationManager::simulateFailure(const Error& error) {
    if (!updating_)
        return false;
    auto self = shared_from_this();
    if (auto d = delegate())
        d->locationManagerDidFailWithError(*this, error);
    return true;
}

} // namespace platform
