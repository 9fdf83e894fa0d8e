// Parsing a JSON reply into platform values, side by side with parsing the same text into
// plain nlohmann-json values (the floor). The ratio is reported as a counter.
#include <benchmark/benchmark.h>

#include "support/RatioMain.h"

#include <nlohmann/json.hpp>
#include <string>

#include "platform/foundation/Value.h"

namespace {

std::string sampleReply(int entries) {
    std::string s = "{\"extra\":{\"background_color_rgb\":{\"red\":1,\"green\":2,\"blue\":3,\"alpha\":1},"
                    "\"refresh_interval\":30},\"rations\":[";
    for (int i = 0; i < entries; ++i) {
        if (i)
            s += ',';
        s += "{\"nid\":\"n" + std::to_string(i) + "\",\"type\":" + std::to_string(i % 20) +
             ",\"nname\":\"network " + std::to_string(i) + "\",\"weight\":" + std::to_string(i % 100) +
             ".5,\"priority\":" + std::to_string(i) + ",\"key\":{\"pubid\":\"abc" + std::to_string(i) + "\"}}";
    }
    return s + "]}";
}

const std::string& reply() {
    static const std::string r = sampleReply(1000);
    return r;
}

void BM_ValueFromJSON(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::Value::fromJSON(reply()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply().size()));
}
BENCHMARK(BM_ValueFromJSON);

void BM_NlohmannParseFloor(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(reply()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply().size()));
}
BENCHMARK(BM_NlohmannParseFloor);

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(argc, argv, {{"BM_ValueFromJSON", "BM_NlohmannParseFloor", 2.0}});
}
