#pragma once
// An asynchronous HTTP load, standing in for the platform's URL connection.
//
// Threads: create and start a connection on a thread with a run loop (almost always the main
// thread); every delegate callback arrives on that run loop, on later turns, never inside
// start(). The exchange itself runs on the shared I/O thread. Use a connection only from the
// thread that started it, and keep that thread's run loop alive until the connection ends.
//
// Ownership: a started connection keeps itself alive until it finishes, fails or is
// cancelled, even when nobody holds it, so fire-and-forget requests need no owner. By default
// it holds its delegate strongly until then, as the platform does (the delegate is released
// at the end, which breaks the usual owner <-> connection cycle); with DelegateHold::Weak it
// holds it weakly and, once the delegate is gone, stops silently.
//
// Callbacks, in order: connectionWillSendRequestRedirectResponse for the first request and
// for every redirect hop (with the redirect reply); connectionDidReceiveResponse once per
// final reply, whatever its status (a 404 is a response, not a failure);
// connectionDidReceiveData for each chunk of the body; then exactly one of
// connectionDidFinishLoading or connectionDidFailWithError. After cancel() no callback
// arrives at all, even one already on its way.
//
// Redirects (301, 302, 303, 307, 308) are followed by this class, hop by hop: the delegate may
// answer the proposed request, a different one, or std::nullopt to stop following, in which
// case the redirect reply itself is delivered as the final response with its body. Declining
// the first request ends the load with -999 "cancelled". 303, and 301 or 302 after a POST,
// continue as a GET without the body; "Authorization" is not carried to another host or
// scheme. A hop to a scheme other than http or https is offered to the delegate first and
// then fails with -1002 "unsupported URL", except a hop to a file: URL: that one is never
// offered to the delegate nor delivered, and fails with -1102 at once. A connection reads
// no local file: a request for a file: URL (the first, or one a delegate answers) fails with
// -1102. More than kMaximumRedirects hops fail with -1007.
//
// Errors (domain kURLErrorDomain): -999 cancelled (declined first request), -1000 bad URL
// (no host), -1001 timed out, -1002 unsupported URL, -1003 host not found, -1004 cannot
// connect, -1005 connection lost, -1007 too many redirects, -1011 bad server response, -1102
// a file: URL, -1103 body longer than the cap. The time-out is the request's timeoutInterval of idleness (no
// reply and no data), measured by a timer on the starting run loop, so a manual clock drives
// it in tests. Every body has a size cap (kDefaultMaximumBodyLength unless set).
//
// An exception thrown by a delegate callback is caught here, logged, and ends the connection
// as if cancelled: the delegate hears nothing more.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/net/URLError.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace platform {

class RunLoop;
class Timer;
class URLConnection;
namespace netdetail {
class Transfer;
struct TransferEvent;
} // namespace netdetail

// The callbacks of a URLConnection; each is optional and does nothing unless overridden.
class URLConnectionDelegate {
  public:
    virtual ~URLConnectionDelegate() = default;

    // Asked before the first request goes out (redirectResponse null) and before each
    // redirect hop (with the redirect reply). Answer the request to send, or std::nullopt
    // to stop (see the header comment). The default sends `request` unchanged.
    virtual std::optional<URLRequest>
    connectionWillSendRequestRedirectResponse(URLConnection&, const URLRequest& request,
                                              const URLResponse* redirectResponse) {
        (void)redirectResponse;
        return request;
    }
    virtual void connectionDidReceiveResponse(URLConnection&, const URLResponse&) {}
    virtual void connectionDidReceiveData(URLConnection&, const Data&) {}
    virtual void connectionDidFinishLoading(URLConnection&) {}
    virtual void connectionDidFailWithError(URLConnection&, const Error&) {}
};

class URLConnection : public std::enable_shared_from_this<URLConnection> {
  public:
    static constexpr std::int64_t kDefaultMaximumBodyLength = 32 * 1024 * 1024;
    static constexpr int kMaximumRedirects = 16;

    enum class DelegateHold { Strong, Weak };

    // A connection for `request`; started at once unless `startImmediately` is false. A null
    // delegate is allowed: the load runs and its outcome is dropped.
    static std::shared_ptr<URLConnection> create(URLRequest request,
                                                 std::shared_ptr<URLConnectionDelegate> delegate,
                                                 bool startImmediately = true,
                                                 DelegateHold hold = DelegateHold::Strong);

