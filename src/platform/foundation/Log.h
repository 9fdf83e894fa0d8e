#pragma once
// The process log: one line per message, written to standard error by default.
// Tests install a LogCapture to read what was logged instead. Safe to call from
// any thread; lines from different threads never interleave.
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Writes one line to the current log sink.
void logLine(std::string_view line);

// Runs `f` at a callback boundary, which exceptions never cross: one that escapes `f` is
// logged as "<context>: exception: <reason>" and dropped. Answers whether `f` returned normally.
template <typename F> bool callGuarded(std::string_view context, F&& f) {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        logLine(std::string(context) + ": exception: " + e.what());
    } catch (...) {
        logLine(std::string(context) + ": exception");
    }
    return false;
}

// Replaces the sink; returns the previous one. An empty function restores standard error.
using LogSink = std::function<void(std::string_view)>;
LogSink setLogSink(LogSink sink);

// Collects every logged line while it lives, then restores the previous sink.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;
    void clear();

private:
    struct State;
    State* state_;
    LogSink previous_;
};

} // namespace platform
