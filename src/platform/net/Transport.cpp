#include "platform/net/Transport.h"

#include <curl/curl.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/net/ReplyOrdering.h"
#include "platform/net/URLError.h"

namespace platform::netdetail {
namespace {

// How long the I/O thread sleeps in one poll when nothing happens; new work wakes it sooner.
constexpr int kPollTimeoutMs = 1000;
constexpr int kFirstFinalStatus = 200;
// Body bytes are read from the socket (and handed on) in pieces of up to this size.
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr int kRedirectStatuses[] = {301, 302, 303, 307, 308};
constexpr const char* kLoadableProtocols = "http,https";

struct CurlErrorMapping {
    CURLcode curl;
    std::int64_t url;
};

// libcurl's result codes as the platform's URL errors; anything else is "unknown".
constexpr CurlErrorMapping kCurlErrors[] = {
    {CURLE_COULDNT_RESOLVE_HOST, kURLErrorCannotFindHost},
    {CURLE_COULDNT_RESOLVE_PROXY, kURLErrorCannotFindHost},
    {CURLE_COULDNT_CONNECT, kURLErrorCannotConnectToHost},
    {CURLE_OPERATION_TIMEDOUT, kURLErrorTimedOut},
    {CURLE_UNSUPPORTED_PROTOCOL, kURLErrorUnsupportedURL},
    {CURLE_URL_MALFORMAT, kURLErrorBadURL},
    {CURLE_GOT_NOTHING, kURLErrorNetworkConnectionLost},
    {CURLE_RECV_ERROR, kURLErrorNetworkConnectionLost},
    {CURLE_SEND_ERROR, kURLErrorNetworkConnectionLost},
    {CURLE_PARTIAL_FILE, kURLErrorNetworkConnectionLost},
    {CURLE_WEIRD_SERVER_REPLY, kURLErrorBadServerResponse},
    {CURLE_HTTP2, kURLErrorBadServerResponse},
    {CURLE_HTTP2_STREAM, kURLErrorNetworkConnectionLost},
    {CURLE_BAD_CONTENT_ENCODING, kURLErrorBadServerResponse},
    {CURLE_SSL_CONNECT_ERROR, kURLErrorSecureConnectionFailed},
    {CURLE_PEER_FAILED_VERIFICATION, kURLErrorSecureConnectionFailed},
    {CURLE_SSL_CERTPROBLEM, kURLErrorSecureConnectionFailed},
    {CURLE_SSL_CIPHER, kURLErrorSecureConnectionFailed},
    {CURLE_SSL_CACERT_BADFILE, kURLErrorSecureConnectionFailed},
};

std::int64_t urlErrorForCurl(CURLcode code) {
    for (const auto& m : kCurlErrors)
        if (m.curl == code)
            return m.url;
    return kURLErrorUnknown;
}

bool isRedirectStatus(int status) {
    for (int s : kRedirectStatuses)
        if (s == status)
            return true;
    return false;
}

// A header field that could smuggle another line into the request is not sent.
bool isSendableField(std::string_view name, std::string_view value) {
    if (name.empty() || name.find_first_of(":\r\n") != std::string_view::npos)
        return false;
    for (std::string_view part : {name, value})
        for (char c : part)
            if (c == '\r' || c == '\n' || c == '\0')
                return false;
    return true;
}

} // namespace

class Transfer {
  public:
    // Set from any thread; read by the I/O thread's callbacks to stop early.
    std::atomic<bool> cancelled{false};

    // Calls the sink unless the transfer has been cancelled; cancel() waits for a call in
    // progress, so no event follows it.
    void emit(TransferEvent&& event) {
        std::lock_guard lock(sinkMutex);
        if (!cancelled && sink)
            sink(std::move(event));
    }
    void cancel() {
        TransferSink dropped;
        {
            std::lock_guard lock(sinkMutex);
            cancelled = true;
            dropped = std::move(sink);
            sink = nullptr;
        }
    }

    std::mutex sinkMutex;
    TransferSink sink;

    // The rest belongs to the I/O thread.
    URLRequest request;
    std::string curlURL;
    std::int64_t maxBodyLength = 0;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;

    int status = 0;
    HTTPHeaders headers;
    bool headersComplete = false;
    std::int64_t bodyBytes = 0;
    std::optional<std::int64_t> failure; // a URL error decided by a callback before aborting
    std::optional<URLResponse> redirectResponse;
    std::optional<URL> redirectTarget;
    std::vector<std::uint8_t> redirectBody;

