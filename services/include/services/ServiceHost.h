#pragma once
// The remote services, played on loopback HTTP: one server that answers every service path
// from fixture files, from handlers that code registers per method and path, or with a
// scripted fault, and keeps a log of every request it received.
//
// Byte ranges are answered by handlers only (byteRangeReply): the server never slices a
// reply by itself.
//
// Answering order for a request: a fault scripted for its path, then a handler registered for
// its method and path, then (GET and HEAD) the fixture file at that path under the fixtures
// folder, else 404. The query never selects a fixture file; handlers read it if they care.
// One generated path needs no fixture: GET "/bytes?size=N" answers N bytes of a repeating
// pattern (N up to kMaximumGeneratedBytes; anything else is 400), streamed without holding
// them in memory, for transfer measurements.
//
// Threads: the server runs on its own threads; handlers are called on them, possibly several
// at once, so they must be thread-safe. Every public method may be called from any thread.
// stop() (or destruction) closes the listener, wakes delayed replies and waits for the
// server's threads.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace services {

using NameValue = std::pair<std::string, std::string>;

// One request as the server received it.
struct LoggedRequest {
    std::string method;
    std::string path;                  // percent-decoded
    std::string target;                // path and query exactly as sent
    std::string rawQuery;              // text after "?", as sent; empty when none
    std::vector<NameValue> queryItems; // decoded, in order ("+" stays "+")
    std::vector<NameValue> headers;
    std::string body;

    // First header of that name, any case.
    std::optional<std::string> header(std::string_view name) const;
    // First query item of that name.
    std::optional<std::string> queryValue(std::string_view name) const;
    // The body read as an "application/x-www-form-urlencoded" form ("+" is a space).
    std::vector<NameValue> formItems() const;
};

// What a handler answers.
struct ServiceReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    std::vector<NameValue> headers;
};
using ServiceHandler = std::function<ServiceReply(const LoggedRequest&)>;

// A scripted misbehaviour for one path.
struct Fault {
    enum class Kind {
        Status,          // reply `status` with `body` as given (error page, malformed JSON...)
        Delay,           // wait `delaySeconds` of real time, then answer normally
        Truncated,       // announce `body` in full, send only `sentBytes` of it, close
        Chunked,         // send `body` with chunked transfer encoding in `chunkSize` pieces
        Redirect,        // reply `status` (a 3xx) with Location: `location`
        CloseConnection, // send the head of a reply with a body, then close without the body
    };
    Kind kind = Kind::Status;
    int status = 500;
    std::string body;
    std::string contentType = "text/plain";
    double delaySeconds = 0;
    std::size_t sentBytes = 0;
    std::size_t chunkSize = 0;
    std::string location;
    // How many requests the fault answers before it lapses; negative: until cleared.
    int times = -1;

    static Fault errorStatus(int status, std::string body = {});
    static Fault delay(double seconds);
    static Fault reply(int status, std::string body, std::string contentType = "text/plain");
    static Fault truncated(std::string body, std::size_t sentBytes);
    static Fault chunked(std::string body, std::size_t chunkSize);
    static Fault redirect(std::string location, int status = 302);
    static Fault closeConnection();
    Fault& onlyTimes(int count) {
        times = count;
        return *this;
    }
};

// The reply to a GET of `body` that honours the request's "Range" header, as a file server
// does: "bytes=N-" or "bytes=N-M" with N inside the body gives 206 with that slice and
// "Content-Range: bytes N-E/SIZE"; N at or past the end gives 416 with "Content-Range:
// bytes */SIZE"; no Range, or one of another form, gives 200 with the whole body. Every
// reply says "Accept-Ranges: bytes".
ServiceReply byteRangeReply(const LoggedRequest& request, const std::string& body, std::string contentType);

class ServiceHost {
  public:
    static constexpr const char* kGeneratedBytesPath = "/bytes";
    static constexpr std::uint64_t kMaximumGeneratedBytes = 1ull << 30;

    // Serves the files under `fixturesDir` (default: the project's services/fixtures).
    explicit ServiceHost(std::string fixturesDir = defaultFixturesDir());
    ~ServiceHost();
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    static std::string defaultFixturesDir();
    // The folder this host serves its fixture files from; the standard endpoints read theirs there too.
    const std::string& fixturesDir() const;

    // Listens on `address`:`port` (0: a free port) and answers the base URL
    // "http://127.0.0.1:PORT"; empty when the port cannot be bound or the host already runs.
    std::string start(int port = 0, const std::string& address = "127.0.0.1");
    void stop();
    bool isRunning() const;
    int port() const;
    std::string baseURL() const;
    // baseURL() followed by `pathAndQuery` ("/a/b.json?x=1").
    std::string url(std::string_view pathAndQuery) const;

    // Handlers by method ("GET", "POST", ...) and exact path; a later one replaces an earlier.
    void handle(std::string method, std::string path, ServiceHandler handler);
    void removeHandler(const std::string& method, const std::string& path);

    void setFault(std::string path, Fault fault);
    void clearFault(const std::string& path);
    void clearFaults();

    // The request log, oldest first.
    std::vector<LoggedRequest> requests() const;
    std::vector<LoggedRequest> requestsTo(std::string_view path) const;
    std::size_t requestCount(std::string_view path) const;
    void clearRequestLog();

    // A loopback URL on which nothing listens (for "cannot connect" cases).
    static std::string closedPortURL();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace services
