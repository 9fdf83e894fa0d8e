#include "services/ServiceHost.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/foundation/Strings.h"
#include "platform/net/ReplyOrdering.h"

namespace services {
namespace {

// Worker threads of the server: enough for slow (delayed) replies and kept-alive connections
// of several clients at once.
constexpr int kWorkerThreads = 32;
// How long start() waits for the listener thread to run.
constexpr auto kStartWait = std::chrono::seconds(5);
// Where the pre-routing step keeps a form's real Content-Type (see below).
constexpr const char* kStashedContentType = "X-Services-Stashed-Content-Type";
// Announced body of a closed-connection fault.
constexpr std::size_t kClosedConnectionBodyBytes = 64;
// The pattern of the generated-bytes path is sent from one block of this size.
constexpr std::size_t kGeneratedBlockBytes = 256 * 1024;

struct MimeType {
    const char* extension;
    const char* type;
};
constexpr MimeType kMimeTypes[] = {
    {".json", "application/json"},
    {".html", "text/html; charset=utf-8"},
    {".htm", "text/html; charset=utf-8"},
    {".php", "text/html; charset=utf-8"},
    {".js", "application/javascript"},
    {".css", "text/css"},
    {".txt", "text/plain; charset=utf-8"},
    {".xml", "text/xml"},
    {".plist", "application/xml"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".gif", "image/gif"},
    {".zip", "application/zip"},
    {".mp3", "audio/mpeg"},
    {".mp4", "video/mp4"},
    {".bin", "application/octet-stream"},
};
constexpr const char* kDefaultMimeType = "application/octet-stream";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}


// Lenient percent-decoding: a broken escape stays as written.
std::string decode(std::string_view text, bool plusIsSpace) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && platform::hexDigitValue(text[i + 1]) >= 0 && platform::hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(platform::hexDigitValue(text[i + 1]) * 16 + platform::hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += (plusIsSpace && c == '+') ? ' ' : c;
        }
    }
    return out;
}

std::vector<NameValue> parsePairs(std::string_view text, bool plusIsSpace) {
    std::vector<NameValue> out;
    while (!text.empty()) {
        auto amp = text.find('&');
        std::string_view piece = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (piece.empty())
            continue;
        auto eq = piece.find('=');
        std::string_view name = piece.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
        out.emplace_back(decode(name, plusIsSpace), decode(value, plusIsSpace));
    }
    return out;
}

const char* mimeTypeFor(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    for (const auto& m : kMimeTypes)
        if (equalsIgnoringCase(ext, m.extension))
            return m.type;
    return kDefaultMimeType;
}

// The fixture file for a request path, or nullopt when the path would leave the folder or
// names no regular file.
std::optional<std::filesystem::path> fixtureFile(const std::string& root, const std::string& path) {
    std::filesystem::path file(root);
    std::stringstream segments(path);
    std::string segment;
    bool any = false;
    while (std::getline(segments, segment, '/')) {
        if (segment.empty())
            continue;
        if (segment == "." || segment == ".." || segment.find('\\') != std::string::npos ||
            segment.find('\0') != std::string::npos)
            return std::nullopt;
        file /= segment;
        any = true;
    }
    std::error_code ec;
    if (!any || !std::filesystem::is_regular_file(file, ec))
        return std::nullopt;
    return file;
}

} // namespace

// ---- LoggedRequest ----

std::optional<std::string> LoggedRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (equalsIgnoringCase(n, name))
            return v;
    return std::nullopt;
}

std::optional<std::string> LoggedRequest::queryValue(std::string_view name) const {
    for (const auto& [n, v] : queryItems)
        if (n == name)
            return v;
    return std::nullopt;
}

std::vector<NameValue> LoggedRequest::formItems() const {
    return parsePairs(body, true);
}

// ---- Fault ----

Fault Fault::errorStatus(int status, std::string body) {
    Fault f;
    f.kind = Kind::Status;
    f.status = status;
    f.body = std::move(body);
    return f;
}

Fault Fault::delay(double seconds) {
    Fault f;
    f.kind = Kind::Delay;
    f.delaySeconds = seconds;
    return f;
}

Fault Fault::reply(int status, std::string body, std::string contentType) {
    Fault f = errorStatus(status, std::move(body));
    f.contentType = std::move(contentType);
    return f;
}

