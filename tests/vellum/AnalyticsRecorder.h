#pragma once
// Stands in for the analytics manager's services during a test: records the log lines by
// level and, when given one, answers a temporary Library folder. Restores the previous
// services when it goes.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "vellum/tracking/AnalyticsSeam.h"

namespace vellumtest {

class AnalyticsRecorder {
  public:
    explicit AnalyticsRecorder(std::filesystem::path library = {}) {
        vellum::AnalyticsSeam seam;
        seam.logInternal = [this](std::string_view m) { internal.emplace_back(m); };
        seam.log = [this](std::string_view m) { always.emplace_back(m); };
        if (!library.empty())
            seam.libraryDirectory = [library] { return library; };
        previous_ = vellum::setAnalyticsSeam(std::move(seam));
    }
    ~AnalyticsRecorder() { vellum::setAnalyticsSeam(std::move(previous_)); }
    AnalyticsRecorder(const AnalyticsRecorder&) = delete;
    AnalyticsRecorder& operator=(const AnalyticsRecorder&) = delete;

    static bool has(const std::vector<std::string>& lines, std::string_view line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::vector<std::string> internal; // logInternal:
    std::vector<std::string> always;   // log:

  private:
    vellum::AnalyticsSeam previous_;
};

} // namespace vellumtest
