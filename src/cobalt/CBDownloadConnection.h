#pragma once
// The Cobalt engine's HTTP download: an asynchronous load that collects the body in memory,
// counts any status other than 200 as a failure, makes up to `retries` attempts (0 and 1 both
// mean one) and can give up each attempt after a time-out. It serves the client-script sync,
// the ad views' downloads and the scripts' file downloads.
//
// Ownership: the creator holds the download until one final delegate call (succeeded,
// failed or timed out) and lets go of it there; the delegate is held weakly. Callbacks
// arrive on the main run loop; after cancel() none arrives. The time-out runs on the run
// loop's clock, so the manual clock drives it in tests.
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"

namespace platform {
class Timer;
} // namespace platform

namespace cobalt {

class CBDownloadConnection;

class CBDownloadConnectionDelegate {
public:
    virtual ~CBDownloadConnectionDelegate() = default;
    virtual void downloadSucceeded(CBDownloadConnection& download) = 0;
    virtual void downloadFailed(CBDownloadConnection& download) = 0;
    virtual void downloadProgress(CBDownloadConnection&) {}
    virtual void downloadTimedOut(CBDownloadConnection&) {}
};

class CBDownloadConnection : public platform::URLConnectionDelegate,
                             public std::enable_shared_from_this<CBDownloadConnection> {
public:
    // The largest body a download keeps.
    static constexpr std::int64_t kMaximumBodyBytes = 16 * 1024 * 1024;

    static std::shared_ptr<CBDownloadConnection>
    timedConnectionWithURLRequest(platform::URLRequest request, std::weak_ptr<CBDownloadConnectionDelegate> delegate,
                                  platform::Value userData, double timeout, int retries = 0);
    static std::shared_ptr<CBDownloadConnection>
    connectionWithURLRequest(platform::URLRequest request, std::weak_ptr<CBDownloadConnectionDelegate> delegate,
                             platform::Value userData, int retries = 0);
    ~CBDownloadConnection() override;

    std::uint32_t expectedDataLength() const { return expectedDataLength_; }
    const platform::Data& receivedData() const { return receivedData_; }
    int responseStatusCode() const { return responseStatusCode_; }
    const platform::Value& userData() const { return userData_; }
    void setUserData(platform::Value value) { userData_ = std::move(value); }
    const platform::URLRequest& request() const { return request_; }

    void start();
    void restart();
    // Stops the attempt in progress; no delegate call follows.
    void cancel();

    // URLConnectionDelegate
    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse&) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data&) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;
    void connectionDidTimeout(platform::URLConnection& connection);

private:
    CBDownloadConnection(platform::URLRequest request, std::weak_ptr<CBDownloadConnectionDelegate> delegate,
                         platform::Value userData, double timeout, int retries);
    void invalidateTimer();
    void attemptFailed(bool timedOut);

    std::weak_ptr<CBDownloadConnectionDelegate> delegate_;
    std::uint32_t expectedDataLength_ = 0;
    platform::Data receivedData_;
    int responseStatusCode_ = 0;
    platform::URLRequest request_;
    std::shared_ptr<platform::Timer> timeoutTimer_;
    double timeout_ = -1.0;
    int retryCount_ = 0;
    platform::Value userData_;
    std::shared_ptr<platform::URLConnection> connection_;
    bool cancelled_ = false;
};

} // namespace cobalt