    ~URLConnection();
    URLConnection(const URLConnection&) = delete;
    URLConnection& operator=(const URLConnection&) = delete;

    // Starts the load on the current thread's run loop; does nothing when already started.
    void start();
    // Stops the load; no callback follows. Safe inside a callback and after the end.
    void cancel();

    const URLRequest& originalRequest() const { return originalRequest_; }
    // The request of the hop in progress (after redirects and the delegate's changes).
    const URLRequest& currentRequest() const { return currentRequest_; }

    // The cap on body bytes of each reply; set it before start().
    std::int64_t maximumBodyLength() const { return maximumBodyLength_; }
    void setMaximumBodyLength(std::int64_t bytes) { maximumBodyLength_ = bytes < 0 ? 0 : bytes; }

    // True from start() until the load finished, failed or was cancelled.
    bool isRunning() const { return state_ == State::Running; }

    // Whether a load of the request's URL can be attempted at all (http or https with a host).
    static bool canHandleRequest(const URLRequest& request);

    // The completion form: loads `request` (following every redirect) and calls `completion`
    // once on the starting run loop, with the response and the whole body, or with an error
    // (then no response and no data). An HTTP error status is a response, not an error.
    // Cancel the returned connection to drop the completion uncalled.
    using CompletionHandler = std::function<void(const std::optional<URLResponse>& response, const Data& data,
                                                 const std::optional<Error>& error)>;
    static std::shared_ptr<URLConnection>
    sendAsynchronousRequest(URLRequest request, CompletionHandler completion,
                            std::int64_t maximumBodyLength = kDefaultMaximumBodyLength);

    // Loads `request` on the calling thread, blocking it until the reply has arrived or the
    // request's time-out has passed in real time (idle time, as for the asynchronous form).
    // Follows redirects to http and https; any other target fails with -1002. Meant for
    // background threads; needs no run loop.
    struct SynchronousResponse {
        std::optional<URLResponse> response;
        Data data;
        std::optional<Error> error;
    };
    static SynchronousResponse
    sendSynchronousRequest(const URLRequest& request,
                           std::int64_t maximumBodyLength = kDefaultMaximumBodyLength);

    // Tests: cancels every running connection started on the current thread's run loop, so
    // no callback of one test reaches the next; answers how many were cancelled.
    static std::size_t cancelAllForTesting();
    // Connections started and not yet ended, on any thread (tests and the runner wait for 0).
    static std::size_t runningCount();
    // A running connection as code that waits for replies sees it: which one it is (serials are
    // never reused), and how often its server has answered so far (a reply's head, a piece of
    // its body, a redirect), so a waiter can tell a silent server from a slow one.
    struct RunningLoad {
        std::uint64_t serial = 0;
        std::uint64_t answers = 0;
    };
    static std::vector<RunningLoad> runningLoads();

  private:
    enum class State { Idle, Running, Done };

    URLConnection(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate, DelegateHold hold);

    std::shared_ptr<URLConnectionDelegate> delegate() const;
    void firstHop();
    std::optional<URLRequest> askWillSend(const URLRequest& proposed, const URLResponse* redirectResponse);
    void sendHop(URLRequest request);
    void launchTransfer();
    void timedOut();
    void handleEvent(std::uint64_t hop, netdetail::TransferEvent& event);
    void handleRedirect(URLResponse response, URL target, Data body);
    void restartTimeout();
    void fail(const Error& error);
    void finish();
    void end();
    // Runs one delegate callback; false when the connection ended inside it or must stop.
    template <typename F> bool deliver(F&& call);

    URLRequest originalRequest_;
    URLRequest currentRequest_;
    std::shared_ptr<URLConnectionDelegate> strongDelegate_;
    std::weak_ptr<URLConnectionDelegate> weakDelegate_;
    DelegateHold hold_;
    bool hadDelegate_ = false;
    std::int64_t maximumBodyLength_ = kDefaultMaximumBodyLength;
    State state_ = State::Idle;
    RunLoop* loop_ = nullptr;
    std::shared_ptr<netdetail::Transfer> transfer_;
    std::uint64_t hop_ = 0; // events of an earlier hop are ignored
    int redirects_ = 0;
    std::shared_ptr<Timer> timeoutTimer_;
    const std::uint64_t serial_;
    std::atomic<std::uint64_t> answers_{0};
};

} // namespace platform
