#include "lumen/CachedFile.h"

#include <cstdio>
#include <ctime>

#include "lumen/NetworkUtilities.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Numbers.h"
#include "platform/runloop/Clock.h"

namespace lumen {

namespace {

constexpr const char* kHTTPDateFormat = "%a, %d %b %Y %H:%M:%S";
constexpr std::string_view kGMTSuffix = "GMT";
// Seconds between 1970-01-01 and 2001-01-01, the reference of the cache buster's value.
constexpr double kReferenceDateOffset = 978307200.0;
constexpr std::string_view kCacheBusterKey = "unique";
constexpr const char* kFileErrorDomain = "com.ferrowick.lumen.file";
constexpr std::uint64_t kFNVOffset = 14695981039346656037ull;
constexpr std::uint64_t kFNVPrime = 1099511628211ull;

std::uint64_t stableHash(std::string_view text) {
    std::uint64_t hash = kFNVOffset;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= kFNVPrime;
    }
    return hash;
}

std::string trim(std::string_view text) {
    const auto* ws = " \t\r\n";
    auto b = text.find_first_not_of(ws);
    if (b == std::string_view::npos)
        return {};
    auto e = text.find_last_not_of(ws);
    return std::string(text.substr(b, e - b + 1));
}

} // namespace

std::string formatHTTPDate(double secondsSince1970) {
    std::time_t t = platform::saturatingCast<std::time_t>(secondsSince1970);
    std::tm tm{};
    gmtime_r(&t, &tm);
    // The C library's "C" locale gives the English day and month names.
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char out[64];
    std::snprintf(out, sizeof out, "%s, %02d %s %04d %02d:%02d:%02d", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return out;
}

std::optional<double> parseHTTPDate(std::string_view text) {
    std::string s = trim(text);
    std::tm tm{};
    const char* end = strptime(s.c_str(), kHTTPDateFormat, &tm);
    if (!end || *end != '\0')
        return std::nullopt;
    return static_cast<double>(timegm(&tm));
}

std::shared_ptr<LMNCachedFile> LMNCachedFile::create(std::weak_ptr<LMNCachedFileDelegate> delegate,
                                                     platform::URL url) {
    return std::shared_ptr<LMNCachedFile>(new LMNCachedFile(std::move(delegate), std::move(url)));
}

LMNCachedFile::LMNCachedFile(std::weak_ptr<LMNCachedFileDelegate> delegate, platform::URL url)
    : delegate_(std::move(delegate)), sourceURL_(url), httpDestinationURL_(std::move(url)) {}

LMNCachedFile::~LMNCachedFile() {
    delegate_.reset();
    cleanUpConnection();
}

const std::string& LMNCachedFile::filePath() {
    if (!filePath_) {
        filePath_ = std::string();
        auto host = sourceURL_.host();
        auto folder = host ? platform::FileManager::safePathComponent(*host) : std::nullopt;
        if (folder && !platform::DeviceHome::root().empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "%llx",
                          static_cast<unsigned long long>(stableHash(sourceURL_.absoluteString())));
            filePath_ = (platform::DeviceHome::caches() / *folder / name).string();
        }
    }
    return *filePath_;
}

bool LMNCachedFile::inOwnFolder() {
    // The cache folder is the app's only as a real folder: through a link or a file at its name
    // there is no cached file to read, write or remove.
    return !filePath().empty() && platform::DeviceHome::isOwnFolder(std::filesystem::path(filePath()).parent_path());
}

std::optional<std::string> LMNCachedFile::fileModificationDate() {
    if (!inOwnFolder())
        return std::nullopt;
    auto attributes = platform::FileManager::attributesOfItem(filePath());
    if (!attributes)
        return std::nullopt;
    return formatHTTPDate(attributes->modificationDate.secondsSince1970);
}

std::optional<std::string> LMNCachedFile::content() {
    if (!inOwnFolder())
        return std::nullopt;
    return platform::FileManager::stringWithContentsOfFile(filePath());
}

bool LMNCachedFile::hasContent() {
    return inOwnFolder() && platform::FileManager::fileExists(filePath());
}

