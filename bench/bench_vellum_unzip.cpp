// Unpacking a rich-media ad bundle of 20 MB in 500 files with the engine's unpacker, against
// the system's `unzip -q -o` of the same archive in the same run. Goal: at most 1.3x.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "services/VellumAdEndpoints.h"
#include "support/RatioMain.h"
#include "vellum/richmedia/VellumAdServer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 500;
constexpr std::size_t kFileBytes = 20 * 1024 * 1024 / kFiles;
// The one folder of the bundle, as an ad bundle holds its ad id's folder.
constexpr std::string_view kFolder = "bundle";

struct Bundle {
    fs::path root;
    fs::path archive;
    Bundle() {
        root = fs::temp_directory_path() / ("fw-bench-unzip-" + std::to_string(::getpid()));
        fs::create_directories(root);
        // Half random bytes, half repeated text: about as compressible as images and pages.
        std::mt19937 random(7);
        std::vector<services::ZipEntry> entries{{std::string(kFolder) + "/", ""}};
        for (int i = 0; i < kFiles; ++i) {
            std::string content(kFileBytes, ' ');
            for (std::size_t j = 0; j < kFileBytes; ++j)
                content[j] = j % 2 ? static_cast<char>(random()) : static_cast<char>('a' + j % 26);
            entries.push_back({std::string(kFolder) + "/file" + std::to_string(i) + ".bin", std::move(content)});
        }
        archive = root / "bundle.zip";
        std::ofstream(archive, std::ios::binary) << services::makeZipArchive(entries);
    }
    ~Bundle() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    fs::path freshDestination(const char* name) const {
        const auto destination = root / name;
        std::error_code ec;
        fs::remove_all(destination, ec);
        fs::create_directories(destination);
        return destination;
    }
};

const Bundle& bundle() {
    static const Bundle b;
    return b;
}

void BM_ExpandZipFileAtPath(benchmark::State& state) {
    const auto& b = bundle();
    for (auto _ : state) {
        state.PauseTiming();
        const auto destination = b.freshDestination("ours");
        state.ResumeTiming();
        if (!vellum::VellumAdServer::expandZipFileAtPath(b.archive.string(), destination.string(),
                                                           std::string(kFolder)))
            state.SkipWithError("unpacking failed");
    }
}
BENCHMARK(BM_ExpandZipFileAtPath)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UnzipCommand(benchmark::State& state) {
    const auto& b = bundle();
    for (auto _ : state) {
        state.PauseTiming();
        const auto destination = b.freshDestination("unzip");
        const std::string command = "unzip -q -o '" + b.archive.string() + "' -d '" + destination.string() + "'";
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("unzip failed");
    }
}
BENCHMARK(BM_UnzipCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(argc, argv, {{"BM_ExpandZipFileAtPath/real_time", "BM_UnzipCommand/real_time", 1.3, true}});
}