Fault Fault::truncated(std::string body, std::size_t sentBytes) {
    Fault f;
    f.kind = Kind::Truncated;
    f.status = 200;
    f.sentBytes = std::min(sentBytes, body.size());
    f.body = std::move(body);
    return f;
}

Fault Fault::chunked(std::string body, std::size_t chunkSize) {
    Fault f;
    f.kind = Kind::Chunked;
    f.status = 200;
    f.body = std::move(body);
    f.chunkSize = chunkSize == 0 ? 1 : chunkSize;
    return f;
}

Fault Fault::redirect(std::string location, int status) {
    Fault f;
    f.kind = Kind::Redirect;
    f.status = status;
    f.location = std::move(location);
    return f;
}

Fault Fault::closeConnection() {
    Fault f;
    f.kind = Kind::CloseConnection;
    f.status = 200;
    return f;
}

// ---- A server that leaves unparsable ranges to the handlers ----

namespace {

// The HTTP library answers 416 to a "Range" header it cannot parse ("bytes=5-2", "items=0-")
// before any handler runs, although such a header is to be ignored (RFC 9110). So the request
// head is read here first, such a header is renamed to kStashedRange (the log and the handlers
// see it as "Range" again), and the library reads the request from that edited head.
constexpr const char* kStashedRange = "X-Services-Stashed-Range";
// The longest request head read ahead; a longer one goes to the library as it is.
constexpr std::size_t kMaximumHeadBytes = 64 * 1024;
constexpr std::string_view kHeadEnd = "\r\n\r\n";

// A socket whose first bytes come from a buffer.
class PrefixedSocketStream final : public httplib::Stream {
public:
    PrefixedSocketStream(int sock, std::string prefix, int readTimeoutMs, int writeTimeoutMs)
        : sock_(sock), prefix_(std::move(prefix)), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override { return position_ < prefix_.size() || wait(POLLIN, readTimeoutMs_); }
    bool is_writable() const override { return wait(POLLOUT, writeTimeoutMs_); }
    ssize_t read(char* ptr, size_t size) override {
        if (position_ < prefix_.size()) {
            size_t n = std::min(size, prefix_.size() - position_);
            std::memcpy(ptr, prefix_.data() + position_, n);
            position_ += n;
            return static_cast<ssize_t>(n);
        }
        if (!wait(POLLIN, readTimeoutMs_))
            return -1;
        return ::recv(sock_, ptr, size, 0);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        return ::send(sock_, ptr, size, MSG_NOSIGNAL);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(::getsockname, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    bool wait(short events, int timeoutMs) const {
        pollfd fd{sock_, events, 0};
        int ready;
        do
            ready = ::poll(&fd, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        return ready > 0;
    }
    void address(int (*query)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage storage{};
        socklen_t length = sizeof(storage);
        if (query(sock_, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (storage.ss_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
            port = ntohs(in->sin_port);
        } else if (storage.ss_family == AF_INET6) {
            const auto* in = reinterpret_cast<const sockaddr_in6*>(&storage);
            ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof(text));
            port = ntohs(in->sin6_port);
        }
        ip = text;
    }

    int sock_;
    std::string prefix_;
    size_t position_ = 0;
    int readTimeoutMs_;
    int writeTimeoutMs_;
};

// `head` with every "Range" header line the library cannot parse renamed.
std::string withParsableRanges(std::string head) {
    std::size_t line = head.find("\r\n");
    while (line != std::string::npos && line + 2 < head.size()) {
        std::size_t start = line + 2;
        std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        std::string_view text(head.data() + start, end - start);
        auto colon = text.find(':');
        if (colon != std::string_view::npos && platform::equalsIgnoringCase(text.substr(0, colon), "Range")) {
            std::string value(platform::trim(text.substr(colon + 1)));
            httplib::Ranges ranges;
            if (!httplib::detail::parse_range_header(value, ranges)) {
                head.replace(start, colon, kStashedRange);
                end = head.find("\r\n", start);
            }
        }
        line = end;
    }
    return head;
}

class RangeTolerantServer final : public httplib::Server {
    bool process_and_close_socket(socket_t sock) override {
        int readMs = static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000);
        int writeMs = static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000);
        std::string head;
        char buffer[4096];
        while (head.find(kHeadEnd) == std::string::npos && head.size() < kMaximumHeadBytes) {
            pollfd fd{sock, POLLIN, 0};
            if (::poll(&fd, 1, readMs) <= 0)
                break;
            ssize_t n = ::recv(sock, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        bool served = false;
        if (!head.empty()) {
            PrefixedSocketStream stream(sock, withParsableRanges(std::move(head)), readMs, writeMs);
            bool closed = false;
            // One request per connection, as the host's keep-alive setting asks.
            served = process_request(stream, true, closed, nullptr);
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return served;
    }
};

} // namespace

// ---- ServiceHost ----

struct ServiceHost::Impl {
    std::string fixturesDir;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::atomic<int> port{0};
    std::atomic<bool> running{false};

    mutable std::mutex mutex;
    std::condition_variable stopWake;
    bool stopping = false;
    std::map<std::pair<std::string, std::string>, ServiceHandler> handlers;
    std::map<std::string, Fault> faults;
    std::vector<LoggedRequest> log;

    LoggedRequest record(const httplib::Request& req) {
        LoggedRequest entry;
        entry.method = req.method;
        entry.path = req.path;
        entry.target = req.target;
        auto question = req.target.find('?');
        if (question != std::string::npos)
            entry.rawQuery = req.target.substr(question + 1);
        entry.queryItems = parsePairs(entry.rawQuery, false);
        auto stashed = req.headers.find(kStashedContentType);
        for (const auto& [name, value] : req.headers) {
            if (equalsIgnoringCase(name, kStashedContentType))
                continue;
            if (equalsIgnoringCase(name, kStashedRange)) {
                entry.headers.emplace_back("Range", value);
                continue;
            }
            if (equalsIgnoringCase(name, "Content-Type") && stashed != req.headers.end())
                entry.headers.emplace_back(name, stashed->second);
            else
                entry.headers.emplace_back(name, value);
        }
        entry.body = req.body;
        std::lock_guard lock(mutex);
        log.push_back(entry);
        return entry;
    }

    std::optional<Fault> takeFault(const std::string& path) {
        std::lock_guard lock(mutex);
        auto it = faults.find(path);
        if (it == faults.end())
            return std::nullopt;
        Fault fault = it->second;
        if (it->second.times > 0 && --it->second.times == 0)
            faults.erase(it);
        return fault;
    }

    // Waits up to `seconds`; stop() cuts the wait short.
    void sleep(double seconds) {
        std::unique_lock lock(mutex);
        stopWake.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return stopping; });
    }

    static void answerGeneratedBytes(const LoggedRequest& request, httplib::Response& res) {
        std::uint64_t size = 0;
        const std::string text = request.queryValue("size").value_or("");
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
            size > ServiceHost::kMaximumGeneratedBytes) {
            res.status = 400;
            res.set_content("size must be a number of bytes up to 1 GiB", "text/plain");
            return;
        }
        static const std::string block = [] {
            std::string b(kGeneratedBlockBytes, '\0');
            for (std::size_t i = 0; i < b.size(); ++i)
                b[i] = static_cast<char>('a' + i % 26);
            return b;
        }();
        res.status = 200;
        res.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream",
                                 [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     const std::size_t start = offset % block.size();
                                     return sink.write(block.data() + start,
                                                       std::min(length, block.size() - start));
                                 });
    }

