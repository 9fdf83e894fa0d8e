#include "runner/ConsoleLog.h"

#include <string>
#include <system_error>

namespace runner {
namespace {

// The length of `text` without a UTF-8 sequence that a cut has left incomplete at its end.
std::size_t completeUTF8Prefix(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 &&
           text.size() - start < 3)
        --start;
    if (start == 0)
        return text.size();
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return text.size() - (start - 1) < length ? start - 1 : text.size();
}

} // namespace

std::unique_ptr<ConsoleLog> ConsoleLog::open(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::FILE* out = std::fopen(file.c_str(), "ae");
    if (!out)
        return nullptr;
    const auto size = std::filesystem::file_size(file, ec);
    return std::unique_ptr<ConsoleLog>(new ConsoleLog(file, out, ec ? 0 : static_cast<std::size_t>(size)));
}

ConsoleLog::ConsoleLog(std::filesystem::path file, std::FILE* out, std::size_t size)
    : file_(std::move(file)), out_(out), size_(size) {}

ConsoleLog::~ConsoleLog() {
    if (out_)
        std::fclose(out_);
}

void ConsoleLog::write(std::string_view line) {
    std::lock_guard lock(mutex_);
    if (!out_)
        return;
    const bool cut = line.size() > kMaximumLineBytes;
    if (cut) {
        line = line.substr(0, kMaximumLineBytes - kCutMark.size());
        line = line.substr(0, completeUTF8Prefix(line));
    }
    const std::size_t bytes = line.size() + (cut ? kCutMark.size() : 0) + 1;
    if (size_ > 0 && size_ + bytes > kMaximumFileBytes)
        rollOver();
    if (!out_)
        return;
    std::fwrite(line.data(), 1, line.size(), out_);
    if (cut)
        std::fwrite(kCutMark.data(), 1, kCutMark.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
    size_ += bytes;
}

void ConsoleLog::rollOver() {
    std::fclose(out_);
    std::error_code ec;
    std::filesystem::path previous = file_;
    previous += ".1";
    std::filesystem::rename(file_, previous, ec);
    // Should the rename fail, starting the file afresh still keeps it bounded.
    out_ = std::fopen(file_.c_str(), "we");
    size_ = 0;
}

} // namespace runner
