// The script bridge's command path: a batch of 10,000 command texts parsed and dispatched to
// a handler, against parsing the same texts alone (goal: at most 2x); and the same commands
// queued in a real page and drained by polls in foreground mode, reported as commands per
// second.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cobalt/CBCommandHandler.h"
#include "cobalt/CBController.h"
#include "cobalt/CBJavascriptBridge.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/runloop/RunLoop.h"
#include "support/RatioMain.h"

namespace {

constexpr int kCommands = 10000;

class CountingHandler : public cobalt::CBCommandHandler {
public:
    CountingHandler() : CBCommandHandler("BridgeBench") {
        addMethod("bridge_notifyAdFetchSucceededForSlotNamed:dlTime:expiration:",
                  [this](const Arguments& a) { count += a.size(); });
    }
    std::size_t count = 0;
};

const std::vector<std::string>& commandTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t;
        for (int i = 0; i < kCommands; ++i)
            t.push_back("bridge_notifyAdFetchSucceededForSlotNamed:\"banner" + std::to_string(i % 7) + "\" dlTime:\"" +
                        std::to_string(1700000000000 + i) + "\" expiration:\"1700003600000\"");
        return t;
    }();
    return texts;
}

void BM_ParseOnly(benchmark::State& state) {
    const auto& texts = commandTexts();
    for (auto _ : state)
        for (const auto& text : texts) {
            auto parsed = cobalt::CBJavascriptBridge::parseCommand(text);
            benchmark::DoNotOptimize(parsed);
        }
    state.SetItemsProcessed(state.iterations() * kCommands);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_ParseAndDispatch(benchmark::State& state) {
    auto handler = std::make_shared<CountingHandler>();
    auto bridge = cobalt::CBJavascriptBridge::bridgeInMode(cobalt::CBJavascriptBridge::kBG, nullptr, handler);
    const auto& texts = commandTexts();
    for (auto _ : state)
        for (const auto& text : texts)
            benchmark::DoNotOptimize(bridge->executeCocoaCommand(text));
    bridge->halt();
    if (handler->count != static_cast<std::size_t>(state.iterations()) * kCommands * 3)
        state.SkipWithError("not every command was dispatched");
    state.SetItemsProcessed(state.iterations() * kCommands);
}
BENCHMARK(BM_ParseAndDispatch)->Unit(benchmark::kMillisecond);

// Commands queued by the page's generated functions, drained through commandList polls.
void BM_ThroughRealPage(benchmark::State& state) {
    const auto home = std::filesystem::temp_directory_path() / "fw-bench-cobalt";
    std::filesystem::create_directories(home / "Documents");
    platform::DeviceHome::setCurrent(home);
    cobalt::CBController::sharedController()->setExecMode(cobalt::CBJavascriptBridge::kFG);
    auto webView = std::make_shared<platform::WebView>();
    auto handler = std::make_shared<CountingHandler>();
    auto bridge = cobalt::CBJavascriptBridge::bridgeInMode(cobalt::CBJavascriptBridge::kFG, webView, handler);
    bridge->loadJavascriptString("", "", platform::URL::parse("file:///tmp/"));
    platform::RunLoop::main().runUntil([&] { return !bridge->isLoading(); }, 10.0);
    // Queued a thousand at a time: each evaluation stays inside the page's script time budget.
    constexpr int kPerFill = 1000;
    const std::string fill = "for (var i = 0; i < " + std::to_string(kPerFill) +
                             "; i++) BridgeBench.notifyAdFetchSucceededForSlotNamedDlTimeExpiration('banner' + (i % 7), "
                             "String(1700000000000 + i), '1700003600000');";
    std::size_t executed = 0;
    for (auto _ : state) {
        for (int filled = 0; filled < kCommands; filled += kPerFill) {
            webView->stringByEvaluatingJavaScriptFromString(fill);
            while (int n = bridge->poll())
                executed += static_cast<std::size_t>(n);
        }
    }
    bridge->halt();
    if (executed != static_cast<std::size_t>(state.iterations()) * kCommands)
        state.SkipWithError("not every command came through the page");
    state.counters["commands_per_second"] =
        benchmark::Counter(static_cast<double>(executed), benchmark::Counter::kIsRate);
    cobalt::CBController::resetForTesting();
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_ThroughRealPage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(argc, argv, {{"BM_ParseAndDispatch", "BM_ParseOnly", 2.0}});
}