    void answer(const LoggedRequest& request, httplib::Response& res) {
        if (auto fault = takeFault(request.path)) {
            switch (fault->kind) {
            case Fault::Kind::Status:
                res.status = fault->status;
                res.set_content(fault->body, fault->contentType.c_str());
                return;
            case Fault::Kind::Delay:
                sleep(fault->delaySeconds);
                break; // then answer normally
            case Fault::Kind::Truncated:
            case Fault::Kind::CloseConnection: {
                std::string body = fault->kind == Fault::Kind::Truncated
                                       ? fault->body
                                       : std::string(kClosedConnectionBodyBytes, 'x');
                std::size_t sent = fault->kind == Fault::Kind::Truncated ? fault->sentBytes : 0;
                res.status = fault->status;
                res.set_content_provider(body.size(), fault->contentType.c_str(),
                                         [body, sent](std::size_t, std::size_t, httplib::DataSink& sink) {
                                             if (sent > 0)
                                                 sink.write(body.data(), sent);
                                             return false; // closes the connection mid-body
                                         });
                return;
            }
            case Fault::Kind::Chunked: {
                std::string body = fault->body;
                std::size_t size = fault->chunkSize;
                res.status = fault->status;
                res.set_chunked_content_provider(
                    fault->contentType.c_str(), [body, size](std::size_t offset, httplib::DataSink& sink) {
                        if (offset < body.size())
                            sink.write(body.data() + offset, std::min(size, body.size() - offset));
                        else
                            sink.done();
                        return true;
                    });
                return;
            }
            case Fault::Kind::Redirect:
                res.status = fault->status;
                res.set_header("Location", fault->location);
                return;
            }
        }

        ServiceHandler handler;
        {
            std::lock_guard lock(mutex);
            std::string method = request.method == "HEAD" ? "GET" : request.method;
            auto it = handlers.find({method, request.path});
            if (it != handlers.end())
                handler = it->second;
        }
        if (handler) {
            ServiceReply reply = handler(request);
            platform::markReplyWritten(); // what the handler read comes before the reply's receipt
            res.status = reply.status;
            for (const auto& [name, value] : reply.headers)
                res.set_header(name.c_str(), value);
            res.set_content(reply.body, reply.contentType.c_str());
            return;
        }

        if (request.method == "GET" && request.path == ServiceHost::kGeneratedBytesPath) {
            answerGeneratedBytes(request, res);
            return;
        }
        if (request.method == "GET" || request.method == "HEAD") {
            if (auto file = fixtureFile(fixturesDir, request.path)) {
                std::ifstream in(*file, std::ios::binary);
                std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                res.status = 200;
                res.set_content(content, mimeTypeFor(*file));
                return;
            }
        }
        res.status = 404;
        res.set_content("Not Found", "text/plain");
    }

