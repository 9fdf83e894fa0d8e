#pragma once
// Shared pieces of the Tangent tests: a request delegate that records the one outcome, a gate
// that holds a server's replies, and a scope that switches the client's log on at a level.
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/ProcessInfo.h"
#include "tangent/TGLog.h"
#include "tangent/TGRequest.h"

namespace tangenttest {

struct RecordingRequestDelegate : tangent::TGRequestDelegate {
    int finished = 0;
    int failed = 0;
    std::optional<platform::Error> error;
    std::optional<std::string> content;
    std::string appendToUrl;

    void requestDidFinishLoading(tangent::TGRequest& request) override {
        ++finished;
        content = request.content();
    }
    void requestDidFailWithError(tangent::TGRequest&, const std::optional<platform::Error>& e) override {
        ++failed;
        error = e;
    }
    void modifyUrl(std::string& url, tangent::TGRequest&) override { url += appendToUrl; }
    int outcomes() const { return finished + failed; }
};

// Holds requests to one path on the server until released (at the latest when the test ends).
class Gate {
public:
    ~Gate() { release(); }
    void wait() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        opened_.wait(lock, [&] { return open_; });
    }
    // How many requests have reached the gate.
    int arrived() {
        std::lock_guard lock(mutex_);
        return arrived_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
    int arrived_ = 0;
};

// Switches the client's log on at `level` (or off with nullopt) for the life of the scope;
// the log is off again afterwards.
class TGLogScope {
public:
    explicit TGLogScope(std::optional<int> level) {
        if (level) {
            platform::ProcessInfo::setEnvironmentValueForTesting("TGLogEnabled", "YES");
            platform::ProcessInfo::setEnvironmentValueForTesting("TGLogLevel", std::to_string(*level));
        }
        tangent::TGLog::resetForTesting();
    }
    ~TGLogScope() {
        platform::ProcessInfo::setEnvironmentValueForTesting("TGLogEnabled", std::nullopt);
        platform::ProcessInfo::setEnvironmentValueForTesting("TGLogLevel", std::nullopt);
        tangent::TGLog::resetForTesting();
    }
    TGLogScope(const TGLogScope&) = delete;
    TGLogScope& operator=(const TGLogScope&) = delete;
};

} // namespace tangenttest
