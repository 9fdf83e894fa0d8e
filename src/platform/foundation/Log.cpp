#include "platform/foundation/Log.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

LogSink& sink() {
    static LogSink s;
    return s;
}

} // namespace

void logLine(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}

LogSink setLogSink(LogSink s) {
    std::lock_guard lock(sinkMutex());
    LogSink previous = std::move(sink());
    sink() = std::move(s);
    return previous;
}

struct LogCapture::State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : state_(new State) {
    State* state = state_;
    previous_ = setLogSink([state](std::string_view line) {
        std::lock_guard lock(state->mutex);
        state->lines.emplace_back(line);
    });
}

LogCapture::~LogCapture() {
    setLogSink(std::move(previous_));
    delete state_;
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
}

bool LogCapture::contains(std::string_view fragment) const {
    std::lock_guard lock(state_->mutex);
    for (const auto& l : state_->lines)
        if (l.find(fragment) != std::string::npos)
            return true;
    return false;
}

void LogCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
}

} // namespace platform
