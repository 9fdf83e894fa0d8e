#pragma once
// The Cobalt engine's worker threads and the commands they run.
//
// Two long-lived workers keep file and database work off the main thread: the IO thread
// ("CBIORequestManager thread": file reads, writes, unpacking, JSON work) and the DB thread
// ("CBDBQueryManager thread": SQL). Each is a CBAsyncCommandManager: a thread with its own
// run loop and a CBAsyncCommandQueue whose run-loop source wakes it. Any thread sends a
// command with sendAsyncCommand(); the worker executes its commands one at a time, oldest
// first; results come back to the main thread through the command's callback context.
//
// Ownership: the controller owns both managers. shutdown() (or destruction) drops the pending
// commands (their callbacks never run), cancels the command in progress and joins the
// thread. Callbacks already handed to the main run loop still run there.
//
// Wake-ups are throttled to one per kFireInterval: commands sent in a burst are executed
// together at the next wake-up (a delayed fire on the sending thread's run loop).
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runloop/WaitingMessages.h"

namespace platform {
class RunLoop;
class RunLoopSource;
class Thread;
} // namespace platform

namespace cobalt {

class CBDatabase;

// Where a command's result goes: a callback run on the main thread. Type 0 stands for a
// target and selector, type 1 for an invocation; both take the result (or null when results
// are not passed).
class CBCallbackContext {
public:
    enum { kTargetSelector = 0, kInvocation = 1 };
    using Callback = std::function<void(const platform::Value& result)>;

    static std::shared_ptr<CBCallbackContext> contextWithCallbackTarget(Callback callback, bool passResults);
    static std::shared_ptr<CBCallbackContext> contextWithCallbackInvocation(Callback callback, bool passResults);

    int callbackType() const { return callbackType_; }
    bool passResults() const { return passResults_; }
    // Hands `result` to the callback on the main run loop, without waiting.
    void deliver(platform::Value result) const;

private:
    CBCallbackContext(int type, Callback callback, bool passResults)
        : callbackType_(type), callback_(std::move(callback)), passResults_(passResults) {}
    int callbackType_;
    Callback callback_;
    bool passResults_;
};

// A command for a worker. Executed once, on the worker's thread.
class CBAsyncCommand {
public:
    enum Type { kDBQuery = 1, kIORead = 2, kIOWrite = 3, kIOUnzip = 4, kJSON = 5, kIODelete = 6 };
    virtual ~CBAsyncCommand() = default;
    virtual int type() const = 0;
    virtual void execute() = 0;
    // Asks a command in progress to stop early (any thread); most commands run to the end.
    virtual void cancel() {}

protected:
    static void deliver(const std::shared_ptr<CBCallbackContext>& context, platform::Value result);
};

// An SQL statement (with values bound to its "?" parameters) on the store; the result is
// the array of rows.
class CBDBQuery final : public CBAsyncCommand {
public:
    static std::shared_ptr<CBDBQuery> queryWithQuery(std::shared_ptr<CBDatabase> database, std::string query,
                                                     std::shared_ptr<CBCallbackContext> context = nullptr,
                                                     std::vector<platform::Value> parameters = {},
                                                     bool fromScript = false);
    int type() const override { return kDBQuery; }
    // A script's statement that is refused, fails, runs past its budget or is cancelled
    // answers null, so the script learns of the failure; the engine's own statements answer
    // the rows they got.
    void execute() override;
    void cancel() override { cancelled_ = true; }
    const std::string& query() const { return query_; }

private:
    std::atomic<bool> cancelled_{false};
    std::shared_ptr<CBDatabase> database_;
    std::string query_;
    std::vector<platform::Value> parameters_;
    bool fromScript_ = false;
    std::shared_ptr<CBCallbackContext> callbackContext_;
};

// Reads a whole file; the result is its bytes. A missing file, or no context, gives no
// callback at all.
class CBIOReadRequest final : public CBAsyncCommand {
public:
    static constexpr std::uint64_t kMaxReadBytes = 32ull * 1024 * 1024;
    // With `answerMissing`, a missing or unreadable file calls back with null instead of
    // staying silent (the scripts' reads need an answer).
    static std::shared_ptr<CBIOReadRequest> requestWithPathToRead(std::string path,
                                                                  std::shared_ptr<CBCallbackContext> context,
                                                                  bool answerMissing = false);
    int type() const override { return kIORead; }
    void execute() override;

private:
    std::string path_;
    bool answerMissing_ = false;
    std::shared_ptr<CBCallbackContext> callbackContext_;
};

// Writes (or appends) bytes to a file, creating it when missing; the result is whether every
// byte was written.
class CBIOWriteRequest final : public CBAsyncCommand {
public:
    static std::shared_ptr<CBIOWriteRequest> requestWithPath(std::string path, platform::Data data, bool append,
                                                             std::shared_ptr<CBCallbackContext> context = nullptr);
    // For a file of the engine's own at a fixed name (the transient zip file): whatever an
    // earlier run left at the name is removed, and the file is created afresh, exclusively and
    // without following a link, so the bytes land in a new file of the engine's and nowhere else.
    static std::shared_ptr<CBIOWriteRequest> requestWithNewFilePath(std::string path, platform::Data data,
                                                                    std::shared_ptr<CBCallbackContext> context = nullptr);
    int type() const override { return kIOWrite; }
    void execute() override;

private:
    bool writeNewFile();
    std::string path_;
    platform::Data data_;
    bool append_ = false;
    bool newFile_ = false;
    std::shared_ptr<CBCallbackContext> callbackContext_;
};

// Removes a file or a folder with its contents, on the IO thread, so it comes after the
// writes queued before it. The result is whether something was removed.
class CBIODeleteRequest final : public CBAsyncCommand {
public:
    static std::shared_ptr<CBIODeleteRequest> requestWithPathToDelete(std::string path,
                                                                      std::shared_ptr<CBCallbackContext> context = nullptr);
    int type() const override { return kIODelete; }
    void execute() override;

private:
    std::string path_;
    std::shared_ptr<CBCallbackContext> callbackContext_;
};

// Unpacks a zip file into a folder, then removes the zip file; the result is whether the
// whole archive was unpacked.
class CBIOUnzipRequest final : public CBAsyncCommand {
public:
    static std::shared_ptr<CBIOUnzipRequest>
    requestWithSourceZipFilePath(std::string source, std::string destination,
                                 std::shared_ptr<CBCallbackContext> context = nullptr);
    int type() const override { return kIOUnzip; }
    void execute() override;

private:
    std::string source_, destination_;
    std::shared_ptr<CBCallbackContext> callbackContext_;
};

// JSON work: type 0 parses the input text (result: the value, or null for text that is not
// JSON), type 1 writes the input value as script text (result: the text). Other types do
// nothing and call nothing back.
class CBJSONCommand final : public CBAsyncCommand {
public:
    enum { kParse = 0, kWrite = 1 };
    static std::shared_ptr<CBJSONCommand> jsonCommandWithType(int jsonCommandType, platform::Value input,
                                                              std::shared_ptr<CBCallbackContext> context);
    int type() const override { return kJSON; }
    void execute() override;

private:
    int jsonCommandType_ = kParse;
    platform::Value input_;
    std::shared_ptr<CBCallbackContext> callbackContext_;
};

// Unpacks zip archives for the scripts, with the caps of the shared unpacker.
class CBZip {
public:
    static bool unzipPackage(const std::string& zipPath, const std::string& destination);
};

// The pending commands of one worker, and the run-loop source that wakes it.
class CBAsyncCommandQueue : public std::enable_shared_from_this<CBAsyncCommandQueue> {
public:
    static constexpr double kFireInterval = 0.3;