    void install(httplib::Server& s) {
        s.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
        // One request per connection: an idle kept-alive connection would hold stop() for the
        // whole keep-alive time-out.
        s.set_keep_alive_max_count(1);
        // The server parses form and multipart bodies itself (and refuses large forms); the
        // log wants the raw bytes, so such requests are relabelled before their body is read
        // and the real Content-Type is put back in the log.
        s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
            auto& mutableRequest = const_cast<httplib::Request&>(req);
            // The "Range" header stays for the handlers and the log; the server itself must
            // not cut a handler's reply (a 206 would be cut twice, a 200 cut silently).
            mutableRequest.ranges.clear();
            auto type = req.get_header_value("Content-Type");
            if (type.rfind("multipart/form-data", 0) == 0 ||
                type.rfind("application/x-www-form-urlencoded", 0) == 0) {
                mutableRequest.set_header(kStashedContentType, type);
                mutableRequest.headers.erase("Content-Type");
                mutableRequest.set_header("Content-Type", "application/octet-stream");
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        auto route = [this](const httplib::Request& req, httplib::Response& res) {
            answer(record(req), res);
        };
        const std::string all = ".*";
        s.Get(all, route);
        s.Post(all, route);
        s.Put(all, route);
        s.Delete(all, route);
        s.Patch(all, route);
        s.Options(all, route);
    }
};

ServiceHost::ServiceHost(std::string fixturesDir) : impl_(std::make_unique<Impl>()) {
    impl_->fixturesDir = std::move(fixturesDir);
}

ServiceHost::~ServiceHost() {
    stop();
}

const std::string& ServiceHost::fixturesDir() const {
    return impl_->fixturesDir;
}

std::string ServiceHost::defaultFixturesDir() {
#ifdef FW_FIXTURES_DIR
    return FW_FIXTURES_DIR;
#else
    return "services/fixtures";
#endif
}

std::string ServiceHost::start(int port, const std::string& address) {
    if (impl_->running)
        return {};
    std::unique_ptr<httplib::Server> server = std::make_unique<RangeTolerantServer>();
    impl_->install(*server);
    int bound = port == 0 ? server->bind_to_any_port(address.c_str())
                          : (server->bind_to_port(address.c_str(), port) ? port : -1);
    if (bound <= 0)
        return {};
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = false;
    }
    impl_->server = std::move(server);
    impl_->port = bound;
    httplib::Server* s = impl_->server.get();
    impl_->listener = std::thread([s] { s->listen_after_bind(); });
    // stop() only takes effect once the listener runs, so wait for it here.
    auto deadline = std::chrono::steady_clock::now() + kStartWait;
    while (!s->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    impl_->running = true;
    return baseURL();
}

void ServiceHost::stop() {
    if (!impl_->running)
        return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->stopWake.notify_all();
    impl_->server->stop();
    if (impl_->listener.joinable())
        impl_->listener.join();
    impl_->server.reset();
    impl_->running = false;
}

bool ServiceHost::isRunning() const {
    return impl_->running;
}
int ServiceHost::port() const {
    return impl_->port;
}

std::string ServiceHost::baseURL() const {
    return impl_->running || impl_->port ? "http://127.0.0.1:" + std::to_string(impl_->port.load())
                                         : std::string();
}

std::string ServiceHost::url(std::string_view pathAndQuery) const {
    std::string out = baseURL();
    if (pathAndQuery.empty() || pathAndQuery.front() != '/')
        out += '/';
    out += pathAndQuery;
    return out;
}

void ServiceHost::handle(std::string method, std::string path, ServiceHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->handlers[{std::move(method), std::move(path)}] = std::move(handler);
}

void ServiceHost::removeHandler(const std::string& method, const std::string& path) {
    std::lock_guard lock(impl_->mutex);
    impl_->handlers.erase({method, path});
}

void ServiceHost::setFault(std::string path, Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults[std::move(path)] = std::move(fault);
}

void ServiceHost::clearFault(const std::string& path) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.erase(path);
}

void ServiceHost::clearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

std::vector<LoggedRequest> ServiceHost::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::vector<LoggedRequest> ServiceHost::requestsTo(std::string_view path) const {
    std::vector<LoggedRequest> out;
    std::lock_guard lock(impl_->mutex);
    for (const auto& r : impl_->log)
        if (r.path == path)
            out.push_back(r);
    return out;
}

std::size_t ServiceHost::requestCount(std::string_view path) const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<std::size_t>(std::count_if(impl_->log.begin(), impl_->log.end(),
                                                  [&](const LoggedRequest& r) { return r.path == path; }));
}

