#include "cobalt/CBAsyncCommand.h"

#include "platform/runloop/BackgroundWork.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "archive/ZipUnpacker.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBDatabase.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kIOChunkBytes = 4096;
// What one script archive may unpack to.
constexpr archive::ZipLimits kScriptArchiveLimits{1000, 64ull * 1024 * 1024};

} // namespace

// ---- Callback contexts ----

std::shared_ptr<CBCallbackContext> CBCallbackContext::contextWithCallbackTarget(Callback callback, bool passResults) {
    return std::shared_ptr<CBCallbackContext>(new CBCallbackContext(kTargetSelector, std::move(callback), passResults));
}

std::shared_ptr<CBCallbackContext> CBCallbackContext::contextWithCallbackInvocation(Callback callback,
                                                                                   bool passResults) {
    return std::shared_ptr<CBCallbackContext>(new CBCallbackContext(kInvocation, std::move(callback), passResults));
}

void CBCallbackContext::deliver(platform::Value result) const {
    if (!callback_ || (callbackType_ != kTargetSelector && callbackType_ != kInvocation))
        return;
    if (!passResults_)
        result = nullptr;
    // The result is owned by the task until the callback has run.
    platform::performOnMain([callback = callback_, result = std::move(result)] {
        platform::callGuarded("CBAsyncCommandManager: callback", [&] { callback(result); });
    });
}

void CBAsyncCommand::deliver(const std::shared_ptr<CBCallbackContext>& context, platform::Value result) {
    if (context)
        context->deliver(std::move(result));
}

// ---- Commands ----

std::shared_ptr<CBDBQuery> CBDBQuery::queryWithQuery(std::shared_ptr<CBDatabase> database, std::string query,
                                                     std::shared_ptr<CBCallbackContext> context,
                                                     std::vector<platform::Value> parameters, bool fromScript) {
    auto q = std::make_shared<CBDBQuery>();
    q->database_ = std::move(database);
    q->query_ = std::move(query);
    q->callbackContext_ = std::move(context);
    q->parameters_ = std::move(parameters);
    q->fromScript_ = fromScript;
    return q;
}

void CBDBQuery::execute() {
    if (fromScript_) {
        std::optional<platform::Array> rows;
        if (database_)
            rows = database_->sqlExecuteFromScript(query_, &cancelled_);
        deliver(callbackContext_, rows ? platform::Value(std::move(*rows)) : platform::Value());
        return;
    }
    platform::Array rows;
    if (database_)
        rows = database_->sqlExecute(query_, parameters_);
    deliver(callbackContext_, platform::Value(std::move(rows)));
}

std::shared_ptr<CBIOReadRequest> CBIOReadRequest::requestWithPathToRead(std::string path,
                                                                        std::shared_ptr<CBCallbackContext> context,
                                                                        bool answerMissing) {
    auto r = std::make_shared<CBIOReadRequest>();
    r->answerMissing_ = answerMissing;
    r->path_ = std::move(path);
    r->callbackContext_ = std::move(context);
    return r;
}

void CBIOReadRequest::execute() {
    std::error_code ec;
    if (!callbackContext_)
        return;
    std::ifstream in;
    if (fs::is_regular_file(path_, ec))
        in.open(path_, std::ios::binary);
    if (!in.is_open()) {
        if (answerMissing_)
            deliver(callbackContext_, platform::Value());
        return;
    }
    platform::Data data;
    char buffer[kIOChunkBytes];
    while (in && data.size() < kMaxReadBytes) {
        in.read(buffer, sizeof buffer);
        const auto got = in.gcount();
        if (got <= 0)
            break;
        data.insert(data.end(), buffer, buffer + got);
    }
    if (data.size() >= kMaxReadBytes && in.peek() != EOF) {
        platform::logLine("CBIOReadRequest: file too large: " + path_);
        if (answerMissing_)
            deliver(callbackContext_, platform::Value());
        return;
    }
    deliver(callbackContext_, platform::Value(std::move(data)));
}