    static std::shared_ptr<CBAsyncCommandQueue> create(std::size_t initialCapacity = 4);

    // Attached once, by the worker, to its own loop. Throws platform::NamedException on a
    // second attach.
    void attachToRunLoop(platform::RunLoop& loop);
    void addCommand(std::shared_ptr<CBAsyncCommand> command, bool fire = true);
    std::shared_ptr<CBAsyncCommand> nextCommand();
    // The worker's take: the oldest command, which becomes the executing one; or, when none
    // is left, nullptr with the worker marked drained in the same step under the lock, so a
    // command added and fired meanwhile keeps its "work pending" mark. Nothing is taken once
    // the queue is invalidated.
    std::shared_ptr<CBAsyncCommand> nextCommandOrMarkDrained();
    // Cancels the command the worker is executing, if any.
    void cancelExecutingCommand();
    std::size_t numPendingCommands() const;
    void flush();
    // Wakes the worker, at most once per kFireInterval; a fire within the interval is
    // scheduled again on the calling thread's run loop for the rest of it.
    void fire();
    void invalidate();
    double lastFiredTime() const;
    // The worker has been woken for work / has run everything it was woken for; counted in
    // platform::BackgroundWork so a program waiting for rest waits for the worker too.
    void markSignalled();
    void markDrained();
    // Whether a command waits for the delayed wake-up that fire() scheduled; told to
    // platform::WaitingMessages, as nothing else counts it as work meanwhile.
    bool awaitsWakeUp() const;

private:
    CBAsyncCommandQueue();
    mutable std::mutex commandQueueLock_;
    std::deque<std::shared_ptr<CBAsyncCommand>> commandQueue_;
    std::shared_ptr<platform::RunLoopSource> runLoopSource_;
    platform::RunLoop* runLoop_ = nullptr; // guarded by commandQueueLock_
    double lastFiredTime_ = 0;              // monotonic; guarded by commandQueueLock_
    bool fireScheduled_ = false;            // guarded by commandQueueLock_
    bool invalidated_ = false;              // guarded by commandQueueLock_
    std::shared_ptr<CBAsyncCommand> executing_; // guarded by commandQueueLock_
    std::atomic<bool> workPending_{false};  // woken for work not yet run (BackgroundWork)
    std::unique_ptr<platform::WaitingMessages::Registration> waitingWakeUp_;
};

class CBAsyncCommandManager {
public:
    static constexpr double kWorkerRunSeconds = 30.0;

    CBAsyncCommandManager(std::shared_ptr<CBAsyncCommandQueue> queue, std::string threadName = "Unnamed thread");
    ~CBAsyncCommandManager();
    CBAsyncCommandManager(const CBAsyncCommandManager&) = delete;
    CBAsyncCommandManager& operator=(const CBAsyncCommandManager&) = delete;

    // Any thread.
    void sendAsyncCommand(std::shared_ptr<CBAsyncCommand> command);
    // Drops the pending commands.
    void reset();
    // Drops what is pending, cancels the command in progress (a script's statement stops at
    // once), stops the worker and joins it.
    void shutdown();
    const std::shared_ptr<CBAsyncCommandQueue>& commandQueue() const { return commandQueue_; }

private:
    std::shared_ptr<CBAsyncCommandQueue> commandQueue_;
    std::unique_ptr<platform::Thread> commandExecThread_;
};

} // namespace cobalt