void ServiceHost::clearRequestLog() {
    std::lock_guard lock(impl_->mutex);
    impl_->log.clear();
}

std::string ServiceHost::closedPortURL() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return "http://127.0.0.1:9";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = 9; // discard: closed on any sane machine, used if the probe fails
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd); // bound but never listening, and now released: connections are refused
    return "http://127.0.0.1:" + std::to_string(port);
}

ServiceReply byteRangeReply(const LoggedRequest& request, const std::string& body, std::string contentType) {
    const std::vector<NameValue> acceptRanges = {{"Accept-Ranges", "bytes"}};
    auto whole = [&] { return ServiceReply{200, body, contentType, acceptRanges}; };
    auto range = request.header("Range");
    constexpr std::string_view kUnit = "bytes=";
    if (!range || range->rfind(kUnit, 0) != 0)
        return whole();
    std::string spec = range->substr(kUnit.size());
    auto dash = spec.find('-');
    if (dash == std::string::npos || dash == 0 || spec.find(',') != std::string::npos)
        return whole();
    auto digits = [](std::string_view text) {
        return !text.empty() && text.size() <= 18 &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    std::string first = spec.substr(0, dash), last = spec.substr(dash + 1);
    if (!digits(first) || (!last.empty() && !digits(last)))
        return whole();
    std::uint64_t start = std::stoull(first);
    std::uint64_t size = body.size();
    if (start >= size) {
        auto headers = acceptRanges;
        headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return ServiceReply{416, "", "text/plain", headers};
    }
    std::uint64_t end = last.empty() ? size - 1 : std::min<std::uint64_t>(std::stoull(last), size - 1);
    if (end < start)
        return whole();
    auto headers = acceptRanges;
    headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(end) + "/" +
                                              std::to_string(size));
    return ServiceReply{206, body.substr(start, end - start + 1), std::move(contentType), headers};
}

} // namespace services
