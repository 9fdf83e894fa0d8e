// Network picks by weight: the slot's weighted draw (nextNetworkCfgByPercent, a dart from the
// random source and a walk of the cycle's list in priority order) over a configuration of
// 1 000 rations, side by side with the floor: the same darts and a plain cumulative-weight
// scan over the same weights in a vector of doubles. Each iteration makes 100 000 picks; the
// time per pick is the reported time over kPicks (items per second are shown too).
#include <benchmark/benchmark.h>

#include "support/RatioMain.h"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardView.h"

namespace {

constexpr int kRations = 1000;
constexpr int kPicks = 100000;
constexpr int kNetworkType = 1;
constexpr double kRandomRange = 2147483648.0;

class BenchAdapter : public mediation::SwitchboardAdNetworkAdapter {
  public:
    using SwitchboardAdNetworkAdapter::SwitchboardAdNetworkAdapter;
    static int networkType() { return kNetworkType; }
    void getAd() override {}
    void stopBeingDelegate() override {}
};

// The same stream of values for both sides: a 31-bit xorshift.
struct Darts {
    std::uint32_t state = 2463534242u;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state & mediation::SwitchboardView::kRandomMax;
    }
};

struct Fixture {
    mediation::SwitchboardAdNetworkRegistry registry;
    std::vector<std::shared_ptr<mediation::SwitchboardAdNetworkConfig>> entries;
    std::vector<double> weights;

    Fixture() {
        registry.registerClass(mediation::switchboardAdapterClass<BenchAdapter>());
        std::mt19937 generator(7);
        std::uniform_int_distribution<int> weight(0, 99);
        for (int i = 0; i < kRations; ++i) {
            double w = weight(generator);
            platform::Dictionary ration{{"type", kNetworkType},
                                        {"nid", "n" + std::to_string(i)},
                                        {"nname", "network " + std::to_string(i)},
                                        {"weight", w},
                                        {"priority", i + 1}};
            entries.push_back(
                mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr));
            weights.push_back(w);
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_SwitchboardPickByPercent(benchmark::State& state) {
    auto& f = fixture();
    auto view = mediation::SwitchboardView::create(std::weak_ptr<mediation::SwitchboardDelegate>());
    view->setPrioritizedAdNetCfgs(f.entries);
    Darts darts;
    view->setRandomSource([&darts] { return darts.next(); });
    for (auto _ : state) {
        for (int i = 0; i < kPicks; ++i)
            benchmark::DoNotOptimize(view->nextNetworkCfgByPercent().get());
    }
    state.SetItemsProcessed(state.iterations() * kPicks);
}
BENCHMARK(BM_SwitchboardPickByPercent)->Unit(benchmark::kMillisecond);

void BM_CumulativeScanFloor(benchmark::State& state) {
    auto& f = fixture();
    double total = 0;
    for (double w : f.weights)
        total += w;
    Darts darts;
    for (auto _ : state) {
        for (int i = 0; i < kPicks; ++i) {
            double dart = static_cast<double>(darts.next()) / kRandomRange * total;
            double sum = 0;
            std::size_t chosen = f.weights.size() - 1;
            for (std::size_t k = 0; k < f.weights.size(); ++k) {
                sum += f.weights[k];
                if (dart < sum) {
                    chosen = k;
                    break;
                }
            }
            benchmark::DoNotOptimize(chosen);
        }
    }
    state.SetItemsProcessed(state.iterations() * kPicks);
}
BENCHMARK(BM_CumulativeScanFloor)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(argc, argv,
                                  {{"BM_SwitchboardPickByPercent", "BM_CumulativeScanFloor", 3.0}});
}
