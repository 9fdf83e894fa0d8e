// Parsing a mediation configuration of 1 000 rations into the configuration model, side by
// side with parsing the same text into plain nlohmann-json values (the floor). The model's
// parse reads the JSON into platform values, then builds and checks every network entry and
// looks up its adapter class.
#include <benchmark/benchmark.h>

#include "support/RatioMain.h"

#include <nlohmann/json.hpp>
#include <string>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardError.h"

namespace {

constexpr int kRations = 1000;
constexpr int kNetworkTypes[] = {1, 2, 6, 7, 9, 12, 16, 17, 18, 19};

template <int N> class BenchAdapter final : public mediation::SwitchboardAdNetworkAdapter {
public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
    static int networkType() { return N; }
    void getAd() override {}
    void stopBeingDelegate() override {}
};

mediation::SwitchboardAdNetworkRegistry& registry() {
    static mediation::SwitchboardAdNetworkRegistry r;
    static bool filled = [] {
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<1>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<2>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<6>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<7>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<9>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<12>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<16>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<17>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<18>>());
        r.registerClass(mediation::switchboardAdapterClass<BenchAdapter<19>>());
        return true;
    }();
    (void)filled;
    return r;
}

// A current-format reply: settings, then rations whose keys are strings or objects.
std::string sampleReply(int rations) {
    std::string s =
        R"({"extra":{"background_color_rgb":{"red":10,"green":20,"blue":30,"alpha":1},)"
        R"("text_color_rgb":{"red":255,"green":255,"blue":255},"refresh_interval":30,"location_on":1,)"
        R"("transition":7,"fullscreen_wait_interval":60,"fullscreen_max_ads":2},"rations":[)";
    for (int i = 0; i < rations; ++i) {
        if (i)
            s += ',';
        int type = kNetworkTypes[i % std::size(kNetworkTypes)];
        s += R"({"nid":"n)" + std::to_string(i) + R"(","type":)" + std::to_string(type) +
             R"(,"nname":"network )" + std::to_string(i) + R"(","weight":)" + std::to_string(i % 100) +
             R"(.5,"priority":)" + std::to_string(i + 1) + R"(,"key":)";
        if (i % 2)
            s += R"("pub)" + std::to_string(i) + R"(")";
        else
            s += R"({"siteID":"site)" + std::to_string(i) + R"(","spotID":"spot)" + std::to_string(i) +
                 R"("})";
        s += '}';
    }
    return s + "]}";
}

const std::string& reply() {
    static const std::string r = sampleReply(kRations);
    return r;
}

void BM_SwitchboardConfigParse(benchmark::State& state) {
    for (auto _ : state) {
        auto config = mediation::SwitchboardConfig::create("bench-key", nullptr);
        config->setAdNetworkRegistry(&registry());
        mediation::SwitchboardError error(0, std::string());
        bool ok = config->parseConfig(reply(), &error);
        if (!ok || config->adNetworkConfigs().size() != kRations) {
            state.SkipWithError("the configuration did not parse whole");
            break;
        }
        benchmark::DoNotOptimize(config);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply().size()));
}
BENCHMARK(BM_SwitchboardConfigParse);

void BM_NlohmannParseConfigFloor(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(reply()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply().size()));
}
BENCHMARK(BM_NlohmannParseConfigFloor);

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(argc, argv,
                                  {{"BM_SwitchboardConfigParse", "BM_NlohmannParseConfigFloor", 2.0}});
}
