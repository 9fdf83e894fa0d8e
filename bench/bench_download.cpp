// Downloading 100 MB from the loopback services into memory with URLConnection (the
// asynchronous path every client uses: transport thread, hand-over to the main run loop,
// body gathered in memory), against curl fetching the same URL in a child process and
// throwing the bytes away. Both are timed on the wall clock, in the same run, against the
// same server; the goal is at least 0.8x curl's throughput (a time ratio of at most 1.25).
#include <cstdlib>
#include <string>

#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "services/ServiceHost.h"
#include "support/RatioMain.h"

namespace {

constexpr std::int64_t kDownloadBytes = 100 * 1024 * 1024;
constexpr double kDownloadLimitSeconds = 120;

services::ServiceHost& host() {
    static auto* h = [] {
        auto* server = new services::ServiceHost();
        server->start();
        return server;
    }();
    return *h;
}

std::string downloadURL() { return host().url("/bytes?size=" + std::to_string(kDownloadBytes)); }

void BM_URLConnection_Download100MB(benchmark::State& state) {
    auto request = platform::URLRequest::withURLString(downloadURL());
    for (auto _ : state) {
        bool done = false;
        std::size_t received = 0;
        auto connection = platform::URLConnection::sendAsynchronousRequest(
            *request,
            [&](const std::optional<platform::URLResponse>& response, const platform::Data& data,
                const std::optional<platform::Error>& error) {
                received = (!error && response && response->statusCode() == 200) ? data.size() : 0;
                done = true;
            },
            kDownloadBytes);
        platform::RunLoop::main().runUntil([&] { return done; }, kDownloadLimitSeconds);
        if (received != static_cast<std::size_t>(kDownloadBytes)) {
            state.SkipWithError("the download did not bring the whole body");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kDownloadBytes);
}
BENCHMARK(BM_URLConnection_Download100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_Curl_Download100MB(benchmark::State& state) {
    const std::string command = "curl -s -o /dev/null '" + downloadURL() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kDownloadBytes);
}
BENCHMARK(BM_Curl_Download100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(
        argc, argv, {{"BM_URLConnection_Download100MB/min_time:3.000/real_time", "BM_Curl_Download100MB/min_time:3.000/real_time", 1.25, true}});
}
