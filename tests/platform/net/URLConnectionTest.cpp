#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <zlib.h>

#include "NetTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"

using namespace platform;
using nettest::RecordingDelegate;
using services::Fault;

namespace {

constexpr double kRealLimit = 10.0;
const std::string kHello = "Hello from the loopback services.\n";

class URLConnectionTest : public ::testing::Test {
  protected:
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;

    URLRequest request(std::string_view path) { return URLRequest(services.urlFor(path)); }

    std::shared_ptr<RecordingDelegate> load(URLRequest r,
                                            std::int64_t cap = URLConnection::kDefaultMaximumBodyLength) {
        auto delegate = std::make_shared<RecordingDelegate>();
        auto connection = URLConnection::create(std::move(r), delegate, false);
        connection->setMaximumBodyLength(cap);
        connection->start();
        EXPECT_TRUE(clock.runUntil([&] { return delegate->ended(); }, kRealLimit));
        return delegate;
    }

    // Waits, without running the main loop, until the I/O thread has queued something for it.
    static bool waitForQueuedWork() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (RunLoop::main().queuedTaskCount() == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

std::string repeated(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}

TEST_F(URLConnectionTest, ReportsStatusAsAResponseNotAFailure) {
    services.handle("GET", "/teapot", [](const services::LoggedRequest&) {
        return services::ServiceReply{
            418, "short and stout", "text/plain; charset=UTF-8", {{"X-Kind", "pot"}}};
    });
    struct Case {
        const char* path;
        int status;
        std::string body;
        const char* mimeType;
    };
    const Case cases[] = {
        {"/net/hello.txt", 200, kHello, "text/plain"},
        {"/net/absent.json", 404, "Not Found", "text/plain"},
        {"/teapot", 418, "short and stout", "text/plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto d = load(request(c.path));
        ASSERT_TRUE(d->response);
        EXPECT_FALSE(d->error);
        EXPECT_EQ(d->response->statusCode(), c.status);
        EXPECT_EQ(d->body, c.body);
        EXPECT_EQ(d->response->mimeType(), c.mimeType);
        EXPECT_EQ(d->response->expectedContentLength(), static_cast<std::int64_t>(c.body.size()));
        EXPECT_EQ(d->response->url().absoluteString(), services.url(c.path));
        EXPECT_EQ(d->events.front(), "will-send " + services.url(c.path));
        EXPECT_EQ(d->events.back(), "finish");
    }
    auto pot = load(request("/teapot"));
    EXPECT_EQ(pot->response->valueForHTTPHeaderField("x-KIND"), "pot");
    EXPECT_EQ(pot->response->textEncodingName(), "utf-8");
}

TEST_F(URLConnectionTest, ChunkedBodyArrivesInPiecesWithUnknownLength) {
    const std::string body = repeated(200'000);
    services.setFault("/chunked", Fault::chunked(body, 4096));
    auto d = load(request("/chunked"));
    ASSERT_TRUE(d->finished);
    EXPECT_EQ(d->body, body);
    EXPECT_GT(d->dataCallbacks, 1);
    EXPECT_EQ(d->response->expectedContentLength(), URLResponse::kUnknownLength);
    EXPECT_EQ(d->events, (std::vector<std::string>{"will-send " + services.url("/chunked"), "response 200",
                                                   "data", "finish"}));
}

// `text` in the gzip format, as a server compresses a reply.
std::string gzipped(const std::string& text) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, uLong(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST_F(URLConnectionTest, ARequestThatAcceptsCompressionGetsTheBodyUncompressed) {
    const std::string text = repeated(100'000);
    const std::string squeezed = gzipped(text);
    ASSERT_LT(squeezed.size(), 10'000u);
    services.handle("GET", "/squeezed", [squeezed](const services::LoggedRequest&) {
        return services::ServiceReply{200, squeezed, "application/octet-stream", {{"Content-Encoding", "gzip"}}};
    });
    URLRequest accepting = request("/squeezed");
    accepting.setValue("gzip", "Accept-Encoding");
    auto d = load(accepting);
    ASSERT_TRUE(d->finished);
    EXPECT_EQ(d->body, text);
    EXPECT_EQ(services.requestsTo("/squeezed").back().header("Accept-Encoding"), "gzip");
    // The cap counts the bytes after decompression.
    auto capped = load(accepting, 50'000);
    ASSERT_TRUE(capped->error);
    EXPECT_EQ(capped->error->code, kURLErrorDataLengthExceedsMaximum);
    // A request that does not ask for compression is handed the bytes as they came.
    auto plain = load(request("/squeezed"));
    ASSERT_TRUE(plain->finished);
    EXPECT_EQ(plain->body, squeezed);
}

TEST_F(URLConnectionTest, RedirectChainOffersEveryHopToTheDelegate) {
    services.setFault("/r1", Fault::redirect(services.url("/r2"), 302));
    services.setFault("/r2", Fault::redirect("r3?step=3", 301)); // relative, resolved against /r2
    services.setFault("/r3", Fault::redirect("/net/hello.txt", 307));
    auto d = load(request("/r1"));
    ASSERT_TRUE(d->finished);
    EXPECT_EQ(d->events, (std::vector<std::string>{
                             "will-send " + services.url("/r1"),
                             "will-send " + services.url("/r2") + " after 302",
                             "will-send " + services.url("/r3?step=3") + " after 301",
                             "will-send " + services.url("/net/hello.txt") + " after 307",
                             "response 200",
                             "data",
                             "finish",
                         }));
    EXPECT_EQ(d->body, kHello);
    EXPECT_EQ(d->response->url().absoluteString(), services.url("/net/hello.txt"));
    EXPECT_EQ(services.requests().size(), 4u);
}

TEST_F(URLConnectionTest, RedirectToASchemeWeCannotLoadIsOfferedThenFails) {
    const std::string store = "itms-apps://store.example/app?id=42&mt=8";
    services.setFault("/click", Fault::redirect(store, 302));
    auto d = load(request("/click"));
    EXPECT_EQ(d->offeredURLs, (std::vector<std::string>{services.url("/click"), store}));
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, kURLErrorUnsupportedURL);
    EXPECT_EQ(d->error->userInfo.at(kURLErrorFailingURLStringKey), Value(store));
    EXPECT_FALSE(d->response); // the redirect reply is not a final response
}

TEST_F(URLConnectionTest, DelegateAnswersShapeTheLoad) {
    services.setFault("/hop", Fault::redirect("/net/hello.txt", 302));
    services.handle("GET", "/hop-body", [](const services::LoggedRequest&) {
        return services::ServiceReply{302, "moved along", "text/plain", {{"Location", "/net/hello.txt"}}};
    });

    // Declining a redirect makes the redirect reply the final one, with its body.
    auto declined = std::make_shared<RecordingDelegate>();
    declined->willSend = [](const URLRequest& r, const URLResponse* redirect) {
        return redirect ? std::nullopt : std::optional(r);
    };
    URLConnection::create(request("/hop-body"), declined);
    ASSERT_TRUE(clock.runUntil([&] { return declined->ended(); }, kRealLimit));
    EXPECT_TRUE(declined->finished);
    EXPECT_EQ(declined->response->statusCode(), 302);
    EXPECT_EQ(declined->body, "moved along");
    EXPECT_EQ(services.requestCount("/net/hello.txt"), 0u);

    // Answering another request sends that one instead.
    auto rewritten = std::make_shared<RecordingDelegate>();
    rewritten->willSend = [&](const URLRequest& r, const URLResponse* redirect) {
        if (redirect)
            return std::optional(r);
        URLRequest other(services.urlFor("/hop"));
        other.setValue("yes", "X-Rewritten");
        return std::optional(other);
    };
    URLConnection::create(request("/net/absent.json"), rewritten);
    ASSERT_TRUE(clock.runUntil([&] { return rewritten->ended(); }, kRealLimit));
    EXPECT_EQ(rewritten->body, kHello);
    EXPECT_EQ(services.requestCount("/net/absent.json"), 0u);
    ASSERT_EQ(services.requestsTo("/hop").size(), 1u);
    EXPECT_EQ(services.requestsTo("/hop")[0].header("x-rewritten"), "yes");
    // Fields carry over to the redirect hop.
    EXPECT_EQ(services.requestsTo("/net/hello.txt").back().header("X-Rewritten"), "yes");

    // Declining the first request ends the load as cancelled, without sending anything.
    auto refused = std::make_shared<RecordingDelegate>();
    refused->willSend = [](const URLRequest&, const URLResponse*) { return std::nullopt; };
    URLConnection::create(request("/never"), refused);
    ASSERT_TRUE(clock.runUntil([&] { return refused->ended(); }, kRealLimit));
    EXPECT_EQ(refused->error->code, kURLErrorCancelled);
    EXPECT_EQ(services.requestCount("/never"), 0u);
}

TEST_F(URLConnectionTest, PostBodyAndHeadersReachTheServerAndSeeOtherTurnsIntoGet) {
    services.setFault("/form", Fault::redirect("/net/hello.txt", 303));
    URLRequest post = request("/form?src=test");
    post.setHTTPMethod("POST");
    post.setValue("multipart/form-data; boundary=0xKhTmLbOuNdArY", "Content-Type");
    post.setValue("token 1", "X-Client");
    const std::string body = "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; "
                             "name=\"v\"\r\n\r\n2.4M\r\n--0xKhTmLbOuNdArY--\r\n";
    post.setHTTPBody(std::string_view(body));
    auto d = load(post);
    ASSERT_TRUE(d->finished);
    EXPECT_EQ(d->body, kHello);

    auto logged = services.requestsTo("/form");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].method, "POST");
    EXPECT_EQ(logged[0].body, body);
    EXPECT_EQ(logged[0].header("content-type"), "multipart/form-data; boundary=0xKhTmLbOuNdArY");
    EXPECT_EQ(logged[0].header("X-Client"), "token 1");
    EXPECT_EQ(logged[0].queryValue("src"), "test");

    auto followed = services.requestsTo("/net/hello.txt");
    ASSERT_EQ(followed.size(), 1u);
    EXPECT_EQ(followed[0].method, "GET");
    EXPECT_TRUE(followed[0].body.empty());
    EXPECT_FALSE(followed[0].header("Content-Type"));
}

TEST_F(URLConnectionTest, TimesOutOnTheManualClock) {
    services.setFault("/slow", Fault::delay(60));
    URLRequest slow = request("/slow");
    slow.setTimeoutInterval(15);
    auto d = std::make_shared<RecordingDelegate>();
    URLConnection::create(slow, d);
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/slow") == 1; }, kRealLimit));
    clock.advance(14.9);
    EXPECT_FALSE(d->ended());
    clock.advance(0.2);
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, kURLErrorTimedOut);
    EXPECT_EQ(d->error->domain, kURLErrorDomain);
    EXPECT_EQ(URLConnection::runningCount(), 0u);
}

TEST_F(URLConnectionTest, NoCallbackAfterCancelEvenOneAlreadyOnItsWay) {
    // Cancelled before its first turn: nothing at all, and the request never goes out.
    auto early = std::make_shared<RecordingDelegate>();
    URLConnection::create(request("/net/hello.txt"), early)->cancel();
    clock.drain();
    EXPECT_TRUE(early->events.empty());

    // Cancelled while the reply waits in the run loop's queue.
    auto late = std::make_shared<RecordingDelegate>();
    auto connection = URLConnection::create(request("/net/hello.txt"), late);
    clock.drain(); // the first request goes out
    ASSERT_TRUE(waitForQueuedWork());
    connection->cancel();
    clock.drain();
    EXPECT_EQ(late->events, (std::vector<std::string>{"will-send " + services.url("/net/hello.txt")}));
    EXPECT_FALSE(connection->isRunning());

    // Cancelled from inside a callback: the rest of the body never arrives.
    services.setFault("/big", Fault::chunked(repeated(100'000), 1000));
    auto inside = std::make_shared<RecordingDelegate>();
    inside->onData = [](URLConnection& c) { c.cancel(); };
    URLConnection::create(request("/big"), inside);
    ASSERT_TRUE(clock.runUntil([&] { return inside->dataCallbacks > 0; }, kRealLimit));
    clock.drain();
    EXPECT_EQ(inside->dataCallbacks, 1);
    EXPECT_EQ(inside->events.back(), "data");
    EXPECT_EQ(URLConnection::runningCount(), 0u);
}

TEST_F(URLConnectionTest, FailuresCarryThePlatformCodes) {
    services.handle("GET", "/large", [](const services::LoggedRequest&) {
        return services::ServiceReply{200, repeated(5000), "text/plain", {}};
    });
    services.setFault("/large-chunked", Fault::chunked(repeated(5000), 500));
    services.setFault("/cut", Fault::truncated(repeated(1000), 100));
    services.setFault("/closed", Fault::closeConnection());
    struct Case {
        std::string url;
        std::int64_t cap;
        std::int64_t code;
    };
    const Case cases[] = {
        {services.url("/large"), 1000, kURLErrorDataLengthExceedsMaximum},         // by Content-Length
        {services.url("/large-chunked"), 1000, kURLErrorDataLengthExceedsMaximum}, // by counting
        {services.url("/cut"), URLConnection::kDefaultMaximumBodyLength, kURLErrorNetworkConnectionLost},
        {services.url("/closed"), URLConnection::kDefaultMaximumBodyLength, kURLErrorNetworkConnectionLost},
        {fwtest::LoopbackServices::closedPortURL() + "/x", URLConnection::kDefaultMaximumBodyLength,
         kURLErrorCannotConnectToHost},
        {"http://host.that.does.not.exist.invalid/x", URLConnection::kDefaultMaximumBodyLength,
         kURLErrorCannotFindHost},
        {"ftp://127.0.0.1/file", URLConnection::kDefaultMaximumBodyLength, kURLErrorUnsupportedURL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto d = load(URLRequest(*URL::parse(c.url)), c.cap);
        ASSERT_TRUE(d->error);
        EXPECT_EQ(d->error->code, c.code);
        EXPECT_EQ(d->error->userInfo.at(kURLErrorFailingURLStringKey), Value(c.url));
        EXPECT_FALSE(d->finished);
    }
    // A body exactly at the cap is fine.
    auto fits = load(request("/large"), 5000);
    EXPECT_TRUE(fits->finished);
    EXPECT_EQ(fits->body.size(), 5000u);
}

TEST_F(URLConnectionTest, AConnectionNobodyHoldsStillCompletes) {
    auto d = std::make_shared<RecordingDelegate>();
    std::weak_ptr<URLConnection> weak = URLConnection::create(request("/net/hello.txt"), d);
    EXPECT_FALSE(weak.expired()); // it keeps itself alive
    ASSERT_TRUE(clock.runUntil([&] { return d->ended(); }, kRealLimit));
    EXPECT_EQ(d->body, kHello);
    EXPECT_TRUE(weak.expired()); // and lets go when done

    // Without any delegate the request still goes out.
    URLConnection::create(request("/ping?nid=7"), nullptr);
    ASSERT_TRUE(clock.runUntil([&] { return URLConnection::runningCount() == 0; }, kRealLimit));
    ASSERT_EQ(services.requestsTo("/ping").size(), 1u);
    EXPECT_EQ(services.requestsTo("/ping")[0].queryValue("nid"), "7");
}

TEST_F(URLConnectionTest, DelegateLifetime) {
    // Held strongly by default: the caller may drop its own reference.
    std::weak_ptr<RecordingDelegate> watch;
    {
        auto d = std::make_shared<RecordingDelegate>();
        watch = d;
        URLConnection::create(request("/net/hello.txt"), d);
    }
    ASSERT_FALSE(watch.expired());
    ASSERT_TRUE(clock.runUntil([&] { return watch.expired() || watch.lock()->ended(); }, kRealLimit));
    clock.drain();
    EXPECT_TRUE(watch.expired()); // released once the load ended

    // Held weakly on request: once the delegate is gone the connection stops by itself.
    services.setFault("/slow", Fault::delay(60));
    auto d = std::make_shared<RecordingDelegate>();
    URLConnection::create(request("/slow"), d, true, URLConnection::DelegateHold::Weak);
    ASSERT_TRUE(clock.runUntil([&] { return services.requestCount("/slow") == 1; }, kRealLimit));
    d.reset();
    clock.advance(61); // the time-out finds nobody to tell
    EXPECT_EQ(URLConnection::runningCount(), 0u);
}

TEST_F(URLConnectionTest, ADelegateThatThrowsStopsTheConnection) {
    LogCapture log;
    auto d = std::make_shared<RecordingDelegate>();
    d->onResponse = [](URLConnection&) { throw std::runtime_error("bad delegate"); };
    URLConnection::create(request("/net/hello.txt"), d);
    ASSERT_TRUE(clock.runUntil([&] { return URLConnection::runningCount() == 0; }, kRealLimit));
    clock.drain();
    EXPECT_EQ(d->events.back(), "response 200");
    EXPECT_TRUE(log.contains("bad delegate"));
}

TEST_F(URLConnectionTest, CompletionFormGivesResponseAndDataOrAnError) {
    struct Outcome {
        bool called = false;
        std::optional<URLResponse> response;
        std::string data;
        std::optional<Error> error;
    };
    auto run = [&](URLRequest r) {
        auto outcome = std::make_shared<Outcome>();
        URLConnection::sendAsynchronousRequest(
            std::move(r), [outcome](const auto& response, const Data& data, const auto& error) {
                outcome->called = true;
                outcome->response = response;
                outcome->data.assign(data.begin(), data.end());
                outcome->error = error;
            });
        EXPECT_TRUE(clock.runUntil([&] { return outcome->called; }, kRealLimit));
        return outcome;
    };
    services.setFault("/moved", Fault::redirect("/net/hello.txt"));
    auto ok = run(request("/moved"));
    ASSERT_TRUE(ok->response);
    EXPECT_EQ(ok->response->statusCode(), 200);
    EXPECT_EQ(ok->data, kHello);
    EXPECT_FALSE(ok->error);

    auto missing = run(request("/net/absent.json"));
    ASSERT_TRUE(missing->response);
    EXPECT_EQ(missing->response->statusCode(), 404);
    EXPECT_FALSE(missing->error);

    auto refused = run(URLRequest(*URL::parse(fwtest::LoopbackServices::closedPortURL())));
    EXPECT_FALSE(refused->response);
    EXPECT_TRUE(refused->data.empty());
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->code, kURLErrorCannotConnectToHost);

    // Cancelled: the completion is never called.
    auto dropped = std::make_shared<bool>(false);
    auto c = URLConnection::sendAsynchronousRequest(
        request("/net/hello.txt"), [dropped](const auto&, const auto&, const auto&) { *dropped = true; });
    c->cancel();
    clock.drain();
    EXPECT_FALSE(*dropped);
}

TEST_F(URLConnectionTest, SynchronousSendFromABackgroundThread) {
    services.setFault("/moved", Fault::redirect("/net/hello.txt", 301));
    services.setFault("/store", Fault::redirect("itms-apps://store.example/app", 302));
    services.setFault("/slow", Fault::delay(60));
    struct Case {
        std::string url;
        double timeout;
        int status; // 0: failure expected
        std::int64_t code;
        std::string body;
    };
    const Case cases[] = {
        {services.url("/net/hello.txt"), 60, 200, 0, kHello},
        {services.url("/moved"), 60, 200, 0, kHello},
        {services.url("/net/absent.json"), 60, 404, 0, "Not Found"},
        {services.url("/store"), 60, 0, kURLErrorUnsupportedURL, ""},
        {fwtest::LoopbackServices::closedPortURL(), 60, 0, kURLErrorCannotConnectToHost, ""},
        {services.url("/slow"), 0.2, 0, kURLErrorTimedOut, ""}, // real time, as the send blocks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        URLRequest r(*URL::parse(c.url));
        r.setTimeoutInterval(c.timeout);
        URLConnection::SynchronousResponse result;
        std::thread worker([&] { result = URLConnection::sendSynchronousRequest(r); });
        worker.join();
        if (c.status) {
            ASSERT_TRUE(result.response);
            EXPECT_EQ(result.response->statusCode(), c.status);
            EXPECT_EQ(std::string(result.data.begin(), result.data.end()), c.body);
            EXPECT_FALSE(result.error);
        } else {
            ASSERT_TRUE(result.error);
            EXPECT_EQ(result.error->code, c.code);
            EXPECT_FALSE(result.response);
            EXPECT_TRUE(result.data.empty());
        }
    }
}

TEST_F(URLConnectionTest, CallbacksArriveOnTheRunLoopThatStartedTheConnection) {
    // A delegate that notes the thread of every callback.
    struct ThreadNoting : URLConnectionDelegate {
        std::mutex mutex;
        std::vector<std::thread::id> threads;
        std::atomic<bool> done{false};
        void note() {
            std::lock_guard lock(mutex);
            threads.push_back(std::this_thread::get_id());
        }
        void connectionDidReceiveResponse(URLConnection&, const URLResponse&) override { note(); }
        void connectionDidReceiveData(URLConnection&, const Data&) override { note(); }
        void connectionDidFinishLoading(URLConnection&) override {
            note();
            done = true;
        }
        void connectionDidFailWithError(URLConnection&, const Error&) override { done = true; }
    };
    auto d = std::make_shared<ThreadNoting>();
    std::thread::id workerId;
    auto worker = Thread::start("net-test", [&] {
        workerId = std::this_thread::get_id();
        URLConnection::create(request("/net/hello.txt"), d);
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!d->done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker->stop();
    ASSERT_TRUE(d->done);
    ASSERT_GE(d->threads.size(), 3u);
    for (auto id : d->threads)
        EXPECT_EQ(id, workerId);
}

TEST_F(URLConnectionTest, TooManyRedirectsFail) {
    services.setFault("/loop", Fault::redirect("/loop", 302));
    auto d = load(request("/loop"));
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(services.requestCount("/loop"), static_cast<std::size_t>(URLConnection::kMaximumRedirects + 1));
}

} // namespace