std::shared_ptr<CBIOWriteRequest> CBIOWriteRequest::requestWithPath(std::string path, platform::Data data,
                                                                    bool append,
                                                                    std::shared_ptr<CBCallbackContext> context) {
    auto w = std::make_shared<CBIOWriteRequest>();
    w->path_ = std::move(path);
    w->data_ = std::move(data);
    w->append_ = append;
    w->callbackContext_ = std::move(context);
    return w;
}

std::shared_ptr<CBIOWriteRequest> CBIOWriteRequest::requestWithNewFilePath(std::string path, platform::Data data,
                                                                           std::shared_ptr<CBCallbackContext> context) {
    auto w = requestWithPath(std::move(path), std::move(data), false, std::move(context));
    w->newFile_ = true;
    return w;
}

bool CBIOWriteRequest::writeNewFile() {
    std::error_code ec;
    fs::remove_all(path_, ec); // the engine's own name: a file, link or folder an earlier run left
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    for (std::size_t at = 0; at < data_.size() && ok;) {
        const std::size_t n = std::min(kIOChunkBytes, data_.size() - at);
        const ssize_t wrote = ::write(fd, data_.data() + at, n);
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        at += ok ? static_cast<std::size_t>(wrote) : 0;
    }
    return ::close(fd) == 0 && ok;
}

void CBIOWriteRequest::execute() {
    bool ok = false;
    // Every file the engine writes lies in a folder of its own: never through a link or into a
    // folder that is not real, whoever asked for the write.
    if (!platform::DeviceHome::reachesWithoutLinks(path_)) {
        platform::logLine("CBAsyncCommand: refused a write through a link: " + path_);
    } else if (newFile_) {
        ok = writeNewFile();
    } else {
        std::ofstream out(path_, std::ios::binary | (append_ ? std::ios::app : std::ios::trunc));
        if (out) {
            for (std::size_t at = 0; at < data_.size() && out; at += kIOChunkBytes) {
                const std::size_t n = std::min(kIOChunkBytes, data_.size() - at);
                out.write(reinterpret_cast<const char*>(data_.data() + at), static_cast<std::streamsize>(n));
            }
            out.close();
            ok = static_cast<bool>(out);
        }
    }
    if (!ok)
        platform::logLine("CBIOWriteRequest: cannot write " + path_);
    deliver(callbackContext_, platform::Value(ok));
}

std::shared_ptr<CBIODeleteRequest>
CBIODeleteRequest::requestWithPathToDelete(std::string path, std::shared_ptr<CBCallbackContext> context) {
    auto d = std::make_shared<CBIODeleteRequest>();
    d->path_ = std::move(path);
    d->callbackContext_ = std::move(context);
    return d;
}

void CBIODeleteRequest::execute() {
    std::error_code ec;
    const bool removed =
        platform::DeviceHome::reachesWithoutLinks(path_) && fs::remove_all(path_, ec) > 0 && !ec;
    deliver(callbackContext_, platform::Value(removed));
}

std::shared_ptr<CBIOUnzipRequest>
CBIOUnzipRequest::requestWithSourceZipFilePath(std::string source, std::string destination,
                                               std::shared_ptr<CBCallbackContext> context) {
    auto u = std::make_shared<CBIOUnzipRequest>();
    u->source_ = std::move(source);
    u->destination_ = std::move(destination);
    u->callbackContext_ = std::move(context);
    return u;
}

void CBIOUnzipRequest::execute() {
    // Both the archive (removed after) and the destination (written) lie in real folders.
    if (!platform::DeviceHome::reachesWithoutLinks(source_) ||
        !platform::DeviceHome::reachesWithoutLinks(fs::path(destination_) / "entry")) {
        platform::logLine("CBAsyncCommand: refused an unpacking through a link: " + destination_);
        deliver(callbackContext_, platform::Value(false));
        return;
    }
    const bool ok = CBZip::unzipPackage(source_, destination_);
    std::error_code ec;
    fs::remove(source_, ec);
    deliver(callbackContext_, platform::Value(ok));
}

