#include "tangent/TGRedirectFollower.h"

#include "platform/foundation/Strings.h"
#include "platform/net/URLError.h"
#include "platform/runloop/RunLoop.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {
constexpr std::string_view kUserAgentHeader = "User-Agent";
constexpr std::string_view kCancelRequestNow = "cancelRequestNow";
} // namespace

std::shared_ptr<TGRedirectFollower> TGRedirectFollower::create(const platform::URL& url,
                                                               std::weak_ptr<TGRedirectFollowerController> controller) {
    auto follower = std::shared_ptr<TGRedirectFollower>(new TGRedirectFollower(controller));
    platform::URLRequest request = prepared(platform::URLRequest(url));
    if (!platform::URLConnection::canHandleRequest(request)) {
        // Not a URL a connection can load: the controller decides what to make of it.
        follower->lastSuccessfulUrl_ = url;
        follower->connectionFailedWith(platform::makeURLError(platform::kURLErrorUnsupportedURL, url.absoluteString()));
        return nullptr;
    }
    follower->connection_ = platform::URLConnection::create(std::move(request), follower);
    return follower;
}

TGRedirectFollower::~TGRedirectFollower() {
    TGLog::log("- dealloc: TGRedirectFollower");
    if (connection_)
        connection_->cancel();
}

platform::URLRequest TGRedirectFollower::prepared(platform::URLRequest request) {
    request.setCachePolicy(platform::URLRequestCachePolicy::UseProtocolCachePolicy);
    request.setTimeoutInterval(kTimeoutInterval);
    request.setValue(TGDeviceInfo::instance().userAgent, kUserAgentHeader);
    return request;
}

std::shared_ptr<TGRedirectFollowerController> TGRedirectFollower::takeController() {
    auto controller = controller_.lock();
    controller_.reset();
    return controller;
}

void TGRedirectFollower::stop() {
    controller_.reset();
    cancelRequestNow();
}

void TGRedirectFollower::cancelRequest() {
    platform::RunLoop::current().cancelPerforms(this, kCancelRequestNow);
    platform::RunLoop::current().performAfter(0, weak_from_this(), &TGRedirectFollower::cancelRequestNow, this,
                                              std::string(kCancelRequestNow));
}

void TGRedirectFollower::cancelRequestNow() {
    std::lock_guard lock(lock_);
    if (auto connection = std::move(connection_))
        connection->cancel();
    connection_.reset();
}

std::optional<platform::URLRequest> TGRedirectFollower::connectionWillSendRequestRedirectResponse(
    platform::URLConnection&, const platform::URLRequest& request, const platform::URLResponse*) {
    auto keepAlive = shared_from_this();
    lastSuccessfulUrl_ = request.url();
    auto controller = controller_.lock();
    if (controller && controller->shouldFollowRedirect(request.url())) {
        TGLog::log("Following redirect URL: " + request.url().absoluteString());
        return prepared(request);
    }
    controller_.reset();
    cancelRequestNow();
    return request;
}

void TGRedirectFollower::connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse& response) {
    auto keepAlive = shared_from_this();
    const int status = response.statusCode() > 0 ? response.statusCode() : -1;
    TGLog::log(platform::formatString("Connection finished with StatusCode: %d URL: %s", status,
                                      response.url().absoluteString().c_str()));
    cancelRequest();
    if (auto controller = takeController())
        controller->connectionSucceededWithStatusCode(response.url(), status);
}

void TGRedirectFollower::connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) {
    auto keepAlive = shared_from_this();
    TGLog::log("Connection failed.");
    cancelRequest();
    connectionFailedWith(error);
}

void TGRedirectFollower::connectionFailedWith(const platform::Error& error) {
    if (auto controller = takeController())
        controller->connectionFailedWithError(lastSuccessfulUrl_, error);
}

} // namespace tangent
