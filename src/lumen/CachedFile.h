#pragma once
// LMNCachedFile: one HTTP resource fetched asynchronously into a file under the Caches folder
// (Caches/<host>/<hash of the URL>), revalidated with a conditional GET ("If-Modified-Since"
// from the file's modification time), with every redirect offered to the delegate first.
//
// Ownership: owned by its user; the delegate is held weakly. Callbacks arrive on the main run
// loop. Only 200 (body stored) and 304 (stored file current) end a fetch successfully; any
// other status, connection error or write error reaches the delegate once as a failure and
// leaves an earlier file in place. After cancel(), invalidate() or destruction no callback
// arrives. Bodies are capped at kMaximumBodyBytes.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPHeaders.h"
#include "platform/net/URLConnection.h"

namespace lumen {

class LMNCachedFile;

class LMNCachedFileDelegate {
public:
    virtual ~LMNCachedFileDelegate() = default;
    // An error stops the fetch (and is reported as its failure); nullopt follows the redirect.
    virtual std::optional<platform::Error> cachedFileShouldRedirectToURL(LMNCachedFile& file,
                                                                         const platform::URL& url) = 0;
    virtual void cachedFileDownloadDidEnd(LMNCachedFile& file) = 0;
    virtual void cachedFileDownloadDidFail(LMNCachedFile& file,
                                           const std::optional<platform::Error>& error) = 0;
};

class LMNCachedFile : public platform::URLConnectionDelegate,
                      public std::enable_shared_from_this<LMNCachedFile> {
public:
    static constexpr std::int64_t kMaximumBodyBytes = 2 * 1024 * 1024;
    static constexpr int kStatusOK = 200;
    static constexpr int kStatusNotModified = 304;

    static std::shared_ptr<LMNCachedFile> create(std::weak_ptr<LMNCachedFileDelegate> delegate,
                                                 platform::URL url);
    ~LMNCachedFile() override;

    void setDelegate(std::weak_ptr<LMNCachedFileDelegate> delegate) { delegate_ = std::move(delegate); }
    const platform::URL& sourceURL() const { return sourceURL_; }
    const platform::URL& httpDestinationURL() const { return httpDestinationURL_; }
    int httpStatusCode() const { return httpStatusCode_; }
    const platform::HTTPHeaders& httpHeaders() const { return httpHeaders_; }
    // Empty when there is no Caches folder or the URL has no usable host.
    const std::string& filePath();
    // Whether the file's folder is a real folder of the app's (see DeviceHome::isOwnFolder).
    bool inOwnFolder();
    // The file's modification time as "EEE, dd MMM yyyy HH:mm:ss" (UTC), nullopt without file.
    std::optional<std::string> fileModificationDate();
    std::optional<std::string> content();
    bool hasContent();
    bool isFetching() const { return connection_ != nullptr; }

    void validate() { beginFetchWithCacheBuster(false); }
    void validateWithCacheBuster() { beginFetchWithCacheBuster(true); }
    void beginFetchWithCacheBuster(bool cacheBuster);
    void cancel() { cleanUpConnection(); }
    // Cancels and deletes the cached file.
    void invalidate();
    std::string description();

    // URLConnectionDelegate.
    std::optional<platform::URLRequest>
    connectionWillSendRequestRedirectResponse(platform::URLConnection&, const platform::URLRequest& request,
                                              const platform::URLResponse* redirectResponse) override;
    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse&) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data&) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;

private:
    LMNCachedFile(std::weak_ptr<LMNCachedFileDelegate> delegate, platform::URL url);
    void cleanUpConnection();
    bool isCurrent(const platform::URLConnection& connection) const {
        return connection_.get() == &connection;
    }
    void fail(const std::optional<platform::Error>& error);

    std::weak_ptr<LMNCachedFileDelegate> delegate_;
    platform::URL sourceURL_;
    std::optional<std::string> filePath_;
    std::shared_ptr<platform::URLConnection> connection_;
    std::optional<platform::Data> receivedData_;
    std::optional<std::string> receivedModificationDate_;
    platform::URL httpDestinationURL_;
    int httpStatusCode_ = 0;
    platform::HTTPHeaders httpHeaders_;
};

// "EEE, dd MMM yyyy HH:mm:ss" in UTC and the POSIX locale.
std::string formatHTTPDate(double secondsSince1970);
std::optional<double> parseHTTPDate(std::string_view text);

} // namespace lumen