void LMNCachedFile::beginFetchWithCacheBuster(bool cacheBuster) {
    if (connection_)
        return;
    platform::URL url = sourceURL_;
    if (cacheBuster) {
        char value[32];
        std::snprintf(value, sizeof value, "%.0f", platform::Clock::current().now() - kReferenceDateOffset);
        url = LMNNetworkUtilities::appendQueryKey(kCacheBusterKey, std::string(value), url);
    }
    platform::URLRequest request(url, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
    if (auto agent = LMNNetworkUtilities::userAgentString(); agent && !agent->empty())
        request.setValue(*agent, "User-Agent");
    if (auto modified = fileModificationDate())
        // The HTTP date form needs its zone name to be understood by a server.
        request.setValue(*modified + " GMT", "If-Modified-Since");
    if (!platform::URLConnection::canHandleRequest(request)) {
        fail(std::nullopt);
        return;
    }
    auto self = shared_from_this();
    connection_ =
        platform::URLConnection::create(request, self, false, platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaximumBodyBytes);
    receivedData_ = platform::Data();
    connection_->start();
}

void LMNCachedFile::invalidate() {
    cleanUpConnection();
    if (inOwnFolder())
        platform::FileManager::removeItem(filePath());
}

std::string LMNCachedFile::description() {
    char head[64];
    std::snprintf(head, sizeof head, "%p", static_cast<const void*>(this));
    return "<LMNCachedFile: " + std::string(head) + "> HTTP code: " + std::to_string(httpStatusCode_) +
           "\n\turl: " + sourceURL_.absoluteString() + "\n\tfile: " + filePath();
}

void LMNCachedFile::cleanUpConnection() {
    if (connection_) {
        connection_->cancel();
        connection_.reset();
    }
    receivedData_.reset();
    receivedModificationDate_.reset();
}

void LMNCachedFile::fail(const std::optional<platform::Error>& error) {
    auto self = shared_from_this();
    cleanUpConnection();
    if (auto delegate = delegate_.lock())
        delegate->cachedFileDownloadDidFail(*this, error);
}

std::optional<platform::URLRequest>
LMNCachedFile::connectionWillSendRequestRedirectResponse(platform::URLConnection& connection,
                                                         const platform::URLRequest& request,
                                                         const platform::URLResponse* redirectResponse) {
    if (!isCurrent(connection))
        return std::nullopt;
    httpDestinationURL_ = request.url();
    if (!redirectResponse)
        return request;
    httpStatusCode_ = redirectResponse->statusCode();
    httpHeaders_ = redirectResponse->allHeaderFields();
    auto self = shared_from_this();
    std::optional<platform::Error> stop;
    if (auto delegate = delegate_.lock())
        stop = delegate->cachedFileShouldRedirectToURL(*this, request.url());
    if (stop && isCurrent(connection)) {
        fail(stop);
        return std::nullopt;
    }
    if (!isCurrent(connection))
        return std::nullopt;
    return request;
}

void LMNCachedFile::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                 const platform::URLResponse& response) {
    if (!isCurrent(connection))
        return;
    httpStatusCode_ = response.statusCode();
    httpHeaders_ = response.allHeaderFields();
    receivedData_ = platform::Data();
    if (httpStatusCode_ == kStatusOK) {
        if (auto modified = response.valueForHTTPHeaderField("Last-Modified")) {
            auto gmt = modified->find(kGMTSuffix);
            receivedModificationDate_ = trim(gmt == std::string::npos ? *modified : modified->substr(0, gmt));
        }
        return;
    }
    auto self = shared_from_this();
    if (httpStatusCode_ == kStatusNotModified) {
        cleanUpConnection();
        if (auto delegate = delegate_.lock())
            delegate->cachedFileDownloadDidEnd(*this);
        return;
    }
    fail(std::nullopt);
}

void LMNCachedFile::connectionDidReceiveData(platform::URLConnection& connection,
                                             const platform::Data& data) {
    if (isCurrent(connection) && receivedData_)
        receivedData_->insert(receivedData_->end(), data.begin(), data.end());
}

void LMNCachedFile::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (!isCurrent(connection))
        return;
    auto self = shared_from_this();
    platform::Error error{kFileErrorDomain, 0, "The file could not be written.", {}};
    bool written = false;
    if (!filePath().empty() && receivedData_) {
        std::filesystem::path path(filePath());
        // Written only into a real cache folder of the app's, never through a link.
        written = platform::DeviceHome::makeOwnFolder(path.parent_path()) &&
                  platform::FileManager::writeAtomically(path, *receivedData_, &error);
    }
    auto modified = receivedModificationDate_;
    cleanUpConnection();
    if (!written) {
        if (auto delegate = delegate_.lock())
            delegate->cachedFileDownloadDidFail(*this, error);
        return;
    }
    if (modified)
        if (auto seconds = parseHTTPDate(*modified))
            platform::FileManager::setModificationDate(filePath(), platform::Date{*seconds});
    if (auto delegate = delegate_.lock())
        delegate->cachedFileDownloadDidEnd(*this);
}

void LMNCachedFile::connectionDidFailWithError(platform::URLConnection& connection,
                                               const platform::Error& error) {
    if (isCurrent(connection))
        fail(error);
}

} // namespace lumen