std::shared_ptr<CBJSONCommand> CBJSONCommand::jsonCommandWithType(int jsonCommandType, platform::Value input,
                                                                  std::shared_ptr<CBCallbackContext> context) {
    auto j = std::make_shared<CBJSONCommand>();
    j->jsonCommandType_ = jsonCommandType;
    j->input_ = std::move(input);
    j->callbackContext_ = std::move(context);
    return j;
}

void CBJSONCommand::execute() {
    if (jsonCommandType_ == kParse) {
        std::optional<platform::Value> parsed;
        if (const auto* text = input_.string())
            parsed = CBJSON::objectWithString(*text);
        deliver(callbackContext_, parsed ? std::move(*parsed) : platform::Value());
    } else if (jsonCommandType_ == kWrite) {
        deliver(callbackContext_, platform::Value(CBJSON::stringWithObject(input_)));
    }
}

bool CBZip::unzipPackage(const std::string& zipPath, const std::string& destination) {
    const auto result = archive::unpackZip(zipPath, destination, kScriptArchiveLimits);
    if (!result.ok)
        platform::logLine("CBZip: " + result.error);
    return result.ok;
}

// ---- Queue ----

std::shared_ptr<CBAsyncCommandQueue> CBAsyncCommandQueue::create(std::size_t) {
    auto queue = std::shared_ptr<CBAsyncCommandQueue>(new CBAsyncCommandQueue());
    std::weak_ptr<CBAsyncCommandQueue> weak = queue;
    queue->waitingWakeUp_ = platform::WaitingMessages::add([weak] {
        auto alive = weak.lock();
        return alive && alive->awaitsWakeUp();
    });
    return queue;
}

bool CBAsyncCommandQueue::awaitsWakeUp() const {
    std::lock_guard lock(commandQueueLock_);
    return fireScheduled_ && !invalidated_ && !commandQueue_.empty();
}

// The source only wakes the worker's run loop; the worker takes the commands itself.
CBAsyncCommandQueue::CBAsyncCommandQueue() : runLoopSource_(platform::RunLoopSource::create()) {}

void CBAsyncCommandQueue::attachToRunLoop(platform::RunLoop& loop) {
    {
        std::lock_guard lock(commandQueueLock_);
        if (!runLoopSource_)
            throw platform::NamedException(
                "CBAsyncCommandQueue subclass forgot to initialize the runLoopSource instance variable!", "");
        if (runLoop_)
            throw platform::NamedException(
                "Attempt to attach CBAsyncCommandQueue to more than one run loop violates implementation assumptions "
                "of having  a one-to-one mapping of CBAsyncCommandQueue instances to run loops.",
                "");
        runLoop_ = &loop;
    }
    loop.addSource(runLoopSource_);
}

void CBAsyncCommandQueue::addCommand(std::shared_ptr<CBAsyncCommand> command, bool fire) {
    if (!command)
        return;
    {
        std::lock_guard lock(commandQueueLock_);
        commandQueue_.push_back(std::move(command));
    }
    if (fire)
        this->fire();
}

std::shared_ptr<CBAsyncCommand> CBAsyncCommandQueue::nextCommand() {
    std::lock_guard lock(commandQueueLock_);
    if (commandQueue_.empty())
        return nullptr;
    auto command = std::move(commandQueue_.front());
    commandQueue_.pop_front();
    return command;
}

std::shared_ptr<CBAsyncCommand> CBAsyncCommandQueue::nextCommandOrMarkDrained() {
    std::lock_guard lock(commandQueueLock_);
    executing_.reset();
    if (invalidated_ || commandQueue_.empty()) {
        markDrained();
        return nullptr;
    }
    executing_ = std::move(commandQueue_.front());
    commandQueue_.pop_front();
    return executing_;
}

void CBAsyncCommandQueue::cancelExecutingCommand() {
    std::shared_ptr<CBAsyncCommand> executing;
    {
        std::lock_guard lock(commandQueueLock_);
        executing = executing_;
    }
    if (executing)
        executing->cancel();
}

