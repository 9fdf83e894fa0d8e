#pragma once
// What hostile-content tests check after each row: that nothing changed on disk outside the
// folders the client under test owns, and that the main run loop still answers.
//
//   auto before = fwtest::FolderSnapshot::of(home.root());
//   ... feed the client something hostile ...
//   EXPECT_EQ(fwtest::FolderSnapshot::of(home.root()).changesOutside(before, {"Library/Caches/x"}),
//             std::vector<std::string>{});
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "platform/runloop/RunLoop.h"

namespace fwtest {

class FolderSnapshot {
public:
    // Every file, folder and link below `root`, by path relative to it, with what it holds.
    static FolderSnapshot of(const std::filesystem::path& root) {
        FolderSnapshot snapshot;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            const auto relative = std::filesystem::relative(it->path(), root, ec).generic_string();
            std::string state;
            if (it->is_symlink(ec)) {
                state = "link " + std::filesystem::read_symlink(it->path(), ec).string();
            } else if (it->is_directory(ec)) {
                state = "folder";
            } else {
                std::ifstream in(it->path(), std::ios::binary);
                const std::string bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
                state = "file " + std::to_string(bytes.size()) + " " +
                        std::to_string(std::hash<std::string>{}(bytes));
            }
            snapshot.entries_[relative] = state;
        }
        return snapshot;
    }

    // The paths added, removed or changed since `before` that lie outside every one of
    // `owned` (relative folders or files; their contents count as owned too).
    std::vector<std::string> changesOutside(const FolderSnapshot& before,
                                            const std::vector<std::string>& owned) const {
        auto isOwned = [&](const std::string& path) {
            return std::any_of(owned.begin(), owned.end(), [&](const std::string& prefix) {
                return path == prefix || path.rfind(prefix + "/", 0) == 0;
            });
        };
        std::vector<std::string> changes;
        for (const auto& [path, state] : entries_) {
            auto old = before.entries_.find(path);
            if ((old == before.entries_.end() || old->second != state) && !isOwned(path))
                changes.push_back(path);
        }
        for (const auto& [path, state] : before.entries_)
            if (!entries_.count(path) && !isOwned(path))
                changes.push_back(path + " (removed)");
        return changes;
    }

private:
    std::map<std::string, std::string> entries_;
};

// True when work posted to the main run loop runs within `limit` seconds of real time: the
// main thread is not held by anything the client started.
inline bool mainThreadAnswers(double limit = 5.0) {
    bool answered = false;
    const auto start = std::chrono::steady_clock::now();
    platform::RunLoop::main().perform([&answered] { answered = true; });
    // A turn that blocks is only noticed once it ends: measure the time as well.
    return platform::RunLoop::main().runUntil([&answered] { return answered; }, limit) &&
           std::chrono::steady_clock::now() - start < std::chrono::duration<double>(limit);
}

} // namespace fwtest
