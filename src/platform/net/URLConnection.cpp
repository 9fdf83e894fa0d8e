#include "platform/net/URLConnection.h"

#include <sys/mman.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/net/Transport.h"
#include "platform/runloop/RunLoop.h"

namespace platform {
namespace {

using netdetail::TransferEvent;
using netdetail::Transport;

// Running connections, held strongly: this is what keeps a connection nobody else holds alive
// until it ends (and keeps it reachable, so it never looks leaked).
struct Registry {
    std::mutex mutex;
    std::map<const URLConnection*, std::shared_ptr<URLConnection>> running;
};

Registry& registry() {
    static Registry* r = new Registry();
    return *r;
}

std::uint64_t nextConnectionSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

// The failure of a request that cannot be sent at all, or nullopt when it can.
std::optional<std::int64_t> unsendableReason(const URLRequest& request) {
    const URL& url = request.url();
    // A connection reads no local file, whoever named it.
    if (url.isFileURL())
        return kURLErrorNoPermissionsToReadFile;
    if (!url.isAbsolute() || !netdetail::isLoadableScheme(url.scheme()))
        return kURLErrorUnsupportedURL;
    auto host = url.host();
    if (!host || host->empty())
        return kURLErrorBadURL;
    return std::nullopt;
}

// The request that follows a redirect reply: same fields, new URL; a 303, and a 301 or 302
// after a POST, become a GET without a body, as browsers do. Credentials are not carried to
// another host.
URLRequest redirectedRequest(const URLRequest& current, const URLResponse& reply, const URL& target) {
    URLRequest next = current;
    next.setURL(target);
    int status = reply.statusCode();
    const std::string& method = current.httpMethod();
    if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
        next.setHTTPMethod("GET");
        next.setHTTPBody(Data{});
        next.removeValue("Content-Type");
        next.removeValue("Content-Length");
    }
    if (!equalsIgnoringCase(current.url().host().value_or(""), target.host().value_or("")) ||
        !equalsIgnoringCase(current.url().scheme(), target.scheme()))
        next.removeValue("Authorization");
    return next;
}

// A large buffer about to be filled is backed by large pages where the system offers them
// on request: filling it then takes a few hundred page faults instead of tens of thousands.
void adviseLargePages(void* start, std::size_t length) {
    constexpr std::uintptr_t kLargePage = 2 * 1024 * 1024;
    auto begin = (reinterpret_cast<std::uintptr_t>(start) + kLargePage - 1) & ~(kLargePage - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(start) + length) & ~(kLargePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Delivered body chunks whose buffers are kept for the chunks that follow.
constexpr std::size_t kSpareChunkBuffers = 16;

// The delegate behind the completion form.
class CompletionDelegate final : public URLConnectionDelegate {
  public:
    explicit CompletionDelegate(URLConnection::CompletionHandler completion)
        : completion_(std::move(completion)) {}

    void connectionDidReceiveResponse(URLConnection&, const URLResponse& response) override {
        response_ = response;
        data_.clear();
        // A length the server announces has already passed the connection's body cap.
        if (std::int64_t expected = response.expectedContentLength(); expected > 0) {
            data_.reserve(static_cast<std::size_t>(expected));
            adviseLargePages(data_.data(), data_.capacity());
        }
    }
    void connectionDidReceiveData(URLConnection&, const Data& data) override {
        data_.insert(data_.end(), data.begin(), data.end());
    }
    void connectionDidFinishLoading(URLConnection&) override {
        auto completion = std::move(completion_);
        if (completion)
            completion(response_, data_, std::nullopt);
    }
    void connectionDidFailWithError(URLConnection&, const Error& error) override {
        auto completion = std::move(completion_);
        if (completion)
            completion(std::nullopt, Data{}, error);
    }

  private:
    URLConnection::CompletionHandler completion_;
    std::optional<URLResponse> response_;
    Data data_;
};

} // namespace

URLConnection::URLConnection(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate,
                             DelegateHold hold)
    : originalRequest_(request), currentRequest_(std::move(request)), hold_(hold),
      hadDelegate_(delegate != nullptr), serial_(nextConnectionSerial()) {
    if (hold == DelegateHold::Strong)
        strongDelegate_ = std::move(delegate);
    else
        weakDelegate_ = delegate;
}

URLConnection::~URLConnection() {
    if (transfer_)
        Transport::shared().cancel(transfer_);
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
}

std::shared_ptr<URLConnection> URLConnection::create(URLRequest request,
                                                     std::shared_ptr<URLConnectionDelegate> delegate,
                                                     bool startImmediately, DelegateHold hold) {
    std::shared_ptr<URLConnection> connection(
        new URLConnection(std::move(request), std::move(delegate), hold));
    if (startImmediately)
        connection->start();
    return connection;
}

std::shared_ptr<URLConnectionDelegate> URLConnection::delegate() const {
    return hold_ == DelegateHold::Strong ? strongDelegate_ : weakDelegate_.lock();
}

void URLConnection::start() {
    if (state_ != State::Idle)
        return;
    state_ = State::Running;
    loop_ = &RunLoop::current();
    auto self = shared_from_this();
    {
        std::lock_guard lock(registry().mutex);
        registry().running[this] = self;
    }
    std::weak_ptr<URLConnection> weak = self;
    loop_->perform([weak] {
        if (auto connection = weak.lock())
            connection->firstHop();
    });
}

void URLConnection::cancel() {
    if (state_ == State::Done)
        return;
    auto self = shared_from_this();
    end();
}

void URLConnection::end() {
    state_ = State::Done;
    if (timeoutTimer_) {
        timeoutTimer_->invalidate();
        timeoutTimer_.reset();
    }
    if (transfer_) {
        Transport::shared().cancel(transfer_);
        transfer_.reset();
    }
    strongDelegate_.reset();
    weakDelegate_.reset();
    // Dropped after the lock; every caller of end() holds its own reference.
    std::shared_ptr<URLConnection> keepAlive;
    {
        std::lock_guard lock(registry().mutex);
        auto it = registry().running.find(this);
        if (it != registry().running.end()) {
            keepAlive = std::move(it->second);
            registry().running.erase(it);
        }
    }
}

template <typename F> bool URLConnection::deliver(F&& call) {
    if (state_ != State::Running)
        return false;
    auto self = shared_from_this();
    auto target = delegate();
    if (!target) {
        if (hadDelegate_ && hold_ == DelegateHold::Weak)
            end(); // the delegate is gone: nobody is left to hear the rest
        return state_ == State::Running;
    }
    // A delegate that throws stops its connection.
    if (!callGuarded("URLConnection: delegate callback, connection stopped", [&] { call(*target); }))
        end();
    return state_ == State::Running;
}

std::optional<URLRequest> URLConnection::askWillSend(const URLRequest& proposed,
                                                     const URLResponse* redirectResponse) {
    std::optional<URLRequest> answer = proposed;
    deliver([&](URLConnectionDelegate& d) {
        answer = d.connectionWillSendRequestRedirectResponse(*this, proposed, redirectResponse);
    });
    return answer;
}

void URLConnection::firstHop() {
    if (state_ != State::Running)
        return;
    auto self = shared_from_this();
    auto answer = askWillSend(currentRequest_, nullptr);
    if (state_ != State::Running)
        return;
    if (!answer) {
        fail(makeURLError(kURLErrorCancelled, currentRequest_.url().absoluteString()));
        return;
    }
    sendHop(std::move(*answer));
}

void URLConnection::sendHop(URLRequest request) {
    currentRequest_ = std::move(request);
    if (auto reason = unsendableReason(currentRequest_)) {
        fail(makeURLError(*reason, currentRequest_.url().absoluteString()));
        return;
    }
    launchTransfer();
}

void URLConnection::launchTransfer() {
    std::uint64_t hop = ++hop_;
    std::weak_ptr<URLConnection> weak = shared_from_this();
    RunLoop* loop = loop_;
    // Body chunks that arrive while the run loop is busy are queued and handed over in one
    // task, so a fast download costs one wake-up per turn of the loop, not one per chunk.
    // The queued bytes never exceed the body cap, which the transfer enforces. Every other
    // event is posted after the task that carries the chunks before it, so the order is kept.
    // Chunk buffers go back to a small pool once delivered, so a long download reuses a few
    // buffers instead of asking for fresh memory for every chunk.
    struct PendingData {
        std::mutex mutex;
        std::vector<Data> chunks;
        std::vector<Data> spare;
    };
    auto pending = std::make_shared<PendingData>();
    transfer_ = Transport::shared().start(
        currentRequest_, maximumBodyLength_, [weak, hop, loop, pending](TransferEvent&& e) {
            if (e.kind == TransferEvent::Kind::Data) {
                Data chunk;
                {
                    std::lock_guard lock(pending->mutex);
                    if (!pending->spare.empty()) {
                        chunk = std::move(pending->spare.back());
                        pending->spare.pop_back();
                    }
                }
                chunk.assign(e.bytes.begin(), e.bytes.end());
                {
                    std::lock_guard lock(pending->mutex);
                    pending->chunks.push_back(std::move(chunk));
                    if (pending->chunks.size() > 1)
                        return; // a task that takes it is already on its way
                }
                loop->perform([weak, hop, pending] {
                    std::vector<Data> chunks;
                    {
                        std::lock_guard lock(pending->mutex);
                        chunks.swap(pending->chunks);
                    }
                    TransferEvent event;
                    event.kind = TransferEvent::Kind::Data;
                    for (auto& chunk : chunks) {
                        auto connection = weak.lock();
                        if (!connection)
                            return;
                        event.data = std::move(chunk);
                        connection->handleEvent(hop, event);
                        std::lock_guard lock(pending->mutex);
                        if (pending->spare.size() < kSpareChunkBuffers)
                            pending->spare.push_back(std::move(event.data));
                    }
                });
                return;
            }
            auto event = std::make_shared<TransferEvent>(std::move(e));
            loop->perform([weak, hop, event] {
                if (auto connection = weak.lock())
                    connection->handleEvent(hop, *event);
            });
        });
    restartTimeout();
}

void URLConnection::restartTimeout() {
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
    std::weak_ptr<URLConnection> weak = shared_from_this();
    timeoutTimer_ = Timer::create(currentRequest_.timeoutInterval(), false, [weak](Timer&) {
        if (auto connection = weak.lock())
            connection->timedOut();
    });
    loop_->add(timeoutTimer_);
}

void URLConnection::timedOut() {
    if (state_ != State::Running)
        return;
    fail(makeURLError(kURLErrorTimedOut, currentRequest_.url().absoluteString()));
}

void URLConnection::handleEvent(std::uint64_t hop, TransferEvent& event) {
    if (state_ != State::Running || hop != hop_)
        return;
    auto self = shared_from_this();
    if (event.kind != TransferEvent::Kind::Complete)
        answers_.fetch_add(1);
    switch (event.kind) {
    case TransferEvent::Kind::Response:
        restartTimeout();
        deliver([&](URLConnectionDelegate& d) { d.connectionDidReceiveResponse(*this, *event.response); });
        break;
    case TransferEvent::Kind::Data:
        restartTimeout();
        deliver([&](URLConnectionDelegate& d) { d.connectionDidReceiveData(*this, event.data); });
        break;
    case TransferEvent::Kind::Redirect:
        transfer_.reset();
        handleRedirect(std::move(*event.response), std::move(*event.redirectTarget), std::move(event.data));
        break;
    case TransferEvent::Kind::Complete:
        transfer_.reset();
        if (event.error)
            fail(*event.error);
        else
            finish();
        break;
    }
}

void URLConnection::handleRedirect(URLResponse response, URL target, Data body) {
    if (++redirects_ > kMaximumRedirects) {
        fail(makeURLError(kURLErrorHTTPTooManyRedirects, target.absoluteString()));
        return;
    }
    // A server never leads anyone to a local file: such a hop is neither offered to the
    // delegate (who could hand the target on) nor delivered as the final reply.
    if (target.isFileURL()) {
        fail(makeURLError(kURLErrorNoPermissionsToReadFile, target.absoluteString()));
        return;
    }
    auto answer = askWillSend(redirectedRequest(currentRequest_, response, target), &response);
    if (state_ != State::Running)
        return;
    if (answer) {
        sendHop(std::move(*answer));
        return;
    }
    // Not followed: the redirect reply is the final one.
    if (!deliver([&](URLConnectionDelegate& d) { d.connectionDidReceiveResponse(*this, response); }))
        return;
    if (!body.empty() && !deliver([&](URLConnectionDelegate& d) { d.connectionDidReceiveData(*this, body); }))
        return;
    finish();
}

void URLConnection::fail(const Error& error) {
    if (state_ != State::Running)
        return;
    auto self = shared_from_this();
    auto target = delegate();
    end();
    if (!target)
        return;
    callGuarded("URLConnection: failure callback", [&] { target->connectionDidFailWithError(*this, error); });
}

void URLConnection::finish() {
    if (state_ != State::Running)
        return;
    auto self = shared_from_this();
    auto target = delegate();
    end();
    if (!target)
        return;
    callGuarded("URLConnection: finish callback", [&] { target->connectionDidFinishLoading(*this); });
}

bool URLConnection::canHandleRequest(const URLRequest& request) {
    return !unsendableReason(request).has_value();
}

std::shared_ptr<URLConnection> URLConnection::sendAsynchronousRequest(URLRequest request,
                                                                      CompletionHandler completion,
                                                                      std::int64_t maximumBodyLength) {
    auto connection =
        create(std::move(request), std::make_shared<CompletionDelegate>(std::move(completion)), false);
    connection->setMaximumBodyLength(maximumBodyLength);
    connection->start();
    return connection;
}

URLConnection::SynchronousResponse URLConnection::sendSynchronousRequest(const URLRequest& request,
                                                                         std::int64_t maximumBodyLength) {
    struct Inbox {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<TransferEvent> events;
    };
    auto failure = [](std::int64_t code, const URLRequest& r) {
        SynchronousResponse out;
        out.error = makeURLError(code, r.url().absoluteString());
        return out;
    };

    URLRequest current = request;
    for (int redirects = 0;; ++redirects) {
        if (redirects > kMaximumRedirects)
            return failure(kURLErrorHTTPTooManyRedirects, current);
        if (auto reason = unsendableReason(current))
            return failure(*reason, current);

        auto inbox = std::make_shared<Inbox>();
        auto transfer = Transport::shared().start(current, maximumBodyLength, [inbox](TransferEvent&& e) {
            if (e.kind == TransferEvent::Kind::Data)
                e.data.assign(e.bytes.begin(), e.bytes.end());
            e.bytes = {};
            {
                std::lock_guard lock(inbox->mutex);
                inbox->events.push_back(std::move(e));
            }
            inbox->ready.notify_one();
        });
        const auto idle = std::chrono::duration<double>(current.timeoutInterval());
        SynchronousResponse out;
        std::optional<TransferEvent> redirect;
        while (!redirect) {
            TransferEvent event;
            {
                std::unique_lock lock(inbox->mutex);
                auto deadline = std::chrono::steady_clock::now() +
                                std::chrono::duration_cast<std::chrono::nanoseconds>(idle);
                if (!inbox->ready.wait_until(lock, deadline, [&] { return !inbox->events.empty(); })) {
                    lock.unlock();
                    Transport::shared().cancel(transfer);
                    return failure(kURLErrorTimedOut, current);
                }
                event = std::move(inbox->events.front());
                inbox->events.pop_front();
            }
            switch (event.kind) {
            case TransferEvent::Kind::Response:
                out.response = std::move(event.response);
                out.data.clear();
                break;
            case TransferEvent::Kind::Data:
                out.data.insert(out.data.end(), event.data.begin(), event.data.end());
                break;
            case TransferEvent::Kind::Redirect:
                redirect = std::move(event);
                break;
            case TransferEvent::Kind::Complete:
                if (event.error) {
                    SynchronousResponse failed;
                    failed.error = std::move(event.error);
                    return failed;
                }
                return out;
            }
        }
        current = redirectedRequest(current, *redirect->response, *redirect->redirectTarget);
    }
}

std::size_t URLConnection::cancelAllForTesting() {
    std::vector<std::shared_ptr<URLConnection>> mine;
    RunLoop* here = &RunLoop::current();
    {
        std::lock_guard lock(registry().mutex);
        for (auto& [key, connection] : registry().running)
            if (connection->loop_ == here)
                mine.push_back(connection);
    }
    for (auto& connection : mine)
        connection->cancel();
    return mine.size();
}

std::size_t URLConnection::runningCount() {
    std::lock_guard lock(registry().mutex);
    return registry().running.size();
}

std::vector<URLConnection::RunningLoad> URLConnection::runningLoads() {
    std::lock_guard lock(registry().mutex);
    std::vector<RunningLoad> loads;
    loads.reserve(registry().running.size());
    for (const auto& [key, connection] : registry().running)
        loads.push_back({connection->serial_, connection->answers_.load()});
    return loads;
}

} // namespace platform