    explicit Transfer(URLRequest r) : request(std::move(r)) {}
    ~Transfer() { release(); }

    void release() {
        if (easy)
            curl_easy_cleanup(easy);
        easy = nullptr;
        if (headerList)
            curl_slist_free_all(headerList);
        headerList = nullptr;
    }

    // Called when the blank line after a final reply's header fields arrives. Answers false
    // to abort the exchange.
    bool headersDidComplete() {
        headersComplete = true;
        URLResponse response(request.url(), status, headers);
        if (isRedirectStatus(status)) {
            if (auto location = headers.value("Location")) {
                auto target = request.url().resolve(trim(*location));
                if (target && target->isAbsolute()) {
                    redirectResponse = std::move(response);
                    redirectTarget = std::move(target);
                    return true;
                }
            }
        }
        std::int64_t expected = response.expectedContentLength();
        if (expected != URLResponse::kUnknownLength && expected > maxBodyLength) {
            failure = kURLErrorDataLengthExceedsMaximum;
            return false;
        }
        TransferEvent event;
        event.kind = TransferEvent::Kind::Response;
        event.response = std::move(response);
        emit(std::move(event));
        return true;
    }

    static std::size_t onHeader(char* buffer, std::size_t size, std::size_t count, void* userData) {
        auto* self = static_cast<Transfer*>(userData);
        std::size_t length = size * count;
        if (self->cancelled)
            return 0;
        observeRepliesWritten();
        std::string_view line(buffer, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            // A new header block: an informational reply (100 Continue) comes before the final one.
            self->status = 0;
            self->headers = HTTPHeaders();
            self->headersComplete = false;
            auto space = line.find(' ');
            if (space != std::string_view::npos) {
                std::string_view code = trim(line.substr(space + 1)).substr(0, 3);
                std::from_chars(code.data(), code.data() + code.size(), self->status);
            }
            return length;
        }
        if (line.empty()) {
            if (self->status >= kFirstFinalStatus && !self->headersComplete && !self->headersDidComplete())
                return 0;
            return length;
        }
        auto colon = line.find(':');
        if (colon != std::string_view::npos)
            self->headers.add(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        return length;
    }

    static std::size_t onBody(char* buffer, std::size_t size, std::size_t count, void* userData) {
        auto* self = static_cast<Transfer*>(userData);
        std::size_t length = size * count;
        if (self->cancelled)
            return 0;
        self->bodyBytes += static_cast<std::int64_t>(length);
        if (self->bodyBytes > self->maxBodyLength) {
            self->failure = kURLErrorDataLengthExceedsMaximum;
            return 0;
        }
        auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer);
        if (self->redirectTarget) {
            self->redirectBody.insert(self->redirectBody.end(), bytes, bytes + length);
        } else {
            TransferEvent event;
            event.kind = TransferEvent::Kind::Data;
            event.bytes = {bytes, length};
            self->emit(std::move(event));
        }
        return length;
    }

    // With FW_LOOPBACK_ONLY set (the fuzz runs, whose inputs name any host), only this
    // machine's loopback may be reached: no other address and no name lookup.
    bool hostAllowed() const {
        static const bool loopbackOnly = std::getenv("FW_LOOPBACK_ONLY") != nullptr;
        if (!loopbackOnly)
            return true;
        const auto host = request.url().host();
        return host && (*host == "127.0.0.1" || *host == "localhost" || *host == "::1" || *host == "[::1]");
    }

