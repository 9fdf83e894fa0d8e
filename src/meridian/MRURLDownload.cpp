#include "meridian/MRURLDownload.h"

#include <map>
#include <system_error>

#include "meridian/MRCommon.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Strings.h"
#include "platform/net/URLError.h"

namespace meridian {

namespace {

constexpr std::string_view kRangeHeader = "Range";
constexpr std::string_view kContentRangeHeader = "Content-Range";
constexpr std::string_view kBytesUnit = "bytes ";
constexpr int kStatusWhole = 200;
constexpr int kStatusPartial = 206;
// The platform's download error codes for a file that cannot be created or written.
constexpr std::int64_t kURLErrorCannotCreateFile = -3000;
constexpr std::int64_t kURLErrorCannotWriteToFile = -3003;

std::optional<std::int64_t>& maximumFileBytesForTesting() {
    static std::optional<std::int64_t> bytes;
    return bytes;
}

// Running downloads by target file: each keeps itself alive here until it ends.
std::map<std::filesystem::path, std::shared_ptr<MRURLDownload>>& running() {
    static std::map<std::filesystem::path, std::shared_ptr<MRURLDownload>> downloads;
    return downloads;
}

// A Content-Range "bytes FIRST-LAST/SIZE" (SIZE may be "*"); nullopt for any other form.
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::optional<std::int64_t> size;
};
std::optional<std::int64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}
std::optional<ContentRange> parseContentRange(std::string_view text) {
    if (text.substr(0, kBytesUnit.size()) != kBytesUnit)
        return std::nullopt;
    text.remove_prefix(kBytesUnit.size());
    auto dash = text.find('-');
    auto slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    auto first = decimal(text.substr(0, dash));
    auto last = decimal(text.substr(dash + 1, slash - dash - 1));
    auto sizeText = text.substr(slash + 1);
    auto size = sizeText == "*" ? std::nullopt : decimal(sizeText);
    if (!first || !last || *last < *first || (sizeText != "*" && (!size || *last >= *size)))
        return std::nullopt;
    return ContentRange{*first, *last, size};
}

std::int64_t fileLength(const std::filesystem::path& path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

} // namespace

std::shared_ptr<MRURLDownload> MRURLDownload::create(const platform::URL& url, const std::filesystem::path& filePath,
                                                     std::weak_ptr<MRURLDownloadDelegate> delegate,
                                                     std::shared_ptr<MRURLDownloadDelegate> owner) {
    std::shared_ptr<MRURLDownload> download(new MRURLDownload(url, filePath));
    download->delegate_ = std::move(delegate);
    download->owner_ = std::move(owner);
    // One writer per file: a download already running for it gives way.
    if (auto it = running().find(filePath); it != running().end()) {
        auto earlier = it->second;
        earlier->fail(platform::makeURLError(platform::kURLErrorCancelled, earlier->url_.absoluteString()), false);
    }
    std::int64_t length = fileLength(download->partialPath());
    download->firstDownload_ = length < 0;
    download->startDownload(url, length < 0 ? 0 : length);
    return download;
}

MRURLDownload::~MRURLDownload() {
    closeFile();
    if (connection_)
        connection_->cancel();
}

std::filesystem::path MRURLDownload::partialPath() const {
    auto partial = filePath_;
    partial += kPartialSuffix;
    return partial;
}

void MRURLDownload::startDownload(const platform::URL& url, std::int64_t offset) {
    if (connection_)
        connection_->cancel();
    connection_.reset();
    closeFile();
    url_ = url;
    offset_ = offset;
    written_ = 0;
    platform::URLRequest request(url);
    if (offset > 0)
        request.setValue("bytes=" + std::to_string(offset) + "-", kRangeHeader);
    auto me = shared_from_this();
    running()[filePath_] = me;
    connection_ = platform::URLConnection::create(
        request, std::shared_ptr<platform::URLConnectionDelegate>(me, static_cast<platform::URLConnectionDelegate*>(this)),
        false, platform::URLConnection::DelegateHold::Weak);
    // The connection guards the whole file's cap: a 200 to a resume carries the whole file.
    // What the partial file already holds is counted as the bytes arrive.
    connection_->setMaximumBodyLength(maximumFileBytes());
    connection_->start();
}

void MRURLDownload::cancel() {
    owner_.reset();
    delegate_.reset();
    end();
}

