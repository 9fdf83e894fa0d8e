// Rebuilding the root screen's document list for Documents folders of 1 000, 10 000 and
// 100 000 files, side by side with two references on the same folder:
// - the floor: reading the folder in this process with readdir and one fstatat per name on
//   the open folder (links not followed), keeping each name and its status: the system work
//   any listing of the folder has to do;
// - `ls -l` (run as a child process, its output thrown away), a familiar peer that also
//   sorts and formats, but makes three system calls per file against our one.
// All run for a span of wall-clock time, since the child's CPU time is not this process's:
// the rebuild is compared with `ls -l` on the wall clock and with the floor, which runs on
// this thread as the rebuild does, on CPU time. The timings are noisy on a shared machine,
// so each runs several times in random interleaved order and the medians are compared. The
// memory the loaded list holds is reported per file.
#include <benchmark/benchmark.h>

#include "support/RatioMain.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/FerrowickAppDelegate.h"
#include "app/RootViewController.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/NavigationController.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSizes[] = {1000, 10000, 100000};
// Samples per benchmark, run in random interleaved order.
constexpr int kRepetitions = 7;
// The rebuild's goal against the floor: the rebuild makes the floor's system calls and
// sorts, formats and lays out on top. Small folders have less to spread the list's fixed
// costs (the table's reload, the settings read) over.
constexpr double kFloorGoal(int files) {
    return files >= 100000 ? 1.3 : files >= 10000 ? 1.5 : 2.0;
}
constexpr const char* kExtensions[] = {".txt", ".PDF", ".mp3", ".tar.gz", ".Doc", "", ".jpeg", ".final.key"};

// One device home per folder size, filled once and removed at exit.
class Homes {
public:
    ~Homes() {
        std::error_code ec;
        for (auto& [n, path] : homes_)
            fs::remove_all(path, ec);
    }
    const fs::path& home(int files) {
        auto& path = homes_[files];
        if (path.empty())
            path = make(files);
        return path;
    }

private:
    static fs::path make(int files) {
        std::string pattern = (fs::temp_directory_path() / "fw-bench-doclist-XXXXXX").string();
        fs::path root = mkdtemp(pattern.data());
        fs::path docs = root / "Documents";
        fs::create_directories(docs);
        for (int i = 0; i < files; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "%s-%06d%s",
                          (i % 3 == 0) ? "Report" : (i % 3 == 1 ? "photo" : "Song"), i,
                          kExtensions[i % std::size(kExtensions)]);
            int fd = open((docs / name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            if (fd < 0)
                continue;
            // Sizes across every unit, without writing the bytes (sparse files).
            off_t size = static_cast<off_t>((i * 7919LL) % 5'000'000'000LL);
            if (ftruncate(fd, size) != 0)
                std::perror("ftruncate");
            close(fd);
        }
        return root;
    }
    std::map<int, fs::path> homes_;
};

Homes& homes() {
    static Homes h;
    return h;
}

// A loaded root screen whose Documents folder holds `files` files.
struct LoadedRoot {
    std::shared_ptr<app::RootViewController> root;
    std::shared_ptr<platform::NavigationController> navigation;
};

LoadedRoot loadRoot(int files) {
    platform::DeviceHome::setCurrent(homes().home(files));
    platform::UserDefaults::resetForTesting();
    auto& defaults = platform::UserDefaults::standard();
    defaults.setString("firstTime", "noFirst");
    defaults.setBool("size", true);
    defaults.setBool("device", true);
    defaults.setBool("extension", true);
    app::isAlertNo = true;
    LoadedRoot loaded;
    loaded.root = std::make_shared<app::RootViewController>();
    loaded.navigation = platform::NavigationController::create(loaded.root);
    loaded.navigation->view();
    loaded.root->view()->layoutIfNeeded();
    return loaded;
}

void BM_RebuildDocumentList(benchmark::State& state) {
    int files = static_cast<int>(state.range(0));
    platform::setLogSink([](std::string_view) {});

    // Heap held by a loaded root screen with its list, per file.
    malloc_trim(0);
    auto before = mallinfo2().uordblks;
    auto loaded = loadRoot(files);
    auto after = mallinfo2().uordblks;

    for (auto _ : state) {
        loaded.root->hideShowFileExtension();
        loaded.root->fileTable->layoutIfNeeded();
        benchmark::DoNotOptimize(loaded.root->fileCount);
    }
    if (loaded.root->fileCount != files)
        state.SkipWithError("the list does not hold every file");
    state.counters["files"] = files;
    state.counters["bytes_per_file"] = static_cast<double>(after - before) / files;
    state.SetItemsProcessed(state.iterations() * files);
    platform::setLogSink({});
}
BENCHMARK(BM_RebuildDocumentList)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor: every name of the folder with its status, read in this process.
void BM_ReaddirFstatatFloor(benchmark::State& state) {
    int files = static_cast<int>(state.range(0));
    std::string folder = (homes().home(files) / "Documents").string();
    struct Entry {
        std::string name;
        struct stat status;
    };
    std::vector<Entry> entries;
    for (auto _ : state) {
        entries.clear();
        DIR* dir = opendir(folder.c_str());
        if (!dir) {
            state.SkipWithError("cannot open the folder");
            break;
        }
        const int fd = dirfd(dir);
        while (const dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
                continue;
            Entry& entry = entries.emplace_back();
            entry.name = e->d_name;
            if (fstatat(fd, e->d_name, &entry.status, AT_SYMLINK_NOFOLLOW) != 0)
                entries.pop_back();
        }
        closedir(dir);
        benchmark::DoNotOptimize(entries.data());
    }
    if (static_cast<int>(entries.size()) != files)
        state.SkipWithError("the floor did not see every file");
    state.counters["files"] = files;
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_ReaddirFstatatFloor)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// `ls -l` on the same folder, in the POSIX locale, its output to /dev/null.
void BM_LsLongReference(benchmark::State& state) {
    int files = static_cast<int>(state.range(0));
    std::string folder = (homes().home(files) / "Documents").string();
    char* argv[] = {const_cast<char*>("ls"), const_cast<char*>("-l"), folder.data(), nullptr};
    std::vector<std::string> envStrings = {"LC_ALL=C", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawnp(&pid, "ls", &actions, nullptr, argv, envp.data()) != 0) {
            state.SkipWithError("cannot run ls");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("ls failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    state.counters["files"] = files;
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_LsLongReference)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    std::vector<fwbench::RatioPair> pairs;
    for (int n : kSizes) {
        std::string arg = "/" + std::to_string(n) + "/real_time";
        // Both in this thread: their CPU times, which a busy machine disturbs less than the clock.
        pairs.push_back({"BM_RebuildDocumentList" + arg, "BM_ReaddirFstatatFloor" + arg, kFloorGoal(n)});
        pairs.push_back({"BM_RebuildDocumentList" + arg, "BM_LsLongReference" + arg, 1.5, true});
    }
    return fwbench::runWithRatios(argc, argv, pairs, {.repetitions = kRepetitions});
}
