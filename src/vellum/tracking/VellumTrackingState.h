#pragma once
// Internal to the tracking library: the process-wide values of the analytics manager (kept by
// the class, not per instance, as the run ID is shown by every log line even before the
// shared instance exists). Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace vellum {

class VellumTrackedEvent;

struct VellumTrackingState {
    static constexpr double kDefaultBackgroundSessionInterval = 30.0;

    std::uint32_t runID = 0;
    int networkStatus = 0;
    int runCount = 0;
    bool firstRun = true;
    bool readyForRequest = false;
    bool locationTracking = false;
    std::optional<platform::Date> firstLaunchDate;
    std::optional<platform::Date> lastTermDate;
    std::vector<std::shared_ptr<VellumTrackedEvent>> pendingEvents;
    std::vector<std::string> sessionImpressions;
    bool impressionDisplayed = false;
    double backgroundingTime = 0;
    double backgroundSessionInterval = kDefaultBackgroundSessionInterval;
};

VellumTrackingState& trackingState();
// Back to the values of class set-up.
void resetTrackingState();

} // namespace vellum
