#pragma once
// The device's console log file (Library/Logs/console.log): where the system's log lines go
// when `ferrowick` shows the screen on standard output.
//
// Pages and ads write to the log (console.log from any page, for one), so the file is
// bounded: each line is cut to kMaximumLineBytes (marked with kCutMark), and once the file
// reaches kMaximumFileBytes it rolls over: the full file becomes "<name>.1" (replacing the
// previous one) and a fresh file starts, so at most the newest 2 x kMaximumFileBytes stay on
// disk. Safe to call from any thread (lines never interleave); the file stays open while the
// object lives.
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>

namespace runner {

class ConsoleLog {
public:
    static constexpr std::size_t kMaximumFileBytes = 1024 * 1024;
    static constexpr std::size_t kMaximumLineBytes = 4096;
    static constexpr std::string_view kCutMark = " [cut]";

    // Opens `file` for appending (making its folder); nullptr when it cannot.
    static std::unique_ptr<ConsoleLog> open(const std::filesystem::path& file);
    ~ConsoleLog();
    ConsoleLog(const ConsoleLog&) = delete;
    ConsoleLog& operator=(const ConsoleLog&) = delete;

    void write(std::string_view line);

private:
    ConsoleLog(std::filesystem::path file, std::FILE* out, std::size_t size);
    void rollOver();

    std::mutex mutex_;
    std::filesystem::path file_;
    std::FILE* out_;
    std::size_t size_;
};

} // namespace runner
