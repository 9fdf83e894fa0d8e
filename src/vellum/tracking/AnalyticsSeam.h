#pragma once
// The services of the analytics manager (VellumAnalyticsManager) that the ad event model
// and the SQLite database base use: levelled logging and the Library folder.
//
// This is a seam. Until the analytics manager exists, the defaults below stand in for it:
// both log levels write through platform::logLine with the "*MRT* " marker, and the
// Library folder is the device home's. The analytics manager installs its own services
// with setAnalyticsSeam (its logInternal: and log: methods, its libraryDirectory), and
// tests install recorders. Main thread only, as the manager is.
#include <filesystem>
#include <functional>
#include <string_view>

namespace vellum {

struct AnalyticsSeam {
    // Written only when the internal log level is on (logInternal:).
    std::function<void(std::string_view message)> logInternal;
    // Always written (log:).
    std::function<void(std::string_view message)> log;
    // Root of every database and cache folder of the engine (libraryDirectory).
    std::function<std::filesystem::path()> libraryDirectory;
};

// Replaces the services; members left empty fall back to the defaults. Returns the
// previous services.
AnalyticsSeam setAnalyticsSeam(AnalyticsSeam seam);

void analyticsLogInternal(std::string_view message);
void analyticsLog(std::string_view message);
std::filesystem::path analyticsLibraryDirectory();

} // namespace vellum