void MRURLDownload::connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) {
    if (&c != connection_.get())
        return;
    const char* mode = nullptr;
    if (r.statusCode() == kStatusWhole) {
        // The whole file, whatever was asked: it replaces what an earlier download left.
        offset_ = 0;
        mode = "wb";
    } else if (r.statusCode() == kStatusPartial) {
        // Only the continuation of the partial file, running to the end of the file, fits.
        auto header = r.valueForHTTPHeaderField(kContentRangeHeader);
        auto range = header ? parseContentRange(*header) : std::nullopt;
        if (range && range->first == offset_ && (!range->size || range->last + 1 == *range->size))
            mode = offset_ > 0 ? "ab" : "wb";
    }
    if (!mode) {
        fail(platform::makeURLError(platform::kURLErrorBadServerResponse, url_.absoluteString()), true);
        return;
    }
    // Every download is written into a real folder of the app's, never through a link.
    if (!platform::DeviceHome::makeOwnFolder(filePath_.parent_path())) {
        fail(platform::makeURLError(kURLErrorCannotCreateFile, url_.absoluteString()), false);
        return;
    }
    file_ = std::fopen(partialPath().c_str(), mode);
    if (!file_)
        fail(platform::makeURLError(kURLErrorCannotCreateFile, url_.absoluteString()), false);
}

void MRURLDownload::connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) {
    if (&c != connection_.get() || !file_)
        return;
    if (offset_ + written_ + static_cast<std::int64_t>(data.size()) > maximumFileBytes()) {
        fail(platform::makeURLError(platform::kURLErrorDataLengthExceedsMaximum, url_.absoluteString()), true);
        return;
    }
    if (std::fwrite(data.data(), 1, data.size(), file_) != data.size()) {
        fail(platform::makeURLError(kURLErrorCannotWriteToFile, url_.absoluteString()), false);
        return;
    }
    written_ += static_cast<std::int64_t>(data.size());
}

void MRURLDownload::connectionDidFinishLoading(platform::URLConnection& c) {
    if (&c != connection_.get())
        return;
    auto keep = shared_from_this();
    bool flushed = file_ && std::fflush(file_) == 0;
    closeFile();
    std::error_code ec;
    if (flushed)
        std::filesystem::rename(partialPath(), filePath_, ec);
    if (!flushed || ec) {
        fail(platform::makeURLError(kURLErrorCannotWriteToFile, url_.absoluteString()), false);
        return;
    }
    end();
    auto owner = std::move(owner_);
    auto delegate = delegate_.lock();
    if (owner)
        owner->downloadDidFinish(*this);
    if (delegate)
        delegate->downloadDidFinish(*this);
}

void MRURLDownload::connectionDidFailWithError(platform::URLConnection& c, const platform::Error& error) {
    if (&c != connection_.get())
        return;
    // What arrived stays in the partial file, so the next download resumes after it, unless
    // the body was too large: a file over the cap is never resumed.
    fail(error, error.code == platform::kURLErrorDataLengthExceedsMaximum);
}

void MRURLDownload::fail(const platform::Error& error, bool dropPartialFile) {
    auto keep = shared_from_this();
    closeFile();
    if (dropPartialFile && platform::DeviceHome::isOwnFolder(filePath_.parent_path())) {
        std::error_code ec;
        std::filesystem::remove(partialPath(), ec);
    }
    end();
    auto owner = std::move(owner_);
    auto delegate = delegate_.lock();
    if (owner)
        owner->downloadDidFail(*this, error);
    if (delegate)
        delegate->downloadDidFail(*this, error);
}

void MRURLDownload::closeFile() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

void MRURLDownload::end() {
    closeFile();
    if (connection_)
        connection_->cancel();
    connection_.reset();
    auto it = running().find(filePath_);
    if (it != running().end() && it->second.get() == this)
        running().erase(it);
}

std::int64_t MRURLDownload::maximumFileBytes() {
    return maximumFileBytesForTesting().value_or(kMaximumFileBytes);
}

void MRURLDownload::setMaximumFileBytesForTesting(std::optional<std::int64_t> bytes) {
    maximumFileBytesForTesting() = bytes;
}

bool MRURLDownload::isDownloading(const std::filesystem::path& filePath) {
    return running().count(filePath) != 0;
}

std::size_t MRURLDownload::runningCount() {
    return running().size();
}

void MRURLDownload::cancelAllForTesting() {
    auto all = std::move(running());
    running().clear();
    for (auto& [path, download] : all)
        download->cancel();
}

} // namespace meridian
