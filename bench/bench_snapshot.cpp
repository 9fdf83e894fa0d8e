// A PNG picture of the phone's home screen (the drive's document list under its navigation
// bar, with the banner strip) per snapshot, side by side with writing the same bitmap with
// cairo's PNG writer alone, the floor under any snapshot: ours composes the view tree, paints
// it and writes the painted surface through a temporary name.
#include <benchmark/benchmark.h>

#include "support/RatioMain.h"

#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FerrowickMain.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Device.h"
#include "platform/ui/ScreenPicture.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDocuments = 40;

struct HomeScreen {
    fs::path home;
    HomeScreen() {
        std::string pattern = (fs::temp_directory_path() / "fw-bench-snapshot-XXXXXX").string();
        home = mkdtemp(pattern.data());
        fs::create_directories(home / "Documents");
        for (int i = 0; i < kDocuments; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Report %02d.pdf", i);
            int fd = open((home / "Documents" / name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            if (fd >= 0) {
                if (ftruncate(fd, off_t(i) * 40960) != 0)
                    std::perror("ftruncate");
                close(fd);
            }
        }
        platform::DeviceHome::setCurrent(home);
        platform::Device::setProfile(platform::DeviceProfile::Phone);
        app::launchFerrowick();
    }
    ~HomeScreen() {
        std::error_code ec;
        fs::remove_all(home, ec);
    }
};

HomeScreen& screen() {
    static HomeScreen s;
    return s;
}

void BM_SnapshotOfHomeScreen(benchmark::State& state) {
    fs::path file = screen().home / "ours.png";
    for (auto _ : state) {
        if (!platform::ScreenPicture::snapshot(file))
            state.SkipWithError("snapshot failed");
    }
}
BENCHMARK(BM_SnapshotOfHomeScreen)->Unit(benchmark::kMillisecond);

void BM_PNGWriterAlone(benchmark::State& state) {
    platform::Bitmap bitmap = platform::ScreenPicture::renderScreen();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            auto p = bitmap.pixel(x, y);
            reinterpret_cast<std::uint32_t*>(data + y * stride)[x] =
                (std::uint32_t(p.a) << 24) | (std::uint32_t(p.r) << 16) | (std::uint32_t(p.g) << 8) | p.b;
        }
    cairo_surface_mark_dirty(surface);
    fs::path file = screen().home / "floor.png";
    for (auto _ : state) {
        if (cairo_surface_write_to_png(surface, file.c_str()) != CAIRO_STATUS_SUCCESS)
            state.SkipWithError("write failed");
    }
    cairo_surface_destroy(surface);
}
BENCHMARK(BM_PNGWriterAlone)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Interleaved repetitions: a picture takes some milliseconds, and a shared machine moves
    // single runs of either side by more than the goal's margin.
    return fwbench::runWithRatios(argc, argv, {{"BM_SnapshotOfHomeScreen", "BM_PNGWriterAlone", 2.0}},
                                  {.repetitions = 7});
}
