// Downloading a 50 MB video into the Meridian video cache from the loopback services, against
// `curl -s -o FILE` on the same address in the same run. Both are timed on the wall clock
// (curl runs as a child process). Goal: at least 0.8 of curl's throughput, so our time over
// curl's stays at or below 1.25.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "meridian/MRURLDownload.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/runloop/RunLoop.h"
#include "services/ServiceHost.h"
#include "support/RatioMain.h"

namespace {

constexpr std::size_t kVideoBytes = 50 * 1024 * 1024;
constexpr std::string_view kVideoPath = "/meridian/videos/bench.avi";

struct Setup {
    Setup() {
        home = std::filesystem::temp_directory_path() / ("fw-bench-video-" + std::to_string(::getpid()));
        std::filesystem::create_directories(home / "Library" / "mrsdk");
        platform::DeviceHome::setCurrent(home);
        video.assign(kVideoBytes, 'v');
        for (std::size_t i = 0; i < video.size(); i += 4096)
            video[i] = static_cast<char>(i / 4096);
        host.handle("GET", std::string(kVideoPath), [this](const services::LoggedRequest& r) {
            return services::byteRangeReply(r, video, "video/avi");
        });
        base = host.start();
    }
    ~Setup() {
        host.stop();
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
    std::filesystem::path home;
    std::string video;
    services::ServiceHost host;
    std::string base;
};

Setup& setup() {
    static Setup s;
    return s;
}

void BM_MRURLDownloadIntoCache(benchmark::State& state) {
    auto& s = setup();
    auto url = platform::URL::parse(s.base + std::string(kVideoPath));
    auto target = s.home / "Library" / "mrsdk" / "bench.avi";
    for (auto _ : state) {
        std::filesystem::remove(target);
        meridian::MRURLDownload::create(*url, target, {});
        platform::RunLoop::main().runUntil([] { return meridian::MRURLDownload::runningCount() == 0; }, 120);
        if (std::filesystem::file_size(target) != kVideoBytes)
            state.SkipWithError("incomplete download");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kVideoBytes));
}
BENCHMARK(BM_MRURLDownloadIntoCache)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_CurlDownload(benchmark::State& state) {
    auto& s = setup();
    auto target = s.home / "curl.avi";
    std::string command = "curl -s -o '" + target.string() + "' '" + s.base + std::string(kVideoPath) + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kVideoBytes));
}
BENCHMARK(BM_CurlDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(argc, argv,
                                  {{"BM_MRURLDownloadIntoCache/min_time:3.000/real_time",
                                    "BM_CurlDownload/min_time:3.000/real_time", 1.25, true}});
}