    // Sets up the easy handle; false when libcurl refuses or the host may not be reached.
    bool prepare() {
        if (!hostAllowed())
            return false;
        easy = curl_easy_init();
        if (!easy)
            return false;
        curlURL = request.url().withoutFragment().absoluteString();
        bool ok = curl_easy_setopt(easy, CURLOPT_URL, curlURL.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kLoadableProtocols) == CURLE_OK;
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L); // redirects are followed hop by hop by our caller
        curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);     // the URL is already resolved
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this);

        const std::string& method = request.httpMethod();
        const auto& body = request.httpBody();
        static const char kEmpty[] = "";
        const char* bodyBytes = body.empty() ? kEmpty : reinterpret_cast<const char*>(body.data());
        if (method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bodyBytes);
        } else {
            if (!body.empty()) {
                curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
                curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bodyBytes);
            }
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        }

        for (const auto& [name, value] : request.allHTTPHeaderFields().fields()) {
            if (!isSendableField(name, value)) {
                logLine("URLConnection: header field \"" + name + "\" holds a line break and is not sent");
                continue;
            }
            // libcurl sends "Name;" as an empty field ("Name:" would remove it).
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            headerList = curl_slist_append(headerList, line.c_str());
        }
        // A request that accepts compressed replies gets them back as they were before
        // compression (the body cap counts the bytes after it, so a small compressed reply
        // cannot swell past it).
        // The request's own field is what is sent; the empty text turns decoding on.
        if (request.allHTTPHeaderFields().contains("Accept-Encoding"))
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        if (!request.allHTTPHeaderFields().contains("Expect"))
            headerList = curl_slist_append(headerList, "Expect:"); // no 100-continue round trip
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
        return ok;
    }

    // The exchange ended with `code`; tells the sink how.
    void complete(CURLcode code) {
        TransferEvent event;
        event.kind = TransferEvent::Kind::Complete;
        const std::string& failing = request.url().absoluteString();
        if (failure) {
            event.error = makeURLError(*failure, failing);
        } else if (code != CURLE_OK) {
            event.error = makeURLError(urlErrorForCurl(code), failing);
        } else if (redirectTarget) {
            event.kind = TransferEvent::Kind::Redirect;
            event.response = std::move(redirectResponse);
            event.redirectTarget = std::move(redirectTarget);
            event.data = std::move(redirectBody);
        } else if (!headersComplete) {
            event.error = makeURLError(kURLErrorBadServerResponse, failing);
        }
        emit(std::move(event));
    }
};

struct Transport::Impl {
    CURLM* multi = nullptr;
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Transfer>> toAdd, toRemove;
    std::size_t liveCount = 0;
    std::map<CURL*, std::shared_ptr<Transfer>> active; // I/O thread only
    std::thread thread;

    void wake() { curl_multi_wakeup(multi); }

    void drop(CURL* easy) {
        auto it = active.find(easy);
        if (it == active.end())
            return;
        curl_multi_remove_handle(multi, easy);
        it->second->release();
        active.erase(it);
        std::lock_guard lock(mutex);
        --liveCount;
    }

    void run() {
        for (;;) {
            std::vector<std::shared_ptr<Transfer>> adds, removes;
            {
                std::lock_guard lock(mutex);
                adds.swap(toAdd);
                removes.swap(toRemove);
            }
            for (auto& t : adds) {
                if (t->cancelled) {
                    std::lock_guard lock(mutex);
                    --liveCount;
                    continue;
                }
                if (!t->prepare() || curl_multi_add_handle(multi, t->easy) != CURLM_OK) {
                    t->complete(CURLE_FAILED_INIT);
                    t->release();
                    std::lock_guard lock(mutex);
                    --liveCount;
                    continue;
                }
                active[t->easy] = t;
            }
            for (auto& t : removes)
                if (t->easy)
                    drop(t->easy);

            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                auto it = active.find(message->easy_handle);
                if (it == active.end())
                    continue;
                auto transfer = it->second;
                transfer->complete(message->data.result);
                drop(message->easy_handle);
            }
            curl_multi_poll(multi, nullptr, 0, kPollTimeoutMs, nullptr);
        }
    }
};

Transport::Transport() : impl_(new Impl) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    impl_->multi = curl_multi_init();
    impl_->thread = std::thread([impl = impl_] { impl->run(); });
    impl_->thread.detach();
}

Transport& Transport::shared() {
    // Lives for the whole process: its I/O thread may be in a poll at exit.
    static Transport* transport = new Transport();
    return *transport;
}

std::shared_ptr<Transfer> Transport::start(const URLRequest& request, std::int64_t maxBodyLength,
                                           TransferSink sink) {
    auto transfer = std::make_shared<Transfer>(request);
    transfer->maxBodyLength = maxBodyLength;
    transfer->sink = std::move(sink);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->toAdd.push_back(transfer);
        ++impl_->liveCount;
    }
    impl_->wake();
    return transfer;
}

void Transport::cancel(const std::shared_ptr<Transfer>& transfer) {
    if (!transfer)
        return;
    transfer->cancel();
    {
        std::lock_guard lock(impl_->mutex);
        impl_->toRemove.push_back(transfer);
    }
    impl_->wake();
}

std::size_t Transport::activeTransferCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->liveCount;
}

bool isLoadableScheme(std::string_view scheme) {
    return equalsIgnoringCase(scheme, "http") || equalsIgnoringCase(scheme, "https");
}

} // namespace platform::netdetail
