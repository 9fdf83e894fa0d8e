#include "vellum/tracking/AnalyticsSeam.h"

#include <string>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"

namespace vellum {

namespace {

constexpr std::string_view kLogMarker = "*MRT* ";

void defaultLog(std::string_view message) {
    std::string line(kLogMarker);
    line += message;
    platform::logLine(line);
}

AnalyticsSeam& current() {
    static AnalyticsSeam seam;
    return seam;
}

} // namespace

AnalyticsSeam setAnalyticsSeam(AnalyticsSeam seam) {
    AnalyticsSeam previous = std::move(current());
    current() = std::move(seam);
    return previous;
}

void analyticsLogInternal(std::string_view message) {
    if (const auto& hook = current().logInternal)
        hook(message);
    else
        defaultLog(message);
}

void analyticsLog(std::string_view message) {
    if (const auto& hook = current().log)
        hook(message);
    else
        defaultLog(message);
}

std::filesystem::path analyticsLibraryDirectory() {
    if (const auto& hook = current().libraryDirectory)
        return hook();
    return platform::DeviceHome::library();
}

} // namespace vellum
