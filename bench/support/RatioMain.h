#pragma once
// A benchmark main that, after the usual console report, prints the ratio of each pair of
// benchmarks it is given (ours over the floor or peer), so every run shows the comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fwbench {

struct RatioPair {
    std::string ours;
    std::string reference;
    double goal; // ours / reference must stay at or below this
    // Compare wall-clock times instead of CPU times: for a reference that runs in a child
    // process (whose CPU time this process does not see); both benchmarks should UseRealTime().
    bool realTime = false;
};

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // With --benchmark_repetitions the median of the repetitions stands for a benchmark;
    // otherwise its one run does.
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.error_occurred) {
                failed.insert(r.run_name.str());
                continue;
            }
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const bool single = r.run_type == Run::RT_Iteration && r.iterations > 0;
            if (!median && !single)
                continue;
            const std::string name = r.run_name.str();
            if (single && medianSeen.count(name))
                continue;
            if (median)
                medianSeen.insert(name);
            timeNs[name] = r.GetAdjustedCPUTime();
            realNs[name] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> timeNs;
    std::map<std::string, double> realNs;
    std::set<std::string> medianSeen;
    std::set<std::string> failed; // benchmarks that stopped with an error
};

inline int runWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-50s %-40s %8s %6s\n", "ours", "reference", "ratio", "goal");
    // A pair whose benchmarks did not both run to the end (an error, or a filter that left one
    // out) has no ratio; an error makes the program fail, so `make bench` reports it, and so
    // does a ratio above its goal.
    int status = reporter.failed.empty() ? 0 : 1;
    for (const auto& p : pairs) {
        const auto& times = p.realTime ? reporter.realNs : reporter.timeNs;
        auto a = times.find(p.ours), b = times.find(p.reference);
        if (a == times.end() || b == times.end() || b->second <= 0) {
            if (reporter.failed.count(p.ours) || reporter.failed.count(p.reference))
                std::printf("%-50s %-40s %8s %6.2f FAILED\n", p.ours.c_str(), p.reference.c_str(), "-", p.goal);
            continue;
        }
        double ratio = a->second / b->second;
        std::printf("%-50s %-40s %8.2f %6.2f %s\n", p.ours.c_str(), p.reference.c_str(), ratio, p.goal,
                    ratio <= p.goal ? "met" : "NOT MET");
        // A goal not met fails the program too, so `make bench` reports it.
        if (ratio > p.goal)
            status = 1;
    }
    benchmark::Shutdown();
    return status;
}

} // namespace fwbench