std::size_t CBAsyncCommandQueue::numPendingCommands() const {
    std::lock_guard lock(commandQueueLock_);
    return commandQueue_.size();
}

void CBAsyncCommandQueue::flush() {
    std::deque<std::shared_ptr<CBAsyncCommand>> dropped; // released outside the lock
    std::lock_guard lock(commandQueueLock_);
    dropped.swap(commandQueue_);
}

void CBAsyncCommandQueue::fire() {
    double wait = 0;
    {
        std::lock_guard lock(commandQueueLock_);
        if (!runLoopSource_ || !runLoop_)
            return;
        const double now = platform::Clock::current().monotonic();
        const double since = now - lastFiredTime_;
        if (lastFiredTime_ == 0 || since >= kFireInterval) {
            lastFiredTime_ = now;
            markSignalled();
            runLoopSource_->signal();
            return;
        }
        if (fireScheduled_)
            return; // one delayed fire covers every command sent meanwhile
        fireScheduled_ = true;
        wait = kFireInterval - since;
    }
    std::weak_ptr<CBAsyncCommandQueue> weak = weak_from_this();
    platform::RunLoop::current().performAfter(
        wait,
        [weak] {
            // The rest of the interval has passed: wake the worker now.
            if (auto queue = weak.lock()) {
                std::lock_guard lock(queue->commandQueueLock_);
                queue->fireScheduled_ = false;
                if (queue->runLoopSource_ && queue->runLoop_) {
                    queue->lastFiredTime_ = platform::Clock::current().monotonic();
                    queue->markSignalled();
                    queue->runLoopSource_->signal();
                }
            }
        },
        this, "fire");
}

void CBAsyncCommandQueue::invalidate() {
    std::shared_ptr<platform::RunLoopSource> source;
    {
        std::lock_guard lock(commandQueueLock_);
        source = runLoopSource_;
        runLoop_ = nullptr;
        invalidated_ = true;
    }
    if (source)
        source->invalidate();
    markDrained();
}

void CBAsyncCommandQueue::markSignalled() {
    if (!workPending_.exchange(true))
        platform::BackgroundWork::begin();
}

void CBAsyncCommandQueue::markDrained() {
    if (workPending_.exchange(false))
        platform::BackgroundWork::end();
}

double CBAsyncCommandQueue::lastFiredTime() const {
    std::lock_guard lock(commandQueueLock_);
    return lastFiredTime_;
}

// ---- Manager ----

CBAsyncCommandManager::CBAsyncCommandManager(std::shared_ptr<CBAsyncCommandQueue> queue, std::string threadName)
    : commandQueue_(std::move(queue)) {
    auto commands = commandQueue_;
    commandExecThread_ = platform::Thread::startWithMain(std::move(threadName), [commands](platform::RunLoop& loop) {
        if (!platform::callGuarded("CBAsyncCommandManager: attach", [&] { commands->attachToRunLoop(loop); }))
            return;
        for (;;) {
            // Commands sent before the queue was attached are taken on the first pass.
            while (auto command = commands->nextCommandOrMarkDrained())
                platform::callGuarded("CBAsyncCommandManager: command", [&] { command->execute(); });
            if (loop.runInMode(kWorkerRunSeconds, true) == platform::RunLoop::RunResult::Stopped)
                return;
        }
    });
}

CBAsyncCommandManager::~CBAsyncCommandManager() { shutdown(); }

void CBAsyncCommandManager::sendAsyncCommand(std::shared_ptr<CBAsyncCommand> command) {
    commandQueue_->addCommand(std::move(command), true);
}

void CBAsyncCommandManager::reset() { commandQueue_->flush(); }

void CBAsyncCommandManager::shutdown() {
    commandQueue_->invalidate();
    commandQueue_->flush();
    commandQueue_->cancelExecutingCommand();
    if (commandExecThread_)
        commandExecThread_->stop();
}

} // namespace cobalt
