#pragma once
// MRURLDownload: downloads one file, resuming from what an earlier, interrupted download of
// the same file left behind.
//
// The bytes stream into a partial file next to the target ("<file>.part"), never into the
// target itself, and the partial file is renamed onto the target only when the whole body has
// arrived, so a target file is always a complete download. A download that finds a partial
// file asks for the rest with "Range: bytes=<length>-" and accepts only a 206 whose
// Content-Range starts at that length; a 200 replaces the partial file with the whole body;
// any other reply, a 206 for another range, or a body that would pass kMaximumFileBytes (with
// or without Content-Length; a 200 counts alone, a 206 with what the partial file holds) fails
// and drops the partial file (it cannot be trusted or resumed). A connection that fails (cut,
// timed out) keeps the partial file, so the next download of the file resumes from there.
//
// Ownership: a running download keeps itself alive (in a registry of running downloads) until
// it finishes, fails or is cancelled; its creator needs no reference. It holds its `owner`
// strongly (the cache record that must learn the outcome even when the ad view that asked is
// gone) and its `delegate` weakly. At most one download runs per target file: a new one
// cancels the one running, whose owner and delegate hear a failure (-999, cancelled).
// Callbacks arrive on the main run loop: the owner first, then the delegate; after cancel()
// no callback arrives.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"

namespace meridian {

class MRURLDownload;

class MRURLDownloadDelegate {
public:
    virtual ~MRURLDownloadDelegate() = default;
    virtual void downloadDidFinish(MRURLDownload&) {}
    virtual void downloadDidFail(MRURLDownload&, const platform::Error&) {}
};

class MRURLDownload : public platform::URLConnectionDelegate, public std::enable_shared_from_this<MRURLDownload> {
public:
    static constexpr std::int64_t kMaximumFileBytes = 128 * 1024 * 1024;
    static constexpr std::string_view kPartialSuffix = ".part";

    // initWithURL:file:withDelegate: the download is already running when this returns.
    static std::shared_ptr<MRURLDownload> create(const platform::URL& url, const std::filesystem::path& filePath,
                                                 std::weak_ptr<MRURLDownloadDelegate> delegate,
                                                 std::shared_ptr<MRURLDownloadDelegate> owner = nullptr);
    ~MRURLDownload() override;

    // Sends the request for `url`, asking for the bytes from `offset` on when it is positive.
    void startDownload(const platform::URL& url, std::int64_t offset);
    // Stops the download; nobody hears of it.
    void cancel();

    const platform::URL& url() const { return url_; }
    const std::filesystem::path& filePath() const { return filePath_; }
    std::filesystem::path partialPath() const;
    bool firstDownload() const { return firstDownload_; }
    std::int64_t offset() const { return offset_; }
    std::shared_ptr<MRURLDownloadDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MRURLDownloadDelegate> delegate) { delegate_ = std::move(delegate); }
    bool isRunning() const { return connection_ != nullptr; }

    // Whether a download of `filePath` is running.
    static bool isDownloading(const std::filesystem::path& filePath);
    static std::size_t runningCount();
    static void cancelAllForTesting();
    // The size cap of a video file: kMaximumFileBytes, unless a test set a smaller one
    // (nullopt restores it).
    static std::int64_t maximumFileBytes();
    static void setMaximumFileBytesForTesting(std::optional<std::int64_t> bytes);

    void connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) override;
    void connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection& c) override;
    void connectionDidFailWithError(platform::URLConnection& c, const platform::Error& error) override;

private:
    MRURLDownload(platform::URL url, std::filesystem::path filePath) : url_(std::move(url)), filePath_(std::move(filePath)) {}
    // Ends the download: closes the file, drops the connection and leaves the registry.
    void end();
    void fail(const platform::Error& error, bool dropPartialFile);
    void closeFile();

    platform::URL url_;
    std::filesystem::path filePath_;
    bool firstDownload_ = true;
    std::int64_t offset_ = 0;
    std::int64_t written_ = 0;
    std::FILE* file_ = nullptr;
    std::shared_ptr<platform::URLConnection> connection_;
    std::weak_ptr<MRURLDownloadDelegate> delegate_;
    std::shared_ptr<MRURLDownloadDelegate> owner_;
};

} // namespace meridian
