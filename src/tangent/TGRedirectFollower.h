#pragma once
// TGRedirectFollower: follows the HTTP redirects of one clicked URL and tells its controller
// where they end. The controller is asked before the first request and before every hop
// whether to follow (shouldFollowRedirect); a "no" cancels at once and ends the follow. The
// first response (any status) ends the follow with connectionSucceeded; a failure with
// connectionFailed, naming the last URL a request was about to go to. Every request carries
// the device's User-Agent, the default cache policy and a 60 s time-out.
//
// Ownership: the action controller owns its follower; the follower holds the controller
// weakly and drops it once it has reported, so each follow reports at most once. The
// connection is cancelled on the next run-loop turn after the report, never inside its own
// callback, under the follower's lock. After cancelRequestNow() (or stop()) nothing is
// reported. Main thread only; callbacks arrive on the main run loop.
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"

namespace tangent {

class TGRedirectFollowerController {
public:
    virtual ~TGRedirectFollowerController() = default;
    virtual bool shouldFollowRedirect(const platform::URL& url) = 0;
    virtual void connectionSucceededWithStatusCode(const platform::URL& url, int statusCode) = 0;
    virtual void connectionFailedWithError(const std::optional<platform::URL>& url,
                                           const std::optional<platform::Error>& error) = 0;
};

class TGRedirectFollower final : public platform::URLConnectionDelegate,
                                 public std::enable_shared_from_this<TGRedirectFollower> {
public:
    static constexpr double kTimeoutInterval = 60.0;

    // Starts following `url`. When no connection can be made the controller hears of the
    // failure at once and nullptr is answered.
    static std::shared_ptr<TGRedirectFollower> create(const platform::URL& url,
                                                      std::weak_ptr<TGRedirectFollowerController> controller);
    ~TGRedirectFollower() override;

    // Drops the controller and cancels the connection now.
    void stop();
    void cancelRequest();
    void cancelRequestNow();

    const std::optional<platform::URL>& lastSuccessfulUrl() const { return lastSuccessfulUrl_; }

    // platform::URLConnectionDelegate.
    std::optional<platform::URLRequest> connectionWillSendRequestRedirectResponse(
        platform::URLConnection&, const platform::URLRequest& request, const platform::URLResponse*) override;
    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse& response) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;

private:
    explicit TGRedirectFollower(std::weak_ptr<TGRedirectFollowerController> controller)
        : controller_(std::move(controller)) {}
    static platform::URLRequest prepared(platform::URLRequest request);
    std::shared_ptr<TGRedirectFollowerController> takeController();
    void connectionFailedWith(const platform::Error& error);

    std::mutex lock_;
    std::shared_ptr<platform::URLConnection> connection_;
    std::weak_ptr<TGRedirectFollowerController> controller_;
    std::optional<platform::URL> lastSuccessfulUrl_;
};

} // namespace tangent
